// The XML document handler mixed into every owner of FDT documents: loads and validates documents
// with the owner's XDR schema cache and grows the cache when a document names a schema it lacks.
//
// `CovFDTXMLHandlerImpl<T>` is a base of its owner T (the DTM object, the connection, every page
// and control). T supplies:
//   static const char* const* GetSchemaFileList();   // its schema files, ended by ""
//   ... OnError(const char* format, ...);             // its error sink (printf rules, 8-bit)
// Failure texts go to the sink; callers get only HRESULTs. A handler and its cache are used on the
// owner's apartment thread only.
//
// Schema files are looked for below the stored schema directory (the frame's) and then below the
// directory named by the registry value "value0" of
// HKLM\Software\Osgrove\ov FDT Toolkit\XML\SchemaPaths; the stored directory is never replaced by
// the registry's, so both stay searchable. A cache entry's namespace is "x-schema:" + the file
// name, its location the path found.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "xml/XmlHelpers.h"

// The schema lists of the owners, each ended by an empty string.
inline constexpr const char* kSchemaFilesDtm[] = {
    "DTMInformationSchema.xml",     "DTMParameterSchema.xml",        "FDTDataTypesSchema.xml",
    "FDTApplicationIdSchema.xml",   "DTMFunctionsSchema.xml",        "DTMFunctionCallSchema.xml",
    "FDTOperationPhaseSchema.xml",  "FDTUserInformationSchema.xml",  "FDTUserMessageSchema.xml",
    "FDTHARTCommunicationSchema.xml", ""};
inline constexpr const char* kSchemaFilesConnection[] = {"FDTDataTypesSchema.xml", ""};
// CDACTrimAdj, CEchoPP, CEchoTrace, CInfoPP, COfflineOnlineParam, COfflineParam, COnlineParam,
// CSelfTestResults, CSetupPP.
inline constexpr const char* kSchemaFilesUiWithFunctions[] = {
    "FDTDataTypesSchema.xml",    "FDTApplicationIdSchema.xml",  "DTMFunctionsSchema.xml",
    "DTMFunctionCallSchema.xml", "FDTOperationPhaseSchema.xml", ""};
// CAdvancedPP, CCommandPP, CDevicePP, CDiagPP, CHartPP, COnlineParameterization,
// COutputLevelSelection, CProcessPP, CRawCommandPP, CStatusPP, CTrendView, CValuesPP.
inline constexpr const char* kSchemaFilesUi[] = {"FDTDataTypesSchema.xml", "FDTApplicationIdSchema.xml",
                                                 "DTMFunctionCallSchema.xml", ""};

// Formats an error-sink text with printf rules (8-bit), cut to at most 4,095 bytes without
// splitting a character. A null format or one the runtime refuses gives an empty text.
std::string FormatErrorTextV(const char* format, va_list args);

namespace vkr::xml_detail {
// The full path of fileName below directory (depth first, at most kMaxSearchDepth levels down),
// S_FALSE when it is nowhere there. E_INVALIDARG for a null directory, a null or empty name or a
// null out-pointer; the out-pointer is null unless S_OK.
HRESULT FindFileBelow(BSTR directory, BSTR fileName, BSTR* fullPath);
constexpr int kMaxSearchDepth = 16;
// The registry's second schema directory ("value0"), or false when it is not set.
bool ReadRegistrySchemaDirectory(std::u16string* directory);
// The ".xml" file names a parse-error reason mentions, in order of appearance.
std::vector<std::u16string> SchemaFileNamesIn(std::u16string_view reason);
// "Error 0x%08x\nLine %ld, Column %ld\n\n" and the reason, from a parse error.
HRESULT ParseErrorText(IXMLDOMParseError* error, BSTR* text);
// Whether the cache holds the namespace.
bool CacheHolds(IXMLDOMSchemaCollection* cache, std::u16string_view namespaceUri);
// How many times one load retries after adding schemas; a safety net over the progress test.
constexpr int kMaxSchemaRetries = 32;
}  // namespace vkr::xml_detail

