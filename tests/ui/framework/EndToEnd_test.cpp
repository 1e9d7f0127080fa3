// The user-interface base against the real DTM online, end to end: the test dialog shows what the
// simulated transmitter holds, the user types into a field, the input is validated by the DTM and
// written through the frame's HART channel, and what counts is what the transmitter ends up
// holding.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "communication/CMyConnection.h"
#include "frame/FrameChannel.h"
#include "tests/support/comm_client_fakes.h"
#include "tests/support/test_user_interface.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;
namespace wire = vkr::frame::wire;
using vkr::frame::Bytes;
using vkr::frame::FrameChannel;
using vkr::frame::SimulatedDevice;

// Command 13/18's members: the tag (6 packed characters), the descriptor (12), day, month, year.
constexpr ULONG kDescriptorId = 1055;
constexpr ULONG kDayId = 1056;
constexpr ULONG kMonthId = 1057;
constexpr ULONG kYearId = 1058;
constexpr UINT kWriteTagCommand = 18;

Bytes TagDescriptorDate(const std::string& tag, const std::string& descriptor, int day, int month, int year) {
  Bytes data = wire::PackAscii(tag, 6);
  const Bytes text = wire::PackAscii(descriptor, 12);
  data.insert(data.end(), text.begin(), text.end());
  data.push_back(static_cast<std::uint8_t>(day));
  data.push_back(static_cast<std::uint8_t>(month));
  data.push_back(static_cast<std::uint8_t>(year));
  return data;
}

vkr::Variant Text(const char16_t* text) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}
vkr::Variant Byte(int n) {
  vkr::Variant v;
  v.vt = VT_UI1;
  v.bVal = static_cast<BYTE>(n);
  return v;
}

class UserInterfaceEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<CommDtm>(&dtm), S_OK);
    dtm->SetThread(thread.Get());
    dtm->SetSchemaPath(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR).c_str());
    ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
    device = channel->devices.front();
    ASSERT_EQ(static_cast<IovFdtCommunicationClient4*>(dtm.Get())->SetCommunication(channel.Get()), S_OK);
    dtm->ForceState(dsGOINGONLINE);
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(dtm->GoOnline(&done), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return dtm->State() == dsONLINE; })) << "state " << dtm->State();
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
  }
  void TearDown() override {
    EXPECT_TRUE(channel->failures.empty()) << channel->failures.front();
    host.reset();
    handler = nullptr;
    if (dtm) {
      dtm->ForceState(dsGOINGOFFLINE);
      VARIANT_BOOL done = VARIANT_FALSE;
      dtm->GoOffline(&done);
      PumpUntil([&] { return dtm->State() == dsCOMMUNICATIONSET; });
      dtm->DropChannel();
    }
    dtm = nullptr;
    channel = nullptr;
    CoRevokeClassObject(cookie);
    DrainQueue();
    CoUninitialize();
  }

  // The test dialog, online and allowed to write, opened on the DTM as its function container
  // holds an open user interface.
  void OpenDialog() {
    host = std::make_unique<TestUserInterfaceHost>();
    ui = host->Ui();
    ui->SetDialogType(0x4 | 0x8);
    dtm->AddOpenUserInterface(u"e2e", static_cast<IovFdtActiveX4*>(ui));
    ASSERT_EQ(host->Open(static_cast<IovFdtBaseDTM*>(dtm.Get())), S_OK);
  }
  // Waits until the channel delivered every answer.
  void Settle() {
    ASSERT_TRUE(PumpUntil([&] { return channel->PendingAnswers() == 0; }));
    ASSERT_TRUE(PumpUntilQuiet());
  }
  // Types into the field as a person does: click, select all, type.
  void Type(UINT field, const char* text) {
    vkr::ui::Click(host->Item(field));
    SendMessageA(host->Item(field), EM_SETSEL, 0, -1);
    SendMessageA(host->Item(field), WM_CLEAR, 0, 0);
    vkr::ui::TypeText(host->Item(field), text);
    vkr::ui::PumpUntilIdle();
  }
  void Leave(UINT next) {
    vkr::ui::Click(host->Item(next));
    vkr::ui::PumpUntilIdle();
  }
  void SetDataSet(ULONG id, const vkr::Variant& value) { ASSERT_EQ(dtm->SetValueById(id, value), S_OK) << id; }
  std::size_t WritesOfTheGroup() const {
    std::size_t n = 0;
    for (const auto& r : device->received) n += r.command == kWriteTagCommand;
    return n;
  }

  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> factory;
  DWORD cookie = 0;
  Journal journal;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<CommDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<FrameChannel>> channel;
  std::shared_ptr<SimulatedDevice> device;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  std::unique_ptr<TestUserInterfaceHost> host;
  CTestUserInterface* ui = nullptr;
};

