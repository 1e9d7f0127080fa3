// Two property pages of the tests' own on the page layer, for the page tests and for a page frame
// to host: "Settings" (damping, tag, PV unit, addressing, a Refresh button; labels with mnemonics)
// and "Range" (upper range, distance, short address). Their parameter ids are those of the fake
// DTM (tests/support/fake_ui_dtm.h), which serves all of them.
//
//   TestPropertyPageClasses classes;                 // registers both classes in this process
//   classes.Register();
//   CoCreateInstance(kTestSettingsPageClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, ...);
//
// Neither class has resources: the dialog template is text, the title, help file and documentation
// strings come from the class (LoadPageString). Free of GoogleTest.
#pragma once

#include <string>

#include "platform/platform.h"
#include "ui/framework/PropertyPage.h"

namespace vkr::test {

inline constexpr CLSID kTestSettingsPageClsid = vkr::MakeGuid("7A1F0C52-3E9B-4D61-8F20-5B6C7D8E9F11");
inline constexpr CLSID kTestRangePageClsid = vkr::MakeGuid("7A1F0C52-3E9B-4D61-8F20-5B6C7D8E9F12");
// The registered user type names (the translation file's class names).
inline constexpr const char16_t* kTestSettingsPageUserType = u"TestSettingsPage Class";
inline constexpr const char16_t* kTestRangePageUserType = u"TestRangePage Class";

// Dialog items of the Settings page.
inline constexpr UINT kSettingsDampingLabel = 600;  // "&Damping"
inline constexpr UINT kSettingsDampingEdit = 601;   // 1022, "%.2f"
inline constexpr UINT kSettingsTagLabel = 602;      // "&Tag"
inline constexpr UINT kSettingsTagEdit = 603;       // 1054, "%s"
inline constexpr UINT kSettingsPvUnitCombo = 604;   // 1024, choices
inline constexpr UINT kSettingsAddressingCheck = 605;  // 120, "&Multidrop" auto check box
inline constexpr UINT kSettingsRefreshButton = 606;    // "&Refresh" push button (1041)
// Dialog items of the Range page.
inline constexpr UINT kRangeUpperEdit = 701;     // 1026, "%.3f"
inline constexpr UINT kRangeDistanceEdit = 702;  // 2002, "%.1f"
inline constexpr UINT kRangeAddressEdit = 703;   // 121, "%d"

// String ids of the two classes (their texts: LoadPageString).
inline constexpr UINT kTestPageTitleId = 241;
inline constexpr UINT kTestPageHelpFileId = 248;
inline constexpr UINT kTestPageDocStringId = 255;

class CTestSettingsPage : public CovFDT_PropertyPageImpl {
 public:
  CTestSettingsPage();
  static CActXParInfo* GetParameterMap(int* count, BOOL copy);
  bool LoadPageString(UINT id, std::u16string* text) override;

  // The page's state, for tests.
  using CovFDT_BaseActiveXImpl::m_bDirty;
  using CovFDT_BaseActiveXImpl::m_nDialogType;
  using CovFDT_BaseActiveXImpl::m_spDtm;
  using CovFDT_BaseActiveXImpl::m_spPageSite;
  using CovFDT_BasePropertyPageImpl::m_bFocusRestored;
  using CovFDT_BasePropertyPageImpl::m_hWndLastFocus;
  CActXParInfo& Entry(LONG index) { return m_pParInfo[index]; }
};

class CTestRangePage : public CovFDT_PropertyPageImpl {
 public:
  CTestRangePage();
  static CActXParInfo* GetParameterMap(int* count, BOOL copy);
  bool LoadPageString(UINT id, std::u16string* text) override;
};

// Routes the thread's key messages to a page's TranslateAccelerator while it lives, as a page
// frame does: a key the page answers S_OK for is consumed.
class PageKeyRouter {
 public:
  explicit PageKeyRouter(IPropertyPage* page);
  ~PageKeyRouter();
  PageKeyRouter(const PageKeyRouter&) = delete;
  PageKeyRouter& operator=(const PageKeyRouter&) = delete;

 private:
  vkr::ComPtr<IPropertyPage> m_page;
  UINT_PTR m_cookie = 0;
};

// The two classes registered in this process (CoRegisterClassObject) and their user type names in
// the registry (HKCR\CLSID\{...}), as a module's registration would leave them; revoked at the end.
class TestPropertyPageClasses {
 public:
  TestPropertyPageClasses() = default;
  ~TestPropertyPageClasses() { Revoke(); }
  TestPropertyPageClasses(const TestPropertyPageClasses&) = delete;
  TestPropertyPageClasses& operator=(const TestPropertyPageClasses&) = delete;

  HRESULT Register();
  void Revoke();

 private:
  DWORD m_settingsCookie = 0;
  DWORD m_rangeCookie = 0;
};

}  // namespace vkr::test
