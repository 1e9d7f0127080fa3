// Fuzzes the device pages with what the device answers and what a person does on them. The pages
// of the VKR DTM sit in a page tree as the online parameterization frame shows them, on the fake
// device DTM. The first byte picks the page shown first ((b & 0x7F) % 11) and whether a healthy
// transmitter (the frame host's simulated one, its lengths in metres, millimetres, inches or feet
// by (b & 0x7F) / 11 % 4) answers the reads and commands the input does not answer, or (bit 7 set)
// nothing does. Then the input, step by step, feeds them:
//   0 a device answer to a "Command n complete" parameter, which the DTM's broadcast (0x270D)
//     carries to the pages' decoders;
//   1 the next answers of the HART service to a command a page sends (data, response code,
//     device status);
//   2 time passing, for what the pages do on their timers;
//   3 a page tree item: another page is shown (started on its first showing), the shown one hidden;
//   4-7 one of the items a person could act on now on the page shown: an enabled, visible button
//     (not a group box), a writable edit (typed into with a value that matters: a number near the
//     one shown, one out of range, not a number, nothing, a long text, hex bytes, or raw
//     characters; then Tab, Enter or nothing), a combo box or list with entries (an entry chosen,
//     or text typed into an editable combo), or a button of the frame's the page shows (Refresh and
//     Send, or Read); on a page with none of these, a page tree item.
// A question a page asks is answered with one of its buttons, chosen by the input.
// No answer may crash or hang a page. The pages are shown, as the frame shows them, so that clicks
// land (a hidden window takes none) and the scripted answers are used by what the buttons start:
// Send, self test, reset, loop test, echo read, digitize, the raw command. Then they close cleanly:
// each says it is ready to go, asks the device nothing more, leaves no window or timer behind and
// lets go of the DTM. With VKR_FUZZ_STATS set, the run prints at exit the steps that acted, per
// page and per item kind, and the items never acted on; with VKR_FUZZ_TRACE set, every step.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "frame/SimulatedDevice.h"
#include "include/ProgramIds.h"
#include "platform/platform.h"
#include "tests/support/device_ui_fixture.h"
#include "tests/support/fuzz_input.h"
#include "ui/device/AdvancedPP.h"
#include "ui/device/CommandPP.h"
#include "ui/device/DevicePP.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/DiagPP.h"
#include "ui/device/EchoPP.h"
#include "ui/device/HartPP.h"
#include "ui/device/ProcessPP.h"
#include "ui/device/RawCommandPP.h"
#include "ui/device/SetupPP.h"
#include "ui/device/StatusPP.h"
#include "ui/device/ValuesPP.h"

