// The frame's hosting of the DTM's user interfaces.
#include "frame/ActiveXHost.h"

#include <algorithm>
#include <mutex>

#include "frame/FrameHost.h"
#include "frame/HostUtilities.h"
#include "frame/controls/OutsideControls.h"

namespace vkr::frame {

namespace {

// The start and release of a DTM's property page, as the DTM's type library describes it: a
// frame that shows one page of a DTM on its own starts it as the DTM's page frames do. The frame
// has no declaration of the DTM's interface, so it calls it as a client without headers calls a
// COM interface: through the slots of its table (7 Init, 8 PrepareToRelease, after IDispatch).
constexpr IID kPageStartIid = vkr::MakeGuid("5D2C8E41-7B3A-4F16-A0C9-E4B7D1F3A203");
struct PageStartSlots {
  void* unknownAndDispatch[7];
  HRESULT (*init)(void* self, BSTR systemTag, BSTR functionCall, IUnknown* dtm, VARIANT_BOOL* result);
  HRESULT (*prepareToRelease)(void* self, VARIANT_BOOL* ready);
};

// The page's start interface (one reference, released by the holder), null when it has none.
class PageStart {
 public:
  explicit PageStart(IUnknown* page) {
    if (page && FAILED(page->QueryInterface(kPageStartIid, &m_interface))) m_interface = nullptr;
  }
  ~PageStart() {
    if (m_interface) static_cast<IUnknown*>(m_interface)->Release();
  }
  PageStart(const PageStart&) = delete;
  PageStart& operator=(const PageStart&) = delete;
  explicit operator bool() const { return m_interface != nullptr; }
  HRESULT Init(BSTR systemTag, BSTR functionCall, IUnknown* dtm, VARIANT_BOOL* result) {
    return Slots()->init(m_interface, systemTag, functionCall, dtm, result);
  }
  HRESULT PrepareToRelease(VARIANT_BOOL* ready) { return Slots()->prepareToRelease(m_interface, ready); }

 private:
  const PageStartSlots* Slots() const { return *static_cast<const PageStartSlots* const*>(m_interface); }
  void* m_interface = nullptr;
};

thread_local std::vector<ActiveXHost*> t_hosts;
thread_local bool t_filterInstalled = false;

LRESULT FrameWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE) {
    // The host window fills the frame window.
    if (HWND host = GetWindow(hwnd, GW_CHILD))
      MoveWindow(host, 0, 0, LOWORD(static_cast<DWORD>(lParam)), HIWORD(static_cast<DWORD>(lParam)), TRUE);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::string ClassText(REFCLSID clsid) {
  OLECHAR text[40] = {};
  StringFromGUID2(clsid, text, 40);
  return Utf16ToUtf8(text);
}

// The frame's site of a property page shown on its own: it keeps nothing of what the page tells.
class PageSite : public Implements<IPropertyPageSite> {
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

// Starts a property page in the host window: the site, the page's window at its own size, the
// DTM as its object, the page's start, then shown.
HRESULT StartPage(IPropertyPage* page, HWND host, IUnknown* dtm, const std::string& invokeId,
                  const std::u16string& functionCall, VARIANT_BOOL* started) {
  *started = VARIANT_FALSE;
  ComPtr<ComObject<PageSite>> site;
  HRESULT hr = MakeObject<PageSite>(&site);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = page->SetPageSite(site.Get()))) return hr;
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  if (FAILED(hr = page->GetPageInfo(&info))) return hr;
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);
  SetWindowPos(host, nullptr, 0, 0, info.size.cx, info.size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  const RECT rect{0, 0, info.size.cx, info.size.cy};
  if (FAILED(hr = page->Activate(host, &rect, FALSE))) return hr;
  IUnknown* objects[] = {dtm};
  if (FAILED(hr = page->SetObjects(1, objects))) return hr;
  PageStart start(page);
  if (!start) return E_NOINTERFACE;
  if (FAILED(hr = start.Init(Bstr(Utf8ToUtf16(invokeId)), Bstr(functionCall), dtm, started))) return hr;
  if (!*started) return S_FALSE;
  return page->Show(SW_SHOW);
}

// The page's release: asked first (FALSE keeps it), then its window and site go.
bool StopPage(IUnknown* control, bool ask) {
  ComPtr<IPropertyPage> page;
  if (!control || FAILED(control->QueryInterface(IPropertyPage::iid, page.PutVoid())) || !page) return true;
  if (ask) {
    PageStart start(page.Get());
    VARIANT_BOOL ready = VARIANT_TRUE;
    if (start && (FAILED(start.PrepareToRelease(&ready)) || !ready)) return false;
  }
  page->Show(SW_HIDE);
  page->Deactivate();
  page->SetObjects(0, nullptr);
  page->SetPageSite(nullptr);
  return true;
}

bool IsInputMessage(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

}  // namespace

const char16_t* FrameWindowClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = &FrameWindowProc;
    wc.lpszClassName = u"VkrFrameWindow";
    RegisterClassExW(&wc);
  });
  return u"VkrFrameWindow";
}

