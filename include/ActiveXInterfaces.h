// The interfaces of every page and control as the DTM reaches them: IovFdtActiveX4 (state,
// errors, commands, and the user interfaces' own operations on their parameter table) and
// IovFdtActiveXInfo (information items). Header only; the ids are this program's own.
//
// Both are dual: slot 7 is the first method named here. The DTM's function container calls slots
// 7, 9 and 10; the user-interface framework (ui/framework) calls the rest directly on the object.
//
// Words used below: "index" is a zero-based position in the user interface's parameter table
// (negative or not below the entry count is a bad index); "id" is a DTM parameter id; "state" is
// an entry's state word (1 usable, 2 changed, 4 invalid, 8 hidden, 0x80 locked against editing,
// 0x400/0x800 status requests).
#pragma once

#include "platform/platform.h"

struct IovFdtActiveX4 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5D2C8E41-7B3A-4F16-A0C9-E4B7D1F3A201");
  using Base = IDispatch;
  virtual HRESULT OnDtmStateChanged(ULONG state) = 0;                 // 7
  virtual HRESULT ReportError(BSTR text) = 0;                         // 8
  virtual HRESULT ReportErrorText(LPCWSTR text) = 0;                  // 9
  virtual HRESULT ExecuteCommand(VARIANT command, VARIANT argument) = 0;  // 10

  // Start-up and tear-down: dtm is the DTM object as the frame handed it; *ok (may be null)
  // says whether the user interface runs.
  virtual HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) = 0;  // 11
  virtual HRESULT UninitializeUI(VARIANT_BOOL* ok) = 0;               // 12
  virtual HRESULT ReadAllParameters() = 0;                            // 13
  virtual HRESULT ReadParameter(LONG index) = 0;                      // 14
  virtual HRESULT FillControlChoices(ULONG index) = 0;                // 15
  // A hook run before the parameter list is handed out (information item 16); does nothing.
  virtual HRESULT NoOperation() = 0;                                  // 16
  virtual HRESULT CommitControlValue(LONG index) = 0;                 // 17
  virtual HRESULT SetDirty(BOOL dirty) = 0;                           // 18
  // E_FAIL when an entry holds invalid input (that control now has the focus), else S_OK.
  virtual HRESULT SetFocusToControl() = 0;                            // 19

  // Values into controls.
  virtual HRESULT SetControlValue(LONG index, VARIANT value) = 0;     // 20
  virtual HRESULT SetControlValueById(LONG id, VARIANT value) = 0;    // 21
  virtual HRESULT SetComboBoxValue(ULONG index, VARIANT value) = 0;   // 22
  virtual HRESULT SetListBoxValue(ULONG index, VARIANT value) = 0;    // 23

  // Values out of controls, in the parameter's type.
  virtual HRESULT GetControlValue(ULONG index, VARIANT* value) = 0;   // 24
  virtual HRESULT GetCheckValue(ULONG index, VARIANT* value) = 0;     // 25
  virtual HRESULT IsValueChanged(ULONG index, VARIANT* value, BOOLEAN* accepted) = 0;    // 26
  virtual HRESULT GetListValue(ULONG index, VARIANT* value) = 0;      // 27
  virtual HRESULT IsValueChangedEx(ULONG index, VARIANT* value, BOOLEAN* accepted) = 0;  // 28
  virtual HRESULT GetControlValueById(LONG id, VARIANT* value) = 0;   // 29

  // Validity of an entry's value: *valid is VARIANT_TRUE when the entry holds no invalid input.
  virtual HRESULT GetParameterTextByIndex(LONG index, VARIANT_BOOL* valid) = 0;   // 30
  virtual HRESULT GetParameterTextOfMode1(ULONG index, VARIANT_BOOL* valid) = 0;  // 31
  virtual HRESULT GetParameterTextOfMode2(ULONG index, VARIANT_BOOL* valid) = 0;  // 32
  virtual HRESULT GetParameterText(LONG id, VARIANT_BOOL* valid) = 0;             // 33

  // State display.
  virtual HRESULT SetControlState(LONG index, ULONG state) = 0;       // 34
  virtual HRESULT SetStatusIndicator(ULONG index, ULONG newState, ULONG oldState, BOOL force) = 0;  // 35
  virtual HRESULT SetControlStateById(LONG id, ULONG state) = 0;      // 36
  virtual HRESULT ApplyOnlineAccess(BOOL editable) = 0;               // 37
  virtual HRESULT SetDisplayOption(BOOL privateDialogs) = 0;          // 38
  virtual HRESULT RefreshAllParameters(LONG id) = 0;                  // 39
  virtual HRESULT RefreshParameter(LONG id) = 0;                      // 40
  virtual HRESULT ValidateControlValue(LONG id) = 0;                  // 41
  virtual HRESULT ValidateControlValueEx(LONG id) = 0;                // 42

  // Parameter access through the DTM.
  virtual HRESULT ReadParameterInfo(ULONG index) = 0;                 // 43
  virtual HRESULT GetParameterInfoValue(LONG id, ULONG* flags) = 0;   // 44
  virtual HRESULT GetDtmParameterValue(LONG id, VARIANT* value) = 0;  // 45
  virtual HRESULT QueryParameterInfo(LONG id, VARIANT* value) = 0;    // 46
  virtual HRESULT SetDtmParameterValue(LONG id, VARIANT value) = 0;   // 47
  virtual HRESULT GetParameterInfoText(LONG id, VARIANT* first, VARIANT* second) = 0;  // 48
  virtual HRESULT GetParameterInfoField(LONG id, ULONG* field) = 0;   // 49
  virtual HRESULT ReadDeviceParameterEx(LONG id) = 0;                 // 50
  virtual HRESULT CheckParameterInput(LONG id) = 0;                   // 51
  virtual HRESULT ReadDeviceParameter(ULONG index) = 0;               // 52
  virtual HRESULT WriteDeviceParameter(ULONG index) = 0;              // 53
  virtual HRESULT ShowParameterDisplayText(LONG id) = 0;              // 54
  virtual HRESULT GetParameterDisplayText(LONG id, BSTR* text) = 0;   // 55
  virtual HRESULT FormatParameterText(LONG id, VARIANT_BOOL* valid) = 0;  // 56

  // Window messages of the dialog, as the shared message map hands them on.
  virtual HRESULT OnControlKillFocus(UINT code, WPARAM wParam, LPARAM lParam, BOOL* handled) = 0;  // 57
  virtual HRESULT OnControlChange(UINT code, UINT controlId, HWND control) = 0;    // 58
  virtual HRESULT OnControlSetFocus(UINT code, UINT controlId, HWND control) = 0;  // 59
  virtual HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) = 0;  // 60
  // The colour handlers answer the brush of WM_CTLCOLOR* (0: default handling).
  virtual LRESULT OnCtlColorEdit(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) = 0;     // 61
  virtual LRESULT OnCtlColorListBox(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) = 0;  // 62
  virtual LRESULT OnCtlColorStatic(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) = 0;   // 63
  virtual LRESULT OnCtlColorDlg(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) = 0;      // 64
  virtual HRESULT OnDrawItem(UINT controlId, DRAWITEMSTRUCT* item) = 0;  // 65

  // 8 offline, 9 online, 4 closing (every command is ignored); 0 before the first state.
  virtual LONG GetAccessMode() = 0;                                   // 66
  virtual HRESULT SetAccessMode(LONG mode) = 0;                       // 67
  virtual HRESULT NotifyAllParameters() = 0;                          // 68
  virtual HRESULT OnNotifyParameter(LONG id) = 0;                     // 69
  virtual HRESULT InitializeMembers() = 0;                            // 70
  // Bits: 1 and 4 online dialog (4 reads the device), 2 offline dialog, 8 writing allowed.
  virtual HRESULT SetDialogType(ULONG type) = 0;                      // 71
  // The control type of a window by its class (0 none or unknown, 1 "Static", 2 "Edit",
  // 3 "RichEdit", 4 "ComboBox", 5 "ListBox", 6 "Button", 7 "ScrollBar", ...).
  virtual LONG GetControlType(HWND window) = 0;                       // 72
  virtual LONG GetControlTypeById(LONG controlId) = 0;                // 73

  // The DTM's broadcasts as ExecuteCommand hands them on.
  virtual HRESULT OnParameterChangedEvent(VARIANT event) = 0;         // 74
  virtual HRESULT OnParameterRefreshEvent(VARIANT event) = 0;         // 75
  virtual HRESULT OnRefreshAllEvent(VARIANT event) = 0;               // 76
  virtual HRESULT OnParameterStateEvent(VARIANT event) = 0;           // 77
  virtual HRESULT OnNotifyAllEvent(VARIANT language) = 0;             // 78
  virtual HRESULT OnDtmMessage(VARIANT message) = 0;                  // 79

  // S_FALSE (1) when the two values are equal, S_OK (0) when they differ.
  virtual HRESULT ConvertValue(VARIANT first, VARIANT second) = 0;    // 80
  virtual HRESULT CompareValues(VARIANT id, ULONG* state) = 0;        // 81
};

struct IovFdtActiveXInfo : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5D2C8E41-7B3A-4F16-A0C9-E4B7D1F3A202");
  using Base = IDispatch;
  virtual HRESULT SetInfo(VARIANT id, VARIANT* value) = 0;            // 7
  virtual HRESULT IsInfoSupported(VARIANT id) = 0;                    // 8
  virtual HRESULT SetSchemaSource(IUnknown* container) = 0;           // 9
};

// The start and release of a property page, called by the page frame that hosts it: Init after
// the page was made (system tag, the function-call document the frame was opened with, the DTM),
// PrepareToRelease before the frame lets it go (*ready FALSE: the page must be kept).
struct IovFdtPropertyPageControl : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5D2C8E41-7B3A-4F16-A0C9-E4B7D1F3A203");
  using Base = IDispatch;
  virtual HRESULT Init(BSTR systemTag, BSTR functionCall, IUnknown* dtm, VARIANT_BOOL* result) = 0;  // 7
  virtual HRESULT PrepareToRelease(VARIANT_BOOL* ready) = 0;                                         // 8
};
