// vkr-reg: lists, sets and deletes registry keys and values from the command line, so that a user
// can switch the DTM's log on or set the paths it reads. It goes through the same Reg* calls as
// the system, so it honours VKR_REGISTRY, the file lock and the file format.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win/registry_store.h"

namespace {

using vkr::platform::Hive;

constexpr char kUsage[] =
    "usage: vkr-reg <command> [arguments]\n"
    "  list [KEY]                  the key (default: the whole registry) with its values and subkeys\n"
    "  query KEY NAME              one value\n"
    "  set KEY NAME TYPE DATA...   sets a value, creating the key; TYPE is sz, expand_sz, multi_sz\n"
    "                              (one DATA per text), dword or qword (decimal or 0x hex), binary (hex bytes)\n"
    "  add KEY                     creates a key\n"
    "  delete [--force] KEY [NAME] deletes the value NAME, or the key with everything below it; a key\n"
    "                              with subkeys one or two levels below HKLM or HKCU (or one below HKCR)\n"
    "                              is deleted only with --force\n"
    "  file                        prints the path of the registry file\n"
    "KEY is HKLM\\..., HKCU\\... or HKCR\\... (HKEY_LOCAL_MACHINE and so on also work); NAME @ is the\n"
    "key's default value. The file is VKR_REGISTRY, else ~/.config/vkr/registry.reg.\n";

struct KeyArg {
  HKEY root = nullptr;
  std::u16string sub;  // below root, '\'-separated; empty for the root itself
  std::vector<std::u16string> names;  // below HKLM or HKCU (HKCR's keys with SOFTWARE\Classes before them)
  std::string text;    // for messages
};

// The error's name and meaning, and for errors of the registry file what is wrong with it.
std::string Describe(LSTATUS e) {
  std::string text = vkr::DescribeWin32Error(e);
  switch (e) {
    case ERROR_ACCESS_DENIED:
    case ERROR_DISK_FULL:
    case ERROR_BADDB:
    case ERROR_CANTOPEN:
    case ERROR_CANTREAD:
    case ERROR_CANTWRITE:
    case ERROR_REGISTRY_IO_FAILED:
      if (const std::string problem = vkr::platform::RegistryProblem(); !problem.empty()) text += " (" + problem + ")";
      break;
    default:
      break;
  }
  return text;
}

int Failed(const char* action, const std::string& what, LSTATUS e) {
  std::fprintf(stderr, "vkr-reg: %s %s: %s\n", action, what.c_str(), Describe(e).c_str());
  return 1;
}

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "vkr-reg: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParseKey(const char* text, KeyArg* out) {
  Hive hive;
  std::vector<std::u16string> names;
  if (!vkr::platform::ParseKeyText(vkr::Utf8ToUtf16(text), &hive, &names)) return false;
  out->root = hive == Hive::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  out->names = names;
  out->sub.clear();
  for (const std::u16string& n : names) {
    if (!out->sub.empty()) out->sub += u'\\';
    out->sub += n;
  }
  out->text = vkr::platform::KeyText(hive, names);
  return true;
}

std::u16string ValueName(const char* text) {
  return std::strcmp(text, "@") == 0 ? std::u16string() : vkr::Utf8ToUtf16(text);
}

// Prints a key's section and then its subkeys'.
LSTATUS ListKey(HKEY key, const std::string& text, bool isRoot) {
  std::vector<vkr::platform::RegValue> values;
  for (DWORD i = 0;; ++i) {
    std::u16string name(vkr::platform::kMaxValueNameLength + 1, u'\0');
    DWORD cchName = static_cast<DWORD>(name.size());
    DWORD type = 0, size = 0;
    LSTATUS r = RegEnumValueW(key, i, name.data(), &cchName, nullptr, &type, nullptr, &size);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r) return r;
    name.resize(cchName);
    vkr::platform::RegValue v{name, type, std::vector<BYTE>(size)};
    r = RegQueryValueExW(key, name.c_str(), nullptr, &type, v.data.data(), &size);
    if (r) return r;
    v.data.resize(size);
    values.push_back(std::move(v));
  }
  if (!isRoot || !values.empty()) {
    std::printf("[%s]\n", text.c_str());
    for (const auto& v : values) std::printf("%s\n", vkr::platform::FormatValueLine(v).c_str());
    std::printf("\n");
  }
  for (DWORD i = 0;; ++i) {
    WCHAR name[vkr::platform::kMaxKeyNameLength + 1];
    DWORD cch = static_cast<DWORD>(std::size(name));
    LSTATUS r = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r) return r;
    HKEY sub;
    r = RegOpenKeyExW(key, name, 0, KEY_READ, &sub);
    if (r) return r;
    r = ListKey(sub, text + "\\" + vkr::Utf16ToUtf8(std::u16string_view(name, cch)), false);
    RegCloseKey(sub);
    if (r) return r;
  }
  return ERROR_SUCCESS;
}

