// The FDT user-interface side of the controls: start, release, OK, Apply and Cancel.
#include "ui/framework/ActiveXControl.h"

CovFDT_IDtmActiveXControlImpl::CovFDT_IDtmActiveXControlImpl(const CLSID& clsid, ParameterMapFunction parameterMap,
                                                             const SCompositeControlClass& cls)
    : CovFDT_BaseActiveXImplEx(clsid, parameterMap, cls) {}

CovFDT_IDtmActiveXControlImpl::~CovFDT_IDtmActiveXControlImpl() = default;

void* CovFDT_IDtmActiveXControlImpl::FindInterface(REFIID riid) {
  if (void* found = CovFDT_BaseActiveXImplEx::FindInterface(riid)) return found;
  return vkr::detail::MatchInterface<IDtmActiveXControl>(static_cast<IDtmActiveXControl*>(this), riid);
}

HRESULT CovFDT_IDtmActiveXControlImpl::GetTypeInfoCount(UINT* count) {
  return CovFDT_BaseActiveXImpl::GetTypeInfoCount(count);
}
HRESULT CovFDT_IDtmActiveXControlImpl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_BaseActiveXImpl::GetTypeInfo(index, lcid, info);
}
HRESULT CovFDT_IDtmActiveXControlImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                                     DISPID* ids) {
  return CovFDT_BaseActiveXImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT CovFDT_IDtmActiveXControlImpl::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                              VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_BaseActiveXImpl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

HRESULT CovFDT_IDtmActiveXControlImpl::Init(BSTR, BSTR, IDtm*, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return S_FALSE;
}
HRESULT CovFDT_IDtmActiveXControlImpl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return S_FALSE;
}
HRESULT CovFDT_IDtmActiveXControlImpl::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  return CovFDT_BaseActiveXImpl::InitializeUI(dtm, ok);
}
HRESULT CovFDT_IDtmActiveXControlImpl::UninitializeUI(VARIANT_BOOL* ok) { return CovFDT_BaseActiveXImpl::UninitializeUI(ok); }
HRESULT CovFDT_IDtmActiveXControlImpl::ApplicationIdFromName(LPCWSTR, ULONG*) { return E_FAIL; }
HRESULT CovFDT_IDtmActiveXControlImpl::ReadFunctionId(BSTR, LONG*) { return E_NOTIMPL; }
LONG CovFDT_IDtmActiveXControlImpl::AskUser(LPCWSTR, LPCWSTR, ULONG) { return 0; }
LRESULT CovFDT_IDtmActiveXControlImpl::OnOK(WORD, WORD, HWND, BOOL*) { return 0; }
LRESULT CovFDT_IDtmActiveXControlImpl::OnApply(WORD, WORD, HWND, BOOL*) { return 0; }
LRESULT CovFDT_IDtmActiveXControlImpl::OnCancel(WORD, WORD, HWND, BOOL*) { return 0; }
BOOL CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                         LRESULT* result) {
  return CovFDT_BaseActiveXImplEx::ProcessWindowMessage(window, message, wParam, lParam, result);
}
HRESULT CovFDT_IDtmActiveXControlImpl::RegisterWithContainer(BSTR) { return E_NOTIMPL; }
HRESULT CovFDT_IDtmActiveXControlImpl::UnregisterFromContainer() { return E_NOTIMPL; }
void CovFDT_IDtmActiveXControlImpl::AbandonStart() {}
HRESULT CovFDT_IDtmActiveXControlImpl::ReadFunctionDetails(IDtm*) { return E_NOTIMPL; }
HRESULT CovFDT_IDtmActiveXControlImpl::ChooseDialogType() { return E_NOTIMPL; }
HRESULT CovFDT_IDtmActiveXControlImpl::BindHostedControls() { return E_NOTIMPL; }
HRESULT CovFDT_IDtmActiveXControlImpl::StartWithoutDevice() { return E_NOTIMPL; }

CovFDT_IDtmActiveXImplEx::CovFDT_IDtmActiveXImplEx(const CLSID& clsid, ParameterMapFunction parameterMap,
                                                   const SCompositeControlClass& cls)
    : CovFDT_IDtmActiveXControlImpl(clsid, parameterMap, cls) {}
CovFDT_IDtmActiveXImplEx::~CovFDT_IDtmActiveXImplEx() = default;
HRESULT CovFDT_IDtmActiveXImplEx::OnNotifyAllEvent(VARIANT language) {
  return CovFDT_BaseActiveXImpl::OnNotifyAllEvent(language);
}
HRESULT CovFDT_IDtmActiveXImplEx::OnDtmStateChanged(ULONG state) { return CovFDT_BaseActiveXImpl::OnDtmStateChanged(state); }
