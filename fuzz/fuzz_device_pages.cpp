// Fuzzes the device pages with what the device answers. A page of the VKR DTM, picked by the low
// bits of the first byte, is opened online on the fake device DTM as the online parameterization
// frame opens it; then the input, step by step, feeds it:
//   0 a device answer to a "Command n complete" parameter, which the DTM's broadcast (0x270D)
//     carries to the page's decoders;
//   1 the next answers of the HART service to a command the page sends (data, response code,
//     device status);
//   2 a click on one of the page's buttons, or on one of the frame's (Refresh, Send, Read);
//   3 time passing, for what the page does on its timers;
//   4 typing into one of the page's edits, or a choice in one of its combo boxes.
// No answer may crash or hang the page. The page is shown, as the frame shows it, so that clicks
// land (a hidden window takes none) and the scripted answers are used by what the buttons start:
// Send, self test, reset, loop test, echo read, digitize, the raw command. Then it closes cleanly:
// it says it is ready to go, asks the device nothing more, leaves no window or timer behind and
// lets go of the DTM. With VKR_FUZZ_STATS set, the run counts at exit how many clicks landed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

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

constexpr std::size_t kMaxInput = 4096;
constexpr int kMaxSteps = 48;

// The parameters whose values are a command's answer bytes, and those the pages' own commands
// (self test, master reset, the device-specific reads and writes) answer through.
constexpr ULONG kAnswers[] = {kParCommand0Complete,  kParCommand1Complete,    kParCommand2Complete,
                              kParCommand3Complete,  kParCommand14Complete,   kParCommand15Complete,
                              kParCommand48Complete, kParCommand6Complete,    kParSelfTestResponse,
                              kParMasterResetResponse, kParSpCmd1,            kParSpCmd2,
                              kParCommand131,        kParRangeValues,         kParMessage,
                              kParDescriptorTagDate, kParFinalAssemblyNumber, kParLongTag};
// The frame's buttons, which reach a page as the DTM's report of their parameters.
constexpr ULONG kTriggers[] = {kParButtonRefresh, kParButtonSend, kParButtonRead};
// The commands the pages send through the HART service.
constexpr BYTE kCommands[] = {3, 6, 7, 12, 13, 17, 18, 33, 34, 35, 38, 40, 41, 42, 44, 45, 46, 48, 128, 129, 130, 131,
                              132, 133, 134, 135, 136, 137, 138, 139, 140, 141, 142, 143, 144, 145};

struct Page {
  CLSID clsid;
  HRESULT (*make)(IClassFactory** factory);
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
    {CLSID_AdvancedPP, &MakeFactory<CAdvancedPP>}, {CLSID_CommandPP, &MakeFactory<CCommandPP>},
    {CLSID_DevicePP, &MakeFactory<CDevicePP>},     {CLSID_DiagPP, &MakeFactory<CDiagPP>},
    {CLSID_EchoPP, &MakeFactory<CEchoPP>},         {CLSID_HartPP, &MakeFactory<CHartPP>},
    {CLSID_ProcessPP, &MakeFactory<CProcessPP>},   {CLSID_RawCommandPP, &MakeFactory<CRawCommandPP>},
    {CLSID_SetupPP, &MakeFactory<CSetupPP>},       {CLSID_StatusPP, &MakeFactory<CStatusPP>},
    {CLSID_ValuesPP, &MakeFactory<CValuesPP>},
};

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

// The page's enabled windows of the given classes a person can reach, in window order (a combo
// box's inner windows are part of it, not entries of their own).
std::vector<HWND> Reachable(HWND window, std::initializer_list<std::string_view> classes) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char name[32] = {};
    GetClassNameA(child, name, sizeof name);
    if (!IsWindowVisible(child)) continue;
    const std::string_view kind(name);
    for (std::string_view wanted : classes)
      if (kind == wanted && IsWindowEnabled(child)) found.push_back(child);
    if (kind != "ComboBox")
      for (HWND inner : Reachable(child, classes)) found.push_back(inner);
  }
  return found;
}

// How many clicks landed and how many found no button or were refused, told at exit.
struct ClickCount {
  std::size_t landed = 0, refused = 0;
  ~ClickCount() {
    if (std::getenv("VKR_FUZZ_STATS"))
      std::fprintf(stderr, "clicks: %zu landed, %zu refused or without a button\n", landed, refused);
  }
};
ClickCount g_clicks;

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

// What the page asked of the device: reads, writes and HART commands.
std::size_t Requests(FakeDeviceDtm& dtm) {
  std::size_t n = dtm.Hart().Calls().size();
  for (const auto& call : dtm.Calls())
    if (call.op.rfind("ReadDevice", 0) == 0 || call.op.rfind("WriteDevice", 0) == 0) ++n;
  return n;
}

}  // namespace

