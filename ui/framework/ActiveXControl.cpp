// The FDT user-interface side of the controls: start, release, OK, Apply and Cancel.
#include "ui/framework/ActiveXControl.h"

#include <algorithm>
#include <array>
#include <string>

#include "communication/HartResponseTexts.h"
#include "ui/framework/DeviceAccessLog.h"
#include "xml/Translation.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr ULONG kCmdLanguage = 9984;
constexpr ULONG kDtmOnline = 12;
constexpr LONG kAccessReleasing = 4;
constexpr LONG kAccessOnline = 9;
constexpr ULONG kMsgDataSetLock = 4;
constexpr ULONG kMsgUpload = 49;
constexpr ULONG kMsgDownload = 50;
constexpr ULONG kTextUploadTitle = 1002;
constexpr ULONG kTextDownloadTitle = 1004;
constexpr ULONG kTextUploadQuestion = 1005;
constexpr ULONG kTextDownloadQuestion = 1006;
constexpr WORD kStatusIconIds[5] = {664, 667, 671, 673, 669};
constexpr ULONG kCmdDownloadDone = 10013;
constexpr ULONG kStateChangedMark = 0x2;
constexpr ULONG kTellStyle = 0x10;  // OK button, error icon
constexpr ULONG kWarnStyle = 0x30;  // OK button, warning icon
// The longest wait for a download's end: the DTM tells the end of every download request it took,
// on every road, so this only guards against a DTM that never reports.
constexpr DWORD kDownloadWaitMs = 120000;

// The request for the DTM's function list in every operation phase (the two tabs are the DTM's
// own spelling of the request).
constexpr const char16_t kFunctionListRequest[] =
    u"<?xml version=\"1.0\" ?><FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\"\t\toperationPhase=\"notSupported\"/>";

constexpr std::array<const char16_t*, 13> kApplicationIdNames = {
    u"fdtAdjustSetValue", u"fdtAssetManagement",     u"fdtAuditTrail",    u"fdtConfiguration",
    u"fdtDiagnosis",      u"fdtForce",               u"fdtManagement",    u"fdtObserve",
    u"fdtOfflineCompare", u"fdtOfflineParameterize", u"fdtOnlineCompare", u"fdtOnlineParameterize",
    u"fdtMainOperation"};

std::u16string Format(const char16_t* before, LONG id, const char16_t* after) {
  return before + vkr::Utf8ToUtf16(std::to_string(id)) + after;
}

template <class I>
vkr::ComPtr<I> Query(IUnknown* object) {
  vkr::ComPtr<I> found;
  if (object && FAILED(object->QueryInterface(I::iid, found.PutVoid()))) found = nullptr;
  return found;
}

}  // namespace

CovFDT_IDtmActiveXControlImpl::CovFDT_IDtmActiveXControlImpl(const CLSID& clsid, ParameterMapFunction parameterMap,
                                                             const SCompositeControlClass& cls)
    : CovFDT_BaseActiveXImplEx(clsid, parameterMap, cls) {}

CovFDT_IDtmActiveXControlImpl::~CovFDT_IDtmActiveXControlImpl() = default;

void* CovFDT_IDtmActiveXControlImpl::FindInterface(REFIID riid) {
  if (void* found = CovFDT_BaseActiveXImplEx::FindInterface(riid)) return found;
  return vkr::detail::MatchInterface<IDtmActiveXControl>(static_cast<IDtmActiveXControl*>(this), riid);
}

