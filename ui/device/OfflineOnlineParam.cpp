// The offline/online values control: its table, its start and release.
#include "ui/device/OfflineOnlineParam.h"

#include "include/ProgramIds.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr ULONG kStateFlags = 113;
// Plain value controls: the framework shows and reads values only for those (a command entry's
// control shows nothing).
constexpr ULONG kKindWord = 0;
constexpr ULONG kDialogTypeOffline = 2;

}  // namespace

COfflineOnlineParam::COfflineOnlineParam()
    : COnlineCountedControl(CLSID_OfflineOnlineParam, &COfflineOnlineParam::GetParameterMap,
                            kOfflineOnlineParamDialogId) {}

COfflineOnlineParam::~COfflineOnlineParam() = default;

CActXParInfo* COfflineOnlineParam::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[10];
  static const bool filled = [] {
    const struct {
      LONG id;
      const char* name;
      UINT control;
      const char* format;
    } rows[] = {
        {1048, "Current value", kValuesFormCurrent, "%.3f"}, {1049, "PV value", kValuesFormPv, "%.3f"},
        {1050, "SV value", kValuesFormSv, "%.3f"},           {1054, "Tag", kValuesFormTag, "%s"},
        {1055, "Descriptor", kValuesFormDescriptor, "%s"},   {1051, "Message", kValuesFormMessage, "%s"},
        {1056, "Day", kValuesFormDay, "%u"},                 {1057, "Month", kValuesFormMonth, "%u"},
        {1058, "Year", kValuesFormYear, "%u"},
    };
    int i = 0;
    for (const auto& row : rows)
      entries[i++] = CActXParInfo(row.id, row.name, row.control, row.format, kStateFlags, FALSE, kKindWord);
    // entries[9]: the end entry as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 9;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

void* COfflineOnlineParam::FindInterface(REFIID riid) {
  if (riid == IOfflineOnlineParam::iid) return static_cast<IOfflineOnlineParam*>(this);
  return COnlineCountedControl::FindInterface(riid);
}

HRESULT COfflineOnlineParam::GetTypeInfoCount(UINT* count) { return COnlineCountedControl::GetTypeInfoCount(count); }
HRESULT COfflineOnlineParam::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return COnlineCountedControl::GetTypeInfo(index, lcid, info);
}
HRESULT COfflineOnlineParam::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return COnlineCountedControl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT COfflineOnlineParam::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return COnlineCountedControl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

HRESULT COfflineOnlineParam::Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  if (!dtm) return E_POINTER;
  const HRESULT hr = StartControl(instanceId, functionCall, dtm, result);
  if (hr != S_OK) return hr;
  if (m_nDialogType == kDialogTypeOffline) return S_OK;
  m_usage.CountIn(*this, CurrentDtmState());
  return S_OK;
}

HRESULT COfflineOnlineParam::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  // Whatever the dialog type: what was counted in is counted out.
  m_usage.CountOut(*this, CurrentDtmState());
  return COnlineCountedControl::PrepareToRelease(result);
}

BOOL COfflineOnlineParam::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                               LRESULT* result) {
  if (message == WM_INITDIALOG) {
    if (result) *result = TRUE;
    return TRUE;
  }
  // OK (write, then the close request when it worked), Cancel, Apply (write): the control
  // family's handlers, which write through ApplyParameterChanges.
  return COnlineCountedControl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

}  // namespace vkr::dui
