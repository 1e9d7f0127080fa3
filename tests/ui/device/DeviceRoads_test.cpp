// The roads the device pages take to the transmitter, end to end: the real DTM online through the
// frame's channel to the simulated transmitter. Every answer the pages decode arrives as the bytes
// the transmitter sent; every write the pages make (through parameters or their own transactions on
// connection 0) leaves exactly its bytes in the transmitter.
#include <gtest/gtest.h>

#include <memory>

#include "frame/FrameHost.h"
#include "frame/TransferSession.h"
#include "include/CommunicationInterfaces.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/temp_files.h"
#include "tests/support/threading.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/ByteSpan.h"
#include "ui/device/kit/ResponseBytes.h"

namespace {

using namespace vkr::dui;
using vkr::frame::Bytes;
using vkr::frame::SimulatedDevice;
namespace wire = vkr::frame::wire;

class DeviceRoads : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    registry = std::make_unique<vkr::test::ScopedRegistry>();
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    device = std::make_shared<SimulatedDevice>();
    // Every member of every group differs from its neighbours, so a field written to the wrong
    // place shows.
    device->config.displaySettings = {3, 0, 2, 5, 17, 0, 0x40, 0x20, 0, 0};
    device->config.sensorSerial = {0x0A, 0x0B, 0x0C};
    device->config.upperSensorLimit = 18.5f;
    device->config.lowerSensorLimit = 0.25f;
    device->config.minimumSpan = 0.125f;
    device->config.upperRange = 7.5f;
    device->config.lowerRange = 0.5f;
    device->config.damping = 1.25f;
    device->config.writeProtect = 0;
    device->config.privateLabel = 0x61;
    session = std::make_unique<vkr::frame::TransferSession>();
    ASSERT_EQ(session->Open(u"Vorn.ExampleDtm", device, ""), S_OK);
    dtm = session->Dtm();
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
    ASSERT_EQ(vkr::test::ui::GoOnline(dtm), S_OK);
    ASSERT_TRUE(vkr::test::PumpUntil([&] { return vkr::test::ui::DtmState(dtm) == dsONLINE; }, 20000));
    vkr::frame::TransferSession::Pump(50);
  }
  void TearDown() override {
    handler = nullptr;
    if (session) {
      EXPECT_EQ(session->Close(), S_OK);
    }
    session.reset();
    registry.reset();
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  // Reads the parameter from the device as a page does and waits for its device value.
  vkr::Variant Read(LONG id) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    const size_t before = device->received.size();
    EXPECT_EQ(handler->ReadDeviceParameter(vkr::UI4(static_cast<ULONG>(id)), &ok), S_OK) << id;
    EXPECT_TRUE(vkr::test::PumpUntil([&] { return device->received.size() > before; }, 10000)) << id;
    vkr::frame::TransferSession::Pump(100);
    return vkr::test::ui::DeviceValue(dtm, static_cast<ULONG>(id));
  }
  // Writes the parameter to the device as a page does and waits for the transmitter to take it.
  void Write(LONG id, const VARIANT& value) {
    VARIANT_BOOL done = VARIANT_FALSE;
    const size_t before = device->received.size();
    EXPECT_EQ(handler->WriteDeviceParameter(vkr::UI4(static_cast<ULONG>(id)), value, &done), S_OK) << id;
    EXPECT_TRUE(vkr::test::PumpUntil([&] { return device->received.size() > before; }, 10000)) << id;
    vkr::frame::TransferSession::Pump(100);
  }
  // One transaction of the pages' own on connection 0.
  HRESULT Transaction(BYTE command, const Bytes& request, BYTE* code, Bytes* response) {
    vkr::ComPtr<IovFdtConnectionManagement> connections;
    HRESULT hr = dtm->QueryInterface(IovFdtConnectionManagement::iid, connections.PutVoid());
    if (FAILED(hr)) return hr;
    vkr::ComPtr<IUnknown> connection;
    if (FAILED(hr = connections->GetConnection(0, connection.Put()))) return hr;
    vkr::ComPtr<IovFdtHartServiceInterface> service;
    if (FAILED(hr = connection->QueryInterface(IovFdtHartServiceInterface::iid, service.PutVoid()))) return hr;
    vkr::Bstr hex, answer, error;
    HexOfBytes(std::vector<BYTE>(request.begin(), request.end()), hex.Put());
    BYTE status = 0;
    hr = service->Transaction(command, hex, &status, code, answer.Put(), error.Put());
    std::vector<BYTE> bytes;
    BytesOfHex(answer, &bytes);
    response->assign(bytes.begin(), bytes.end());
    return hr;
  }

  std::unique_ptr<vkr::test::ScopedRegistry> registry;
  std::shared_ptr<SimulatedDevice> device;
  std::unique_ptr<vkr::frame::TransferSession> session;
  IUnknown* dtm = nullptr;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
};

Bytes BytesOf(const VARIANT& value) {
  const std::vector<BYTE> b = vkr::test::ui::BytesOf(value);
  return Bytes(b.begin(), b.end());
}

