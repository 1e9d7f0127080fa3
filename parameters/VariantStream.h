// Reading a parameter value stored in the data set (the stored-VARIANT form of the data-set stream).
//
// A value is its VARTYPE (unsigned 16 bits, little-endian) and then, by type:
//   VT_I1, VT_UI1                                      1 byte
//   VT_I2, VT_BOOL, VT_UI2                             2 bytes
//   VT_I4, VT_R4, VT_ERROR, VT_UI4, VT_INT, VT_UINT    4 bytes
//   VT_R8, VT_CY, VT_DATE, VT_I8, VT_UI8               8 bytes
//   VT_DISPATCH, VT_UNKNOWN                            a saved object (not readable here)
//   any other type                                     a stored text: an unsigned 32-bit byte count,
//                                                      then the UTF-16LE characters and their
//                                                      terminating zero (count 0: a null text)
// A stored text is the value itself for VT_BSTR, upper-case hex for VT_ARRAY|VT_UI1, and for
// every other type the value as text, converted back to the type.
#pragma once

#include "platform/platform.h"

// Reads one value at the stream's position into *value (cleared first only on success). E_FAIL
// for a short read or a malformed text (odd or too small a count, no terminating zero); the
// conversion's error for a text that does not convert back; E_NOTIMPL for a saved object, which
// this build cannot revive; E_POINTER for null arguments.
HRESULT ReadVariantFromStream(IStream* stream, VARIANT* value);
