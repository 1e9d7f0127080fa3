// The OLE layer as the user interfaces use it: connection points, registered user types, the
// property page base on a page site, the composite control in the host window (in-place
// activation, extents, forwarded keys, ambient properties), hosted dialog items, and the
// outside-control stand-ins that pages create or host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/controls/OutsideControls.h"
#include "frame/controls/TestControl.h"
#include "platform/platform.h"
#include "tests/support/page_site_harness.h"
#include "tests/support/stub_dispatch.h"

namespace {

using vkr::ComPtr;
using vkr::frame::RecordedCalls;

// The frame thread's apartment with the outside controls registered, as in the frame host.
class OleHosting : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
    AtlAxWinInit();
  }
  void TearDown() override {
    vkr::ui::PumpUntilIdle();
    vkr::frame::RevokeOutsideControls();
    CoUninitialize();
  }

  template <class I>
  ComPtr<I> Create(REFCLSID clsid) {
    ComPtr<I> out;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, I::iid, out.PutVoid()), S_OK);
    return out;
  }
};

TEST(Himetric, ConvertsAt96DotsPerInch) {
  struct Row {
    LONG pixels;
    LONG himetric;
  } rows[] = {{0, 0}, {1, 26}, {96, 2540}, {300, 7938}, {675, 17859}, {-96, -2540}};
  for (const Row& row : rows) {
    EXPECT_EQ(vkr::PixelsToHimetric(row.pixels), row.himetric) << row.pixels;
    EXPECT_EQ(vkr::HimetricToPixels(row.himetric), row.pixels) << row.himetric;
  }
}

// ---- Connection points, on the display control's events ------------------------------------

class DisplaySink : public vkr::Implements<IovFdtParamGroupDisplayEvent> {
 public:
  VKR_TEST_DISPATCH
  std::vector<std::string> seen;
  IConnectionPoint* point = nullptr;  // unadvises itself from inside its first event when set
  DWORD cookie = 0;
  HRESULT OnParamGroupDisplayEvent(LONG controlId, LONG kind, VARIANT data, VARIANT) override {
    seen.push_back(std::to_string(controlId) + " " + std::to_string(kind) + " " + std::to_string(data.vt));
    if (point) std::exchange(point, nullptr)->Unadvise(cookie);
    return S_OK;
  }
};

