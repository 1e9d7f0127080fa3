// The stream form of texts and values in a DTM's data set: a stored text and a stored VARIANT, as
// the data-set header, the parameter section and the export stream write them.
//
// All integers are little-endian. A stored text is a 32-bit byte count N, then N bytes of UTF-16LE
// text including its terminating zero (N = 0 and nothing more for a null text). A stored VARIANT
// is its 16-bit VARTYPE followed by the value:
//   VT_I1, VT_UI1                                       1 byte
//   VT_I2, VT_BOOL, VT_UI2                              2 bytes
//   VT_I4, VT_R4, VT_ERROR, VT_UI4, VT_INT, VT_UINT     4 bytes
//   VT_R8, VT_CY, VT_DATE, VT_I8, VT_UI8                8 bytes
//   VT_BSTR                                             a stored text
//   VT_ARRAY|VT_UI1                                     a stored text of upper-case hex, two digits a byte
//   VT_EMPTY, VT_DECIMAL                                a stored text of the value as text
//   VT_UNKNOWN, VT_DISPATCH                             the object as OleSaveToStream saves it (its
//                                                       class id, then what it writes itself); a
//                                                       null object is the class id CLSID_NULL
// Every other VARTYPE (other arrays, references, VT_NULL, unknown numbers) is refused with
// DISP_E_BADVARTYPE on writing and reading: the data set holds only values this program can read
// back.
//
// An object is written when it persists to a stream (IPersistStream, else IPersistStreamInit);
// one that does not is refused with E_NOINTERFACE, and one whose own save fails with its failure,
// both with nothing written. Reading an object creates the class its stored class id names, and
// nothing says how long its bytes are: a reader that does not want to create what a stream names
// refuses objects (StoredObjects::kRefused) and the stream with them.
//
// Reading trusts nothing: a byte count that is odd, 1, above kMaxStoredTextBytes, longer than the
// stream or without its terminating zero, and a stream that ends early, fail with E_FAIL; memory
// grows only with bytes that actually arrived. A stream's own failure is returned unchanged, and so
// is a short write (E_FAIL), so a half-written data set is never reported as written.
#pragma once

#include "platform/platform.h"

namespace vkr {

// The longest stored text a reader accepts (bytes, terminator included).
constexpr ULONG kMaxStoredTextBytes = 16u * 1024u * 1024u;

HRESULT WriteStreamBytes(IStream* stream, const void* data, ULONG size);
// Fails with E_FAIL when the stream holds fewer bytes than asked.
HRESULT ReadStreamBytes(IStream* stream, void* data, ULONG size);
// Every byte of `from`, read from its start, written to `to` in one write: something made in
// memory reaches `to` whole or fails.
HRESULT CopyStreamBytes(IStream* from, IStream* to);

// A stored text; text may be null (count 0). length is in characters, without the terminator.
HRESULT WriteStoredText(IStream* stream, LPCOLESTR text, std::size_t length);
HRESULT WriteStoredText(IStream* stream, BSTR text);
// A stored text as a new BSTR (null for count 0); *out is overwritten, not freed.
HRESULT ReadStoredText(IStream* stream, BSTR* out);

// Whether a reader revives a stored object (kLoaded) or refuses it with DISP_E_BADVARTYPE.
enum class StoredObjects { kRefused, kLoaded };

// A stored VARIANT. On reading, *out (initialised) is cleared first and keeps VT_EMPTY on failure.
HRESULT WriteStoredVariant(IStream* stream, const VARIANT& value);
HRESULT ReadStoredVariant(IStream* stream, VARIANT* out, StoredObjects objects = StoredObjects::kRefused);

// The object of a stored VT_UNKNOWN or VT_DISPATCH whose VARTYPE was read already: CLSID_NULL is
// the null object, any other class is created and loaded by OleLoadFromStream (asked for IDispatch
// for VT_DISPATCH). A stream that ends first fails with E_FAIL; the creation's and the load's
// failures are returned as they are; *out (initialised) is cleared and set only on S_OK.
HRESULT ReadStoredObject(IStream* stream, VARTYPE vt, VARIANT* out);

// Whether the VARTYPE can be stored (see the table above), and whether it is an object.
bool IsStorableVarType(VARTYPE vt);
bool IsObjectVarType(VARTYPE vt);

}  // namespace vkr

// ---- Reading one value the way the parameter handler's value reader does ----
//
// A value is its VARTYPE (unsigned 16 bits, little-endian) and then, by type:
//   VT_I1, VT_UI1                                      1 byte
//   VT_I2, VT_BOOL, VT_UI2                             2 bytes
//   VT_I4, VT_R4, VT_ERROR, VT_UI4, VT_INT, VT_UINT    4 bytes
//   VT_R8, VT_CY, VT_DATE, VT_I8, VT_UI8               8 bytes
//   VT_DISPATCH, VT_UNKNOWN                            a saved object (ReadStoredObject)
//   any other type                                     a stored text
// A stored text is the value itself for VT_BSTR, upper-case hex for VT_ARRAY|VT_UI1, and for
// every other type the value as text, converted back to the type.
//
// Reads one value at the stream's position into *value (cleared first only on success). E_FAIL
// for a short read or a malformed text (odd or too small a count, no terminating zero); the
// conversion's error for a text that does not convert back; for a saved object the failures of
// ReadStoredObject, which creates whatever class the stream names; E_POINTER for null arguments.
HRESULT ReadVariantFromStream(IStream* stream, VARIANT* value);
