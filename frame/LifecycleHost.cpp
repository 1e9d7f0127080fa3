// The lifecycle run of the frame host: everything through the FDT interfaces, and the DTM's state
// as a frame follows it, from the answers to its calls and from the DTM's state reports.
#include "frame/LifecycleHost.h"
#include "frame/FrameDocuments.h"

#include <cstdio>

#include "include/FdtInterfaces.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "frame/HostUtilities.h"

namespace vkr::frame {
namespace {

constexpr LONG kUnchanged = -1;

class Run {
 public:
  Run(std::vector<std::string>* lines) : m_lines(lines) {}

  // Writes the step's outcome and the frame's new notifications; remembers the first failure. A
  // step that succeeded moves the state to `reaches`; the online states the DTM reported during
  // the call follow.
  void Step(const std::string& name, HRESULT hr, const VARIANT_BOOL* result, LONG reaches = kUnchanged) {
    const bool failed = hr != S_OK || (result && !*result);
    if (!failed && reaches != kUnchanged) m_state = reaches;
    Reports();
    std::string line = name + ": " + ResultText(hr);
    if (result) line += *result ? ", result TRUE" : ", result FALSE";
    if (m_state >= 0) line += ", state " + std::to_string(m_state) + " (" + StateName(m_state) + ")";
    m_lines->push_back(line);
    Notifications();
    if (m_first == S_OK && failed) {
      m_first = hr != S_OK ? hr : S_FALSE;
      m_firstStep = name;
    }
  }
  void Notifications() {
    if (!m_frame) return;
    for (; m_seen < m_frame->notifications.size(); ++m_seen) m_lines->push_back("  frame: " + m_frame->notifications[m_seen]);
    for (; m_invalid < m_frame->invalidDocuments.size(); ++m_invalid)
      m_lines->push_back("  frame: INVALID state document: " + m_frame->invalidDocuments[m_invalid]);
    if (!m_channel) return;
    for (; m_calls < m_channel->calls.size(); ++m_calls) m_lines->push_back("  channel: " + m_channel->calls[m_calls].method);
    for (; m_refused < m_channel->failures.size(); ++m_refused)
      m_lines->push_back("  channel: REFUSED " + m_channel->failures[m_refused]);
  }
  LONG State() {
    Reports();
    return m_state;
  }

  std::vector<std::string>* m_lines;
  ComPtr<ComObject<FrameContainer>> m_frame;
  ComPtr<ComObject<FrameChannel>> m_channel;
  std::size_t m_seen = 0;
  std::size_t m_calls = 0;
  std::size_t m_refused = 0;
  std::size_t m_invalid = 0;
  HRESULT m_first = S_OK;
  std::string m_firstStep;

 private:
  // Takes over the online states the DTM reported since the last look.
  void Reports() {
    if (!m_frame) return;
    for (; m_reported < m_frame->reportedStates.size(); ++m_reported) {
      const LONG state = StateOfReport(m_frame->reportedStates[m_reported]);
      if (state >= 0) m_state = state;
    }
  }

