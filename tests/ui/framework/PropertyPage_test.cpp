// The property-page layer as a page frame uses it: pages created by class, sited, activated in the
// frame's page area, started on the DTM, edited with the keyboard and mouse, applied, released.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/dtm_fakes.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/page_site_harness.h"
#include "tests/support/test_property_page.h"

namespace {

using namespace vkr::test;
using vkr::test::ui::FakeUiDtm;

constexpr const char16_t* kFunctionCall =
    u"<FDT xmlns=\"x-schema:DTMFunctionCallSchema.xml\" xmlns:func=\"x-schema:DTMFunctionsSchema.xml\" "
    u"xmlns:ops=\"x-schema:FDTOperationPhaseSchema.xml\"><FDTFunctionCall func:functionId=\"4\" "
    u"ops:operationPhase=\"service\"/></FDT>";

std::string Text(HWND window) { return vkr::ui::WindowText(window); }
std::u16string Str(BSTR text) { return text ? std::u16string(text, SysStringLen(text)) : std::u16string(); }

// A page site that is also a page frame (answers the frame's interface), as the page frame is.
class FrameSite : public vkr::Implements<IPropertyPageSite, IPPFrameCtrl> {
 public:
  HRESULT OnStatusChange(DWORD) override { return S_OK; }
  HRESULT GetLocaleID(LCID* id) override {
    *id = 1033;
    return S_OK;
  }
  HRESULT GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(MSG*) override { return S_FALSE; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  HRESULT SetClientObject(IUnknown*) override { return S_OK; }
  HRESULT SetFrameOption(LONG) override { return S_OK; }
  HRESULT SetCaption(BSTR) override { return S_OK; }
  HRESULT SetHelpInfo(LONG, BSTR) override { return S_OK; }
};

class PropertyPage : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(classes.Register(), S_OK);
    dtm = FakeUiDtm::Create();
  }
  void TearDown() override {
    router.reset();
    if (page) {
      page->SetPageSite(nullptr);
      page->Deactivate();
    }
    page = nullptr;
    control = nullptr;
    if (dtm) dtm->DetachAll();
    dtm = nullptr;
    classes.Revoke();
    vkr::ui::PumpUntilIdle();
    CoUninitialize();
  }

  // A page made by class and activated hidden in the page area, as the frame makes it.
  void Create(const CLSID& clsid = kTestSettingsPageClsid) {
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, page.PutVoid()), S_OK);
    ASSERT_EQ(page->QueryInterface(IovFdtPropertyPageControl::iid, control.PutVoid()), S_OK);
    ASSERT_EQ(page->SetPageSite(host.Site()), S_OK);
    ASSERT_EQ(page->Activate(host.Hwnd(), &host.Rect(), FALSE), S_OK);
  }
  // ... started on the fake DTM and shown, with the keys routed to it.
  void Open() {
    Create();
    VARIANT_BOOL started = VARIANT_FALSE;
    ASSERT_EQ(control->Init(vkr::Bstr(u"TAG").Get(), vkr::Bstr(kFunctionCall).Get(), Dtm(), &started), S_OK);
    ASSERT_EQ(started, VARIANT_TRUE);
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    dtm->Deliver();
    router = std::make_unique<PageKeyRouter>(page.Get());
  }
  IUnknown* Dtm() const { return static_cast<IovFdtBaseDTM*>(dtm.Get()); }
  std::u16string InstanceId() {
    vkr::ComPtr<IovFdtActiveX4> any;
    page->QueryInterface(IovFdtActiveX4::iid, any.PutVoid());
    BSTR text = nullptr;
    static_cast<CovFDT_BasePropertyPageImpl*>(static_cast<CovFDT_BaseActiveXImpl*>(any.Get()))->GetInstanceId(&text);
    std::u16string id = Str(text);
    SysFreeString(text);
    return id;
  }
  CovFDT_BasePropertyPageImpl* Impl() {
    vkr::ComPtr<IovFdtActiveX4> any;
    page->QueryInterface(IovFdtActiveX4::iid, any.PutVoid());
    return static_cast<CovFDT_BasePropertyPageImpl*>(static_cast<CovFDT_BaseActiveXImpl*>(any.Get()));
  }
  CTestSettingsPage* Settings() { return static_cast<CTestSettingsPage*>(Impl()); }
  // Types into a field as a person does: click, select all, type.
  void Type(UINT field, const char* text) {
    vkr::ui::Click(host.Item(static_cast<int>(field)));
    SendMessageA(host.Item(static_cast<int>(field)), EM_SETSEL, 0, -1);
    SendMessageA(host.Item(static_cast<int>(field)), WM_CLEAR, 0, 0);
    vkr::ui::TypeText(host.Item(static_cast<int>(field)), text);
    vkr::ui::PumpUntilIdle();
  }
  std::u16string Stored(ULONG id) {
    vkr::Variant text;
    VariantChangeType(&text, &dtm->Parameter(id)->value, 0, VT_BSTR);
    return Str(text.bstrVal);
  }

  TestPropertyPageClasses classes;
  PageSiteHarness host{700, 500};
  vkr::ComPtr<vkr::ComObject<FakeUiDtm>> dtm;
  vkr::ComPtr<IPropertyPage> page;
  vkr::ComPtr<IovFdtPropertyPageControl> control;
  std::unique_ptr<PageKeyRouter> router;
};

