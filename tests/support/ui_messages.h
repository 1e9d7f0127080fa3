// What an open user interface of the DTM sends it: numbered DTM messages through the DTM's own
// message entry (IovFdtDtmEvents), as a page's cancel button or refresh does. A frame never sends
// these; tests that stand in for a user interface use this instead of the frame's FDT calls.
#pragma once

#include "include/DtmInterfaces.h"
#include "platform/platform.h"

namespace vkr::test {

// Sends DTM message `id` with `argument` to the DTM behind `dtm`; E_NOINTERFACE without the entry.
inline HRESULT SendUiMessage(IUnknown* dtm, LONG id, const VARIANT& argument) {
  vkr::ComPtr<IovFdtDtmEvents> events;
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtDtmEvents::iid, events.PutVoid())) || !events) return E_NOINTERFACE;
  return events->DtmMessage(vkr::I4(id), argument);
}

// The cancel of a running upload or download (message 48 with TRUE; FALSE takes it back).
inline HRESULT SendUiCancelTransfer(IUnknown* dtm, bool cancel = true) {
  VARIANT flag;
  VariantInit(&flag);
  flag.vt = VT_BOOL;
  flag.boolVal = cancel ? VARIANT_TRUE : VARIANT_FALSE;
  return SendUiMessage(dtm, 48, flag);
}

// The refresh of the online cache of a parameter list (message 51 with {text, list name}).
inline HRESULT SendUiRefreshOnlineCache(IUnknown* dtm, const char16_t* text, const char16_t* listName) {
  vkr::Variant argument, first, second;
  argument.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (!argument.parray) return E_OUTOFMEMORY;
  argument.vt = VT_ARRAY | VT_VARIANT;
  first.vt = second.vt = VT_BSTR;
  first.bstrVal = SysAllocString(text);
  second.bstrVal = SysAllocString(listName);
  LONG index = 0;
  HRESULT hr = SafeArrayPutElement(argument.parray, &index, first.Ptr());
  index = 1;
  if (SUCCEEDED(hr)) hr = SafeArrayPutElement(argument.parray, &index, second.Ptr());
  return FAILED(hr) ? hr : SendUiMessage(dtm, 51, argument);
}

}  // namespace vkr::test
