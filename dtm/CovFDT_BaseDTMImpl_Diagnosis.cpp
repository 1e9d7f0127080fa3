// The diagnosis operations that rest on the parameter records: the check of the stored data set
// (Verify), the comparison of the data set with the device (IDtmOnlineDiagnosis::Compare) and the
// device status document (GetDeviceStatus). Comparisons only read: they write neither to the
// device nor to the data set.
#include <string>

#include "include/CommunicationInterfaces.h"
#include "dtm/CovFDT_BaseDTMImpl.h"
#include "parameters/CFdtVariant.h"
#include "parameters/DeviceParameterTable.h"
#include "xml/WaitWithMessageLoop.h"

namespace {

constexpr ULONG kInvalidParametersMessage = 2002;
constexpr USHORT kProgressShow = 0xFFFF;  // the progress mode -1

constexpr char16_t kCompareHead[] =
    u"<?xml version=\"1.0\"?> <FDT xmlns=\"x-schema:DTMOnlineCompareSchema.xml\" "
    u"\t\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t";
constexpr char16_t kStatusHead[] =
    u"<?xml version=\"1.0\"?> <FDT xmlns=\"x-schema:DTMDeviceStatusSchema.xml\" "
    u"\t\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t<DtmDeviceStatus fdt:statusFlag=\"";
constexpr char16_t kDocumentTail[] = u" </FDT> ";
constexpr char16_t kCommunicationError[] =
    u"<fdt:CommunicationError communicationError=\"dtmSpecific\" tag=\"tag\"/>";

// Whether the device status walk reads a record: it has a device address and can be read, and
// reading it does not make the device act (a self test or a reset is never run to learn a
// status; the user interfaces that run them on purpose read those parameters themselves).
bool IsReadForStatus(const ParInfo& record, bool acting) {
  return record.m_dwAddressed == 1 && (record.m_dwFlags & PFL_READABLE) && !acting;
}

// Whether a record takes part in comparisons: read as for the status, and it belongs to the data
// set.
bool IsCompared(const ParInfo& record, bool acting) { return IsReadForStatus(record, acting) && record.m_bPersist != 0; }

// A packed HART text as the device keeps it: upper case, characters outside the six-bit set as
// '?', padded with blanks (which are therefore no part of it).
std::u16string PackedTextForm(const VARIANT& value) {
  if (value.vt != VT_BSTR) return {};
  std::u16string text(vkr::View(value.bstrVal));
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c < 0x20 || c > 0x5F) c = u'?';
  }
  while (!text.empty() && text.back() == u' ') text.pop_back();
  return text;
}

// Whether the data set's value is what the device holds: a packed text is compared in the form
// the device keeps it, so a tag typed in lower case or without its padding is not a difference.
bool SameAsDevice(const ParInfo& record, const VARIANT& device) {
  // A device value that is not a finite number equals no setting, not even its own bytes.
  if (vkr::HoldsNonFiniteNumber(record.m_nId, device)) return false;
  if (record.m_nKind == PK_PACKED_TEXT && record.m_vValue.vt == VT_BSTR && device.vt == VT_BSTR)
    return PackedTextForm(record.m_vValue) == PackedTextForm(device);
  return IsVariantEqual(record.m_vValue, device);
}

// What a difference is from: the device, or a device value that is no number at all.
const char* DifferenceFrom(const ParInfo& record, const VARIANT& device) {
  return vkr::HoldsNonFiniteNumber(record.m_nId, device) ? "the device, whose value is not a finite number"
                                                          : "the device";
}

VARIANT IdVariant(ULONG id) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = id;
  return v;
}

