// BSTR: a length-prefixed UTF-16 text.
//
// The 32-bit prefix before the characters holds the length in bytes; a zero character follows the
// text (the text itself may contain zeros). A null BSTR is the empty text wherever Windows treats
// it so: every function here accepts it. Who frees: the caller of an allocating function owns
// the result and frees it with SysFreeString.
#pragma once

#include "platform/com/variant.h"

VKR_API BSTR SysAllocString(const OLECHAR* text);
// len characters copied from text (zeros included), or left zeroed when text is null.
VKR_API BSTR SysAllocStringLen(const OLECHAR* text, UINT len);
// len bytes; the byte length may be odd. A zero character follows.
VKR_API BSTR SysAllocStringByteLen(LPCSTR bytes, UINT len);
// Replaces *bstr with a copy of text (old one freed); FALSE when out of memory (then *bstr stays).
VKR_API INT SysReAllocString(BSTR* bstr, const OLECHAR* text);
VKR_API INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT len);
VKR_API void SysFreeString(BSTR bstr);
VKR_API UINT SysStringLen(BSTR bstr);
VKR_API UINT SysStringByteLen(BSTR bstr);
