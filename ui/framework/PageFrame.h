// CovFDT_BasePPFrameImpl: the page frame. An ActiveX control of the dialog-control family that
// hosts a set of property pages in one window, is their page site, routes the keyboard between
// the pages and its own buttons, and carries out OK, Cancel, Apply and Help for all pages at once.
//
// The pages come from the concrete class's property map (PropertyMap, served as
// ISpecifyPropertyPages); each is created once, by class id, in process, gets the frame as its
// site and the client object (the DTM the frame was started with, or SetClientObject's), and is
// activated as a hidden child of the page area before it is started through
// IovFdtPropertyPageControl::Init. The frame shows one page at a time.
//
// The concrete class fills the control-id table in FinalConstruct: [0] the page area (the window
// the pages are children of), [1] OK, [2] Cancel, [3] Apply, [4] Help, [5] the page selector; an id
// of 0 means the frame has no such control. Every look-up goes through the frame's GetDlgItem,
// which also finds controls nested in the frame's child windows.
//
// Closing: OK and Cancel detach the pages (site and objects) and post the close request; the frame
// host then releases the frame (PrepareToRelease -> UninitializeUI), which asks the user about
// unapplied pages unless OK or Cancel already ran. A failed OK keeps everything: the failing page
// is shown and selected, and the frame stays open and answers "may not close".
//
// Everything runs on the frame's thread; nothing is locked.
#pragma once

#include <array>
#include <vector>

#include "include/ActiveXInterfaces.h"
#include "platform/platform.h"
#include "ui/framework/ActiveXControl.h"

// Indices of the frame's control-id table.
enum EFrameControl : int {
  kFramePageArea = 0,
  kFrameOk = 1,
  kFrameCancel = 2,
  kFrameApply = 3,
  kFrameHelp = 4,
  kFrameSelector = 5,
  kFrameControlCount = 6,
};

// The notification code of the WM_COMMAND the frame sends every child of the page area after Help
// and Apply: the pages restore their focus and button looks on it.
inline constexpr WORD kPageFocusNotification = 0x430;
// Toolkit messages of the frame's question about unapplied pages.
inline constexpr ULONG kToolkitWarning = 4001;
inline constexpr ULONG kToolkitApplyChanges = 4002;
// The question's style: Yes, No, Cancel with the question icon.
inline constexpr UINT kApplyQuestionStyle = 0x23;
// What Cancel answers when the frame stays open (the user cancelled, or applying failed).
inline constexpr LRESULT kCancelKeptOpen = 2;
// The DTM message that brackets the frame's Apply (audit trail on -1, off 0).
inline constexpr ULONG kFrameAuditTrailMessage = 52;

