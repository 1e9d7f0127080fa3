// Small helpers for one-dimensional VARIANT arrays (VT_ARRAY|VT_VARIANT) held in a VARIANT, and
// the enumeration list built from a table of texts.
#pragma once

#include "platform/platform.h"

// out = a copy of element `index` of the list (out is initialised first). E_INVALIDARG unless the
// list is a one-dimensional VT_ARRAY|VT_VARIANT with an array; the array's error otherwise.
HRESULT GetVariantArrayElement(VARIANT* out, LONG index, const VARIANT& list);
// Appends a copy of value: VT_EMPTY becomes a one-element array (lower bound 0), an array grows by
// one at its end (lower bound kept). E_INVALIDARG for a null list or one of another type; a failed
// store leaves the list as it was and returns the error.
HRESULT AppendToVariantArray(const VARIANT& value, VARIANT* list);
// out = a one-element VT_ARRAY|VT_VARIANT holding a copy of value. E_INVALIDARG, E_OUTOFMEMORY.
HRESULT MakeVariantArray(const VARIANT& value, VARIANT* out);
// out = {first, second}; on failure out is left alone and the error returned.
HRESULT MakeVariantPair(const VARIANT& first, const VARIANT& second, VARIANT* out);
// Element count and lower bound of the first dimension of an array VARIANT (E_INVALIDARG for a null
// array); 0 and 0 for any other VARIANT. E_INVALIDARG for null outputs.
HRESULT GetVariantArrayBounds(ULONG* count, LONG* lowerBound, const VARIANT& value);
// An enumeration list (VT_ARRAY|VT_BSTR, lower bound 0) from 8-bit texts up to the first empty one;
// VT_EMPTY for a null table, an empty first text or a failure. The caller clears the result.
VARIANT MakeEnumList(const char* const* entries);
