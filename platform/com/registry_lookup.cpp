// The registry step of class and ProgID look-ups: HKCR\CLSID\{clsid}\InprocServer32,
// HKCR\<progid>\CLSID and HKCR\CLSID\{clsid}\ProgID, each the key's default value.
#include <cstdlib>

#include "platform/com/classes.h"
#include "platform/com/guid.h"
#include "platform/win/paths.h"
#include "platform/win/registry.h"
#include "platform/win/text.h"

namespace vkr::platform {

namespace {

// The default string value of HKCR\<path>; REG_EXPAND_SZ has its %NAME% references replaced from
// the environment (unknown names stay as written, as ExpandEnvironmentStrings leaves them).
bool ReadClassesText(const std::u16string& path, std::u16string* text) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = 0;
  std::u16string value;
  LSTATUS r = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size);
  // Another process may change the value between the two reads: then ask again.
  while (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
    value.assign(size / 2 + 1, u'\0');
    DWORD bytes = static_cast<DWORD>(value.size() * 2);
    r = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<LPBYTE>(value.data()), &bytes);
    size = bytes;
    if (r == ERROR_SUCCESS) {
      value.resize(bytes / 2);
      break;
    }
  }
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  // The stored text may or may not carry its terminating zero.
  if (const auto zero = value.find(u'\0'); zero != std::u16string::npos) value.resize(zero);
  if (type == REG_EXPAND_SZ) {
    std::u16string expanded;
    std::size_t pos = 0;
    while (pos < value.size()) {
      const std::size_t open = value.find(u'%', pos);
      const std::size_t close = open == value.npos ? value.npos : value.find(u'%', open + 1);
      if (close == value.npos) {
        expanded += value.substr(pos);
        break;
      }
      expanded += value.substr(pos, open - pos);
      const std::string name = vkr::Utf16ToUtf8(value.substr(open + 1, close - open - 1));
      const char* env = name.empty() ? nullptr : std::getenv(name.c_str());
      if (env) {
        expanded += vkr::Utf8ToUtf16(env);
        pos = close + 1;
      } else {
        expanded += value.substr(open, close - open);
        pos = close;  // the closing '%' may open the next reference
      }
    }
    value = std::move(expanded);
  }
  *text = std::move(value);
  return true;
}

std::u16string ClassKey(REFCLSID clsid) {
  OLECHAR text[40];
  StringFromGUID2(clsid, text, 40);
  return std::u16string(u"CLSID\\") + text;
}

}  // namespace

bool FindInprocServer(REFCLSID clsid, std::u16string* modulePath) {
  std::u16string path;
  if (!ReadClassesText(ClassKey(clsid) + u"\\InprocServer32", &path)) return false;
  // A path with blanks may be registered in quotes.
  if (path.size() >= 2 && path.front() == u'"' && path.back() == u'"') path = path.substr(1, path.size() - 2);
  if (path.empty()) return false;
  std::string native;
  if (MapPath(path, &native) != ERROR_SUCCESS) return false;
  *modulePath = vkr::Utf8ToUtf16(native);
  return true;
}

bool FindProgIdClass(std::u16string_view progId, CLSID* clsid) {
  // A ProgID is one key name; anything else would address some other key.
  if (progId.empty() || progId.find(u'\\') != progId.npos) return false;
  std::u16string text;
  if (!ReadClassesText(std::u16string(progId) + u"\\CLSID", &text)) return false;
  return GUIDFromStringW(text.c_str(), clsid) == TRUE;
}

bool FindClassProgId(REFCLSID clsid, std::u16string* progId) {
  std::u16string text;
  if (!ReadClassesText(ClassKey(clsid) + u"\\ProgID", &text) || text.empty()) return false;
  *progId = std::move(text);
  return true;
}

}  // namespace vkr::platform
