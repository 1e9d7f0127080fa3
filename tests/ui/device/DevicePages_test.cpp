// The Device page: its decoders on short and full answers, and the page of the real module online
// to the simulated transmitter: the identification shown, every editable field changed and sent,
// entries that do not fit their device fields refused with nothing sent, and its picture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "include/ProgramIds.h"
#include "tests/support/device_ui_fixture.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DevicePP.h"

namespace {

using namespace vkr::dui;
using Bytes = std::vector<std::uint8_t>;
namespace wire = vkr::frame::wire;

// ---- Decoders ---------------------------------------------------------------------------------

Bytes Sequence(std::size_t n, std::uint8_t first = 1) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i);
  return b;
}

// Command 13's answer (and command 18's request): packed tag and descriptor, day, month, year - 1900.
Bytes TagDescriptorDate(const char* tag, const char* descriptor, std::uint8_t day, std::uint8_t month,
                        std::uint8_t year) {
  Bytes b = wire::PackAscii(tag, 6);
  const Bytes d = wire::PackAscii(descriptor, 12);
  b.insert(b.end(), d.begin(), d.end());
  b.insert(b.end(), {day, month, year});
  return b;
}

TEST(DevicePageDecoders, FieldsAppearOnlyWhenTheirBytesAreAllThere) {
  // Message: 24 packed bytes make 32 characters, trailing blanks kept; 23 make nothing.
  const Bytes message = wire::PackAscii("hello @ world", 24);
  EXPECT_FALSE(DecodeMessage(Bytes(message.begin(), message.end() - 1)));
  ASSERT_TRUE(DecodeMessage(message));
  EXPECT_EQ(*DecodeMessage(message), "HELLO @ WORLD                   ");
  // Packed code 0 is '@', 0x20 a blank.
  EXPECT_EQ(*DecodeMessage(Bytes(24, 0)), std::string(32, '@'));

  EXPECT_FALSE(DecodeFinalAssembly({0x01, 0x02}));
  EXPECT_EQ(*DecodeFinalAssembly({0x01, 0x02, 0x03, 0x04}), 0x010203u);

  // Command 13: tag from 6 bytes, descriptor from 18, day 19, month 20, year 21.
  const Bytes c13 = TagDescriptorDate("TAG1", "DESCRIPTOR", 24, 12, 111);
  const struct {
    std::size_t n;
    bool tag, descriptor, day, month, year;
  } cases[] = {{5, 0, 0, 0, 0, 0},  {6, 1, 0, 0, 0, 0},  {17, 1, 0, 0, 0, 0}, {18, 1, 1, 0, 0, 0},
               {19, 1, 1, 1, 0, 0}, {20, 1, 1, 1, 1, 0}, {21, 1, 1, 1, 1, 1}};
  for (const auto& c : cases) {
    const SCommand13 parts = DecodeCommand13(Bytes(c13.begin(), c13.begin() + static_cast<long>(c.n)));
    EXPECT_EQ(parts.tag.has_value(), c.tag) << c.n;
    EXPECT_EQ(parts.descriptor.has_value(), c.descriptor) << c.n;
    EXPECT_EQ(parts.day.has_value(), c.day) << c.n;
    EXPECT_EQ(parts.month.has_value(), c.month) << c.n;
    EXPECT_EQ(parts.year.has_value(), c.year) << c.n;
  }
  const SCommand13 full = DecodeCommand13(c13);
  EXPECT_EQ(*full.tag, "TAG1    ");
  EXPECT_EQ(*full.descriptor, "DESCRIPTOR      ");
  EXPECT_EQ(*full.year, 2011);

  // Long tag: up to the first zero, at most 32, never past the answer; fewer than 24: nothing.
  EXPECT_FALSE(DecodeLongTag(Sequence(23, 'A')));
  EXPECT_EQ(*DecodeLongTag(Sequence(26, 'A')), u"ABCDEFGHIJKLMNOPQRSTUVWXYZ");  // no terminator
  EXPECT_EQ(DecodeLongTag(Sequence(40, 'A'))->size(), 32u);
  Bytes latin(32, 0);
  latin[0] = 'T', latin[1] = 0xE9, latin[2] = 0, latin[3] = 'X';
  EXPECT_EQ(*DecodeLongTag(latin), u"T\u00e9");

  const struct {
    std::uint16_t word;
    const char* text;
  } protects[] = {{0x01FF, "Yes"}, {0xFB00, "None"}, {0x0000, "No"}, {0xFD00, "Special"}, {0x0200, ""}};
  for (const auto& w : protects) EXPECT_STREQ(WriteProtectText(w.word), w.text) << w.word;
  EXPECT_EQ(DistributorText(0x0160), "60");
}

