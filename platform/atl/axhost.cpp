// The control host window and the hosted dialog items.
#include "platform/atl/axhost.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/com/apartment.h"
#include "platform/com/classes.h"
#include "platform/win/lasterror.h"
#include "platform/com/holders.h"
#include "platform/com/object.h"
#include "platform/ui/dialogs.h"
#include "platform/win/module.h"

namespace {

std::atomic<UINT> g_hostMessage{0};
std::atomic<UINT> g_controlMessage{0};

class AxHost : public vkr::Implements<IOleClientSite, IOleInPlaceSite, IOleControlSite, IDispatch> {
 public:
  HWND hwnd = nullptr;
  vkr::ComPtr<IUnknown> control;
  vkr::ComPtr<IOleObject> oleObject;
  vkr::ComPtr<IOleInPlaceObject> inPlace;
  vkr::ComPtr<IOleInPlaceActiveObject> active;
  vkr::atl::HostSettings settings;
  std::vector<std::string> record;
  bool inPlaceActive = false;
  bool torn = false;

  // ---- IOleWindow / IOleInPlaceSite ----
  HRESULT GetWindow(HWND* phwnd) override {
    if (!phwnd) return E_POINTER;
    *phwnd = hwnd;
    return hwnd ? S_OK : E_FAIL;
  }
  HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT CanInPlaceActivate() override { return hwnd ? S_OK : S_FALSE; }
  HRESULT OnInPlaceActivate() override {
    record.push_back("OnInPlaceActivate");
    inPlaceActive = true;
    if (control && !inPlace) control->QueryInterface(IOleInPlaceObject::iid, inPlace.PutVoid());
    return S_OK;
  }
  HRESULT OnUIActivate() override {
    record.push_back("OnUIActivate");
    return S_OK;
  }
  HRESULT GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                           LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) override {
    if (ppFrame) *ppFrame = nullptr;
    if (ppDoc) *ppDoc = nullptr;
    RECT client{};
    GetClientRect(hwnd, &client);
    if (lprcPosRect) *lprcPosRect = client;
    if (lprcClipRect) *lprcClipRect = client;
    if (lpFrameInfo) {
      lpFrameInfo->cb = sizeof(OLEINPLACEFRAMEINFO);
      lpFrameInfo->fMDIApp = FALSE;
      lpFrameInfo->hwndFrame = GetAncestor(hwnd, GA_ROOT);
      lpFrameInfo->haccel = nullptr;
      lpFrameInfo->cAccelEntries = 0;
    }
    return S_OK;
  }
  HRESULT Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT OnUIDeactivate(BOOL) override {
    record.push_back("OnUIDeactivate");
    return S_OK;
  }
  HRESULT OnInPlaceDeactivate() override {
    record.push_back("OnInPlaceDeactivate");
    inPlaceActive = false;
    return S_OK;
  }
  HRESULT DiscardUndoState() override { return S_OK; }
  HRESULT DeactivateAndUndo() override { return S_OK; }
  HRESULT OnPosRectChange(LPCRECT rect) override {
    if (!rect) return E_POINTER;
    if (inPlace) inPlace->SetObjectRects(rect, rect);
    return S_OK;
  }