int List(int argc, char** argv) {
  if (argc > 1) return Usage("list takes at most one key");
  std::vector<KeyArg> keys;
  if (argc == 1) {
    KeyArg k;
    if (!ParseKey(argv[0], &k)) return Usage("not a valid key");
    keys.push_back(k);
  } else {
    keys.push_back(KeyArg{HKEY_LOCAL_MACHINE, u"", {}, "HKEY_LOCAL_MACHINE"});
    keys.push_back(KeyArg{HKEY_CURRENT_USER, u"", {}, "HKEY_CURRENT_USER"});
  }
  for (const KeyArg& k : keys) {
    HKEY key;
    LSTATUS r = RegOpenKeyExW(k.root, k.sub.c_str(), 0, KEY_READ, &key);
    if (r) return Failed("list", k.text, r);
    r = ListKey(key, k.text, k.sub.empty());
    RegCloseKey(key);
    if (r) return Failed("list", k.text, r);
  }
  return 0;
}

int Query(int argc, char** argv) {
  if (argc != 2) return Usage("query takes a key and a value name");
  KeyArg k;
  if (!ParseKey(argv[0], &k)) return Usage("not a valid key");
  HKEY key;
  LSTATUS r = RegOpenKeyExW(k.root, k.sub.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (r) return Failed("query", k.text, r);
  const std::u16string name = ValueName(argv[1]);
  vkr::platform::RegValue v{name, 0, {}};
  DWORD size = 0;
  r = RegQueryValueExW(key, name.c_str(), nullptr, &v.type, nullptr, &size);
  if (!r) {
    v.data.resize(size);
    r = RegQueryValueExW(key, name.c_str(), nullptr, &v.type, v.data.data(), &size);
    v.data.resize(size);
  }
  // Show the name as stored, which may differ in case from the one asked for.
  for (DWORD i = 0; !r; ++i) {
    std::u16string stored(vkr::platform::kMaxValueNameLength + 1, u'\0');
    DWORD cch = static_cast<DWORD>(stored.size());
    if (RegEnumValueW(key, i, stored.data(), &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    stored.resize(cch);
    if (vkr::platform::EqualNoCase(stored, name)) {
      v.name = stored;
      break;
    }
  }
  RegCloseKey(key);
  if (r) return Failed("query", k.text + " " + argv[1], r);
  std::printf("%s\n", vkr::platform::FormatValueLine(v).c_str());
  return 0;
}

void AppendText(std::u16string_view s, std::vector<BYTE>* out) {
  for (char16_t c : s) {
    out->push_back(static_cast<BYTE>(c & 0xFF));
    out->push_back(static_cast<BYTE>(c >> 8));
  }
  out->push_back(0);
  out->push_back(0);
}

bool ParseNumber(const char* text, unsigned long long max, unsigned long long* out) {
  if (!*text || *text == '-' || *text == '+' || *text == ' ') return false;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex && !text[2]) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, hex ? 16 : 10);
  if (errno || *end || v > max) return false;
  *out = v;
  return true;
}

bool ParseBytes(const std::string& text, std::vector<BYTE>* out) {
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() % 2) return false;
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out->push_back(static_cast<BYTE>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return true;
}

int Set(int argc, char** argv) {
  if (argc < 3) return Usage("set takes a key, a value name, a type and data");
  KeyArg k;
  if (!ParseKey(argv[0], &k)) return Usage("not a valid key");
  const std::u16string name = ValueName(argv[1]);
  const std::string type = argv[2];
  const int nData = argc - 3;
  std::vector<BYTE> data;
  DWORD regType;
  if (type == "sz" || type == "expand_sz") {
    if (nData != 1) return Usage("a text value takes one DATA");
    regType = type == "sz" ? REG_SZ : REG_EXPAND_SZ;
    AppendText(vkr::Utf8ToUtf16(argv[3]), &data);
  } else if (type == "multi_sz") {
    regType = REG_MULTI_SZ;
    for (int i = 3; i < argc; ++i) {
      if (!*argv[i]) return Usage("a multi_sz value cannot hold an empty text");
      AppendText(vkr::Utf8ToUtf16(argv[i]), &data);
    }
    data.push_back(0);
    data.push_back(0);
  } else if (type == "dword" || type == "qword") {
    unsigned long long n;
    if (nData != 1 || !ParseNumber(argv[3], type == "dword" ? 0xFFFFFFFFull : ~0ull, &n))
      return Usage("a dword or qword takes one number (decimal or 0x hex) that fits");
    regType = type == "dword" ? REG_DWORD : REG_QWORD;
    data.resize(type == "dword" ? 4 : 8);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(n >> (8 * i));
  } else if (type == "binary") {
    std::string all;
    for (int i = 3; i < argc; ++i) all += argv[i];
    if (!ParseBytes(all, &data)) return Usage("binary data is hex bytes (\"01,ff\" or \"01ff\")");
    regType = REG_BINARY;
  } else {
    return Usage("unknown TYPE");
  }
  HKEY key;
  LSTATUS r = RegCreateKeyExW(k.root, k.sub.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (r) return Failed("set", k.text, r);
  r = RegSetValueExW(key, name.c_str(), 0, regType, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  if (r) return Failed("set", k.text + " " + argv[1], r);
  return 0;
}

int Add(int argc, char** argv) {
  if (argc != 1) return Usage("add takes one key");
  KeyArg k;
  if (!ParseKey(argv[0], &k)) return Usage("not a valid key");
  HKEY key;
  LSTATUS r = RegCreateKeyExW(k.root, k.sub.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr);
  if (r) return Failed("add", k.text, r);
  RegCloseKey(key);
  return 0;
}

// Keys whose loss takes a great part of the registry with them: one or two levels below a hive,
// or one below HKCR (HKLM\SOFTWARE\Classes\X), such as HKLM\SOFTWARE or HKCR\CLSID.
bool NearTheTop(const KeyArg& k) {
  if (k.names.size() <= 2) return true;
  return k.names.size() == 3 && vkr::platform::EqualNoCase(k.names[0], u"SOFTWARE") &&
         vkr::platform::EqualNoCase(k.names[1], u"Classes");
}

int Delete(int argc, char** argv) {
  bool force = false;
  if (argc >= 1 && std::strcmp(argv[0], "--force") == 0) {
    force = true;
    ++argv;
    --argc;
  }
  if (argc != 1 && argc != 2) return Usage("delete takes a key and perhaps a value name");
  if (!std::strchr(argv[0], '\\')) return Usage("a hive cannot be deleted");
  KeyArg k;
  if (!ParseKey(argv[0], &k)) return Usage("not a valid key");
  if (argc == 1) {
    HKEY key;
    LSTATUS r = RegOpenKeyExW(k.root, k.sub.c_str(), 0, KEY_READ, &key);
    if (r) return Failed("delete", k.text, r);
    DWORD subkeys = 0;
    for (;; ++subkeys) {
      WCHAR name[vkr::platform::kMaxKeyNameLength + 1];
      DWORD cch = static_cast<DWORD>(std::size(name));
      r = RegEnumKeyExW(key, subkeys, name, &cch, nullptr, nullptr, nullptr, nullptr);
      if (r != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
    if (r != ERROR_NO_MORE_ITEMS) return Failed("delete", k.text, r);
    if (subkeys && NearTheTop(k) && !force) {
      std::fprintf(stderr,
                   "vkr-reg: delete %s: the key holds %lu subkey%s and is near the top of its hive; deleting it "
                   "with everything below it needs --force\n",
                   k.text.c_str(), static_cast<unsigned long>(subkeys), subkeys == 1 ? "" : "s");
      return 1;
    }
    r = RegDeleteTreeW(k.root, k.sub.c_str());
    return r ? Failed("delete", k.text, r) : 0;
  }
  HKEY key;
  LSTATUS r = RegOpenKeyExW(k.root, k.sub.c_str(), 0, KEY_SET_VALUE, &key);
  if (r) return Failed("delete", k.text, r);
  r = RegDeleteValueW(key, ValueName(argv[1]).c_str());
  RegCloseKey(key);
  return r ? Failed("delete", k.text + " " + argv[1], r) : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  const std::string command = argv[1];
  char** rest = argv + 2;
  const int n = argc - 2;
  if (command == "list") return List(n, rest);
  if (command == "query") return Query(n, rest);
  if (command == "set") return Set(n, rest);
  if (command == "add") return Add(n, rest);
  if (command == "delete") return Delete(n, rest);
  if (command == "file") {
    if (n != 0) return Usage("file takes no arguments");
    std::printf("%s\n", vkr::platform::RegistryFile().c_str());
    return 0;
  }
  if (command == "help" || command == "--help" || command == "-h") {
    if (n != 0) return Usage("help takes no arguments");
    std::fputs(kUsage, stdout);
    return 0;
  }
  return Usage("unknown command");
}