HRESULT CovFDT_IDtmActiveXControlImpl::GetTypeInfoCount(UINT* count) {
  return CovFDT_BaseActiveXImpl::GetTypeInfoCount(count);
}
HRESULT CovFDT_IDtmActiveXControlImpl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_BaseActiveXImpl::GetTypeInfo(index, lcid, info);
}
HRESULT CovFDT_IDtmActiveXControlImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                                     DISPID* ids) {
  return CovFDT_BaseActiveXImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT CovFDT_IDtmActiveXControlImpl::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                              VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_BaseActiveXImpl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

// ---- Start ----------------------------------------------------------------------------------------

HRESULT CovFDT_IDtmActiveXControlImpl::Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  if (!dtm || !functionCall || !instanceId) return S_FALSE;
  if (m_bStarted || m_bRegistered || !m_bstrSystemTag.Empty()) return S_FALSE;
  // The instance id is the key the container keeps the control under: an empty one would be
  // registered under "" and could never be told apart.
  if (SysStringLen(instanceId) == 0) return S_FALSE;
  if (m_bStarting) return S_FALSE;
  struct StartingScope {
    bool& flag;
    explicit StartingScope(bool& f) : flag(f) { flag = true; }
    ~StartingScope() { flag = false; }
  } starting(m_bStarting);
  m_bReleasedWhileStarting = false;

  vkr::ComPtr<IUnknown> object;
  if (FAILED(dtm->QueryInterface(IID_IUnknown, object.PutVoid())) || !object) return S_FALSE;
  m_spDtmUnknown = object;
  m_spIDtm = Query<IDtm>(object.Get());
  m_bstrFunctionCall = vkr::Bstr(functionCall);
  m_bstrSystemTag = vkr::Bstr(instanceId);

  if (FAILED(RegisterWithContainer(instanceId))) {
    AbandonStart();
    return S_FALSE;
  }
  // From here on every refusal withdraws the registration: the frame lets a control go whose
  // Init failed without asking it to release, and the container must not keep it.
  HRESULT hr = ReadFunctionId(m_bstrFunctionCall.Get(), &m_nFunctionId);
  if (FAILED(hr)) {
    AbandonStart();
    return S_FALSE;
  }
  hr = ReadFunctionDetails(m_spIDtm.Get());
  if (hr != S_OK) {
    AbandonStart();
    return FAILED(hr) ? hr : S_FALSE;
  }
  hr = ChooseDialogType();
  if (FAILED(hr)) {
    AbandonStart();
    return S_FALSE;
  }
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = InitializeUI(m_spDtmUnknown.Get(), &ok);
  if (FAILED(hr) || !ok || m_bReleasedWhileStarting) {
    AbandonStart();
    return S_FALSE;
  }
  if (m_bViaManagement) {
    vkr::ComPtr<IovFdtDtmEvents> events = Query<IovFdtDtmEvents>(m_spDtmUnknown.Get());
    if (!events || FAILED(events->DtmMessage(vkr::I4(static_cast<LONG>(kMsgDataSetLock)), vkr::EmptyVariant())) ||
        m_bReleasedWhileStarting) {
      AbandonStart();
      return S_FALSE;
    }
  }
  m_bStarted = true;
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_IDtmActiveXControlImpl::RegisterWithContainer(BSTR instanceId) {
  IUnknown* self = GetControllingUnknown();
  if (vkr::ComPtr<IovFdtActiveXManagement> management = Query<IovFdtActiveXManagement>(m_spDtmUnknown.Get())) {
    m_bViaManagement = true;
    m_bRegistered = true;
    HRESULT hr = management->StartFunction(instanceId, self, 0);
    if (FAILED(hr)) UnregisterFromContainer();  // a half-done start may have listed it
    return hr;
  }
  if (vkr::ComPtr<IovFdtActiveXContainer> container = Query<IovFdtActiveXContainer>(m_spDtmUnknown.Get())) {
    m_bViaManagement = false;
    m_bRegistered = true;
    HRESULT hr = container->StartOrFinishFunction(instanceId, self);
    if (FAILED(hr)) UnregisterFromContainer();
    return hr;
  }
  return E_NOINTERFACE;
}

HRESULT CovFDT_IDtmActiveXControlImpl::UnregisterFromContainer() {
  if (!m_bRegistered) return S_OK;
  const vkr::Bstr id(m_bstrSystemTag);
  HRESULT hr = E_FAIL;
  if (m_bViaManagement) {
    if (vkr::ComPtr<IovFdtActiveXManagement> management = Query<IovFdtActiveXManagement>(m_spDtmUnknown.Get()))
      hr = management->FunctionFinished(id.Get());
  } else if (vkr::ComPtr<IovFdtActiveXContainer> container =
                 Query<IovFdtActiveXContainer>(m_spDtmUnknown.Get())) {
    hr = container->StartOrFinishFunction(id.Get(), nullptr);
  }
  if (SUCCEEDED(hr)) m_bRegistered = false;
  return hr;
}

void CovFDT_IDtmActiveXControlImpl::AbandonStart() {
  AbandonUserInterface();
  if (m_bRegistered) {
    UnregisterFromContainer();
    m_bRegistered = false;  // whatever the container answered: nothing is kept for it any more
  }
  if (m_spDtm) {
    VARIANT_BOOL done = VARIANT_FALSE;
    CovFDT_IDtmActiveXControlImpl::UninitializeUI(&done);
  }
  m_bstrFunctionCall = vkr::Bstr();
  m_bstrFunctionName = vkr::Bstr();
  m_bstrSystemTag = vkr::Bstr();
  m_spIDtm = nullptr;
  m_spDtmUnknown = nullptr;
  m_nFunctionId = -1;
  m_nApplicationId = 0;
  m_nOperationPhase = 0;
  m_bViaManagement = false;
}

HRESULT CovFDT_IDtmActiveXControlImpl::ReadFunctionId(BSTR functionCall, LONG* functionId) {
  if (!functionId) return E_POINTER;
  if (!functionCall) return E_FAIL;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = m_spSchemaCache ? LoadXMLDocument(functionCall, document.Put(), &loaded)
                               : ::LoadXmlFromString(functionCall, document.Put(), &loaded);
  if (FAILED(hr) || !loaded || !document) return E_FAIL;
  LONG id = -1;
  hr = GetXmlValueI4(&id, document.Get(), vkr::Bstr(u"FDT/FDTFunctionCall/@func:functionId").Get());
  if (FAILED(hr)) return hr;
  *functionId = id;
  return S_OK;
}

HRESULT CovFDT_IDtmActiveXControlImpl::ReadFunctionDetails(IDtm* dtm) {
  // Without the DTM's FDT interface there is no function list to read the function from.
  if (!dtm) return S_FALSE;
  m_nApplicationId = 0;
  vkr::Bstr answer;
  HRESULT hr = dtm->GetFunctions(vkr::Bstr(kFunctionListRequest).Get(), answer.Put());
  if (FAILED(hr)) return hr;
  if (!answer.Get()) return E_POINTER;
  vkr::ComPtr<IXMLDOMDocument2> functions;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = m_spSchemaCache ? LoadXMLDocument(answer.Get(), functions.Put(), &loaded)
                       : ::LoadXmlFromString(answer.Get(), functions.Put(), &loaded);
  if (FAILED(hr) || !loaded || !functions) return E_FAIL;

  // A standard function takes the application id of the nearest of itself and its ancestors that
  // names one; a function the first one named at or below it.
  const vkr::Bstr appIdPath(u"appId:ApplicationId/@applicationId");
  vkr::Bstr appId;
  bool appIdFound = false;
  vkr::ComPtr<IXMLDOMNode> node;
  functions->selectSingleNode(
      vkr::Bstr(Format(u"//StandardFunction[@functionId=", m_nFunctionId, u"]")).Get(), node.Put());
  if (node) {
    for (vkr::ComPtr<IXMLDOMNode> at = node; at && !appIdFound;) {
      if (FAILED(GetXmlString(appId.Put(), &appIdFound, at.Get(), appIdPath.Get()))) return S_FALSE;
      vkr::ComPtr<IXMLDOMNode> parent;
      if (FAILED(at->get_parentNode(parent.Put()))) parent = nullptr;
      at = parent;
    }
  } else {
    functions->selectSingleNode(vkr::Bstr(Format(u"//Function[@functionId=", m_nFunctionId, u"]")).Get(),
                                node.Put());
    if (node && FAILED(GetXmlString(appId.Put(), &appIdFound, node.Get(),
                                    vkr::Bstr(u".//appId:ApplicationId/@applicationId").Get())))
      return S_FALSE;
  }
  // A name the table does not know leaves the function without an application id.
  if (appIdFound) ApplicationIdFromName(appId.Get(), &m_nApplicationId);

  vkr::ComPtr<IXMLDOMNode> any;
  functions->selectSingleNode(vkr::Bstr(Format(u"//*[@functionId=", m_nFunctionId, u"]")).Get(), any.Put());
  if (any) {
    vkr::Bstr name;
    bool found = false;
    if (FAILED(GetXmlString(name.Put(), &found, any.Get(), vkr::Bstr(u"@fdt:name").Get()))) return S_FALSE;
    m_bstrFunctionName = std::move(name);
  }

  m_nOperationPhase = 0;
  vkr::ComPtr<IXMLDOMDocument2> call;
  hr = m_spSchemaCache ? LoadXMLDocument(m_bstrFunctionCall.Get(), call.Put(), &loaded)
                       : ::LoadXmlFromString(m_bstrFunctionCall.Get(), call.Put(), &loaded);
  if (FAILED(hr) || !loaded || !call) return S_FALSE;
  vkr::Bstr phase;
  bool found = false;
  if (FAILED(GetXmlString(phase.Put(), &found, call.Get(), vkr::Bstr(u"*/FDTFunctionCall/@ops:operationPhase").Get())))
    return S_FALSE;
  // An unknown phase text leaves the phase "notSupported".
  if (found) OperationPhaseFromName(phase.Get(), &m_nOperationPhase);
  return S_OK;
}

HRESULT CovFDT_IDtmActiveXControlImpl::ChooseDialogType() {
  switch (m_nApplicationId) {
    case kAppIdNone:
      if (m_bstrFunctionName.View() == u"MainOperation") {
        m_nApplicationId = kAppIdMainOperation;
        return SetDialogType(2);
      }
      return S_OK;
    case kAppIdConfiguration:
    case kAppIdOfflineCompare:
    case kAppIdOfflineParameterize: {
      HRESULT hr = SetDialogType(2);
      if (FAILED(hr)) return hr;
      CheckCyclicUpdate();
      return S_OK;
    }
    case kAppIdDiagnosis:
    case kAppIdObserve:
    case kAppIdOnlineCompare:
    case kAppIdOnlineParameterize: {
      HRESULT hr = SetDialogType(4);
      if (FAILED(hr)) return hr;
      CheckCyclicUpdate();
      return S_OK;
    }
    case kAppIdMainOperation:
      return SetDialogType(2);
    default:
      return S_OK;
  }
}

HRESULT CovFDT_IDtmActiveXControlImpl::ApplicationIdFromName(LPCWSTR name, ULONG* id) {
  if (!id) return E_POINTER;
  if (!name) return E_FAIL;
  const std::u16string_view text(name);
  for (size_t i = 0; i < kApplicationIdNames.size(); ++i) {
    if (text == kApplicationIdNames[i]) {
      *id = static_cast<ULONG>(i + 1);
      return S_OK;
    }
  }
  return E_FAIL;
}

// ---- Start and end of the user interface ----------------------------------------------------------

HRESULT CovFDT_IDtmActiveXControlImpl::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  if (!ok || !dtm) return E_POINTER;
  *ok = VARIANT_FALSE;
  m_spDtm = nullptr;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  HRESULT hr = dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid());
  if (FAILED(hr)) return hr;
  if (!handler) return E_FAIL;
  m_spDtm = handler;
  m_spDtmObject = dtm;

  const HINSTANCE module = vkr::ui::atl_detail::ThisModule();
  for (size_t i = 0; i < m_ahStatusIcons.size(); ++i)
    if (!m_ahStatusIcons[i])
      m_ahStatusIcons[i] =
          static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(kStatusIconIds[i]), IMAGE_ICON, 16, 16, 0));

  EnableApplyButton(FALSE);
  hr = SetDialogType(m_nDialogType);
  if (FAILED(hr)) return hr;

  // The DTM's state decides whether the device may be read.
  if (vkr::ComPtr<IovFdtBaseDTM> base = Query<IovFdtBaseDTM>(dtm)) {
    EDtmState state = dsUNDEFINED;
    if (SUCCEEDED(base->GetDTMState(&state)) && static_cast<ULONG>(state) != m_nDtmState)
      CovFDT_BaseActiveXImpl::OnDtmStateChanged(static_cast<ULONG>(state));
  }
  hr = (!(m_nDialogType & 0x4) || m_nDtmState == kDtmOnline) ? ReadAllParameters() : StartWithoutDevice();
  if (FAILED(hr)) return hr;
  hr = ExecuteCommand(vkr::UI4(kCmdLanguage), vkr::I4(static_cast<LONG>(m_nLanguage)));
  if (FAILED(hr)) return hr;
  if (m_nDialogType & 0x4) ApplyOnlineAccess(GetAccessMode() == kAccessOnline ? TRUE : FALSE);
  *ok = VARIANT_TRUE;
  return S_OK;
}

