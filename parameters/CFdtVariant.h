// Parameter values: the VARIANT wrapper CFdtVariant, the conversion engine every subsystem uses to
// bring a value to the type a parameter, document or control expects, value equality, and the
// plain display text of a value.
//
// None of these keeps state. Conversions follow OLE Automation (VariantChangeTypeEx and the
// VarXxxFromYyy functions) and add what it lacks: 64-bit integers to and from DECIMAL, empty texts
// as 0, hex text to and from byte arrays, and scalars to and from arrays.
#pragma once

#include <exception>

#include "platform/platform.h"

namespace vkr {
// A failure raised where a constructor or a value-returning helper cannot report an HRESULT.
class HResultError : public std::exception {
 public:
  explicit HResultError(HRESULT hr) : m_hr(hr) {}
  HRESULT Result() const { return m_hr; }
  const char* what() const noexcept override { return "HRESULT failure"; }

 private:
  HRESULT m_hr;
};
}  // namespace vkr

// The VARIANT type of parameter values.
class CFdtVariant : public vkr::Variant {
 public:
  CFdtVariant() = default;
  // VT_UI4: the form in which parameter ids and job numbers travel.
  explicit CFdtVariant(ULONG value);
  // VT_BSTR holding a copy (null is the empty text). Out of memory leaves VT_ERROR E_OUTOFMEMORY
  // and throws vkr::HResultError.
  explicit CFdtVariant(LPCOLESTR text);
  // A deep copy; a failed copy leaves VT_ERROR with the code and throws it.
  explicit CFdtVariant(const VARIANT& value);
  CFdtVariant(const CFdtVariant& other) : CFdtVariant(static_cast<const VARIANT&>(other)) {}
  CFdtVariant& operator=(const CFdtVariant& other);
  virtual ~CFdtVariant() = default;
};

// The conversion entry. dest may be src; on failure dest keeps what it held.
//   1. null dest or src: E_INVALIDARG
//   2. src already of type vt: a copy
//   3. VT_DECIMAL -> VT_I8/VT_UI8: integral values that fit, else DISP_E_OVERFLOW
//   4. VT_I8/VT_UI8 -> VT_DECIMAL: scale 0, exact
//   5. an empty text -> a number type: 0; -> VT_ARRAY|VT_VARIANT: an empty array
//   6. VT_ARRAY|VT_UI1 <-> VT_BSTR: upper-case hex text, two digits per byte
//   7. otherwise VariantChangeTypeEx (lcid, flags & 0x1F); when it refuses: a number to VT_DATE
//      through VT_R8; an array to a scalar takes the first element; VT_EMPTY/VT_NULL to an array
//      an empty array; a scalar to an array a one-element array; an array to an array element by
//      element.
HRESULT ChangeVariantType(VARIANT* dest, const VARIANT* src, VARTYPE vt, LCID lcid = 0, USHORT flags = 0);
// One element (the data of a VARIANT or of an array element) from srcVt to destVt with the OLE
// Automation function of the pair; destVt VT_VARIANT wraps it. Equal types copy (texts duplicated).
HRESULT ConvertVariantElement(const void* srcData, void* destData, VARTYPE srcVt, VARTYPE destVt, LCID lcid,
                              ULONG flags);
// A new array of the same shape and bounds with every element converted; the first failure is
// returned and nothing is made.
HRESULT ConvertVariantArray(SAFEARRAY* src, SAFEARRAY** dest, VARTYPE srcVt, VARTYPE destVt, LCID lcid,
                            ULONG flags);

// VT_UI4 as it is, anything else through VariantChangeType; E_FAIL when no VT_UI4 results.
HRESULT VariantToULong(const VARIANT* value, ULONG* out);
// VT_I4 as it is, anything else through VariantChangeType; throws vkr::HResultError on failure.
LONG VariantToLong(const VARIANT& value);

// Equal only when of the same VARTYPE and equal by value: byte arrays by length and bytes, texts
// exactly (a null text is the empty one), dates by their texts, other types by VarCmp.
bool IsVariantEqual(const VARIANT& a, const VARIANT& b);
// False when both are VT_NULL; true when the types differ; else true unless VarCmp says equal
// (so two arrays are always different).
bool IsVariantDifferent(const VARIANT& a, const VARIANT& b);

// The display text of a value, without locale:
//   VT_EMPTY, VT_NULL, VT_VOID  ""            VT_BOOL        "True" for VARIANT_TRUE, else "False"
//   VT_I1, VT_I2                "%i"          VT_UI1, VT_UI2 "%u"
//   VT_I4, VT_INT               "%li"         VT_UI4, VT_UINT "%lu"
//   VT_I8                       "%I64i"       VT_UI8         "%I64u"
//   VT_R4                       "%f"          VT_R8          "%lf"
//   VT_BSTR                     the text      VT_ERROR       "0x%08X"
//   VT_ARRAY|VT_UI1             upper-case hex                anything else "..."
// A null text does nothing. Out of memory throws vkr::HResultError.
void VariantToText(const VARIANT* value, BSTR* text);

// Compares two type texts that may list two alternatives separated by "|" (blanks ignored): a
// listed pair must each occur in the other text, a single text must equal it.
bool IsTypeTextMatch(BSTR a, BSTR b);

// The double converted to vt; false (out VT_EMPTY) when it does not convert to exactly vt.
// Running out of memory is no answer about the value: it throws vkr::HResultError(E_OUTOFMEMORY).
bool DoubleToVariant(double value, VARTYPE vt, VARIANT* out);
// The 8-bit text converted to vt (VT_ARRAY|VT_UI1 reads hex); false (out VT_EMPTY) on failure.
// Running out of memory throws vkr::HResultError(E_OUTOFMEMORY).
bool TextToVariant(const char* text, VARTYPE vt, VARIANT* out);
