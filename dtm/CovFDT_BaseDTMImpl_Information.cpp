// What the DTM tells a frame about itself: the DTM information document (the framework's default,
// the language list and the merged documents of each device type) and the HART identification of
// a supported device type.
#include <deque>
#include <mutex>
#include <string>

#include "dtm/CovFDT_BaseDTMImpl.h"
#include "include/TranslationInterfaces.h"
#include "xml/Conversions.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr WORD kInformationTemplate12 = 235;
constexpr WORD kInformationTemplate121 = 236;
constexpr WORD kIdentificationTemplates = 239;
constexpr OLECHAR kDataTypesNamespace[] = u"x-schema:FDTDataTypesSchema.xml";
constexpr ULONG kDeviceTypeFileParameter = 102;
constexpr ULONG kDeviceTypeTextParameter = 213;
constexpr DWORD kFileBlock = 4096;

bool InformationState(EDtmState state) { return state >= dsENVIRONMENTSET && state <= dsONLINE; }

// The text of a path below node, empty when nothing matches.
std::u16string TextAt(IXMLDOMNode* node, const char16_t* path) {
  vkr::Bstr text;
  if (SelectNodeText(node, vkr::Bstr(path), text.Put()) != S_OK) return {};
  return text.Str();
}

// A value pasted between double quotes of a selection path: one holding a quote could end the
// literal early and change the path, so it selects nothing instead.
bool UsableInPath(const std::u16string& value) { return value.find(u'"') == std::u16string::npos; }

HRESULT FormatPath(BSTR* out, const char16_t* format, std::initializer_list<std::u16string> values) {
  std::u16string path;
  auto it = values.begin();
  for (const char16_t* p = format; *p; ++p) {
    if (p[0] == u'%' && p[1] == u's' && it != values.end()) {
      path += *it++;
      ++p;
    } else {
      path += *p;
    }
  }
  *out = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// Replaces the "%s" placeholders in order, literally: the filled-in texts are data, never a format.
std::u16string FillPlaceholders(std::u16string_view text, std::initializer_list<std::u16string_view> values) {
  std::u16string out;
  auto it = values.begin();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] == u's' && it != values.end()) {
      out += *it++;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The whole of a file as 8-bit text, read in blocks; false when it cannot be read.
bool ReadWholeFile(const std::u16string& path, std::string* text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char block[kFileBlock];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, block, kFileBlock, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    text->append(block, got);
  }
  CloseHandle(file);
  return ok;
}

// Every DTM of a device type builds the same information document from the same template,
// languages and schemas, and finds its device type in it: answers that follow from their inputs'
// texts alone are kept by those texts and shared by the process's DTMs.
class InformationMemo {
 public:
  static InformationMemo& Get() {
    // An object of the module, not of the heap: it goes with the module when that is unloaded
    // (only a DTM being built asks for it, never one being released).
    static InformationMemo memo;
    return memo;
  }
  bool Find(const std::u16string& key, std::u16string* value) {
    std::lock_guard<std::mutex> hold(m_lock);
    for (const auto& entry : m_entries)
      if (entry.first == key) {
        *value = entry.second;
        return true;
      }
    return false;
  }
  void Keep(std::u16string key, std::u16string value) {
    std::lock_guard<std::mutex> hold(m_lock);
    try {
      if (m_entries.size() >= kEntries) m_entries.pop_front();
      m_entries.emplace_back(std::move(key), std::move(value));
    } catch (const std::bad_alloc&) {
      // Not kept: the next DTM builds it again.
    }
  }

 private:
  static constexpr std::size_t kEntries = 8;
  std::mutex m_lock;
  std::deque<std::pair<std::u16string, std::u16string>> m_entries;
};

// The key of an answer: its kind, then its inputs, each ended by a character no text holds.
std::u16string MemoKey(char16_t kind, std::initializer_list<std::u16string_view> inputs) {
  std::u16string key(1, kind);
  for (std::u16string_view input : inputs) {
    key += input;
    key += char16_t{0xFFFF};
  }
  return key;
}

}  // namespace

