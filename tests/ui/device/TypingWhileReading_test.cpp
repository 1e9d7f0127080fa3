// Typing while a page reads, judged by what the transmitter holds: the module's online frame on the
// simulated transmitter, each request of a page's read held on the channel in turn while the user
// types into every entry of the page (and the DTM says again that it is online, so that the page
// reads everything once more). Whatever the moment, an entry either took no typing (its value was
// on its way, and the field said so) or keeps what was typed with its change mark through every
// answer after it, and Send writes exactly what was typed. Closing the frame while a request is on
// the channel crashes nothing and loses nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "frame/FrameChannel.h"
#include "frame/ProjectFiles.h"
#include "frame/Quiet.h"
#include "tests/support/live_page_host.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/OnlineParameterization.h"
#include "ui/device/kit/DeviceOutcome.h"

namespace {

using namespace vkr::test;
using vkr::frame::FrameChannel;

// One entry: the control, what the user types (a combo: the item chosen), and what the transmitter
// holds then: the device file's line, the byte it starts at and the bytes there.
struct SRow {
  UINT control;
  const char* text;
  const char* line;
  int at;
  const char* bytes;
};

// A page, its entries, and in how many shards the moments of its first show's read and of its
// Refresh's are tried (each shard one test: every shards-th moment), so that no test runs long.
struct SPage {
  const char* name;
  ULONG index;
  std::vector<SRow> rows;
  std::size_t firstShowShards = 4;
  std::size_t refreshShards = 1;
};

// The default transmitter with every setting apart from its default and from its neighbours.
const char* const kDistinct[][2] = {
    {"damping", "3FC00000"},
    {"displaySettings", "0402050306073F400000"},
    {"echoSettings", "19013E4CCCCDBD4CCCCD"},
    {"finalAssembly", "000011"},
    {"longTag", "44495354494E43542054414E4B00000000000000000000000000000000000000"},
    {"message", "1094D424E0D4814481393349514152820820820820820820"},
    {"tagDescriptorDate", "314B7782082038F4942204C930F820820820030479"},
    {"upperRange", "3F800000"},
    {"lowerRange", "40E00000"},
};

const SPage kPages[] = {
    {"Command",
     0,
     {{383, "Distance", "displaySettings", 0, "05"},
      {448, "42", "displaySettings", 4, "2A"},
      {542, "2.5", "damping", 0, "40200000"},
      {544, "1.25", "upperRange", 0, "3FA00000"},
      {545, "6.5", "lowerRange", 0, "40D00000"}},
     1,
     2},
    {"Process", 1, {{399, "3", "damping", 0, "40400000"}}},
    {"Device",
     3,
     {{205, "TANK9", "tagDescriptorDate", 0, "50138BE60820"},
      {299, "KEEP DRY", "message", 0, "2C5150804499820820820820820820820820820820820820"},
      {359, "99", "finalAssembly", 0, "000063"}},
     6,
     2},
    {"Advanced",
     4,
     {{554, "30", "echoSettings", 0, "4B"},
      {556, "Park 8 mA", "echoSettings", 1, "05"},
      {555, "0.25", "echoSettings", 2, "3E800000"},
      {697, "0.125", "echoSettings", 6, "3E000000"}},
     6},
    {"HART", 6, {{700, "Disabled", "loopCurrentMode", 0, "00"}}},
};

// The device file's lines, name to bytes; the change counter and flag, which every write moves, left out.
std::map<std::string, std::string> Lines(const vkr::frame::SimulatedDevice::Configuration& c) {
  std::map<std::string, std::string> lines;
  std::istringstream text(vkr::frame::DeviceFileText(c));
  for (std::string name, bytes; text >> name && std::getline(text >> std::ws, bytes);)
    if (name.rfind("configChange", 0) != 0) lines[name] = bytes;
  return lines;
}

// A page's read: its first when it is first shown, or that of the frame's Refresh; the shard of
// its moments.
struct SCase {
  const SPage* page;
  bool refresh;
  std::size_t shard;
};

// The module's online frame on the distinct transmitter, uploaded.
class LiveFrameTest : public LivePageHostTest {
 protected:
  virtual const SPage& ThePage() const = 0;