  // ---- IOleClientSite ----
  HRESULT SaveObject() override { return S_OK; }
  HRESULT GetMoniker(DWORD, DWORD, IMoniker** ppmk) override {
    if (ppmk) *ppmk = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetContainer(IOleContainer** ppContainer) override {
    if (ppContainer) *ppContainer = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT ShowObject() override { return S_OK; }
  HRESULT OnShowWindow(BOOL) override { return S_OK; }
  HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

  // ---- IOleControlSite ----
  HRESULT OnControlInfoChanged() override { return S_OK; }
  HRESULT LockInPlaceActive(BOOL) override { return S_OK; }
  HRESULT GetExtendedControl(IDispatch** ppDisp) override {
    if (ppDisp) *ppDisp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(MSG* pMsg, DWORD grfModifiers) override {
    if (!pMsg) return E_POINTER;
    char line[96];
    std::snprintf(line, sizeof line, "TranslateAccelerator %u %u mods %u", pMsg->message,
                  static_cast<unsigned>(pMsg->wParam), static_cast<unsigned>(grfModifiers));
    record.push_back(line);
    if (settings.onAccelerator) return settings.onAccelerator(pMsg, grfModifiers);
    return S_FALSE;
  }
  HRESULT OnFocus(BOOL) override { return S_OK; }
  HRESULT ShowPropertyFrame() override { return E_NOTIMPL; }

  // ---- IDispatch: the ambient properties ----
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    VariantInit(result);
    switch (id) {
      case DISPID_AMBIENT_USERMODE:
        result->vt = VT_BOOL;
        result->boolVal = settings.userMode ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
      case DISPID_AMBIENT_BACKCOLOR:
        result->vt = VT_I4;
        result->lVal = static_cast<LONG>(settings.backColor);
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  // Makes, initialises and activates the control in this host's window.
  HRESULT Activate(REFCLSID clsid, const std::vector<BYTE>& initData) {
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, control.PutVoid());
    if (FAILED(hr)) return hr;
    if (!control) return E_UNEXPECTED;
    control->QueryInterface(IOleObject::iid, oleObject.PutVoid());
    DWORD misc = 0;
    if (oleObject) oleObject->GetMiscStatus(DVASPECT_CONTENT, &misc);
    IOleClientSite* site = this;
    if (oleObject && (misc & OLEMISC_SETCLIENTSITEFIRST)) {
      hr = oleObject->SetClientSite(site);
      if (FAILED(hr)) return hr;
    }
    vkr::ComPtr<IPersistStreamInit> persist;
    control->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
    if (persist) {
      if (initData.empty()) {
        hr = persist->InitNew();
      } else {
        vkr::ComPtr<IStream> stream;
        hr = vkr::CreateMemoryStream(initData.data(), initData.size(), stream.Put());
        if (SUCCEEDED(hr)) hr = persist->Load(stream.Get());
      }
      if (FAILED(hr)) return hr;
    }
    if (oleObject && !(misc & OLEMISC_SETCLIENTSITEFIRST)) {
      hr = oleObject->SetClientSite(site);
      if (FAILED(hr)) return hr;
    }
    control->QueryInterface(IOleInPlaceActiveObject::iid, active.PutVoid());
    if (oleObject) {
      RECT client{};
      GetClientRect(hwnd, &client);
      if (client.right <= client.left || client.bottom <= client.top) {
        // An empty host takes the control's own size.
        SIZEL natural{};
        if (SUCCEEDED(oleObject->GetExtent(DVASPECT_CONTENT, &natural))) {
          const SIZE px = vkr::HimetricToPixels(natural);
          SetWindowPos(hwnd, nullptr, 0, 0, px.cx, px.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
          GetClientRect(hwnd, &client);
        }
      } else {
        SIZEL extent = vkr::PixelsToHimetric(SIZE{client.right - client.left, client.bottom - client.top});
        oleObject->SetExtent(DVASPECT_CONTENT, &extent);
      }
      hr = oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, hwnd, &client);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  // Lets the control go: deactivated, without its site, closed. Runs once.
  void TearDown() {
    if (torn) return;
    torn = true;
    vkr::ComPtr<IUnknown> keep = control;
    if (inPlace) inPlace->InPlaceDeactivate();
    if (oleObject) {
      oleObject->Close(OLECLOSE_NOSAVE);
      oleObject->SetClientSite(nullptr);
    }
    active = nullptr;
    inPlace = nullptr;
    oleObject = nullptr;
    control = nullptr;
  }

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_hostMessage.load() && message != 0)
      return reinterpret_cast<LRESULT>(static_cast<IOleClientSite*>(this));
    if (message == g_controlMessage.load() && message != 0) return reinterpret_cast<LRESULT>(control.Get());
    switch (message) {
      case WM_FORWARDMSG: {
        MSG* msg = reinterpret_cast<MSG*>(lParam);
        if (!msg || !active) return 0;
        vkr::ComPtr<IOleInPlaceActiveObject> keep = active;
        return keep->TranslateAccelerator(msg) == S_OK ? 1 : 0;
      }
      case WM_SIZE: {
        if (!oleObject) break;
        const RECT rect{0, 0, static_cast<LONG>(LOWORD(static_cast<DWORD>(lParam))),
                        static_cast<LONG>(HIWORD(static_cast<DWORD>(lParam)))};
        SIZEL extent = vkr::PixelsToHimetric(SIZE{rect.right, rect.bottom});
        oleObject->SetExtent(DVASPECT_CONTENT, &extent);
        if (inPlace) inPlace->SetObjectRects(&rect, &rect);
        return 0;
      }
      case WM_SETFOCUS: {
        HWND inner = nullptr;
        if (inPlace && SUCCEEDED(inPlace->GetWindow(&inner)) && inner && IsWindow(inner)) SetFocus(inner);
        return 0;
      }
      default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
};

AxHost* HostOf(HWND hwnd) {
  if (!hwnd) return nullptr;
  WCHAR name[16] = {};
  if (GetClassNameW(hwnd, name, 16) == 0) return nullptr;
  if (std::u16string_view(name) != kAtlAxWinClassName) return nullptr;
  return static_cast<AxHost*>(vkr::ui::GetWindowObject(hwnd));
}

LRESULT HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message == WM_NCCREATE || message == WM_CREATE) && !vkr::ui::GetWindowObject(hwnd)) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* host = static_cast<AxHost*>(cs ? cs->lpCreateParams : nullptr);
    if (host) {
      host->hwnd = hwnd;
      host->AddRef();  // the window's reference, given back at WM_NCDESTROY
      vkr::ui::SetWindowObject(hwnd, host);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  auto* host = static_cast<AxHost*>(vkr::ui::GetWindowObject(hwnd));
  if (!host) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    host->TearDown();
    host->hwnd = nullptr;
    vkr::ui::SetWindowObject(hwnd, nullptr);
    LRESULT r = DefWindowProcW(hwnd, message, wParam, lParam);
    host->Release();
    return r;
  }
  vkr::ComPtr<IOleClientSite> keep(host);  // the host outlives a dispatch that destroys it
  return host->Handle(message, wParam, lParam);
}

HRESULT ClassFromText(std::u16string_view text, CLSID* clsid) {
  const std::u16string owned(text);
  if (!owned.empty() && owned.front() == u'{')
    return SUCCEEDED(CLSIDFromString(owned.c_str(), clsid)) ? S_OK : REGDB_E_CLASSNOTREG;
  return SUCCEEDED(CLSIDFromProgID(owned.c_str(), clsid)) ? S_OK : REGDB_E_CLASSNOTREG;
}

}  // namespace

UINT AtlGetHostMessage() { return g_hostMessage.load(); }
UINT AtlGetControlMessage() { return g_controlMessage.load(); }

BOOL AtlAxWinInit() {
  static std::once_flag once;
  static BOOL registered = FALSE;
  std::call_once(once, [] {
    g_hostMessage = RegisterWindowMessageW(u"WM_ATLGETHOST");
    g_controlMessage = RegisterWindowMessageW(u"WM_ATLGETCONTROL");
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = &HostWindowProc;
    wc.hInstance = vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(&HostWindowProc));
    wc.lpszClassName = kAtlAxWinClassName;
    registered = RegisterClassExW(&wc) != 0;
    vkr::ui::SetHostedItemCreator([](HWND dialog, HINSTANCE, const vkr::ui::DialogItemTemplate& item,
                                     const RECT& rect, HRESULT* failure) -> HWND {
      HWND host = nullptr;
      vkr::ComPtr<IUnknown> control;
      HRESULT hr = vkr::atl::CreateHostedControl(dialog, item.className, static_cast<int>(item.id), item.style,
                                                 item.exStyle, rect, item.initData, &host, control.Put());
      if (FAILED(hr)) {
        if (failure) *failure = hr;
        return nullptr;
      }
      return host;
    });
  });
  return registered;
}

