// CovFDT_BaseDTMCore: the DTMParameterSchema document of IDtmParameter. GetParameters writes the
// data set's states, the device type, the tag, the bus information and the exported variables;
// SetParameters reads the tag, the bus information and the exported variables back.
//
// Exported variables are the parameters whose export kind (bits 0-1) is 1 (the display text only)
// or 2 (an FDT variant and the display text); the writer also wants status bit 0x10 and no 0x08.
// Variables are found by comparing their `name` attributes, never by pasting a name into an XPath,
// so any character may stand in a string id or group name.
//
// SetParameters takes a document over whole or not at all: every value is read and validated
// before anything is set, and a set that still fails puts back the values set before it.
#include <map>
#include <string>
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "dtm/CovFDT_BaseDTMImpl.h"
#include "parameters/CFdtVariant.h"
#include "parameters/ParameterDocuments.h"
#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::UI4;

constexpr const char16_t* kParameterNamespace = u"x-schema:DTMParameterSchema.xml";
constexpr const char16_t* kDataTypesNamespace = u"x-schema:FDTDataTypesSchema.xml";
constexpr ULONG kTagParameter = 1;
constexpr ULONG kMsgSetParametersFailed = 2001;
constexpr const char* kSetParametersFailed = "An error occurred during IDtmParameter::SetParameters";

// The document template's pieces around its six placeholders (storage state, data-set state,
// device type, tag, device text, bus information).
constexpr const char16_t* kTemplate[] = {
    (u"<?xml version=\"1.0\"?> <FDT xmlns\t\t\t\t=\"x-schema:DTMParameterSchema.xml\" \txmlns:fdt\t\t\t="
     u"\"x-schema:FDTDataTypesSchema.xml\" \tfdt:storageState\t=\""),
    u"\" \tfdt:dataSetState\t=\"",
    u"\"> \t",
    u" \t<DtmDevice fdt:tag=\"",
    u"\"> \t",
    u"\t",
    u"\t</DtmDevice> </FDT> ",
};

constexpr const char16_t* kVariablesPath = u"FDT/DtmDevice/ExportedVariables/fdt:DtmVariables//fdt:DtmVariable";

bool IsParameterState(EDtmState state) { return state >= dsCONFIGURED && state <= dsONLINE; }

// An empty text goes into a document as a single space.
std::u16string OrSpace(std::u16string_view text) { return text.empty() ? std::u16string(u" ") : std::u16string(text); }

HRESULT SetTextAttribute(IXMLDOMDocument* document, IXMLDOMNode* element, const char16_t* name,
                         std::u16string_view text) {
  vkr::Bstr attribute(name);
  vkr::Variant value;
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!attribute.Get() || !value.bstrVal) return E_OUTOFMEMORY;
  return SetXmlAttribute(document, element, attribute.Get(), value);
}

// The `name` attribute of an element; empty when it has none.
std::u16string NameOf(IXMLDOMNode* node) {
  vkr::Bstr path(u"@name"), name;
  if (FAILED(GetXmlValueBstr(name.Put(), node, path.Get()))) return {};
  return name.Str();
}

// The child `fdt:DtmVariables` of group whose name is segment; null when there is none.
HRESULT FindGroup(IXMLDOMNode* group, std::u16string_view segment, vkr::ComPtr<IXMLDOMNode>* found) {
  vkr::ComPtr<IXMLDOMNodeList> children;
  vkr::Bstr path(u"fdt:DtmVariables");
  HRESULT hr = group->selectNodes(path.Get(), children.Put());
  if (FAILED(hr)) return hr;
  LONG count = 0;
  if (!children || FAILED(children->get_length(&count))) return S_OK;
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> child;
    if (FAILED(children->get_item(i, child.Put())) || !child) continue;
    if (NameOf(child.Get()) == segment) {
      *found = child;
      return S_OK;
    }
  }
  return S_OK;
}

HRESULT AppendGroup(IXMLDOMDocument* document, IXMLDOMNode* parent, std::u16string_view name,
                    vkr::ComPtr<IXMLDOMNode>* group) {
  vkr::Bstr element(u"fdt:DtmVariables"), ns(kDataTypesNamespace);
  HRESULT hr = AppendElement(document, parent, element.Get(), ns.Get(), group->Put());
  if (FAILED(hr)) return hr;
  if (!*group) return E_POINTER;
  return SetTextAttribute(document, group->Get(), u"name", name);
}

