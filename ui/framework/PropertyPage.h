// CovFDT_BasePropertyPageImpl and CovFDT_PropertyPageImpl: the property-page layer of the
// framework. A device page is a COM property page (IPropertyPage) over the user-interface base
// CovFDT_BaseActiveXImpl; the page frame hosts it and starts and ends it through
// IovFdtPropertyPageControl.
//
// Life of a page: construction (instance id, a new UUID) -> SetPageSite -> Activate (the dialog,
// a hidden child of the frame's page area) -> Init (registration with the DTM's function container,
// the operation phase, InitializeUI) -> Show -> the user's edits (SetDirty tells the site) ->
// Apply or cancel -> PrepareToRelease (UninitializeUI, the function finished) -> Deactivate ->
// SetPageSite(null) -> release.
//
// The page registers, finishes and announces its visibility (DTM message 3) under one key: its
// instance id. The system tag that Init hands over is kept but never used as that key, so a page
// can always be released.
//
// A page class gives its class data (class id, parameter map, dialog template, string ids) through
// SPropertyPageClass. Everything runs on the frame's thread; nothing is locked.
#pragma once

#include <string>

#include "include/ActiveXInterfaces.h"
#include "include/TranslationInterfaces.h"
#include "platform/platform.h"
#include "ui/framework/ActiveXTranslation.h"
#include "ui/framework/BaseActiveX.h"

// The class data of a page class.
struct SPropertyPageClass {
  CLSID clsid{};
  ParameterMapFunction parameterMap = nullptr;
  UINT dialogId = 0;      // the dialog template's resource id
  UINT titleId = 0;       // string resources (0: none)
  UINT helpFileId = 0;
  UINT docStringId = 0;
  DWORD helpContext = 0;
  // The template as text in memory for a class without resources of its own (tests); null takes
  // the template `dialogId` from the module's resources.
  const char* templateText = nullptr;
  // The dialog's controls the translation file may name (ends at id 0; null: none).
  const ControlNameEntry* controlNames = nullptr;
};

