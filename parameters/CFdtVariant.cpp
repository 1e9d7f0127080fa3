// Parameter values: the conversion engine, equality and display text.
#include "parameters/CFdtVariant.h"

#include <cstring>

#include "xml/Conversions.h"

namespace {

template <class T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

bool IsArray(VARTYPE vt) { return (vt & VT_ARRAY) != 0; }

// The number types an empty text converts from as 0.
bool IsNumberType(VARTYPE vt) {
  return (vt >= VT_I2 && vt <= VT_DATE) || vt == VT_BOOL || (vt >= VT_I1 && vt <= VT_UINT);
}

// The scalar types that may move into or out of an array.
bool IsArrayScalar(VARTYPE vt) {
  return (vt >= VT_I2 && vt <= VT_DISPATCH) || vt == VT_BOOL || vt == VT_DECIMAL || (vt >= VT_I1 && vt <= VT_UI4);
}

// Byte size of one element of the types the element converter handles; 0 for others.
size_t ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(IUnknown*);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

// Storage for one element of any type the converter handles, aligned for all of them.
union ElementBuffer {
  VARIANT v;
  DECIMAL dec;
  double d;
  LONGLONG ll;
  void* p;
  BYTE bytes[sizeof(VARIANT)];
};

// Frees what an element of type vt owns.
void FreeElement(void* data, VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      SysFreeString(Load<BSTR>(data));
      break;
    case VT_VARIANT:
      VariantClear(static_cast<VARIANT*>(data));
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (auto* unk = Load<IUnknown*>(data)) unk->Release();
      break;
    default:
      break;
  }
}

// Makes *out a VARIANT of type vt holding the element (taken over, not copied).
void ElementToVariant(const void* data, VARTYPE vt, VARIANT* out) {
  VariantInit(out);
  if (vt == VT_DECIMAL) {
    out->decVal = Load<DECIMAL>(data);
  } else if (vt == VT_VARIANT) {
    *out = Load<VARIANT>(data);
    return;
  } else {
    std::memcpy(&out->llVal, data, ElementSize(vt));
  }
  out->vt = vt;
}

// The data part of a scalar VARIANT, for the element converter.
const void* VariantData(const VARIANT* v) {
  if (v->vt == VT_DECIMAL) return &v->decVal;
  return &v->llVal;
}

// Replaces dest with the result; dest may alias the source the result came from.
void Store(VARIANT* dest, vkr::Variant& result) {
  VariantClear(dest);
  result.Detach(dest);
}

HRESULT ArrayOf(const VARIANT* v, SAFEARRAY** psa) {
  *psa = (v->vt & VT_BYREF) ? (v->pparray ? *v->pparray : nullptr) : v->parray;
  if (!*psa) return E_POINTER;
  if (SafeArrayGetDim(*psa) == 0) return E_INVALIDARG;
  return S_OK;
}

// Steps 3 and 4: the 64-bit integers to and from DECIMAL, which VariantChangeType leaves out.
HRESULT DecimalToInt64(const DECIMAL& dec, VARTYPE vt, vkr::Variant* result) {
  // A value with a fraction digit, or beyond 64 bits of magnitude, does not fit.
  if (dec.scale != 0 || dec.Hi32 != 0) return DISP_E_OVERFLOW;
  const bool negative = (dec.sign & DECIMAL_NEG) != 0 && dec.Lo64 != 0;
  if (vt == VT_UI8) {
    if (negative) return DISP_E_OVERFLOW;
    result->ullVal = dec.Lo64;
  } else {
    constexpr ULONGLONG kMinMagnitude = 0x8000000000000000ULL;
    if (negative ? dec.Lo64 > kMinMagnitude : dec.Lo64 >= kMinMagnitude) return DISP_E_OVERFLOW;
    result->llVal = negative ? static_cast<LONGLONG>(0 - dec.Lo64) : static_cast<LONGLONG>(dec.Lo64);
  }
  result->vt = vt;
  return S_OK;
}

void Int64ToDecimal(const VARIANT& src, vkr::Variant* result) {
  DECIMAL dec{};
  if (src.vt == VT_I8 && src.llVal < 0) {
    dec.sign = DECIMAL_NEG;
    dec.Lo64 = 0 - static_cast<ULONGLONG>(src.llVal);
  } else {
    dec.Lo64 = static_cast<ULONGLONG>(src.llVal);
  }
  result->decVal = dec;
  result->vt = VT_DECIMAL;
}

