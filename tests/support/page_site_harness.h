// A property page's frame for tests: a visible parent window and a recording IPropertyPageSite, so
// a page can be activated, shown and driven before any page frame exists.
//
//   PageSiteHarness host(700, 500);
//   page->SetPageSite(host.Site());
//   page->Activate(host.Hwnd(), &host.Rect(), FALSE);
//   page->Show(SW_SHOW);
//   EXPECT_EQ(host.StatusChanges(), (std::vector<DWORD>{PROPPAGESTATUS_DIRTY}));
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::test {

class RecordingPageSite : public vkr::Implements<IPropertyPageSite> {
 public:
  std::vector<DWORD> statusChanges;
  // The key messages the page gave back ("256 9" for WM_KEYDOWN VK_TAB).
  std::vector<std::string> accelerators;
  HRESULT acceleratorAnswer = S_FALSE;
  LCID locale = 1033;

  HRESULT OnStatusChange(DWORD flags) override {
    statusChanges.push_back(flags);
    return S_OK;
  }
  HRESULT GetLocaleID(LCID* id) override {
    if (!id) return E_POINTER;
    *id = locale;
    return S_OK;
  }
  HRESULT GetPageContainer(IUnknown** container) override {
    if (container) *container = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TranslateAccelerator(MSG* msg) override {
    if (!msg) return E_POINTER;
    accelerators.push_back(std::to_string(msg->message) + " " + std::to_string(msg->wParam));
    return acceleratorAnswer;
  }
};

class PageSiteHarness {
 public:
  // A hidden harness paints nothing until it is shown.
  PageSiteHarness(int width, int height, bool shown = true) : m_rect{0, 0, width, height} {
    static const bool registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.style = CS_GLOBALCLASS;
      wc.lpfnWndProc = &DefWindowProcW;
      wc.lpszClassName = u"VkrPageSiteHarness";
      return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    m_hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, u"VkrPageSiteHarness", u"pages", WS_POPUP | (shown ? WS_VISIBLE : 0), 0, 0,
                             width, height, nullptr, nullptr, nullptr, nullptr);
    vkr::MakeObject<RecordingPageSite>(&m_site);
  }
  ~PageSiteHarness() {
    if (m_hwnd && IsWindow(m_hwnd)) DestroyWindow(m_hwnd);
  }
  PageSiteHarness(const PageSiteHarness&) = delete;
  PageSiteHarness& operator=(const PageSiteHarness&) = delete;

  HWND Hwnd() const { return m_hwnd; }
  const RECT& Rect() const { return m_rect; }
  IPropertyPageSite* Site() const { return m_site.Get(); }
  RecordingPageSite& Recorder() const { return *m_site.Get(); }
  const std::vector<DWORD>& StatusChanges() const { return m_site->statusChanges; }
  // The page's window: the parent's first child.
  HWND Page() const { return GetWindow(m_hwnd, GW_CHILD); }
  // A dialog item of the page, looked for among all its descendants.
  HWND Item(int id) const { return Find(Page(), id); }

 private:
  static HWND Find(HWND parent, int id) {
    if (!parent) return nullptr;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (GetDlgCtrlID(child) == id) return child;
      if (HWND deeper = Find(child, id)) return deeper;
    }
    return nullptr;
  }

  HWND m_hwnd = nullptr;
  RECT m_rect;
  vkr::ComPtr<vkr::ComObject<RecordingPageSite>> m_site;
};

}  // namespace vkr::test
