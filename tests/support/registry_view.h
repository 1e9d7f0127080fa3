// Reading the registry in tests: whether a key exists, a value as text, the names below a key.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::test {

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

// A REG_SZ value (name empty: the default value) as UTF-8, a REG_DWORD as "dword:N", or
// "<missing>".
inline std::string ValueText(HKEY root, const std::string& path, const std::string& name = "") {
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return "<missing>";
  char buffer[4096] = {};
  DWORD size = sizeof buffer;
  DWORD type = 0;
  const LSTATUS s = RegQueryValueExA(h, name.empty() ? nullptr : name.c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(h);
  if (s != ERROR_SUCCESS) return "<missing>";
  if (type == REG_DWORD) {
    DWORD v = 0;
    std::memcpy(&v, buffer, sizeof v);
    return "dword:" + std::to_string(v);
  }
  std::string text(buffer, size);
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

inline std::vector<std::string> SubkeyNames(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    char name[512];
    DWORD size = sizeof name;
    if (RegEnumKeyExA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  RegCloseKey(h);
  return names;
}

inline std::vector<std::string> ValueNames(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    char name[512];
    DWORD size = sizeof name;
    if (RegEnumValueA(h, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  RegCloseKey(h);
  return names;
}

}  // namespace vkr::test