// What each page decodes arrives as the transmitter's bytes, whole.
TEST_F(DeviceRoads, EveryAnswerThePagesDecodeArrivesAsTheTransmittersBytes) {
  const SimulatedDevice& d = *device;
  Bytes serial(d.config.sensorSerial.begin(), d.config.sensorSerial.end());
  struct Case {
    LONG id;
    BYTE command;
    Bytes expected;
  };
  Bytes cmd14 = serial;
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
  const Case cases[] = {
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
  for (const Case& c : cases) {
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
  vkr::Variant record;
  ASSERT_EQ(MakeByteArray(range.Data(), &record), S_OK);
  Write(kParRangeValues, record);
  EXPECT_EQ(device->received.back().command, 35);
  EXPECT_EQ(device->config.rangeUnit, 44);
  EXPECT_EQ(device->config.upperRange, 12.5f);
  EXPECT_EQ(device->config.lowerRange, 1.75f);

  VARIANT damping = vkr::EmptyVariant();
  damping.vt = VT_R4;
  damping.fltVal = 3.5f;
  Write(kParDamping, damping);
  EXPECT_EQ(device->received.back().command, 34);
  EXPECT_EQ(device->config.damping, 3.5f);

  VARIANT unit = vkr::EmptyVariant();
  unit.vt = VT_UI1;
  unit.bVal = 44;
  Write(kParPvUnit, unit);
  EXPECT_EQ(device->received.back().command, 44);
  EXPECT_EQ(device->config.pvUnit, 44);

  vkr::Variant number;
  ASSERT_EQ(MakeByteArray(std::vector<BYTE>{0x12, 0x34, 0x56}, &number), S_OK);
  Write(kParFinalAssemblyNumber, number);
  EXPECT_EQ(device->received.back().command, 19);
  EXPECT_EQ(wire::ToHex(device->config.finalAssembly), "123456");

  std::vector<BYTE> longTag(32, 0);
  const std::string text = "TANK 7 RADAR";
  std::copy(text.begin(), text.end(), longTag.begin());
  vkr::Variant tag;
  ASSERT_EQ(MakeByteArray(longTag, &tag), S_OK);
  Write(kParLongTag, tag);
  EXPECT_EQ(device->received.back().command, 22);
  EXPECT_EQ(device->config.longTag, Bytes(longTag.begin(), longTag.end()));

  // The probe length request: command 131 with 00 35 00 02; the answer is the parameter's value.
  vkr::Variant request;
  ASSERT_EQ(MakeByteArray(std::vector<BYTE>{0x00, 0x35, 0x00, 0x02}, &request), S_OK);
  Write(kParCommand131, request);
  EXPECT_EQ(device->received.back().command, 131);
  EXPECT_EQ(wire::ToHex(device->received.back().request), "00350002");

  // One byte of command 136 after the others were read: the rest of the ten bytes as they were.
  Read(kParSpCmd1);
  const Bytes before = device->config.displaySettings;
  VARIANT tracking = vkr::EmptyVariant();
  tracking.vt = VT_UI1;
  tracking.bVal = 4;
  Write(kParTracking, tracking);
  EXPECT_EQ(device->received.back().command, 136);
  Bytes expected = before;
  expected[1] = 4;
  EXPECT_EQ(wire::ToHex(device->config.displaySettings), wire::ToHex(expected));
}

// The Command and Device pages' own transactions: message (17), tag, descriptor and date (18),
// the display settings (135) and the digitize command (136), the probe length (131).
TEST_F(DeviceRoads, ThePagesOwnTransactionsOnConnectionZero) {
  BYTE code = 0xFF;
  Bytes response;
  const std::vector<BYTE> message = EncodePackedAscii("level probe tank 7", 32);
  ASSERT_EQ(Transaction(17, Bytes(message.begin(), message.end()), &code, &response), S_OK);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(device->Message(), "LEVEL PROBE TANK 7              ");

  CByteWriter tdd;
  tdd.PackedAscii("LT-7", 8).PackedAscii("north tank", 16).U8(24).U8(11).U8(126);
  ASSERT_TRUE(tdd.Ok());
  ASSERT_EQ(Transaction(18, Bytes(tdd.Data().begin(), tdd.Data().end()), &code, &response), S_OK);
  EXPECT_EQ(device->Tag(), "LT-7    ");
  EXPECT_EQ(device->Descriptor(), "NORTH TANK      ");
  EXPECT_EQ(wire::ToHex(Bytes(device->config.tagDescriptorDate.begin() + 18, device->config.tagDescriptorDate.end())),
            "180B7E");

  ASSERT_EQ(Transaction(135, {}, &code, &response), S_OK);
  EXPECT_EQ(wire::ToHex(response), "0300020511004020" "0000");
  CByteWriter digitize;
  digitize.Bytes(std::vector<BYTE>(response.begin(), response.begin() + 5)).U8(3).Float(2.5f);
  ASSERT_EQ(Transaction(136, Bytes(digitize.Data().begin(), digitize.Data().end()), &code, &response), S_OK);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(wire::ToHex(device->config.displaySettings), "0300020511" "03" "40200000");

  ASSERT_EQ(Transaction(131, {0x00, 0x35, 0x00, 0x02}, &code, &response), S_OK);
  ASSERT_GE(response.size(), 2u);
  EXPECT_EQ(*CByteReader(std::vector<BYTE>(response.begin(), response.end())).U16(0), 800);
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
