// CovFDT_BaseActiveXImpl: the framework base of every page, control and the page frame. It binds
// the dialog's controls to DTM parameters through the class's parameter table, shows values and
// their state, takes the user's input, validates and writes it through the DTM, and dispatches
// the DTM's commands (IovFdtActiveX4, IovFdtActiveXInfo).
//
// A plain class: the class id and the parameter map come in through the constructor, and the
// device classes replace the virtual operations they need. The bodies are spread by area:
//   BaseActiveX.cpp, BaseActiveX_Table.cpp   construction, commands, information, table services
//   BaseActiveX_Display.cpp, _Input.cpp      values between parameters and controls
//   BaseActiveX_Access.cpp                   parameter access through the DTM
//   BaseActiveX_State.cpp, _Draw.cpp         state display and owner drawing
// Everything runs on the frame's thread; nothing is locked.
//
// The dialog window is not made here: the family layer (page, control, page frame) or a test
// creates it and hands it over with AttachDialogWindow; its dialog procedure passes messages to
// ProcessWindowMessage, the shared message map.
#pragma once

#include <array>
#include <cstdarg>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "include/ActiveXInterfaces.h"
#include "include/DtmInterfaces.h"
#include "include/FdtInterfaces.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"
#include "ui/framework/CActXParInfo.h"
#include "ui/framework/ValueText.h"
#include "xml/CovFDTXMLHandlerImpl.h"

// Which family layer sits on the base: the controls add status notifications to the commands,
// the dialog type and the DTM state.
enum class EUiFamily { Page, Control };