namespace {

using namespace vkr::dui;
using vkr::fuzz::Check;
using vkr::test::dui::DevicePageHarness;
using vkr::test::dui::FakeDeviceDtm;
using vkr::test::dui::FakeTransaction;
using vkr::test::dui::FakeUserMessage;

constexpr std::size_t kMaxInput = 4096;
constexpr int kMaxSteps = 48;

// The parameters whose values are a command's answer bytes, those the pages' own commands (self
// test, master reset, the device-specific reads and writes) answer through, and the device status
// byte; the numbers among them take the answer's first byte.
constexpr ULONG kAnswers[] = {kParCommand0Complete,  kParCommand1Complete,    kParCommand2Complete,
                              kParCommand3Complete,  kParCommand14Complete,   kParCommand15Complete,
                              kParCommand48Complete, kParCommand6Complete,    kParSelfTestResponse,
                              kParMasterResetResponse, kParSpCmd1,            kParSpCmd2,
                              kParCommand131,        kParRangeValues,         kParMessage,
                              kParDescriptorTagDate, kParFinalAssemblyNumber, kParLongTag,
                              kParDeviceStatus};
// The commands the pages send through the HART service.
constexpr BYTE kCommands[] = {3, 6, 7, 12, 13, 17, 18, 33, 34, 35, 38, 40, 41, 42, 44, 45, 46, 48, 128, 129, 130, 131,
                              132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145};

// The frame's buttons, which reach the pages as the DTM's report of their parameters.
struct FrameButton {
  ULONG trigger;
  int id;  // the frame's item
};
constexpr FrameButton kRefresh{kParButtonRefresh, 356}, kSend{kParButtonSend, 221}, kRead{kParButtonRead, 335};

struct Page {
  CLSID clsid;
  const char* name;
  HRESULT (*make)(IClassFactory** factory);
  // The frame's buttons shown beside the page: Refresh and Send beside the pages that write, Read
  // beside the Status page, none beside the others (as the online frame lays out its button row).
  // The Raw command and Setup pages, which no frame of the DTM's shows, get Refresh and Send, which
  // they answer to.
  std::vector<FrameButton> frameButtons;
};

template <class T>
HRESULT MakeFactory(IClassFactory** factory) {
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<T>>> made;
  const HRESULT hr = vkr::MakeObject<vkr::ClassFactory<T>>(&made);
  if (FAILED(hr)) return hr;
  *factory = static_cast<IClassFactory*>(made.Get());
  (*factory)->AddRef();
  return S_OK;
}

const Page kPages[] = {
    {CLSID_AdvancedPP, "Advanced", &MakeFactory<CAdvancedPP>, {kRefresh, kSend}},
    {CLSID_CommandPP, "Command", &MakeFactory<CCommandPP>, {kRefresh, kSend}},
    {CLSID_DevicePP, "Device", &MakeFactory<CDevicePP>, {kRefresh, kSend}},
    {CLSID_DiagPP, "Diagnostics", &MakeFactory<CDiagPP>, {}},
    {CLSID_EchoPP, "Echo curve", &MakeFactory<CEchoPP>, {}},
    {CLSID_HartPP, "HART", &MakeFactory<CHartPP>, {kRefresh, kSend}},
    {CLSID_ProcessPP, "Process", &MakeFactory<CProcessPP>, {kRefresh, kSend}},
    {CLSID_RawCommandPP, "Raw command", &MakeFactory<CRawCommandPP>, {kRefresh, kSend}},
    {CLSID_SetupPP, "Setup", &MakeFactory<CSetupPP>, {kRefresh, kSend}},
    {CLSID_StatusPP, "Status", &MakeFactory<CStatusPP>, {kRead}},
    {CLSID_ValuesPP, "Values", &MakeFactory<CValuesPP>, {}},
};
constexpr std::size_t kPageCount = std::size(kPages);

// Every page class registered once, as the module registers them.
bool RegisterPages() {
  vkr::fuzz::Scratch::Directory();
  Check(SUCCEEDED(CoInitialize(nullptr)));
  for (const Page& page : kPages) {
    vkr::ComPtr<IClassFactory> factory;
    Check(SUCCEEDED(page.make(factory.Put())));
    DWORD cookie = 0;
    Check(SUCCEEDED(CoRegisterClassObject(page.clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)));
  }
  return true;
}

// What a step can act on.
enum Kind : std::size_t { kButton, kEdit, kCombo, kList, kFrameButtonKind, kPageTree, kQuestion, kKinds };
constexpr const char* kKindNames[kKinds] = {"button", "edit", "combo", "list", "frame", "tree", "question"};

std::string ClassOf(HWND window) {
  char name[32] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// The kind a window of the page would be acted on as, whatever its state now; kKinds for a window
// that does nothing when acted on (a label, a group box, a read-only edit).
Kind KindOf(HWND window) {
  const std::string name = ClassOf(window);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  if (name == "Button") return (style & BS_TYPEMASK) == BS_GROUPBOX ? kKinds : kButton;
  if (name == "Edit") return (style & ES_READONLY) ? kKinds : kEdit;
  if (name == "ComboBox") return kCombo;
  if (name == "ListBox") return kList;
  return kKinds;
}

// How many entries a combo box or list offers.
LRESULT Entries(HWND window, Kind kind) {
  return SendMessageA(window, kind == kCombo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
}

struct Item {
  Kind kind;
  HWND window = nullptr;  // a window of the page's
  FrameButton frame{};     // a button of the frame's
};

// The page's windows that do something when acted on (a combo box's inner windows are part of it),
// in window order: all of them, or those a person can act on now (enabled, visible, a combo box
// or list with entries).
void Collect(HWND window, bool now, std::vector<Item>* found) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (now && (!IsWindowVisible(child) || !IsWindowEnabled(child))) continue;
    const Kind kind = KindOf(child);
    if (kind != kKinds && (!now || (kind != kCombo && kind != kList) || Entries(child, kind) > 0))
      found->push_back(Item{kind, child});
    if (ClassOf(child) != "ComboBox") Collect(child, now, found);
  }
}

// What the pages met, counted for the run's end.
struct Tally {
  std::size_t acted[kPageCount][kKinds] = {};
  std::size_t refused = 0;  // acts on an item the page did not take (there should be none)
  std::size_t answers = 0, timePassed = 0;
  std::set<std::size_t> shown;
  // Every item of a page that acts when acted on, and those acted on: (page, kind, item id).
  std::set<std::tuple<std::size_t, std::size_t, int>> items, reached;

