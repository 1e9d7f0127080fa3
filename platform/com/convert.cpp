// VariantChangeType(Ex), the per-pair conversions, VarCmp and the DATE <-> SYSTEMTIME calls, on one
// conversion core.
#include "platform/com/convert.h"

#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/com/bstr.h"
#include "platform/com/datetext.h"
#include "platform/com/number.h"
#include "platform/win/locale_data.h"

namespace vkr::platform {
namespace {

struct Options {
  LCID lcid = LOCALE_USER_DEFAULT;
  bool alphaBool = false;
  bool localBool = false;
  bool noValueProp = false;
  DatePart datePart = DatePart::kAuto;
};

// The value to convert: a shallow VARIANT with VT_BYREF resolved (nothing in it is owned), and the
// text of a VT_BSTR.
struct Source {
  VARIANT v{};
  std::u16string_view text;
};

// An object whose Value property holds another object is followed this far.
constexpr int kMaxObjectDepth = 4;

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8:
      return true;
    default:
      return false;
  }
}

bool IsScalarBase(VARTYPE base) {
  switch (base) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT: case VT_RECORD:
      return true;
    default:
      return false;
  }
}

// The VARTYPEs a VARIANT may carry: a scalar, VT_ARRAY of one, VT_BYREF of one, VT_VARIANT only
// with a modifier; VT_EMPTY and VT_NULL only plain.
bool IsValidType(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE modifiers = vt & ~VT_TYPEMASK;
  if (modifiers & ~(VT_ARRAY | VT_BYREF)) return false;
  if (base == VT_VARIANT) return modifiers != 0;
  if (base == VT_EMPTY || base == VT_NULL) return modifiers == 0;
  return IsScalarBase(base);
}

// Fills *out in place (a copy of a finished Source costs more than the conversion).
HRESULT ReadSource(const VARIANT& in, Source* out, int depth = 0) {
  Source& s = *out;
  s.text = {};
  if (!(in.vt & VT_BYREF)) {
    s.v = in;
  } else {
    const VARTYPE base = in.vt & ~VT_BYREF;
    if (!in.byref) return E_INVALIDARG;
    if (base == VT_VARIANT) {
      const VARIANT& inner = *in.pvarVal;
      if (depth > 0 || inner.vt == (VT_BYREF | VT_VARIANT) || !IsValidType(inner.vt)) return E_INVALIDARG;
      return ReadSource(inner, out, depth + 1);
    }
    s.v.vt = base;
    switch (base) {
      case VT_I1: case VT_UI1: s.v.bVal = *in.pbVal; break;
      case VT_I2: case VT_UI2: case VT_BOOL: s.v.iVal = *in.piVal; break;
      case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: s.v.lVal = *in.plVal; break;
      case VT_R4: s.v.fltVal = *in.pfltVal; break;
      case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: case VT_CY: s.v.llVal = *in.pllVal; break;
      case VT_BSTR: s.v.bstrVal = *in.pbstrVal; break;
      case VT_DISPATCH: case VT_UNKNOWN: s.v.punkVal = *in.ppunkVal; break;
      case VT_DECIMAL: s.v.decVal = *in.pdecVal; s.v.vt = VT_DECIMAL; break;
      default: s.v.vt = in.vt; s.v.byref = in.byref; break;  // arrays and records stay by reference
    }
  }
  if (s.v.vt == VT_BSTR) s.text = std::u16string_view(s.v.bstrVal ? s.v.bstrVal : u"", SysStringLen(s.v.bstrVal));
  return S_OK;
}

