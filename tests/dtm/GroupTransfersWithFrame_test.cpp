// Writes and reads of transaction groups whose members share request bytes, end to end: the DTM's
// communication client, the module's connection class, the stand-in frame's HART channel and the
// simulated transmitter behind it. What counts is what the transmitter ends up holding, and what
// every parameter that was asked for is told.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "communication/CMyConnection.h"
#include "frame/FrameChannel.h"
#include "tests/support/comm_client_fakes.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;
namespace wire = vkr::frame::wire;
using vkr::frame::Bytes;
using vkr::frame::FrameChannel;
using vkr::frame::SimulatedDevice;

// The DTM, with every device answer its parameter handler gets written down.
class TransferDtm : public CommDtm {
 public:
  struct Answer {
    bool ok;
    ULONG id;
  };
  std::vector<Answer> answers;

  HRESULT HandleDevParResponse(VARIANT_BOOL success, VARIANT id, VARIANT data, BSTR text) override {
    vkr::Variant n;
    VariantChangeType(&n, &id, 0, VT_UI4);
    answers.push_back({success != VARIANT_FALSE, n.ulVal});
    return CommDtm::HandleDevParResponse(success, id, data, text);
  }
  // "ok" or "failed" for the last answer about id; "none" when there was none.
  std::string Told(ULONG id) const {
    for (auto it = answers.rbegin(); it != answers.rend(); ++it)
      if (it->id == id) return it->ok ? "ok" : "failed";
    return "none";
  }
};

// How one member of a group lies in the command's data.
enum class Kind { Ascii, Raw, Byte, Float };
struct Member {
  ULONG id;
  std::size_t offset, size;
  Kind kind;
  bool writable = true;
};

// A value of a member in its parameter's type, and the bytes the device should hold for it.
struct Value {
  std::string text;  // Ascii
  Bytes raw;         // Raw
  int number = 0;    // Byte
  float real = 0;    // Float
};
Value Text(std::string text) { return Value{std::move(text), {}, 0, 0}; }
Value Raw(Bytes bytes) { return Value{{}, std::move(bytes), 0, 0}; }
Value Number(int n) { return Value{{}, {}, n, 0}; }
Value Real(float f) { return Value{{}, {}, 0, f}; }

vkr::Variant ToVariant(const Member& m, const Value& v) {
  vkr::Variant out;
  switch (m.kind) {
    case Kind::Ascii:
      out.vt = VT_BSTR;
      out.bstrVal = SysAllocString(vkr::Utf8ToUtf16(v.text).c_str());
      break;
    case Kind::Raw: {
      out.vt = VT_ARRAY | VT_UI1;
      out.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(v.raw.size()));
      for (LONG i = 0; i < static_cast<LONG>(v.raw.size()); ++i) {
        BYTE b = v.raw[static_cast<std::size_t>(i)];
        SafeArrayPutElement(out.parray, &i, &b);
      }
      break;
    }
    case Kind::Byte:
      out.vt = VT_UI1;
      out.bVal = static_cast<BYTE>(v.number);
      break;
    case Kind::Float:
      out.vt = VT_R4;
      out.fltVal = v.real;
      break;
  }
  return out;
}

void Place(Bytes* data, const Member& m, const Value& v) {
  Bytes field;
  switch (m.kind) {
    case Kind::Ascii:
      field = wire::PackAscii(v.text, m.size);
      break;
    case Kind::Raw:
      field = v.raw;
      break;
    case Kind::Byte:
      field = {static_cast<std::uint8_t>(v.number)};
      break;
    case Kind::Float:
      field.assign(4, 0);
      wire::PutFloat(&field, 0, v.real);
      break;
  }
  field.resize(m.size);
  std::copy(field.begin(), field.end(), data->begin() + static_cast<std::ptrdiff_t>(m.offset));
}

Bytes Filled(std::size_t n, std::uint8_t first) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
  return b;
}

// A group whose members cover the same request bytes, with the device's data, a data set whose own
// parameters hold other values, views of the bytes holding a third set, and new values to write.
struct Group {
  const char* name;
  Bytes SimulatedDevice::Configuration::*stored;
  std::vector<Member> members;
  Bytes device;                    // what the transmitter holds before
  std::map<ULONG, Value> dataSet;  // the data set: the fields hold one story, the views another
  std::vector<ULONG> fields;       // the members whose data-set values make the data the data set describes
  std::map<ULONG, Value> written;
};

