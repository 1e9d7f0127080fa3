// Reading stored values from the data-set stream.
#include "parameters/VariantStream.h"

#include <cstring>
#include <string>

#include "parameters/CFdtVariant.h"
#include "xml/Conversions.h"

namespace {

// Exactly size bytes, or E_FAIL.
HRESULT ReadExactly(IStream* stream, void* data, ULONG size) {
  ULONG got = 0;
  HRESULT hr = stream->Read(data, size, &got);
  if (FAILED(hr)) return hr;
  return got == size ? S_OK : E_FAIL;
}

// A stored text. It is read in pieces, so a count the stream cannot back fails at the short read
// instead of asking for the memory first.
HRESULT ReadStoredText(IStream* stream, vkr::Bstr* text) {
  ULONG count = 0;
  HRESULT hr = ReadExactly(stream, &count, sizeof count);
  if (FAILED(hr)) return hr;
  if (count == 0) {
    text->Reset();
    return S_OK;
  }
  if (count % 2 != 0 || count < 2) return E_FAIL;
  std::u16string chars;
  constexpr ULONG kPiece = 64 * 1024;
  for (ULONG left = count; left > 0;) {
    const ULONG n = left < kPiece ? left : kPiece;
    const size_t at = chars.size();
    chars.resize(at + n / 2);
    hr = ReadExactly(stream, chars.data() + at, n);
    if (FAILED(hr)) return hr;
    left -= n;
  }
  if (chars.back() != u'\0') return E_FAIL;
  chars.pop_back();
  vkr::Bstr result(chars);
  if (!result.Get()) return E_OUTOFMEMORY;
  *text = std::move(result);
  return S_OK;
}

size_t FixedSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_BOOL:
    case VT_UI2:
      return 2;
    case VT_I4:
    case VT_R4:
    case VT_ERROR:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_I8:
    case VT_UI8:
      return 8;
    default:
      return 0;
  }
}

}  // namespace

HRESULT ReadVariantFromStream(IStream* stream, VARIANT* value) {
  if (!stream || !value) return E_POINTER;
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = ReadExactly(stream, &vt, sizeof vt);
  if (FAILED(hr)) return hr;
  vkr::Variant result;
  if (const size_t size = FixedSize(vt)) {
    hr = ReadExactly(stream, &result.llVal, static_cast<ULONG>(size));
    if (FAILED(hr)) return hr;
    result.vt = vt;
  } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
    return E_NOTIMPL;
  } else {
    vkr::Bstr text;
    hr = ReadStoredText(stream, &text);
    if (FAILED(hr)) return hr;
    if (vt == (VT_ARRAY | VT_UI1)) {
      hr = HexStringToByteArray(&result, text.Get(), TRUE);
    } else if (vt == VT_BSTR) {
      result.vt = VT_BSTR;
      result.bstrVal = text.Detach();
    } else {
      VARIANT stored;
      VariantInit(&stored);
      stored.vt = VT_BSTR;
      stored.bstrVal = text.Get();
      hr = ChangeVariantType(&result, &stored, vt);
    }
    if (FAILED(hr)) return hr;
  }
  VariantClear(value);
  result.Detach(value);
  return S_OK;
}