// The page is registered, shown and finished under its instance id, whatever system tag the frame
// hands over; the release leaves nothing registered.
TEST_F(PropertyPage, StartShowAndReleaseUseTheInstanceIdAsTheOneKey) {
  Open();
  const std::u16string id = InstanceId();
  ASSERT_EQ(id.size(), 36u);
  EXPECT_EQ(id.find_first_of(u"abcdef{}"), std::u16string::npos) << "upper case, no braces";
  ASSERT_EQ(dtm->CountOf("StartFunction"), 1u);
  EXPECT_EQ(Str(dtm->CallsOf("StartFunction")[0].argument.bstrVal), id);
  EXPECT_EQ(dtm->AttachedCount(), 1u);
  EXPECT_EQ(Impl()->OperationPhase(), 8u) << "operationPhase \"service\"";
  EXPECT_TRUE(IsWindowVisible(host.Page()));
  ASSERT_GE(dtm->CountOf("DtmMessage", 3), 1u);
  EXPECT_EQ(Str(dtm->CallsOf("DtmMessage", 3).back().argument.bstrVal), id) << "the page shown is named by its id";
  EXPECT_EQ(Text(host.Item(kSettingsTagEdit)), "LT-100") << "the page reads its values";

  // The container asks a starting user interface for its function call.
  vkr::Variant call;
  EXPECT_EQ(Impl()->SetInfo(vkr::UI4(1), &call), S_OK);
  EXPECT_EQ(Str(call.bstrVal), kFunctionCall);

  VARIANT_BOOL started = VARIANT_TRUE;
  EXPECT_EQ(control->Init(vkr::Bstr(u"TAG").Get(), vkr::Bstr(kFunctionCall).Get(), Dtm(), &started), S_FALSE);
  EXPECT_EQ(started, VARIANT_FALSE) << "a second Init";

  VARIANT_BOOL ready = VARIANT_FALSE;
  ASSERT_EQ(control->PrepareToRelease(&ready), S_OK);
  EXPECT_EQ(ready, VARIANT_TRUE);
  ASSERT_EQ(dtm->CountOf("FunctionFinished"), 1u);
  EXPECT_EQ(Str(dtm->CallsOf("FunctionFinished")[0].argument.bstrVal), id);
  EXPECT_EQ(dtm->AttachedCount(), 0u);
  EXPECT_EQ(control->PrepareToRelease(&ready), S_OK) << "asked again";
  EXPECT_EQ(ready, VARIANT_TRUE);
  EXPECT_EQ(dtm->CountOf("FunctionFinished"), 1u);
}

