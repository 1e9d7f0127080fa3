// CovFDT_DtmTranslationImpl: the translation part of the DTM object (a base of the DTM class T):
// the translation document and look-ups (IovFdtTranslation, from IovFdtTranslationImpl), the
// DTM's control of them (IovFdtDtmTranslation), the re-translate event that copies translated
// parameter and enumeration texts into the parameter model (IovFdtTranslationEvent) and the
// about file (IovFDT_AboutInformations).
//
// The translation file is loaded once, at the end of the DTM's final construction. Without it
// (missing or malformed: one "Invalid translation file" report to the DTM's error sink) every
// look-up answers "not found" and the DTM keeps its built-in English texts. A change of language
// selects the language's code for all later look-ups and re-translates the parameters; texts the
// file lacks keep what they were.
//
// T supplies, besides what IovFdtTranslationImpl needs: GetControllingUnknown(),
// GetCurLanguageId(LCID*), GetDefaultLanguageId(LCID*), and answers IovFdtParameterInfo and
// IovFdtParameterHandler4 for the parameters it translates.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "parameters/EnumList.h"
#include "parameters/ParInfo.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"
#include "xml/Conversions.h"
#include "xml/IovFdtTranslationImpl.h"
#include "xml/Translation.h"
#include "include/TranslationInterfaces.h"
#include "xml/XmlHelpers.h"