TEST_F(OleHosting, ConnectionPointsAdviseAndUnadviseByCookieAlsoFromInsideAnEvent) {
  ComPtr<IParamGroupDisplay> display = Create<IParamGroupDisplay>(CLSID_ParamGroupDisplay);
  ComPtr<vkr::ComObject<DisplaySink>> first, second;
  ASSERT_EQ(vkr::MakeObject<DisplaySink>(&first), S_OK);
  ASSERT_EQ(vkr::MakeObject<DisplaySink>(&second), S_OK);
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(display->QueryInterface(IConnectionPointContainer::iid, container.PutVoid()), S_OK);
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IPropertyPage::iid, point.Put()), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container->FindConnectionPoint(IovFdtParamGroupDisplayEvent::iid, point.Put()), S_OK);

  DWORD a = 0, b = 0;
  ASSERT_EQ(AtlAdvise(display.Get(), static_cast<IovFdtParamGroupDisplayEvent*>(first.Get()),
                      IovFdtParamGroupDisplayEvent::iid, &a),
            S_OK);
  ASSERT_EQ(point->Advise(static_cast<IovFdtParamGroupDisplayEvent*>(second.Get()), &b), S_OK);
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  // An object without the event interface cannot connect.
  ComPtr<vkr::ComObject<vkr::test::RecordingPageSite>> stranger;
  ASSERT_EQ(vkr::MakeObject<vkr::test::RecordingPageSite>(&stranger), S_OK);
  DWORD c = 7;
  EXPECT_EQ(point->Advise(static_cast<IPropertyPageSite*>(stranger.Get()), &c), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(c, 0u);

  first->point = point.Get();
  first->cookie = a;
  const VARIANT id = vkr::UI4(1025), none = vkr::EmptyVariant();
  ASSERT_EQ(vkr::frame::FireParamGroupDisplayEvent(display.Get(), 358, 3, id, none), S_OK);
  ASSERT_EQ(vkr::frame::FireParamGroupDisplayEvent(display.Get(), 358, 2, id, none), S_OK);
  EXPECT_EQ(first->seen, (std::vector<std::string>{"358 3 19"})) << "unadvised inside its first event";
  EXPECT_EQ(second->seen, (std::vector<std::string>{"358 3 19", "358 2 19"}));
  EXPECT_EQ(point->Unadvise(a), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(AtlUnadvise(display.Get(), IovFdtParamGroupDisplayEvent::iid, b), S_OK);
  EXPECT_EQ(first->RefCount(), 1);
  EXPECT_EQ(second->RefCount(), 1);
}

// ---- Registered user types -----------------------------------------------------------------

TEST_F(OleHosting, UserTypesComeFromTheClassKey) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{A528CBBD-6046-4D46-B15C-32C0F840FF97}", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string full = u"HartPP Ctrl";
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(full.c_str()),
                 static_cast<DWORD>((full.size() + 1) * 2));
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{A528CBBD-6046-4D46-B15C-32C0F840FF97}\\AuxUserType\\2", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::u16string shortName = u"HartPP";
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(shortName.c_str()),
                 static_cast<DWORD>((shortName.size() + 1) * 2));
  RegCloseKey(key);
  const CLSID hart = vkr::MakeGuid("A528CBBD-6046-4D46-B15C-32C0F840FF97");
  const CLSID nobody = vkr::MakeGuid("00000000-1111-2222-3333-444444444444");

  struct Row {
    const CLSID* clsid;
    DWORD form;
    HRESULT hr;
    const char16_t* text;
  } rows[] = {
      {&hart, USERCLASSTYPE_FULL, S_OK, u"HartPP Ctrl"},
      {&hart, USERCLASSTYPE_SHORT, S_OK, u"HartPP"},
      {&hart, USERCLASSTYPE_APPNAME, S_OK, u"HartPP Ctrl"},  // no AuxUserType\3: the full name
      {&CLSID_ChartControl, USERCLASSTYPE_FULL, S_OK, u"Chart Control"},
      {&nobody, USERCLASSTYPE_FULL, REGDB_E_CLASSNOTREG, nullptr},
  };
  for (const Row& row : rows) {
    LPOLESTR text = nullptr;
    EXPECT_EQ(OleRegGetUserType(*row.clsid, row.form, &text), row.hr);
    if (row.text) {
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(std::u16string(text), row.text);
    } else {
      EXPECT_EQ(text, nullptr);
    }
    CoTaskMemFree(text);
  }
}

// ---- Property pages ------------------------------------------------------------------------

class TestPage : public vkr::atl::PropertyPage<TestPage, ISpecifyPropertyPages> {
 public:
  static constexpr UINT IDD = 7;
  static constexpr UINT IDS_TITLE = 1;
  static constexpr UINT IDS_DOCSTRING = 2;
  static constexpr UINT IDS_HELPFILE = 3;
  SIZE created{};

  const char* TemplateText() const override {
    return "7 DIALOGEX 0, 0, 200, 120\n"
           "STYLE DS_CONTROL | WS_CHILD | NOT WS_VISIBLE\n"
           "FONT 8, \"MS Sans Serif\"\n"
           "BEGIN\n"
           "  LTEXT \"Value\", 10, 4, 4, 40, 8\n"
           "END\n";
  }
  bool PageString(UINT id, std::u16string* text) override {
    static const char16_t* const texts[] = {nullptr, u"Values", u"Your Help String", u"VornExampleDtm.chm"};
    if (id >= 4) return false;
    *text = texts[id];
    return true;
  }
  void OnWindowCreated() override {
    RECT r{};
    ::GetClientRect(m_hWnd, &r);
    created = {r.right - r.left, r.bottom - r.top};
  }
  HRESULT GetPages(CAUUID* pages) override {
    const CLSID ids[] = {CLSID_ChartControl, CLSID_StatusDisplay};
    return vkr::MakeCAUUID(ids, 2, pages);
  }
};

