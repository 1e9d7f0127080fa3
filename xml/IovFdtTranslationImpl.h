// IovFdtTranslationImpl: the translation document and the current language code of its owner T
// (the DTM object), with the text look-up and the language selection of IovFdtTranslation.
//
// The document is one parsed copy of the translation file. Its languages are the elements
// localization/general/languages/language (attributes lcid, decimal, and code, such as "de-de");
// a translatable text is the `locale` child, with the language's code, of the element a path
// names. A look-up tries the current code, its primary part ("de" for "de-de"), "en-us" and "en";
// a text missing in all of them is "not found", never an error the caller must act on.
//
// T supplies:
//   void OnError(const char* format, ...);   // the owner's error sink (printf rules, 8-bit)
//   HRESULT LoadXMLDocument(BSTR, IXMLDOMDocument2**, VARIANT_BOOL*);   // its XML handler
// and IUnknown/IDispatch (as the COM object it is part of). Used on the owner's apartment thread
// only; nothing is locked.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "xml/CovFDTXMLHandlerImpl.h"
#include "xml/Translation.h"
#include "include/TranslationInterfaces.h"
#include "xml/XmlHelpers.h"

template <class T>
class IovFdtTranslationImpl : public IovFdtTranslation {
 public:
  IovFdtTranslationImpl() = default;
  IovFdtTranslationImpl(const IovFdtTranslationImpl&) = delete;
  IovFdtTranslationImpl& operator=(const IovFdtTranslationImpl&) = delete;
  virtual ~IovFdtTranslationImpl() { ReleaseDocument(); }

  // ---- IovFdtTranslation ----

  // The text of xpath's `locale` child in the current language, with its fallbacks. E_INVALIDARG
  // for null out-pointers; *text is null unless found; the result is the last look-up's.
  HRESULT GetTranslation(BSTR xpath, BSTR* text, VARIANT_BOOL* found) override {
    if (!text || !found) return E_INVALIDARG;
    *text = nullptr;
    *found = VARIANT_FALSE;
    HRESULT hr = GetLocaleText(m_bstrLanguageCode, xpath, text, found);
    // Exactly "en-us": a code spelt otherwise ("EN-US") still gets the English retry.
    if (!*found && m_bstrLanguageCode.View() != kEnglishCode) {
      const vkr::Bstr english(kEnglishCode);
      hr = GetLocaleText(english, xpath, text, found);
    }
    return hr;
  }

  // The number of languages: the language elements whose lcid is a 32-bit unsigned number (an
  // element without one, or with one that is no such number, is left out; the load reported it).
  // E_POINTER for null; S_FALSE (count 0) without a document.
  HRESULT GetLanguageCount(LONG* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    if (!m_spTranslationDoc) return S_FALSE;
    std::vector<ULONG> ids;
    HRESULT hr = ReadLanguages(&ids, nullptr);
    if (FAILED(hr)) return hr;
    *count = static_cast<LONG>(ids.size());
    return S_OK;
  }

  // The lcid of the index-th language GetLanguageCount counts. E_POINTER for null; S_FALSE without
  // a document; E_FAIL for an index out of range; *lcid is set only on S_OK.
  HRESULT GetLanguageId(LONG index, ULONG* lcid) override {
    if (!lcid) return E_POINTER;
    if (!m_spTranslationDoc) return S_FALSE;
    std::vector<ULONG> ids;
    HRESULT hr = ReadLanguages(&ids, nullptr);
    if (FAILED(hr)) return hr;
    if (index < 0 || static_cast<std::size_t>(index) >= ids.size()) return E_FAIL;
    *lcid = ids[static_cast<std::size_t>(index)];
    return S_OK;
  }