  LONG m_state = -1;  // not created yet
  std::size_t m_reported = 0;
};

// The primary value in the device's last answer to command 3 on the frame's channel: its data are
// the loop current, the PV's unit code and the PV, each float four bytes.
bool PrimaryValueOnTheChannel(const FrameChannel& channel, float* value) {
  for (auto answer = channel.answers.rbegin(); answer != channel.answers.rend(); ++answer) {
    const std::string& d = answer->document;
    if (d.find("<DataExchangeResponse ") == std::string::npos || d.find(" commandNumber=\"3\"") == std::string::npos)
      continue;
    const std::string key = "byteArray=\"";
    const std::size_t at = d.find(key);
    Bytes data;
    if (at == std::string::npos || !wire::FromHex(d.substr(at + key.size(), d.find('"', at + key.size()) - at - key.size()), &data) ||
        data.size() < 9)
      return false;
    *value = wire::GetFloat(data, 5);
    return true;
  }
  return false;
}

// Reads the device as a frame asks for it: an upload of the data set (IDtmOnlineParameter), for
// which the DTM goes online, and whose end it reports (IDtmEvents::OnUploadFinished). The PV the
// device sent on the way is shown as the frame's channel carried it.
void RunOnline(Run& run, IUnknown* dtm, DWORD uploadTimeout) {
  ComPtr<IDtmOnlineParameter> online;
  dtm->QueryInterface(IDtmOnlineParameter::iid, online.PutVoid());
  if (!online) {
    run.Step("QueryInterface (IDtmOnlineParameter)", E_NOINTERFACE, nullptr);
    return;
  }
  const std::string invokeId = NewInvokeId();
  Bstr id(Utf8ToUtf16(invokeId)), path(u"/FDT");
  const std::size_t seen = run.m_frame->notifications.size();
  VARIANT_BOOL accepted = VARIANT_FALSE;
  const HRESULT hr = online->UploadRequest(id, path, &accepted);
  run.Step("IDtmOnlineParameter::UploadRequest (the DTM goes online)", hr, &accepted);
  if (hr != S_OK || !accepted) return;

  const std::string end = "upload finished " + invokeId;
  const std::string notification = run.m_frame->WaitForNotification(end, seen, uploadTimeout);
  VARIANT_BOOL success = notification == end + " 1" ? VARIANT_TRUE : VARIANT_FALSE;
  if (notification.empty())
    run.Step("IDtmEvents::OnUploadFinished did not come within " + std::to_string(uploadTimeout) + " ms",
             HRESULT_FROM_WIN32(ERROR_TIMEOUT), nullptr);
  else
    run.Step("IDtmEvents::OnUploadFinished", S_OK, &success);
  float pv = 0.0f;
  if (success && PrimaryValueOnTheChannel(*run.m_channel, &pv)) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", pv);
    run.m_lines->push_back(std::string("  PV from the device (command 3 on the frame's channel): ") + text);
  }
}

// Gives up the communication as a frame does: IDtm::PrepareToReleaseCommunication (the DTM goes
// offline), then waits for the DTM to say it is ready (IDtmEvents::OnPreparedToReleaseCommunication)
// before IDtm::ReleaseCommunication. Released also when the notification does not come: the
// failure is recorded, and the DTM still has to be let go.
void ReleaseCommunication(Run& run, IDtm* idtm, DWORD noticeTimeout) {
  const std::size_t seen = run.m_frame->notifications.size();
  VARIANT_BOOL result = VARIANT_FALSE;
  const HRESULT hr = idtm->PrepareToReleaseCommunication(&result);
  const bool prepared = hr == S_OK && result;
  const bool told = prepared && !run.m_frame->WaitForNotification("prepared to release communication ", seen,
                                                     noticeTimeout).empty();
  run.Step("IDtm::PrepareToReleaseCommunication", hr, &result);
  if (prepared && !told)
    run.Step("IDtmEvents::OnPreparedToReleaseCommunication did not come within " + std::to_string(noticeTimeout) + " ms",
             HRESULT_FROM_WIN32(ERROR_TIMEOUT), nullptr);
  result = VARIANT_FALSE;
  run.Step("IDtm::ReleaseCommunication", idtm->ReleaseCommunication(&result), &result, dtm_state::kConfigured);
}

}  // namespace

HRESULT RunLifecycle(LPCOLESTR progId, std::vector<std::string>* lines, std::string* failedStep, DWORD noticeTimeout) {
  if (!progId || !lines) return E_POINTER;
  Run run(lines);
  struct Report {
    Run& run;
    std::string* out;
    ~Report() {
      if (out) *out = run.m_firstStep;
    }
  } report{run, failedStep};
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) {
    run.Step("CLSIDFromProgID", hr, nullptr);
    return hr;
  }
  ComPtr<IUnknown> dtm;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, dtm.PutVoid());
  if (FAILED(hr)) {
    run.Step("CoCreateInstance", hr, nullptr);
    return hr;
  }
  ComPtr<IDtm> idtm;
  ComPtr<IDtm2> idtm2;
  ComPtr<IPersistStreamInit> persist;
  dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid());
  dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
  run.Step("CoCreateInstance", S_OK, nullptr, dtm_state::kCreated);
  if (!idtm || !idtm2 || !persist) {
    run.Step("QueryInterface (IDtm, IDtm2, IPersistStreamInit)", E_NOINTERFACE, nullptr);
    return E_NOINTERFACE;
  }
  hr = MakeObject<FrameContainer>(&run.m_frame);
  if (FAILED(hr)) return hr;
  // The frame's HART channel, with the simulated transmitter behind it.
  hr = MakeObject<FrameChannel>(&run.m_channel);
  if (FAILED(hr)) return hr;
  run.m_channel->fdt121 = true;  // as the frame told the DTM in Environment2

  VARIANT_BOOL result = VARIANT_FALSE;
  Bstr tag(kSystemTag), version(kFrameVersion), deviceType(kDeviceType), user(kUserInformation);
  using namespace dtm_state;
  run.Step("IPersistStreamInit::InitNew", persist->InitNew(), nullptr, kInitNewPersist);
  run.Step("IDtm2::Environment2", idtm2->Environment2(tag, run.m_frame.Get(), version, &result), &result,
           kEnvironmentSet);
  run.Step("IDtm::SetLanguage 1033", idtm->SetLanguage(1033, &result), &result);
  run.Step("IDtm::InitNew", idtm->InitNew(deviceType, &result), &result, kInitialized);
  run.Step("IDtm::Config", idtm->Config(user, &result), &result, kConfigured);
  if (run.State() == kConfigured)
    run.Step("IDtm::SetCommunication", idtm->SetCommunication(run.m_channel.Get(), &result), &result,
             kCommunicationSet);
  if (run.State() == kCommunicationSet) RunOnline(run, dtm.Get(), kUploadTimeoutMs);

  // Release in order, from wherever the DTM got to.
  const LONG reached = run.State();
  if (reached >= kCommunicationSet && reached <= kOnline) ReleaseCommunication(run, idtm.Get(), noticeTimeout);
  if (run.State() == kConfigured)
    run.Step("IDtm::PrepareToDelete", idtm->PrepareToDelete(&result), &result, kPreparedToDelete);
  const LONG now = run.State();
  if (now == kPreparedToDelete || now == kEnvironmentSet || now == kConfigured)
    run.Step("IDtm::PrepareToRelease", idtm->PrepareToRelease(&result), &result, kPreparedToRelease);
  else
    run.Step("IDtm::PrepareToRelease (not admitted in this state; skipped)", S_FALSE, nullptr);
  idtm = nullptr;
  idtm2 = nullptr;
  persist = nullptr;
  dtm = nullptr;
  lines->push_back("released");
  run.Notifications();
  return run.m_first;
}

