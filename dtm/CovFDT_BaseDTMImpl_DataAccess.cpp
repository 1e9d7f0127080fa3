// Single device data access: the item list of the data set, the reads and writes of item values on
// the data set (IDtmSingleInstanceDataAccess), and the frame's asynchronous requests on the device
// (IDtmSingleDeviceDataAccess), which the DTM thread hands back as jobs 24 to 27 (IovSdaHandler)
// and whose answers go to the frame's IDtmSingleDeviceDataAccessEvents.
//
// A request the frame was told it may expect an answer to is always answered: when the DTM cannot
// serve it any more (the state changed, the document does not read), the frame gets the items with
// their error, or an empty list, rather than waiting for ever. Ids and time stamps that come from a
// request are escaped into the answer.
#include <string>
#include <utility>
#include <vector>

#include "dtm/CovFDT_BaseDTMImpl.h"
#include "include/CommunicationInterfaces.h"
#include "include/DtmMessages.h"
#include "parameters/CFdtVariant.h"
#include "parameters/DataAccessDocuments.h"
#include "parameters/EnumList.h"
#include "parameters/ParameterDocuments.h"
#include "xml/Log.h"
#include "xml/WaitWithMessageLoop.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::I4;
using vkr::TextVariant;
using vkr::UI4;

constexpr ULONG kUserLevelObserver = 1;
// Bit 0x2000 of the fifth word (the export kind) offers a parameter as an item.
constexpr ULONG kItemListed = 0x2000;
// The validation's result bit of a refused value.
constexpr ULONG kValueRefused = PFL_INVALID;

std::u16string_view BstrView(BSTR s) { return {s ? s : u"", SysStringLen(s)}; }
bool HasText(BSTR s) { return SysStringLen(s) > 0; }

bool IsListed(const ParInfo& r) { return (r.m_dwExportKind & kItemListed) && !(r.m_dwFlags & PFL_DISABLED); }
bool IsReadable(const ParInfo& r) { return (r.m_dwFlags & PFL_READABLE) && !(r.m_dwFlags & PFL_DISABLED); }
// "bad" only for an item that can be read and holds a value its definition refuses.
bool IsGoodQuality(const ParInfo& r) { return !(IsReadable(r) && (r.m_dwFlags & PFL_INVALID)); }

std::u16string Escape(std::u16string_view text) {
  vkr::Bstr in(text), out;
  if (FAILED(XmlEscapeText(in.Get(), out.Put()))) return std::u16string();
  return out.Str();
}

// The value as an fdt:Variant element; the invalidValue error for a value that has none.
std::u16string VariantPayload(const VARIANT& value) {
  vkr::Bstr xml;
  if (WriteFdtVariantXml(&value, xml.Put()) != S_OK) return kItemErrorInvalidValue;
  return xml.Str();
}

// The nodes the path selects in the document (none when it selects nothing).
std::vector<vkr::ComPtr<IXMLDOMNode>> SelectAll(IXMLDOMNode* document, const char16_t* xpath) {
  std::vector<vkr::ComPtr<IXMLDOMNode>> out;
  vkr::Bstr path(xpath);
  vkr::ComPtr<IXMLDOMNodeList> nodes;
  if (FAILED(document->selectNodes(path.Get(), nodes.Put())) || !nodes) return out;
  LONG count = 0;
  if (FAILED(nodes->get_length(&count))) return out;
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (SUCCEEDED(nodes->get_item(i, node.Put())) && node) out.push_back(std::move(node));
  }
  return out;
}

// The id of an item element: its text (found false when the attribute is missing) and its number
// (numeric false when the text is no parameter id).
struct ItemId {
  bool found = false;
  vkr::Bstr text;
  bool numeric = false;
  ULONG number = 0;
};
ItemId ReadItemId(IXMLDOMNode* node) {
  ItemId id;
  vkr::Bstr path(u"@fdt:id");
  id.found = SUCCEEDED(GetXmlValueBstr(id.text.Put(), node, path.Get()));
  if (id.found) id.numeric = SUCCEEDED(GetXmlValueUI4(&id.number, node, path.Get()));
  return id;
}