  // Selects the language with this lcid, or else the one with its low byte (1031 falls back to
  // 7): its code becomes the current code and *done VARIANT_TRUE. No such language, or one without
  // a code: S_FALSE, the code stays. E_POINTER for null; E_FAIL without a document.
  HRESULT SetLanguage(ULONG lcid, VARIANT_BOOL* done) override {
    if (!done) return E_POINTER;
    *done = VARIANT_FALSE;
    if (!m_spTranslationDoc) return E_FAIL;
    vkr::ComPtr<IXMLDOMNode> language;
    HRESULT hr = FindLanguage(lcid, language.Put());
    if (FAILED(hr)) return hr;
    if (!language && (lcid & 0xFF) != lcid) {
      hr = FindLanguage(lcid & 0xFF, language.Put());
      if (FAILED(hr)) return hr;
    }
    if (!language) return S_FALSE;
    vkr::ComPtr<IXMLDOMNode> code;
    hr = language->selectSingleNode(m_bstrLanguageCodeAttribute, code.Put());
    if (FAILED(hr)) return hr;
    if (!code) return S_FALSE;
    vkr::Variant value, text;
    hr = code->get_nodeTypedValue(value.Put());
    if (SUCCEEDED(hr)) hr = VariantChangeType(text.Ptr(), value.Ptr(), 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    if (text.vt != VT_BSTR) return E_FAIL;
    // Only a language whose code was taken counts as selected.
    m_bstrLanguageCode = vkr::Bstr(vkr::View(text.bstrVal));
    *done = VARIANT_TRUE;
    return S_OK;
  }

  // Parses xml as the new translation document. Parsed: the old document is replaced and
  // *loaded is VARIANT_TRUE; language elements whose lcid is no language id are left out, and the
  // owner's sink hears of them once ("Invalid translation file:\r\n" and one line for each). Not
  // parsed: "Invalid translation file:\r\n" and the parse error go to the owner's sink, E_FAIL, the
  // old document stays. E_POINTER for null; the document's creation failure as it is.
  HRESULT LoadTranslationXml(BSTR xml, VARIANT_BOOL* loaded) override {
    if (!loaded) return E_POINTER;
    *loaded = VARIANT_FALSE;
    // The DTMs of a thread that load the same text share its document while they only read it.
    vkr::ComPtr<IXMLDOMDocument2> document = vkr::SharedTranslationDocument(vkr::View(xml));
    const bool shared = static_cast<bool>(document);
    if (!shared) {
      HRESULT hr = CreateTranslationDocument(document.Put());
      if (FAILED(hr)) return hr;
      VARIANT_BOOL parsed = VARIANT_FALSE;
      const vkr::Bstr empty(u"");
      hr = document->loadXML(xml ? xml : empty.Get(), &parsed);
      if (FAILED(hr) || parsed == VARIANT_FALSE) {
        ReportInvalidFile(document.Get());
        return E_FAIL;
      }
      vkr::KeepTranslationDocument(vkr::View(xml), document.Get());
    }
    ReleaseDocument();
    m_spTranslationDoc = document;
    m_bSharedDocument = true;
    *loaded = VARIANT_TRUE;
    std::vector<ULONG> ids;
    std::string unusable;
    if (SUCCEEDED(ReadLanguages(&ids, &unusable)) && !unusable.empty())
      static_cast<T*>(this)->OnError("Invalid translation file:\r\n%s", unusable.c_str());
    return S_OK;
  }

  // Whether xpath selects a node of the document. E_POINTER for null; E_FAIL without a document;
  // the selection's error as it is; S_FALSE when nothing is selected.
  HRESULT HasTranslationNode(BSTR xpath, VARIANT_BOOL* exists) override {
    if (!exists) return E_POINTER;
    *exists = VARIANT_FALSE;
    if (!m_spTranslationDoc) return E_FAIL;
    if (!xpath || !*xpath) return E_INVALIDARG;
    vkr::ComPtr<IXMLDOMNode> node;
    const HRESULT hr = m_spTranslationDoc->selectSingleNode(xpath, node.Put());
    if (FAILED(hr)) return hr;
    if (!node) return S_FALSE;
    *exists = VARIANT_TRUE;
    return S_OK;
  }

  // ---- Own operations ----

  // The nodes path selects in the translation document (selectNodes), in document order; a path
  // that selects nothing gives an empty list. E_POINTER for a null out-pointer; E_FAIL without a
  // document or when no list comes back; the selection's failure as it is. The nodes are this
  // owner's own: a document shared with other DTMs is copied for it first, so a change made
  // through them stays in this DTM's translation.
  HRESULT SelectTranslationNodes(BSTR path, IXMLDOMNodeList** nodes) {
    if (!nodes) return E_POINTER;
    *nodes = nullptr;
    if (!m_spTranslationDoc) return E_FAIL;
    HRESULT hr = OwnDocument();
    if (FAILED(hr)) return hr;
    hr = m_spTranslationDoc->selectNodes(path, nodes);
    if (FAILED(hr)) {
      if (*nodes) (*nodes)->Release();
      *nodes = nullptr;
      return hr;
    }
    return *nodes ? hr : E_FAIL;
  }

  // The text of xpath/locale[@code = code], then with code cut at its first '-' while it has one
  // and is at least 3 characters long. found = VARIANT_TRUE with S_OK (an empty `locale` counts);
  // nothing: S_FALSE, *text null. E_POINTER for null out-pointers, E_INVALIDARG for an empty path, E_FAIL
  // without a document.
  virtual HRESULT GetLocaleText(BSTR code, BSTR xpath, BSTR* text, VARIANT_BOOL* found) {
    if (!text || !found) return E_POINTER;
    *text = nullptr;
    *found = VARIANT_FALSE;
    if (!m_spTranslationDoc) return E_FAIL;
    if (!xpath || !*xpath) return E_INVALIDARG;
    // A shared document does not change: each look-up is made on it once for all its DTMs.
    std::u16string key;
    if (m_bSharedDocument) {
      key = std::u16string(m_bstrLanguageCodeAttribute.View()) + u'\n' + std::u16string(vkr::View(code)) + u'\n' +
            std::u16string(vkr::View(xpath));
      std::optional<std::u16string> known;
      if (vkr::FindSharedLocaleText(m_spTranslationDoc.Get(), key, &known)) {
        if (!known) return S_FALSE;
        *text = SysAllocStringLen(known->data(), static_cast<UINT>(known->size()));
        if (!*text) {
          m_bLookUpFault = true;
          return E_OUTOFMEMORY;
        }
        *found = VARIANT_TRUE;
        return S_OK;
      }
    }
    const bool earlierFault = std::exchange(m_bLookUpFault, false);
    const HRESULT hr = LookUpLocaleText(code, xpath, text, found);
    const bool fault = m_bLookUpFault;
    m_bLookUpFault = earlierFault || fault;
    // "Nothing found" because a selection failed for want of memory is no answer to keep.
    if (m_bSharedDocument && SUCCEEDED(hr) && !fault) {
      if (*found)
        vkr::KeepSharedLocaleText(m_spTranslationDoc.Get(), key, std::u16string(vkr::View(*text)));
      else
        vkr::KeepSharedLocaleText(m_spTranslationDoc.Get(), key, std::nullopt);
    }
    return hr;
  }

  HRESULT LookUpLocaleText(BSTR code, BSTR xpath, BSTR* text, VARIANT_BOOL* found) {
    std::u16string current(vkr::View(code));
    for (;;) {
      std::u16string literal;
      // A code no XPath literal can carry matches no `locale`: it goes on to its shorter forms.
      if (vkr::XPathStringLiteral(current, &literal)) {
        const vkr::Bstr path(std::u16string(vkr::View(xpath)) + u"/locale[" +
                             std::u16string(m_bstrLanguageCodeAttribute.View()) + u" = " + literal + u"]");
        if (!path.Get()) {
          m_bLookUpFault = true;
          return E_OUTOFMEMORY;
        }
        // The node's text as SelectNodeText reads it; a selection or a text that fails (rather
        // than no node) goes on to the shorter code all the same, but is a fault.
        vkr::ComPtr<IXMLDOMNode> node;
        vkr::Bstr found_text;
        HRESULT selected = m_spTranslationDoc->selectSingleNode(path, node.Put());
        if (SUCCEEDED(selected) && node) selected = node->get_text(found_text.Put());
        if (FAILED(selected)) m_bLookUpFault = true;
        if (SUCCEEDED(selected) && node) {
          *text = found_text.Detach();
          if (!*text) *text = SysAllocString(u"");
          if (!*text) {
            m_bLookUpFault = true;
            return E_OUTOFMEMORY;
          }
          *found = VARIANT_TRUE;
          return S_OK;
        }
      }
      const std::size_t dash = current.find(u'-');
      if (current.size() < 3 || dash == std::u16string::npos) return S_FALSE;
      current.resize(dash);
    }
  }

  // Merges a function's own translation file (an 8-bit Windows path) into the document: the file's
  // text with functionId in place of "%d" is loaded with the owner's XML handler, and its first
  // `Function` element is appended to the document's first `FunctionList`, its first `ActiveX`
  // element to the first `ActiveXList` (each only when both exist). Errors of reading and loading
  // are returned; a text that does not load, or no translation document: E_FAIL.
  virtual HRESULT MergeTranslationFile(LONG functionId, LPCSTR file) {
    vkr::Bstr raw, text;
    HRESULT hr = ReadTextFile(file, raw.Put());
    if (FAILED(hr)) return hr;
    hr = SubstituteFunctionId(raw, functionId, text.Put());
    if (FAILED(hr)) return hr;
    vkr::ComPtr<IXMLDOMDocument2> merged;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = static_cast<T*>(this)->LoadXMLDocument(text, merged.Put(), &loaded);
    if (FAILED(hr)) return hr;
    if (!loaded || !merged) return E_FAIL;
    if (!m_spTranslationDoc) return E_FAIL;
    hr = OwnDocument();
    if (FAILED(hr)) return hr;
    hr = MoveFirstNode(merged.Get(), u"//Function", u"//FunctionList");
    if (SUCCEEDED(hr)) hr = MoveFirstNode(merged.Get(), u"//ActiveX", u"//ActiveXList");
    return FAILED(hr) ? hr : S_OK;
  }

 protected:
  static constexpr OLECHAR kEnglishCode[] = u"en-us";

  // Whether a translation document is loaded (for the owner and tests).
  bool HasTranslationDocument() const { return static_cast<bool>(m_spTranslationDoc); }

  // A new DOM document for the translation: the version-independent class, parsed synchronously.
  static HRESULT CreateTranslationDocument(IXMLDOMDocument2** document) {
    *document = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2,
                                  reinterpret_cast<void**>(document));
    if (FAILED(hr)) return hr;
    if (!*document) return E_FAIL;
    (*document)->put_async(VARIANT_FALSE);
    return S_OK;
  }

