// The roads the device pages take to the transmitter, end to end: the real DTM online through the
// frame's channel to the simulated transmitter. Every answer the pages decode arrives as the bytes
// the transmitter sent; every write the pages make (through parameters or their own transactions on
// connection 0) leaves exactly its bytes in the transmitter.
#include <gtest/gtest.h>
#include "frame/Quiet.h"

#include "include/CommunicationInterfaces.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/ByteSpan.h"
#include "ui/device/kit/ResponseBytes.h"

namespace {

using namespace vkr::dui;
using vkr::frame::Bytes;  // the same type as std::vector<BYTE>
using vkr::frame::SimulatedDevice;
using vkr::test::ui::BytesOf;
namespace wire = vkr::frame::wire;

vkr::Variant Array(const Bytes& bytes) {
  vkr::Variant value;
  EXPECT_EQ(MakeByteArray(bytes, &value), S_OK);
  return value;
}

VARIANT Number(VARTYPE vt, double n) {
  VARIANT value = vkr::EmptyVariant();
  value.vt = vt;
  if (vt == VT_R4)
    value.fltVal = static_cast<float>(n);
  else
    value.bVal = static_cast<BYTE>(n);
  return value;
}

class DeviceRoads : public vkr::test::LivePageSiteTest {
 protected:
  void SetUp() override {
    // Every member of every group differs from its neighbours, so a field written to the wrong
    // place shows.
    auto& c = device->config;
    c.displaySettings = {3, 0, 2, 5, 17, 0, 0x40, 0x20, 0, 0};
    c.sensorSerial = {0x0A, 0x0B, 0x0C};
    c.upperSensorLimit = 18.5f;
    c.lowerSensorLimit = 0.25f;
    c.minimumSpan = 0.125f;
    c.upperRange = 7.5f;
    c.lowerRange = 0.5f;
    c.damping = 1.25f;
    c.writeProtect = 0;
    c.privateLabel = 0x61;
    ASSERT_NO_FATAL_FAILURE(StartDtm());
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
    vkr::frame::WaitUntilQuiet();
  }
  void TearDown() override {
    handler = nullptr;
    if (m_session) {
      EXPECT_EQ(m_session->Close(), S_OK);
    }
    m_session.reset();
    LivePageSiteTest::TearDown();
  }

  // Waits for the transmitter to receive what the call sent (it returns before that).
  void AwaitDevice(size_t before, LONG id) {
    EXPECT_TRUE(vkr::test::PumpUntil([&] { return device->received.size() > before; }, 10000)) << id;
    vkr::frame::WaitUntilQuiet();
  }
  // Reads the parameter from the device as a page does and waits for its device value.
  vkr::Variant Read(LONG id) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    const size_t before = device->received.size();
    EXPECT_EQ(handler->ReadDeviceParameter(vkr::UI4(static_cast<ULONG>(id)), &ok), S_OK) << id;
    AwaitDevice(before, id);
    return vkr::test::ui::DeviceValue(dtm, static_cast<ULONG>(id));
  }
  // Writes the parameter to the device as a page does; the transmitter takes it as the command.
  void Write(LONG id, const VARIANT& value, int command) {
    VARIANT_BOOL done = VARIANT_FALSE;
    const size_t before = device->received.size();
    EXPECT_EQ(handler->WriteDeviceParameter(vkr::UI4(static_cast<ULONG>(id)), value, &done), S_OK) << id;
    AwaitDevice(before, id);
    EXPECT_EQ(device->received.back().command, command) << id;
  }
  // One transaction of the pages' own on connection 0; the response code must be 0.
  Bytes Transaction(BYTE command, const Bytes& request) {
    auto connections = vkr::test::Query<IovFdtConnectionManagement>(dtm);
    vkr::ComPtr<IUnknown> connection;
    EXPECT_TRUE(connections && SUCCEEDED(connections->GetConnection(0, connection.Put())));
    auto service = vkr::test::Query<IovFdtHartServiceInterface>(connection.Get());
    if (!service) {
      ADD_FAILURE() << "no HART service on connection 0";
      return {};
    }
    vkr::Bstr hex, answer, error;
    HexOfBytes(request, hex.Put());
    BYTE status = 0, code = 0xFF;
    EXPECT_EQ(service->Transaction(command, hex, &status, &code, answer.Put(), error.Put()), S_OK) << +command;
    EXPECT_EQ(code, 0) << +command;
    Bytes bytes;
    BytesOfHex(answer, &bytes);
    return bytes;
  }

