// The frame host's lifecycle run: a DTM taken through its states as a frame takes it, with every
// step, state and notification written down.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::frame {

// How long the run waits for the DTM's end of an upload, and by default for its word that the
// communication may be released.
inline constexpr DWORD kUploadTimeoutMs = 60000;
inline constexpr DWORD kReleaseNoticeTimeoutMs = 10000;

// Creates the DTM of the ProgID, gives it its data set (IPersistStreamInit::InitNew), its
// environment (system tag, the stand-in frame's container, FDT 1.2.1), language 1033, its device
// type, the user level and the frame's HART channel (IDtm::SetCommunication; the simulated
// transmitter behind it), reads the device through an upload (IDtmOnlineParameter::UploadRequest:
// the DTM goes online; its end comes as IDtmEvents::OnUploadFinished), then releases it in order:
// communication (waiting up to `noticeTimeout` ms for IDtmEvents::OnPreparedToReleaseCommunication
// before IDtm::ReleaseCommunication), deletion, release, the last reference. Only FDT interfaces
// are used; the state shown is the one a frame follows: from its calls' answers and, while the
// DTM has a channel, from the DTM's state documents.
// Each step appends lines to *lines ("IDtm2::Environment2: 0x00000000 (S_OK), result TRUE, state 6
// (dsENVIRONMENTSET)", "  frame: lock VKR-1", "  channel: ConnectRequest", ...). The calling thread
// must be in an apartment. S_OK when the DTM went all the way to its release; otherwise the result
// of the first step that failed or was refused (S_FALSE), whose name goes to *failedStep when
// given.
HRESULT RunLifecycle(LPCOLESTR progId, std::vector<std::string>* lines, std::string* failedStep = nullptr,
                     DWORD noticeTimeout = kReleaseNoticeTimeoutMs);

// Creates the DTM of the ProgID twice, once in an FDT 1.2 frame (IDtm::Environment) and once in an
// FDT 1.2.1 frame (IDtm2::Environment2), asks each for its DTM information document, checks the
// document against the frame's schema set, and releases the DTM. *lines gets each step, each
// document and "valid" or the reason it is not. S_OK when both documents came and validated.
HRESULT RunInformation(LPCOLESTR progId, std::vector<std::string>* lines);

}  // namespace vkr::frame
