// The online parameterization frame, opened as a frame application opens it: the live DTM module
// online to the simulated transmitter asks for the frame's class for its function 1, and the
// frame hosts its ten pages by class id. The frame class and the pages are this program's own
// (registered in the process before the module's), so the tests reach the frame's state and
// every page is known: probe pages (which count the trigger values that reach them and the frame's
// button messages) for Command, Process, Device and Info, the stand-in pages for the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameHost.h"
#include "frame/Quiet.h"
#include "frame/TransferSession.h"
#include "frame/controls/OutsideControls.h"
#include "include/ProgramIds.h"
#include "tests/support/dtm_user_interface.h"
#include "tests/support/kept_picture.h"
#include "tests/support/live_page_host.h"
#include "tests/support/threading.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/OnlineParameterization.h"
#include "ui/device/kit/ByteSpan.h"
#include "ui/device/kit/ResponseBytes.h"
#include "ui/framework/PropertyPage.h"

namespace {

using namespace vkr::test;
namespace dui = vkr::dui;

constexpr LONG kOnlineFunction = 1;
constexpr UINT kProbeDialogId = 9301;
constexpr UINT kProbeTitleId = 1;

// What reached the probe pages: trigger values by parameter id, and the frame's button clicks
// (WM_COMMAND from 356, 221, 335) that reached a page window.
struct ProbeLog {
  std::map<LONG, int> values;
  int buttonMessages = 0;
  int starts = 0;
};
std::map<std::u16string, ProbeLog>& Probes() {
  static std::map<std::u16string, ProbeLog> log;
  return log;
}
// The probe pages and frames alive now.
int& LiveProbePages() {
  static int n = 0;
  return n;
}
int& LiveFrames() {
  static int n = 0;
  return n;
}
// What a person does while the next probe page starts (its window given), as a message loop inside
// a page's start lets them; taken once.
std::function<void(HWND)>& WhileAPageStarts() {
  static std::function<void(HWND)> action;
  return action;
}

constexpr char kProbeTemplate[] = R"(
9301 DIALOGEX 0, 0, 300, 180
STYLE DS_CONTROL | WS_CHILD
EXSTYLE WS_EX_CONTROLPARENT
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "A page of the tests", -1, 10, 10, 200, 9
END
)";

CActXParInfo* ProbeParameterMap(int* count, BOOL copy) {
  static CActXParInfo table[] = {
      CActXParInfo(dui::kParButtonRefresh, "Button Refresh", 0, "", 0),
      CActXParInfo(dui::kParButtonSend, "Button Send", 0, "", 0),
      CActXParInfo(dui::kParButtonRead, "Button Read", 0, "", 0),
      CActXParInfo(),
  };
  if (!copy) {
    if (count) *count = 3;
    return table;
  }
  return CopyParameterTable(table, count);
}

SPropertyPageClass ProbeClass(const CLSID& clsid) {
  SPropertyPageClass c;
  c.clsid = clsid;
  c.parameterMap = &ProbeParameterMap;
  c.dialogId = kProbeDialogId;
  c.titleId = kProbeTitleId;
  c.templateText = kProbeTemplate;
  return c;
}

class CProbePage : public CovFDT_PropertyPageImpl {
 public:
  CProbePage(const CLSID& clsid, std::u16string title) : CovFDT_PropertyPageImpl(ProbeClass(clsid)), m_title(std::move(title)) {
    ++LiveProbePages();
  }
  ~CProbePage() override { --LiveProbePages(); }
  HRESULT Init(BSTR tag, BSTR call, IUnknown* dtm, VARIANT_BOOL* result) override {
    const HRESULT hr = CovFDT_PropertyPageImpl::Init(tag, call, dtm, result);
    ++Probes()[m_title].starts;
    if (auto action = std::exchange(WhileAPageStarts(), nullptr)) action(m_hWnd);
    return hr;
  }
  bool LoadPageString(UINT id, std::u16string* text) override {
    if (id != kProbeTitleId) return false;
    *text = m_title;
    return true;
  }
  HRESULT SetControlValueById(LONG id, VARIANT value) override {
    ++Probes()[m_title].values[id];
    return CovFDT_PropertyPageImpl::SetControlValueById(id, value);
  }
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId) override {
    const WORD id = LOWORD(wParam);
    if (message == WM_COMMAND && (id == kOnlineRefresh || id == kOnlineSend || id == kOnlineRead))
      ++Probes()[m_title].buttonMessages;
    return CovFDT_PropertyPageImpl::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
  }
  using CovFDT_PropertyPageImpl::ProcessWindowMessage;

 private:
  std::u16string m_title;
};