// The item's own time stamp ("./TimeStamp/@fdt:time"); empty when it has none.
std::u16string RequestTimeStamp(IXMLDOMNode* node) {
  vkr::Bstr path(u"./TimeStamp/@fdt:time"), text;
  if (FAILED(GetXmlValueBstr(text.Put(), node, path.Get()))) return std::u16string();
  return text.Str();
}

// The value of the item's "./fdt:Variant": S_OK with the value, anything else when it has none
// that reads.
HRESULT RequestValue(IXMLDOMNode* node, VARIANT* value) {
  vkr::Bstr path(u"./fdt:Variant");
  vkr::ComPtr<IXMLDOMNode> variant;
  if (FAILED(node->selectSingleNode(path.Get(), variant.Put())) || !variant) return S_FALSE;
  return ReadFdtVariantXml(variant.Get(), value);
}

HRESULT MakeBstr(const std::u16string& text, BSTR* out) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

// ---- The frame's calls -------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::ItemListRequest(BSTR invokeId) {
  LogEntry("ItemListRequest");
  if (!HasText(invokeId) || m_nUserLevel <= kUserLevelObserver) return S_FALSE;
  if (m_eDtmState != dsCONFIGURED && m_eDtmState != dsCOMMUNICATIONSET && m_eDtmState != dsGOINGONLINE &&
      m_eDtmState != dsONLINE)
    return S_FALSE;
  return ExecuteJob(kJobItemListRequest, TextVariant(invokeId));
}

HRESULT CovFDT_BaseDTMCore::ReadRequest(BSTR invokeId, BSTR itemSelectionList) {
  if (!HasText(invokeId) || !HasText(itemSelectionList)) return S_FALSE;
  LogEntry("ReadRequest");
  return DeviceDataRequest(kJobReadRequest, invokeId, itemSelectionList);
}

HRESULT CovFDT_BaseDTMCore::WriteRequest(BSTR invokeId, BSTR itemList) {
  // An empty document is passed on: its answer is an empty list.
  if (!HasText(invokeId)) return S_FALSE;
  LogEntry("WriteRequest");
  return DeviceDataRequest(kJobWriteRequest, invokeId, itemList);
}

HRESULT CovFDT_BaseDTMCore::DeviceDataRequest(ULONG job, BSTR invokeId, BSTR document) {
  if (m_eDtmState == dsGOINGOFFLINE) WaitWithMessageLoop(m_hStateSettled, m_dwOnlineTimeout);
  if (m_nUserLevel <= kUserLevelObserver) return S_FALSE;
  if (m_eDtmState != dsONLINE && m_eDtmState != dsGOINGONLINE && m_eDtmState != dsCOMMUNICATIONSET) return S_FALSE;
  VARIANT_BOOL verified = VARIANT_FALSE;
  TryToGoOnlineAndVerifyDevice(m_dwOnlineTimeout, m_dwVerificationTimeout, &verified);
  if (!verified) return S_FALSE;
  SovFDT_InstanceDataRequest request;
  request.bstrInvokeId = vkr::Bstr(invokeId);
  request.bstrDocument = vkr::Bstr(BstrView(document));
  vkr::Variant packed;
  if (!request.Pack(&packed)) return E_OUTOFMEMORY;
  return ExecuteJob(job, packed);
}

HRESULT CovFDT_BaseDTMCore::CancelRequest(BSTR invokeId, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  LogEntry("CancelRequest");
  *result = VARIANT_FALSE;
  if (!HasText(invokeId) || m_nUserLevel <= kUserLevelObserver) return S_FALSE;
  if (m_eDtmState != dsCOMMUNICATIONSET && m_eDtmState != dsGOINGONLINE && m_eDtmState != dsONLINE) return S_FALSE;
  const HRESULT hr = ExecuteJob(kJobCancelRequest, TextVariant(invokeId));
  if (FAILED(hr)) return hr;
  *result = VARIANT_TRUE;
  return hr;
}