// A DATE is a double in this range (the years 100 to 9999).
bool IsDateInRange(double d) { return d >= -657434.0 && d < 2958466.0; }

// Step 7 when VariantChangeTypeEx refused.
HRESULT ChangeWithArrays(const VARIANT* src, VARTYPE vt, LCID lcid, USHORT flags, HRESULT refused,
                         vkr::Variant* result) {
  const bool srcArray = IsArray(src->vt);
  const bool destArray = IsArray(vt);
  if (!srcArray && !destArray) {
    if (vt != VT_DATE) return refused;
    // A number that is no date text still is a date: a DATE is that double.
    vkr::Variant real;
    HRESULT hr = VariantChangeTypeEx(&real, src, lcid, flags & 0x1F, VT_R8);
    if (FAILED(hr)) return refused;
    if (!IsDateInRange(real.dblVal)) return DISP_E_OVERFLOW;
    result->date = real.dblVal;
    result->vt = VT_DATE;
    return S_OK;
  }
  if (srcArray && !destArray) {
    if (!IsArrayScalar(vt)) return DISP_E_BADVARTYPE;
    SAFEARRAY* psa = nullptr;
    HRESULT hr = ArrayOf(src, &psa);
    if (FAILED(hr)) return hr;
    const UINT dims = SafeArrayGetDim(psa);
    LONG indices[64];
    if (dims > 64) return E_INVALIDARG;
    for (UINT d = 0; d < dims; ++d) {
      hr = SafeArrayGetLBound(psa, d + 1, &indices[d]);
      if (FAILED(hr)) return hr;
    }
    const VARTYPE elemVt = static_cast<VARTYPE>(src->vt & VT_TYPEMASK);
    ElementBuffer element{};
    if (elemVt == VT_VARIANT) VariantInit(&element.v);
    hr = SafeArrayGetElement(psa, indices, &element);
    if (FAILED(hr)) return hr;
    ElementBuffer converted{};
    hr = ConvertVariantElement(&element, &converted, elemVt, vt, lcid, flags);
    FreeElement(&element, elemVt);
    if (FAILED(hr)) return hr;
    ElementToVariant(&converted, vt, result);
    return S_OK;
  }
  const VARTYPE elemVt = static_cast<VARTYPE>(vt & VT_TYPEMASK);
  if (!srcArray) {
    if (src->vt == VT_EMPTY || src->vt == VT_NULL) {
      SAFEARRAY* psa = SafeArrayCreateVector(elemVt, 0, 0);
      if (!psa) return E_OUTOFMEMORY;
      result->parray = psa;
      result->vt = vt;
      return S_OK;
    }
    if (!IsArrayScalar(src->vt)) return DISP_E_BADVARTYPE;
    vkr::SafeArrayHolder psa(SafeArrayCreateVector(elemVt, 0, 1));
    if (!psa.Get()) return E_OUTOFMEMORY;
    ElementBuffer converted{};
    HRESULT hr = ConvertVariantElement(VariantData(src), &converted, src->vt, elemVt, lcid, flags);
    if (FAILED(hr)) return hr;
    LONG index = 0;
    // The array stores a copy of a text or VARIANT element; ours is freed after.
    void* put = (elemVt == VT_BSTR || elemVt == VT_DISPATCH || elemVt == VT_UNKNOWN) ? Load<void*>(&converted)
                                                                                      : static_cast<void*>(&converted);
    hr = SafeArrayPutElement(psa.Get(), &index, put);
    FreeElement(&converted, elemVt);
    if (FAILED(hr)) return hr;
    result->parray = psa.Detach();
    result->vt = vt;
    return S_OK;
  }
  SAFEARRAY* psa = nullptr;
  HRESULT hr = ArrayOf(src, &psa);
  if (FAILED(hr)) return hr;
  SAFEARRAY* out = nullptr;
  hr = ConvertVariantArray(psa, &out, static_cast<VARTYPE>(src->vt & VT_TYPEMASK), elemVt, lcid, flags);
  if (FAILED(hr)) return hr;
  result->parray = out;
  result->vt = vt;
  return S_OK;
}

