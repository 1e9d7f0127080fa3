// A user interface translated from the real DTM's translation file: the dialog's texts, its
// tooltips (parameter descriptions, control tooltips, a combo box's edit field), the combo box's
// entries, a bitmap by language, the page title and help file, and a hosted control that
// translates itself, switched between English and German by the frame's language call at run time
// and back, then torn down without leaving a tooltip window or a bitmap behind. And what the
// dialog keeps when the translation cannot serve it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "frame/ActiveXHost.h"
#include "frame/FrameContainer.h"
#include "tests/support/headless_dtm.h"
#include "tests/support/page_site_harness.h"
#include "tests/support/source_tree.h"
#include "tests/support/stub_dispatch.h"
#include "tests/support/temp_files.h"
#include "tests/support/test_control.h"
#include "tests/support/test_property_page.h"
#include "tests/support/test_user_interface.h"
#include "ui/framework/ActiveXTranslation.h"
#include "xml/Translation.h"

namespace {

using namespace vkr::test;

constexpr char kUserTypeName[] = "TestUserInterface Ctrl";
const CLSID kRecorderClassId = vkr::MakeGuid("7A1F0C52-3E9B-4D61-8F20-5B6C7D8E9F77");

enum : UINT {
  kDampingLabel = 400, kDampingEdit = 300, kTypeLabel = 401, kTypeCombo = 305, kDistanceLabel = 402,
  kDistanceEdit = 312, kAddressingCheck = 307, kLogo = 600, kHosted = 601, kRefreshButton = 313, kApplyButton = 102,
};

constexpr char kTemplate[] = R"(9100 DIALOGEX 0, 0, 320, 120
STYLE DS_CONTROL | WS_CHILD | WS_VISIBLE
EXSTYLE WS_EX_CONTROLPARENT
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "Damping", 400, 5, 7, 70, 8
  EDITTEXT 300, 80, 5, 70, 12, ES_AUTOHSCROLL
  LTEXT "Device type", 401, 5, 22, 70, 8
  CONTROL "", 305, "ComboBox", CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, 80, 20, 200, 60
  LTEXT "Distance", 402, 5, 37, 70, 8
  EDITTEXT 312, 80, 35, 70, 12, ES_AUTOHSCROLL
  AUTOCHECKBOX "Addressing", 307, 80, 55, 80, 10
  CONTROL "", 600, "Static", SS_BITMAP, 250, 5, 40, 20
  CONTROL "", 601, "{7A1F0C52-3E9B-4D61-8F20-5B6C7D8E9F77}", WS_TABSTOP, 250, 40, 40, 20
  PUSHBUTTON "Refresh", 313, 80, 80, 50, 14
  PUSHBUTTON "Apply", 102, 140, 80, 50, 14
END
)";

// The damping and the device type are parameters of the device; 2002 is none.
CActXParInfo* TranslatedMap(int* count, BOOL copy) {
  static CActXParInfo table[] = {
      CActXParInfo(1022, "Damping Value", kDampingEdit, "%.2f", 0x71, FALSE, 0),
      CActXParInfo(991, "Device type", kTypeCombo, "", 0x71, FALSE, 4),
      CActXParInfo(2002, "Distance", kDistanceEdit, "%.1f", 0x71, FALSE, 0),
      CActXParInfo(),
  };
  if (!copy) {
    if (count) *count = CountParameterEntries(table);
    return table;
  }
  return CopyParameterTable(table, count);
}

// The bitmap comes before controls it must not stop.
constexpr ControlNameEntry kControlNames[] = {
    {kDampingLabel, "IDC_STATIC_DAMPING"}, {kLogo, "IDC_STATIC_LOGO"},        {kAddressingCheck, "IDC_CHECK_ADDRESSING"},
    {kRefreshButton, "IDC_BUTTON_REFRESH"}, {kHosted, "IDC_HOSTED_DISPLAY"}, {kApplyButton, "IDC_BUTTON_APPLY"},
    {0, nullptr}};

