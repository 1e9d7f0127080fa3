// What stands in for the DTM's own user interfaces in tests: the calls a page or control makes on
// the DTM through the DTM's framework interfaces, which no frame has (its state, its DTM messages,
// the parameter values of the data set and those last read from the device). The stand-in frame
// drives the DTM through FDT interfaces only; a test that has to see or do what a user interface
// sees or does takes it from here. Free of GoogleTest.
#pragma once

#include "include/DtmInterfaces.h"
#include "include/DtmMessages.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"

namespace vkr::test::ui {

// The parameter field that holds the value last read from the device.
inline constexpr ULONG kDeviceValueField = 0x200000;

// The DTM's state as a user interface asks it; dsUNDEFINED when it cannot be asked.
inline EDtmState DtmState(IUnknown* dtm) {
  EDtmState state = dsUNDEFINED;
  vkr::ComPtr<IovFdtBaseDTM> base;
  if (dtm && SUCCEEDED(dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid())) && base) base->GetDTMState(&state);
  return state;
}

// A DTM message as a user interface sends it: the message's answer, or E_NOINTERFACE.
inline HRESULT SendDtmMessage(IUnknown* dtm, ULONG id, const VARIANT& argument = vkr::EmptyVariant()) {
  vkr::ComPtr<IovFdtDtmEvents> events;
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtDtmEvents::iid, events.PutVoid())) || !events) return E_NOINTERFACE;
  return events->DtmMessage(vkr::UI4(id), argument);
}

// A user interface's online and offline buttons. Both answer at once; the DTM's state follows.
inline HRESULT GoOnline(IUnknown* dtm) { return SendDtmMessage(dtm, kMsgGoOnline); }
inline HRESULT GoOffline(IUnknown* dtm) { return SendDtmMessage(dtm, kMsgGoOffline); }

// A parameter's value in the data set; *result (when given) says whether it could be had.
inline vkr::Variant ParameterValue(IUnknown* dtm, ULONG id, HRESULT* result = nullptr) {
  vkr::Variant value;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  HRESULT hr = E_NOINTERFACE;
  if (dtm && SUCCEEDED(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid())) && handler)
    hr = handler->GetParameterValue(vkr::UI4(id), value.Put());
  if (result) *result = hr;
  return value;
}

// A parameter's value as last read from the device; *result as for ParameterValue.
inline vkr::Variant DeviceValue(IUnknown* dtm, ULONG id, HRESULT* result = nullptr) {
  vkr::Variant value;
  vkr::ComPtr<IovFdtParameterInfo> info;
  HRESULT hr = E_NOINTERFACE;
  if (dtm && SUCCEEDED(dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) && info)
    hr = info->GetParameterField(vkr::UI4(id), vkr::UI4(kDeviceValueField), value.Put());
  if (result) *result = hr;
  return value;
}

}  // namespace vkr::test::ui