// One exported variable of the document as SetParameters reads it.
struct SExportedVariable {
  ULONG id;
  vkr::Variant value;
};

// Whether the data set may take a value for the parameter from outside.
bool HasWriteAccess(const ParInfo& record) {
  return record.m_dwAddressed == 1 ? (record.m_dwFlags & PFL_WRITABLE) != 0 : (record.m_dwFlags & PFL_SETTABLE) != 0;
}

// The value the element gives for the record: S_OK with the value, S_FALSE when the element gives
// none the record can take (then the variable is passed over).
HRESULT ReadVariableValue(IXMLDOMNode* element, const ParInfo& record, VARIANT* value) {
  switch (record.m_dwExportKind & 3) {
    case 1: {
      vkr::Bstr path(u"fdt:Value/fdt:Display/@string");
      if (!XmlNodeExists(element, path.Get())) return S_FALSE;
      return SUCCEEDED(GetXmlValue(element, path.Get(), value, record.m_vt)) ? S_OK : S_FALSE;
    }
    case 2: {
      vkr::Bstr path(u"fdt:Value/fdt:Variant");
      vkr::ComPtr<IXMLDOMNode> variant;
      if (FAILED(element->selectSingleNode(path.Get(), variant.Put())) || !variant) return S_FALSE;
      return ReadFdtVariantXml(variant.Get(), value) == S_OK ? S_OK : S_FALSE;
    }
    default:
      return S_FALSE;
  }
}

}  // namespace

// ---- GetParameters ---------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::GetParameters(BSTR, BSTR* document) {
  LogEntry("GetParameters");
  if (!document) return E_INVALIDARG;
  if (!IsParameterState(m_eDtmState)) return S_FALSE;

  vkr::Bstr deviceText, busAddition;
  if (vkr::ComPtr<IovFdtParameterDocumentExtension> extension = QueryDtm<IovFdtParameterDocumentExtension>()) {
    HRESULT hr = extension->GetParameterDocumentTexts(deviceText.Put(), busAddition.Put());
    if (FAILED(hr)) return hr;
  } else if (vkr::ComPtr<IovFdtDtmExtension> dtmExtension = QueryDtm<IovFdtDtmExtension>()) {
    HRESULT hr = dtmExtension->GetDeviceText(deviceText.Put());
    if (FAILED(hr)) return hr;
  }

  vkr::Bstr busInformation;
  if (vkr::ComPtr<IovFdtCommClientParameterProtocol> protocol = QueryDtm<IovFdtCommClientParameterProtocol>()) {
    VARIANT_BOOL done = VARIANT_FALSE;
    HRESULT hr = protocol->GetBusInformation(busInformation.Put(), &done);
    if (FAILED(hr)) return hr;
  }

  vkr::Bstr tag;
  if (vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>()) {
    vkr::Variant value;
    HRESULT hr = handler->GetParameterValue(vkr::I4(kTagParameter), value.Ptr());
    if (FAILED(hr)) return hr;
    if (value.vt != VT_BSTR) return E_INVALIDARG;
    hr = XmlEscapeText(value.bstrVal, tag.Put());
    if (FAILED(hr)) return hr;
  }

  ULONG storage = 0;
  HRESULT hr = GetStorageStateValue(&storage);
  if (FAILED(hr)) return hr;
  const char16_t* storageText = StorageStateText(storage);
  const char16_t* dataSetText = DataSetStateText(GetDataSetState());
  if (!storageText || !dataSetText) return E_UNEXPECTED;

  // Built in UTF-16 throughout, so a tag or device text in any script keeps its characters.
  std::u16string text;
  try {
    std::u16string bus = busInformation.Empty() ? std::u16string(u" ") : busInformation.Str();
    if (!busAddition.Empty()) bus += busAddition.View();
    text = std::u16string(kTemplate[0]) + storageText + kTemplate[1] + dataSetText + kTemplate[2] +
           std::u16string(m_bstrDeviceType.View()) + kTemplate[3] + OrSpace(tag.View()) + kTemplate[4] +
           OrSpace(deviceText.View()) + kTemplate[5] + bus + kTemplate[6];
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  vkr::Bstr plain(text);
  if (!plain.Get()) return E_OUTOFMEMORY;

  vkr::ComPtr<IXMLDOMDocument2> dom;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = LoadXmlFromString(plain.Get(), dom.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!loaded || !dom) {
    // A device type or bus information that is no XML leaves nothing to add variables to.
    WriteLog(u"CovFDT_BaseDTMImpl::GetParameters(): the document does not parse; sent as formatted");
    *document = plain.Detach();
    return S_OK;
  }

  vkr::ComPtr<IXMLDOMNode> exported;
  vkr::Bstr exportedPath(u"FDT/DtmDevice/ExportedVariables");
  hr = dom->selectSingleNode(exportedPath.Get(), exported.Put());
  if (FAILED(hr)) return hr;
  if (!exported) {
    vkr::ComPtr<IXMLDOMNode> device;
    vkr::Bstr devicePath(u"FDT/DtmDevice");
    hr = dom->selectSingleNode(devicePath.Get(), device.Put());
    if (FAILED(hr)) return hr;
    if (!device) return E_FAIL;
    vkr::Bstr name(u"ExportedVariables"), ns(kParameterNamespace);
    hr = AppendElement(dom.Get(), device.Get(), name.Get(), ns.Get(), exported.Put());
    if (FAILED(hr)) return hr;
    if (!exported) return E_POINTER;
  }
  vkr::ComPtr<IXMLDOMNode> root;
  hr = AppendGroup(dom.Get(), exported.Get(), u"ExportedVariables", &root);
  if (FAILED(hr)) return hr;

  ULONG count = 0;
  hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  ULONG added = 0;
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    if (FAILED(GetParInfoAt(static_cast<LONG>(i), &record))) continue;
    if ((record.m_dwExportKind & 3) == 0 || !(record.m_dwFlags & PFL_READABLE) || (record.m_dwFlags & PFL_DISABLED))
      continue;
    if (SUCCEEDED(AddExportedVariable(dom.Get(), root.Get(), record))) ++added;
  }
  if (added == 0) {
    *document = plain.Detach();
    return S_OK;
  }
  vkr::Bstr xml;
  hr = dom->get_xml(xml.Put());
  if (FAILED(hr)) return hr;
  *document = xml.Detach();
  return hr;
}