// The test class's element and the texts of its parameters, added to the shipped file as a
// device class's element would be. The damping label has a name node too, which the resId node
// beats; the check box is found by its name; the hosted display's node is never read.
constexpr char kClassElement[] = R"(<ActiveXList>
    <ActiveX classname="TestUserInterface Ctrl">
      <Title><locale code="en-us">Test page</locale><locale code="de-de">Testseite</locale></Title>
      <HelpFile><locale code="en-us">test_en.chm</locale><locale code="de-de">test_de.chm</locale></HelpFile>
      <Control resId="400"><Text><locale code="en-us">Damping time</locale><locale code="de-de">Dämpfungszeit</locale></Text>
        <Tooltip><locale code="en-us">How fast the output follows</locale><locale code="de-de">Wie schnell der Ausgang folgt</locale></Tooltip></Control>
      <Control name="IDC_STATIC_DAMPING"><Text><locale code="en-us">by name</locale><locale code="de-de">nach Name</locale></Text></Control>
      <Control name="IDC_CHECK_ADDRESSING"><Text><locale code="en-us">Multidrop</locale><locale code="de-de">Mehrpunktbetrieb</locale></Text></Control>
      <Control resId="600"><Text><locale code="en-us">HeaderLogo.bmp</locale><locale code="de-de">LampRed.bmp</locale></Text>
        <Tooltip><locale code="en-us">Logo</locale><locale code="de-de">Zeichen</locale></Tooltip></Control>
      <Control resId="313"><Text><locale code="en-us">Refresh</locale><locale code="de-de">Aktualisieren</locale></Text></Control>
      <Control resId="601"><Text><locale code="en-us">never</locale><locale code="de-de">nie</locale></Text></Control>
      <Control resId="102"><Text><locale code="en-us">Apply</locale><locale code="de-de">Übernehmen</locale></Text></Control>
    </ActiveX>
    <ActiveX classname="TestSettingsPage Class">
      <Title><locale code="en-us">Settings</locale><locale code="de-de">Einstellungen</locale></Title>
      <HelpFile><locale code="en-us">settings_en.chm</locale><locale code="de-de">settings_de.chm</locale></HelpFile>
      <Control resId="600"><Text><locale code="en-us">&amp;Damping time</locale><locale code="de-de">&amp;Dämpfungszeit</locale></Text></Control>
      <Control name="IDC_CHECK_ADDRESSING"><Text><locale code="en-us">&amp;Multidrop</locale><locale code="de-de">&amp;Mehrpunktbetrieb</locale></Text></Control>
      <Control resId="606"><Text><locale code="en-us">&amp;Refresh</locale><locale code="de-de">&amp;Aktualisieren</locale></Text></Control>
    </ActiveX>
    <ActiveX classname="TestControl Ctrl">
      <Control resId="400"><Text><locale code="en-us">Damping time</locale><locale code="de-de">Dämpfungszeit</locale></Text></Control>
      <Control resId="2"><Text><locale code="en-us">Cancel</locale><locale code="de-de">Abbrechen</locale></Text></Control>
      <Control resId="102"><Text><locale code="en-us">Apply</locale><locale code="de-de">Übernehmen</locale></Text></Control>
    </ActiveX>
  </ActiveXList>)";
constexpr char kDampingDescription[] =
    R"(<Description><locale code="en-us">Damping of the measured value</locale><locale code="de-de">Dämpfung des Messwerts</locale></Description>)";
constexpr char kDeviceTypeDescription[] =
    R"(<Description><locale code="en-us">Kind of transmitter</locale><locale code="de-de">Art des Messumformers</locale></Description>)";

void Replace(std::string& text, const std::string& what, const std::string& with) {
  const auto at = text.find(what);
  ASSERT_NE(at, std::string::npos) << what;
  text.replace(at, what.size(), with);
}