void InstallHostLoopFilter() {
  if (t_filterInstalled) return;
  t_filterInstalled = true;
  vkr::ui::AddMessageFilter([](MSG* msg) { return RunMessageMediators(msg) || TranslateForOpenControls(msg); });
}

bool TranslateForOpenControls(MSG* msg) {
  if (!msg || !msg->hwnd || !IsInputMessage(msg->message)) return false;
  const std::vector<ActiveXHost*> hosts = t_hosts;
  for (ActiveXHost* host : hosts) {
    if (std::find(t_hosts.begin(), t_hosts.end(), host) == t_hosts.end()) continue;
    for (const ActiveXHost::OpenControl& open : host->OpenControls()) {
      if (msg->hwnd != open.window && !IsChild(open.window, msg->hwnd)) continue;
      ComPtr<IOleInPlaceActiveObject> active;
      if (!open.control || FAILED(open.control->QueryInterface(IOleInPlaceActiveObject::iid, active.PutVoid())) ||
          !active)
        return false;
      return active->TranslateAccelerator(msg) == S_OK;
    }
  }
  return false;
}

std::u16string FunctionCallDocument(LONG functionId) {
  return u"<FDT xmlns=\"x-schema:DTMFunctionCallSchema.xml\" xmlns:func=\"x-schema:DTMFunctionsSchema.xml\">"
         u"<FDTFunctionCall func:functionId=\"" +
         Utf8ToUtf16(std::to_string(functionId)) + u"\"/></FDT>";
}

ActiveXHost::~ActiveXHost() { CloseAll(); }

const ActiveXHost::OpenControl* ActiveXHost::Find(const std::string& invokeId) const {
  for (const OpenControl& open : m_open) {
    if (open.invokeId == invokeId) return &open;
  }
  return nullptr;
}

HRESULT ActiveXHost::Open(IUnknown* dtm, BSTR functionCall, VARIANT_BOOL* opened) {
  if (!opened) return E_POINTER;
  *opened = VARIANT_FALSE;
  if (!dtm) return E_UNEXPECTED;
  ComPtr<IDtmActiveXInformation> information;
  if (FAILED(dtm->QueryInterface(IDtmActiveXInformation::iid, information.PutVoid())) || !information)
    return E_NOINTERFACE;
  Bstr classId;
  HRESULT hr = information->GetActiveXGuid(functionCall, classId.Put());
  if (FAILED(hr)) return hr;
  CLSID clsid{};
  if (hr != S_OK || classId.Empty() || FAILED(CLSIDFromString(classId, &clsid))) {
    record.push_back("no user interface");
    return S_FALSE;
  }
  return OpenClass(dtm, clsid, functionCall, opened);
}

