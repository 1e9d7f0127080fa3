// The device status the DTM module gives a frame (IDtmOnlineDiagnosis::GetDeviceStatus) for the
// simulated transmitter behind the frame's channel: its word sums up the HART status bits the
// transmitter's answers carry, as its Status page shows them one by one.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "frame/FrameHost.h"
#include "frame/TransferSession.h"
#include "tests/support/temp_files.h"

namespace {

using vkr::frame::SimulatedDevice;
using vkr::frame::TransferSession;

TEST(TransmitterStatus, TheDtmsWordFollowsTheHartStatusBits) {
  vkr::test::ScopedRegistry registry;
  vkr::test::TempDir drives;
  vkr::test::ScopedEnv root{"VKR_DRIVE_ROOT", drives.path()};
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
  struct Case {
    const char* state;
    std::function<void(SimulatedDevice&)> make;
    const char* word;
  };
  const Case cases[] = {
      {"in the range", [](SimulatedDevice&) {}, "ok"},
      {"configuration changed", [](SimulatedDevice& d) { d.config.configChanged = {true, true}; }, "ok"},
      // Just beyond the range the current still follows the level: nothing to warn of.
      {"PV just over the range", [](SimulatedDevice& d) { d.config.upperRange = 2.55f; }, "ok"},
      {"PV beyond the sensor's limits", [](SimulatedDevice& d) { d.config.lowerSensorLimit = 2.0f; }, "warning"},
      {"loop current saturated", [](SimulatedDevice& d) { d.config.upperRange = 6.0f; }, "warning"},
      {"loop current fixed", [](SimulatedDevice& d) { d.config.fixedCurrent = 12.0f; }, "warning"},
      {"more status available", [](SimulatedDevice& d) { d.config.additionalStatus[1] = 0x10; }, "warning"},
      {"field device malfunction",
       [](SimulatedDevice& d) {
         vkr::frame::CommandFault fault;
         fault.deviceStatus = 0x80;
         fault.persistent = true;
         d.InjectFault(fault);
       },
       "error"},
      {"field device malfunction the transmitter keeps", [](SimulatedDevice& d) { d.config.malfunction = true; }, "error"},
      {"no device at the DTM's address", [](SimulatedDevice& d) { d.config.pollingAddress = 5; }, "error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    auto device = std::make_shared<SimulatedDevice>();
    c.make(*device);
    TransferSession session;
    ASSERT_EQ(session.Open(u"Vorn.ExampleDtm", device, ""), S_OK);
    vkr::ComPtr<IDtmOnlineDiagnosis> diagnosis;
    session.Dtm()->QueryInterface(IDtmOnlineDiagnosis::iid, diagnosis.PutVoid());
    ASSERT_TRUE(diagnosis);
    vkr::Bstr document;
    ASSERT_EQ(diagnosis->GetDeviceStatus(document.Put()), S_OK);
    const std::string text = vkr::Utf16ToUtf8(document.View());
    EXPECT_NE(text.find(std::string("statusFlag=\"") + c.word + "\""), std::string::npos) << text;
    EXPECT_EQ(session.Close(), S_OK);
  }
  CoFreeUnusedLibraries();
  CoUninitialize();
}

}  // namespace