std::string ShippedFile() {
  std::ifstream in(SourceTree() / "resources" / "VornExampleDtmTranslation.xml", std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// The hosted display control: it translates itself and says which languages it was given.
std::vector<ULONG>& HostedLanguages() {
  static std::vector<ULONG> languages;
  return languages;
}
class TranslatingDisplay : public vkr::Implements<IovFdtTranslationEvent> {
 public:
  VKR_TEST_DISPATCH
  HRESULT OnTranslate(ULONG lcid) override {
    HostedLanguages().push_back(lcid);
    return S_OK;
  }
};

// The tests' control with its translation, made where the frame asks for the test control.
constexpr ControlNameEntry kControlControlNames[] = {
    {kDampingLabel, "IDC_STATIC_DAMPING"}, {IDCANCEL, "IDCANCEL"}, {kApplyButton, "IDC_BUTTON_APPLY"}, {0, nullptr}};
class TranslatedControl : public CovFDT_Translated<CTestControl> {
 public:
  TranslatedControl() : CovFDT_Translated(kControlControlNames) {}
};

// The tests' Settings page with its translation, made where the frame asks for that page.
constexpr ControlNameEntry kPageControlNames[] = {{static_cast<LONG>(kSettingsDampingLabel), "IDC_STATIC_DAMPING"},
                                                  {static_cast<LONG>(kSettingsAddressingCheck), "IDC_CHECK_ADDRESSING"},
                                                  {static_cast<LONG>(kSettingsRefreshButton), "IDC_BUTTON_REFRESH"},
                                                  {0, nullptr}};
class TranslatedPage : public CovFDT_Translated<CTestSettingsPage> {
 public:
  TranslatedPage() : CovFDT_Translated(kPageControlNames) {}
};

class TranslatedUi : public CovFDT_Translated<CTestUserInterface> {
 public:
  TranslatedUi() : CovFDT_Translated(kControlNames, EUiFamily::Page, &TranslatedMap) {}

  // Replaces the test dialog with this test's own.
  void MakeDialog(HWND parent) {
    DestroyDialogWindow();
    CreateDialogIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(kTemplate), parent, &Proc,
                               reinterpret_cast<LPARAM>(this));
  }

 private:
  static INT_PTR Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      reinterpret_cast<TranslatedUi*>(lParam)->AttachDialogWindow(dialog);
      return TRUE;
    }
    auto* self = reinterpret_cast<TranslatedUi*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_NCDESTROY) {
      self->AttachDialogWindow(nullptr);
      return FALSE;
    }
    LRESULT result = 0;
    return self->ProcessWindowMessage(dialog, message, wParam, lParam, &result) ? TRUE : FALSE;
  }
};

// The DTM after the frame's environment call: its documents have the frame's schemas.
class EnvironmentDtm : public HeadlessDtm {
 public:
  HRESULT FinalConstruct() {
    const HRESULT hr = HeadlessDtm::FinalConstruct();
    if (FAILED(hr)) return hr;
    return InitializeDtmSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(vkr::frame::SchemaDirectory())));
  }
};

// The DTM the frame made, with or without its translation.
class DtmWithoutTranslation : public EnvironmentDtm {
 public:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (riid == IovFdtTranslation::iid) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return EnvironmentDtm::QueryExtraInterface(riid, ppv);
  }
};

