// Text and data conversions: hex text, BSTR formatting, GUID text, VARTYPE names, path parts.
#include "xml/Conversions.h"

#include <cstdarg>
#include <string>
#include <string_view>


namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

// The value of a hex digit of either case, or -1.
int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Whether text is a well-formed hex byte string (even length, hex digits only).
bool IsHexText(std::u16string_view text) {
  if (text.size() % 2 != 0) return false;
  for (char16_t c : text)
    if (HexValue(c) < 0) return false;
  return true;
}

HRESULT NewBstr(std::u16string_view text, BSTR* out) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT HexOf(const BYTE* data, std::size_t count, BSTR* hex) {
  BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(count * 2));
  if (!s) return E_OUTOFMEMORY;
  for (std::size_t i = 0; i < count; ++i) {
    s[2 * i] = kHexDigits[data[i] >> 4];
    s[2 * i + 1] = kHexDigits[data[i] & 0x0F];
  }
  *hex = s;
  return S_OK;
}

constexpr std::size_t kMaxFormatted = 0x80000;

// The named base types, in the order of the name list.
struct VarTypeName {
  std::u16string_view name;
  VARTYPE vt;
};
constexpr VarTypeName kVarTypeNames[] = {
    {u"VT_EMPTY", VT_EMPTY},       {u"VT_NULL", VT_NULL},
    {u"VT_I2", VT_I2},             {u"VT_I4", VT_I4},
    {u"VT_I8", VT_I8},             {u"VT_UI2", VT_UI2},
    {u"VT_UI4", VT_UI4},           {u"VT_UI8", VT_UI8},
    {u"VT_R4", VT_R4},             {u"VT_R8", VT_R8},
    {u"VT_CY", VT_CY},             {u"VT_DATE", VT_DATE},
    {u"VT_BSTR", VT_BSTR},         {u"VT_ERROR", VT_ERROR},
    {u"VT_BOOL", VT_BOOL},         {u"VT_VARIANT", VT_VARIANT},
    {u"VT_DECIMAL", VT_DECIMAL},   {u"VT_I1", VT_I1},
    {u"VT_UI1", VT_UI1},           {u"VT_INT", VT_INT},
    {u"VT_UINT", VT_UINT},         {u"VT_VOID", VT_VOID},
    {u"VT_SAFEARRAY", VT_SAFEARRAY}, {u"VT_USERDEFINED", VT_USERDEFINED},
    {u"VT_LPSTR", VT_LPSTR},       {u"VT_LPWSTR", VT_LPWSTR},
    {u"VT_RECORD", VT_RECORD},     {u"VT_FILETIME", VT_FILETIME},
    {u"VT_BLOB", VT_BLOB},         {u"VT_STREAM", VT_STREAM},
    {u"VT_STORAGE", VT_STORAGE},   {u"VT_STREAMED_OBJECT", VT_STREAMED_OBJECT},
    {u"VT_BLOB_OBJECT", VT_BLOB_OBJECT}, {u"VT_CF", VT_CF},
    {u"VT_CLSID", VT_CLSID},
};
static_assert(std::size(kVarTypeNames) == 35);

struct VarTypeFlag {
  std::u16string_view name;
  VARTYPE bit;
};
constexpr VarTypeFlag kVarTypeFlags[] = {
    {u"VT_VECTOR", VT_VECTOR}, {u"VT_ARRAY", VT_ARRAY}, {u"VT_RESERVED", VT_RESERVED}};

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

// ---- Hex text. ----

