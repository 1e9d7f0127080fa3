// The registry tree and its text file: parsing, writing, and the name rules.
#include "platform/win/registry_store.h"

#include <cstdio>
#include <cstring>

namespace vkr::platform {

namespace {

constexpr std::string_view kHeader = "VKR Registry 1";

bool IsControl(char16_t c) { return c < 0x20 || c == 0x7F; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Units of a UTF-16 text as the little-endian bytes the registry stores.
void AppendUnits(std::u16string_view s, std::vector<BYTE>* out) {
  for (char16_t c : s) {
    out->push_back(static_cast<BYTE>(c & 0xFF));
    out->push_back(static_cast<BYTE>(c >> 8));
  }
}

std::u16string UnitsOf(const std::vector<BYTE>& data) {
  std::u16string s(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  return s;
}

// A text the quoted form can carry: valid UTF-16 without control characters.
bool Readable(std::u16string_view s, std::string* utf8) {
  for (char16_t c : s)
    if (IsControl(c)) return false;
  return EncodeUtf8(s, utf8);
}

std::string Quote(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

std::string HexList(const std::vector<BYTE>& data) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(data.size() * 3);
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i) out += ',';
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0xF];
  }
  return out;
}

std::string HexForm(const RegValue& v) {
  if (v.type == 3) return "hex:" + HexList(v.data);
  char head[24];
  std::snprintf(head, sizeof head, "hex(%x):", static_cast<unsigned>(v.type));
  return head + HexList(v.data);
}

// The readable form of a string value, when it gives back the same bytes.
bool StringForm(const RegValue& v, std::string* out) {
  if (v.data.size() < 2 || v.data.size() % 2) return false;
  std::u16string units = UnitsOf(v.data);
  if (units.back() != 0) return false;
  units.pop_back();
  if (units.find(u'\0') != std::u16string::npos) return false;
  std::string utf8;
  if (!Readable(units, &utf8)) return false;
  *out = (v.type == 2 ? "expand:" : "") + Quote(utf8);
  return true;
}

// The canonical REG_MULTI_SZ layout: each non-empty string with its zero, then one more zero.
bool MultiForm(const RegValue& v, std::string* out) {
  if (v.data.size() < 2 || v.data.size() % 2) return false;
  const std::u16string units = UnitsOf(v.data);
  std::string text = "multi:";
  std::size_t pos = 0;
  bool first = true;
  while (true) {
    const std::size_t end = units.find(u'\0', pos);
    if (end == std::u16string::npos) return false;
    if (end == pos) {
      if (end + 1 != units.size()) return false;
      break;
    }
    std::string utf8;
    if (!Readable(std::u16string_view(units).substr(pos, end - pos), &utf8)) return false;
    if (!first) text += ',';
    text += Quote(utf8);
    first = false;
    pos = end + 1;
  }
  *out = std::move(text);
  return true;
}

std::string DataForm(const RegValue& v) {
  std::string out;
  char buf[40];
  switch (v.type) {
    case 1:  // REG_SZ
    case 2:  // REG_EXPAND_SZ
      if (StringForm(v, &out)) return out;
      break;
    case 7:  // REG_MULTI_SZ
      if (MultiForm(v, &out)) return out;
      break;
    case 4:  // REG_DWORD
      if (v.data.size() == 4) {
        DWORD d;
        std::memcpy(&d, v.data.data(), 4);
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(d));
        return buf;
      }
      break;
    case 11:  // REG_QWORD
      if (v.data.size() == 8) {
        ULONGLONG q;
        std::memcpy(&q, v.data.data(), 8);
        std::snprintf(buf, sizeof buf, "qword:%016llx", static_cast<unsigned long long>(q));
        return buf;
      }
      break;
    default:
      break;
  }
  return HexForm(v);
}

void WriteKey(const RegKey& key, std::string& path, bool isRoot, std::string* out) {
  if (!isRoot || !key.values.empty()) {
    *out += "\n[" + path + "]\n";
    for (const RegValue& v : key.values) *out += FormatValueLine(v) + "\n";
  }
  for (const auto& [name, sub] : key.subkeys) {
    const std::size_t mark = path.size();
    std::string utf8;
    EncodeUtf8(name, &utf8);
    path += '\\';
    path += utf8;
    WriteKey(*sub, path, false, out);
    path.resize(mark);
  }
}