// An online dialog while the DTM is offline shows what the DTM holds and reads nothing from the
// device; the device values come when the DTM goes online.
HRESULT CovFDT_IDtmActiveXControlImpl::StartWithoutDevice() {
  if (!m_spDtm) return E_INVALIDARG;
  vkr::ComPtr<IovFdtParameterInfo> info = Query<IovFdtParameterInfo>(m_spDtm.Get());
  if (!info) return E_POINTER;
  return ReadAllParameters();
}

HRESULT CovFDT_IDtmActiveXControlImpl::UninitializeUI(VARIANT_BOOL* ok) {
  if (!ok) return E_POINTER;
  return CovFDT_BaseActiveXImpl::UninitializeUI(ok);
}

HRESULT CovFDT_IDtmActiveXControlImpl::SetInfo(VARIANT id, VARIANT* value) {
  ULONG item = 0;
  if (SUCCEEDED(ReadCommandId(id, &item)) && item == 1) {
    if (!value) return E_POINTER;
    if (m_bstrFunctionCall.Empty()) return S_FALSE;
    VariantClear(value);
    value->vt = VT_BSTR;
    return m_bstrFunctionCall.CopyTo(&value->bstrVal);
  }
  return CovFDT_BaseActiveXImplEx::SetInfo(id, value);
}