HRESULT CovFDT_BaseDTMCore::LoadInformationDocument(BSTR text, IXMLDOMDocument2** document, VARIANT_BOOL* loaded) {
  // Validated against the FDT schemas, as every document the DTM reads or hands out.
  return LoadDtmDocument(text, document, loaded);
}

HRESULT CovFDT_BaseDTMCore::GetInformationTemplate(BSTR* text) {
  *text = LoadHtmlResourceText(m_bFdt121Frame ? kInformationTemplate121 : kInformationTemplate12, ResourceModule());
  if (*text && SysStringLen(*text) > 0) return S_OK;
  SysFreeString(*text);
  *text = nullptr;
  return E_FAIL;
}

HRESULT CovFDT_BaseDTMCore::VerifySupportedLanguages(BSTR information, BSTR* result) {
  LogEntry("VerifySupportedLanguages");
  if (!result) return E_POINTER;
  *result = nullptr;
  auto copy = [&]() -> HRESULT {
    *result = information ? SysAllocStringLen(information, SysStringLen(information)) : nullptr;
    return (information && !*result) ? E_OUTOFMEMORY : S_OK;
  };
  vkr::ComPtr<IovFdtTranslation> translation = QueryDtm<IovFdtTranslation>();
  if (!translation) return copy();
  LONG count = 0;
  if (FAILED(translation->GetLanguageCount(&count)) || count < 1) return copy();
  std::u16string languages;
  for (LONG i = 0; i < count; ++i) {
    ULONG id = 0;
    if (FAILED(translation->GetLanguageId(i, &id))) break;
    languages += vkr::Utf8ToUtf16(std::to_string(id)) + u",";
  }
  const std::u16string key =
      MemoKey(u'L', {m_schemaDirectory, languages, std::u16string_view(information ? information : u"", SysStringLen(information))});
  std::u16string kept;
  if (InformationMemo::Get().Find(key, &kept)) {
    *result = SysAllocStringLen(kept.data(), static_cast<UINT>(kept.size()));
    return *result ? S_OK : E_OUTOFMEMORY;
  }
  const HRESULT built = BuildSupportedLanguages(information, translation.Get(), count, result);
  if (built == S_OK && *result) InformationMemo::Get().Keep(key, std::u16string(*result, SysStringLen(*result)));
  return built;
}

HRESULT CovFDT_BaseDTMCore::BuildSupportedLanguages(BSTR information, IovFdtTranslation* translation, LONG count,
                                                    BSTR* result) {
  auto copy = [&]() -> HRESULT {
    *result = information ? SysAllocStringLen(information, SysStringLen(information)) : nullptr;
    return (information && !*result) ? E_OUTOFMEMORY : S_OK;
  };
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadInformationDocument(information, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!loaded || !document) return copy();

  vkr::ComPtr<IXMLDOMNodeList> types;
  hr = document->selectNodes(vkr::Bstr(u"FDT/DtmInfo/DtmDeviceTypes/fdt:DtmDeviceType"), types.Put());
  if (FAILED(hr)) return hr;
  LONG typeCount = 0;
  if (types) types->get_length(&typeCount);
  const vkr::Bstr listName(u"fdt:SupportedLanguages"), idName(u"fdt:LanguageId"), ns(kDataTypesNamespace);
  for (LONG t = 0; t < typeCount; ++t) {
    vkr::ComPtr<IXMLDOMNode> type;
    hr = types->get_item(t, type.Put());
    if (FAILED(hr)) return hr;
    // The new list is built apart and replaces the old one only when complete.
    VARIANT kind;
    VariantInit(&kind);
    kind.vt = VT_I4;
    kind.lVal = NODE_ELEMENT;
    vkr::ComPtr<IXMLDOMNode> list;
    hr = document->createNode(kind, listName, ns, list.Put());
    if (FAILED(hr)) return hr;
    if (!list) return E_FAIL;
    for (LONG i = 0; i < count; ++i) {
      ULONG id = 0;
      hr = translation->GetLanguageId(i, &id);
      if (FAILED(hr)) return hr;
      vkr::ComPtr<IXMLDOMNode> entry;
      hr = AppendElement(document.Get(), list.Get(), idName, ns, entry.Put());
      if (FAILED(hr)) return hr;
      VARIANT value;
      VariantInit(&value);
      value.vt = VT_UI4;
      value.ulVal = id;
      hr = SetXmlAttribute(document.Get(), entry.Get(), vkr::Bstr(u"languageId"), value);
      if (FAILED(hr)) return hr;
    }
    vkr::ComPtr<IXMLDOMNode> old;
    hr = type->selectSingleNode(listName, old.Put());
    if (FAILED(hr)) return hr;
    if (!old) return E_FAIL;
    vkr::ComPtr<IXMLDOMNode> replaced;
    hr = type->replaceChild(list.Get(), old.Get(), replaced.Put());
    if (FAILED(hr)) return hr;
  }
  return document->get_xml(result);
}