// Reads the items of one line; every failure names what is wrong.
class LineParser {
 public:
  explicit LineParser(std::string_view s) : s_(s) {}

  bool AtEnd() const { return pos_ >= s_.size(); }
  bool Eat(std::string_view prefix) {
    if (s_.substr(pos_, prefix.size()) != prefix) return false;
    pos_ += prefix.size();
    return true;
  }
  void SkipBlanks() {
    while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
  }
  char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }

  bool Quoted(std::u16string* out, std::string* error) {
    if (!Eat("\"")) return Fail(error, "expected a quoted text");
    std::string raw;
    while (true) {
      if (AtEnd()) return Fail(error, "a quoted text has no closing quote");
      const char c = s_[pos_++];
      if (c == '"') break;
      if (c == '\\') {
        if (AtEnd()) return Fail(error, "a quoted text has no closing quote");
        const char e = s_[pos_++];
        if (e != '\\' && e != '"')
          return Fail(error, std::string("unknown escape \\") + e + " (write \\\\ for a backslash)");
        raw += e;
        continue;
      }
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
        return Fail(error, "a control character in a quoted text (use the hex form)");
      raw += c;
    }
    if (!DecodeUtf8(raw, out)) return Fail(error, "a quoted text is not valid UTF-8");
    return true;
  }

  bool HexNumber(std::size_t maxDigits, ULONGLONG* out, std::string* error) {
    std::size_t n = 0;
    ULONGLONG v = 0;
    while (!AtEnd() && HexValue(Peek()) >= 0) {
      if (++n > maxDigits) return Fail(error, "a number has too many hex digits");
      v = v * 16 + static_cast<ULONGLONG>(HexValue(s_[pos_++]));
    }
    if (n == 0) return Fail(error, "expected hex digits");
    *out = v;
    return true;
  }

  bool HexBytes(std::vector<BYTE>* out, std::string* error) {
    SkipBlanks();
    if (AtEnd()) return true;
    while (true) {
      if (pos_ + 2 > s_.size() || HexValue(s_[pos_]) < 0 || HexValue(s_[pos_ + 1]) < 0)
        return Fail(error, "expected a byte as two hex digits");
      if (out->size() >= kMaxValueDataSize) return Fail(error, "value data larger than 1 MiB");
      out->push_back(static_cast<BYTE>(HexValue(s_[pos_]) * 16 + HexValue(s_[pos_ + 1])));
      pos_ += 2;
      SkipBlanks();
      if (AtEnd()) return true;
      if (!Eat(",")) return Fail(error, "expected ',' between bytes");
      SkipBlanks();
    }
  }

 private:
  static bool Fail(std::string* error, std::string text) {
    *error = std::move(text);
    return false;
  }
  std::string_view s_;
  std::size_t pos_ = 0;
};

