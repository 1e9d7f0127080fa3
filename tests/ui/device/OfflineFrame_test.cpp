// The online parameterization frame as a frame application opens it while no transmitter is on the
// frame's channel: the DTM cannot go online, and every page says that the device is not connected
// in each device field, keeps every row's controls, shows no value a device never gave and no text
// wider than its field. Brought online afterwards, the same pages show the transmitter's values.
// The frame's identity message appears only after a transmitter answered command 0 with another
// identity.
#include <gtest/gtest.h>
#include "frame/Quiet.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/live_page_host.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/DiagPP.h"
#include "ui/device/HartPP.h"
#include "ui/device/OnlineParameterization.h"
#include "ui/device/ProcessPP.h"
#include "ui/device/ValuesPP.h"
#include "ui/framework/PropertyPage.h"

namespace {

using namespace vkr::test;
using namespace vkr::dui;

constexpr const char* kNone = "Not connected";
constexpr const char* kNoneShort = "--";  // in a field too narrow for the words

struct Field {
  UINT id;
  const char* offline;  // what the field says without a device
};
struct PageFields {
  int index;
  const char* title;
  std::vector<Field> fields;
};

// Every device field of every page. The Status page shows lamps, the Info page the vendor's
// address, the echo table stays empty until its Read is clicked.
const PageFields kPages[] = {
    {0, "Command", {{545, kNone}, {544, kNone}, {542, kNone}, {448, kNone}, {383, kNone}, {381, kNone}, {385, kNone},
                    {388, kNone}, {391, kNone}}},
    {1, "Process / Output", {{kProcessPvEdit, kNone}, {kProcessUnitCombo, kNone}, {kProcessUpperRangeEdit, kNone},
                             {kProcessLowerRangeEdit, kNone}, {kProcessDampingEdit, kNone},
                             {kProcessTransferFunctionEdit, kNone}, {kProcessLoopCurrentEdit, kNone},
                             {kProcessPercentEdit, kNone}}},
    {2, "Values", {{kValuesCurrentEdit, kNone}, {kValuesValueEdits[0], kNone}, {kValuesValueEdits[1], kNone},
                   {kValuesValueEdits[2], kNone}, {kValuesValueEdits[3], kNone}}},
    // Tag, long tag, descriptor, message, the date's day, month and year, write protection, final
    // assembly number, distributor, sensor serial number, upper and lower limit, minimum span.
    {3, "Device", {{205, kNone}, {307, kNone}, {357, kNone}, {299, kNone}, {358, kNoneShort}, {360, kNoneShort},
                   {364, kNoneShort}, {365, kNone}, {359, kNone}, {366, kNone}, {367, kNone}, {361, kNone},
                   {362, kNone}, {363, kNone}}},
    {4, "Advanced", {{kAdvancedSensitivityEdit, kNone}, {kAdvancedAnalogModeCombo, kNone},
                     {kAdvancedBlankingEdit, kNone}, {kAdvancedOffsetEdit, kNone}, {kAdvancedProbeFaultCombo, kNone}}},
    {5, "Status", {}},
    {6, "HART", {{kHartManufacturerEdit, kNone}, {kHartDeviceTypeEdit, kNone}, {kHartSerialEdit, kNone},
                 {kHartPreamblesEdit, kNone}, {kHartCounterEdit, kNone}, {kHartDistributorEdit, kNone},
                 {kHartPollingAddressEdit, kNone}, {kHartLoopCurrentCombo, kNone}, {kHartRevisionEdit, kNone},
                 {kHartDeviceRevisionEdit, kNone}, {kHartSoftwareRevisionEdit, kNone},
                 {kHartHardwareRevisionEdit, kNone}}},
    {7, "Diganostics", {{kDiagCounterEdit, kNone}, {kDiagFlagEdit, kNone}}},
    {8, "Info", {}},
    {9, "EchoPP", {}},
};

bool IsPlaceholder(const std::string& text) {
  return text == kNone || text == kNoneShort || text == "Loading..." || text == "...";
}

// Whether the window's text fits its client area in its font (a combo's beside its arrow button).
bool TextFits(HWND window) {
  char name[32] = {};
  GetClassNameA(window, name, sizeof name);
  const std::string text = vkr::ui::WindowText(window);
  RECT client{};
  GetClientRect(window, &client);
  HDC dc = GetDC(window);
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  if (old) SelectObject(dc, old);
  ReleaseDC(window, dc);
  const int arrow = _stricmp(name, "ComboBox") == 0 ? GetSystemMetrics(SM_CXVSCROLL) : 0;
  return size.cx <= client.right - client.left - arrow - 2;
}

// The ids of every window below root that waits for a value ("Loading...").
void CollectWaiting(HWND root, std::vector<int>* found) {
  for (HWND child = GetWindow(root, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const std::string text = vkr::ui::WindowText(child);
    if (text == "Loading..." || text == "...") found->push_back(GetDlgCtrlID(child));
    CollectWaiting(child, found);
  }
}

COnlineParameterization* AsOnlineFrame(IUnknown* control) {
  vkr::ComPtr<IPPFrameCtrl> frame;
  if (!control || FAILED(control->QueryInterface(IPPFrameCtrl::iid, frame.PutVoid())) || !frame) return nullptr;
  return dynamic_cast<COnlineParameterization*>(static_cast<CovFDT_BasePPFrameImpl*>(frame.Get()));
}

class OfflineFrame : public LivePageHostTest {
 protected:
  void TearDown() override {
    if (session_ && session_->Dtm()) {
      session_->Frame()->activeX.CloseAll();
      vkr::ui::PumpUntilIdle();
    }
    LivePageHostTest::TearDown();
  }
  IUnknown* Dtm() const { return session_->Dtm(); }
  // Whether the transmitter is on the frame's channel.
  void Connect(bool connected) {
    auto& devices = session_->Channel()->devices;
    devices.clear();
    if (connected) devices.push_back(device_);
  }
  // Function 1 opened as a frame application opens it; the frame once its start and the DTM's try
  // to go online are over.
  COnlineParameterization* OpenFrame() {
    VARIANT_BOOL opened = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"),
                                                    vkr::Bstr(vkr::frame::FunctionCallDocument(1)), &opened),
              S_OK);
    vkr::ui::PumpUntilIdle();
    if (!opened) return nullptr;
    EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) != dsGOINGONLINE; }, 20000));
    vkr::frame::WaitUntilQuiet();
    invokeId_ = session_->Frame()->activeX.OpenControls().back().invokeId;
    return AsOnlineFrame(session_->Frame()->activeX.OpenControls().back().control.Get());
  }
  // The frame closed as a frame application closes it (PrepareToRelease first).
  bool CloseFrame() {
    VARIANT_BOOL closed = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(invokeId_)), &closed), S_OK);
    vkr::ui::PumpUntilIdle();
    return closed != VARIANT_FALSE;
  }
  // The page as the user selects it in the tree; its window.
  static HWND SelectPage(COnlineParameterization* frame, int index) {
    EXPECT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), index));
    vkr::ui::PumpUntilIdle();
    vkr::frame::WaitUntilQuiet();
    auto* page = dynamic_cast<CovFDT_PropertyPageImpl*>(Query<IovFdtTranslationEvent>(frame->Page(index)).Get());
    return page ? page->PageWindow() : nullptr;
  }
  static std::string Text(COnlineParameterization* frame, UINT id) {
    return vkr::ui::WindowText(frame->GetDlgItem(static_cast<int>(id)));
  }
  // Each page selected in turn, and each of its device fields with the page's window.
  static void ForEachField(COnlineParameterization* frame, const std::function<void(HWND, const Field&, HWND)>& check) {
    for (const PageFields& page : kPages) {
      SCOPED_TRACE(page.title);
      HWND window = SelectPage(frame, page.index);
      ASSERT_TRUE(window);
      for (const Field& field : page.fields) {
        HWND item = FindItem(window, static_cast<int>(field.id));
        ASSERT_TRUE(item) << field.id;
        check(window, field, item);
      }
      check(window, Field{0, ""}, nullptr);
    }
  }

  std::string invokeId_;
};