// What the user sees of the dialog (and the page information a frame shows).
struct Look {
  std::string dampingLabel, addressing, refresh, apply, distanceLabel;
  std::string dampingTip, labelTip, comboTip, comboEditTip, logoTip, distanceTip;
  std::vector<std::string> deviceTypes;
  LONG logoWidth = 0;
  std::string title, helpFile;
  bool operator==(const Look&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Look& l) {
  out << "{" << l.dampingLabel << "|" << l.addressing << "|" << l.refresh << "|" << l.apply << "|" << l.distanceLabel
      << " tips " << l.dampingTip << "|" << l.labelTip << "|" << l.comboTip << "|" << l.comboEditTip << "|" << l.logoTip
      << "|" << l.distanceTip << " types";
  for (const auto& t : l.deviceTypes) out << " [" << t << "]";
  return out << " logo " << l.logoWidth << " page " << l.title << "|" << l.helpFile << "}";
}

class Translation : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    AtlAxWinInit();
    ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<TranslatingDisplay>>(&factory_), S_OK);
    ASSERT_EQ(CoRegisterClassObject(kRecorderClassId, static_cast<IClassFactory*>(factory_.Get()), CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie_),
              S_OK);
    HostedLanguages().clear();
  }
  void TearDown() override {
    if (management_) {
      EXPECT_EQ(management_->FunctionFinished(vkr::Bstr(u"translated")), S_OK);
    }
    management_ = nullptr;
    host_.reset();
    dtm_ = nullptr;
    dtmObject_ = nullptr;
    CoRevokeClassObject(cookie_);
    for (DWORD cookie : classCookies_) CoRevokeClassObject(cookie);
    classCookies_.clear();
    vkr::ui::PumpUntilIdle();
    CoUninitialize();
  }

  // The shipped translation file with the test class's texts where the translation path points.
  void InstallFile(const std::string& imageFolder) {
    std::string file = ShippedFile();
    Replace(file, "<ActiveXList/>", kClassElement);
    Replace(file, "<Name><locale code=\"en-us\">Damping Value</locale><locale code=\"de-de\">Dämpfung</locale></Name>",
            std::string("<Name><locale code=\"en-us\">Damping Value</locale><locale code=\"de-de\">Dämpfung</locale></Name>") +
                kDampingDescription);
    Replace(file, "<Enumeration id=\"991\">", std::string("<Enumeration id=\"991\">") + kDeviceTypeDescription);
    WriteFileText(texts_ / "VornExampleDtmTranslation.xml", file);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTranslationPathKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, kTranslationPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(texts_.path().c_str()),
                   static_cast<DWORD>(texts_.path().size() + 1));
    RegCloseKey(key);
    imageFolder_ = imageFolder;
  }
  // The class's registered description (which keys its element in the file); with a class T, T
  // is also what COM makes for the class until the test ends.
  template <class T = void>
  void RegisterClass(REFCLSID clsid, const char* userType) {
    OLECHAR braced[40] = {};
    StringFromGUID2(clsid, braced, 40);
    const std::string key = "CLSID\\" + vkr::Utf16ToUtf8(braced);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    if (!userType) return;
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(userType),
                   static_cast<DWORD>(std::strlen(userType) + 1));
    RegCloseKey(handle);
    if constexpr (!std::is_void_v<T>) {
      vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<T>>> factory;
      ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<T>>(&factory), S_OK);
      DWORD cookie = 0;
      ASSERT_EQ(CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                                      REGCLS_MULTIPLEUSE, &cookie),
                S_OK);
      classCookies_.push_back(cookie);
    }
  }
  // The frame's DTM, configured.
  template <class Dtm = EnvironmentDtm>
  void MakeDtm() {
    vkr::ComPtr<vkr::ComObject<Dtm>> dtm;
    ASSERT_EQ(vkr::MakeObject<Dtm>(&dtm), S_OK);
    dtm->ForceState(dsCONFIGURED);
    dtm_ = dtm.Get();
    dtmObject_ = Unknown();
  }
  // The frame's DTM, configured, with the user interface opened on it and started by its function
  // container (which then tells it the DTM's language).
  template <class Dtm = EnvironmentDtm>
  void Open() {
    MakeDtm<Dtm>();
    vkr::ComPtr<vkr::ComObject<TranslatedUi>> ui;
    ASSERT_EQ(vkr::MakeObject<TranslatedUi>(&ui), S_OK);
    ui_ = ui.Get();
    bitmapsOfTheBase_ = vkr::ui::GdiObjectCounts().bitmaps;
    host_ = std::make_unique<TestUserInterfaceHost>(ui_);
    ui_->MakeDialog(host_->Window());
    ASSERT_NE(ui_->DialogWindow(), nullptr);
    ui_->SetImageFolder(vkr::Utf8ToUtf16(imageFolder_).c_str());
    ASSERT_EQ(host_->Open(Unknown()), S_OK);
    vkr::ComPtr<IovFdtActiveXContainer> container;
    ASSERT_EQ(Unknown()->QueryInterface(IovFdtActiveXContainer::iid, container.PutVoid()), S_OK);
    vkr::Bstr call;
    ASSERT_EQ(container->GetFunctionCallDocument(5, call.Put()), S_OK);
    ui_->functionCall = call.Str();
    ASSERT_EQ(Unknown()->QueryInterface(IovFdtActiveXManagement::iid, management_.PutVoid()), S_OK);
    ASSERT_EQ(management_->StartFunction(vkr::Bstr(u"translated"), static_cast<IovFdtActiveX4*>(ui_), 0), S_OK);
  }
  HRESULT SetLanguage(LCID language) {
    VARIANT_BOOL done = VARIANT_FALSE;
    return static_cast<IDtm*>(dtm_)->SetLanguage(language, &done);
  }
  HWND Item(UINT id) const { return GetDlgItem(ui_->DialogWindow(), static_cast<int>(id)); }
  std::string Tip(HWND control) const { return control ? vkr::ui::GetToolTipText(ui_->FindTooltip(control), control, 0) : ""; }
  Look Seen() const {
    Look l;
    l.dampingLabel = host_->Text(kDampingLabel);
    l.addressing = host_->Text(kAddressingCheck);
    l.refresh = host_->Text(kRefreshButton);
    l.apply = host_->Text(kApplyButton);
    l.distanceLabel = host_->Text(kDistanceLabel);
    l.dampingTip = Tip(Item(kDampingEdit));
    l.labelTip = Tip(Item(kDampingLabel));
    l.comboTip = Tip(Item(kTypeCombo));
    l.comboEditTip = Tip(GetWindow(Item(kTypeCombo), GW_CHILD));
    l.logoTip = Tip(Item(kLogo));
    l.distanceTip = Tip(Item(kDistanceEdit));
    vkr::ui::ControlState combo;
    vkr::ui::GetControlState(Item(kTypeCombo), &combo);
    l.deviceTypes = combo.items;
    vkr::ui::ControlState logo;
    vkr::ui::GetControlState(Item(kLogo), &logo);
    BITMAP bitmap{};
    if (logo.image && GetObjectA(logo.image, sizeof bitmap, &bitmap)) l.logoWidth = bitmap.bmWidth;
    PROPPAGEINFO info{};
    info.cb = sizeof info;
    info.pszTitle = vkr::CoTaskMemString(u"resource title");
    info.pszHelpFile = vkr::CoTaskMemString(u"resource.chm");
    ui_->TranslatePageInfo(&info);  // its answer is the callers' to check
    l.title = vkr::Utf16ToUtf8(info.pszTitle);
    l.helpFile = vkr::Utf16ToUtf8(info.pszHelpFile);
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);
    return l;
  }

  TempDir texts_;
  std::string imageFolder_ = (SourceTree() / "resources" / "bitmaps").string() + "/";
  ScopedRegistry registry_;
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<TranslatingDisplay>>> factory_;
  DWORD cookie_ = 0;
  std::vector<DWORD> classCookies_;
  IUnknown* Unknown() const { return static_cast<IovFdtParameterHandler4*>(dtm_); }
  HeadlessDtm* dtm_ = nullptr;
  vkr::ComPtr<IUnknown> dtmObject_;  // holds dtm_
  vkr::ComPtr<IovFdtActiveXManagement> management_;
  std::unique_ptr<TestUserInterfaceHost> host_;
  TranslatedUi* ui_ = nullptr;
  int bitmapsOfTheBase_ = 0;  // live bitmaps once the user interface is made
};