// Against the real DTM: its function container asks the starting page for the function call the
// page was opened with, keeps the page open under the page's id, and lets it go at the release.
TEST_F(PropertyPage, TheRealFunctionContainerStartsAndFinishesThePage) {
  vkr::ComPtr<vkr::ComObject<TestDtm>> real;
  ASSERT_EQ(vkr::MakeObject<TestDtm>(&real), S_OK);
  vkr::ComPtr<vkr::ComObject<FakeDtmThread>> thread;
  ASSERT_EQ(vkr::MakeObject<FakeDtmThread>(&thread), S_OK);
  Journal journal;
  thread->journal = &journal;
  real->SetThread(thread.Get());
  real->ForceState(dsCONFIGURED);
  Create();
  IUnknown* dtmObject = static_cast<IovFdtBaseDTM*>(real.Get());
  VARIANT_BOOL started = VARIANT_FALSE;
  ASSERT_EQ(control->Init(vkr::Bstr(u"TAG").Get(), vkr::Bstr(kFunctionCall).Get(), dtmObject, &started), S_OK);
  ASSERT_EQ(started, VARIANT_TRUE);
  EXPECT_EQ(Text(host.Item(kSettingsDampingEdit)), "0.00") << "the page reads the DTM's values";
  vkr::Variant info;
  EXPECT_EQ(real->SetUserInterfaceInfo(vkr::Bstr(InstanceId()).Get(), 1, &info), S_OK) << "open under its id";

  VARIANT_BOOL ready = VARIANT_FALSE;
  ASSERT_EQ(control->PrepareToRelease(&ready), S_OK);
  EXPECT_EQ(ready, VARIANT_TRUE);
  EXPECT_EQ(real->SetUserInterfaceInfo(vkr::Bstr(InstanceId()).Get(), 1, &info), E_FAIL) << "no longer open";
  EXPECT_TRUE(journal.Has("job 22 bstr:" + vkr::Utf16ToUtf8(InstanceId()))) << "the frame hears the page closed";
  page->SetPageSite(nullptr);
  page->Deactivate();
  page = nullptr;
  control = nullptr;
  real->SetThread(nullptr);
}