HRESULT NumberOf(const VARIANT& v, Number* out) {
  switch (v.vt) {
    case VT_EMPTY: out->SetInteger(0); return S_OK;
    case VT_I1: out->SetInteger(static_cast<signed char>(v.cVal)); return S_OK;
    case VT_UI1: out->SetInteger(v.bVal); return S_OK;
    case VT_I2: out->SetInteger(v.iVal); return S_OK;
    case VT_UI2: out->SetInteger(v.uiVal); return S_OK;
    case VT_I4: out->SetInteger(v.lVal); return S_OK;
    case VT_UI4: out->SetInteger(v.ulVal); return S_OK;
    case VT_INT: out->SetInteger(v.intVal); return S_OK;
    case VT_UINT: out->SetInteger(v.uintVal); return S_OK;
    case VT_I8: out->SetInteger(v.llVal); return S_OK;
    case VT_UI8: out->SetInteger(v.ullVal); return S_OK;
    case VT_BOOL: out->SetInteger(v.boolVal); return S_OK;
    case VT_R4: out->SetReal(v.fltVal, 7); return S_OK;
    case VT_R8: out->SetReal(v.dblVal, 15); return S_OK;
    case VT_DATE: out->SetReal(v.date, 15); return S_OK;
    case VT_CY: out->SetDigits(DigitsFromCurrency(v.cyVal.int64)); return S_OK;
    case VT_DECIMAL: {
      Digits d;
      if (HRESULT hr = DigitsFromDecimal(v.decVal, &d); FAILED(hr)) return hr;
      out->SetDigits(d);
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT StoreInteger(__int128 x, VARTYPE to, VARIANT* r) {
  __int128 lo, hi;
  switch (to) {
    case VT_I1: lo = -128, hi = 127; break;
    case VT_UI1: lo = 0, hi = 0xFF; break;
    case VT_I2: lo = -32768, hi = 32767; break;
    case VT_UI2: lo = 0, hi = 0xFFFF; break;
    case VT_I4: case VT_INT: lo = -2147483647 - 1, hi = 2147483647; break;
    case VT_UI4: case VT_UINT: lo = 0, hi = 0xFFFFFFFFLL; break;
    case VT_I8: lo = -static_cast<__int128>(0x7FFFFFFFFFFFFFFFLL) - 1, hi = 0x7FFFFFFFFFFFFFFFLL; break;
    default: lo = 0, hi = 0xFFFFFFFFFFFFFFFFULL; break;
  }
  if (x < lo || x > hi) return DISP_E_OVERFLOW;
  r->llVal = 0;
  switch (to) {
    case VT_I1: r->cVal = static_cast<CHAR>(x); break;
    case VT_UI1: r->bVal = static_cast<BYTE>(x); break;
    case VT_I2: r->iVal = static_cast<SHORT>(x); break;
    case VT_UI2: r->uiVal = static_cast<USHORT>(x); break;
    case VT_I4: r->lVal = static_cast<LONG>(x); break;
    case VT_INT: r->intVal = static_cast<INT>(x); break;
    case VT_UI4: r->ulVal = static_cast<ULONG>(x); break;
    case VT_UINT: r->uintVal = static_cast<UINT>(x); break;
    case VT_I8: r->llVal = static_cast<LONGLONG>(x); break;
    default: r->ullVal = static_cast<ULONGLONG>(x); break;
  }
  r->vt = to;
  return S_OK;
}

HRESULT StoreText(std::u16string_view text, VARIANT* r) {
  BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!s) return E_OUTOFMEMORY;
  r->vt = VT_BSTR;
  r->bstrVal = s;
  return S_OK;
}

const LocaleData* Locale(const Options& o) { return FindLocale(o.lcid); }

HRESULT StoreNumber(const Number& n, VARTYPE to, const Options& o, VARIANT* r) {
  if (IsIntegerType(to)) {
    __int128 x;
    if (HRESULT hr = ToInteger(n, &x); FAILED(hr)) return hr;
    return StoreInteger(x, to, r);
  }
  switch (to) {
    case VT_R4: {
      float f;
      if (HRESULT hr = ToFloat(n, &f); FAILED(hr)) return hr;
      r->vt = VT_R4;
      r->fltVal = f;
      return S_OK;
    }
    case VT_R8:
    case VT_DATE: {
      double d;
      if (HRESULT hr = ToDouble(n, &d); FAILED(hr)) return hr;
      if (to == VT_DATE && !(d > -657435.0 && d < 2958466.0)) return DISP_E_OVERFLOW;
      r->vt = to;
      r->dblVal = d;
      return S_OK;
    }
    case VT_CY: {
      LONGLONG cy;
      if (HRESULT hr = ToCurrency(n, &cy); FAILED(hr)) return hr;
      r->vt = VT_CY;
      r->cyVal.int64 = cy;
      return S_OK;
    }
    case VT_DECIMAL: {
      DECIMAL d;
      if (HRESULT hr = ToDecimal(n, &d); FAILED(hr)) return hr;
      r->decVal = d;
      r->vt = VT_DECIMAL;
      return S_OK;
    }
    case VT_BOOL:
      r->vt = VT_BOOL;
      r->boolVal = IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
      return S_OK;
    case VT_BSTR: {
      const LocaleData* loc = Locale(o);
      if (!loc) return E_INVALIDARG;
      char16_t buf[128];
      int len = 0;
      if (HRESULT hr = NumberText(n, *loc, buf, &len); FAILED(hr)) return hr;
      return StoreText(std::u16string_view(buf, static_cast<std::size_t>(len)), r);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

bool SameWordIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::u16string_view Trimmed(std::u16string_view s) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xA0; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

HRESULT ParseBool(std::u16string_view text, const LocaleData& loc, VARIANT_BOOL* out) {
  const std::u16string_view t = Trimmed(text);
  if (SameWordIgnoringCase(t, u"True") || SameWordIgnoringCase(t, u"#TRUE#") || SameWordIgnoringCase(t, loc.trueName)) {
    *out = VARIANT_TRUE;
    return S_OK;
  }
  if (SameWordIgnoringCase(t, u"False") || SameWordIgnoringCase(t, u"#FALSE#") ||
      SameWordIgnoringCase(t, loc.falseName)) {
    *out = VARIANT_FALSE;
    return S_OK;
  }
  Number n;
  if (HRESULT hr = ParseNumber(text, loc, &n); FAILED(hr)) return hr;
  *out = IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT Coerce(const Source& s, VARTYPE to, const Options& o, VARIANT* r, int depth = 0);

// An object's Value property (DISPID_VALUE), converted in turn.
HRESULT CoerceObject(const Source& s, VARTYPE to, const Options& o, VARIANT* r, int depth) {
  if (o.noValueProp || !s.v.punkVal || depth >= kMaxObjectDepth) return DISP_E_TYPEMISMATCH;
  IDispatch* disp = nullptr;
  if (s.v.vt == VT_DISPATCH) {
    disp = s.v.pdispVal;
    disp->AddRef();
  } else if (FAILED(s.v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&disp))) || !disp) {
    return DISP_E_TYPEMISMATCH;
  }
  DISPPARAMS none{};
  VARIANT value;
  VariantInit(&value);
  HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, o.lcid, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  disp->Release();
  if (FAILED(hr)) return hr;
  Source inner;
  hr = ReadSource(value, &inner);
  if (SUCCEEDED(hr)) {
    if (inner.v.vt & VT_ARRAY) {
      hr = DISP_E_TYPEMISMATCH;
    } else if (inner.v.vt == to && to == VT_BSTR) {
      // The property's own text is the result; no copy needed.
      *r = value;
      VariantInit(&value);
    } else {
      hr = Coerce(inner, to, o, r, depth + 1);
    }
  }
  VariantClear(&value);
  return hr;
}

HRESULT Coerce(const Source& s, VARTYPE to, const Options& o, VARIANT* r, int depth) {
  const VARIANT& v = s.v;
  if (to == VT_EMPTY) {
    r->vt = VT_EMPTY;
    return S_OK;
  }
  if (to == VT_NULL) {
    r->vt = VT_NULL;
    return S_OK;
  }
  if (v.vt == to && to != VT_BSTR && to != VT_DISPATCH && to != VT_UNKNOWN && to != VT_RECORD) {
    *r = v;
    return S_OK;
  }
  switch (v.vt) {
    case VT_NULL:
    case VT_RECORD:
      return DISP_E_TYPEMISMATCH;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return CoerceObject(s, to, o, r, depth);
    case VT_ERROR:
      if (to != VT_ERROR) return DISP_E_TYPEMISMATCH;
      r->vt = VT_ERROR;
      r->scode = v.scode;
      return S_OK;
    default:
      break;
  }
  if (to == VT_ERROR || to == VT_DISPATCH || to == VT_UNKNOWN || to == VT_RECORD) return DISP_E_TYPEMISMATCH;

  switch (v.vt) {
    case VT_BSTR: {
      if (to == VT_BSTR) return StoreText(s.text, r);
      const LocaleData* loc = Locale(o);
      if (!loc) return E_INVALIDARG;
      if (to == VT_BOOL) {
        VARIANT_BOOL b;
        if (HRESULT hr = ParseBool(s.text, *loc, &b); FAILED(hr)) return hr;
        r->vt = VT_BOOL;
        r->boolVal = b;
        return S_OK;
      }
      if (to == VT_DATE) {
        DATE d;
        if (HRESULT hr = ParseDate(s.text, *loc, o.datePart, &d); FAILED(hr)) return hr;
        r->vt = VT_DATE;
        r->date = d;
        return S_OK;
      }
      Number n;
      if (HRESULT hr = ParseNumber(s.text, *loc, &n); FAILED(hr)) return hr;
      return StoreNumber(n, to, o, r);
    }
    case VT_EMPTY:
      if (to == VT_BSTR) return StoreText(u"", r);
      break;
    case VT_BOOL:
      if (to == VT_BSTR && o.alphaBool) {
        const LocaleData* loc = Locale(o);
        if (!loc) return E_INVALIDARG;
        const bool value = v.boolVal != VARIANT_FALSE;
        return StoreText(o.localBool ? (value ? loc->trueName : loc->falseName) : (value ? u"True" : u"False"), r);
      }
      if (to == VT_UI1 || to == VT_UI8) {
        // TRUE has every bit set: 255 as a byte.
        const auto bits = static_cast<ULONGLONG>(static_cast<LONGLONG>(v.boolVal));
        return StoreInteger(to == VT_UI1 ? bits & 0xFF : bits, to, r);
      }
      // To VT_UI2, VT_UI4 and VT_UINT a boolean goes as the VT_I2 number it is, so TRUE (-1)
      // overflows like any negative number.
      break;
    case VT_DATE:
      if (to == VT_BSTR) {
        const LocaleData* loc = Locale(o);
        if (!loc) return E_INVALIDARG;
        std::u16string text;
        if (HRESULT hr = DateText(v.date, *loc, o.datePart, &text); FAILED(hr)) return hr;
        return StoreText(text, r);
      }
      break;
    default:
      break;
  }
  Number n;
  if (HRESULT hr = NumberOf(v, &n); FAILED(hr)) return hr;
  return StoreNumber(n, to, o, r);
}

HRESULT CheckCalendarFlags(bool hijriOrThai) { return hijriOrThai ? E_NOTIMPL : S_OK; }

Options VarOptions(LCID lcid, ULONG flags) {
  Options o;
  o.lcid = lcid;
  o.alphaBool = true;
  o.localBool = (flags & VAR_LOCALBOOL) != 0;
  o.datePart = (flags & VAR_TIMEVALUEONLY) ? DatePart::kTimeOnly
               : (flags & VAR_DATEVALUEONLY) ? DatePart::kDateOnly
                                             : DatePart::kAuto;
  return o;
}

// Runs a per-pair conversion: the source built by `fill`, the result taken out as Out.
template <typename Out, typename Fill>
HRESULT RunVar(VARTYPE to, LCID lcid, ULONG flags, Out* out, Fill fill) {
  if (!out) return E_INVALIDARG;
  if (HRESULT hr = CheckCalendarFlags(flags & (VAR_CALENDAR_HIJRI | VAR_CALENDAR_THAI)); FAILED(hr)) return hr;
  Source s;
  if (HRESULT hr = fill(&s); FAILED(hr)) return hr;
  VARIANT r;
  VariantInit(&r);
  if (HRESULT hr = Coerce(s, to, VarOptions(lcid, flags), &r); FAILED(hr)) return hr;
  if constexpr (std::is_same_v<Out, DECIMAL>) {
    *out = r.decVal;
    out->wReserved = 0;
  } else {
    static_assert(sizeof(Out) <= sizeof(r.llVal));
    std::memcpy(out, &r.llVal, sizeof(Out));
  }
  return S_OK;
}

template <typename In, typename Out>
HRESULT FromValue(VARTYPE from, In in, VARTYPE to, LCID lcid, ULONG flags, Out* out) {
  return RunVar(to, lcid, flags, out, [&](Source* s) {
    static_assert(sizeof(In) <= sizeof(s->v.llVal));
    s->v.vt = from;
    std::memcpy(&s->v.llVal, &in, sizeof(In));
    return S_OK;
  });
}

template <typename Out>
HRESULT FromText(LPCOLESTR in, VARTYPE to, LCID lcid, ULONG flags, Out* out) {
  return RunVar(to, lcid, flags, out, [&](Source* s) {
    if (!in) return E_INVALIDARG;
    s->v.vt = VT_BSTR;
    s->text = std::u16string_view(in);
    return S_OK;
  });
}

template <typename Out>
HRESULT FromDecimal(const DECIMAL* in, VARTYPE to, LCID lcid, ULONG flags, Out* out) {
  return RunVar(to, lcid, flags, out, [&](Source* s) {
    if (!in) return E_INVALIDARG;
    s->v.decVal = *in;
    s->v.vt = VT_DECIMAL;
    return S_OK;
  });
}

template <typename Out>
HRESULT FromDispatch(IDispatch* in, VARTYPE to, LCID lcid, ULONG flags, Out* out) {
  return RunVar(to, lcid, flags, out, [&](Source* s) {
    if (!in) return E_INVALIDARG;
    s->v.vt = VT_DISPATCH;
    s->v.pdispVal = in;
    return S_OK;
  });
}

// Simple case folding of the Latin, Greek and Cyrillic letters.
char16_t FoldCase(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  if ((c >= 0x100 && c <= 0x137 && c % 2 == 0) || (c >= 0x139 && c <= 0x148 && c % 2 == 1) ||
      (c >= 0x14A && c <= 0x177 && c % 2 == 0) || (c >= 0x179 && c <= 0x17E && c % 2 == 1))
    return static_cast<char16_t>(c + 1);
  if (c == 0x178) return 0xFF;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 0x20);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
  return c;
}

HRESULT CheckCompareFlags(ULONG flags) {
  constexpr ULONG kUnsupported =
      NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH | NORM_IGNOREKASHIDA;
  if (flags & kUnsupported) return E_NOTIMPL;
  if (flags & ~(NORM_IGNORECASE | kUnsupported)) return E_INVALIDARG;
  return S_OK;
}

HRESULT CompareTexts(std::u16string_view a, std::u16string_view b, ULONG flags) {
  const bool fold = (flags & NORM_IGNORECASE) != 0;
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = fold ? FoldCase(a[i]) : a[i];
    const char16_t y = fold ? FoldCase(b[i]) : b[i];
    if (x != y) return x < y ? VARCMP_LT : VARCMP_GT;
  }
  return a.size() == b.size() ? VARCMP_EQ : (a.size() < b.size() ? VARCMP_LT : VARCMP_GT);
}

bool IsNumericForCompare(VARTYPE vt) {
  return IsIntegerType(vt) || vt == VT_R4 || vt == VT_R8 || vt == VT_DATE || vt == VT_CY || vt == VT_DECIMAL ||
         vt == VT_BOOL || vt == VT_EMPTY;
}

}  // namespace
}  // namespace vkr::platform

