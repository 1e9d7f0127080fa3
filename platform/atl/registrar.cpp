// The registrar: parses a registry script completely, then applies it to the registry.
#include "platform/atl/registrar.h"

#include <optional>
#include <vector>

#include "platform/win/lasterror.h"
#include "platform/win/registry.h"
#include "platform/win/resources.h"
#include "platform/win/text.h"

namespace vkr {
namespace {

enum class KeyFlag { None, ForceRemove, NoRemove };

struct Value {
  DWORD type = REG_SZ;
  std::u16string text;
  DWORD number = 0;
};

struct Key {
  HKEY root;
  std::u16string path;  // below the root
  KeyFlag flag = KeyFlag::None;
  std::optional<Value> defaultValue;
  std::vector<std::pair<std::u16string, Value>> values;
};

struct Token {
  std::u16string text;
  bool quoted = false;
};

struct Parser {
  const std::map<std::u16string, std::u16string>& replacements;
  std::string problem;
  int line = 0;

  bool Fail(const std::string& why) {
    problem = "line " + std::to_string(line) + ": " + why;
    return false;
  }

  bool Tokenize(std::string_view text, std::vector<Token>* tokens) {
    std::size_t i = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++i;
        continue;
      }
      Token t;
      std::string raw;
      if (c == '\'') {
        t.quoted = true;
        ++i;
        bool closed = false;
        while (i < text.size()) {
          if (text[i] == '\'') {
            if (i + 1 < text.size() && text[i + 1] == '\'') {
              raw += '\'';
              i += 2;
              continue;
            }
            ++i;
            closed = true;
            break;
          }
          raw += text[i++];
        }
        if (!closed) return Fail("a quoted text is not closed");
        if (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r')
          return Fail("a quoted text must be followed by a blank");
      } else {
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') {
          if (text[i] == '\'') return Fail("a quote inside a word");
          raw += text[i++];
        }
      }
      if (!Replace(raw, &t.text)) return false;
      tokens->push_back(std::move(t));
    }
    return true;
  }