// ---- Release --------------------------------------------------------------------------------------

HRESULT CovFDT_IDtmActiveXControlImpl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  // Released while Init runs: Init stops at its next step and frees what it made by then.
  if (m_bStarting) m_bReleasedWhileStarting = true;
  // A control that never started (or was released already) holds nothing to give back.
  if (!m_bStarted && !m_bRegistered) {
    *result = VARIANT_TRUE;
    return S_OK;
  }
  // Not closed under its own download, nor under the writes of its OK or Apply.
  if (m_download.waiting || m_bApplying) return S_FALSE;
  if (m_nDtmState >= 9 && (m_bDeviceChanged || m_bDtmChanged)) {
    const bool device = m_bDeviceChanged != 0;
    const LONG answer = AskTransferQuestion(device);
    if (answer == kAnswerCancel) return S_FALSE;
    if (answer == kAnswerYes && device) {
      // The close goes on whatever the upload brings; the DTM tells the frame how it ended.
      vkr::Bstr empty(u"");
      SendDtmMessage(kMsgUpload, vkr::TextVariant(empty.Get()));
    } else if (answer == kAnswerYes) {
      // The user agreed to store the changes in the device: a download that does not go through
      // is told here, as at OK and Apply, before the control goes; the changes stay in the data set.
      std::vector<LONG> marked = ChangedEntries();
      marked.insert(marked.end(), m_appliedEntries.begin(), m_appliedEntries.end());
      std::u16string failure;
      const EDownload outcome = DownloadAndWait(&failure);
      if (outcome == EDownload::Failed || outcome == EDownload::Unreached) TellDownloadFailure(outcome, failure, marked);
    }
    m_bDeviceChanged = m_bDtmChanged = 0;
  }
  const LONG accessBefore = GetAccessMode();
  SetAccessMode(kAccessReleasing);
  VARIANT_BOOL done = VARIANT_FALSE;
  HRESULT hr = UninitializeUI(&done);
  if (FAILED(hr) || !done) {
    // Kept open (the user chose to stay): the user interface serves the DTM's commands again.
    SetAccessMode(accessBefore);
    return S_FALSE;
  }
  if (m_bRegistered) {
    hr = UnregisterFromContainer();
    if (FAILED(hr)) {
      if (m_bViaManagement) return S_FALSE;
      return hr;
    }
  }
  m_bStarted = false;
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_IDtmActiveXControlImpl::Close(DWORD option) {
  const HRESULT hr = CovFDT_BaseActiveXImplEx::Close(option);
  if (m_bRegistered) {
    UnregisterFromContainer();
    m_bRegistered = false;  // whatever the DTM answered: the control is gone for the frame
  }
  return hr;
}