std::vector<Group> Groups() {
  std::vector<Group> groups;
  // Commands 13/18: tag, descriptor and date, with byte-string views of all of it, of the tag and
  // of the descriptor.
  {
    Group g{"tag/descriptor/date", &SimulatedDevice::Configuration::tagDescriptorDate, {}, {}, {}, {}, {}};
    g.members = {{1017, 0, 21, Kind::Raw},  {1052, 0, 21, Kind::Raw, false}, {1053, 0, 21, Kind::Raw},
                 {1054, 0, 6, Kind::Ascii}, {1055, 6, 12, Kind::Ascii},      {1056, 18, 1, Kind::Byte},
                 {1057, 19, 1, Kind::Byte}, {1058, 20, 1, Kind::Byte},       {1092, 0, 6, Kind::Raw},
                 {1094, 6, 12, Kind::Raw}};
    g.device.assign(21, 0);
    Place(&g.device, g.members[3], Text("OLDTAG"));
    Place(&g.device, g.members[4], Text("OLD DESCRIPTOR"));
    g.device[18] = 3, g.device[19] = 4, g.device[20] = 101;
    g.dataSet = {{1017, Raw(Bytes(21, 0xE1))},
                 {1052, Raw(Bytes(21, 0xE2))},
                 {1053, Raw(Bytes(21, 0xE3))},
                 {1054, Text("DSETTAG")},
                 {1055, Text("DATASET DESCR")},
                 {1056, Number(7)},
                 {1057, Number(8)},
                 {1058, Number(109)},
                 {1092, Raw({0x15})},
                 {1094, Raw({0x15})}};
    g.fields = {1054, 1055, 1056, 1057, 1058};
    g.written = {{1017, Raw(Filled(21, 0x30))},
                 {1053, Raw(Filled(21, 0x50))},
                 {1054, Text("NEWTAG")},
                 {1055, Text("NEW DESCRIPTOR")},
                 {1056, Number(28)},
                 {1057, Number(12)},
                 {1058, Number(124)},
                 {1092, Raw(Filled(6, 0x70))},
                 {1094, Raw(Filled(12, 0x80))}};
    groups.push_back(std::move(g));
  }
  // Commands 20/22: the long tag and its view.
  {
    Group g{"long tag", &SimulatedDevice::Configuration::longTag, {}, {}, {}, {}, {}};
    g.members = {{1097, 0, 32, Kind::Raw}, {1098, 0, 32, Kind::Raw}};
    g.device = Filled(32, 0x20);
    g.dataSet = {{1097, Raw(Filled(32, 0x41))}, {1098, Raw(Bytes(32, 0xEE))}};
    g.fields = {1097};
    g.written = {{1097, Raw(Filled(32, 0x61))}, {1098, Raw(Filled(32, 0x90))}};
    groups.push_back(std::move(g));
  }
  // Commands 135/136: the display settings, with a view of all of them and one of the digitizing.
  {
    Group g{"display settings", &SimulatedDevice::Configuration::displaySettings, {}, {}, {}, {}, {}};
    g.members = {{1059, 0, 10, Kind::Raw},       {1064, 0, 1, Kind::Byte}, {1066, 1, 1, Kind::Byte},
                 {1068, 2, 1, Kind::Byte},       {1070, 3, 1, Kind::Byte}, {1071, 4, 1, Kind::Byte},
                 {1082, 5, 5, Kind::Raw, false}, {1088, 5, 1, Kind::Byte}, {1090, 6, 4, Kind::Float}};
    g.device = {2, 3, 4, 5, 6, 0, 0, 0, 0, 0};
    wire::PutFloat(&g.device, 6, 1.25f);
    g.dataSet = {{1059, Raw(Bytes(10, 0xE9))},
                 {1064, Number(9)},
                 {1066, Number(8)},
                 {1068, Number(7)},
                 {1070, Number(6)},
                 {1071, Number(5)},
                 {1082, Raw(Bytes(5, 0xEA))},
                 {1088, Number(4)},
                 {1090, Real(7.5f)}};
    g.fields = {1064, 1066, 1068, 1070, 1071, 1088, 1090};
    g.written = {{1059, Raw(Filled(10, 0xA0))},
                 {1064, Number(11)},
                 {1066, Number(12)},
                 {1068, Number(13)},
                 {1070, Number(14)},
                 {1071, Number(15)},
                 {1088, Number(1)},
                 {1090, Real(-3.5f)}};
    groups.push_back(std::move(g));
  }
  return groups;
}

