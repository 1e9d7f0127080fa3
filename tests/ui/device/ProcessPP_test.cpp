// The Process / Output and Setup pages online to the simulated transmitter through the live DTM:
// the module's pages as the frame host shows them (send, refusal of invalid entries, the frame's
// buttons), and pages of the test program for their decoders and faults.
#include <gtest/gtest.h>
#include "frame/Quiet.h"

#include <string>
#include <vector>

#include "include/ProgramIds.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/LengthUnits.h"
#include "ui/device/kit/ResponseBytes.h"
#include "ui/device/ProcessPP.h"
#include "ui/device/SetupPP.h"

namespace {

using namespace vkr::dui;
using vkr::frame::Bytes;
using vkr::frame::SimulatedDevice;

// The edit field of a drop-down combo box.
HWND ComboEdit(HWND combo) {
  for (HWND child = GetWindow(combo, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (vkr::ui::ClassName(child) == "Edit") return child;
  return nullptr;
}

Bytes BigEndian(float value) {
  Bytes bytes(4);
  vkr::frame::wire::PutFloat(&bytes, 0, value);
  return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The requests of one command the device received.
std::vector<Bytes> Requests(const SimulatedDevice& device, std::uint8_t command) {
  std::vector<Bytes> requests;
  for (const auto& r : device.received)
    if (r.command == command) requests.push_back(r.request);
  return requests;
}

vkr::Variant ByteArray(const Bytes& bytes) {
  vkr::Variant v;
  EXPECT_EQ(vkr::dui::MakeByteArray(bytes, &v), S_OK);
  return v;
}

VARIANT UI1(BYTE value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = value;
  return v;
}

// The live DTM on the frame's channel to a simulated transmitter, with the outside controls.
class LivePage : public vkr::test::LivePageHostTest {
 protected:
  void SetUp() override {
    device_->config.upperRange = 6.0f;
    device_->config.lowerRange = 0.5f;
    device_->config.damping = 0.5f;
    StartSession();
  }
  HWND Item(int id) const { return vkr::test::FindItem(Window(), id); }
  std::string Text(int id) const { return vkr::ui::WindowText(Item(id)); }
  vkr::Variant Value(ULONG id) const { return vkr::test::ui::ParameterValue(session_->Dtm(), id); }
  void ExpectTexts(std::initializer_list<std::pair<int, const char*>> texts) const {
    for (const auto& [id, text] : texts) EXPECT_EQ(Text(id), text) << id;
  }
  // The Process page as the frame host shows it (with TPage the test program's class), true when
  // it read and shows the transmitter's range.
  template <class TPage = void>
  bool OpenRead() {
    Open<TPage>(CLSID_ProcessPP);
    const bool read = !HasFatalFailure() && WaitFor([&] { return Text(kProcessUpperRangeEdit) == "6.000"; });
    vkr::frame::WaitUntilQuiet();
    return read;
  }
};

// Every setting of the page changed, then Send: the transmitter holds exactly what was typed, each
// written once, the range values as one record with the range unit the device reported.
TEST_F(LivePage, ProcessSendWritesEverySettingTheUserChanged) {
  ASSERT_TRUE(OpenRead());
  ExpectTexts({{kProcessPvEdit, "2.500"}, {kProcessLowerRangeEdit, "0.500"}, {kProcessDampingEdit, "0.500"},
               {kProcessUpperUnitText, "Metres (m)"}, {kProcessUnitCombo, "Metres (m)"}});

  ASSERT_TRUE(vkr::ui::SelectItem(Item(kProcessUnitCombo), 1));
  Type(kProcessUpperRangeEdit, "6.5");
  Type(kProcessLowerRangeEdit, "1.25");
  Type(kProcessDampingEdit, "2.75");
  vkr::ui::Click(Item(kProcessPvEdit));
  vkr::ui::PumpUntilIdle();
  device_->received.clear();

  Press(kParButtonSend);
  ASSERT_TRUE(WaitFor([&] { return device_->config.damping == 2.75f; })) << device_->config.damping;
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Requests(*device_, 44), std::vector<Bytes>{Bytes{kLengthUnitFeet}});
  EXPECT_EQ(Requests(*device_, 35),
            std::vector<Bytes>{Concat({{kLengthUnitMetres}, BigEndian(6.5f), BigEndian(1.25f)})});
  EXPECT_EQ(Requests(*device_, 34), std::vector<Bytes>{BigEndian(2.75f)});
  EXPECT_EQ(device_->config.pvUnit, kLengthUnitFeet);
  EXPECT_EQ(device_->config.rangeUnit, kLengthUnitMetres);
  EXPECT_EQ(device_->config.upperRange, 6.5f);
  EXPECT_EQ(device_->config.lowerRange, 1.25f);
  // The page reads the device again after the send and shows what it holds.
  EXPECT_TRUE(WaitFor([&] { return Text(kProcessDampingEdit) == "2.750"; }));
  EXPECT_TRUE(WaitFor([&] { return Text(kProcessUnitCombo) == "Feet (ft)"; }));
}

// Only the lower range value edited: the whole range record goes out, the upper value unchanged.
TEST_F(LivePage, ProcessEditingOneRangeValueWritesTheWholeRecord) {
  ASSERT_TRUE(OpenRead());
  Type(kProcessLowerRangeEdit, "2");
  vkr::ui::PumpUntilIdle();
  device_->received.clear();
  Press(kParButtonSend);
  ASSERT_TRUE(WaitFor([&] { return device_->config.lowerRange == 2.0f; }));
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Requests(*device_, 35),
            std::vector<Bytes>{Concat({{kLengthUnitMetres}, BigEndian(6.0f), BigEndian(2.0f)})});
  EXPECT_TRUE(Requests(*device_, 34).empty());
  EXPECT_TRUE(Requests(*device_, 44).empty());
}

// An entry that does not fit the device field is refused on the page: marked, focused, and
// nothing reaches the device; once corrected, Send writes.
TEST_F(LivePage, ProcessRefusesInvalidEntriesAndSendsNothing) {
  ASSERT_TRUE(OpenRead());
  struct Case {
    int edit;
    const char* text;
  };
  for (const Case& c : {Case{kProcessDampingEdit, "abc"}, Case{kProcessDampingEdit, "300"},
                        Case{kProcessUpperRangeEdit, "70"}, Case{kProcessLowerRangeEdit, "-1"}}) {
    SCOPED_TRACE(std::string(c.text));
    const std::string before = Text(c.edit);
    Type(c.edit, c.text);
    vkr::ui::PumpUntilIdle();
    device_->received.clear();
    Press(kParButtonSend);
    vkr::frame::WaitUntilQuiet();
    EXPECT_TRUE(Requests(*device_, 34).empty());
    EXPECT_TRUE(Requests(*device_, 35).empty());
    EXPECT_TRUE(Requests(*device_, 44).empty());
    EXPECT_EQ(GetFocus(), Item(c.edit)) << "the invalid entry has the focus";
    EXPECT_EQ(Text(c.edit), c.text) << "the entry stays as typed";
    Type(c.edit, before);
    vkr::ui::PumpUntilIdle();
  }
  EXPECT_EQ(device_->config.damping, 0.5f);
  EXPECT_EQ(device_->config.upperRange, 6.0f);
  EXPECT_EQ(device_->config.lowerRange, 0.5f);
}

// The frame's Refresh reaches the shown page once per press: one read of command 15 each.
TEST_F(LivePage, ProcessRefreshReadsOncePerPress) {
  ASSERT_TRUE(OpenRead());
  device_->received.clear();
  device_->config.upperRange = 7.0f;
  Press(kParButtonRefresh);
  ASSERT_TRUE(WaitFor([&] { return Text(kProcessUpperRangeEdit) == "7.000"; }));
  Press(kParButtonRefresh);
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Requests(*device_, 15).size(), 2u);

  // Hidden, the page leaves the frame's buttons to the page that is shown.
  vkr::ComPtr<IPropertyPage> page;
  ASSERT_EQ(page_->Page()->QueryInterface(IPropertyPage::iid, page.PutVoid()), S_OK);
  Type(kProcessDampingEdit, "1.5");
  ASSERT_EQ(page->Show(SW_HIDE), S_OK);
  device_->received.clear();
  Press(kParButtonRefresh);
  Press(kParButtonSend);
  vkr::frame::WaitUntilQuiet();
  EXPECT_TRUE(Requests(*device_, 15).empty());
  EXPECT_TRUE(Requests(*device_, 34).empty());
}

// A unit choice that cannot be read ends the send with the failure: nothing is written and the
// page stays dirty (the user's edits are kept for another try).
TEST_F(LivePage, ProcessSendStopsWhenTheUnitCannotBeRead) {
  ASSERT_TRUE(OpenRead<CProcessPP>());
  CProcessPP* page = Object<CProcessPP>();
  ASSERT_NE(page, nullptr);
  Type(kProcessDampingEdit, "2");
  vkr::ui::PumpUntilIdle();
  ASSERT_EQ(page->IsPageDirty(), S_OK);
  // The program puts a text into the combo that none of its items has (no input notification).
  SetWindowTextA(Item(kProcessUnitCombo), "Yards");
  page->Entry(0).m_nState = (page->Entry(0).m_nState & ~kStateInvalid) | kStateChanged;
  ASSERT_EQ(Text(kProcessUnitCombo), "Yards");
  device_->received.clear();
  EXPECT_TRUE(FAILED(page->OnSend()));
  vkr::frame::WaitUntilQuiet();
  for (std::uint8_t command : {34, 35, 44}) EXPECT_TRUE(Requests(*device_, command).empty()) << int(command);
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(Text(kProcessDampingEdit), "2");
  // The DTM's PV unit keeps its value: no empty unit was stored for the write.
  const vkr::Variant unit = Value(kParPvUnit);
  EXPECT_EQ(unit.vt, VT_UI1);
  EXPECT_EQ(unit.bVal, kLengthUnitMetres);
}

// The page's decoders on short and full answers: each field is used only when its bytes are all
// there; an answer that is no byte array is ignored.
TEST_F(LivePage, ProcessDecodesShortAndFullAnswers) {
  ASSERT_TRUE(OpenRead<CProcessPP>());
  CProcessPP* page = Object<CProcessPP>();
  ASSERT_NE(page, nullptr);
  auto deliver = [&](LONG id, const Bytes& bytes) { return page->SetControlValueById(id, ByteArray(bytes)); };
  const Bytes upper = BigEndian(9.5f), lower = BigEndian(1.5f), damping = BigEndian(4.0f);

  // Command 1: one byte is the unit alone; five bytes bring the PV.
  SetWindowTextA(Item(kProcessPvEdit), "-");
  EXPECT_EQ(deliver(kParCommand1Complete, {}), S_OK);
  EXPECT_EQ(Text(kProcessPvEdit), "-");
  EXPECT_EQ(deliver(kParCommand1Complete, {kLengthUnitFeet}), S_OK);
  EXPECT_EQ(Text(kProcessPvUnitText), "Feet (ft)");
  EXPECT_EQ(Text(kProcessPvEdit), "-");
  EXPECT_TRUE(WaitFor([&] { return Text(kProcessUnitCombo) == "Feet (ft)"; })) << "1039 set and shown";
  EXPECT_EQ(Value(kParPvUnitUser).bVal, kLengthUnitFeet);
  EXPECT_EQ(deliver(kParCommand1Complete, Concat({{kLengthUnitMetres}, BigEndian(3.25f)})), S_OK);
  EXPECT_EQ(Text(kProcessPvEdit), "3.250");
  EXPECT_EQ(Text(kProcessPvUnitText), "Metres (m)");

  // Command 2: the current needs four bytes, the percent eight.
  for (int id : {kProcessLoopCurrentEdit, kProcessPercentEdit}) SetWindowTextA(Item(id), "-");
  EXPECT_EQ(deliver(kParCommand2Complete, {0x41, 0x40, 0x00}), S_OK);
  EXPECT_EQ(Text(kProcessLoopCurrentEdit), "-");
  EXPECT_EQ(deliver(kParCommand2Complete, Concat({BigEndian(12.0f), {0x42, 0x48, 0x00}})), S_OK);
  EXPECT_EQ(Text(kProcessLoopCurrentEdit), "12.000");
  EXPECT_EQ(Text(kProcessPercentEdit), "-");
  EXPECT_EQ(deliver(kParCommand2Complete, Concat({BigEndian(16.0f), BigEndian(75.0f)})), S_OK);
  EXPECT_EQ(Text(kProcessPercentEdit), "75.000");

  // Command 15: eleven bytes set unit, upper and lower range, not the damping; two bytes only
  // the transfer function.
  const float dampingBefore = Value(kParDampingUser).fltVal;
  EXPECT_EQ(deliver(kParCommand15Complete, Concat({{0, 1, kLengthUnitFeet}, upper, lower})), S_OK);
  EXPECT_TRUE(WaitFor([&] { return Text(kProcessUpperRangeEdit) == "9.500"; }));
  ExpectTexts({{kProcessLowerRangeEdit, "1.500"}, {kProcessUpperUnitText, "Feet (ft)"},
               {kProcessLowerUnitText, "Feet (ft)"}});
  EXPECT_EQ(Text(kProcessTransferFunctionEdit), vkr::Utf16ToUtf8(vkr::frame::TransferFunctionText(1)));
  EXPECT_EQ(page->RangeUnit(), kLengthUnitFeet);
  EXPECT_EQ(Value(kParDampingUser).fltVal, dampingBefore);
  EXPECT_EQ(deliver(kParCommand15Complete, {0, 0}), S_OK);
  EXPECT_EQ(Text(kProcessTransferFunctionEdit), vkr::Utf16ToUtf8(vkr::frame::TransferFunctionText(0)));
  EXPECT_EQ(Text(kProcessUpperRangeEdit), "9.500");
  EXPECT_EQ(deliver(kParCommand15Complete, Concat({{0, 0, kLengthUnitMetres}, upper, lower, damping})), S_OK);
  EXPECT_TRUE(WaitFor([&] { return Text(kProcessDampingEdit) == "4.000"; }));

  // Not a byte array: ignored. Unit codes other than 44 and 45 leave the combo as it is.
  EXPECT_EQ(page->SetControlValueById(kParCommand1Complete, vkr::I4(7)), S_OK);
  EXPECT_EQ(Text(kProcessPvEdit), "3.250");
  EXPECT_EQ(page->SetControlValueById(kParPvUnitUser, UI1(57)), S_OK);
  EXPECT_EQ(Text(kProcessUnitCombo), "Metres (m)");
}

// Showing, hiding and refreshing leave one "Loading..." item in the unit combo at most, and a
// value removes it; a unit typed that is no item gives way to the current unit's item.
TEST_F(LivePage, ProcessUnitComboKeepsOnePlaceholderAndRestoresTypedUnits) {
  ASSERT_TRUE(OpenRead<CProcessPP>());
  CProcessPP* page = Object<CProcessPP>();
  ASSERT_NE(page, nullptr);
  HWND combo = Item(kProcessUnitCombo);
  // Offline, nothing answers the placeholders: they say that the device is not connected.
  ASSERT_EQ(vkr::test::ui::GoOffline(session_->Dtm()), S_OK);
  ASSERT_TRUE(WaitFor([&] { return vkr::test::ui::DtmState(session_->Dtm()) != dsONLINE; }));
  vkr::frame::WaitUntilQuiet();
  for (int i = 0; i < 3; ++i) {
    ShowWindow(page->PageWindow(), SW_HIDE);
    ShowWindow(page->PageWindow(), SW_SHOW);
    page->OnRefresh();
  }
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 6);
  EXPECT_EQ(Text(kProcessPvEdit), "Not connected");
  EXPECT_EQ(Text(kProcessUnitCombo), "Not connected");
  EXPECT_EQ(page->SetControlValueById(kParPvUnitUser, UI1(kLengthUnitFeet)), S_OK);
  EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 5);
  EXPECT_EQ(Text(kProcessUnitCombo), "Feet (ft)");

  // Offline the combo takes no typing; online again, the PV unit last seen is metres: a typed
  // text that is no item brings "Metres (m)" back.
  EXPECT_FALSE(IsWindowEnabled(combo));
  ASSERT_EQ(vkr::test::ui::GoOnline(session_->Dtm()), S_OK);
  ASSERT_TRUE(WaitFor([&] { return vkr::test::ui::DtmState(session_->Dtm()) == dsONLINE; }));
  vkr::frame::WaitUntilQuiet();
  page->SetControlValueById(kParCommand1Complete, ByteArray({kLengthUnitMetres}));
  HWND comboEdit = ComboEdit(combo);
  ASSERT_TRUE(vkr::ui::Click(comboEdit));
  SendMessageA(comboEdit, EM_SETSEL, 0, -1);
  ASSERT_TRUE(vkr::ui::TypeText(comboEdit, "Yards"));
  ASSERT_EQ(Text(kProcessUnitCombo), "Yards");
  ASSERT_TRUE(vkr::ui::Click(Item(kProcessUpperRangeEdit)));
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Text(kProcessUnitCombo), "Metres (m)");
}

