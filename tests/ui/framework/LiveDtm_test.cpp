// The test dialog opened through the live DTM (the module as a frame creates it, with its DTM
// thread, online to the simulated transmitter): values the DTM gets from the transmitter by roads
// of its own reach the open dialog without the dialog reading them, on the dialog's own thread.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "frame/FrameHost.h"
#include "frame/Quiet.h"
#include "frame/TransferSession.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/temp_files.h"
#include "tests/support/test_user_interface.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;

// The test dialog, telling what the DTM handed it and whether it read anything itself.
class WatchedUserInterface : public CTestUserInterface {
 public:
  std::vector<ULONG> commands;
  std::vector<DWORD> threads;
  int ownReads = 0;

  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override {
    if (command.vt == VT_UI4) commands.push_back(command.ulVal);
    threads.push_back(GetCurrentThreadId());
    return CTestUserInterface::ExecuteCommand(command, argument);
  }
  HRESULT ReadDeviceParameter(ULONG index) override {
    ++ownReads;
    return CTestUserInterface::ReadDeviceParameter(index);
  }
  HRESULT ReadDeviceParameterEx(LONG id) override {
    ++ownReads;
    return CTestUserInterface::ReadDeviceParameterEx(id);
  }
};

// The current (PV loop current) is read by the DTM's upload and by its cyclic reading; neither is
// the dialog's doing, and the dialog shows each new value as it arrives. A read the device refuses
// is told to the dialog as the DTM's error text. A value the user types goes out and comes back
// to the dialog while it commits, and stands there as it was written.
TEST(LiveDtm, ValuesTheDtmReadsByItsOwnRoadsReachTheOpenDialog) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    ScopedRegistry registry;
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    auto device = std::make_shared<vkr::frame::SimulatedDevice>();
    device->config.fixedCurrent = 3.0f;
    vkr::frame::TransferSession session;
    ASSERT_EQ(session.Open(u"Vorn.ExampleDtm", device, ""), S_OK);
    IUnknown* dtm = session.Dtm();

    vkr::ComPtr<vkr::ComObject<WatchedUserInterface>> made;
    ASSERT_EQ(vkr::MakeObject<WatchedUserInterface>(&made), S_OK);
    WatchedUserInterface& ui = *made.Get();
    {
      TestUserInterfaceHost host(&ui);
      vkr::ComPtr<IovFdtActiveXContainer> container;
      vkr::ComPtr<IovFdtActiveXManagement> management;
      ASSERT_EQ(dtm->QueryInterface(IovFdtActiveXContainer::iid, container.PutVoid()), S_OK);
      ASSERT_EQ(dtm->QueryInterface(IovFdtActiveXManagement::iid, management.PutVoid()), S_OK);
      vkr::Bstr call;
      ASSERT_EQ(container->GetFunctionCallDocument(5, call.Put()), S_OK);
      ui.functionCall = call.Str();
      ui.SetDialogType(0x4 | 0x8);
      ui.m_bstrSystemTag = vkr::Bstr(u"live-1");
      ASSERT_EQ(host.Open(dtm), S_OK);
      ASSERT_EQ(management->StartFunction(vkr::Bstr(u"live-1"), static_cast<IovFdtActiveX4*>(&ui), 0), S_OK);
      ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
      ASSERT_TRUE(PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
      // The dialog reads the values the DTM has none of yet when the word that it is online reaches
      // it, which on a loaded machine may be well after the DTM is online: those reads are its own.
      ASSERT_TRUE(PumpUntil([&] { return ui.m_nDtmState == dsONLINE; }, 20000));
      vkr::frame::WaitUntilQuiet();
      ui.ownReads = 0;
      ui.commands.clear();

      // The frame's upload.
      device->config.fixedCurrent = 7.25f;
      bool uploaded = false;
      ASSERT_EQ(session.Upload(&uploaded), S_OK);
      ASSERT_TRUE(uploaded);
      EXPECT_TRUE(PumpUntil([&] { return host.Text(kTestCurrentValueText) == "7.250"; }, 2000))
          << "shows \"" << host.Text(kTestCurrentValueText) << "\"";

      // The DTM thread's cyclic reading, which the dialog asks for and the DTM runs.
      device->config.fixedCurrent = 9.5f;
      ASSERT_EQ(ui.ChangeUpdateRate(kTestCurrentValueId, 100), S_OK);
      EXPECT_TRUE(PumpUntil([&] { return host.Text(kTestCurrentValueText) == "9.500"; }, 10000))
          << "shows \"" << host.Text(kTestCurrentValueText) << "\"";
      device->config.fixedCurrent = 11.125f;
      EXPECT_TRUE(PumpUntil([&] { return host.Text(kTestCurrentValueText) == "11.125"; }, 10000))
          << "shows \"" << host.Text(kTestCurrentValueText) << "\"";
      ui.errors.clear();
      vkr::frame::CommandFault refused;
      refused.command = 3;
      refused.commandResponse = vkr::frame::hart::kInvalidSelection;
      refused.persistent = true;
      device->InjectFault(refused);
      EXPECT_TRUE(PumpUntil([&] { return !ui.errors.empty(); }, 10000)) << "the failed read was not told";
      if (!ui.errors.empty()) {
        EXPECT_NE(ui.errors.front().find(u"command response = 0x02"), std::u16string::npos)
            << vkr::Utf16ToUtf8(ui.errors.front());
      }
      device->ClearFaults();
      ASSERT_EQ(ui.ChangeUpdateRate(kTestCurrentValueId, 0), S_OK);

      EXPECT_EQ(ui.ownReads, 0);
      EXPECT_NE(std::find(ui.commands.begin(), ui.commands.end(), 0x270DUL), ui.commands.end());

      // The user's own value: written, stored, and told back to the dialog while it commits.
      vkr::frame::WaitUntilQuiet();
      ui.errors.clear();
      vkr::ui::Click(host.Item(kTestDampingEdit));
      SendMessageA(host.Item(kTestDampingEdit), EM_SETSEL, 0, -1);
      vkr::ui::TypeText(host.Item(kTestDampingEdit), "2.5");
      vkr::ui::Click(host.Item(kTestUpperRangeEdit));
      EXPECT_TRUE(PumpUntil([&] { return device->config.damping == 2.5f; }, 10000)) << device->config.damping;
      vkr::frame::WaitUntilQuiet();
      EXPECT_EQ(host.Text(kTestDampingEdit), "2.50");
      EXPECT_EQ(ui.Entry(kEntryDamping).m_nState & 0x6, 0u);
      EXPECT_TRUE(ui.errors.empty()) << vkr::Utf16ToUtf8(ui.errors.front());
      for (DWORD thread : ui.threads) EXPECT_EQ(thread, GetCurrentThreadId());
      EXPECT_EQ(management->FunctionFinished(vkr::Bstr(u"live-1")), S_OK);
    }
    EXPECT_EQ(session.Close(), S_OK);
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
}

}  // namespace
