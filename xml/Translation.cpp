// The translation services beside the translation document: file location, file reading, the
// entry and message look-ups, and the function-id placeholder.
#include "xml/Translation.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <string>
#include <vector>

#include "xml/Conversions.h"

namespace {

bool EndsWithSeparator(std::u16string_view path) {
  return !path.empty() && (path.back() == u'\\' || path.back() == u'/');
}

// The registry's directory, or an empty text when the key or value is missing, of another type, or
// longer than the buffer.
std::u16string RegistryTranslationPath() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTranslationPathKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  OLECHAR buffer[kTranslationPathCapacity + 1] = {};
  DWORD size = kTranslationPathCapacity * sizeof(OLECHAR);
  DWORD type = 0;
  const std::u16string name = vkr::Utf8ToUtf16(kTranslationPathValue);
  const LSTATUS status =
      RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  // A value stored without its terminating zero still ends where its data ends.
  const std::u16string_view data(buffer, size / sizeof(OLECHAR));
  return std::u16string(data.substr(0, data.find(u'\0')));
}

// The look-up of one path through the interface: the text when found.
HRESULT LookUp(IovFdtTranslation* translation, const std::u16string& path, vkr::Bstr* text, bool* found) {
  *found = false;
  vkr::Bstr xpath(path);
  if (!xpath.Get()) return E_OUTOFMEMORY;
  VARIANT_BOOL exists = VARIANT_FALSE;
  const HRESULT hr = translation->GetTranslation(xpath, text->Put(), &exists);
  *found = SUCCEEDED(hr) && exists != VARIANT_FALSE;
  return hr;
}

struct BuiltInText {
  ULONG id;
  const OLECHAR* text;
};
constexpr BuiltInText kToolkitTexts[] = {
    {1001, u"There was an error during upload parameters.\r\nDo you want to stop upload?"},
    {1002, u"Upload Parameters"},
    {1003, u"There was an error during download parameters.\r\nDo you want to stop download?"},
    {1004, u"Download Parameters"},
    {1005, u"Parameter changed in the device, do you want to load the changes to the DTM?"},
    {1006, u"Parameter changed in the DTM, do you want to store the changes to the device?"},
    {4001, u"Warning"},
    {4002, u"Apply changes?"},
};

}  // namespace

namespace vkr {

bool XPathStringLiteral(std::u16string_view text, std::u16string* literal) {
  const bool hasDouble = text.find(u'"') != std::u16string_view::npos;
  const bool hasSingle = text.find(u'\'') != std::u16string_view::npos;
  if (hasDouble && hasSingle) return false;
  const char16_t quote = hasDouble ? u'\'' : u'"';
  literal->assign(1, quote);
  literal->append(text);
  literal->push_back(quote);
  return true;
}

std::u16string DecimalText(long long value) { return Utf8ToUtf16(std::to_string(value)); }

std::u16string TidyPath(std::u16string_view path) {
  auto separator = [](char16_t c) { return c == u'\\' || c == u'/'; };
  std::u16string out;
  std::size_t i = 0;
  while (i < path.size() && separator(path[i])) out.push_back(path[i++]);
  while (i < path.size()) {
    std::size_t end = i;
    while (end < path.size() && !separator(path[end])) ++end;
    const std::u16string_view name = path.substr(i, end - i);
    if (name != u".") {
      out.append(name);
      if (end < path.size()) out.push_back(path[end]);
    }
    i = end;
    while (i < path.size() && separator(path[i])) ++i;
  }
  return out.empty() ? std::u16string(path) : out;
}

bool CheckDocumentFile(std::u16string_view path, std::string* problem) {
  const std::u16string file(path);
  const std::string shown = Utf16ToUtf8(TidyPath(path));
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *problem = shown + ": the file does not exist";
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    *problem = shown + ": this is a directory, not a file";
    return false;
  }
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *problem = shown + ": the file cannot be opened: " + DescribeWin32Error(static_cast<LONG>(GetLastError()));
    return false;
  }
  DWORD high = 0;
  const DWORD low = GetFileSize(handle, &high);
  CloseHandle(handle);
  if (low == 0 && high == 0) {
    *problem = shown + ": the file is empty";
    return false;
  }
  return true;
}

}  // namespace vkr