// Every refusal of Init answers S_FALSE with a false result and leaves the page registered nowhere.
TEST_F(PropertyPage, EveryRefusedStartLeavesNothingRegistered) {
  struct Case {
    const char* what;
    std::function<void(FakeUiDtm&)> arrange;
    const char16_t* call;
    size_t finished;  // withdrawals expected
  };
  const Case cases[] = {
      // A container may keep a user interface whose start failed half-way: it is taken back.
      {"the container refuses", [](FakeUiDtm& d) { d.FailCall("StartFunction", E_FAIL); }, kFunctionCall, 1},
      {"the function call does not load", [](FakeUiDtm&) {}, u"<FDT><unclosed", 1},
      {"the user interface does not start",
       [](FakeUiDtm& d) { d.Withdraw(IovFdtParameterHandler4::iid); }, kFunctionCall, 1},
      {"no function call", [](FakeUiDtm&) {}, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dtm = FakeUiDtm::Create();
    c.arrange(*dtm.Get());
    Create();
    VARIANT_BOOL started = VARIANT_TRUE;
    vkr::Bstr call(c.call);
    EXPECT_EQ(control->Init(vkr::Bstr(u"TAG").Get(), c.call ? call.Get() : nullptr, Dtm(), &started), S_FALSE);
    EXPECT_EQ(started, VARIANT_FALSE);
    EXPECT_EQ(dtm->AttachedCount(), 0u);
    EXPECT_EQ(dtm->CountOf("FunctionFinished"), c.finished);
    VARIANT_BOOL ready = VARIANT_FALSE;
    EXPECT_EQ(control->PrepareToRelease(&ready), S_OK) << "a page never started is free to go";
    EXPECT_EQ(ready, VARIANT_TRUE);
    EXPECT_EQ(Impl()->Apply(), E_POINTER) << "not started: nothing to apply to";
    page->Deactivate();
    page = nullptr;
    control = nullptr;
    dtm->DetachAll();
  }
  dtm = FakeUiDtm::Create();
  Create();
  EXPECT_EQ(control->Init(nullptr, nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(PropertyPage, AReleaseTheDtmRefusesKeepsThePage) {
  Open();
  dtm->FailCall("FunctionFinished", E_FAIL, 1);
  VARIANT_BOOL ready = VARIANT_TRUE;
  EXPECT_EQ(control->PrepareToRelease(&ready), S_FALSE);
  EXPECT_EQ(ready, VARIANT_FALSE);
  EXPECT_EQ(control->PrepareToRelease(&ready), S_OK) << "the next try";
  EXPECT_EQ(ready, VARIANT_TRUE);
  EXPECT_EQ(dtm->AttachedCount(), 0u);
}

// The user edits two fields; the site hears the page get dirty; Apply writes both to the DTM and
// the page is clean again. An invalid entry stops Apply before anything is written.
TEST_F(PropertyPage, ApplyWritesEveryChangedEntryOrNothing) {
  Open();
  host.Recorder().statusChanges.clear();
  Type(kSettingsDampingEdit, "70");  // above the damping's 60
  Type(kSettingsTagEdit, "NEWTAG");
  vkr::ui::Click(host.Item(kSettingsPvUnitCombo));
  vkr::ui::PumpUntilIdle();
  const std::u16string dampingBefore = Stored(1022);
  const std::u16string tagBefore = Stored(1054);
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(host.StatusChanges(), (std::vector<DWORD>{PROPPAGESTATUS_DIRTY}));

  EXPECT_TRUE(FAILED(page->Apply()));
  EXPECT_EQ(Stored(1022), dampingBefore);
  EXPECT_EQ(Stored(1054), tagBefore);
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(GetFocus(), host.Item(kSettingsDampingEdit)) << "the invalid entry gets the focus";

  Type(kSettingsDampingEdit, "12.5");
  Type(kSettingsTagEdit, "NEWTAG");
  vkr::ui::Click(host.Item(kSettingsPvUnitCombo));
  vkr::ui::PumpUntilIdle();
  ASSERT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(Stored(1022), u"12.5");
  EXPECT_EQ(Stored(1054), u"NEWTAG");
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(host.StatusChanges().back(), PROPPAGESTATUS_CLEAN);
}

// The dirty answer by dialog type and flag, with and without a site (a page detached by its frame
// still takes SetDirty).
TEST_F(PropertyPage, DirtyStateByDialogTypeWithAndWithoutSite) {
  struct Case {
    ULONG dialogType;
    BOOL dirty;
    bool site;
    HRESULT answer;
  };
  const Case cases[] = {
      {2, TRUE, true, S_OK},    {2, FALSE, true, S_FALSE}, {4, TRUE, false, S_OK},
      {0xC, TRUE, true, S_FALSE}, {8, TRUE, false, S_FALSE},
  };
  Create();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.dialogType << " dirty " << c.dirty << " site " << c.site);
    page->SetPageSite(c.site ? host.Site() : nullptr);
    Impl()->SetDialogType(c.dialogType);
    Impl()->SetDirty(!c.dirty);
    Impl()->SetDirty(c.dirty);
    EXPECT_EQ(page->IsPageDirty(), c.answer);
  }
}

// The page information: the template's size in pixels, the class's texts, the translated title and
// help file where the translation file has them; a class it does not know keeps its own texts.
TEST_F(PropertyPage, PageInfoTranslatedWhereTheTranslationKnowsTheClass) {
  struct Case {
    const char* what;
    const CLSID* clsid;
    bool translated;
    const char16_t* title;
    const char16_t* helpFile;
  };
  const Case cases[] = {
      {"class not registered", &kTestRangePageClsid, true, u"Range", u"vkrtest.chm"},
      {"translated", &kTestSettingsPageClsid, true, u"Einstellungen", u"vkrtest_de.chm"},
      {"no entry for the class", &kTestRangePageClsid, true, u"Range", u"vkrtest.chm"},
      {"no translation", &kTestSettingsPageClsid, false, u"Settings", u"vkrtest.chm"},
  };
  const std::u16string key = u"localization/ActiveXList/ActiveX[@classname=\"" +
                             std::u16string(kTestSettingsPageUserType) + u"\"]";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dtm = FakeUiDtm::Create();
    if (std::string(c.what) == "class not registered") {
      // The look-up fails without the class's user type name; the page information stands.
      OLECHAR braced[40] = {};
      StringFromGUID2(*c.clsid, braced, 40);
      RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + vkr::Utf16ToUtf8(braced)).c_str());
    }
    if (c.translated) {
      dtm->SetTranslation(key + u"/Title", u"Einstellungen");
      dtm->SetTranslation(key + u"/HelpFile", u"vkrtest_de.chm");
    } else {
      dtm->Withdraw(IovFdtTranslation::iid);
    }
    Create(*c.clsid);
    VARIANT_BOOL started = VARIANT_FALSE;
    ASSERT_EQ(control->Init(vkr::Bstr(u"TAG").Get(), vkr::Bstr(kFunctionCall).Get(), Dtm(), &started), S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(info.cb, sizeof(PROPPAGEINFO));
    EXPECT_EQ(info.size.cx, *c.clsid == kTestSettingsPageClsid ? 330 : 300);
    EXPECT_EQ(info.size.cy, *c.clsid == kTestSettingsPageClsid ? 178 : 113);
    EXPECT_EQ(std::u16string(info.pszTitle), c.title);
    EXPECT_EQ(std::u16string(info.pszHelpFile), c.helpFile);
    EXPECT_EQ(std::u16string(info.pszDocString), u"A page of the tests");
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);
    CoTaskMemFree(info.pszDocString);
    VARIANT_BOOL ready = VARIANT_FALSE;
    control->PrepareToRelease(&ready);
    page->Deactivate();
    page = nullptr;
    control = nullptr;
    dtm->DetachAll();
  }
}

