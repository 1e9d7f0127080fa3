// The module unloaded and loaded again in one process, as a frame application does between two
// projects: its window classes go with it, and the online frame of the module loaded again opens
// (with its tree and splitters) and closes as the first did.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "frame/ActiveXHost.h"
#include "frame/FrameHost.h"
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

TEST(ModuleReload, TheOnlineFrameOpensAgainAfterTheModuleWasUnloadedAndLoaded) {
  // Objects that earlier tests of this process left behind hold the module: it cannot unload.
  if (GetModuleHandleA(VKR_MODULE_PATH)) GTEST_SKIP() << "the module is held by an earlier test";
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
    vkr::frame::TransferSession::Pump(300);
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

}  // namespace