// Copies one element of equal type: texts are duplicated, VARIANTs deep-copied, objects AddRef'd.
HRESULT CopyElement(const void* src, void* dest, VARTYPE vt) {
  switch (vt) {
    case VT_BSTR: {
      BSTR s = Load<BSTR>(src);
      BSTR copy = nullptr;
      if (s) {
        copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
        if (!copy) return E_OUTOFMEMORY;
      }
      std::memcpy(dest, &copy, sizeof copy);
      return S_OK;
    }
    case VT_VARIANT:
      VariantInit(static_cast<VARIANT*>(dest));
      return VariantCopy(static_cast<VARIANT*>(dest), static_cast<const VARIANT*>(src));
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (auto* unk = Load<IUnknown*>(src)) unk->AddRef();
      std::memcpy(dest, src, sizeof(IUnknown*));
      return S_OK;
    default: {
      const size_t size = ElementSize(vt);
      if (size == 0) return DISP_E_BADVARTYPE;
      std::memcpy(dest, src, size);
      return S_OK;
    }
  }
}

// The source types the pair functions take.
bool IsElementSource(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_BOOL:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
      return true;
    default:
      return false;
  }
}

HRESULT ConvertPair(const void* src, void* dest, VARTYPE srcVt, VARTYPE destVt, LCID lcid, ULONG textFlags) {
  switch (destVt) {
    case VT_I2: {
      auto* d = static_cast<SHORT*>(dest);
      switch (srcVt) {
        case VT_I4: return VarI2FromI4(Load<LONG>(src), d);
        case VT_R4: return VarI2FromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarI2FromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarI2FromCy(Load<CY>(src), d);
        case VT_DATE: return VarI2FromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarI2FromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarI2FromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarI2FromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarI2FromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarI2FromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarI2FromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarI2FromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarI2FromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_I4: {
      auto* d = static_cast<LONG*>(dest);
      switch (srcVt) {
        case VT_I2: return VarI4FromI2(Load<SHORT>(src), d);
        case VT_R4: return VarI4FromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarI4FromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarI4FromCy(Load<CY>(src), d);
        case VT_DATE: return VarI4FromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarI4FromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarI4FromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarI4FromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarI4FromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarI4FromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarI4FromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarI4FromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarI4FromUI4(Load<ULONG>(src), d);
        case VT_INT: *d = Load<INT>(src); return S_OK;
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_R4: {
      auto* d = static_cast<FLOAT*>(dest);
      switch (srcVt) {
        case VT_I2: return VarR4FromI2(Load<SHORT>(src), d);
        case VT_I4: return VarR4FromI4(Load<LONG>(src), d);
        case VT_R8: return VarR4FromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarR4FromCy(Load<CY>(src), d);
        case VT_DATE: return VarR4FromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarR4FromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarR4FromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarR4FromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarR4FromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarR4FromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarR4FromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarR4FromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarR4FromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_R8: {
      auto* d = static_cast<DOUBLE*>(dest);
      switch (srcVt) {
        case VT_I2: return VarR8FromI2(Load<SHORT>(src), d);
        case VT_I4: return VarR8FromI4(Load<LONG>(src), d);
        case VT_R4: return VarR8FromR4(Load<FLOAT>(src), d);
        case VT_CY: return VarR8FromCy(Load<CY>(src), d);
        case VT_DATE: return VarR8FromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarR8FromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarR8FromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarR8FromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarR8FromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarR8FromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarR8FromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarR8FromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarR8FromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_CY: {
      auto* d = static_cast<CY*>(dest);
      switch (srcVt) {
        case VT_I2: return VarCyFromI2(Load<SHORT>(src), d);
        case VT_I4: return VarCyFromI4(Load<LONG>(src), d);
        case VT_R4: return VarCyFromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarCyFromR8(Load<DOUBLE>(src), d);
        case VT_DATE: return VarCyFromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarCyFromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarCyFromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarCyFromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarCyFromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarCyFromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarCyFromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarCyFromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarCyFromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_DATE: {
      auto* d = static_cast<DATE*>(dest);
      switch (srcVt) {
        case VT_I2: return VarDateFromI2(Load<SHORT>(src), d);
        case VT_I4: return VarDateFromI4(Load<LONG>(src), d);
        case VT_R4: return VarDateFromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarDateFromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarDateFromCy(Load<CY>(src), d);
        case VT_BSTR: return VarDateFromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarDateFromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarDateFromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarDateFromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarDateFromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarDateFromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarDateFromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarDateFromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_BSTR: {
      auto* d = static_cast<BSTR*>(dest);
      switch (srcVt) {
        case VT_I2: return VarBstrFromI2(Load<SHORT>(src), lcid, textFlags, d);
        case VT_I4: return VarBstrFromI4(Load<LONG>(src), lcid, textFlags, d);
        case VT_R4: return VarBstrFromR4(Load<FLOAT>(src), lcid, textFlags, d);
        case VT_R8: return VarBstrFromR8(Load<DOUBLE>(src), lcid, textFlags, d);
        case VT_CY: return VarBstrFromCy(Load<CY>(src), lcid, textFlags, d);
        case VT_DATE: return VarBstrFromDate(Load<DATE>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarBstrFromDisp(Load<IDispatch*>(src), lcid, textFlags, d);
        case VT_DECIMAL: return VarBstrFromDec(static_cast<const DECIMAL*>(src), lcid, textFlags, d);
        case VT_I1: return VarBstrFromI1(Load<CHAR>(src), lcid, textFlags, d);
        case VT_UI1: return VarBstrFromUI1(Load<BYTE>(src), lcid, textFlags, d);
        case VT_UI2: return VarBstrFromUI2(Load<USHORT>(src), lcid, textFlags, d);
        case VT_UI4: return VarBstrFromUI4(Load<ULONG>(src), lcid, textFlags, d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_BOOL: {
      auto* d = static_cast<VARIANT_BOOL*>(dest);
      switch (srcVt) {
        case VT_I2: return VarBoolFromI2(Load<SHORT>(src), d);
        case VT_I4: return VarBoolFromI4(Load<LONG>(src), d);
        case VT_R4: return VarBoolFromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarBoolFromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarBoolFromCy(Load<CY>(src), d);
        case VT_DATE: return VarBoolFromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarBoolFromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarBoolFromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_DECIMAL: return VarBoolFromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarBoolFromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarBoolFromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarBoolFromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarBoolFromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_DECIMAL: {
      auto* d = static_cast<DECIMAL*>(dest);
      switch (srcVt) {
        case VT_I2: return VarDecFromI2(Load<SHORT>(src), d);
        case VT_I4: return VarDecFromI4(Load<LONG>(src), d);
        case VT_R4: return VarDecFromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarDecFromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarDecFromCy(Load<CY>(src), d);
        case VT_DATE: return VarDecFromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarDecFromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarDecFromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarDecFromBool(Load<VARIANT_BOOL>(src), d);
        case VT_I1: return VarDecFromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarDecFromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarDecFromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarDecFromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_I1: {
      auto* d = static_cast<CHAR*>(dest);
      switch (srcVt) {
        case VT_I2: return VarI1FromI2(Load<SHORT>(src), d);
        case VT_I4: return VarI1FromI4(Load<LONG>(src), d);
        case VT_R4: return VarI1FromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarI1FromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarI1FromCy(Load<CY>(src), d);
        case VT_DATE: return VarI1FromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarI1FromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarI1FromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarI1FromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarI1FromDec(static_cast<const DECIMAL*>(src), d);
        case VT_UI1: return VarI1FromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarI1FromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarI1FromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_UI1: {
      auto* d = static_cast<BYTE*>(dest);
      switch (srcVt) {
        case VT_I2: return VarUI1FromI2(Load<SHORT>(src), d);
        case VT_I4: return VarUI1FromI4(Load<LONG>(src), d);
        case VT_R4: return VarUI1FromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarUI1FromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarUI1FromCy(Load<CY>(src), d);
        case VT_DATE: return VarUI1FromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarUI1FromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarUI1FromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarUI1FromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarUI1FromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarUI1FromI1(Load<CHAR>(src), d);
        case VT_UI2: return VarUI1FromUI2(Load<USHORT>(src), d);
        case VT_UI4: return VarUI1FromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_UI2: {
      auto* d = static_cast<USHORT*>(dest);
      switch (srcVt) {
        case VT_I2: return VarUI2FromI2(Load<SHORT>(src), d);
        case VT_I4: return VarUI2FromI4(Load<LONG>(src), d);
        case VT_R4: return VarUI2FromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarUI2FromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarUI2FromCy(Load<CY>(src), d);
        case VT_DATE: return VarUI2FromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarUI2FromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarUI2FromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarUI2FromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarUI2FromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarUI2FromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarUI2FromUI1(Load<BYTE>(src), d);
        case VT_UI4: return VarUI2FromUI4(Load<ULONG>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    case VT_UI4: {
      auto* d = static_cast<ULONG*>(dest);
      switch (srcVt) {
        case VT_I2: return VarUI4FromI2(Load<SHORT>(src), d);
        case VT_I4: return VarUI4FromI4(Load<LONG>(src), d);
        case VT_R4: return VarUI4FromR4(Load<FLOAT>(src), d);
        case VT_R8: return VarUI4FromR8(Load<DOUBLE>(src), d);
        case VT_CY: return VarUI4FromCy(Load<CY>(src), d);
        case VT_DATE: return VarUI4FromDate(Load<DATE>(src), d);
        case VT_BSTR: return VarUI4FromStr(Load<BSTR>(src), lcid, textFlags, d);
        case VT_DISPATCH: return VarUI4FromDisp(Load<IDispatch*>(src), lcid, d);
        case VT_BOOL: return VarUI4FromBool(Load<VARIANT_BOOL>(src), d);
        case VT_DECIMAL: return VarUI4FromDec(static_cast<const DECIMAL*>(src), d);
        case VT_I1: return VarUI4FromI1(Load<CHAR>(src), d);
        case VT_UI1: return VarUI4FromUI1(Load<BYTE>(src), d);
        case VT_UI2: return VarUI4FromUI2(Load<USHORT>(src), d);
        default: return DISP_E_BADVARTYPE;
      }
    }
    default:
      return DISP_E_BADVARTYPE;
  }
}

}  // namespace

CFdtVariant::CFdtVariant(ULONG value) {
  vt = VT_UI4;
  ulVal = value;
}

CFdtVariant::CFdtVariant(LPCOLESTR text) {
  BSTR copy = SysAllocString(text ? text : u"");
  if (!copy) {
    vt = VT_ERROR;
    scode = E_OUTOFMEMORY;
    throw vkr::HResultError(E_OUTOFMEMORY);
  }
  vt = VT_BSTR;
  bstrVal = copy;
}

CFdtVariant::CFdtVariant(const VARIANT& value) {
  HRESULT hr = VariantCopy(this, &value);
  if (FAILED(hr)) {
    vt = VT_ERROR;
    scode = hr;
    throw vkr::HResultError(hr);
  }
}

CFdtVariant& CFdtVariant::operator=(const CFdtVariant& other) {
  if (this != &other) {
    HRESULT hr = VariantCopy(this, &other);
    if (FAILED(hr)) throw vkr::HResultError(hr);
  }
  return *this;
}

HRESULT ChangeVariantType(VARIANT* dest, const VARIANT* src, VARTYPE vt, LCID lcid, USHORT flags) {
  if (!dest || !src) return E_INVALIDARG;
  if (src->vt == vt) return dest == src ? S_OK : VariantCopy(dest, src);

  vkr::Variant result;
  HRESULT hr = S_OK;
  if (src->vt == VT_DECIMAL && (vt == VT_I8 || vt == VT_UI8)) {
    hr = DecimalToInt64(src->decVal, vt, &result);
  } else if ((src->vt == VT_I8 || src->vt == VT_UI8) && vt == VT_DECIMAL) {
    Int64ToDecimal(*src, &result);
  } else if (src->vt == VT_BSTR && SysStringLen(src->bstrVal) == 0 && IsNumberType(vt)) {
    VARIANT zero;
    VariantInit(&zero);
    zero.vt = VT_I4;
    zero.lVal = 0;
    hr = VariantChangeType(&result, &zero, 0, vt);
  } else if (src->vt == VT_BSTR && SysStringLen(src->bstrVal) == 0 && vt == (VT_ARRAY | VT_VARIANT)) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    if (!psa) return E_OUTOFMEMORY;
    result.parray = psa;
    result.vt = vt;
  } else if (src->vt == (VT_ARRAY | VT_UI1) && vt == VT_BSTR) {
    BSTR hex = nullptr;
    hr = ByteArrayToHexString(src, &hex, FALSE);
    if (SUCCEEDED(hr)) {
      result.bstrVal = hex;
      result.vt = VT_BSTR;
    }
  } else if (src->vt == VT_BSTR && vt == (VT_ARRAY | VT_UI1)) {
    hr = HexStringToByteArray(&result, src->bstrVal, TRUE);
  } else {
    hr = VariantChangeTypeEx(&result, src, lcid, static_cast<USHORT>(flags & 0x1F), vt);
    if (FAILED(hr)) {
      result.Clear();
      hr = ChangeWithArrays(src, vt, lcid, flags, hr, &result);
    }
  }
  if (FAILED(hr)) return hr;
  Store(dest, result);
  return S_OK;
}

HRESULT ConvertVariantElement(const void* srcData, void* destData, VARTYPE srcVt, VARTYPE destVt, LCID lcid,
                              ULONG flags) {
  if (!srcData || !destData) return E_INVALIDARG;
  if (srcVt == destVt) return CopyElement(srcData, destData, srcVt);
  // The text parsers take the VarXxxFromStr flags; VARIANT_NOUSEROVERRIDE has its own bit there.
  ULONG textFlags = flags & ~static_cast<ULONG>(7);
  if (flags & VARIANT_NOUSEROVERRIDE) textFlags |= LOCALE_NOUSEROVERRIDE;

  if (destVt == VT_VARIANT) {
    if (!IsElementSource(srcVt)) return DISP_E_BADVARTYPE;
    ElementBuffer copy{};
    HRESULT hr = CopyElement(srcData, &copy, srcVt);
    if (FAILED(hr)) return hr;
    ElementToVariant(&copy, srcVt, static_cast<VARIANT*>(destData));
    return S_OK;
  }
  if (srcVt == VT_BOOL && destVt == VT_BSTR) {
    if (flags & VARIANT_ALPHABOOL) return VarBstrFromBool(Load<VARIANT_BOOL>(srcData), lcid, textFlags,
                                                          static_cast<BSTR*>(destData));
    BSTR text = SysAllocString(Load<VARIANT_BOOL>(srcData) == VARIANT_TRUE ? u"-1" : u"0");
    if (!text) return E_OUTOFMEMORY;
    std::memcpy(destData, &text, sizeof text);
    return S_OK;
  }
  if (!IsElementSource(srcVt) && !(srcVt == VT_INT && destVt == VT_I4)) return DISP_E_BADVARTYPE;
  return ConvertPair(srcData, destData, srcVt, destVt, lcid, textFlags);
}

HRESULT ConvertVariantArray(SAFEARRAY* src, SAFEARRAY** dest, VARTYPE srcVt, VARTYPE destVt, LCID lcid,
                            ULONG flags) {
  if (!src || !dest) return E_POINTER;
  *dest = nullptr;
  const UINT dims = SafeArrayGetDim(src);
  if (dims == 0 || dims > 64) return E_INVALIDARG;
  SAFEARRAYBOUND bounds[64];
  LONG lower[64];
  ULONGLONG total = 1;
  for (UINT d = 0; d < dims; ++d) {
    LONG lb = 0, ub = 0;
    HRESULT hr = SafeArrayGetLBound(src, d + 1, &lb);
    if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(src, d + 1, &ub);
    if (FAILED(hr)) return hr;
    bounds[d].lLbound = lb;
    bounds[d].cElements = static_cast<ULONG>(static_cast<LONGLONG>(ub) - lb + 1);
    lower[d] = lb;
    total *= bounds[d].cElements;
  }
  vkr::SafeArrayHolder out(SafeArrayCreate(destVt, dims, bounds));
  if (!out.Get()) return E_OUTOFMEMORY;
  LONG index[64];
  for (UINT d = 0; d < dims; ++d) index[d] = lower[d];
  // The locale and flags of the caller do not reach the elements: arrays convert plainly.
  (void)lcid;
  (void)flags;
  for (ULONGLONG n = 0; n < total; ++n) {
    ElementBuffer element{};
    if (srcVt == VT_VARIANT) VariantInit(&element.v);
    HRESULT hr = SafeArrayGetElement(src, index, &element);
    if (FAILED(hr)) return hr;
    ElementBuffer converted{};
    hr = ConvertVariantElement(&element, &converted, srcVt, destVt, 0, 0);
    FreeElement(&element, srcVt);
    if (FAILED(hr)) return hr;
    void* put = (destVt == VT_BSTR || destVt == VT_DISPATCH || destVt == VT_UNKNOWN) ? Load<void*>(&converted)
                                                                                      : static_cast<void*>(&converted);
    hr = SafeArrayPutElement(out.Get(), index, put);
    FreeElement(&converted, destVt);
    if (FAILED(hr)) return hr;
    // The first dimension varies fastest.
    for (UINT d = 0; d < dims; ++d) {
      if (++index[d] < lower[d] + static_cast<LONG>(bounds[d].cElements)) break;
      index[d] = lower[d];
    }
  }
  *dest = out.Detach();
  return S_OK;
}

HRESULT VariantToULong(const VARIANT* value, ULONG* out) {
  if (!value || !out) return E_INVALIDARG;
  if (value->vt == VT_UI4) {
    *out = value->ulVal;
    return S_OK;
  }
  vkr::Variant converted;
  HRESULT hr = VariantChangeType(&converted, value, 0, VT_UI4);
  if (FAILED(hr)) return hr;
  if (converted.vt != VT_UI4) return E_FAIL;
  *out = converted.ulVal;
  return S_OK;
}

LONG VariantToLong(const VARIANT& value) {
  if (value.vt == VT_I4) return value.lVal;
  vkr::Variant converted;
  HRESULT hr = VariantChangeType(&converted, &value, 0, VT_I4);
  if (FAILED(hr)) throw vkr::HResultError(hr);
  return converted.lVal;
}

namespace {
bool SameBytes(SAFEARRAY* a, SAFEARRAY* b) {
  if (!a || !b) return false;
  LONG la = 0, ua = -1, lb = 0, ub = -1;
  if (FAILED(SafeArrayGetLBound(a, 1, &la)) || FAILED(SafeArrayGetUBound(a, 1, &ua))) return false;
  if (FAILED(SafeArrayGetLBound(b, 1, &lb)) || FAILED(SafeArrayGetUBound(b, 1, &ub))) return false;
  const LONGLONG count = static_cast<LONGLONG>(ua) - la + 1;
  if (count != static_cast<LONGLONG>(ub) - lb + 1) return false;
  if (count == 0) return true;
  void* pa = nullptr;
  void* pb = nullptr;
  if (FAILED(SafeArrayAccessData(a, &pa))) return false;
  if (FAILED(SafeArrayAccessData(b, &pb))) {
    SafeArrayUnaccessData(a);
    return false;
  }
  const bool same = std::memcmp(pa, pb, static_cast<size_t>(count)) == 0;
  SafeArrayUnaccessData(b);
  SafeArrayUnaccessData(a);
  return same;
}
}  // namespace

bool IsVariantEqual(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_ARRAY | VT_UI1:
      return SameBytes(a.parray, b.parray);
    case VT_EMPTY:
    case VT_NULL:
      return true;
    case VT_I2:
    case VT_UI2:
      return a.iVal == b.iVal;
    case VT_I4:
    case VT_UI4:
      return a.lVal == b.lVal;
    case VT_I1:
      return a.cVal == b.cVal;
    case VT_I8:
    case VT_UI8:
      return a.llVal == b.llVal;
    case VT_BSTR: {
      const UINT n = SysStringLen(a.bstrVal);
      return n == SysStringLen(b.bstrVal) && (n == 0 || std::memcmp(a.bstrVal, b.bstrVal, n * sizeof(OLECHAR)) == 0);
    }
    case VT_DATE: {
      // Dates are equal when they show the same text (to the second).
      vkr::Variant ta, tb;
      if (FAILED(VariantChangeTypeEx(&ta, &a, 0, 0, VT_BSTR)) || FAILED(VariantChangeTypeEx(&tb, &b, 0, 0, VT_BSTR)))
        return false;
      return IsVariantEqual(ta, tb);
    }
    default:
      return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
  }
}

bool IsVariantDifferent(const VARIANT& a, const VARIANT& b) {
  if (a.vt == VT_NULL && b.vt == VT_NULL) return false;
  if (a.vt != b.vt) return true;
  return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT, 0) != VARCMP_EQ;
}

void VariantToText(const VARIANT* value, BSTR* text) {
  if (!text) return;
  *text = nullptr;
  if (!value) return;
  std::u16string s;
  switch (value->vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_VOID:
      break;
    case VT_I1:
      s = vkr::Format(u"%i", static_cast<int>(value->cVal));
      break;
    case VT_I2:
      s = vkr::Format(u"%i", static_cast<int>(value->iVal));
      break;
    case VT_I4:
      s = vkr::Format(u"%li", value->lVal);
      break;
    case VT_INT:
      s = vkr::Format(u"%li", static_cast<LONG>(value->intVal));
      break;
    case VT_R4:
      s = vkr::Format(u"%f", static_cast<double>(value->fltVal));
      break;
    case VT_R8:
      s = vkr::Format(u"%lf", value->dblVal);
      break;
    case VT_BSTR:
      s.assign(value->bstrVal ? value->bstrVal : u"", SysStringLen(value->bstrVal));
      break;
    case VT_ERROR:
      s = vkr::Format(u"0x%08X", static_cast<ULONG>(value->scode));
      break;
    case VT_BOOL:
      s = value->boolVal == VARIANT_TRUE ? u"True" : u"False";
      break;
    case VT_UI1:
      s = vkr::Format(u"%u", static_cast<unsigned>(value->bVal));
      break;
    case VT_UI2:
      s = vkr::Format(u"%u", static_cast<unsigned>(value->uiVal));
      break;
    case VT_UI4:
      s = vkr::Format(u"%lu", value->ulVal);
      break;
    case VT_UINT:
      s = vkr::Format(u"%lu", static_cast<ULONG>(value->uintVal));
      break;
    case VT_I8:
      s = vkr::Format(u"%I64i", value->llVal);
      break;
    case VT_UI8:
      s = vkr::Format(u"%I64u", value->ullVal);
      break;
    case VT_ARRAY | VT_UI1: {
      BSTR hex = nullptr;
      HRESULT hr = ByteArrayToHexString(value, &hex, TRUE);
      if (hr == E_OUTOFMEMORY) throw vkr::HResultError(hr);
      if (SUCCEEDED(hr)) {
        *text = hex ? hex : SysAllocString(u"");
        if (!*text) throw vkr::HResultError(E_OUTOFMEMORY);
        return;
      }
      // A byte array that cannot be read (no data, more than one dimension) shows as the others.
      s = u"...";
      break;
    }
    default:
      s = u"...";
      break;
  }
  *text = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  if (!*text) throw vkr::HResultError(E_OUTOFMEMORY);
}

namespace {
std::u16string WithoutBlanks(BSTR text) {
  std::u16string s;
  for (OLECHAR c : vkr::View(text))
    if (c != u' ') s += c;
  return s;
}

// The first two alternatives of a "a|b|..." text.
void Alternatives(const std::u16string& s, std::u16string* first, std::u16string* second) {
  const size_t bar = s.find(u'|');
  *first = s.substr(0, bar);
  const size_t next = s.find(u'|', bar + 1);
  *second = s.substr(bar + 1, next == std::u16string::npos ? std::u16string::npos : next - bar - 1);
}
}  // namespace

bool IsTypeTextMatch(BSTR a, BSTR b) {
  const std::u16string ta = WithoutBlanks(a);
  const std::u16string tb = WithoutBlanks(b);
  std::u16string first, second;
  if (ta.find(u'|') != std::u16string::npos) {
    Alternatives(ta, &first, &second);
    if (tb.find(first) == std::u16string::npos || tb.find(second) == std::u16string::npos) return false;
  } else if (ta != tb) {
    return false;
  }
  if (tb.find(u'|') != std::u16string::npos) {
    Alternatives(tb, &first, &second);
    return ta.find(first) != std::u16string::npos && ta.find(second) != std::u16string::npos;
  }
  return ta == tb;
}

bool DoubleToVariant(double value, VARTYPE vt, VARIANT* out) {
  if (!out) return false;
  VARIANT real;
  VariantInit(&real);
  real.vt = VT_R8;
  real.dblVal = value;
  vkr::Variant result;
  const HRESULT hr = ChangeVariantType(&result, &real, vt, 0, 0);
  if (hr == E_OUTOFMEMORY) throw vkr::HResultError(hr);
  const bool ok = SUCCEEDED(hr) && result.vt == vt;
  VariantClear(out);
  if (ok) result.Detach(out);
  return ok;
}

bool TextToVariant(const char* text, VARTYPE vt, VARIANT* out) {
  if (!out) return false;
  const std::u16string wide = vkr::Utf8ToUtf16(text ? text : "");
  vkr::Bstr bstr(wide);
  if (!bstr.Get()) throw vkr::HResultError(E_OUTOFMEMORY);
  vkr::Variant result;
  HRESULT hr = S_OK;
  if (vt == (VT_ARRAY | VT_UI1)) {
    hr = HexStringToByteArray(&result, bstr.Get(), TRUE);
  } else {
    VARIANT textValue;
    VariantInit(&textValue);
    textValue.vt = VT_BSTR;
    textValue.bstrVal = bstr.Get();
    hr = ChangeVariantType(&result, &textValue, vt, 0, 0);
  }
  if (hr == E_OUTOFMEMORY) throw vkr::HResultError(hr);
  const bool ok = SUCCEEDED(hr);
  VariantClear(out);
  if (ok) result.Detach(out);
  return ok;
}
