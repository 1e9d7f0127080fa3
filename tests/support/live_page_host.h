// The real module's DTM on the frame's channel to a simulated transmitter, with the outside
// controls, and one property page of the module shown on its own as the frame host shows it
// (frame/PageHost): the fixture of the device pages' end-to-end tests. A test's SetUp sets up
// `device_` first, then calls StartSession().
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameHost.h"
#include "frame/PageHost.h"
#include "frame/Quiet.h"
#include "frame/SimulatedDevice.h"
#include "frame/TransferSession.h"
#include "frame/controls/OutsideControls.h"
#include "include/ActiveXInterfaces.h"
#include "include/DtmInterfaces.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/page_site_harness.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"

namespace vkr::test {

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* object) {
  vkr::ComPtr<Interface> found;
  if (object) object->QueryInterface(Interface::iid, found.PutVoid());
  return found;
}

// A dialog item anywhere below the window.
inline HWND FindItem(HWND root, int id) {
  for (HWND child = GetWindow(root, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (GetDlgCtrlID(child) == id) return child;
    if (HWND found = FindItem(child, id)) return found;
  }
  return nullptr;
}

// The texts of a tree's top-level items, in order, as the tree reads them.
inline std::vector<std::string> TreeTitles(HWND tree) {
  std::vector<std::string> titles;
  for (auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)); item;
       item = reinterpret_cast<HTREEITEM>(
           SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
    char text[128] = {};
    TVITEMA data{};
    data.mask = TVIF_TEXT | TVIF_HANDLE;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
    titles.push_back(text);
  }
  return titles;
}

// COM, a scratch registry with the module and the outside controls registered, and the module's DTM
// on a session to the device (with the ActiveX host window class first when atl).
inline void OpenLiveSession(std::unique_ptr<ScopedRegistry>* registry,
                            std::unique_ptr<vkr::frame::TransferSession>* session,
                            const std::shared_ptr<vkr::frame::SimulatedDevice>& device, bool atl) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  *registry = std::make_unique<ScopedRegistry>();
  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
  ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
  if (atl) AtlAxWinInit();
  *session = std::make_unique<vkr::frame::TransferSession>();
  ASSERT_EQ((*session)->Open(u"Vorn.ExampleDtm", device, ""), S_OK);
}

// Undoes OpenLiveSession after the session closed.
inline void EndLiveSession(std::unique_ptr<ScopedRegistry>* registry) {
  vkr::frame::RevokeOutsideControls();
  registry->reset();
  CoFreeUnusedLibraries();
  CoUninitialize();
}

// The frame's buttons as the online frame presses them: the trigger parameter set to 1, which the
// DTM tells the open user interfaces.
inline void PressTrigger(IUnknown* dtm, ULONG trigger) {
  auto handler = Query<IovFdtParameterHandler4>(dtm);
  ASSERT_TRUE(handler);
  VARIANT one = vkr::EmptyVariant();
  one.vt = VT_UI1;
  one.bVal = 1;
  ASSERT_EQ(handler->SetParameterValue(vkr::UI4(trigger), one), S_OK);
}

class LivePageHostTest : public ::testing::Test {
 protected:
  LivePageHostTest() : device_(std::make_shared<vkr::frame::SimulatedDevice>()) {}

  void StartSession() { OpenLiveSession(&registry_, &session_, device_, true); }
  // Opens the DTM's function as a frame opens it; the control it opened, or null.
  IUnknown* OpenFunction(int function) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"),
                                                    vkr::Bstr(vkr::frame::FunctionCallDocument(function)), &opened),
              S_OK);
    if (!opened || session_->Frame()->activeX.OpenControls().empty()) return nullptr;
    return session_->Frame()->activeX.OpenControls().back().control.Get();
  }

  void TearDown() override {
    if (page_) {
      bool closed = false;
      page_->Close(&closed);
      EXPECT_TRUE(closed);
      page_.reset();
    }
    if (cookie_) CoRevokeClassObject(cookie_);
    if (session_) {
      EXPECT_EQ(session_->Close(), S_OK);
    }
    session_.reset();
    EndLiveSession(&registry_);
  }

  // The page of the class as the frame host shows it: the module's own, or with TPage the test
  // program's class (registered in the process), whose object the test reaches through Object().
  template <class TPage = void>
  void Open(REFCLSID clsid) {
    if constexpr (!std::is_void_v<TPage>) {
      vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<TPage>>> factory;
      ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<TPage>>(&factory), S_OK);
      ASSERT_EQ(CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                      REGCLS_MULTIPLEUSE, &cookie_),
                S_OK);
    }
    page_ = std::make_unique<vkr::frame::PageHost>();
    ASSERT_EQ(page_->Open(session_->Dtm(), session_->Frame(), clsid, vkr::Bstr(vkr::frame::FunctionCallDocument(0))),
              S_OK);
    ASSERT_EQ(ui::DtmState(session_->Dtm()), dsONLINE);
    // The DTM tells its user interfaces that it is online (message 67) after the frame heard of
    // it; the page then reads every entry again. Let that pass before the user acts.
    vkr::frame::WaitUntilQuiet();
  }
  template <class TPage>
  TPage* Object() {
    vkr::ComPtr<IPropertyPage> page;
    page_->Page()->QueryInterface(IPropertyPage::iid, page.PutVoid());
    return dynamic_cast<TPage*>(page.Get());
  }
  HWND Window() const { return page_->Window(); }

  void Press(LONG trigger) { PressTrigger(session_->Dtm(), static_cast<ULONG>(trigger)); }
  // Replaces an edit's text as a person does: click, select all, type.
  void Type(int id, const std::string& text) {
    HWND edit = FindItem(Window(), id);
    ASSERT_TRUE(vkr::ui::Click(edit));
    SendMessageA(edit, EM_SETSEL, 0, -1);
    ASSERT_TRUE(vkr::ui::TypeText(edit, text));
  }
  static bool WaitFor(const std::function<bool()>& done, int ms = 10000) { return PumpUntil(done, ms); }

  std::unique_ptr<ScopedRegistry> registry_;
  std::shared_ptr<vkr::frame::SimulatedDevice> device_;
  std::unique_ptr<vkr::frame::TransferSession> session_;
  std::unique_ptr<vkr::frame::PageHost> page_;
  DWORD cookie_ = 0;
};

