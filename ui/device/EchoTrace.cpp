// The echo trace control: the family's behaviour and nothing more.
#include "ui/device/EchoTrace.h"

#include "include/ProgramIds.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

namespace {

constexpr UINT kUnusedCloseButton = 632;

SCompositeControlClass EchoTraceClass() {
  SCompositeControlClass cls;
  cls.dialogId = kEchoTraceDialogId;
  return cls;
}

}  // namespace

CEchoTrace::CEchoTrace()
    : CovFDT_IDtmActiveXControlImpl(CLSID_EchoTrace, &CEchoTrace::GetParameterMap, EchoTraceClass()) {
  m_nApplyButtonId = kApplyButtonId;
}

CEchoTrace::~CEchoTrace() = default;

CActXParInfo* CEchoTrace::GetParameterMap(int* count, BOOL copy) { return EmptyParameterMap(count, copy); }

void* CEchoTrace::FindInterface(REFIID riid) {
  if (riid == IEchoTrace::iid) return static_cast<IEchoTrace*>(this);
  return CovFDT_IDtmActiveXControlImpl::FindInterface(riid);
}

HRESULT CEchoTrace::GetTypeInfoCount(UINT* count) { return CovFDT_IDtmActiveXControlImpl::GetTypeInfoCount(count); }
HRESULT CEchoTrace::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_IDtmActiveXControlImpl::GetTypeInfo(index, lcid, info);
}
HRESULT CEchoTrace::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return CovFDT_IDtmActiveXControlImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT CEchoTrace::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_IDtmActiveXControlImpl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

BOOL CEchoTrace::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_INITDIALOG || message == WM_SIZE) {
    if (result) *result = message == WM_INITDIALOG ? TRUE : 0;
    return TRUE;
  }
  // A Close button does nothing here (the dialog has none).
  if (message == WM_COMMAND && LOWORD(wParam) == kUnusedCloseButton && HIWORD(wParam) == BN_CLICKED) {
    if (result) *result = 0;
    return TRUE;
  }
  // OK, Cancel and Apply: the family's handlers; then the shared maps.
  return CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

}  // namespace vkr::dui