// A class factory that makes its objects through a function.
class FunctionFactory : public vkr::Implements<IClassFactory> {
 public:
  using Creator = std::function<HRESULT(IUnknown*, REFIID, void**)>;
  explicit FunctionFactory(Creator create) : m_create(std::move(create)) {}
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override { return m_create(outer, riid, ppv); }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  Creator m_create;
};

struct PageEntry {
  const CLSID* clsid;
  const char16_t* title;  // the probe page's title
};
const PageEntry kPages[] = {
    {&CLSID_CommandPP, u"Command"},
    {&CLSID_ProcessPP, u"Process / Output"},
    {&CLSID_ValuesPP, u"Values"},
    {&CLSID_DevicePP, u"Device"},
    {&CLSID_AdvancedPP, u"Advanced"},
    {&CLSID_StatusPP, u"Status"},
    {&CLSID_HartPP, u"HART"},
    {&CLSID_DiagPP, u"Diganostics"},
    {&CLSID_InfoPP, u"Info"},
    {&CLSID_EchoPP, u"EchoPP"},
};

// The online frame, counted while it lives.
class CCountedOnlineFrame : public COnlineParameterization {
 public:
  CCountedOnlineFrame() { ++LiveFrames(); }
  ~CCountedOnlineFrame() override { --LiveFrames(); }
};

COnlineParameterization* AsOnlineFrame(IUnknown* control) {
  vkr::ComPtr<IPPFrameCtrl> frame;
  if (!control || FAILED(control->QueryInterface(IPPFrameCtrl::iid, frame.PutVoid())) || !frame) return nullptr;
  return dynamic_cast<COnlineParameterization*>(static_cast<CovFDT_BasePPFrameImpl*>(frame.Get()));
}

vkr::Variant ByteArray(const std::vector<BYTE>& bytes) {
  vkr::Variant value;
  EXPECT_EQ(dui::MakeByteArray(bytes, value.Put()), S_OK);
  return value;
}

// The live DTM's session, the frame's and the probe pages' classes registered in the process first.
class OnlineFrame : public LivePageHostTest {
 protected:
  void SetUp() override {
    Probes().clear();
    Register(CLSID_OnlineParameterization, [](IUnknown* outer, REFIID riid, void** ppv) {
      return vkr::CreateObject<CCountedOnlineFrame>(outer, riid, ppv);
    });
    for (const PageEntry& page : kPages) {
      const CLSID clsid = *page.clsid;
      const std::u16string title = page.title;
      Register(clsid, [clsid, title](IUnknown* outer, REFIID riid, void** ppv) {
        return vkr::CreateObject<CProbePage>(outer, riid, ppv, clsid, title);
      });
    }
  }

  void TearDown() override {
    if (session_ && session_->Dtm()) {
      session_->Frame()->activeX.CloseAll();
      vkr::ui::PumpUntilIdle();
    }
    for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
    cookies_.clear();
    LivePageHostTest::TearDown();
  }