  vkr::ComPtr<IovFdtParameterHandler4> handler;
};

// What each page decodes arrives as the transmitter's bytes, whole.
TEST_F(DeviceRoads, EveryAnswerThePagesDecodeArrivesAsTheTransmittersBytes) {
  const SimulatedDevice& d = *device;
  Bytes cmd14(d.config.sensorSerial.begin(), d.config.sensorSerial.end());
  cmd14.push_back(d.config.limitsUnit);
  wire::PutFloat(&cmd14, 4, 18.5f);
  wire::PutFloat(&cmd14, 8, 0.25f);
  wire::PutFloat(&cmd14, 12, 0.125f);
  Bytes cmd15{0, 0, 45};
  wire::PutFloat(&cmd15, 3, 7.5f);
  wire::PutFloat(&cmd15, 7, 0.5f);
  wire::PutFloat(&cmd15, 11, 1.25f);
  cmd15.insert(cmd15.end(), {0, 0x61, 0});
  Bytes cmd1{45};
  wire::PutFloat(&cmd1, 1, d.config.pv);
  const struct {
    LONG id;
    BYTE command;
    Bytes expected;
  } cases[] = {
      {kParCommand0Complete, 0, device->Execute(0, {}).data},
      {kParCommand1Complete, 1, cmd1},
      {kParCommand2Complete, 2, device->Execute(2, {}).data},
      {kParCommand14Complete, 14, cmd14},
      {kParCommand15Complete, 15, cmd15},
      {kParSpCmd1, 135, d.config.displaySettings},
      {kParMessage, 12, d.config.message},
      {kParFinalAssemblyNumber, 16, d.config.finalAssembly},
      {kParDescriptorTagDate, 13, d.config.tagDescriptorDate},
      {kParTagOnly, 13, Bytes(d.config.tagDescriptorDate.begin(), d.config.tagDescriptorDate.begin() + 6)},
      {kParLongTag, 20, d.config.longTag},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("parameter " + std::to_string(c.id));
    const vkr::Variant value = Read(c.id);
    EXPECT_EQ(device->received.back().command, c.command);
    EXPECT_EQ(wire::ToHex(BytesOf(value)), wire::ToHex(c.expected));
  }
  // The identity check's codes are the DTM's registration (manufacturer 0x60, device type 0xE6).
  const Bytes identity = BytesOf(Read(kParCommand0Complete));
  ASSERT_GE(identity.size(), 3u);
  EXPECT_EQ(identity[1], 0x60);
  EXPECT_EQ(identity[2], 0xE6);
  // Write protection and the private label share one 16-bit value, the code in the high byte.
  vkr::Variant protect;
  const vkr::Variant read = Read(kParWriteProtect);
  ASSERT_EQ(VariantChangeType(&protect, &read, 0, VT_UI2), S_OK);
  EXPECT_EQ(protect.uiVal, 0x0061);
}