using namespace vkr::platform;

HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if (HRESULT hr = CheckCalendarFlags(flags & (VARIANT_CALENDAR_HIJRI | VARIANT_CALENDAR_THAI)); FAILED(hr))
    return hr;
  if (!IsValidType(src->vt) || !IsValidType(vt)) return DISP_E_BADVARTYPE;
  if (src->vt == vt) {
    if (dest == src) return S_OK;
    VARIANT copy;
    VariantInit(&copy);
    if (HRESULT hr = VariantCopy(&copy, src); FAILED(hr)) return hr;
    if (HRESULT hr = VariantClear(dest); FAILED(hr)) {
      VariantClear(&copy);
      return hr;
    }
    *dest = copy;
    return S_OK;
  }
  if ((src->vt & VT_ARRAY) || (vt & (VT_ARRAY | VT_BYREF))) return DISP_E_TYPEMISMATCH;
  Source s;
  if (HRESULT hr = ReadSource(*src, &s); FAILED(hr)) return hr;
  if (s.v.vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
  Options o;
  o.lcid = lcid;
  o.alphaBool = (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0;
  o.localBool = (flags & VARIANT_LOCALBOOL) != 0;
  o.noValueProp = (flags & VARIANT_NOVALUEPROP) != 0;
  VARIANT result;
  VariantInit(&result);
  if (HRESULT hr = Coerce(s, vt, o, &result); FAILED(hr)) return hr;
  if (HRESULT hr = VariantClear(dest); FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt) {
  return VariantChangeTypeEx(dest, src, LOCALE_USER_DEFAULT, flags, vt);
}

HRESULT VarCmp(LPVARIANT left, LPVARIANT right, LCID /*lcid*/, ULONG flags) {
  if (!left || !right) return E_INVALIDARG;
  if (!IsValidType(left->vt) || !IsValidType(right->vt)) return DISP_E_BADVARTYPE;
  if (HRESULT hr = CheckCompareFlags(flags); FAILED(hr)) return hr;
  Source a, b;
  if (HRESULT hr = ReadSource(*left, &a); FAILED(hr)) return hr;
  if (HRESULT hr = ReadSource(*right, &b); FAILED(hr)) return hr;
  const VARTYPE ta = a.v.vt, tb = b.v.vt;
  if (ta == VT_NULL || tb == VT_NULL) return VARCMP_NULL;
  if (ta == VT_ERROR || tb == VT_ERROR) {
    if (ta != tb) return DISP_E_TYPEMISMATCH;
    return a.v.scode < b.v.scode ? VARCMP_LT : a.v.scode > b.v.scode ? VARCMP_GT : VARCMP_EQ;
  }
  const bool textA = ta == VT_BSTR, textB = tb == VT_BSTR;
  if ((!textA && !IsNumericForCompare(ta)) || (!textB && !IsNumericForCompare(tb))) return DISP_E_TYPEMISMATCH;
  if (textA || textB) {
    if (textA && textB) return CompareTexts(a.text, b.text, flags);
    if (ta == VT_EMPTY) return CompareTexts(u"", b.text, flags);
    if (tb == VT_EMPTY) return CompareTexts(a.text, u"", flags);
    return textA ? VARCMP_GT : VARCMP_LT;
  }
  Number na, nb;
  if (HRESULT hr = NumberOf(a.v, &na); FAILED(hr)) return hr;
  if (HRESULT hr = NumberOf(b.v, &nb); FAILED(hr)) return hr;
  const int c = CompareNumbers(na, nb);
  return c < 0 ? VARCMP_LT : c > 0 ? VARCMP_GT : VARCMP_EQ;
}

HRESULT VarBstrCmp(BSTR left, BSTR right, LCID /*lcid*/, ULONG flags) {
  if (HRESULT hr = CheckCompareFlags(flags); FAILED(hr)) return hr;
  return CompareTexts(std::u16string_view(left ? left : u"", SysStringLen(left)),
                      std::u16string_view(right ? right : u"", SysStringLen(right)), flags);
}

HRESULT VarBstrCat(BSTR left, BSTR right, BSTR* result) {
  if (!result) return E_INVALIDARG;
  const std::size_t la = SysStringLen(left), lb = SysStringLen(right);
  if (la + lb > 0x3FFFFFF0u) return E_OUTOFMEMORY;
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(la + lb));
  if (!s) return E_OUTOFMEMORY;
  if (la) std::memcpy(s, left, la * sizeof(OLECHAR));
  if (lb) std::memcpy(s + la, right, lb * sizeof(OLECHAR));
  *result = s;
  return S_OK;
}

INT VariantTimeToSystemTime(DOUBLE vtime, SYSTEMTIME* st) {
  DateParts p;
  if (!st || !DateToParts(vtime, &p)) return FALSE;
  st->wYear = static_cast<WORD>(p.year);
  st->wMonth = static_cast<WORD>(p.month);
  st->wDayOfWeek = static_cast<WORD>(p.dayOfWeek);
  st->wDay = static_cast<WORD>(p.day);
  st->wHour = static_cast<WORD>(p.hour);
  st->wMinute = static_cast<WORD>(p.minute);
  st->wSecond = static_cast<WORD>(p.second);
  st->wMilliseconds = 0;
  return TRUE;
}

INT SystemTimeToVariantTime(SYSTEMTIME* st, DOUBLE* vtime) {
  if (!st || !vtime) return FALSE;
  DateParts p;
  p.year = st->wYear;
  p.month = st->wMonth;
  p.day = st->wDay;
  p.hour = st->wHour;
  p.minute = st->wMinute;
  p.second = st->wSecond;
  return PartsToDate(p, true, vtime) ? TRUE : FALSE;
}

// The per-pair conversions.
HRESULT VarUI1FromI2(SHORT in, BYTE* out) { return FromValue(VT_I2, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromI4(LONG in, BYTE* out) { return FromValue(VT_I4, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromI8(LONG64 in, BYTE* out) { return FromValue(VT_I8, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromR4(FLOAT in, BYTE* out) { return FromValue(VT_R4, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromR8(DOUBLE in, BYTE* out) { return FromValue(VT_R8, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromCy(CY in, BYTE* out) { return FromValue(VT_CY, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromDate(DATE in, BYTE* out) { return FromValue(VT_DATE, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromBool(VARIANT_BOOL in, BYTE* out) { return FromValue(VT_BOOL, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromI1(CHAR in, BYTE* out) { return FromValue(VT_I1, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromUI2(USHORT in, BYTE* out) { return FromValue(VT_UI2, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromUI4(ULONG in, BYTE* out) { return FromValue(VT_UI4, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromUI8(ULONG64 in, BYTE* out) { return FromValue(VT_UI8, in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromDec(const DECIMAL* in, BYTE* out) { return FromDecimal(in, VT_UI1, 0, 0, out); }
HRESULT VarUI1FromStr(LPCOLESTR in, LCID lcid, ULONG flags, BYTE* out) { return FromText(in, VT_UI1, lcid, flags, out); }
HRESULT VarUI1FromDisp(IDispatch* in, LCID lcid, BYTE* out) { return FromDispatch(in, VT_UI1, lcid, 0, out); }

HRESULT VarI2FromUI1(BYTE in, SHORT* out) { return FromValue(VT_UI1, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromI4(LONG in, SHORT* out) { return FromValue(VT_I4, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromI8(LONG64 in, SHORT* out) { return FromValue(VT_I8, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromR4(FLOAT in, SHORT* out) { return FromValue(VT_R4, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromR8(DOUBLE in, SHORT* out) { return FromValue(VT_R8, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromCy(CY in, SHORT* out) { return FromValue(VT_CY, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromDate(DATE in, SHORT* out) { return FromValue(VT_DATE, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromBool(VARIANT_BOOL in, SHORT* out) { return FromValue(VT_BOOL, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromI1(CHAR in, SHORT* out) { return FromValue(VT_I1, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromUI2(USHORT in, SHORT* out) { return FromValue(VT_UI2, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromUI4(ULONG in, SHORT* out) { return FromValue(VT_UI4, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromUI8(ULONG64 in, SHORT* out) { return FromValue(VT_UI8, in, VT_I2, 0, 0, out); }
HRESULT VarI2FromDec(const DECIMAL* in, SHORT* out) { return FromDecimal(in, VT_I2, 0, 0, out); }
HRESULT VarI2FromStr(LPCOLESTR in, LCID lcid, ULONG flags, SHORT* out) { return FromText(in, VT_I2, lcid, flags, out); }
HRESULT VarI2FromDisp(IDispatch* in, LCID lcid, SHORT* out) { return FromDispatch(in, VT_I2, lcid, 0, out); }

HRESULT VarI4FromUI1(BYTE in, LONG* out) { return FromValue(VT_UI1, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromI2(SHORT in, LONG* out) { return FromValue(VT_I2, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromI8(LONG64 in, LONG* out) { return FromValue(VT_I8, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromR4(FLOAT in, LONG* out) { return FromValue(VT_R4, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromR8(DOUBLE in, LONG* out) { return FromValue(VT_R8, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromCy(CY in, LONG* out) { return FromValue(VT_CY, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromDate(DATE in, LONG* out) { return FromValue(VT_DATE, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromBool(VARIANT_BOOL in, LONG* out) { return FromValue(VT_BOOL, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromI1(CHAR in, LONG* out) { return FromValue(VT_I1, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromUI2(USHORT in, LONG* out) { return FromValue(VT_UI2, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromUI4(ULONG in, LONG* out) { return FromValue(VT_UI4, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromUI8(ULONG64 in, LONG* out) { return FromValue(VT_UI8, in, VT_I4, 0, 0, out); }
HRESULT VarI4FromDec(const DECIMAL* in, LONG* out) { return FromDecimal(in, VT_I4, 0, 0, out); }
HRESULT VarI4FromStr(LPCOLESTR in, LCID lcid, ULONG flags, LONG* out) { return FromText(in, VT_I4, lcid, flags, out); }
HRESULT VarI4FromDisp(IDispatch* in, LCID lcid, LONG* out) { return FromDispatch(in, VT_I4, lcid, 0, out); }

HRESULT VarI8FromUI1(BYTE in, LONG64* out) { return FromValue(VT_UI1, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromI2(SHORT in, LONG64* out) { return FromValue(VT_I2, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromI4(LONG in, LONG64* out) { return FromValue(VT_I4, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromR4(FLOAT in, LONG64* out) { return FromValue(VT_R4, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromR8(DOUBLE in, LONG64* out) { return FromValue(VT_R8, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromCy(CY in, LONG64* out) { return FromValue(VT_CY, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromDate(DATE in, LONG64* out) { return FromValue(VT_DATE, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromBool(VARIANT_BOOL in, LONG64* out) { return FromValue(VT_BOOL, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromI1(CHAR in, LONG64* out) { return FromValue(VT_I1, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromUI2(USHORT in, LONG64* out) { return FromValue(VT_UI2, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromUI4(ULONG in, LONG64* out) { return FromValue(VT_UI4, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromUI8(ULONG64 in, LONG64* out) { return FromValue(VT_UI8, in, VT_I8, 0, 0, out); }
HRESULT VarI8FromDec(const DECIMAL* in, LONG64* out) { return FromDecimal(in, VT_I8, 0, 0, out); }
HRESULT VarI8FromStr(LPCOLESTR in, LCID lcid, ULONG flags, LONG64* out) { return FromText(in, VT_I8, lcid, flags, out); }
HRESULT VarI8FromDisp(IDispatch* in, LCID lcid, LONG64* out) { return FromDispatch(in, VT_I8, lcid, 0, out); }

HRESULT VarR4FromUI1(BYTE in, FLOAT* out) { return FromValue(VT_UI1, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromI2(SHORT in, FLOAT* out) { return FromValue(VT_I2, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromI4(LONG in, FLOAT* out) { return FromValue(VT_I4, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromI8(LONG64 in, FLOAT* out) { return FromValue(VT_I8, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromR8(DOUBLE in, FLOAT* out) { return FromValue(VT_R8, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromCy(CY in, FLOAT* out) { return FromValue(VT_CY, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromDate(DATE in, FLOAT* out) { return FromValue(VT_DATE, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromBool(VARIANT_BOOL in, FLOAT* out) { return FromValue(VT_BOOL, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromI1(CHAR in, FLOAT* out) { return FromValue(VT_I1, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromUI2(USHORT in, FLOAT* out) { return FromValue(VT_UI2, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromUI4(ULONG in, FLOAT* out) { return FromValue(VT_UI4, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromUI8(ULONG64 in, FLOAT* out) { return FromValue(VT_UI8, in, VT_R4, 0, 0, out); }
HRESULT VarR4FromDec(const DECIMAL* in, FLOAT* out) { return FromDecimal(in, VT_R4, 0, 0, out); }
HRESULT VarR4FromStr(LPCOLESTR in, LCID lcid, ULONG flags, FLOAT* out) { return FromText(in, VT_R4, lcid, flags, out); }
HRESULT VarR4FromDisp(IDispatch* in, LCID lcid, FLOAT* out) { return FromDispatch(in, VT_R4, lcid, 0, out); }

HRESULT VarR8FromUI1(BYTE in, DOUBLE* out) { return FromValue(VT_UI1, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromI2(SHORT in, DOUBLE* out) { return FromValue(VT_I2, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromI4(LONG in, DOUBLE* out) { return FromValue(VT_I4, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromI8(LONG64 in, DOUBLE* out) { return FromValue(VT_I8, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromR4(FLOAT in, DOUBLE* out) { return FromValue(VT_R4, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromCy(CY in, DOUBLE* out) { return FromValue(VT_CY, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromDate(DATE in, DOUBLE* out) { return FromValue(VT_DATE, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromBool(VARIANT_BOOL in, DOUBLE* out) { return FromValue(VT_BOOL, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromI1(CHAR in, DOUBLE* out) { return FromValue(VT_I1, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromUI2(USHORT in, DOUBLE* out) { return FromValue(VT_UI2, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromUI4(ULONG in, DOUBLE* out) { return FromValue(VT_UI4, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromUI8(ULONG64 in, DOUBLE* out) { return FromValue(VT_UI8, in, VT_R8, 0, 0, out); }
HRESULT VarR8FromDec(const DECIMAL* in, DOUBLE* out) { return FromDecimal(in, VT_R8, 0, 0, out); }
HRESULT VarR8FromStr(LPCOLESTR in, LCID lcid, ULONG flags, DOUBLE* out) { return FromText(in, VT_R8, lcid, flags, out); }
HRESULT VarR8FromDisp(IDispatch* in, LCID lcid, DOUBLE* out) { return FromDispatch(in, VT_R8, lcid, 0, out); }

HRESULT VarCyFromUI1(BYTE in, CY* out) { return FromValue(VT_UI1, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromI2(SHORT in, CY* out) { return FromValue(VT_I2, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromI4(LONG in, CY* out) { return FromValue(VT_I4, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromI8(LONG64 in, CY* out) { return FromValue(VT_I8, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromR4(FLOAT in, CY* out) { return FromValue(VT_R4, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromR8(DOUBLE in, CY* out) { return FromValue(VT_R8, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromDate(DATE in, CY* out) { return FromValue(VT_DATE, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromBool(VARIANT_BOOL in, CY* out) { return FromValue(VT_BOOL, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromI1(CHAR in, CY* out) { return FromValue(VT_I1, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromUI2(USHORT in, CY* out) { return FromValue(VT_UI2, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromUI4(ULONG in, CY* out) { return FromValue(VT_UI4, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromUI8(ULONG64 in, CY* out) { return FromValue(VT_UI8, in, VT_CY, 0, 0, out); }
HRESULT VarCyFromDec(const DECIMAL* in, CY* out) { return FromDecimal(in, VT_CY, 0, 0, out); }
HRESULT VarCyFromStr(LPCOLESTR in, LCID lcid, ULONG flags, CY* out) { return FromText(in, VT_CY, lcid, flags, out); }
HRESULT VarCyFromDisp(IDispatch* in, LCID lcid, CY* out) { return FromDispatch(in, VT_CY, lcid, 0, out); }

HRESULT VarDateFromUI1(BYTE in, DATE* out) { return FromValue(VT_UI1, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromI2(SHORT in, DATE* out) { return FromValue(VT_I2, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromI4(LONG in, DATE* out) { return FromValue(VT_I4, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromI8(LONG64 in, DATE* out) { return FromValue(VT_I8, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromR4(FLOAT in, DATE* out) { return FromValue(VT_R4, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromR8(DOUBLE in, DATE* out) { return FromValue(VT_R8, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromCy(CY in, DATE* out) { return FromValue(VT_CY, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromBool(VARIANT_BOOL in, DATE* out) { return FromValue(VT_BOOL, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromI1(CHAR in, DATE* out) { return FromValue(VT_I1, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromUI2(USHORT in, DATE* out) { return FromValue(VT_UI2, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromUI4(ULONG in, DATE* out) { return FromValue(VT_UI4, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromUI8(ULONG64 in, DATE* out) { return FromValue(VT_UI8, in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromDec(const DECIMAL* in, DATE* out) { return FromDecimal(in, VT_DATE, 0, 0, out); }
HRESULT VarDateFromStr(LPCOLESTR in, LCID lcid, ULONG flags, DATE* out) { return FromText(in, VT_DATE, lcid, flags, out); }
HRESULT VarDateFromDisp(IDispatch* in, LCID lcid, DATE* out) { return FromDispatch(in, VT_DATE, lcid, 0, out); }

HRESULT VarBoolFromUI1(BYTE in, VARIANT_BOOL* out) { return FromValue(VT_UI1, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromI2(SHORT in, VARIANT_BOOL* out) { return FromValue(VT_I2, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromI4(LONG in, VARIANT_BOOL* out) { return FromValue(VT_I4, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromI8(LONG64 in, VARIANT_BOOL* out) { return FromValue(VT_I8, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromR4(FLOAT in, VARIANT_BOOL* out) { return FromValue(VT_R4, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromR8(DOUBLE in, VARIANT_BOOL* out) { return FromValue(VT_R8, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromCy(CY in, VARIANT_BOOL* out) { return FromValue(VT_CY, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromDate(DATE in, VARIANT_BOOL* out) { return FromValue(VT_DATE, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromI1(CHAR in, VARIANT_BOOL* out) { return FromValue(VT_I1, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromUI2(USHORT in, VARIANT_BOOL* out) { return FromValue(VT_UI2, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromUI4(ULONG in, VARIANT_BOOL* out) { return FromValue(VT_UI4, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromUI8(ULONG64 in, VARIANT_BOOL* out) { return FromValue(VT_UI8, in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromDec(const DECIMAL* in, VARIANT_BOOL* out) { return FromDecimal(in, VT_BOOL, 0, 0, out); }
HRESULT VarBoolFromStr(LPCOLESTR in, LCID lcid, ULONG flags, VARIANT_BOOL* out) { return FromText(in, VT_BOOL, lcid, flags, out); }
HRESULT VarBoolFromDisp(IDispatch* in, LCID lcid, VARIANT_BOOL* out) { return FromDispatch(in, VT_BOOL, lcid, 0, out); }

HRESULT VarI1FromUI1(BYTE in, CHAR* out) { return FromValue(VT_UI1, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromI2(SHORT in, CHAR* out) { return FromValue(VT_I2, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromI4(LONG in, CHAR* out) { return FromValue(VT_I4, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromI8(LONG64 in, CHAR* out) { return FromValue(VT_I8, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromR4(FLOAT in, CHAR* out) { return FromValue(VT_R4, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromR8(DOUBLE in, CHAR* out) { return FromValue(VT_R8, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromCy(CY in, CHAR* out) { return FromValue(VT_CY, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromDate(DATE in, CHAR* out) { return FromValue(VT_DATE, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromBool(VARIANT_BOOL in, CHAR* out) { return FromValue(VT_BOOL, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromUI2(USHORT in, CHAR* out) { return FromValue(VT_UI2, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromUI4(ULONG in, CHAR* out) { return FromValue(VT_UI4, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromUI8(ULONG64 in, CHAR* out) { return FromValue(VT_UI8, in, VT_I1, 0, 0, out); }
HRESULT VarI1FromDec(const DECIMAL* in, CHAR* out) { return FromDecimal(in, VT_I1, 0, 0, out); }
HRESULT VarI1FromStr(LPCOLESTR in, LCID lcid, ULONG flags, CHAR* out) { return FromText(in, VT_I1, lcid, flags, out); }
HRESULT VarI1FromDisp(IDispatch* in, LCID lcid, CHAR* out) { return FromDispatch(in, VT_I1, lcid, 0, out); }

HRESULT VarUI2FromUI1(BYTE in, USHORT* out) { return FromValue(VT_UI1, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromI2(SHORT in, USHORT* out) { return FromValue(VT_I2, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromI4(LONG in, USHORT* out) { return FromValue(VT_I4, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromI8(LONG64 in, USHORT* out) { return FromValue(VT_I8, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromR4(FLOAT in, USHORT* out) { return FromValue(VT_R4, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromR8(DOUBLE in, USHORT* out) { return FromValue(VT_R8, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromCy(CY in, USHORT* out) { return FromValue(VT_CY, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromDate(DATE in, USHORT* out) { return FromValue(VT_DATE, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromBool(VARIANT_BOOL in, USHORT* out) { return FromValue(VT_BOOL, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromI1(CHAR in, USHORT* out) { return FromValue(VT_I1, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromUI4(ULONG in, USHORT* out) { return FromValue(VT_UI4, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromUI8(ULONG64 in, USHORT* out) { return FromValue(VT_UI8, in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromDec(const DECIMAL* in, USHORT* out) { return FromDecimal(in, VT_UI2, 0, 0, out); }
HRESULT VarUI2FromStr(LPCOLESTR in, LCID lcid, ULONG flags, USHORT* out) { return FromText(in, VT_UI2, lcid, flags, out); }
HRESULT VarUI2FromDisp(IDispatch* in, LCID lcid, USHORT* out) { return FromDispatch(in, VT_UI2, lcid, 0, out); }

HRESULT VarUI4FromUI1(BYTE in, ULONG* out) { return FromValue(VT_UI1, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromI2(SHORT in, ULONG* out) { return FromValue(VT_I2, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromI4(LONG in, ULONG* out) { return FromValue(VT_I4, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromI8(LONG64 in, ULONG* out) { return FromValue(VT_I8, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromR4(FLOAT in, ULONG* out) { return FromValue(VT_R4, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromR8(DOUBLE in, ULONG* out) { return FromValue(VT_R8, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromCy(CY in, ULONG* out) { return FromValue(VT_CY, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromDate(DATE in, ULONG* out) { return FromValue(VT_DATE, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromBool(VARIANT_BOOL in, ULONG* out) { return FromValue(VT_BOOL, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromI1(CHAR in, ULONG* out) { return FromValue(VT_I1, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromUI2(USHORT in, ULONG* out) { return FromValue(VT_UI2, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromUI8(ULONG64 in, ULONG* out) { return FromValue(VT_UI8, in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromDec(const DECIMAL* in, ULONG* out) { return FromDecimal(in, VT_UI4, 0, 0, out); }
HRESULT VarUI4FromStr(LPCOLESTR in, LCID lcid, ULONG flags, ULONG* out) { return FromText(in, VT_UI4, lcid, flags, out); }
HRESULT VarUI4FromDisp(IDispatch* in, LCID lcid, ULONG* out) { return FromDispatch(in, VT_UI4, lcid, 0, out); }

HRESULT VarUI8FromUI1(BYTE in, ULONG64* out) { return FromValue(VT_UI1, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromI2(SHORT in, ULONG64* out) { return FromValue(VT_I2, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromI4(LONG in, ULONG64* out) { return FromValue(VT_I4, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromI8(LONG64 in, ULONG64* out) { return FromValue(VT_I8, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromR4(FLOAT in, ULONG64* out) { return FromValue(VT_R4, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromR8(DOUBLE in, ULONG64* out) { return FromValue(VT_R8, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromCy(CY in, ULONG64* out) { return FromValue(VT_CY, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromDate(DATE in, ULONG64* out) { return FromValue(VT_DATE, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromBool(VARIANT_BOOL in, ULONG64* out) { return FromValue(VT_BOOL, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromI1(CHAR in, ULONG64* out) { return FromValue(VT_I1, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromUI2(USHORT in, ULONG64* out) { return FromValue(VT_UI2, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromUI4(ULONG in, ULONG64* out) { return FromValue(VT_UI4, in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromDec(const DECIMAL* in, ULONG64* out) { return FromDecimal(in, VT_UI8, 0, 0, out); }
HRESULT VarUI8FromStr(LPCOLESTR in, LCID lcid, ULONG flags, ULONG64* out) { return FromText(in, VT_UI8, lcid, flags, out); }
HRESULT VarUI8FromDisp(IDispatch* in, LCID lcid, ULONG64* out) { return FromDispatch(in, VT_UI8, lcid, 0, out); }

HRESULT VarDecFromUI1(BYTE in, DECIMAL* out) { return FromValue(VT_UI1, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromI2(SHORT in, DECIMAL* out) { return FromValue(VT_I2, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromI4(LONG in, DECIMAL* out) { return FromValue(VT_I4, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromI8(LONG64 in, DECIMAL* out) { return FromValue(VT_I8, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromR4(FLOAT in, DECIMAL* out) { return FromValue(VT_R4, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromR8(DOUBLE in, DECIMAL* out) { return FromValue(VT_R8, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromCy(CY in, DECIMAL* out) { return FromValue(VT_CY, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromDate(DATE in, DECIMAL* out) { return FromValue(VT_DATE, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromBool(VARIANT_BOOL in, DECIMAL* out) { return FromValue(VT_BOOL, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromI1(CHAR in, DECIMAL* out) { return FromValue(VT_I1, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromUI2(USHORT in, DECIMAL* out) { return FromValue(VT_UI2, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromUI4(ULONG in, DECIMAL* out) { return FromValue(VT_UI4, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromUI8(ULONG64 in, DECIMAL* out) { return FromValue(VT_UI8, in, VT_DECIMAL, 0, 0, out); }
HRESULT VarDecFromStr(LPCOLESTR in, LCID lcid, ULONG flags, DECIMAL* out) { return FromText(in, VT_DECIMAL, lcid, flags, out); }
HRESULT VarDecFromDisp(IDispatch* in, LCID lcid, DECIMAL* out) { return FromDispatch(in, VT_DECIMAL, lcid, 0, out); }

HRESULT VarBstrFromUI1(BYTE in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_UI1, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromI2(SHORT in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_I2, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromI4(LONG in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_I4, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromI8(LONG64 in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_I8, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromR4(FLOAT in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_R4, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromR8(DOUBLE in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_R8, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromCy(CY in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_CY, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromDate(DATE in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_DATE, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromBool(VARIANT_BOOL in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_BOOL, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromI1(CHAR in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_I1, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromUI2(USHORT in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_UI2, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromUI4(ULONG in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_UI4, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromUI8(ULONG64 in, LCID lcid, ULONG flags, BSTR* out) { return FromValue(VT_UI8, in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromDec(const DECIMAL* in, LCID lcid, ULONG flags, BSTR* out) { return FromDecimal(in, VT_BSTR, lcid, flags, out); }
HRESULT VarBstrFromDisp(IDispatch* in, LCID lcid, ULONG flags, BSTR* out) { return FromDispatch(in, VT_BSTR, lcid, flags, out); }
