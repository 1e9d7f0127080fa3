// Fuzzes loading arbitrary bytes into a DOM document with the frame's whole schema set attached:
// no input may crash, hang or leak. A document that loads must write out and load again to the
// same text, and survive a few selections.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "tests/support/fuzz_input.h"

using vkr::fuzz::MakeFrameSchemaCache;
using vkr::fuzz::NewDocument;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;
  static const bool initialised = SUCCEEDED(CoInitialize(nullptr));
  static vkr::ComPtr<IXMLDOMSchemaCollection> cache = MakeFrameSchemaCache();
  if (!initialised) abort();

  vkr::Bstr text(vkr::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size)));
  auto doc = NewDocument(cache.Get());
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = doc->loadXML(text, &ok);
  if (hr != (ok ? S_OK : S_FALSE)) abort();
  if (!ok) {
    vkr::ComPtr<IXMLDOMParseError> error;
    LONG code = 0;
    if (FAILED(doc->get_parseError(error.Put())) || FAILED(error->get_errorCode(&code)) || code >= 0) abort();
    return 0;
  }

  vkr::Bstr xml;
  doc->get_xml(xml.Put());
  auto again = NewDocument(cache.Get());
  if (again->loadXML(xml, &ok) != S_OK || !ok) abort();
  vkr::Bstr xml2;
  again->get_xml(xml2.Put());
  if (xml.View() != xml2.View()) abort();

  for (const char16_t* path : {u"//*", u"//@*", u"//*[last()]/text()", u"/*/*[1]/.."}) {
    vkr::ComPtr<IXMLDOMNodeList> list;
    if (doc->selectNodes(vkr::Bstr(path), list.Put()) != S_OK) abort();
  }
  return 0;
}
