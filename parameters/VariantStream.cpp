// The stream form of texts and values in a DTM's data set, and the parameter handler's reader of
// one stored value.
#include "parameters/VariantStream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "xml/Conversions.h"

namespace vkr {

namespace {

// Texts arrive in pieces of this size, so a large announced count costs memory only as its bytes
// actually come.
constexpr ULONG kTextChunk = 64 * 1024;

// The payload size of a fixed-size VARTYPE, 0 for the text-coded ones.
ULONG FixedSize(VARTYPE vt) {
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

// The value's bytes, little-endian (the union's members all start at its first byte).
const void* ScalarData(const VARIANT& v) { return &v.llVal; }
void* ScalarData(VARIANT* v) { return &v->llVal; }

// An object that persists through IPersistStreamInit only, offered to OleSaveToStream as the
// IPersistStream it takes: the two interfaces share these methods but not their id.
class PersistStreamOfInit : public Implements<IPersistStream> {
 public:
  explicit PersistStreamOfInit(ComPtr<IPersistStreamInit> inner) : m_inner(std::move(inner)) {}
  HRESULT GetClassID(CLSID* clsid) override { return m_inner->GetClassID(clsid); }
  HRESULT IsDirty() override { return m_inner->IsDirty(); }
  HRESULT Load(IStream* stream) override { return m_inner->Load(stream); }
  HRESULT Save(IStream* stream, BOOL clearDirty) override { return m_inner->Save(stream, clearDirty); }
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override { return m_inner->GetSizeMax(size); }

 private:
  ComPtr<IPersistStreamInit> m_inner;
};

// The object's IPersistStream, or its IPersistStreamInit seen as one; E_NOINTERFACE for neither.
HRESULT StreamPersistenceOf(IUnknown* object, ComPtr<IPersistStream>* out) {
  if (SUCCEEDED(object->QueryInterface(IID_IPersistStream, out->PutVoid())) && *out) return S_OK;
  ComPtr<IPersistStreamInit> init;
  if (FAILED(object->QueryInterface(IID_IPersistStreamInit, init.PutVoid())) || !init) return E_NOINTERFACE;
  ComPtr<ComObject<PersistStreamOfInit>> adapter;
  const HRESULT hr = MakeObject<PersistStreamOfInit>(&adapter, std::move(init));
  if (FAILED(hr)) return hr;
  *out = static_cast<IPersistStream*>(adapter.Get());
  return S_OK;
}

// The VARTYPE and the object as OleSaveToStream saves it, a null object as CLSID_NULL. The item is
// made in memory and then written in one piece, so an object that cannot be saved (no stream
// persistence: E_NOINTERFACE; its own failure) leaves the stream as it was.
HRESULT WriteStoredObject(IStream* stream, const VARIANT& value) {
  IUnknown* object = value.vt == VT_DISPATCH ? static_cast<IUnknown*>(value.pdispVal) : value.punkVal;
  ComPtr<IPersistStream> persist;
  HRESULT hr = object ? StreamPersistenceOf(object, &persist) : S_OK;
  if (FAILED(hr)) return hr;
  ComPtr<IStream> memory;
  hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.Put());
  if (FAILED(hr)) return hr;
  const BYTE tag[2] = {static_cast<BYTE>(value.vt & 0xFF), static_cast<BYTE>(value.vt >> 8)};
  hr = WriteStreamBytes(memory.Get(), tag, 2);
  if (SUCCEEDED(hr)) hr = persist ? OleSaveToStream(persist.Get(), memory.Get()) : WriteClassStm(memory.Get(), CLSID_NULL);
  if (FAILED(hr)) return hr;
  return CopyStreamBytes(memory.Get(), stream);
}

}  // namespace

HRESULT ReadStoredObject(IStream* stream, VARTYPE vt, VARIANT* out) {
  if (!stream || !out) return E_POINTER;
  if (!IsObjectVarType(vt)) return DISP_E_BADVARTYPE;
  // CLSID_NULL is the null object. Any other class id is read again by OleLoadFromStream, which
  // creates the class it names.
  CLSID clsid{};
  HRESULT hr = ReadClassStm(stream, &clsid);
  if (hr == STG_E_READFAULT) return E_FAIL;
  if (FAILED(hr)) return hr;
  void* object = nullptr;
  if (clsid != CLSID_NULL) {
    LARGE_INTEGER back{};
    back.QuadPart = -16;
    hr = stream->Seek(back, STREAM_SEEK_CUR, nullptr);
    if (FAILED(hr)) return hr;
    hr = OleLoadFromStream(stream, vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
    if (hr == STG_E_READFAULT) hr = E_FAIL;
    if (FAILED(hr)) return hr;
  }
  VariantClear(out);
  out->vt = vt;
  if (vt == VT_DISPATCH)
    out->pdispVal = static_cast<IDispatch*>(object);
  else
    out->punkVal = static_cast<IUnknown*>(object);
  return S_OK;
}

bool IsObjectVarType(VARTYPE vt) { return vt == VT_UNKNOWN || vt == VT_DISPATCH; }

bool IsStorableVarType(VARTYPE vt) {
  return FixedSize(vt) != 0 || vt == VT_BSTR || vt == (VT_ARRAY | VT_UI1) || vt == VT_EMPTY || vt == VT_DECIMAL ||
         IsObjectVarType(vt);
}

HRESULT WriteStreamBytes(IStream* stream, const void* data, ULONG size) {
  if (!stream) return E_POINTER;
  if (size == 0) return S_OK;
  ULONG written = 0;
  const HRESULT hr = stream->Write(data, size, &written);
  if (FAILED(hr)) return hr;
  return written == size ? S_OK : E_FAIL;
}

HRESULT ReadStreamBytes(IStream* stream, void* data, ULONG size) {
  if (!stream) return E_POINTER;
  if (size == 0) return S_OK;
  ULONG got = 0;
  const HRESULT hr = stream->Read(data, size, &got);
  if (FAILED(hr)) return hr;
  return got == size ? S_OK : E_FAIL;
}

HRESULT CopyStreamBytes(IStream* from, IStream* to) {
  if (!from) return E_POINTER;
  STATSTG stat{};
  HRESULT hr = from->Stat(&stat, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  if (stat.cbSize.QuadPart > 0xFFFFFFFFull) return E_OUTOFMEMORY;
  std::vector<BYTE> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(stat.cbSize.QuadPart));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  LARGE_INTEGER start{};
  hr = from->Seek(start, STREAM_SEEK_SET, nullptr);
  if (SUCCEEDED(hr)) hr = ReadStreamBytes(from, bytes.data(), static_cast<ULONG>(bytes.size()));
  if (FAILED(hr)) return hr;
  return WriteStreamBytes(to, bytes.data(), static_cast<ULONG>(bytes.size()));
}

HRESULT WriteStoredText(IStream* stream, LPCOLESTR text, std::size_t length) {
  if (!text) {
    const BYTE zero[4] = {};
    return WriteStreamBytes(stream, zero, sizeof zero);
  }
  if (length >= (kMaxStoredTextBytes / 2)) return E_INVALIDARG;
  const ULONG count = static_cast<ULONG>((length + 1) * 2);
  std::vector<BYTE> bytes;
  try {
    bytes.resize(4 + count);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(count >> (8 * i));
  for (std::size_t i = 0; i < length; ++i) {
    bytes[4 + 2 * i] = static_cast<BYTE>(text[i] & 0xFF);
    bytes[4 + 2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
  return WriteStreamBytes(stream, bytes.data(), static_cast<ULONG>(bytes.size()));
}

HRESULT WriteStoredText(IStream* stream, BSTR text) { return WriteStoredText(stream, text, text ? SysStringLen(text) : 0); }

HRESULT ReadStoredText(IStream* stream, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  BYTE head[4];
  HRESULT hr = ReadStreamBytes(stream, head, sizeof head);
  if (FAILED(hr)) return hr;
  const ULONG count = head[0] | (head[1] << 8) | (head[2] << 16) | (static_cast<ULONG>(head[3]) << 24);
  if (count == 0) return S_OK;
  if (count < 2 || (count & 1) || count > kMaxStoredTextBytes) return E_FAIL;
  std::vector<BYTE> bytes;
  try {
    while (bytes.size() < count) {
      const ULONG piece = std::min<ULONG>(kTextChunk, count - static_cast<ULONG>(bytes.size()));
      const std::size_t at = bytes.size();
      bytes.resize(at + piece);
      hr = ReadStreamBytes(stream, bytes.data() + at, piece);
      if (FAILED(hr)) return hr;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (bytes[count - 2] != 0 || bytes[count - 1] != 0) return E_FAIL;
  const UINT chars = count / 2 - 1;
  std::u16string text(chars, u'\0');
  for (UINT i = 0; i < chars; ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  *out = SysAllocStringLen(text.data(), chars);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT WriteStoredVariant(IStream* stream, const VARIANT& value) {
  const VARTYPE vt = value.vt;
  if (!IsStorableVarType(vt)) return DISP_E_BADVARTYPE;
  if (IsObjectVarType(vt)) return WriteStoredObject(stream, value);
  const BYTE tag[2] = {static_cast<BYTE>(vt & 0xFF), static_cast<BYTE>(vt >> 8)};
  if (const ULONG size = FixedSize(vt)) {
    BYTE bytes[10];
    std::memcpy(bytes, tag, 2);
    std::memcpy(bytes + 2, ScalarData(value), size);
    return WriteStreamBytes(stream, bytes, 2 + size);
  }
  vkr::Variant text;
  HRESULT hr = S_OK;
  if (vt == VT_BSTR) {
    hr = VariantCopy(&text, &value);
  } else if (vt == VT_EMPTY) {
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"");
    if (!text.bstrVal) hr = E_OUTOFMEMORY;
  } else if (vt == (VT_ARRAY | VT_UI1)) {
    hr = ChangeVariantType(&text, &value, VT_BSTR);
  } else {
    hr = VariantChangeType(&text, &value, VARIANT_NOVALUEPROP, VT_BSTR);
  }
  if (FAILED(hr)) return hr;
  if (text.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  hr = WriteStreamBytes(stream, tag, 2);
  if (FAILED(hr)) return hr;
  // A null text in a VT_BSTR value is the empty text, stored as such.
  return WriteStoredText(stream, text.bstrVal ? text.bstrVal : u"", text.bstrVal ? SysStringLen(text.bstrVal) : 0);
}

HRESULT ReadStoredVariant(IStream* stream, VARIANT* out, StoredObjects objects) {
  if (!out) return E_POINTER;
  VariantClear(out);
  BYTE tag[2];
  HRESULT hr = ReadStreamBytes(stream, tag, 2);
  if (FAILED(hr)) return hr;
  const VARTYPE vt = static_cast<VARTYPE>(tag[0] | (tag[1] << 8));
  if (!IsStorableVarType(vt)) return DISP_E_BADVARTYPE;
  if (IsObjectVarType(vt)) return objects == StoredObjects::kLoaded ? ReadStoredObject(stream, vt, out) : DISP_E_BADVARTYPE;
  if (const ULONG size = FixedSize(vt)) {
    VARIANT v;
    VariantInit(&v);
    hr = ReadStreamBytes(stream, ScalarData(&v), size);
    if (FAILED(hr)) return hr;
    v.vt = vt;
    *out = v;
    return S_OK;
  }
  vkr::Bstr text;
  hr = ReadStoredText(stream, text.Put());
  if (FAILED(hr)) return hr;
  if (vt == VT_BSTR) {
    if (!text.Get()) {
      // A null text comes back as the empty one: a VT_BSTR value never holds a null pointer here.
      text = vkr::Bstr(u"");
      if (!text.Get()) return E_OUTOFMEMORY;
    }
    out->vt = VT_BSTR;
    out->bstrVal = text.Detach();
    return S_OK;
  }
  if (vt == VT_EMPTY) return text.Empty() ? S_OK : DISP_E_TYPEMISMATCH;
  vkr::Variant source;
  source.vt = VT_BSTR;
  source.bstrVal = text.Detach();
  if (!source.bstrVal) return DISP_E_TYPEMISMATCH;
  vkr::Variant converted;
  if (vt == (VT_ARRAY | VT_UI1))
    hr = ChangeVariantType(&converted, &source, vt);
  else
    hr = VariantChangeType(&converted, &source, VARIANT_NOVALUEPROP, vt);
  if (FAILED(hr)) return hr;
  if (converted.vt != vt) return DISP_E_TYPEMISMATCH;
  converted.Detach(out);
  return S_OK;
}

}  // namespace vkr

// ---- The parameter handler's value reader ----

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


}  // namespace

HRESULT ReadVariantFromStream(IStream* stream, VARIANT* value) {
  if (!stream || !value) return E_POINTER;
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = ReadExactly(stream, &vt, sizeof vt);
  if (FAILED(hr)) return hr;
  vkr::Variant result;
  if (const size_t size = vkr::FixedSize(vt)) {
    hr = ReadExactly(stream, &result.llVal, static_cast<ULONG>(size));
    if (FAILED(hr)) return hr;
    result.vt = vt;
  } else if (vkr::IsObjectVarType(vt)) {
    hr = vkr::ReadStoredObject(stream, vt, &result);
    if (FAILED(hr)) return hr;
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