class CovFDT_BasePPFrameImpl : public CovFDT_IDtmActiveXControlImpl,
                               public IPPFrameCtrl,
                               public IPPFrameStyle,
                               public _IMessageMediatorEvents,
                               public IPropertyPageSite,
                               public ISpecifyPropertyPages {
 public:
  CovFDT_BasePPFrameImpl(const CLSID& clsid, ParameterMapFunction parameterMap, const SCompositeControlClass& cls);
  ~CovFDT_BasePPFrameImpl() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_IDtmActiveXControlImpl::QueryInterface;

  // IDispatch of the frame's dual interfaces: the base's answers.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  // Called once by the class factory after the constructor; the concrete class fills the
  // control-id table and its options here (a failure fails the creation).
  virtual HRESULT FinalConstruct() { return S_OK; }

  // The page classes of the concrete frame, in page order.
  virtual std::vector<CLSID> PropertyMap() const { return {}; }

  // ===== IPPFrameCtrl, IPPFrameStyle ============================================================
  HRESULT SetClientObject(IUnknown* object) override;
  HRESULT SetFrameOption(LONG value) override;
  HRESULT SetCaption(BSTR text) override;
  HRESULT SetHelpInfo(LONG value, BSTR text) override;
  HRESULT GetButtonWindow(ULONG index, HWND* window) override;
  HRESULT EnableButton(ULONG index, BOOL enable) override;
  HRESULT ShowButton(ULONG index, LONG show) override;
  HRESULT SetButtonText(ULONG index, LPCWSTR text) override;

  // ===== The message mediator's event ===========================================================
  // S_OK (0): the frame took the key; anything else: the host loop goes on with it. The frame as
  // such routes nothing; the tree layer does.
  HRESULT OnMessageMediatorEvent(MSG* message) override;

  // ===== IPropertyPageSite ======================================================================
  // A dirty page enables Apply while the frame applies.
  HRESULT OnStatusChange(DWORD flags) override;
  HRESULT GetLocaleID(LCID* locale) override;
  HRESULT GetPageContainer(IUnknown** container) override;
  // The frame's accelerators, for the pages (IPropertyPageSite) and the frame host
  // (IOleInPlaceActiveObject) alike: Tab and Enter by the frame's rules, the rest as any control.
  HRESULT TranslateAccelerator(MSG* message) override;

  // ===== ISpecifyPropertyPages ==================================================================
  HRESULT GetPages(CAUUID* pages) override;

  // ===== IovFdtActiveX4 =========================================================================
  // Command 9984 also rebuilds the page selector and checks the cyclic update first.
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override;
  // The control's start, then the pages: created, activated hidden in the page area, laid out,
  // started; the first started page shown. *ok is TRUE when at least one page started and the
  // mediator (when there is one) listens.
  HRESULT InitializeUI(IUnknown* client, VARIANT_BOOL* ok) override;
  // Asks about unapplied pages unless OK or Cancel ran; when the user keeps the frame (or
  // applying failed) S_FALSE with *mayClose FALSE and nothing released. Otherwise the pages are
  // released and the control's end follows.
  HRESULT UninitializeUI(VARIANT_BOOL* mayClose) override;
  // Hands every hosted display control the DTM's translation interface.
  HRESULT OnLanguageCommand(VARIANT argument) override;

  // The window goes: the pages and the mediator are let go as at the end of UninitializeUI.
  HRESULT InPlaceDeactivate() override;
  // A start abandoned: the pages and the mediator go (they hold the frame).
  void AbandonUserInterface() override;

  // IOleObject::GetExtent: with auto-size the largest page plus the margins.
  HRESULT GetExtent(DWORD aspect, SIZEL* size) override;

  // ===== Window operations =====================================================================
  // Creates every page of the property map once: S_OK, S_FALSE when a page could not be created
  // or set up (it is left out or kept without information) or the map is empty, E_POINTER without
  // a client object.
  virtual HRESULT CreatePages();
  // Fills the page selector and sizes the frame (the frame as such: nothing).
  virtual HRESULT LayoutPages();
  // Gives the default push-button look to the first visible, enabled, not owner-drawn button in
  // the order OK, Cancel, Apply, Help (reversed when forward is FALSE); the others lose it.
  virtual HRESULT SetDefaultButton(BOOL forward);
  virtual HRESULT FocusFirstButton();
  // Rebuilds the page selector from the pages (command 9984); the frame as such has none.
  virtual HRESULT RebuildPageSelector() { return S_OK; }
  // Makes the selector show page `index` as the current one (a failed OK's page).
  virtual void SelectPageInSelector(LONG index);

  // OK, Cancel, Apply and Help for all pages. OK: S_OK when closed (or closing), the failure when
  // applying failed (the failing page is shown and the frame stays). Cancel: 0, or
  // kCancelKeptOpen when the user cancelled the question or applying failed. Apply: S_OK, or
  // E_FAIL when a page failed (shown, Apply enabled again).
  virtual HRESULT FrameOK();
  virtual LRESULT FrameCancel();
  virtual HRESULT FrameApply();
  virtual HRESULT FrameHelp();

  // A control of the frame by dialog id, found also inside the frame's child windows.
  HWND GetDlgItem(int id) const;
  // Asks the page again for its information: made before the pages had the DTM, it held the
  // untranslated title. The old information stays when the page cannot answer.
  void RefreshPageInfo(ULONG index);
  // The frame control of a table index (null when the id is 0 or the control is missing).
  HWND FrameControl(int index) const;
  // Help's broadcast: when the child is visible and enabled, WM_HELP to it, then WM_COMMAND
  // (frame id, kPageFocusNotification) to every child of the page area.
  HRESULT BroadcastFocusCommand(int childId);
  // The frame's text of a toolkit message: the DTM's translation, else the built-in English text
  // of 4001 and 4002, else null. E_POINTER for a null out.
  HRESULT GetFrameMessageText(ULONG id, BSTR* text);

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  using CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage;

  // ===== State for tests and layers ============================================================
  ULONG PageCount() const { return m_nPageCount; }
  IPropertyPage* Page(ULONG index) const { return index < m_nPageCount ? m_ppPages[index] : nullptr; }
  IPropertyPage* CurrentPage() const { return m_pCurrentPage; }
  LONG CurrentPageIndex() const;
  bool IsPageInitialised(ULONG index) const { return index < m_vbPageInitialised.size() && m_vbPageInitialised[index]; }
  bool IsClosing() const { return m_bClosing != 0; }
  IUnknown* ClientObject() const { return m_pClient; }
  const std::array<UINT, kFrameControlCount>& ControlIds() const { return m_anControlIds; }

 protected:
  void* FindInterface(REFIID riid) override;
  // The frame translates its items through its own look-up.
  HWND TranslationItem(LONG controlId) override { return GetDlgItem(static_cast<int>(controlId)); }

  // Starts page `index` through IovFdtPropertyPageControl::Init (activating it first when it has
  // no window yet); true when it started (it is marked initialised).
  bool InitializePage(ULONG index, bool withFunctionCall);
  // Hides the current page (if any) and makes page `index` current and shown.
  void ShowPage(ULONG index);
  // SetPageSite(null) and SetObjects(0) for the pages the frame gave them to.
  void DetachPages();
  // The first page that reports itself dirty; -1 when none.
  LONG FirstDirtyPage() const;
  // Applies every dirty page in order; at the first failure that page is shown and selected and
  // its index returned in *failed (else -1). S_OK or E_FAIL.
  HRESULT ApplyPages(LONG* failed);
  // Activates page `index` as a hidden child of the page area at its own size (once).
  HRESULT ActivatePage(ULONG index);
  // Stops the mediator, tells every started page to release, detaches and deactivates the pages.
  void ReleasePages();
  // Releases the page objects, their information and the flags (destruction, or a failed creation).
  void FreePages();
  bool IsUsableButton(HWND button) const;

  // Settings.
  LONG m_nMarginX = 20;
  LONG m_nMarginY = 124;
  BYTE m_bAutoSize = 1;
  // The pages.
  ULONG m_nPageCount = 0;
  IPropertyPage** m_ppPages = nullptr;   // owned references; a page that could not be made is null
  IPropertyPage* m_pCurrentPage = nullptr;
  PROPPAGEINFO* m_pPageInfo = nullptr;   // task memory, one per page
  BYTE* m_pbPageFlag = nullptr;
  BYTE* m_pbSiteSet = nullptr;
  BYTE* m_pbObjectsSet = nullptr;
  bool m_bPagesCreated = false;          // the page arrays exist: pages are made once
  std::vector<bool> m_vbPageActivated;   // the page has its window in the page area
  LONG m_bAskApply = 1;
  IUnknown* m_pClient = nullptr;         // owned
  vkr::Bstr m_bstrCaption;
  LONG m_nApplyOption = 1;
  vkr::Bstr m_bstrHelpText;
  LONG m_nHelpValue = 0;
  BYTE m_bClosing = 0;
  BYTE m_bNoClosePost = 0;
  // OK or Apply is writing the pages, or the pages act on a button of the frame (a second click
  // waits for it, and the frame is not let go meanwhile).
  bool m_bApplying = false;
  vkr::ComPtr<IMessageMediator> m_pMediator;
  DWORD m_dwMediatorCookie = 0;
  bool m_bMediatorStarted = false;
  BYTE m_bBareInitAfterFirst = 0;
  std::vector<bool> m_vbPageInitialised;
  std::array<UINT, kFrameControlCount> m_anControlIds{};
};