// ---- The Setup page -----------------------------------------------------------------------------

// The page's own code gets the values it acts on although its table is empty: its first showing
// reads command 15 and its edits show the device's range values and damping. Typing asks the
// frame to enable Send; Send itself writes nothing.
TEST_F(LivePage, SetupShowsTheDeviceValuesAndItsSendWritesNothing) {
  Open<CSetupPP>(CLSID_SetupPP);
  CSetupPP* page = Object<CSetupPP>();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->ParameterCount(), 0u);
  ASSERT_TRUE(WaitFor([&] { return Text(kSetupUpperRangeEdit) == "6.000"; }));
  EXPECT_EQ(Text(kSetupLowerRangeEdit), "0.500");
  EXPECT_EQ(Text(kSetupDampingEdit), "0.500");
  vkr::frame::WaitUntilQuiet();
  IUnknown* dtm = session_->Dtm();
  EXPECT_EQ(Value(kParUpperRange).fltVal, 6.0f);

  Type(kSetupDampingEdit, "3");
  vkr::ui::PumpUntilIdle();
  vkr::Variant activate = Value(kParActivateButtonSend);
  EXPECT_EQ(activate.vt, VT_UI1);
  EXPECT_EQ(activate.bVal, 1);
  device_->received.clear();
  Press(kParButtonSend);
  vkr::frame::WaitUntilQuiet();
  for (std::uint8_t command : {34, 35, 44}) EXPECT_TRUE(Requests(*device_, command).empty()) << int(command);
  EXPECT_EQ(device_->config.damping, 0.5f);

  // Its decoders: seven bytes of command 15 hold no whole range and store none of it; eleven store
  // the range and show its unit beside both values.
  VARIANT lower = vkr::EmptyVariant();
  lower.vt = VT_R4;
  lower.fltVal = 0.25f;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
  ASSERT_EQ(handler->SetParameterValue(vkr::UI4(kParLowerRange), lower), S_OK);
  EXPECT_EQ(
      page->SetControlValueById(kParCommand15Complete, ByteArray(Concat({{0, 0, kLengthUnitFeet}, BigEndian(8.0f)}))),
      S_OK);
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Value(kParUpperRange).fltVal, 6.0f);
  EXPECT_EQ(Value(kParLowerRange).fltVal, 0.25f);
  EXPECT_EQ(page->RangeUnit(), kLengthUnitMetres);
  EXPECT_EQ(Text(kSetupUpperUnitText), "meters");
  EXPECT_EQ(page->SetControlValueById(kParCommand15Complete,
                                      ByteArray(Concat({{0, 0, kLengthUnitFeet}, BigEndian(8.0f), BigEndian(1.5f)}))),
            S_OK);
  EXPECT_TRUE(WaitFor([&] { return Value(kParUpperRange).fltVal == 8.0f; }));
  EXPECT_EQ(Value(kParRangeUnit).bVal, kLengthUnitFeet);
  EXPECT_EQ(Value(kParLowerRange).fltVal, 1.5f);
  EXPECT_EQ(page->RangeUnit(), kLengthUnitFeet);
  ExpectTexts({{kSetupUpperRangeEdit, "8.000"}, {kSetupLowerRangeEdit, "1.500"}, {kSetupUpperUnitText, "ft"},
               {kSetupLowerUnitText, "ft"}});

  // It has no values of its own to give: S_OK and an empty VARIANT, whatever came in.
  VARIANT out = vkr::I4(77);
  EXPECT_EQ(page->GetControlValueById(kParUpperRange, &out), S_OK);
  EXPECT_EQ(out.vt, VT_EMPTY);
}

