// The protocol objects' requests and responses: the request documents and packed records of single
// parameters, parameter lists, connect and disconnect; the reading of the frame's answers and the
// spreading of a transaction's response bytes over every parameter of its transaction group.
//
// The tables (entries and groups), the value codecs and the records are built elsewhere; this file
// only reads them. Every request carries the packed HARTTransactRequestInfo that lets its answer be
// matched back to the parameter that asked.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "communication/HartCodecs.h"
#include "communication/HartRecords.h"
#include "communication/HartResponseTexts.h"
#include "communication/MyHartProtocol.h"
#include "communication/TextMemo.h"
#include "include/DtmInterfaces.h"
#include "include/IovFDTParamList.h"
#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/ParInfo.h"
#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::Bstr;
using vkr::ComPtr;
using vkr::Variant;

// Parameter ids the connect request reads.
constexpr ULONG kTagId = 1;
constexpr ULONG kAddressingTypeId = 120;
constexpr ULONG kShortAddressId = 121;
constexpr ULONG kLongAddressFirstId = 122;  // 122..126: manufacturer, device type, address 1..3

// The value kind of a text that travels as HART Packed ASCII.
constexpr USHORT kPackedAsciiKind = 4;

// HART request data never exceeds what the hex codec takes; a table that asks for more is refused
// before anything is allocated.
constexpr std::uint64_t kMaxRequestBytes = 256;

// Request-data building differs between the framework's HART class, the device class and the
// protocol-neutral base.
enum class RequestDataStyle { Base, Hart, Device };

Variant NormalId(const VARIANT& id) {
  Variant out;
  ULONG n = 0;
  if (IntegerParameterId(id, &n)) {
    out.vt = VT_UI4;
    out.ulVal = n;
  } else {
    VariantCopy(&out, &id);
  }
  return out;
}

bool SameId(const VARIANT& a, const VARIANT& b) {
  ULONG x = 0, y = 0;
  if (IntegerParameterId(a, &x) && IntegerParameterId(b, &y)) return x == y;
  return IsVariantEqual(a, b);
}

HRESULT QueryInfo(IovFdtParameterHandler4* handler, ComPtr<IovFdtParameterInfo>* info) {
  if (!handler) return E_POINTER;
  HRESULT hr = handler->QueryInterface(IovFdtParameterInfo::iid, info->PutVoid());
  if (SUCCEEDED(hr) && !*info) hr = E_NOINTERFACE;
  return hr;
}

HRESULT GetField(IovFdtParameterInfo* info, const VARIANT& id, ULONG mask, VARIANT* out) {
  VariantClear(out);
  return info->GetParameterField(id, vkr::UI4(mask), out);
}

// A field that holds a small number (VARTYPE, value kind), as VT_UI2.
HRESULT GetUShortField(IovFdtParameterInfo* info, const VARIANT& id, ULONG mask, USHORT* out) {
  Variant v;
  HRESULT hr = GetField(info, id, mask, &v);
  if (FAILED(hr)) return hr;
  Variant converted;
  hr = VariantChangeType(&converted, &v, 0, VT_UI2);
  if (FAILED(hr)) return hr;
  *out = converted.uiVal;
  return S_OK;
}

HRESULT GetULongField(IovFdtParameterInfo* info, const VARIANT& id, ULONG mask, ULONG* out) {
  Variant v;
  HRESULT hr = GetField(info, id, mask, &v);
  if (FAILED(hr)) return hr;
  return VariantToULong(&v, out);
}

// Gives a request info the communication reference; E_OUTOFMEMORY when the copy cannot be made
// (a request without its reference would be refused by the frame).
HRESULT GiveReference(baseRequestInfo& info, BSTR reference) {
  info.SetCommunicationReference(reference);
  return reference && !info.m_bstrCommunicationReference.Get() ? E_OUTOFMEMORY : S_OK;
}

// Tells the parameter handler about a device answer (nothing without a handler).
void Report(IovFdtParameterHandler4* handler, VARIANT_BOOL success, const VARIANT& id, const VARIANT& data,
            const char16_t* text) {
  if (!handler) return;
  Bstr t;
  if (text) t = Bstr(text);
  handler->HandleDevParResponse(success, id, data, t);
}

// The members of a group that have entries, with their extent in the request data of the write.
std::uint64_t WriteExtent(const CovFDT_BaseProtocolImpl& protocol, const SovFDT_TransactionGroup& group) {
  std::uint64_t bits = 0;
  for (const Variant& member : group.members) {
    if (const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(member))
      bits = std::max<std::uint64_t>(bits, std::uint64_t{entry->nWriteBitOffset} + entry->nBitLength);
  }
  return bits;
}

// A requested member that the response cannot answer: the member has been told, the transaction
// fails with this result.
constexpr HRESULT kRequestedMemberNotAnswered = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

bool ContainsId(const std::vector<Variant>& ids, const VARIANT& id) {
  return std::any_of(ids.begin(), ids.end(), [&](const Variant& other) { return SameId(other, id); });
}

// What a transaction of the group for `id` asks for: the parameter itself and, while a list
// transfer is built, every member of the group that the list names.
std::vector<Variant> AskedMembers(const CovFDT_BaseProtocolImpl& protocol, const SovFDT_TransactionGroup& group,
                                  const VARIANT& id) {
  std::vector<Variant> asked{NormalId(id)};
  if (const std::vector<Variant>* list = protocol.GetTransferListMembers()) {
    for (const Variant& member : group.members)
      if (ContainsId(*list, member) && !ContainsId(asked, member)) asked.push_back(NormalId(member));
  }
  return asked;
}

// Sets a protocol member for the lifetime of the guard and gives back its old value after.
template <typename T>
class ScopedValue {
 public:
  ScopedValue(T& target, T value) : m_target(target), m_old(std::move(target)) { m_target = std::move(value); }
  ~ScopedValue() { m_target = std::move(m_old); }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  T& m_target;
  T m_old;
};

// The values of one response reach the DTM thread in one message (see BeginResponseBatch); with
// another handler than the framework's, one message per value as before.
class ResponseBatch {
 public:
  explicit ResponseBatch(IovFdtParameterHandler4* handler)
      : m_handler(dynamic_cast<CovFDT_ParameterHandlerImpl*>(handler)) {
    if (m_handler) m_handler->BeginResponseBatch();
  }
  ~ResponseBatch() {
    if (m_handler) m_handler->EndResponseBatch();
  }
  ResponseBatch(const ResponseBatch&) = delete;
  ResponseBatch& operator=(const ResponseBatch&) = delete;

 private:
  CovFDT_ParameterHandlerImpl* m_handler;
};

// One HARTAddress element of a protocol address text.
struct HartAddressInfo {
  BYTE command = 0;
  Bstr requestData;
  ULONG commandBitLength = 0;
};

// The read or write HARTAddress of an address text: a parameter's AddressInformation (below
// `root`) or a group's protocol address (root empty).
HRESULT ReadHartAddressFromText(const VARIANT& text, const char16_t* root, bool write, HartAddressInfo* out) {
  if (text.vt != VT_BSTR) return E_INVALIDARG;
  ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(text.bstrVal, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!document || !loaded) return E_FAIL;
  std::u16string path(root);
  path += write ? u"Protocol[@id=\"036D1498-387B-11D4-86E1-00E0987270B9\"]/HARTAddress[@service = \"write\"]"
                : u"Protocol[@id=\"036D1498-387B-11D4-86E1-00E0987270B9\"]/HARTAddress[@service = \"read\"]";
  // A path text that cannot be made would read as "not there" and drop the request data.
  const Bstr elementPath(path), command(u"@command"), bitLength(u"@commandBitLength"), data(u"@requestData");
  if (!elementPath.Get() || !command.Get() || !bitLength.Get() || !data.Get()) return E_OUTOFMEMORY;
  ComPtr<IXMLDOMNode> element;
  hr = document->selectSingleNode(elementPath, element.Put());
  if (FAILED(hr)) return hr;
  if (!element) return E_INVALIDARG;
  hr = GetXmlValueUI1(&out->command, element, command);
  if (FAILED(hr)) return hr;
  if (write) {
    hr = GetXmlValueUI4(&out->commandBitLength, element, bitLength);
    if (FAILED(hr)) return hr;
  }
  bool found = false;
  return GetXmlString(out->requestData.Put(), &found, element, data);
}

// What one address text gave, kept for the next request of any DTM with the same text.
struct KeptHartAddress {
  HRESULT hr = S_OK;
  BYTE command = 0;
  std::u16string requestData;
  bool hasRequestData = false;
  ULONG commandBitLength = 0;
};
struct KeptHartAddressTag;