  void Register(const CLSID& clsid, FunctionFactory::Creator create) {
    vkr::ComPtr<IUnknown> factory;
    ASSERT_EQ(vkr::CreateObject<FunctionFactory>(nullptr, IID_IUnknown, factory.PutVoid(), std::move(create)), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie), S_OK);
    cookies_.push_back(cookie);
  }

  IUnknown* Dtm() const { return session_->Dtm(); }
  bool CloseFrame(const std::string& invokeId) {
    VARIANT_BOOL closed = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(invokeId)), &closed), S_OK);
    vkr::ui::PumpUntilIdle();
    return closed != VARIANT_FALSE;
  }
  // Opens the DTM's function 1 as a frame application does; the frame (with its invoke id) once
  // online with the device's first answers shown.
  COnlineParameterization* OpenFrameOnline(std::string* invokeId = nullptr) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(kOnlineFunction));
    EXPECT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), call, &opened), S_OK);
    vkr::ui::PumpUntilIdle();
    if (!opened) return nullptr;
    const auto& open = session_->Frame()->activeX.OpenControls().back();
    if (invokeId) *invokeId = open.invokeId;
    COnlineParameterization* frame = AsOnlineFrame(open.control.Get());
    if (!frame) return nullptr;
    EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsONLINE; }, 20000));
    EXPECT_TRUE(PumpUntil([&] { return Text(frame, kOnlineReading) != "OFFLINE"; }, 10000));
    vkr::frame::WaitUntilQuiet();
    return frame;
  }

  // The DTM created and given the frame's channel to the simulated transmitter (state 9), then
  // the frame opened online; null when either fails.
  COnlineParameterization* OnlineFrameOf(std::string* invokeId = nullptr) {
    StartSession();
    if (HasFailure()) return nullptr;
    EXPECT_EQ(ui::DtmState(Dtm()), dsCOMMUNICATIONSET);
    return HasFailure() ? nullptr : OpenFrameOnline(invokeId);
  }

  // The enabled flag of function 1 in the DTM's function list (1 or 0); -1 when it is not there.
  int OnlineFunctionEnabled() {
    vkr::ComPtr<IDtm> idtm;
    if (FAILED(Dtm()->QueryInterface(IDtm::iid, idtm.PutVoid()))) return -1;
    vkr::Bstr list;
    if (idtm->GetFunctions(vkr::Bstr(u"<FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" operationPhase=\"engineering\"/>"),
                           list.Put()) != S_OK)
      return -1;
    // Blanks around '=' dropped, then the first `enabled` after function 1's id.
    std::string text;
    for (char c : vkr::Utf16ToUtf8(list.View())) {
      const bool blank = c == ' ' || c == '\t';
      if (c == '=')
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
      if (!(blank && !text.empty() && text.back() == '=')) text += c;
    }
    const size_t id = text.find("functionId=\"1\"");
    const size_t at = id == std::string::npos ? id : text.find("enabled=\"", id);
    if (at == std::string::npos) return -1;
    const std::string enabled = text.substr(at + 9, text.find('"', at + 9) - at - 9);
    return enabled == "1" ? 1 : enabled == "0" ? 0 : -1;
  }

  ULONG Counter() {
    vkr::Variant value = ui::ParameterValue(Dtm(), static_cast<ULONG>(dui::kParOnlineAxCounter));
    LONG n = -1;
    return CovFDT_BaseActiveXImpl::ReadNumber(value, &n) ? static_cast<ULONG>(n) : 0xFFFFFFFF;
  }

  static HWND Item(COnlineParameterization* frame, UINT id) { return frame->GetDlgItem(static_cast<int>(id)); }
  static std::string Text(COnlineParameterization* frame, UINT id) { return vkr::ui::WindowText(Item(frame, id)); }
  static bool Shown(COnlineParameterization* frame, UINT id) { return IsWindowVisible(Item(frame, id)) != FALSE; }
  static bool Enabled(COnlineParameterization* frame, UINT id) { return IsWindowEnabled(Item(frame, id)) != FALSE; }

  static std::vector<std::string> TreeTitles(COnlineParameterization* frame) {
    return vkr::test::TreeTitles(frame->TreeControl());
  }
  // Selects page `index` as a person selects its tree item.
  static void SelectPage(COnlineParameterization* frame, int index) {
    ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), index));
    vkr::ui::PumpUntilIdle();
  }

  std::vector<DWORD> cookies_;
};

