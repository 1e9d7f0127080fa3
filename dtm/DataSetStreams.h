// The data set between its stream form and the byte array a property bag holds.
#pragma once

#include "platform/platform.h"

// A VT_ARRAY|VT_UI1 vector (lower bound 0) of count bytes. count 0: E_NOTIMPL; null out:
// E_INVALIDARG; no memory: E_OUTOFMEMORY. *out (initialised) is cleared first.
HRESULT BytesToSafeArray(const BYTE* bytes, ULONG count, VARIANT* out);
// A new memory stream holding the bytes of a one-dimensional VT_ARRAY|VT_UI1 (anything else:
// E_FAIL), positioned at the start; an empty array gives an empty stream. Null out: E_POINTER.
HRESULT SafeArrayToStream(const VARIANT& in, IStream** out);
// The whole content of the stream, from its start, as a byte array (an empty stream: E_NOTIMPL).
// Null arguments: E_POINTER.
HRESULT StreamToSafeArray(IStream* stream, VARIANT* out);