  // "Invalid translation file:\r\n" and the document's parse error to the owner's sink; the file's
  // path on a line of its own after it when there is one.
  void ReportInvalidFile(IXMLDOMDocument2* document, const std::u16string& file = std::u16string()) {
    vkr::Bstr reason;
    vkr::ComPtr<IXMLDOMParseError> error;
    if (SUCCEEDED(document->get_parseError(error.Put())) && error)
      vkr::xml_detail::ParseErrorText(error.Get(), reason.Put());
    std::string text = vkr::Utf16ToUtf8(reason.View());
    if (!file.empty()) text += "\r\nin " + vkr::Utf16ToUtf8(file);
    static_cast<T*>(this)->OnError("Invalid translation file:\r\n%s", text.c_str());
  }

  // Before the document is changed: a document shared with other DTMs of the thread is copied
  // for this one first.
  HRESULT OwnDocument() {
    if (!m_bSharedDocument || !m_spTranslationDoc) return S_OK;
    vkr::ComPtr<IXMLDOMNode> copy;
    HRESULT hr = m_spTranslationDoc->cloneNode(VARIANT_TRUE, copy.Put());
    if (FAILED(hr)) return hr;
    vkr::ComPtr<IXMLDOMDocument2> document;
    if (!copy || FAILED(copy->QueryInterface(IID_IXMLDOMDocument2, document.PutVoid())) || !document) return E_FAIL;
    ReleaseDocument();
    m_spTranslationDoc = document;
    m_bSharedDocument = false;
    return S_OK;
  }

