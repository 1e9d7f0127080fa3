// Bodies not built yet, by area; each area's owner deletes its part here as it builds its own.
#include "ui/framework/BaseActiveX.h"


// ===== State and drawing =========================================================================
HRESULT CovFDT_BaseActiveXImpl::SetControlState(LONG, ULONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetStatusIndicator(ULONG, ULONG, ULONG, BOOL) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::SetControlStateById(LONG, ULONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::ApplyOnlineAccess(BOOL) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::RefreshAllParameters(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::RefreshParameter(LONG) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::OnShowWindow(UINT, WPARAM, LPARAM, BOOL*) { return E_NOTIMPL; }
LRESULT CovFDT_BaseActiveXImpl::OnCtlColorEdit(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CovFDT_BaseActiveXImpl::OnCtlColorListBox(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CovFDT_BaseActiveXImpl::OnCtlColorStatic(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
LRESULT CovFDT_BaseActiveXImpl::OnCtlColorDlg(UINT, WPARAM, LPARAM, BOOL*) { return 0; }
HRESULT CovFDT_BaseActiveXImpl::OnDrawItem(UINT, DRAWITEMSTRUCT*) { return E_NOTIMPL; }
COLORREF CovFDT_BaseActiveXImpl::ResolveColor(LONG, ULONG) { return 0; }
HRESULT CovFDT_BaseActiveXImpl::CreateStatusIndicators(BOOL) { return E_NOTIMPL; }
HRESULT CovFDT_BaseActiveXImpl::DestroyIndicatorWindows() { return E_NOTIMPL; }
