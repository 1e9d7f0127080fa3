// The online upload and download of the transfer lists and the refresh of the online cache: the
// frame's requests (checked on the frame's thread, handed to the DTM thread as jobs 3 and 4), the
// transfers the DTM thread then asks for, and the core that moves a parameter list between the
// data set and the device through a temporary named list of the communication client.
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "dtm/CovFDT_BaseDTMImpl.h"
#include "include/DtmMessages.h"
#include "parameters/CFdtVariant.h"
#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/WaitWithMessageLoop.h"

namespace {

using vkr::EmptyVariant;
using vkr::BoolVariant;
using vkr::TextVariant;
using vkr::UI4;

constexpr ULONG kUserLevelObserver = 1;
constexpr ULONG kReadMask = 5;
constexpr ULONG kWriteMask = 6;
constexpr ULONG kListMemberFlag = 0x40;
constexpr ULONG kUploadListFlag = 0x10;
constexpr ULONG kDownloadListFlag = 0x20;

VARIANT I2(SHORT n) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = n;
  return v;
}

HRESULT NameVariant(const char16_t* name, vkr::Variant* out) {
  out->Clear();
  out->bstrVal = SysAllocString(name);
  if (!out->bstrVal) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  return S_OK;
}

// The elements of an expanded list, or E_POINTER / E_UNEXPECTED for a missing or empty array.
HRESULT ArrayBounds(const VARIANT& ids, LONG* lower, LONG* upper) {
  if (!ids.parray) return E_POINTER;
  HRESULT hr = SafeArrayGetLBound(ids.parray, 1, lower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(ids.parray, 1, upper);
  if (FAILED(hr)) return hr;
  return *upper < *lower ? E_UNEXPECTED : S_OK;
}

}  // namespace

// ---- The frame's requests ----------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::UploadRequest(BSTR invokeId, BSTR parameterPath, VARIANT_BOOL* result) {
  return OnlineParameterRequest(true, invokeId, parameterPath, result);
}

HRESULT CovFDT_BaseDTMCore::DownloadRequest(BSTR invokeId, BSTR parameterPath, VARIANT_BOOL* result) {
  return OnlineParameterRequest(false, invokeId, parameterPath, result);
}