class CovFDT_BasePropertyPageImpl : public CovFDT_BaseActiveXImpl,
                                    public IPropertyPage,
                                    public IovFdtPropertyPageControl,
                                    public vkr::atl::AxDialogWindow {
 public:
  explicit CovFDT_BasePropertyPageImpl(const SPropertyPageClass& pageClass);
  ~CovFDT_BasePropertyPageImpl() override;
  CovFDT_BasePropertyPageImpl(const CovFDT_BasePropertyPageImpl&) = delete;
  CovFDT_BasePropertyPageImpl& operator=(const CovFDT_BasePropertyPageImpl&) = delete;

  // IUnknown: one declaration for every base (the created object implements it).
  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(Q::iid, reinterpret_cast<void**>(pp));
  }

  // IDispatch of every dual interface: no type information.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override;

  // ---- IovFdtPropertyPageControl ----
  // Starts the page for the DTM: registration under the instance id, the operation phase of the
  // function call, InitializeUI. Every refusal is S_FALSE with *result false and leaves nothing
  // registered; a null result is E_POINTER.
  HRESULT Init(BSTR systemTag, BSTR functionCall, IUnknown* dtm, VARIANT_BOOL* result) override;
  // UninitializeUI, then the function finished at the DTM; S_FALSE with *ready false when either
  // refuses (the frame keeps the page).
  HRESULT PrepareToRelease(VARIANT_BOOL* ready) override;

  // ---- IPropertyPage ----
  HRESULT SetPageSite(IPropertyPageSite* site) override;
  // Makes the page dialog as a child of parent at the rectangle (hidden until Show).
  HRESULT Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  HRESULT Deactivate() override;
  // The template's size in pixels and the class's strings (task memory, the caller frees them),
  // title and help file translated where the translation file has them.
  HRESULT GetPageInfo(PROPPAGEINFO* info) override;
  HRESULT SetObjects(ULONG count, IUnknown** objects) override;
  HRESULT Show(UINT command) override;
  HRESULT Move(LPCRECT rect) override;
  HRESULT IsPageDirty() override;
  // Writes the changed entries (device or DTM as the entry's parameter wants); the first failure
  // is returned and the page stays dirty.
  HRESULT Apply() override;
  HRESULT Help(LPCOLESTR helpDirectory) override;
  // The page's keyboard rules first, then the site's accelerators.
  HRESULT TranslateAccelerator(MSG* message) override;

  // ---- IovFdtActiveXInfo ----
  // Information item 1 is the function call the page was started with (S_FALSE before Init).
  HRESULT SetInfo(VARIANT id, VARIANT* value) override;
  // Remembers the control as the page's focus window, then the base's snapshot.
  HRESULT OnControlSetFocus(UINT code, UINT controlId, HWND control) override;

  // ---- The page's own operations ----
  // The keyboard rules inside the page: TRUE when the key was handled. *state 1: the key must not
  // go on to the site.
  virtual BOOL HandleNavigationKey(MSG* message, ULONG* state);
  // Enter on the focused control: TRUE when the page took the key.
  virtual BOOL HandleEnterKey(HWND focus);
  // Replaces title and help file with the class's translated texts; S_OK without a translation.
  virtual HRESULT TranslatePageInfo(PROPPAGEINFO* info);
  // A copy of the instance id (null when no UUID could be made); E_FAIL for a null pointer.
  HRESULT GetInstanceId(BSTR* text);
  // The page-frame interface of the frame that hosts the page (its site); E_NOINTERFACE without
  // one, E_INVALIDARG for a null pointer.
  HRESULT QueryPageFrame(void** frame);

  // The page map (message-map id 0): the command filter, the remembered focus, the extended style
  // and the shared map of the base.
  using CovFDT_BaseActiveXImpl::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;
  // The WM_COMMAND notifications the page handles itself; TRUE when handled.
  BOOL OnPageCommand(WPARAM wParam, LPARAM lParam, LRESULT* result);

  // ---- State for the family and the frame ----
  const vkr::Bstr& InstanceId() const { return m_bstrInstanceId; }
  const vkr::Bstr& PageSystemTag() const { return m_bstrPageSystemTag; }
  ULONG OperationPhase() const { return m_nOperationPhase; }
  bool IsStarted() const { return m_bStarted; }
  const SPropertyPageClass& PageClass() const { return m_class; }
  HWND PageWindow() const { return m_hWnd; }
  SIZE PageSize() const { return m_sizePage; }

  // The text of string resource id of the page class; false when there is none.
  virtual bool LoadPageString(UINT id, std::u16string* text);

 protected:
  // Interfaces of the page on top of the base's; the page-frame interface goes to the site.
  void* FindInterface(REFIID riid) override;
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override;
  IUnknown* IdentityUnknown() override;
  IUnknown* OwnerUnknown() override;
  const char* TemplateText() const override { return m_class.templateText; }

  // The registration with the DTM: StartFunction (or the container's registration) under the
  // instance id, and its undoing.
  HRESULT Announce(IUnknown* dtm);
  void WithdrawAnnouncement(IUnknown* dtm);
  // Escape: the control gets back the value (and its entry the state) it had when it got the focus.
  void RestoreFocusSnapshot(HWND control);

  SPropertyPageClass m_class;
  vkr::Bstr m_bstrInstanceId;        // the page's own id; null when no UUID could be made
  vkr::Bstr m_bstrPageSystemTag;     // from Init
  vkr::Bstr m_bstrFunctionCall;      // from Init: information item 1
  vkr::ComPtr<IUnknown> m_spPageDtm; // the DTM as Init handed it over; held until destruction
  ULONG m_nOperationPhase = 0;
  ULONG m_nFlag = 1;
  bool m_bStarted = false;           // Init succeeded
  bool m_bAnnouncedByManagement = false;
  // Navigation: set while Tab entered the page; the window that had the focus when the page last
  // saw WM_SETCURSOR; set when the page gave the focus back to it.
  BOOL m_bNavigationFlag = FALSE;
  HWND m_hWndLastFocus = nullptr;
  BOOL m_bFocusRestored = FALSE;
  SIZE m_sizePage{0, 0};
  std::vector<vkr::ComPtr<IUnknown>> m_objects;  // SetObjects
};

// The page base with the page's translation event: the class every device page derives from.
class CovFDT_PropertyPageImpl : public CovFDT_BasePropertyPageImpl, public IovFdtTranslationEvent {
 public:
  explicit CovFDT_PropertyPageImpl(const SPropertyPageClass& pageClass);
  ~CovFDT_PropertyPageImpl() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_BasePropertyPageImpl::QueryInterface;

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override;

  // IovFdtTranslationEvent: the page's texts in the language (0: tear-down), through the page's
  // translation part.
  HRESULT OnTranslate(ULONG lcid) override;
  CovFDT_ActiveXTranslationPart& Translation() { return m_translation; }

  // Answers message-map id 0 only, through the page map.
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;
  using CovFDT_BaseActiveXImpl::ProcessWindowMessage;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  CovFDT_ActiveXTranslationPart m_translation;
};