// ---- The item list -----------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::CreateItemListEntry(const ParInfo& record, BSTR* entry) {
  if (!entry) return S_FALSE;
  LogEntry("CreateItemListEntry");
  *entry = nullptr;
  vkr::Bstr dataType;
  HRESULT hr = VarTypeToFdtDataType(record.m_vt, dataType.Put());
  if (FAILED(hr)) return hr;

  std::u16string attributes;
  if (SysStringLen(record.m_bstrDescription) > 0)
    attributes += u" fdt:descriptor=\"" + Escape(record.m_bstrDescription.View()) + u"\"";
  if (!(record.m_dwFlags & PFL_READABLE)) attributes += u" fdt:readAccess=\"0\"";
  if (record.m_dwFlags & PFL_WRITABLE) attributes += u" fdt:writeAccess=\"1\"";

  // What the protocol says about the item; a blank when it says nothing.
  std::u16string protocol = u" ";
  if (vkr::ComPtr<IovFdtCommClientParameterProtocol> client = QueryDtm<IovFdtCommClientParameterProtocol>()) {
    vkr::Bstr text;
    if (SUCCEEDED(client->GetParameterProtocolInfo(UI4(record.m_nId), text.Put())) && !text.Empty())
      protocol = text.Str();
  }

  vkr::Bstr kinds;
  hr = ItemKindText(record.m_dwItemKinds, kinds.Put());
  if (FAILED(hr)) return hr;

  std::u16string unit;
  auto enumerator = [&unit](LONG index, std::u16string_view name) {
    unit = u"\t<UnitDescription>\n\t\t<fdt:EnumeratorEntry index=\"" + vkr::Utf8ToUtf16(std::to_string(index)) +
           u"\" name=\"" + Escape(name) + u"\"/>\n\t</UnitDescription>\n";
  };
  if (record.m_vFurther.vt == VT_BSTR) {
    enumerator(0, BstrView(record.m_vFurther.bstrVal));
  } else if (record.m_vFurther.vt == VT_UI4) {
    // The id of the parameter that holds the unit.
    const ULONG unitId = record.m_vFurther.ulVal;
    vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>();
    ParInfo unitRecord;
    if (handler && SUCCEEDED(handler->GetParInfoById(unitId, &unitRecord))) {
      if (IsListed(unitRecord)) {
        unit = u"\t<UnitDescription>\n\t\t<ItemReference fdt:idref=\"" + vkr::Utf8ToUtf16(std::to_string(unitId)) +
               u"\"/>\n\t</UnitDescription>\n";
      } else if (unitRecord.m_vt == VT_BSTR) {
        enumerator(0, unitRecord.m_vValue.vt == VT_BSTR ? BstrView(unitRecord.m_vValue.bstrVal) : u"");
      } else if (unitRecord.m_nKind & PK_ENUMERATION) {
        vkr::Variant list, value;
        vkr::ComPtr<IovFdtParameterInfo> info = QueryDtm<IovFdtParameterInfo>();
        LONG current = 0;
        const bool haveList = info && SUCCEEDED(info->GetParameterField(UI4(unitId), I4(PIF_ENUM_LIST), list.Put()));
        if (unitRecord.m_vValue.vt == VT_BOOL) {
          current = unitRecord.m_vValue.boolVal ? 1 : 0;
        } else if (SUCCEEDED(VariantChangeType(value.Ptr(), &unitRecord.m_vValue, 0, VT_I4))) {
          current = value.lVal;
        }
        ULONG index = 0;
        vkr::Bstr label;
        if (haveList && FindEnumListEntryByValue(list, current, &index, label.Put()))
          enumerator(static_cast<LONG>(index), label.View());
      }
    }
  }

  std::u16string ranges;
  if (record.m_nKind != PK_ENUMERATION && record.m_nKind != PK_BIT_ENUMERATION &&
      IsVariantDifferent(record.m_vMax, record.m_vMin)) {
    vkr::Bstr lower, upper;
    if (RangeValueXml(record.m_vMin, lower.Put()) == S_OK && RangeValueXml(record.m_vMax, upper.Put()) == S_OK)
      ranges = u"\t<RangeDescriptions>\n\t\t<RangeDescription>\n\t\t\t<LowerRangeDescription>\n\t\t\t\t" +
               lower.Str() + u"\n\t\t\t</LowerRangeDescription>\n\t\t\t<UpperRangeDescription>\n\t\t\t\t" +
               upper.Str() + u"\n\t\t\t</UpperRangeDescription>\n\t\t</RangeDescription>\n\t</RangeDescriptions>\n";
  }

  const std::u16string text = u"<DtmItemInfo fdt:id=\"" + vkr::Utf8ToUtf16(std::to_string(record.m_nId)) +
                              u"\" fdt:name=\"" + Escape(record.m_bstrName.View()) + u"\" fdt:dataType=\"" +
                              dataType.Str() + u"\" itemType=\"specific\" " + attributes + u">\n" + protocol +
                              kinds.Str() + unit + ranges + u"</DtmItemInfo>\n";
  return MakeBstr(text, entry);
}