HRESULT CovFDT_BaseDTMCore::MergeDtmDocuments(BSTR information, BSTR* result) {
  if (!result) return E_INVALIDARG;
  vkr::ComPtr<IovFdtExtDocument> documents = QueryDtm<IovFdtExtDocument>();
  if (!documents) return S_OK;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadInformationDocument(information, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!document) return E_POINTER;
  if (!loaded) return E_FAIL;
  vkr::ComPtr<IXMLDOMNodeList> types;
  hr = document->selectNodes(vkr::Bstr(u"//DtmInfo/DtmDeviceTypes/fdt:DtmDeviceType"), types.Put());
  if (FAILED(hr)) return hr;
  LONG typeCount = 0;
  if (types) types->get_length(&typeCount);
  const vkr::Bstr ns(kDataTypesNamespace);
  for (LONG t = 0; t < typeCount; ++t) {
    vkr::ComPtr<IXMLDOMNode> type;
    hr = types->get_item(t, type.Put());
    if (FAILED(hr)) return hr;
    vkr::Bstr typeId(TextAt(type.Get(), u"@dtmDevTypeID"));
    vkr::ComPtr<IXMLDOMNode> target;
    if (type->selectSingleNode(vkr::Bstr(u"fdt:DtmDocuments"), target.Put()) != S_OK || !target) continue;
    vkr::Bstr list, bitmap, icon;
    documents->GetDocumentList(list.Put(), typeId);
    documents->GetDeviceBitmap(bitmap.Put(), typeId);
    documents->GetDeviceIcon(icon.Put(), typeId);
    if (!list.Empty()) {
      hr = AppendXmlFragment(document.Get(), target.Get(), list, ns, nullptr);
      if (FAILED(hr)) return hr;
    }
    if (!icon.Empty()) {
      hr = InsertXmlFragmentBefore(document.Get(), target.Get(), icon, ns, nullptr);
      if (FAILED(hr)) return hr;
    }
    if (!bitmap.Empty()) {
      hr = InsertXmlFragmentAfter(document.Get(), target.Get(), bitmap, ns, nullptr);
      if (FAILED(hr)) return hr;
    }
  }
  vkr::Bstr text;
  hr = document->get_xml(text.Put());
  if (FAILED(hr)) return hr;
  if (text.Empty()) text = vkr::Bstr(vkr::View(information));
  *result = text.Detach();
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::GetInformation(BSTR, BSTR* information) {
  LogEntry("GetInformation");
  if (!information) return E_INVALIDARG;
  if (!InformationState(m_eDtmState)) return S_FALSE;
  vkr::Bstr text;
  if (FAILED(GetInformationTemplate(text.Put()))) return S_FALSE;
  // The placeholders are filled first, literally (a value is never read as a format): the
  // version, the date and an empty device icon.
  vkr::Bstr filled(FillPlaceholders(text.View(), {u"2.1.1", u"2016-06-21", u""}));
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadInformationDocument(filled, document.Put(), &loaded)) || !loaded || !document) return S_FALSE;

  ULONG parameter = 0;
  if (HasParameter(kDeviceTypeFileParameter))
    parameter = kDeviceTypeFileParameter;
  else if (HasParameter(kDeviceTypeTextParameter))
    parameter = kDeviceTypeTextParameter;
  HRESULT hr = S_OK;
  if (parameter) {
    vkr::ComPtr<IXMLDOMNodeList> types;
    hr = document->selectNodes(vkr::Bstr(u"//fdt:DtmDeviceType[@deviceTypeInformation]"), types.Put());
    if (FAILED(hr)) return hr;
    LONG count = 0;
    if (types) types->get_length(&count);
    for (LONG t = 0; t < count; ++t) {
      vkr::ComPtr<IXMLDOMNode> type;
      hr = types->get_item(t, type.Put());
      if (FAILED(hr)) return hr;
      VARIANT id;
      VariantInit(&id);
      id.vt = VT_UI4;
      id.ulVal = parameter;
      vkr::Variant value;
      hr = GetParameterValue(id, &value);
      if (FAILED(hr)) return hr;
      if (value.vt != VT_BSTR) return S_FALSE;
      vkr::Variant attribute;
      attribute.vt = VT_BSTR;
      if (parameter == kDeviceTypeFileParameter) {
        std::string content;
        if (SysStringLen(value.bstrVal) > 0) {
          if (!ReadWholeFile(std::u16string(vkr::View(value.bstrVal)), &content)) return E_FAIL;
          attribute.bstrVal = SysAllocString(vkr::Utf8ToUtf16(content).c_str());
        } else {
          attribute.bstrVal = SysAllocString(u" ");
        }
        if (!attribute.bstrVal) return E_OUTOFMEMORY;
        hr = SetSelectedNodeValue(type.Get(), vkr::Bstr(u"@deviceTypeInformation"), attribute);
      } else {
        hr = SetSelectedNodeValue(type.Get(), vkr::Bstr(u"@deviceTypeInformation"), value);
        if (SUCCEEDED(hr) && m_bFdt121Frame)
          hr = SetSelectedNodeValue(type.Get(), vkr::Bstr(u"@deviceTypeInformationPath"), value);
      }
      if (FAILED(hr)) return hr;
    }
  }
  vkr::Bstr documentText;
  hr = document->get_xml(documentText.Put());
  if (FAILED(hr)) return hr;
  if (m_bFdt121Frame) {
    vkr::Bstr merged;
    hr = MergeDtmDocuments(documentText, merged.Put());
    if (FAILED(hr)) return hr;
    if (merged.Get()) documentText = std::move(merged);
  }
  return VerifySupportedLanguages(documentText, information);
}

