// VARIANT and the value types it carries: VARTYPE, DECIMAL, CY, DATE, SAFEARRAY, VARIANT_BOOL.
//
// The layouts and VARTYPE numbers are the Windows ones (persisted data sets store VARTYPEs).
// VariantInit/Clear/Copy/CopyInd are here; conversions between types are in convert.h.
#pragma once

#include <type_traits>

#include "platform/com/unknown.h"

using VARTYPE = unsigned short;
using VARIANT_BOOL = SHORT;
using DATE = double;
using BSTR = OLECHAR*;
using DISPID = LONG;
using MEMBERID = DISPID;
using PROPID = ULONG;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_STREAM = 66,
  VT_STORAGE = 67,
  VT_STREAMED_OBJECT = 68,
  VT_STORED_OBJECT = 69,
  VT_BLOB_OBJECT = 70,
  VT_CF = 71,
  VT_CLSID = 72,
  VT_VERSIONED_STREAM = 73,
  VT_BSTR_BLOB = 0x0fff,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xffff,
  VT_ILLEGALMASKED = 0x0fff,
  VT_TYPEMASK = 0x0fff,
};

// Currency: a 64-bit integer scaled by 10,000.
union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  } s;
  LONGLONG int64;
};
using CURRENCY = CY;

// 96-bit integer with a power-of-ten scale (0..28) and a sign byte (0x80 = negative).
struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;
  ULONG Hi32;
  ULONGLONG Lo64;
};
constexpr BYTE DECIMAL_NEG = 0x80;

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// The bounds are stored right-most dimension first (rgsabound[0] is the last dimension given to
// SafeArrayCreate), as on Windows; use SafeArrayGetLBound/UBound rather than reading them.
struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
using LPSAFEARRAY = SAFEARRAY*;

constexpr USHORT FADF_AUTO = 0x0001;
constexpr USHORT FADF_STATIC = 0x0002;
constexpr USHORT FADF_EMBEDDED = 0x0004;
constexpr USHORT FADF_FIXEDSIZE = 0x0010;
constexpr USHORT FADF_RECORD = 0x0020;
constexpr USHORT FADF_HAVEIID = 0x0040;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;
constexpr USHORT FADF_RESERVED = 0xF008;

struct IDispatch;
struct IRecordInfo;

// The GNU anonymous-struct extension gives the Windows member names (v.vt, v.lVal, v.decVal).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        CY* pcyVal;
        DATE* pdate;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL* pdecVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        struct {
          PVOID pvRecord;
          IRecordInfo* pRecInfo;
        };
      };
    };
    DECIMAL decVal;
  };
};
#pragma GCC diagnostic pop
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;
using LPVARIANTARG = VARIANT*;
static_assert(sizeof(DECIMAL) == 16);
static_assert(offsetof(DECIMAL, scale) == 2);

// Every VARIANT function takes pointers; null pointers give E_INVALIDARG, unknown types
// DISP_E_BADVARTYPE, and a failed call leaves its destination cleared or untouched as noted.
VKR_API void VariantInit(VARIANTARG* v);
// Frees what the VARIANT owns (BSTR, array, interface reference, record) and makes it VT_EMPTY.
VKR_API HRESULT VariantClear(VARIANTARG* v);
// Clears dest, then makes it a deep copy of src (new BSTR, copied array, AddRef'd interface).
// On failure dest is VT_EMPTY. dest may equal src.
VKR_API HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// As VariantCopy, but a VT_BYREF source is copied as the value it points to.
VKR_API HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);

namespace vkr {
// True for a VARTYPE that may stand in a VARIANT (with VT_ARRAY or VT_BYREF where Windows allows).
VKR_API bool IsValidVariantType(VARTYPE vt);
}  // namespace vkr
