// The frame's engineering session: creation, data set, environment and channel, and the online
// transfers as a frame asks for them.
#include "frame/TransferSession.h"
#include "frame/FrameDocuments.h"

#include <cstdlib>

#include "frame/FrameHost.h"
#include "frame/FrameStorage.h"
#include "frame/HostUtilities.h"
#include "frame/Quiet.h"

namespace vkr::frame {

namespace {
constexpr DWORD kReleaseNoticeMs = 5000;
}  // namespace

TransferSession::TransferSession() = default;

TransferSession::~TransferSession() {
  Close();
  if (m_frame) m_frame->onNote = nullptr;
}

void TransferSession::Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (GetTickCount() - start >= ms) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

HRESULT TransferSession::Open(LPCOLESTR progId, std::shared_ptr<SimulatedDevice> device,
                              const std::string& projectPath, const std::string* dataSet) {
  m_dataSetRefused = false;
  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, m_dtm.PutVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IDtm> idtm;
  ComPtr<IDtm2> idtm2;
  ComPtr<IPersistStreamInit> persist;
  m_dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  m_dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid());
  m_dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
  if (!idtm || !idtm2 || !persist) return E_NOINTERFACE;
  hr = MakeObject<FrameContainer>(&m_frame);
  if (SUCCEEDED(hr)) hr = MakeObject<FrameChannel>(&m_channel);
  if (FAILED(hr)) return hr;
  m_channel->fdt121 = true;
  m_channel->devices.assign(1, std::move(device));
  m_frame->dtm = m_dtm.Get();
  // Progress is passed on as it arrives: a transfer or a comparison may run inside one message the
  // frame serves.
  m_frame->onNote = [this](const std::string& line) {
    if (!onProgress || line.rfind("progress ", 0) != 0) return;
    // "progress tag: title percent show"
    const std::size_t last = line.rfind(' ');
    const std::size_t before = last == std::string::npos ? last : line.rfind(' ', last - 1);
    if (before != std::string::npos) onProgress(std::atoi(line.substr(before + 1, last - before - 1).c_str()));
  };

  const bool load = dataSet || (!projectPath.empty() && FileExists(projectPath));
  hr = dataSet ? LoadStreamBytes(persist.Get(), *dataSet)
       : load  ? LoadStreamFile(persist.Get(), projectPath.c_str())
               : persist->InitNew();
  if (FAILED(hr)) {
    m_dataSetRefused = load;
    return hr;
  }
  VARIANT_BOOL result = VARIANT_FALSE;
  const std::u16string userText = u"<FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\"><FDTUserInformation userLevel=\"" +
                                   userLevel + u"\"/></FDT>";
  Bstr tag(kSystemTag), version(kFrameVersion), deviceType(kDeviceType), user(userText);
  hr = idtm2->Environment2(tag, m_frame.Get(), version, &result);
  hr = Checked(hr, result);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  hr = idtm->SetLanguage(1033, &result);
  hr = Checked(hr, result);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  if (!load) {
    hr = idtm->InitNew(deviceType, &result);
  hr = Checked(hr, result);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  }
  hr = idtm->Config(user, &result);
  hr = Checked(hr, result);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  hr = idtm->SetCommunication(m_channel.Get(), &result);
  hr = Checked(hr, result);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  return S_OK;
}

HRESULT TransferSession::Save(const std::string& projectPath) {
  ComPtr<IPersistStreamInit> persist;
  if (!m_dtm || FAILED(m_dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid())) || !persist)
    return E_NOINTERFACE;
  return SaveStreamFile(persist.Get(), projectPath.c_str());
}

HRESULT TransferSession::Upload(bool* success, DWORD timeoutMs) { return Transfer(true, success, timeoutMs); }

HRESULT TransferSession::Download(bool* success, DWORD timeoutMs) { return Transfer(false, success, timeoutMs); }

HRESULT TransferSession::Transfer(bool upload, bool* success, DWORD timeoutMs) {
  if (!success) return E_POINTER;
  *success = false;
  ComPtr<IDtmOnlineParameter> online;
  if (!m_dtm || FAILED(m_dtm->QueryInterface(IDtmOnlineParameter::iid, online.PutVoid())) || !online)
    return E_NOINTERFACE;
  m_invokeId = NewInvokeId();
  Bstr id(Utf8ToUtf16(m_invokeId)), path(u"/FDT");
  std::size_t seen = m_frame->notifications.size();
  VARIANT_BOOL accepted = VARIANT_FALSE;
  const HRESULT hr = upload ? online->UploadRequest(id, path, &accepted) : online->DownloadRequest(id, path, &accepted);
  if (FAILED(hr)) return hr;
  if (!accepted) return S_FALSE;
  const std::string end = std::string(upload ? "upload finished " : "download finished ") + m_invokeId;
  const DWORD start = GetTickCount();
  for (;;) {
    Pump(5);
    for (; seen < m_frame->notifications.size(); ++seen) {
      const std::string& line = m_frame->notifications[seen];
      if (line.rfind(end, 0) == 0) {
        *success = line == end + " 1";
        ++seen;
        return S_OK;
      }
    }
    if (GetTickCount() - start >= timeoutMs) return E_ABORT;
  }
}

HRESULT TransferSession::Cancel() {
  ComPtr<IDtmOnlineParameter> online;
  if (!m_dtm || FAILED(m_dtm->QueryInterface(IDtmOnlineParameter::iid, online.PutVoid())) || !online)
    return E_NOINTERFACE;
  Bstr id(Utf8ToUtf16(m_invokeId));
  VARIANT_BOOL done = VARIANT_FALSE;
  const HRESULT hr = online->CancelAction(id, &done);
  return Checked(hr, done);
}

HRESULT TransferSession::Close() {
  if (!m_dtm) return S_OK;
  ComPtr<IDtm> idtm;
  m_dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  HRESULT first = S_OK;
  if (idtm) {
    VARIANT_BOOL result = VARIANT_FALSE;
    const std::size_t seen = m_frame ? m_frame->notifications.size() : 0;
    HRESULT hr = idtm->PrepareToReleaseCommunication(&result);
    hr = Checked(hr, result);
    if (hr != S_OK) first = FAILED(hr) ? hr : E_FAIL;
    // As a frame does: the communication is released once the DTM says it is ready (or, failing
    // that, after a while; it has to be let go all the same).
    if (hr == S_OK && m_frame)
      m_frame->WaitForNotification("prepared to release communication ", seen, kReleaseNoticeMs);
    idtm->ReleaseCommunication(&result);
    idtm->PrepareToDelete(&result);
    idtm->PrepareToRelease(&result);
  }
  idtm = nullptr;
  if (m_frame) {
    m_frame->onNote = nullptr;
    m_frame->activeX.CloseAll();
    m_frame->dtm = nullptr;
  }
  m_dtm = nullptr;
  WaitUntilQuiet();
  return first;
}

}  // namespace vkr::frame
