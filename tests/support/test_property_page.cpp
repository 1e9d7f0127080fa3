// The two test pages: their tables, templates and strings, and their class registration.
#include "tests/support/test_property_page.h"

#include <utility>

namespace vkr::test {

namespace {

constexpr ULONG kValue = 0;
constexpr ULONG kChoice = 4;
constexpr ULONG kCommand = 0x80000000;

constexpr UINT kSettingsDialogId = 9101;
constexpr UINT kRangeDialogId = 9102;

// 220 x 110 dialog units: labels left, values right; the labels of damping and tag carry
// mnemonics, as do the check box and the button themselves.
constexpr const char kSettingsTemplate[] = R"(
9101 DIALOGEX 0, 0, 220, 110
STYLE DS_CONTROL | WS_CHILD | WS_VISIBLE
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "&Damping", 600, 5, 7, 50, 8
  EDITTEXT 601, 70, 5, 60, 12, ES_AUTOHSCROLL
  LTEXT "&Tag", 602, 5, 22, 50, 8
  EDITTEXT 603, 70, 20, 60, 12, ES_AUTOHSCROLL
  LTEXT "PV unit", -1, 5, 37, 50, 8
  COMBOBOX 604, 70, 35, 60, 60, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
  AUTOCHECKBOX "&Multidrop", 605, 70, 52, 80, 10, BS_AUTOCHECKBOX | BS_NOTIFY | WS_TABSTOP
  PUSHBUTTON "&Refresh", 606, 70, 70, 50, 14, BS_NOTIFY | WS_TABSTOP
END
)";

constexpr const char kRangeTemplate[] = R"(
9102 DIALOGEX 0, 0, 200, 70
STYLE DS_CONTROL | WS_CHILD
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "&Upper range", -1, 5, 7, 50, 8
  EDITTEXT 701, 70, 5, 60, 12, ES_AUTOHSCROLL
  LTEXT "&Distance", -1, 5, 22, 50, 8
  EDITTEXT 702, 70, 20, 60, 12, ES_AUTOHSCROLL
  LTEXT "&Short address", -1, 5, 37, 50, 8
  EDITTEXT 703, 70, 35, 40, 12, ES_AUTOHSCROLL
END
)";

CActXParInfo* HandOut(CActXParInfo* table, int count, int* outCount, BOOL copy) {
  if (!copy) {
    if (outCount) *outCount = count;
    return table;
  }
  return CopyParameterTable(table, outCount);
}

bool PageText(UINT id, const char16_t* title, std::u16string* text) {
  switch (id) {
    case kTestPageTitleId:
      *text = title;
      return true;
    case kTestPageHelpFileId:
      *text = u"vkrtest.chm";
      return true;
    case kTestPageDocStringId:
      *text = u"A page of the tests";
      return true;
    default:
      return false;
  }
}

SPropertyPageClass SettingsClass() {
  SPropertyPageClass c;
  c.clsid = kTestSettingsPageClsid;
  c.parameterMap = &CTestSettingsPage::GetParameterMap;
  c.dialogId = kSettingsDialogId;
  c.titleId = kTestPageTitleId;
  c.helpFileId = kTestPageHelpFileId;
  c.docStringId = kTestPageDocStringId;
  c.helpContext = 7;
  c.templateText = kSettingsTemplate;
  return c;
}

SPropertyPageClass RangeClass() {
  SPropertyPageClass c = SettingsClass();
  c.clsid = kTestRangePageClsid;
  c.parameterMap = &CTestRangePage::GetParameterMap;
  c.dialogId = kRangeDialogId;
  c.templateText = kRangeTemplate;
  return c;
}

}  // namespace

CTestSettingsPage::CTestSettingsPage() : CovFDT_PropertyPageImpl(SettingsClass()) {}