// The ten pages in the tree in page order, each shown by its item; the button row follows the
// page: Refresh, Send and Close for Command, Process, Device, Advanced and HART; Read and Close for
// Status; Close alone for the others. A frame too short for its row shows none of its buttons.
TEST_F(OnlineFrame, TreeShowsTheTenPagesAndTheButtonRowFollowsThePage) {
  COnlineParameterization* frame = OnlineFrameOf();
  ASSERT_TRUE(frame);
  std::vector<std::string> titles;
  for (const PageEntry& page : kPages) titles.push_back(vkr::Utf16ToUtf8(page.title));
  ASSERT_EQ(TreeTitles(frame), titles);

  for (int page = 9; page >= 0; --page) {
    SCOPED_TRACE(page);
    SelectPage(frame, page);
    EXPECT_EQ(frame->CurrentPageIndex(), page);
    const bool refreshSend = page == 0 || page == 1 || page == 3 || page == 4 || page == 6;
    EXPECT_EQ(Shown(frame, kOnlineRefresh), refreshSend);
    EXPECT_EQ(Shown(frame, kOnlineSend), refreshSend);
    EXPECT_EQ(Shown(frame, kOnlineRead), page == 5);
    EXPECT_TRUE(Shown(frame, kOnlineClose));
    EXPECT_FALSE(Shown(frame, kOnlineHelp));
  }

  // Command page (0) in a 675 x 585 frame: Close one pitch left of the free start slot, Send
  // and Refresh at the page side's left edge (splitter 170 + 7), one pitch apart, one row.
  RECT close{}, send{}, refresh{};
  GetWindowRect(Item(frame, kOnlineClose), &close);
  GetWindowRect(Item(frame, kOnlineSend), &send);
  GetWindowRect(Item(frame, kOnlineRefresh), &refresh);
  RECT whole{};
  GetWindowRect(frame->ControlWindow(), &whole);
  EXPECT_EQ(close.left - whole.left, 675 - 79 - 91);
  EXPECT_EQ(send.left - whole.left, 170 + 7 + 91);
  EXPECT_EQ(refresh.left - whole.left, 170 + 7);
  EXPECT_EQ(close.top - whole.top, 585 - 66);
  EXPECT_EQ(send.top, close.top);

  // TAB runs along the row Refresh, Send, Close and on to the tree; SHIFT+TAB back. With the
  // Status page, Read takes the device buttons' place.
  auto tab = [&](bool shift) {
    EXPECT_TRUE(vkr::ui::PressKey(VK_TAB, shift ? vkr::ui::kShift : 0));
    vkr::ui::PumpUntilIdle();
    return GetFocus();
  };
  SetFocus(Item(frame, kOnlineRefresh));
  EXPECT_EQ(tab(false), Item(frame, kOnlineSend));
  EXPECT_EQ(tab(false), Item(frame, kOnlineClose));
  EXPECT_EQ(tab(false), frame->TreeControl());
  EXPECT_EQ(tab(true), Item(frame, kOnlineClose));
  EXPECT_EQ(tab(true), Item(frame, kOnlineSend));
  EXPECT_EQ(tab(true), Item(frame, kOnlineRefresh));
  SelectPage(frame, 5);
  SetFocus(Item(frame, kOnlineRead));
  EXPECT_EQ(tab(false), Item(frame, kOnlineClose));
  EXPECT_EQ(tab(true), Item(frame, kOnlineRead));

  SetWindowPos(frame->ControlWindow(), nullptr, 0, 0, 675, 160, SWP_NOMOVE | SWP_NOZORDER);
  vkr::ui::PumpUntilIdle();
  for (UINT id : {kOnlineRefresh, kOnlineSend, kOnlineRead, kOnlineClose, kOnlineHelp}) EXPECT_FALSE(Shown(frame, id)) << id;
}

// The frame with the Command page selected looks as its kept picture (VKR_UPDATE_PICTURES=1 writes
// it anew). A click of Refresh or Send reaches the pages once, as the value of parameter 1041 or
// 1042 that the DTM reports back (also when the same value is set again); the frame passes no button
// message on to a page. RETURN on a default device button is a click of it.
TEST_F(OnlineFrame, LooksAsKeptAndRefreshAndSendReachThePageOncePerClick) {
  COnlineParameterization* frame = OnlineFrameOf();
  ASSERT_TRUE(frame);
  SelectPage(frame, 0);
  SetFocus(Item(frame, kOnlineClose));
  vkr::frame::WaitUntilQuiet();
  vkr::test::ExpectLooksAsKept(frame->ControlWindow(), "online_parameterization");

  ASSERT_TRUE(Enabled(frame, kOnlineRefresh));
  ProbeLog& command = Probes()[u"Command"];
  command = ProbeLog{};

  auto settle = [] { vkr::frame::WaitUntilQuiet(); };
  ASSERT_TRUE(vkr::ui::Click(Item(frame, kOnlineRefresh)));
  EXPECT_TRUE(PumpUntil([&] { return command.values[dui::kParButtonRefresh] >= 1; }, 5000));
  settle();
  EXPECT_EQ(command.values[dui::kParButtonRefresh], 1);
  EXPECT_EQ(command.values[dui::kParButtonSend], 0);

  ASSERT_TRUE(vkr::ui::Click(Item(frame, kOnlineRefresh)));
  EXPECT_TRUE(PumpUntil([&] { return command.values[dui::kParButtonRefresh] >= 2; }, 5000));
  ASSERT_TRUE(vkr::ui::Click(Item(frame, kOnlineSend)));
  EXPECT_TRUE(PumpUntil([&] { return command.values[dui::kParButtonSend] >= 1; }, 5000));
  settle();
  EXPECT_EQ(command.values[dui::kParButtonRefresh], 2);
  EXPECT_EQ(command.values[dui::kParButtonSend], 1);

  // A page's edit (1045) enables Send for this device.
  EnableWindow(Item(frame, kOnlineSend), FALSE);
  EXPECT_EQ(frame->SetControlValueById(dui::kParActivateButtonSend, vkr::I4(1)), S_OK);
  EXPECT_TRUE(Enabled(frame, kOnlineSend));

  // RETURN with the focus on Send (the default look follows the focus).
  SetFocus(Item(frame, kOnlineSend));
  SendMessageA(Item(frame, kOnlineSend), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  MSG key{};
  key.hwnd = Item(frame, kOnlineSend);
  key.message = WM_KEYDOWN;
  key.wParam = VK_RETURN;
  EXPECT_EQ(frame->OnMessageMediatorEvent(&key), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return command.values[dui::kParButtonSend] >= 2; }, 5000));
  settle();
  EXPECT_EQ(command.values[dui::kParButtonSend], 2);
  for (auto& [title, log] : Probes()) EXPECT_EQ(log.buttonMessages, 0) << vkr::Utf16ToUtf8(title);
}