// Every write of the Command, Process and Device pages leaves its bytes in the transmitter and
// nothing else changes.
TEST_F(DeviceRoads, EveryWriteOfThePagesLeavesItsBytesInTheTransmitter) {
  // The range record: unit, upper and lower range value.
  CByteWriter range;
  range.U8(44).Float(12.5f).Float(1.75f);
  Write(kParRangeValues, Array(range.Data()), 35);
  EXPECT_EQ(device->config.rangeUnit, 44);
  EXPECT_EQ(device->config.upperRange, 12.5f);
  EXPECT_EQ(device->config.lowerRange, 1.75f);

  Write(kParDamping, Number(VT_R4, 3.5), 34);
  EXPECT_EQ(device->config.damping, 3.5f);

  Write(kParPvUnit, Number(VT_UI1, 44), 44);
  EXPECT_EQ(device->config.pvUnit, 44);

  Write(kParFinalAssemblyNumber, Array({0x12, 0x34, 0x56}), 19);
  EXPECT_EQ(wire::ToHex(device->config.finalAssembly), "123456");

  Bytes longTag(32, 0);
  const std::string text = "TANK 7 RADAR";
  std::copy(text.begin(), text.end(), longTag.begin());
  Write(kParLongTag, Array(longTag), 22);
  EXPECT_EQ(device->config.longTag, longTag);

  // The probe length request: command 131 with 00 35 00 02; the answer is the parameter's value.
  Write(kParCommand131, Array({0x00, 0x35, 0x00, 0x02}), 131);
  EXPECT_EQ(wire::ToHex(device->received.back().request), "00350002");

  // One byte of command 136 after the others were read: the rest of the ten bytes as they were.
  Read(kParSpCmd1);
  Bytes expected = device->config.displaySettings;
  Write(kParTracking, Number(VT_UI1, 4), 136);
  expected[1] = 4;
  EXPECT_EQ(wire::ToHex(device->config.displaySettings), wire::ToHex(expected));
}

// The Command and Device pages' own transactions: message (17), tag, descriptor and date (18),
// the display settings (135) and the digitize command (136), the probe length (131).
TEST_F(DeviceRoads, ThePagesOwnTransactionsOnConnectionZero) {
  Transaction(17, EncodePackedAscii("level probe tank 7", 32));
  EXPECT_EQ(device->Message(), "LEVEL PROBE TANK 7              ");

  CByteWriter tdd;
  tdd.PackedAscii("LT-7", 8).PackedAscii("north tank", 16).U8(24).U8(11).U8(126);
  ASSERT_TRUE(tdd.Ok());
  Transaction(18, tdd.Data());
  EXPECT_EQ(device->Tag(), "LT-7    ");
  EXPECT_EQ(device->Descriptor(), "NORTH TANK      ");
  EXPECT_EQ(wire::ToHex(Bytes(device->config.tagDescriptorDate.begin() + 18, device->config.tagDescriptorDate.end())),
            "180B7E");

  const Bytes settings = Transaction(135, {});
  EXPECT_EQ(wire::ToHex(settings), "03000205110040200000");
  ASSERT_GE(settings.size(), 5u);
  CByteWriter digitize;
  digitize.Bytes(Bytes(settings.begin(), settings.begin() + 5)).U8(3).Float(2.5f);
  Transaction(136, digitize.Data());
  EXPECT_EQ(wire::ToHex(device->config.displaySettings), "0300020511" "03" "40200000");

  const Bytes probe = Transaction(131, {0x00, 0x35, 0x00, 0x02});
  ASSERT_GE(probe.size(), 2u);
  EXPECT_EQ(*CByteReader(probe).U16(0), 800);
}

// The frame's triggers: set to 1 twice (as VT_I4, as the pages set them), each set is kept in the
// parameter's own type, which the pages test, and none is refused.
TEST_F(DeviceRoads, TriggerParametersTakeOneAgainAndAgain) {
  const std::pair<LONG, VARTYPE> triggers[] = {{kParButtonRefresh, VT_UI1},
                                               {kParButtonSend, VT_UI1},
                                               {kParActivateButtonSend, VT_UI1},
                                               {kParOnlineAxCounter, VT_UI4}};
  for (const auto& [id, vt] : triggers) {
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(handler->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), vkr::I4(1)), S_OK) << id;
    }
    vkr::Variant value;
    ASSERT_EQ(handler->GetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value.Put()), S_OK);
    EXPECT_EQ(value.vt, vt) << id;
    vkr::Variant number;
    ASSERT_EQ(VariantChangeType(&number, &value, 0, VT_I4), S_OK);
    EXPECT_EQ(number.lVal, 1) << id;
  }
}

}  // namespace
