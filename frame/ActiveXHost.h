// The frame's hosting of the DTM's user interfaces (IFdtActiveXHost, answered by the container).
//
// Open asks the DTM which class shows a function call (IDtmActiveXInformation::GetActiveXGuid),
// makes a fresh invoke id, a frame window with a host window in it and the control (client site,
// initialisation, in-place activation), sizes the frame window to the control and calls the
// control's IDtmActiveXControl::Init with the invoke id, the function call and the DTM.
//
// Close calls the control's PrepareToRelease first; FALSE keeps it open. Otherwise the control
// leaves the open list, is deactivated and its frame window destroyed; it goes when the last
// reference does, which may be after the message being handled (a close from inside the
// control's own close request).
//
// The host loop's filter chain of the frame's thread (installed once, on first use): the message
// mediators first, then the in-place active object of the control that holds the message's
// window (IOleInPlaceActiveObject::TranslateAccelerator); the dialog manager comes after.
#pragma once

#include <string>
#include <vector>

#include "include/FdtInterfaces.h"
#include "platform/platform.h"

namespace vkr::frame {

class ActiveXHost {
 public:
  struct OpenControl {
    std::string invokeId;
    std::u16string functionCall;
    CLSID clsid{};
    HWND window = nullptr;  // the frame window
    HWND host = nullptr;    // the host window inside it
    ComPtr<IUnknown> control;
  };

  ActiveXHost() = default;
  ActiveXHost(const ActiveXHost&) = delete;
  ActiveXHost& operator=(const ActiveXHost&) = delete;
  ~ActiveXHost();

  // IFdtActiveXHost::OpenActiveXControl for `dtm`. S_OK with *opened; S_FALSE (*opened FALSE) when
  // the DTM names no class for the call, or the control refused Init; a failure to make the
  // control is returned.
  HRESULT Open(IUnknown* dtm, BSTR functionCall, VARIANT_BOOL* opened);
  // The part after the class question: opens the class given for the call.
  HRESULT OpenClass(IUnknown* dtm, REFCLSID clsid, BSTR functionCall, VARIANT_BOOL* opened);
  // IFdtActiveXHost::CloseActiveXControl. E_INVALIDARG for an unknown invoke id.
  HRESULT Close(BSTR invokeId, VARIANT_BOOL* closed);
  // Closes every open control without asking (the frame is going away).
  void CloseAll();

  const std::vector<OpenControl>& OpenControls() const { return m_open; }
  const OpenControl* Find(const std::string& invokeId) const;
  // What the host did: "open {clsid} <invoke id>", "init <invoke id> -> 1",
  // "prepare <invoke id> -> 0", "closed <invoke id>".
  std::vector<std::string> record;

 private:
  HRESULT Destroy(OpenControl control);
  std::vector<OpenControl> m_open;
};

// The frame's window class for hosted user interfaces (registered once).
const char16_t* FrameWindowClass();

// Installs the frame's filter on the calling thread's host loop (once per thread).
void InstallHostLoopFilter();

// The in-place active objects of the controls open on this thread, for the filter.
bool TranslateForOpenControls(MSG* msg);

// A function-call document for a function id, as a frame sends it.
std::u16string FunctionCallDocument(LONG functionId);

}  // namespace vkr::frame
