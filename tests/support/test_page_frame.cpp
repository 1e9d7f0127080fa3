// The tests' own page frame and scripted property pages.
#include "tests/support/test_page_frame.h"

#include <utility>

namespace vkr::test {

int CTestPageFrame::liveCount = 0;

namespace {

constexpr const char kFrameTemplate[] = R"(
9105 DIALOGEX 0, 0, 440, 300
STYLE DS_CONTROL | WS_CHILD | WS_VISIBLE
EXSTYLE WS_EX_CONTROLPARENT
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "Header", 217, 0, 0, 440, 60
  LTEXT "Status", 218, 0, 285, 440, 15
  DEFPUSHBUTTON "OK", 1, 100, 260, 50, 14
  PUSHBUTTON "Cancel", 2, 160, 260, 50, 14
  PUSHBUTTON "Apply", 102, 220, 260, 50, 14
  PUSHBUTTON "Help", 9, 280, 260, 50, 14
END
)";

constexpr const char kPageTemplate[] = R"(
9106 DIALOGEX 0, 0, 160, 100
STYLE DS_CONTROL | WS_CHILD
EXSTYLE WS_EX_CONTROLPARENT
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "Value", -1, 5, 7, 40, 8
  EDITTEXT 300, 50, 5, 70, 12, ES_AUTOHSCROLL
  EDITTEXT 301, 50, 25, 70, 12, ES_AUTOHSCROLL
END
)";

SCompositeControlClass TestFrameClass() {
  SCompositeControlClass cls;
  cls.dialogId = kTestFrameDialogId;
  cls.templateText = kFrameTemplate;
  return cls;
}

std::vector<CLSID>& FramePages() {
  static std::vector<CLSID> pages;
  return pages;
}
bool g_askApply = true;
DWORD g_frameCookie = 0;

}  // namespace

CTestPageFrame::CTestPageFrame()
    : CovFDT_WtlTreePPFrameImpl(CLSID_TestPageFrame, nullptr, TestFrameClass()) {
  ++liveCount;
}

CTestPageFrame::~CTestPageFrame() { --liveCount; }

HRESULT CTestPageFrame::FinalConstruct() {
  m_anControlIds = {0, kTestFrameOk, kTestFrameCancel, kTestFrameApply, kTestFrameHelp, 0};
  m_bAskApply = g_askApply ? 1 : 0;
  // The frame keeps the size of its template; the page area scrolls what does not fit.
  m_bAutoSize = 0;
  return CovFDT_WtlTreePPFrameImpl::FinalConstruct();
}

std::vector<CLSID> CTestPageFrame::PropertyMap() const { return FramePages(); }

void SetTestFramePages(std::vector<CLSID> pages) { FramePages() = std::move(pages); }
void SetTestFrameAskApply(bool ask) { g_askApply = ask; }

HRESULT RegisterTestPageFrame() {
  if (g_frameCookie) return S_OK;
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CTestPageFrame>>> factory;
  HRESULT hr = vkr::MakeObject<vkr::ClassFactory<CTestPageFrame>>(&factory);
  if (FAILED(hr)) return hr;
  return CoRegisterClassObject(CLSID_TestPageFrame, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                               REGCLS_MULTIPLEUSE, &g_frameCookie);
}

void RevokeTestPageFrame() {
  if (g_frameCookie) CoRevokeClassObject(g_frameCookie);
  g_frameCookie = 0;
}

CTestPageFrame* AsTestPageFrame(IUnknown* frame) {
  if (!frame) return nullptr;
  vkr::ComPtr<IPPFrameCtrl> control;
  if (FAILED(frame->QueryInterface(IPPFrameCtrl::iid, control.PutVoid())) || !control) return nullptr;
  return dynamic_cast<CTestPageFrame*>(static_cast<CovFDT_BasePPFrameImpl*>(control.Get()));
}

// ---- Scripted pages ---------------------------------------------------------------------------

namespace {

class CScriptedPage;
std::map<char, SPageScript>& Scripts() {
  static std::map<char, SPageScript> scripts;
  return scripts;
}
std::map<char, CScriptedPage*>& LivePageMap() {
  static std::map<char, CScriptedPage*> pages;
  return pages;
}
std::vector<DWORD> g_pageCookies;

class CScriptedPage : public vkr::atl::PropertyPage<CScriptedPage, IovFdtPropertyPageControl> {
 public:
  static constexpr UINT IDD = 9106;
  explicit CScriptedPage(char name) : m_name(name) {
    LivePageMap()[name] = this;
    Log("created");
  }
  ~CScriptedPage() override {
    if (LivePageMap()[m_name] == this) LivePageMap().erase(m_name);
  }

  const char* TemplateText() const override { return kPageTemplate; }

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

