// The non-template parts of the XML document handler: the file search, the registry's schema
// directory, the reading of parse-error reasons and the error-sink formatting.
#include "xml/CovFDTXMLHandlerImpl.h"

#include <string>

namespace {

constexpr char kSchemaPathsKey[] = "Software\\Osgrove\\ov FDT Toolkit\\XML\\SchemaPaths";
constexpr DWORD kMaxRegistryValueBytes = 512;
constexpr std::size_t kMaxErrorTextBytes = 4095;

bool IsNameDelimiter(char16_t c) {
  switch (c) {
    case u' ': case u'\'': case u'"': case u'\t': case u'\r': case u'\n': case u'?': case u'\\':
    case u'/': case u'<': case u'>': case u'|': case u':': case u'*':
      return true;
    default:
      return false;
  }
}

bool EndsWithSeparator(std::string_view s) { return !s.empty() && (s.back() == '\\' || s.back() == '/'); }

HRESULT FindIn(const std::string& directory, const std::string& fileName, int depth, std::string* found) {
  const std::string working = EndsWithSeparator(directory) ? directory : directory + "\\";

  WIN32_FIND_DATAA data{};
  HANDLE hit = FindFirstFileA((working + fileName).c_str(), &data);
  if (hit != INVALID_HANDLE_VALUE) {
    FindClose(hit);
    *found = working + data.cFileName;
    return S_OK;
  }
  if (depth >= vkr::xml_detail::kMaxSearchDepth) return S_FALSE;

  HANDLE listing = FindFirstFileExA((working + "*").c_str(), FindExInfoStandard, &data,
                                    FindExSearchLimitToDirectories, nullptr, 0);
  if (listing == INVALID_HANDLE_VALUE) return S_FALSE;
  HRESULT result = S_FALSE;
  // Every entry is looked at: a file listed first must not hide the sub-directories after it.
  do {
    const std::string_view name(data.cFileName);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || name == "." || name == "..") continue;
    if (FindIn(working + data.cFileName, fileName, depth + 1, found) == S_OK) {
      result = S_OK;
      break;
    }
  } while (FindNextFileA(listing, &data));
  FindClose(listing);
  return result;
}

}  // namespace

std::string FormatErrorTextV(const char* format, va_list args) {
  if (!format) return {};
  bool ok = true;
  std::string text = vkr::FormatV(format, args, &ok);
  if (!ok) return {};
  if (text.size() > kMaxErrorTextBytes) {
    std::size_t cut = kMaxErrorTextBytes;
    // Back up over continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  return text;
}

namespace vkr::xml_detail {

HRESULT FindFileBelow(BSTR directory, BSTR fileName, BSTR* fullPath) {
  if (!directory || SysStringLen(fileName) == 0 || !fullPath) return E_INVALIDARG;
  *fullPath = nullptr;
  std::string found;
  HRESULT hr = FindIn(Utf16ToUtf8({directory, SysStringLen(directory)}),
                      Utf16ToUtf8({fileName, SysStringLen(fileName)}), 0, &found);
  if (hr != S_OK) return hr;
  const std::u16string wide = Utf8ToUtf16(found);
  *fullPath = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *fullPath ? S_OK : E_OUTOFMEMORY;
}

bool ReadRegistrySchemaDirectory(std::u16string* directory) {
  HKEY key = nullptr;
  // Read access is all it takes; asking for write access would fail on a locked-down machine.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSchemaPathsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  char buffer[kMaxRegistryValueBytes] = {};
  DWORD size = sizeof(buffer);
  DWORD type = REG_NONE;
  const LSTATUS status = RegQueryValueExA(key, "value0", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  // A value stored without its terminating zero ends at its size.
  std::string_view value(buffer, size);
  value = value.substr(0, value.find('\0'));
  if (value.empty()) return false;
  *directory = Utf8ToUtf16(value);
  return true;
}

std::vector<std::u16string> SchemaFileNamesIn(std::u16string_view reason) {
  std::vector<std::u16string> names;
  std::size_t scanStart = 0;
  for (std::size_t dot = reason.find(u".xml"); dot != std::u16string_view::npos;
       dot = reason.find(u".xml", scanStart)) {
    std::size_t begin = dot;
    while (begin > scanStart && !IsNameDelimiter(reason[begin - 1])) --begin;
    const std::size_t end = dot + 4;
    if (begin < dot) names.emplace_back(reason.substr(begin, end - begin));
    scanStart = end;
  }
  return names;
}

HRESULT ParseErrorText(IXMLDOMParseError* error, BSTR* text) {
  LONG code = 0, line = 0, column = 0;
  vkr::Bstr reason;
  error->get_errorCode(&code);
  error->get_line(&line);
  error->get_linepos(&column);
  error->get_reason(reason.Put());
  std::u16string formatted = Format(u"Error 0x%08x\nLine %ld, Column %ld\n\n", code, line, column);
  formatted += reason.View();
  *text = SysAllocStringLen(formatted.data(), static_cast<UINT>(formatted.size()));
  return *text ? S_OK : E_OUTOFMEMORY;
}

bool CacheHolds(IXMLDOMSchemaCollection* cache, std::u16string_view namespaceUri) {
  vkr::Bstr uri(namespaceUri);
  vkr::ComPtr<IXMLDOMNode> schema;
  return cache->get(uri, schema.Put()) == S_OK && schema;
}

}  // namespace vkr::xml_detail
