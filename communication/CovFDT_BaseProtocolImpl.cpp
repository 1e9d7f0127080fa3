// The protocol objects' tables: parameter entries and transaction groups built from the parameter
// model's AddressInformation texts, the address keys that form the groups, the bit positions of
// every parameter, value coding through the codecs, TypeInformation reading and reordering, and
// the HART bus address. Requests and responses are in HartProtocolRequests.cpp, the process
// channel in HartProcessChannel.cpp.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>
#include <typeinfo>
#include <mutex>
#include <memory>

#include "include/DtmMessages.h"
#include "parameters/ParInfo.h"
#include "communication/HartCodecs.h"
#include "communication/MyHartProtocol.h"
#include "communication/TextMemo.h"
#include "xml/Log.h"
#include "include/DtmInterfaces.h"
#include "parameters/CFdtVariant.h"
#include "xml/Conversions.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr ULONG kShortAddressId = 121;
constexpr int kMaxReportChars = 4096;

// Where a value lies in a command's data, as far as the address says.
struct PduPosition {
  ULONG bitOffset = 0;
  ULONG bitLength = 0;
  bool hasOffset = false;
  bool hasLength = false;
};

HRESULT LoadXml(BSTR text, vkr::ComPtr<IXMLDOMDocument2>* document) {
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(text, document->Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!*document) return E_POINTER;
  return loaded ? S_OK : E_FAIL;
}

// Typed reads at a path given as a literal. The XML helpers take a null path for "nothing there",
// so a path that could not be allocated is reported here instead of read as absent.
HRESULT OptionalUI4At(IXMLDOMNode* node, const char16_t* path, ULONG* value, bool* present) {
  const vkr::Bstr p(path);
  if (!p.Get()) return E_OUTOFMEMORY;
  return GetOptionalXmlValueUI4(value, present, node, p);
}

HRESULT OptionalUI1At(IXMLDOMNode* node, const char16_t* path, BYTE* value, bool* present) {
  const vkr::Bstr p(path);
  if (!p.Get()) return E_OUTOFMEMORY;
  return GetOptionalXmlValueUI1(value, present, node, p);
}

HRESULT StringAt(IXMLDOMNode* node, const char16_t* path, BSTR* text, bool* found) {
  const vkr::Bstr p(path);
  if (!p.Get()) return E_OUTOFMEMORY;
  return GetXmlString(text, found, node, p);
}

// The position inside node (the first PduPosition below it, at any depth).
HRESULT ReadPduPositionAt(IXMLDOMNode* node, PduPosition* position) {
  HRESULT hr = OptionalUI4At(node, u".//PduPosition/@bitOffset", &position->bitOffset, &position->hasOffset);
  if (FAILED(hr)) return hr;
  return OptionalUI4At(node, u".//PduPosition/@wBitLength", &position->bitLength, &position->hasLength);
}

// The position in a protocol address text.
HRESULT ReadPduPosition(BSTR protocolAddress, PduPosition* position) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  HRESULT hr = LoadXml(protocolAddress, &document);
  if (FAILED(hr)) return hr;
  return ReadPduPositionAt(document.Get(), position);
}

// The HART address element of a service ("read", "write") in a protocol address; null when
// there is none.
HRESULT SelectHartAddress(IXMLDOMNode* document, const char16_t* service, vkr::ComPtr<IXMLDOMNode>* address) {
  const vkr::Bstr path(u"Protocol[@id=\"" + std::u16string(kHartProtocolId) + u"\"]/HARTAddress[@service = \"" +
                       service + u"\"]");
  if (!path.Get()) return E_OUTOFMEMORY;
  HRESULT hr = document->selectSingleNode(path, address->Put());
  return FAILED(hr) ? hr : S_OK;
}

// A field of a parameter through IovFdtParameterInfo.
HRESULT GetField(IovFdtParameterInfo* info, const VARIANT& id, ULONG mask, VARIANT* value) {
  return info->GetParameterField(id, vkr::UI4(mask), value);
}

// The value of a numeric VARIANT as a double; false when it has none.
bool NumberOf(const VARIANT& value, double* number) {
  vkr::Variant r8;
  if (FAILED(VariantChangeType(r8.Ptr(), &value, 0, VT_R8))) return false;
  *number = r8.dblVal;
  return true;
}

ULONG WidthOfVarType(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1: return 8;
    case VT_I2:
    case VT_BOOL:
    case VT_UI2: return 16;
    case VT_I4:
    case VT_R4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_HRESULT: return 32;
    case VT_DATE: return 48;
    case VT_R8:
    case VT_I8:
    case VT_UI8: return 64;
    case VT_DECIMAL: return 96;
    default: return 0;
  }
}

// An element's name ("Simple", "Struct", "Array"), or empty.
std::u16string NameOf(IXMLDOMNode* node) {
  vkr::Bstr name;
  if (FAILED(node->get_nodeName(name.Put()))) return {};
  return name.Str();
}

// An unsigned attribute of an element, or `fallback` when it is absent or no number.
ULONG AttributeOr(IXMLDOMNode* node, const char16_t* path, ULONG fallback) {
  ULONG value = fallback;
  bool present = false;
  if (FAILED(GetOptionalXmlValueUI4(&value, &present, node, vkr::Bstr(path))) || !present) return fallback;
  return value;
}

// The child elements of a node, in document order.
std::vector<vkr::ComPtr<IXMLDOMNode>> ChildElements(IXMLDOMNode* node) {
  std::vector<vkr::ComPtr<IXMLDOMNode>> out;
  vkr::ComPtr<IXMLDOMNodeList> list;
  if (FAILED(node->get_childNodes(list.Put())) || !list) return out;
  LONG n = 0;
  list->get_length(&n);
  for (LONG i = 0; i < n; ++i) {
    vkr::ComPtr<IXMLDOMNode> child;
    DOMNodeType type = NODE_INVALID;
    if (SUCCEEDED(list->get_item(i, child.Put())) && child && SUCCEEDED(child->get_nodeType(&type)) &&
        type == NODE_ELEMENT)
      out.push_back(child);
  }
  return out;
}

