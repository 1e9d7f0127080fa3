// The tree page frame opened by the frame's ActiveX host, with scripted pages (and the page layer's
// test pages): pages made once and started in the page area, page change from the tree, the
// closing road with its question, OK and Apply across pages, the layout and the keyboard.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "communication/CMyConnection.h"
#include "frame/ActiveXHost.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/controls/OutsideControls.h"
#include "tests/support/comm_client_fakes.h"
#include "tests/support/test_page_frame.h"
#include "tests/support/test_property_page.h"
#include "tests/support/threading.h"

namespace {

using namespace vkr::test;
constexpr UINT kCloseRequest = 0x1600;
// The DTM's offline parameterization function.
constexpr LONG kOfflineFunction = 5;

// The real DTM, naming the tests' page frame for every function.
class FrameDtm : public CommDtm {
 public:
  HRESULT GetActiveXGuid(BSTR, BSTR* classId) override {
    OLECHAR text[40] = {};
    StringFromGUID2(CLSID_TestPageFrame, text, 40);
    *classId = SysAllocString(text);
    return S_OK;
  }
};

// An object that only counts its references and answers IUnknown.
struct CountedObject : IUnknown {
  LONG refs = 1;
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IUnknown::iid ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG Release() override { return static_cast<ULONG>(--refs); }
};

std::u16string Title(const char* text) { return vkr::Utf8ToUtf16(text); }

SPageScript Script(const char* title) {
  SPageScript script;
  script.title = Title(title);
  return script;
}

std::size_t Count(const std::string& entry) {
  const auto& log = PageLog();
  return static_cast<std::size_t>(std::count(log.begin(), log.end(), entry));
}

std::ptrdiff_t Position(const std::string& entry) {
  const auto& log = PageLog();
  auto it = std::find(log.begin(), log.end(), entry);
  return it == log.end() ? -1 : it - log.begin();
}

class PageFrame : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
    ASSERT_EQ(RegisterTestPageFrame(), S_OK);
    ASSERT_EQ(RegisterScriptedPages(), S_OK);
    SetTestFrameAskApply(true);
    for (char name : {'A', 'B', 'C', 'D'}) SetPageScript(name, Script(std::string(1, name).c_str()));
    vkr::ui::ClearMessageBoxRecord();
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&factory), S_OK);
    ASSERT_EQ(CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(factory.Get()),
                                    CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
    thread->journal = &journal;
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameContainer>(&container), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameDtm>(&dtm), S_OK);
    dtm->SetThread(thread.Get());
    dtm->SetSchemaPath(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR).c_str());
    ASSERT_EQ(dtm->InitializeSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(VKR_FRAME_SCHEMA_DIR))), S_OK);
    dtm->SetContainer(static_cast<IFdtContainer*>(container.Get()));
    container->dtm = static_cast<IDtm*>(dtm.Get());
    ASSERT_EQ(vkr::MakeObject<vkr::frame::FrameChannel>(&channel), S_OK);
    ASSERT_EQ(static_cast<IovFdtCommunicationClient4*>(dtm.Get())->SetCommunication(channel.Get()), S_OK);
    // Configured and offline: the DTM answers its function list.
    dtm->ForceState(dsCONFIGURED);
  }
  void TearDown() override {
    // The release road first (a question about unapplied pages answered No), then whatever is left.
    while (IsOpen()) {
      invokeId = container->activeX.OpenControls().back().invokeId;
      vkr::ui::SetMessageBoxScript({{IDNO, nullptr}});
      if (!Close()) break;
    }
    container->activeX.CloseAll();
    vkr::ui::PumpUntilIdle();
    EXPECT_EQ(CTestPageFrame::liveCount, 0) << "a frame was kept after the host let it go";
    EXPECT_EQ(LivePages(), 0) << "a page was kept after its frame went";
    dtm->DropChannel();
    container->dtm = nullptr;
    dtm->SetContainer(nullptr);
    dtm = nullptr;
    container = nullptr;
    channel = nullptr;
    CoRevokeClassObject(cookie);
    vkr::ui::ClearMessageBoxRecord();
    RevokeScriptedPages();
    RevokeTestPageFrame();
    vkr::frame::RevokeOutsideControls();
    DrainQueue();
    CoUninitialize();
  }

  // Opens the test frame over the pages, as a frame opens a DTM's user interface.
  CTestPageFrame* Open(std::vector<CLSID> pages) {
    SetTestFramePages(std::move(pages));
    VARIANT_BOOL opened = VARIANT_FALSE;
    const vkr::Bstr call(vkr::frame::FunctionCallDocument(kOfflineFunction));
    EXPECT_EQ(container->OpenActiveXControl(vkr::Bstr(u"tag"), call, &opened), S_OK);
    vkr::ui::PumpUntilIdle();
    if (!opened || container->activeX.OpenControls().empty()) return nullptr;
    invokeId = container->activeX.OpenControls().back().invokeId;
    return AsTestPageFrame(container->activeX.OpenControls().back().control.Get());
  }
  // The frame host's close, as the frame or the DTM asks for it; true when the frame went.
  bool Close() {
    VARIANT_BOOL closed = VARIANT_FALSE;
    EXPECT_TRUE(SUCCEEDED(container->CloseActiveXControl(vkr::Bstr(vkr::Utf8ToUtf16(invokeId)), &closed)));
    vkr::ui::PumpUntilIdle();
    return closed != VARIANT_FALSE;
  }
  bool IsOpen() const { return !container->activeX.OpenControls().empty(); }
  IUnknown* DtmUnknown() const { return static_cast<IDtm*>(dtm.Get()); }

  static bool ClosePosted(HWND window) {
    MSG msg{};
    return PeekMessageW(&msg, window, kCloseRequest, kCloseRequest, PM_NOREMOVE) != FALSE;
  }
  static bool Shown(char page) {
    HWND window = ScriptedPageWindow(page);
    return window && IsWindowVisible(window);
  }
  static LPARAM SelectedData(HWND tree) {
    TVITEMA item{};
    item.mask = TVIF_PARAM | TVIF_HANDLE;
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item.hItem || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -2;
    return item.lParam;
  }

  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> factory;
  DWORD cookie = 0;
  Journal journal;
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameChannel>> channel;
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> container;
  vkr::ComPtr<vkr::ComObject<FrameDtm>> dtm;
  std::string invokeId;
};

