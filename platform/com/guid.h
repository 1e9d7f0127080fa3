// GUID, IID and CLSID: comparison, text forms, and creation of new ids.
#pragma once

#include <cstring>
#include <functional>

#include "platform/com/hresult.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using UUID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
inline bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

// Orders GUIDs by their fields so they can key ordered maps.
constexpr bool operator<(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
  if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
  if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
  return false;
}

inline constexpr GUID GUID_NULL{};
inline constexpr IID IID_NULL{};
inline constexpr CLSID CLSID_NULL{};

namespace vkr {
namespace detail {
constexpr int HexDigit(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : throw "not a hex digit in a GUID literal";
}
constexpr std::uint64_t HexField(const char* s, int digits) {
  std::uint64_t v = 0;
  for (int i = 0; i < digits; ++i) v = v * 16 + static_cast<std::uint64_t>(HexDigit(s[i]));
  return v;
}
}  // namespace detail

// A GUID from its registry form without braces, checked at compile time:
// MakeGuid("00000000-0000-0000-C000-000000000046").
consteval GUID MakeGuid(const char (&s)[37]) {
  if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "malformed GUID literal";
  GUID g{};
  g.Data1 = static_cast<DWORD>(detail::HexField(s, 8));
  g.Data2 = static_cast<WORD>(detail::HexField(s + 9, 4));
  g.Data3 = static_cast<WORD>(detail::HexField(s + 14, 4));
  g.Data4[0] = static_cast<BYTE>(detail::HexField(s + 19, 2));
  g.Data4[1] = static_cast<BYTE>(detail::HexField(s + 21, 2));
  for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<BYTE>(detail::HexField(s + 24 + 2 * i, 2));
  return g;
}

struct GuidHash {
  std::size_t operator()(const GUID& g) const noexcept {
    std::uint64_t a, b;
    std::memcpy(&a, &g, 8);
    std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
    return std::hash<std::uint64_t>()(a ^ (b * 0x9E3779B97F4A7C15ull));
  }
};
}  // namespace vkr

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case into buf; returns the characters written
// including the terminating zero, or 0 when cchMax is below 39.
VKR_API int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax);
// A new text of the same form, freed with CoTaskMemFree.
VKR_API HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* out);
VKR_API HRESULT StringFromIID(REFIID iid, LPOLESTR* out);
// Parse the braced form; CO_E_CLASSSTRING (or CO_E_IIDSTRING) for anything else. CLSIDFromString
// also accepts a ProgID registered in process or in the registry.
VKR_API HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID out);
VKR_API HRESULT IIDFromString(LPCOLESTR text, LPGUID out);
// Parses "{...}" or the bare 36-character form; TRUE on success.
VKR_API BOOL GUIDFromStringW(LPCWSTR text, LPGUID out);
// A random (version 4) GUID.
VKR_API HRESULT CoCreateGuid(GUID* out);

using RPC_STATUS = LONG;
using RPC_CSTR = unsigned char*;
using RPC_WSTR = unsigned short*;
VKR_API RPC_STATUS UuidCreate(UUID* out);
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower case, without braces; free with RpcStringFreeA.
VKR_API RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* out);
VKR_API RPC_STATUS UuidFromStringA(RPC_CSTR text, UUID* out);
VKR_API RPC_STATUS RpcStringFreeA(RPC_CSTR* text);
