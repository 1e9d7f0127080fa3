// Device answer bytes between VARIANTs, hex texts and byte vectors, as the pages meet them: the
// "Command n complete" parameters carry VT_ARRAY|VT_UI1 values, the HART service's transactions
// take and give hex texts.
#pragma once

#include <span>
#include <vector>

#include "platform/platform.h"

namespace vkr::dui {

// The bytes of a byte-array value, read through its hex text as every answer is read:
//   S_OK     a VT_ARRAY|VT_UI1 value; *bytes holds its bytes (possibly none);
//   S_FALSE  any other type (the value is ignored); *bytes empty;
//   failure  the conversion's HRESULT (a many-dimensional array, a null array); *bytes empty.
// E_POINTER for a null bytes.
HRESULT ResponseBytes(const VARIANT& value, std::vector<BYTE>* bytes);
// The bytes of a hex text (either case); E_INVALIDARG for an odd length or a non-hex character.
HRESULT BytesOfHex(BSTR hex, std::vector<BYTE>* bytes);
// A VT_ARRAY|VT_UI1 of the bytes (lower bound 0) in *value, which is cleared first; E_POINTER,
// E_OUTOFMEMORY.
HRESULT MakeByteArray(std::span<const BYTE> bytes, VARIANT* value);
// The upper-case hex text of the bytes (a null BSTR for none, the HART service's "no request
// data"); E_POINTER, E_OUTOFMEMORY.
HRESULT HexOfBytes(std::span<const BYTE> bytes, BSTR* hex);

}  // namespace vkr::dui