bool ParseData(LineParser& p, RegValue* v, std::string* error) {
  v->data.clear();
  auto stringData = [&](DWORD type) {
    std::u16string text;
    if (!p.Quoted(&text, error)) return false;
    v->type = type;
    AppendUnits(text, &v->data);
    AppendUnits(std::u16string_view(u"\0", 1), &v->data);
    return true;
  };
  if (p.Peek() == '"') return stringData(1);
  if (p.Eat("expand:")) return stringData(2);
  if (p.Eat("multi:")) {
    v->type = 7;
    p.SkipBlanks();
    while (!p.AtEnd()) {
      std::u16string item;
      if (!p.Quoted(&item, error)) return false;
      if (item.empty()) {
        *error = "an empty text in a multi list (REG_MULTI_SZ cannot hold one)";
        return false;
      }
      AppendUnits(item, &v->data);
      AppendUnits(std::u16string_view(u"\0", 1), &v->data);
      p.SkipBlanks();
      if (p.AtEnd()) break;
      if (!p.Eat(",")) {
        *error = "expected ',' between the texts of a multi list";
        return false;
      }
      p.SkipBlanks();
    }
    AppendUnits(std::u16string_view(u"\0", 1), &v->data);
    return true;
  }
  const bool dword = p.Eat("dword:");
  if (dword || p.Eat("qword:")) {
    ULONGLONG n;
    if (!p.HexNumber(dword ? 8 : 16, &n, error)) return false;
    v->type = dword ? 4 : 11;
    v->data.resize(dword ? 4 : 8);
    if (dword) {
      const DWORD d = static_cast<DWORD>(n);
      std::memcpy(v->data.data(), &d, 4);
    } else {
      std::memcpy(v->data.data(), &n, 8);
    }
    return true;
  }
  if (p.Eat("hex:")) {
    v->type = 3;
    return p.HexBytes(&v->data, error);
  }
  if (p.Eat("hex(")) {
    ULONGLONG type;
    if (!p.HexNumber(8, &type, error)) return false;
    if (!p.Eat("):")) {
      *error = "expected \"):\" after the type of a hex form";
      return false;
    }
    v->type = static_cast<DWORD>(type);
    return p.HexBytes(&v->data, error);
  }
  *error = "unknown data form (expected \"text\", expand:, multi:, dword:, qword:, hex: or hex(N):)";
  return false;
}

}  // namespace

RegValue* RegKey::FindValue(std::u16string_view name) {
  for (RegValue& v : values)
    if (EqualNoCase(v.name, name)) return &v;
  return nullptr;
}

RegKey* RegKey::FindSubkey(std::u16string_view name) {
  auto it = subkeys.find(name);
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegKey* RegKey::AddSubkey(std::u16string_view name, bool* created) {
  auto it = subkeys.find(name);
  if (created) *created = it == subkeys.end();
  if (it != subkeys.end()) return it->second.get();
  auto key = std::make_unique<RegKey>();
  RegKey* raw = key.get();
  subkeys.emplace(std::u16string(name), std::move(key));
  return raw;
}

bool IsValidKeyName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxKeyNameLength) return false;
  for (char16_t c : name)
    if (c == u'\\' || IsControl(c)) return false;
  std::string utf8;
  return EncodeUtf8(name, &utf8);
}

bool IsValidValueName(std::u16string_view name) {
  if (name.size() > kMaxValueNameLength) return false;
  for (char16_t c : name)
    if (IsControl(c)) return false;
  std::string utf8;
  return EncodeUtf8(name, &utf8);
}

bool SplitKeyPath(std::u16string_view path, std::vector<std::u16string>* names) {
  names->clear();
  if (path.empty()) return true;
  if (path.front() == u'\\') return false;
  if (path.back() == u'\\') path.remove_suffix(1);
  std::size_t pos = 0;
  while (true) {
    const std::size_t end = path.find(u'\\', pos);
    const std::u16string_view name = path.substr(pos, end == std::u16string_view::npos ? path.npos : end - pos);
    if (!IsValidKeyName(name)) return false;
    names->emplace_back(name);
    if (end == std::u16string_view::npos) return true;
    pos = end + 1;
  }
}

bool ParseKeyText(std::u16string_view text, Hive* hive, std::vector<std::u16string>* names) {
  const std::size_t cut = text.find(u'\\');
  const std::u16string_view root = text.substr(0, cut);
  const std::u16string_view rest = cut == text.npos ? std::u16string_view() : text.substr(cut + 1);
  bool classes = false;
  if (EqualNoCase(root, u"HKEY_LOCAL_MACHINE") || EqualNoCase(root, u"HKLM")) {
    *hive = Hive::Machine;
  } else if (EqualNoCase(root, u"HKEY_CURRENT_USER") || EqualNoCase(root, u"HKCU")) {
    *hive = Hive::User;
  } else if (EqualNoCase(root, u"HKEY_CLASSES_ROOT") || EqualNoCase(root, u"HKCR")) {
    *hive = Hive::Machine;
    classes = true;
  } else {
    return false;
  }
  if (cut != text.npos && rest.empty()) return false;  // "HKLM\" names no key
  if (!SplitKeyPath(rest, names)) return false;
  if (classes) {
    names->insert(names->begin(), u"Classes");
    names->insert(names->begin(), u"SOFTWARE");
  }
  return names->size() <= kMaxKeyDepth;
}

