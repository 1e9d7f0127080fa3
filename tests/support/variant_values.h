// Short ways to make VARIANT values for the parameter tests.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::test {

inline vkr::Variant I2(SHORT v) {
  vkr::Variant r;
  r.vt = VT_I2;
  r.iVal = v;
  return r;
}
inline vkr::Variant I4(LONG v) {
  vkr::Variant r;
  r.vt = VT_I4;
  r.lVal = v;
  return r;
}
inline vkr::Variant UI1(BYTE v) {
  vkr::Variant r;
  r.vt = VT_UI1;
  r.bVal = v;
  return r;
}
inline vkr::Variant UI2(USHORT v) {
  vkr::Variant r;
  r.vt = VT_UI2;
  r.uiVal = v;
  return r;
}
inline vkr::Variant UI4(ULONG v) {
  vkr::Variant r;
  r.vt = VT_UI4;
  r.ulVal = v;
  return r;
}
inline vkr::Variant I8(LONGLONG v) {
  vkr::Variant r;
  r.vt = VT_I8;
  r.llVal = v;
  return r;
}
inline vkr::Variant UI8(ULONGLONG v) {
  vkr::Variant r;
  r.vt = VT_UI8;
  r.ullVal = v;
  return r;
}
inline vkr::Variant R4(float v) {
  vkr::Variant r;
  r.vt = VT_R4;
  r.fltVal = v;
  return r;
}
inline vkr::Variant R8(double v) {
  vkr::Variant r;
  r.vt = VT_R8;
  r.dblVal = v;
  return r;
}
inline vkr::Variant Bool(bool v) {
  vkr::Variant r;
  r.vt = VT_BOOL;
  r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
  return r;
}
inline vkr::Variant Null() {
  vkr::Variant r;
  r.vt = VT_NULL;
  return r;
}
inline vkr::Variant Text(const char16_t* s) {
  vkr::Variant r;
  r.vt = VT_BSTR;
  r.bstrVal = s ? SysAllocString(s) : nullptr;
  return r;
}
// A DECIMAL from sign, scale and a 96-bit magnitude.
inline vkr::Variant Dec(bool negative, BYTE scale, ULONGLONG lo, ULONG hi = 0) {
  vkr::Variant r;
  r.decVal.sign = negative ? DECIMAL_NEG : 0;
  r.decVal.scale = scale;
  r.decVal.Lo64 = lo;
  r.decVal.Hi32 = hi;
  r.vt = VT_DECIMAL;
  return r;
}
inline vkr::Variant Bytes(std::initializer_list<BYTE> bytes, LONG lowerBound = 0) {
  vkr::Variant r;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, lowerBound, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(psa, &data);
  BYTE* p = static_cast<BYTE*>(data);
  for (BYTE b : bytes) *p++ = b;
  SafeArrayUnaccessData(psa);
  r.vt = VT_ARRAY | VT_UI1;
  r.parray = psa;
  return r;
}
// The bytes of a VT_ARRAY|VT_UI1 value; {0xFFFF} marks a value of another type.
inline std::vector<int> Bytes(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray) return {0xFFFF};
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(v.parray, 1, &lo);
  SafeArrayGetUBound(v.parray, 1, &hi);
  std::vector<int> out;
  for (LONG i = lo; i <= hi; ++i) {
    BYTE b = 0;
    SafeArrayGetElement(v.parray, &i, &b);
    out.push_back(b);
  }
  return out;
}

// A one-dimensional array of type vt from VARIANT elements converted by the platform.
inline vkr::Variant Array(VARTYPE vt, std::initializer_list<vkr::Variant> items, LONG lowerBound = 0) {
  vkr::Variant r;
  SAFEARRAY* psa = SafeArrayCreateVector(vt, lowerBound, static_cast<ULONG>(items.size()));
  LONG i = lowerBound;
  for (const vkr::Variant& item : items) {
    if (vt == VT_VARIANT) {
      SafeArrayPutElement(psa, &i, const_cast<vkr::Variant*>(&item));
    } else {
      vkr::Variant typed;
      VariantChangeType(&typed, &item, 0, vt);
      if (vt == VT_BSTR)
        SafeArrayPutElement(psa, &i, typed.bstrVal);
      else
        SafeArrayPutElement(psa, &i, &typed.llVal);
    }
    ++i;
  }
  r.vt = static_cast<VARTYPE>(VT_ARRAY | vt);
  r.parray = psa;
  return r;
}
inline vkr::Variant EnumListOf(std::initializer_list<const char16_t*> entries, LONG lowerBound = 0) {
  vkr::Variant r;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, lowerBound, static_cast<ULONG>(entries.size()));
  LONG i = lowerBound;
  for (const char16_t* e : entries) {
    BSTR b = SysAllocString(e);
    SafeArrayPutElement(psa, &i, b);
    ++i;
    SysFreeString(b);
  }
  r.vt = VT_ARRAY | VT_BSTR;
  r.parray = psa;
  return r;
}
inline std::u16string TextOf(const VARIANT& v) {
  return v.vt == VT_BSTR ? std::u16string(vkr::View(v.bstrVal)) : u"<not text>";
}
inline std::string Utf8(std::u16string_view s) { return vkr::Utf16ToUtf8(s); }
inline std::string Utf8(BSTR s) { return vkr::Utf16ToUtf8(vkr::View(s)); }

}  // namespace vkr::test