HRESULT CovFDT_BaseDTMCore::BuildItemInfoList(std::u16string* document) {
  *document = kItemInfoListHead;
  HRESULT result = S_OK;
  if (vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>()) {
    ULONG count = 0;
    result = handler->GetCollectionCount(&count);
    for (ULONG i = 0; SUCCEEDED(result) && i < count; ++i) {
      ParInfo record;
      // A record that cannot be read, or not be written as an entry, is left out.
      if (FAILED(handler->GetParInfoAt(static_cast<LONG>(i), &record)) || !IsListed(record)) continue;
      vkr::Bstr entry;
      if (CreateItemListEntry(record, entry.Put()) == S_OK) *document += entry.View();
    }
  }
  *document += kItemInfoListTail;
  return result;
}

HRESULT CovFDT_BaseDTMCore::GetItemList(BSTR* itemList) {
  LogEntry("GetItemList");
  if (!itemList) return S_FALSE;
  *itemList = nullptr;
  if (m_nUserLevel <= kUserLevelObserver || m_eDtmState < dsCONFIGURED || m_eDtmState > dsONLINE) return S_FALSE;
  std::u16string document;
  const HRESULT hr = BuildItemInfoList(&document);
  if (FAILED(hr)) return hr;
  return MakeBstr(document, itemList);
}

HRESULT CovFDT_BaseDTMCore::HandleItemListRequest(BSTR invokeId) {
  LogEntry("HandleItemListRequest");
  std::u16string document;
  // A collection that cannot be counted still answers the frame, with an empty list.
  if (FAILED(BuildItemInfoList(&document))) document = std::u16string(kItemInfoListHead) + kItemInfoListTail;
  return SendDataAccessResponse(DataAccessAnswer::ItemList, invokeId, document);
}

// ---- Reading -----------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::Read(BSTR itemSelectionList, BSTR* itemList) {
  LogEntry("Read");
  if (!HasText(itemSelectionList) || !itemList) return S_FALSE;
  *itemList = nullptr;
  if (m_nUserLevel <= kUserLevelObserver) return S_FALSE;
  if (m_eDtmState != dsCONFIGURED && m_eDtmState != dsCOMMUNICATIONSET && m_eDtmState != dsGOINGONLINE &&
      m_eDtmState != dsONLINE)
    return S_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadDtmDocument(itemSelectionList, document.Put(), &loaded)) || !loaded || !document) return S_FALSE;
  vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>();
  std::u16string answer = kItemListHead;
  for (const auto& node : SelectAll(document.Get(), u"//DtmItemSelection")) {
    const ItemId id = ReadItemId(node.Get());
    if (!id.found) continue;
    ParInfo record;
    const bool known = id.numeric && handler && SUCCEEDED(handler->GetParInfoById(id.number, &record));
    const bool readable = known && IsReadable(record);
    const std::u16string payload = readable ? VariantPayload(record.m_vValue) : kItemErrorInvalidValue;
    const HRESULT hr =
        AppendDtmItem(&answer, id.text.View(), GetXmlTimeStamp(), !known || IsGoodQuality(record), payload);
    if (FAILED(hr)) return hr;
  }
  answer += kItemListTail;
  return MakeBstr(answer, itemList);
}