// Calls out of order or with bad arguments, as a frame might make them.
TEST_F(PropertyPage, CallsOutOfOrderAndBadArgumentsAreRefused) {
  ASSERT_EQ(CoCreateInstance(kTestSettingsPageClsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid,
                             page.PutVoid()),
            S_OK);
  RECT rect{0, 0, 100, 100};
  EXPECT_EQ(page->Move(&rect), E_UNEXPECTED) << "Move before Activate";
  EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED) << "Show before Activate";
  EXPECT_EQ(page->Activate(host.Hwnd(), nullptr, FALSE), E_POINTER);
  EXPECT_EQ(page->GetPageInfo(nullptr), E_POINTER);
  EXPECT_EQ(page->TranslateAccelerator(nullptr), E_POINTER);
  EXPECT_EQ(Impl()->GetInstanceId(nullptr), E_FAIL);
  EXPECT_EQ(Impl()->QueryPageFrame(nullptr), E_INVALIDARG);
  vkr::ComPtr<IPPFrameCtrl> frame;
  EXPECT_EQ(page->QueryInterface(IPPFrameCtrl::iid, frame.PutVoid()), E_NOINTERFACE) << "no owner";
  page->SetPageSite(host.Site());
  EXPECT_EQ(page->QueryInterface(IPPFrameCtrl::iid, frame.PutVoid()), E_NOINTERFACE) << "a site that is no frame";

  vkr::ComPtr<vkr::ComObject<FrameSite>> frameSite;
  ASSERT_EQ(vkr::MakeObject<FrameSite>(&frameSite), S_OK);
  page->SetPageSite(frameSite.Get());
  ASSERT_EQ(page->QueryInterface(IPPFrameCtrl::iid, frame.PutVoid()), S_OK);
  EXPECT_EQ(frame.Get(), static_cast<IPPFrameCtrl*>(frameSite.Get())) << "the frame that hosts the page";
  frame = nullptr;
  page->SetPageSite(nullptr);
}