TEST(DevicePageEncoders, EntriesThatDoNotFitTheirDeviceFieldsMakeNoBytes) {
  // Lower case goes out upper case, blank-padded; what the 6-bit set lacks is refused.
  EXPECT_EQ(*EncodePackedField(u"tank 7", 8), wire::PackAscii("TANK 7", 6));
  EXPECT_FALSE(EncodePackedField(u"TOOLONGTAG", 8));
  EXPECT_FALSE(EncodePackedField(u"A~B", 8));
  EXPECT_FALSE(EncodePackedField(u"caf\u00e9", 8));
  EXPECT_FALSE(EncodeLongTag(std::u16string(32, u'x')));
  EXPECT_FALSE(EncodeLongTag(u"\u20ac"));
  EXPECT_EQ(EncodeLongTag(u"T\u00e9")->at(1), 0xE9);
}

// ---- The page online to the simulated transmitter ----------------------------------------------

constexpr UINT kTagEdit = 205, kLongTagEdit = 307, kDescriptorEdit = 357, kMessageEdit = 299, kDayEdit = 358,
               kMonthEdit = 360, kYearEdit = 364, kWriteProtectEdit = 365, kFinalAssemblyEdit = 359,
               kSensorSerialEdit = 367, kDistributorEdit = 366, kUpperEdit = 361, kLowerEdit = 362, kSpanEdit = 363,
               kUpperUnit = 384;

using vkr::test::Query;

// The real module's DTM online to the simulated transmitter, and one page of the module hosted as
// a page frame hosts it (site, objects, window, start, show).
class LiveDtmPage : public vkr::test::LivePageSiteTest {
 protected:
  void StartDtm() {
    device->config.writeProtect = 0;
    device->config.privateLabel = 0x60;
    device->config.finalAssembly = {0x00, 0x30, 0x39};  // 12345
    device->config.sensorSerial = {0x01, 0x02, 0x03};
    device->config.upperSensorLimit = 20.5f;
    device->config.lowerSensorLimit = 0.25f;
    device->config.minimumSpan = 0.125f;
    LivePageSiteTest::StartDtm();
  }
  std::vector<int> WritesReceived() const {
    std::vector<int> writes;
    for (const auto& r : device->received)
      if (r.command == 17 || r.command == 18 || r.command == 19 || r.command == 22) writes.push_back(r.command);
    return writes;
  }
};

class LiveDevicePage : public LiveDtmPage {
 protected:
  void SetUp() override {
    StartDtm();
    if (HasFatalFailure()) return;
    OpenPage(CLSID_DevicePP, "Device");
    if (HasFatalFailure()) return;
    // The first show reads the identification.
    ASSERT_TRUE(WaitForText(kSpanEdit, "0.125")) << Text(kSpanEdit);
    ASSERT_TRUE(WaitForText(kYearEdit, "2026")) << Text(kYearEdit);
    ASSERT_TRUE(WaitForText(kLongTagEdit, "LT-101 TANK 1 RADAR LEVEL")) << Text(kLongTagEdit);
    Settle();
  }
};

