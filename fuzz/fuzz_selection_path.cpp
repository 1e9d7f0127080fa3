// Fuzzes the selection path evaluator behind selectNodes and selectSingleNode with arbitrary paths
// on the documents the system's readers see (or on a document from the input). No path may crash
// or hang; a path is refused by both calls or by neither; the single node is the list's first;
// the list reads the same by index and by nextNode; and the document written out and parsed again
// gives the same selection.
//
// Input: one byte (bits 0-5 choose a document of tests/data/xml/docs, bit 6 says a context path
// follows), the path up to a line feed, the context path up to a line feed when bit 6 is set, and
// then, when anything is left, a document of its own that replaces the chosen one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/fuzz_input.h"

namespace {

using vkr::fuzz::Check;

constexpr std::size_t kMaxPath = 256;
constexpr std::size_t kMaxDocument = 4096;

vkr::ComPtr<IXMLDOMDocument2> Parse(const std::u16string& text) {
  auto document = vkr::fuzz::NewDocument(nullptr);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (document->loadXML(vkr::Bstr(text), &loaded) != S_OK || !loaded) return nullptr;
  return document;
}

// The documents of the test data, by file name.
const std::vector<std::u16string>& Documents() {
  static const std::vector<std::u16string> texts = [] {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator((vkr::test::SourceTree() / "tests/data/xml/docs")))
      if (e.path().extension() == ".xml") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<std::u16string> out;
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      out.push_back(vkr::Utf8ToUtf16(s.str()));
    }
    Check(!out.empty());
    return out;
  }();
  return texts;
}

struct Selection {
  bool refused = false;
  std::vector<std::u16string> nodes;  // each node's xml, in list order
};

Selection Select(IXMLDOMNode* context, const vkr::Bstr& path) {
  Selection out;
  vkr::ComPtr<IXMLDOMNodeList> list;
  const HRESULT hr = context->selectNodes(path, list.Put());
  vkr::ComPtr<IXMLDOMNode> single;
  const HRESULT one = context->selectSingleNode(path, single.Put());
  if (FAILED(hr)) {
    Check(!list && FAILED(one) && !single);
    out.refused = true;
    return out;
  }
  Check(hr == S_OK && list);
  LONG length = -1;
  Check(SUCCEEDED(list->get_length(&length)) && length >= 0);
  for (LONG i = 0; i < length; ++i) {
    vkr::ComPtr<IXMLDOMNode> item;
    Check(list->get_item(i, item.Put()) == S_OK && item);
    out.nodes.push_back(vkr::fuzz::XmlOf(item.Get()));
  }
  vkr::ComPtr<IXMLDOMNode> beyond;
  Check(SUCCEEDED(list->get_item(length, beyond.Put())) && !beyond);
  // nextNode walks the same nodes, then gives none.
  LONG walked = 0;
  for (;;) {
    vkr::ComPtr<IXMLDOMNode> next;
    Check(SUCCEEDED(list->nextNode(next.Put())));
    if (!next) break;
    Check(walked < length && vkr::fuzz::XmlOf(next.Get()) == out.nodes[static_cast<std::size_t>(walked)]);
    ++walked;
  }
  Check(walked == length);
  if (length == 0) {
    Check(one == S_FALSE && !single);
  } else {
    Check(one == S_OK && single && vkr::fuzz::XmlOf(single.Get()) == out.nodes.front());
  }
  return out;
}

// The context: the document, or the first node the context path selects (none: no context).
vkr::ComPtr<IXMLDOMNode> Context(IXMLDOMDocument2* document, bool hasContext, const vkr::Bstr& contextPath) {
  vkr::ComPtr<IXMLDOMNode> node;
  if (!hasContext) {
    document->QueryInterface(IID_IXMLDOMNode, node.PutVoid());
    Check(static_cast<bool>(node));
    return node;
  }
  if (document->selectSingleNode(contextPath, node.Put()) != S_OK) return nullptr;
  return node;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool initialised = SUCCEEDED(CoInitialize(nullptr));
  Check(initialised);
  vkr::fuzz::Input in(data, size);
  const std::uint8_t choice = in.Byte();
  const std::string_view pathText = in.Until('\n');
  const bool hasContext = (choice & 0x40) != 0;
  const std::string_view contextText = hasContext ? in.Until('\n') : std::string_view();
  const std::string_view own = in.Rest();
  if (pathText.size() > kMaxPath || contextText.size() > kMaxPath || own.size() > kMaxDocument) return 0;

  const std::u16string source =
      own.empty() ? Documents()[(choice & 0x3F) % Documents().size()] : vkr::Utf8ToUtf16(own);
  vkr::ComPtr<IXMLDOMDocument2> document = Parse(source);
  if (!document) return 0;
  const vkr::Bstr path = vkr::fuzz::Text(pathText);
  const vkr::Bstr contextPath = vkr::fuzz::Text(contextText);
  vkr::ComPtr<IXMLDOMNode> context = Context(document.Get(), hasContext, contextPath);
  if (!context) return 0;
  const Selection first = Select(context.Get(), path);

  // The same selection once more, and on the document written out and parsed again.
  const Selection again = Select(context.Get(), path);
  Check(again.refused == first.refused && again.nodes == first.nodes);
  vkr::ComPtr<IXMLDOMDocument2> reparsed = Parse(vkr::fuzz::XmlOf(document.Get()));
  Check(static_cast<bool>(reparsed));
  Check(vkr::fuzz::XmlOf(reparsed.Get()) == vkr::fuzz::XmlOf(document.Get()));
  vkr::ComPtr<IXMLDOMNode> reparsedContext = Context(reparsed.Get(), hasContext, contextPath);
  Check(static_cast<bool>(reparsedContext));
  const Selection written = Select(reparsedContext.Get(), path);
  Check(written.refused == first.refused && written.nodes == first.nodes);
  return 0;
}