std::string KeyText(Hive hive, const std::vector<std::u16string>& names) {
  std::string out = hive == Hive::Machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
  for (const std::u16string& n : names) {
    std::string utf8;
    EncodeUtf8(n, &utf8);
    out += '\\';
    out += utf8;
  }
  return out;
}

std::string FormatValueLine(const RegValue& value) {
  std::string name;
  if (value.name.empty()) {
    name = "@";
  } else {
    std::string utf8;
    EncodeUtf8(value.name, &utf8);
    name = Quote(utf8);
  }
  return name + "=" + DataForm(value);
}

std::string WriteRegistryText(const RegTree& tree) {
  std::string out(kHeader);
  out += '\n';
  out += kEndNote;
  out += '\n';
  for (Hive h : {Hive::Machine, Hive::User}) {
    std::string path = KeyText(h, {});
    WriteKey(tree.Root(h), path, true, &out);
  }
  out += '\n';
  out += kEndMarker;
  out += '\n';
  return out;
}

bool ParseRegistryText(std::string_view text, RegTree* tree, RegistryParseError* error) {
  *tree = RegTree();
  *error = RegistryParseError();
  if (text.size() > kMaxRegistryFileSize) {
    error->reason = "the file is larger than 64 MiB";
    return false;
  }
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool headerSeen = false;
  bool endRequired = false;
  bool endSeen = false;
  RegKey* current = nullptr;
  std::size_t lineNo = 0;
  auto fail = [&](std::string reason) {
    error->line = lineNo;
    error->reason = std::move(reason);
    return false;
  };
  while (!text.empty()) {
    ++lineNo;
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == text.npos ? text.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    if (headerSeen && line == kEndNote) endRequired = true;
    if (headerSeen && line == kEndMarker) endSeen = true;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.find('\0') != line.npos) return fail("a zero byte in the line");
    if (!headerSeen) {
      if (line != kHeader) return fail("the file does not start with \"VKR Registry 1\"");
      headerSeen = true;
      continue;
    }
    if (endSeen) return fail("text after the end marker \"; end of registry\"");
    if (line.front() == '[') {
      if (line.back() != ']') return fail("a key line must end with ']'");
      const std::string_view inner = line.substr(1, line.size() - 2);
      if (!inner.empty() && inner.front() == '-') return fail("deleting keys ([-...]) is not supported in this file");
      std::u16string keyText;
      if (!DecodeUtf8(inner, &keyText)) return fail("the key name is not valid UTF-8");
      Hive hive;
      std::vector<std::u16string> names;
      if (!ParseKeyText(keyText, &hive, &names))
        return fail("not a valid key (expected [HKEY_LOCAL_MACHINE\\...] or [HKEY_CURRENT_USER\\...] with names "
                    "of 1 to 255 characters)");
      current = &tree->Root(hive);
      for (const std::u16string& n : names) current = current->AddSubkey(n);
      continue;
    }
    if (line.front() != '@' && line.front() != '"') return fail("expected a [key] line, a value line or a comment");
    if (!current) return fail("a value before the first [key] line");
    LineParser p(line);
    RegValue value;
    std::string why;
    if (!p.Eat("@") && !p.Quoted(&value.name, &why)) return fail(why);
    if (!IsValidValueName(value.name)) return fail("the value name is too long or holds a control character");
    p.SkipBlanks();
    if (!p.Eat("=")) return fail("expected '=' after the value name");
    p.SkipBlanks();
    if (!ParseData(p, &value, &why)) return fail(why);
    p.SkipBlanks();
    if (!p.AtEnd()) return fail("unexpected text after the value");
    if (value.data.size() > kMaxValueDataSize) return fail("value data larger than 1 MiB");
    if (current->FindValue(value.name)) return fail("the value is already set above in this key");
    current->values.push_back(std::move(value));
  }
  if (endRequired && !endSeen)
    return fail("the file ends before its last line \"; end of registry\": it was cut short (restore it from a "
                "copy, or add that line if nothing is missing)");
  return true;
}

}  // namespace vkr::platform