// What the transmitter holds is what the page shows; every editable field changed and sent once
// ends up in the transmitter byte for byte, each write command sent once.
TEST_F(LiveDevicePage, ShowsTheIdentificationAndSendsEveryChangedField) {
  const struct {
    UINT id;
    std::string text;
  } shown[] = {{kTagEdit, "LT-101  "},       {kDescriptorEdit, "TANK 1 LEVEL    "},
               {kMessageEdit, "VKR RADAR LEVEL TRANSMITTER     "},
               {kDayEdit, "7"},              {kMonthEdit, "12"},
               {kFinalAssemblyEdit, "12345"}, {kWriteProtectEdit, "No"},
               {kDistributorEdit, "60"},     {kSensorSerialEdit, std::to_string(0x010203)},
               {kUpperEdit, "20.500"},       {kLowerEdit, "0.250"},
               {kUpperUnit, "Metres (m)"}};
  for (const auto& f : shown) EXPECT_EQ(Text(f.id), f.text) << f.id;

  device->received.clear();
  Type(kMessageEdit, "level radar in tank seven");
  Type(kTagEdit, "lt-7");
  Type(kDescriptorEdit, "SILO 7 LEVEL");
  Type(kDayEdit, "24");
  Type(kMonthEdit, "11");
  Type(kYearEdit, "2011");
  Type(kFinalAssemblyEdit, "16777215");
  Type(kLongTagEdit, "Silo 7 radar, north side");
  PressSend();
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return WritesReceived().size() >= 4; }, 10000));
  Settle();

  EXPECT_EQ(WritesReceived(), (std::vector<int>{17, 19, 18, 22}));
  EXPECT_EQ(device->config.message, wire::PackAscii("LEVEL RADAR IN TANK SEVEN", 24));
  EXPECT_EQ(device->config.tagDescriptorDate, TagDescriptorDate("LT-7", "SILO 7 LEVEL", 24, 11, 111));
  EXPECT_EQ(device->config.finalAssembly, (Bytes{0xFF, 0xFF, 0xFF}));
  Bytes longTag(32, 0);
  const std::string lt = "Silo 7 radar, north side";
  std::copy(lt.begin(), lt.end(), longTag.begin());
  EXPECT_EQ(device->config.longTag, longTag);

  // The page reads back what the transmitter now holds.
  EXPECT_TRUE(WaitForText(kTagEdit, "LT-7    ")) << Text(kTagEdit);
  EXPECT_TRUE(WaitForText(kMessageEdit, "LEVEL RADAR IN TANK SEVEN       ")) << Text(kMessageEdit);
  EXPECT_TRUE(WaitForText(kYearEdit, "2011")) << Text(kYearEdit);

  // The frame's Refresh reads the identification once per press.
  device->received.clear();
  PressButton(1041);
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return Received(20) == 1; }, 10000));
  Settle();
  for (int command : {12, 13, 14, 15, 16, 20}) EXPECT_EQ(Received(command), 1) << command;

  // A page that is not shown ignores the frame's Send; shown again, it keeps the sensor limits
  // it knows instead of "Loading..." for a read that is not made.
  page->Show(SW_HIDE);
  Settle();
  Type(kTagEdit, "HIDDEN");
  device->received.clear();
  PressSend();
  Settle();
  EXPECT_TRUE(WritesReceived().empty());
  page->Show(SW_SHOW);
  Settle();
  EXPECT_EQ(Text(kUpperEdit), "20.500");
  EXPECT_EQ(Text(kLowerEdit), "0.250");
}

