// Fuzzes the XDR schema files of a schema directory: arbitrary bytes become a schema file that the
// schema cache loads in place of one of the frame's schemas (or as a new one), and a small
// document is then validated against the cache. No input may crash, hang or leak. A file that is
// refused leaves the cache as it was. A schema that loads writes out (the cache's get) to a file
// that loads again and validates the document the same way; a document that validates writes out
// to text that validates again to the same text.
//
// Input: one byte choosing the namespace (a file name of frame/schemas, or "Fuzz.xml"), the schema
// file up to a NUL byte, then the document. Without a document the schema's last ElementType,
// empty, in the schema's namespace is validated.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/fuzz_input.h"

namespace {

namespace fs = std::filesystem;
using vkr::fuzz::Check;

constexpr std::size_t kMaxSchema = 16 * 1024;
constexpr std::size_t kMaxDocument = 4096;

struct Setup {
  vkr::ComPtr<IXMLDOMSchemaCollection> frame = vkr::fuzz::MakeFrameSchemaCache();
  std::vector<std::u16string> names;  // the namespaces to replace, then one of our own
  fs::path first = vkr::fuzz::Scratch::Directory() / "schema.xml";
  fs::path second = vkr::fuzz::Scratch::Directory() / "written.xml";

  Setup() {
    for (const auto& e : fs::directory_iterator(vkr::test::FrameSchemas()))
      names.push_back(u"x-schema:" + vkr::Utf8ToUtf16(e.path().filename().string()));
    std::sort(names.begin(), names.end());
    names.push_back(u"x-schema:Fuzz.xml");
  }
};

vkr::ComPtr<IXMLDOMSchemaCollection> FrameSetWith(IXMLDOMSchemaCollection* frame) {
  vkr::ComPtr<IXMLDOMSchemaCollection> cache;
  Check(SUCCEEDED(CoCreateInstance(CLSID_XMLSchemaCache, nullptr, CLSCTX_ALL, IID_IXMLDOMSchemaCollection,
                                   cache.PutVoid())));
  Check(cache->addCollection(frame) == S_OK);
  return cache;
}

HRESULT AddFile(IXMLDOMSchemaCollection* cache, const std::u16string& ns, const fs::path& file) {
  vkr::Variant location;
  location.vt = VT_BSTR;
  location.bstrVal = SysAllocString(vkr::Utf8ToUtf16(file.string()).c_str());
  return cache->add(vkr::Bstr(ns), location);
}

// The root element of the schema the cache holds for ns, as text; empty when there is none.
std::u16string SchemaText(IXMLDOMSchemaCollection* cache, const std::u16string& ns) {
  vkr::ComPtr<IXMLDOMNode> root;
  const HRESULT hr = cache->get(vkr::Bstr(ns), root.Put());
  Check(SUCCEEDED(hr));
  return root ? vkr::fuzz::XmlOf(root.Get()) : std::u16string();
}

struct Validation {
  bool loaded = false;
  std::u16string xml;  // the document as written after validation (defaults added)
};

Validation Validate(IXMLDOMSchemaCollection* cache, const std::u16string& text) {
  Validation out;
  auto document = vkr::fuzz::NewDocument(cache);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = document->loadXML(vkr::Bstr(text), &loaded);
  Check(hr == (loaded ? S_OK : S_FALSE));
  if (!loaded) {
    vkr::ComPtr<IXMLDOMParseError> error;
    LONG code = 0;
    vkr::Bstr reason;
    Check(SUCCEEDED(document->get_parseError(error.Put())) && error);
    Check(SUCCEEDED(error->get_errorCode(&code)) && code < 0);
    Check(SUCCEEDED(error->get_reason(reason.Put())) && !reason.Empty());
    return out;
  }
  out.loaded = true;
  out.xml = vkr::fuzz::XmlOf(document.Get());
  return out;
}

// The empty last ElementType of the schema in its namespace; empty when it names none.
std::u16string DocumentFor(IXMLDOMSchemaCollection* cache, const std::u16string& ns) {
  vkr::ComPtr<IXMLDOMNode> root;
  if (cache->get(vkr::Bstr(ns), root.Put()) != S_OK || !root) return {};
  vkr::ComPtr<IXMLDOMNode> name;
  if (root->selectSingleNode(vkr::Bstr(u"ElementType[last()]/@name"), name.Put()) != S_OK || !name) return {};
  vkr::Bstr text;
  Check(SUCCEEDED(name->get_text(text.Put())));
  // A name that is no XML name makes a document that does not parse, which is fine.
  return std::u16string(u"<").append(text.Str()).append(u" xmlns=\"").append(ns).append(u"\"/>");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool initialised = SUCCEEDED(CoInitialize(nullptr));
  Check(initialised);
  static Setup setup;
  vkr::fuzz::Input in(data, size);
  const std::u16string& ns = setup.names[in.Byte() % setup.names.size()];
  const std::string_view schema = in.Until('\0');
  const std::string_view own = in.Rest();
  if (schema.size() > kMaxSchema || own.size() > kMaxDocument) return 0;

  vkr::fuzz::WriteFile(setup.first, schema);
  vkr::ComPtr<IXMLDOMSchemaCollection> cache = FrameSetWith(setup.frame.Get());
  LONG before = 0, after = 0;
  Check(SUCCEEDED(cache->get_length(&before)));
  const std::u16string old = SchemaText(cache.Get(), ns);
  const HRESULT added = AddFile(cache.Get(), ns, setup.first);
  Check(SUCCEEDED(cache->get_length(&after)));
  if (FAILED(added)) {
    // Refused: the cache is unchanged.
    Check(added == XML_E_NOT_WELL_FORMED || added == XML_E_BAD_SCHEMA);
    Check(after == before && SchemaText(cache.Get(), ns) == old);
    return 0;
  }
  Check(added == S_OK && after == before + (old.empty() ? 1 : 0));

  const std::u16string text = own.empty() ? DocumentFor(cache.Get(), ns) : vkr::Utf8ToUtf16(own);
  if (text.empty()) return 0;
  const Validation first = Validate(cache.Get(), text);
  if (first.loaded) {
    const Validation written = Validate(cache.Get(), first.xml);
    Check(written.loaded && written.xml == first.xml);
  }

  // The schema as the cache gives it back loads again and judges the document the same way.
  const std::u16string schemaText = SchemaText(cache.Get(), ns);
  Check(!schemaText.empty());
  vkr::fuzz::WriteFile(setup.second, vkr::Utf16ToUtf8(schemaText));
  vkr::ComPtr<IXMLDOMSchemaCollection> again = FrameSetWith(setup.frame.Get());
  Check(AddFile(again.Get(), ns, setup.second) == S_OK);
  Check(SchemaText(again.Get(), ns) == schemaText);
  const Validation second = Validate(again.Get(), text);
  Check(second.loaded == first.loaded && second.xml == first.xml);
  return 0;
}
