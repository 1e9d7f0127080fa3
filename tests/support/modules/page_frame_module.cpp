// A module of user interfaces for the frame host to show as it shows the DTM's own: one class, a
// page frame with test pages, registered and created as a DTM module's classes are (its four
// entry points, the registry, the class factory). `vkr-frame register <this module>` and then
// `vkr-frame ui --class VornTest.PageFrame` open it through the frame's IFdtActiveXHost with the
// real DTM and render it to a PNG; the frame itself knows nothing of the framework behind it.
#include <atomic>
#include <string>

#include "include/FdtInterfaces.h"
#include "platform/platform.h"
#include "ui/framework/PageFrameSplitters.h"

namespace {

constexpr CLSID CLSID_TestPageFrame = vkr::MakeGuid("5E0C7A31-2B9D-4F6E-A8C4-7D1B3E9F0A52");
constexpr char kClsidText[] = "{5E0C7A31-2B9D-4F6E-A8C4-7D1B3E9F0A52}";
constexpr char kProgId[] = "VornTest.PageFrame";
constexpr char kDescription[] = "Vorn test page frame";

std::atomic<LONG> g_locks{0};

// The page frame: a tree of pages on the left, the page side with its scroll bars on the right,
// a header above and the frame's buttons and status line below.
class CTestPageFrame : public vkr::atl::CompositeControl<CTestPageFrame, IDtmActiveXControl> {
 public:
  static constexpr UINT IDD = 105;
  static void ModuleLock() { ++g_locks; }
  static void ModuleUnlock() { --g_locks; }

  const char* TemplateText() const override {
    return "105 DIALOGEX 0, 0, 400, 260\n"
           "STYLE DS_CONTROL | WS_CHILD | WS_CLIPCHILDREN\n"
           "FONT 8, \"MS Sans Serif\"\n"
           "BEGIN\n"
           "  LTEXT \"Test pages\", 217, 0, 0, 10, 10, WS_BORDER\n"
           "  LTEXT \"Ready\", 218, 0, 0, 10, 10, WS_BORDER\n"
           "  DEFPUSHBUTTON \"OK\", 1, 0, 0, 50, 14\n"
           "  PUSHBUTTON \"Cancel\", 2, 0, 0, 50, 14\n"
           "  PUSHBUTTON \"Apply\", 102, 0, 0, 50, 14, WS_DISABLED\n"
           "  PUSHBUTTON \"Help\", 9, 0, 0, 50, 14\n"
           "END\n";
  }
  CLSID ObjectClsid() const override { return CLSID_TestPageFrame; }

  BEGIN_MSG_MAP(CTestPageFrame)
    MESSAGE_HANDLER(WM_INITDIALOG, OnInitDialog)
    MESSAGE_HANDLER(WM_SIZE, OnSize)
  END_MSG_MAP()