// Entries the device fields cannot hold are marked and focused on Send, and nothing goes out.
TEST_F(LiveDevicePage, RefusesEntriesThatDoNotFitTheDevice) {
  const struct {
    UINT edit;
    const char* bad;
  } cases[] = {
      {kYearEdit, "1899"}, {kFinalAssemblyEdit, "16777216"}, {kTagEdit, "A~B"}, {kMonthEdit, "13"}, {kDayEdit, ""},
  };
  for (const auto& c : cases) {
    const std::string before = Text(c.edit);
    Type(kDescriptorEdit, "CHANGED TOO");
    Type(c.edit, c.bad);
    device->received.clear();
    PressSend();
    Settle();
    EXPECT_TRUE(WritesReceived().empty()) << c.edit << " \"" << c.bad << "\"";
    EXPECT_EQ(GetFocus(), host->Item(static_cast<int>(c.edit))) << c.edit;
    Type(c.edit, before);
  }
  // Once the entries fit again, Send goes out.
  device->received.clear();
  PressSend();
  EXPECT_TRUE(vkr::test::PumpUntil([&] { return !WritesReceived().empty(); }, 10000));
  Settle();
  EXPECT_EQ(WritesReceived(), (std::vector<int>{18}));
  EXPECT_EQ(vkr::frame::wire::UnpackAscii(
                Bytes(device->config.tagDescriptorDate.begin() + 6, device->config.tagDescriptorDate.begin() + 18)),
            "CHANGED TOO     ");
}

// The page on the transmitter a user meets first (the default one): it shows the sensor limits of
// its 8 m probe; dates that are none of the calendar's are marked and focused on Send and nothing
// goes out, whichever field holds the fault; a leap day of a leap year goes out.
class DefaultDevicePage : public LiveDtmPage {
 protected:
  void SetUp() override {
    LivePageSiteTest::StartDtm();
    if (HasFatalFailure()) return;
    OpenPage(CLSID_DevicePP, "Device");
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForText(kYearEdit, "2026")) << Text(kYearEdit);
    ASSERT_TRUE(WaitForText(kLowerEdit, "8.000")) << Text(kLowerEdit);
    Settle();
  }
};

TEST_F(DefaultDevicePage, RefusesDatesThatAreNone) {
  EXPECT_EQ(Text(kUpperEdit), "0.300");
  EXPECT_EQ(Text(kSpanEdit), "0.100");
  const struct {
    const char *day, *month, *year;
    UINT marked;  // the field focused
  } cases[] = {
      {"0", "12", "2026", kDayEdit},  {"7", "0", "2026", kMonthEdit},  {"31", "2", "2026", kDayEdit},
      {"29", "2", "2026", kDayEdit},  {"31", "4", "2026", kDayEdit},   {"32", "1", "2026", kDayEdit},
      {"30", "2", "2024", kDayEdit},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.day) + "." + c.month + "." + c.year);
    Type(kDayEdit, c.day);
    Type(kMonthEdit, c.month);
    Type(kYearEdit, c.year);
    device->received.clear();
    PressSend();
    Settle();
    EXPECT_TRUE(WritesReceived().empty());
    EXPECT_EQ(GetFocus(), host->Item(static_cast<int>(c.marked)));
  }
  Type(kDayEdit, "29");
  Type(kMonthEdit, "2");
  Type(kYearEdit, "2024");
  device->received.clear();
  PressSend();
  ASSERT_TRUE(vkr::test::PumpUntil([&] { return !WritesReceived().empty(); }, 10000));
  Settle();
  EXPECT_EQ(WritesReceived(), (std::vector<int>{18}));
  EXPECT_EQ(Bytes(device->config.tagDescriptorDate.begin() + 18, device->config.tagDescriptorDate.end()),
            (Bytes{29, 2, 124}));
}

// The page with the device's values looks as kept.
TEST_F(LiveDevicePage, LooksAsKept) { vkr::test::ExpectLooksAsKept(host->Page(), "device_page"); }