// A page class nobody serves is left out; the others are made, sited and started once, also when
// the frame is started a second time (the missing first page must not make it start over).
TEST_F(PageFrame, PagesAreMadeOnceWhenTheFirstClassCannotBeMade) {
  CTestPageFrame* frame = Open({kUnregisteredPage, ScriptedPageClass('A'), ScriptedPageClass('B')});
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->PageCount(), 3u);
  EXPECT_EQ(frame->Page(0), nullptr);
  EXPECT_EQ(LivePages(), 2);
  EXPECT_TRUE(Shown('A'));

  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(frame->InitializeUI(DtmUnknown(), &ok), S_OK);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(LivePages(), 2);
  EXPECT_EQ(Count("A created"), 1u);
  EXPECT_EQ(Count("B created"), 1u);
  EXPECT_EQ(Count("A Init window"), 1u) << "a started page stays started";
  EXPECT_TRUE(Close());
}

// Every page gets its window, hidden, in the page area before it is started; only the current
// page is shown; at the end the pages are told to release, detached and their windows destroyed.
TEST_F(PageFrame, PagesAreActivatedHiddenInThePageAreaBeforeTheyStart) {
  CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B')});
  ASSERT_NE(frame, nullptr);
  HWND area = frame->GetDlgItem(static_cast<int>(CPageFrameHorSplitter::kPageAreaId));
  ASSERT_NE(area, nullptr);
  for (char page : {'A', 'B'}) {
    const std::string name(1, page);
    EXPECT_EQ(GetParent(ScriptedPageWindow(page)), area) << name;
    EXPECT_LT(Position(name + " Activate"), Position(name + " Init window")) << name;
    EXPECT_EQ(Count(name + " Init no-window"), 0u) << name;
  }
  EXPECT_TRUE(Shown('A'));
  EXPECT_FALSE(Shown('B'));
  EXPECT_TRUE(Close());
  for (const char* entry : {"A PrepareToRelease", "A SetPageSite null", "A SetObjects 0", "A Deactivate",
                            "B PrepareToRelease", "B SetPageSite null", "B SetObjects 0", "B Deactivate"})
    EXPECT_EQ(Count(entry), 1u) << entry;
}

