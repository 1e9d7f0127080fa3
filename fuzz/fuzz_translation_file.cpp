// Fuzzes the translation file: arbitrary bytes become "VornExampleDtmTranslation.xml" in the
// directory the registry names, one DTM loads it and then looks texts up, selects languages and
// re-translates its parameters. No input may crash, hang or leak. A file that loads must load
// again from its own document text with the same languages.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "dtm/CVornExampleDtm.h"
#include "platform/platform.h"
#include "xml/Translation.h"

namespace {

namespace fs = std::filesystem;

struct Setup {
  fs::path dir;
  vkr::ComPtr<vkr::ComObject<CVornExampleDtm>> dtm;

  Setup() {
    std::string pattern = (fs::temp_directory_path() / "vkr-fuzz-translation-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) abort();
    dir = pattern;
    ::setenv("VKR_DRIVE_ROOT", (dir / "drives").c_str(), 1);
    vkr::platform::UseRegistryFile((dir / "registry.reg").string());
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTranslationPathKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      abort();
    const std::string value = dir.string();
    RegSetValueExA(key, kTranslationPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    if (FAILED(CoInitialize(nullptr))) abort();
    if (FAILED(vkr::MakeObject<CVornExampleDtm>(&dtm))) abort();
    // Reports go to the frame from now on (there is none): nothing piles up between inputs.
    dtm->StopCollectInitError();
  }
};

void LookUp(IovFdtTranslation& translation, const char16_t* path) {
  vkr::Bstr text;
  VARIANT_BOOL found = VARIANT_FALSE;
  const HRESULT hr = translation.GetTranslation(vkr::Bstr(path), text.Put(), &found);
  if (found && (hr != S_OK || !text.Get())) abort();
  if (!found && text.Get()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 16 * 1024) return 0;
  static Setup setup;
  {
    std::ofstream out(setup.dir / "VornExampleDtmTranslation.xml", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  CVornExampleDtm& dtm = *setup.dtm;
  IovFdtTranslation& translation = dtm;
  IovFdtDtmTranslation& control = dtm;

  VARIANT_BOOL loaded = VARIANT_FALSE;
  const HRESULT hr = control.LoadTranslationFile(&loaded);
  if (SUCCEEDED(hr) != (loaded != VARIANT_FALSE)) abort();

  LONG count = 0;
  translation.GetLanguageCount(&count);
  for (LONG i = 0; i < count && i < 3; ++i) {
    ULONG lcid = 0;
    if (translation.GetLanguageId(i, &lcid) != S_OK) continue;
    VARIANT_BOOL done = VARIANT_FALSE;
    control.SetDtmLanguage(lcid, &done);
    dtm.OnTranslate(lcid);
  }
  for (ULONG lcid : {1031u, 7u, 1033u}) {
    VARIANT_BOOL done = VARIANT_FALSE;
    translation.SetLanguage(lcid, &done);
  }
  LookUp(translation, u"localization/ToolkitMessages/Message[@id=\"2004\"]");
  LookUp(translation, u"localization/StringList/AboutFile");
  LookUp(translation, u"localization/DTM/ParameterList/Parameter[@parId=\"121\"]/Name");
  vkr::Bstr text;
  GetEnumerationEntryText(static_cast<IovFdtTranslation*>(&dtm), 991, 0, text.Put());
  GetToolkitMessageText(static_cast<IovFdtTranslation*>(&dtm), 4002, text.Put());
  if (!text.Get()) abort();
  dtm.GetAboutFile(text.Put());
  dtm.TranslateBaseDtmMessage(2004, text.Put());

  if (loaded) {
    // The document as text loads again, with the same languages.
    vkr::Bstr path(u"localization");
    VARIANT_BOOL exists = VARIANT_FALSE;
    LONG again = -1;
    if (translation.HasTranslationNode(path, &exists) == S_OK) {
      VARIANT_BOOL reloaded = VARIANT_FALSE;
      vkr::Bstr document;
      // Serialise through the DOM: a fresh parse of the file's own bytes gives the text.
      vkr::ComPtr<IXMLDOMDocument2> doc;
      CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2, doc.PutVoid());
      VARIANT source;
      VariantInit(&source);
      const std::u16string file = vkr::Utf8ToUtf16((setup.dir / "VornExampleDtmTranslation.xml").string());
      vkr::Bstr fileName(file);
      source.vt = VT_BSTR;
      source.bstrVal = fileName.Get();
      VARIANT_BOOL parsed = VARIANT_FALSE;
      if (doc->load(source, &parsed) != S_OK || !parsed) abort();
      vkr::ComPtr<IXMLDOMElement> root;
      if (FAILED(doc->get_documentElement(root.Put())) || !root || FAILED(root->get_xml(document.Put()))) abort();
      if (translation.LoadTranslationXml(document, &reloaded) != S_OK || !reloaded) abort();
      translation.GetLanguageCount(&again);
      if (again != count) abort();
    }
  }
  return 0;
}
