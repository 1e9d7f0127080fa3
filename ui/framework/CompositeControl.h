// CovFDT_BaseActiveXImplEx: the window side shared by every ActiveX control of the system and by
// the page frame. An OLE composite control (a dialog made from the class's template, hosted
// ActiveX items in it) over the framework base CovFDT_BaseActiveXImpl.
//
// The class library's composite control counts its own references, so it cannot sit beside the
// framework base (which does too); this class gives the same OLE interfaces on the one object.
// The class id, the parameter map, the dialog, the hosted display controls and the help text come
// in through the constructor, as with the base.
//
// The message-map chain, first handler wins: the device class's map (it overrides
// ProcessWindowMessage and calls this class's version for what it leaves) -> this class's map
// (WM_MOUSEACTIVATE, WM_SETCURSOR, WM_HELP) -> the framework base's map -> the class library's
// (background colours).
//
// Closing is always deferred: PostCloseRequest posts the private message 0x1600 to the control's
// own window; its handler asks the DTM's function container to close this user interface, which
// may destroy the window and release the object from inside that message (the window keeps the
// object alive until the message is done). At most one request is pending at a time.
#pragma once

#include <memory>
#include <vector>

#include "platform/platform.h"
#include "ui/framework/ActiveXTranslation.h"
#include "ui/framework/BaseActiveX.h"

// The private close request a user interface posts to its own window.
inline constexpr UINT kCloseRequestMessage = 0x1600;
// The dialog item of the control dialogs' Apply button.
inline constexpr UINT kApplyButtonId = 102;

// What a control class hands the composite-control base at construction.
struct SCompositeControlClass {
  UINT dialogId = 0;                       // the dialog template's resource id
  const char* templateText = nullptr;      // or the template as text (classes without resources)
  const UINT* hostedDisplayControls = nullptr;  // dialog items told the option bits at Create; ends at 0
  UINT helpTextId = 0;                     // string resource with the help file's name (0: none)
  // The dialog's controls the translation file may name (ends at id 0). A class with a table
  // translates its dialog (IovFdtTranslationEvent); null: the class has no translation part.
  const ControlNameEntry* controlNames = nullptr;
};