CActXParInfo* CTestSettingsPage::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[6];
  static const bool filled = [] {
    entries[0] = CActXParInfo(1022, "Damping Value", kSettingsDampingEdit, "%.2f", 0x71, TRUE, kValue, 0, 0);
    entries[1] = CActXParInfo(1054, "Tag", kSettingsTagEdit, "%s", 0x71, TRUE, kValue, 0, 0);
    entries[2] = CActXParInfo(1024, "PV unit", kSettingsPvUnitCombo, "", 0x71, TRUE, kChoice, 0, 0);
    entries[3] = CActXParInfo(120, "Addressing type", kSettingsAddressingCheck, "", 0x71, TRUE, kValue, 0, 0);
    entries[4] = CActXParInfo(1041, "Button Refresh", kSettingsRefreshButton, "", 0x71, FALSE, kCommand, 0, 0);
    return true;
  }();
  (void)filled;
  return HandOut(entries, 5, count, copy);
}

bool CTestSettingsPage::LoadPageString(UINT id, std::u16string* text) { return PageText(id, u"Settings", text); }

CTestRangePage::CTestRangePage() : CovFDT_PropertyPageImpl(RangeClass()) {}

CActXParInfo* CTestRangePage::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[4];
  static const bool filled = [] {
    entries[0] = CActXParInfo(1026, "Upper range", kRangeUpperEdit, "%.3f", 0x71, TRUE, kValue, 0, 0);
    entries[1] = CActXParInfo(2002, "Distance", kRangeDistanceEdit, "%.1f", 0x71, TRUE, kValue, 0, 0);
    entries[2] = CActXParInfo(121, "Short address", kRangeAddressEdit, "%d", 0x71, TRUE, kValue, 0, 0);
    return true;
  }();
  (void)filled;
  return HandOut(entries, 3, count, copy);
}

bool CTestRangePage::LoadPageString(UINT id, std::u16string* text) { return PageText(id, u"Range", text); }

namespace {

// HKCR\CLSID\{clsid} with the user type name as its default value.
HRESULT WriteUserType(const CLSID& clsid, const char16_t* userType) {
  OLECHAR braced[40] = {};
  if (StringFromGUID2(clsid, braced, 40) == 0) return E_INVALIDARG;
  const std::u16string path = u"CLSID\\" + std::u16string(braced);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return E_FAIL;
  const std::u16string text(userType);
  const LSTATUS status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                        static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

template <class T>
HRESULT RegisterFactory(const CLSID& clsid, DWORD* cookie) {
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<T>>> factory;
  HRESULT hr = vkr::MakeObject<vkr::ClassFactory<T>>(&factory);
  if (FAILED(hr)) return hr;
  return CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                               REGCLS_MULTIPLEUSE, cookie);
}

}  // namespace

HRESULT TestPropertyPageClasses::Register() {
  HRESULT hr = WriteUserType(kTestSettingsPageClsid, kTestSettingsPageUserType);
  if (SUCCEEDED(hr)) hr = WriteUserType(kTestRangePageClsid, kTestRangePageUserType);
  if (SUCCEEDED(hr) && !m_settingsCookie) hr = RegisterFactory<CTestSettingsPage>(kTestSettingsPageClsid, &m_settingsCookie);
  if (SUCCEEDED(hr) && !m_rangeCookie) hr = RegisterFactory<CTestRangePage>(kTestRangePageClsid, &m_rangeCookie);
  return hr;
}

PageKeyRouter::PageKeyRouter(IPropertyPage* page) : m_page(page) {
  m_cookie = vkr::ui::AddMessageFilter([this](MSG* msg) {
    if (!m_page || msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return false;
    return m_page->TranslateAccelerator(msg) == S_OK;
  });
}

PageKeyRouter::~PageKeyRouter() { vkr::ui::RemoveMessageFilter(m_cookie); }

void TestPropertyPageClasses::Revoke() {
  if (m_settingsCookie) CoRevokeClassObject(std::exchange(m_settingsCookie, 0));
  if (m_rangeCookie) CoRevokeClassObject(std::exchange(m_rangeCookie, 0));
}

}  // namespace vkr::test
