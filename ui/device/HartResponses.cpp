// Decoders of the answers of HART commands 1, 2, 14 and 15 (see HartResponses.h).
#include "ui/device/HartResponses.h"

#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/ByteSpan.h"

namespace vkr::dui {

namespace {

HRESULT SetValue(IovFdtParameterHandler4* dtm, LONG id, const VARIANT& value) {
  return dtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(id)), value);
}

VARIANT R4(float f) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}

VARIANT UI1(BYTE b) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = b;
  return v;
}

}  // namespace

SCommand1Response DecodeCommand1(std::span<const BYTE> data) {
  const CByteReader r(data);
  return {r.U8(0), r.Float(1)};
}

SCommand2Response DecodeCommand2(std::span<const BYTE> data) {
  const CByteReader r(data);
  return {r.Float(0), r.Float(4)};
}

SCommand14Response DecodeCommand14(std::span<const BYTE> data) {
  const CByteReader r(data);
  return {r.U24(0), r.U8(3), r.Float(4), r.Float(8), r.Float(12)};
}

SCommand15Response DecodeCommand15(std::span<const BYTE> data) {
  const CByteReader r(data);
  // The range is its unit with both values: a unit alone would relabel numbers given in another,
  // values alone would take the unit of earlier ones.
  if (!r.Has(2, 9)) return {r.U8(0), r.U8(1), std::nullopt, std::nullopt, std::nullopt, r.Float(11)};
  return {r.U8(0), r.U8(1), r.U8(2), r.Float(3), r.Float(7), r.Float(11)};
}

HRESULT StorePvUnitIfChanged(IovFdtParameterHandler4* dtm, BYTE unit, USHORT* lastUnit) {
  if (!dtm || !lastUnit) return E_POINTER;
  if (*lastUnit == unit) return S_FALSE;
  HRESULT hr = SetValue(dtm, kParPvUnitUser, UI1(unit));
  if (FAILED(hr)) return hr;
  *lastUnit = unit;
  return S_OK;
}

HRESULT StoreCommand15Values(IovFdtParameterHandler4* dtm, const SCommand15Response& answer, BYTE* rangeUnit) {
  if (!dtm) return E_POINTER;
  HRESULT hr = S_OK;
  if (answer.rangeUnit) {
    if (rangeUnit) *rangeUnit = *answer.rangeUnit;
    if (FAILED(hr = SetValue(dtm, kParRangeUnit, UI1(*answer.rangeUnit)))) return hr;
  }
  if (answer.upperRange && FAILED(hr = SetValue(dtm, kParUpperRange, R4(*answer.upperRange)))) return hr;
  if (answer.lowerRange && FAILED(hr = SetValue(dtm, kParLowerRange, R4(*answer.lowerRange)))) return hr;
  if (answer.damping && FAILED(hr = SetValue(dtm, kParDampingUser, R4(*answer.damping)))) return hr;
  return S_OK;
}

}  // namespace vkr::dui
