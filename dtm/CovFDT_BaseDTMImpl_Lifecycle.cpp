// The FDT calls that take the DTM through its life (environment, device type, user level,
// communication, language, release), going online on demand, and the data-set lock of the frame.
//
// Every wait here serves the thread's messages (WaitWithMessageLoop): calls of the DTM thread and of
// workers arrive on this thread meanwhile and may change the state, so the state is read again
// after each wait.
#include <string>

#include "include/CommunicationInterfaces.h"
#include "dtm/CovFDT_BaseDTMImpl.h"
#include "include/DtmMessages.h"
#include "include/TranslationInterfaces.h"
#include "include/ParameterHandlerInterfaces.h"
#include "xml/Log.h"
#include "xml/WaitWithMessageLoop.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::EmptyVariant;
using vkr::I4;
using vkr::UI4;



constexpr ULONG kTextForcedShutdown = 6001;
constexpr ULONG kTextReleaseDtm = 6002;
constexpr ULONG kTextUnlockFailed = 1011;

// Message-box style and answers of the user messages.
constexpr ULONG kStyleYesNoQuestion = 0x24;
constexpr LONG kAnswerYes = 6;
constexpr LONG kAnswerNo = 7;

// Closing user interfaces: polls of this length, at most this many.
constexpr DWORD kClosePollMs = 100;
constexpr int kClosePolls = 300;
// How long the release waits for the notifications on their way to be delivered.
constexpr DWORD kWorkersEndMs = 10000;

// The verification values the DTM relies on.
constexpr ULONG kVerificationFailed = 1;
constexpr ULONG kVerificationNothingToWaitFor = 2;

constexpr LONG kParameterSystemGuiLabel = 2;


// Handles are 32-bit ids of the platform's table; they travel in a VT_UI4.
ULONG HandleId(HANDLE h) { return static_cast<ULONG>(reinterpret_cast<uintptr_t>(h)); }

// The node the path selects in the document, or null.
vkr::ComPtr<IXMLDOMNode> SelectNode(IXMLDOMDocument2* document, LPCOLESTR path) {
  vkr::ComPtr<IXMLDOMNode> node;
  vkr::Bstr query(path);
  if (FAILED(document->selectSingleNode(query, node.Put()))) return nullptr;
  return node;
}

// The integer at the path, -1 when there is no such node or it is no number.
LONG ReadVersionNumber(IXMLDOMDocument2* document, LPCOLESTR path) {
  vkr::ComPtr<IXMLDOMNode> root;
  if (FAILED(document->QueryInterface(IID_IXMLDOMNode, root.PutVoid())) || !root) return -1;
  LONG value = -1;
  vkr::Bstr query(path);
  if (FAILED(GetXmlValueI4(&value, root.Get(), query))) return -1;
  return value;
}

}  // namespace

HRESULT CovFDT_BaseDTMCore::GetRunningFunctionCount(ULONG* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::InitializeDtmSchemaCache(BSTR) { return E_NOTIMPL; }

HRESULT CovFDT_BaseDTMCore::LoadDtmDocument(BSTR, IXMLDOMDocument2** document, VARIANT_BOOL* loaded) {
  if (loaded) *loaded = VARIANT_FALSE;
  if (document) *document = nullptr;
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseDTMCore::RunJobAndWait(ULONG job, DWORD timeout) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) return E_OUTOFMEMORY;
  const HRESULT hr = ExecuteJob(job, UI4(HandleId(event)));
  if (SUCCEEDED(hr)) WaitWithMessageLoop(event, timeout);
  CloseHandle(event);
  return hr;
}