HRESULT ByteArrayToHexString(const VARIANT* bytes, BSTR* hex, BOOL acceptOtherTypes) {
  if (!bytes || !hex) return E_POINTER;
  *hex = nullptr;
  if (bytes->vt != (VT_ARRAY | VT_UI1)) return acceptOtherTypes ? NewBstr(u"", hex) : E_INVALIDARG;
  SAFEARRAY* psa = bytes->parray;
  if (!psa) return E_UNEXPECTED;
  if (SafeArrayGetDim(psa) != 1) return E_INVALIDARG;
  const ULONG count = psa->rgsabound[0].cElements;
  void* data = nullptr;
  HRESULT hr = SafeArrayAccessData(psa, &data);
  if (FAILED(hr)) return hr;
  hr = (count == 0 || !data) ? NewBstr(u"", hex) : HexOf(static_cast<const BYTE*>(data), count, hex);
  SafeArrayUnaccessData(psa);
  return hr;
}

HRESULT BytesToHexString(const BYTE* data, ULONG count, BSTR* hex) {
  if (!data || !hex) return E_POINTER;
  *hex = nullptr;
  if (count == 0) return E_INVALIDARG;
  return HexOf(data, count, hex);
}

HRESULT HexStringToByteArray(VARIANT* out, BSTR hex, BOOL emptyGivesArray) {
  if (!out) return E_POINTER;
  // The whole BSTR by its length: a NUL inside is a character that is no hex digit.
  const std::u16string_view text = hex ? std::u16string_view(hex, SysStringLen(hex)) : std::u16string_view();
  if (text.empty() && !emptyGivesArray) return VariantClear(out);
  if (!IsHexText(text)) return E_INVALIDARG;
  const ULONG count = static_cast<ULONG>(text.size() / 2);
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, count);
  if (!psa) return E_OUTOFMEMORY;
  if (count > 0) {
    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(psa, &data);
    if (FAILED(hr)) {
      SafeArrayDestroy(psa);
      return hr;
    }
    BYTE* bytes = static_cast<BYTE*>(data);
    for (ULONG i = 0; i < count; ++i)
      bytes[i] = static_cast<BYTE>(HexValue(text[2 * i]) << 4 | HexValue(text[2 * i + 1]));
    SafeArrayUnaccessData(psa);
  }
  VariantClear(out);
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = psa;
  return S_OK;
}

LONG HexStringToBytes(BSTR hex, BYTE* buffer, ULONG capacity) {
  // The whole BSTR by its length: a NUL inside is a character that is no hex digit.
  const std::u16string_view text = hex ? std::u16string_view(hex, SysStringLen(hex)) : std::u16string_view();
  if (text.empty()) return 0;
  if (!buffer || !IsHexText(text) || text.size() / 2 > capacity) return -1;
  const std::size_t count = text.size() / 2;
  for (std::size_t i = 0; i < count; ++i)
    buffer[i] = static_cast<BYTE>(HexValue(text[2 * i]) << 4 | HexValue(text[2 * i + 1]));
  return static_cast<LONG>(count);
}

// ---- Formatting and text. ----

HRESULT BstrFormatV(BSTR* out, LPCWSTR format, va_list args) {
  if (!out) return E_POINTER;
  if (!format) return E_INVALIDARG;
  bool ok = true;
  const std::u16string text = vkr::FormatV(format, args, &ok);
  // The buffer grows from the format's length + 512 characters by doubling up to 524,288
  // characters including the terminating zero; whatever needs more never fits.
  if (!ok || text.size() >= kMaxFormatted) return E_FAIL;
  return NewBstr(text, out);
}

HRESULT BstrFormat(BSTR* out, LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  HRESULT hr = BstrFormatV(out, format, args);
  va_end(args);
  return hr;
}

