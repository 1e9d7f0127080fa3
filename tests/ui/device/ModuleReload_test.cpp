// The module unloaded and loaded again in one process, as a frame application does between two
// projects: its window classes go with it, and the online frame of the module loaded again opens
// (with its tree and splitters) and closes as the first did. Nothing of the module outlives its
// session, not even a user interface the frame tore down without asking.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "frame/ActiveXHost.h"
#include "frame/FrameHost.h"
#include "frame/Quiet.h"
#include "frame/TransferSession.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/live_page_host.h"
#include "tests/support/threading.h"
#include "ui/device/DeviceUiIds.h"

namespace {

using namespace vkr::test;

// The window classes of the online frame that the module registers itself.
constexpr const char16_t* kModuleClasses[] = {u"VornDottedVertSplitter"};

// The module's class of the name runs the module's code: false when the module has no such class.
bool ClassRunsCodeOf(const char16_t* name, HMODULE module) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(module, name, &wc) || wc.hInstance != module) return false;
  return vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(wc.lpfnWndProc)) == module;
}

// A class the module left behind: registered for its instance, its procedure in code that is gone.
bool ClassIsLeftBy(const char16_t* name, HMODULE module) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(module, name, &wc)) return false;
  return wc.hInstance == module ||
         vkr::platform::ModuleFromAddress(reinterpret_cast<const void*>(wc.lpfnWndProc)) == nullptr;
}

// The module is loaded still once the process frees what nobody uses: objects of it are alive.
bool ModuleIsHeld() {
  CoFreeUnusedLibraries();
  return GetModuleHandleA(VKR_MODULE_PATH) != nullptr;
}

TEST(ModuleReload, TheOnlineFrameOpensAgainAfterTheModuleWasUnloadedAndLoaded) {
  ASSERT_FALSE(ModuleIsHeld()) << "objects of the module that an earlier test made are still alive";
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    std::unique_ptr<ScopedRegistry> registry;
    std::unique_ptr<vkr::frame::TransferSession> session;
    auto device = std::make_shared<vkr::frame::SimulatedDevice>();
    ASSERT_NO_FATAL_FAILURE(OpenLiveSession(&registry, &session, device, true));
    HMODULE module = GetModuleHandleA(VKR_MODULE_PATH);
    ASSERT_NE(module, nullptr);

    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(1));
    ASSERT_EQ(session->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), call, &opened), S_OK);
    ASSERT_TRUE(opened);
    const auto& open = session->Frame()->activeX.OpenControls().back();
    const std::string invokeId = open.invokeId;
    EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(session->Dtm()) == dsONLINE; }, 20000));
    vkr::frame::WaitUntilQuiet();
    // The page tree holds the ten pages.
    HWND tree = FindItem(open.window, 516);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(SendMessageA(tree, TVM_GETCOUNT, 0, 0), 10);
    for (const char16_t* name : kModuleClasses) EXPECT_TRUE(ClassRunsCodeOf(name, module)) << vkr::Utf16ToUtf8(name);

    VARIANT_BOOL closed = VARIANT_FALSE;
    ASSERT_EQ(session->Frame()->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(invokeId)), &closed), S_OK);
    EXPECT_TRUE(closed);
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(session->Close(), S_OK);
    session.reset();
    EndLiveSession(&registry);

    EXPECT_EQ(GetModuleHandleA(VKR_MODULE_PATH), nullptr) << "the module stayed loaded";
    for (const char16_t* name : kModuleClasses) EXPECT_FALSE(ClassIsLeftBy(name, module)) << vkr::Utf16ToUtf8(name);
  }
}

// A frame that tears its user interfaces down without asking them first (their windows destroyed,
// IOleObject::Close) leaves none of them on the DTM's list: the DTM agrees to its release, and
// the DTM, its thread and the controls are gone with the session.
TEST(ModuleReload, UserInterfacesTornDownWithoutAskingLetTheDtmGo) {
  ASSERT_FALSE(ModuleIsHeld()) << "objects of the module that an earlier test made are still alive";
  std::unique_ptr<ScopedRegistry> registry;
  std::unique_ptr<vkr::frame::TransferSession> session;
  auto device = std::make_shared<vkr::frame::SimulatedDevice>();
  ASSERT_NO_FATAL_FAILURE(OpenLiveSession(&registry, &session, device, true));
  // The online frame, then the trend view once the DTM is online.
  for (LONG function : {1, 2}) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    ASSERT_EQ(session->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"),
                                                   vkr::Bstr(vkr::frame::FunctionCallDocument(function)), &opened),
              S_OK);
    ASSERT_TRUE(opened) << function;
    ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(session->Dtm()) == dsONLINE; }, 20000));
  }
  ASSERT_EQ(session->Frame()->activeX.OpenControls().size(), 2u);
  session->Frame()->activeX.CloseAll();
  vkr::ui::PumpUntilIdle();
  for (const std::string& line : session->Frame()->activeX.record)
    EXPECT_EQ(line.rfind("prepare ", 0), std::string::npos) << "asked: " << line;

  // The frame lets the DTM go as at the end of a project; the DTM says it is ready.
  const vkr::frame::FrameContainer* frame = session->Frame();  // the session keeps it
  const std::size_t seen = frame->notifications.size();
  EXPECT_EQ(session->Close(), S_OK);
  const auto released = [&] {
    for (std::size_t i = seen; i < frame->notifications.size(); ++i)
      if (frame->notifications[i].rfind("prepared to release ", 0) == 0 &&
          frame->notifications[i].find("communication") == std::string::npos)
        return true;
    return false;
  };
  EXPECT_TRUE(PumpUntil(released, 5000)) << "the DTM refused its release: it still counts a user interface the frame let go";
  session.reset();
  EndLiveSession(&registry);
  EXPECT_EQ(GetModuleHandleA(VKR_MODULE_PATH), nullptr) << "the module stayed loaded";
}

}  // namespace