std::u16string CovFDT_BaseDTMCore::OwnDeviceTypeTemplateId(IXMLDOMDocument* deviceType) {
  vkr::ComPtr<IXMLDOMNode> asked;
  if (deviceType->selectSingleNode(vkr::Bstr(u"//FDT/fdt:DtmDeviceType"), asked.Put()) != S_OK || !asked) return {};
  const std::u16string askedGuid = TextAt(asked.Get(), u"@dtmDevTypeID");
  const std::u16string name = TextAt(asked.Get(), u"fdt:VersionInformation/@name");
  const std::u16string vendor = TextAt(asked.Get(), u"fdt:VersionInformation/@vendor");
  const std::u16string version = TextAt(asked.Get(), u"fdt:VersionInformation/@version");
  vkr::ComPtr<IDtmInformation> self = QueryDtm<IDtmInformation>();
  vkr::Bstr own;
  if (!self || self->GetInformation(nullptr, own.Put()) != S_OK || own.Empty()) return {};
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadInformationDocument(own, document.Put(), &loaded)) || !loaded || !document) return {};
  vkr::ComPtr<IXMLDOMNodeList> types;
  LONG count = 0;
  if (document->selectNodes(vkr::Bstr(u"FDT/DtmInfo/DtmDeviceTypes/fdt:DtmDeviceType"), types.Put()) != S_OK || !types ||
      FAILED(types->get_length(&count)))
    return {};
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> type;
    if (FAILED(types->get_item(i, type.Put())) || !type) continue;
    const std::u16string ownGuid = TextAt(type.Get(), u"@dtmDevTypeID");
    bool same = false;
    GUID a{}, b{};
    if (!askedGuid.empty() && !ownGuid.empty()) {
      // The device type's GUID names it, in whatever case the frame wrote it.
      same = GUIDFromStringW(askedGuid.c_str(), &a) && GUIDFromStringW(ownGuid.c_str(), &b) && IsEqualGUID(a, b);
    } else {
      same = !name.empty() && name == TextAt(type.Get(), u"fdt:VersionInformation/@name") &&
             (vendor.empty() || vendor == TextAt(type.Get(), u"fdt:VersionInformation/@vendor")) &&
             (version.empty() || version == TextAt(type.Get(), u"fdt:VersionInformation/@version"));
    }
    // The templates are made one per device type of the information document, in its order.
    if (same) return u"ID_" + vkr::Utf8ToUtf16(std::to_string(i));
  }
  return {};
}