HRESULT CovFDT_BaseDTMCore::HandleReadRequest(VARIANT packedRequest) {
  LogEntry("HandleReadRequest");
  SovFDT_InstanceDataRequest request;
  if (packedRequest.vt != (VT_ARRAY | VT_VARIANT) || !request.Unpack(packedRequest)) return S_FALSE;
  std::u16string answer = kItemListHead;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const bool readsDocument = !request.bstrDocument.Empty() &&
                             SUCCEEDED(LoadDtmDocument(request.bstrDocument, document.Put(), &loaded)) && loaded &&
                             document;
  // Served from the device only while the DTM can reach it; the items say when it cannot.
  const bool admitted = m_nUserLevel != 0 && (m_eDtmState == dsCOMMUNICATIONSET ||
                                               m_eDtmState == dsGOINGONLINE || m_eDtmState == dsONLINE);
  if (readsDocument) {
    vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>();
    vkr::ComPtr<IovFdtParameterInfo> info = QueryDtm<IovFdtParameterInfo>();
    for (const auto& node : SelectAll(document.Get(), u"//DtmItemSelection")) {
      const ItemId id = ReadItemId(node.Get());
      if (!id.found) continue;
      ParInfo record;
      const bool known = id.numeric && handler && SUCCEEDED(handler->GetParInfoById(id.number, &record));
      bool good = !known || IsGoodQuality(record);
      std::u16string payload = kItemErrorInvalidValue;
      if (!admitted || m_eDtmState != dsONLINE) {
        good = false;
        payload = kItemErrorNoConnection;
      } else if (known && IsReadable(record)) {
        VARIANT_BOOL ok = VARIANT_FALSE;
        vkr::Variant value;
        // A device value that cannot be fetched leaves the item without a value, not the request
        // without an answer.
        if (SUCCEEDED(handler->ReadDeviceParameterEx(UI4(id.number), &ok)) && ok && info &&
            SUCCEEDED(info->GetParameterField(UI4(id.number), I4(PIF_DEV_VALUE), value.Put())))
          payload = VariantPayload(value);
      }
      const HRESULT hr = AppendDtmItem(&answer, id.text.View(), GetXmlTimeStamp(), good, payload);
      if (FAILED(hr)) return hr;
    }
  }
  answer += kItemListTail;
  const HRESULT sent = SendDataAccessResponse(DataAccessAnswer::Read, request.bstrInvokeId, answer);
  return readsDocument && admitted ? sent : S_FALSE;
}

