// The property-page layer: construction, the start and release through the DTM, the
// IPropertyPage operations, the page map and the keyboard rules inside a page.
#include "ui/framework/PropertyPage.h"

// ---- Construction -------------------------------------------------------------------------------

CovFDT_BasePropertyPageImpl::CovFDT_BasePropertyPageImpl(const SPropertyPageClass& pageClass)
    : CovFDT_BaseActiveXImpl(pageClass.clsid, pageClass.parameterMap, EUiFamily::Page), m_class(pageClass) {}

CovFDT_BasePropertyPageImpl::~CovFDT_BasePropertyPageImpl() = default;

HRESULT CovFDT_BasePropertyPageImpl::GetTypeInfoCount(UINT* count) {
  return CovFDT_BaseActiveXImpl::GetTypeInfoCount(count);
}
HRESULT CovFDT_BasePropertyPageImpl::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return CovFDT_BaseActiveXImpl::GetTypeInfo(index, locale, info);
}
HRESULT CovFDT_BasePropertyPageImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                                   DISPID* ids) {
  return CovFDT_BaseActiveXImpl::GetIDsOfNames(riid, names, count, locale, ids);
}
HRESULT CovFDT_BasePropertyPageImpl::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                                            VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  return CovFDT_BaseActiveXImpl::Invoke(id, riid, locale, flags, params, result, exception, argError);
}

void* CovFDT_BasePropertyPageImpl::FindInterface(REFIID riid) {
  if (riid == IPropertyPage::iid) return static_cast<IPropertyPage*>(this);
  if (riid == IovFdtPropertyPageControl::iid) return static_cast<IovFdtPropertyPageControl*>(this);
  return CovFDT_BaseActiveXImpl::FindInterface(riid);
}
HRESULT CovFDT_BasePropertyPageImpl::QueryExtraInterface(REFIID riid, void** ppv) {
  return CovFDT_BaseActiveXImpl::QueryExtraInterface(riid, ppv);
}
IUnknown* CovFDT_BasePropertyPageImpl::IdentityUnknown() { return CovFDT_BaseActiveXImpl::IdentityUnknown(); }
IUnknown* CovFDT_BasePropertyPageImpl::OwnerUnknown() { return GetControllingUnknown(); }

// ---- IovFdtPropertyPageControl ------------------------------------------------------------------

HRESULT CovFDT_BasePropertyPageImpl::Init(BSTR, BSTR, IUnknown*, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return E_NOTIMPL;
}
HRESULT CovFDT_BasePropertyPageImpl::PrepareToRelease(VARIANT_BOOL* ready) {
  if (!ready) return E_POINTER;
  *ready = VARIANT_FALSE;
  return E_NOTIMPL;
}
HRESULT CovFDT_BasePropertyPageImpl::Announce(IUnknown*) { return E_NOTIMPL; }
void CovFDT_BasePropertyPageImpl::WithdrawAnnouncement(IUnknown*) {}

// ---- IPropertyPage ------------------------------------------------------------------------------

HRESULT CovFDT_BasePropertyPageImpl::SetPageSite(IPropertyPageSite* site) {
  m_spPageSite = site;
  return S_OK;
}
HRESULT CovFDT_BasePropertyPageImpl::Activate(HWND, LPCRECT, BOOL) { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::Deactivate() { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::GetPageInfo(PROPPAGEINFO*) { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::SetObjects(ULONG, IUnknown**) { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::Show(UINT) { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::Move(LPCRECT) { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::IsPageDirty() { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::Apply() { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::Help(LPCOLESTR) { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::TranslateAccelerator(MSG*) { return E_NOTIMPL; }

HRESULT CovFDT_BasePropertyPageImpl::SetInfo(VARIANT id, VARIANT* value) {
  return CovFDT_BaseActiveXImpl::SetInfo(id, value);
}

// ---- The page's own operations ------------------------------------------------------------------

BOOL CovFDT_BasePropertyPageImpl::HandleNavigationKey(MSG*, ULONG* state) {
  if (state) *state = 0;
  return FALSE;
}
BOOL CovFDT_BasePropertyPageImpl::HandleEnterKey(HWND) { return FALSE; }
HRESULT CovFDT_BasePropertyPageImpl::TranslatePageInfo(PROPPAGEINFO*) { return E_NOTIMPL; }
HRESULT CovFDT_BasePropertyPageImpl::GetInstanceId(BSTR* text) {
  if (!text) return E_FAIL;
  *text = nullptr;
  return E_NOTIMPL;
}
HRESULT CovFDT_BasePropertyPageImpl::QueryPageFrame(void** frame) {
  if (!frame) return E_INVALIDARG;
  *frame = nullptr;
  return E_NOINTERFACE;
}
BOOL CovFDT_BasePropertyPageImpl::ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT&, DWORD) { return FALSE; }
BOOL CovFDT_BasePropertyPageImpl::OnPageCommand(WPARAM, LPARAM, LRESULT*) { return FALSE; }
bool CovFDT_BasePropertyPageImpl::LoadPageString(UINT, std::u16string*) { return false; }

// ---- CovFDT_PropertyPageImpl --------------------------------------------------------------------

CovFDT_PropertyPageImpl::CovFDT_PropertyPageImpl(const SPropertyPageClass& pageClass)
    : CovFDT_BasePropertyPageImpl(pageClass) {}
CovFDT_PropertyPageImpl::~CovFDT_PropertyPageImpl() = default;

HRESULT CovFDT_PropertyPageImpl::GetTypeInfoCount(UINT* count) {
  return CovFDT_BasePropertyPageImpl::GetTypeInfoCount(count);
}
HRESULT CovFDT_PropertyPageImpl::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return CovFDT_BasePropertyPageImpl::GetTypeInfo(index, locale, info);
}
HRESULT CovFDT_PropertyPageImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return CovFDT_BasePropertyPageImpl::GetIDsOfNames(riid, names, count, locale, ids);
}
HRESULT CovFDT_PropertyPageImpl::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                                        VARIANT* result, EXCEPINFO* exception, UINT* argError) {
  return CovFDT_BasePropertyPageImpl::Invoke(id, riid, locale, flags, params, result, exception, argError);
}
HRESULT CovFDT_PropertyPageImpl::OnTranslate(ULONG) { return S_OK; }
BOOL CovFDT_PropertyPageImpl::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                   LRESULT& result, DWORD mapId) {
  if (mapId != 0) return FALSE;
  return CovFDT_BasePropertyPageImpl::ProcessWindowMessage(window, message, wParam, lParam, result, mapId) ? TRUE
                                                                                                          : FALSE;
}
void* CovFDT_PropertyPageImpl::FindInterface(REFIID riid) {
  if (riid == IovFdtTranslationEvent::iid) return static_cast<IovFdtTranslationEvent*>(this);
  return CovFDT_BasePropertyPageImpl::FindInterface(riid);
}