HRESULT ReadHartAddress(const VARIANT& text, const char16_t* root, bool write, HartAddressInfo* out) {
  if (text.vt != VT_BSTR) return E_INVALIDARG;
  std::u16string key(write ? u"w|" : u"r|");
  key += root;
  key += u'|';
  key += vkr::View(text.bstrVal);
  TextMemo<KeptHartAddress>& memo = SharedMemo<KeptHartAddress, KeptHartAddressTag>();
  KeptHartAddress kept;
  if (!memo.Find(key, &kept)) {
    HartAddressInfo fresh;
    kept.hr = ReadHartAddressFromText(text, root, write, &fresh);
    if (FailureOfTheMoment(kept.hr)) return kept.hr;
    kept.command = fresh.command;
    kept.commandBitLength = fresh.commandBitLength;
    kept.hasRequestData = fresh.requestData.Get() != nullptr;
    kept.requestData.assign(fresh.requestData.View());
    memo.Store(key, kept);
  }
  out->command = kept.command;
  out->commandBitLength = kept.commandBitLength;
  if (kept.hasRequestData) {
    out->requestData = Bstr(kept.requestData);
    if (!out->requestData.Get()) return E_OUTOFMEMORY;
  } else {
    out->requestData.Reset();
  }
  return kept.hr;
}

// The parameter's own HARTAddress; the group's protocol address (which has the same commands and
// request data) when the parameter no longer has an address text.
HRESULT ReadParameterHartAddress(CovFDT_BaseProtocolImpl& protocol, const VARIANT& id,
                                 const SovFDT_TransactionGroup& group, bool write, HartAddressInfo* out) {
  Variant own;
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  if (handler && SUCCEEDED(handler->GetParameterAddress(id, &own)) && own.vt == VT_BSTR &&
      vkr::View(own.bstrVal).starts_with(u"<"))
    return ReadHartAddress(own, u"AddressInformation/", write, out);
  return ReadHartAddress(group.address, u"", write, out);
}

// A write command answers with the data of its request. Where it is not also the read command, the
// members stand in that answer where the request put them, not where the read response has them;
// for the time of the guard the group's read positions are its write positions.
class WriteAnswerPositions {
 public:
  WriteAnswerPositions(CovFDT_BaseProtocolImpl& protocol, const HARTTransactRequestInfo& request) {
    const Variant id = NormalId(request.parameterId);
    const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(id);
    const SovFDT_TransactionGroup* group = entry ? protocol.FindTransactionGroup(entry->nGroup) : nullptr;
    if (!group || !request.pPayload) return;
    HartAddressInfo read, write;
    if (FAILED(ReadParameterHartAddress(protocol, id, *group, true, &write)) ||
        write.command != request.pPayload->byCommandNumber)
      return;
    if (SUCCEEDED(ReadParameterHartAddress(protocol, id, *group, false, &read)) && read.command == write.command)
      return;
    for (const Variant& member : group->members) {
      SovFDT_ParameterEntry* e = protocol.FindParameterEntry(member);
      if (!e || e->nReadBitOffset == e->nWriteBitOffset) continue;
      m_moved.push_back({e, e->nReadBitOffset});
      e->nReadBitOffset = e->nWriteBitOffset;
    }
  }
  ~WriteAnswerPositions() {
    for (const auto& [entry, readOffset] : m_moved) entry->nReadBitOffset = readOffset;
  }
  WriteAnswerPositions(const WriteAnswerPositions&) = delete;
  WriteAnswerPositions& operator=(const WriteAnswerPositions&) = delete;

 private:
  std::vector<std::pair<SovFDT_ParameterEntry*, ULONG>> m_moved;
};

// The record of a single-parameter data exchange: reference, id, (value,) command and request
// data from the parameter's read or write address. The write's request data is made by the
// protocol's BuildHartRequestData from the padded template.
HRESULT MakeTransactionRecord(CovFDT_HartProtocolImpl& protocol, const VARIANT& id, const VARIANT* value,
                              BSTR communicationReference, VARIANT_BOOL useDataSetValues,
                              HARTTransactRequestInfo* record) {
  const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(id);
  const SovFDT_TransactionGroup* group = entry ? protocol.FindTransactionGroup(entry->nGroup) : nullptr;
  if (!entry || !group) return E_POINTER;

  HRESULT hr = GiveReference(*record, communicationReference);
  if (SUCCEEDED(hr)) hr = VariantCopy(&record->parameterId, &id);
  if (SUCCEEDED(hr) && value) hr = VariantCopy(&record->value, value);
  if (FAILED(hr)) return hr;
  record->nKind = kHartDataExchangeRequest;

  HartAddressInfo address;
  hr = ReadParameterHartAddress(protocol, id, *group, value != nullptr, &address);
  if (FAILED(hr)) return hr;

  auto payload = std::make_unique<SovFDT_HART_DataExchangeRequest>();
  payload->byCommandNumber = address.command;
  if (!value) {
    payload->bstrRequestData = std::move(address.requestData);
    // A read made for a parameter list answers every member of the group the list names: they go
    // with the record, so that the response can tell each of them.
    std::vector<Variant> asked = AskedMembers(protocol, *group, id);
    if (asked.size() > 1) {
      vkr::SafeArrayHolder ids(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(asked.size())));
      if (!ids.Get()) return E_OUTOFMEMORY;
      for (LONG i = 0; i < static_cast<LONG>(asked.size()); ++i) {
        hr = SafeArrayPutElement(ids.Get(), &i, &asked[i]);
        if (FAILED(hr)) return hr;
      }
      record->value.vt = VT_ARRAY | VT_VARIANT;
      record->value.parray = ids.Detach();
    }
  } else {
    const std::uint64_t bytes = (std::uint64_t{address.commandBitLength} + 7) / 8;
    if (bytes > kMaxRequestBytes) return E_INVALIDARG;
    std::u16string text(address.requestData.View());
    while (text.size() < 2 * bytes) text += u"00";
    Bstr requestTemplate(text);
    if (!requestTemplate.Get()) return E_OUTOFMEMORY;
    BSTR built = nullptr;
    BSTR templatePtr = requestTemplate.Detach();
    hr = protocol.BuildHartRequestData(id, *value, useDataSetValues, &templatePtr, &built, 0);
    SysFreeString(templatePtr);
    if (FAILED(hr)) {
      SysFreeString(built);
      return hr;
    }
    payload->bstrRequestData.Attach(built);
  }
  payload->bHasRequestData = !payload->bstrRequestData.Empty();
  record->pPayload = std::move(payload);
  return S_OK;
}

// The request data of a write: the group's members packed at their write bit offsets behind the
// template. Free so that the three classes share it through their public operations.
HRESULT BuildGroupRequestData(CovFDT_BaseProtocolImpl& protocol, RequestDataStyle style, const VARIANT& rawId,
                              const VARIANT& value, VARIANT_BOOL useDataSetValues, BSTR requestDataTemplate,
                              BSTR* result, ULONG flags) {
  if (!result) return E_INVALIDARG;
  *result = nullptr;
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  if (!handler) return E_POINTER;
  ComPtr<IovFdtParameterInfo> info;
  HRESULT hr = QueryInfo(handler, &info);
  if (FAILED(hr)) return hr;

  const Variant id = NormalId(rawId);
  const SovFDT_ParameterEntry* self = protocol.FindParameterEntry(id);
  if (!self) {
    Report(handler, VARIANT_FALSE, id, value, u"unknown parameter ID!");
    return E_INVALIDARG;
  }
  const SovFDT_TransactionGroup* group = protocol.FindTransactionGroup(self->nGroup);
  if (!group) {
    Report(handler, VARIANT_FALSE, id, value, u"unknown parameter address!");
    return E_INVALIDARG;
  }

  const UINT templateLength = SysStringLen(requestDataTemplate);
  std::uint64_t bits = WriteExtent(protocol, *group);
  if (templateLength > 0 && bits < 4ull * templateLength) bits = 4ull * templateLength;
  const std::uint64_t size = (bits + 7) / 8;
  if (size == 0) {
    if (style != RequestDataStyle::Device) return E_OUTOFMEMORY;
    *result = SysAllocString(u"");
    return *result ? S_OK : E_OUTOFMEMORY;
  }
  if (size > kMaxRequestBytes) return E_OUTOFMEMORY;
  CByteBuffer buffer(static_cast<ULONG>(size));
  if (templateLength > 0) {
    ULONG count = buffer.Size();
    hr = HexTextToBytes(buffer.Data(), &count, requestDataTemplate);
    if (FAILED(hr)) return hr;
  }

  // Members of a group may cover the same bytes: a byte string that views the whole request, a
  // "tag only" view of the tag. Packed later wins, so the order decides what the device gets:
  // first the members nobody asked for, views (not part of the data set) before the data set's
  // own parameters, wider before narrower; then, the same way, what the write asks for. A member
  // that only shares the bytes thus never overwrites the value being written.
  struct Packing {
    Variant id;
    SovFDT_ParameterEntry entry;  // a copy: the handler's answers may run code that touches the tables
    bool asked = false;
    bool persisted = false;
  };
  const std::vector<Variant> asked = AskedMembers(protocol, *group, id);
  std::vector<Packing> packing;
  for (const Variant& member : group->members) {
    const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(member);
    if (!entry) continue;
    Packing p{member, *entry, ContainsId(asked, member), false};
    Variant persist;
    if (SUCCEEDED(GetField(info, member, PIF_PERSIST, &persist)) &&
        SUCCEEDED(VariantChangeType(&persist, &persist, 0, VT_BOOL)))
      p.persisted = persist.boolVal != VARIANT_FALSE;
    packing.push_back(std::move(p));
  }
  std::stable_sort(packing.begin(), packing.end(), [](const Packing& a, const Packing& b) {
    if (a.asked != b.asked) return !a.asked;
    if (a.persisted != b.persisted) return !a.persisted;
    return a.entry.nBitLength > b.entry.nBitLength;
  });

  for (const Packing& item : packing) {
    const Variant& member = item.id;
    const SovFDT_ParameterEntry* entry = &item.entry;
    Variant memberValue;
    if (SameId(member, id) && value.vt != VT_EMPTY) {
      hr = VariantCopy(&memberValue, &value);
    } else {
      hr = S_OK;
      if (useDataSetValues == VARIANT_FALSE) hr = GetField(info, member, PIF_DEV_VALUE, &memberValue);
      if (SUCCEEDED(hr) && (useDataSetValues != VARIANT_FALSE || memberValue.vt == VT_EMPTY))
        hr = handler->GetParameterValue(member, memberValue.Put());
    }
    if (FAILED(hr)) return hr;
    if (memberValue.vt == VT_EMPTY) continue;

    bool packedAscii = false;
    if (style != RequestDataStyle::Base && memberValue.vt == VT_BSTR) {
      USHORT kind = 0;
      hr = GetUShortField(info, member, PIF_KIND, &kind);
      if (FAILED(hr)) return hr;
      packedAscii = kind == kPackedAsciiKind;
    }
    if (packedAscii)
      hr = style == RequestDataStyle::Device ? EncodePackedAsciiDevice(memberValue, entry, buffer.Size(), buffer.Data())
                                             : EncodePackedAscii(memberValue, entry, buffer.Size(), buffer.Data());
    else
      hr = protocol.EncodeParameterValue(memberValue, entry, buffer.Size(), buffer.Data(), flags);
    if (FAILED(hr)) return hr;
  }
  return BytesToHexString(buffer.Data(), buffer.Size(), result);
}