// A Cancel that cannot run (its button disabled) must not leave the frame marked as closing: the
// frame's release still asks about the unapplied page, and the user may keep the frame.
TEST_F(PageFrame, CancelThatCannotRunLeavesTheQuestionToTheRelease) {
  CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B')});
  ASSERT_NE(frame, nullptr);
  MakePageDirty('A');
  ASSERT_EQ(frame->EnableButton(1, FALSE), S_OK);
  SetFocus(frame->TreeControl());
  vkr::ui::PressKey(VK_ESCAPE);
  EXPECT_FALSE(frame->IsClosing());
  EXPECT_TRUE(vkr::ui::MessageBoxRecord().empty());

  ASSERT_EQ(frame->EnableButton(1, TRUE), S_OK);
  vkr::ui::SetMessageBoxScript({{IDCANCEL, nullptr}});
  EXPECT_FALSE(Close());
  ASSERT_EQ(vkr::ui::MessageBoxRecord().size(), 1u);
  EXPECT_EQ(vkr::ui::MessageBoxRecord()[0].text, "Apply changes?");
  EXPECT_EQ(vkr::ui::MessageBoxRecord()[0].caption, "Warning");
  EXPECT_EQ(vkr::ui::MessageBoxRecord()[0].type, 0x23u);
  EXPECT_TRUE(IsOpen());
  EXPECT_EQ(Count("A SetPageSite null"), 0u);
}

// A frame the user kept open at its release question (Cancel to "Apply changes?") is the frame it
// was before the question: the same access mode, and the DTM's commands are served again; the
// next release asks again and closes.
TEST_F(PageFrame, AFrameKeptOpenAtItsReleaseQuestionServesCommandsAgain) {
  CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B')});
  ASSERT_NE(frame, nullptr);
  // The DTM's command for its private dialogs: served (S_OK) or refused (S_FALSE) as all are.
  const VARIANT privateDialogs = vkr::UI4(9998);
  VARIANT no = vkr::EmptyVariant();
  no.vt = VT_BOOL;
  no.boolVal = VARIANT_FALSE;
  ASSERT_EQ(frame->ExecuteCommand(privateDialogs, no), S_OK);
  const LONG accessBefore = frame->GetAccessMode();
  MakePageDirty('A');
  vkr::ui::SetMessageBoxScript({{IDCANCEL, nullptr}});
  EXPECT_FALSE(Close());
  ASSERT_TRUE(IsOpen());
  EXPECT_EQ(frame->GetAccessMode(), accessBefore);
  EXPECT_EQ(frame->ExecuteCommand(privateDialogs, no), S_OK);

  vkr::ui::SetMessageBoxScript({{IDNO, nullptr}});
  EXPECT_TRUE(Close());
  EXPECT_EQ(vkr::ui::MessageBoxRecord().size(), 2u);
}