// The dialog resource's texts; the device type's entry is the DTM's own, as its parameters hold it.
const Look kResourceLook{"Damping", "Addressing", "Refresh", "Apply", "Distance", "", "", "", "", "", "",
                         {"Guided Radar continous level measurement with 4-20 mA and HART"}, 0,
                         "resource title", "resource.chm"};

// English, German, English again: every text, tooltip, entry and bitmap follows the language the
// frame sets, the hosted display translates itself, each control keeps one tooltip window, and the
// tear-down leaves no tooltip window and no bitmap behind.
TEST_F(Translation, TheDialogFollowsTheFramesLanguageAndLeavesNothingBehind) {
  InstallFile(imageFolder_);
  RegisterClass(CTestUserInterface::kClassId, kUserTypeName);
  Open();

  const Look english{"Damping time", "Multidrop", "Refresh", "Apply", "Distance",
                     "Damping of the measured value", "How fast the output follows", "Kind of transmitter",
                     "Kind of transmitter", "Logo", "",
                     {"Guided Radar continous level measurement with 4-20 mA and HART"}, 48,
                     "Test page", "test_en.chm"};
  const Look german{"Dämpfungszeit", "Mehrpunktbetrieb", "Aktualisieren", "Übernehmen", "Distance",
                    "Dämpfung des Messwerts", "Wie schnell der Ausgang folgt", "Art des Messumformers",
                    "Art des Messumformers", "Zeichen", "",
                    {"Füllstandmessung mit geführtem Radar, 4-20 mA und HART"}, 16,
                    "Testseite", "test_de.chm"};
  EXPECT_EQ(Seen(), english);
  const size_t tooltips = ui_->TooltipCount();
  EXPECT_EQ(tooltips, 5u);  // damping edit and label, combo box and its edit field, logo
  const HWND dampingTooltip = ui_->FindTooltip(Item(kDampingEdit));
  EXPECT_EQ(vkr::ui::GetToolTipMaxWidth(dampingTooltip), 300);

  // The user interface answers the DTM's translation as its own.
  vkr::ComPtr<IovFdtTranslation> own, dtms;
  ASSERT_EQ(ui_->QueryInterface(IovFdtTranslation::iid, own.PutVoid()), S_OK);
  ASSERT_EQ(Unknown()->QueryInterface(IovFdtTranslation::iid, dtms.PutVoid()), S_OK);
  EXPECT_EQ(own.Get(), dtms.Get());

  struct Step {
    LCID language;
    const Look& look;
  };
  for (const Step& step : {Step{1031, german}, Step{1033, english}, Step{1031, german}}) {
    ASSERT_EQ(SetLanguage(step.language), S_OK);
    EXPECT_EQ(Seen(), step.look) << step.language;
    EXPECT_EQ(ui_->TooltipCount(), tooltips) << step.language;
    EXPECT_EQ(ui_->FindTooltip(Item(kDampingEdit)), dampingTooltip) << "updated in place, not made anew";
  }
  EXPECT_EQ(HostedLanguages(), (std::vector<ULONG>{1033, 1033, 1031, 1033, 1031}));

  std::vector<HWND> windows;
  for (UINT id : {kDampingEdit, kDampingLabel, kTypeCombo, kLogo}) windows.push_back(ui_->FindTooltip(Item(id)));
  windows.push_back(ui_->FindTooltip(GetWindow(Item(kTypeCombo), GW_CHILD)));
  EXPECT_EQ(management_->FunctionFinished(vkr::Bstr(u"translated")), S_OK);
  management_ = nullptr;
  VARIANT_BOOL done = VARIANT_FALSE;
  ASSERT_EQ(ui_->UninitializeUI(&done), S_OK);
  EXPECT_EQ(ui_->TooltipCount(), 0u);
  for (HWND window : windows) EXPECT_FALSE(IsWindow(window));
  vkr::ui::ControlState logo;
  vkr::ui::GetControlState(Item(kLogo), &logo);
  EXPECT_EQ(logo.image, nullptr) << "the resource's image back";
  EXPECT_EQ(vkr::ui::GdiObjectCounts().bitmaps, bitmapsOfTheBase_);
  // A later translation makes the tooltips anew.
  ASSERT_EQ(ui_->InitializeUI(Unknown(), &done), S_OK);
  EXPECT_EQ(ui_->TooltipCount(), tooltips);
}

