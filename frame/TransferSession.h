// A frame's engineering session with one DTM: the DTM created by its ProgID, given its data set
// (new, or loaded from a project file), its environment, device type, user level and the frame's
// HART channel with a simulated transmitter behind it; then the online upload and download of its
// parameter lists as a frame asks for them (IDtmOnlineParameter) and waits for their end
// (IDtmEvents). Everything runs on the calling thread, which must be in an apartment.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "include/FdtInterfaces.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "platform/platform.h"

namespace vkr::frame {

class TransferSession {
 public:
  TransferSession();
  ~TransferSession();

  // Creates the DTM and takes it to state 9 (communication set) on `device`. A project path (a
  // Windows path) whose file exists is loaded as the data set; otherwise the DTM starts a new one.
  // With `dataSet`, the DTM loads that stream instead of the file. When the data set cannot be
  // loaded (a damaged file, or one the DTM refuses), DataSetRefused() says so.
  HRESULT Open(LPCOLESTR progId, std::shared_ptr<SimulatedDevice> device, const std::string& projectPath,
               const std::string* dataSet = nullptr);
  bool DataSetRefused() const { return m_dataSetRefused; }
  // Saves the data set into the project file.
  HRESULT Save(const std::string& projectPath);
  // Asks for an upload (or download) and serves the frame's messages until the DTM reports its
  // end or `timeoutMs` passes. S_OK with *success as the DTM reported it; S_FALSE when the DTM
  // refused the request; E_ABORT on the time limit.
  HRESULT Upload(bool* success, DWORD timeoutMs = 60000);
  HRESULT Download(bool* success, DWORD timeoutMs = 60000);
  // The frame's cancel of the running request (IDtmOnlineParameter::CancelAction).
  HRESULT Cancel();
  // Ends communication (the DTM goes offline) and releases the DTM.
  HRESULT Close();

  // Serves the frame's messages for the time given.
  static void Pump(DWORD ms);

  // The user level the frame gives the DTM ("observer", "operator", ..., "planningEngineer").
  std::u16string userLevel = u"planningEngineer";
  // Called with each progress percentage the DTM reports, as it arrives (a transfer, a comparison,
  // a status read).
  std::function<void(int percent)> onProgress;

  IUnknown* Dtm() const { return m_dtm.Get(); }
  FrameContainer* Frame() const { return m_frame.Get(); }
  FrameChannel* Channel() const { return m_channel.Get(); }
  const std::string& InvokeId() const { return m_invokeId; }

 private:
  HRESULT Transfer(bool upload, bool* success, DWORD timeoutMs);

  ComPtr<IUnknown> m_dtm;
  ComPtr<ComObject<FrameContainer>> m_frame;
  ComPtr<ComObject<FrameChannel>> m_channel;
  std::string m_invokeId;
  bool m_dataSetRefused = false;
};

}  // namespace vkr::frame