TEST_F(OleHosting, PageActivatesAtTheTemplatesSizeAndReportsDirtyToItsSite) {
  vkr::test::PageSiteHarness host(700, 500);
  ComPtr<vkr::ComObject<TestPage>> page;
  ASSERT_EQ(vkr::MakeObject<TestPage>(&page), S_OK);
  const RECT at{20, 10, 320, 205};
  EXPECT_EQ(page->Move(&at), E_UNEXPECTED) << "no window before Activate";
  EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
  EXPECT_EQ(page->Activate(host.Hwnd(), nullptr, FALSE), E_POINTER);

  ASSERT_EQ(page->SetPageSite(host.Site()), S_OK);
  ASSERT_EQ(page->Activate(host.Hwnd(), &at, FALSE), S_OK);
  EXPECT_EQ(page->created.cx, 300) << "200 dialog units";
  EXPECT_EQ(page->created.cy, 195) << "120 dialog units";
  ASSERT_EQ(host.Page(), page->m_hWnd);
  RECT r{};
  GetWindowRect(page->m_hWnd, &r);
  MapWindowPoints(nullptr, host.Hwnd(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.top, 10);
  EXPECT_EQ(r.right, 320);
  EXPECT_EQ(r.bottom, 205);
  EXPECT_FALSE(IsWindowVisible(page->m_hWnd)) << "showing is left to Show";
  EXPECT_EQ(page->Show(SW_SHOW), S_OK);
  EXPECT_TRUE(IsWindowVisible(page->m_hWnd));
  EXPECT_NE(host.Item(10), nullptr);

  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  page->SetDirty(TRUE);
  page->SetDirty(TRUE);
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(host.StatusChanges(), (std::vector<DWORD>{PROPPAGESTATUS_DIRTY, PROPPAGESTATUS_CLEAN}));

  HWND window = page->m_hWnd;
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(page->Move(&at), E_UNEXPECTED);
}

TEST_F(OleHosting, PageInformationAndPageListsAreTaskMemoryTheCallerFrees) {
  ComPtr<vkr::ComObject<TestPage>> page;
  ASSERT_EQ(vkr::MakeObject<TestPage>(&page), S_OK);
  EXPECT_EQ(page->GetPageInfo(nullptr), E_POINTER);
  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(info.cb, sizeof(PROPPAGEINFO));
  EXPECT_EQ(info.size.cx, 300);
  EXPECT_EQ(info.size.cy, 195);
  ASSERT_NE(info.pszTitle, nullptr);
  EXPECT_EQ(std::u16string(info.pszTitle), u"Values");
  EXPECT_EQ(std::u16string(info.pszDocString), u"Your Help String");
  EXPECT_EQ(std::u16string(info.pszHelpFile), u"VornExampleDtm.chm");
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);

  ComPtr<ISpecifyPropertyPages> specify;
  ASSERT_EQ(page->QueryInterface(ISpecifyPropertyPages::iid, specify.PutVoid()), S_OK);
  CAUUID pages{};
  ASSERT_EQ(specify->GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 2u);
  EXPECT_TRUE(pages.pElems[0] == CLSID_ChartControl);
  EXPECT_TRUE(pages.pElems[1] == CLSID_StatusDisplay);
  CoTaskMemFree(pages.pElems);
  // A failed copy leaves nothing to free.
  vkr::platform::SetAllocationFault(1);
  EXPECT_EQ(specify->GetPages(&pages), E_OUTOFMEMORY);
  vkr::platform::SetAllocationFault(0);
  EXPECT_EQ(pages.cElems, 0u);
  EXPECT_EQ(pages.pElems, nullptr);

  // The objects are held until the next SetObjects.
  ComPtr<vkr::ComObject<TestPage>> object;
  ASSERT_EQ(vkr::MakeObject<TestPage>(&object), S_OK);
  IUnknown* objects[] = {static_cast<IPropertyPage*>(object.Get())};
  EXPECT_EQ(page->SetObjects(1, nullptr), E_POINTER);
  ASSERT_EQ(page->SetObjects(1, objects), S_OK);
  EXPECT_EQ(object->RefCount(), 2);
  ASSERT_EQ(page->SetObjects(0, nullptr), S_OK);
  EXPECT_EQ(object->RefCount(), 1);
}

// ---- The composite control in its host window ----------------------------------------------

