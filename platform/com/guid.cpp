// GUID text forms and new ids.
#include "platform/com/guid.h"

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "platform/com/classes.h"
#include "platform/com/memory.h"

namespace {
constexpr char kUpper[] = "0123456789ABCDEF";
constexpr char kLower[] = "0123456789abcdef";

// The 36-character form into out (no terminator).
template <class Ch>
void WriteGuid(const GUID& g, Ch* out, const char* digits) {
  int pos = 0;
  auto put = [&](std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) out[pos++] = static_cast<Ch>(digits[(v >> (4 * i)) & 0xF]);
  };
  put(g.Data1, 8);
  out[pos++] = '-';
  put(g.Data2, 4);
  out[pos++] = '-';
  put(g.Data3, 4);
  out[pos++] = '-';
  put(g.Data4[0], 2);
  put(g.Data4[1], 2);
  out[pos++] = '-';
  for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
}

template <class Ch>
int Hex(Ch c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses exactly the 36-character form at s (which must hold at least 36 characters).
template <class Ch>
bool ParseGuid(const Ch* s, GUID* g) {
  auto field = [&](int at, int n, std::uint64_t* v) {
    *v = 0;
    for (int i = 0; i < n; ++i) {
      int h = Hex(s[at + i]);
      if (h < 0) return false;
      *v = *v * 16 + static_cast<unsigned>(h);
    }
    return true;
  };
  if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
  std::uint64_t v;
  GUID r{};
  if (!field(0, 8, &v)) return false;
  r.Data1 = static_cast<DWORD>(v);
  if (!field(9, 4, &v)) return false;
  r.Data2 = static_cast<WORD>(v);
  if (!field(14, 4, &v)) return false;
  r.Data3 = static_cast<WORD>(v);
  if (!field(19, 2, &v)) return false;
  r.Data4[0] = static_cast<BYTE>(v);
  if (!field(21, 2, &v)) return false;
  r.Data4[1] = static_cast<BYTE>(v);
  for (int i = 0; i < 6; ++i) {
    if (!field(24 + 2 * i, 2, &v)) return false;
    r.Data4[2 + i] = static_cast<BYTE>(v);
  }
  *g = r;
  return true;
}

template <class Ch>
std::size_t Length(const Ch* s) {
  std::size_t n = 0;
  while (s[n]) ++n;
  return n;
}

template <class Ch>
bool ParseBraced(const Ch* s, GUID* g) {
  return Length(s) == 38 && s[0] == '{' && s[37] == '}' && ParseGuid(s + 1, g);
}

HRESULT StringFromGuidAlloc(REFGUID g, LPOLESTR* out) {
  if (!out) return E_INVALIDARG;
  *out = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
  if (!*out) return E_OUTOFMEMORY;
  StringFromGUID2(g, *out, 39);
  return S_OK;
}
}  // namespace

int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax) {
  if (!buf || cchMax < 39) return 0;
  buf[0] = u'{';
  WriteGuid(guid, buf + 1, kUpper);
  buf[37] = u'}';
  buf[38] = 0;
  return 39;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* out) { return StringFromGuidAlloc(clsid, out); }
HRESULT StringFromIID(REFIID iid, LPOLESTR* out) { return StringFromGuidAlloc(iid, out); }

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID out) {
  if (!out) return E_INVALIDARG;
  if (!text) {
    *out = CLSID_NULL;
    return S_OK;
  }
  if (ParseBraced(text, out)) return S_OK;
  if (text[0] != u'{' && vkr::platform::FindProgIdClass(text, out)) return S_OK;
  *out = CLSID_NULL;
  return CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, LPGUID out) {
  if (!out) return E_INVALIDARG;
  if (!text) {
    *out = IID_NULL;
    return S_OK;
  }
  if (ParseBraced(text, out)) return S_OK;
  return E_INVALIDARG;
}

BOOL GUIDFromStringW(LPCWSTR text, LPGUID out) {
  if (!text || !out) return FALSE;
  std::size_t n = Length(text);
  if (n == 38) return ParseBraced(text, out) ? TRUE : FALSE;
  if (n == 36) return ParseGuid(text, out) ? TRUE : FALSE;
  return FALSE;
}

HRESULT CoCreateGuid(GUID* out) {
  if (!out) return E_INVALIDARG;
  // One generator per thread, seeded from the operating system's entropy.
  thread_local std::mt19937_64 gen([] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }());
  std::uint64_t a = gen(), b = gen();
  std::memcpy(out, &a, 8);
  std::memcpy(reinterpret_cast<char*>(out) + 8, &b, 8);
  out->Data3 = static_cast<WORD>((out->Data3 & 0x0FFF) | 0x4000);  // version 4
  out->Data4[0] = static_cast<BYTE>((out->Data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return S_OK;
}

RPC_STATUS UuidCreate(UUID* out) {
  if (!out) return ERROR_INVALID_PARAMETER;
  CoCreateGuid(out);
  return RPC_S_OK;
}

RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* out) {
  if (!uuid || !out) return ERROR_INVALID_PARAMETER;
  auto* s = static_cast<char*>(CoTaskMemAlloc(37));
  if (!s) return ERROR_OUTOFMEMORY;
  WriteGuid(*uuid, s, kLower);
  s[36] = 0;
  *out = reinterpret_cast<RPC_CSTR>(s);
  return RPC_S_OK;
}

RPC_STATUS UuidFromStringA(RPC_CSTR text, UUID* out) {
  if (!out) return ERROR_INVALID_PARAMETER;
  if (!text) {
    *out = GUID_NULL;
    return RPC_S_OK;
  }
  const char* s = reinterpret_cast<const char*>(text);
  constexpr LONG RPC_S_INVALID_STRING_UUID = 1705;
  if (Length(s) != 36 || !ParseGuid(s, out)) return RPC_S_INVALID_STRING_UUID;
  return RPC_S_OK;
}

RPC_STATUS RpcStringFreeA(RPC_CSTR* text) {
  if (!text) return ERROR_INVALID_PARAMETER;
  CoTaskMemFree(*text);
  *text = nullptr;
  return RPC_S_OK;
}