LONG CovFDT_IDtmActiveXControlImpl::AskUser(LPCWSTR text, LPCWSTR title, ULONG style) {
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  vkr::ComPtr<IovFdtActiveXContainer> container = Query<IovFdtActiveXContainer>(dtm);
  if (!container) return 0;
  LONG answer = 0;
  const vkr::Bstr bText(text ? text : u""), bTitle(title ? title : u"");
  if (FAILED(container->ShowUserMessage(bTitle.Get(), bText.Get(), vkr::UI4(style), &answer))) return 0;
  return answer;
}

// ---- OK, Apply, Cancel ----------------------------------------------------------------------------

LRESULT CovFDT_IDtmActiveXControlImpl::OnOK(WORD, WORD, HWND, BOOL* handled) {
  if (handled) *handled = TRUE;
  const std::vector<LONG> changed = ChangedEntries();
  m_appliedEntries.clear();
  if (FAILED(ApplyChanges())) return 0;
  const EDownload download = OfferDownload(changed);
  if (download != EDownload::Cancelled && download != EDownload::Failed) PostCloseRequest();
  return 0;
}

LRESULT CovFDT_IDtmActiveXControlImpl::OnApply(WORD, WORD, HWND, BOOL* handled) {
  if (handled) *handled = TRUE;
  const std::vector<LONG> changed = ChangedEntries();
  m_appliedEntries.clear();
  if (SUCCEEDED(ApplyChanges())) OfferDownload(changed);
  return 0;
}