HRESULT CovFDT_BaseDTMCore::OnlineParameterRequest(bool upload, BSTR invokeId, BSTR parameterPath,
                                                   VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  LogEntry(upload ? "UploadRequest" : "DownloadRequest");
  *result = VARIANT_FALSE;
  if (m_eDtmState == dsGOINGOFFLINE) WaitWithMessageLoop(m_hStateSettled, m_dwOnlineTimeout);
  if (m_nUserLevel <= kUserLevelObserver) return S_FALSE;
  if (m_eDtmState != dsONLINE && m_eDtmState != dsGOINGONLINE && m_eDtmState != dsCOMMUNICATIONSET) return S_FALSE;
  VARIANT_BOOL verified = VARIANT_FALSE;
  TryToGoOnlineAndVerifyDevice(m_dwOnlineTimeout, m_dwVerificationTimeout, &verified);
  if (!verified) return S_OK;
  HRESULT hr = S_OK;
  if (upload) {
    hr = DtmMessage(vkr::I4(kMsgSwitchAuditTrail), I2(-1));
    if (FAILED(hr)) return hr;
  }
  if (FAILED(SendOnlineParamInfo(upload ? kJobUpload : kJobDownload, invokeId, parameterPath))) {
    if (upload) DtmMessage(vkr::I4(kMsgSwitchAuditTrail), I2(0));
    return S_FALSE;
  }
  if (upload) {
    hr = DtmMessage(vkr::I4(kMsgSwitchAuditTrail), I2(0));
    if (FAILED(hr)) return hr;
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SendOnlineParamInfo(ULONG job, BSTR invokeId, BSTR parameterPath) {
  LogEntry("SendOnlineParamInfo");
  SOnlineParamData request;
  request.bstrInvokeId = vkr::Bstr(invokeId);
  request.bstrParameters = vkr::Bstr(parameterPath);
  request.bFlag = false;
  vkr::Variant packed;
  if (!request.Pack(&packed)) return E_FAIL;
  const HRESULT hr = ExecuteJob(job, packed);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseDTMCore::CancelAction(BSTR invokeId, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  LogEntry("CancelAction");
  *result = VARIANT_FALSE;
  if (m_nUserLevel <= kUserLevelObserver) return S_FALSE;
  if (m_eDtmState != dsCOMMUNICATIONSET && m_eDtmState != dsGOINGONLINE && m_eDtmState != dsONLINE) return S_FALSE;
  const HRESULT hr = ExecuteJob(kJobCancel, TextVariant(invokeId));
  if (FAILED(hr)) return hr;
  *result = VARIANT_TRUE;
  return S_OK;
}

// ---- The transfers the DTM thread asks for -----------------------------------------------

HRESULT CovFDT_BaseDTMCore::UploadParameterList(BSTR, BSTR invokeId, VARIANT_BOOL* ok) {
  if (!ok) return E_INVALIDARG;
  LogEntry("UploadParameterList");
  *ok = VARIANT_FALSE;
  ResetProgressThreshold();
  if (m_bAbortTransfer) return E_ABORT;
  if (m_eDtmState != dsONLINE) return E_FAIL;
  m_bUploadPending = true;
  const HRESULT message = DtmMessage(vkr::I4(kMsgUploadDeviceParams), TextVariant(invokeId));
  m_bRebuildingRelations = true;
  m_bUploadPending = false;
  BuildRelations(1);
  m_bRebuildingRelations = false;
  if (SUCCEEDED(message)) {
    *ok = VARIANT_TRUE;
    SetDataSetState(DSS_ALL_DATA_LOADED);
  }
  Broadcast(UI4(kBroadcastUploadDone), BoolVariant(*ok != VARIANT_FALSE));
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgUploadDeviceParams(VARIANT argument) {
  LogEntry("HandleDtmMsgUploadDeviceParams");
  vkr::Bstr invokeId;
  if (FAILED(VariantToBstr(&argument, invokeId.Put()))) invokeId.Reset();
  ResetProgressThreshold();
  if (m_bAbortTransfer) return E_ABORT;
  if (m_eDtmState != dsONLINE) return E_FAIL;
  LockDataset(true);
  if (!m_bDataSetLocked) {
    UnlockDataset();
    return E_FAIL;
  }
  m_bTransferActive = true;
  DelaySaveRequest(TRUE);
  VARIANT_BOOL done = VARIANT_FALSE;
  vkr::Variant list;
  if (SUCCEEDED(BuildUploadList(list.Put()))) UploadParametersAudited(list, invokeId, &done);
  m_bTransferActive = false;
  DelaySaveRequest(FALSE);
  UnlockDataset();
  vkr::Bstr none(u"");
  UpdateProgress(0, 100, none);
  return done ? S_OK : E_FAIL;
}

HRESULT CovFDT_BaseDTMCore::DownloadParameterList(BSTR, BSTR invokeId, VARIANT_BOOL* ok) {
  if (!ok) return E_INVALIDARG;
  LogEntry("DownloadParameterList");
  *ok = VARIANT_FALSE;
  ResetProgressThreshold();
  // (The open user interfaces hear of the end from the DTM thread's request, after its word on it.)
  VARIANT_BOOL done = VARIANT_FALSE;
  if (m_bAbortTransfer) return E_ABORT;
  if (m_eDtmState != dsONLINE) return E_FAIL;
  HRESULT hr = S_OK;
  vkr::Variant list;
  hr = BuildDownloadList(list.Put());
  if (FAILED(hr)) return hr;
  DelaySaveRequest(TRUE);
  hr = DownloadParametersAudited(list, invokeId, &done);
  DelaySaveRequest(FALSE);
  if (FAILED(hr)) done = VARIANT_FALSE;
  *ok = done;
  vkr::Bstr none(u"");
  UpdateProgress(0, 100, none);
  if (FAILED(hr)) return hr;
  if (done) SetDataSetState(DSS_ALL_DATA_LOADED);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::BuildUploadList(VARIANT* name) { return BuildTransferList(u"UploadList", kUploadListFlag, name); }

HRESULT CovFDT_BaseDTMCore::BuildDownloadList(VARIANT* name) {
  return BuildTransferList(u"DownloadList", kDownloadListFlag, name);
}

HRESULT CovFDT_BaseDTMCore::BuildTransferList(const char16_t* listName, ULONG listFlag, VARIANT* out) {
  if (!out) return E_INVALIDARG;
  IovFDTParamList* lists = static_cast<CovFDT_ParameterListImpl*>(this);
  vkr::Variant name;
  HRESULT hr = NameVariant(listName, &name);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL exists = VARIANT_FALSE, ok = VARIANT_FALSE;
  hr = lists->ListExists(name, &exists, &ok);
  if (FAILED(hr)) return hr;
  if (!exists) {
    hr = lists->CreateList(name, EmptyVariant(), EmptyVariant(), EmptyVariant(), &ok);
    if (FAILED(hr)) return hr;
    if (!ok) return E_FAIL;
    ULONG count = 0;
    hr = GetCollectionCount(&count);
    if (FAILED(hr)) return hr;
    for (ULONG i = 0; i < count; ++i) {
      ParInfo record;
      hr = GetParInfoAt(static_cast<LONG>(i), &record);
      if (FAILED(hr)) return hr;
      if (record.m_dwAddressed != 1 || !(record.m_dwFlags & kListMemberFlag) || !(record.m_dwFlags & listFlag))
        continue;
      // A transfer of the data set never makes the device act: a parameter whose command is the
      // self test or the device reset stays out, as it does for the status and the comparisons.
      if (IsActingRead(record.m_vAddress)) continue;
      vkr::Variant member;
      hr = MakeSingleIdArray(record.m_nId, member.Put());
      if (FAILED(hr)) return hr;
      hr = lists->AddMembers(name, member, &ok);
      if (FAILED(hr)) return hr;
      if (!ok) return E_FAIL;
    }
  }
  VariantClear(out);
  return VariantCopy(out, name.Ptr());
}

// ---- The transfer core -------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::UploadParametersAudited(VARIANT list, BSTR invokeId, VARIANT_BOOL* ok) {
  return TransferAudited(true, list, invokeId, ok);
}

HRESULT CovFDT_BaseDTMCore::DownloadParametersAudited(VARIANT list, BSTR invokeId, VARIANT_BOOL* ok) {
  return TransferAudited(false, list, invokeId, ok);
}

HRESULT CovFDT_BaseDTMCore::TransferAudited(bool upload, VARIANT list, BSTR invokeId, VARIANT_BOOL* ok) {
  if (!ok) return E_INVALIDARG;
  *ok = VARIANT_FALSE;
  HRESULT hr = DtmMessage(vkr::I4(kMsgSwitchAuditTrail), I2(-1));
  if (FAILED(hr)) return hr;
  hr = upload ? UploadParameters(list, invokeId, VARIANT_TRUE) : DownloadParameters(list, invokeId, VARIANT_TRUE);
  DtmMessage(vkr::I4(kMsgSwitchAuditTrail), I2(0));
  if (FAILED(hr)) return hr;
  *ok = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::RefreshParameters(VARIANT list, BSTR text, VARIANT_BOOL* ok) {
  if (!ok) return E_INVALIDARG;
  *ok = VARIANT_FALSE;
  const HRESULT hr = UploadParameters(list, text, VARIANT_FALSE);
  if (FAILED(hr)) return hr;
  *ok = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::UploadParameters(VARIANT list, BSTR invokeId, VARIANT_BOOL flag) {
  return TransferParameters(true, list, invokeId, flag);
}

HRESULT CovFDT_BaseDTMCore::DownloadParameters(VARIANT list, BSTR invokeId, VARIANT_BOOL flag) {
  return TransferParameters(false, list, invokeId, flag);
}

HRESULT CovFDT_BaseDTMCore::NotifyListMembers(const VARIANT& ids, ParameterCallbackKind kind) {
  if (ids.vt != (VT_ARRAY | VT_VARIANT)) return S_OK;
  LONG lower = 0, upper = -1;
  HRESULT hr = ArrayBounds(ids, &lower, &upper);
  if (FAILED(hr)) return hr;
  for (LONG i = lower; i <= upper; ++i) {
    vkr::Variant element, id;
    if (FAILED(SafeArrayGetElement(ids.parray, &i, element.Put()))) continue;
    if (FAILED(VariantChangeType(id.Put(), element.Ptr(), 0, VT_UI4))) continue;
    NotifyParameterChanged(id.ulVal, kind);
  }
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::TransferParameters(bool upload, VARIANT list, BSTR invokeId, VARIANT_BOOL flag) {
  vkr::ComPtr<IovFDTCommClientTransferParamList2> client = QueryDtm<IovFDTCommClientTransferParamList2>();
  vkr::ComPtr<IovFdtCommunicationClient4> communication = QueryDtm<IovFdtCommunicationClient4>();
  if (!client || !communication) return E_NOINTERFACE;
  IovFDTParamList* lists = static_cast<CovFDT_ParameterListImpl*>(this);
  vkr::Variant ids;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = lists->GetMembers(list, ids.Put(), &ok);
  if (FAILED(hr)) return hr;
  if (!ok) return E_FAIL;
  if (ids.vt == (VT_ARRAY | VT_VARIANT)) {
    LONG lower = 0, upper = -1;
    hr = ArrayBounds(ids, &lower, &upper);
    if (FAILED(hr)) return hr;
  }
  hr = NotifyListMembers(ids, upload ? PCK_BEFORE_READ : PCK_BEFORE_WRITE);
  if (FAILED(hr)) return hr;
  std::vector<vkr::Variant> plain;
  std::vector<STransferGroup> groups;
  hr = SplitTransferList(list, upload ? kReadMask : kWriteMask, &plain, &groups);
  if (FAILED(hr)) return hr;

  // One list to the client, taken back whatever the outcome: a failed transfer must not leave its
  // temporary list behind.
  auto transfer = [&](const std::vector<vkr::Variant>& members) -> HRESULT {
    vkr::Variant request;
    HRESULT h = CreateTransferList(members, request.Put());
    if (FAILED(h)) return h;
    VARIANT_BOOL done = VARIANT_FALSE;
    m_bstrActiveTransferId = vkr::Bstr(invokeId);
    h = upload ? client->UploadParamList2(request, invokeId, flag, &done)
               : client->DownloadParamList2(request, invokeId, flag, &done);
    m_bstrActiveTransferId.Reset();
    VARIANT_BOOL takenBack = VARIANT_FALSE;
    const HRESULT removed = lists->DeleteList(request, &takenBack);
    // A cancel raised by the transfer-abort flag ends the transfer as a cancelled one.
    if (m_bAbortTransfer && SUCCEEDED(h)) h = E_ABORT;
    if (FAILED(h)) return h;
    if (!done || FAILED(removed) || !takenBack) return E_FAIL;
    return S_OK;
  };

  hr = transfer(plain);
  for (std::size_t g = 0; SUCCEEDED(hr) && g < groups.size(); ++g) {
    STransferGroup& group = groups[g];
    VARIANT first = group.ids.front();
    if (group.before) {
      VARIANT_BOOL allowed = VARIANT_FALSE;
      hr = group.before(static_cast<IovFdtParameterHandler4*>(this), communication.Get(), first, &allowed);
      if (FAILED(hr)) break;
      if (!allowed) {
        hr = E_ACCESSDENIED;
        break;
      }
    }
    hr = transfer(group.ids);
    if (FAILED(hr)) {
      if (group.onFailure) {
        VARIANT_BOOL ignored = VARIANT_FALSE;
        group.onFailure(static_cast<IovFdtParameterHandler4*>(this), communication.Get(), first, &ignored);
      }
      if (hr != E_ABORT) hr = E_FAIL;
      break;
    }
    if (group.after) {
      VARIANT_BOOL allowed = VARIANT_FALSE;
      hr = group.after(static_cast<IovFdtParameterHandler4*>(this), communication.Get(), first, &allowed);
      if (SUCCEEDED(hr) && !allowed) hr = E_ACCESSDENIED;
    }
  }
  if (FAILED(hr)) return hr;
  return NotifyListMembers(ids, upload ? PCK_AFTER_READ : PCK_AFTER_WRITE);
}

HRESULT CovFDT_BaseDTMCore::SplitTransferList(VARIANT list, ULONG mask, std::vector<vkr::Variant>* plain,
                                              std::vector<STransferGroup>* groups) {
  IovFDTParamList* lists = static_cast<CovFDT_ParameterListImpl*>(this);
  vkr::Variant ids;
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = lists->GetMembers(list, ids.Put(), &ok);
  if (FAILED(hr)) return hr;
  // A list without members has nothing to transfer: that is refused, not taken as done.
  if (ids.vt != (VT_ARRAY | VT_VARIANT) || !ids.parray) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  hr = ArrayBounds(ids, &lower, &upper);
  if (FAILED(hr)) return hr;
  try {
    for (LONG i = lower; i <= upper; ++i) {
      vkr::Variant id;
      hr = SafeArrayGetElement(ids.parray, &i, id.Put());
      if (FAILED(hr)) return hr;
      const STransferGroupInfo* info = nullptr;
      for (const STransferGroupInfo& r : m_transferGroups)
        if ((r.mask & mask) && IsVariantEqual(r.id, id)) {
          info = &r;
          break;
        }
      if (!info) {
        plain->push_back(std::move(id));
        continue;
      }
      STransferGroup* group = nullptr;
      for (STransferGroup& g : *groups)
        if (IsVariantEqual(g.key, info->key)) group = &g;
      if (!group) {
        groups->emplace_back();
        group = &groups->back();
        VariantCopy(group->key.Ptr(), &info->key);
        group->before = info->before;
        group->onFailure = info->onFailure;
        group->after = info->after;
      }
      group->ids.push_back(std::move(id));
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::CreateTransferList(const std::vector<vkr::Variant>& ids, VARIANT* request) {
  IovFDTParamList* lists = static_cast<CovFDT_ParameterListImpl*>(this);
  vkr::Bstr guid;
  if (FAILED(CreateGuidString(guid.Put())) || guid.Empty()) return E_UNEXPECTED;
  vkr::Variant name;
  name.vt = VT_BSTR;
  name.bstrVal = guid.Detach();
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT hr = lists->CreateList(name, EmptyVariant(), EmptyVariant(), EmptyVariant(), &ok);
  if (FAILED(hr)) return hr;
  if (!ok) return E_FAIL;
  vkr::Variant members;
  members.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(ids.size()));
  if (!members.parray) hr = E_OUTOFMEMORY;
  members.vt = VT_ARRAY | VT_VARIANT;
  for (LONG i = 0; SUCCEEDED(hr) && i < static_cast<LONG>(ids.size()); ++i)
    hr = SafeArrayPutElement(members.parray, &i, const_cast<VARIANT*>(ids[static_cast<std::size_t>(i)].Ptr()));
  if (SUCCEEDED(hr) && !ids.empty()) {
    hr = lists->AddMembers(name, members, &ok);
    if (SUCCEEDED(hr) && !ok) hr = E_FAIL;
  }
  if (FAILED(hr)) {
    lists->DeleteList(name, &ok);
    return hr;
  }
  VariantClear(request);
  return VariantCopy(request, name.Ptr());
}

// ---- The refresh of the online cache (DTM message 51) ------------------------------------

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgRefreshOnlineCache(VARIANT argument) {
  LogEntry("HandleDtmMsgRefreshOnlineCache");
  if (argument.vt != (VT_ARRAY | VT_VARIANT) || !argument.parray) return E_INVALIDARG;
  LONG index = 0;
  SafeArrayGetLBound(argument.parray, 1, &index);
  vkr::Variant first, list;
  HRESULT hr = SafeArrayGetElement(argument.parray, &index, first.Put());
  if (FAILED(hr)) return hr;
  vkr::Bstr text;
  hr = VariantToBstr(first.Ptr(), text.Put());
  if (FAILED(hr)) return hr;
  ++index;
  hr = SafeArrayGetElement(argument.parray, &index, list.Put());
  if (FAILED(hr)) return hr;
  const bool saved = m_bAbortTransfer;
  m_bAbortTransfer = false;
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = DoRefreshOnlineCache(list, text, &ok);
  m_bAbortTransfer = saved;
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseDTMCore::DoRefreshOnlineCache(VARIANT list, BSTR text, VARIANT_BOOL* ok) {
  if (!ok) return E_INVALIDARG;
  LogEntry("DoRefreshOnlineCache");
  *ok = VARIANT_FALSE;
  ResetProgressThreshold();
  if (m_bAbortTransfer) return E_ABORT;
  if (m_eDtmState != dsONLINE) return E_FAIL;
  if (FAILED(LockDataset(true))) return S_FALSE;
  if (!m_bDataSetLocked) {
    UnlockDataset();
    return S_FALSE;
  }
  m_bTransferActive = true;
  DelaySaveRequest(TRUE);
  const HRESULT hr = RefreshParameters(list, text, ok);
  DelaySaveRequest(FALSE);
  UnlockDataset();
  m_bTransferActive = false;
  vkr::Bstr none(u"");
  UpdateProgress(0, 100, none);
  m_bRebuildingRelations = true;
  BuildRelations(2);
  m_bRebuildingRelations = false;
  return FAILED(hr) ? hr : S_OK;
}