TEST_F(OleHosting, ControlActivatesInPlaceInItsHostWithExtentsInHimetric) {
  vkr::test::PageSiteHarness parent(600, 400);
  // Before activation the extent is the template's: 200 x 80 dialog units, 300 x 130 pixels.
  ComPtr<IOleObject> loose = Create<IOleObject>(vkr::frame::CLSID_FrameTestControl);
  SIZEL extent{};
  ASSERT_EQ(loose->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_EQ(extent.cx, vkr::PixelsToHimetric(300));
  EXPECT_EQ(extent.cy, vkr::PixelsToHimetric(130));
  EXPECT_EQ(loose->GetExtent(DVASPECT_ICON, &extent), E_FAIL);
  DWORD misc = 0;
  ASSERT_EQ(loose->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
  EXPECT_EQ(misc, 0x20191u);

  const RECT at{10, 20, 410, 220};
  HWND host = nullptr;
  ComPtr<IUnknown> control;
  ASSERT_EQ(vkr::atl::CreateHostedControl(parent.Hwnd(), vkr::frame::CLSID_FrameTestControl, 5, WS_VISIBLE, &at, {},
                                          &host, control.Put()),
            S_OK);
  vkr::frame::FrameTestControl* test = vkr::frame::AsFrameTestControl(control.Get());
  ASSERT_NE(test, nullptr);
  EXPECT_EQ(vkr::atl::HostRecord(host), (std::vector<std::string>{"OnInPlaceActivate"}));
  EXPECT_EQ(RecordedCalls(control.Get()), (std::vector<std::string>{"InitNew"}));
  ASSERT_NE(test->m_hWnd, nullptr);
  EXPECT_EQ(GetParent(test->m_hWnd), host);
  EXPECT_TRUE(IsWindowVisible(test->m_hWnd));
  RECT client{};
  GetClientRect(test->m_hWnd, &client);
  EXPECT_EQ(client.right, 400);
  EXPECT_EQ(client.bottom, 200);
  ComPtr<IOleObject> ole;
  ASSERT_EQ(control->QueryInterface(IOleObject::iid, ole.PutVoid()), S_OK);
  ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_EQ(extent.cx, vkr::PixelsToHimetric(400));
  EXPECT_EQ(extent.cy, vkr::PixelsToHimetric(200));
  // A new size for the host moves the control and gives it the extent.
  MoveWindow(host, 10, 20, 200, 100, TRUE);
  GetClientRect(test->m_hWnd, &client);
  EXPECT_EQ(client.right, 200);
  ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_EQ(extent.cy, vkr::PixelsToHimetric(100));

  // The control is reached through its dialog item, and the host through its window.
  ComPtr<IDtmActiveXControl> byItem;
  ASSERT_EQ(GetDlgControl(parent.Hwnd(), 5, IDtmActiveXControl::iid, byItem.PutVoid()), S_OK);
  EXPECT_TRUE(control.IsSameObject(byItem.Get()));
  ComPtr<IUnknown> none;
  EXPECT_EQ(GetDlgControl(parent.Hwnd(), 6, IID_IUnknown, none.PutVoid()), E_FAIL);
  ComPtr<IUnknown> site;
  ASSERT_EQ(AtlAxGetHost(host, site.Put()), S_OK);
  ComPtr<IOleClientSite> clientSite;
  ASSERT_EQ(ole->GetClientSite(clientSite.Put()), S_OK);
  EXPECT_TRUE(site.IsSameObject(clientSite.Get()));

  // Ambient properties: the site's, and changed ones reach the control.
  EXPECT_TRUE(test->AmbientUserMode());
  vkr::atl::HostSettings settings;
  settings.userMode = false;
  settings.backColor = RGB(10, 20, 30);
  ASSERT_TRUE(vkr::atl::SetHostSettings(host, settings));
  EXPECT_FALSE(test->AmbientUserMode());
  EXPECT_EQ(test->m_clrBackground, RGB(10, 20, 30));

  // Destroying the host deactivates the control and lets it go.
  HWND inner = test->m_hWnd;
  DestroyWindow(host);
  EXPECT_FALSE(IsWindow(inner));
  EXPECT_EQ(test->m_hWnd, nullptr);
  EXPECT_FALSE(test->m_bInPlaceActive);
  EXPECT_EQ(ole->GetClientSite(clientSite.Put()), S_OK);
  EXPECT_EQ(clientSite.Get(), nullptr);
}

TEST_F(OleHosting, ForwardedKeysReachTheControlsAcceleratorsThroughTheHost) {
  vkr::test::PageSiteHarness parent(600, 400);
  HWND host = nullptr;
  ComPtr<IUnknown> control;
  const RECT at{0, 0, 300, 130};
  ASSERT_EQ(vkr::atl::CreateHostedControl(parent.Hwnd(), vkr::frame::CLSID_FrameTestControl, 5, WS_VISIBLE, &at, {},
                                          &host, control.Put()),
            S_OK);
  vkr::frame::FrameTestControl* test = vkr::frame::AsFrameTestControl(control.Get());
  HWND edit = GetDlgItem(test->m_hWnd, 100);
  ASSERT_NE(edit, nullptr);
  SetFocus(edit);
  // Tab inside the control: its dialog manager takes it (1); a key for a window outside: 0.
  MSG tab{edit, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
  EXPECT_EQ(SendMessageW(host, WM_FORWARDMSG, 0, reinterpret_cast<LPARAM>(&tab)), 1);
  EXPECT_EQ(GetFocus(), GetDlgItem(test->m_hWnd, 101));
  MSG outside{parent.Hwnd(), WM_KEYDOWN, 'A', 0, 0, {0, 0}};
  EXPECT_EQ(SendMessageW(host, WM_FORWARDMSG, 0, reinterpret_cast<LPARAM>(&outside)), 0);
  EXPECT_EQ(SendMessageW(host, WM_FORWARDMSG, 0, 0), 0);
  // The key the control did not take went back to its site, with the modifiers held; a site that
  // takes it makes the forward succeed.
  EXPECT_EQ(vkr::atl::HostRecord(host).back(), "TranslateAccelerator 256 65 mods 0");
  vkr::atl::HostSettings settings;
  settings.onAccelerator = [](MSG* msg, DWORD) { return msg->wParam == 'B' ? S_OK : S_FALSE; };
  ASSERT_TRUE(vkr::atl::SetHostSettings(host, settings));
  MSG taken{parent.Hwnd(), WM_KEYDOWN, 'B', 0, 0, {0, 0}};
  EXPECT_EQ(SendMessageW(host, WM_FORWARDMSG, 0, reinterpret_cast<LPARAM>(&taken)), 1);
  EXPECT_EQ(RecordedCalls(control.Get()),
            (std::vector<std::string>{"InitNew", "TranslateAccelerator 256 9", "TranslateAccelerator 256 65",
                                      "TranslateAccelerator 256 66"}));
}

// ---- Hosted dialog items -------------------------------------------------------------------

INT_PTR PlainDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_F(OleHosting, DialogItemsByClassAreHostedWithTheirInitialisationBytesAndFailuresRecorded) {
  vkr::test::PageSiteHarness parent(600, 400);
  static const char kTemplate[] =
      "9 DIALOGEX 0, 0, 200, 100\n"
      "STYLE DS_CONTROL | WS_CHILD\n"
      "BEGIN\n"
      "  CONTROL \"\", 218, \"VornDlgObjects.StatusDisplay\", WS_TABSTOP, 0, 80, 200, 20, 0, "
      "\"10000000 0a000000 00000000 00000000\"\n"
      "  CONTROL \"\", 217, \"{A3E1C7D0-5B42-4E8A-9C61-2F7D0B9E4A84}\", 0, 0, 0, 200, 20\n"
      "  CONTROL \"\", 403, \"Nobody.NoSuchChart\", 0, 0, 20, 100, 50\n"
      "  CONTROL \"\", 404, \"VornDlgObjects.StatusDisplay\", 0, 100, 20, 100, 50, 0, \"0102\"\n"
      "END\n";
  HWND dialog = CreateDialogIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(kTemplate), parent.Hwnd(),
                                           &PlainDialog, 0);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(vkr::ui::ClassName(GetDlgItem(dialog, 218)), "AtlAxWin");
  ComPtr<IHostedControlNotify> status;
  ASSERT_EQ(GetDlgControl(dialog, 218, IHostedControlNotify::iid, status.PutVoid()), S_OK);
  EXPECT_EQ(RecordedCalls(status.Get()), (std::vector<std::string>{"Load 16 10"}));
  ComPtr<IHostedValueControl> header;
  ASSERT_EQ(GetDlgControl(dialog, 217, IHostedValueControl::iid, header.PutVoid()), S_OK);
  ASSERT_EQ(header->SetValue(990, vkr::UI4(7)), S_OK);
  vkr::Variant value;
  ASSERT_EQ(vkr::frame::GetHeaderDisplayValue(header.Get(), 990, value.Put()), S_OK);
  EXPECT_EQ(value.vt, VT_UI4);
  EXPECT_EQ(GetDlgItem(dialog, 403), nullptr);
  EXPECT_EQ(GetDlgItem(dialog, 404), nullptr) << "its two bytes are no extent";
  const std::vector<vkr::ui::HostedItemFailure> failures = vkr::ui::GetHostedItemFailures(dialog);
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].id, 403);
  EXPECT_EQ(failures[0].result, REGDB_E_CLASSNOTREG);
  EXPECT_EQ(failures[1].id, 404);
  EXPECT_TRUE(FAILED(failures[1].result));
  DestroyWindow(dialog);
}