// The bytes of a one-dimensional VT_ARRAY|VT_UI1, copied out so that the array is unlocked at once.
HRESULT CopyByteArray(const VARIANT& bytes, std::vector<BYTE>* out) {
  if (bytes.vt != (VT_ARRAY | VT_UI1)) return E_INVALIDARG;
  if (!bytes.parray) return E_POINTER;
  if (SafeArrayGetDim(bytes.parray) != 1) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(bytes.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(bytes.parray, 1, &upper)))
    return E_POINTER;
  const LONG count = upper >= lower ? upper - lower + 1 : 0;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(bytes.parray, &data))) return E_POINTER;
  const BYTE* begin = static_cast<const BYTE*>(data);
  out->assign(begin, begin + count);
  SafeArrayUnaccessData(bytes.parray);
  return S_OK;
}

// Reorders a decoded byte array from the device's order into the host's by the parameter's
// TypeInformation; the array is changed only when the reordering succeeds.
HRESULT ReorderDecodedBytes(CovFDT_BaseProtocolImpl& protocol, const VARIANT& id, VARIANT* value) {
  std::vector<BYTE> bytes;
  HRESULT hr = CopyByteArray(*value, &bytes);
  if (FAILED(hr)) return hr;
  if (bytes.empty()) return S_OK;
  hr = protocol.ReorderByTypeInformation(id, bytes.data(), static_cast<ULONG>(bytes.size()));
  if (FAILED(hr)) return hr;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(value->parray, &data))) return E_POINTER;
  std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
  SafeArrayUnaccessData(value->parray);
  return S_OK;
}

// Decodes every member of the group from the response and hands each value to the handler.
// One member's value from the data bytes of a response, as the response spreader stores it: a
// packed-ASCII text unpacked, a byte string put in the order its TypeInformation gives (always by
// the device class). A failure that concerns this member alone leaves *fatal false; one that
// ends the whole response sets it.
HRESULT DecodeMember(CovFDT_BaseProtocolImpl& protocol, bool deviceClass, IovFdtParameterInfo* info,
                     const Variant& member, const SovFDT_ParameterEntry* entry, ULONG count, const BYTE* data,
                     Variant* value, bool* fatal) {
  *fatal = false;
  USHORT vt = VT_EMPTY;
  if (FAILED(GetUShortField(info, member, PIF_VARTYPE, &vt))) vt = VT_EMPTY;
  USHORT kind = 0;
  if (vt == VT_BSTR && FAILED(GetUShortField(info, member, PIF_KIND, &kind))) kind = 0;

  HRESULT hr = vt == VT_BSTR && kind == kPackedAsciiKind ? DecodePackedAscii(entry, count, data, value)
                                                          : protocol.DecodeParameterValue(entry, count, data, value, 0);
  if (FAILED(hr) || vt != (VT_ARRAY | VT_UI1)) return hr;

  bool reorder = deviceClass;
  if (!deviceClass) {
    Variant typeInformation;
    hr = GetField(info, member, PIF_TYPE_INFORMATION, &typeInformation);
    if (FAILED(hr)) {
      *fatal = true;
      return hr;
    }
    reorder = typeInformation.vt == VT_BSTR && SysStringLen(typeInformation.bstrVal) > 0;
  }
  if (!reorder) return S_OK;
  if (deviceClass && (value->vt != (VT_ARRAY | VT_UI1) || !value->parray)) {
    *fatal = true;
    return E_POINTER;
  }
  // A layout that cannot be applied leaves the member out rather than storing bytes in an order
  // the parameter does not describe.
  hr = ReorderDecodedBytes(protocol, member, value);
  if (FAILED(hr)) WriteLog(u"ExtractParameterValue(): TypeInformation reordering failed, member skipped");
  return hr;
}

HRESULT ExtractGroup(CovFDT_BaseProtocolImpl& protocol, bool deviceClass, SovFDT_TransactionGroup* group,
                     const VARIANT& responseBytes) {
  if (!group) return E_INVALIDARG;
  std::vector<BYTE> bytes;
  HRESULT hr = CopyByteArray(responseBytes, &bytes);
  if (FAILED(hr)) return hr;
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  ComPtr<IovFdtParameterInfo> info;
  hr = QueryInfo(handler, &info);
  if (FAILED(hr)) return hr;
  const ULONG count = static_cast<ULONG>(bytes.size());
  const BYTE* data = bytes.empty() ? nullptr : bytes.data();

  // A member the request asked for must be answered: when the response cannot give its value it
  // is told so (its reader would wait for ever otherwise), and the transaction fails instead of
  // passing stale values off as read. Members nobody asked for are only skipped.
  const std::vector<Variant> requested = protocol.GetRequestedMembers();
  std::vector<Variant> told;
  auto notAnswered = [&](const Variant& member, bool needsData) {
    if (!needsData || !ContainsId(requested, member) || ContainsId(told, member)) return;
    told.push_back(member);
    Report(handler, VARIANT_FALSE, member, responseBytes, u"error distributing result!");
  };

  const std::vector<Variant> members = group->members;
  for (const Variant& member : members) {
    SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(member);
    if (!entry) continue;
    ULONG number = 0;
    const bool whole = deviceClass && SUCCEEDED(VariantToULong(&member, &number)) &&
                       (number == eCommand3ID || number == eCommand48ID);
    if (whole) entry->nBitLength = 8 * count;  // these take the whole answer, whatever its length
    // A field of no bits (a command that only acts) has nothing to wait for.
    const bool needsData = whole || entry->nBitLength > 0;
    if (!deviceClass && std::uint64_t{entry->nReadBitOffset} + entry->nBitLength > 8ull * count) {
      notAnswered(member, needsData);
      continue;
    }

    Variant value;
    bool fatal = false;
    hr = DecodeMember(protocol, deviceClass, info.Get(), member, entry, count, data, &value, &fatal);
    if (fatal) return hr;
    if (FAILED(hr)) {  // this member only; the others are still stored
      notAnswered(member, needsData);
      continue;
    }
    Report(handler, VARIANT_TRUE, member, value, nullptr);
    protocol.NoteAnswered(member);
  }
  return told.empty() ? S_OK : kRequestedMemberNotAnswered;
}

// Whether a parameter belongs to the data set.
bool IsKept(IovFdtParameterInfo* info, const VARIANT& id) {
  Variant persist;
  return SUCCEEDED(GetField(info, id, PIF_PERSIST, &persist)) &&
         SUCCEEDED(VariantChangeType(&persist, &persist, 0, VT_BOOL)) && persist.boolVal != VARIANT_FALSE;
}

// Whether a parameter belongs to the data set and can be read from the device.
bool IsKeptAndReadable(IovFdtParameterInfo* info, const VARIANT& id) {
  if (!IsKept(info, id)) return false;
  ULONG flags = 0;
  return SUCCEEDED(GetULongField(info, id, PIF_FLAGS, &flags)) && (flags & PFL_READABLE);
}