// Yes to the question with a page whose Apply fails: the frame stays open on that page with its
// pages attached, and reports that it may not close; a later No closes it without applying.
TEST_F(PageFrame, YesWithAPageThatFailsToApplyKeepsTheFrameOpen) {
  PageScript('B').applyResult = E_FAIL;
  CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B')});
  ASSERT_NE(frame, nullptr);
  MakePageDirty('B');
  vkr::ui::SetMessageBoxScript({{IDYES, nullptr}});
  EXPECT_FALSE(Close());
  EXPECT_TRUE(IsOpen());
  EXPECT_TRUE(Shown('B'));
  EXPECT_FALSE(Shown('A'));
  EXPECT_EQ(SelectedData(frame->TreeControl()), 1);
  EXPECT_EQ(Count("B SetPageSite null"), 0u);
  EXPECT_FALSE(frame->IsClosing());

  vkr::ui::SetMessageBoxScript({{IDNO, nullptr}});
  EXPECT_TRUE(Close());
  EXPECT_EQ(vkr::ui::MessageBoxRecord().size(), 2u) << "the second release asked again";
  EXPECT_EQ(Count("B Apply"), 1u);
}

// OK with a page whose Apply fails: that page is shown and selected in the tree (not in a tab
// control the tree frame does not have), and no close request is posted.
TEST_F(PageFrame, FailedOkShowsAndSelectsTheFailingPageInTheTree) {
  PageScript('B').applyResult = E_FAIL;
  CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B'), ScriptedPageClass('C')});
  ASSERT_NE(frame, nullptr);
  MakePageDirty('A');
  MakePageDirty('B');
  ASSERT_TRUE(vkr::ui::Click(frame->GetDlgItem(static_cast<int>(kTestFrameOk))));
  EXPECT_EQ(Count("A Apply"), 1u);
  EXPECT_EQ(Count("B Apply"), 1u);
  EXPECT_TRUE(Shown('B'));
  EXPECT_FALSE(Shown('A'));
  EXPECT_EQ(SelectedData(frame->TreeControl()), 1);
  EXPECT_EQ(frame->CurrentIndex(), 1);
  EXPECT_FALSE(ClosePosted(frame->Window()));
  EXPECT_FALSE(frame->IsClosing());
  EXPECT_TRUE(IsOpen());
}

// The client object handed over a second time replaces the first, which is let go.
TEST_F(PageFrame, ASecondClientObjectReleasesTheFirst) {
  vkr::ComPtr<IPPFrameCtrl> frame;
  ASSERT_EQ(CoCreateInstance(CLSID_TestPageFrame, nullptr, CLSCTX_INPROC_SERVER, IPPFrameCtrl::iid, frame.PutVoid()),
            S_OK);
  CountedObject first, second;
  EXPECT_EQ(frame->SetClientObject(&first), S_OK);
  EXPECT_EQ(first.refs, 2);
  EXPECT_EQ(frame->SetClientObject(&second), S_OK);
  EXPECT_EQ(first.refs, 1);
  EXPECT_EQ(second.refs, 2);
  EXPECT_EQ(frame->SetClientObject(nullptr), S_OK);
  EXPECT_EQ(second.refs, 1);
}