// The bit length of a TypeInformation element: its bitLength, else what its children span.
// Saturates instead of wrapping, and stops at a depth no real layout reaches.
std::uint64_t ElementBitLength(IXMLDOMNode* node, int depth = 0) {
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 40;
  bool present = false;
  ULONG bitLength = 0;
  if (SUCCEEDED(GetOptionalXmlValueUI4(&bitLength, &present, node, vkr::Bstr(u"@bitLength"))) && present)
    return bitLength;
  if (depth > 64) return 0;
  const std::u16string name = NameOf(node);
  if (name != u"Struct" && name != u"Array") return 0;
  std::vector<vkr::ComPtr<IXMLDOMNode>> children = ChildElements(node);
  if (children.empty()) return 0;
  IXMLDOMNode* child = children.back().Get();
  const std::uint64_t span = AttributeOr(child, u"@bitPosition", 0) + ElementBitLength(child, depth + 1);
  if (name == u"Struct") return std::min(span, kLimit);
  if (children.size() != 1) return 0;
  const std::uint64_t count = AttributeOr(node, u"@elementCount", 0);
  return span != 0 && count > kLimit / span ? kLimit : span * count;
}

// The protocol's element of a parameter's address text, as XML; kept by the text and path.
struct ProtocolPartTag;
struct KeptText {
  HRESULT hr = S_OK;
  std::u16string text;
  bool present = false;
};

HRESULT ProtocolPartOf(BSTR addressText, BSTR protocolPath, BSTR* protocolAddress) {
  std::u16string key(vkr::View(protocolPath));
  key += u'|';
  key += vkr::View(addressText);
  TextMemo<KeptText>& memo = SharedMemo<KeptText, ProtocolPartTag>();
  // Kept already: the part is made from the kept text directly.
  HRESULT keptResult = S_OK;
  *protocolAddress = nullptr;
  if (memo.Visit(key, [&](const KeptText& k) {
        keptResult = k.hr;
        if (!k.present) return;
        *protocolAddress = SysAllocStringLen(k.text.data(), static_cast<UINT>(k.text.size()));
        if (!*protocolAddress) keptResult = E_OUTOFMEMORY;
      }))
    return keptResult;
  KeptText kept;
  {
    vkr::ComPtr<IXMLDOMDocument2> document;
    kept.hr = LoadXml(addressText, &document);
    vkr::Bstr part;
    if (SUCCEEDED(kept.hr)) kept.hr = SelectNodeXml(document.Get(), protocolPath, part.Put());
    if (FailureOfTheMoment(kept.hr)) return kept.hr;
    kept.present = part.Get() != nullptr;
    kept.text.assign(part.View());
    memo.Store(key, kept);
  }
  *protocolAddress = nullptr;
  if (kept.present) {
    *protocolAddress = SysAllocStringLen(kept.text.data(), static_cast<UINT>(kept.text.size()));
    if (!*protocolAddress) return E_OUTOFMEMORY;
  }
  return kept.hr;
}

// What a HART protocol address gives the table: its group key and its bit positions.
struct KeptHartKey {
  HRESULT hr = S_OK;
  bool numeric = true;
  ULONG number = 0;
  std::u16string text;
};
struct KeptHartKeyTag;

struct KeptHartPosition {
  HRESULT hr = S_OK;
  ULONG readOffset = 0;
  ULONG writeOffset = 0;
  ULONG bitLength = 0;
  bool hasLength = false;
  bool loaded = false;  // the text loaded: the offsets were read from it
};
struct KeptHartPositionTag;

// The VARTYPE a TypeInformation text names for its Simple element (VT_EMPTY: none).
struct KeptTypeName {
  HRESULT hr = S_OK;
  VARTYPE named = VT_EMPTY;
};
struct KeptTypeNameTag;

}  // namespace

// Ids are kept as VT_UI4, the parameter model's type for them; an id handed in as another
// integer type stands for the same parameter. Other types compare as they are.
bool IntegerParameterId(const VARIANT& id, ULONG* n) {
  switch (id.vt) {
    case VT_UI4: *n = id.ulVal; return true;
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: return SUCCEEDED(VariantToULong(&id, n));
    default: return false;
  }
}

bool IsActingHartRead(const VARIANT& addressInformation) {
  // HART commands that do something to the device instead of answering a value.
  constexpr BYTE kSelfTest = 41, kDeviceReset = 42;
  if (addressInformation.vt != VT_BSTR || SysStringLen(addressInformation.bstrVal) == 0) return false;
  vkr::ComPtr<IXMLDOMDocument2> document;
  if (FAILED(LoadXml(addressInformation.bstrVal, &document))) return false;
  BYTE command = 0;
  bool present = false;
  const std::u16string path = u"AddressInformation/Protocol[@id=\"" + std::u16string(kHartProtocolId) +
                              u"\"]/HARTAddress[@service = \"read\"]/@command";
  if (FAILED(OptionalUI1At(document.Get(), path.c_str(), &command, &present)) || !present) return false;
  return command == kSelfTest || command == kDeviceReset;
}

namespace {

struct KeptProtocolIds {
  HRESULT hr = S_OK;
  std::vector<std::u16string> ids;
};
struct KeptProtocolIdsTag;

HRESULT ReadProtocolIds(BSTR addressText, std::vector<std::u16string>* ids) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(addressText, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!document) return E_POINTER;
  vkr::ComPtr<IXMLDOMNodeList> protocols;
  if (FAILED(document->selectNodes(vkr::Bstr(u"AddressInformation/Protocol"), protocols.Put())) || !protocols)
    return E_POINTER;
  LONG count = 0;
  protocols->get_length(&count);
  if (count <= 0) return E_UNEXPECTED;
  const vkr::Bstr idPath(u"@id");
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (FAILED(protocols->get_item(i, node.Put())) || !node) return E_POINTER;
    vkr::Bstr protocolId;
    hr = GetXmlValueBstr(protocolId.Put(), node.Get(), idPath);
    if (FAILED(hr)) return hr;
    ids->emplace_back(protocolId.View());
  }
  return S_OK;
}

}  // namespace

