// Test doubles around the DTM object: a DTM that records the workers it would start and lets a
// test set what the frame and the DTM thread would have set, a recording DTM thread, a recording
// user interface and a frame container. All of them write into one journal, so tests can check
// what happened in which order.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "module/CVornExampleDtm.h"
#include "platform/platform.h"
#include "include/ActiveXInterfaces.h"
#include "tests/support/activex_defaults.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test {

// A text as UTF-8; null reads as empty.
inline std::string Text(BSTR s) { return vkr::Utf16ToUtf8(vkr::View(s)); }

// A VARIANT as short text for the journal: "empty", "ui4:12", "i4:-3", "bool:1", "bstr:x",
// "array", or "vt:N" for other types.
inline std::string Show(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return "empty";
    case VT_UI4: return "ui4:" + std::to_string(v.ulVal);
    case VT_I4: return "i4:" + std::to_string(v.lVal);
    case VT_BOOL: return std::string("bool:") + (v.boolVal ? "1" : "0");
    case VT_BSTR: return "bstr:" + vkr::Utf16ToUtf8(vkr::View(v.bstrVal));
    default: return (v.vt & VT_ARRAY) ? "array" : "vt:" + std::to_string(v.vt);
  }
}

// The platform's makers of plain numbers.
using vkr::I4;
using vkr::UI4;
inline VARIANT Empty() {
  VARIANT v;
  VariantInit(&v);
  return v;
}

struct Journal {
  std::vector<std::string> entries;
  void Add(std::string e) { entries.push_back(std::move(e)); }
  void Clear() { entries.clear(); }
  bool Has(const std::string& e) const {
    for (const std::string& x : entries)
      if (x == e) return true;
    return false;
  }
  // The entries that start with the prefix, in order.
  std::vector<std::string> With(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& x : entries)
      if (x.rfind(prefix, 0) == 0) out.push_back(x);
    return out;
  }
  std::string Joined() const {
    std::string s;
    for (const std::string& x : entries) s += (s.empty() ? "" : " | ") + x;
    return s;
  }
};

// The DTM thread: records "job N <argument>" and "rate <argument>"; a hook may run inside a job.
class FakeDtmThread : public vkr::Implements<IovFdtDtmThread> {
 public:
  Journal* journal = nullptr;
  HRESULT jobResult = S_OK;
  std::function<void(ULONG job, const VARIANT& argument)> onJob;