// Before the page was first shown the frame's Send does nothing on it.
TEST_F(LiveDtmPage, DeviceStartedButNotShownIgnoresTheFramesButtons) {
  StartDtm();
  host = std::make_unique<vkr::test::PageSiteHarness>(720, 720);
  ASSERT_EQ(CoCreateInstance(CLSID_DevicePP, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, page.PutVoid()), S_OK);
  page->SetPageSite(host->Site());
  const RECT rect{0, 0, 600, 600};
  ASSERT_EQ(page->Activate(host->Hwnd(), &rect, FALSE), S_OK);
  vkr::Bstr call;
  ASSERT_EQ(Query<IovFdtActiveXContainer>(dtm)->GetFunctionCallDocument(5, call.Put()), S_OK);
  VARIANT_BOOL started = VARIANT_FALSE;
  ASSERT_EQ(Query<IovFdtPropertyPageControl>(page.Get())->Init(vkr::Bstr(u"hidden").Get(), call.Get(), dtm, &started),
            S_OK);
  ASSERT_EQ(started, VARIANT_TRUE);
  Settle();
  device->received.clear();
  PressButton(1041);
  PressSend();
  Settle();
  EXPECT_TRUE(device->received.empty());
}

// A page object of the tests' own, for what only shows inside it.
class ExposedDevicePage : public CDevicePP {
 public:
  using CDevicePP::m_bUpdatingControls;
};

// An answer that is no byte array is ignored; one that cannot be read is refused, and the page
// does not stay deaf to the user's edits afterwards.
TEST(DevicePageValues, AFailedConversionLeavesTheUserInputHeard) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    vkr::ComPtr<vkr::ComObject<ExposedDevicePage>> made;
    ASSERT_EQ(vkr::MakeObject<ExposedDevicePage>(&made), S_OK);
    ExposedDevicePage& page = *made.Get();
    VARIANT broken = vkr::EmptyVariant();
    broken.vt = VT_ARRAY | VT_UI1;
    broken.parray = nullptr;
    EXPECT_TRUE(FAILED(page.SetControlValueById(1009, broken)));
    EXPECT_FALSE(page.m_bUpdatingControls);
    EXPECT_EQ(page.SetControlValueById(1032, vkr::I4(5)), S_OK);
    EXPECT_FALSE(page.m_bUpdatingControls);
  }
  CoUninitialize();
}

