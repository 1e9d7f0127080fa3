// The lifecycle run of the frame host.
#include "frame/LifecycleHost.h"
#include "frame/FrameDocuments.h"

#include "include/DtmInterfaces.h"
#include "include/ParameterHandlerInterfaces.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"

namespace vkr::frame {
namespace {


class Run {
 public:
  Run(std::vector<std::string>* lines) : m_lines(lines) {}

  // Writes the step's outcome and the frame's new notifications; remembers the first failure.
  void Step(const char* name, HRESULT hr, const VARIANT_BOOL* result) {
    std::string line = std::string(name) + ": " + ResultText(hr);
    if (result) line += *result ? ", result TRUE" : ", result FALSE";
    if (m_base) {
      EDtmState state = dsUNDEFINED;
      if (SUCCEEDED(m_base->GetDTMState(&state)))
        line += ", state " + std::to_string(state) + " (" + StateName(state) + ")";
    }
    m_lines->push_back(line);
    Notifications();
    if (m_first == S_OK && (hr != S_OK || (result && !*result))) {
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
  EDtmState State() {
    EDtmState state = dsUNDEFINED;
    if (m_base) m_base->GetDTMState(&state);
    return state;
  }

  std::vector<std::string>* m_lines;
  ComPtr<IovFdtBaseDTM> m_base;
  ComPtr<ComObject<FrameContainer>> m_frame;
  ComPtr<ComObject<FrameChannel>> m_channel;
  std::size_t m_seen = 0;
  std::size_t m_calls = 0;
  std::size_t m_refused = 0;
  std::size_t m_invalid = 0;
  HRESULT m_first = S_OK;
  std::string m_firstStep;
};

// Serves the frame's message queue (the channel's answers arrive there) until the DTM reaches
// `target` or `timeout` milliseconds have passed.
bool PumpUntil(Run& run, EDtmState target, DWORD timeout) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (run.State() == target) return true;
    if (GetTickCount() - start >= timeout) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// Goes online through the DTM message a user interface sends, reads the primary value of the
// simulated transmitter with a blocking device read, and goes offline again.
void RunOnline(Run& run, IUnknown* dtm) {
  constexpr DWORD kStateTimeout = 20000;
  constexpr ULONG kPrimaryValue = 1049;
  ComPtr<IovFdtDtmEvents> events;
  ComPtr<IovFdtParameterHandler4> parameters;
  ComPtr<IovFdtParameterInfo> info;
  dtm->QueryInterface(IovFdtDtmEvents::iid, events.PutVoid());
  dtm->QueryInterface(IovFdtParameterHandler4::iid, parameters.PutVoid());
  dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid());
  if (!events || !parameters || !info) {
    run.Step("QueryInterface (IovFdtDtmEvents, IovFdtParameterHandler4, IovFdtParameterInfo)", E_NOINTERFACE, nullptr);
    return;
  }
  HRESULT hr = events->DtmMessage(UI4(10), EmptyVariant());
  const bool online = SUCCEEDED(hr) && PumpUntil(run, dsONLINE, kStateTimeout);
  run.Step("DTM message 10 (go online)", FAILED(hr) ? hr : (online ? S_OK : E_ABORT), nullptr);
  if (!online) return;

  VARIANT_BOOL read = VARIANT_FALSE;
  hr = parameters->ReadDeviceParameterEx(UI4(kPrimaryValue), &read);
  run.Step("IovFdtParameterHandler4::ReadDeviceParameterEx 1049 (PV)", hr, &read);
  Variant value, text;
  if (SUCCEEDED(info->GetParameterField(UI4(kPrimaryValue), UI4(0x200000), value.Put())) &&
      SUCCEEDED(VariantChangeType(text.Put(), value.Ptr(), 0, VT_BSTR)) && text.vt == VT_BSTR)
    run.m_lines->push_back("  device value of 1049: " + Utf16ToUtf8(View(text.bstrVal)));

  hr = events->DtmMessage(UI4(11), EmptyVariant());
  const bool offline = SUCCEEDED(hr) && PumpUntil(run, dsCOMMUNICATIONSET, kStateTimeout);
  run.Step("DTM message 11 (go offline)", FAILED(hr) ? hr : (offline ? S_OK : E_ABORT), nullptr);
}

}  // namespace

HRESULT RunLifecycle(LPCOLESTR progId, std::vector<std::string>* lines, std::string* failedStep) {
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
  dtm->QueryInterface(IovFdtBaseDTM::iid, run.m_base.PutVoid());
  dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid());
  dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
  run.Step("CoCreateInstance", S_OK, nullptr);
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
  run.Step("IPersistStreamInit::InitNew", persist->InitNew(), nullptr);
  run.Step("IDtm2::Environment2", idtm2->Environment2(tag, run.m_frame.Get(), version, &result), &result);
  run.Step("IDtm::SetLanguage 1033", idtm->SetLanguage(1033, &result), &result);
  run.Step("IDtm::InitNew", idtm->InitNew(deviceType, &result), &result);
  run.Step("IDtm::Config", idtm->Config(user, &result), &result);
  if (run.State() == dsCONFIGURED)
    run.Step("IDtm::SetCommunication", idtm->SetCommunication(run.m_channel.Get(), &result), &result);
  if (run.State() == dsCOMMUNICATIONSET) RunOnline(run, dtm.Get());

  // Release in order, from wherever the DTM got to.
  const EDtmState reached = run.State();
  if (reached >= dsCOMMUNICATIONSET && reached <= dsONLINE) {
    run.Step("IDtm::PrepareToReleaseCommunication", idtm->PrepareToReleaseCommunication(&result), &result);
    run.Step("IDtm::ReleaseCommunication", idtm->ReleaseCommunication(&result), &result);
  }
  if (run.State() == dsCONFIGURED) run.Step("IDtm::PrepareToDelete", idtm->PrepareToDelete(&result), &result);
  const EDtmState now = run.State();
  if (now == dsPREPAREDTODELETE || now == dsENVIRONMENTSET || now == dsCONFIGURED)
    run.Step("IDtm::PrepareToRelease", idtm->PrepareToRelease(&result), &result);
  else
    run.Step("IDtm::PrepareToRelease (not admitted in this state; skipped)", S_FALSE, nullptr);
  run.m_base = nullptr;
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
    dtm->QueryInterface(IovFdtBaseDTM::iid, run.m_base.PutVoid());
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
    run.Step("IPersistStreamInit::InitNew", persist->InitNew(), nullptr);
    if (fdt121)
      run.Step("IDtm2::Environment2", idtm2->Environment2(tag, run.m_frame.Get(), version, &result), &result);
    else
      run.Step("IDtm::Environment", idtm->Environment(tag, run.m_frame.Get(), &result), &result);
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
    if (run.State() == dsENVIRONMENTSET) run.Step("IDtm::PrepareToRelease", idtm->PrepareToRelease(&result), &result);
    run.m_base = nullptr;
    if (first == S_OK) first = run.m_first;
  }
  lines->push_back("released");
  return first;
}

}  // namespace vkr::frame