HRESULT GetTranslationPath(BSTR* path) {
  if (!path) return E_INVALIDARG;
  *path = nullptr;
  std::u16string directory = RegistryTranslationPath();
  if (directory.empty()) directory = u".";
  if (IsRelativePath(directory.c_str())) {
    if (!EndsWithSeparator(directory)) directory.push_back(u'\\');
    vkr::Bstr absolute;
    absolute.Attach(MakeAbsolutePath(directory.c_str()));
    if (!absolute.Get()) return E_OUTOFMEMORY;
    directory = absolute.Str();
  }
  if (!EndsWithSeparator(directory)) directory.push_back(u'\\');
  *path = SysAllocStringLen(directory.data(), static_cast<UINT>(directory.size()));
  return *path ? S_OK : E_OUTOFMEMORY;
}

HRESULT ReadTextFile(LPCSTR path, BSTR* text) {
  if (!path || !text) return E_POINTER;
  *text = nullptr;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return E_FAIL;
  DWORD high = 0;
  const DWORD size = GetFileSize(file, &high);
  if (size == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) {
    CloseHandle(file);
    return E_FAIL;
  }
  if (high != 0 || size > kMaxTextFileBytes) {
    CloseHandle(file);
    return E_OUTOFMEMORY;
  }
  std::string bytes(size, '\0');
  DWORD read = 0;
  const BOOL ok = size == 0 || ReadFile(file, bytes.data(), size, &read, nullptr);
  CloseHandle(file);
  if (!ok || read < size) return E_UNEXPECTED;

  std::u16string decoded;
  auto bytesAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const bool utf16le = size >= 2 && bytesAt(0) == 0xFF && bytesAt(1) == 0xFE;
  const bool utf16be = size >= 2 && bytesAt(0) == 0xFE && bytesAt(1) == 0xFF;
  if (utf16le || utf16be) {
    if (size % 2 != 0) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    decoded.reserve(size / 2 - 1);
    for (std::size_t i = 2; i + 1 < size; i += 2) {
      const unsigned lo = utf16le ? bytesAt(i) : bytesAt(i + 1);
      const unsigned hi = utf16le ? bytesAt(i + 1) : bytesAt(i);
      decoded.push_back(static_cast<char16_t>(lo | (hi << 8)));
    }
  } else {
    std::string_view utf8(bytes);
    if (utf8.size() >= 3 && bytesAt(0) == 0xEF && bytesAt(1) == 0xBB && bytesAt(2) == 0xBF) utf8.remove_prefix(3);
    decoded = vkr::Utf8ToUtf16(utf8);
  }
  *text = SysAllocStringLen(decoded.data(), static_cast<UINT>(decoded.size()));
  return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT GetEnumerationEntryText(IUnknown* translationSource, ULONG enumerationId, LONG entryValue, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  if (!translationSource) return E_FAIL;
  vkr::ComPtr<IovFdtTranslation> translation;
  if (FAILED(translationSource->QueryInterface(IovFdtTranslation::iid, translation.PutVoid())) || !translation)
    return E_FAIL;
  const std::u16string entry = u"localization/DTM/EnumerationList/Enumeration[@id=\"" +
                               vkr::DecimalText(enumerationId) + u"\"]/EnumerationEntry[@id=\"" +
                               vkr::DecimalText(entryValue) + u"\"]";
  // The translation file keeps an entry's label in its `Label` child; texts directly below the
  // entry are read as well, for files written that way.
  for (const std::u16string& path : {entry + u"/Label", entry}) {
    vkr::Bstr found;
    bool exists = false;
    const HRESULT hr = LookUp(translation.Get(), path, &found, &exists);
    if (FAILED(hr)) return hr;
    if (exists) {
      *text = found.Detach();
      return S_OK;
    }
  }
  return E_FAIL;
}

const OLECHAR* BuiltInToolkitMessageText(ULONG id) {
  for (const BuiltInText& t : kToolkitTexts)
    if (t.id == id) return t.text;
  return nullptr;
}

HRESULT GetToolkitMessageText(IUnknown* dtm, ULONG id, BSTR* text) {
  if (!text) return E_POINTER;
  *text = nullptr;
  vkr::ComPtr<IovFdtTranslation> translation;
  if (dtm && SUCCEEDED(dtm->QueryInterface(IovFdtTranslation::iid, translation.PutVoid())) && translation) {
    vkr::Bstr found;
    bool exists = false;
    LookUp(translation.Get(), u"localization/ToolkitMessages/Message[@id=\"" + vkr::DecimalText(id) + u"\"]", &found,
           &exists);
    if (exists) {
      *text = found.Detach();
      return S_OK;
    }
  }
  if (const OLECHAR* builtIn = BuiltInToolkitMessageText(id)) *text = SysAllocString(builtIn);
  return S_OK;
}

HRESULT SubstituteFunctionId(BSTR text, LONG functionId, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const std::u16string_view in = vkr::View(text);
  const std::u16string id = vkr::DecimalText(functionId);
  std::u16string result;
  result.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == u'%' && i + 1 < in.size() && in[i + 1] == u'd') {
      result += id;
      ++i;
    } else if (in[i] == u'%' && i + 1 < in.size() && in[i + 1] == u'%') {
      result.push_back(u'%');
      ++i;
    } else {
      result.push_back(in[i]);
    }
  }
  *out = SysAllocStringLen(result.data(), static_cast<UINT>(result.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

namespace vkr {
namespace {

// Kept per thread: a document is read only on the thread that loaded it. Process-wide rather
// than thread_local, so that no module-owned thread storage outlives the module; an entry goes
// once no DTM holds its document any more, so nothing is kept after the last DTM is released.
struct KeptTranslation {
  DWORD thread = 0;
  std::u16string text;
  ComPtr<IXMLDOMDocument2> document;
  // The answers of the text look-ups made on the document so far (absent: nothing found).
  std::unordered_map<std::u16string, std::optional<std::u16string>> answers;
  // The parameter texts by language.
  std::unordered_map<std::u16string, SharedParameterTexts> parameterTexts;
};
constexpr std::size_t kKeptAnswers = 16384;
constexpr std::size_t kKeptTranslations = 4;

// Set when the kept documents are gone with the statics: a DTM released later still works,
// without them. Constant-initialised and never destroyed.
bool g_keptGone = false;

struct KeptTranslations {
  std::mutex lock;
  std::vector<KeptTranslation> entries;
  KeptTranslations() = default;
  KeptTranslations(const KeptTranslations&) = delete;
  KeptTranslations& operator=(const KeptTranslations&) = delete;
  ~KeptTranslations() { g_keptGone = true; }
};

// A translation file's root element as text, by the file's path and bytes: a file rewritten with
// the same size and time of writing but other bytes is read again.
struct ReadTranslationFile {
  std::u16string path;
  std::string bytes;
  std::u16string xml;
};
constexpr std::size_t kReadTranslationFiles = 4;

bool g_readFilesGone = false;

struct ReadTranslationFiles {
  std::mutex lock;
  std::vector<ReadTranslationFile> entries;
  ReadTranslationFiles() = default;
  ReadTranslationFiles(const ReadTranslationFiles&) = delete;
  ReadTranslationFiles& operator=(const ReadTranslationFiles&) = delete;
  ~ReadTranslationFiles() { g_readFilesGone = true; }
};

ReadTranslationFiles& ReadFiles() {
  static ReadTranslationFiles files;
  return files;
}

// The file's bytes as they are now; false when it cannot be read whole.
bool FileBytes(const std::u16string& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  const DWORD size = GetFileSize(file, &high);
  bool ok = size != INVALID_FILE_SIZE && high == 0 && size <= kMaxTextFileBytes;
  if (ok) {
    bytes->assign(size, '\0');
    DWORD read = 0;
    ok = size == 0 || (ReadFile(file, bytes->data(), size, &read, nullptr) && read == size);
  }
  CloseHandle(file);
  return ok;
}

KeptTranslations& Kept() {
  static KeptTranslations kept;
  return kept;
}

// Whether only the cache holds the document.
bool OnlyKept(IXMLDOMDocument2* document) {
  const ULONG count = document->AddRef();
  document->Release();
  return count <= 2;
}

}  // namespace

ComPtr<IXMLDOMDocument2> SharedTranslationDocument(std::u16string_view text) {
  if (g_keptGone) return nullptr;
  // A few texts at most per thread: compared whole (lengths first), which is cheaper than a hash
  // of the text on every load.
  const DWORD thread = GetCurrentThreadId();
  KeptTranslations& kept = Kept();
  std::lock_guard<std::mutex> hold(kept.lock);
  for (const KeptTranslation& k : kept.entries)
    if (k.thread == thread && k.text.size() == text.size() && k.text == text) return k.document;
  return nullptr;
}

void KeepTranslationDocument(std::u16string_view text, IXMLDOMDocument2* document) {
  if (g_keptGone) return;
  const DWORD thread = GetCurrentThreadId();
  std::vector<KeptTranslation> dropped;
  KeptTranslations& kept = Kept();
  std::lock_guard<std::mutex> hold(kept.lock);
  std::size_t mine = 0;
  for (const KeptTranslation& k : kept.entries) mine += k.thread == thread ? 1 : 0;
  if (mine >= kKeptTranslations) {
    const auto oldest = std::find_if(kept.entries.begin(), kept.entries.end(),
                                     [thread](const KeptTranslation& k) { return k.thread == thread; });
    dropped.push_back(std::move(*oldest));
    kept.entries.erase(oldest);
  }
  kept.entries.push_back(KeptTranslation{thread, std::u16string(text), ComPtr<IXMLDOMDocument2>(document), {}, {}});
}

bool FindSharedLocaleText(IXMLDOMDocument2* document, std::u16string_view key, std::optional<std::u16string>* text) {
  if (g_keptGone) return false;
  const DWORD thread = GetCurrentThreadId();
  KeptTranslations& kept = Kept();
  std::lock_guard<std::mutex> hold(kept.lock);
  for (const KeptTranslation& k : kept.entries) {
    if (k.thread != thread || k.document.Get() != document) continue;
    auto it = k.answers.find(std::u16string(key));
    if (it == k.answers.end()) return false;
    *text = it->second;
    return true;
  }
  return false;
}

void KeepSharedLocaleText(IXMLDOMDocument2* document, std::u16string_view key, const std::optional<std::u16string>& text) {
  if (g_keptGone) return;
  const DWORD thread = GetCurrentThreadId();
  KeptTranslations& kept = Kept();
  std::lock_guard<std::mutex> hold(kept.lock);
  for (KeptTranslation& k : kept.entries)
    if (k.thread == thread && k.document.Get() == document && k.answers.size() < kKeptAnswers)
      k.answers.try_emplace(std::u16string(key), text);
}

SharedParameterTexts FindSharedParameterTexts(IXMLDOMDocument2* document, std::u16string_view key) {
  if (g_keptGone) return nullptr;
  const DWORD thread = GetCurrentThreadId();
  KeptTranslations& kept = Kept();
  std::lock_guard<std::mutex> hold(kept.lock);
  for (const KeptTranslation& k : kept.entries) {
    if (k.thread != thread || k.document.Get() != document) continue;
    auto it = k.parameterTexts.find(std::u16string(key));
    return it == k.parameterTexts.end() ? nullptr : it->second;
  }
  return nullptr;
}

void KeepSharedParameterTexts(IXMLDOMDocument2* document, std::u16string_view key, SharedParameterTexts texts) {
  if (g_keptGone || !texts) return;
  const DWORD thread = GetCurrentThreadId();
  KeptTranslations& kept = Kept();
  std::lock_guard<std::mutex> hold(kept.lock);
  for (KeptTranslation& k : kept.entries)
    if (k.thread == thread && k.document.Get() == document) k.parameterTexts.try_emplace(std::u16string(key), texts);
}

bool FindReadTranslationFile(const std::u16string& path, std::u16string* xml) {
  if (g_readFilesGone) return false;
  std::string bytes;
  if (!FileBytes(path, &bytes)) return false;
  ReadTranslationFiles& files = ReadFiles();
  std::lock_guard<std::mutex> hold(files.lock);
  for (const ReadTranslationFile& f : files.entries) {
    if (f.path == path && f.bytes == bytes) {
      *xml = f.xml;
      return true;
    }
  }
  return false;
}

void KeepReadTranslationFile(const std::u16string& path, std::u16string_view xml) {
  if (g_readFilesGone) return;
  std::string bytes;
  if (!FileBytes(path, &bytes)) return;
  ReadTranslationFiles& files = ReadFiles();
  std::lock_guard<std::mutex> hold(files.lock);
  std::erase_if(files.entries, [&](const ReadTranslationFile& f) { return f.path == path; });
  if (files.entries.size() >= kReadTranslationFiles) files.entries.erase(files.entries.begin());
  files.entries.push_back(ReadTranslationFile{path, std::move(bytes), std::u16string(xml)});
}

void ForgetUnusedTranslationDocuments() {
  if (g_keptGone) return;
  const DWORD thread = GetCurrentThreadId();
  std::vector<KeptTranslation> dropped;
  {
    KeptTranslations& kept = Kept();
    std::lock_guard<std::mutex> hold(kept.lock);
    for (auto it = kept.entries.begin(); it != kept.entries.end();) {
      if (it->thread == thread && OnlyKept(it->document.Get())) {
        dropped.push_back(std::move(*it));
        it = kept.entries.erase(it);
      } else {
        ++it;
      }
    }
  }
  // The documents are released here, outside the lock.
}

}  // namespace vkr
