// The tests' own control on the control layer.
#include "tests/support/test_control.h"

#include <string>

#include "tests/support/test_user_interface.h"

namespace vkr::test {

int CTestControl::liveCount = 0;

namespace {

constexpr const char kTemplate[] = R"(
9101 DIALOGEX 0, 0, 320, 270
STYLE DS_CONTROL | WS_CHILD | WS_VISIBLE
EXSTYLE WS_EX_CONTROLPARENT
FONT 8, "MS Sans Serif"
BEGIN
  LTEXT "Damping", 400, 5, 7, 70, 8
  EDITTEXT 300, 80, 5, 70, 12, ES_AUTOHSCROLL
  LTEXT "", 500, 160, 7, 40, 8
  LTEXT "Upper range", -1, 5, 22, 70, 8
  EDITTEXT 301, 80, 20, 70, 12, ES_AUTOHSCROLL
  LTEXT "Tag", -1, 5, 37, 70, 8
  EDITTEXT 302, 80, 35, 70, 12, ES_AUTOHSCROLL
  LTEXT "Message", -1, 5, 52, 70, 8
  EDITTEXT 303, 80, 50, 160, 12, ES_AUTOHSCROLL
  LTEXT "Short address", -1, 5, 67, 70, 8
  EDITTEXT 304, 80, 65, 40, 12, ES_AUTOHSCROLL
  LTEXT "PV unit", -1, 5, 82, 70, 8
  COMBOBOX 305, 80, 80, 70, 60, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
  LTEXT "", 311, 160, 82, 80, 8
  LTEXT "Device status", -1, 5, 97, 70, 8
  LISTBOX 306, 80, 95, 100, 40, LBS_MULTIPLESEL | LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP
  AUTOCHECKBOX "Addressing", 307, 80, 140, 80, 10, BS_AUTOCHECKBOX | BS_NOTIFY | WS_TABSTOP
  CONTROL "Primary master", 308, "Button", BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP, 80, 153, 80, 10
  CONTROL "Loop current", 309, "Button", BS_OWNERDRAW | BS_NOTIFY | WS_TABSTOP, 170, 153, 80, 10
  LTEXT "Date", -1, 5, 170, 70, 8
  EDITTEXT 310, 80, 168, 70, 12, ES_AUTOHSCROLL
  LTEXT "Distance", -1, 5, 185, 70, 8
  EDITTEXT 312, 80, 183, 70, 12, ES_AUTOHSCROLL
  LTEXT "Current value", -1, 5, 200, 70, 8
  LTEXT "", 314, 80, 200, 70, 8
  PUSHBUTTON "Refresh", 313, 80, 225, 50, 14
  DEFPUSHBUTTON "OK", 1, 100, 250, 50, 14
  PUSHBUTTON "Cancel", 2, 160, 250, 50, 14
  PUSHBUTTON "Apply", 102, 220, 250, 50, 14
END
)";

constexpr const char kTemplateWithDisplays[] = R"(
9102 DIALOGEX 0, 0, 320, 120
STYLE DS_CONTROL | WS_CHILD | WS_VISIBLE
EXSTYLE WS_EX_CONTROLPARENT
FONT 8, "MS Sans Serif"
BEGIN
  EDITTEXT 300, 80, 5, 70, 12, ES_AUTOHSCROLL
  CONTROL "", 218, "VornDlgObjects.StatusDisplay", 0, 5, 30, 200, 20
  CONTROL "", 219, "VornDlgObjects.StatusDisplay", 0, 5, 55, 200, 20
  DEFPUSHBUTTON "OK", 1, 100, 100, 50, 14
  PUSHBUTTON "Cancel", 2, 160, 100, 50, 14
END
)";

constexpr UINT kListedDisplays[] = {kTestListedDisplay, 0};

SCompositeControlClass TestControlClass(bool withDisplays) {
  SCompositeControlClass cls;
  cls.dialogId = withDisplays ? 9102 : kTestControlDialogId;
  cls.templateText = withDisplays ? kTemplateWithDisplays : kTemplate;
  cls.hostedDisplayControls = withDisplays ? kListedDisplays : nullptr;
  return cls;
}

DWORD g_cookie = 0;

}  // namespace

const char* CTestControl::DialogTemplateText() { return kTemplate; }

CTestControl::CTestControl(bool withDisplays)
    : CovFDT_IDtmActiveXControlImpl(CLSID_TestControl, &CTestUserInterface::GetParameterMap,
                                    TestControlClass(withDisplays)) {
  ++liveCount;
}

CTestControl::~CTestControl() { --liveCount; }

HRESULT CTestControl::ReportError(BSTR text) {
  errors.emplace_back(text ? std::u16string(text, SysStringLen(text)) : std::u16string());
  return S_OK;
}

HRESULT CTestControl::NotifyStatus(ULONG kind, ULONG value) {
  statuses.emplace_back(kind, value);
  return S_OK;
}

HRESULT RegisterTestControl() {
  if (g_cookie) return S_OK;
  OLECHAR clsid[40] = {};
  StringFromGUID2(CLSID_TestControl, clsid, 40);
  const std::u16string path = u"CLSID\\" + std::u16string(clsid);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(path.c_str()), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return REGDB_E_WRITEREGDB;
  const std::u16string userType(kTestControlUserType);
  const LSTATUS status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(userType.c_str()),
                                        static_cast<DWORD>((userType.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return REGDB_E_WRITEREGDB;
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CTestControl>>> factory;
  HRESULT hr = vkr::MakeObject<vkr::ClassFactory<CTestControl>>(&factory);
  if (FAILED(hr)) return hr;
  return CoRegisterClassObject(CLSID_TestControl, static_cast<IClassFactory*>(factory.Get()), CLSCTX_INPROC_SERVER,
                               REGCLS_MULTIPLEUSE, &g_cookie);
}

void RevokeTestControl() {
  if (g_cookie) CoRevokeClassObject(g_cookie);
  g_cookie = 0;
}

CTestControl* AsTestControl(IUnknown* control) {
  if (!control) return nullptr;
  vkr::ComPtr<IDtmActiveXControl> ui;
  if (FAILED(control->QueryInterface(IDtmActiveXControl::iid, ui.PutVoid())) || !ui) return nullptr;
  return dynamic_cast<CTestControl*>(ui.Get());
}

}  // namespace vkr::test