// The generic layout at sizes down to nothing: the splitter never gets a negative size, the
// buttons go below 64 pixels, and the frame never gets lower than 24 pixels.
TEST_F(PageFrame, ASmallFrameGivesTheSplitterNoRoomAndHidesTheButtons) {
  CTestPageFrame* frame = Open({ScriptedPageClass('A')});
  ASSERT_NE(frame, nullptr);
  HWND ok = frame->GetDlgItem(static_cast<int>(kTestFrameOk));
  HWND help = frame->GetDlgItem(static_cast<int>(kTestFrameHelp));
  struct Row {
    int width, height;
    int splitterHeight;
    bool buttons;
    int okLeft;
  };
  const Row rows[] = {
      {400, 300, 113, true, 29},  // (400 - 4 * 91 + 9) / 2 + 7
      {400, 100, 0, true, 29},
      {400, 63, 0, false, -1},
      {120, 10, 0, false, -1},    // raised to 24
      {180, 200, 13, true, 7},    // at least 7 from the left
  };
  for (const Row& row : rows) {
    MoveWindow(frame->Window(), 0, 0, row.width, row.height, TRUE);
    vkr::ui::PumpUntilIdle();
    RECT client{}, splitter{};
    GetClientRect(frame->Window(), &client);
    GetClientRect(frame->VerticalSplitter().m_hWnd, &splitter);
    const std::string where = std::to_string(row.width) + "x" + std::to_string(row.height);
    EXPECT_EQ(client.bottom, std::max(row.height, 24)) << where;
    EXPECT_EQ(splitter.bottom - splitter.top, row.splitterHeight) << where;
    EXPECT_EQ(IsWindowVisible(ok) != FALSE, row.buttons) << where;
    EXPECT_EQ(IsWindowVisible(help) != FALSE, row.buttons) << where;
    if (row.okLeft >= 0) {
      RECT r{};
      GetWindowRect(ok, &r);
      POINT p{r.left, r.top};
      ScreenToClient(frame->Window(), &p);
      EXPECT_EQ(p.x, row.okLeft) << where;
      EXPECT_EQ(p.y, row.height - 64) << where;
    }
  }
}

// A page that refuses its start on its first selection leaves nothing shown; choosing another page
// then shows it (with no page current before), and the refused page starts when chosen again.
TEST_F(PageFrame, APageThatRefusesToStartLeavesNothingShownUntilTheNextChoice) {
  PageScript('B').initResults = {false, false};
  CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B'), ScriptedPageClass('C')});
  ASSERT_NE(frame, nullptr);
  // At the start B refused and C started; A is shown.
  HWND tree = frame->TreeControl();
  EXPECT_TRUE(Shown('A'));
  ASSERT_TRUE(vkr::ui::SelectItem(tree, "B"));
  vkr::ui::PumpUntilIdle();
  EXPECT_FALSE(Shown('A'));
  EXPECT_FALSE(Shown('B'));
  EXPECT_EQ(frame->CurrentPage(), nullptr);
  ASSERT_TRUE(vkr::ui::SelectItem(tree, "C"));
  vkr::ui::PumpUntilIdle();
  EXPECT_TRUE(Shown('C'));
  ASSERT_TRUE(vkr::ui::SelectItem(tree, "B"));
  vkr::ui::PumpUntilIdle();
  EXPECT_TRUE(Shown('B'));
  EXPECT_FALSE(Shown('C'));
  EXPECT_EQ(frame->CurrentIndex(), 1);
  EXPECT_EQ(Count("B Init window refused"), 2u) << "at the start and on the first choice";
}

// Titles with a group part build one group item with the pages below it; a second page with the
// same path takes over its item; choosing the group changes no page.
TEST_F(PageFrame, GroupTitlesMakeOneGroupItemAndTheGroupShowsNoPage) {
  PageScript('A').title = u"Setup\\Basic";
  PageScript('B').title = u"Setup\\Expert";
  PageScript('C').title = u"Status";
  PageScript('D').title = u"Setup\\Expert";
  CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B'), ScriptedPageClass('C'),
                                ScriptedPageClass('D')});
  ASSERT_NE(frame, nullptr);
  HWND tree = frame->TreeControl();
  HTREEITEM group = CovFDT_TreePPFrameImpl::FindChildItem(tree, TVI_ROOT, "Setup");
  ASSERT_NE(group, nullptr);
  EXPECT_NE(CovFDT_TreePPFrameImpl::FindChildItem(tree, TVI_ROOT, "Status"), nullptr);
  EXPECT_NE(CovFDT_TreePPFrameImpl::FindChildItem(tree, group, "Basic"), nullptr);
  HTREEITEM expert = CovFDT_TreePPFrameImpl::FindChildItem(tree, group, "Expert");
  ASSERT_NE(expert, nullptr);
  EXPECT_EQ(SendMessageA(tree, TVM_GETCOUNT, 0, 0), 4) << "Setup, Basic, Expert, Status";
  TVITEMA item{};
  item.mask = TVIF_PARAM | TVIF_HANDLE;
  item.hItem = expert;
  SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(item.lParam, 3) << "the later page's index";

  ASSERT_TRUE(vkr::ui::SelectItem(tree, "Status"));
  vkr::ui::PumpUntilIdle();
  EXPECT_TRUE(Shown('C'));
  ASSERT_TRUE(vkr::ui::SelectItem(tree, "Setup"));
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(frame->CurrentIndex(), -1);
  EXPECT_TRUE(Shown('C')) << "a group shows no page";
}