HRESULT CovFDT_BaseDTMCore::GetDevIdentInfoPath1(IXMLDOMDocument* deviceType, BSTR protocolId, BSTR* xpath) {
  LogEntry("GetDevIdentInfoPath1");
  if (!deviceType || !protocolId || !xpath) return E_INVALIDARG;
  std::u16string id = TextAt(deviceType, u"//FDT/fdt:DtmDeviceType/@nodeId");
  if (id.empty()) id = TextAt(deviceType, u"//FDT/fdt:DtmDeviceType/@deviceTypeId");
  // A frame also hands back a device type as the DTM announced it, which carries neither: it is
  // found among the DTM's own device types (its name is the device type's, not the DTM's, so the
  // look-up by name cannot find it).
  if (id.empty()) id = OwnDeviceTypeTemplateId(deviceType);
  const std::u16string protocol(vkr::View(protocolId));
  if (id.empty() || protocol.empty() || !UsableInPath(id) || !UsableInPath(protocol)) return E_FAIL;
  return FormatPath(xpath,
                    u"//ov_FdtDevTypeIdentTemplates/ov_FdtDevTypeIdentTemplate[@devTypeId=\"%s\"]"
                    u"[@busProtocolId=\"%s\"]/*",
                    {id, protocol});
}

HRESULT CovFDT_BaseDTMCore::GetDevIdentInfoPath2(IXMLDOMDocument* deviceType, BSTR protocolId, BSTR* xpath) {
  LogEntry("GetDevIdentInfoPath2");
  if (!deviceType || !protocolId || !xpath) return E_INVALIDARG;
  const std::u16string name = TextAt(deviceType, u"//FDT/fdt:DtmDeviceType/fdt:VersionInformation/@name");
  const std::u16string vendor = TextAt(deviceType, u"//FDT/fdt:DtmDeviceType/fdt:VersionInformation/@vendor");
  const std::u16string version = TextAt(deviceType, u"//FDT/fdt:DtmDeviceType/fdt:VersionInformation/@version");
  const std::u16string protocol(vkr::View(protocolId));
  for (const std::u16string* value : {&name, &vendor, &version, &protocol})
    if (!UsableInPath(*value)) return E_FAIL;
  if (!name.empty() && !vendor.empty() && !version.empty() && !protocol.empty())
    return FormatPath(xpath,
                      u"//ov_FdtDevTypeIdentTemplates/ov_FdtDevTypeIdentTemplate[@name=\"%s\"][@vendor=\"%s\"]"
                      u"[@version=\"%s\"][@busProtocolId=\"%s\"]/*",
                      {name, vendor, version, protocol});
  if (!name.empty())
    return FormatPath(xpath,
                      u"//ov_FdtDevTypeIdentTemplates/ov_FdtDevTypeIdentTemplate[@name=\"%s\"][@busProtocolId=\"%s\"]/*",
                      {name, protocol});
  return E_FAIL;
}

HRESULT CovFDT_BaseDTMCore::GetDevIdentInfoXml(IXMLDOMDocument* templates, BSTR xpath, BSTR* xml) {
  LogEntry("GetDevIdentInfoXml");
  if (!templates || !xpath || !xml) return E_INVALIDARG;
  vkr::ComPtr<IXMLDOMNode> node;
  if (templates->selectSingleNode(xpath, node.Put()) != S_OK || !node) return E_FAIL;
  return node->get_xml(xml);
}