  bool Replace(const std::string& raw, std::u16string* out) {
    const std::u16string in = Utf8ToUtf16(raw);
    out->clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
      if (in[i] != u'%') {
        *out += in[i];
        continue;
      }
      const std::size_t close = in.find(u'%', i + 1);
      if (close == std::u16string::npos) return Fail("a % without its closing %");
      const std::u16string name = in.substr(i + 1, close - i - 1);
      if (name.empty()) {
        *out += u'%';
      } else {
        auto it = replacements.find(name);
        if (it == replacements.end()) return Fail("no replacement for %" + Utf16ToUtf8(name) + "%");
        *out += it->second;
      }
      i = close;
    }
    return true;
  }

  static bool SameWord(const std::u16string& a, const char* b) {
    std::size_t n = 0;
    for (; b[n]; ++n) {
      if (n >= a.size()) return false;
      char16_t x = a[n];
      char y = b[n];
      if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x - u'A' + u'a');
      if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
      if (x != static_cast<char16_t>(y)) return false;
    }
    return n == a.size();
  }

  bool ParsePath(const Token& t, HKEY* root, std::u16string* path) {
    const std::size_t cut = t.text.find(u'\\');
    const std::u16string head = t.text.substr(0, cut);
    if (SameWord(head, "HKCR") || SameWord(head, "HKEY_CLASSES_ROOT"))
      *root = HKEY_CLASSES_ROOT;
    else if (SameWord(head, "HKLM") || SameWord(head, "HKEY_LOCAL_MACHINE"))
      *root = HKEY_LOCAL_MACHINE;
    else if (SameWord(head, "HKCU") || SameWord(head, "HKEY_CURRENT_USER"))
      *root = HKEY_CURRENT_USER;
    else
      return Fail("a key path must start with HKCR, HKLM or HKCU");
    if (cut == std::u16string::npos || cut + 1 == t.text.size()) return Fail("a key path names no key below its root");
    *path = t.text.substr(cut + 1);
    if (path->find(u"\\\\") != std::u16string::npos || path->back() == u'\\')
      return Fail("a key path has an empty name");
    return true;
  }

  bool ParseValue(const std::vector<Token>& tokens, std::size_t at, Value* value) {
    if (at + 2 != tokens.size() || tokens[at].quoted || tokens[at].text != u"=")
      return Fail("expected '= VALUE' at the end of the line");
    const Token& t = tokens[at + 1];
    if (t.quoted) {
      value->type = REG_SZ;
      value->text = t.text;
      return true;
    }
    if (t.text.rfind(u"dword:", 0) != 0) return Fail("a value is a quoted text or dword:N");
    const std::string digits = Utf16ToUtf8(t.text.substr(6));
    if (digits.empty()) return Fail("dword: without a number");
    unsigned long long n = 0;
    const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    for (std::size_t i = hex ? 2 : 0; i < digits.size(); ++i) {
      const char c = digits[i];
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) return Fail("not a number: " + digits);
      n = n * (hex ? 16 : 10) + static_cast<unsigned>(d);
      if (n > 0xFFFFFFFFull) return Fail("a dword above 0xFFFFFFFF");
    }
    value->type = REG_DWORD;
    value->number = static_cast<DWORD>(n);
    return true;
  }

  static std::size_t FindKey(const std::vector<Key>& keys, HKEY root, const std::u16string& path) {
    for (std::size_t i = 0; i < keys.size(); ++i)
      if (keys[i].root == root && keys[i].path == path) return i;
    return keys.size();
  }

  bool Parse(std::string_view script, std::vector<Key>* keys) {
    std::size_t pos = 0;
    while (pos <= script.size()) {
      std::size_t end = script.find('\n', pos);
      if (end == std::string_view::npos) end = script.size();
      const std::string_view text = script.substr(pos, end - pos);
      pos = end + 1;
      ++line;
      const std::size_t first = text.find_first_not_of(" \t\r");
      if (first == std::string_view::npos || text[first] == '#') continue;
      std::vector<Token> tokens;
      if (!Tokenize(text, &tokens)) return false;
      if (tokens[0].quoted) return Fail("a line starts with 'key' or 'value'");
      if (SameWord(tokens[0].text, "key")) {
        Key key;
        std::size_t at = 1;
        if (at < tokens.size() && !tokens[at].quoted) {
          if (SameWord(tokens[at].text, "ForceRemove")) {
            key.flag = KeyFlag::ForceRemove;
            ++at;
          } else if (SameWord(tokens[at].text, "NoRemove")) {
            key.flag = KeyFlag::NoRemove;
            ++at;
          }
        }
        if (at >= tokens.size()) return Fail("'key' without a path");
        if (!ParsePath(tokens[at], &key.root, &key.path)) return false;
        ++at;
        if (at < tokens.size()) {
          Value v;
          if (!ParseValue(tokens, at, &v)) return false;
          key.defaultValue = v;
        }
        if (FindKey(*keys, key.root, key.path) != keys->size()) return Fail("a key named twice");
        keys->push_back(std::move(key));
      } else if (SameWord(tokens[0].text, "value")) {
        if (tokens.size() < 3) return Fail("'value' needs a key path, a name and '= VALUE'");
        HKEY root;
        std::u16string path;
        if (!ParsePath(tokens[1], &root, &path)) return false;
        const std::size_t k = FindKey(*keys, root, path);
        if (k == keys->size()) return Fail("a value of a key that is not named before");
        if (tokens[2].text.empty()) return Fail("a value needs a name (the default value goes on the key line)");
        Value v;
        if (!ParseValue(tokens, 3, &v)) return false;
        (*keys)[k].values.emplace_back(tokens[2].text, v);
      } else {
        return Fail("a line starts with 'key' or 'value'");
      }
    }
    return true;
  }
};

HRESULT FromStatus(LSTATUS s) { return HRESULT_FROM_WIN32(static_cast<ULONG>(s)); }

LSTATUS SetValue(HKEY key, const std::u16string* name, const Value& v) {
  if (v.type == REG_DWORD)
    return RegSetValueExW(key, name ? name->c_str() : nullptr, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.number),
                          sizeof v.number);
  return RegSetValueExW(key, name ? name->c_str() : nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.text.c_str()),
                        static_cast<DWORD>((v.text.size() + 1) * sizeof(char16_t)));
}

bool Gone(LSTATUS s) { return s == ERROR_FILE_NOT_FOUND || s == ERROR_KEY_DELETED; }