// Keys as a person presses them, routed to the page as a frame routes them.
TEST_F(PropertyPage, KeyboardInsideThePage) {
  Open();
  HWND damping = host.Item(kSettingsDampingEdit);
  HWND tag = host.Item(kSettingsTagEdit);
  HWND check = host.Item(kSettingsAddressingCheck);
  HWND refresh = host.Item(kSettingsRefreshButton);

  // Tab from the frame enters the page at its first item.
  SetFocus(host.Hwnd());
  vkr::ui::PressKey(VK_TAB);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(GetFocus(), damping);

  vkr::ui::PressKey(VK_TAB);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(GetFocus(), tag);
  vkr::ui::PressKey(VK_TAB, vkr::ui::kShift);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(GetFocus(), damping);

  // Escape gives the field back what it showed when it got the focus.
  SetFocus(tag);
  vkr::ui::PumpUntilIdle();
  SendMessageA(tag, EM_SETSEL, 0, -1);
  vkr::ui::TypeText(tag, "XYZ");
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Text(tag), "XYZ");
  vkr::ui::PressKey(VK_ESCAPE);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(Text(tag), "LT-100");

  // Alt with a label's letter focuses the control after the label; with a check box's own
  // letter the check box itself is clicked, not the button after it.
  vkr::ui::PressKey('T', vkr::ui::kAlt);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(GetFocus(), tag);
  const LRESULT checked = SendMessageA(check, BM_GETCHECK, 0, 0);
  dtm->ClearCalls();
  vkr::ui::PressKey('M', vkr::ui::kAlt);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(GetFocus(), check);
  EXPECT_NE(SendMessageA(check, BM_GETCHECK, 0, 0), checked);
  EXPECT_EQ(dtm->CountOf("SetParameterValue", 1041), 0u) << "Refresh was not pressed";
  EXPECT_NE(GetFocus(), refresh);

  // A key the page does not take goes on to the site.
  host.Recorder().accelerators.clear();
  vkr::ui::PressKey(VK_F1);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(host.Recorder().accelerators, (std::vector<std::string>{"256 112"}));
  MSG f1{tag, WM_KEYDOWN, VK_F1, 0, 0, {0, 0}};
  EXPECT_EQ(page->TranslateAccelerator(&f1), S_FALSE) << "the site did not take it";
  host.Recorder().acceleratorAnswer = S_OK;
  EXPECT_EQ(page->TranslateAccelerator(&f1), S_OK) << "the site took it";
}

// The frame's request (WM_COMMAND 0x430) gives the focus back to the window the page last saw
// under the mouse; from then on a push button that gets the focus is the default button until it
// loses the focus again. The page stays a control parent whatever its extended style is set to.
TEST_F(PropertyPage, FocusRestoredDefaultButtonAndControlParent) {
  Open();
  HWND page = host.Page();
  HWND tag = host.Item(kSettingsTagEdit);
  HWND refresh = host.Item(kSettingsRefreshButton);
  auto kind = [](HWND button) { return GetWindowLongW(button, GWL_STYLE) & 0x0F; };

  SetFocus(refresh);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(kind(refresh), BS_PUSHBUTTON) << "not yet";
  SetFocus(tag);
  vkr::ui::MoveMouseOver(tag);
  SetFocus(host.Hwnd());
  vkr::ui::PumpUntilIdle();
  SendMessageW(page, WM_COMMAND, MAKEWPARAM(0, 0x430), 0);
  EXPECT_EQ(GetFocus(), tag);

  SetFocus(refresh);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(kind(refresh), BS_DEFPUSHBUTTON);
  SetFocus(tag);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(kind(refresh), BS_PUSHBUTTON);

  SetWindowLongW(page, GWL_EXSTYLE, 0);
  EXPECT_TRUE(GetWindowLongW(page, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
}

}  // namespace
