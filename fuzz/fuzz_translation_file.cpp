// Fuzzes the translation file. One DTM is made once; each input is parsed as its translation
// document and then read the ways the DTM reads it: languages and their selection, text look-ups
// with their fallbacks, enumeration entries, toolkit and base-DTM messages, the about file, and a
// translation pass over the parameters and enumerations the document names. Small inputs may go the
// whole way instead: written as "VornExampleDtmTranslation.xml" in the directory the registry
// names and loaded from there. No input may crash, hang or leak; a document that loads loads again
// from its own text with the same languages and the same texts.
//
// The work per input follows the input: the pass runs only for documents that name few parameters
// and enumerations, or are small (each costs a few look-ups over the whole document), so that large
// documents are still parsed and read but never cost a pass over every parameter.
//
// Input: one byte (bit 0 set: load from the file, when the rest is at most 2 KiB), then the file's
// bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "module/CVornExampleDtm.h"
#include "platform/platform.h"
#include "tests/support/fuzz_input.h"
#include "xml/Translation.h"

namespace {

using vkr::fuzz::Check;

constexpr std::size_t kMaxFile = 16 * 1024;
// Parameters and enumerations a document may name and still get a translation pass, and the
// largest file that goes the whole way (its load always runs the pass).
constexpr LONG kMaxTranslated = 16;
constexpr std::size_t kMaxFileWay = 2048;
constexpr LONG kMaxLanguages = 2;

// The DTM, with its translation document in reach.
class FuzzDtm : public CVornExampleDtm {
 public:
  IXMLDOMDocument2* TranslationDocument() const { return m_spTranslationDoc.Get(); }
};

// A document whose only language is English: loading it and selecting 1033 puts every input's
// reading on the same footing.
constexpr char16_t kNeutral[] =
    u"<localization><general><languages><language lcid=\"1033\" code=\"en-us\"/></languages></general>"
    u"</localization>";

struct Setup {
  std::filesystem::path file;
  vkr::ComPtr<vkr::ComObject<FuzzDtm>> dtm;

  Setup() {
    const std::filesystem::path& dir = vkr::fuzz::Scratch::Directory();
    file = dir / "VornExampleDtmTranslation.xml";
    HKEY key = nullptr;
    Check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTranslationPathKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) == ERROR_SUCCESS);
    const std::string value = dir.string();
    RegSetValueExA(key, kTranslationPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    Check(SUCCEEDED(CoInitialize(nullptr)));
    Check(SUCCEEDED(vkr::MakeObject<FuzzDtm>(&dtm)));
    // Reports go to the frame from now on (there is none): nothing piles up between inputs.
    dtm->StopCollectInitError();
  }
};

// A look-up's outcome: "-" when nothing was found, else "+" and the text.
std::u16string LookUp(IovFdtTranslation& translation, const std::u16string& path) {
  vkr::Bstr text;
  VARIANT_BOOL found = VARIANT_FALSE;
  const HRESULT hr = translation.GetTranslation(vkr::Bstr(path), text.Put(), &found);
  Check(!found || (hr == S_OK && text.Get()));
  Check(found || !text.Get());
  return found ? u"+" + text.Str() : u"-";
}

// The number of nodes the path selects in the translation document (0 when it selects none).
LONG Count(IXMLDOMDocument2* document, const char16_t* path) {
  vkr::ComPtr<IXMLDOMNodeList> nodes;
  LONG length = 0;
  if (document->selectNodes(vkr::Bstr(path), nodes.Put()) == S_OK && nodes) nodes->get_length(&length);
  return length;
}

// The value of the path's first node as text (empty when there is none).
std::u16string FirstValue(IXMLDOMDocument2* document, const char16_t* path) {
  vkr::ComPtr<IXMLDOMNode> node;
  vkr::Bstr text;
  if (document->selectSingleNode(vkr::Bstr(path), node.Put()) == S_OK && node) node->get_text(text.Put());
  return text.Str();
}

