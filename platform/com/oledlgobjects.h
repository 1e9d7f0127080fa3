// The outside dialog-object library the user interfaces host and call: the message mediator, the
// parameter-group display control, the chart, and the display controls placed in dialogs by class
// (the header display with its hosted values, the status display). Their ids and slots are this
// program's own, fixed here once; the frame host provides the classes (stand-ins that record what
// they are told). Every interface is dual: slot 7 is the first method named here.
#pragma once

#include "platform/com/interfaces.h"
#include "platform/com/ole.h"

// ---- Message mediator ----------------------------------------------------------------------

// The events of a message mediator: every key message (WM_KEYFIRST..WM_KEYLAST) and WM_TIMER aimed
// at the started window or inside it, before the host loop handles it. S_OK consumes the message;
// any other answer lets the loop go on with it.
struct _IMessageMediatorEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A01");
  using Base = IDispatch;
  virtual HRESULT OnMessageMediatorEvent(MSG* message) = 0;  // 7
};

// A pre-dispatch filter on the thread's host loop. Sinks connect through its connection point for
// _IMessageMediatorEvents (AtlAdvise); Start watches a window and its descendants, Stop ends it.
struct IMessageMediator : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A02");
  using Base = IDispatch;
  virtual HRESULT Start(HWND window) = 0;  // 7
  virtual HRESULT Stop() = 0;              // 8
};

// ---- Parameter-group display control -------------------------------------------------------

// Events of a parameter-group display control placed in a dialog (kinds 2, 3 and 4; data as the
// kind says), to the dialog's object through the control's connection point.
struct IovFdtParamGroupDisplayEvent : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A03");
  using Base = IDispatch;
  virtual HRESULT OnParamGroupDisplayEvent(LONG controlId, LONG kind, VARIANT data, VARIANT extra) = 0;  // 7
};

struct IParamGroupDisplay : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A04");
  using Base = IDispatch;
  // The display state of a parameter it shows.
  virtual HRESULT SetParameterState(LONG parameterId, LONG state) = 0;  // 7
  // The text of a HART engineering-unit code; S_FALSE and a null text for an unknown code.
  virtual HRESULT GetUnitText(BYTE unitCode, BSTR* text) = 0;  // 8
  // The text of a HART transfer-function code; S_FALSE and a null text for an unknown code.
  virtual HRESULT GetTransferFunctionText(BYTE code, BSTR* text) = 0;  // 9
  // Lets go of the parameters it was bound to; *bound is how many it held.
  virtual HRESULT ReleaseBinding(LONG* bound) = 0;  // 10
};

// ---- Chart ---------------------------------------------------------------------------------

// Pens are 1 to 5; anything else is E_INVALIDARG.
struct IChartControl : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A05");
  using Base = IDispatch;
  virtual HRESULT SetSamplingInterval(LONG milliseconds) = 0;             // 7
  virtual HRESULT ShowPen(LONG pen, VARIANT_BOOL show) = 0;               // 8
  virtual HRESULT Reset() = 0;                                            // 9
  virtual HRESULT Start() = 0;                                            // 10
  virtual HRESULT AddSample(LONG pen, double value) = 0;                  // 11
  virtual HRESULT SetPenRange(LONG pen, double minimum, double maximum) = 0;  // 12
  virtual HRESULT Refresh() = 0;                                          // 13
};

// ---- Display controls placed in dialogs ----------------------------------------------------

// Values shown by a hosted control instead of a window control.
struct IHostedValueControl : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A06");
  using Base = IDispatch;
  virtual HRESULT SetValue(LONG parameterId, VARIANT value) = 0;                 // 7
  virtual HRESULT GetValue(LONG parameterId, VARIANT* value) = 0;                // 8
  virtual HRESULT SelectValue(LONG mode, VARIANT parameterId, SHORT* result) = 0;  // 9
};

struct IHostedControlSetup : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A07");
  using Base = IDispatch;
  virtual HRESULT SetLanguage(LONG languageId) = 0;  // 7
};