template <class T>
class CovFDTXMLHandlerImpl {
 public:
  CovFDTXMLHandlerImpl() = default;
  CovFDTXMLHandlerImpl(const CovFDTXMLHandlerImpl&) = delete;
  CovFDTXMLHandlerImpl& operator=(const CovFDTXMLHandlerImpl&) = delete;
  virtual ~CovFDTXMLHandlerImpl() {
    m_spSchemaCache = nullptr;
    SysFreeString(m_bsSchemaPath);
  }

  // Parses and validates text with the schema cache, adding missing schemas and parsing again
  // while that makes progress. Parsed: *document holds the document (a reference it held before
  // is released) and *pSuccess is VARIANT_TRUE. Not parsed: *pSuccess is VARIANT_FALSE,
  // *document untouched, the parse error reported to the sink (with m_bShowParseError) and S_OK
  // returned, or without the flag the parser's own result (S_FALSE). E_POINTER without a cache or
  // for a null out-pointer, E_INVALIDARG for a null text.
  virtual HRESULT LoadXMLDocument(BSTR text, IXMLDOMDocument2** document, VARIANT_BOOL* pSuccess) {
    if (!m_spSchemaCache) return E_POINTER;
    if (!text) return E_INVALIDARG;
    if (!document || !pSuccess) return E_POINTER;
    *pSuccess = VARIANT_FALSE;

    vkr::ComPtr<IXMLDOMDocument2> doc;
    HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2, doc.PutVoid());
    if (FAILED(hr) || !doc) {
      Owner()->OnError("::LoadXMLDocument\nCoCreateInstance on IXMLDOMDocument failed!\n(CODE == %08X)", hr);
      return FAILED(hr) ? hr : E_FAIL;
    }
    vkr::ComPtr<IUnknown> cache;
    hr = m_spSchemaCache->QueryInterface(IID_IUnknown, cache.PutVoid());
    if (FAILED(hr) || !cache) {
      Owner()->OnError("::LoadXMLDocument\nIUnknown not retrieved from IXMLSchemaCache!\nHRESULT = %08X", hr);
      return FAILED(hr) ? hr : E_FAIL;
    }
    VARIANT schemas;
    VariantInit(&schemas);
    schemas.vt = VT_UNKNOWN;
    schemas.punkVal = cache.Get();
    hr = doc->putref_schemas(schemas);
    if (FAILED(hr)) {
      Owner()->OnError("::LoadXMLDocument\nIXMLDOMDocument2->putref_schemas() returns %08X\n", hr);
      return hr;
    }
    hr = doc->loadXML(text, pSuccess);
    if (FAILED(hr)) {
      Owner()->OnError("::LoadXMLDocument\nIXMLDOMDocument2->loadXML() returns %08X\n", hr);
      return hr;
    }
    // Each retry has added a namespace the cache did not hold, so the loop ends; the cap guards
    // against a validator that keeps naming new files.
    for (int retry = 0; *pSuccess == VARIANT_FALSE && retry < vkr::xml_detail::kMaxSchemaRetries; ++retry) {
      VARIANT_BOOL added = VARIANT_FALSE;
      if (FAILED(ResolveMissingSchema(doc.Get(), &added)) || added == VARIANT_FALSE) break;
      hr = doc->loadXML(text, pSuccess);
      if (hr == S_OK) break;
    }
    if (*pSuccess == VARIANT_FALSE) {
      if (!m_bShowParseError) return hr;
      vkr::Bstr errorText;
      HRESULT hrError = GetParseError(doc.Get(), errorText.Put());
      if (SUCCEEDED(hrError))
        Owner()->OnError("::LoadXMLDocument (ParseError)\n%s", vkr::Utf16ToUtf8(errorText.View()).c_str());
      return hrError;
    }