// The online usage counter: each frame counts itself in and out; closing one of two open frames
// leaves the DTM online, closing the last takes it offline. A frame whose start failed is released
// without touching the count (it never counted), so it cannot take the DTM offline under another.
TEST_F(OnlineFrame, UsageCounterKeepsTheDtmOnlineWhileAFrameIsOpen) {
  std::string first, second;
  COnlineParameterization* one = OnlineFrameOf(&first);
  ASSERT_TRUE(one);
  EXPECT_TRUE(one->IsCountedOnline());
  EXPECT_EQ(Counter(), 1u);
  COnlineParameterization* two = OpenFrameOnline(&second);
  ASSERT_TRUE(two);
  EXPECT_EQ(Counter(), 2u);

  // A third frame whose start fails (a function call it cannot read), released all the same.
  {
    vkr::ComPtr<IUnknown> made;
    ASSERT_EQ(vkr::CreateObject<COnlineParameterization>(nullptr, IID_IUnknown, made.PutVoid()), S_OK);
    COnlineParameterization* failed = AsOnlineFrame(made.Get());
    ASSERT_TRUE(failed);
    vkr::ComPtr<IDtm> idtm;
    ASSERT_EQ(Dtm()->QueryInterface(IDtm::iid, idtm.PutVoid()), S_OK);
    VARIANT_BOOL ok = VARIANT_TRUE;
    failed->Init(vkr::Bstr(u"broken"), vkr::Bstr(u"<not a function call"), idtm.Get(), &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(failed->IsCountedOnline());
    VARIANT_BOOL released = VARIANT_FALSE;
    EXPECT_EQ(failed->PrepareToRelease(&released), S_OK);
    vkr::frame::WaitUntilQuiet();
    EXPECT_EQ(Counter(), 2u);
  }

  ASSERT_TRUE(CloseFrame(first));
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Counter(), 1u);
  EXPECT_EQ(ui::DtmState(Dtm()), dsONLINE);
  ASSERT_TRUE(CloseFrame(second));
  EXPECT_EQ(Counter(), 0u);
  EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsCOMMUNICATIONSET; }, 20000))
      << "state " << static_cast<int>(ui::DtmState(Dtm()));
}

