// The two test pages: their tables, templates and strings, and their class registration.
#include "tests/support/test_property_page.h"

#include <utility>

namespace vkr::test {

CTestSettingsPage::CTestSettingsPage() : CovFDT_PropertyPageImpl(SPropertyPageClass{kTestSettingsPageClsid, &GetParameterMap}) {}
CActXParInfo* CTestSettingsPage::GetParameterMap(int* count, BOOL) {
  if (count) *count = 0;
  return nullptr;
}
bool CTestSettingsPage::LoadPageString(UINT, std::u16string*) { return false; }

CTestRangePage::CTestRangePage() : CovFDT_PropertyPageImpl(SPropertyPageClass{kTestRangePageClsid, &GetParameterMap}) {}
CActXParInfo* CTestRangePage::GetParameterMap(int* count, BOOL) {
  if (count) *count = 0;
  return nullptr;
}
bool CTestRangePage::LoadPageString(UINT, std::u16string*) { return false; }

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

void TestPropertyPageClasses::Revoke() {
  if (m_settingsCookie) CoRevokeClassObject(std::exchange(m_settingsCookie, 0));
  if (m_rangeCookie) CoRevokeClassObject(std::exchange(m_rangeCookie, 0));
}

}  // namespace vkr::test