// ---- Writing -----------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::Write(BSTR itemList, BSTR* answer) {
  if (!HasText(itemList) || !answer) return S_FALSE;
  *answer = nullptr;
  if (m_nUserLevel <= kUserLevelObserver) return S_FALSE;
  if (m_eDtmState != dsONLINE && m_eDtmState != dsCONFIGURED && m_eDtmState != dsGOINGONLINE &&
      m_eDtmState != dsCOMMUNICATIONSET)
    return S_FALSE;
  LogEntry("Write");
  if (FAILED(LockDataset(true))) return S_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadDtmDocument(itemList, document.Put(), &loaded)) || !loaded || !document) {
    UnlockDataset();
    return S_FALSE;
  }
  vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>();
  vkr::ComPtr<IovFdtParameterValidation> validation = QueryDtm<IovFdtParameterValidation>();
  std::u16string text = kItemListHead;
  HRESULT hr = S_OK;
  for (const auto& node : SelectAll(document.Get(), u"//DtmItem")) {
    const ItemId id = ReadItemId(node.Get());
    ParInfo record;
    const bool known = id.numeric && handler && SUCCEEDED(handler->GetParInfoById(id.number, &record));
    if (!m_bDataSetLocked) {
      hr = AppendDtmItem(&text, id.text.View(), RequestTimeStamp(node.Get()), false, kItemErrorNoLock);
    } else if (!known) {
      // An id that is no number, or names no parameter.
      hr = AppendDtmItem(&text, id.text.View(), RequestTimeStamp(node.Get()), false, kItemErrorInvalidValue);
    } else {
      // Whether the data set takes the value is the parameter's settable flag alone: an item
      // the frame may write but not read back is still written.
      vkr::Variant value;
      if (!XmlNodeExists(node.Get(), vkr::Bstr(u"./fdt:Variant"))) {
        hr = AppendDtmItem(&text, id.text.View(), RequestTimeStamp(node.Get()), false, kItemErrorInvalidValue);
      } else if (RequestValue(node.Get(), &value) != S_OK) {
        continue;  // a value that does not read gets no entry
      } else {
        bool writable = (record.m_dwFlags & PFL_SETTABLE) && !(record.m_dwFlags & PFL_DISABLED);
        ULONG word = 0;
        if (validation && SUCCEEDED(validation->ValidateParameter(UI4(id.number), value, &word)) &&
            (word & kValueRefused))
          writable = false;
        if (writable) {
          const bool set = SUCCEEDED(handler->SetParameterValue(UI4(id.number), value));
          vkr::Variant now;
          const std::u16string payload =
              SUCCEEDED(handler->GetParameterValue(UI4(id.number), now.Put())) ? VariantPayload(now)
                                                                                : std::u16string(kItemErrorInvalidValue);
          hr = AppendDtmItem(&text, id.text.View(), GetXmlTimeStamp(), set, payload);
        } else {
          hr = AppendDtmItem(&text, id.text.View(), GetXmlTimeStamp(), false, kItemErrorInvalidValue);
        }
      }
    }
    if (FAILED(hr)) break;
  }
  text += kItemListTail;
  UnlockDataset();
  if (FAILED(hr)) return hr;
  return MakeBstr(text, answer);
}