// Command 0 answers: this DTM's device leaves the buttons and the message line alone; another
// device disables Refresh, Send and Read and names the codes the answer holds. No answer yet, or
// one too short to name the device type, is no verdict (a lost answer); the right device brings
// the buttons back. The codes are stored for the other pages.
TEST_F(OnlineFrame, IdentityCheckRefusesOtherAndShortAnswers) {
  COnlineParameterization* frame = OnlineFrameOf();
  ASSERT_TRUE(frame);
  SelectPage(frame, 0);
  struct Case {
    const char* what;
    std::vector<BYTE> answer;
    bool refused;
    const char* codes;  // "(Manufactuer ID: ..." of the message; null: no message
  } const cases[] = {
      {"this device", {254, 0x60, 0xE6, 5, 7, 1, 3, 8, 0, 1, 0x23, 0x45}, false, nullptr},
      {"another manufacturer", {254, 0x26, 0xE6, 5, 7}, true, "Manufactuer ID: 26[Hex], DeviceType: 26E6[Hex]"},
      {"this device again", {254, 0x60, 0xE6}, false, nullptr},
      {"another device type", {254, 0x60, 0x12}, true, "Manufactuer ID: 60[Hex], DeviceType: 6012[Hex]"},
      {"no answer yet", {}, true, "Manufactuer ID: 60[Hex], DeviceType: 6012[Hex]"},
      {"this device, three bytes", {254, 0x60, 0xE6}, false, nullptr},
      // Too short to name a device: a lost answer (read again), never another device.
      {"two bytes", {254, 0x60}, false, nullptr},
      {"one byte", {254}, false, nullptr},
      {"another device type again", {254, 0x60, 0x12}, true, "Manufactuer ID: 60[Hex], DeviceType: 6012[Hex]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(frame->SetControlValueById(dui::kParCommand0Complete, ByteArray(c.answer)), S_OK);
    EXPECT_EQ(frame->IdentityRefused(), c.refused);
    for (UINT id : {kOnlineRefresh, kOnlineSend, kOnlineRead}) EXPECT_EQ(Enabled(frame, id), !c.refused) << id;
    const std::string message = Text(frame, kOnlineMessage);
    // The line lies over the page area's scroll bar: it shows only with its message.
    EXPECT_EQ(Shown(frame, kOnlineMessage), c.codes != nullptr);
    if (c.codes) {
      EXPECT_EQ(message.rfind("Connected device is not a VKR device or a comm. problem exists. (", 0), 0u) << message;
      EXPECT_NE(message.find(c.codes), std::string::npos) << message;
    } else {
      EXPECT_EQ(message, "");
    }
  }
  vkr::Variant manufacturer = ui::ParameterValue(Dtm(), static_cast<ULONG>(dui::kParManufacturerCode));
  LONG code = 0;
  EXPECT_TRUE(CovFDT_BaseActiveXImpl::ReadNumber(manufacturer, &code));
  EXPECT_EQ(code, 0x60);
  // A page's edit (1045) does not bring Send back for a refused device.
  EXPECT_EQ(frame->SetControlValueById(dui::kParActivateButtonSend, vkr::I4(1)), S_OK);
  EXPECT_FALSE(Enabled(frame, kOnlineSend));
  // Going offline and online again keeps a refused device without buttons.
  EXPECT_EQ(frame->OnDtmStateChanged(dsCOMMUNICATIONSET), S_OK);
  EXPECT_EQ(frame->OnDtmStateChanged(dsONLINE), S_OK);
  EXPECT_FALSE(Enabled(frame, kOnlineSend));
  // Values of another type than a byte array are no answer.
  EXPECT_EQ(frame->SetControlValueById(dui::kParCommand0Complete, vkr::I4(5)), S_OK);
  EXPECT_TRUE(frame->IdentityRefused());
}

// Command 1 answers give the reading from 5 bytes on, with its unit (44 feet, 45 meters, the other
// length units and any other code by name); a unit without a reading leaves the reading shown in
// the unit it came in; the tag comes from 6 Packed ASCII bytes of 1092 through
// the DTM's 1093, and fewer bytes store nothing.
TEST_F(OnlineFrame, ReadingAndTagDecodeOnlyWholeFields) {
  COnlineParameterization* frame = OnlineFrameOf();
  ASSERT_TRUE(frame);
  EXPECT_EQ(Text(frame, kOnlineReading), "2.500");
  EXPECT_EQ(Text(frame, kOnlineReadingUnit), "meters");
  struct Case {
    const char* what;
    std::vector<BYTE> answer;
    const char* reading;
    const char* unit;
  } const cases[] = {
      {"unit only: the reading keeps its unit", {44}, "2.500", "meters"},
      {"four bytes: unit only", {12, 0x40, 0xA0, 0x00}, "2.500", "meters"},
      {"whole answer in millimetres", {49, 0x44, 0x7A, 0x00, 0x00}, "1000.000", "mm"},
      {"whole answer in no length unit", {12, 0x40, 0xA0, 0x00, 0x00}, "5.000", "unit 12"},
      {"nothing", {}, "5.000", "unit 12"},
      {"longer answer", {44, 0x3F, 0xC0, 0x00, 0x00, 0x11}, "1.500", "feet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(frame->SetControlValueById(dui::kParCommand1Complete, ByteArray(c.answer)), S_OK);
    EXPECT_EQ(Text(frame, kOnlineReading), c.reading);
    EXPECT_EQ(Text(frame, kOnlineReadingUnit), c.unit);
  }
  vkr::Variant reading = ui::ParameterValue(Dtm(), static_cast<ULONG>(dui::kParCurrentReading));
  ASSERT_EQ(reading.vt, VT_R4);
  EXPECT_EQ(reading.fltVal, 1.5f);

  // "TANK-7  " in Packed ASCII; five bytes are not a tag.
  const std::vector<BYTE> tag = vkr::dui::EncodePackedAscii("TANK-7", 8);
  ASSERT_EQ(tag.size(), 6u);
  ASSERT_EQ(frame->SetControlValueById(dui::kParTagOnly, ByteArray({tag.begin(), tag.begin() + 5})), S_OK);
  vkr::frame::WaitUntilQuiet();
  EXPECT_EQ(Text(frame, kOnlineTag), "LT-101  ");
  ASSERT_EQ(frame->SetControlValueById(dui::kParTagOnly, ByteArray(tag)), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return Text(frame, kOnlineTag) == "TANK-7  "; }, 3000)) << Text(frame, kOnlineTag);
}

