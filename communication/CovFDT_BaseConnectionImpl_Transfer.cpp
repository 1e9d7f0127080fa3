// The connection's parameter-list transfers: upload and download as runs of blocking
// transactions, their progress (DTM message 18), their cancellation by transfer id, and the
// application of uploaded values.
#include "communication/CovFDT_BaseConnectionImpl.h"
#include "include/TranslationInterfaces.h"
#include "parameters/CFdtVariant.h"
#include "parameters/DeviceParameterTable.h"

namespace {

constexpr ULONG kFieldDeviceValue = 0x200000;
constexpr ULONG kFieldStatus = 0x4000;
constexpr ULONG kStatusDisabled = 0x08;
constexpr ULONG kStatusModified = 0x02;
constexpr ULONG kStatusNotHeld = 0x200;
constexpr ULONG kFieldPersist = 0x200;
constexpr ULONG kFieldName = 0x04;

ULONG IdOf(const VARIANT& id) {
  ULONG number = 0;
  VariantToULong(&id, &number);
  return number;
}

bool SameText(BSTR a, BSTR b) { return CovFDT_BaseConnectionImpl::TextOf(a) == CovFDT_BaseConnectionImpl::TextOf(b); }

}  // namespace

CovFDT_BaseConnectionImpl::TransferEntry* CovFDT_BaseConnectionImpl::FindTransfer(BSTR transferId) {
  for (TransferEntry& entry : m_transferList)
    if (SameText(entry.transferId, transferId)) return &entry;
  return nullptr;
}

void CovFDT_BaseConnectionImpl::RemoveTransfer(BSTR transferId) {
  for (auto it = m_transferList.begin(); it != m_transferList.end(); ++it) {
    if (SameText(it->transferId, transferId)) {
      m_transferList.erase(it);
      return;
    }
  }
}

HRESULT CovFDT_BaseConnectionImpl::CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (SysStringLen(transferId) == 0) return S_FALSE;
  TransferEntry* entry = FindTransfer(transferId);
  if (!entry) return S_FALSE;
  entry->cancelled = true;
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::ReportProgress(BSTR text, LONG percent, bool running) {
  vkr::ComPtr<IovFdtDtmEvents> events;
  if (!m_pDTM || FAILED(m_pDTM->QueryInterface(IovFdtDtmEvents::iid, events.PutVoid())) || !events)
    return E_NOINTERFACE;
  SProgressEvent progress;
  progress.bstrText = vkr::Bstr(text);
  progress.nPercent = percent;
  progress.bFlag = running;
  vkr::Variant packed;
  if (!progress.Pack(&packed)) return E_FAIL;
  return events->DtmMessage(vkr::I4(kMsgProgress), packed);
}