  ~Tally() {
    if (!std::getenv("VKR_FUZZ_STATS")) return;
    // Questions are answered within a step (the click that asked them): counted beside the steps.
    std::size_t steps = 0, byKind[kKinds] = {};
    std::fprintf(stderr, "steps that acted, by page shown and item kind:\n%-12s", "page");
    for (const char* name : kKindNames) std::fprintf(stderr, " %8s", name);
    std::fprintf(stderr, " %8s\n", "steps");
    for (std::size_t page = 0; page < kPageCount; ++page) {
      std::size_t sum = 0;
      std::fprintf(stderr, "%-12s", kPages[page].name);
      for (std::size_t kind = 0; kind < kKinds; ++kind) {
        std::fprintf(stderr, " %8zu", acted[page][kind]);
        if (kind != kQuestion) sum += acted[page][kind];
        byKind[kind] += acted[page][kind];
      }
      std::fprintf(stderr, " %8zu\n", sum);
      steps += sum;
    }
    std::fprintf(stderr, "%-12s", "all");
    for (std::size_t n : byKind) std::fprintf(stderr, " %8zu", n);
    std::fprintf(stderr, " %8zu\n", steps);
    std::fprintf(stderr,
                 "steps that acted: %zu, refused: %zu, questions answered: %zu; the other steps: %zu device answers, "
                 "%zu times passing\n",
                 steps, refused, byKind[kQuestion], answers, timePassed);
    std::string never;
    for (std::size_t page = 0; page < kPageCount; ++page)
      if (!shown.count(page)) never += std::string(never.empty() ? "" : ", ") + kPages[page].name;
    std::fprintf(stderr, "pages never shown: %s\n", never.empty() ? "none" : never.c_str());
    std::map<std::size_t, std::string> missed;
    for (const auto& item : items)
      if (!reached.count(item))
        missed[std::get<0>(item)] += " " + std::string(kKindNames[std::get<1>(item)]) + " " + std::to_string(std::get<2>(item));
    std::size_t itemsReached = 0;
    for (const auto& item : items) itemsReached += reached.count(item);
    std::fprintf(stderr, "items acted on: %zu of %zu; never:%s\n", itemsReached, items.size(), missed.empty() ? " none" : "");
    for (const auto& [page, list] : missed) std::fprintf(stderr, "  %s:%s\n", kPages[page].name, list.c_str());
  }
};
Tally g_tally;

const bool g_trace = std::getenv("VKR_FUZZ_TRACE") != nullptr;

// The page shown now, its harness and what acting on its items counts to.
class PageTree {
 public:
  explicit PageTree(FakeDeviceDtm& dtm) : m_dtm(dtm) {}