// The tag field shows what the transmitter holds. Typed and left, the new tag is validated and
// written with the group's other members as the data set holds them; typed too long, it is marked,
// the user is brought back, and nothing goes out; written as a page writes it, the other members
// are the values last read from the transmitter. Every member of the group holds a value of its
// own in the transmitter and another in the data set, so a member taken from the wrong place or put
// at the wrong place shows in the bytes.
TEST_F(UserInterfaceEndToEnd, ATypedValueIsValidatedAndWrittenToTheTransmitter) {
  device->config.tagDescriptorDate = TagDescriptorDate("OLDTAG", "OLD DESCRIPT", 3, 4, 101);
  VARIANT_BOOL read = VARIANT_FALSE;
  ASSERT_EQ(handler->ReadDeviceParameterEx(vkr::UI4(kTestTagId), &read), S_OK);
  ASSERT_EQ(read, VARIANT_TRUE);

  OpenDialog();
  EXPECT_EQ(host->Text(kTestTagEdit), "OLDTAG  ");
  // The DTM tells the user's level (an engineer) and that its data set may be edited.
  ASSERT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastUserLevel), vkr::UI4(8)), S_OK);
  ASSERT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastLockState), vkr::BoolVariant(true)), S_OK);
  SetDataSet(kDescriptorId, Text(u"DATASET DESC"));
  SetDataSet(kDayId, Byte(7));
  SetDataSet(kMonthId, Byte(8));
  SetDataSet(kYearId, Byte(109));

  Type(kTestTagEdit, "NEWTAG");
  Leave(kTestDampingEdit);
  Settle();
  EXPECT_EQ(wire::ToHex(device->config.tagDescriptorDate),
            wire::ToHex(TagDescriptorDate("NEWTAG", "DATASET DESC", 7, 8, 109)));
  EXPECT_EQ(ui->Entry(kEntryTag).m_nState & 0x4, 0u);

  const std::size_t writes = WritesOfTheGroup();
  Type(kTestTagEdit, "MUCHTOOLONG");
  Leave(kTestDampingEdit);
  Settle();
  EXPECT_EQ(WritesOfTheGroup(), writes) << "refused input went out";
  EXPECT_EQ(ui->Entry(kEntryTag).m_nState & 0x4, 0x4u) << "not marked invalid";
  EXPECT_EQ(GetFocus(), host->Item(kTestTagEdit)) << "the user is not back at the field";
  EXPECT_EQ(wire::ToHex(device->config.tagDescriptorDate),
            wire::ToHex(TagDescriptorDate("NEWTAG", "DATASET DESC", 7, 8, 109)));

  // The page's own write: the other members as last read from the transmitter, whatever the data
  // set holds meanwhile.
  ASSERT_EQ(handler->ReadDeviceParameterEx(vkr::UI4(kTestTagId), &read), S_OK);
  SetDataSet(kDescriptorId, Text(u"OTHER DESC"));
  SetDataSet(kDayId, Byte(9));
  SetDataSet(kMonthId, Byte(10));
  SetDataSet(kYearId, Byte(111));
  Type(kTestTagEdit, "PAGE-1");
  ASSERT_EQ(ui->WriteDeviceParameter(kEntryTag), S_OK);
  Settle();
  EXPECT_EQ(WritesOfTheGroup(), writes + 1);
  EXPECT_EQ(wire::ToHex(device->config.tagDescriptorDate),
            wire::ToHex(TagDescriptorDate("PAGE-1", "DATASET DESC", 7, 8, 109)));
  EXPECT_TRUE(ui->errors.empty()) << vkr::Utf16ToUtf8(ui->errors.front());
}

// Applying the dialog's changes and asking for cyclic reading, against the real DTM: the DTM takes
// the audit-trail messages around the writes, the changed tag reaches the transmitter (the other
// members from the data set, as a blocking write takes them) and the apply button goes off; a new
// update rate makes the DTM ask the dialog, by the key it was opened under, for its cyclic
// parameters and start, change and stop their reading on its thread.
TEST_F(UserInterfaceEndToEnd, ApplyAndUpdateRatesReachTheDtm) {
  device->config.tagDescriptorDate = TagDescriptorDate("OLDTAG", "OLD DESCRIPT", 3, 4, 101);
  VARIANT_BOOL read = VARIANT_FALSE;
  ASSERT_EQ(handler->ReadDeviceParameterEx(vkr::UI4(kTestTagId), &read), S_OK);
  OpenDialog();
  ui->m_bstrSystemTag = vkr::Bstr(u"e2e");
  ASSERT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastUserLevel), vkr::UI4(8)), S_OK);
  ASSERT_EQ(dtm->Broadcast(vkr::UI4(kBroadcastLockState), vkr::BoolVariant(true)), S_OK);
  SetDataSet(kDescriptorId, Text(u"DATASET DESC"));
  SetDataSet(kDayId, Byte(7));
  SetDataSet(kMonthId, Byte(8));
  SetDataSet(kYearId, Byte(109));

  Type(kTestTagEdit, "APPLY-1");
  EXPECT_EQ(ui->Entry(kEntryTag).m_nState & 0x2, 0x2u) << "the typed tag is no change";
  ui->applyButtonChanges.clear();
  ASSERT_EQ(ui->ApplyParameterChanges(), S_OK);
  Settle();
  EXPECT_EQ(wire::ToHex(device->config.tagDescriptorDate),
            wire::ToHex(TagDescriptorDate("APPLY-1", "DATASET DESC", 7, 8, 109)));
  EXPECT_EQ(ui->applyButtonChanges, std::vector<BOOL>{FALSE});
  EXPECT_TRUE(ui->errors.empty()) << vkr::Utf16ToUtf8(ui->errors.front());

  journal.Clear();
  ASSERT_EQ(ui->ChangeUpdateRate(kTestDampingId, 500), S_OK);
  EXPECT_EQ(journal.With("job "), (std::vector<std::string>{"job 6 id 1022 rate 500", "job 6 id 1048 rate 1000"}));
  journal.Clear();
  ASSERT_EQ(ui->ChangeUpdateRate(kTestDampingId, 250), S_OK);
  ASSERT_EQ(ui->ChangeUpdateRate(kTestDampingId, 250), S_OK);
  ASSERT_EQ(ui->ChangeUpdateRate(kTestCurrentValueId, 0), S_OK);
  EXPECT_EQ(journal.With("job "), (std::vector<std::string>{"job 8 id 1022 rate 250", "job 7 id 1048 rate 1000"}));
}

}  // namespace
