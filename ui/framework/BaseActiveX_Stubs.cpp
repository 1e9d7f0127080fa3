// Bodies not built yet, by area; each area's owner deletes its part here as it builds its own.
#include "ui/framework/BaseActiveX.h"

// ===== Values ====================================================================================
HRESULT CovFDT_BaseActiveXImpl::ReportErrorText(LPCWSTR) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::ReadParameter(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::FillControlChoices(ULONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::CommitControlValue(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetFocusToControl() { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetControlValue(LONG, VARIANT) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetControlValueById(LONG, VARIANT) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetComboBoxValue(ULONG, VARIANT) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetListBoxValue(ULONG, VARIANT) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::GetControlValue(ULONG, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::GetCheckValue(ULONG, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::IsValueChanged(ULONG, VARIANT*, BOOLEAN*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::GetListValue(ULONG, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::IsValueChangedEx(ULONG, VARIANT*, BOOLEAN*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::GetControlValueById(LONG, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::ValidateControlValue(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::ValidateControlValueEx(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::ReadDeviceParameterEx(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::CheckParameterInput(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::ShowParameterDisplayText(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::GetParameterDisplayText(LONG, BSTR*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::OnControlKillFocus(UINT, WPARAM, LPARAM, BOOL*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::OnControlChange(UINT, UINT, HWND) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::OnParameterChangedEvent(VARIANT) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::ConvertValue(VARIANT, VARIANT) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::CompareValues(VARIANT, ULONG*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::GetDlgItemFloat(LONG, const char*, float*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetDlgItemFloat(LONG, const char*, float) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetDlgItemDouble(LONG, const char*, double) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetDlgItemNumber(LONG, const char*, double) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::ParseFloatText(char*, const char*, float*) { return E_NOTIMPL; }