// Apply across pages: a page that reports itself dirty enables Apply; Apply applies the dirty pages
// in order, and a page that fails is shown and selected with Apply enabled again. After a finished
// Apply, and after Help, every page gets the frame's focus notice.
TEST_F(PageFrame, ApplyAppliesTheDirtyPagesInOrderAndStopsAtAFailingOne) {
  struct Row {
    const char* failing;
    std::vector<std::string> applied;
    LONG shown;
    bool applyEnabledAfter;
  };
  const Row rows[] = {
      {"", {"A Apply", "C Apply"}, 0, false},
      {"C", {"A Apply", "C Apply"}, 2, true},
      {"A", {"A Apply"}, 0, true},
  };
  for (const Row& row : rows) {
    for (char name : {'A', 'B', 'C'}) SetPageScript(name, Script(std::string(1, name).c_str()));
    if (*row.failing) PageScript(row.failing[0]).applyResult = E_FAIL;
    CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B'), ScriptedPageClass('C')});
    ASSERT_NE(frame, nullptr);
    HWND apply = frame->GetDlgItem(static_cast<int>(kTestFrameApply));
    EXPECT_FALSE(IsWindowEnabled(apply)) << row.failing;
    MakePageDirty('A');
    MakePageDirty('C');
    EXPECT_TRUE(IsWindowEnabled(apply)) << row.failing;
    PageLog().clear();
    ASSERT_TRUE(vkr::ui::Click(apply));
    std::vector<std::string> applied;
    for (const std::string& entry : PageLog())
      if (entry.find("Apply") != std::string::npos) applied.push_back(entry);
    EXPECT_EQ(applied, row.applied) << row.failing;
    EXPECT_EQ(SelectedData(frame->TreeControl()), row.shown) << row.failing;
    EXPECT_EQ(IsWindowEnabled(apply) != FALSE, row.applyEnabledAfter) << row.failing;
    EXPECT_TRUE(IsOpen()) << "Apply does not close";
    if (!row.applyEnabledAfter) {
      EXPECT_EQ(Count("A focus notice"), 1u) << "every page hears of the finished Apply";
      EXPECT_EQ(Count("B focus notice"), 1u);
    }
    PageLog().clear();
    ASSERT_TRUE(vkr::ui::Click(frame->GetDlgItem(static_cast<int>(kTestFrameHelp))));
    EXPECT_EQ(Count("A focus notice"), 1u) << "Help tells every page";
    EXPECT_EQ(Count("C focus notice"), 1u);
    vkr::ui::SetMessageBoxScript({{IDNO, nullptr}});
    EXPECT_TRUE(Close()) << row.failing;
  }
}