// The notifications a display control takes: the status (slot 9), three option words (slots 15,
// 17 and 19) and the DTM's translation interface (slot 20). The other slots are not offered.
struct IHostedControlNotify : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A08");
  using Base = IDispatch;
  virtual HRESULT Reserved7() = 0;                                          // 7
  virtual HRESULT Reserved8() = 0;                                          // 8
  virtual HRESULT NotifyStatus(ULONG kind, ULONG value) = 0;                // 9
  virtual HRESULT Reserved10() = 0;                                         // 10
  virtual HRESULT Reserved11() = 0;                                         // 11
  virtual HRESULT Reserved12() = 0;                                         // 12
  virtual HRESULT Reserved13() = 0;                                         // 13
  virtual HRESULT Reserved14() = 0;                                         // 14
  virtual HRESULT SetOption1(ULONG bits) = 0;                               // 15
  virtual HRESULT Reserved16() = 0;                                         // 16
  virtual HRESULT SetOption2(ULONG bits) = 0;                               // 17
  virtual HRESULT Reserved18() = 0;                                         // 18
  virtual HRESULT SetOption3(ULONG bits) = 0;                               // 19
  virtual HRESULT SetTranslation(IUnknown* translation, VARIANT_BOOL* done) = 0;  // 20
};

// ---- Page frame ----------------------------------------------------------------------------

// The page frame's own interface: a hosted property page reaches the frame that made it through
// this interface (its site answers it), as does a container, for the frame's settings. Dual:
// slot 7 is the first method.
struct IPPFrameCtrl : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A09");
  using Base = IDispatch;
  // With an object: keeps its IUnknown as the client object the pages edit (the one kept before
  // is released); with null: releases it.
  virtual HRESULT SetClientObject(IUnknown* object) = 0;  // 7
  // 0: OK and close apply nothing and no page enables Apply; any other value: they apply.
  virtual HRESULT SetFrameOption(LONG value) = 0;  // 8
  // The frame window's text (kept until the window exists).
  virtual HRESULT SetCaption(BSTR text) = 0;  // 9
  virtual HRESULT SetHelpInfo(LONG value, BSTR text) = 0;  // 10
};

// The frame's buttons by index: 0 OK, 1 Cancel, 2 Apply, 3 Help.
struct IPPFrameStyle : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A0A");
  using Base = IDispatch;
  // E_INVALIDARG for a null window or an index above 3; else the button (null when the frame has
  // none) and S_OK.
  virtual HRESULT GetButtonWindow(ULONG index, HWND* window) = 0;  // 7
  virtual HRESULT EnableButton(ULONG index, BOOL enable) = 0;      // 8
  // Shown when show is above 0, hidden otherwise.
  virtual HRESULT ShowButton(ULONG index, LONG show) = 0;          // 9
  virtual HRESULT SetButtonText(ULONG index, LPCWSTR text) = 0;    // 10
};

// ---- The classes ---------------------------------------------------------------------------

inline constexpr CLSID CLSID_MessageMediator = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A81");
inline constexpr CLSID CLSID_ParamGroupDisplay = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A82");
inline constexpr CLSID CLSID_ChartControl = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A83");
inline constexpr CLSID CLSID_HeaderDisplay = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A84");
inline constexpr CLSID CLSID_StatusDisplay = vkr::MakeGuid("A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A85");
inline constexpr const char16_t* kProgIdMessageMediator = u"VornDlgObjects.MessageMediator";
inline constexpr const char16_t* kProgIdParamGroupDisplay = u"VornDlgObjects.ParamGroupDisplay";
inline constexpr const char16_t* kProgIdChartControl = u"VornDlgObjects.Chart";
inline constexpr const char16_t* kProgIdHeaderDisplay = u"VornDlgObjects.HeaderDisplay";
inline constexpr const char16_t* kProgIdStatusDisplay = u"VornDlgObjects.StatusDisplay";