  // Lets go of the document; a shared one stays kept only while another DTM holds it.
  void ReleaseDocument() {
    const bool shared = m_bSharedDocument && m_spTranslationDoc;
    m_spTranslationDoc = nullptr;
    m_bSharedDocument = false;
    if (shared) vkr::ForgetUnusedTranslationDocuments();
  }

  // The translation document, empty until a load succeeds. It may be shared with the other DTMs
  // of this thread (m_bSharedDocument): only read it, or call OwnDocument first.
  vkr::ComPtr<IXMLDOMDocument2> m_spTranslationDoc;
  bool m_bSharedDocument = false;
  // Set when a look-up could not be made as asked (no memory, a selection that failed): what it
  // answered is not kept for other DTMs. Cleared by whoever wants to know.
  bool m_bLookUpFault = false;
  // The current language code.
  vkr::Bstr m_bstrLanguageCode{u"en-us"};
  vkr::Bstr m_bstrLanguageIdAttribute{u"@lcid"};
  vkr::Bstr m_bstrLanguageCodeAttribute{u"@code"};
  vkr::Bstr m_bstrLanguageListPath{u"localization/general/languages/language"};

 private:
  HRESULT SelectLanguages(IXMLDOMNodeList** languages) {
    const vkr::Bstr path(std::u16string(m_bstrLanguageListPath.View()) + u"[" +
                         std::u16string(m_bstrLanguageIdAttribute.View()) + u"]");
    HRESULT hr = m_spTranslationDoc->selectNodes(path, languages);
    if (FAILED(hr)) return hr;
    return *languages ? S_OK : E_POINTER;
  }