// ---- Download of the changes the data set took ----------------------------------------------------

HRESULT CovFDT_IDtmActiveXControlImpl::ApplyParameterChanges() {
  m_appliedEntries = ChangedEntries();
  return CovFDT_BaseActiveXImplEx::ApplyParameterChanges();
}

std::vector<LONG> CovFDT_IDtmActiveXControlImpl::ChangedEntries() const {
  std::vector<LONG> changed;
  for (ULONG i = 0; m_pParInfo && i < m_nParInfoCount && !m_pParInfo[i].IsEnd(); ++i)
    if (m_pParInfo[i].m_nState & kStateChangedMark) changed.push_back(m_pParInfo[i].m_nParamId);
  return changed;
}

LONG CovFDT_IDtmActiveXControlImpl::AskTransferQuestion(bool upload) {
  vkr::Bstr text, title;
  GetToolkitMessageText(m_spDtmUnknown.Get(), upload ? kTextUploadQuestion : kTextDownloadQuestion, text.Put());
  GetToolkitMessageText(m_spDtmUnknown.Get(), upload ? kTextUploadTitle : kTextDownloadTitle, title.Put());
  return AskUser(text.Get(), title.Get(), kReleaseQuestionStyle);
}

CovFDT_IDtmActiveXControlImpl::EDownload CovFDT_IDtmActiveXControlImpl::OfferDownload(
    const std::vector<LONG>& changed) {
  // Offline, or with changes the device holds already (written by the apply itself), the release
  // asks as before.
  if (m_nDtmState < 9 || !m_bDtmChanged || m_bDeviceChanged) return EDownload::NotOffered;
  EDownload outcome = EDownload::Cancelled;
  std::u16string failure;
  const LONG answer = AskTransferQuestion(false);
  if (answer == kAnswerYes)
    outcome = DownloadAndWait(&failure);
  else if (answer != kAnswerCancel)
    outcome = EDownload::Declined;
  std::vector<LONG> marked = changed;
  marked.insert(marked.end(), m_appliedEntries.begin(), m_appliedEntries.end());
  if (outcome == EDownload::Unreached) TellDownloadFailure(outcome, failure, marked);
  if (outcome == EDownload::Written || outcome == EDownload::Declined || outcome == EDownload::Unreached) {
    m_bDtmChanged = 0;
    return outcome;
  }
  // The device does not hold the changes: the entries say so, and Apply offers them again.
  for (LONG id : marked) {
    const LONG index = FindParameterIndex(id);
    if (index >= 0) SetControlStateById(id, m_pParInfo[index].m_nState | kStateChangedMark);
  }
  EnableApplyButton(TRUE);
  if (outcome == EDownload::Failed) TellDownloadFailure(outcome, failure, marked);
  return outcome;
}