class CovFDT_BaseActiveXImplEx : public CovFDT_BaseActiveXImpl,
                                 public IOleObject,
                                 public IOleInPlaceObject,
                                 public IOleInPlaceActiveObject,
                                 public IOleControl,
                                 public IPersistStreamInit,
                                 public vkr::atl::AxDialogWindow {
 public:
  CovFDT_BaseActiveXImplEx(const CLSID& clsid, ParameterMapFunction parameterMap, const SCompositeControlClass& cls);
  ~CovFDT_BaseActiveXImplEx() override;

  // The one declaration of IUnknown for every interface of the object (ComObject implements it).
  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_BaseActiveXImpl::QueryInterface;

  // ===== Window ================================================================================

  // Creates the dialog window on parent (the class library's dialog creation), runs the class's
  // post-creation step, shows it without activating it and passes the option bits to the hosted
  // display controls. The window, or null when it could not be made.
  virtual HWND Create(HWND parent, const RECT* rect = nullptr, LPARAM initParameter = 0);
  // The class's step after its window was made (before it is shown).
  virtual void OnFinalCreate() {}
  HWND ControlWindow() const { return m_hWnd; }

  // The dialog procedure of the control's window: the trace hook, the close request (0x1600),
  // then the message-map chain. TRUE when handled (*result the answer).
  virtual BOOL DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // The class's message map; a class overrides it and calls this version for what it leaves.
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // Posts the close request to the control's own window (S_OK; E_FAIL without a window). A
  // request already pending is not posted twice.
  HRESULT PostCloseRequest();
  // Asks the DTM's function container to close this user interface (its instance id): S_OK when
  // it closed, S_FALSE when it stays, E_NOINTERFACE without a container.
  virtual HRESULT RequestCloseFromContainer();

  // ===== Keyboard ==============================================================================

  // Before the dialog manager: Escape posts the close request; VK_CANCEL and VK_EXECUTE and
  // characters the focused control does not want go to the container; a focused hosted control
  // gets WM_FORWARDMSG first. True when it decided (*result).
  virtual bool PreTranslateAccelerator(MSG* msg, HRESULT* result);

  // ===== Handlers of this class's map ==========================================================

  virtual LRESULT OnMouseActivate(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled);
  virtual LRESULT OnSetCursor(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled);
  virtual LRESULT OnHelp(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled);
  // The help file's name: the class's string resource, replaced by the DTM's translation of
  // "localization/ActiveXList/ActiveX[@classname="<user type>"]/HelpFile" when it has one.
  HRESULT GetHelpFile(BSTR* file);
  // The translation part of a class with a control-name table (null otherwise).
  CovFDT_ActiveXTranslationPart* TranslationPart() const { return m_pTranslation.get(); }
  // The last help file name F1 determined (no help window opens).
  const vkr::Bstr& LastHelpFile() const { return m_bstrLastHelpFile; }

  // ===== Control versions of the base's operations =============================================

  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  HRESULT OnParamGroupDisplayEvent(LONG controlId, LONG kind, VARIANT data, VARIANT extra) override;
  // The base's rate change, then the status of the cyclic update.
  HRESULT ChangeUpdateRate(LONG id, ULONG rate) override;
  // Cyclic update runs (status 2, 1) when the DTM is online, the dialog reads the device (type
  // exactly 4) and the list of cyclic entries (information 32) is not empty; else (2, 2).
  HRESULT CheckCyclicUpdate() override;
  // Functions of the DTM's function list greyed while the control runs.
  HRESULT CallActiveXContainer(ULONG functionId, ULONG enabled);

  // ===== IOleObject ============================================================================
  HRESULT SetClientSite(IOleClientSite* site) override;
  HRESULT GetClientSite(IOleClientSite** site) override;
  HRESULT SetHostNames(LPCOLESTR, LPCOLESTR) override;
  HRESULT Close(DWORD) override;
  HRESULT SetMoniker(DWORD, IMoniker*) override;
  HRESULT GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  HRESULT InitFromData(IDataObject*, BOOL, DWORD) override;
  HRESULT GetClipboardData(DWORD, IDataObject** data) override;
  HRESULT DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND, LPCRECT rect) override;
  HRESULT EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT Update() override;
  HRESULT IsUpToDate() override;
  HRESULT GetUserClassID(CLSID* clsid) override;
  HRESULT GetUserType(DWORD form, LPOLESTR* text) override;
  HRESULT SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT Advise(IAdviseSink*, DWORD* cookie) override;
  HRESULT Unadvise(DWORD) override;
  HRESULT EnumAdvise(IEnumSTATDATA** advises) override;
  HRESULT GetMiscStatus(DWORD, DWORD* status) override;
  HRESULT SetColorScheme(LOGPALETTE*) override;

  // ===== IOleWindow, IOleInPlaceObject =========================================================
  HRESULT GetWindow(HWND* window) override;
  HRESULT ContextSensitiveHelp(BOOL) override;
  HRESULT InPlaceDeactivate() override;
  HRESULT UIDeactivate() override;
  HRESULT SetObjectRects(LPCRECT position, LPCRECT clip) override;
  HRESULT ReactivateAndUndo() override;

  // ===== IOleInPlaceActiveObject ===============================================================
  // PreTranslateAccelerator first; a key it left goes to the dialog manager, then to the client
  // site's IOleControlSite::TranslateAccelerator with the modifiers (S_FALSE without a site).
  HRESULT TranslateAccelerator(LPMSG msg) override;
  HRESULT OnFrameWindowActivate(BOOL) override;
  HRESULT OnDocWindowActivate(BOOL) override;
  HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
  HRESULT EnableModeless(BOOL) override;

  // ===== IOleControl ===========================================================================
  HRESULT GetControlInfo(CONTROLINFO* info) override;
  HRESULT OnMnemonic(MSG*) override;
  HRESULT OnAmbientPropertyChange(DISPID id) override;
  HRESULT FreezeEvents(BOOL freeze) override;

  // ===== IPersistStreamInit ====================================================================
  HRESULT GetClassID(CLSID* clsid) override;
  HRESULT IsDirty() override;
  HRESULT Load(IStream* stream) override;
  HRESULT Save(IStream*, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT InitNew() override;

 protected:
  void* FindInterface(REFIID riid) override;
  IUnknown* OwnerUnknown() override;
  const char* TemplateText() const override { return m_class.templateText; }
  // The dialog item the translation addresses by control id.
  virtual HWND TranslationItem(LONG controlId);
  // The window's messages (from the class library's dialog procedure) go to DialogProc.
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId) override;
  BOOL BaseWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  // In-place activation on the client site's window (the dialog made there on first use).
  HRESULT InPlaceActivate(LONG verb, LPCRECT rect);
  // Destroys the dialog window (and detaches it from the base).
  void DestroyControlWindow();

  SCompositeControlClass m_class;
  std::vector<UINT> m_anHostedDisplayControls;  // the class's list, without its end 0
  vkr::ComPtr<IOleClientSite> m_spClientSite;
  SIZEL m_sizeExtent{0, 0};
  COLORREF m_clrBackground = RGB(0xF0, 0xF0, 0xF0);
  HBRUSH m_hAmbientBrush = nullptr;  // owned; the ambient background
  COLORREF m_clrAmbientBrush = CLR_INVALID;
  bool m_bInPlaceActive = false;
  bool m_bUIActive = false;
  bool m_bRequiresSave = false;
  int m_nFreezeEvents = 0;
  bool m_bClosePending = false;  // a close request is in the window's queue
  vkr::Bstr m_bstrLastHelpFile;
  // The DTM object the close request and the container calls go to (held from Init to
  // destruction by the IDtmActiveXControl layer); the instance id is the base's system tag.
  vkr::ComPtr<IUnknown> m_spDtmUnknown;

 private:
  std::unique_ptr<CovFDT_ActiveXTranslationPart> m_pTranslation;
};