// ---- The stand-ins ---------------------------------------------------------------------------

TEST_F(OleHosting, StandInsAnswerWhatThePagesAskAndRecordTheirCalls) {
  ComPtr<IParamGroupDisplay> display = Create<IParamGroupDisplay>(CLSID_ParamGroupDisplay);
  struct Row {
    BYTE code;
    bool unit;
    const char16_t* text;
  } rows[] = {{45, true, u"Metres (m)"}, {44, true, u"Feet (ft)"},      {57, true, u"Percent (%)"},
              {200, true, nullptr},      {1, false, u"Square root"}, {99, false, nullptr}};
  for (const Row& row : rows) {
    vkr::Bstr text;
    const HRESULT hr = row.unit ? display->GetUnitText(row.code, text.Put())
                                : display->GetTransferFunctionText(row.code, text.Put());
    EXPECT_EQ(hr, row.text ? S_OK : S_FALSE) << int(row.code);
    EXPECT_EQ(text.Str(), row.text ? row.text : u"") << int(row.code);
  }
  LONG bound = -1;
  display->SetParameterState(1025, 2);
  display->ReleaseBinding(&bound);
  EXPECT_EQ(RecordedCalls(display.Get()),
            (std::vector<std::string>{"GetUnitText 45", "GetUnitText 44", "GetUnitText 57", "GetUnitText 200",
                                      "GetTransferFunctionText 1", "GetTransferFunctionText 99",
                                      "SetParameterState 1025 2", "ReleaseBinding"}));

  ComPtr<IChartControl> chart = Create<IChartControl>(CLSID_ChartControl);
  chart->SetSamplingInterval(2000);
  for (LONG pen = 1; pen <= 5; ++pen) chart->ShowPen(pen, VARIANT_FALSE);
  chart->ShowPen(1, VARIANT_TRUE);
  chart->ShowPen(5, VARIANT_TRUE);
  chart->Reset();
  chart->Start();
  chart->AddSample(1, 2.5);
  chart->AddSample(5, 12.0);
  EXPECT_EQ(chart->AddSample(6, 1.0), E_INVALIDARG);
  chart->SetPenRange(1, 0.0, 20.0);
  chart->Refresh();
  vkr::frame::ChartState state;
  ASSERT_TRUE(vkr::frame::GetChartState(chart.Get(), &state));
  EXPECT_EQ(state.interval, 2000);
  EXPECT_TRUE(state.running);
  EXPECT_TRUE(state.visible[0]);
  EXPECT_FALSE(state.visible[1]);
  EXPECT_TRUE(state.visible[4]);
  EXPECT_EQ(state.samples[0], (std::vector<double>{2.5}));
  EXPECT_EQ(state.samples[4], (std::vector<double>{12.0}));
  EXPECT_EQ(state.maximum[0], 20.0);
  EXPECT_EQ(state.refreshes, 1);
  EXPECT_EQ(RecordedCalls(chart.Get()).back(), "Refresh");

  ComPtr<IHostedControlNotify> status = Create<IHostedControlNotify>(CLSID_StatusDisplay);
  VARIANT_BOOL done = VARIANT_FALSE;
  status->NotifyStatus(3, 1);
  status->SetOption1(0x100);
  status->SetOption2(0);
  status->SetOption3(0x400);
  status->SetTranslation(display.Get(), &done);
  EXPECT_TRUE(done);
  EXPECT_EQ(RecordedCalls(status.Get()), (std::vector<std::string>{"NotifyStatus 3 1", "SetOption1 0x100",
                                                                   "SetOption2 0x0", "SetOption3 0x400",
                                                                   "SetTranslation"}));
}