HRESULT AtlAxGetHost(HWND hwnd, IUnknown** host) {
  if (!host) return E_POINTER;
  *host = nullptr;
  AxHost* h = HostOf(hwnd);
  if (!h) return E_FAIL;
  return h->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(host));
}

HRESULT AtlAxGetControl(HWND hwnd, IUnknown** control) {
  if (!control) return E_POINTER;
  *control = nullptr;
  AxHost* h = HostOf(hwnd);
  if (!h || !h->control) return E_FAIL;
  return h->control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(control));
}

HRESULT GetDlgControl(HWND dialog, int id, REFIID iid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  HWND item = GetDlgItem(dialog, id);
  if (!item) return E_FAIL;
  const UINT message = g_controlMessage.load();
  if (message == 0) return E_FAIL;
  auto* control = reinterpret_cast<IUnknown*>(SendMessageW(item, message, 0, 0));
  if (!control) return E_FAIL;
  return control->QueryInterface(iid, ppv);
}

namespace vkr::atl {

HRESULT CreateHostedControl(HWND parent, std::u16string_view classText, int id, DWORD style, DWORD exStyle,
                            const RECT& rect, const std::vector<BYTE>& initData, HWND* hostOut,
                            IUnknown** controlOut) {
  if (hostOut) *hostOut = nullptr;
  if (controlOut) *controlOut = nullptr;
  CLSID clsid{};
  HRESULT hr = ClassFromText(classText, &clsid);
  if (FAILED(hr)) return hr;
  AtlAxWinInit();
  ComPtr<ComObject<AxHost>> host;
  hr = MakeObject<AxHost>(&host);
  if (FAILED(hr)) return hr;
  HWND hwnd = CreateWindowExW(exStyle, kAtlAxWinClassName, u"", style | WS_CHILD, rect.left, rect.top,
                              rect.right - rect.left, rect.bottom - rect.top, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr,
                              static_cast<AxHost*>(host.Get()));
  if (!hwnd) return HRESULT_FROM_WIN32(GetLastError());
  hr = host->Activate(clsid, initData);
  if (FAILED(hr)) {
    DestroyWindow(hwnd);
    return hr;
  }
  if (hostOut) *hostOut = hwnd;
  if (controlOut && host->control) host->control.CopyTo(controlOut);
  return S_OK;
}

HRESULT CreateHostedControl(HWND parent, REFCLSID clsid, int id, DWORD style, const RECT* rect,
                            const std::vector<BYTE>& initData, HWND* hostOut, IUnknown** controlOut) {
  OLECHAR braced[40] = {};
  if (StringFromGUID2(clsid, braced, 40) == 0) return E_INVALIDARG;
  RECT area{};
  if (rect)
    area = *rect;
  else
    GetClientRect(parent, &area);
  return CreateHostedControl(parent, std::u16string_view(braced), id, style, 0, area, initData, hostOut,
                             controlOut);
}

bool SetHostSettings(HWND hwnd, const HostSettings& settings) {
  AxHost* host = HostOf(hwnd);
  if (!host) return false;
  host->settings = settings;
  if (host->oleObject) {
    ComPtr<IOleControl> control;
    if (SUCCEEDED(host->oleObject->QueryInterface(IOleControl::iid, control.PutVoid())) && control)
      control->OnAmbientPropertyChange(DISPID_UNKNOWN);
  }
  return true;
}

std::vector<std::string> HostRecord(HWND hwnd) {
  AxHost* host = HostOf(hwnd);
  return host ? host->record : std::vector<std::string>{};
}

}  // namespace vkr::atl