// The elements of a VARIANT array (or of a single value) as VARIANTs.
HRESULT ArrayElements(const VARIANT& in, std::vector<vkr::Variant>* out) {
  out->clear();
  if (in.vt == VT_EMPTY) return S_OK;
  if (!(in.vt & VT_ARRAY)) {
    out->emplace_back(in);
    return S_OK;
  }
  SAFEARRAY* array = (in.vt & VT_BYREF) ? (in.pparray ? *in.pparray : nullptr) : in.parray;
  if (!array) return S_OK;
  if (SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  LONG low = 0, high = -1;
  HRESULT hr = SafeArrayGetLBound(array, 1, &low);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, 1, &high);
  if (FAILED(hr)) return hr;
  const VARTYPE element = static_cast<VARTYPE>(in.vt & VT_TYPEMASK);
  // Keys and ids arrive as VARIANTs, texts or integers; other element types are refused.
  switch (element) {
    case VT_VARIANT: case VT_BSTR: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
      break;
    default:
      return E_INVALIDARG;
  }
  for (LONG i = low; i <= high; ++i) {
    vkr::Variant v;
    if (element == VT_VARIANT) {
      hr = SafeArrayGetElement(array, &i, v.Ptr());
    } else {
      // Plain elements are read into the matching VARIANT member.
      v.vt = element;
      hr = SafeArrayGetElement(array, &i, &v.llVal);
      if (FAILED(hr)) v.vt = VT_EMPTY;
    }
    if (FAILED(hr)) return hr;
    out->push_back(std::move(v));
  }
  return S_OK;
}

}  // namespace