  void SetUp() override {
    std::string text = vkr::frame::DeviceFileText(device_->config);
    for (const auto& [name, hex] : kDistinct) {
      const std::size_t at = text.find(std::string(name) + " ");
      ASSERT_NE(at, std::string::npos) << name;
      const std::size_t end = text.find('\n', at);
      text.replace(at, end - at, std::string(name) + " " + hex);
    }
    std::string why;
    ASSERT_TRUE(vkr::frame::ParseDeviceFile(text, &device_->config, &why)) << why;
    // The probe-fault word holds other bits, which its write must keep.
    device_->config.memory[0x007C] = 0x0123;
    initial_ = device_->config;
    ASSERT_NO_FATAL_FAILURE(StartSession());
    bool uploaded = false;
    ASSERT_EQ(session_->Upload(&uploaded), S_OK);
    ASSERT_TRUE(uploaded);
  }
  void TearDown() override {
    Channel().onDataExchange = nullptr;
    Channel().ReleaseHeldAnswers();
    if (session_ && session_->Dtm()) session_->Frame()->activeX.CloseAll();
    vkr::frame::WaitUntilQuiet();
    LivePageHostTest::TearDown();
  }

  FrameChannel& Channel() const { return *session_->Channel(); }
  static bool Quiet() { return vkr::frame::WaitUntilQuiet(60000); }
  COnlineParameterization* OpenFrame() {
    IUnknown* opened = OpenFunction(1);
    if (!opened) return nullptr;
    vkr::ComPtr<IPPFrameCtrl> control;
    opened->QueryInterface(IPPFrameCtrl::iid, control.PutVoid());
    return dynamic_cast<COnlineParameterization*>(static_cast<CovFDT_BasePPFrameImpl*>(control.Get()));
  }
  CovFDT_BaseActiveXImpl* Page() const { return dynamic_cast<CovFDT_BaseActiveXImpl*>(frame_->Page(ThePage().index)); }
  HWND Item(UINT id) const { return GetDlgItem(Page()->DialogWindow(), static_cast<int>(id)); }
  std::string MessageLine() const { return vkr::ui::WindowText(frame_->GetDlgItem(kOnlineMessage)); }
  bool Changed(UINT control) const {
    const CActXParInfo* table = Page()->ParameterTable();
    for (ULONG i = 0; table && !table[i].IsEnd(); ++i)
      if (table[i].m_nCtrlId == control && (table[i].m_nState & 0x2)) return true;
    return false;
  }
  bool TakesTyping(HWND item) const {
    if (!IsWindowEnabled(item) || !IsWindowVisible(item)) return false;
    return vkr::ui::ClassName(item) == "ComboBox" || !(GetWindowLongA(item, GWL_STYLE) & ES_READONLY);
  }
  // The user's text into the item as a person puts it there; whether the item shows it then.
  bool Enter(const SRow& row) {
    HWND item = Item(row.control);
    if (vkr::ui::ClassName(item) == "ComboBox") {
      vkr::ui::SelectItem(item, std::string_view(row.text));
    } else if (vkr::ui::Click(item)) {
      SendMessageA(item, EM_SETSEL, 0, -1);
      vkr::ui::TypeText(item, row.text);
    }
    return vkr::ui::WindowText(item) == row.text;
  }
  // Holds the answer to the nth request from now on the channel; false when the page sent fewer.
  bool HoldRequest(std::size_t nth, const std::function<void()>& start) {
    Channel().CountRequestsFromNow();
    Channel().onDataExchange = [this, nth](std::size_t) {
      if (Channel().requestLog.size() != nth) return;
      FrameChannel::Fault hold;
      hold.held = true;
      Channel().faults.push_front(hold);
    };
    start();
    const bool held = OnlyHeldLeft();
    Channel().onDataExchange = nullptr;
    return held;
  }
  // Waits until everything set going is done but the held answers; false when none is held.
  bool OnlyHeldLeft() {
    const auto stuck = [&] {
      vkr::ui::PumpUntilIdle();
      return Channel().HeldAnswers() > 0 && Channel().PendingAnswers() == Channel().HeldAnswers() &&
             vkr::platform::ProcessIsIdle();
    };
    return PumpUntil([&] { return stuck() || (Channel().HeldAnswers() == 0 && vkr::frame::WaitUntilQuiet(0)); },
                     60000) &&
           Channel().HeldAnswers() > 0;
  }