const Member& MemberOf(const Group& g, ULONG id) {
  for (const Member& m : g.members)
    if (m.id == id) return m;
  throw std::logic_error("no member " + std::to_string(id));
}

// What the data set describes: its own parameters' values over the device's old bytes.
Bytes DataSetBytes(const Group& g) {
  Bytes data = g.device;
  for (ULONG id : g.fields) Place(&data, MemberOf(g, id), g.dataSet.at(id));
  return data;
}

class GroupTransfersWithFrame : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<TransferDtm>(&dtm), S_OK);
    dtm->SetThread(thread.Get());
    dtm->SetSchemaPath(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR).c_str());
    ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
    device = channel->devices.front();
    ASSERT_EQ(client()->SetCommunication(channel.Get()), S_OK);
    dtm->ForceState(dsGOINGONLINE);
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(dtm->GoOnline(&done), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return dtm->State() == dsONLINE; })) << "state " << dtm->State();
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
  }
  void TearDown() override {
    if (channel) {
      EXPECT_TRUE(channel->failures.empty()) << channel->failures.front();
    }
    handler = nullptr;
    if (dtm) {
      dtm->ForceState(dsGOINGOFFLINE);
      VARIANT_BOOL done = VARIANT_FALSE;
      dtm->GoOffline(&done);
      PumpUntil([&] { return dtm->State() == dsCOMMUNICATIONSET; });
      client()->SetCommunication(nullptr);
    }
    dtm = nullptr;
    channel = nullptr;
    CoRevokeClassObject(cookie);
    DrainQueue();
    CoUninitialize();
  }

  IovFdtCommunicationClient4* client() { return dtm.Get(); }
  // Pumps until the channel has delivered every answer.
  void Settle() {
    ASSERT_TRUE(PumpUntil([&] { return channel->PendingAnswers() == 0; }));
    ASSERT_TRUE(PumpUntilQuiet());
  }
  void SetDataSet(ULONG id, const vkr::Variant& value) { ASSERT_EQ(dtm->SetValueById(id, value), S_OK) << id; }
  vkr::Variant DataSet(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(dtm->GetValueById(id, &v), S_OK) << id;
    return v;
  }
  HRESULT Upload(VARIANT_BOOL* done) {
    vkr::Variant list;
    list.vt = VT_BSTR;
    list.bstrVal = SysAllocString(u"UploadList");
    vkr::ComPtr<IovFDTCommClientTransferParamList2> transfer;
    EXPECT_EQ(dtm->QueryInterface(IovFDTCommClientTransferParamList2::iid, transfer.PutVoid()), S_OK);
    return transfer->UploadParamList2(list, nullptr, VARIANT_TRUE, done);
  }

  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> factory;
  DWORD cookie = 0;
  Journal journal;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<TransferDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FrameChannel>> channel;
  std::shared_ptr<SimulatedDevice> device;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
};

