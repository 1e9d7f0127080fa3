// The device user interfaces in the user's language: the real module's DTM online to the simulated
// transmitter, a translation file as a customer writes one (an element per user-interface class,
// keyed by its registered name), and every class the DTM shows opened as a frame application opens
// it: the online parameterization frame with its ten pages, the two pages it does not host shown on
// their own, the trend view and the loop test. One table over the classes: each class's controls
// found by dialog id, by resource symbol, and by id where a symbol node names the same control, its
// tooltip, its title; the frame's missing bitmap; German, English, German again; and the close.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "include/ProgramIds.h"
#include "tests/support/live_page_host.h"
#include "tests/support/source_tree.h"
#include "tests/support/stub_dispatch.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/HartPP.h"
#include "ui/device/OnlineParameterization.h"
#include "ui/framework/PropertyPage.h"

namespace {

using namespace vkr::test;
namespace dui = vkr::dui;

enum class Way { FramePage, OwnPage, Function };

// One user-interface class: its registered name, its control-name table, and how the user meets
// it (a page of the online frame, a page on its own, or a function of the DTM).
struct UiClass {
  const char* userType;
  const ControlNameEntry* names;
  Way way;
  const CLSID* clsid = nullptr;  // OwnPage
  LONG function = 0;             // Function
};

const UiClass kClasses[] = {
    {"CommandPP Ctrl", dui::kCommandControlNames, Way::FramePage},
    {"ProcessPP Ctrl", dui::kProcessControlNames, Way::FramePage},
    {"ValuesPP Ctrl", dui::kValuesControlNames, Way::FramePage},
    {"DevicePP Ctrl", dui::kDeviceControlNames, Way::FramePage},
    {"AdvancedPP Class", dui::kAdvancedControlNames, Way::FramePage},
    {"StatusPP Ctrl", dui::kStatusControlNames, Way::FramePage},
    {"HartPP Ctrl", dui::kHartControlNames, Way::FramePage},
    {"DiagPP Class", dui::kDiagControlNames, Way::FramePage},
    {"InfoPP Class", dui::kInfoControlNames, Way::FramePage},
    {"EchoPP Class", dui::kEchoControlNames, Way::FramePage},
    {"RawCommandPP Class", dui::kRawCommandControlNames, Way::OwnPage, &CLSID_RawCommandPP},
    {"SetupPP Class", dui::kSetupControlNames, Way::OwnPage, &CLSID_SetupPP},
    {"OnlineParameterization Ctrl", dui::kOnlineParameterizationControlNames, Way::Function, nullptr, 1},
    {"TrendView Ctrl", dui::kTrendViewControlNames, Way::Function, nullptr, 2},
    {"OutputLevelSelection Ctrl", dui::kOutputLevelSelectionControlNames, Way::Function, nullptr, 4},
};

// The three labels of a class the test translates: by id (with a tooltip), by symbol, and by id
// where a symbol node for the same control says otherwise. Labels only: bitmaps and hosted
// controls are not texts.
struct Picked {
  ControlNameEntry byId, byName, both;
};
Picked Pick(const ControlNameEntry* names) {
  std::vector<ControlNameEntry> labels;
  for (const ControlNameEntry* e = names; e->nControlId != 0; ++e) {
    const std::string symbol = e->pszName;
    if (symbol.rfind("IDC_BITMAP", 0) != 0 && symbol.rfind("IDC_CTRL", 0) != 0) labels.push_back(*e);
  }
  EXPECT_GE(labels.size(), 3u);
  labels.resize(3, ControlNameEntry{0, ""});
  return Picked{labels[0], labels[1], labels[2]};
}

std::string Locales(const std::string& english, const std::string& german) {
  return "<locale code=\"en-us\">" + english + "</locale><locale code=\"de-de\">" + german + "</locale>";
}
// The texts a control shows in each language.
std::string English(const ControlNameEntry& e) { return std::string(e.pszName) + " en"; }
std::string German(const ControlNameEntry& e) { return std::string(e.pszName) + " de"; }
std::string Title(const UiClass& c, bool german) { return std::string(c.userType) + (german ? " Seite" : " page"); }
std::string HelpFile(const UiClass& c, bool german) { return std::string(c.userType) + (german ? ".de.chm" : ".en.chm"); }

constexpr LONG kFrameBitmap = 576;  // the frame's first entry: a bitmap whose file is missing

std::string ClassElements() {
  std::string list = "<ActiveXList>";
  for (const UiClass& c : kClasses) {
    const Picked p = Pick(c.names);
    list += std::string("<ActiveX classname=\"") + c.userType + "\"><Title>" + Locales(Title(c, false), Title(c, true)) +
            "</Title><HelpFile>" + Locales(HelpFile(c, false), HelpFile(c, true)) + "</HelpFile>";
    if (c.names == dui::kOnlineParameterizationControlNames)
      list += "<Control resId=\"" + std::to_string(kFrameBitmap) + "\"><Text>" + Locales("missing.bmp", "fehlt.bmp") +
              "</Text><Tooltip>" + Locales("Logo", "Zeichen") + "</Tooltip></Control>";
    list += "<Control resId=\"" + std::to_string(p.byId.nControlId) + "\"><Text>" +
            Locales(English(p.byId), German(p.byId)) + "</Text><Tooltip>" + Locales("tip en", "tip de") +
            "</Tooltip></Control>";
    list += std::string("<Control name=\"") + p.byName.pszName + "\"><Text>" +
            Locales(English(p.byName), German(p.byName)) + "</Text></Control>";
    list += std::string("<Control name=\"") + p.both.pszName + "\"><Text>" + Locales("by name", "nach Name") +
            "</Text></Control>";
    list += "<Control resId=\"" + std::to_string(p.both.nControlId) + "\"><Text>" +
            Locales(English(p.both), German(p.both)) + "</Text></Control>";
    list += "</ActiveX>";
  }
  return list + "</ActiveXList>";
}

std::string ShippedFile() {
  std::ifstream in(SourceTree() / "resources" / "VornExampleDtmTranslation.xml", std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

std::string TranslationFile() {
  std::string file = ShippedFile();
  const std::string empty = "<ActiveXList/>";
  const size_t at = file.find(empty);
  EXPECT_NE(at, std::string::npos);
  if (at != std::string::npos) file.replace(at, empty.size(), ClassElements());
  // The polling address gets a description, which its edit on the HART page shows as tooltip.
  const std::string name = "<Name>" + Locales("Polling address", "Polling-Adresse") + "</Name>";
  const size_t named = file.find(name);
  EXPECT_NE(named, std::string::npos);
  if (named != std::string::npos)
    file.insert(named + name.size(),
                "<Description>" + Locales("Address on the loop", "Adresse in der Schleife") + "</Description>");
  return file;
}

// A chart in the trend view's place that translates itself and notes the languages it was given.
std::vector<ULONG>& ChartLanguages() {
  static std::vector<ULONG> languages;
  return languages;
}
class TranslatingChart : public vkr::Implements<IovFdtTranslationEvent> {
 public:
  VKR_TEST_DISPATCH
  HRESULT OnTranslate(ULONG lcid) override {
    ChartLanguages().push_back(lcid);
    return S_OK;
  }
};

COnlineParameterization* AsOnlineFrame(IUnknown* control) {
  vkr::ComPtr<IPPFrameCtrl> frame;
  if (!control || FAILED(control->QueryInterface(IPPFrameCtrl::iid, frame.PutVoid())) || !frame) return nullptr;
  return dynamic_cast<COnlineParameterization*>(static_cast<CovFDT_BasePPFrameImpl*>(frame.Get()));
}

// One opened user interface as the test looks at it: its dialog and its translation part.
struct Opened {
  const UiClass* cls = nullptr;
  HWND dialog = nullptr;
  CovFDT_ActiveXTranslationImpl* translation = nullptr;
  IPropertyPage* page = nullptr;                // pages
  CovFDT_BaseActiveXImplEx* control = nullptr;  // controls
};

// What the user sees of one class: the three labels, the tooltip, the title, the help file.
struct Look {
  std::string byId, byName, both, tip, title, help;
  bool operator==(const Look&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Look& l) {
  return out << "{" << l.byId << "|" << l.byName << "|" << l.both << " tip " << l.tip << " title " << l.title << " help " << l.help << "}";
}

class DeviceTranslation : public LivePageHostTest {
 protected:
  void SetUp() override {
    // The customer's file where the registry points, before the DTM reads it at its creation.
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    registry_ = std::make_unique<ScopedRegistry>();
    WriteFileText(texts_ / "VornExampleDtmTranslation.xml", TranslationFile());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vorntec\\VKR Series DTM\\Files", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::string directory = texts_.path() + "/";
    RegSetValueExA(key, "TranslationPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory.c_str()),
                   static_cast<DWORD>(directory.size() + 1));
    RegCloseKey(key);
    ASSERT_EQ(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true), S_OK);
    // The process's class registered first is the one COM makes.
    if (translatingChart_) {
      vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<TranslatingChart>>> factory;
      ASSERT_EQ(vkr::MakeObject<vkr::ClassFactory<TranslatingChart>>(&factory), S_OK);
      ASSERT_EQ(CoRegisterClassObject(CLSID_ChartControl, static_cast<IClassFactory*>(factory.Get()),
                                      CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &chartCookie_),
                S_OK);
    }
    ASSERT_EQ(vkr::frame::RegisterOutsideControls(), S_OK);
    AtlAxWinInit();
    session_ = std::make_unique<vkr::frame::TransferSession>();
    ASSERT_EQ(session_->Open(u"Vorn.ExampleDtm", device_, ""), S_OK);
    ASSERT_EQ(ui::GoOnline(Dtm()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return ui::DtmState(Dtm()) == dsONLINE; }, 20000));
  }
  void TearDown() override {
    if (session_ && session_->Dtm()) {
      session_->Frame()->activeX.CloseAll();
      vkr::ui::PumpUntilIdle();
    }
    if (chartCookie_) CoRevokeClassObject(chartCookie_);
    LivePageHostTest::TearDown();
  }

  IUnknown* Dtm() const { return session_->Dtm(); }
  void SetLanguage(LCID language) {
    vkr::ComPtr<IDtm> dtm = Query<IDtm>(Dtm());
    ASSERT_TRUE(dtm);
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(dtm->SetLanguage(language, &done), S_OK);
    ASSERT_EQ(done, VARIANT_TRUE);
    vkr::ui::PumpUntilIdle();
  }
  IUnknown* OpenFunction(LONG function) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    EXPECT_EQ(session_->Frame()->OpenActiveXControl(vkr::Bstr(u"VKR-1"),
                                                    vkr::Bstr(vkr::frame::FunctionCallDocument(function)), &opened),
              S_OK);
    vkr::ui::PumpUntilIdle();
    return opened ? session_->Frame()->activeX.OpenControls().back().control.Get() : nullptr;
  }
  static Opened OfPage(const UiClass& c, IPropertyPage* page) {
    Opened o{&c};
    o.page = page;
    auto* translated = dynamic_cast<CovFDT_PropertyPageImpl*>(Query<IovFdtTranslationEvent>(page).Get());
    if (!translated) return o;
    o.dialog = translated->PageWindow();
    o.translation = &translated->Translation();
    return o;
  }

  // Every class opened: the frame (with its pages), the trend view, the loop test; the two pages
  // the frame does not host are shown and closed one after the other by Look().
  void OpenAll() {
    for (const UiClass& c : kClasses) {
      if (c.way != Way::Function) continue;
      IUnknown* control = OpenFunction(c.function);
      ASSERT_TRUE(control) << c.userType;
      auto* composite = dynamic_cast<CovFDT_BaseActiveXImplEx*>(Query<IovFdtActiveX4>(control).Get());
      ASSERT_TRUE(composite) << c.userType;
      Opened o{&c, composite->DialogWindow(), composite->TranslationPart(), nullptr, composite};
      opened_[c.userType] = o;
      if (c.function != 1) continue;
      frame_ = AsOnlineFrame(control);
      ASSERT_TRUE(frame_);
      ULONG index = 0;
      for (const UiClass& p : kClasses)
        if (p.way == Way::FramePage) opened_[p.userType] = OfPage(p, frame_->Page(index++));
    }
  }

  Look LookOf(const Opened& o) {
    Look l;
    const Picked p = Pick(o.cls->names);
    auto text = [&](const ControlNameEntry& e) { return vkr::ui::WindowText(GetDlgItem(o.dialog, e.nControlId)); };
    l.byId = text(p.byId);
    l.byName = text(p.byName);
    l.both = text(p.both);
    HWND control = GetDlgItem(o.dialog, p.byId.nControlId);
    if (o.translation && o.translation->FindTooltip(control))
      l.tip = vkr::ui::GetToolTipText(o.translation->FindTooltip(control), control, 0);
    if (o.page) {
      PROPPAGEINFO info{};
      info.cb = sizeof info;
      if (SUCCEEDED(o.page->GetPageInfo(&info))) {
        l.title = vkr::Utf16ToUtf8(vkr::View(info.pszTitle));
        l.help = vkr::Utf16ToUtf8(vkr::View(info.pszHelpFile));
      }
      CoTaskMemFree(info.pszTitle);
      CoTaskMemFree(info.pszHelpFile);
      CoTaskMemFree(info.pszDocString);
    }
    vkr::Bstr help;
    if (o.control && SUCCEEDED(o.control->GetHelpFile(help.Put()))) l.help = vkr::Utf16ToUtf8(help.View());
    return l;
  }
  // A page the frame does not host, shown on its own until its look is taken.
  Look LookOfOwnPage(const UiClass& c) {
    Open(*c.clsid);
    if (!page_ || !page_->Page()) return {};
    const vkr::ComPtr<IPropertyPage> page = Query<IPropertyPage>(page_->Page());
    const Look l = LookOf(OfPage(c, page.Get()));
    bool closed = false;
    page_->Close(&closed);
    EXPECT_TRUE(closed);
    page_.reset();
    return l;
  }
  static Look Expected(const UiClass& c, bool german) {
    const Picked p = Pick(c.names);
    Look l{german ? German(p.byId) : English(p.byId), german ? German(p.byName) : English(p.byName),
           german ? German(p.both) : English(p.both), german ? "tip de" : "tip en", "", HelpFile(c, german)};
    if (c.way != Way::Function) l.title = Title(c, german);
    return l;
  }
  std::vector<std::string> TreeTitles() const { return vkr::test::TreeTitles(frame_->TreeControl()); }

  TempDir texts_;
  bool translatingChart_ = false;  // the trend view's chart is TranslatingChart
  DWORD chartCookie_ = 0;
  std::map<std::string, Opened> opened_;
  COnlineParameterization* frame_ = nullptr;
};

// The frame application sets German before it opens anything; every class starts in German,
// follows English and German again, keeps one tooltip window per control, shows the page titles
// in the tree in the language, and gives every tooltip window back when it closes.
TEST_F(DeviceTranslation, EveryClassFollowsTheFramesLanguageAndLeavesNoTooltipBehind) {
  SetLanguage(1031);
  ASSERT_NO_FATAL_FAILURE(OpenAll());

  std::map<std::string, HWND> tooltips;  // the tooltip window of each class's translated label
  for (const bool german : {true, false, true}) {
    SCOPED_TRACE(german ? "German" : "English");
    if (!tooltips.empty()) SetLanguage(german ? 1031 : 1033);
    std::vector<std::string> titles;
    for (const UiClass& c : kClasses) {
      SCOPED_TRACE(c.userType);
      if (c.way == Way::OwnPage) {
        EXPECT_EQ(LookOfOwnPage(c), Expected(c, german));
        continue;
      }
      const Opened& o = opened_[c.userType];
      ASSERT_TRUE(o.dialog && o.translation);
      EXPECT_EQ(LookOf(o), Expected(c, german));
      HWND control = GetDlgItem(o.dialog, Pick(c.names).byId.nControlId);
      HWND& tooltip = tooltips[c.userType];
      if (!tooltip) tooltip = o.translation->FindTooltip(control);
      EXPECT_EQ(o.translation->FindTooltip(control), tooltip) << "updated in place, not made anew";
      if (c.way == Way::FramePage) titles.push_back(Title(c, german));
      if (c.names == dui::kHartControlNames) {
        // A parameter-bound control: its parameter's description in the language.
        HWND edit = GetDlgItem(o.dialog, static_cast<int>(dui::kHartPollingAddressEdit));
        HWND& editTip = tooltips["polling address"];
        if (!editTip) editTip = o.translation->FindTooltip(edit);
        EXPECT_EQ(o.translation->FindTooltip(edit), editTip);
        EXPECT_EQ(vkr::ui::GetToolTipText(editTip, edit, 0), german ? "Adresse in der Schleife" : "Address on the loop");
      }
    }
    EXPECT_EQ(TreeTitles(), titles);
    // The frame's logo file is not there: the logo keeps its picture and gets no tooltip, and the
    // entries after it are translated all the same (above).
    const Opened& frame = opened_["OnlineParameterization Ctrl"];
    EXPECT_EQ(frame.translation->FindTooltip(GetDlgItem(frame.dialog, kFrameBitmap)), nullptr);
  }

  session_->Frame()->activeX.CloseAll();
  vkr::ui::PumpUntilIdle();
  for (const auto& [name, tooltip] : tooltips) EXPECT_FALSE(IsWindow(tooltip)) << name;
}

// The user interface answers the DTM's translation as its own, and its help file is the file's.
TEST_F(DeviceTranslation, AUserInterfaceAnswersTheDtmsTranslation) {
  SetLanguage(1031);
  IUnknown* trend = OpenFunction(2);
  ASSERT_TRUE(trend);
  vkr::ComPtr<IovFdtTranslation> own = Query<IovFdtTranslation>(trend), dtms = Query<IovFdtTranslation>(Dtm());
  ASSERT_TRUE(own);
  EXPECT_EQ(own.Get(), dtms.Get());
  EXPECT_TRUE(Query<IovFdtTranslationEvent>(trend));
}

// A control the trend view hosts that translates itself is told the language and left to it.
class DeviceTranslationOfAHostedControl : public DeviceTranslation {
 protected:
  void SetUp() override {
    translatingChart_ = true;
    DeviceTranslation::SetUp();
  }
};
TEST_F(DeviceTranslationOfAHostedControl, AControlHostedInTheTrendViewTranslatesItself) {
  ChartLanguages().clear();
  SetLanguage(1031);
  ASSERT_TRUE(OpenFunction(2));
  ASSERT_FALSE(ChartLanguages().empty());
  for (ULONG language : ChartLanguages()) EXPECT_NE(language, 0u);
  SetLanguage(1033);
  EXPECT_EQ(ChartLanguages().back(), 1033u);
  SetLanguage(1031);
  EXPECT_EQ(ChartLanguages().back(), 1031u);
}

}  // namespace