HRESULT ProtocolIdsOfAddress(BSTR addressText, std::vector<std::u16string>* ids) {
  ids->clear();
  TextMemo<KeptProtocolIds>& memo = SharedMemo<KeptProtocolIds, KeptProtocolIdsTag>();
  KeptProtocolIds kept;
  if (!memo.Find(vkr::View(addressText), &kept)) {
    kept.hr = ReadProtocolIds(addressText, &kept.ids);
    if (FailureOfTheMoment(kept.hr)) return kept.hr;
    memo.Store(vkr::View(addressText), kept);
  }
  *ids = std::move(kept.ids);
  return kept.hr;
}

// ---- Construction and the tables. ----

CovFDT_BaseProtocolImpl::CovFDT_BaseProtocolImpl() = default;

CovFDT_BaseProtocolImpl::~CovFDT_BaseProtocolImpl() = default;

CovFDT_HartProtocolImpl::CovFDT_HartProtocolImpl() { m_bstrProtocolId = vkr::Bstr(kHartProtocolId); }

namespace {

// Group keys are mostly command numbers: those compare directly, the rest as variants do.
bool SameKey(const VARIANT& a, const VARIANT& b) {
  if (a.vt == VT_UI4 && b.vt == VT_UI4) return a.ulVal == b.ulVal;
  return IsVariantEqual(a, b);
}

}  // namespace

SovFDT_ParameterEntry* CovFDT_BaseProtocolImpl::FindParameterEntry(const VARIANT& id) const {
  ULONG n = 0;
  const bool numeric = IntegerParameterId(id, &n);
  for (const auto& entry : m_entries) {
    if (numeric ? entry->id.vt == VT_UI4 && entry->id.ulVal == n : IsVariantEqual(entry->id, id))
      return entry.get();
  }
  return nullptr;
}

std::vector<vkr::Variant> CovFDT_BaseProtocolImpl::TakeAnswerLog() {
  std::vector<vkr::Variant> answered = m_answerLog ? std::move(*m_answerLog) : std::vector<vkr::Variant>{};
  m_answerLog.reset();
  return answered;
}

void CovFDT_BaseProtocolImpl::NoteAnswered(const VARIANT& id) {
  if (!m_answerLog) return;
  for (const vkr::Variant& known : *m_answerLog)
    if (IsVariantEqual(known, id)) return;
  m_answerLog->emplace_back(id);
}

SovFDT_TransactionGroup* CovFDT_BaseProtocolImpl::FindTransactionGroup(ULONG number) const {
  for (const auto& group : m_groups)
    if (group->nNumber == number) return group.get();
  return nullptr;
}

bool CovFDT_BaseProtocolImpl::AttachDtm(IUnknown* dtm) {
  if (m_pParameterHandler) return true;
  if (!dtm) return false;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  if (FAILED(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid())) || !handler) return false;
  m_pParameterHandler = handler.Get();
  m_hrAttachTable = InitParameterTable();
  m_bAttachTableFresh = true;
  return true;
}

bool CovFDT_BaseProtocolImpl::DetachDtm() {
  // The protocol id stays: it names the protocol object, and a DTM whose channel is set again
  // after a release must find and attach the same protocol.
  m_pParameterHandler = nullptr;
  m_bAttachTableFresh = m_bReuseAttachTable = false;
  return true;
}

void CovFDT_BaseProtocolImpl::ReportMessage(const char* format, ...) {
  if (!m_pParameterHandler || !format) return;
  vkr::ComPtr<IovFdtDtmEvents> events;
  if (FAILED(m_pParameterHandler->QueryInterface(IovFdtDtmEvents::iid, events.PutVoid())) || !events) return;
  char buffer[kMaxReportChars + 1] = {};
  va_list args;
  va_start(args, format);
  _vsnprintf_s(buffer, sizeof buffer, _TRUNCATE, format, args);
  va_end(args);
  vkr::Variant text;
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(vkr::Utf8ToUtf16(buffer).c_str());
  if (!text.bstrVal) return;
  events->DtmMessage(vkr::I4(kMsgErrorMessage), text);
}

std::u16string CovFDT_BaseProtocolImpl::DescribeFailedRequest(const VARIANT&, const std::u16string& message) {
  return message;
}

HRESULT CovFDT_BaseProtocolImpl::ReservedHookA(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG) { return E_NOTIMPL; }