HRESULT CovFDT_BaseConnectionImpl::CyclicMode(const VARIANT& listId, bool* cyclic) {
  *cyclic = false;
  vkr::ComPtr<IovFDTParamList> lists;
  if (!m_pDTM || FAILED(m_pDTM->QueryInterface(IovFDTParamList::iid, lists.PutVoid())) || !lists) return S_FALSE;
  vkr::Variant names;
  names.vt = VT_ARRAY | VT_VARIANT;
  names.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  if (!names.parray) return E_OUTOFMEMORY;
  vkr::Variant name;
  name.vt = VT_BSTR;
  name.bstrVal = SysAllocString(u"cycle");
  LONG index = 0;
  if (!name.bstrVal || FAILED(SafeArrayPutElement(names.parray, &index, &name))) return E_OUTOFMEMORY;
  vkr::Variant values;
  VARIANT_BOOL ok = VARIANT_FALSE;
  if (FAILED(lists->GetProperties(listId, names, values.Put(), &ok)) || ok != VARIANT_TRUE) return S_FALSE;
  if (values.vt != (VT_ARRAY | VT_VARIANT) || !values.parray) return S_FALSE;
  LONG lower = 0;
  if (FAILED(SafeArrayGetLBound(values.parray, 1, &lower))) return S_FALSE;
  vkr::Variant first;
  if (FAILED(SafeArrayGetElement(values.parray, &lower, first.Put()))) return S_FALSE;
  *cyclic = first.vt != VT_EMPTY && !(first.vt == VT_BSTR && SysStringLen(first.bstrVal) == 0);
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::ExecuteTransactionList(VARIANT documents, VARIANT contexts, BSTR transferId,
                                                          ULONG mode) {
  if (documents.vt != (VT_ARRAY | VT_BSTR) || contexts.vt != (VT_ARRAY | VT_VARIANT)) return E_FAIL;
  if (!documents.parray || !contexts.parray) return E_POINTER;
  LONG docLower = 0, docUpper = 0, ctxLower = 0, ctxUpper = 0;
  HRESULT hr = SafeArrayGetLBound(documents.parray, 1, &docLower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(documents.parray, 1, &docUpper);
  if (SUCCEEDED(hr)) hr = SafeArrayGetLBound(contexts.parray, 1, &ctxLower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(contexts.parray, 1, &ctxUpper);
  if (FAILED(hr)) return hr;
  if (docLower != ctxLower || docUpper != ctxUpper || docUpper < docLower) return E_UNEXPECTED;

  vkr::ComPtr<IovFdtTranslation> translation;
  if (!m_pDTM || FAILED(m_pDTM->QueryInterface(IovFdtTranslation::iid, translation.PutVoid())) || !translation)
    return E_NOINTERFACE;
  vkr::Bstr text(u" ");
  {
    vkr::Bstr found;
    VARIANT_BOOL ok = VARIANT_FALSE;
    vkr::Bstr path(u"localization/StringList/Communication_Progress");
    if (SUCCEEDED(translation->GetTranslation(path, found.Put(), &ok)) && ok == VARIANT_TRUE && found.Get())
      text = found;
  }
  const bool progress = (mode & kRunReportProgress) != 0;
  const bool goOn = (mode & kRunContinueOnFailure) != 0;
  vkr::Bstr closing(u"");
  if (progress) ReportProgress(text, 0, true);

  HRESULT result = S_OK;
  LONG lastPercent = 0;
  const LONG count = docUpper - docLower + 1;
  for (LONG i = docLower; i <= docUpper; ++i) {
    if (!m_bConnected) {
      // The connection went away under the run: what is left was not transferred.
      if (SUCCEEDED(result)) result = E_FAIL;
      break;
    }
    const LONG percent = static_cast<SHORT>((i - docLower) * 100 / count);
    if (progress && percent > lastPercent) {
      ReportProgress(text, percent, true);
      lastPercent = percent;
    }
    vkr::Bstr document;
    LONG index = i;
    hr = SafeArrayGetElement(documents.parray, &index, document.Put());
    if (FAILED(hr)) {
      result = hr;
      if (!goOn) break;
      continue;
    }
    if (document.Empty()) continue;
    vkr::Variant context;
    hr = SafeArrayGetElement(contexts.parray, &index, context.Put());
    if (FAILED(hr)) {
      result = hr;
      if (!goOn) break;
      continue;
    }
    if (SysStringLen(transferId) > 0) {
      TransferEntry* entry = FindTransfer(transferId);
      if (entry && entry->cancelled) {
        if (progress) ReportProgress(closing, 0, false);
        return E_ABORT;
      }
    }
    VARIANT_BOOL taken = VARIANT_FALSE;
    hr = SendTransactionBlocking(context, document, &taken);
    // A request that got no answer (the channel did not take it, none came, the connection went)
    // fails its parameter as a refusing answer would: the transfer's report names it.
    if ((FAILED(hr) || taken != VARIANT_TRUE) && !m_bLastTransactionAnswered)
      ReportUnanswered(context, taken != VARIANT_TRUE ? NotTakenText() : kTextNoAnswer);
    if (FAILED(hr)) {
      result = hr;
      if (!goOn) break;
    } else if (taken != VARIANT_TRUE) {
      result = E_FAIL;
      if (!goOn) break;
    }
  }
  if (progress) ReportProgress(closing, 0, false);
  return result;
}

HRESULT CovFDT_BaseConnectionImpl::ApplyUploadedValues(const VARIANT& members,
                                                       const std::vector<vkr::Variant>& answered) {
  vkr::ComPtr<IovFdtParameterInfo> info;
  vkr::ComPtr<IovFdtParameterValidation> validation;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  if (!m_pDTM) return E_FAIL;
  m_pDTM->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid());
  m_pDTM->QueryInterface(IovFdtParameterValidation::iid, validation.PutVoid());
  m_pDTM->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid());
  if (!info || !validation || !handler) return E_FAIL;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(members.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(members.parray, 1, &upper)))
    return E_FAIL;
  auto store = [&](const VARIANT& id, bool kept) {
    vkr::Variant value;
    if (FAILED(info->GetParameterField(id, vkr::UI4(kFieldDeviceValue), value.Put()))) return;
    // A member the device did not answer has no device value; it keeps its data-set value.
    if (value.vt == VT_EMPTY) return;
    // A float that is not a finite number is no value of the device's settings: it is left out and
    // named, whether the data set keeps the parameter or not.
    const bool number = !vkr::HoldsNonFiniteNumber(IdOf(id), value);
    ULONG status = 0;
    const HRESULT valid = number ? validation->ValidateParameter(id, value, &status) : E_INVALIDARG;
    // A disabled parameter takes no value, unless the data set keeps it: what an upload read of
    // the data set's own values is stored, so that a later download writes back what was there.
    if (SUCCEEDED(valid) && (status & kStatusDisabled) && !kept) return;
    // A value the data set cannot hold is not stored, and told: the data set keeps what it held,
    // and the upload does not pass it off as the device's.
    if (FAILED(valid) || FAILED(handler->SetParameterValue(id, value))) {
      vkr::Variant name;
      info->GetParameterField(id, vkr::UI4(kFieldName), name.Put());
      if (kept || !number)
        m_pProtocol->ReportMessage("Upload left out \"%s\" (%lu): %s",
                                   name.vt == VT_BSTR ? vkr::Utf16ToUtf8(vkr::View(name.bstrVal)).c_str() : "",
                                   static_cast<unsigned long>(IdOf(id)),
                                   number ? "the data set cannot hold the device's value"
                                          : "the device's value is not a finite number");
      return;
    }
    info->SetParameterField(id, vkr::UI4(kFieldStatus), vkr::UI4(status & ~(kStatusModified | kStatusNotHeld)));
  };
  auto isKept = [&](const VARIANT& id) {
    vkr::Variant persist;
    return SUCCEEDED(info->GetParameterField(id, vkr::UI4(kFieldPersist), persist.Put())) &&
           SUCCEEDED(VariantChangeType(persist.Ptr(), persist.Ptr(), 0, VT_BOOL)) && persist.boolVal != VARIANT_FALSE;
  };
  std::vector<vkr::Variant> listed;
  for (LONG i = lower; i <= upper; ++i) {
    vkr::Variant id;
    LONG index = i;
    if (FAILED(SafeArrayGetElement(members.parray, &index, id.Put()))) return E_FAIL;
    store(id, isKept(id));
    listed.push_back(std::move(id));
  }
  // The data set's parameters that the answers carried besides the list's own members.
  for (const vkr::Variant& id : answered) {
    bool inList = false;
    for (const vkr::Variant& member : listed) inList = inList || IsVariantEqual(member, id);
    if (!inList && isKept(id)) store(id, true);
  }
  return S_OK;
}