HRESULT CovFDT_BaseDTMCore::GetDeviceIdentificationInformation(BSTR deviceType, BSTR protocolId, BSTR* result) {
  LogEntry("GetDeviceIdentificationInformation");
  if (!deviceType || !protocolId || !result) return E_INVALIDARG;
  // Nothing found leaves a defined answer: no text.
  *result = nullptr;
  if (!InformationState(m_eDtmState)) return S_FALSE;
  // Appended in place: u"{" + text + u"}" trips a false -Wrestrict of GCC 12 at -O3.
  std::u16string braced;
  braced.reserve(SysStringLen(protocolId) + 2);
  braced.append(u"{").append(vkr::View(protocolId)).append(u"}");
  GUID protocol{};
  if (!GUIDFromStringW(braced.c_str(), &protocol)) return E_INVALIDARG;
  // GUIDs compare without regard to case: the protocol is looked for in the form the templates
  // write it (braced, upper case).
  OLECHAR canonical[39] = {};
  if (!StringFromGUID2(protocol, canonical, 39)) return E_INVALIDARG;
  vkr::Bstr protocolText(canonical);

  vkr::ComPtr<IXMLDOMDocument2> frameDocument;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadInformationDocument(deviceType, frameDocument.Put(), &loaded);
  if (FAILED(hr)) return hr;
  // A text that is no device-type document the FDT schemas accept names no device type.
  if (!loaded || !frameDocument) return E_INVALIDARG;
  vkr::Bstr path1, path2;
  if (FAILED(GetDevIdentInfoPath1(frameDocument.Get(), protocolText, path1.Put()))) path1.Reset();
  if (FAILED(GetDevIdentInfoPath2(frameDocument.Get(), protocolText, path2.Put()))) path2.Reset();
  vkr::Bstr templateText;
  templateText.Attach(LoadHtmlResourceText(kIdentificationTemplates, ResourceModule()));
  if (templateText.Empty()) return E_FAIL;
  vkr::ComPtr<IXMLDOMDocument2> templates;
  loaded = VARIANT_FALSE;
  hr = LoadInformationDocument(templateText, templates.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!loaded || !templates) return E_FAIL;

  vkr::Bstr text;
  hr = S_OK;
  if (!path2.Empty()) hr = GetDevIdentInfoXml(templates.Get(), path2, text.Put());
  if ((FAILED(hr) || text.Empty()) && !path1.Empty()) {
    text.Reset();
    hr = GetDevIdentInfoXml(templates.Get(), path1, text.Put());
  }
  if (text.Empty()) return hr;
  *result = text.Detach();
  return S_OK;
}

bool CovFDT_BaseDTMCore::CheckDeviceType(IXMLDOMNode* deviceType) {
  LogEntry("CheckDeviceType");
  if (!deviceType) return false;
  const std::u16string name = TextAt(deviceType, u"./fdt:VersionInformation/@name");
  if (!UsableInPath(name)) return false;
  vkr::ComPtr<IDtmInformation> self = QueryDtm<IDtmInformation>();
  if (!self) return false;
  vkr::Bstr own;
  if (self->GetInformation(nullptr, own.Put()) != S_OK || own.Empty()) return false;
  const std::u16string key = MemoKey(u'T', {m_schemaDirectory, name, own.View()});
  std::u16string kept;
  if (InformationMemo::Get().Find(key, &kept)) return kept == u"1";
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadInformationDocument(own, document.Put(), &loaded)) || !loaded || !document) return false;
  vkr::Bstr path;
  if (FAILED(FormatPath(path.Put(), u"//fdt:DtmDeviceType[ fdt:VersionInformation/@name=\"%s\" ]", {name})))
    return false;
  vkr::ComPtr<IXMLDOMNode> node;
  const HRESULT selected = document->selectSingleNode(path, node.Put());
  // A failed search says nothing about the document: not kept.
  if (FAILED(selected)) return false;
  const bool found = selected == S_OK && node;
  InformationMemo::Get().Keep(key, found ? u"1" : u"0");
  return found;
}