// A step takes 2 to 44 bytes, so the seeds' 37 bytes reach a few steps only; and a run is slow
// (the page pumps its messages after each step), so libFuzzer's slow growth of the length would
// not reach the long sequences within a campaign. Inputs up to 1024 bytes (48 steps of 21 bytes
// on average) are tried from the start.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  vkr::fuzz::AddDefaultFlags(argc, argv, {"-max_len=1024", "-len_control=0"});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  static const bool registered = RegisterPages();
  (void)registered;
  vkr::fuzz::Input in(data, size);
  const BYTE first = in.Byte();
  const Page& page = kPages[(first & 0x7F) % (sizeof kPages / sizeof kPages[0])];
  vkr::test::dui::FakeClock clock;
  auto dtm = FakeDeviceDtm::Create();
  dtm->SetState(dsONLINE);
  const std::size_t windows = Windows();
  const std::size_t timers = vkr::platform::TimerCount();
  {
    DevicePageHarness harness(page.clsid, static_cast<IovFdtBaseDTM*>(dtm.Get()), 760, 560, true);
    const bool opened = harness.Ok();
    if (opened) {
      for (int step = 0; step < kMaxSteps && in.More(); ++step) {
        switch (in.Byte() % 5) {
          case 0: {
            const ULONG id = kAnswers[in.Byte() % (sizeof kAnswers / sizeof kAnswers[0])];
            const std::string_view bytes = in.Take(in.Byte() % 40);
            dtm->SetResponse(id, std::vector<BYTE>(bytes.begin(), bytes.end()));
            break;
          }
          case 1: {
            const BYTE command = kCommands[in.Byte() % (sizeof kCommands / sizeof kCommands[0])];
            const BYTE code = in.Byte(), status = in.Byte();
            const std::string_view bytes = in.Take(in.Byte() % 40);
            dtm->Hart().Script(command, FakeTransaction::Answer(std::vector<BYTE>(bytes.begin(), bytes.end()), code, status));
            break;
          }
          case 2: {
            const std::vector<HWND> buttons = Reachable(harness.Window(), {"Button"});
            const std::size_t pick = in.Byte() % (buttons.size() + std::size(kTriggers));
            if (pick >= buttons.size()) {
              VARIANT pressed = vkr::EmptyVariant();
              pressed.vt = VT_UI1;
              pressed.bVal = 1;
              dtm->SetParameterValue(vkr::UI4(kTriggers[pick - buttons.size()]), pressed);
            } else if (vkr::ui::Click(buttons[pick])) {
              ++g_clicks.landed;
            } else {
              ++g_clicks.refused;
            }
            break;
          }
          case 3:
            clock.Advance(50u * (1 + in.Byte() % 40));
            break;
          default: {
            const std::vector<HWND> entries = Reachable(harness.Window(), {"Edit", "ComboBox"});
            const BYTE pick = in.Byte();
            const std::string_view bytes = in.Take(in.Byte() % 12);
            if (entries.empty()) break;
            HWND entry = entries[pick % entries.size()];
            char name[32] = {};
            GetClassNameA(entry, name, sizeof name);
            if (std::string_view(name) == "ComboBox") {
              vkr::ui::SelectItem(entry, bytes.empty() ? 0 : bytes[0] % 8);
            } else if (vkr::ui::Click(entry)) {
              // Printable characters, as a keyboard gives them.
              std::string text;
              for (char c : bytes) text.push_back(static_cast<char>(0x20 + static_cast<unsigned char>(c) % 95));
              SendMessageA(entry, EM_SETSEL, 0, -1);
              vkr::ui::TypeText(entry, text.empty() ? std::string("\b") : text);
            }
            break;
          }
        }
        vkr::ui::PumpUntilIdle();
      }
    }
    // A clean close: the page is ready to go, asks the device nothing more, leaves no window or
    // timer behind and lets go of the DTM.
    const std::size_t requests = Requests(*dtm);
    const HWND host = harness.Window();
    const bool ready = harness.Close();
    vkr::ui::PumpUntilIdle();
    if (opened) {
      Check(ready);
      Check(GetWindow(host, GW_CHILD) == nullptr);
    }
    Check(Requests(*dtm) == requests);
    Check(dtm->AttachedCount() == 0);
  }
  vkr::ui::PumpUntilIdle();
  Check(Windows() == windows);
  Check(vkr::platform::TimerCount() == timers);
  Check(dtm->Pending() == 0);
  return 0;
}
