// Fakes around the DTM thread: a DTM and a frame that live on the test thread and record what the
// DTM thread and the workers ask of them, a thread manager over them, and pumping helpers. Every
// call the fakes receive must arrive on the test thread (the DTM's apartment); a call on another
// thread is counted in `wrongThread`.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>

#include "tests/support/stub_base_dtm.h"
#include "include/CommunicationInterfaces.h"
#include "module/CDtmThread.h"
#include "dtm/CovFDT_ThreadManagerImpl.h"
#include "include/DtmThreadInterfaces.h"
#include "include/TranslationInterfaces.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/threading.h"

namespace vkr::test {

// Every method of the DTM's interfaces that the DTM thread may call, failing with E_NOTIMPL.
class StubDtm : public vkr::Implements<IovFdtBaseDTM, IovFdtDtmEvents, IovFdtOnlineParameter, IovFdtParameterHandler4,
                                       IovSdaHandler, IDtm, IovFdtCommClientOnlineState, IovFDTGenericCommService,
                                       IovFdtTranslation, IovFdtActiveXContainer> {
 public:
  VKR_TEST_DISPATCH
  // IovFdtBaseDTM
  VKR_STUB_BASE_DTM
  // IovFdtDtmEvents
  HRESULT DtmMessage(VARIANT, VARIANT) override { return E_NOTIMPL; }
  // IovFdtOnlineParameter
  HRESULT UploadParameterList(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT DownloadParameterList(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT CancelOnlineParameters(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  // IovFdtParameterHandler4
  VKR_STUB_PARAMETER_HANDLER
  // IovSdaHandler
  HRESULT HandleItemListRequest(BSTR) override { return E_NOTIMPL; }
  HRESULT HandleReadRequest(VARIANT) override { return E_NOTIMPL; }
  HRESULT HandleWriteRequest(VARIANT) override { return E_NOTIMPL; }
  HRESULT HandleCancelRequest(VARIANT) override { return E_NOTIMPL; }
  // IDtm
  HRESULT Environment(BSTR, IFdtContainer*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT InitNew(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT Config(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SetCommunication(IFdtCommunication*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrepareToRelease(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrepareToReleaseCommunication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ReleaseCommunication(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrepareToDelete(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SetLanguage(LCID, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetFunctions(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT InvokeFunctionRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT PrivateDialogEnabled(VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
  // IovFdtCommClientOnlineState
  HRESULT GoOnline(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GoOffline(VARIANT_BOOL*) override { return E_NOTIMPL; }
  // IovFDTGenericCommService
  HRESULT RequestService(BSTR, VARIANT, VARIANT, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SendGenericRequest(BSTR, VARIANT, BSTR, VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SendGenericRequestAsync(IUnknown*, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT CancelGenericRequest(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  // IovFdtTranslation
  HRESULT GetTranslation(BSTR, BSTR*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetLanguageCount(LONG*) override { return E_NOTIMPL; }
  HRESULT GetLanguageId(LONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT LoadTranslationXml(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT HasTranslationNode(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  // IovFdtActiveXContainer
  HRESULT GetFunctionList(BSTR*) override { return E_NOTIMPL; }
  HRESULT StartOrFinishFunction(BSTR, IUnknown*) override { return E_NOTIMPL; }
  HRESULT NotifyStateChanged(ULONG) override { return E_NOTIMPL; }
  HRESULT ReportErrorToActiveX(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT BroadcastToActiveX(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT CloseUserInterface(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetFunctionCallDocument(LONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT SetFunctionEnabled(LONG, BOOL) override { return E_NOTIMPL; }
  HRESULT ShowUserMessage(BSTR, BSTR, VARIANT, LONG*) override { return E_NOTIMPL; }
  HRESULT CloseAllUserInterfaces(VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ReadFunctionKeys() override { return E_NOTIMPL; }
  HRESULT ReadFunctionEntry(BSTR, HKEY, LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetFunctionText(BSTR, LONG, BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT OpenUserInterface(LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }

};

// The DTM: state, system tag "TAG", and a journal of the calls ("msg 48 bool:0", "upload U1 P",
// "read 7", ...). Interfaces in `hidden` are not answered.
class FakeDtm : public StubDtm {
 public:
  Journal journal;
  DWORD owner = GetCurrentThreadId();
  int wrongThread = 0;
  std::set<IID> hidden;
  EDtmState state = dsCOMMUNICATIONSET;
  // Transfers: the answer and a hook that runs inside the call (before it answers).
  HRESULT transferResult = S_OK;
  VARIANT_BOOL transferSuccess = VARIANT_TRUE;
  std::function<HRESULT(bool upload, const std::string& invokeId)> onTransfer;
  // Cyclic reads: the answer and a hook that runs inside the read.
  VARIANT_BOOL readAnswer = VARIANT_TRUE;
  std::function<void(ULONG id)> onRead;
  VARIANT_BOOL onlineOk = VARIANT_TRUE;
  HRESULT offlineResult = S_OK;
  std::u16string functions = u"<FDT/>";
  std::u16string translation;  // empty: no text found
  vkr::ComPtr<IUnknown> genericSink;

  void Check() {
    if (GetCurrentThreadId() != owner) ++wrongThread;
  }

  std::function<void()> onGetState;  // runs before each answer
  HRESULT GetDTMState(EDtmState* s) override {
    Check();
    if (onGetState) onGetState();
    *s = state;
    return S_OK;
  }
  HRESULT SetDTMState(EDtmState s) override {
    Check();
    journal.Add("state " + std::to_string(s));
    state = s;
    return S_OK;
  }
  HRESULT GetSystemTag(BSTR* tag) override {
    Check();
    *tag = SysAllocString(u"TAG");
    return S_OK;
  }
  HRESULT DtmMessage(VARIANT id, VARIANT argument) override {
    Check();
    journal.Add("msg " + std::to_string(id.ulVal) + " " + Show(argument));
    return S_OK;
  }
  HRESULT Transfer(bool upload, BSTR parameters, BSTR invokeId, VARIANT_BOOL* success) {
    Check();
    journal.Add(std::string(upload ? "upload " : "download ") + Text(invokeId) + " " + Text(parameters));
    HRESULT hr = transferResult;
    if (onTransfer) hr = onTransfer(upload, Text(invokeId));
    *success = transferSuccess;
    return hr;
  }
  HRESULT UploadParameterList(BSTR parameters, BSTR invokeId, VARIANT_BOOL* success) override {
    return Transfer(true, parameters, invokeId, success);
  }
  HRESULT DownloadParameterList(BSTR parameters, BSTR invokeId, VARIANT_BOOL* success) override {
    return Transfer(false, parameters, invokeId, success);
  }
  HRESULT CancelOnlineParameters(BSTR invokeId, VARIANT_BOOL* done) override {
    Check();
    journal.Add("cancel " + Text(invokeId));
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT UploadOnlineParameters(BSTR parameters, VARIANT_BOOL* success) override {
    BSTR none = nullptr;
    return Transfer(true, parameters, none, success);
  }
  HRESULT CancelTransfer(VARIANT_BOOL* done) override {
    Check();
    journal.Add("handler cancel");
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT ReadDeviceParameter(VARIANT id, VARIANT_BOOL* result) override {
    Check();
    journal.Add("read " + std::to_string(id.ulVal));
    *result = readAnswer;
    if (onRead) onRead(id.ulVal);
    return S_OK;
  }
  HRESULT HandleItemListRequest(BSTR invokeId) override {
    Check();
    journal.Add("sda items " + Text(invokeId));
    return S_OK;
  }
  HRESULT HandleReadRequest(VARIANT request) override {
    Check();
    journal.Add("sda read " + Show(request));
    return S_OK;
  }
  HRESULT HandleWriteRequest(VARIANT request) override {
    Check();
    journal.Add("sda write " + Show(request));
    return S_OK;
  }
  HRESULT HandleCancelRequest(VARIANT argument) override {
    Check();
    journal.Add("sda cancel " + Show(argument));
    return S_OK;
  }
  HRESULT GetFunctions(BSTR phase, BSTR* out) override {
    Check();
    journal.Add(std::string("functions") + (Text(phase).find("\t\toperationPhase=\"notSupported\"") != std::string::npos ? "" : " bad"));
    *out = SysAllocString(functions.c_str());
    return S_OK;
  }
  HRESULT GoOnline(VARIANT_BOOL* ok) override {
    Check();
    journal.Add("comm online");
    *ok = onlineOk;
    return S_OK;
  }
  HRESULT GoOffline(VARIANT_BOOL* ok) override {
    Check();
    journal.Add("comm offline");
    *ok = VARIANT_TRUE;
    return offlineResult;
  }
  HRESULT SendGenericRequestAsync(IUnknown* sink, VARIANT* handle, VARIANT_BOOL* done) override {
    Check();
    journal.Add("generic async");
    genericSink = sink;
    VariantClear(handle);
    handle->vt = VT_BSTR;
    handle->bstrVal = SysAllocString(u"H1");
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT CancelGenericRequest(VARIANT handle, VARIANT_BOOL* done) override {
    Check();
    journal.Add("generic cancel " + Show(handle));
    *done = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT GetTranslation(BSTR xpath, BSTR* text, VARIANT_BOOL* found) override {
    Check();
    journal.Add("translate " + Text(xpath));
    *text = translation.empty() ? nullptr : SysAllocString(translation.c_str());
    *found = translation.empty() ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
  }
  HRESULT BroadcastToActiveX(VARIANT id, VARIANT argument) override {
    Check();
    journal.Add("broadcast " + Show(id) + " " + Show(argument));
    return S_OK;
  }
  HRESULT ReportErrorToActiveX(LPCWSTR text) override {
    Check();
    journal.Add("ui error " + Text(vkr::Bstr(text)));
    return S_OK;
  }

 protected:
  void* FindInterface(REFIID riid) override {
    if (hidden.count(riid)) return nullptr;
    return StubDtm::FindInterface(riid);
  }
};

// The frame: its container, IDtmEvents and the state-event interface, recording into its own
// journal ("frame upload U1 1", "frame error TAG text", ...).
class FakeFrame : public StubContainer<IDtmEvents, IFrameDtmStateEvents> {
 public:
  Journal journal;
  DWORD owner = GetCurrentThreadId();
  int wrongThread = 0;
  std::set<IID> hidden;
  HRESULT progressResult = S_OK;

  void Add(const std::string& e) {
    if (GetCurrentThreadId() != owner) ++wrongThread;
    journal.Add("frame " + e);
  }


  HRESULT OnParameterChanged(BSTR tag, BSTR text) override {
    Add("param " + Text(tag) + " " + Text(text));
    return S_OK;
  }
  HRESULT OnErrorMessage(BSTR tag, BSTR text) override {
    Add("error " + Text(tag) + " " + Text(text));
    return S_OK;
  }
  HRESULT OnProgress(BSTR tag, BSTR title, SHORT percent, VARIANT_BOOL show) override {
    Add("progress " + Text(tag) + " " + Text(title) + " " + std::to_string(percent) + " " + std::to_string(show));
    return progressResult;
  }
  HRESULT OnUploadFinished(BSTR id, VARIANT_BOOL ok) override {
    Add("upload " + Text(id) + (ok ? " 1" : " 0"));
    return S_OK;
  }
  HRESULT OnDownloadFinished(BSTR id, VARIANT_BOOL ok) override {
    Add("download " + Text(id) + (ok ? " 1" : " 0"));
    return S_OK;
  }
  HRESULT OnApplicationClosed(BSTR id) override {
    Add("closed " + Text(id));
    return S_OK;
  }
  HRESULT OnFunctionChanged(BSTR tag) override {
    Add("functions " + Text(tag));
    return S_OK;
  }
  HRESULT OnChannelFunctionChanged(BSTR tag, BSTR text) override {
    Add("channel " + Text(tag) + " " + Text(text));
    return S_OK;
  }
  HRESULT OnNavigation(BSTR tag, BSTR text) override {
    Add("navigation " + Text(tag) + " " + Text(text));
    return S_OK;
  }
  HRESULT OnScanRequest(BSTR tag) override {
    Add("scan " + Text(tag));
    return S_OK;
  }
  HRESULT OnOnlineStateChanged(BSTR tag, VARIANT_BOOL online) override {
    Add("online " + Text(tag) + (online ? " 1" : " 0"));
    return S_OK;
  }
  HRESULT OnPreparedToRelease(BSTR tag) override {
    Add("released " + Text(tag));
    return S_OK;
  }
  HRESULT OnPreparedToReleaseCommunication(BSTR tag) override {
    Add("released communication " + Text(tag));
    return S_OK;
  }
  HRESULT OnStateChanged(BSTR tag, BSTR document) override {
    Add("state " + Text(tag) + " " + Text(document));
    return S_OK;
  }

 protected:
  void* FindInterface(REFIID riid) override {
    if (hidden.count(riid)) return nullptr;
    return Implements::FindInterface(riid);
  }
};

// The thread manager over the fakes.
class TestManager : public CovFDT_ThreadManagerImpl {
 public:
  IUnknown* dtm = nullptr;
  IFdtContainer* frame = nullptr;
  CLSID threadClass = CLSID_DtmThread;

  bool HasThread() const { return m_hThread != nullptr; }
  DWORD ThreadId() const { return m_dwThreadId; }

 protected:
  IUnknown* GetThreadManagerDtm() override { return dtm; }
  IFdtContainer* GetThreadManagerFrame() override { return frame; }
  const CLSID& GetDtmThreadClassId() override { return threadClass; }
};

inline VARIANT TextArg(const char16_t* s) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

// A packed upload or download request.
inline vkr::Variant Request(const char16_t* invokeId, const char16_t* parameters) {
  SOnlineParamData record;
  record.bstrInvokeId = vkr::Bstr(invokeId);
  record.bstrParameters = vkr::Bstr(parameters);
  vkr::Variant packed;
  EXPECT_TRUE(record.Pack(&packed));
  return packed;
}

inline vkr::Variant PackedUpdate(ULONG id, ULONG rate) {
  SParamUpdateInfo record(id, rate);
  vkr::Variant packed;
  EXPECT_TRUE(record.Pack(&packed));
  return packed;
}

// The DTM thread running with the fake DTM and frame handed over, as after IDtm::Environment.
class DtmThreadFixture : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    // A thread an earlier test started may still be on its way out: counted here, it would be
    // missing at the end.
    vkr::platform::WaitForThreadsToEnd(5000);
    threadsBefore = vkr::platform::LiveThreadCount();
    ASSERT_EQ(vkr::MakeObject(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_DtmThread, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_EQ(vkr::MakeObject(&dtm), S_OK);
    ASSERT_EQ(vkr::MakeObject(&frame), S_OK);
    manager.dtm = static_cast<IovFdtBaseDTM*>(dtm.Get());
    manager.frame = static_cast<IFdtContainer*>(frame.Get());
    if (!startThread) return;
    ASSERT_TRUE(manager.StartDtmThread());
    ASSERT_EQ(manager.ExecuteMarshalledJob(35, static_cast<IFdtContainer*>(frame.Get())), S_OK);
  }
  void TearDown() override {
    manager.StopDtmThread();
    EXPECT_TRUE(vkr::platform::WaitForThreadsToEnd(5000));
    EXPECT_EQ(vkr::platform::LiveThreadCount(), threadsBefore);
    EXPECT_EQ(dtm->wrongThread, 0);
    EXPECT_EQ(frame->wrongThread, 0);
    // Nothing of the thread holds the fakes any more.
    EXPECT_EQ(dtm->RefCount(), 1);
    EXPECT_EQ(frame->RefCount(), 1);
    CoRevokeClassObject(cookie);
    factory = nullptr;
    dtm = nullptr;
    frame = nullptr;
    CoUninitialize();
  }

  HRESULT Job(ULONG job, const VARIANT& argument = Empty()) { return manager.ExecuteJob(job, argument); }
  HRESULT Job(ULONG job, const char16_t* text) {
    vkr::Variant v;
    VARIANT t = TextArg(text);
    v = vkr::Variant(t);
    VariantClear(&t);
    return manager.ExecuteJob(job, v);
  }
  // Waits until the frame's or the DTM's journal has `count` entries equal to e.
  bool FrameHas(const std::string& e, std::size_t count = 1) {
    return PumpUntil([&] { return Count(frame->journal, e) >= count; });
  }
  bool DtmHas(const std::string& e, std::size_t count = 1) {
    return PumpUntil([&] { return Count(dtm->journal, e) >= count; });
  }
  static std::size_t Count(const Journal& j, const std::string& e) {
    std::size_t n = 0;
    for (const auto& x : j.entries) n += x == e;
    return n;
  }
  // Every posted job before this one has run: a scan notification makes the round trip.
  void Fence() {
    const std::size_t n = Count(frame->journal, "frame scan TAG") + 1;
    ASSERT_EQ(Job(13), S_OK);
    ASSERT_TRUE(FrameHas("frame scan TAG", n));
  }

  // The same through the DTM (DTM message 64), for tests in which the frame does not answer.
  void DtmFence() {
    const std::string entry = "msg 64 i4:" + std::to_string(++fences);
    ASSERT_EQ(Job(28, I4(fences)), S_OK);
    ASSERT_TRUE(DtmHas(entry));
  }

  int fences = 0;
  bool startThread = true;
  std::size_t threadsBefore = 0;
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CDtmThread>>> factory;
  DWORD cookie = 0;
  vkr::ComPtr<vkr::ComObject<FakeDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FakeFrame>> frame;
  TestManager manager;
};

}  // namespace vkr::test