HRESULT VariantToBstr(const VARIANT* value, BSTR* text) {
  if (!value || !text) return E_POINTER;
  *text = nullptr;
  if (value->vt == VT_BSTR) {
    if (!value->bstrVal) return S_OK;
    return NewBstr({value->bstrVal, SysStringLen(value->bstrVal)}, text);
  }
  vkr::Variant converted;
  HRESULT hr = VariantChangeType(&converted, value, 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  if (converted.vt != VT_BSTR) return E_FAIL;
  if (!converted.bstrVal) return S_OK;
  return NewBstr({converted.bstrVal, SysStringLen(converted.bstrVal)}, text);
}

HRESULT RemoveCharacters(BSTR* text, LPCWSTR set) {
  if (!text) return E_POINTER;
  if (!set || SysStringLen(*text) == 0) return S_OK;
  const std::u16string_view drop(set);
  std::u16string kept;
  for (char16_t c : std::u16string_view(*text, SysStringLen(*text)))
    if (drop.find(c) == std::u16string_view::npos) kept.push_back(c);
  BSTR replaced = nullptr;
  HRESULT hr = NewBstr(kept, &replaced);
  if (FAILED(hr)) return hr;
  SysFreeString(*text);
  *text = replaced;
  return S_OK;
}

HRESULT ToLowerText(BSTR* text) {
  if (!text) return E_POINTER;
  if (SysStringLen(*text) == 0) return S_OK;
  std::u16string lower(*text, SysStringLen(*text));
  for (char16_t& c : lower)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  BSTR replaced = nullptr;
  HRESULT hr = NewBstr(lower, &replaced);
  if (FAILED(hr)) return hr;
  SysFreeString(*text);
  *text = replaced;
  return S_OK;
}

VARIANT MakeStringArrayVariant(const LPCWSTR* list) {
  VARIANT result;
  VariantInit(&result);
  ULONG count = 0;
  while (list && list[count] && list[count][0]) ++count;
  if (count == 0) return result;
  vkr::SafeArrayHolder array(SafeArrayCreateVector(VT_BSTR, 0, count));
  if (!array.Get()) return result;
  for (ULONG i = 0; i < count; ++i) {
    vkr::Bstr element(list[i]);
    LONG index = static_cast<LONG>(i);
    if (!element.Get() || FAILED(SafeArrayPutElement(array.Get(), &index, element.Get()))) return result;
  }
  result.vt = VT_ARRAY | VT_BSTR;
  result.parray = array.Detach();
  return result;
}

BSTR LoadHtmlResourceText(WORD id, HMODULE module) {
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), RT_HTML);
  if (!resource) return nullptr;
  HGLOBAL loaded = LoadResource(module, resource);
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!data) return nullptr;
  std::string_view text(data, SizeofResource(module, resource));
  text = text.substr(0, text.find('\0'));
  const std::u16string wide = vkr::Utf8ToUtf16(text);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// ---- GUIDs. ----

HRESULT GuidToString(const GUID* guid, BSTR* text) {
  if (!guid || !text) return E_POINTER;
  OLECHAR braced[39];
  if (StringFromGUID2(*guid, braced, 39) != 39) return E_FAIL;
  return NewBstr(std::u16string_view(braced + 1, 36), text);
}

HRESULT CreateGuidString(BSTR* text) {
  if (!text) return E_INVALIDARG;
  UUID id{};
  RPC_STATUS status = UuidCreate(&id);
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) return E_FAIL;
  return GuidToString(&id, text);
}

// ---- VARTYPE names. ----