  // The lcids of the languages, in document order. A language whose lcid is no 32-bit unsigned
  // number ("abc", "-5", "99999999999") is left out, and *unusable (when given) gets a line for it.
  // A failing selection or read is returned.
  HRESULT ReadLanguages(std::vector<ULONG>* ids, std::string* unusable) {
    ids->clear();
    vkr::ComPtr<IXMLDOMNodeList> languages;
    HRESULT hr = SelectLanguages(languages.Put());
    if (FAILED(hr)) return hr;
    LONG length = 0;
    hr = languages->get_length(&length);
    if (FAILED(hr)) return hr;
    for (LONG i = 0; i < length; ++i) {
      vkr::ComPtr<IXMLDOMNode> language, attribute;
      hr = languages->get_item(i, language.Put());
      if (FAILED(hr)) return hr;
      if (!language) continue;
      hr = language->selectSingleNode(m_bstrLanguageIdAttribute, attribute.Put());
      if (FAILED(hr)) return hr;
      if (!attribute) continue;
      vkr::Variant value, number;
      hr = attribute->get_nodeTypedValue(value.Put());
      if (FAILED(hr)) return hr;
      if (SUCCEEDED(VariantChangeType(number.Ptr(), value.Ptr(), 0, VT_UI4)) && number.vt == VT_UI4) {
        ids->push_back(number.ulVal);
        continue;
      }
      if (unusable) {
        vkr::Bstr text;
        attribute->get_text(text.Put());
        if (!unusable->empty()) *unusable += "\r\n";
        *unusable += "language " + std::to_string(i + 1) + ": lcid=\"" + vkr::Utf16ToUtf8(text.View()) +
                     "\" is not a language id (a number from 0 to 4294967295); the language is left out";
      }
    }
    return S_OK;
  }

  HRESULT FindLanguage(ULONG lcid, IXMLDOMNode** language) {
    const vkr::Bstr path(std::u16string(m_bstrLanguageListPath.View()) + u"[" +
                         std::u16string(m_bstrLanguageIdAttribute.View()) + u" = \"" + vkr::DecimalText(lcid) +
                         u"\"]");
    const HRESULT hr = m_spTranslationDoc->selectSingleNode(path, language);
    return FAILED(hr) ? hr : S_OK;
  }

  // Appends the first node `what` selects in source to the first node `where` selects in the
  // translation document; nothing when either is missing.
  HRESULT MoveFirstNode(IXMLDOMDocument2* source, const char16_t* what, const char16_t* where) {
    vkr::ComPtr<IXMLDOMNode> node, parent, appended;
    HRESULT hr = source->selectSingleNode(vkr::Bstr(what), node.Put());
    if (FAILED(hr) || !node) return FAILED(hr) ? hr : S_FALSE;
    hr = m_spTranslationDoc->selectSingleNode(vkr::Bstr(where), parent.Put());
    if (FAILED(hr) || !parent) return FAILED(hr) ? hr : S_FALSE;
    return parent->appendChild(node, appended.Put());
  }
};