// ---- Environment -------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::Environment(BSTR systemTag, IFdtContainer* container, VARIANT_BOOL* result) {
  LogEntry("Environment");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!systemTag || !container) return E_INVALIDARG;
  if (FAILED(EnvPart1(systemTag, container))) return S_FALSE;
  if (FAILED(EnvPart2(container))) return S_FALSE;
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::EnvPart1(BSTR systemTag, IFdtContainer* container) {
  LogEntry("EnvPart1");
  if (!IsCallAdmitted(DtmCall::Environment, m_eDtmState, m_bFdt121Frame)) return E_FAIL;
  if (!container) return E_INVALIDARG;
  vkr::Bstr tag(vkr::View(systemTag));
  if (VarBstrCmp(tag.Get(), systemTag, LOCALE_USER_DEFAULT, 0) != VARCMP_EQ) return E_OUTOFMEMORY;
  m_bstrSystemTag = std::move(tag);
  WriteLogA("CovFDT_BaseDTMImpl::EnvPart1() system tag stored");

  vkr::ComPtr<IDtmEvents> events;
  if (FAILED(container->QueryInterface(IDtmEvents::iid, events.PutVoid())) || !events) return E_NOINTERFACE;
  m_pContainer = container;
  m_pDtmEvents = events;
  WriteLogA("CovFDT_BaseDTMImpl::EnvPart1() container kept");

  vkr::Bstr path;
  HRESULT hr = container->GetXmlSchemaPath(path.Put());
  if (FAILED(hr)) return hr;
  hr = InitializeDtmSchemaCache(path);
  if (FAILED(hr)) {
    OnError("InitializeSchemaCache returned 0x%X, maybe there is a problem with MSXML.", static_cast<unsigned>(hr));
    return hr;
  }
  m_schemaDirectory.assign(path.View());
  WriteLogA("CovFDT_BaseDTMImpl::EnvPart1() schema cache initialised");
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::EnvPart2(IFdtContainer* container) {
  LogEntry("EnvPart2");
  const bool loaded = m_eDtmState == dsLOADED;
  if (loaded) {
    const HRESULT hr = InitializeDeviceType(true);
    if (FAILED(hr)) {
      OnError("Could not initialize according to device type: 0x%08X!", static_cast<unsigned>(hr));
      m_pContainer = nullptr;
      m_pDtmEvents = nullptr;
      return hr;
    }
  }
  // The thread gets ready meanwhile; the first use of it waits for that.
  BeginDtmThread(container);
  SetDTMState(loaded ? dsINITIALIZED : dsENVIRONMENTSET);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::Environment2(BSTR systemTag, IFdtContainer* container, BSTR frameVersion,
                                         VARIANT_BOOL* result) {
  LogEntry("Environment2");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!systemTag || !container || !frameVersion) return E_INVALIDARG;
  if (FAILED(EnvPart1(systemTag, container))) return S_FALSE;
  if (SysStringLen(systemTag) == 0 || SysStringLen(frameVersion) == 0) return S_FALSE;

  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  if (FAILED(LoadDtmDocument(frameVersion, document.Put(), &parsed)) || !parsed || !document) return S_FALSE;
  const LONG major = ReadVersionNumber(document.Get(), u"FDT/FrameVersion/fdtvers:FDTVersion/@major");
  const LONG minor = ReadVersionNumber(document.Get(), u"FDT/FrameVersion/fdtvers:FDTVersion/@minor");
  const LONG release = ReadVersionNumber(document.Get(), u"FDT/FrameVersion/fdtvers:FDTVersion/@release");
  if (major != 1 || minor != 2) return S_FALSE;
  if (release == 1)
    m_bFdt121Frame = true;
  else if (release == 0)
    m_bFdt121Frame = false;
  else
    return S_FALSE;
  m_bExtendedBusInformation = m_bFdt121Frame;

  if (FAILED(EnvPart2(container))) return S_FALSE;
  if (m_bFdt121Frame) {
    vkr::ComPtr<IFrameDtmStateEvents> events;
    container->QueryInterface(IFrameDtmStateEvents::iid, events.PutVoid());
    m_pFdt121Events = events;  // without it the frame hears of online changes the FDT 1.2 way
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

// ---- Device type, user level -------------------------------------------------------------

namespace {

// Whether an element at or below node lies in no namespace. Such an element would fall into the
// default namespace of the document the device type's text is later pasted into, and make that
// document invalid.
bool HasElementWithoutNamespace(IXMLDOMNode* node) {
  DOMNodeType type = NODE_INVALID;
  if (FAILED(node->get_nodeType(&type)) || type != NODE_ELEMENT) return false;
  vkr::Bstr uri;
  if (FAILED(node->get_namespaceURI(uri.Put())) || uri.Empty()) return true;
  vkr::ComPtr<IXMLDOMNode> child;
  node->get_firstChild(child.Put());
  while (child) {
    if (HasElementWithoutNamespace(child.Get())) return true;
    vkr::ComPtr<IXMLDOMNode> next;
    child->get_nextSibling(next.Put());
    child = next;
  }
  return false;
}

}  // namespace

HRESULT CovFDT_BaseDTMCore::InitNew(BSTR deviceType, VARIANT_BOOL* result) {
  LogEntry("InitNew");
  HRESULT hr = Admit(DtmCall::InitNew, result, E_POINTER);
  if (hr != S_OK) return hr;
  if (!deviceType) return S_FALSE;

  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  if (FAILED(LoadDtmDocument(deviceType, document.Put(), &parsed)) || !parsed || !document) return S_FALSE;
  vkr::ComPtr<IXMLDOMNode> node = SelectNode(document.Get(), u"FDT/fdt:DtmDeviceType");
  if (!node || HasElementWithoutNamespace(node.Get())) return S_FALSE;
  vkr::Bstr xml;
  vkr::Bstr self(u".");
  if (FAILED(SelectNodeXml(node.Get(), self, xml.Put()))) return S_FALSE;
  m_bstrDeviceType = std::move(xml);

  if (m_bstrDeviceType.Empty() || !CheckDeviceType(node.Get())) return S_FALSE;  // the text stays stored
  hr = InitializeDeviceType(false);
  if (FAILED(hr)) {
    m_bstrDeviceType.Reset();
    return S_FALSE;
  }
  SetDTMState(dsINITIALIZED);
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::Config(BSTR userInformation, VARIANT_BOOL* result) {
  LogEntry("Config");
  HRESULT hr = Admit(DtmCall::Config, result, E_INVALIDARG);
  if (hr != S_OK) return hr;
  if (!userInformation) return S_FALSE;

  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  if (FAILED(LoadDtmDocument(userInformation, document.Put(), &parsed)) || !parsed || !document) return S_FALSE;
  vkr::ComPtr<IXMLDOMNode> root;
  if (FAILED(document->QueryInterface(IID_IXMLDOMNode, root.PutVoid())) || !root) return S_FALSE;
  vkr::Variant level;
  vkr::Bstr path(u"*/FDTUserInformation/@userLevel");
  if (FAILED(GetXmlValue(root.Get(), path, &level, VT_BSTR))) return S_FALSE;
  if (FAILED(CheckUserLevel(level))) return S_FALSE;

  SetDTMState(dsCONFIGURED);

  // The relations are rebuilt inside one delayed save, so that their changes ask for one save.
  DelaySaveRequest(TRUE);
  hr = RebuildAllRelations();
  DelaySaveRequest(FALSE);
  if (FAILED(hr)) return hr;

  // Every parameter is validated once: the status word keeps bit 4 exactly when the value is
  // out of its definition.
  ULONG count = 0;
  hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    hr = GetParInfoAt(static_cast<LONG>(i), &record);
    if (FAILED(hr)) return hr;
    ULONG flags = 0;
    hr = ValidateParameter(UI4(record.m_nId), record.m_vValue, &flags);
    if (FAILED(hr)) return hr;
    const ULONG status = (flags & 4) ? (record.m_dwFlags | 4) : (record.m_dwFlags & ~ULONG{4});
    if (status != record.m_dwFlags) {
      hr = SetParameterStatus(record.m_nId, status);
      if (FAILED(hr)) return hr;
    }
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

// ---- Communication -----------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::SetCommunication(IFdtCommunication* communication, VARIANT_BOOL* result) {
  LogEntry("SetCommunication");
  const HRESULT hr = Admit(DtmCall::SetCommunication, result, E_INVALIDARG);
  if (hr != S_OK) return hr;
  if (!communication) return S_FALSE;
  vkr::ComPtr<IovFdtCommunicationClient4> client = QueryDtm<IovFdtCommunicationClient4>();
  if (client && FAILED(client->SetCommunication(communication))) return S_FALSE;
  SetDTMState(dsCOMMUNICATIONSET);
  // This DTM goes online on demand; the framework's default goes online at once.
  if (!client || m_bGoOnlineOnSetCommunication) RunJobAndWait(kJobGoOnline, m_dwOnlineTimeout);
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::PrepareToReleaseCommunication(VARIANT_BOOL* result) {
  LogEntry("PrepareToReleaseCommunication");
  const HRESULT hr = Admit(DtmCall::PrepareToReleaseCommunication, result, E_INVALIDARG);
  if (hr != S_OK) return hr;
  WaitWithMessageLoop(m_hStateSettled, m_dwOnlineTimeout);
  if (!CheckGoOffline()) return S_FALSE;
  if (m_eDtmState == dsONLINE && FAILED(ExecuteJob(kJobGoOffline, EmptyVariant()))) return S_FALSE;
  ExecuteJob(kJobReleaseCommunication, EmptyVariant());
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::ReleaseCommunication(VARIANT_BOOL* result) {
  LogEntry("ReleaseCommunication");
  const HRESULT hr = Admit(DtmCall::ReleaseCommunication, result, E_POINTER);
  if (hr != S_OK) return hr;
  *result = VARIANT_TRUE;
  if (vkr::ComPtr<IovFdtCommunicationClient4> client = QueryDtm<IovFdtCommunicationClient4>())
    client->SetCommunication(nullptr);
  SetDTMState(dsCONFIGURED);
  return S_OK;
}

// ---- Release -----------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::PrepareToDelete(VARIANT_BOOL* result) {
  LogEntry("PrepareToDelete");
  HRESULT hr = Admit(DtmCall::PrepareToDelete, result, E_POINTER);
  if (hr != S_OK) return hr;
  ULONG running = 0;
  hr = GetRunningFunctionCount(&running);
  if (FAILED(hr)) return hr;
  if (running != 0) return S_FALSE;
  SetDTMState(dsPREPAREDTODELETE);
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::PrepareToRelease(VARIANT_BOOL* result) {
  LogEntry("PrepareToRelease");
  HRESULT hr = Admit(DtmCall::PrepareToRelease, result, E_INVALIDARG);
  if (hr != S_OK) return hr;
  ULONG running = 0;
  if (FAILED(GetRunningFunctionCount(&running))) return S_FALSE;
  if (running != 0) {
    vkr::ComPtr<IovFdtActiveXContainer> functions = QueryDtm<IovFdtActiveXContainer>();
    if (!functions) return S_FALSE;
    vkr::Bstr text, title;
    TranslateBaseDtmMessage(kTextForcedShutdown, text.Put());
    TranslateBaseDtmMessage(kTextReleaseDtm, title.Put());
    LONG answer = kAnswerYes;
    if (FAILED(functions->ShowUserMessage(title, text, UI4(kStyleYesNoQuestion), &answer)) || answer == kAnswerNo)
      return S_FALSE;
    VARIANT_BOOL closed = VARIANT_FALSE;
    if (FAILED(functions->CloseAllUserInterfaces(VARIANT_FALSE, &closed)) || !closed) return S_FALSE;
    // A pause that lets the closing user interfaces finish: an event nobody signals.
    HANDLE pause = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!pause) return S_FALSE;
    for (int i = 0; i < kClosePolls && running != 0; ++i) {
      WaitWithMessageLoop(pause, kClosePollMs);
      if (FAILED(GetRunningFunctionCount(&running))) running = 1;
    }
    CloseHandle(pause);
    if (running != 0) return S_FALSE;
  }
  if (m_eDtmState != dsENVIRONMENTSET && FAILED(UnInitializeDeviceType())) return S_FALSE;
  m_bReleasing = true;
  if (vkr::ComPtr<IovFdtCommunicationClient4> client = QueryDtm<IovFdtCommunicationClient4>())
    client->SetCommunication(nullptr);
  ExecuteJob(kJobPreparedToRelease, EmptyVariant());
  SetDTMState(dsPREPAREDTORELEASE);
  ExecuteMarshalledJob(kJobSetFrame, nullptr);
  StopDtmThread();
  // The notifications still on their way hold the DTM: once they are delivered, the frame's
  // release is the DTM's last.
  AwaitWorkerThreads(kWorkersEndMs);
  *result = VARIANT_TRUE;
  return S_OK;
}

// ---- Language, private dialogs, GUI label ------------------------------------------------

HRESULT CovFDT_BaseDTMCore::SetLanguage(LCID language, VARIANT_BOOL* result) {
  LogEntry("SetLanguage");
  HRESULT hr = Admit(DtmCall::SetLanguage, result, E_POINTER);
  if (hr != S_OK) return hr;
  if (language == m_lcid) {
    *result = VARIANT_TRUE;
    return S_OK;
  }
  bool fellBack = false;
  if (vkr::ComPtr<IovFdtDtmTranslation> translation = QueryDtm<IovFdtDtmTranslation>()) {
    VARIANT_BOOL done = VARIANT_FALSE;
    hr = translation->SetDtmLanguage(language, &done);
    if (FAILED(hr) || !done) {
      done = VARIANT_FALSE;
      hr = translation->SetDtmLanguage(kDefaultLanguage, &done);
      if (FAILED(hr)) return hr;
      if (!done) return S_FALSE;
      language = kDefaultLanguage;
      fellBack = true;
    }
  } else if (language != kDefaultLanguage) {
    return S_FALSE;
  }
  m_lcid = language;
  if (vkr::ComPtr<IovFdtTranslationEvent> retranslate = QueryDtm<IovFdtTranslationEvent>())
    retranslate->OnTranslate(language);
  Broadcast(UI4(kBroadcastLanguage), UI4(language));
  if (m_eDtmState != dsENVIRONMENTSET) {
    vkr::Bstr tag;
    if (SUCCEEDED(GetSystemTag(tag.Put()))) ExecuteJob(kJobFunctionsChanged, EmptyVariant());
  }
  *result = fellBack ? VARIANT_FALSE : VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::PrivateDialogEnabled(VARIANT_BOOL enabled, VARIANT_BOOL* result) {
  LogEntry("PrivateDialogEnabled");
  const HRESULT hr = Admit(DtmCall::PrivateDialogEnabled, result, E_INVALIDARG);
  if (hr != S_OK) return hr;
  m_bPrivateDialog = enabled != VARIANT_FALSE;
  // The user interfaces take this command only as a VT_BOOL.
  VARIANT flag;
  VariantInit(&flag);
  flag.vt = VT_BOOL;
  flag.boolVal = m_bPrivateDialog ? VARIANT_TRUE : VARIANT_FALSE;
  Broadcast(I4(kBroadcastPrivateDialog), flag);
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SetSystemGuiLabel(BSTR label, VARIANT_BOOL* result) {
  LogEntry("SetSystemGuiLabel");
  if (!result) return E_INVALIDARG;
  *result = VARIANT_FALSE;
  if (!label) return E_INVALIDARG;
  vkr::ComPtr<IovFdtParameterHandler4> handler = QueryDtm<IovFdtParameterHandler4>();
  if (!handler) return S_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  if (FAILED(LoadDtmDocument(label, document.Put(), &parsed)) || !parsed || !document) return S_FALSE;
  vkr::ComPtr<IXMLDOMNode> root;
  if (FAILED(document->QueryInterface(IID_IXMLDOMNode, root.PutVoid())) || !root) return S_FALSE;
  vkr::Bstr text;
  bool found = false;
  vkr::Bstr path(u"//SystemGuiLabel/@fdt:systemGuiLabel");
  if (FAILED(GetXmlString(text.Put(), &found, root.Get(), path))) return S_FALSE;
  if (found) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = text.Get();
    if (handler->SetParameterValue(I4(kParameterSystemGuiLabel), value) != S_OK) return S_FALSE;
  }
  *result = VARIANT_TRUE;
  return S_OK;
}

// ---- Going online ------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::TryToGoOnlineAndVerifyDevice(DWORD onlineTimeout, DWORD verificationTimeout,
                                                         VARIANT_BOOL* verified) {
  LogEntry("TryToGoOnlineAndVerifyDevice");
  if (!verified) return E_POINTER;
  *verified = VARIANT_TRUE;
  if (!IsCallAdmitted(DtmCall::TryToGoOnlineAndVerifyDevice, m_eDtmState, m_bFdt121Frame)) {
    if (IsLogEnabled())
      WriteLogA((std::string("(dsONLINE == m_eDtmState) || (dsGOINGONLINE == m_eDtmState) || "
                             "(dsCOMMUNICATIONSET == m_eDtmState), m_eDtmState = ") +
                 std::to_string(static_cast<int>(m_eDtmState)))
                    .c_str());
    return E_FAIL;
  }
  vkr::ComPtr<IovFdtDeviceVerification> verification = QueryDtm<IovFdtDeviceVerification>();
  if (m_eDtmState == dsCOMMUNICATIONSET) {
    ResetEvent(m_hStateSettled);
    ResetEvent(m_hVerificationDone);
    if (FAILED(RunJobAndWait(kJobGoOnline, m_dwOnlineTimeout))) {
      // Still in state 9: the settled event must be signalled again, or the next wait for it
      // would run its full time.
      if (m_eDtmState == dsCOMMUNICATIONSET || m_eDtmState == dsONLINE) SetEvent(m_hStateSettled);
      *verified = VARIANT_FALSE;
      return S_FALSE;
    }
  }
  WaitWithMessageLoop(m_hStateSettled, onlineTimeout);
  if (verification) {
    auto value = [&]() -> ULONG {
      vkr::Variant v;
      VARIANT_BOOL done = VARIANT_FALSE;
      if (FAILED(verification->GetDeviceVerificationStatus(&v, &done)) || v.vt != VT_UI4) return 0;
      return v.ulVal;
    };
    // Nobody verifies a device the DTM is not connected to: then there is nothing to wait for.
    if (value() != kVerificationNothingToWaitFor && m_eDtmState == dsONLINE)
      WaitWithMessageLoop(m_hVerificationDone, verificationTimeout);
    if (value() == kVerificationFailed) *verified = VARIANT_FALSE;
  }
  // A device the DTM is not connected to (going online failed, or it is gone again) has not
  // been verified, whatever an earlier verification found.
  if (m_eDtmState != dsONLINE) *verified = VARIANT_FALSE;
  return S_OK;
}

bool CovFDT_BaseDTMCore::CheckGoOffline() {
  LogEntry("CheckGoOffline");
  // A channel DTM would ask its channels; this DTM offers no channel interface.
  static constexpr IID kFdtChannel = vkr::MakeGuid("036D1489-387B-11D4-86E1-00E0987270B9");
  vkr::ComPtr<IUnknown> channel;
  GetDtmUnknown()->QueryInterface(kFdtChannel, channel.PutVoid());
  return true;
}

HRESULT CovFDT_BaseDTMCore::InitializeChannels() {
  LogEntry("InitializeChannels");
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::UnInitializeChannels() {
  LogEntry("UnInitializeChannels");
  return S_OK;
}

// ---- Data-set lock -----------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::LockDataset(bool counted) {
  if (!m_pContainer) return E_POINTER;
  LogEntry("LockDataset");
  if (counted) ++m_nLockCount;
  m_bUnlockPending = false;
  if (!m_bDataSetLocked && !m_bFrameReportedLock) {
    vkr::ComPtr<IFdtContainer> container = m_pContainer;
    VARIANT_BOOL granted = VARIANT_FALSE;
    container->LockDataSet(m_bstrSystemTag, &granted);
    m_bDataSetLocked = granted != VARIANT_FALSE;
  }
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::UnlockDataset() {
  if (m_nLockCount == 0) return E_UNEXPECTED;
  LogEntry("UnlockDataset");
  --m_nLockCount;
  m_bUnlockPending = m_nLockCount == 0 && m_bDataSetLocked;
  return UnlockDatasetWhenSaved();
}

HRESULT CovFDT_BaseDTMCore::UnlockDatasetWhenSaved() {
  if (!m_pContainer) return E_POINTER;
  LogEntry("UnlockDatasetWhenSaved");
  if (!m_bUnlockPending) return S_OK;
  ULONG storage = 1;  // unknown counts as not saved
  if (FAILED(GetStorageStateValue(&storage))) storage = 1;
  if (m_nLockCount != 0 || storage != 0) return S_OK;
  m_bDataSetLocked = false;
  m_bUnlockPending = false;
  vkr::ComPtr<IFdtContainer> container = m_pContainer;
  VARIANT_BOOL done = VARIANT_FALSE;
  container->UnlockDataSet(m_bstrSystemTag, &done);
  if (done) return S_OK;
  vkr::Bstr text;
  TranslateBaseDtmMessage(kTextUnlockFailed, text.Put());
  if (text.Empty()) text = vkr::Bstr(u"UnlockDataSet failed. Please clean up database.");
  vkr::ComPtr<IDtmEvents> events;
  if (SUCCEEDED(container->QueryInterface(IDtmEvents::iid, events.PutVoid())) && events)
    events->OnErrorMessage(m_bstrSystemTag, text);
  return E_FAIL;
}
