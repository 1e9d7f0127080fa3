// The lifecycle run's release of the communication against a DTM that says late, or never, that it
// is prepared: the frame waits for the word before IDtm::ReleaseCommunication, and a word that
// never comes ends the wait in bounded time with a clear failure, the DTM still released.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "include/FdtInterfaces.h"
#include "frame/FrameHost.h"
#include "frame/LifecycleHost.h"
#include "tests/support/temp_files.h"

namespace {

constexpr CLSID kFakeDtmClass = vkr::MakeGuid("5A1E7C3D-2B4F-4E61-9D08-7F3C2A1B6E90");
constexpr char kFakeDtmProgId[] = "Test.LateDtm";

// How long the fake DTM takes to tell the frame that the communication may be released; never
// when negative.
int g_noticeDelayMs = -1;

// A DTM that accepts every call, ends an upload at once, and reports the prepared release of its
// communication after g_noticeDelayMs. It records whether the frame released the communication
// before it said so.
class LateDtm : public vkr::Implements<IDtm, IDtm2, IPersistStreamInit, IDtmOnlineParameter> {
 public:
  static inline LateDtm* s_live = nullptr;
  static inline bool s_releasedEarly = false;
  static inline bool s_released = false;

  LateDtm() { s_live = this; }
  ~LateDtm() override {
    if (s_timer) KillTimer(nullptr, s_timer);
    s_timer = 0;
    s_live = nullptr;
  }