// ---- Pictures ---------------------------------------------------------------------------------

// The page's title, documentation and help strings from the module's string table.
void ExpectPageStrings(IUnknown* object, const char16_t* title, const char16_t* doc, const char16_t* help) {
  vkr::ComPtr<IPropertyPage> page;
  ASSERT_EQ(object->QueryInterface(IPropertyPage::iid, page.PutVoid()), S_OK);
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.pszTitle ? info.pszTitle : u""), title);
  EXPECT_EQ(std::u16string(info.pszDocString ? info.pszDocString : u""), doc);
  EXPECT_EQ(std::u16string(info.pszHelpFile ? info.pszHelpFile : u""), help);
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);
}

// The pages as the frame host shows them, online to the transmitter with its values: their strings
// and their pictures.
TEST_F(LivePage, PagesLookAsKept) {
  const struct {
    const char* picture;
    const CLSID* clsid;
    const char16_t *title, *doc, *help;
    int upperRangeEdit;
  } pages[] = {
      {"process_page", &CLSID_ProcessPP, u"Process / Output", u"Your Help String",
       u"VornExampleDtm.chm::/Process.html#wp1102845", kProcessUpperRangeEdit},
      {"setup_page", &CLSID_SetupPP, u"Setup", u"Setup device", u"Help File Name", kSetupUpperRangeEdit},
  };
  for (const auto& p : pages) {
    SCOPED_TRACE(p.picture);
    Open(*p.clsid);
    ExpectPageStrings(page_->Page(), p.title, p.doc, p.help);
    ASSERT_TRUE(WaitFor([&] { return Text(p.upperRangeEdit) == "6.000"; }));
    vkr::frame::WaitUntilQuiet();
    vkr::ui::PumpUntilIdle();
    vkr::test::ExpectLooksAsKept(Window(), p.picture);
    bool closed = false;
    page_->Close(&closed);
    EXPECT_TRUE(closed);
    page_.reset();
  }
}

}  // namespace