// A read response carries every field its command reads, also those of parameters that other
// commands write (damping and range values in the answer of command 15, the PV unit in that of
// command 1). Their transaction groups differ from the one read, so while an upload keeps its
// answer log the data set's parameters among them are given their device values here, for the
// upload to store; a field the response does not reach is left.
void SpreadToReadSiblings(CovFDT_BaseProtocolImpl& protocol, const HARTTransactRequestInfo& request,
                          const VARIANT& responseBytes) {
  if (!protocol.AnswerLogActive()) return;
  const Variant id = NormalId(request.parameterId);
  const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(id);
  const SovFDT_TransactionGroup* own = entry ? protocol.FindTransactionGroup(entry->nGroup) : nullptr;
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  ComPtr<IovFdtParameterInfo> info;
  if (!own || !request.pPayload || FAILED(QueryInfo(handler, &info))) return;
  const BYTE command = request.pPayload->byCommandNumber;
  HartAddressInfo read;
  if (FAILED(ReadParameterHartAddress(protocol, id, *own, false, &read)) || read.command != command) return;
  std::vector<BYTE> bytes;
  if (FAILED(CopyByteArray(responseBytes, &bytes)) || bytes.empty()) return;
  for (const auto& group : protocol.GetTransactionGroups()) {
    if (!group || group.get() == own) continue;
    std::vector<Variant> kept;
    for (const Variant& member : group->members)
      if (IsKeptAndReadable(info.Get(), member)) kept.push_back(member);
    if (kept.empty()) continue;
    HartAddressInfo sibling;
    if (FAILED(ReadParameterHartAddress(protocol, kept.front(), *group, false, &sibling)) ||
        sibling.command != command || sibling.requestData.View() != read.requestData.View())
      continue;
    for (const Variant& member : kept) {
      const SovFDT_ParameterEntry* field = protocol.FindParameterEntry(member);
      if (!field || field->nBitLength == 0 ||
          std::uint64_t{field->nReadBitOffset} + field->nBitLength > 8ull * bytes.size())
        continue;
      Variant value;
      bool fatal = false;
      if (FAILED(DecodeMember(protocol, protocol.DecodesAsDeviceClass(), info.Get(), member, field,
                              static_cast<ULONG>(bytes.size()), bytes.data(), &value, &fatal)))
        continue;
      Report(handler, VARIANT_TRUE, member, value, nullptr);
      protocol.NoteAnswered(member);
    }
  }
}

// A write of one parameter that the device confirmed, of a value the data set does not hold (the
// user's, from a page or a control): the data set's parameters of the written group take what
// the device now holds (the device values the answer just gave them), so that the project keeps
// what the device took and a later download does not undo it. A download writes what the data
// set holds, and a write of the data set's values (value empty) has nothing to add; the frame's
// device access leaves the data set as it was.
void KeepConfirmedWrite(CovFDT_BaseProtocolImpl& protocol, const HARTTransactRequestInfo& request) {
  const VARIANT& written = request.value;
  if (written.vt == VT_EMPTY || written.vt == (VT_ARRAY | VT_VARIANT) || !request.pPayload) return;
  const Variant id = NormalId(request.parameterId);
  const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(id);
  const SovFDT_TransactionGroup* group = entry ? protocol.FindTransactionGroup(entry->nGroup) : nullptr;
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  const auto* framework = dynamic_cast<const CovFDT_ParameterHandlerImpl*>(handler);
  if (framework && !framework->KeepsConfirmedWrites()) return;
  ComPtr<IovFdtParameterInfo> info;
  if (!group || FAILED(QueryInfo(handler, &info))) return;
  HartAddressInfo write;
  if (FAILED(ReadParameterHartAddress(protocol, id, *group, true, &write)) ||
      write.command != request.pPayload->byCommandNumber)
    return;
  Variant held;
  if (SUCCEEDED(handler->GetParameterValue(id, held.Put())) && IsVariantEqual(held, written)) return;
  // Copies: storing a value runs code that may touch the tables.
  const std::vector<Variant> members = group->members;
  for (const Variant& member : members) {
    Variant device;
    if (!IsKept(info.Get(), member) || FAILED(GetField(info.Get(), member, PIF_DEV_VALUE, &device)) ||
        device.vt == VT_EMPTY)
      continue;
    handler->SetParameterValue(member, device);
  }
}

// The name of the parameter whose value a request writes: the request is the write command of the
// parameter's transaction group. Empty for a read, or when the name cannot be had.
std::u16string WrittenParameterName(CovFDT_BaseProtocolImpl& protocol, const HARTTransactRequestInfo& request,
                                    BYTE* command) {
  if (!request.pPayload) return {};
  const Variant id = NormalId(request.parameterId);
  const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(id);
  const SovFDT_TransactionGroup* group = entry ? protocol.FindTransactionGroup(entry->nGroup) : nullptr;
  HartAddressInfo write, read;
  if (!group || FAILED(ReadParameterHartAddress(protocol, id, *group, true, &write)) ||
      write.command != request.pPayload->byCommandNumber)
    return {};
  // Where one command both reads and writes, a write is the request that carries a value.
  const VARTYPE carried = request.value.vt;
  if (SUCCEEDED(ReadParameterHartAddress(protocol, id, *group, false, &read)) && read.command == write.command &&
      (carried == VT_EMPTY || carried == (VT_ARRAY | VT_VARIANT)))
    return {};
  Bstr name;
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  if (!handler ||
      FAILED(handler->GetParameterInfo(id, nullptr, name.Put(), nullptr, nullptr, nullptr, nullptr, nullptr)) ||
      name.Empty())
    return {};
  if (command) *command = write.command;
  return std::u16string(name.View());
}

// The error text of a write of one parameter that failed (the device refused it with a command
// response, or its answer did not come): the parameter's name, and what a code means to the
// command, before the text, so that whoever reads it (the user interfaces, a download's report)
// learns which value was not written and why. A read keeps its text.
std::u16string DescribeFailedWrite(CovFDT_BaseProtocolImpl& protocol, const HARTTransactRequestInfo& request,
                                   const SovFDT_HART_Status* status, const std::u16string& message) {
  BYTE command = 0;
  const std::u16string name = WrittenParameterName(protocol, request, &command);
  if (name.empty()) return message;
  const std::u16string meaning = status && status->bCommandResponsePresent && status->byCommandResponse != 0
                                     ? vkr::hart::ResponseCodeText(command, status->byCommandResponse)
                                     : std::u16string();
  return u"\"" + name + u"\" was not written: " + message + (meaning.empty() ? u"" : u" (" + meaning + u")");
}

// The text of a write the device took with a warning: the parameter and the warning. Empty for a
// read.
std::u16string DescribeWarnedWrite(CovFDT_BaseProtocolImpl& protocol, const HARTTransactRequestInfo& request,
                                   BYTE code) {
  BYTE command = 0;
  const std::u16string name = WrittenParameterName(protocol, request, &command);
  if (name.empty()) return {};
  return vkr::hart::WarnedWriteText(name, command, code);
}

// Tells the frame and the open user interfaces what a write the device took warns of.
void ReportWarning(CovFDT_BaseProtocolImpl& protocol, const std::u16string& text) {
  protocol.ReportMessage("%s", vkr::Utf16ToUtf8(text).c_str());
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  ComPtr<IovFdtActiveXContainer> functions;
  if (!handler || FAILED(handler->QueryInterface(IovFdtActiveXContainer::iid, functions.PutVoid())) || !functions)
    return;
  const Bstr said(text);
  functions->ReportErrorToActiveX(said.Get());
}

// The parameters a transaction record asked for: the ids a list read carries in its value, else
// the record's own parameter.
std::vector<Variant> RequestedByRecord(const HARTTransactRequestInfo& request) {
  std::vector<Variant> out{NormalId(request.parameterId)};
  const VARIANT& ids = request.value;
  if (ids.vt != (VT_ARRAY | VT_VARIANT) || !ids.parray || SafeArrayGetDim(ids.parray) != 1) return out;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(ids.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(ids.parray, 1, &upper)))
    return out;
  for (LONG i = lower; i <= upper; ++i) {
    Variant id;
    ULONG n = 0;
    if (SUCCEEDED(SafeArrayGetElement(ids.parray, &i, &id)) && IntegerParameterId(id, &n) && !ContainsId(out, id))
      out.push_back(NormalId(id));
  }
  return out;
}

// Whether one of the parameters has a field the response must carry.
bool NeedsResponseData(const CovFDT_BaseProtocolImpl& protocol, const std::vector<Variant>& ids) {
  return std::any_of(ids.begin(), ids.end(), [&](const Variant& id) {
    const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(id);
    ULONG n = 0;
    const bool whole = SUCCEEDED(VariantToULong(&id, &n)) && (n == eCommand3ID || n == eCommand48ID);
    return entry && (whole || entry->nBitLength > 0);
  });
}

// "<word>, error code: <code>, descriptor: <descriptor>" of a communication error.
std::u16string DescribeCommunicationError(const FDT::SovFDT_FDT_CommunicationError& error) {
  std::u16string text(error.bstrCommunicationError.View());
  if (error.bErrorCodePresent) text += u", error code: " + error.bstrErrorCode.Str();
  if (error.bDescriptorPresent) text += u", descriptor: " + error.bstrDescriptor.Str();
  return text;
}