  // Shows the page (started on its first showing), the one shown before hidden. Whether it opened.
  bool Show(std::size_t page) {
    if (m_shown < kPageCount && m_pages[m_shown]) m_pages[m_shown]->Show(false);
    m_shown = page;
    if (m_pages[page]) {
      m_pages[page]->Show(true);
    } else {
      m_pages[page] = std::make_unique<DevicePageHarness>(kPages[page].clsid, static_cast<IovFdtBaseDTM*>(&m_dtm), 760, 560, true);
      if (m_pages[page]->Ok()) {
        std::vector<Item> all;
        Collect(m_pages[page]->Window(), false, &all);
        for (const Item& item : all) g_tally.items.emplace(page, item.kind, GetDlgCtrlID(item.window));
        for (const FrameButton& button : kPages[page].frameButtons) g_tally.items.emplace(page, kFrameButtonKind, button.id);
      }
    }
    if (!m_pages[page]->Ok()) return false;
    g_tally.shown.insert(page);
    return true;
  }
  std::size_t Shown() const { return m_shown; }
  // The items a person can act on now on the page shown.
  std::vector<Item> Items() const {
    std::vector<Item> found;
    if (!m_pages[m_shown] || !m_pages[m_shown]->Ok()) return found;
    Collect(m_pages[m_shown]->Window(), true, &found);
    for (const FrameButton& button : kPages[m_shown].frameButtons) found.push_back(Item{kFrameButtonKind, nullptr, button});
    return found;
  }
  void Acted(Kind kind, int id) {
    ++g_tally.acted[m_shown][kind];
    g_tally.reached.emplace(m_shown, kind, id);
    if (g_trace) std::fprintf(stderr, "  %s: %s %d\n", kPages[m_shown].name, kKindNames[kind], id);
  }
  // Closes every page: each says it is ready to go and leaves nothing in its window.
  void Close() {
    for (auto& page : m_pages) {
      if (!page) continue;
      const bool opened = page->Ok();
      const HWND host = page->Window();
      const bool ready = page->Close();
      vkr::ui::PumpUntilIdle();
      if (opened) {
        Check(ready);
        Check(GetWindow(host, GW_CHILD) == nullptr);
      }
      page.reset();
    }
  }