HRESULT CovFDT_BaseDTMCore::AddExportedVariable(IXMLDOMDocument* document, IXMLDOMNode* group, const ParInfo& record) {
  if (!document || !group) return E_POINTER;
  LogEntry("AddExportedVariable");
  vkr::ComPtr<IXMLDOMNode> current(group);
  if (!record.m_bstrUnit.Empty()) {
    BSTR rest = SysAllocStringLen(record.m_bstrUnit.Get(), record.m_bstrUnit.Length());
    if (!rest) return E_OUTOFMEMORY;
    vkr::Bstr owner;
    owner.Attach(rest);
    for (;;) {
      BSTR text = owner.Detach();
      BSTR head = nullptr;
      BOOL last = TRUE;
      HRESULT hr = SplitNameAtSeparator(&text, kNameSeparators, &head, &last);
      owner.Attach(text);
      vkr::Bstr segment;
      segment.Attach(head);
      if (FAILED(hr)) return hr;
      vkr::ComPtr<IXMLDOMNode> next;
      hr = FindGroup(current.Get(), segment.View(), &next);
      if (FAILED(hr)) return hr;
      if (!next) {
        hr = AppendGroup(document, current.Get(), segment.View(), &next);
        if (FAILED(hr)) return hr;
      }
      current = next;
      if (last) break;
    }
  }
  return AddDtmVariableEntry(document, current.Get(), record);
}

HRESULT CovFDT_BaseDTMCore::AddDtmVariableEntry(IXMLDOMDocument* document, IXMLDOMNode* group, const ParInfo& record) {
  if (!document || !group) return E_POINTER;
  LogEntry("AddDtmVariableEntry");
  vkr::Bstr name(u"fdt:DtmVariable"), ns(kDataTypesNamespace);
  vkr::ComPtr<IXMLDOMNode> variable;
  HRESULT hr = AppendElement(document, group, name.Get(), ns.Get(), variable.Put());
  if (FAILED(hr)) return hr;
  if (!variable) return E_POINTER;
  hr = SetTextAttribute(document, variable.Get(), u"name", record.m_bstrStrId.View());
  if (FAILED(hr)) return hr;
  if (!record.m_bstrName.Empty()) {
    hr = SetTextAttribute(document, variable.Get(), u"descriptor", record.m_bstrName.View());
    if (FAILED(hr)) return hr;
  }
  return AddDtmVariableValue(document, variable.Get(), record);
}