// On the fake DTM: offline the message edit takes no typing, and Send (here the frame's button
// command reaching the page) writes nothing and says so (the page on its own: as a message);
// a short command 14 answer fills only what it holds, and without the display control the units
// are empty; online the message goes out as the DTM's write of 1009 (command 17) in upper case,
// blank-padded.
TEST(DevicePageOnFakeDtm, OfflineSendKeepsTheEditAndShortAnswersFillWhatTheyHold) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    DWORD cookie = 0;
    vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CDevicePP>>> factory;
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CDevicePP>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_DevicePP, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    auto fake = vkr::test::dui::FakeDeviceDtm::Create();
    {
      vkr::test::dui::DevicePageHarness harness(CLSID_DevicePP, static_cast<IovFdtBaseDTM*>(fake.Get()));
      ASSERT_TRUE(harness.Ok());
      CovFDT_BaseActiveXImpl* ui = harness.Ui();
      auto state = [&](LONG id) { return ui->ParameterTable()[ui->FindParameterIndex(id)].m_nState; };
      HWND message = harness.Item(kMessageEdit);
      auto typeMessage = [&](const char* text) {
        vkr::ui::Click(message);
        SendMessageA(message, EM_SETSEL, 0, -1);
        vkr::ui::TypeText(message, text);
        fake->Deliver();
      };
      // Offline only the device could take the message: the edit takes no typing.
      const std::string shown = harness.Text(kMessageEdit);
      typeMessage("offline edit");
      EXPECT_EQ(harness.Text(kMessageEdit), shown);
      EXPECT_EQ(state(1009) & 0x2, 0u);
      SendMessageA(GetParent(message), WM_COMMAND, MAKEWPARAM(221, BN_CLICKED), 0);
      fake->Deliver();
      ASSERT_FALSE(fake->UserMessages().empty());
      EXPECT_EQ(fake->UserMessages().back().text, u"Nothing was written: no device is connected.");

      // The device answers every read of the page's Refresh, so that nothing is on its way when the
      // user sends (a Send then writes nothing).
      ASSERT_EQ(fake->SetResponse(kParMessage, wire::PackAscii("OLD", 24)), S_OK);
      ASSERT_EQ(fake->SetResponse(kParDescriptorTagDate, TagDescriptorDate("TAG", "DESCRIPTOR", 1, 2, 103)), S_OK);
      ASSERT_EQ(fake->SetResponse(kParFinalAssemblyNumber, {0, 0, 7}), S_OK);
      Bytes longTag(32, 0);
      longTag[0] = 'L';
      ASSERT_EQ(fake->SetResponse(kParLongTag, longTag), S_OK);
      VARIANT unprotected = vkr::EmptyVariant();
      unprotected.vt = VT_UI2;
      ASSERT_EQ(fake->SetDeviceValue(kParWriteProtect, unprotected), S_OK);
      fake->SetState(dsONLINE);
      ASSERT_EQ(fake->SetResponse(1032, {0x00, 0x10, 0x01, 45, 0x41, 0xA4, 0x00, 0x00}), S_OK);
      fake->Hart().Script(17, vkr::test::dui::FakeTransaction::Answer({}));
      VARIANT one = vkr::EmptyVariant();
      one.vt = VT_UI1;
      one.bVal = 1;
      ASSERT_EQ(fake->SetParameterValue(vkr::UI4(1041), one), S_OK);
      fake->Deliver();
      EXPECT_EQ(harness.Text(kSensorSerialEdit), "4097");
      EXPECT_EQ(harness.Text(kUpperEdit), "20.500");
      EXPECT_EQ(harness.Text(kLowerEdit), "Not read");
      EXPECT_EQ(harness.Text(kSpanEdit), "Not read");
      EXPECT_EQ(harness.Text(kUpperUnit), "");

      typeMessage("online edit");
      ASSERT_EQ(fake->SetParameterValue(vkr::UI4(1042), one), S_OK);
      fake->Deliver();
      std::vector<Bytes> sent;
      for (const auto& call : fake->Calls())
        if (call.op == "WriteDeviceParameterEx" && call.id == 1009 && call.result == S_OK)
          sent.push_back(vkr::test::ui::BytesOf(call.argument));
      ASSERT_EQ(sent.size(), 1u) << "online only";
      EXPECT_EQ(sent[0], wire::PackAscii("ONLINE EDIT", 24));
      harness.Close();
    }
    fake->DetachAll();
    CoRevokeClassObject(cookie);
    vkr::ui::PumpUntilIdle();
  }
  CoUninitialize();
}

// The Info page: its fonts on its texts, the about paragraphs hidden, its fonts gone with it.
TEST_F(LiveDtmPage, InfoPageShowsTheContactTextsInItsFonts) {
  StartDtm();
  const int fontsBefore = vkr::ui::GdiObjectCounts().fonts;
  OpenPage(CLSID_InfoPP, "Info");
  Settle();
  auto font = [&](int id) { return reinterpret_cast<HFONT>(SendMessageA(host->Item(id), WM_GETFONT, 0, 0)); };
  const HFONT heading = font(696), bold = font(558), text = font(561);
  EXPECT_TRUE(heading && bold && text);
  EXPECT_NE(heading, bold);
  EXPECT_NE(bold, text);
  for (int id : {560, 569, 570}) EXPECT_EQ(font(id), bold) << id;
  for (int id : {563, 565, 567, 568}) EXPECT_EQ(font(id), text) << id;
  LOGFONTA face{};
  ASSERT_NE(GetObjectA(heading, sizeof face, &face), 0);
  EXPECT_STREQ(face.lfFaceName, "Tahoma");
  EXPECT_EQ(face.lfWeight, 600);
  for (int id = 571; id <= 575; ++id) EXPECT_FALSE(IsWindowVisible(host->Item(id))) << id;
  EXPECT_TRUE(IsWindowVisible(host->Item(570)));
  vkr::test::ExpectLooksAsKept(host->Page(), "info_page");
  ClosePage();
  CoFreeUnusedLibraries();
  EXPECT_EQ(vkr::ui::GdiObjectCounts().fonts, fontsBefore);
}

}  // namespace