HRESULT RegisterKey(const Key& k) {
  if (k.flag == KeyFlag::ForceRemove) {
    const LSTATUS s = RegDeleteTreeW(k.root, k.path.c_str());
    if (s != ERROR_SUCCESS && !Gone(s)) return FromStatus(s);
  }
  HKEY h = nullptr;
  LSTATUS s = RegCreateKeyExW(k.root, k.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                              nullptr, &h, nullptr);
  if (s != ERROR_SUCCESS) return FromStatus(s);
  if (k.defaultValue) s = SetValue(h, nullptr, *k.defaultValue);
  for (std::size_t i = 0; s == ERROR_SUCCESS && i < k.values.size(); ++i)
    s = SetValue(h, &k.values[i].first, k.values[i].second);
  RegCloseKey(h);
  return FromStatus(s);
}

HRESULT UnregisterKey(const Key& k) {
  if (k.flag == KeyFlag::NoRemove) return S_OK;
  if (k.flag == KeyFlag::ForceRemove) {
    const LSTATUS s = RegDeleteTreeW(k.root, k.path.c_str());
    return s == ERROR_SUCCESS || Gone(s) ? S_OK : FromStatus(s);
  }
  HKEY h = nullptr;
  LSTATUS s = RegOpenKeyExW(k.root, k.path.c_str(), 0, KEY_READ | KEY_WRITE, &h);
  if (Gone(s)) return S_OK;
  if (s != ERROR_SUCCESS) return FromStatus(s);
  for (const auto& [name, value] : k.values) {
    s = RegDeleteValueW(h, name.c_str());
    if (s != ERROR_SUCCESS && !Gone(s)) break;
    s = ERROR_SUCCESS;
  }
  // A key that holds keys the script does not own stays (without the script's values).
  bool hasSubkeys = false;
  if (s == ERROR_SUCCESS) {
    char16_t name[256];
    DWORD size = 256;
    const LSTATUS e = RegEnumKeyExW(h, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
    hasSubkeys = e == ERROR_SUCCESS || e == ERROR_MORE_DATA;
    if (hasSubkeys && k.defaultValue) {
      const LSTATUS d = RegDeleteValueW(h, nullptr);
      if (d != ERROR_SUCCESS && !Gone(d)) s = d;
    }
  }
  RegCloseKey(h);
  if (s != ERROR_SUCCESS) return FromStatus(s);
  if (hasSubkeys) return S_OK;
  s = RegDeleteKeyW(k.root, k.path.c_str());
  return s == ERROR_SUCCESS || Gone(s) ? S_OK : FromStatus(s);
}

}  // namespace

HRESULT Registrar::AddReplacement(std::u16string_view name, std::u16string_view text) {
  if (name.empty() || name.find(u'%') != std::u16string_view::npos) return E_INVALIDARG;
  m_replacements[std::u16string(name)] = std::u16string(text);
  return S_OK;
}

HRESULT Registrar::Run(std::string_view script, bool registering) {
  m_problem.clear();
  Parser parser{m_replacements, {}, 0};
  std::vector<Key> keys;
  if (!parser.Parse(script, &keys)) {
    m_problem = parser.problem;
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }
  if (registering) {
    for (const Key& k : keys) {
      const HRESULT hr = RegisterKey(k);
      if (FAILED(hr)) {
        m_problem = "registering " + Utf16ToUtf8(k.path) + " failed";
        return hr;
      }
    }
  } else {
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
      const HRESULT hr = UnregisterKey(*it);
      if (FAILED(hr)) {
        m_problem = "unregistering " + Utf16ToUtf8(it->path) + " failed";
        return hr;
      }
    }
  }
  return S_OK;
}

HRESULT Registrar::StringRegister(std::string_view script) { return Run(script, true); }
HRESULT Registrar::StringUnregister(std::string_view script) { return Run(script, false); }

HRESULT Registrar::RunResource(HMODULE module, UINT id, LPCSTR type, bool registering) {
  m_problem.clear();
  if (id > 0xFFFF || !type) return E_INVALIDARG;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(static_cast<WORD>(id)), type);
  if (!found) {
    m_problem = "no resource " + std::to_string(id);
    return HRESULT_FROM_WIN32(GetLastError());
  }
  const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
  const DWORD size = SizeofResource(module, found);
  if (!data && size) return E_FAIL;
  return Run(std::string_view(data ? data : "", size), registering);
}

HRESULT Registrar::ResourceRegister(HMODULE module, UINT id, LPCSTR type) { return RunResource(module, id, type, true); }
HRESULT Registrar::ResourceUnregister(HMODULE module, UINT id, LPCSTR type) {
  return RunResource(module, id, type, false);
}

}  // namespace vkr
