// The resource table of the loaded modules.
#include "platform/win/resources.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/module.h"
#include "platform/win/native.h"
#include "platform/win/text.h"

namespace vkr::platform {
namespace {

struct Resource {
  WORD typeId;
  std::string typeName;  // upper case; empty for numbered types
  WORD id;
  const BYTE* data;
  DWORD size;
};

struct ModuleResources {
  std::deque<Resource> items;  // a deque keeps HRSRC pointers stable as items are added
  std::unordered_map<WORD, std::u16string> strings;
};

struct Registry {
  std::mutex mutex;
  std::map<HMODULE, ModuleResources> modules;
};

Registry& TheRegistry() {
  static Registry* r = new Registry;  // never destroyed: modules unregister during exit
  return *r;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  return out;
}

// Parses a string table text into id -> text; false with the line and reason.
bool ParseStringTable(std::string_view text, std::unordered_map<WORD, std::u16string>* out, std::size_t* line,
                      std::string* reason) {
  *line = 0;
  while (!text.empty()) {
    ++*line;
    const std::size_t nl = text.find('\n');
    std::string_view l = text.substr(0, nl);
    text.remove_prefix(nl == text.npos ? text.size() : nl + 1);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
    while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) l.remove_suffix(1);
    if (l.empty() || l.front() == '#' || l.front() == ';') continue;
    std::size_t pos = 0;
    unsigned long id = 0;
    while (pos < l.size() && l[pos] >= '0' && l[pos] <= '9') {
      id = id * 10 + static_cast<unsigned long>(l[pos++] - '0');
      if (id > 0xFFFF) return *reason = "the id is above 65535", false;
    }
    if (pos == 0) return *reason = "a line must start with a decimal id", false;
    while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t')) ++pos;
    if (pos >= l.size() || l[pos] != '"' || l.back() != '"' || l.size() - pos < 2)
      return *reason = "expected the text in double quotes after the id", false;
    const std::string_view quoted = l.substr(pos + 1, l.size() - pos - 2);
    std::string raw;
    for (std::size_t i = 0; i < quoted.size(); ++i) {
      char c = quoted[i];
      if (c == '"') return *reason = "a quote inside the text must be written \\\"", false;
      if (c == '\\') {
        if (++i >= quoted.size()) return *reason = "the text ends in a lone backslash", false;
        switch (quoted[i]) {
          case '\\': c = '\\'; break;
          case '"': c = '"'; break;
          case 'r': c = '\r'; break;
          case 'n': c = '\n'; break;
          case 't': c = '\t'; break;
          default: return *reason = std::string("unknown escape \\") + quoted[i], false;
        }
      }
      raw += c;
    }
    std::u16string wide;
    if (!DecodeUtf8(raw, &wide)) return *reason = "the text is not valid UTF-8", false;
    if (!out->emplace(static_cast<WORD>(id), std::move(wide)).second)
      return *reason = "string " + std::to_string(id) + " appears twice", false;
  }
  return true;
}

std::string ModuleName(HMODULE module) {
  char path[4096];
  if (GetModuleFileNameA(module, path, sizeof path) > 0 && GetLastError() != ERROR_INSUFFICIENT_BUFFER) return path;
  char buf[32];
  std::snprintf(buf, sizeof buf, "module %p", static_cast<void*>(module));
  return buf;
}

bool Report(HMODULE module, const std::string& what) {
  std::fprintf(stderr, "vkr: resources of %s: %s\n", ModuleName(module).c_str(), what.c_str());
  return false;
}

// A resource name or type as the calls take it: a number (MAKEINTRESOURCE or "#123") or a name.
struct Key {
  bool numbered = false;
  WORD id = 0;
  std::string name;
};

Key KeyOf(const char* p) {
  Key k;
  if (IS_INTRESOURCE(p)) {
    k.numbered = true;
    k.id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(p));
    return k;
  }
  if (p[0] == '#' && p[1]) {
    unsigned long v = 0;
    const char* s = p + 1;
    while (*s >= '0' && *s <= '9' && v <= 0xFFFF) v = v * 10 + static_cast<unsigned long>(*s++ - '0');
    if (!*s && v <= 0xFFFF) {
      k.numbered = true;
      k.id = static_cast<WORD>(v);
      return k;
    }
  }
  k.name = Upper(p);
  return k;
}

Key KeyOf(const WCHAR* p) {
  if (IS_INTRESOURCE(p)) return KeyOf(reinterpret_cast<const char*>(p));
  return KeyOf(vkr::Utf16ToUtf8(p).c_str());
}

HMODULE Resolve(HMODULE module) { return module ? module : GetModuleHandleA(nullptr); }