  HRESULT GetTypeInfoCount(UINT* n) override {
    if (n) *n = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

  // IPersistStreamInit
  HRESULT GetClassID(CLSID* id) override {
    if (id) *id = kFakeDtmClass;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(IStream*) override { return E_NOTIMPL; }
  HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT InitNew() override { return S_OK; }

  // IDtm, IDtm2
  HRESULT Environment(BSTR, IFdtContainer*, VARIANT_BOOL* r) override { return Yes(r); }
  HRESULT Environment2(BSTR tag, IFdtContainer* container, BSTR, VARIANT_BOOL* r) override {
    m_tag = vkr::Bstr(vkr::View(tag));
    if (container) container->QueryInterface(IDtmEvents::iid, m_events.PutVoid());
    return Yes(r);
  }
  HRESULT InitNew(BSTR, VARIANT_BOOL* r) override { return Yes(r); }
  HRESULT Config(BSTR, VARIANT_BOOL* r) override { return Yes(r); }
  HRESULT SetCommunication(IFdtCommunication*, VARIANT_BOOL* r) override { return Yes(r); }
  HRESULT PrepareToRelease(VARIANT_BOOL* r) override {
    m_events = nullptr;
    return Yes(r);
  }
  HRESULT PrepareToReleaseCommunication(VARIANT_BOOL* r) override {
    if (g_noticeDelayMs >= 0) s_timer = SetTimer(nullptr, 0, static_cast<UINT>(g_noticeDelayMs), &Notice);
    return Yes(r);
  }
  HRESULT ReleaseCommunication(VARIANT_BOOL* r) override {
    s_released = true;
    if (!m_told) s_releasedEarly = true;
    return Yes(r);
  }
  HRESULT PrepareToDelete(VARIANT_BOOL* r) override { return Yes(r); }
  HRESULT SetLanguage(LCID, VARIANT_BOOL* r) override { return Yes(r); }
  HRESULT GetFunctions(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT InvokeFunctionRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrivateDialogEnabled(VARIANT_BOOL, VARIANT_BOOL* r) override { return Yes(r); }
  HRESULT SetSystemGuiLabel(BSTR, VARIANT_BOOL* r) override { return Yes(r); }

  // IDtmOnlineParameter: the upload ends at once.
  HRESULT CancelAction(BSTR, VARIANT_BOOL* r) override { return Yes(r); }
  HRESULT DownloadRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT UploadRequest(BSTR invokeId, BSTR, VARIANT_BOOL* r) override {
    if (m_events) m_events->OnUploadFinished(invokeId, VARIANT_TRUE);
    return Yes(r);
  }

 private:
  static HRESULT Yes(VARIANT_BOOL* r) {
    if (!r) return E_POINTER;
    *r = VARIANT_TRUE;
    return S_OK;
  }
  static void Notice(HWND, UINT, UINT_PTR, DWORD) {
    KillTimer(nullptr, s_timer);
    s_timer = 0;
    if (!s_live || !s_live->m_events) return;
    s_live->m_told = true;
    s_live->m_events->OnPreparedToReleaseCommunication(s_live->m_tag.Get());
  }

  static inline UINT_PTR s_timer = 0;
  vkr::ComPtr<IDtmEvents> m_events;
  vkr::Bstr m_tag;
  bool m_told = false;
};

class LifecycleRelease : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    vkr::ComPtr<IClassFactory> factory;
    ASSERT_EQ(vkr::CreateObject<vkr::ClassFactory<LateDtm>>(nullptr, IID_IClassFactory, factory.PutVoid()), S_OK);
    ASSERT_EQ(CoRegisterClassObject(kFakeDtmClass, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie),
              S_OK);
    OLECHAR clsid[40];
    StringFromGUID2(kFakeDtmClass, clsid, 40);
    const std::string key = std::string(kFakeDtmProgId) + "\\CLSID", text = vkr::Utf16ToUtf8(clsid);
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
    RegCloseKey(h);
  }
  void TearDown() override {
    CoRevokeClassObject(m_cookie);
    CoUninitialize();
  }

  vkr::test::ScopedRegistry registry;
  DWORD m_cookie = 0;
};

TEST_F(LifecycleRelease, TheFrameWaitsForThePreparedReleaseAndGivesUpInBoundedTime) {
  // Long enough that a loaded machine does not reach it where the notice comes.
  constexpr DWORD kLimit = 2000;
  struct Case {
    int noticeDelayMs;
    HRESULT result;
    const char* failedStep;
  };
  const Case cases[] = {
      {0, S_OK, ""},
      {100, S_OK, ""},
      {-1, HRESULT_FROM_WIN32(ERROR_TIMEOUT), "IDtmEvents::OnPreparedToReleaseCommunication did not come within 2000 ms"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "notice after " << c.noticeDelayMs << " ms");
    g_noticeDelayMs = c.noticeDelayMs;
    LateDtm::s_releasedEarly = false;
    LateDtm::s_released = false;
    std::vector<std::string> lines;
    std::string step;
    const auto start = std::chrono::steady_clock::now();
    const HRESULT hr = vkr::frame::RunLifecycle(u"Test.LateDtm", &lines, &step, kLimit);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    EXPECT_EQ(hr, c.result) << all;
    EXPECT_EQ(step, c.failedStep) << all;
    // The communication is released in every case: after the DTM said it may be, or, when it
    // never says so, after the wait.
    EXPECT_TRUE(LateDtm::s_released) << all;
    EXPECT_EQ(LateDtm::s_releasedEarly, c.noticeDelayMs < 0) << all;
    EXPECT_NE(all.find("IDtm::ReleaseCommunication: 0x00000000 (S_OK), result TRUE, state 8 (dsCONFIGURED)\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("state 3 (dsPREPAREDTORELEASE)\n"), std::string::npos) << all;
    EXPECT_NE(all.find("\nreleased\n"), std::string::npos) << all;
    if (hr == S_OK) {
      EXPECT_NE(all.find("  frame: prepared to release communication VKR-1\n"), std::string::npos) << all;
      EXPECT_LT(took.count(), static_cast<long long>(kLimit)) << all;
    } else {
      EXPECT_NE(all.find(std::string(c.failedStep) + ": 0x800705B4 (ERROR_TIMEOUT)"), std::string::npos) << all;
      EXPECT_GE(took.count(), static_cast<long long>(kLimit)) << all;
      EXPECT_LT(took.count(), static_cast<long long>(kLimit) + 3000) << all;
    }
  }
}

}  // namespace