HRESULT SetText(BSTR* out, std::u16string_view text) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// The common start of both connect-side parsers: the handler, the DTM behind it and the loaded
// document, or an error text.
HRESULT LoadConnectSideResponse(IovFdtParameterHandler4* handler, BSTR response, ComPtr<IXMLDOMDocument2>* document,
                                bool* loaded) {
  *loaded = false;
  if (!handler) return E_UNEXPECTED;
  ComPtr<IovFdtBaseDTM> dtm;
  if (FAILED(handler->QueryInterface(IovFdtBaseDTM::iid, dtm.PutVoid())) || !dtm) return E_NOINTERFACE;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(response, document->Put(), &ok);
  if (FAILED(hr)) return hr;
  *loaded = *document && ok != VARIANT_FALSE;
  return S_OK;
}

}  // namespace

// ---- The protocol-neutral base: what only the HART classes do. ---------------------------------

HRESULT CovFDT_BaseProtocolImpl::ParseConnectResponse(BSTR, BSTR*, VARIANT_BOOL*, BSTR*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ParseDisconnectResponse(BSTR, BSTR, VARIANT_BOOL*, BSTR*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::ParseTransactionResponse(VARIANT, BSTR, BSTR, VARIANT_BOOL, VARIANT*) {
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseProtocolImpl::CreateReadRequest(VARIANT, BSTR, VARIANT_BOOL, VARIANT_BOOL*, BSTR*, VARIANT*) {
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseProtocolImpl::CreateWriteRequest(VARIANT, VARIANT, BSTR, VARIANT_BOOL, VARIANT_BOOL*, BSTR*,
                                                    VARIANT*) {
  return E_NOTIMPL;
}
HRESULT CovFDT_BaseProtocolImpl::CreateConnectRequest(VARIANT_BOOL*, BSTR*, BSTR*, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateDisconnectRequest(VARIANT_BOOL*, BSTR*, BSTR, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::GetReadCommand(VARIANT, BSTR, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::GetWriteCommand(VARIANT, VARIANT, BSTR, VARIANT*) { return E_NOTIMPL; }
HRESULT CovFDT_BaseProtocolImpl::CreateDataExchangeRequest(VARIANT, BSTR, BSTR*) { return E_NOTIMPL; }

// ---- Values from PDUs. ---------------------------------------------------------------------------

HRESULT CovFDT_BaseProtocolImpl::SetParameterFromPdu(VARIANT rawId, VARIANT pdu, VARIANT* value) {
  WriteLog(u"CovFDT_BaseProtocolImpl::SetParameterFromPdu()");
  const Variant id = NormalId(rawId);
  const SovFDT_ParameterEntry* entry = FindParameterEntry(id);
  const SovFDT_TransactionGroup* group = entry ? FindTransactionGroup(entry->nGroup) : nullptr;
  if (!entry || !group || !value) return E_INVALIDARG;
  if (pdu.vt != (VT_ARRAY | VT_UI1) || !pdu.parray || SafeArrayGetDim(pdu.parray) != 1) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(pdu.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(pdu.parray, 1, &upper)))
    return E_INVALIDARG;
  const std::uint64_t count = upper >= lower ? std::uint64_t(std::int64_t{upper} - lower + 1) : 0;
  if (8 * count < WriteExtent(*this, *group)) return E_INVALIDARG;
  // The value is decoded as the response spreader decodes it (packed-ASCII texts unpacked, byte
  // strings in their TypeInformation order): a value read directly is compared with one that an
  // upload stored, and plain decoding made texts and ranges differ from the same device bytes.
  ComPtr<IovFdtParameterInfo> info;
  HRESULT hr = QueryInfo(m_pParameterHandler, &info);
  if (FAILED(hr)) return hr;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(pdu.parray, &data))) return E_POINTER;
  Variant decoded;
  bool fatal = false;
  hr = DecodeMember(*this, DecodesAsDeviceClass(), info.Get(), id, entry,
                    static_cast<ULONG>(count), static_cast<const BYTE*>(data), &decoded, &fatal);
  SafeArrayUnaccessData(pdu.parray);
  if (FAILED(hr)) return hr;
  VariantClear(value);
  decoded.Detach(value);
  return S_OK;
}

// ---- Parameter lists. ----------------------------------------------------------------------------

namespace {

// Whether the data set holds a whole value for every bit that a download's write of the group
// sends. The request is made of the data set's own parameters (a view such as "tag only" is no
// value of the data set); those that hold no value, or a byte string shorter than their field, go
// to *missing. A group without data-set parameters is not the data set's to send and passes.
bool DataSetFillsRequest(CovFDT_BaseProtocolImpl& protocol, IovFdtParameterInfo* info,
                         const SovFDT_TransactionGroup& group, std::vector<Variant>* missing) {
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  const std::uint64_t extent = WriteExtent(protocol, group);
  std::vector<bool> filled(static_cast<std::size_t>(extent), false);
  for (const Variant& member : group.members) {
    const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(member);
    Variant persist;
    if (!entry || FAILED(GetField(info, member, PIF_PERSIST, &persist)) ||
        FAILED(VariantChangeType(&persist, &persist, 0, VT_BOOL)) || persist.boolVal == VARIANT_FALSE)
      continue;
    ULONG flags = 0;
    Variant value;
    bool held = SUCCEEDED(GetULongField(info, member, PIF_FLAGS, &flags)) && !(flags & PFL_NOT_HELD) && handler &&
                SUCCEEDED(handler->GetParameterValue(member, &value)) && value.vt != VT_EMPTY;
    if (held && value.vt == (VT_ARRAY | VT_UI1)) {
      std::vector<BYTE> bytes;
      held = SUCCEEDED(CopyByteArray(value, &bytes)) && 8ull * bytes.size() >= entry->nBitLength;
    }
    if (!held) {
      if (!ContainsId(*missing, member)) missing->push_back(member);
      continue;
    }
    const std::uint64_t end = std::min(extent, std::uint64_t{entry->nWriteBitOffset} + entry->nBitLength);
    for (std::uint64_t bit = entry->nWriteBitOffset; bit < end; ++bit) filled[static_cast<std::size_t>(bit)] = true;
  }
  return missing->empty() || std::all_of(filled.begin(), filled.end(), [](bool b) { return b; });
}

// The data set's texts of the group that the device's field cannot hold (a project from an older
// file may keep one): their command goes unsent rather than with other characters in their place.
void TextsTheFieldRefuses(CovFDT_BaseProtocolImpl& protocol, IovFdtParameterInfo* info,
                          const SovFDT_TransactionGroup& group, std::vector<Variant>* refused) {
  IovFdtParameterHandler4* handler = protocol.GetParameterHandler();
  for (const Variant& member : group.members) {
    const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(member);
    USHORT kind = 0;
    Variant value;
    if (!entry || !handler || FAILED(GetUShortField(info, member, PIF_KIND, &kind)) || kind != kPackedAsciiKind ||
        FAILED(handler->GetParameterValue(member, &value)) || value.vt != VT_BSTR)
      continue;
    if (!PackedAsciiFitsField(value.bstrVal, entry) && !ContainsId(*refused, member)) refused->push_back(member);
  }
}

// The ids of a parameter list, in its order.
HRESULT GetListMembers(IovFdtParameterHandler4* handler, const VARIANT& listId, std::vector<Variant>* out) {
  if (!handler) return E_UNEXPECTED;
  ComPtr<IovFDTParamList> lists;
  if (FAILED(handler->QueryInterface(IovFDTParamList::iid, lists.PutVoid())) || !lists) return E_NOINTERFACE;
  Variant members;
  VARIANT_BOOL found = VARIANT_FALSE;
  HRESULT hr = lists->GetMembers(listId, &members, &found);
  if (FAILED(hr)) return hr;
  if (found == VARIANT_FALSE) return E_FAIL;
  if (members.vt != (VT_ARRAY | VT_VARIANT)) return E_FAIL;
  if (!members.parray) return E_POINTER;
  if (SafeArrayGetDim(members.parray) != 1) return E_FAIL;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(members.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(members.parray, 1, &upper)))
    return E_FAIL;
  if (upper < lower) return E_UNEXPECTED;
  out->clear();
  out->reserve(static_cast<std::size_t>(upper - lower) + 1);
  for (LONG i = lower; i <= upper; ++i) {
    Variant element;
    hr = SafeArrayGetElement(members.parray, &i, &element);
    if (FAILED(hr)) return hr;
    out->push_back(NormalId(element));
  }
  return S_OK;
}

}  // namespace

HRESULT CovFDT_BaseProtocolImpl::ReduceToTransactionGroups(VARIANT listId, VARIANT* ids, VARIANT) {
  WriteLog(u"CovFDT_BaseProtocolImpl::ReduceToTransactionGroups()");
  if (!ids) return E_INVALIDARG;
  std::vector<Variant> work;
  HRESULT hr = GetListMembers(m_pParameterHandler, listId, &work);
  if (FAILED(hr)) return hr;

  std::vector<Variant> representatives;
  while (!work.empty()) {
    Variant id = std::move(work.front());
    work.erase(work.begin());
    const SovFDT_ParameterEntry* entry = FindParameterEntry(id);
    const SovFDT_TransactionGroup* group = entry ? FindTransactionGroup(entry->nGroup) : nullptr;
    if (!entry || !group) continue;  // not transferred by this protocol
    std::erase_if(work, [&](const Variant& other) {
      if (SameId(other, id)) return true;
      for (const Variant& member : group->members)
        if (SameId(other, member)) return true;
      return false;
    });
    representatives.push_back(std::move(id));
  }

  vkr::SafeArrayHolder out(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(representatives.size())));
  if (!out.Get()) return E_OUTOFMEMORY;
  for (LONG i = 0; i < static_cast<LONG>(representatives.size()); ++i) {
    hr = SafeArrayPutElement(out.Get(), &i, &representatives[i]);
    if (FAILED(hr)) return hr;
  }
  VariantClear(ids);
  ids->vt = VT_ARRAY | VT_VARIANT;
  ids->parray = out.Detach();
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::CreateTransactions(VARIANT listId, BSTR communicationReference,
                                                    VARIANT_BOOL useDataSetValues, bool read, VARIANT* documents,
                                                    VARIANT* records) {
  WriteLog(u"CovFDT_BaseProtocolImpl::CreateTransactions()");
  Variant representatives;
  HRESULT hr = ReduceToTransactionGroups(listId, &representatives, vkr::EmptyVariant());
  if (FAILED(hr)) return hr;
  // Every request of the list carries what the list asks for of its group, not only what its
  // representative holds.
  std::vector<Variant> listMembers;
  hr = GetListMembers(m_pParameterHandler, listId, &listMembers);
  if (FAILED(hr)) return hr;
  ScopedValue<std::vector<Variant>> listScope(m_transferListMembers, std::move(listMembers));
  ScopedValue<bool> activeScope(m_bTransferListActive, true);
  LONG n = 0;
  if (representatives.vt == (VT_ARRAY | VT_VARIANT) && representatives.parray) {
    LONG upper = -1;
    SafeArrayGetUBound(representatives.parray, 1, &upper);
    n = upper + 1;
  }
  vkr::SafeArrayHolder documentArray(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(n)));
  vkr::SafeArrayHolder recordArray(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(n)));
  if (!documentArray.Get() || !recordArray.Get()) return E_OUTOFMEMORY;

  for (LONG i = 0; i < n; ++i) {
    Variant id;
    hr = SafeArrayGetElement(representatives.parray, &i, &id);
    if (FAILED(hr)) return hr;
    ComPtr<IovFdtParameterInfo> info;
    if (!m_pParameterHandler || FAILED(QueryInfo(m_pParameterHandler, &info))) return E_UNEXPECTED;
    Variant addressed;
    hr = m_pParameterHandler->GetAddressedWord(id, &addressed);
    if (FAILED(hr)) return hr;
    ULONG flags = 0;
    hr = GetULongField(info, id, PIF_FLAGS, &flags);
    if (FAILED(hr)) return hr;
    ULONG isDevice = 0;
    if (FAILED(VariantToULong(&addressed, &isDevice))) isDevice = 0;
    if (isDevice == 0) continue;
    if (read && !(flags & PFL_READABLE)) continue;
    if (!read && !(flags & PFL_WRITABLE)) continue;
    if (!read && useDataSetValues != VARIANT_FALSE) {
      // A download never sends a value the data set does not hold: the command that needs one
      // stays unsent, and the parameters it lacks are told.
      const SovFDT_ParameterEntry* entry = FindParameterEntry(id);
      const SovFDT_TransactionGroup* group = entry ? FindTransactionGroup(entry->nGroup) : nullptr;
      std::vector<Variant> missing;
      if (group && !DataSetFillsRequest(*this, info.Get(), *group, &missing)) {
        for (const Variant& member : missing) {
          Variant name;
          ULONG number = 0;
          VariantToULong(&member, &number);
          GetField(info, member, PIF_NAME, &name);
          const std::string text = name.vt == VT_BSTR ? vkr::Utf16ToUtf8(vkr::View(name.bstrVal)) : std::string();
          ReportMessage("Download left out \"%s\" (%lu): the data set holds no value for it", text.c_str(),
                        static_cast<unsigned long>(number));
        }
        continue;
      }
      std::vector<Variant> refused;
      if (group) TextsTheFieldRefuses(*this, info.Get(), *group, &refused);
      if (!refused.empty()) {
        for (const Variant& member : refused) {
          Variant name;
          ULONG number = 0;
          VariantToULong(&member, &number);
          GetField(info, member, PIF_NAME, &name);
          const std::string text = name.vt == VT_BSTR ? vkr::Utf16ToUtf8(vkr::View(name.bstrVal)) : std::string();
          ReportMessage("Download left out \"%s\" (%lu): the data set's text is no text its device field holds "
                        "(HART packed ASCII: blank, A-Z, 0-9 and !\"#$%%&'()*+,-./:;<=>?@[\\]^_, up to %lu characters)",
                        text.c_str(), static_cast<unsigned long>(number),
                        static_cast<unsigned long>(FindParameterEntry(member) ? FindParameterEntry(member)->nBitLength / 6 : 0));
        }
        continue;
      }
    }

    VARIANT_BOOL created = VARIANT_FALSE;
    Bstr document;
    Variant record;
    if (read) {
      hr = CreateReadRequest(id, communicationReference, useDataSetValues, &created, document.Put(), &record);
    } else {
      Variant value;
      hr = useDataSetValues != VARIANT_FALSE ? m_pParameterHandler->GetParameterValue(id, &value)
                                             : GetField(info, id, PIF_DEV_VALUE, &value);
      if (FAILED(hr)) return hr;
      hr = CreateWriteRequest(id, value, communicationReference, useDataSetValues, &created, document.Put(), &record);
    }
    if (FAILED(hr)) return hr;
    if (created == VARIANT_FALSE) return E_FAIL;
    hr = SafeArrayPutElement(documentArray.Get(), &i, document.Get());
    if (SUCCEEDED(hr)) hr = SafeArrayPutElement(recordArray.Get(), &i, &record);
    if (FAILED(hr)) return hr;
  }

  if (documents) {
    VariantClear(documents);
    documents->vt = VT_ARRAY | VT_BSTR;
    documents->parray = documentArray.Detach();
  }
  if (records) {
    VariantClear(records);
    records->vt = VT_ARRAY | VT_VARIANT;
    records->parray = recordArray.Detach();
  }
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::CreateReadTransactions(VARIANT listId, BSTR communicationReference,
                                                        VARIANT* documents, VARIANT* records) {
  WriteLog(u"CovFDT_BaseProtocolImpl::CreateReadTransactions()");
  const HRESULT hr = CreateTransactions(listId, communicationReference, VARIANT_FALSE, true, documents, records);
  return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT CovFDT_BaseProtocolImpl::CreateWriteTransactions(VARIANT listId, BSTR communicationReference,
                                                         VARIANT_BOOL useDataSetValues, VARIANT* documents,
                                                         VARIANT* records) {
  WriteLog(u"CovFDT_BaseProtocolImpl::CreateWriteTransactions()");
  const HRESULT hr = CreateTransactions(listId, communicationReference, useDataSetValues, false, documents, records);
  return SUCCEEDED(hr) ? S_OK : hr;
}

HRESULT CovFDT_BaseProtocolImpl::BuildRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues,
                                                  BSTR* requestData, ULONG flags) {
  WriteLog(u"CovFDT_BaseProtocolImpl::BuildRequestData()");
  return BuildGroupRequestData(*this, RequestDataStyle::Base, id, value, useDataSetValues, nullptr, requestData, flags);
}

// ---- HART: request data and the spreading of responses. ------------------------------------------

HRESULT CovFDT_HartProtocolImpl::BuildHartRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues,
                                                      BSTR* requestDataTemplate, BSTR* result, ULONG) {
  WriteLog(u"CovFDT_HartProtocolImpl::BuildHartRequestData()");
  return BuildGroupRequestData(*this, RequestDataStyle::Hart, id, value, useDataSetValues,
                               requestDataTemplate ? *requestDataTemplate : nullptr, result, 0);
}

HRESULT MyHartProtocol::BuildHartRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues,
                                             BSTR* requestDataTemplate, BSTR* result, ULONG) {
  WriteLog(u"MyHartProtocol::BuildHartRequestData()");
  return BuildGroupRequestData(*this, RequestDataStyle::Device, id, value, useDataSetValues,
                               requestDataTemplate ? *requestDataTemplate : nullptr, result, 0);
}