// Everything the readers make of the loaded document, as text: its languages, with each selected
// in turn the texts the DTM looks up, and the texts of the first parameter and enumeration entry
// the document names.
std::u16string Read(FuzzDtm& dtm, IXMLDOMDocument2* document) {
  IovFdtTranslation& translation = dtm;
  std::u16string out;
  LONG count = 0;
  translation.GetLanguageCount(&count);
  out += u"languages " + vkr::Utf8ToUtf16(std::to_string(count)) + u";";
  std::vector<ULONG> languages;
  for (LONG i = 0; i < count && i < kMaxLanguages; ++i) {
    ULONG lcid = 0;
    if (translation.GetLanguageId(i, &lcid) == S_OK) languages.push_back(lcid);
  }
  languages.push_back(1031);  // German, or its primary language, or the fallbacks

  const std::u16string parameter = FirstValue(document, u"localization/DTM/ParameterList/Parameter/@parId");
  const std::u16string enumeration = FirstValue(document, u"localization/DTM/EnumerationList/Enumeration/@id");
  const std::u16string entry = FirstValue(document, u"localization/DTM/EnumerationList/Enumeration/EnumerationEntry/@id");
  std::u16string parameterPath, enumerationPath;
  if (vkr::XPathStringLiteral(parameter, &parameterPath))
    parameterPath = u"localization/DTM/ParameterList/Parameter[@parId=" + parameterPath + u"]/Name";
  if (vkr::XPathStringLiteral(enumeration, &enumerationPath))
    enumerationPath = u"localization/DTM/EnumerationList/Enumeration[@id=" + enumerationPath + u"]/Label";

  for (ULONG lcid : languages) {
    VARIANT_BOOL done = VARIANT_FALSE;
    translation.SetLanguage(lcid, &done);
    out += u"lcid " + vkr::Utf8ToUtf16(std::to_string(lcid)) + (done ? u" selected;" : u";");
    out += LookUp(translation, u"localization/ToolkitMessages/Message[@id=\"2004\"]") + u";";
    out += LookUp(translation, u"localization/StringList/AboutFile") + u";";
    if (!parameterPath.empty()) out += LookUp(translation, parameterPath) + u";";
    if (!enumerationPath.empty()) out += LookUp(translation, enumerationPath) + u";";
  }
  // The readers of single texts, in the last language selected.
  ULONG id = 0;
  LONG value = 0;
  vkr::Bstr text;
  if (SUCCEEDED(VarUI4FromStr(vkr::Bstr(enumeration), 1033, 0, &id)) &&
      SUCCEEDED(VarI4FromStr(vkr::Bstr(entry), 1033, 0, &value)) &&
      GetEnumerationEntryText(static_cast<IovFdtTranslation*>(&dtm), id, value, text.Put()) == S_OK)
    out += u"entry " + text.Str() + u";";
  Check(SUCCEEDED(GetToolkitMessageText(static_cast<IovFdtTranslation*>(&dtm), 4002, text.Put())) && text.Get());
  out += text.Str() + u";";
  dtm.TranslateBaseDtmMessage(2004, text.Put());
  out += text.Str() + u";";
  return out;
}

void Neutral(IovFdtTranslation& translation) {
  VARIANT_BOOL done = VARIANT_FALSE;
  Check(translation.LoadTranslationXml(vkr::Bstr(kNeutral), &done) == S_OK && done);
  Check(translation.SetLanguage(1033, &done) == S_OK && done);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > kMaxFile + 1) return 0;
  static Setup setup;
  FuzzDtm& dtm = *setup.dtm;
  IovFdtTranslation& translation = dtm;
  IovFdtDtmTranslation& control = dtm;
  vkr::fuzz::Input in(data, size);
  const bool fromFile = (in.Byte() & 1) != 0;
  const std::string_view bytes = in.Rest();

  Neutral(translation);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = S_OK;
  if (fromFile && bytes.size() <= kMaxFileWay) {
    // The whole way: the file from the registry's directory (read as bytes, with its own
    // encoding), then the pass over the parameters.
    vkr::fuzz::WriteFile(setup.file, bytes);
    hr = control.LoadTranslationFile(&loaded);
  } else {
    hr = translation.LoadTranslationXml(vkr::fuzz::Text(bytes), &loaded);
    if (loaded && Count(dtm.TranslationDocument(), u"localization/DTM/ParameterList/Parameter") +
                          Count(dtm.TranslationDocument(), u"localization/DTM/EnumerationList/Enumeration") <=
                      kMaxTranslated)
      dtm.OnTranslate(1033);
  }
  Check(SUCCEEDED(hr) == (loaded != VARIANT_FALSE));
  if (!loaded) return 0;

  // The document as the DTM keeps it, written out, loads again and reads the same.
  vkr::ComPtr<IXMLDOMElement> root;
  vkr::Bstr xml;
  Check(SUCCEEDED(dtm.TranslationDocument()->get_documentElement(root.Put())) && root &&
        SUCCEEDED(root->get_xml(xml.Put())));
  const std::u16string first = Read(dtm, dtm.TranslationDocument());
  vkr::Bstr about;
  dtm.GetAboutFile(about.Put());
  Neutral(translation);
  VARIANT_BOOL reloaded = VARIANT_FALSE;
  Check(translation.LoadTranslationXml(xml, &reloaded) == S_OK && reloaded);
  if (fromFile) translation.SetLanguage(1033, &reloaded);  // as the file's load does
  Check(Read(dtm, dtm.TranslationDocument()) == first);
  // The input's document goes with the input.
  Neutral(translation);
  return 0;
}
