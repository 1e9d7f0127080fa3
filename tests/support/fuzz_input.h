// What the fuzz targets share: reading an input piece by piece, its text as a BSTR, a scratch
// directory that keeps the process away from the user's registry and drives, the frame's schema
// set as a schema cache, and the check that stops the fuzzer. Free of GoogleTest, so that tests,
// benchmarks and fuzz targets can all use it.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tests/support/source_tree.h"

namespace vkr::fuzz {

// For LLVMFuzzerInitialize: adds to the command line each libFuzzer flag ("-max_len=1024") whose
// name it does not give already (libFuzzer reads its flags after that call), so that a campaign
// run as the README runs it gets what the target needs.
inline void AddDefaultFlags(int* argc, char*** argv, std::initializer_list<const char*> flags) {
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc);
  for (const char* flag : flags) {
    const std::string_view text(flag);
    const std::string_view name = text.substr(0, text.find('=') + 1);
    bool given = false;
    for (int i = 1; i < *argc; ++i) given = given || std::string_view((*argv)[i]).rfind(name, 0) == 0;
    if (!given) args.push_back(const_cast<char*>(flag));
  }
  *argc = static_cast<int>(args.size());
  args.push_back(nullptr);
  *argv = args.data();
}

// A broken invariant: libFuzzer reports the input that caused it, and the line says which.
inline void Check(bool ok, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken at %s:%d\n", file, line);
  std::abort();
}

// The input, taken from the front. Past the end every byte reads as 0 and every piece is empty.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_p(data), m_end(data + size) {}

  bool More() const { return m_p < m_end; }
  std::size_t Left() const { return static_cast<std::size_t>(m_end - m_p); }
  std::uint8_t Byte() { return m_p < m_end ? *m_p++ : 0; }
  // Up to n bytes.
  std::string_view Take(std::size_t n) {
    const std::size_t k = n < Left() ? n : Left();
    std::string_view piece(reinterpret_cast<const char*>(m_p), k);
    m_p += k;
    return piece;
  }
  // The bytes up to the separator (which is dropped), or all that is left when there is none.
  std::string_view Until(char separator) {
    const std::string_view rest(reinterpret_cast<const char*>(m_p), Left());
    const std::size_t at = rest.find(separator);
    if (at == std::string_view::npos) return Take(rest.size());
    std::string_view piece = Take(at);
    ++m_p;
    return piece;
  }
  std::string_view Rest() { return Take(Left()); }

 private:
  const std::uint8_t* m_p;
  const std::uint8_t* m_end;
};

// UTF-8 bytes as a BSTR (ill-formed sequences become U+FFFD, as the platform converts them).
inline vkr::Bstr Text(std::string_view utf8) { return vkr::Bstr(vkr::Utf8ToUtf16(utf8)); }

// A directory of the process's own: the registry file and the drive root live in it, so that no
// target reads or writes the user's. Made on first use, removed when the process ends normally.
class Scratch {
 public:
  static const std::filesystem::path& Directory() {
    static Scratch scratch;
    return scratch.m_dir;
  }

 private:
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vkr-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    m_dir = pattern;
    ::setenv("VKR_DRIVE_ROOT", (m_dir / "drives").c_str(), 1);
    ::setenv("VKR_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
    vkr::platform::UseRegistryFile((m_dir / "registry.reg").string());
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
  }
  std::filesystem::path m_dir;
};

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A schema cache holding every schema of the frame's set, each under "x-schema:" and its file name.
inline vkr::ComPtr<IXMLDOMSchemaCollection> MakeFrameSchemaCache() {
  vkr::ComPtr<IXMLDOMSchemaCollection> cache;
  Check(SUCCEEDED(CoCreateInstance(CLSID_XMLSchemaCache, nullptr, CLSCTX_ALL, IID_IXMLDOMSchemaCollection,
                                   cache.PutVoid())));
  for (const auto& e : std::filesystem::directory_iterator(vkr::test::FrameSchemas())) {
    vkr::Variant location;
    location.vt = VT_BSTR;
    location.bstrVal = SysAllocString(vkr::Utf8ToUtf16(e.path().string()).c_str());
    Check(SUCCEEDED(cache->add(vkr::Bstr(u"x-schema:" + vkr::Utf8ToUtf16(e.path().filename().string())), location)));
  }
  return cache;
}

// A new DOM document, with the cache attached when one is given.
inline vkr::ComPtr<IXMLDOMDocument2> NewDocument(IXMLDOMSchemaCollection* cache) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  Check(SUCCEEDED(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2,
                                   document.PutVoid())));
  if (cache) {
    vkr::Variant schemas;
    schemas.vt = VT_UNKNOWN;
    schemas.punkVal = cache;
    cache->AddRef();
    Check(SUCCEEDED(document->putref_schemas(schemas)));
  }
  return document;
}

// The document's text as its `xml` writes it.
inline std::u16string XmlOf(IXMLDOMNode* node) {
  vkr::Bstr xml;
  Check(SUCCEEDED(node->get_xml(xml.Put())));
  return std::u16string(xml.View());
}

}  // namespace vkr::fuzz