// The keyboard between the tree and the buttons: Shift+Tab on the tree goes to the last button, Tab
// on the last button back to the tree; Enter outside the page presses the default button (OK),
// whose close request closes the frame in the frame host.
TEST_F(PageFrame, KeyboardMovesBetweenTreeAndButtonsAndEnterPressesOk) {
  CTestPageFrame* frame = Open({ScriptedPageClass('A'), ScriptedPageClass('B')});
  ASSERT_NE(frame, nullptr);
  HWND tree = frame->TreeControl();
  HWND help = frame->GetDlgItem(static_cast<int>(kTestFrameHelp));
  HWND ok = frame->GetDlgItem(static_cast<int>(kTestFrameOk));
  struct Step {
    HWND from;
    int key;
    UINT modifiers;
    HWND to;
  };
  const Step steps[] = {
      {tree, VK_TAB, vkr::ui::kShift, help},
      {help, VK_TAB, 0, tree},
  };
  for (const Step& step : steps) {
    SetFocus(step.from);
    vkr::ui::PressKey(step.key, step.modifiers);
    EXPECT_EQ(GetFocus(), step.to) << vkr::ui::WindowText(step.from) << " key " << step.key;
  }
  // Back on the tree the default look is OK's again.
  EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  vkr::ui::PressKey(VK_RETURN);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Count("A SetPageSite null"), 1u) << "OK detached the pages";
  EXPECT_FALSE(IsOpen()) << "the close request reached the frame host";
  EXPECT_EQ(CTestPageFrame::liveCount, 0);
}

// The page layer's two test pages in the frame against the real DTM: the user edits a field on each
// page, changing pages from the tree, and one Apply writes both into the DTM's data set.
TEST_F(PageFrame, RealPagesEditedOnTwoPagesAreAppliedTogether) {
  TestPropertyPageClasses classes;
  ASSERT_EQ(classes.Register(), S_OK);
  CTestPageFrame* frame = Open({kTestSettingsPageClsid, kTestRangePageClsid});
  ASSERT_NE(frame, nullptr);
  auto type = [&](UINT id, const char* text) {
    HWND field = frame->GetDlgItem(static_cast<int>(id));
    ASSERT_NE(field, nullptr) << id;
    ASSERT_TRUE(vkr::ui::Click(field)) << id;
    SendMessageA(field, EM_SETSEL, 0, -1);
    SendMessageA(field, WM_CLEAR, 0, 0);
    vkr::ui::TypeText(field, text);
    vkr::ui::PressKey(VK_TAB);
    vkr::ui::PumpUntilIdle();
  };
  type(kSettingsDampingEdit, "12.5");
  ASSERT_TRUE(vkr::ui::SelectItem(frame->TreeControl(), "Range"));
  vkr::ui::PumpUntilIdle();
  EXPECT_TRUE(IsWindowVisible(frame->GetDlgItem(static_cast<int>(kRangeUpperEdit))));
  EXPECT_FALSE(IsWindowVisible(frame->GetDlgItem(static_cast<int>(kSettingsDampingEdit))));
  type(kRangeUpperEdit, "7.250");
  HWND apply = frame->GetDlgItem(static_cast<int>(kTestFrameApply));
  EXPECT_TRUE(IsWindowEnabled(apply));
  EXPECT_EQ(frame->Page(0)->IsPageDirty(), S_OK);
  EXPECT_EQ(frame->Page(1)->IsPageDirty(), S_OK);
  ASSERT_TRUE(vkr::ui::Click(apply));
  vkr::ui::PumpUntilIdle();

  vkr::ComPtr<IovFdtParameterHandler4> handler;
  ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
  struct Row {
    ULONG id;
    double value;
  };
  for (const Row& row : {Row{1022, 12.5}, Row{1026, 7.25}}) {
    vkr::Variant value;
    ASSERT_EQ(handler->GetParameterValue(vkr::UI4(row.id), &value), S_OK) << row.id;
    vkr::Variant number;
    ASSERT_EQ(VariantChangeType(&number, &value, 0, VT_R8), S_OK) << row.id;
    EXPECT_DOUBLE_EQ(number.dblVal, row.value) << row.id;
  }
  EXPECT_FALSE(IsWindowEnabled(apply));
  EXPECT_EQ(frame->Page(0)->IsPageDirty(), S_FALSE);
  EXPECT_EQ(frame->Page(1)->IsPageDirty(), S_FALSE);
}

}  // namespace