 private:
  FakeDeviceDtm& m_dtm;
  std::unique_ptr<DevicePageHarness> m_pages[kPageCount];
  std::size_t m_shown = kPageCount;
};

// The buttons of a question by its message-box style, the one a person gets by Enter first.
std::vector<LONG> ButtonsOf(LONG style) {
  switch (style & 0x0F) {
    case 1: return {IDOK, IDCANCEL};
    case 2: return {IDABORT, IDRETRY, IDIGNORE};
    case 3: return {IDYES, IDNO, IDCANCEL};
    case 4: return {IDYES, IDNO};
    case 5: return {IDRETRY, IDCANCEL};
    case 6: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {IDOK};
  }
}

// Text for an entry that the page has to weigh: a number near the one shown (in its decimals),
// one out of any range, something that is not a number, nothing, a long text, hex bytes (the raw
// command's request data), or raw printable characters.
std::string EntryText(vkr::fuzz::Input& in, const std::string& shown) {
  const BYTE form = in.Byte();
  switch (form % 8) {
    case 0:
    case 1: {
      char* end = nullptr;
      double value = std::strtod(shown.c_str(), &end);
      const bool number = end != shown.c_str() && std::isfinite(value);
      const std::size_t point = shown.find('.');
      const int decimals = !number ? 0 : point == std::string::npos ? 0 : static_cast<int>(shown.size() - point - 1);
      if (!number) value = 0;
      static constexpr double kScale[] = {1, 10, 100, 1000};
      value += static_cast<std::int8_t>(in.Byte()) * std::pow(10.0, -decimals) * kScale[form / 8 % 4];
      char text[64] = {};
      std::snprintf(text, sizeof text, "%.*f", decimals > 9 ? 9 : decimals, value);
      return text;
    }
    case 2: {
      static constexpr const char* kOut[] = {"-1", "1e38", "-99999", "100000", "3.5e39", "65536", "256", "4294967296",
                                             "-0", "0", "999999999999", "-3.4e38", "32", "13", "0.0001", "2147483648"};
      return kOut[in.Byte() % std::size(kOut)];
    }
    case 3: {
      static constexpr const char* kNotNumbers[] = {"abc", "1.2.3", "--5", "1e", "nan", "inf", "12abc", " ",
                                                    "1,5",  "0x10", "+",   ".",  "-",   "1 2", "\xC3\xA9", "%s%n"};
      return kNotNumbers[in.Byte() % std::size(kNotNumbers)];
    }
    case 4:
      return std::string();
    case 5:
      // Longer than any of the pages' texts (typed key by key, so not much longer).
      return std::string(33 + in.Byte() % 64, "9W"[form / 8 % 2]);
    case 6: {
      std::string text;
      const std::string_view bytes = in.Take(in.Byte() % 12);
      char hex[4];
      for (char c : bytes) {
        std::snprintf(hex, sizeof hex, "%02X ", static_cast<unsigned char>(c));
        text += hex;
      }
      return text;
    }
    default: {
      // Printable characters, as a keyboard gives them.
      std::string text;
      for (char c : in.Take(in.Byte() % 12)) text.push_back(static_cast<char>(0x20 + static_cast<unsigned char>(c) % 95));
      return text;
    }
  }
}

// Types the text over what the entry holds (all selected first; nothing: a backspace clears it),
// then leaves it as the input says: staying, Tab or Enter.
void TypeOver(HWND entry, const std::string& text, BYTE leave) {
  SendMessageA(entry, EM_SETSEL, 0, -1);
  vkr::ui::TypeText(entry, text.empty() ? std::string("\b") : text);
  vkr::ui::PumpUntilIdle();
  if (leave % 3 == 1) vkr::ui::PressKey(VK_TAB);
  if (leave % 3 == 2) vkr::ui::PressKey(VK_RETURN);
}

// Acts on one item. False when the page did not take it.
bool Act(const Item& item, vkr::fuzz::Input& in, FakeDeviceDtm& dtm) {
  switch (item.kind) {
    case kFrameButtonKind: {
      VARIANT pressed = vkr::EmptyVariant();
      pressed.vt = VT_UI1;
      pressed.bVal = 1;
      dtm.SetParameterValue(vkr::UI4(item.frame.trigger), pressed);
      return true;
    }
    case kButton:
      return vkr::ui::Click(item.window);
    case kEdit: {
      if (!vkr::ui::Click(item.window)) return false;
      const std::string text = EntryText(in, vkr::ui::WindowText(item.window));
      TypeOver(item.window, text, in.Byte());
      return true;
    }
    case kCombo: {
      const BYTE how = in.Byte();
      const DWORD style = static_cast<DWORD>(GetWindowLongW(item.window, GWL_STYLE));
      HWND edit = GetWindow(item.window, GW_CHILD);
      if ((style & 3) == CBS_DROPDOWN && (how & 1) && edit && ClassOf(edit) == "Edit") {
        // An editable combo takes typing as well.
        if (!vkr::ui::Click(edit)) return false;
        const std::string text = EntryText(in, vkr::ui::WindowText(edit));
        TypeOver(edit, text, in.Byte());
        return true;
      }
      return vkr::ui::SelectItem(item.window, static_cast<int>((how >> 1) % Entries(item.window, kCombo)));
    }
    case kList:
      return vkr::ui::SelectItem(item.window, static_cast<int>(in.Byte() % Entries(item.window, kList)));
    default:
      return false;
  }
}

// The parameters the fake DTM lacks that the pages show, as the device parameter table has them:
// the Raw command page's (the command and request the user types, the answer only shown), the HART
// page's polling address and loop current, the device status byte, the configuration change
// counter, the reset of its flag, the self test and the master reset with its answer; and the
// distance reading's limits.
void AddPageParameters(FakeDeviceDtm& dtm) {
  using namespace vkr::test::ui;
  constexpr VARTYPE kBytes = VT_ARRAY | VT_UI1;
  constexpr ULONG kShown = kFlagReadable, kTyped = 0x71;
  const struct {
    ULONG id;
    const char16_t* name;
    VARTYPE vt;
    bool device;
    ULONG flags;
    double most;  // the largest value (none: below 0)
  } rows[] = {{kParDeviceStatus, u"DeviceStatus", VT_UI1, true, kTyped, 255},
              {1002, u"AllParam_Command", VT_UI1, false, kTyped, 255},
              {1003, u"AllParam_RequData", kBytes, false, kTyped, -1},
              {1004, u"AllParam_RequByteCount", VT_UI4, false, kShown, 255},
              {1005, u"AllParam_RespData", kBytes, false, kShown, -1},
              {1006, u"AllParam_RespCode", VT_UI1, false, kShown, 255},
              {1007, u"AllParam_DevStatus", VT_UI1, false, kShown, 255},
              {1008, u"AllParam_RespByteCount", VT_UI4, false, kShown, 255},
              {kParSelfTest, u"Command 41 complete", VT_UI1, true, kTyped, -1},
              {kParMasterReset, u"Command 42 complete", VT_UI1, true, kTyped, -1},
              {kParMasterResetResponse, u"MasterResetResponse", VT_UI1, false, kTyped, 255},
              {kParCommand6Complete, u"Command 6 complete", kBytes, true, kTyped, -1},
              {1107, u"Command 6 polladdr", VT_UI1, true, kTyped, 16},
              {1108, u"Command 6 loopcurr", VT_UI1, true, kTyped, 3},
              {1109, u"Polling address", VT_UI1, false, kTyped, 16},
              {1110, u"Loop current", VT_UI1, false, kTyped, 3},
              {1111, u"Command 38 complete", kBytes, true, kTyped, -1},
              {1112, u"Config counter", VT_UI2, false, kTyped, 65535}};
  for (const auto& row : rows) {
    FakeParameter p;
    p.id = row.id;
    p.name = row.name;
    p.vt = row.vt;
    VARIANT most = vkr::EmptyVariant();
    most.vt = VT_R8;
    most.dblVal = row.most;
    if (row.vt == kBytes) {
      p.value = ByteArray({});
    } else {
      p.value.vt = row.vt;
    }
    if (row.most >= 0) {
      p.minimum.vt = row.vt;
      VariantChangeType(&p.maximum, &most, 0, row.vt);
    }
    p.deviceValue = p.value;
    p.defaultValue = p.value;
    p.addressed = row.device ? 1 : 0;
    p.flags = row.flags;
    dtm.AddParameter(std::move(p));
  }
  // The distance reading's limits, which the digitize distance is held to: 0 to 66 m.
  if (FakeParameter* reading = dtm.Parameter(kParCurrentReading)) {
    reading->minimum = vkr::Variant();
    reading->minimum.vt = VT_R4;
    reading->minimum.fltVal = 0.0f;
    reading->maximum = vkr::Variant();
    reading->maximum.vt = VT_R4;
    reading->maximum.fltVal = 66.0f;
  }
}

// A healthy transmitter (the frame host's simulated one) behind the fake DTM: the answers it gives
// to the reads of every "Command n complete" and device-specific parameter, and to every HART
// command a page sends that the input has not scripted.
void ConnectTransmitter(FakeDeviceDtm& dtm, vkr::frame::SimulatedDevice& device, BYTE unit) {
  using vkr::frame::Bytes;
  // Every length in the unit: the level and distance, the sensor limits and the range.
  auto& c = device.config;
  auto convert = [&](float* value, BYTE from) { *value = vkr::frame::SimulatedDevice::ConvertLength(*value, from, unit); };
  convert(&c.pv, c.pvUnit);
  convert(&c.sv, c.svUnit);
  convert(&c.upperSensorLimit, c.limitsUnit);
  convert(&c.lowerSensorLimit, c.limitsUnit);
  convert(&c.minimumSpan, c.limitsUnit);
  convert(&c.upperRange, c.rangeUnit);
  convert(&c.lowerRange, c.rangeUnit);
  c.pvUnit = c.svUnit = c.limitsUnit = c.rangeUnit = unit;
  auto data = [&](BYTE command, const Bytes& request = {}) { return device.Execute(command, request).data; };
  const std::pair<ULONG, BYTE> reads[] = {
      {kParCommand0Complete, 0},  {kParCommand1Complete, 1},   {kParCommand2Complete, 2},
      {kParCommand3Complete, 3},  {kParCommand14Complete, 14}, {kParCommand15Complete, 15},
      {kParCommand48Complete, 48}, {kParCommand6Complete, 7},  {kParMessage, 12},
      {kParDescriptorTagDate, 13}, {kParFinalAssemblyNumber, 16}, {kParLongTag, 20},
      {kParSpCmd1, 135},           {kParSpCmd2, 137}};
  for (const auto& [id, command] : reads) dtm.SetResponse(id, data(command));
  // The range record: unit, upper and lower range value, as command 15 holds them.
  const Bytes range = data(15);
  if (range.size() >= 11) dtm.SetResponse(kParRangeValues, Bytes(range.begin() + 2, range.begin() + 11));
  dtm.SetResponse(kParCommand131, data(131, {0x02, 0xE9, 0x00, 0x14}));
  VARIANT status = vkr::EmptyVariant();
  status.vt = VT_UI1;
  status.bVal = device.DeviceStatus();
  dtm.SetDeviceValue(kParDeviceStatus, status);
  // The DTM keeps the sensor limits' unit of command 14 for the pages that draw lengths.
  VARIANT limitsUnit = vkr::EmptyVariant();
  limitsUnit.vt = VT_UI1;
  limitsUnit.bVal = unit;
  dtm.SetParameterValue(vkr::UI4(kParParamUnit), limitsUnit);
  dtm.Hart().AnswerUnscriptedWith([&device](BYTE command, const std::vector<BYTE>& request) {
    const vkr::frame::HartReply reply = device.Execute(command, request);
    return FakeTransaction::Answer(reply.data, reply.commandResponse, reply.deviceStatus);
  });
}

// Every window of the process.
std::size_t Windows() {
  std::size_t count = 0;
  EnumChildWindows(
      nullptr,
      [](HWND, LPARAM counter) -> BOOL {
        ++*reinterpret_cast<std::size_t*>(counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// What the pages asked of the device: reads, writes and HART commands.
std::size_t Requests(FakeDeviceDtm& dtm) {
  std::size_t n = dtm.Hart().Calls().size();
  for (const auto& call : dtm.Calls())
    if (call.op.rfind("ReadDevice", 0) == 0 || call.op.rfind("WriteDevice", 0) == 0) ++n;
  return n;
}

}  // namespace

// A step takes 2 to 44 bytes, so short seeds reach a few steps only; and a run is slow (the pages
// pump their messages after each step), so libFuzzer's slow growth of the length would not reach
// the long sequences within a campaign. Inputs up to 1024 bytes (48 steps of 21 bytes on average)
// are tried from the start.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  vkr::fuzz::AddDefaultFlags(argc, argv, {"-max_len=1024", "-len_control=0"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  static const bool registered = RegisterPages();
  (void)registered;
  vkr::fuzz::Input in(data, size);
  const BYTE start = in.Byte();
  const std::size_t first = (start & 0x7F) % kPageCount;
  vkr::test::dui::FakeClock clock;
  vkr::frame::SimulatedDevice device;
  auto dtm = FakeDeviceDtm::Create();
  dtm->SetState(dsONLINE);
  AddPageParameters(*dtm);
  // Bit 7 clear: a healthy transmitter answers, its lengths in metres, millimetres, inches or feet;
  // set: nothing answers but what the input gives.
  static constexpr BYTE kUnits[] = {vkr::frame::hart::kUnitMeter, vkr::frame::hart::kUnitMillimeter,
                                    vkr::frame::hart::kUnitInch, vkr::frame::hart::kUnitFeet};
  if (!(start & 0x80)) ConnectTransmitter(*dtm, device, kUnits[(start & 0x7F) / kPageCount % std::size(kUnits)]);
  const std::size_t windows = Windows();
  const std::size_t timers = vkr::platform::TimerCount();
  {
    PageTree tree(*dtm);
    // A question is answered with one of its buttons, which the input chooses when it has more.
    dtm->AnswerUserMessagesWith([&](const FakeUserMessage& message) -> LONG {
      const std::vector<LONG> buttons = ButtonsOf(message.style);
      const LONG answer = buttons[buttons.size() > 1 ? in.Byte() % buttons.size() : 0];
      if (g_trace) std::fprintf(stderr, "    \"%s\"\n", vkr::Utf16ToUtf8(message.text).c_str());
      tree.Acted(kQuestion, answer);
      return answer;
    });
    if (g_trace) std::fprintf(stderr, "  shown: %s\n", kPages[first].name);
    if (tree.Show(first)) {
      for (int step = 0; step < kMaxSteps && in.More(); ++step) {
        const BYTE kind = in.Byte() % 8;
        std::vector<Item> items;
        if (kind >= 4) items = tree.Items();
        if (kind == 0) {
          const ULONG id = kAnswers[in.Byte() % std::size(kAnswers)];
          const std::string_view bytes = in.Take(in.Byte() % 40);
          if (id == kParDeviceStatus || id == kParSelfTestResponse || id == kParMasterResetResponse) {
            // A number: the first byte.
            VARIANT number = vkr::EmptyVariant();
            number.vt = VT_UI1;
            number.bVal = bytes.empty() ? 0 : static_cast<BYTE>(bytes[0]);
            dtm->SetDeviceValue(id, number);
          } else {
            dtm->SetResponse(id, std::vector<BYTE>(bytes.begin(), bytes.end()));
          }
          if (g_trace) std::fprintf(stderr, "  answer %lu: %zu bytes\n", static_cast<unsigned long>(id), bytes.size());
          ++g_tally.answers;
        } else if (kind == 1) {
          const BYTE command = kCommands[in.Byte() % std::size(kCommands)];
          const BYTE code = in.Byte(), status = in.Byte();
          const std::string_view bytes = in.Take(in.Byte() % 40);
          dtm->Hart().Script(command, FakeTransaction::Answer(std::vector<BYTE>(bytes.begin(), bytes.end()), code, status));
          if (g_trace) std::fprintf(stderr, "  command %u answered: %zu bytes, response %u\n", command, bytes.size(), code);
          ++g_tally.answers;
        } else if (kind == 2) {
          const DWORD ms = 50u * (1 + in.Byte() % 40);
          clock.Advance(ms);
          if (g_trace) std::fprintf(stderr, "  %lu ms pass\n", static_cast<unsigned long>(ms));
          ++g_tally.timePassed;
        } else if (kind == 3 || items.empty()) {
          // Any page but the one shown.
          std::size_t page = in.Byte() % (kPageCount - 1);
          if (page >= tree.Shown()) ++page;
          if (!tree.Show(page)) break;
          tree.Acted(kPageTree, static_cast<int>(page));
        } else {
          const Item& item = items[in.Byte() % items.size()];
          const int id = item.window ? GetDlgCtrlID(item.window) : item.frame.id;
          if (Act(item, in, *dtm)) {
            tree.Acted(item.kind, id);
          } else {
            ++g_tally.refused;
          }
        }
        vkr::ui::PumpUntilIdle();
      }
    }
    dtm->AnswerUserMessagesWith(nullptr);
    dtm->Hart().AnswerUnscriptedWith(nullptr);
    // A clean close: every page is ready to go, asks the device nothing more, leaves no window or
    // timer behind and lets go of the DTM.
    const std::size_t requests = Requests(*dtm);
    tree.Close();
    vkr::ui::PumpUntilIdle();
    Check(Requests(*dtm) == requests);
    Check(dtm->AttachedCount() == 0);
  }
  vkr::ui::PumpUntilIdle();
  Check(Windows() == windows);
  Check(vkr::platform::TimerCount() == timers);
  Check(dtm->Pending() == 0);
  return 0;
}