  LRESULT OnInitDialog(UINT, WPARAM, LPARAM, BOOL&) {
    RECT all{};
    GetClientRect(&all);
    m_vert.Create(m_hWnd, all, nullptr, 0x56010000, WS_EX_CONTROLPARENT);
    m_hor.Create(m_vert.m_hWnd, all, nullptr, 0x56010000, WS_EX_CONTROLPARENT);
    m_tree = ::CreateWindowExW(WS_EX_CLIENTEDGE, u"SysTreeView32", nullptr, 0x56010007, 0, 0, 0, 0, m_vert.m_hWnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(516)), nullptr, nullptr);
    m_vert.SetSplitterExtendedStyle(0);
    m_vert.SetSplitterPanes(m_tree, m_hor.m_hWnd, false);
    m_vert.m_cxySplitBar = 5;
    m_vert.m_bFullDrag = false;
    m_vert.SetSplitterPos(170);
    m_hor.m_cxySplitBar = -4;
    m_hor.SetSplitterExtendedStyle(SPLIT_NONINTERACTIVE);
    for (const char* title : {"First test page", "Second test page"}) {
      TVINSERTSTRUCTA insert{};
      insert.hParent = TVI_ROOT;
      insert.hInsertAfter = TVI_LAST;
      insert.item.mask = TVIF_TEXT;
      insert.item.pszText = const_cast<char*>(title);
      ::SendMessageW(m_tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert));
    }
    m_page = ::CreateWindowExW(WS_EX_CONTROLPARENT, u"STATIC", u"(the test page goes here)", WS_CHILD | WS_VISIBLE | WS_BORDER,
                               0, 0, 360, 260, m_hor.m_hPageArea, nullptr, nullptr, nullptr);
    m_hor.SetContentSize(360, 260);
    Layout();
    return TRUE;
  }

  LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL&) {
    Layout();
    return 0;
  }

  // The frame's generic layout, from its own client size.
  void Layout() {
    if (!m_vert.m_hWnd) return;
    RECT rc{};
    GetClientRect(&rc);
    const int w = rc.right, h = rc.bottom;
    ::MoveWindow(GetDlgItem(218), 0, std::max(h - 24, 0), w, 24, TRUE);
    ::MoveWindow(GetDlgItem(217), 0, 0, w, 105, TRUE);
    const int ids[] = {1, 2, 102, 9};
    int x = std::max((w - 4 * 91 + 9) / 2 + 7, 7);
    for (int id : ids) {
      ::MoveWindow(GetDlgItem(id), x, h - 64, 75, 23, TRUE);
      ::ShowWindow(GetDlgItem(id), h >= 64 ? SW_SHOW : SW_HIDE);
      x += 91;
    }
    const RECT s = PageFrameSplitterRect(w, h);
    ::MoveWindow(m_vert.m_hWnd, s.left, s.top, s.right - s.left, s.bottom - s.top, TRUE);
  }

  // IDispatch
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  // IDtmActiveXControl
  HRESULT Init(BSTR, BSTR, IDtm* dtm, VARIANT_BOOL* result) override {
    if (!result) return E_POINTER;
    m_dtm = dtm;
    *result = dtm ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override {
    if (!result) return E_POINTER;
    m_dtm = nullptr;
    *result = VARIANT_TRUE;
    return S_OK;
  }

 private:
  CDottedVertSplitter m_vert;
  CPageFrameHorSplitter m_hor;
  HWND m_tree = nullptr;
  HWND m_page = nullptr;
  vkr::ComPtr<IDtm> m_dtm;
};

LSTATUS SetText(const std::string& path, const char* name, const std::string& value) {
  HKEY key = nullptr;
  LSTATUS r = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (r != ERROR_SUCCESS) return r;
  r = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return r;
}

}  // namespace

#define VKR_EXPORT extern "C" __attribute__((visibility("default")))

VKR_EXPORT HRESULT DllCanUnloadNow() { return g_locks.load() == 0 ? S_OK : S_FALSE; }

VKR_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualGUID(clsid, CLSID_TestPageFrame)) return CLASS_E_CLASSNOTAVAILABLE;
  return vkr::CreateObject<vkr::ClassFactory<CTestPageFrame>>(nullptr, riid, ppv);
}

VKR_EXPORT HRESULT DllRegisterServer() {
  char path[1024] = {};
  if (!GetModuleFileNameA(vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(&DllRegisterServer)), path,
                          sizeof path))
    return E_FAIL;
  const std::string key = std::string("CLSID\\") + kClsidText;
  const LSTATUS r[] = {SetText(key, nullptr, kDescription), SetText(key + "\\InprocServer32", nullptr, path),
                       SetText(key + "\\InprocServer32", "ThreadingModel", "Apartment"),
                       SetText(key + "\\ProgID", nullptr, kProgId), SetText(kProgId, nullptr, kDescription),
                       SetText(std::string(kProgId) + "\\CLSID", nullptr, kClsidText)};
  for (LSTATUS s : r)
    if (s != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<ULONG>(s));
  return S_OK;
}

VKR_EXPORT HRESULT DllUnregisterServer() {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + kClsidText).c_str());
  RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgId);
  return S_OK;
}
