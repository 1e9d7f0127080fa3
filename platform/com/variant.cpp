// VARIANT lifetime: initialise, clear, deep copy.
#include "platform/com/variant.h"

#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"

namespace vkr {
namespace {
bool IsValidBaseType(VARTYPE base) {
  switch (base) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}
}  // namespace

bool IsValidVariantType(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE flags = vt & ~VT_TYPEMASK;
  if (flags & (VT_VECTOR | VT_RESERVED)) return false;
  if (flags == 0) return base == VT_EMPTY || base == VT_NULL || IsValidBaseType(base);
  // Arrays of VARIANTs and references to VARIANTs exist; a plain VARIANT inside a VARIANT does not.
  return IsValidBaseType(base) || base == VT_VARIANT;
}
}  // namespace vkr

void VariantInit(VARIANTARG* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* v) {
  if (!v) return E_INVALIDARG;
  const VARTYPE vt = v->vt;
  if (!vkr::IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
      if (v->punkVal) v->punkVal->Release();
    }
  }
  VariantInit(v);
  return S_OK;
}

namespace {
// A deep copy of src into dst, which holds nothing. Fails without touching dst.
HRESULT CopyValue(VARIANT* dst, const VARIANT* src) {
  VARIANT tmp;
  std::memcpy(&tmp, src, sizeof tmp);
  const VARTYPE vt = src->vt;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      tmp.parray = nullptr;
      HRESULT hr = SafeArrayCopy(src->parray, &tmp.parray);
      if (FAILED(hr)) return hr;
    } else if (vt == VT_BSTR) {
      if (src->bstrVal) {
        tmp.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src->bstrVal), SysStringByteLen(src->bstrVal));
        if (!tmp.bstrVal) return E_OUTOFMEMORY;
      }
    } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
      if (src->punkVal) src->punkVal->AddRef();
    }
  }
  std::memcpy(dst, &tmp, sizeof tmp);
  return S_OK;
}
}  // namespace

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return S_OK;
  if (!vkr::IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
  // Copy before clearing: src may live inside what dest owns.
  VARIANT copy;
  HRESULT hr = CopyValue(&copy, src);
  HRESULT cleared = VariantClear(dest);
  if (FAILED(hr)) return hr;
  if (FAILED(cleared)) {
    VariantClear(&copy);
    return cleared;
  }
  std::memcpy(dest, &copy, sizeof copy);
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src) {
  if (!dest || !src) return E_INVALIDARG;
  const VARTYPE vt = src->vt;
  if (!(vt & VT_BYREF)) return VariantCopy(dest, src);
  if (!vkr::IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
  if (!src->byref) return E_INVALIDARG;
  const VARTYPE base = vt & static_cast<VARTYPE>(~VT_BYREF);
  VARIANT value;
  VariantInit(&value);
  if (base == VT_VARIANT) {
    const VARIANT* inner = src->pvarVal;
    // A reference to a reference is not a value.
    if (inner->vt == (VT_BYREF | VT_VARIANT)) return E_INVALIDARG;
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopyInd(&copy, inner);
    if (FAILED(hr)) return hr;
    if (dest == src) {
      std::memcpy(dest, &copy, sizeof copy);
      return S_OK;
    }
    hr = VariantClear(dest);
    if (FAILED(hr)) {
      VariantClear(&copy);
      return hr;
    }
    std::memcpy(dest, &copy, sizeof copy);
    return S_OK;
  }
  if (base & VT_ARRAY) {
    value.parray = *src->pparray;
  } else {
    switch (base) {
      case VT_I1:
      case VT_UI1:
        value.bVal = *src->pbVal;
        break;
      case VT_I2:
      case VT_UI2:
      case VT_BOOL:
        value.iVal = *src->piVal;
        break;
      case VT_I4:
      case VT_UI4:
      case VT_INT:
      case VT_UINT:
      case VT_ERROR:
      case VT_R4:
        value.lVal = *src->plVal;
        break;
      case VT_I8:
      case VT_UI8:
      case VT_R8:
      case VT_CY:
      case VT_DATE:
        value.llVal = *src->pllVal;
        break;
      case VT_BSTR:
        value.bstrVal = *src->pbstrVal;
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        value.punkVal = *src->ppunkVal;
        break;
      case VT_DECIMAL:
        value.decVal = *src->pdecVal;
        break;
      default:
        return DISP_E_BADVARTYPE;
    }
  }
  value.vt = base;  // after the DECIMAL, which overlays vt
  // value borrows what src points to; a deep copy of it gives dest its own.
  VARIANT copy;
  HRESULT hr = CopyValue(&copy, &value);
  if (FAILED(hr)) return hr;
  if (dest != src) {
    hr = VariantClear(dest);
    if (FAILED(hr)) {
      VariantClear(&copy);
      return hr;
    }
  }
  std::memcpy(dest, &copy, sizeof copy);
  return S_OK;
}