  HRESULT Init(BSTR, BSTR, IUnknown* dtm, VARIANT_BOOL* result) override {
    if (!result) return E_POINTER;
    SPageScript& script = Scripts()[m_name];
    bool ok = true;
    if (m_nInits < script.initResults.size()) ok = script.initResults[m_nInits];
    ++m_nInits;
    Log(std::string("Init") + (m_hWnd ? " window" : " no-window") + (dtm ? "" : " no-dtm") + (ok ? "" : " refused"));
    *result = ok ? VARIANT_TRUE : VARIANT_FALSE;
    return ok ? S_OK : S_FALSE;
  }
  HRESULT PrepareToRelease(VARIANT_BOOL* ready) override {
    Log("PrepareToRelease");
    if (ready) *ready = VARIANT_TRUE;
    return S_OK;
  }

  HRESULT SetPageSite(IPropertyPageSite* site) override {
    Log(site ? "SetPageSite" : "SetPageSite null");
    return PropertyPage::SetPageSite(site);
  }
  HRESULT Activate(HWND parent, LPCRECT rect, BOOL modal) override {
    Log("Activate");
    return PropertyPage::Activate(parent, rect, modal);
  }
  HRESULT Deactivate() override {
    Log("Deactivate");
    return PropertyPage::Deactivate();
  }
  HRESULT GetPageInfo(PROPPAGEINFO* info) override {
    if (!info) return E_POINTER;
    const SPageScript& script = Scripts()[m_name];
    *info = PROPPAGEINFO{};
    info->cb = sizeof(PROPPAGEINFO);
    info->size = script.size;
    info->pszTitle = vkr::CoTaskMemString(script.title);
    return S_OK;
  }
  HRESULT SetObjects(ULONG count, IUnknown** objects) override {
    Log("SetObjects " + std::to_string(count));
    return PropertyPage::SetObjects(count, objects);
  }
  HRESULT Show(UINT command) override {
    Log("Show " + std::to_string(command));
    return PropertyPage::Show(command);
  }
  HRESULT IsPageDirty() override { return Scripts()[m_name].dirty ? S_OK : S_FALSE; }
  HRESULT Apply() override {
    SPageScript& script = Scripts()[m_name];
    Log("Apply");
    if (script.applyResult == S_OK) script.dirty = false;
    return script.applyResult;
  }

  // The frame's notice after Help and Apply (WM_COMMAND with code 0x430 from the frame).
  BOOL ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM, LRESULT& result, DWORD) override {
    if (message != WM_COMMAND || HIWORD(wParam) != 0x430) return FALSE;
    Log("focus notice");
    result = 0;
    return TRUE;
  }

  void MakeDirty() {
    Scripts()[m_name].dirty = true;
    if (m_pPageSite) m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
  }
  HWND Window() const { return m_hWnd; }

 private:
  void Log(const std::string& what) { PageLog().push_back(std::string(1, m_name) + " " + what); }
  char m_name;
  std::size_t m_nInits = 0;
};

class CScriptedPageFactory : public vkr::Implements<IClassFactory> {
 public:
  explicit CScriptedPageFactory(char name) : m_name(name) {}
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    return vkr::CreateObject<CScriptedPage>(outer, riid, ppv, m_name);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  char m_name;
};

}  // namespace

CLSID ScriptedPageClass(char name) {
  CLSID clsid = vkr::MakeGuid("5D2E8B41-7A0C-4F93-B6E1-0C9D8A7B6F40");
  clsid.Data4[7] = static_cast<unsigned char>(0x40 + (name - 'A'));
  return clsid;
}

void SetPageScript(char name, SPageScript script) {
  Scripts()[name] = std::move(script);
  PageLog().clear();
}
SPageScript& PageScript(char name) { return Scripts()[name]; }

std::vector<std::string>& PageLog() {
  static std::vector<std::string> log;
  return log;
}

int LivePages() { return static_cast<int>(LivePageMap().size()); }

HWND ScriptedPageWindow(char name) {
  auto it = LivePageMap().find(name);
  return it == LivePageMap().end() ? nullptr : it->second->Window();
}

void MakePageDirty(char name) {
  auto it = LivePageMap().find(name);
  if (it != LivePageMap().end()) it->second->MakeDirty();
}

HRESULT RegisterScriptedPages() {
  if (!g_pageCookies.empty()) return S_OK;
  for (char name = 'A'; name <= 'D'; ++name) {
    vkr::ComPtr<IUnknown> factory;
    HRESULT hr = vkr::CreateObject<CScriptedPageFactory>(nullptr, IID_IUnknown, factory.PutVoid(), name);
    DWORD cookie = 0;
    if (SUCCEEDED(hr))
      hr = CoRegisterClassObject(ScriptedPageClass(name), factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                 &cookie);
    if (FAILED(hr)) return hr;
    g_pageCookies.push_back(cookie);
  }
  return S_OK;
}

void RevokeScriptedPages() {
  for (DWORD cookie : g_pageCookies) CoRevokeClassObject(cookie);
  g_pageCookies.clear();
}

}  // namespace vkr::test