  VKR_TEST_DISPATCH
  HRESULT Execute(VARIANT job, VARIANT argument, VARIANT* result) override {
    std::string text = "job " + std::to_string(job.ulVal) + " " + Show(argument);
    if (argument.vt == (VT_ARRAY | VT_VARIANT)) {
      // A packed update record: parameter id and rate.
      SParamUpdateInfo info;
      if (info.Unpack(argument)) text = "job " + std::to_string(job.ulVal) + " id " + std::to_string(info.nParameterId) +
                                        " rate " + std::to_string(info.nUpdateRate);
    }
    journal->Add(text);
    if (result) VariantClear(result);
    if (onJob) onJob(job.ulVal, argument);
    return jobResult;
  }
  HRESULT Run() override { return E_NOTIMPL; }
  HRESULT SetUpdateRate(VARIANT ms) override {
    journal->Add("rate " + Show(ms));
    return S_OK;
  }
  HRESULT ExecuteAsync(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT OnThreadEvent(VARIANT, VARIANT, BOOL*) override { return E_NOTIMPL; }
  HRESULT ProcessDownloadRequest(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT ProcessUploadRequest(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT GoOnline() override { return E_NOTIMPL; }
  HRESULT GoOffline() override { return E_NOTIMPL; }
};

// An open user interface: records "ui state N" and "ui command <id> <argument>"; answers its
// update list (information item 32) from `updates`.
class FakeUserInterface : public vkr::Implements<IovFdtActiveX4, IovFdtActiveXInfo> {
 public:
  VKR_ACTIVEX4_NOT_IMPLEMENTED
  Journal* journal = nullptr;
  std::vector<SParamUpdateInfo> updates;
  HRESULT commandResult = S_OK;

  VKR_TEST_DISPATCH
  HRESULT OnDtmStateChanged(ULONG state) override {
    journal->Add("ui state " + std::to_string(state));
    return S_OK;
  }
  HRESULT ReportError(BSTR) override { return E_NOTIMPL; }
  HRESULT ReportErrorText(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override {
    journal->Add("ui command " + Show(command) + " " + Show(argument));
    return commandResult;
  }
  HRESULT SetInfo(VARIANT id, VARIANT* value) override {
    if (id.vt != VT_UI4 || id.ulVal != 32) return S_FALSE;
    return PackParamUpdateInfos(updates, value);
  }
  HRESULT IsInfoSupported(VARIANT) override { return S_FALSE; }
  HRESULT SetSchemaSource(IUnknown*) override { return E_NOTIMPL; }
};

// A frame's container with every call failing with E_NOTIMPL, and whatever other frame interfaces
// a fake adds; fakes override what they answer.
template <class... More>
class StubContainer : public vkr::Implements<IFdtContainer, More...> {
 public:
  VKR_TEST_DISPATCH
  HRESULT GetDtm(BSTR, IUnknown**) override { return E_NOTIMPL; }
  HRESULT LockDataSet(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT UnlockDataSet(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetXmlSchemaPath(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetDtmInfoList(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetChildDtms(BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetParentDtm(BSTR, IUnknown**) override { return E_NOTIMPL; }
  HRESULT GetProjectInformation(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetUserInformation(BSTR*) override { return E_NOTIMPL; }
  HRESULT GetFrameInformation(BSTR*) override { return E_NOTIMPL; }
  HRESULT SaveRequest(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT OpenActiveXControlRequest(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT CloseActiveXControlRequest(BSTR) override { return E_NOTIMPL; }
  HRESULT FunctionFinished(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
};

// The frame's container; the DTM only asks whether there is one here.
class FakeContainer : public StubContainer<> {};

// The frame's communication channel; the DTM only keeps it here.
class FakeChannel : public vkr::Implements<IFdtCommunication> {
 public:
  VKR_TEST_DISPATCH
  HRESULT Abort(BSTR) override { return E_NOTIMPL; }
  HRESULT ConnectRequest(IFdtCommunicationEvents*, BSTR, BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT DisconnectRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetSupportedProtocols(BSTR*) override { return E_NOTIMPL; }
  HRESULT SequenceBegin(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceEnd(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SequenceStart(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT TransactionRequest(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
};

class FakeStateEvents : public vkr::Implements<IFrameDtmStateEvents> {
 public:
  VKR_TEST_DISPATCH
  HRESULT OnStateChanged(BSTR, BSTR) override { return S_OK; }
};

// The DTM with its frame-facing and thread-facing members reachable. Workers it would start are
// written to the journal ("worker state <message> <argument>", "worker ax <value>") and deleted.
class TestDtm : public CVornExampleDtm {
 public:
  Journal* journal = nullptr;

  HRESULT ExecuteWorkerThread(CWorker* worker) override {
    if (!worker) return E_INVALIDARG;
    if (journal) {
      if (auto* reached = dynamic_cast<CStateReachedWorker*>(worker))
        journal->Add("worker state " + Show(reached->MessageId()) + " " + Show(reached->Argument()));
      else if (auto* ax = dynamic_cast<CActiveXMessageWorker*>(worker))
        journal->Add("worker ax " + std::to_string(ax->Value()));
    }
    delete worker;
    return S_OK;
  }

  void SetThread(IovFdtDtmThread* thread) { m_pDtmThread = thread; }
  void SetContainer(IFdtContainer* container) { m_pContainer = container; }
  void SetFdt121(IFrameDtmStateEvents* events) {
    m_bFdt121Frame = true;
    m_pFdt121Events = events;
  }
  void SetDataSetLoaded(bool loaded) { m_bDataSetLoaded = loaded; }
  void SetAnnouncingOff(bool off) { m_bAnnouncingOff = off; }
  // Puts the DTM into a state without running the state machine.
  void ForceState(EDtmState state) { m_eDtmState = state; }
  void SetDeviceType(LPCOLESTR text) { m_bstrDeviceType = vkr::Bstr(text); }
  void AddOpenUserInterface(LPCOLESTR key, IUnknown* ui) {
    SOpenUserInterface o;
    o.invokeId = vkr::Bstr(key);
    o.functionId = 1;
    o.userInterface = ui;
    o.flags = 0;
    m_openUserInterfaces.push_back(std::move(o));
  }
  const std::vector<std::string>& InitErrors() const { return m_vecInitErrors; }
  bool Collecting() const { return m_bCollectInitErrors; }
  HANDLE StateSettledEvent() const { return m_hStateSettled; }
  HANDLE VerificationEvent() const { return m_hVerificationDone; }
  HANDLE ProgressEvent() const { return m_hProgressDone; }
  bool AbortFlag() const { return m_bAbortTransfer; }
  bool GoOnlineOnSetCommunication() const { return m_bGoOnlineOnSetCommunication; }
  std::size_t SubscriptionCount() const { return m_subscriptions.size(); }
  std::vector<SParamUpdateInfo> Subscriptions(const std::u16string& key) const {
    auto it = m_subscriptions.find(key);
    return it == m_subscriptions.end() ? std::vector<SParamUpdateInfo>() : it->second;
  }
  bool FunctionEnabled(LONG id) const {
    SFunctionEntry e{};
    return SUCCEEDED(FindUserInterfaceEntry(id, &e)) && (e.bStatus & kFunctionEnabled);
  }
  HRESULT CallStartParameterUpdate() { return StartParameterUpdate(); }
};

// Signalled, with no wait.
inline bool IsSignalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

inline SParamUpdateInfo Update(ULONG id, ULONG rate) {
  SParamUpdateInfo info;
  info.nParameterId = id;
  info.nUpdateRate = rate;
  return info;
}

}  // namespace vkr::test