HRESULT RunInformation(LPCOLESTR progId, std::vector<std::string>* lines) {
  if (!progId || !lines) return E_POINTER;
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) {
    lines->push_back("CLSIDFromProgID: " + ResultText(hr));
    return hr;
  }
  HRESULT first = S_OK;
  for (const bool fdt121 : {false, true}) {
    lines->push_back(fdt121 ? "FDT 1.2.1 frame" : "FDT 1.2 frame");
    Run run(lines);
    ComPtr<IUnknown> dtm;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, dtm.PutVoid());
    if (FAILED(hr)) {
      run.Step("CoCreateInstance", hr, nullptr);
      return hr;
    }
    ComPtr<IDtm> idtm;
    ComPtr<IDtm2> idtm2;
    ComPtr<IPersistStreamInit> persist;
    ComPtr<IDtmInformation> information;
    dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
    dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid());
    dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
    dtm->QueryInterface(IDtmInformation::iid, information.PutVoid());
    if (!idtm || !idtm2 || !persist || !information) {
      run.Step("QueryInterface (IDtm, IDtm2, IPersistStreamInit, IDtmInformation)", E_NOINTERFACE, nullptr);
      return E_NOINTERFACE;
    }
    hr = MakeObject<FrameContainer>(&run.m_frame);
    if (FAILED(hr)) return hr;
    run.m_frame->offerStateEvents = fdt121;
    VARIANT_BOOL result = VARIANT_FALSE;
    Bstr tag(kSystemTag), version(kFrameVersion);
    run.Step("IPersistStreamInit::InitNew", persist->InitNew(), nullptr, dtm_state::kInitNewPersist);
    if (fdt121)
      run.Step("IDtm2::Environment2", idtm2->Environment2(tag, run.m_frame.Get(), version, &result), &result,
               dtm_state::kEnvironmentSet);
    else
      run.Step("IDtm::Environment", idtm->Environment(tag, run.m_frame.Get(), &result), &result,
               dtm_state::kEnvironmentSet);
    Bstr document;
    hr = information->GetInformation(nullptr, document.Put());
    run.Step("IDtmInformation::GetInformation", hr, nullptr);
    if (hr == S_OK) {
      lines->push_back(Utf16ToUtf8(document.View()));
      std::string reason;
      const HRESULT valid = FrameContainer::Validate(document, &reason);
      lines->push_back(valid == S_OK ? "valid" : "NOT VALID: " + reason);
      if (valid != S_OK && first == S_OK) first = S_FALSE;
    }
    if (run.State() == dtm_state::kEnvironmentSet)
      run.Step("IDtm::PrepareToRelease", idtm->PrepareToRelease(&result), &result, dtm_state::kPreparedToRelease);
    if (first == S_OK) first = run.m_first;
  }
  lines->push_back("released");
  return first;
}

}  // namespace vkr::frame