class CovFDT_BaseActiveXImpl : public vkr::Implements<IovFdtActiveX4, IovFdtActiveXInfo, IovFdtParamGroupDisplayEvent>,
                               public CovFDTXMLHandlerImpl<CovFDT_BaseActiveXImpl> {
 public:
  CovFDT_BaseActiveXImpl(const CLSID& clsid, ParameterMapFunction parameterMap, EUiFamily family = EUiFamily::Page);
  ~CovFDT_BaseActiveXImpl() override;
  CovFDT_BaseActiveXImpl(const CovFDT_BaseActiveXImpl&) = delete;
  CovFDT_BaseActiveXImpl& operator=(const CovFDT_BaseActiveXImpl&) = delete;

  static const char* const* GetSchemaFileList() { return kSchemaFilesUi; }

  // IDispatch: no type information; late-bound calls are not served.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

  // ===== Base: construction, commands, information, table services ============================

  HRESULT OnDtmStateChanged(ULONG state) override;
  HRESULT ReportError(BSTR text) override;
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override;
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  HRESULT ReadAllParameters() override;
  HRESULT NoOperation() override;
  HRESULT SetDirty(BOOL dirty) override;
  HRESULT SetDisplayOption(BOOL privateDialogs) override;
  HRESULT OnControlSetFocus(UINT code, UINT controlId, HWND control) override;
  LONG GetAccessMode() override;
  HRESULT SetAccessMode(LONG mode) override;
  HRESULT NotifyAllParameters() override;
  HRESULT OnNotifyParameter(LONG id) override;
  HRESULT InitializeMembers() override;
  HRESULT SetDialogType(ULONG type) override;
  LONG GetControlType(HWND window) override;
  LONG GetControlTypeById(LONG controlId) override;
  HRESULT OnParameterRefreshEvent(VARIANT event) override;
  HRESULT OnRefreshAllEvent(VARIANT event) override;
  HRESULT OnParameterStateEvent(VARIANT event) override;
  HRESULT OnNotifyAllEvent(VARIANT language) override;
  HRESULT OnDtmMessage(VARIANT message) override;

  // IovFdtActiveXInfo
  HRESULT SetInfo(VARIANT id, VARIANT* value) override;
  HRESULT IsInfoSupported(VARIANT id) override;
  HRESULT SetSchemaSource(IUnknown* container) override;

  // The error sink's callers: format (printf) into 512 or 4096 characters and hand the text to
  // ReportError; always S_OK. A null format gives the empty text.
  virtual HRESULT ErrorMessage(const char* format, ...);
  virtual void OnError(const char* format, ...);
  // A command or information id as VT_UI4 (a conversion failure returned, another type E_FAIL);
  // a number out of any numeric or text VARIANT (false when it holds none).
  static HRESULT ReadCommandId(const VARIANT& command, ULONG* id);
  static bool ReadNumber(const VARIANT& value, LONG* number);
  // The first entry with the id, in table order; -1 for the id -1 or when there is none.
  LONG FindParameterIndex(LONG id) const;
  LONG FindEntryIndex(LONG id) const { return FindParameterIndex(id); }
  // "notSupported" 0, "engineering" 1, "commissioning" 2, "runtime" 4, "service" 8 (case matters).
  static HRESULT OperationPhaseFromName(LPCWSTR name, ULONG* phase);
  // The folder the base keeps for translated bitmap names; null with S_OK when none is kept.
  HRESULT GetImageFolder(BSTR* folder);
  HRESULT SetImageFolder(LPCWSTR folder);
  // Releases the bindings of the hosted parameter-group display controls (UninitializeUI).
  HRESULT ReleaseDisplayControls();

  // The dialog window whose items the table's control ids name; AttachDialogWindow(nullptr) when
  // it is destroyed.
  void AttachDialogWindow(HWND dialog) { m_hWndDialog = dialog; }
  HWND DialogWindow() const { return m_hWndDialog; }
  // The DTM object as InitializeUI received it (null before and after).
  IUnknown* DtmObject() const { return m_spDtmObject.Get(); }
  // The shared message map of pages and controls: WM_SHOWWINDOW, the colour messages,
  // WM_DRAWITEM and the WM_COMMAND notifications of the table's controls (focus, change, kill
  // focus; decoded by the sending control's class). TRUE when handled, with *result the answer.
  virtual BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  // The hosted control of a dialog item (an outside control placed by class), asked for riid;
  // E_NOINTERFACE when the item hosts none or not that interface.
  HRESULT GetHostedControl(UINT controlId, REFIID riid, void** control) const;
  bool IsHostedControl(UINT controlId, REFIID riid) const;

  // Hooks of the control layer: the apply button, the language and the status notifications.
  virtual HRESULT EnableApplyButton(BOOL enable);
  virtual HRESULT OnLanguageCommand(VARIANT argument);
  virtual HRESULT NotifyStatus(ULONG kind, ULONG value);
  // Status kind 2 for the controls: cyclic reading runs or not.
  virtual HRESULT CheckCyclicUpdate();

  // The parameter table (a copy owned by the object) and its count.
  CActXParInfo* ParameterTable() const { return m_pParInfo; }
  ULONG ParameterCount() const { return m_nParInfoCount; }
  const CLSID& ClassId() const { return m_clsid; }
  EUiFamily Family() const { return m_eFamily; }

  // ===== Values =================================================================================

  HRESULT ReportErrorText(LPCWSTR text) override;
  HRESULT ReadParameter(LONG index) override;
  HRESULT FillControlChoices(ULONG index) override;
  HRESULT CommitControlValue(LONG index) override;
  HRESULT SetFocusToControl() override;
  HRESULT SetControlValue(LONG index, VARIANT value) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT SetComboBoxValue(ULONG index, VARIANT value) override;
  HRESULT SetListBoxValue(ULONG index, VARIANT value) override;
  HRESULT GetControlValue(ULONG index, VARIANT* value) override;
  HRESULT GetCheckValue(ULONG index, VARIANT* value) override;
  HRESULT IsValueChanged(ULONG index, VARIANT* value, BOOLEAN* accepted) override;
  HRESULT GetListValue(ULONG index, VARIANT* value) override;
  HRESULT IsValueChangedEx(ULONG index, VARIANT* value, BOOLEAN* accepted) override;
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT ValidateControlValue(LONG id) override;
  HRESULT ValidateControlValueEx(LONG id) override;
  HRESULT ReadDeviceParameterEx(LONG id) override;
  HRESULT CheckParameterInput(LONG id) override;
  // CheckParameterInput that tells whether the value went to the device and the device does not
  // hold it (*refused may be null). It ends the values staged for it (StageDtmParameterValue): the
  // data set keeps them when the device took the write, and holds what it held when it did not or
  // when nothing went out.
  HRESULT WriteCheckedInput(LONG id, bool* refused);
  // A value the next device write carries from the data set (a field of the record it writes,
  // beside the written value), put there for that write only: the data set takes it as a change
  // when the device takes the write, and otherwise keeps, value and marks, what it held. E_FAIL
  // without the DTM's parameter information or for a value that does not convert to the
  // parameter's type.
  HRESULT StageDtmParameterValue(LONG id, const VARIANT& value);
  // Ends the staged values: kept as changes of the data set, or the data set as it was.
  void EndStagedValues(bool keep);
  // Whether the device took a write of `id` that it did not confirm (it took it with a warning).
  // No here.
  virtual bool DeviceTookWrite(LONG /*id*/) { return false; }
  // The write of an applied entry: a value the device did not take is told to the user and fails
  // (E_FAIL or the write's failure), so that OK and Apply keep the page changed.
  HRESULT ApplyDeviceEntry(LONG id);
  // A message to the user through the DTM's function container (nothing without one); an error
  // unless the style (a message-box style: buttons and icon) says otherwise.
  void TellUser(std::u16string_view title, std::u16string_view text, ULONG style = 0x10);
  HRESULT ShowParameterDisplayText(LONG id) override;
  HRESULT GetParameterDisplayText(LONG id, BSTR* text) override;
  HRESULT OnControlKillFocus(UINT code, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;
  HRESULT OnParameterChangedEvent(VARIANT event) override;
  HRESULT ConvertValue(VARIANT first, VARIANT second) override;
  HRESULT CompareValues(VARIANT id, ULONG* state) override;

  // Numbers in dialog items, with the system locale's decimal separator. A number shown through
  // SetDlgItemNumber or an entry's display comes back exactly as it was given while the item still
  // shows its text: a value nobody touched is never replaced by its rounded text.
  HRESULT GetDlgItemFloat(LONG controlId, const char* format, float* value);
  HRESULT SetDlgItemFloat(LONG controlId, const char* format, float value);
  HRESULT SetDlgItemDouble(LONG controlId, const char* format, double value);
  HRESULT SetDlgItemNumber(LONG controlId, const char* format, double value);
  static HRESULT ParseFloatText(char* text, const char* format, float* value);

  // ===== Access =================================================================================

  HRESULT GetParameterTextByIndex(LONG index, VARIANT_BOOL* valid) override;
  HRESULT GetParameterTextOfMode1(ULONG index, VARIANT_BOOL* valid) override;
  HRESULT GetParameterTextOfMode2(ULONG index, VARIANT_BOOL* valid) override;
  HRESULT GetParameterText(LONG id, VARIANT_BOOL* valid) override;
  HRESULT ReadParameterInfo(ULONG index) override;
  HRESULT GetParameterInfoValue(LONG id, ULONG* flags) override;
  HRESULT GetDtmParameterValue(LONG id, VARIANT* value) override;
  HRESULT QueryParameterInfo(LONG id, VARIANT* value) override;
  HRESULT SetDtmParameterValue(LONG id, VARIANT value) override;
  HRESULT GetParameterInfoText(LONG id, VARIANT* first, VARIANT* second) override;
  HRESULT GetParameterInfoField(LONG id, ULONG* field) override;
  HRESULT ReadDeviceParameter(ULONG index) override;
  HRESULT WriteDeviceParameter(ULONG index) override;
  HRESULT FormatParameterText(LONG id, VARIANT_BOOL* valid) override;
  // The check of an entry's value: the DTM's validation flags (changed 0x2, invalid 0x4) of
  // `value` for parameter `id`. A page whose entries show a value in another unit than the
  // parameter's limits are given in checks those limits in the shown unit here.
  virtual HRESULT ValidateEntryValue(LONG id, const VARIANT& value, ULONG* flags);
  // IovFdtParamGroupDisplayEvent
  HRESULT OnParamGroupDisplayEvent(LONG controlId, LONG kind, VARIANT data, VARIANT extra) override;

  virtual HRESULT SendDtmMessage(ULONG message, VARIANT argument);
  virtual HRESULT ApplyParameterChanges();
  virtual HRESULT ChangeUpdateRate(LONG id, ULONG rate);

  // ===== State and drawing ======================================================================

  HRESULT SetControlState(LONG index, ULONG state) override;
  HRESULT SetStatusIndicator(ULONG index, ULONG newState, ULONG oldState, BOOL force) override;
  HRESULT SetControlStateById(LONG id, ULONG state) override;
  HRESULT ApplyOnlineAccess(BOOL editable) override;
  HRESULT RefreshAllParameters(LONG id) override;
  HRESULT RefreshParameter(LONG id) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  LRESULT OnCtlColorEdit(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  LRESULT OnCtlColorListBox(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  LRESULT OnCtlColorStatic(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  LRESULT OnCtlColorDlg(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  HRESULT OnDrawItem(UINT controlId, DRAWITEMSTRUCT* item) override;

  // A colour of the colour table: the four marker values become system colours by the entry's
  // options; any other value is a COLORREF.
  virtual COLORREF ResolveColor(LONG index, ULONG value);
  // On the first show: caches every entry's control window and creates the indicator windows.
  virtual HRESULT CreateStatusIndicators(BOOL show);
  virtual HRESULT DestroyIndicatorWindows();

  // ===== Members ================================================================================
  // Data of the base; every area reads them, each writes those its operations own.

 protected:
  // Every user interface answers IovFdtTranslation with its DTM's (E_NOINTERFACE without one).
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override;

  CLSID m_clsid{};
  EUiFamily m_eFamily = EUiFamily::Page;
  CActXParInfo* m_pParInfo = nullptr;  // owned copy of the class's table (new[])
  ULONG m_nParInfoCount = 0;           // entries before the end entry
  HWND m_hWndDialog = nullptr;
  HBRUSH m_hBackgroundBrush = nullptr;  // owned; COLOR_BTNFACE

  vkr::ComPtr<IovFdtParameterHandler4> m_spDtm;  // the DTM's parameter interface; null until InitializeUI
  vkr::ComPtr<IUnknown> m_spDtmObject;           // the DTM object as handed over
  vkr::ComPtr<IFdtContainer> m_spSchemaSource;    // the frame's container (SetSchemaSource)
  vkr::ComPtr<IPropertyPageSite> m_spPageSite;    // pages: told about the dirty state

  BOOL m_bDirty = FALSE;
  BOOL m_bBusy = FALSE;               // while ReadAllParameters walks the table
  ULONG m_nReadWord = 0;              // cleared when ReadAllParameters starts
  BOOL m_bUpdatingControls = FALSE;   // the program writes into controls: notifications are no input
  BOOL m_bIndicatorsPending = TRUE;   // indicator windows still to be created
  BOOL m_bOnline = TRUE;              // online flag of dialog type 4
  BOOL m_bDisplayOption = FALSE;      // private dialogs allowed (command 9998)
  BOOL m_bDataSetLocked = FALSE;      // the last command 9993 carried false
  BOOL m_bAccessGranted = TRUE;       // ApplyOnlineAccess made every locked entry usable (granted until it says otherwise)
  BOOL m_bPageHidden = FALSE;
  ULONG m_nDialogType = 2;
  LONG m_nAccessMode = 0;
  ULONG m_nDtmState = 0;              // dsUNDEFINED until told
  ULONG m_nPreviousDtmState = 0;
  LCID m_nLanguage = 1033;
  ULONG m_nUserLevel = 1;             // command 9988
  BOOL m_bObserver = TRUE;            // user level 1 (read-only)
  ULONG m_nStatusSubscription = 0;    // controls: 0x100 and 0x200 status kinds wanted
  vkr::Bstr m_bstrTranslationPath;    // command 9995
  vkr::Bstr m_bstrImageFolder;
  vkr::Bstr m_bstrSystemTag;          // identifies the user interface to the DTM (message 3)

  // Focus snapshot: the value of the control that last received the focus, and its entry's state.
  vkr::Variant m_vFocusSnapshot;
  ULONG m_nFocusedEntryState = 0;

  // State-indicator tables (InitializeMembers).
  ULONG m_nStateCount = 0;
  std::array<ULONG, 8> m_anStateOrder{};
  std::array<const char*, 10> m_apszStateText{};  // literals; the last two stay null
  const char* m_pszUnknownStateText = nullptr;
  // Colours by state row (the rows in m_anStateOrder's order): words 0-7 the mark colours,
  // 10-17 the fill colours, 20-27 a third set; 8, 9, 18, 19 unset. Marker values: see ResolveColor.
  std::array<ULONG, 28> m_anColorTable{};
  ULONG m_nLimit = 0;

  // Drawing resources (owned).
  std::array<HBITMAP, 2> m_ahCheckBitmaps{};  // OBM_CHECKBOXES, loaded twice
  LONG m_nCheckCellWidth = 0;                 // one image of the 4 x 3 grid
  LONG m_nCheckCellHeight = 0;
  std::array<HICON, 5> m_ahStatusIcons{};     // resources 664, 667, 671, 673, 669

  // Values: the hosted control whose choices were last handed over.
  UINT m_nLastHostedControl = 0;
  // Access: what ApplyParameterChanges did (read at release).
  BYTE m_bDeviceChanged = 0;
  BYTE m_bDtmChanged = 0;
  // Control layer: the apply button's dialog item (0 none).
  UINT m_nApplyButtonId = 0;
  // The number each dialog item was last given, with the text it showed it as.
  struct SShownNumber {
    std::string text;
    double value = 0.0;
  };
  std::map<UINT, SShownNumber> m_shownNumbers;
  void RememberShownNumber(UINT controlId, double value);
  // The values staged for the next device write, with what the data set held before.
  struct SStagedValue {
    LONG id = -1;
    vkr::Variant staged;
    vkr::Variant held;
    vkr::Variant flags;
  };
  std::vector<SStagedValue> m_stagedValues;

 private:
  // ===== Base helpers ===========================================================================
  HRESULT ExecuteBaseCommand(VARIANT command, VARIANT argument);
  HRESULT ExecuteControlCommand(VARIANT command, VARIANT argument);
  HRESULT StoreDialogType(ULONG type);
  HRESULT StoreDtmState(ULONG state);
  HRESULT ReportFormatted(size_t capacity, const char* format, va_list args);
  BOOL DispatchCommandNotification(WPARAM wParam, LPARAM lParam, LRESULT* result);

  // ===== Values helpers =========================================================================
  bool IsValidIndex(LONG index) const;
  // A display format read once per format text (null is the empty one).
  const vkr::ui::SValueFormat& ValueFormatOf(const char* format);
  // The DTM's parameter information, asked for on each use (null when it has none).
  vkr::ComPtr<IovFdtParameterInfo> ParameterInfo() const;
  static HRESULT ReadInfoField(IovFdtParameterInfo* info, LONG id, ULONG field, VARIANT* value);
  static HRESULT ReadInfoFlag(IovFdtParameterInfo* info, LONG id, ULONG field, bool* set);
  static std::vector<vkr::ui::SChoice> ChoicesOf(const VARIANT& list);
  // The whole text of a dialog item.
  std::string ItemText(UINT controlId) const;
  // A check box or radio button, by the button's kind.
  bool IsCheckButton(HWND control);
  // The checks shared by the commit operations, then the control's value (S_OK: go on).
  HRESULT ReadCheckedInput(LONG id, VARIANT* value);
  std::map<std::string, vkr::ui::SValueFormat, std::less<>> m_mapValueFormats;

  // ===== Access helpers =========================================================================

  // ===== State and drawing helpers ==============================================================
};

// Unpacks a parameter event {parameter id, value} (VT_ARRAY|VT_VARIANT, element 0 the id, element
// 1 the value). E_UNEXPECTED for another type or a null array; the element read's failure.
HRESULT UnpackParameterEvent(const VARIANT& event, LONG* id, VARIANT* value);
// Packs {id VT_UI4, value} as UnpackParameterEvent reads it.
HRESULT PackParameterEvent(LONG id, const VARIANT& value, VARIANT* event);