HRESULT ActiveXHost::OpenClass(IUnknown* dtm, REFCLSID clsid, BSTR functionCall, VARIANT_BOOL* opened) {
  if (!opened) return E_POINTER;
  *opened = VARIANT_FALSE;
  InstallHostLoopFilter();
  if (std::find(t_hosts.begin(), t_hosts.end(), this) == t_hosts.end()) t_hosts.push_back(this);

  OpenControl open;
  open.invokeId = NewInvokeId();
  open.functionCall = functionCall ? std::u16string(functionCall, SysStringLen(functionCall)) : std::u16string();
  open.clsid = clsid;
  record.push_back("open " + ClassText(clsid) + " " + open.invokeId);

  open.window = CreateWindowExW(0, FrameWindowClass(), u"", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0,
                                nullptr, nullptr, nullptr, nullptr);
  if (!open.window) return HRESULT_FROM_WIN32(GetLastError());
  // An empty host takes the control's own size; the frame window follows.
  const RECT empty{0, 0, 0, 0};
  HRESULT hr = vkr::atl::CreateHostedControl(open.window, clsid, 1, WS_VISIBLE, &empty, {}, &open.host,
                                             open.control.Put());
  if (FAILED(hr)) {
    record.push_back("control not made: " + ResultText(hr));
    DestroyWindow(open.window);
    return hr;
  }
  RECT size{};
  GetWindowRect(open.host, &size);
  SetWindowPos(open.window, nullptr, 0, 0, size.right - size.left, size.bottom - size.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  ComPtr<IDtmActiveXControl> ui;
  ComPtr<IPropertyPage> page;
  if ((FAILED(open.control->QueryInterface(IDtmActiveXControl::iid, ui.PutVoid())) || !ui) &&
      SUCCEEDED(open.control->QueryInterface(IPropertyPage::iid, page.PutVoid())) && page) {
    // A property page of the DTM, shown on its own in the frame window.
    m_open.push_back(open);
    VARIANT_BOOL ok = VARIANT_FALSE;
    hr = StartPage(page.Get(), open.host, dtm, open.invokeId, open.functionCall, &ok);
    record.push_back("init " + open.invokeId + " -> " + (SUCCEEDED(hr) && ok ? "1" : "0"));
    RECT pageSize{};
    GetWindowRect(open.host, &pageSize);
    SetWindowPos(open.window, nullptr, 0, 0, pageSize.right - pageSize.left, pageSize.bottom - pageSize.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (FAILED(hr) || !ok) {
      auto it = std::find_if(m_open.begin(), m_open.end(), [&](const OpenControl& o) { return o.invokeId == open.invokeId; });
      if (it != m_open.end()) {
        OpenControl failed = std::move(*it);
        m_open.erase(it);
        StopPage(failed.control.Get(), false);
        Destroy(std::move(failed));
      }
      return FAILED(hr) ? hr : S_FALSE;
    }
    *opened = VARIANT_TRUE;
    return S_OK;
  }
  if (!ui) {
    record.push_back("not a DTM user interface");
    Destroy(std::move(open));
    return E_NOINTERFACE;
  }
  ComPtr<IDtm> idtm;
  dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  const Bstr invokeId(Utf8ToUtf16(open.invokeId));
  const Bstr call(open.functionCall);
  // Listed before Init, so that a close the control asks for meanwhile finds it.
  m_open.push_back(open);
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = ui->Init(invokeId, call, idtm.Get(), &ok);
  record.push_back("init " + open.invokeId + " -> " + (SUCCEEDED(hr) && ok ? "1" : "0"));
  if (FAILED(hr) || !ok) {
    auto it = std::find_if(m_open.begin(), m_open.end(), [&](const OpenControl& o) { return o.invokeId == open.invokeId; });
    if (it != m_open.end()) {
      OpenControl failed = std::move(*it);
      m_open.erase(it);
      Destroy(std::move(failed));
    }
    return FAILED(hr) ? hr : S_FALSE;
  }
  *opened = VARIANT_TRUE;
  return S_OK;
}

HRESULT ActiveXHost::Close(BSTR invokeId, VARIANT_BOOL* closed) {
  if (!closed) return E_POINTER;
  *closed = VARIANT_FALSE;
  const std::string id = invokeId ? Utf16ToUtf8(std::u16string_view(invokeId, SysStringLen(invokeId))) : "";
  auto it = std::find_if(m_open.begin(), m_open.end(), [&](const OpenControl& o) { return o.invokeId == id; });
  if (it == m_open.end()) return E_INVALIDARG;
  ComPtr<IUnknown> control = it->control;  // lives through the calls below
  ComPtr<IDtmActiveXControl> ui;
  VARIANT_BOOL mayClose = VARIANT_TRUE;
  if (SUCCEEDED(control->QueryInterface(IDtmActiveXControl::iid, ui.PutVoid())) && ui) {
    HRESULT hr = ui->PrepareToRelease(&mayClose);
    if (FAILED(hr)) mayClose = VARIANT_FALSE;
  } else if (!StopPage(control.Get(), true)) {
    mayClose = VARIANT_FALSE;
  }
  record.push_back("prepare " + id + " -> " + (mayClose ? "1" : "0"));
  if (!mayClose) return S_OK;
  // The control may have been closed meanwhile (a nested request): look again.
  it = std::find_if(m_open.begin(), m_open.end(), [&](const OpenControl& o) { return o.invokeId == id; });
  if (it == m_open.end()) {
    *closed = VARIANT_TRUE;
    return S_OK;
  }
  OpenControl leaving = std::move(*it);
  m_open.erase(it);
  HRESULT hr = Destroy(std::move(leaving));
  *closed = VARIANT_TRUE;
  return hr;
}

void ActiveXHost::CloseAll() {
  while (!m_open.empty()) {
    OpenControl leaving = std::move(m_open.back());
    m_open.pop_back();
    StopPage(leaving.control.Get(), false);
    Destroy(std::move(leaving));
  }
  auto it = std::find(t_hosts.begin(), t_hosts.end(), this);
  if (it != t_hosts.end()) t_hosts.erase(it);
}

HRESULT ActiveXHost::Destroy(OpenControl control) {
  ComPtr<IOleInPlaceObject> inPlace;
  if (control.control && SUCCEEDED(control.control->QueryInterface(IOleInPlaceObject::iid, inPlace.PutVoid())) &&
      inPlace)
    inPlace->InPlaceDeactivate();
  // The host window lets the control go (Close, no site) when it is destroyed with the frame window.
  if (control.window && IsWindow(control.window)) DestroyWindow(control.window);
  record.push_back("closed " + control.invokeId);
  return S_OK;
}

}  // namespace vkr::frame