// Every writable member of every group with shared bytes, written after a read, once as a
// parameter page writes (the other members from what the device holds) and once as a blocking
// write does (the other members from the data set): the device gets the new value, and what it
// held or what the data set holds around it, never a view's stale bytes.
TEST_F(GroupTransfersWithFrame, AWriteSendsItsValueAndNoViewOverwritesIt) {
  for (const Group& g : Groups()) {
    for (bool fromDataSet : {false, true}) {
      for (const Member& m : g.members) {
        if (!m.writable) continue;
        SCOPED_TRACE(std::string(g.name) + ", write of " + std::to_string(m.id) +
                     (fromDataSet ? " (blocking, data set)" : " (page, device values)"));
        device->config.*g.stored = g.device;
        VARIANT_BOOL done = VARIANT_FALSE;
        ASSERT_EQ(handler->ReadDeviceParameterEx(vkr::UI4(g.members.front().id), &done), S_OK);
        ASSERT_EQ(done, VARIANT_TRUE);
        for (const Member& other : g.members) SetDataSet(other.id, ToVariant(other, g.dataSet.at(other.id)));

        const Value& value = g.written.at(m.id);
        done = VARIANT_FALSE;
        if (fromDataSet) {
          ASSERT_EQ(handler->WriteDeviceParameterEx(vkr::UI4(m.id), ToVariant(m, value), &done), S_OK);
        } else {
          ASSERT_EQ(handler->WriteDeviceParameter(vkr::UI4(m.id), ToVariant(m, value), &done), S_OK);
          Settle();
        }
        EXPECT_EQ(done, VARIANT_TRUE);
        EXPECT_EQ(dtm->Told(m.id), "ok");

        Bytes expected = fromDataSet ? DataSetBytes(g) : g.device;
        Place(&expected, m, value);
        EXPECT_EQ(wire::ToHex(device->config.*g.stored), wire::ToHex(expected));
      }
    }
  }
}

// A download writes exactly what the data set holds: the views of the bytes, one of them in the
// download list itself, hold other values and change nothing.
TEST_F(GroupTransfersWithFrame, ADownloadWritesWhatTheDataSetHolds) {
  const std::vector<Group> groups = Groups();
  for (const Group& g : groups) {
    device->config.*g.stored = g.device;
    for (const Member& m : g.members) SetDataSet(m.id, ToVariant(m, g.dataSet.at(m.id)));
  }
  vkr::Variant list;
  list.vt = VT_BSTR;
  list.bstrVal = SysAllocString(u"DownloadList");
  vkr::ComPtr<IovFDTCommClientTransferParamList2> transfer;
  ASSERT_EQ(dtm->QueryInterface(IovFDTCommClientTransferParamList2::iid, transfer.PutVoid()), S_OK);
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(transfer->DownloadParamList2(list, nullptr, VARIANT_TRUE, &done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  for (const Group& g : groups)
    EXPECT_EQ(wire::ToHex(device->config.*g.stored), wire::ToHex(DataSetBytes(g))) << g.name;
}

// A command 3 answer cut short of the PV: a read of the PV fails and tells the PV so, whether it
// waits for the answer or not, and an upload fails instead of applying the old device values.
TEST_F(GroupTransfersWithFrame, AnAnswerTooShortForARequestedMemberFailsIt) {
  const float pv = device->config.pv;
  // Neither the transmitter's PV nor the device value the DTM starts with.
  vkr::Variant before;
  before.vt = VT_R4;
  before.fltVal = 9.75f;
  SetDataSet(1049, before);
  for (std::size_t keep : {0u, 2u, 6u}) {
    SCOPED_TRACE("command 3 answer cut to " + std::to_string(keep) + " bytes");
    FrameChannel::Fault cut;
    cut.kind = FrameChannel::FaultKind::TruncatedData;
    cut.command = 3;
    cut.keepBytes = keep;

    channel->faults.push_back(cut);
    dtm->answers.clear();
    VARIANT_BOOL done = VARIANT_TRUE;
    handler->ReadDeviceParameterEx(vkr::UI4(1049), &done);
    EXPECT_EQ(done, VARIANT_FALSE);
    EXPECT_EQ(dtm->Told(1049), "failed");

    // The page's read returns at once; the answer must still reach the PV.
    channel->faults.push_back(cut);
    dtm->answers.clear();
    ASSERT_EQ(handler->ReadDeviceParameter(vkr::UI4(1049), &done), S_OK);
    Settle();
    EXPECT_EQ(dtm->Told(1049), "failed");

    channel->faults.push_back(cut);
    done = VARIANT_TRUE;
    Upload(&done);
    EXPECT_EQ(done, VARIANT_FALSE);
    EXPECT_TRUE(IsVariantEqual(DataSet(1049), before)) << "no stale device value applied";
  }
  // The whole answer: the upload takes the transmitter's PV.
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(Upload(&done), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  const vkr::Variant after = DataSet(1049);
  ASSERT_EQ(after.vt, VT_R4);
  EXPECT_EQ(after.fltVal, pv);
}

}  // namespace