    *pSuccess = VARIANT_FALSE;
    if (*document) (*document)->Release();
    *document = nullptr;
    hr = doc->QueryInterface(IID_IXMLDOMDocument2, reinterpret_cast<void**>(document));
    if (FAILED(hr) || !*document) {
      Owner()->OnError("::LoadXMLDocument\nQI on IXMLDOMDocument2 failed! (CODE: %08X)", hr);
      return FAILED(hr) ? hr : E_FAIL;
    }
    *pSuccess = VARIANT_TRUE;
    return S_OK;
  }

  // The document's parse error as "Error 0x%08x\nLine %ld, Column %ld\n\n" + reason. The BSTR
  // *text held is freed and replaced. E_POINTER for null pointers.
  HRESULT GetParseError(IXMLDOMDocument* document, BSTR* text) {
    if (!document || !text) return E_POINTER;
    vkr::ComPtr<IXMLDOMParseError> error;
    HRESULT hr = document->get_parseError(error.Put());
    if (FAILED(hr) || !error) {
      Owner()->OnError("CovFDTXMLHandlerImpl::GetParseError\nget_parseError on IXMLDOMDocument failed!\n(CODE == %08X)",
                       hr);
      return FAILED(hr) ? hr : E_FAIL;
    }
    BSTR formatted = nullptr;
    hr = vkr::xml_detail::ParseErrorText(error.Get(), &formatted);
    if (FAILED(hr)) return hr;
    SysFreeString(*text);
    *text = formatted;
    return S_OK;
  }

  // Stores the directory (a copy; null stays null), creates the cache once and adds the owner's
  // schema files in order. A file that cannot be added is reported and skipped: S_OK all the
  // same. Only a cache that cannot be created fails the call.
  HRESULT InitializeSchemaCache(BSTR directory) {
    const bool same = (directory == nullptr) == (m_bsSchemaPath == nullptr) &&
                      SysStringLen(directory) == SysStringLen(m_bsSchemaPath) &&
                      std::u16string_view(directory ? directory : u"", SysStringLen(directory)) ==
                          std::u16string_view(m_bsSchemaPath ? m_bsSchemaPath : u"", SysStringLen(m_bsSchemaPath));
    if (!same) {
      BSTR copy = nullptr;
      if (directory && !(copy = SysAllocStringLen(directory, SysStringLen(directory)))) return E_OUTOFMEMORY;
      SysFreeString(m_bsSchemaPath);
      m_bsSchemaPath = copy;
    }
    if (!m_spSchemaCache) {
      HRESULT hr = CoCreateInstance(CLSID_XMLSchemaCache, nullptr, CLSCTX_ALL, IID_IXMLDOMSchemaCollection,
                                    m_spSchemaCache.PutVoid());
      if (FAILED(hr) || !m_spSchemaCache) {
        Owner()->OnError("::InitializeSchemaCache\nXMLSchemaCache creation failed!\nHRESULT = %08X", hr);
        m_spSchemaCache = nullptr;
        return FAILED(hr) ? hr : E_FAIL;
      }
    }
    for (const char* const* file = T::GetSchemaFileList(); file && *file && **file; ++file) {
      vkr::Bstr name(vkr::Utf8ToUtf16(*file));
      BOOL added = FALSE;
      HRESULT hr = AddSchema(name, &added);
      if (hr != S_OK || !added)
        Owner()->OnError(
            "::InitializeSchemaCache\nProblems while loading schema \"%s\".\nIXMLDOMSchemaCollection->add() returns %08X.",
            *file, hr);
    }
    return S_OK;
  }

  // Adds fileName from the stored directory or, failing that, from the registry's. S_OK when
  // added, S_FALSE when not (also without a cache).
  HRESULT AddSchema(BSTR fileName, BOOL* added) {
    if (!added) return E_POINTER;
    *added = FALSE;
    if (!m_spSchemaCache) return S_FALSE;
    if (SysStringLen(m_bsSchemaPath) > 0) {
      AddSchemaFromDirectory(m_bsSchemaPath, fileName, added);
      if (*added) return S_OK;
    }
    std::u16string registryDirectory;
    if (vkr::xml_detail::ReadRegistrySchemaDirectory(&registryDirectory)) {
      vkr::Bstr directory(registryDirectory);
      AddSchemaFromDirectory(directory, fileName, added);
    }
    return *added ? S_OK : S_FALSE;
  }

  // Finds fileName below directory and adds it to the cache. The search's result when it is not
  // S_OK; E_UNEXPECTED for an empty path found; otherwise the cache's result.
  HRESULT AddSchemaFromDirectory(BSTR directory, BSTR fileName, BOOL* added) {
    if (!added) return E_POINTER;
    *added = FALSE;
    if (!m_spSchemaCache) return S_FALSE;
    vkr::Bstr path;
    HRESULT hr = FindFileRecursive(directory, fileName, path.Put());
    if (hr != S_OK) return hr;
    if (path.Empty()) return E_UNEXPECTED;
    hr = AddToCache(vkr::View(fileName).substr(0, SysStringLen(fileName)), path);
    *added = hr == S_OK;
    return hr;
  }

  // S_OK with the full path when fileName lies in directory or below it, S_FALSE when not.
  HRESULT FindFileRecursive(BSTR directory, BSTR fileName, BSTR* fullPath) {
    return vkr::xml_detail::FindFileBelow(directory, fileName, fullPath);
  }

  // After a load failed because a document names a schema the cache lacks (0x800C0006), adds
  // every ".xml" file its reason names that can be found and is not cached yet. *added is
  // VARIANT_TRUE only when the cache gained a namespace. S_FALSE for another error or a reason
  // without ".xml"; a failing addition ends the scan with its result.
  HRESULT ResolveMissingSchema(IXMLDOMDocument* document, VARIANT_BOOL* added) {
    if (!document || !added) return E_POINTER;
    *added = VARIANT_FALSE;
    if (!m_spSchemaCache) return S_FALSE;
    vkr::ComPtr<IXMLDOMParseError> error;
    if (FAILED(document->get_parseError(error.Put())) || !error) return S_FALSE;
    LONG code = 0;
    if (FAILED(error->get_errorCode(&code)) || code != INET_E_OBJECT_NOT_FOUND) return S_FALSE;
    vkr::Bstr reason;
    error->get_reason(reason.Put());
    const std::vector<std::u16string> names = vkr::xml_detail::SchemaFileNamesIn(reason.View());
    if (names.empty()) return S_FALSE;

    HRESULT hr = S_OK;
    std::u16string registryDirectory;
    bool registryRead = false;
    for (const std::u16string& name : names) {
      // A namespace already held is no progress: adding it again would parse again for ever.
      if (vkr::xml_detail::CacheHolds(m_spSchemaCache.Get(), u"x-schema:" + name)) continue;
      vkr::Bstr file(name), path;
      HRESULT found = SysStringLen(m_bsSchemaPath) > 0 ? FindFileRecursive(m_bsSchemaPath, file, path.Put()) : S_FALSE;
      if (found != S_OK) {
        if (!registryRead) {
          registryRead = true;
          if (!vkr::xml_detail::ReadRegistrySchemaDirectory(&registryDirectory)) registryDirectory.clear();
        }
        if (!registryDirectory.empty()) found = FindFileRecursive(vkr::Bstr(registryDirectory), file, path.Put());
      }
      if (found != S_OK || path.Empty()) continue;
      hr = AddToCache(name, path);
      if (FAILED(hr)) return hr;
      if (hr == S_OK) *added = VARIANT_TRUE;
    }
    return hr;
  }

  // The fragment and string loader of the helpers, offered on the handler as well.
  HRESULT LoadXmlFromString(BSTR xml, IXMLDOMDocument2** document, VARIANT_BOOL* loaded) {
    return ::LoadXmlFromString(xml, document, loaded);
  }

  BSTR m_bsSchemaPath = nullptr;
  vkr::ComPtr<IXMLDOMSchemaCollection> m_spSchemaCache;
  BOOL m_bShowParseError = TRUE;

 private:
  T* Owner() { return static_cast<T*>(this); }

  HRESULT AddToCache(std::u16string_view fileName, BSTR path) {
    vkr::Bstr namespaceUri(u"x-schema:" + std::u16string(fileName));
    VARIANT location;
    VariantInit(&location);
    location.vt = VT_BSTR;
    location.bstrVal = path;
    return m_spSchemaCache->add(namespaceUri, location);
  }
};