// End to end: the frame opened for function 1 while the DTM only has its channel takes it online
// (the first online user interface), shows the transmitter's tag, reading and unit, keeps the
// DTM's function 1 greyed while it is open, and takes the DTM offline again when it closes.
TEST_F(OnlineFrame, OpensOnlineToTheTransmitterAndGoesOfflineWhenClosed) {
  device_->config.pv = 3.25f;
  device_->config.pvUnit = 44;
  std::string invokeId;
  COnlineParameterization* frame = OnlineFrameOf(&invokeId);
  ASSERT_TRUE(frame);
  EXPECT_EQ(Text(frame, kOnlineName), "Brevant Guided Radar (VKR)");
  EXPECT_EQ(Text(frame, kOnlineDescription), "Guided Radar Continous level measurement with 4-20 mA and HART");
  EXPECT_TRUE(PumpUntil([&] { return Text(frame, kOnlineTag) != "Loading..."; }, 5000));
  EXPECT_EQ(Text(frame, kOnlineTag), "LT-101  ");
  EXPECT_EQ(Text(frame, kOnlineReading), "3.250");
  EXPECT_EQ(Text(frame, kOnlineReadingUnit), "feet");
  EXPECT_EQ(Text(frame, kOnlineMessage), "");
  EXPECT_FALSE(frame->IdentityRefused());
  // The header display holds the device's name (990); the status display has the translation.
  vkr::ComPtr<IUnknown> header, status;
  ASSERT_EQ(frame->GetHostedControl(kOnlineHeaderDisplay, IID_IUnknown, header.PutVoid()), S_OK);
  vkr::Variant name;
  EXPECT_EQ(vkr::frame::GetHeaderDisplayValue(header.Get(), dui::kParDevice, name.Put()), S_OK);
  EXPECT_EQ(name.vt == VT_BSTR ? vkr::Utf16ToUtf8(vkr::View(name.bstrVal)) : "", "Brevant Guided Radar (VKR)");
  ASSERT_EQ(frame->GetHostedControl(kOnlineStatusDisplay, IID_IUnknown, status.PutVoid()), S_OK);
  const std::vector<std::string> calls = vkr::frame::RecordedCalls(status.Get());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "SetTranslation"), calls.end());
  EXPECT_TRUE(Enabled(frame, kOnlineRefresh));
  EXPECT_EQ(Counter(), 1u);
  EXPECT_EQ(OnlineFunctionEnabled(), 0);
  vkr::Variant reading = ui::ParameterValue(Dtm(), static_cast<ULONG>(dui::kParCurrentReading));
  EXPECT_EQ(reading.vt == VT_R4 ? reading.fltVal : 0.0f, 3.25f);

  // The device answers the DTM's next reading with another value: the frame shows it.
  device_->config.pv = 4.75f;
  VARIANT_BOOL done = VARIANT_FALSE;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  ASSERT_EQ(Dtm()->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
  ASSERT_EQ(handler->ReadDeviceParameter(vkr::UI4(dui::kParCommand1Complete), &done), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return Text(frame, kOnlineReading) == "4.750"; }, 5000)) << Text(frame, kOnlineReading);

  // The device buttons follow the DTM's online state.
  ASSERT_EQ(ui::GoOffline(Dtm()), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return !Enabled(frame, kOnlineRefresh); }, 20000));
  EXPECT_FALSE(Enabled(frame, kOnlineSend));
  EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsCOMMUNICATIONSET; }, 20000));
  ASSERT_EQ(ui::GoOnline(Dtm()), S_OK);
  EXPECT_TRUE(PumpUntil([&] { return Enabled(frame, kOnlineRefresh) && Enabled(frame, kOnlineSend); }, 20000));

  ASSERT_TRUE(CloseFrame(invokeId));
  EXPECT_EQ(Counter(), 0u);
  EXPECT_EQ(OnlineFunctionEnabled(), 1);
  EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsCOMMUNICATIONSET; }, 20000));
}