template <class T>
class CovFDT_DtmTranslationImpl : public IovFdtTranslationImpl<T>,
                                  public IovFdtDtmTranslation,
                                  public IovFdtTranslationEvent,
                                  public IovFDT_AboutInformations {
 public:
  // The parameters whose file path (the value field) names the device description files.
  static constexpr ULONG kGsdFileParameter = 102;
  static constexpr ULONG kEdsFileParameter = 213;
  // The enumeration whose entries without a label keep an empty label.
  static constexpr ULONG kEnumerationWithEmptyLabels = 991;

  CovFDT_DtmTranslationImpl() = default;
  CovFDT_DtmTranslationImpl(const CovFDT_DtmTranslationImpl&) = delete;
  CovFDT_DtmTranslationImpl& operator=(const CovFDT_DtmTranslationImpl&) = delete;
  ~CovFDT_DtmTranslationImpl() override = default;

  // For the object's QueryInterface: the four translation interfaces, with a reference.
  HRESULT QueryTranslationInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = nullptr;
    if (riid == IovFdtTranslation::iid)
      found = static_cast<IovFdtTranslation*>(this);
    else if (riid == IovFdtDtmTranslation::iid)
      found = static_cast<IovFdtDtmTranslation*>(this);
    else if (riid == IovFdtTranslationEvent::iid)
      found = static_cast<IovFdtTranslationEvent*>(this);
    else if (riid == IovFDT_AboutInformations::iid)
      found = static_cast<IovFDT_AboutInformations*>(this);
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
  }

  // ---- IovFdtDtmTranslation ----

  // Loads the translation file from GetTranslationPath's directory. Loaded: the language is the
  // DTM's default language again, the parameters are re-translated, *loaded VARIANT_TRUE, S_OK.
  // A file that is missing, is no file, is empty or does not parse: "Invalid translation
  // file:\r\n" and what is wrong with it (the file's path and why, or the parse error and the path)
  // to the error sink, E_FAIL, and the earlier document (if any) stays. E_POINTER for null.
  HRESULT LoadTranslationFile(VARIANT_BOOL* loaded) override {
    if (!loaded) return E_POINTER;
    *loaded = VARIANT_FALSE;
    vkr::Bstr directory;
    HRESULT hr = GetTranslationPath(directory.Put());
    if (FAILED(hr)) return hr;
    const vkr::Bstr file(directory.Str() + kTranslationFileName);
    // What a parser would say of a file that is not there, is a directory or is empty does not
    // tell the user what to fix.
    std::string problem;
    if (!vkr::CheckDocumentFile(file.View(), &problem)) {
      static_cast<T*>(this)->OnError("Invalid translation file:\r\n%s", problem.c_str());
      return E_FAIL;
    }
    // The stored document is the root element parsed again, through the DTM's own interface.
    vkr::Bstr xml;
    std::u16string known;
    if (vkr::FindReadTranslationFile(file.Str(), &known)) {
      xml = vkr::Bstr(known);
    } else {
      vkr::ComPtr<IXMLDOMDocument2> document;
      hr = this->CreateTranslationDocument(document.Put());
      if (FAILED(hr)) return hr;
      VARIANT source;
      VariantInit(&source);
      source.vt = VT_BSTR;
      source.bstrVal = file.Get();
      VARIANT_BOOL parsed = VARIANT_FALSE;
      hr = document->load(source, &parsed);
      if (FAILED(hr) || parsed == VARIANT_FALSE) {
        this->ReportInvalidFile(document.Get(), vkr::TidyPath(file.View()));
        return E_FAIL;
      }
      vkr::ComPtr<IXMLDOMElement> root;
      hr = document->get_documentElement(root.Put());
      if (SUCCEEDED(hr) && root) hr = root->get_xml(xml.Put());
      if (FAILED(hr)) return hr;
      if (!root) return E_FAIL;
      vkr::KeepReadTranslationFile(file.Str(), xml.View());
    }
    vkr::ComPtr<IovFdtTranslation> translation = QueryOwner<IovFdtTranslation>();
    if (!translation) return E_NOINTERFACE;
    VARIANT_BOOL taken = VARIANT_FALSE;
    hr = translation->LoadTranslationXml(xml, &taken);
    if (FAILED(hr)) return hr;
    if (!taken) return E_FAIL;
    LCID language = kFallbackLanguage;
    static_cast<T*>(this)->GetDefaultLanguageId(&language);
    VARIANT_BOOL selected = VARIANT_FALSE;
    this->SetLanguage(language, &selected);  // a file without that language keeps the code it had
    OnTranslate(language);
    *loaded = VARIANT_TRUE;
    return S_OK;
  }

  HRESULT GetTranslationEnabled(VARIANT_BOOL* enabled) override {
    if (!enabled) return E_POINTER;
    *enabled = VARIANT_TRUE;
    return S_OK;
  }

  // Selects the language for the look-ups when it differs from the DTM's current language: a
  // failure of the selection is returned, a language the file does not list gives S_FALSE. The
  // same language, or a selected one: *done VARIANT_TRUE, S_OK. The DTM's own language is the
  // caller's to store. E_POINTER for null.
  HRESULT SetDtmLanguage(ULONG lcid, VARIANT_BOOL* done) override {
    if (!done) return E_POINTER;
    *done = VARIANT_FALSE;
    LCID current = 0;
    static_cast<T*>(this)->GetCurLanguageId(&current);
    if (lcid != current) {
      VARIANT_BOOL selected = VARIANT_FALSE;
      const HRESULT hr = this->SetLanguage(lcid, &selected);
      if (FAILED(hr)) return hr;
      if (!selected) return S_FALSE;
    }
    *done = VARIANT_TRUE;
    return S_OK;
  }

  // ---- IovFdtTranslationEvent ----

  // Copies the parameter texts, then the enumeration texts, of the current language into the
  // parameter model (the enumerations' descriptions win over their parameters'). The argument is
  // not used; always S_OK.
  HRESULT OnTranslate(ULONG) override {
    TranslateParameters();
    TranslateEnumerations();
    return S_OK;
  }

  // ---- IovFDT_AboutInformations ----

  // The absolute path of the about file: the translated "localization/StringList/AboutFile" or
  // "AboutFile.htm", a relative name taken in the translation directory; a file that is not there
  // is looked for beside the module. Null when no path can be made; S_OK. E_POINTER for null.
  HRESULT GetAboutFile(BSTR* path) override {
    if (!path) return E_POINTER;
    *path = nullptr;
    std::u16string name = u"AboutFile.htm";
    if (vkr::ComPtr<IovFdtTranslation> translation = QueryOwner<IovFdtTranslation>()) {
      vkr::Bstr text;
      VARIANT_BOOL found = VARIANT_FALSE;
      translation->GetTranslation(vkr::Bstr(u"localization/StringList/AboutFile"), text.Put(), &found);
      if (found && !text.Empty()) name = text.Str();
    }
    // An absolute path or a URL from the file is not put into the translation directory.
    vkr::Bstr directory;
    if (IsRelativePath(name.c_str()) && SUCCEEDED(GetTranslationPath(directory.Put())) && !directory.Empty())
      name = directory.Str() + name;
    *path = ResolveFilePath(name.c_str(), true);
    return S_OK;
  }

  // ---- The parameter texts ----

  // For every localization/DTM/ParameterList/Parameter whose parId names a parameter of the DTM:
  // its translated Name (field 4) and Description (field 0x8000); for parameters 102 and 213 the
  // translated GsdFiles / EdsFiles name as an absolute path in the translation directory (field
  // 0x80). Missing texts change nothing. No document or no list: E_POINTER; without the DTM's
  // parameter interfaces nothing is written (S_FALSE); a failing write ends it with its error.
  HRESULT TranslateParameters() {
    static constexpr char16_t kList[] = u"localization/DTM/ParameterList/Parameter";
    if (!this->m_spTranslationDoc) return E_POINTER;
    // A shared document's texts are looked up once for all its DTMs in the language.
    if (this->m_bSharedDocument) {
      const std::u16string key = std::u16string(this->m_bstrLanguageCodeAttribute.View()) + u'\n' +
                                 std::u16string(this->m_bstrLanguageCode.View());
      vkr::SharedParameterTexts texts = vkr::FindSharedParameterTexts(this->m_spTranslationDoc.Get(), key);
      if (!texts) {
        bool complete = true;
        HRESULT hr = ReadParameterTexts(kList, &texts, &complete);
        if (FAILED(hr)) return hr;
        if (complete) vkr::KeepSharedParameterTexts(this->m_spTranslationDoc.Get(), key, texts);
      }
      return WriteParameterTexts(*texts);
    }
    vkr::ComPtr<IXMLDOMNodeList> nodes;
    HRESULT hr = SelectAll(kList, nodes.Put());
    if (FAILED(hr)) return hr;
    vkr::ComPtr<IovFdtParameterInfo> info = QueryOwner<IovFdtParameterInfo>();
    vkr::ComPtr<IovFdtParameterHandler4> handler = QueryOwner<IovFdtParameterHandler4>();
    if (!info || !handler) return S_FALSE;
    LONG count = 0;
    nodes->get_length(&count);
    std::set<ULONG> visited;
    for (LONG i = 0; i < count; ++i) {
      vkr::ComPtr<IXMLDOMNode> node;
      if (FAILED(nodes->get_item(i, node.Put())) || !node) continue;
      ULONG id = 0;
      if (FAILED(GetXmlValueUI4(&id, node.Get(), vkr::Bstr(u"@parId")))) continue;
      // The look-ups find the first element of an id, so a repeated one would only redo them.
      if (!handler->HasParameter(id) || !visited.insert(id).second) continue;
      const std::u16string element = std::u16string(kList) + u"[@parId=\"" + vkr::DecimalText(id) + u"\"]";
      hr = WriteTranslated(info.Get(), id, element + u"/Name", PIF_NAME);
      if (SUCCEEDED(hr)) hr = WriteTranslated(info.Get(), id, element + u"/Description", PIF_DESCRIPTION);
      if (FAILED(hr)) return hr;
      if (id == kGsdFileParameter || id == kEdsFileParameter) {
        hr = WriteFilePath(info.Get(), id,
                           id == kGsdFileParameter ? u"localization/StringList/GsdFiles"
                                                   : u"localization/StringList/EdsFiles");
        if (FAILED(hr)) return hr;
      }
    }
    return S_OK;
  }

  // For every localization/DTM/EnumerationList/Enumeration whose id names an enumerated parameter
  // (kind 1 or 2): the entries keep their values and order and take their translated labels (an
  // empty label without translation becomes "EnumValue = <value>", except in enumeration 991),
  // the translated Label becomes the name when it is not empty, and the description becomes the
  // enumeration text <Enumeration id><Description id>...<EnumerationEntries>... with the
  // descriptions found, escaped as XML. Without the parameter interfaces: S_FALSE. No document or
  // no list: E_POINTER. A failing read or write of a parameter ends it with that error.
  HRESULT TranslateEnumerations() {
    static constexpr char16_t kList[] = u"localization/DTM/EnumerationList/Enumeration";
    vkr::ComPtr<IovFdtParameterInfo> info = QueryOwner<IovFdtParameterInfo>();
    vkr::ComPtr<IovFdtParameterHandler4> handler = QueryOwner<IovFdtParameterHandler4>();
    if (!info || !handler) return S_FALSE;
    vkr::ComPtr<IXMLDOMNodeList> nodes;
    HRESULT hr = SelectAll(kList, nodes.Put());
    if (FAILED(hr)) return hr;
    LONG count = 0;
    nodes->get_length(&count);
    std::set<ULONG> visited;
    for (LONG i = 0; i < count; ++i) {
      vkr::ComPtr<IXMLDOMNode> node;
      if (FAILED(nodes->get_item(i, node.Put())) || !node) continue;
      ULONG id = 0;
      if (FAILED(GetXmlValueUI4(&id, node.Get(), vkr::Bstr(u"@id")))) continue;
      if (!handler->HasParameter(id) || !visited.insert(id).second) continue;
      hr = TranslateEnumeration(info.Get(), id, std::u16string(kList) + u"[@id=\"" + vkr::DecimalText(id) + u"\"]");
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

 protected:
  static constexpr LCID kFallbackLanguage = 1033;

  template <class Q>
  vkr::ComPtr<Q> QueryOwner() {
    vkr::ComPtr<Q> q;
    static_cast<T*>(this)->GetControllingUnknown()->QueryInterface(Q::iid, q.PutVoid());
    return q;
  }

 private:
  static VARIANT IdVariant(ULONG id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = id;
    return v;
  }
  static VARIANT MaskVariant(ULONG mask) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = static_cast<LONG>(mask);
    return v;
  }

  // The Name and Description texts of the first element of every id the list names, in the
  // current language. *complete is false when a look-up failed rather than found nothing (no
  // memory, say): such a list serves this DTM but is not kept for others.
  HRESULT ReadParameterTexts(const char16_t* list, vkr::SharedParameterTexts* out, bool* complete) {
    vkr::ComPtr<IXMLDOMNodeList> nodes;
    HRESULT hr = SelectAll(list, nodes.Put());
    if (FAILED(hr)) return hr;
    const vkr::Bstr parId(u"@parId");
    if (!parId.Get()) return E_OUTOFMEMORY;
    auto texts = std::make_shared<std::vector<vkr::SharedParameterText>>();
    LONG count = 0;
    nodes->get_length(&count);
    std::set<ULONG> visited;
    for (LONG i = 0; i < count; ++i) {
      vkr::ComPtr<IXMLDOMNode> node;
      if (FAILED(nodes->get_item(i, node.Put())) || !node) {
        *complete = false;
        continue;
      }
      ULONG id = 0;
      hr = GetXmlValueUI4(&id, node.Get(), parId);
      // An element whose parId is no number is left out for every DTM; one that could not be read
      // now only for this one.
      if (FAILED(hr) && !HasNoNumberIn(node.Get(), parId)) *complete = false;
      if (FAILED(hr) || !visited.insert(id).second) continue;
      const std::u16string element = std::u16string(list) + u"[@parId=\"" + vkr::DecimalText(id) + u"\"]";
      vkr::SharedParameterText entry;
      entry.id = id;
      if (!LookUp(element + u"/Name", &entry.name) || !LookUp(element + u"/Description", &entry.description))
        *complete = false;
      texts->push_back(std::move(entry));
    }
    *out = std::move(texts);
    return S_OK;
  }

  // Whether the element's attribute is missing or does not read as a number, as far as can be told:
  // false also when looking failed.
  static bool HasNoNumberIn(IXMLDOMNode* node, BSTR attribute) {
    vkr::ComPtr<IXMLDOMNode> found;
    const HRESULT hr = node->selectSingleNode(attribute, found.Put());
    if (FAILED(hr)) return false;
    if (!found) return true;
    vkr::Variant value, number;
    if (FAILED(found->get_nodeValue(value.Put()))) return false;
    const HRESULT converted = VariantChangeType(number.Put(), value.Ptr(), 0, VT_UI4);
    return FAILED(converted) && converted != E_OUTOFMEMORY;
  }

  // The translation of path into *text (absent when there is none); false when the look-up, or a
  // language it fell back from, failed rather than found nothing.
  bool LookUp(const std::u16string& path, std::optional<std::u16string>* text) {
    const vkr::Bstr xpath(path);
    if (!xpath.Get()) return false;
    vkr::Bstr found;
    VARIANT_BOOL exists = VARIANT_FALSE;
    this->m_bLookUpFault = false;
    const HRESULT hr = this->GetTranslation(xpath, found.Put(), &exists);
    if (exists) *text = std::u16string(found.View());
    return SUCCEEDED(hr) && !this->m_bLookUpFault;
  }

  // Writes the texts of the parameters this DTM has; the file paths of the GSD and EDS parameters
  // are made for this DTM. Without the DTM's parameter interfaces: S_FALSE.
  HRESULT WriteParameterTexts(const std::vector<vkr::SharedParameterText>& texts) {
    vkr::ComPtr<IovFdtParameterInfo> info = QueryOwner<IovFdtParameterInfo>();
    vkr::ComPtr<IovFdtParameterHandler4> handler = QueryOwner<IovFdtParameterHandler4>();
    if (!info || !handler) return S_FALSE;
    for (const vkr::SharedParameterText& entry : texts) {
      if (!handler->HasParameter(entry.id)) continue;
      HRESULT hr = WriteKnownText(info.Get(), entry.id, PIF_NAME, entry.name);
      if (SUCCEEDED(hr)) hr = WriteKnownText(info.Get(), entry.id, PIF_DESCRIPTION, entry.description);
      if (FAILED(hr)) return hr;
      if (entry.id == kGsdFileParameter || entry.id == kEdsFileParameter) {
        hr = WriteFilePath(info.Get(), entry.id,
                           entry.id == kGsdFileParameter ? u"localization/StringList/GsdFiles"
                                                         : u"localization/StringList/EdsFiles");
        if (FAILED(hr)) return hr;
      }
    }
    return S_OK;
  }

  // A text of the shared list; none, or a copy that cannot be made, changes nothing (as a look-up
  // that finds nothing).
  HRESULT WriteKnownText(IovFdtParameterInfo* info, ULONG id, ULONG mask, const std::optional<std::u16string>& text) {
    if (!text) return S_OK;
    const vkr::Bstr copy(*text);
    if (!copy.Get()) return S_OK;
    return WriteText(info, id, mask, copy);
  }

  HRESULT SelectAll(const char16_t* path, IXMLDOMNodeList** nodes) {
    *nodes = nullptr;
    if (!this->m_spTranslationDoc) return E_POINTER;
    const HRESULT hr = this->m_spTranslationDoc->selectNodes(vkr::Bstr(path), nodes);
    if (FAILED(hr) || !*nodes) return E_POINTER;
    return S_OK;
  }

  // The translation of path; found false (text empty) when there is none.
  HRESULT Translated(const std::u16string& path, vkr::Bstr* text, bool* found) {
    *found = false;
    const vkr::Bstr xpath(path);
    if (!xpath.Get()) return E_OUTOFMEMORY;
    VARIANT_BOOL exists = VARIANT_FALSE;
    this->GetTranslation(xpath, text->Put(), &exists);
    *found = exists != VARIANT_FALSE;
    if (!*found) text->Reset();
    return S_OK;
  }

  HRESULT WriteText(IovFdtParameterInfo* info, ULONG id, ULONG mask, const vkr::Bstr& text) {
    // Borrowed, not copied: the field takes its own copy.
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = text.Get();
    return info->SetParameterField(IdVariant(id), MaskVariant(mask), value);
  }

  HRESULT WriteTranslated(IovFdtParameterInfo* info, ULONG id, const std::u16string& path, ULONG mask) {
    vkr::Bstr text;
    bool found = false;
    HRESULT hr = Translated(path, &text, &found);
    if (FAILED(hr) || !found) return hr;
    return WriteText(info, id, mask, text);
  }

  HRESULT WriteFilePath(IovFdtParameterInfo* info, ULONG id, const char16_t* path) {
    vkr::Bstr name;
    bool found = false;
    HRESULT hr = Translated(path, &name, &found);
    if (FAILED(hr) || !found) return hr;
    vkr::Bstr directory;
    hr = GetTranslationPath(directory.Put());
    if (FAILED(hr)) return hr;
    // The directory ends with a separator already; a second one does no harm.
    const std::u16string joined = directory.Str() + u"\\" + name.Str();
    vkr::Bstr absolute;
    absolute.Attach(MakeAbsolutePath(joined.c_str()));
    if (!absolute.Get()) return E_OUTOFMEMORY;
    return WriteText(info, id, PIF_VALUE, absolute);
  }

  HRESULT TranslateEnumeration(IovFdtParameterInfo* info, ULONG id, const std::u16string& element) {
    vkr::Variant kind, number;
    HRESULT hr = info->GetParameterField(IdVariant(id), MaskVariant(PIF_KIND), kind.Put());
    if (SUCCEEDED(hr)) hr = VariantChangeType(number.Ptr(), kind.Ptr(), 0, VT_I4);
    if (FAILED(hr)) return hr;
    if (number.lVal != 1 && number.lVal != 2) return S_OK;
    vkr::Variant list;
    hr = info->GetParameterField(IdVariant(id), MaskVariant(PIF_ENUM_LIST), list.Put());
    if (FAILED(hr)) return hr;
    ULONG entries = 0;
    hr = GetEnumListCount(list, &entries);
    if (FAILED(hr)) return hr;

    vkr::Bstr description, label;
    bool found = false;
    Translated(element + u"/Description", &description, &found);
    Translated(element + u"/Label", &label, &found);
    const std::u16string number_text = vkr::DecimalText(id);
    std::u16string xml = u"<Enumeration id=\"" + number_text + u"\"><Description id=\"" + number_text + u"\">" +
                         Escaped(description) + u"</Description><EnumerationEntries>";
    vkr::SafeArrayHolder texts(SafeArrayCreateVector(VT_BSTR, 0, entries));
    if (!texts.Get()) return E_OUTOFMEMORY;
    for (ULONG e = 0; e < entries; ++e) {
      LONG value = 0;
      vkr::Bstr entryLabel;
      hr = GetEnumListEntry(list, e, &value, entryLabel.Put());
      if (FAILED(hr)) return hr;
      std::u16string text(entryLabel.View());
      if (text.empty() && id != kEnumerationWithEmptyLabels) text = u"EnumValue = " + vkr::DecimalText(value);
      const std::u16string entry = element + u"/EnumerationEntry[@id=\"" + vkr::DecimalText(value) + u"\"]";
      vkr::Bstr translated;
      Translated(entry + u"/Label", &translated, &found);
      if (found) text = translated.Str();
      Translated(entry + u"/Description", &translated, &found);
      if (found)
        xml += u"<Description id=\"" + vkr::DecimalText(value) + u"\">" + Escaped(translated) + u"</Description>";
      const vkr::Bstr entryText(vkr::DecimalText(value) + u";" + text);
      if (!entryText.Get()) return E_OUTOFMEMORY;
      LONG index = static_cast<LONG>(e);
      hr = SafeArrayPutElement(texts.Get(), &index, entryText.Get());
      if (FAILED(hr)) return hr;
    }
    xml += u"</EnumerationEntries></Enumeration>";

    vkr::Variant newList;
    newList.vt = VT_ARRAY | VT_BSTR;
    newList.parray = texts.Detach();
    hr = info->SetParameterField(IdVariant(id), MaskVariant(PIF_ENUM_LIST), newList);
    if (SUCCEEDED(hr) && !label.Empty()) hr = WriteText(info, id, PIF_NAME, label);
    if (SUCCEEDED(hr)) hr = WriteText(info, id, PIF_DESCRIPTION, vkr::Bstr(xml));
    return hr;
  }

  // The text as it may stand in element content: markup characters as references.
  static std::u16string Escaped(const vkr::Bstr& text) {
    vkr::Bstr escaped;
    if (FAILED(XmlEscapeText(text, escaped.Put()))) return std::u16string();
    return escaped.Str();
  }
};