HRESULT CovFDT_BaseDTMCore::HandleWriteRequest(VARIANT packedRequest) {
  LogEntry("HandleWriteRequest");
  SovFDT_InstanceDataRequest request;
  if (packedRequest.vt != (VT_ARRAY | VT_VARIANT) || !request.Unpack(packedRequest)) return S_FALSE;
  std::u16string answer = kItemListHead;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  const bool readsDocument = !request.bstrDocument.Empty() &&
                             SUCCEEDED(LoadDtmDocument(request.bstrDocument, document.Put(), &loaded)) && loaded &&
                             document;
  const bool admitted = m_nUserLevel > kUserLevelObserver && (m_eDtmState == dsCOMMUNICATIONSET ||
                                                              m_eDtmState == dsGOINGONLINE || m_eDtmState == dsONLINE);
  HRESULT hr = S_OK;
  if (readsDocument) {
    vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>();
    vkr::ComPtr<IovFdtParameterInfo> info = QueryDtm<IovFdtParameterInfo>();
    vkr::ComPtr<IovFdtParameterValidation> validation = QueryDtm<IovFdtParameterValidation>();
    // A write takes the other members of its transaction from the data set. What this request
    // wrote stands in the data set until the request ends, so that a later member of the same
    // command does not write an earlier one back to its old value; then the data set is restored.
    struct Standing {
      ULONG id;
      vkr::Variant original;
      vkr::Variant written;
    };
    std::vector<Standing> standing;
    for (const auto& node : SelectAll(document.Get(), u"//DtmItem")) {
      const ItemId id = ReadItemId(node.Get());
      ParInfo record;
      const bool known = id.numeric && handler && SUCCEEDED(handler->GetParInfoById(id.number, &record));
      bool writable = known && (record.m_dwFlags & PFL_WRITABLE) && !(record.m_dwFlags & PFL_DISABLED);
      vkr::Variant value;
      if (RequestValue(node.Get(), &value) != S_OK) continue;  // no value, no entry
      ULONG word = 0;
      if (writable && validation && SUCCEEDED(validation->ValidateParameter(UI4(id.number), value, &word)) &&
          (word & kValueRefused))
        writable = false;
      bool good = false;
      std::u16string payload = kItemErrorInvalidValue;
      if (!admitted || m_eDtmState != dsONLINE) {
        payload = kItemErrorNoConnection;
      } else if (writable) {
        VARIANT_BOOL ok = VARIANT_FALSE;
        vkr::Variant now;
        // The frame's write changes the device, not the data set (a user interface's would).
        auto* framework = dynamic_cast<CovFDT_ParameterHandlerImpl*>(handler.Get());
        if (framework) framework->BeginDeviceAccess();
        const HRESULT written = handler->WriteDeviceParameterEx(UI4(id.number), value, &ok);
        if (framework) framework->EndDeviceAccess();
        if (SUCCEEDED(written) && ok &&
            SUCCEEDED(handler->ReadDeviceParameterEx(UI4(id.number), &ok)) && ok && info &&
            SUCCEEDED(info->GetParameterField(UI4(id.number), I4(PIF_DEV_VALUE), now.Put()))) {
          payload = VariantPayload(now);
          good = payload != kItemErrorInvalidValue;
          vkr::Variant original;
          if (good && SUCCEEDED(handler->GetValueById(id.number, original.Ptr())) &&
              SUCCEEDED(handler->SetValueById(id.number, now))) {
            standing.push_back({id.number, std::move(original), vkr::Variant(now)});
          }
        }
      }
      hr = AppendDtmItem(&answer, id.text.View(), GetXmlTimeStamp(), good, payload);
      if (FAILED(hr)) break;
    }
    // Back to what the data set held, newest first (an id written twice keeps its first original);
    // a value someone else set meanwhile stays.
    for (auto it = standing.rbegin(); it != standing.rend(); ++it) {
      vkr::Variant current;
      if (SUCCEEDED(handler->GetValueById(it->id, current.Ptr())) && IsVariantEqual(current, it->written))
        handler->SetValueById(it->id, it->original);
    }
  }
  if (FAILED(hr)) return hr;
  answer += kItemListTail;
  const HRESULT sent = SendDataAccessResponse(DataAccessAnswer::Write, request.bstrInvokeId, answer);
  return readsDocument && admitted ? sent : S_FALSE;
}

// ---- Cancel and the answers --------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::HandleCancelRequest(VARIANT) {
  // The requests run one after the other on the DTM thread; each is answered when it ends.
  LogEntry("HandleCancelRequest");
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SendDataAccessResponse(DataAccessAnswer kind, BSTR invokeId,
                                                   const std::u16string& document) {
  vkr::ComPtr<IDtmSingleDeviceDataAccessEvents> events;
  if (!m_pContainer || FAILED(m_pContainer->QueryInterface(IDtmSingleDeviceDataAccessEvents::iid, events.PutVoid())) ||
      !events) {
    return S_OK;  // a frame without the interface takes no answers
  }
  vkr::Bstr text(document);
  if (!text.Get()) return E_OUTOFMEMORY;
  switch (kind) {
    case DataAccessAnswer::ItemList: return events->OnItemListResponse(invokeId, text);
    case DataAccessAnswer::Read: return events->OnReadResponse(invokeId, text);
    case DataAccessAnswer::Write: return events->OnWriteResponse(invokeId, text);
  }
  return E_UNEXPECTED;
}
