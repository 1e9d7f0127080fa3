// The online usage counter in DTM parameter 1047 (see OnlineUsageCounter.h).
#include "ui/device/kit/OnlineUsageCounter.h"

#include "ui/device/DeviceUiIds.h"
#include "ui/framework/BaseActiveX.h"

namespace vkr::dui {

namespace {

// The counter's value; a missing or unreadable value counts as 0.
ULONG ReadCount(CovFDT_BaseActiveXImpl& ui, HRESULT* hr) {
  vkr::Variant value;
  *hr = ui.GetDtmParameterValue(kParOnlineAxCounter, &value);
  LONG number = 0;
  if (FAILED(*hr) || !CovFDT_BaseActiveXImpl::ReadNumber(value, &number) || number < 0) return 0;
  return static_cast<ULONG>(number);
}

}  // namespace

HRESULT COnlineUsageCounter::CountIn(CovFDT_BaseActiveXImpl& ui, ULONG dtmState) {
  if (m_bCounted) return S_FALSE;
  if (dtmState == kDtmStateCommunicationSet || dtmState == kDtmStateGoingOffline) {
    HRESULT hr = ui.SendDtmMessage(kDtmMessageGoOnline, vkr::I4(0));
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = S_OK;
  const ULONG count = ReadCount(ui, &hr);
  if (FAILED(hr)) return hr;
  hr = ui.SetDtmParameterValue(kParOnlineAxCounter, vkr::UI4(count + 1));
  if (FAILED(hr)) return hr;
  m_bCounted = true;
  return S_OK;
}

HRESULT COnlineUsageCounter::CountOut(CovFDT_BaseActiveXImpl& ui, ULONG dtmState) {
  if (!m_bCounted) return S_FALSE;
  m_bCounted = false;
  HRESULT hr = S_OK;
  ULONG count = ReadCount(ui, &hr);
  if (FAILED(hr)) return hr;
  if (count > 0) --count;
  hr = ui.SetDtmParameterValue(kParOnlineAxCounter, vkr::UI4(count));
  if (FAILED(hr)) return hr;
  if (count == 0 && (dtmState == kDtmStateOnline || dtmState == kDtmStateGoingOnline))
    return ui.SendDtmMessage(kDtmMessageGoOffline, vkr::I4(0));
  return S_OK;
}

}  // namespace vkr::dui
