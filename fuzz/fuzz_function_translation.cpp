// Fuzzes the merge of a function's own translation file: arbitrary bytes become the file that the
// DTM merges (with the function id in place of "%d") into its translation document, which each
// input starts from afresh. No input may crash, hang or leak. A merge that fails leaves the
// document as it was; one that succeeds leaves it exactly as the document with the file's first
// Function appended to its FunctionList and its first ActiveX to its ActiveXList, and the function's
// texts are then found through the function container.
//
// Input: one byte choosing the function id, then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "module/CVornExampleDtm.h"
#include "platform/platform.h"
#include "tests/support/fuzz_input.h"
#include "xml/Translation.h"

namespace {

using vkr::fuzz::Check;

constexpr std::size_t kMaxFile = 16 * 1024;
constexpr LONG kFunctionIds[] = {9, 17, 0, -1, 2147483647, -2147483647 - 1, 1000, 3};

class FuzzDtm : public CVornExampleDtm {
 public:
  IXMLDOMDocument2* TranslationDocument() const { return m_spTranslationDoc.Get(); }
  HRESULT UseSchemas(BSTR directory) { return InitializeDtmSchemaCache(directory); }
};

struct Setup {
  std::string file = (vkr::fuzz::Scratch::Directory() / "FunctionTranslation.xml").string();
  std::u16string base;  // the translation document every input starts from
  vkr::ComPtr<IXMLDOMSchemaCollection> schemas;
  vkr::ComPtr<vkr::ComObject<FuzzDtm>> dtm;

  Setup() {
    vkr::Bstr text;
    Check(ReadTextFile((vkr::test::SourceTree() / "tests/data/xml/docs/translation_function.xml").string().c_str(),
                       text.Put()) == S_OK);
    base = text.Str();
    Check(SUCCEEDED(CoInitialize(nullptr)));
    schemas = vkr::fuzz::MakeFrameSchemaCache();
    Check(SUCCEEDED(vkr::MakeObject<FuzzDtm>(&dtm)));
    dtm->StopCollectInitError();
    Check(dtm->UseSchemas(vkr::Bstr(vkr::Utf8ToUtf16(vkr::test::FrameSchemas().string()))) == S_OK);
  }
};

vkr::ComPtr<IXMLDOMDocument2> Parse(IXMLDOMSchemaCollection* schemas, BSTR text) {
  auto document = vkr::fuzz::NewDocument(schemas);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (document->loadXML(text, &loaded) != S_OK || !loaded) return nullptr;
  return document;
}

// Appends the first node `what` selects in source below the first node `where` selects in target.
void Append(IXMLDOMDocument2* source, IXMLDOMDocument2* target, const char16_t* what, const char16_t* where) {
  vkr::ComPtr<IXMLDOMNode> node, parent, appended;
  if (source->selectSingleNode(vkr::Bstr(what), node.Put()) != S_OK) return;
  if (target->selectSingleNode(vkr::Bstr(where), parent.Put()) != S_OK) return;
  Check(parent->appendChild(node.Get(), appended.Put()) == S_OK);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > kMaxFile + 1) return 0;
  static Setup setup;
  FuzzDtm& dtm = *setup.dtm;
  vkr::fuzz::Input in(data, size);
  const LONG id = kFunctionIds[in.Byte() % (sizeof kFunctionIds / sizeof kFunctionIds[0])];
  vkr::fuzz::WriteFile(setup.file, in.Rest());

  VARIANT_BOOL loaded = VARIANT_FALSE;
  Check(dtm.LoadTranslationXml(vkr::Bstr(setup.base), &loaded) == S_OK && loaded);
  const std::u16string before = vkr::fuzz::XmlOf(dtm.TranslationDocument());
  const HRESULT hr = dtm.MergeTranslationFile(id, setup.file.c_str());
  const std::u16string after = vkr::fuzz::XmlOf(dtm.TranslationDocument());
  if (FAILED(hr)) {
    Check(after == before);
    return 0;
  }
  Check(hr == S_OK);

  // What the merge should have made: the file read and loaded on our side, its nodes moved by hand.
  vkr::Bstr raw, text;
  Check(ReadTextFile(setup.file.c_str(), raw.Put()) == S_OK);
  Check(SubstituteFunctionId(raw, id, text.Put()) == S_OK);
  vkr::ComPtr<IXMLDOMDocument2> file = Parse(setup.schemas.Get(), text);
  vkr::ComPtr<IXMLDOMDocument2> expected = Parse(nullptr, vkr::Bstr(setup.base));
  Check(file && expected);
  Append(file.Get(), expected.Get(), u"//Function", u"//FunctionList");
  Append(file.Get(), expected.Get(), u"//ActiveX", u"//ActiveXList");
  Check(after == vkr::fuzz::XmlOf(expected.Get()));

  // The texts of the function as the function container finds them.
  for (const char16_t* field : {u"Name", u"Label", u"Help", u"IconName"}) {
    vkr::Bstr found;
    if (SUCCEEDED(dtm.GetFunctionText(nullptr, id, vkr::Bstr(field), found.Put()))) Check(found.Get() != nullptr);
  }
  return 0;
}