  // The transmitter holds what it held and the rows that `took`, and nothing else.
  void ExpectHeld(const std::vector<bool>& took) const {
    std::map<std::string, std::string> want = Lines(initial_);
    for (std::size_t i = 0; i < took.size(); ++i) {
      const SRow& row = ThePage().rows[i];
      if (took[i]) want[row.line].replace(static_cast<std::size_t>(row.at) * 2, std::string(row.bytes).size(), row.bytes);
    }
    EXPECT_EQ(Lines(device_->config), want);
  }

  vkr::frame::SimulatedDevice::Configuration initial_;
  COnlineParameterization* frame_ = nullptr;
};

class TypingWhileReading : public LiveFrameTest, public ::testing::WithParamInterface<SCase> {
 protected:
  const SPage& ThePage() const override { return *GetParam().page; }
};

class ClosingWhileBusy : public LiveFrameTest, public ::testing::WithParamInterface<SPage> {
 protected:
  const SPage& ThePage() const override { return GetParam(); }
};

// Each request of the page's read held in turn, everything else done, while the user types into
// every entry of the page (of the moments at which no field of the page waits, one is enough); when a
// field still waits for its value, the user clicks Send before the answer comes, which writes nothing
// and says why. The Command page shows first, when the frame opens, before the user can act: its
// read is that of Refresh only. Refresh reads again on the same frame; a first show needs a new one.
// A shard takes every shards-th request from its own on.
TEST_P(TypingWhileReading, EveryEntryTypedAtEveryMomentOfTheReadIsKeptAndSentOrTookNoTyping) {
  const SPage& page = ThePage();
  const bool refresh = GetParam().refresh;
  const std::size_t shards = refresh ? page.refreshShards : page.firstShowShards;
  std::size_t refused = 0, kept = 0, moments = 0;
  bool idleSeen = false;
  auto open = [&] {
    Channel().wireBitsPerSecond = 0;
    frame_ = OpenFrame();
    ASSERT_NE(frame_, nullptr);
    ASSERT_TRUE(Quiet());
    if (!refresh) return;
    ASSERT_TRUE(vkr::ui::SelectItem(frame_->TreeControl(), static_cast<int>(page.index)));
    ASSERT_TRUE(Quiet());
  };
  if (refresh) {
    ASSERT_NO_FATAL_FAILURE(open());
  }
  for (std::size_t nth = GetParam().shard + 1;; nth += shards) {
    SCOPED_TRACE("typed while request " + std::to_string(nth) + " was on the channel");
    device_->config = initial_;
    if (!refresh) {
      ASSERT_NO_FATAL_FAILURE(open());
    }
    // The held request fixes the moment; the wire's speed only stretches the time around it. Refresh
    // reads at the speed of a HART line, the first show (a new frame each time) at once.
    if (refresh) Channel().wireBitsPerSecond = vkr::frame::kHartBitsPerSecond;
    const bool held = HoldRequest(nth, [&] {
      if (refresh)
        ASSERT_TRUE(vkr::ui::Click(frame_->GetDlgItem(kOnlineRefresh)));
      else
        ASSERT_TRUE(vkr::ui::SelectItem(frame_->TreeControl(), static_cast<int>(page.index)));
    });
    if (!held) break;  // the read has fewer requests
    ++moments;
    bool awaited = false;
    for (HWND child = GetWindow(Page()->DialogWindow(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
      awaited = awaited || (IsWindowVisible(child) && vkr::ui::WindowText(child) == "Loading...");
    if (!awaited && idleSeen) {
      ASSERT_EQ(Channel().ReleaseHeldAnswers(), S_OK);
      ASSERT_TRUE(Quiet());
      if (!refresh) session_->Frame()->activeX.CloseAll();
      continue;
    }
    idleSeen = idleSeen || !awaited;
    std::vector<bool> took;
    for (const SRow& row : page.rows) {
      SCOPED_TRACE(row.control);
      const bool takes = TakesTyping(Item(row.control));
      took.push_back(Enter(row));
      // Typing goes where the field takes it, and nowhere else.
      EXPECT_EQ(took.back(), takes) << vkr::ui::WindowText(Item(row.control));
      (took.back() ? kept : refused) += 1;
    }
    // The DTM's word that it is online may come after the keystroke too: the pages read every
    // entry again, the triggers' stored values among them, which are no clicks of the user. Those
    // reads are held as well, so that no answer comes between the user's look at the page and the
    // Send the page then gets.
    Channel().onDataExchange = [this](std::size_t) {
      FrameChannel::Fault hold;
      hold.held = true;
      Channel().faults.push_front(hold);
    };
    auto container = Query<IovFdtActiveXContainer>(session_->Dtm());
    ASSERT_TRUE(container);
    ASSERT_EQ(container->BroadcastToActiveX(vkr::UI4(10003), vkr::UI4(67)), S_OK);
    ASSERT_TRUE(OnlyHeldLeft());
    bool reading = false;
    for (const SRow& row : page.rows) reading = reading || vkr::ui::WindowText(Item(row.control)) == "Loading...";
    if (reading) {
      ASSERT_TRUE(vkr::ui::Click(frame_->GetDlgItem(kOnlineSend)));
      vkr::ui::PumpUntilIdle();
    }
    Channel().onDataExchange = nullptr;
    ASSERT_EQ(Channel().ReleaseHeldAnswers(), S_OK);
    ASSERT_TRUE(Quiet());
    Channel().wireBitsPerSecond = 0;
    if (reading) {
      EXPECT_EQ(MessageLine(), vkr::Utf16ToUtf8(vkr::dui::kNothingWrittenWhileReading));
      EXPECT_EQ(Lines(device_->config), Lines(initial_));
    }
    for (std::size_t i = 0; i < page.rows.size(); ++i) {
      const SRow& row = page.rows[i];
      SCOPED_TRACE(row.control);
      const std::string shown = vkr::ui::WindowText(Item(row.control));
      if (took[i]) {
        EXPECT_EQ(shown, row.text);
        EXPECT_TRUE(Changed(row.control));
      } else {
        EXPECT_NE(shown, "Loading...");
        EXPECT_TRUE(TakesTyping(Item(row.control)));
      }
    }
    // Send writes what was typed, and nothing else.
    SendMessageW(frame_->m_hWnd, vkr::dui::kMessageLineText, 0, reinterpret_cast<LPARAM>(u""));
    ASSERT_TRUE(vkr::ui::Click(frame_->GetDlgItem(kOnlineSend)));
    ASSERT_TRUE(Quiet());
    EXPECT_EQ(MessageLine(), "");
    ExpectHeld(took);
    if (!refresh) {
      session_->Frame()->activeX.CloseAll();
      ASSERT_TRUE(Quiet());
    }
  }
  EXPECT_GT(moments, 0u) << "the read has fewer requests than its moments have shards";
  std::printf("%s%s, %zu moments: %zu entries took no typing while their values were on their way, %zu kept it\n",
              page.name, refresh ? " (Refresh)" : "", moments, refused, kept);
}

FrameChannel* g_releasing = nullptr;

// The user closes the frame while a request of the page is on the channel: the page's read after
// Refresh, and the first write of its Send with everything typed. The close comes while the answer
// is held, the answer after it. Nothing crashes; the frame does not go while the page's write waits
// for the device (it stays open, and closes when asked again); the transmitter holds what was
// written and the page's entries say so.
TEST_P(ClosingWhileBusy, ARequestOnTheChannelCrashesNothingAndLosesNothing) {
  const SPage& page = GetParam();
  for (const bool writing : {false, true}) {
    SCOPED_TRACE(writing ? "while Send writes" : "while the page reads");
    device_->config = initial_;
    frame_ = OpenFrame();
    ASSERT_NE(frame_, nullptr);
    ASSERT_TRUE(Quiet());
    ASSERT_TRUE(vkr::ui::SelectItem(frame_->TreeControl(), static_cast<int>(page.index)));
    ASSERT_TRUE(Quiet());
    for (const SRow& row : page.rows) {
      if (!writing) break;
      ASSERT_TRUE(Enter(row)) << row.control;
    }
    HWND frameWindow = frame_->m_hWnd, close = frame_->GetDlgItem(kOnlineClose);
    Channel().CountRequestsFromNow();
    g_releasing = &Channel();
    Channel().onDataExchange = [&](std::size_t) {
      if (Channel().requestLog.size() != 1) return;
      FrameChannel::Fault hold;
      hold.held = true;
      Channel().faults.push_front(hold);
      // The user's Close, then (once nothing else is queued) the answer.
      PostMessageW(frameWindow, WM_COMMAND, MAKEWPARAM(kOnlineClose, BN_CLICKED), reinterpret_cast<LPARAM>(close));
      SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        if (g_releasing) g_releasing->ReleaseHeldAnswers();
      });
    };
    ASSERT_TRUE(vkr::ui::Click(frame_->GetDlgItem(writing ? kOnlineSend : kOnlineRefresh)));
    ASSERT_TRUE(Quiet());
    Channel().onDataExchange = nullptr;
    g_releasing = nullptr;
    EXPECT_EQ(Channel().HeldAnswers(), 0u);
    if (!writing) {
      EXPECT_TRUE(session_->Frame()->activeX.OpenControls().empty());
      EXPECT_EQ(Lines(device_->config), Lines(initial_));
      continue;
    }
    ASSERT_FALSE(session_->Frame()->activeX.OpenControls().empty());
    EXPECT_EQ(MessageLine(), "");
    ExpectHeld(std::vector<bool>(page.rows.size(), true));
    for (const SRow& row : page.rows) EXPECT_FALSE(Changed(row.control)) << row.control;
    ASSERT_TRUE(vkr::ui::Click(close));
    ASSERT_TRUE(Quiet());
    EXPECT_TRUE(session_->Frame()->activeX.OpenControls().empty());
  }
}

// A page's Refresh with its first answer held on the channel while the user clicks Refresh
// again, whose read fills every field: each field shows the device's value, but the first read is
// still out. The user types into an entry and clicks Send: nothing is written and the page says
// why (written now, the held answer would come after the write and show the value the device held
// before it). Once the answer is in, Send writes the entry, and the page shows what the
// transmitter holds. Each page with the entry typed (its row).
struct SStillOut {
  const SPage* page;
  std::size_t row;
};

class ReadStillOut : public LiveFrameTest, public ::testing::WithParamInterface<SStillOut> {
 protected:
  const SPage& ThePage() const override { return *GetParam().page; }
};

TEST_P(ReadStillOut, SendWritesNothingUntilTheAnswerIsIn) {
  const SRow& entry = ThePage().rows[GetParam().row];
  std::vector<bool> written(ThePage().rows.size(), false);
  written[GetParam().row] = true;
  frame_ = OpenFrame();
  ASSERT_NE(frame_, nullptr);
  ASSERT_TRUE(Quiet());
  ASSERT_TRUE(vkr::ui::SelectItem(frame_->TreeControl(), static_cast<int>(ThePage().index)));
  ASSERT_TRUE(Quiet());
  const std::string before = vkr::ui::WindowText(Item(entry.control));
  ASSERT_TRUE(HoldRequest(1, [&] { ASSERT_TRUE(vkr::ui::Click(frame_->GetDlgItem(kOnlineRefresh))); }));
  ASSERT_TRUE(vkr::ui::Click(frame_->GetDlgItem(kOnlineRefresh)));
  ASSERT_TRUE(OnlyHeldLeft());
  ASSERT_EQ(Channel().HeldAnswers(), 1u);
  ASSERT_EQ(vkr::ui::WindowText(Item(entry.control)), before);
  ASSERT_TRUE(Enter(entry));

  ASSERT_TRUE(vkr::ui::Click(frame_->GetDlgItem(kOnlineSend)));
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(MessageLine(), vkr::Utf16ToUtf8(vkr::dui::kNothingWrittenWhileReading));
  EXPECT_EQ(Lines(device_->config), Lines(initial_));
  ASSERT_EQ(Channel().ReleaseHeldAnswers(), S_OK);
  ASSERT_TRUE(Quiet());
  EXPECT_EQ(vkr::ui::WindowText(Item(entry.control)), entry.text);
  EXPECT_TRUE(Changed(entry.control));

  SendMessageW(frame_->m_hWnd, vkr::dui::kMessageLineText, 0, reinterpret_cast<LPARAM>(u""));
  ASSERT_TRUE(vkr::ui::Click(frame_->GetDlgItem(kOnlineSend)));
  ASSERT_TRUE(Quiet());
  EXPECT_EQ(MessageLine(), "");
  ExpectHeld(written);
  // What the page shows: the text, or the number, written (a number with the page's decimals).
  std::string shown = vkr::ui::WindowText(Item(entry.control));
  shown.erase(shown.find_last_not_of(' ') + 1);
  char* end = nullptr;
  const double number = std::strtod(shown.c_str(), &end);
  if (end && *end == '\0' && end != shown.c_str())
    EXPECT_DOUBLE_EQ(number, std::strtod(entry.text, nullptr)) << shown;
  else
    EXPECT_EQ(shown, entry.text);
  EXPECT_FALSE(Changed(entry.control));
}

INSTANTIATE_TEST_SUITE_P(Pages, ReadStillOut,
                         ::testing::Values(SStillOut{&kPages[0], 2}, SStillOut{&kPages[1], 0}, SStillOut{&kPages[2], 1},
                                           SStillOut{&kPages[3], 0}, SStillOut{&kPages[4], 0}),
                         [](const ::testing::TestParamInfo<SStillOut>& info) {
                           return std::string(info.param.page->name);
                         });

std::vector<SCase> Cases() {
  std::vector<SCase> cases;
  for (const SPage& page : kPages)
    for (const bool refresh : {false, true})
      if (refresh || page.index != 0)
        for (std::size_t shard = 0; shard < (refresh ? page.refreshShards : page.firstShowShards); ++shard)
          cases.push_back({&page, refresh, shard});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Pages, TypingWhileReading, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<SCase>& info) {
                           return std::string(info.param.page->name) + (info.param.refresh ? "Refresh" : "FirstShow") +
                                  std::to_string(info.param.shard);
                         });
INSTANTIATE_TEST_SUITE_P(Pages, ClosingWhileBusy, ::testing::ValuesIn(kPages),
                         [](const ::testing::TestParamInfo<SPage>& info) { return std::string(info.param.name); });

}  // namespace
