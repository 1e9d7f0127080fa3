// A property page of the DTM shown on its own, as the DTM's page frame hosts it: the frame host's
// `ui --class` road for a class that is a property page (IPropertyPage) rather than a control.
//
// The page gets a popup window of its own size and a page site, is activated into the window,
// started with the DTM (the toolkit's page-control interface, as the DTM's type library describes
// it: Init after IDispatch, then PrepareToRelease) and shown. A page shows the device's values only
// while the DTM is online; the host takes the DTM online first, as an online user interface does.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::frame {

class FrameContainer;

class PageHost {
 public:
  PageHost() = default;
  ~PageHost();
  PageHost(const PageHost&) = delete;
  PageHost& operator=(const PageHost&) = delete;

  // Asks the DTM to go online and waits until the frame hears it is; false when it did not.
  static bool TakeOnline(IUnknown* dtm, FrameContainer* frame);
  // Whether the registered class is a property page (made once to ask it).
  static bool IsPropertyPage(REFCLSID clsid);

  // Takes the DTM online (waiting for the frame to hear of it), makes the page and shows it with
  // the DTM, then serves the frame's messages until the DTM is quiet (the page's reads answered)
  // or `waitMs` passes. S_FALSE when the page refused Init.
  HRESULT Open(IUnknown* dtm, FrameContainer* frame, REFCLSID clsid, BSTR functionCall, DWORD waitMs = 120000);
  // Clicks the page's control as the user does, then serves the frame's messages as Open does
  // (a button that reads the device). E_INVALIDARG when the page has no such control.
  HRESULT Click(int controlId, DWORD waitMs = 120000);
  // Asks the page (PrepareToRelease), then deactivates and releases it; *closed false when the
  // page kept itself open (it is released all the same).
  HRESULT Close(bool* closed);

  HWND Window() const { return m_window; }
  IUnknown* Page() const { return m_page.Get(); }
  // What happened, as lines: "online", "init -> 1", "prepare -> 1".
  std::vector<std::string> record;

 private:
  HWND m_window = nullptr;
  ComPtr<IPropertyPage> m_page;
  ComPtr<IPropertyPageSite> m_site;
  ComPtr<IUnknown> m_dtm;
};

}  // namespace vkr::frame