HRESULT DeviceStatusText(ULONG status, BSTR* text) {
  if (!text) return E_POINTER;
  static constexpr const char16_t* kNames[] = {u"ok", u"warning", u"error", u"invalid"};
  if (status >= sizeof(kNames) / sizeof(kNames[0])) return E_FAIL;
  *text = SysAllocString(kNames[status]);
  return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT CovFDT_BaseDTMCore::DtmDiagnosisVerify(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  LogEntry("DtmDiagnosisVerify");
  *result = VARIANT_FALSE;
  ULONG count = 0;
  HRESULT hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  bool invalidSeen = false;
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    hr = GetParInfoAt(static_cast<LONG>(i), &record);
    if (FAILED(hr)) return hr;
    ULONG flags = 0;
    ValidateParameter(IdVariant(record.m_nId), record.m_vValue, &flags);
    if ((flags & PFL_INVALID) && !invalidSeen) {
      invalidSeen = true;
      vkr::Bstr text;
      if (SUCCEEDED(TranslateBaseDtmMessage(kInvalidParametersMessage, text.Put())) && text.Get())
        OnError("%s", vkr::Utf16ToUtf8(text.View()).c_str());
    }
  }
  *result = invalidSeen ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::Verify(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  LogEntry("Verify");
  *result = VARIANT_FALSE;
  if (m_eDtmState < dsCONFIGURED || m_eDtmState > dsONLINE) return S_FALSE;
  return DtmDiagnosisVerify(result);
}

HRESULT CovFDT_BaseDTMCore::InternalGetDeviceStatus(ULONG* status) {
  if (!status) return E_POINTER;
  LogEntry("InternalGetDeviceStatus");
  *status = 0;
  ULONG count = 0;
  if (FAILED(GetCollectionCount(&count))) return S_OK;
  vkr::ComPtr<IovFdtDirectParameterAccess> direct = QueryDtm<IovFdtDirectParameterAccess>();
  const vkr::Bstr empty(u"");
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    if (FAILED(GetParInfoAt(static_cast<LONG>(i), &record))) continue;
    if (!IsReadForStatus(record, IsActingRead(record.m_vAddress))) continue;
    SendProgress(empty, static_cast<USHORT>(static_cast<unsigned long long>(i) * 100 / count), kProgressShow);
    if (!direct) continue;
    vkr::Variant value;
    if (FAILED(direct->ReadParameterDirect(IdVariant(record.m_nId), value.Put()))) {
      *status = 2;
      break;
    }
  }
  SendProgress(empty, 0, 0);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::CompareAllParameters(BSTR* errorText, VARIANT_BOOL* equal) {
  if (!errorText || !equal) return E_INVALIDARG;
  LogEntry("CompareAllParameters");
  ULONG count = 0;
  HRESULT hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IovFdtDirectParameterAccess> direct = QueryDtm<IovFdtDirectParameterAccess>();
  const vkr::Bstr empty(u"");
  bool compared = false, differs = false;
  vkr::Bstr error;
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    if (FAILED(GetParInfoAt(static_cast<LONG>(i), &record)) || !IsCompared(record, IsActingRead(record.m_vAddress))) continue;
    SendProgress(empty, static_cast<USHORT>(static_cast<unsigned long long>(i) * 100 / count), kProgressShow);
    if (!direct) continue;
    vkr::Variant value;
    if (FAILED(direct->ReadParameterDirect(IdVariant(record.m_nId), value.Put()))) {
      error = vkr::Bstr(kCommunicationError);
      break;
    }
    compared = true;
    // Every difference is named (the comparison's document only says that there is one).
    if (!SameAsDevice(record, value)) {
      differs = true;
      ReportDifference(record, DifferenceFrom(record, value));
    }
  }
  SendProgress(empty, 0, 0);
  *equal = compared && !differs && !error.Get() ? VARIANT_TRUE : VARIANT_FALSE;
  *errorText = error.Detach();
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::CompareParListParameters(VARIANT listKey, BSTR* errorText, VARIANT_BOOL* equal) {
  if (!errorText || !equal) return E_INVALIDARG;
  LogEntry("CompareParListParameters");
  // An earlier list already found a difference or a read failure.
  if (*errorText || *equal == VARIANT_FALSE) return S_OK;
  vkr::ComPtr<IovFdtDirectParameterAccess> direct = QueryDtm<IovFdtDirectParameterAccess>();
  vkr::ComPtr<IovFDTParamList> lists = QueryDtm<IovFDTParamList>();
  if (!lists) return E_POINTER;
  const vkr::Bstr empty(u"");

  vkr::Variant members;
  VARIANT_BOOL done = VARIANT_FALSE;
  std::vector<vkr::Variant> ids;
  if (SUCCEEDED(lists->GetMembers(listKey, members.Put(), &done)) && SUCCEEDED(ArrayElements(members, &ids))) {
    const std::size_t m = ids.size();
    for (std::size_t i = 0; i < m; ++i) {
      vkr::Variant id;
      if (FAILED(VariantChangeType(id.Ptr(), ids[i].Ptr(), 0, VT_UI4))) continue;
      ParInfo record;
      if (FAILED(GetParInfoById(id.ulVal, &record)) || !IsCompared(record, IsActingRead(record.m_vAddress))) continue;
      SendProgress(empty, static_cast<USHORT>(i * 100 / m), kProgressShow);
      // Without direct access nothing can be read: the member is not compared.
      if (!direct) continue;
      vkr::Variant value;
      if (FAILED(direct->ReadParameterDirect(IdVariant(record.m_nId), value.Put()))) {
        // A read failure ends the comparison, whatever an empty value would compare as.
        SysFreeString(*errorText);
        *errorText = SysAllocString(kCommunicationError);
        *equal = VARIANT_FALSE;
        SendProgress(empty, 0, 0);
        return S_OK;
      }
      *equal = SameAsDevice(record, value) ? VARIANT_TRUE : VARIANT_FALSE;
      if (*equal == VARIANT_FALSE) {
        ReportDifference(record, DifferenceFrom(record, value));
        SendProgress(empty, 0, 0);
        return S_OK;
      }
    }
  }

  vkr::Variant children;
  HRESULT hr = lists->GetChildLists(listKey, children.Put(), &done);
  if (FAILED(hr)) return hr;
  std::vector<vkr::Variant> keys;
  hr = ArrayElements(children, &keys);
  if (FAILED(hr)) return hr;
  for (vkr::Variant& child : keys) {
    hr = CompareParListParameters(child, errorText, equal);
    if (FAILED(hr)) return hr;
    if (*equal == VARIANT_FALSE) break;
  }
  SendProgress(empty, 0, 0);
  return S_OK;
}

void CovFDT_BaseDTMCore::ReportDifference(const ParInfo& record, const char* from) {
  OnError("Compare: \"%s\" (%lu) differs from %s", vkr::Utf16ToUtf8(record.m_bstrName.View()).c_str(),
          static_cast<unsigned long>(record.m_nId), from);
}

HRESULT CovFDT_BaseDTMCore::AdmitOnlineDiagnosis(bool* verified) {
  *verified = false;
  if (m_eDtmState == dsGOINGOFFLINE) WaitWithMessageLoop(m_hStateSettled, m_dwOnlineTimeout);
  if (m_nUserLevel <= 1) return S_FALSE;
  if (m_eDtmState != dsCOMMUNICATIONSET && m_eDtmState != dsGOINGONLINE && m_eDtmState != dsONLINE) return S_FALSE;
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (SUCCEEDED(TryToGoOnlineAndVerifyDevice(m_dwOnlineTimeout, m_dwVerificationTimeout, &ok)))
    *verified = ok != VARIANT_FALSE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::Compare(BSTR* result) {
  if (!result) return E_INVALIDARG;
  LogEntry("Compare");
  *result = nullptr;
  bool verified = false;
  if (AdmitOnlineDiagnosis(&verified) != S_OK) return S_FALSE;

  std::u16string body;
  if (m_eDtmState == dsONLINE && verified) {
    vkr::ComPtr<IovFDTParamList> lists = QueryDtm<IovFDTParamList>();
    if (!lists) return E_POINTER;
    vkr::Bstr error;
    VARIANT_BOOL equal = VARIANT_FALSE;
    HRESULT hr = E_FAIL;
    if (m_vCompareListId.vt != VT_EMPTY) {
      VARIANT_BOOL exists = VARIANT_FALSE, done = VARIANT_FALSE;
      hr = lists->ListExists(m_vCompareListId, &exists, &done);
      if (FAILED(hr)) return hr;
      // A list none of whose members is compared counts as equal.
      equal = static_cast<VARIANT_BOOL>(-1);
      hr = exists ? CompareParListParameters(m_vCompareListId, error.Put(), &equal) : E_FAIL;
    }
    if (FAILED(hr)) {
      error.Reset();
      equal = VARIANT_FALSE;
      hr = CompareAllParameters(error.Put(), &equal);
    }
    if (FAILED(hr)) return hr;
    if (error.Get())
      body = error.Str();
    else
      body = std::u16string(u"<CompareResult statusFlag=\"") + (equal ? u"equal" : u"notEqual") + u"\"/> ";
  } else {
    body = kCommunicationError;
  }
  const std::u16string document = kCompareHead + body + kDocumentTail;
  *result = SysAllocStringLen(document.data(), static_cast<UINT>(document.size()));
  return *result ? S_OK : E_OUTOFMEMORY;
}

HRESULT CovFDT_BaseDTMCore::GetDeviceStatus(BSTR* document) {
  if (!document) return E_POINTER;
  LogEntry("GetDeviceStatus");
  *document = nullptr;
  bool verified = false;
  if (AdmitOnlineDiagnosis(&verified) != S_OK) return S_FALSE;
  ULONG status = 2;
  if (m_eDtmState == dsONLINE && verified && FAILED(InternalGetDeviceStatus(&status))) status = 2;
  vkr::Bstr text;
  HRESULT hr = DeviceStatusText(status, text.Put());
  if (FAILED(hr)) return hr;
  const std::u16string out = kStatusHead + text.Str() + u"\"/>" + kDocumentTail;
  *document = SysAllocStringLen(out.data(), static_cast<UINT>(out.size()));
  return *document ? S_OK : E_OUTOFMEMORY;
}

// ---- Comparison with another DTM of the project ----------------------------------------------

namespace {
// The states 8 to 12, in which a data set is there to compare.
bool IsWorkingState(EDtmState state) { return state >= dsCONFIGURED && state <= dsONLINE; }
}  // namespace

vkr::ComPtr<IFdtTopology> CovFDT_BaseDTMCore::FrameTopology() {
  vkr::ComPtr<IFdtTopology> topology;
  if (m_pContainer) m_pContainer->QueryInterface(IFdtTopology::iid, topology.PutVoid());
  return topology;
}

HRESULT CovFDT_BaseDTMCore::InitCompare(BSTR systemTag, VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  LogEntry("InitCompare");
  *result = VARIANT_FALSE;
  if (m_nUserLevel < 2 || !IsWorkingState(m_eDtmState)) return S_FALSE;
  if (m_bCompareInitialized) return S_OK;
  vkr::ComPtr<IFdtTopology> topology = FrameTopology();
  if (!topology) return E_POINTER;
  vkr::ComPtr<IUnknown> partner;
  HRESULT hr = topology->GetDtmForSystemTag(systemTag, partner.Put());
  if (FAILED(hr)) return hr;
  if (!partner) return S_OK;
  vkr::ComPtr<IovFdtParameterInfo> info;
  if (SUCCEEDED(partner->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) && info) {
    // The tag is kept only with a partner that can be compared: ReleaseCompare gives back that one.
    m_bstrCompareSystemTag = vkr::Bstr(systemTag);
    m_pCompareParamInfo = info;
    m_bCompareInitialized = true;
    *result = VARIANT_TRUE;
    return S_OK;
  }
  // A DTM that cannot be compared goes straight back to the frame.
  VARIANT_BOOL released = VARIANT_FALSE;
  hr = topology->ReleaseDtmForSystemTag(systemTag, &released);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseDTMCore::Compare(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  LogEntry("Compare");
  *result = VARIANT_FALSE;
  if (m_nUserLevel <= 1 || !IsWorkingState(m_eDtmState)) return S_FALSE;
  if (!m_bCompareInitialized) return S_OK;
  if (!m_pCompareParamInfo) return E_POINTER;
  m_bCompareRunning = true;
  const HRESULT hr = ComparePartner(result);
  m_bCompareRunning = false;
  return hr;
}

HRESULT CovFDT_BaseDTMCore::ComparePartner(VARIANT_BOOL* result) {
  // The partner is held here: a release arriving while its calls pump messages must not drop it.
  vkr::ComPtr<IovFdtParameterInfo> partner = m_pCompareParamInfo;
  vkr::Variant count;
  HRESULT hr = partner->GetParameterCount(count.Put());
  if (FAILED(hr)) return hr;
  if (count.vt != VT_UI4) return S_OK;
  ULONG own = 0;
  hr = GetCollectionCount(&own);
  if (FAILED(hr)) return hr;
  if (own != count.ulVal) return S_OK;
  // Every value that differs is named, as the comparison with the device names them; a record
  // of another id or a failing call ends the comparison.
  bool differs = false;
  for (ULONG i = 0; i < own; ++i) {
    vkr::Variant id;
    hr = partner->GetParameterIdAt(IdVariant(i), id.Put());
    if (FAILED(hr)) return hr;
    if (id.vt != VT_UI4) return S_OK;
    ParInfo record;
    hr = GetParInfoAt(static_cast<LONG>(i), &record);
    if (FAILED(hr)) return hr;
    if (record.m_nId != id.ulVal) return S_OK;
    if (!record.m_bPersist) continue;  // not part of the data set: matched by id only
    VARIANT mask;
    VariantInit(&mask);
    mask.vt = VT_I4;
    mask.lVal = PIF_VALUE;
    vkr::Variant value;
    hr = partner->GetParameterField(id, mask, value.Put());
    if (FAILED(hr)) return hr;
    if (!IsVariantEqual(record.m_vValue, value)) {
      differs = true;
      ReportDifference(record, "the partner's data set");
    }
  }
  *result = differs ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::ReleaseCompare(VARIANT_BOOL* result) {
  if (!result) return E_INVALIDARG;
  LogEntry("ReleaseCompare");
  *result = VARIANT_FALSE;
  if (!IsWorkingState(m_eDtmState) || m_nUserLevel < 2) return S_FALSE;
  if (!m_bCompareInitialized || m_bCompareRunning) return S_OK;
  vkr::ComPtr<IFdtTopology> topology = FrameTopology();
  if (!topology) return E_POINTER;
  HRESULT hr = topology->ReleaseDtmForSystemTag(m_bstrCompareSystemTag, result);
  if (FAILED(hr)) return hr;
  if (*result) {
    m_pCompareParamInfo = nullptr;
    m_bstrCompareSystemTag.Reset();
    m_bCompareInitialized = false;
  }
  return S_OK;
}