// One table over the ten pages offline: each device field shown, saying that the device is not
// connected in a text that fits it; nothing on any page waits for ever; no choice a device never
// gave. Then the transmitter comes and the DTM goes online: every field shows its value.
TEST_F(OfflineFrame, EveryPageSaysNotConnectedAndShowsTheValuesOnceOnline) {
  StartSession();
  Connect(false);
  COnlineParameterization* frame = OpenFrame();
  ASSERT_TRUE(frame);
  ASSERT_EQ(ui::DtmState(Dtm()), dsCOMMUNICATIONSET);
  EXPECT_EQ(Text(frame, kOnlineTag), kNone);
  EXPECT_EQ(Text(frame, kOnlineReading), "OFFLINE");
  EXPECT_EQ(Text(frame, kOnlineMessage), "");
  for (UINT button : {kOnlineRefresh, kOnlineSend, kOnlineRead})
    EXPECT_FALSE(IsWindowEnabled(frame->GetDlgItem(static_cast<int>(button)))) << button;

  ForEachField(frame, [&](HWND window, const Field& field, HWND item) {
    if (!item) {
      // The page as a whole: nothing on it or on the frame waits for ever.
      std::vector<int> waiting;
      CollectWaiting(window, &waiting);
      CollectWaiting(frame->m_hWnd, &waiting);
      EXPECT_TRUE(waiting.empty()) << testing::PrintToString(waiting);
      return;
    }
    EXPECT_TRUE(IsWindowVisible(item)) << field.id;
    EXPECT_EQ(vkr::ui::WindowText(item), field.offline) << field.id;
    EXPECT_TRUE(TextFits(item)) << field.id << " \"" << vkr::ui::WindowText(item) << "\"";
  });
  // No lamp calls an entry nobody touched changed or invalid (a device value not read is no fault).
  for (const PageFields& page : kPages) {
    SelectPage(frame, page.index);
    auto* ui = dynamic_cast<CovFDT_BaseActiveXImpl*>(frame->Page(page.index));
    ASSERT_TRUE(ui) << page.title;
    for (const CActXParInfo* entry = ui->ParameterTable(); entry && !entry->IsEnd(); ++entry) {
      if (!entry->m_hWndIndicator) continue;
      EXPECT_EQ(entry->m_nState & 0x6, 0u) << page.title << " " << entry->m_nParamId;
    }
  }

  Connect(true);
  ASSERT_EQ(ui::GoOnline(Dtm()), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsONLINE; }, 20000));
  EXPECT_TRUE(PumpUntil([&] { return Text(frame, kOnlineTag) == "LT-101  "; }, 10000)) << Text(frame, kOnlineTag);
  ForEachField(frame, [&](HWND, const Field& field, HWND item) {
    if (!item) return;
    EXPECT_TRUE(PumpUntil([&] { return !IsPlaceholder(vkr::ui::WindowText(item)); }, 10000))
        << field.id << " \"" << vkr::ui::WindowText(item) << "\"";
  });
  EXPECT_EQ(Text(frame, kOnlineMessage), "");
}