// A control the frame opens on a German DTM starts in German, follows the frame's language call,
// and closing it takes its tooltips with it.
TEST_F(Translation, AControlOpenedByTheFrameTranslatesItselfUntilItCloses) {
  InstallFile(imageFolder_);
  RegisterClass<TranslatedControl>(CLSID_TestControl, "TestControl Ctrl");
  MakeDtm();
  ASSERT_EQ(SetLanguage(1031), S_OK);
  {
    vkr::frame::ActiveXHost frame;
    VARIANT_BOOL opened = VARIANT_FALSE;
    ASSERT_EQ(frame.OpenClass(Unknown(), CLSID_TestControl, vkr::Bstr(vkr::frame::FunctionCallDocument(5)), &opened),
              S_OK) << ::testing::PrintToString(frame.record);
    ASSERT_EQ(opened, VARIANT_TRUE);
    auto* control = dynamic_cast<TranslatedControl*>(AsTestControl(frame.OpenControls().front().control.Get()));
    ASSERT_NE(control, nullptr);
    auto text = [&](UINT id) {
      char buffer[256] = {};
      GetDlgItemTextA(control->DialogWindow(), static_cast<int>(id), buffer, sizeof buffer);
      return std::string(buffer);
    };
    HWND damping = GetDlgItem(control->DialogWindow(), static_cast<int>(kDampingEdit));
    struct Expected {
      LCID language;
      std::vector<std::string> texts;  // label, OK, Cancel, Apply, damping tooltip
    };
    for (const Expected& e : {Expected{0, {"Dämpfungszeit", "OK", "Abbrechen", "Übernehmen", "Dämpfung des Messwerts"}},
                              Expected{1033, {"Damping time", "OK", "Cancel", "Apply", "Damping of the measured value"}},
                              Expected{1031, {"Dämpfungszeit", "OK", "Abbrechen", "Übernehmen", "Dämpfung des Messwerts"}}}) {
      if (e.language) {
        ASSERT_EQ(SetLanguage(e.language), S_OK);
      }
      EXPECT_EQ((std::vector<std::string>{text(kDampingLabel), text(IDOK), text(IDCANCEL), text(kApplyButton),
                                          vkr::ui::GetToolTipText(control->FindTooltip(damping), damping, 0)}),
                e.texts)
          << e.language;
    }
    const HWND tooltip = control->FindTooltip(damping);
    ASSERT_TRUE(IsWindow(tooltip));
    VARIANT_BOOL closed = VARIANT_FALSE;
    const vkr::Bstr invokeId(vkr::Utf8ToUtf16(frame.OpenControls().front().invokeId));
    ASSERT_EQ(frame.Close(invokeId, &closed), S_OK);
    EXPECT_EQ(closed, VARIANT_TRUE);
    EXPECT_FALSE(IsWindow(tooltip));
    vkr::ui::PumpUntilIdle();
  }
}