HRESULT CovFDT_BaseDTMCore::AddDtmVariableValue(IXMLDOMDocument* document, IXMLDOMNode* variable,
                                                const ParInfo& record) {
  if (!document || !variable) return E_POINTER;
  LogEntry("AddDtmVariableValue");
  bool read = true, write = false;
  if (record.m_dwAddressed == 1) {
    read = (record.m_dwFlags & PFL_READABLE) != 0;
    write = (record.m_dwFlags & PFL_WRITABLE) != 0;
  } else {
    write = (record.m_dwFlags & PFL_SETTABLE) != 0;
  }
  vkr::Bstr name(u"fdt:Value"), ns(kDataTypesNamespace);
  vkr::ComPtr<IXMLDOMNode> value;
  HRESULT hr = AppendElement(document, variable, name.Get(), ns.Get(), value.Put());
  if (FAILED(hr)) return hr;
  if (!value) return E_POINTER;
  hr = SetTextAttribute(document, value.Get(), u"readAccess", read ? u"1" : u"0");
  if (SUCCEEDED(hr)) hr = SetTextAttribute(document, value.Get(), u"writeAccess", write ? u"1" : u"0");
  if (FAILED(hr)) return hr;
  switch (record.m_dwExportKind & 3) {
    case 1:
      break;
    case 2: {
      vkr::Bstr xml;
      hr = WriteFdtVariantXml(record.m_vValue.Ptr(), xml.Put());
      if (FAILED(hr)) return hr;
      // A value with no FDT variant form (S_FALSE) is still shown by its display text.
      if (hr == S_OK) {
        vkr::ComPtr<IXMLDOMNode> appended;
        hr = AppendParsedXml(document, value.Get(), xml.Get(), ns.Get(), appended.Put());
        if (FAILED(hr)) return hr;
      }
      break;
    }
    default:
      return E_FAIL;
  }
  return AddValueDisplay(document, value.Get(), record);
}

HRESULT CovFDT_BaseDTMCore::AddValueDisplay(IXMLDOMDocument* document, IXMLDOMNode* value, const ParInfo& record) {
  if (!document || !value) return E_POINTER;
  LogEntry("AddValueDisplay");
  vkr::Variant text;
  HRESULT hr = ChangeVariantType(text.Ptr(), record.m_vValue.Ptr(), VT_BSTR);
  if (FAILED(hr)) return hr;
  if (text.vt != VT_BSTR) return E_FAIL;
  vkr::Bstr name(u"fdt:Display"), ns(kDataTypesNamespace);
  vkr::ComPtr<IXMLDOMNode> display;
  hr = AppendElement(document, value, name.Get(), ns.Get(), display.Put());
  if (FAILED(hr)) return hr;
  if (!display) return E_POINTER;
  // The DOM escapes the markup characters once when the document is written.
  return SetTextAttribute(document, display.Get(), u"string",
                          std::u16string_view(text.bstrVal ? text.bstrVal : u"", SysStringLen(text.bstrVal)));
}

// ---- SetParameters ---------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::SetParameters(BSTR, BSTR xml, VARIANT_BOOL* result) {
  LogEntry("SetParameters");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!IsParameterState(m_eDtmState) || m_nUserLevel <= 1) return S_FALSE;
  if (!xml || SysStringLen(xml) == 0) return S_FALSE;

  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadDtmDocument(xml, document.Put(), &loaded)) || !loaded || !document) return S_FALSE;

  if (FAILED(LockDataset(true))) return S_FALSE;
  if (!m_bDataSetLocked) {
    UnlockDataset();
    return S_FALSE;
  }
  DelaySaveRequest(TRUE);
  const HRESULT hr = ImportExportedVariables(document.Get());
  // A refused document changed nothing, so the data set's state stays as it was.
  if (SUCCEEDED(hr)) SetDataSetState(DSS_VALID_MODIFIED);
  DelaySaveRequest(FALSE);
  UnlockDataset();
  if (SUCCEEDED(hr)) {
    *result = VARIANT_TRUE;
    return S_OK;
  }
  vkr::Bstr text;
  TranslateBaseDtmMessage(kMsgSetParametersFailed, text.Put());
  if (text.Empty())
    OnError("%s", kSetParametersFailed);
  else
    OnError("%s", vkr::Utf16ToUtf8(text.View()).c_str());
  return S_FALSE;
}