// The mediator filters the host loop: key messages and timers aimed inside the window it watches
// go to its sinks first; an answer of S_OK consumes the message.
class MediatorSink : public vkr::Implements<_IMessageMediatorEvents> {
 public:
  VKR_TEST_DISPATCH
  std::vector<std::string> seen;
  HRESULT OnMessageMediatorEvent(MSG* msg) override {
    seen.push_back(std::to_string(msg->message) + " " + std::to_string(msg->wParam));
    return msg->wParam == VK_F1 + 4 ? S_OK : S_FALSE;
  }
};

std::vector<std::string> g_received;
LRESULT RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN || message == WM_TIMER) g_received.push_back(std::to_string(message) + " " + std::to_string(wParam));
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST_F(OleHosting, MediatorRoutesKeysAndTimersInsideItsWindowBeforeTheLoopHandlesThem) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &RecordingProc;
  wc.lpszClassName = u"VkrMediatorTestWindow";
  RegisterClassExW(&wc);
  HWND frame = CreateWindowExW(0, u"VkrMediatorTestWindow", u"", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, nullptr, nullptr);
  HWND inside = CreateWindowExW(0, u"VkrMediatorTestWindow", u"", WS_CHILD | WS_VISIBLE, 0, 0, 50, 20, frame,
                                nullptr, nullptr, nullptr);
  HWND elsewhere = CreateWindowExW(0, u"VkrMediatorTestWindow", u"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 20, nullptr,
                                   nullptr, nullptr, nullptr);
  ComPtr<IMessageMediator> mediator = Create<IMessageMediator>(CLSID_MessageMediator);
  ComPtr<vkr::ComObject<MediatorSink>> sink;
  ASSERT_EQ(vkr::MakeObject<MediatorSink>(&sink), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(AtlAdvise(mediator.Get(), static_cast<_IMessageMediatorEvents*>(sink.Get()),
                      _IMessageMediatorEvents::iid, &cookie),
            S_OK);
  ASSERT_EQ(mediator->Start(frame), S_OK);
  g_received.clear();
  PostMessageW(inside, WM_KEYDOWN, VK_F1 + 4, 0);     // consumed
  PostMessageW(inside, WM_KEYDOWN, 'A', 0);       // passed on
  PostMessageW(inside, WM_TIMER, 3, 0);           // passed on
  PostMessageW(elsewhere, WM_KEYDOWN, VK_F1 + 4, 0);  // not the mediator's
  PostMessageW(inside, WM_SETTEXT, 0, 0);         // no key
  vkr::ui::PumpUntilIdle();
  // The character the loop made of 'A' is a key message too.
  EXPECT_EQ(sink->seen, (std::vector<std::string>{"256 116", "256 65", "275 3", "258 97"}));
  EXPECT_EQ(g_received, (std::vector<std::string>{"256 65", "275 3", "256 116"}));

  ASSERT_EQ(mediator->Stop(), S_OK);
  PostMessageW(inside, WM_KEYDOWN, VK_F1 + 4, 0);
  vkr::ui::PumpUntilIdle();
  EXPECT_EQ(sink->seen.size(), 4u) << "stopped";
  EXPECT_EQ(AtlUnadvise(mediator.Get(), _IMessageMediatorEvents::iid, cookie), S_OK);
  EXPECT_EQ(RecordedCalls(mediator.Get()).front().rfind("Start", 0), 0u);
  DestroyWindow(elsewhere);
  DestroyWindow(frame);
}

}  // namespace