// The same DTM online, with one page of the module hosted as a page frame hosts it (site,
// objects, window, start, show) in a test harness window. A test sets up `device` first, then
// calls StartDtm() and OpenPage().
class LivePageSiteTest : public ::testing::Test {
 protected:
  LivePageSiteTest() : device(std::make_shared<vkr::frame::SimulatedDevice>()) {}

  void StartDtm() {
    ASSERT_NO_FATAL_FAILURE(OpenLiveSession(&m_registry, &m_session, device, false));
    dtm = m_session->Dtm();
    ASSERT_EQ(ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(dtm) == dsONLINE; }, 20000));
  }

  void OpenPage(const CLSID& clsid, const char* title) {
    host = std::make_unique<PageSiteHarness>(720, 720);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, page.PutVoid()), S_OK);
    ASSERT_EQ(page->SetPageSite(host->Site()), S_OK);
    IUnknown* objects[] = {dtm};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(vkr::Utf16ToUtf8(info.pszTitle), title);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);
    CoTaskMemFree(info.pszDocString);
    const RECT rect{0, 0, info.size.cx, info.size.cy};
    ASSERT_EQ(page->Activate(host->Hwnd(), &rect, FALSE), S_OK);
    auto container = Query<IovFdtActiveXContainer>(dtm);
    ASSERT_TRUE(container);
    vkr::Bstr call;
    ASSERT_EQ(container->GetFunctionCallDocument(5, call.Put()), S_OK);
    auto control = Query<IovFdtPropertyPageControl>(page.Get());
    ASSERT_TRUE(control);
    VARIANT_BOOL started = VARIANT_FALSE;
    ASSERT_EQ(control->Init(vkr::Bstr(u"device-page").Get(), call.Get(), dtm, &started), S_OK);
    ASSERT_EQ(started, VARIANT_TRUE);
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
  }

  void ClosePage() {
    if (page) {
      if (auto control = Query<IovFdtPropertyPageControl>(page.Get())) {
        VARIANT_BOOL ready = VARIANT_FALSE;
        control->PrepareToRelease(&ready);
      }
      page->Deactivate();
      page->SetPageSite(nullptr);
      page = nullptr;
    }
    host.reset();
  }

  void TearDown() override {
    ClosePage();
    if (m_session) m_session->Close();
    m_session.reset();
    EndLiveSession(&m_registry);
  }

  std::string Text(UINT id) const { return vkr::ui::WindowText(host->Item(static_cast<int>(id))); }
  bool WaitForText(UINT id, const std::string& text, int ms = 10000) {
    return PumpUntil([&] { return Text(id) == text; }, ms);
  }
  static void Settle() { vkr::frame::WaitUntilQuiet(); }

  // Replaces a field's text as a person does: click, select all, type.
  void Type(UINT id, const std::string& text) {
    HWND edit = host->Item(static_cast<int>(id));
    vkr::ui::Click(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    if (text.empty())
      vkr::ui::PressKey(VK_DELETE);
    else
      vkr::ui::TypeText(edit, text);
    vkr::ui::PumpUntilIdle();
  }

  // The frame's buttons: parameter 1041 (Refresh) or 1042 (Send).
  void PressButton(ULONG id) { PressTrigger(dtm, id); }
  void PressSend() { PressButton(1042); }

  int Received(int command) const {
    int n = 0;
    for (const auto& r : device->received) n += r.command == command;
    return n;
  }

  std::unique_ptr<ScopedRegistry> m_registry;
  std::shared_ptr<vkr::frame::SimulatedDevice> device;
  std::unique_ptr<vkr::frame::TransferSession> m_session;
  IUnknown* dtm = nullptr;
  std::unique_ptr<PageSiteHarness> host;
  vkr::ComPtr<IPropertyPage> page;
};

// What the transmitter holds of everything the pages write, as one text to compare before and
// after.
inline std::string StoredSettings(const vkr::frame::SimulatedDevice::Configuration& c) {
  vkr::frame::Bytes floats(12);
  vkr::frame::wire::PutFloat(&floats, 0, c.upperRange);
  vkr::frame::wire::PutFloat(&floats, 4, c.lowerRange);
  vkr::frame::wire::PutFloat(&floats, 8, c.damping);
  std::string text;
  for (const vkr::frame::Bytes& b :
       {floats, c.message, c.tagDescriptorDate, c.finalAssembly, c.longTag, c.displaySettings, c.echoSettings,
        vkr::frame::Bytes{c.rangeUnit, c.pvUnit, c.pollingAddress, c.loopCurrentMode}})
    text += vkr::frame::wire::ToHex(b) + "|";
  for (const auto& [address, word] : c.memory) text += std::to_string(address) + "=" + std::to_string(word) + "|";
  return text;
}

}  // namespace vkr::test
