// The frame host's window for a lone property page of the DTM.
#include "frame/PageHost.h"

#include <algorithm>
#include <string>

#include "frame/ActiveXHost.h"
#include "frame/FrameContainer.h"
#include "frame/Quiet.h"

// The DTM toolkit's interfaces the host calls on a page and on the DTM, as the DTM's type library
// describes them. They are declared exactly as the DTM declares them (same names, same members),
// so a page's object and the DTM's are of the type the call names.
//
// The start and release of a property page, called by the page frame that hosts it: Init after
// the page was made (system tag, the function-call document the frame was opened with, the DTM),
// PrepareToRelease before the frame lets it go (*ready FALSE: the page must be kept).
struct IovFdtPropertyPageControl : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5D2C8E41-7B3A-4F16-A0C9-E4B7D1F3A203");
  using Base = IDispatch;
  virtual HRESULT Init(BSTR systemTag, BSTR functionCall, IUnknown* dtm, VARIANT_BOOL* result) = 0;  // 7
  virtual HRESULT PrepareToRelease(VARIANT_BOOL* ready) = 0;                                         // 8
};

// The entry of every numbered DTM message (user interfaces, the DTM thread, workers).
struct IovFdtDtmEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A02");
  using Base = IDispatch;
  virtual HRESULT DtmMessage(VARIANT id, VARIANT argument) = 0;  // 7
};

namespace vkr::frame {

namespace {

constexpr ULONG kGoOnline = 10;

constexpr char16_t kPageSystemTag[] = u"page-1";

class HostPageSite : public Implements<IPropertyPageSite> {
 public:
  HRESULT OnStatusChange(DWORD) override { return S_OK; }
  HRESULT GetLocaleID(LCID* id) override {
    if (!id) return E_POINTER;
    *id = 1033;
    return S_OK;
  }
  HRESULT GetPageContainer(IUnknown** container) override {
    if (container) *container = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TranslateAccelerator(MSG*) override { return S_FALSE; }
};

// The descendant of window with the control id, depth first.
HWND FindControl(HWND window, int id) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) == id) return child;
    if (HWND inner = FindControl(child, id)) return inner;
  }
  return nullptr;
}

bool Online(const FrameContainer* frame) {
  return frame && std::find(frame->reportedStates.begin(), frame->reportedStates.end(), "online") !=
                      frame->reportedStates.end();
}

}  // namespace

PageHost::~PageHost() {
  bool closed = false;
  Close(&closed);
}

bool PageHost::TakeOnline(IUnknown* dtm, FrameContainer* frame) {
  ComPtr<IovFdtDtmEvents> messages;
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtDtmEvents::iid, messages.PutVoid())) || !messages) return false;
  VARIANT none = EmptyVariant();
  messages->DtmMessage(UI4(kGoOnline), none);
  // The DTM tells its open user interfaces that it is online just after it is; what opens next
  // comes after all of that, so it does not read all its values twice.
  WaitUntilQuiet();
  return Online(frame);
}

bool PageHost::IsPropertyPage(REFCLSID clsid) {
  ComPtr<IPropertyPage> page;
  return SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, page.PutVoid())) &&
         page;
}

HRESULT PageHost::Open(IUnknown* dtm, FrameContainer* frame, REFCLSID clsid, BSTR functionCall, DWORD waitMs) {
  if (!dtm) return E_POINTER;
  if (m_page) return E_UNEXPECTED;
  m_dtm = dtm;

  // Online first: the page reads the device only while the DTM is online.
  if (TakeOnline(dtm, frame)) record.push_back("online");

  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, m_page.PutVoid());
  if (FAILED(hr)) return hr;
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  hr = m_page->GetPageInfo(&info);
  if (FAILED(hr)) return hr;
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);

  m_window = CreateWindowExW(WS_EX_CONTROLPARENT, FrameWindowClass(), u"", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0,
                             0, info.size.cx, info.size.cy, nullptr, nullptr, nullptr, nullptr);
  if (!m_window) return HRESULT_FROM_WIN32(GetLastError());
  ComPtr<ComObject<HostPageSite>> site;
  if (FAILED(hr = MakeObject<HostPageSite>(&site))) return hr;
  m_site = site.Get();
  if (FAILED(hr = m_page->SetPageSite(m_site.Get()))) return hr;
  const RECT area{0, 0, info.size.cx, info.size.cy};
  if (FAILED(hr = m_page->Activate(m_window, &area, FALSE))) return hr;

  ComPtr<IovFdtPropertyPageControl> start;
  if (FAILED(m_page->QueryInterface(IovFdtPropertyPageControl::iid, start.PutVoid())) || !start) return E_NOINTERFACE;
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = start->Init(Bstr(kPageSystemTag), functionCall, dtm, &ok);
  record.push_back(std::string("init -> ") + (SUCCEEDED(hr) && ok ? "1" : "0"));
  if (FAILED(hr)) return hr;
  if (!ok) return S_FALSE;
  if (FAILED(hr = m_page->Show(SW_SHOW))) return hr;
  WaitUntilQuiet(waitMs);
  return S_OK;
}

HRESULT PageHost::Click(int controlId, DWORD waitMs) {
  if (!m_window) return E_UNEXPECTED;
  HWND control = FindControl(m_window, controlId);
  if (!control) return E_INVALIDARG;
  vkr::ui::Click(control);
  record.push_back("clicked " + std::to_string(controlId));
  WaitUntilQuiet(waitMs);
  return S_OK;
}

HRESULT PageHost::Close(bool* closed) {
  if (closed) *closed = true;
  if (!m_page) return S_OK;
  ComPtr<IovFdtPropertyPageControl> start;
  VARIANT_BOOL ready = VARIANT_TRUE;
  if (SUCCEEDED(m_page->QueryInterface(IovFdtPropertyPageControl::iid, start.PutVoid())) && start) {
    if (FAILED(start->PrepareToRelease(&ready))) ready = VARIANT_FALSE;
  }
  record.push_back(std::string("prepare -> ") + (ready ? "1" : "0"));
  if (closed) *closed = ready != VARIANT_FALSE;
  m_page->Show(SW_HIDE);
  m_page->Deactivate();
  m_page->SetPageSite(nullptr);
  m_page.Reset();
  m_site.Reset();
  if (m_window && IsWindow(m_window)) DestroyWindow(m_window);
  m_window = nullptr;
  m_dtm.Reset();
  vkr::ui::PumpUntilIdle();
  return S_OK;
}

}  // namespace vkr::frame