HRESULT CovFDT_BaseProtocolImpl::ReservedHookB(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG,
                                               ULONG, ULONG) {
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseProtocolImpl::ReservedHookC(ULONG, ULONG, ULONG, ULONG, ULONG) { return E_NOTIMPL; }

HRESULT CovFDT_BaseProtocolImpl::ReservedHookD(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG) {
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseProtocolImpl::InfoRequest(VARIANT, VARIANT, VARIANT*) { return E_INVALIDARG; }

HRESULT CovFDT_BaseProtocolImpl::InfoRequestEx(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG,
                                               ULONG, ULONG) {
  return E_INVALIDARG;
}

HRESULT CovFDT_BaseProtocolImpl::GetBusAddressXml(VARIANT_BOOL*, BSTR*) { return E_NOTIMPL; }

HRESULT CovFDT_BaseProtocolImpl::SetBusAddressFromXml(VARIANT_BOOL*, IUnknown*) { return E_NOTIMPL; }

HRESULT CovFDT_BaseProtocolImpl::RegisterParameter(VARIANT id, BSTR protocolAddress) {
  try {
    SovFDT_ParameterEntry* entry = FindParameterEntry(id);
    bool added = false;
    if (!entry) {
      auto fresh = std::make_unique<SovFDT_ParameterEntry>();
      ULONG n = 0;
      if (IntegerParameterId(id, &n))
        fresh->id = vkr::Variant(vkr::UI4(n));
      else if (FAILED(VariantCopy(fresh->id.Ptr(), &id)))
        return E_OUTOFMEMORY;
      m_entries.push_back(std::move(fresh));
      entry = m_entries.back().get();
      added = true;
    }

    vkr::Variant key;
    HRESULT hr = GetAddressKey(protocolAddress, key.Put());
    if (FAILED(hr)) {
      // An address that gives no key registers nothing.
      if (added) m_entries.pop_back();
      return hr;
    }

    SovFDT_TransactionGroup* group = nullptr;
    for (const auto& g : m_groups)
      if (SameKey(g->key, key)) {
        group = g.get();
        break;
      }
    if (!group) {
      auto fresh = std::make_unique<SovFDT_TransactionGroup>();
      fresh->nNumber = static_cast<ULONG>(m_groups.size()) + 1;
      fresh->address.vt = VT_BSTR;
      fresh->address.bstrVal = SysAllocStringLen(protocolAddress, SysStringLen(protocolAddress));
      if (!fresh->address.bstrVal) return E_OUTOFMEMORY;
      fresh->key = std::move(key);
      m_groups.push_back(std::move(fresh));
      group = m_groups.back().get();
    }
    group->members.push_back(entry->id);
    entry->nGroup = group->nNumber;
    hr = ReadParameterAddress(entry, protocolAddress);
    return FAILED(hr) ? hr : S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// What one table was built from, with the table, for the objects of one protocol class.
struct CovFDT_BaseProtocolImpl::TableInputs {
  struct Parameter {
    ULONG id = 0;
    bool hasText = false;  // the address is a text (else the parameter has none)
    std::u16string text;
    bool hasWord = false;  // the addressed word reads as a number
    ULONG word = 0;
    bool operator==(const Parameter&) const = default;
  };
  const std::type_info* protocolClass = nullptr;
  std::u16string protocolId;
  std::vector<Parameter> parameters;
  bool SameAs(const TableInputs& other) const {
    return protocolClass == other.protocolClass && protocolId == other.protocolId && parameters == other.parameters;
  }
};

namespace {

struct BuiltTable {
  CovFDT_BaseProtocolImpl::TableInputs inputs;
  std::vector<SovFDT_ParameterEntry> entries;
  std::vector<SovFDT_TransactionGroup> groups;
};

// The last table each protocol class built, by class and protocol id; read and replaced under the
// lock.
std::mutex g_builtTablesLock;
std::vector<std::shared_ptr<const BuiltTable>>& BuiltTables() {
  static std::vector<std::shared_ptr<const BuiltTable>> tables;
  return tables;
}

std::shared_ptr<const BuiltTable> FindBuiltTable(const CovFDT_BaseProtocolImpl::TableInputs& inputs) {
  std::lock_guard<std::mutex> hold(g_builtTablesLock);
  for (const auto& table : BuiltTables())
    if (table->inputs.SameAs(inputs)) return table;
  return nullptr;
}

void KeepBuiltTable(std::shared_ptr<const BuiltTable> table) {
  std::lock_guard<std::mutex> hold(g_builtTablesLock);
  for (auto& kept : BuiltTables()) {
    if (kept->inputs.protocolClass == table->inputs.protocolClass &&
        kept->inputs.protocolId == table->inputs.protocolId) {
      kept = std::move(table);
      return;
    }
  }
  BuiltTables().push_back(std::move(table));
}

}  // namespace

bool CovFDT_BaseProtocolImpl::ReadTableInputs(IovFdtParameterInfo* info, ULONG count, TableInputs* inputs) {
  inputs->protocolClass = &typeid(*this);
  inputs->protocolId.assign(vkr::View(GetProtocolId()));
  inputs->parameters.reserve(count);
  // One record for all the reads: each read replaces the two fields it asks for.
  ParInfo fields;
  for (ULONG index = 0; index < count; ++index) {
    TableInputs::Parameter p;
    vkr::Variant id;
    if (FAILED(info->GetParameterIdAt(vkr::UI4(index), id.Put())) || !IntegerParameterId(id, &p.id)) return false;
    // Both fields in one read of the record, as GetParameterAddress and GetAddressedWord read
    // them one by one.
    if (FAILED(m_pParameterHandler->GetParInfoFields(p.id, PIF_ADDRESS | PIF_ADDRESSED, &fields))) return false;
    const VARIANT& address = fields.m_vAddress;
    if (address.vt == VT_BSTR) {
      p.hasText = true;
      p.text.assign(address.bstrVal ? address.bstrVal : u"", SysStringLen(address.bstrVal));
    } else if (address.vt != VT_EMPTY) {
      return false;
    }
    p.hasWord = true;
    p.word = fields.m_dwAddressed;
    inputs->parameters.push_back(std::move(p));
  }
  return true;
}

HRESULT CovFDT_BaseProtocolImpl::InitParameterTable() {
  m_bAttachTableFresh = false;
  if (std::exchange(m_bReuseAttachTable, false) && m_pParameterHandler) return m_hrAttachTable;
  if (!m_pParameterHandler) return E_NOINTERFACE;
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (FAILED(m_pParameterHandler->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
    return E_NOINTERFACE;
  m_entries.clear();
  m_groups.clear();

  vkr::Variant countValue;
  HRESULT hr = info->GetParameterCount(countValue.Put());
  if (FAILED(hr)) return hr;
  ULONG count = 0;
  hr = VariantToULong(countValue.Ptr(), &count);
  if (FAILED(hr)) return hr;

  // A class whose table follows from the ids, address texts and words alone takes a table built
  // from the same ones already (every DTM of a device type has them); with the trace switched
  // on, which shows every step, the table is built.
  std::shared_ptr<BuiltTable> built;
  if (BuildsTableFromAddressesAlone() && !IsLogEnabled()) {
    try {
      built = std::make_shared<BuiltTable>();
      if (!ReadTableInputs(info.Get(), count, &built->inputs)) built = nullptr;
    } catch (const std::bad_alloc&) {
      built = nullptr;
    }
    if (built) {
      if (std::shared_ptr<const BuiltTable> kept = FindBuiltTable(built->inputs)) {
        try {
          std::vector<std::unique_ptr<SovFDT_ParameterEntry>> entries;
          std::vector<std::unique_ptr<SovFDT_TransactionGroup>> groups;
          entries.reserve(kept->entries.size());
          groups.reserve(kept->groups.size());
          for (const SovFDT_ParameterEntry& e : kept->entries)
            entries.push_back(std::make_unique<SovFDT_ParameterEntry>(e));
          for (const SovFDT_TransactionGroup& g : kept->groups)
            groups.push_back(std::make_unique<SovFDT_TransactionGroup>(g));
          m_entries.swap(entries);
          m_groups.swap(groups);
          return S_OK;
        } catch (const std::bad_alloc&) {
          built = nullptr;  // built below as always
        }
      }
    }
  }
  m_bLengthDerived = false;

  const vkr::Bstr protocolPath(u"AddressInformation/Protocol[@id=\"" + std::u16string(vkr::View(GetProtocolId())) +
                               u"\"]");
  if (!protocolPath.Get()) return E_OUTOFMEMORY;
  for (ULONG index = 0; index < count; ++index) {
    vkr::Variant id;
    hr = info->GetParameterIdAt(vkr::UI4(index), id.Put());
    if (FAILED(hr)) return hr;

    // A parameter without an address of this protocol is skipped; a failure of the moment (no
    // memory, no COM on this thread) fails the table, never a parameter quietly left out.
    vkr::Variant addressValue;
    hr = m_pParameterHandler->GetParameterAddress(id, addressValue.Put());
    if (FailureOfTheMoment(hr)) return hr;
    if (FAILED(hr) || addressValue.vt == VT_EMPTY) continue;
    vkr::Bstr addressText;
    if (addressValue.vt == VT_BSTR) {
      // Already the text: taken over rather than copied.
      addressText.Attach(addressValue.bstrVal);
      addressValue.vt = VT_EMPTY;
      hr = S_OK;
    } else {
      hr = VariantToBstr(addressValue.Ptr(), addressText.Put());
    }
    if (FailureOfTheMoment(hr)) return hr;
    if (FAILED(hr) || addressText.View().substr(0, 1) != u"<") continue;
    vkr::Bstr protocolAddress;
    hr = ProtocolPartOf(addressText, protocolPath, protocolAddress.Put());
    if (FailureOfTheMoment(hr)) return hr;
    if (FAILED(hr) || protocolAddress.Empty()) continue;

    vkr::Variant addressed;
    hr = m_pParameterHandler->GetAddressedWord(id, addressed.Put());
    if (FAILED(hr)) return hr;
    ULONG word = 0;
    if (FAILED(VariantToULong(addressed.Ptr(), &word)) || word == 0) continue;

    hr = RegisterParameter(id, protocolAddress);
    if (FAILED(hr)) return hr;
  }
  if (built && !m_bLengthDerived) {
    // Kept for the next object of the class; a copy that does not fit in memory is not kept.
    try {
      built->entries.reserve(m_entries.size());
      built->groups.reserve(m_groups.size());
      for (const auto& e : m_entries) built->entries.push_back(*e);
      for (const auto& g : m_groups) built->groups.push_back(*g);
      KeepBuiltTable(std::move(built));
    } catch (const std::bad_alloc&) {
    }
  }
  return S_OK;
}

// ---- Addresses. ----

HRESULT CovFDT_BaseProtocolImpl::GetAddressKey(BSTR protocolAddress, VARIANT* key) {
  if (!key) return E_INVALIDARG;
  VariantClear(key);
  key->vt = VT_BSTR;
  key->bstrVal = SysAllocStringLen(protocolAddress, SysStringLen(protocolAddress));
  if (!key->bstrVal) {
    key->vt = VT_EMPTY;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

namespace {

HRESULT HartAddressKey(BSTR protocolAddress, KeptHartKey* out) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  HRESULT hr = LoadXml(protocolAddress, &document);
  if (FAILED(hr)) return hr;

  std::u16string text;
  ULONG numbers[2] = {0x10000, 0x1000000};
  const char16_t* services[2] = {u"read", u"write"};
  const char16_t* prefixes[2] = {u"rr: ", u"wr: "};
  for (int i = 0; i < 2; ++i) {
    vkr::ComPtr<IXMLDOMNode> address;
    hr = SelectHartAddress(document.Get(), services[i], &address);
    if (FAILED(hr)) return hr;
    if (!address) continue;
    vkr::Bstr requestData;
    bool found = false;
    hr = StringAt(address.Get(), u"@requestData", requestData.Put(), &found);
    if (FAILED(hr)) return hr;
    if (found && !requestData.Empty()) text += prefixes[i] + requestData.Str();
    BYTE command = 0;
    bool present = false;
    hr = OptionalUI1At(address.Get(), u"@command", &command, &present);
    if (FAILED(hr)) return hr;
    if (present) numbers[i] = i == 0 ? command : ULONG{command} * 256;
  }
  const ULONG n = numbers[0] + numbers[1];
  out->numeric = text.empty();
  out->number = n;
  if (!text.empty()) out->text = vkr::Format(u"0x%08X, %s", n, text.c_str());
  return S_OK;
}

}  // namespace

HRESULT CovFDT_HartProtocolImpl::GetAddressKey(BSTR protocolAddress, VARIANT* key) {
  if (!key) return E_INVALIDARG;
  TextMemo<KeptHartKey>& memo = SharedMemo<KeptHartKey, KeptHartKeyTag>();
  const std::u16string_view text = vkr::View(protocolAddress);
  // The key as a value, from what is kept for the text.
  auto give = [key](const KeptHartKey& kept) -> HRESULT {
    if (FAILED(kept.hr)) return kept.hr;
    vkr::Variant result;
    if (kept.numeric) {
      result = vkr::Variant(vkr::UI4(kept.number));
    } else {
      result.vt = VT_BSTR;
      result.bstrVal = SysAllocStringLen(kept.text.data(), static_cast<UINT>(kept.text.size()));
      if (!result.bstrVal) return E_OUTOFMEMORY;
    }
    VariantClear(key);
    result.Detach(key);
    return S_OK;
  };
  HRESULT hr = S_OK;
  if (memo.Visit(text, [&](const KeptHartKey& kept) { hr = give(kept); })) return hr;
  KeptHartKey kept;
  kept.hr = HartAddressKey(protocolAddress, &kept);
  if (FailureOfTheMoment(kept.hr)) return kept.hr;
  memo.Store(text, kept);
  return give(kept);
}


HRESULT CovFDT_BaseProtocolImpl::ReadParameterAddress(SovFDT_ParameterEntry* entry, BSTR protocolAddress) {
  if (!entry || !FindTransactionGroup(entry->nGroup)) return E_INVALIDARG;
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (!m_pParameterHandler ||
      FAILED(m_pParameterHandler->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
    return E_NOINTERFACE;
  PduPosition position;
  HRESULT hr = ReadPduPosition(protocolAddress, &position);
  if (FAILED(hr)) return hr;
  entry->nReadBitOffset = position.bitOffset;
  entry->nWriteBitOffset = position.bitOffset;
  if (position.hasLength) {
    entry->nBitLength = position.bitLength;
    return S_OK;
  }
  return DeriveBitLength(entry, protocolAddress);
}

namespace {

HRESULT HartPositions(BSTR protocolAddress, KeptHartPosition* out) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  HRESULT hr = LoadXml(protocolAddress, &document);
  if (FAILED(hr)) return hr;
  out->loaded = true;
  const char16_t* services[2] = {u"read", u"write"};
  for (int i = 0; i < 2; ++i) {
    vkr::ComPtr<IXMLDOMNode> address;
    hr = SelectHartAddress(document.Get(), services[i], &address);
    if (FAILED(hr)) return hr;
    if (!address) continue;
    PduPosition position;
    hr = ReadPduPositionAt(address.Get(), &position);
    if (FAILED(hr)) return hr;
    (i == 0 ? out->readOffset : out->writeOffset) = position.bitOffset;
    // One length for both directions; the write address's, when it has one, wins.
    if (position.hasLength) {
      out->bitLength = position.bitLength;
      out->hasLength = true;
    }
  }
  return S_OK;
}

}  // namespace

HRESULT CovFDT_HartProtocolImpl::ReadParameterAddress(SovFDT_ParameterEntry* entry, BSTR protocolAddress) {
  if (!entry || !FindTransactionGroup(entry->nGroup)) return E_INVALIDARG;
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (!m_pParameterHandler ||
      FAILED(m_pParameterHandler->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
    return E_NOINTERFACE;
  TextMemo<KeptHartPosition>& memo = SharedMemo<KeptHartPosition, KeptHartPositionTag>();
  KeptHartPosition kept;
  if (!memo.Find(vkr::View(protocolAddress), &kept)) {
    kept.hr = HartPositions(protocolAddress, &kept);
    if (FailureOfTheMoment(kept.hr)) return kept.hr;
    memo.Store(vkr::View(protocolAddress), kept);
  }
  // A failure leaves the entry as far as the reading got, as reading it afresh would.
  if (!kept.loaded) return kept.hr;
  entry->nReadBitOffset = kept.readOffset;
  entry->nWriteBitOffset = kept.writeOffset;
  if (kept.hasLength) entry->nBitLength = kept.bitLength;
  if (FAILED(kept.hr)) return kept.hr;
  if (kept.hasLength) return S_OK;
  return DeriveBitLength(entry, protocolAddress);
}

// A length the address does not give: the protocol's own reading, else the parameter model's
// type and limits. A length given as 0 in the address is a field of no bits and is kept.
HRESULT CovFDT_BaseProtocolImpl::DeriveBitLength(SovFDT_ParameterEntry* entry, BSTR protocolAddress) {
  m_bLengthDerived = true;
  ULONG offset = 0, length = 0;
  if (SUCCEEDED(ReadProtocolPduPosition(protocolAddress, &offset, &length)) && length != 0) {
    entry->nBitLength = length;
    return S_OK;
  }
  ULONG id = 0;
  HRESULT hr = VariantToULong(entry->id.Ptr(), &id);
  if (FAILED(hr)) return hr;
  VARTYPE vt = VT_EMPTY;
  vkr::Variant minimum, maximum;
  hr = m_pParameterHandler->GetParameterInfoById(id, nullptr, nullptr, &vt, minimum.Put(), maximum.Put(), nullptr,
                                                 nullptr);
  if (FAILED(hr)) return hr;

  std::uint64_t bits = 0;
  if (vt == VT_BSTR) {
    double lo = 0, hi = 0;
    if (NumberOf(minimum, &lo) && NumberOf(maximum, &hi) && std::abs(hi - lo) < 65536.0)
      bits = static_cast<std::uint64_t>(std::abs(hi - lo)) * 8;
    const vkr::Bstr path(u"TypeInformation/Simple/@iecType");
    if (!path.Get()) return E_OUTOFMEMORY;
    vkr::Bstr iecType;
    if (QueryTypeInformation(entry->id, path, iecType.Put()) == S_OK && iecType.View() == u"WSTRING") bits *= 2;
  } else if (vt == (VT_ARRAY | VT_UI1)) {
    double lo = 0, hi = 0;
    if (!NumberOf(minimum, &lo) || !NumberOf(maximum, &hi) || lo != hi) return E_UNEXPECTED;
    if (hi > 0 && hi < 65536.0) bits = static_cast<std::uint64_t>(hi) * 8;
  } else {
    bits = WidthOfVarType(vt);
    if (bits == 0) return E_FAIL;
  }
  if (bits == 0) return E_FAIL;
  entry->nBitLength = static_cast<ULONG>(bits);
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::ReadProtocolPduPosition(BSTR, ULONG*, ULONG*) { return E_NOTIMPL; }

// ---- Values. ----

HRESULT CovFDT_BaseProtocolImpl::EncodeParameterValue(VARIANT value, const SovFDT_ParameterEntry* entry,
                                                      ULONG bufferSize, BYTE* buffer, ULONG flags) {
  return EncodeValueIntoBuffer(value, entry, bufferSize, buffer, flags);
}

HRESULT CovFDT_BaseProtocolImpl::DecodeParameterValue(const SovFDT_ParameterEntry* entry, ULONG byteCount,
                                                      const BYTE* bytes, VARIANT* value, ULONG flags) {
  if (!entry) return E_INVALIDARG;
  VARTYPE vt = VT_EMPTY;
  HRESULT hr = GetDecodeVarType(entry->id, &vt);
  if (FAILED(hr)) return hr;
  return DecodeValueFromBuffer(entry, byteCount, bytes, vt, value, flags);
}

// The parameter's own VARTYPE, unless its TypeInformation names another for a Simple element.
HRESULT CovFDT_BaseProtocolImpl::GetDecodeVarType(const VARIANT& id, VARTYPE* vt) {
  if (!vt) return E_INVALIDARG;
  if (!m_pParameterHandler) return E_POINTER;
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (FAILED(m_pParameterHandler->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
    return E_NOINTERFACE;
  vkr::Variant field;
  HRESULT hr = GetField(info.Get(), id, PIF_VARTYPE, field.Put());
  if (FAILED(hr)) return hr;
  hr = VariantChangeType(field.Ptr(), field.Ptr(), 0, VT_UI2);
  if (FAILED(hr)) return hr;
  *vt = field.uiVal;

  vkr::Bstr typeInformation;
  if (FAILED(GetTypeInformationXml(id, typeInformation.Put())) || typeInformation.Length() < 6) return S_OK;
  TextMemo<KeptTypeName>& memo = SharedMemo<KeptTypeName, KeptTypeNameTag>();
  KeptTypeName kept;
  if (!memo.Find(typeInformation.View(), &kept)) {
    vkr::ComPtr<IXMLDOMDocument2> document;
    const HRESULT loaded = LoadXml(typeInformation, &document);
    if (FailureOfTheMoment(loaded)) return S_OK;
    if (SUCCEEDED(loaded)) {
      vkr::Bstr typeName;
      bool found = false;
      kept.hr = StringAt(document.Get(), u"TypeInformation/Simple/@type", typeName.Put(), &found);
      if (FailureOfTheMoment(kept.hr)) return kept.hr;
      if (SUCCEEDED(kept.hr) && found) VarTypeFromString(typeName, &kept.named);
    }
    memo.Store(typeInformation.View(), kept);
  }
  if (kept.named != VT_EMPTY) *vt = kept.named;
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::CheckTransferArguments(IUnknown* addressDocument, VARIANT, BSTR* text) {
  if (!GetProtocolId()) return E_UNEXPECTED;
  if (!addressDocument || !text) return E_INVALIDARG;
  // This protocol has no per-parameter text.
  *text = nullptr;
  return S_FALSE;
}

// ---- TypeInformation. ----

HRESULT CovFDT_BaseProtocolImpl::GetTypeInformationXml(VARIANT id, BSTR* text) {
  if (!text) return E_INVALIDARG;
  *text = nullptr;
  if (!m_pParameterHandler) return E_POINTER;
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (FAILED(m_pParameterHandler->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
    return E_NOINTERFACE;
  vkr::Variant field;
  HRESULT hr = GetField(info.Get(), id, PIF_TYPE_INFORMATION, field.Put());
  if (FAILED(hr)) return hr;
  if (field.vt != VT_BSTR) return E_UNEXPECTED;
  const UINT length = SysStringLen(field.bstrVal);
  *text = SysAllocStringLen(field.bstrVal, length);
  if (!*text) return E_OUTOFMEMORY;
  return length > 15 ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseProtocolImpl::QueryTypeInformation(VARIANT id, BSTR xpath, BSTR* value) {
  if (!value || !xpath) return E_INVALIDARG;
  *value = nullptr;
  vkr::Bstr text;
  if (FAILED(GetTypeInformationXml(id, text.Put()))) return E_FAIL;
  if (text.Length() < 5) return S_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  if (FAILED(TypeInformationDocument(text, &document))) return S_FALSE;
  vkr::Bstr found;
  if (FAILED(SelectNodeText(document.Get(), xpath, found.Put()))) return S_FALSE;
  *value = found.Detach();
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::TypeInformationDocument(BSTR text, vkr::ComPtr<IXMLDOMDocument2>* document) {
  auto it = m_typeDocuments.find(vkr::View(text));
  if (it != m_typeDocuments.end()) {
    *document = it->second;
    return S_OK;
  }
  HRESULT hr = LoadXml(text, document);
  if (FAILED(hr)) return hr;
  // The documents are only read (selected from), never changed; a few dozen texts at most.
  if (m_typeDocuments.size() < kMaxTypeDocuments) m_typeDocuments.emplace(std::u16string(vkr::View(text)), *document);
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::ReorderByTypeInformation(VARIANT id, BYTE* bytes, ULONG count) {
  if (!bytes) return E_INVALIDARG;
  vkr::Bstr text;
  HRESULT hr = GetTypeInformationXml(id, text.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IXMLDOMDocument2> document;
  if (FAILED(TypeInformationDocument(text, &document))) return E_POINTER;
  static const char16_t* const kPaths[] = {u"TypeInformation/Struct", u"TypeInformation/Array",
                                           u"TypeInformation/Simple"};
  for (int kind = 0; kind < 3; ++kind) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (FAILED(document->selectSingleNode(vkr::Bstr(kPaths[kind]), node.Put())) || !node) continue;
    const ULONG position = AttributeOr(node.Get(), u"@bitPosition", 0);
    if (kind == 0) return ReorderStructElements(node.Get(), bytes, count, position);
    if (kind == 1) return ReorderArrayElements(node.Get(), bytes, count, position);
    return ReorderSimpleElement(node.Get(), bytes, count, position, false);
  }
  return E_POINTER;
}

// Hands one element of a layout to the operation of its kind; other names are skipped.
HRESULT CovFDT_BaseProtocolImpl::ReorderElement(IXMLDOMNode* node, BYTE* bytes, ULONG count, ULONG bitPosition) {
  const std::u16string name = NameOf(node);
  if (name == u"Simple") return ReorderSimpleElement(node, bytes, count, bitPosition, false);
  if (name == u"Struct") return ReorderStructElements(node, bytes, count, bitPosition);
  if (name == u"Array") return ReorderArrayElements(node, bytes, count, bitPosition);
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::ReorderStructElements(IXMLDOMNode* node, BYTE* bytes, ULONG count,
                                                       ULONG bitPosition) {
  if (!node || !bytes) return E_INVALIDARG;
  std::vector<vkr::ComPtr<IXMLDOMNode>> children = ChildElements(node);
  if (children.empty()) return E_POINTER;
  for (const auto& child : children) {
    const std::uint64_t position = std::uint64_t{bitPosition} + AttributeOr(child.Get(), u"@bitPosition", 0);
    // A member that starts beyond the bytes has nothing to reorder.
    if (position >= std::uint64_t{count} * 8) continue;
    HRESULT hr = ReorderElement(child.Get(), bytes, count, static_cast<ULONG>(position));
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::ReorderArrayElements(IXMLDOMNode* node, BYTE* bytes, ULONG count,
                                                      ULONG bitPosition) {
  if (!node || !bytes) return E_INVALIDARG;
  std::vector<vkr::ComPtr<IXMLDOMNode>> children = ChildElements(node);
  if (children.size() != 1) return S_OK;
  IXMLDOMNode* child = children.front().Get();
  const std::u16string name = NameOf(child);
  if (name != u"Simple" && name != u"Struct" && name != u"Array") return S_OK;
  const std::uint64_t stride = ElementBitLength(child);
  // Bit-sized elements (a bit string) are never reordered: no need to visit each of them.
  if (name == u"Simple" && stride != 0 && stride <= 8) return S_OK;
  const std::uint64_t elementCount = AttributeOr(node, u"@elementCount", 0);
  const std::uint64_t end = std::uint64_t{count} * 8;
  for (std::uint64_t i = 0; i < elementCount; ++i) {
    const std::uint64_t position = bitPosition + i * stride;
    // Elements past the bytes (or a layout that never advances) end the walk.
    if (position >= end || (stride == 0 && i > 0)) break;
    HRESULT hr = ReorderElement(child, bytes, count, static_cast<ULONG>(position));
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CovFDT_BaseProtocolImpl::ReorderSimpleElement(IXMLDOMNode* node, BYTE* bytes, ULONG count,
                                                      ULONG bitPosition, bool swapWords) {
  if (!node || !bytes) return E_INVALIDARG;
  const std::uint64_t bits = ElementBitLength(node);
  if (bits == 0) return E_UNEXPECTED;
  if (bits % 8 != 0 || bits <= 8 || bitPosition % 8 != 0) return S_OK;
  const std::uint64_t first = bitPosition / 8, n = bits / 8;
  // The layout comes from outside: an element that ends beyond the bytes is refused.
  if (first + n > count) return E_INVALIDARG;
  BYTE* p = bytes + first;
  if (swapWords && bits % 16 == 0)
    for (std::uint64_t i = 0; i + 1 < n; i += 2) std::swap(p[i], p[i + 1]);
  std::reverse(p, p + n);
  return S_OK;
}

// ---- The bus address. ----

HRESULT CovFDT_HartProtocolImpl::GetBusAddressXml(VARIANT_BOOL* done, BSTR* text) {
  if (!done || !text) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  *text = nullptr;
  if (!m_pParameterHandler) return E_POINTER;
  vkr::Variant address;
  HRESULT hr = m_pParameterHandler->GetParameterValue(vkr::UI4(kShortAddressId), address.Put());
  if (FAILED(hr)) return hr;
  if (address.vt != VT_UI1) return E_FAIL;
  *text = SysAllocString(vkr::Format(u"<SlaveAddress slaveAddress=\"%u\" />", unsigned{address.bVal}).c_str());
  if (!*text) return E_OUTOFMEMORY;
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_HartProtocolImpl::SetBusAddressFromXml(VARIANT_BOOL* changed, IUnknown* deviceDocument) {
  if (!changed) return E_INVALIDARG;
  *changed = VARIANT_FALSE;
  if (!m_pParameterHandler) return E_POINTER;
  if (!deviceDocument) return E_INVALIDARG;
  vkr::ComPtr<IXMLDOMDocument> document;
  if (FAILED(deviceDocument->QueryInterface(IXMLDOMDocument::iid, document.PutVoid())) || !document)
    return E_NOINTERFACE;
  BYTE address = 0;
  HRESULT hr = GetXmlValueUI1(&address, document.Get(),
                              vkr::Bstr(u"FDT/DtmDevice/BusInformation/SlaveAddress/@slaveAddress"));
  if (FAILED(hr)) return hr;

  vkr::ComPtr<IovFdtParameterInfo> info;
  if (FAILED(m_pParameterHandler->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
    return E_NOINTERFACE;
  vkr::Variant flags;
  hr = GetField(info.Get(), vkr::UI4(kShortAddressId), PIF_FLAGS, flags.Put());
  if (FAILED(hr)) return hr;
  ULONG word = 0;
  hr = VariantToULong(flags.Ptr(), &word);
  if (FAILED(hr)) return hr;
  if (!(word & PFL_SETTABLE)) return E_ACCESSDENIED;

  VARIANT value = vkr::EmptyVariant();
  value.vt = VT_UI1;
  value.bVal = address;
  hr = m_pParameterHandler->SetParameterValue(vkr::UI4(kShortAddressId), value);
  if (FAILED(hr)) return hr;
  *changed = VARIANT_TRUE;
  return S_OK;
}