HRESULT CovFDT_HartProtocolImpl::ExtractParameterValue(SovFDT_TransactionGroup* group, VARIANT responseBytes) {
  WriteLog(u"CovFDT_HartProtocolImpl::ExtractParameterValue()");
  return ExtractGroup(*this, false, group, responseBytes);
}

HRESULT MyHartProtocol::ExtractParameterValue(SovFDT_TransactionGroup* group, VARIANT responseBytes) {
  WriteLog(u"MyHartProtocol::ExtractParameterValue()");
  return ExtractGroup(*this, true, group, responseBytes);
}

HRESULT CovFDT_HartProtocolImpl::DistributeResult(VARIANT rawId, VARIANT responseBytes) {
  WriteLog(u"CovFDT_HartProtocolImpl::DistributeResult()");
  const Variant id = NormalId(rawId);
  const SovFDT_ParameterEntry* entry = FindParameterEntry(id);
  SovFDT_TransactionGroup* group = entry ? FindTransactionGroup(entry->nGroup) : nullptr;
  if (!entry || !group) {
    Report(m_pParameterHandler, VARIANT_FALSE, id, responseBytes, u"unknown parameter address!");
    return E_INVALIDARG;
  }
  // Called on its own, the distribution answers the parameter it is called for.
  std::vector<Variant> requested = m_requestedMembers;
  if (requested.empty()) requested.push_back(id);
  HRESULT hr = S_OK;
  {
    ScopedValue<std::vector<Variant>> scope(m_requestedMembers, std::move(requested));
    hr = ExtractParameterValue(group, responseBytes);
  }
  // The members a response could not answer have been told already.
  if (hr == kRequestedMemberNotAnswered) return hr;
  if (FAILED(hr)) {
    Report(m_pParameterHandler, VARIANT_FALSE, id, responseBytes, u"error distributing result!");
    return hr;
  }
  return S_OK;
}