// A transmitter of another manufacturer answers the DTM's command 0: the frame disables its device
// buttons and names the codes, while it still shows what the device reports.
TEST_F(OnlineFrame, AnotherTransmitterIsRefusedEndToEnd) {
  device_->config.manufacturerId = 0x26;
  COnlineParameterization* frame = OnlineFrameOf();
  ASSERT_TRUE(frame);
  SelectPage(frame, 0);
  EXPECT_TRUE(PumpUntil([&] { return frame->IdentityRefused(); }, 5000));
  EXPECT_EQ(Text(frame, kOnlineMessage),
            "Connected device is not a VKR device or a comm. problem exists. (Manufactuer ID: 26[Hex], DeviceType: "
            "26E6[Hex])");
  for (UINT id : {kOnlineRefresh, kOnlineSend, kOnlineRead}) EXPECT_FALSE(Enabled(frame, id)) << id;
  EXPECT_EQ(Text(frame, kOnlineReading), "2.500");
}

// Close clicked while the frame starts on an online DTM (a message loop inside the start runs the
// click and the close request): while a page starts, or while the frame reads the device after
// its pages started. The frame stops starting and frees what it made: no frame or page is left,
// nothing keeps the DTM online, the function is offered again, and the DTM goes offline with its
// last user interface. The next frame opens and closes as usual.
TEST_F(OnlineFrame, CloseWhileTheFrameStartsStopsTheStartAndFreesEverything) {
  // Frames the host let go of without a release before (CloseAll) may still live: counted from here.
  const int frames = LiveFrames(), pages = LiveProbePages();
  StartSession();
  enum class When { PageStarts, FrameReads };
  struct Road {
    const char* what;
    When when;
    int pagesStarted;
  } const roads[] = {
      {"while the first page starts", When::PageStarts, 1},
      {"while the frame reads the device", When::FrameReads, 10},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.what);
    for (auto& [title, log] : Probes()) log = ProbeLog{};
    ASSERT_EQ(ui::GoOnline(Dtm()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsONLINE; }, 20000));
    bool clicked = false;
    auto clickClose = [&](HWND root) {
      HWND close = FindItem(root, kOnlineClose);
      ASSERT_NE(close, nullptr);
      clicked = vkr::ui::Click(close);
      vkr::ui::PumpUntilIdle();
    };
    if (road.when == When::PageStarts) {
      WhileAPageStarts() = [&](HWND page) { clickClose(GetAncestor(page, GA_ROOT)); };
    } else {
      session_->Channel()->onDataExchange = [&](std::size_t) {
        const auto& open = session_->Frame()->activeX.OpenControls();
        COnlineParameterization* starting = open.empty() ? nullptr : AsOnlineFrame(open.back().control.Get());
        if (clicked || !starting || !starting->IsStarted()) return;
        clickClose(open.back().window);
      };
    }
    VARIANT_BOOL opened = VARIANT_TRUE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(kOnlineFunction));
    session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"), call, &opened);
    vkr::frame::WaitUntilQuiet();
    session_->Channel()->onDataExchange = nullptr;
    WhileAPageStarts() = nullptr;
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(opened);
    EXPECT_TRUE(session_->Frame()->activeX.OpenControls().empty());
    EXPECT_EQ(LiveFrames(), frames);
    EXPECT_EQ(LiveProbePages(), pages);
    EXPECT_EQ(Counter(), 0u);
    EXPECT_EQ(OnlineFunctionEnabled(), 1);
    int started = 0;
    for (const PageEntry& page : kPages) started += Probes()[page.title].starts;
    EXPECT_EQ(started, road.pagesStarted);
    // Nothing holds the DTM online: taken offline, it stays there.
    ASSERT_EQ(ui::GoOffline(Dtm()), S_OK);
    EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsCOMMUNICATIONSET; }, 20000));
  }

  std::string invokeId;
  COnlineParameterization* frame = OpenFrameOnline(&invokeId);
  ASSERT_TRUE(frame);
  EXPECT_EQ(LiveFrames(), frames + 1);
  EXPECT_EQ(LiveProbePages(), pages + 10);
  EXPECT_EQ(Counter(), 1u);
  ASSERT_TRUE(CloseFrame(invokeId));
  EXPECT_EQ(LiveFrames(), frames);
  EXPECT_EQ(LiveProbePages(), pages);
  EXPECT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsCOMMUNICATIONSET; }, 20000));
}

}  // namespace