// Without a translation, or without the class's registered name, or with a bitmap that is not
// there, the dialog keeps what it cannot get and nothing else is lost.
TEST_F(Translation, WhatTheTranslationCannotServeKeepsItsResourceText) {
  struct Case {
    const char* what;
    bool registered;
    bool translation;
    const char* imageFolder;
    HRESULT result;  // of OnTranslate
    Look look;
  };
  const Case cases[] = {
      {"no translation", true, false, nullptr, S_OK, kResourceLook},
      {"class not registered", false, true, nullptr, REGDB_E_CLASSNOTREG,
       Look{"Damping", "Addressing", "Refresh", "Apply", "Distance", "Damping of the measured value", "",
            "Kind of transmitter", "Kind of transmitter", "", "",
            {"Guided Radar continous level measurement with 4-20 mA and HART"}, 0, "resource title", "resource.chm"}},
      {"bitmap missing", true, true, "/nonexistent/", S_OK,
       Look{"Damping time", "Multidrop", "Refresh", "Apply", "Distance", "Damping of the measured value",
            "How fast the output follows", "Kind of transmitter", "Kind of transmitter", "", "",
            {"Guided Radar continous level measurement with 4-20 mA and HART"}, 0, "Test page", "test_en.chm"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallFile(c.imageFolder ? c.imageFolder : imageFolder_);
    RegisterClass(CTestUserInterface::kClassId, c.registered ? kUserTypeName : nullptr);
    if (c.translation)
      Open();
    else
      Open<DtmWithoutTranslation>();
    if (HasFatalFailure()) return;
    EXPECT_EQ(ui_->OnTranslate(1033), c.result);
    EXPECT_EQ(Seen(), c.look);
    vkr::ComPtr<IovFdtTranslation> own;
    EXPECT_EQ(ui_->QueryInterface(IovFdtTranslation::iid, own.PutVoid()), c.translation ? S_OK : E_NOINTERFACE);
    BSTR help = SysAllocString(u"resource.chm");
    EXPECT_EQ(ui_->GetHelpFile(&help), c.registered || !c.translation ? S_OK : REGDB_E_CLASSNOTREG);
    EXPECT_EQ(vkr::Utf16ToUtf8(vkr::View(help)), c.look.helpFile);
    SysFreeString(help);
    TearDown();
    SetUp();
  }
}

// The Settings page through its page site: started on a German DTM it shows German texts and a
// German page title; switched to English and back it follows; its release takes its tooltips.
TEST_F(Translation, APageFollowsTheLanguageThroughItsSite) {
  InstallFile(imageFolder_);
  RegisterClass<TranslatedPage>(kTestSettingsPageClsid, "TestSettingsPage Class");
  MakeDtm();
  ASSERT_EQ(SetLanguage(1031), S_OK);
  {
    PageSiteHarness harness(400, 300);
    vkr::ComPtr<IPropertyPage> page;
    ASSERT_EQ(CoCreateInstance(kTestSettingsPageClsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid,
                               page.PutVoid()),
              S_OK);
    vkr::ComPtr<IovFdtPropertyPageControl> control;
    ASSERT_EQ(page->QueryInterface(IovFdtPropertyPageControl::iid, control.PutVoid()), S_OK);
    ASSERT_EQ(page->SetPageSite(harness.Site()), S_OK);
    ASSERT_EQ(page->Activate(harness.Hwnd(), &harness.Rect(), FALSE), S_OK);
    VARIANT_BOOL started = VARIANT_FALSE;
    ASSERT_EQ(control->Init(vkr::Bstr(u"page-1"), vkr::Bstr(vkr::frame::FunctionCallDocument(5)), Unknown(), &started),
              S_OK);
    ASSERT_EQ(started, VARIANT_TRUE);
    ASSERT_EQ(page->Show(SW_SHOW), S_OK);
    vkr::ComPtr<IovFdtTranslationEvent> event;
    ASSERT_EQ(page->QueryInterface(IovFdtTranslationEvent::iid, event.PutVoid()), S_OK);
    auto* translated = static_cast<TranslatedPage*>(static_cast<CovFDT_ActiveXTranslationImpl*>(event.Get()));
    auto seen = [&] {
      std::vector<std::string> texts;
      for (UINT id : {kSettingsDampingLabel, kSettingsAddressingCheck, kSettingsRefreshButton}) {
        char buffer[256] = {};
        GetWindowTextA(harness.Item(static_cast<int>(id)), buffer, sizeof buffer);
        texts.emplace_back(buffer);
      }
      HWND damping = harness.Item(static_cast<int>(kSettingsDampingEdit));
      texts.push_back(vkr::ui::GetToolTipText(translated->FindTooltip(damping), damping, 0));
      PROPPAGEINFO info{};
      EXPECT_EQ(page->GetPageInfo(&info), S_OK);
      texts.push_back(vkr::Utf16ToUtf8(info.pszTitle));
      texts.push_back(vkr::Utf16ToUtf8(info.pszHelpFile));
      CoTaskMemFree(info.pszTitle);
      CoTaskMemFree(info.pszDocString);
      CoTaskMemFree(info.pszHelpFile);
      return texts;
    };
    const std::vector<std::string> german{"&Dämpfungszeit", "&Mehrpunktbetrieb", "&Aktualisieren",
                                          "Dämpfung des Messwerts", "Einstellungen", "settings_de.chm"};
    const std::vector<std::string> english{"&Damping time", "&Multidrop", "&Refresh", "Damping of the measured value",
                                           "Settings", "settings_en.chm"};
    EXPECT_EQ(seen(), german);
    ASSERT_EQ(SetLanguage(1033), S_OK);
    EXPECT_EQ(seen(), english);
    ASSERT_EQ(SetLanguage(1031), S_OK);
    EXPECT_EQ(seen(), german);

    EXPECT_GT(translated->TooltipCount(), 0u);
    VARIANT_BOOL ready = VARIANT_FALSE;
    ASSERT_EQ(control->PrepareToRelease(&ready), S_OK);
    EXPECT_EQ(ready, VARIANT_TRUE);
    EXPECT_EQ(translated->TooltipCount(), 0u);
    EXPECT_EQ(page->Deactivate(), S_OK);
    page->SetPageSite(nullptr);
  }
}

}  // namespace