// ---- HART: transaction responses. ----------------------------------------------------------------

HRESULT ReadLoadedHartResponse(SovFDT_LoadedResponse& response, const HARTTransactResponseInfo** info) {
  struct Reading {
    HRESULT hr = E_FAIL;
    HARTTransactResponseInfo info;
  };
  *info = nullptr;
  if (!response.document) return E_FAIL;
  if (!response.reading) {
    auto reading = std::make_shared<Reading>();
    reading->hr = reading->info.ReadXml(response.document.Get());
    response.reading = reading;
  }
  const Reading& reading = *std::static_pointer_cast<Reading>(response.reading);
  if (SUCCEEDED(reading.hr)) *info = &reading.info;
  return reading.hr;
}

HRESULT CovFDT_HartProtocolImpl::ParseTransactionResponse(VARIANT requestRecord, BSTR response,
                                                          BSTR expectedReference, VARIANT_BOOL distribute,
                                                          VARIANT* responseBytes) {
  WriteLog(u"CovFDT_HartProtocolImpl::ParseTransactionResponse()");
  // A record that does not restore has no kind: it cannot be a request of ours.
  HARTTransactRequestInfo request;
  const bool restored = requestRecord.vt == (VT_ARRAY | VT_VARIANT) && request.Unpack(requestRecord);
  const LONG kind = restored ? request.nKind : 0;
  if (!m_pParameterHandler ||
      (kind != kHartDataExchangeRequest && kind != kHartSubscribeRequest && kind != kHartUnsubscribeRequest))
    return E_UNEXPECTED;

  // The text the connection has loaded already is read from its document, once for all readers.
  if (m_loadedResponse && m_loadedResponse->text == response && m_loadedResponse->document) {
    const HARTTransactResponseInfo* read = nullptr;
    const HRESULT hr = ReadLoadedHartResponse(*m_loadedResponse, &read);
    if (FAILED(hr)) return hr;
    return SpreadTransactionResponse(request, *read, expectedReference, distribute, responseBytes);
  }
  ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(response, document.Put(), &loaded);
  if (FAILED(hr) || !document || loaded == VARIANT_FALSE) return E_FAIL;
  HARTTransactResponseInfo answer;
  hr = answer.ReadXml(document);
  if (FAILED(hr)) return hr;
  return SpreadTransactionResponse(request, answer, expectedReference, distribute, responseBytes);
}

HRESULT CovFDT_HartProtocolImpl::SpreadTransactionResponse(HARTTransactRequestInfo& request,
                                                           const HARTTransactResponseInfo& answer,
                                                           BSTR expectedReference, VARIANT_BOOL distribute,
                                                           VARIANT* responseBytes) {
  HRESULT hr = S_OK;
  if (answer.nKind != kHartCommunicationError &&
      answer.bstrCommunicationReference.View() != vkr::View(expectedReference))
    return E_FAIL;

  bool ok = true;
  std::u16string message, warning;
  Variant data;
  bool hasData = false;
  if (answer.nKind == kHartDataExchangeResponse && answer.pDataExchange) {
    const SovFDT_HART_DataExchangeResponse& exchange = *answer.pDataExchange;
    const SovFDT_HART_Status& status = exchange.status;
    const BYTE command = request.pPayload ? request.pPayload->byCommandNumber : exchange.byCommandNumber;
    std::u16string statusText;
    if (status.bCommunicationStatusPresent && status.byCommunicationStatus != 0)
      statusText += vkr::Format(u" communication status = 0x%02X", status.byCommunicationStatus);
    // A warning is no failure: the device ran the command and took what it was sent.
    const bool warned = statusText.empty() && status.bCommandResponsePresent && status.byCommandResponse != 0 &&
                        vkr::hart::IsWarning(command, status.byCommandResponse);
    if (status.bCommandResponsePresent && status.byCommandResponse != 0 && !warned)
      statusText += vkr::Format(u" command response = 0x%02X", status.byCommandResponse);
    if (statusText.empty()) {
      hasData = exchange.bHasResponseData && !exchange.bstrResponseData.Empty();
      // Data that is not an even run of hex digits stays empty; the distribution reports it.
      if (hasData) HexStringToByteArray(&data, exchange.bstrResponseData, FALSE);
      if (warned) warning = DescribeWarnedWrite(*this, request, status.byCommandResponse);
    } else {
      ok = false;
      message = u"error: ";
      if (status.byDeviceStatus != 0) message += vkr::Format(u"device status = 0x%02X", status.byDeviceStatus);
      message += statusText;
      message = DescribeFailedWrite(*this, request, &status, message);
    }
  } else if (answer.nKind == kHartCommunicationError) {
    ok = false;
    message = DescribeFailedWrite(*this, request, nullptr, DescribeCommunicationError(answer.communicationError));
  } else {
    ok = false;
    message = u"unknown response type";
  }

  if (distribute != VARIANT_FALSE) {
    if (!ok) {
      const Bstr text(message);
      m_pParameterHandler->HandleDevParResponse(VARIANT_FALSE, request.parameterId, data, text);
    } else if (answer.nKind == kHartDataExchangeResponse) {
      std::vector<Variant> requested = RequestedByRecord(request);
      // An answer without data still has to answer what was asked for: spread as no bytes, it
      // tells every requested member that needs some.
      if (!hasData && NeedsResponseData(*this, requested)) {
        data.Clear();
        data.vt = VT_ARRAY | VT_UI1;
        data.parray = SafeArrayCreateVector(VT_UI1, 0, 0);
        if (!data.parray) return E_OUTOFMEMORY;
        hasData = true;
      }
      if (hasData) {
        ScopedValue<std::vector<Variant>> scope(m_requestedMembers, std::move(requested));
        ResponseBatch batch(m_pParameterHandler);
        {
          WriteAnswerPositions positions(*this, request);
          hr = DistributeResult(request.parameterId, data);
          if (FAILED(hr)) return hr;
        }
        SpreadToReadSiblings(*this, request, data);
        KeepConfirmedWrite(*this, request);
      }
      if (!warning.empty()) ReportWarning(*this, warning);
    }
  }
  if (responseBytes) {
    hr = VariantCopy(responseBytes, &data);
    if (FAILED(hr)) return hr;
  }
  return ok ? S_OK : E_FAIL;
}

std::u16string CovFDT_HartProtocolImpl::DescribeFailedRequest(const VARIANT& requestRecord,
                                                              const std::u16string& message) {
  HARTTransactRequestInfo request;
  if (requestRecord.vt != (VT_ARRAY | VT_VARIANT) || !request.Unpack(requestRecord)) return message;
  return DescribeFailedWrite(*this, request, nullptr, message);
}