HRSRC Find(HMODULE module, const Key& name, const Key& type) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto m = r.modules.find(Resolve(module));
  if (m == r.modules.end() || m->second.items.empty()) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  bool typeSeen = false;
  for (Resource& res : m->second.items) {
    const bool typeMatches = type.numbered ? res.typeName.empty() && res.typeId == type.id : res.typeName == type.name;
    if (!typeMatches) continue;
    typeSeen = true;
    if (name.numbered && res.id == name.id) return reinterpret_cast<HRSRC>(&res);
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

// The resource behind a handle, when it is one of the module's.
const Resource* Lookup(HMODULE module, HRSRC handle) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto m = r.modules.find(Resolve(module));
  if (!handle || m == r.modules.end()) return nullptr;
  for (const Resource& res : m->second.items)
    if (reinterpret_cast<HRSRC>(const_cast<Resource*>(&res)) == handle) return &res;
  return nullptr;
}

// The string's text, or null.
const std::u16string* FindString(HINSTANCE instance, UINT id) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto m = r.modules.find(Resolve(instance));
  if (m == r.modules.end() || id > 0xFFFF) return nullptr;
  auto s = m->second.strings.find(static_cast<WORD>(id));
  return s == m->second.strings.end() ? nullptr : &s->second;
}

}  // namespace

bool RegisterResources(HMODULE module, const ResourceTable& table) {
  if (!module) return Report(module, "no module");
  std::unordered_map<WORD, std::u16string> strings;
  if (table.stringTable) {
    std::size_t line;
    std::string reason;
    if (!ParseStringTable(std::string_view(table.stringTable, table.stringTableSize), &strings, &line, &reason))
      return Report(module, "string table line " + std::to_string(line) + ": " + reason);
  }
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  ModuleResources& m = r.modules[module];
  auto clash = [&](const ResourceItem& item, std::size_t upTo) {
    const std::string name = item.typeName ? Upper(item.typeName) : std::string();
    for (const Resource& res : m.items)
      if (res.typeName == name && (item.typeName || res.typeId == item.typeId) && res.id == item.id) return true;
    for (std::size_t i = 0; i < upTo; ++i) {
      const ResourceItem& o = table.items[i];
      if (!o.typeName == !item.typeName && (item.typeName ? Upper(o.typeName) == name : o.typeId == item.typeId) &&
          o.id == item.id)
        return true;
    }
    return false;
  };
  for (std::size_t i = 0; i < table.count; ++i) {
    if (clash(table.items[i], i))
      return Report(module, "resource " + std::to_string(table.items[i].id) + " of one type is registered twice");
  }
  for (const auto& [id, text] : strings)
    if (m.strings.count(id)) return Report(module, "string " + std::to_string(id) + " is registered twice");
  for (std::size_t i = 0; i < table.count; ++i) {
    const ResourceItem& item = table.items[i];
    m.items.push_back(Resource{item.typeName ? WORD(0) : item.typeId, item.typeName ? Upper(item.typeName) : "",
                               item.id, item.data, item.size});
  }
  m.strings.merge(strings);
  return true;
}

bool RegisterModuleResources(const void* addressInModule, const ResourceTable& table) {
  HMODULE module = ModuleFromAddress(addressInModule);
  if (!module) {
    std::fprintf(stderr, "vkr: resources at %p belong to no loaded module\n", addressInModule);
    return false;
  }
  return RegisterResources(module, table);
}

void UnregisterResources(HMODULE module) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.modules.erase(module);
}

void UnregisterModuleResources(const void* addressInModule) {
  if (HMODULE module = ModuleFromAddress(addressInModule)) UnregisterResources(module);
}

}  // namespace vkr::platform

using namespace vkr::platform;

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (!name || !type) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Find(module, KeyOf(name), KeyOf(type));
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (!name || !type) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Find(module, KeyOf(name), KeyOf(type));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  const Resource* res = Lookup(module, resource);
  if (!res) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return const_cast<BYTE*>(res->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  const Resource* res = Lookup(module, resource);
  if (!res) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return res->size;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
  if (!buffer || bufferMax < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string* text = FindString(instance, id);
  if (!text) {
    if (bufferMax > 0) buffer[0] = 0;
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  if (bufferMax == 0) {
    LPCWSTR pointer = text->c_str();
    std::memcpy(buffer, &pointer, sizeof pointer);
    return static_cast<int>(text->size());
  }
  const std::size_t n = std::min<std::size_t>(text->size(), static_cast<std::size_t>(bufferMax) - 1);
  std::memcpy(buffer, text->data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  return static_cast<int>(n);
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
  if (!buffer || bufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string* text = FindString(instance, id);
  if (!text) {
    buffer[0] = 0;
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const std::string utf8 = vkr::Utf16ToUtf8(*text);
  std::size_t n = std::min<std::size_t>(utf8.size(), static_cast<std::size_t>(bufferMax) - 1);
  while (n > 0 && n < utf8.size() && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, utf8.data(), n);
  buffer[n] = 0;
  return static_cast<int>(n);
}