HRESULT CovFDT_BaseDTMCore::ImportExportedVariables(IXMLDOMDocument* document) {
  LogEntry("ImportExportedVariables");
  if (!document) return E_POINTER;
  vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>();
  if (!handler) return E_NOINTERFACE;
  vkr::ComPtr<IovFdtParameterValidation> validation = QueryDtm<IovFdtParameterValidation>();

  vkr::Bstr tagPath(u"FDT/DtmDevice/@fdt:tag"), tag;
  HRESULT hr = GetXmlValueBstr(tag.Put(), document, tagPath.Get());
  if (FAILED(hr)) return hr;
  vkr::Variant tagValue;
  tagValue.vt = VT_BSTR;
  tagValue.bstrVal = tag.Detach();
  if (!tagValue.bstrVal) return E_OUTOFMEMORY;

  // Check phase: read and validate every value (the tag too) before anything changes.
  if (validation) {
    ULONG word = 0;
    hr = validation->ValidateParameter(UI4(kTagParameter), tagValue, &word);
    if (FAILED(hr)) return hr;
    if (word & PFL_INVALID) return E_FAIL;
  }
  std::vector<SExportedVariable> accepted;
  vkr::ComPtr<IXMLDOMNodeList> nodes;
  vkr::Bstr variablesPath(kVariablesPath);
  hr = document->selectNodes(variablesPath.Get(), nodes.Put());
  if (FAILED(hr)) return hr;
  LONG nodeCount = 0;
  if (nodes && FAILED(nodes->get_length(&nodeCount))) nodeCount = 0;
  if (nodeCount > 0) {
    // The first variable of each name counts, as a selection by name would find it.
    std::map<std::u16string, vkr::ComPtr<IXMLDOMNode>> byName;
    for (LONG i = 0; i < nodeCount; ++i) {
      vkr::ComPtr<IXMLDOMNode> node;
      if (FAILED(nodes->get_item(i, node.Put())) || !node) continue;
      byName.emplace(NameOf(node.Get()), node);
    }
    ULONG count = 0;
    hr = GetCollectionCount(&count);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < count; ++i) {
      ParInfo record;
      hr = GetParInfoAt(static_cast<LONG>(i), &record);
      if (FAILED(hr)) return hr;
      const ULONG kind = record.m_dwExportKind & 3;
      if (kind != 1 && kind != 2) continue;
      const auto found = byName.find(record.m_bstrStrId.Str());
      if (found == byName.end()) continue;
      IXMLDOMNode* element = found->second.Get();
      SExportedVariable variable{record.m_nId, {}};
      if (ReadVariableValue(element, record, variable.value.Ptr()) != S_OK) continue;
      if (!HasWriteAccess(record)) continue;
      if (validation) {
        ULONG word = 0;
        hr = validation->ValidateParameter(UI4(record.m_nId), variable.value, &word);
        if (FAILED(hr)) return hr;
        if (word & PFL_INVALID) return E_FAIL;
      }
      accepted.push_back(std::move(variable));
    }
  }

  if (vkr::ComPtr<IovFdtCommClientParameterProtocol> protocol = QueryDtm<IovFdtCommClientParameterProtocol>()) {
    VARIANT_BOOL done = VARIANT_FALSE;
    hr = protocol->SetBusInformation(document, &done);
    if (FAILED(hr)) return hr;
    if (!done) return E_FAIL;
  }

  // Set phase. The values replaced so far are kept, so that a set that fails puts them back.
  std::vector<SExportedVariable> replaced;
  auto restore = [&]() {
    for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) handler->SetParameterValue(UI4(it->id), it->value);
  };
  auto set = [&](ULONG id, const VARIANT& value) -> HRESULT {
    SExportedVariable old{id, {}};
    HRESULT r = handler->GetParameterValue(UI4(id), old.value.Ptr());
    if (FAILED(r)) return r;
    r = handler->SetParameterValue(UI4(id), value);
    if (FAILED(r)) return r;
    replaced.push_back(std::move(old));
    return S_OK;
  };
  hr = set(kTagParameter, tagValue);
  if (FAILED(hr)) {
    restore();
    return hr;
  }
  for (const SExportedVariable& variable : accepted) {
    // A relation of a value set before may have taken the access away.
    ParInfo record;
    hr = GetParInfoById(variable.id, &record);
    if (SUCCEEDED(hr) && !HasWriteAccess(record)) continue;
    if (SUCCEEDED(hr)) hr = set(variable.id, variable.value);
    if (FAILED(hr)) {
      restore();
      return hr;
    }
  }
  return S_OK;
}