void VarTypeToString(VARTYPE vt, BSTR* name) {
  if (!name) return;
  const VARTYPE base = vt & VT_TYPEMASK;
  std::u16string text;
  for (const auto& entry : kVarTypeNames)
    if (entry.vt == base) {
      text = entry.name;
      break;
    }
  if (text.empty()) text = vkr::Format(u"Unknown (%d)", static_cast<int>(base));
  for (const auto& flag : kVarTypeFlags)
    if (vt & flag.bit) {
      text += u" | ";
      text += flag.name;
    }
  *name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

void VarTypeFromString(BSTR name, VARTYPE* vt) {
  if (!vt) return;
  const std::u16string_view text(vkr::View(name).substr(0, SysStringLen(name)));
  auto holds = [&](std::u16string_view n) { return text.find(n) != std::u16string_view::npos; };
  VARTYPE result = VT_EMPTY;
  for (const auto& entry : kVarTypeNames) {
    if (!holds(entry.name)) continue;
    // "VT_BLOB" must not win over "VT_BLOB_OBJECT", nor "VT_STREAM" over "VT_STREAMED_OBJECT".
    bool partOfLonger = false;
    for (const auto& other : kVarTypeNames)
      if (other.name.size() > entry.name.size() && other.name.find(entry.name) != std::u16string_view::npos &&
          holds(other.name))
        partOfLonger = true;
    if (partOfLonger) continue;
    result = entry.vt;
    break;
  }
  for (const auto& flag : kVarTypeFlags)
    if (holds(flag.name)) result |= flag.bit;
  *vt = result;
}

// ---- Paths. ----

BSTR DirectoryOfPath(LPCWSTR path) {
  const std::u16string_view p = vkr::View(path);
  std::size_t end = p.size();
  while (end > 0 && !IsSeparator(p[end - 1])) --end;
  return SysAllocStringLen(p.data(), static_cast<UINT>(end));
}

BSTR FileNameOfPath(LPCWSTR path) {
  const std::u16string_view p = vkr::View(path);
  std::size_t start = p.size();
  while (start > 0 && !IsSeparator(p[start - 1])) --start;
  if (start == p.size()) return nullptr;
  return SysAllocStringLen(p.data() + start, static_cast<UINT>(p.size() - start));
}

BOOL IsRelativePath(LPCWSTR path) {
  std::u16string lower(vkr::View(path));
  for (char16_t& c : lower)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  // A rooted path ("\dir", "/opt/x", "\\server\share") names its place as firmly as a drive does.
  if (!lower.empty() && IsSeparator(lower[0])) return FALSE;
  for (std::u16string_view marker : {u"http://", u"ftp://", u"file://", u":\\", u":/"})
    if (lower.find(marker) != std::u16string::npos) return FALSE;
  return TRUE;
}

BSTR GetModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&GetModulePath), &module))
    return nullptr;
  // MAX_PATH first, as Windows has it; a longer path (deep build trees) gets the room it needs
  // rather than being cut.
  std::string name(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(module, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return nullptr;
    if (length < name.size()) {
      name.resize(length);
      break;
    }
    if (name.size() >= 32768) return nullptr;
    name.resize(name.size() * 2);
  }
  std::string longName(MAX_PATH, '\0');
  DWORD length = GetLongPathNameA(name.c_str(), longName.data(), static_cast<DWORD>(longName.size()));
  if (length >= longName.size()) {
    longName.resize(length);
    length = GetLongPathNameA(name.c_str(), longName.data(), static_cast<DWORD>(longName.size()));
  }
  if (length > 0 && length < longName.size()) name.assign(longName.data(), length);
  const std::u16string wide = vkr::Utf8ToUtf16(name);
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

BSTR MakeAbsolutePath(LPCWSTR path) {
  if (!IsRelativePath(path)) return SysAllocString(path ? path : u"");
  vkr::Bstr module, directory;
  module.Attach(GetModulePath());
  directory.Attach(DirectoryOfPath(module));
  const std::u16string absolute = directory.Str() + std::u16string(vkr::View(path));
  return SysAllocStringLen(absolute.data(), static_cast<UINT>(absolute.size()));
}

BSTR ResolveFilePath(LPCWSTR path, bool fallbackToModuleDirectory) {
  BSTR absolute = MakeAbsolutePath(path);
  if (!fallbackToModuleDirectory || !absolute || _waccess(absolute, 0) == 0) return absolute;
  SysFreeString(absolute);
  vkr::Bstr module, directory, file;
  module.Attach(GetModulePath());
  directory.Attach(DirectoryOfPath(module));
  file.Attach(FileNameOfPath(path));
  const std::u16string beside = directory.Str() + file.Str();
  return SysAllocStringLen(beside.data(), static_cast<UINT>(beside.size()));
}