HRESULT CovFDT_HartProtocolImpl::ParseConnectResponse(BSTR response, BSTR* communicationReference,
                                                      VARIANT_BOOL* ok, BSTR* errorText) {
  WriteLog(u"CovFDT_HartProtocolImpl::ParseConnectResponse()");
  if (!communicationReference || !ok || !errorText) return E_INVALIDARG;
  *communicationReference = nullptr;
  *ok = VARIANT_FALSE;
  *errorText = nullptr;
  ComPtr<IXMLDOMDocument2> document;
  bool loaded = false;
  HRESULT hr = LoadConnectSideResponse(m_pParameterHandler, response, &document, &loaded);
  if (FAILED(hr)) return hr;
  if (!loaded) return SetText(errorText, u"Error loading ConnectResponse Xml Document");
  FDT::SovFDT_FDT_CommunicationError error;
  bool isError = false;
  hr = ParseCommunicationError(document, &error, &isError);
  if (SUCCEEDED(hr) && isError) return SetText(errorText, u"Error: " + DescribeCommunicationError(error));
  HARTConnectResponseInfo info;
  if (FAILED(info.ReadXml(document))) return SetText(errorText, u"Error: invalid ConnectResponse Document");
  hr = info.bstrCommunicationReference.CopyTo(communicationReference);
  if (FAILED(hr)) return hr;
  *ok = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_HartProtocolImpl::ParseDisconnectResponse(BSTR expectedReference, BSTR response, VARIANT_BOOL* ok,
                                                         BSTR* errorText) {
  WriteLog(u"CovFDT_HartProtocolImpl::ParseDisconnectResponse()");
  if (!ok || !errorText) return E_INVALIDARG;
  *ok = VARIANT_FALSE;
  *errorText = nullptr;
  ComPtr<IXMLDOMDocument2> document;
  bool loaded = false;
  HRESULT hr = LoadConnectSideResponse(m_pParameterHandler, response, &document, &loaded);
  if (FAILED(hr)) return hr;
  if (!loaded) return SetText(errorText, u"Error loading ConnectResponse Xml Document");
  FDT::SovFDT_FDT_CommunicationError error;
  bool isError = false;
  hr = ParseCommunicationError(document, &error, &isError);
  if (SUCCEEDED(hr) && isError) return SetText(errorText, u"Error: " + DescribeCommunicationError(error));
  HARTDisconnectResponseInfo info;
  if (FAILED(info.ReadXml(document))) return SetText(errorText, u"Error: invalid DisconnectResponse document");
  if (info.bstrCommunicationReference.View() != vkr::View(expectedReference))
    return SetText(errorText, u"Error: communicationreference does not match");
  *ok = VARIANT_TRUE;
  return S_OK;
}

// ---- HART: requests. -----------------------------------------------------------------------------

HRESULT CovFDT_HartProtocolImpl::CreateReadRequest(VARIANT rawId, BSTR communicationReference, VARIANT_BOOL,
                                                   VARIANT_BOOL* created, BSTR* document, VARIANT* record) {
  WriteLog(u"CovFDT_HartProtocolImpl::CreateReadRequest()");
  if (!created) return E_INVALIDARG;
  *created = VARIANT_FALSE;
  if (!m_pParameterHandler) return E_POINTER;
  if (!document || !record) return E_INVALIDARG;
  HARTTransactRequestInfo request;
  HRESULT hr = MakeTransactionRecord(*this, NormalId(rawId), nullptr, communicationReference, VARIANT_FALSE, &request);
  if (FAILED(hr)) return hr;
  Bstr text;
  hr = request.WriteXml(text.Put());
  if (FAILED(hr)) return hr;
  if (!request.Pack(record)) return E_UNEXPECTED;
  *document = text.Detach();
  *created = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_HartProtocolImpl::CreateWriteRequest(VARIANT rawId, VARIANT value, BSTR communicationReference,
                                                    VARIANT_BOOL useDataSetValues, VARIANT_BOOL* created,
                                                    BSTR* document, VARIANT* record) {
  WriteLog(u"CovFDT_HartProtocolImpl::CreateWriteRequest()");
  if (!created) return E_INVALIDARG;
  *created = VARIANT_FALSE;
  if (!m_pParameterHandler) return E_POINTER;
  if (!document || !record) return E_INVALIDARG;
  HARTTransactRequestInfo request;
  HRESULT hr =
      MakeTransactionRecord(*this, NormalId(rawId), &value, communicationReference, useDataSetValues, &request);
  if (FAILED(hr)) return hr;
  // Without its record the answer could never be matched back to the parameters: nothing is sent.
  if (!request.Pack(record)) return E_UNEXPECTED;
  Bstr text;
  hr = request.WriteXml(text.Put());
  if (FAILED(hr)) {
    VariantClear(record);
    return hr;
  }
  *document = text.Detach();
  *created = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_HartProtocolImpl::GetReadCommand(VARIANT rawId, BSTR communicationReference, VARIANT* record) {
  WriteLog(u"CovFDT_HartProtocolImpl::GetReadCommand()");
  if (!record) return E_INVALIDARG;
  if (!m_pParameterHandler) return E_POINTER;
  HARTTransactRequestInfo request;
  HRESULT hr = MakeTransactionRecord(*this, NormalId(rawId), nullptr, communicationReference, VARIANT_FALSE, &request);
  if (FAILED(hr)) return hr;
  return request.Pack(record) ? S_OK : E_FAIL;
}

HRESULT CovFDT_HartProtocolImpl::GetWriteCommand(VARIANT rawId, VARIANT value, BSTR communicationReference,
                                                 VARIANT* record) {
  WriteLog(u"CovFDT_HartProtocolImpl::GetWriteCommand()");
  if (!record) return E_INVALIDARG;
  if (!m_pParameterHandler) return E_POINTER;
  // The other members of the group carry what the device holds, as the connection's own writes do.
  HARTTransactRequestInfo request;
  HRESULT hr =
      MakeTransactionRecord(*this, NormalId(rawId), &value, communicationReference, VARIANT_FALSE, &request);
  if (FAILED(hr)) return hr;
  return request.Pack(record) ? S_OK : E_FAIL;
}

HRESULT CovFDT_HartProtocolImpl::CreateDataExchangeRequest(VARIANT record, BSTR communicationReference,
                                                           BSTR* document) {
  WriteLog(u"CovFDT_HartProtocolImpl::CreateDataExchangeRequest()");
  if (!document) return E_INVALIDARG;
  *document = nullptr;
  if (record.vt != (VT_ARRAY | VT_VARIANT)) return E_FAIL;
  HARTTransactRequestInfo request;
  if (!request.Unpack(record)) return E_FAIL;
  const HRESULT hr = GiveReference(request, communicationReference);
  return FAILED(hr) ? hr : request.WriteXml(document);
}

HRESULT CovFDT_HartProtocolImpl::CreateConnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR* protocolId,
                                                      VARIANT* record) {
  WriteLog(u"CovFDT_HartProtocolImpl::CreateConnectRequest()");
  if (created) *created = VARIANT_FALSE;
  if (!m_pParameterHandler) return E_POINTER;
  if (!created || !document || !protocolId || !record) return E_INVALIDARG;

  auto read = [&](ULONG id, VARTYPE vt, Variant* value) -> HRESULT {
    HRESULT hr = m_pParameterHandler->GetParameterValue(vkr::UI4(id), value->Put());
    if (FAILED(hr)) return hr;
    return value->vt == vt ? S_OK : E_FAIL;
  };
  HARTConnectRequestInfo request;
  Variant shortAddress, tag, addressingType;
  HRESULT hr = read(kShortAddressId, VT_UI1, &shortAddress);
  if (SUCCEEDED(hr)) hr = read(kTagId, VT_BSTR, &tag);
  if (SUCCEEDED(hr)) hr = read(kAddressingTypeId, VT_BOOL, &addressingType);
  if (FAILED(hr)) return hr;
  request.byShortAddress = shortAddress.bVal;
  request.bstrTag.Attach(tag.bstrVal);  // the tag text moves over
  tag.vt = VT_EMPTY;
  if (addressingType.boolVal == VARIANT_TRUE) {
    BYTE* const fields[] = {&request.longAddress.byManufacturerId, &request.longAddress.byDeviceTypeId,
                            &request.longAddress.byAddress1, &request.longAddress.byAddress2,
                            &request.longAddress.byAddress3};
    for (ULONG i = 0; i < 5; ++i) {
      Variant part;
      hr = read(kLongAddressFirstId + i, VT_UI1, &part);
      if (FAILED(hr)) return hr;
      *fields[i] = part.bVal;
    }
    request.bLongAddressPresent = true;
  }

  Bstr text;
  hr = request.WriteXml(text.Put());
  if (FAILED(hr)) return hr;
  if (!request.Pack(record)) return E_UNEXPECTED;
  hr = m_bstrProtocolId.CopyTo(protocolId);
  if (FAILED(hr)) {
    VariantClear(record);
    return hr;
  }
  *document = text.Detach();
  *created = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_HartProtocolImpl::CreateDisconnectRequest(VARIANT_BOOL* created, BSTR* document,
                                                         BSTR communicationReference, VARIANT* record) {
  WriteLog(u"CovFDT_HartProtocolImpl::CreateDisconnectRequest()");
  if (!created) return E_INVALIDARG;
  *created = VARIANT_FALSE;
  if (!document || !record) return E_INVALIDARG;
  HARTDisconnectRequestInfo request;
  HRESULT hr = GiveReference(request, communicationReference);
  if (FAILED(hr)) return hr;
  Bstr text;
  hr = request.WriteXml(text.Put());
  if (FAILED(hr)) return hr;
  if (!request.Pack(record)) return E_UNEXPECTED;
  *document = text.Detach();
  *created = VARIANT_TRUE;
  return S_OK;
}