HRESULT CovFDT_BaseConnectionImpl::UploadParamList(VARIANT listId, VARIANT_BOOL apply, VARIANT_BOOL* done) {
  return UploadParamList2(listId, nullptr, apply, done);
}

HRESULT CovFDT_BaseConnectionImpl::DownloadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) {
  return DownloadParamList2(listId, nullptr, flag, done);
}

HRESULT CovFDT_BaseConnectionImpl::UploadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL apply,
                                                    VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_pProtocol) return E_UNEXPECTED;
  vkr::Variant members;
  bool notArray = false;
  HRESULT hr = ResolveList(listId, members.Put(), &notArray);
  if (notArray) return E_FAIL;
  if (FAILED(hr)) return S_FALSE;
  if (hr == S_FALSE) {
    *done = VARIANT_TRUE;
    return S_OK;
  }
  vkr::Variant documents, contexts;
  hr = m_pProtocol->CreateReadTransactions(listId, m_bstrCommunicationReference, documents.Put(), contexts.Put());
  if (FAILED(hr)) return S_FALSE;
  const bool named = SysStringLen(transferId) > 0;
  if (named) m_transferList.push_back(TransferEntry{vkr::Bstr(transferId), false});
  bool cyclic = false;
  CyclicMode(listId, &cyclic);
  if (apply == VARIANT_TRUE) m_pProtocol->StartAnswerLog();
  hr = ExecuteTransactionList(documents, contexts, transferId,
                              cyclic ? kRunContinueOnFailure : kRunContinueOnFailure | kRunReportProgress);
  const std::vector<vkr::Variant> answered = m_pProtocol->TakeAnswerLog();
  if (named) {
    TransferEntry* entry = FindTransfer(transferId);
    const bool cancelled = entry && entry->cancelled;
    RemoveTransfer(transferId);
    if (cancelled) return E_ABORT;
  }
  if (SUCCEEDED(hr) && !m_bAborted) {
    if (apply == VARIANT_TRUE && FAILED(ApplyUploadedValues(members, answered))) return E_FAIL;
    *done = VARIANT_TRUE;
    return S_OK;
  }
  return S_FALSE;
}

HRESULT CovFDT_BaseConnectionImpl::DownloadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag,
                                                      VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_pProtocol || m_bstrCommunicationReference.Empty()) return E_UNEXPECTED;
  vkr::Variant documents, contexts;
  m_pProtocol->CreateWriteTransactions(listId, m_bstrCommunicationReference, flag, documents.Put(), contexts.Put());
  const bool named = SysStringLen(transferId) > 0;
  if (named) m_transferList.push_back(TransferEntry{vkr::Bstr(transferId), false});
  bool cyclic = false;
  CyclicMode(listId, &cyclic);
  HRESULT hr =
      ExecuteTransactionList(documents, contexts, transferId, cyclic ? 0 : kRunReportProgress);
  if (named) {
    TransferEntry* entry = FindTransfer(transferId);
    const bool cancelled = entry && entry->cancelled;
    RemoveTransfer(transferId);
    if (cancelled) return E_ABORT;
  }
  if (SUCCEEDED(hr) && !m_bAborted) {
    *done = VARIANT_TRUE;
    return S_OK;
  }
  return S_FALSE;
}