CovFDT_IDtmActiveXControlImpl::EDownload CovFDT_IDtmActiveXControlImpl::DownloadAndWait(std::u16string* failure) {
  // A download that never starts gave no warnings: none of an earlier one is told with it.
  m_download.warnings.clear();
  vkr::ComPtr<IovFdtDtmEvents> events =
      Query<IovFdtDtmEvents>(m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get());
  if (!events) {
    *failure = u"the DTM offers no download";
    return EDownload::Failed;
  }
  m_download = SDownloadWait();
  m_download.waiting = true;
  m_download.failureMark = vkr::ui::DeviceAccessMark();
  struct WaitScope {
    SDownloadWait& wait;
    ~WaitScope() { wait.waiting = false; }
  } scope{m_download};
  // The request carries an id of its own: a download is refused while another one is pending.
  const vkr::Bstr invokeId(u"download " + std::u16string(m_bstrSystemTag.View()));
  const HRESULT sent = events->DtmMessage(vkr::UI4(kMsgDownload), vkr::TextVariant(invokeId.Get()));
  if (sent != S_OK) {
    // Refused: the DTM could not take the device online, or another transfer runs.
    EDtmState state = dsUNDEFINED;
    vkr::ComPtr<IovFdtBaseDTM> base = Query<IovFdtBaseDTM>(m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get());
    const bool online = base && SUCCEEDED(base->GetDTMState(&state)) && static_cast<ULONG>(state) == kDtmOnline;
    *failure =
        online ? u"the DTM did not start it while another transfer runs" : u"the DTM could not go online to the device";
    return online ? EDownload::Failed : EDownload::Unreached;
  }
  // The download runs on the DTM's thread; its calls into this control and the channel's answers
  // come through this thread's messages. The DTM's word on a failed download comes before its end.
  auto over = [this] { return m_download.ended; };
  const DWORD start = GetTickCount();
  while (!over() && GetTickCount() - start < kDownloadWaitMs) {
    MSG msg;
    while (!over() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (!over()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  // What the device took with a warning was written: a success the user hears of with the warning.
  std::u16string texts;
  std::u16string& warnings = m_download.warnings;
  for (const std::u16string& text : m_download.texts) {
    std::u16string& into = vkr::hart::IsWarnedWriteText(text) ? warnings : texts;
    into += (into.empty() ? u"" : u"; ") + text;
  }
  if (m_download.ended && m_download.succeeded) {
    if (!warnings.empty()) TellDownloadWarning(warnings);
    return EDownload::Written;
  }
  *failure = !m_download.ended ? u"it did not end" : texts.empty() ? u"the device did not take the data set" : texts;
  return EDownload::Failed;
}

void CovFDT_IDtmActiveXControlImpl::TellDownloadWarning(const std::u16string& warnings) {
  vkr::Bstr title;
  GetToolkitMessageText(m_spDtmUnknown.Get(), kTextDownloadTitle, title.Put());
  const std::u16string text = DownloadWords(u"The download went through: " + warnings + u".");
  AskUser(vkr::Bstr(text).Get(), title.Get(), kWarnStyle);
}

void CovFDT_IDtmActiveXControlImpl::TellDownloadFailure(EDownload, const std::u16string& failure,
                                                        const std::vector<LONG>&) {
  std::u16string text = u"The download did not go through: " + failure;
  if (!text.ends_with(u'.')) text += u'.';
  text += u" The changes stay in the data set.";
  // What the device took before the download stopped, with a warning: told as well.
  if (!DownloadWarnings().empty()) text += u" " + DownloadWarnings() + u".";
  TellDownloadWords(text);
}

void CovFDT_IDtmActiveXControlImpl::TellDownloadWords(const std::u16string& text) {
  vkr::Bstr title;
  GetToolkitMessageText(m_spDtmUnknown.Get(), kTextDownloadTitle, title.Put());
  AskUser(vkr::Bstr(DownloadWords(text)).Get(), title.Get(), kTellStyle);
}

HRESULT CovFDT_IDtmActiveXControlImpl::ExecuteCommand(VARIANT command, VARIANT argument) {
  ULONG id = 0;
  if (m_download.waiting && SUCCEEDED(ReadCommandId(command, &id)) && id == kCmdDownloadDone &&
      argument.vt == VT_BOOL) {
    m_download.ended = true;
    m_download.succeeded = argument.boolVal != VARIANT_FALSE;
  }
  return CovFDT_BaseActiveXImplEx::ExecuteCommand(command, argument);
}

HRESULT CovFDT_IDtmActiveXControlImpl::ReportErrorText(LPCWSTR text) {
  if (m_download.waiting && text && *text) {
    const std::u16string said(text);
    if (std::find(m_download.texts.begin(), m_download.texts.end(), said) == m_download.texts.end())
      m_download.texts.push_back(said);
  }
  return CovFDT_BaseActiveXImplEx::ReportErrorText(text);
}

LRESULT CovFDT_IDtmActiveXControlImpl::OnCancel(WORD, WORD, HWND, BOOL* handled) {
  if (handled) *handled = TRUE;
  PostCloseRequest();
  return 0;
}

BOOL CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                         LRESULT* result) {
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    const WORD id = LOWORD(wParam);
    HWND control = reinterpret_cast<HWND>(lParam);
    BOOL handled = FALSE;
    LRESULT answer = 0;
    const bool apply = m_nApplyButtonId != 0 && id == m_nApplyButtonId;
    if (m_bApplying && (id == IDOK || id == IDCANCEL || apply)) {
      // A write of OK or Apply waits for the device: one click writes once, and the control is
      // not closed under it.
      if (result) *result = 0;
      return TRUE;
    }
    if (id == IDOK || apply) {
      m_bApplying = true;
      answer = id == IDOK ? OnOK(BN_CLICKED, id, control, &handled) : OnApply(BN_CLICKED, id, control, &handled);
      m_bApplying = false;
    } else if (id == IDCANCEL) {
      answer = OnCancel(BN_CLICKED, id, control, &handled);
    }
    if (handled) {
      if (result) *result = answer;
      return TRUE;
    }
  }
  return CovFDT_BaseActiveXImplEx::ProcessWindowMessage(window, message, wParam, lParam, result);
}

// ---- The extended controls ------------------------------------------------------------------------

CovFDT_IDtmActiveXImplEx::CovFDT_IDtmActiveXImplEx(const CLSID& clsid, ParameterMapFunction parameterMap,
                                                   const SCompositeControlClass& cls)
    : CovFDT_IDtmActiveXControlImpl(clsid, parameterMap, cls) {}

CovFDT_IDtmActiveXImplEx::~CovFDT_IDtmActiveXImplEx() = default;

// The base serves both for the control family: the status notifications ride on the family.
HRESULT CovFDT_IDtmActiveXImplEx::OnNotifyAllEvent(VARIANT language) {
  return CovFDT_BaseActiveXImpl::OnNotifyAllEvent(language);
}

HRESULT CovFDT_IDtmActiveXImplEx::OnDtmStateChanged(ULONG state) { return CovFDT_BaseActiveXImpl::OnDtmStateChanged(state); }