// The identity message comes from a transmitter's command 0 answer alone: none without a
// transmitter, none for this DTM's own, the codes of another manufacturer's.
struct IdentityCase {
  const char* what;
  bool connected;
  BYTE manufacturer;
  const char* message;
};
const IdentityCase kIdentityCases[] = {
    {"NoTransmitter", false, 0x60, ""},
    {"ThisDtmsTransmitter", true, 0x60, ""},
    {"AnotherManufacturersTransmitter", true, 0x26,
     "Connected device is not a VKR device or a comm. problem exists. (Manufactuer ID: 26[Hex], DeviceType: "
     "26E6[Hex])"},
};

void PrintTo(const IdentityCase& c, std::ostream* out) { *out << c.what; }

class IdentityMessage : public OfflineFrame, public testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentityMessage, OnlyAfterAnotherTransmittersAnswer) {
  const IdentityCase& c = GetParam();
  device_->config.manufacturerId = c.manufacturer;
  StartSession();
  Connect(c.connected);
  COnlineParameterization* frame = OpenFrame();
  ASSERT_TRUE(frame);
  ASSERT_EQ(ui::DtmState(Dtm()), c.connected ? dsONLINE : dsCOMMUNICATIONSET);
  if (c.connected) {
    // The reading is the transmitter's answer to command 1, after its answer to command 0.
    EXPECT_TRUE(PumpUntil([&] { return Text(frame, kOnlineReading) != "OFFLINE"; }, 10000));
    PumpUntil([&] { return frame->IdentityRefused(); }, *c.message ? 5000 : 500);
  }
  EXPECT_EQ(Text(frame, kOnlineMessage), c.message);
  EXPECT_EQ(IsWindowVisible(frame->GetDlgItem(kOnlineMessage)) != FALSE, *c.message != '\0');
  EXPECT_EQ(frame->IdentityRefused(), *c.message != '\0');
  EXPECT_EQ(IsWindowEnabled(frame->GetDlgItem(kOnlineRefresh)) != FALSE, c.connected && !*c.message);
  EXPECT_TRUE(CloseFrame());
}

INSTANTIATE_TEST_SUITE_P(Transmitters, IdentityMessage, testing::ValuesIn(kIdentityCases),
                         [](const testing::TestParamInfo<IdentityCase>& info) { return std::string(info.param.what); });

}  // namespace
