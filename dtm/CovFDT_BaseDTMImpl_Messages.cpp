// The DTM messages of the user interfaces, the broadcasts back to them, the progress and
// online-state reports to the frame, the toolkit's message texts and the user-level check.
#include <new>
#include <string>

#include "include/CommunicationInterfaces.h"
#include "dtm/CovFDT_BaseDTMImpl.h"
#include "include/DtmMessages.h"
#include "include/TranslationInterfaces.h"
#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/WaitWithMessageLoop.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::UI4;



constexpr USHORT kModeMayDrop = 0xFFFF;
constexpr DWORD kStateNotifyTimeout = 10000;

constexpr LONG kParameterTag = 1;


// The toolkit's built-in message texts.
struct DefaultText {
  ULONG id;
  const char16_t* text;
};
constexpr DefaultText kDefaultTexts[] = {
    {1009, u"UploadRequest failed, because DTM is not online!"},
    {1010, u"DownloadRequest failed, because DTM is not online!"},
    {1011, u"UnlockDataSet failed. Please clean up the database!"},
    {2001, u"An error occurred during IDtmParameter::SetParameters"},
    {2002, u"There are invalid parameters in the data set"},
    {2003, u"Error occured during lock of DTM data set"},
    {2004, u"Unable to unlock DTM data set"},
    {3001, u"There are active connections to the DTM.\nShall they be terminated now?"},
    {3002, u"DTM Warning"},
    {6001, u"DTM is forced to shutdown. There are ActiveX open. Discard all changes?"},
    {6002, u"Release DTM"},
};

// The name of an online state in the state documents; null outside 9 to 12.
const char16_t* OnlineStateName(EDtmState state) {
  switch (state) {
    case dsCOMMUNICATIONSET: return u"communicationSet";
    case dsGOINGONLINE: return u"goingOnline";
    case dsGOINGOFFLINE: return u"goingOffline";
    case dsONLINE: return u"online";
    default: return nullptr;
  }
}

// The text as it stands inside a double-quoted attribute.
std::u16string Escaped(BSTR text) {
  vkr::Bstr escaped;
  if (FAILED(XmlEscapeText(text, escaped.Put()))) return std::u16string();
  return escaped.Str();
}

// A message argument as text: VariantToBstr's result.
HRESULT ArgumentText(const VARIANT& argument, vkr::Bstr* text) { return VariantToBstr(&argument, text->Put()); }

}  // namespace

// ---- Broadcasts and the small messages ---------------------------------------------------

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgAxInitialized(VARIANT argument) {
  LogEntry("HandleDtmMsgAxInitialized");
  VARIANT state;
  VariantInit(&state);
  state.vt = VT_UI2;
  state.uiVal = static_cast<USHORT>(GetDataSetState());
  Broadcast(UI4(kBroadcastDataSetState), state);
  return HandleDtmMsgAxReleasedOrUpdateRateChanged(argument, kMsgAxInitialized);
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgLockDTM(VARIANT) {
  LogEntry("HandleDtmMsgLockDTM");
  if (m_bDataSetLocked) return S_OK;
  VARIANT unlocked;
  VariantInit(&unlocked);
  unlocked.vt = VT_BOOL;
  unlocked.boolVal = VARIANT_FALSE;
  Broadcast(UI4(kBroadcastLockState), unlocked);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgErrorMessage(VARIANT argument) {
  LogEntry("HandleDtmMsgErrorMessage");
  vkr::Bstr text;
  const HRESULT hr = ArgumentText(argument, &text);
  if (FAILED(hr)) return hr;
  // The text is data: a '%' in it is printed, never read as a format.
  OnError("%s", vkr::Utf16ToUtf8(text.View()).c_str());
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgApplicationClosed(VARIANT argument) {
  LogEntry("HandleDtmMsgApplicationClosed");
  vkr::Bstr text;
  const HRESULT hr = ArgumentText(argument, &text);
  if (FAILED(hr)) return hr;
  ExecuteJob(kJobApplicationClosed, argument);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgChannelFunctionChanged(VARIANT argument) {
  LogEntry("HandleDtmMsgChannelFunctionChanged");
  vkr::Bstr text;
  const HRESULT hr = ArgumentText(argument, &text);
  if (FAILED(hr)) return hr;
  ExecuteJob(kJobChannelFunctionChanged, argument);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgUpload(VARIANT argument) {
  LogEntry("HandleDtmMsgUpload");
  vkr::Bstr invokeId;
  HRESULT hr = ArgumentText(argument, &invokeId);
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IDtmOnlineParameter> online = QueryDtm<IDtmOnlineParameter>();
  if (!online) return E_NOINTERFACE;
  vkr::Bstr path(u"/FDT");
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = online->UploadRequest(invokeId, path, &done);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgDownload(VARIANT argument) {
  LogEntry("HandleDtmMsgDownload");
  vkr::Bstr invokeId;
  HRESULT hr = ArgumentText(argument, &invokeId);
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IDtmOnlineParameter> online = QueryDtm<IDtmOnlineParameter>();
  if (!online) return E_NOINTERFACE;
  vkr::Bstr path(u"/FDT");
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = online->DownloadRequest(invokeId, path, &done);
  // A request the DTM refused (another transfer pending, the device not verified) starts nothing:
  // the sender, who may wait for its end, hears so.
  return FAILED(hr) ? hr : done ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgSwitchAuditTrail(VARIANT argument) {
  LogEntry("HandleDtmMsgSwitchAuditTrail");
  bool on = false;
  const HRESULT hr = VariantToBool(argument, &on);
  if (FAILED(hr)) return hr;
  // This DTM keeps no audit trail: nobody to switch.
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::HandleSetDelaySaveRequest(VARIANT argument) {
  LogEntry("HandleSetDelaySaveRequest");
  bool begin = false;
  if (FAILED(VariantToBool(argument, &begin))) return E_FAIL;
  return DelaySaveRequest(begin ? TRUE : FALSE);
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgSubscription(ULONG id, VARIANT argument) {
  LogEntry("HandleDtmMsgSubscription");
  vkr::ComPtr<IovFdtSubscriptions> subscriptions = QueryDtm<IovFdtSubscriptions>();
  if (!subscriptions) return E_NOINTERFACE;
  vkr::Variant address;
  HRESULT hr = GetParameterAddress(argument, &address);
  if (FAILED(hr)) return hr;
  vkr::Bstr text;
  hr = VariantToBstr(&address, text.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = ::LoadXmlFromString(text, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!loaded) return E_FAIL;
  if (!document) return E_POINTER;
  vkr::ComPtr<IXMLDOMNodeList> protocols;
  vkr::Bstr path(u"AddressInformation/Protocol");
  if (FAILED(document->selectNodes(path, protocols.Put())) || !protocols) return E_POINTER;
  LONG count = 0;
  protocols->get_length(&count);
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (FAILED(protocols->get_item(i, node.Put())) || !node) continue;
    vkr::Bstr protocolId;
    vkr::Bstr idPath(u"@id");
    hr = GetXmlValueBstr(protocolId.Put(), node.Get(), idPath);
    if (FAILED(hr)) return hr;
    const HRESULT call = id == 10008 ? subscriptions->Subscribe(protocolId, argument)
                                     : subscriptions->Unsubscribe(protocolId, argument);
    if (SUCCEEDED(call)) return S_OK;
  }
  return E_FAIL;
}

// ---- Progress ----------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgProgress(VARIANT argument) {
  LogEntry("HandleDtmMsgProgress");
  if (argument.vt != (VT_ARRAY | VT_VARIANT)) return E_FAIL;
  SProgressEvent event;
  if (!event.Unpack(argument)) return E_FAIL;
  const HRESULT hr = SendProgress(event.bstrText, static_cast<USHORT>(event.nPercent),
                                  event.bFlag ? kModeMayDrop : USHORT{0});
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CovFDT_BaseDTMCore::HandleDtmMsgProgressMessage(VARIANT argument) {
  LogEntry("HandleDtmMsgProgressMessage");
  if (argument.vt != (VT_ARRAY | VT_VARIANT) || !argument.parray) return E_UNEXPECTED;
  vkr::Variant element[3];
  const VARTYPE expected[3] = {VT_I2, VT_BSTR, VT_BOOL};
  for (LONG i = 0; i < 3; ++i) {
    const HRESULT hr = SafeArrayGetElement(argument.parray, &i, &element[i]);
    if (FAILED(hr)) return hr;
    if (element[i].vt != expected[i]) return E_UNEXPECTED;
  }
  SendProgress(element[1].bstrVal, static_cast<USHORT>(element[0].iVal), static_cast<USHORT>(element[2].boolVal));
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SendProgress(BSTR text, USHORT percent, USHORT mode) {
  LogEntry("SendProgress");
  if (!m_pDtmEvents) return E_FAIL;
  if (mode != 0 && WaitForSingleObject(m_hProgressDone, 0) != WAIT_OBJECT_0) return S_OK;  // one is on its way
  WaitWithMessageLoop(m_hProgressDone, INFINITE);
  ResetEvent(m_hProgressDone);
  auto* worker = new (std::nothrow) CProgressMessageWorker(text, percent, mode, m_hProgressDone);
  if (!worker) {
    SetEvent(m_hProgressDone);
    return E_OUTOFMEMORY;
  }
  // The worker signals the event whatever happens to it, also when it cannot start.
  return ExecuteWorkerThread(worker);
}

HRESULT CovFDT_BaseDTMCore::UpdateProgress(ULONG done, ULONG total, BSTR text) {
  if (done == 0) return SendProgress(text, 0, 0);
  if (total == 0) return S_OK;  // no whole to take a share of
  const SHORT percent = static_cast<SHORT>(static_cast<ULONGLONG>(done) * 100 / total);
  if (percent > m_nProgressThreshold) {
    m_nProgressThreshold += m_nProgressStep;
    if (!m_bAbortTransfer) return SendProgress(text, static_cast<USHORT>(percent), kModeMayDrop);
  }
  return S_OK;
}

// ---- Online-state reports ----------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::IfOnlineStateChangeNotifyFrame(EDtmState previous, EDtmState current) {
  LogEntry("IfOnlineStateChangeNotifyFrame");
  if (!m_pFdt121Events || !m_bFdt121Frame) return E_UNEXPECTED;
  if (previous == current) return S_OK;
  const char16_t* previousName = OnlineStateName(previous);
  const char16_t* currentName = OnlineStateName(current);
  if (!previousName || !currentName) return S_FALSE;

  std::u16string error = u" ";
  if (m_bCommErrorDescriptor || m_bCommErrorCode) {
    vkr::Variant tag;
    VARIANT id;
    VariantInit(&id);
    id.vt = VT_I4;
    id.lVal = kParameterTag;
    if (FAILED(GetParameterValue(id, &tag)) || tag.vt != VT_BSTR) return E_UNEXPECTED;
    error = u"<fdt:CommunicationError tag=\"" + Escaped(tag.bstrVal) + u"\" communicationError=\"noConnection\"";
    error += m_bCommErrorDescriptor ? u" descriptor=\"" + Escaped(m_bstrCommErrorDescriptor) + u"\"" : u"";
    error += m_bCommErrorCode ? u" errorCode=\"" + Escaped(m_bstrCommErrorCode) + u"\"" : u" ";
    error += u" />";
  }
  vkr::Bstr document;
  HRESULT hr = BstrFormat(document.Put(),
                          u"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMStateSchema.xml\" "
                          u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n<DtmStateTransition><PreviousState "
                          u"fdt:dtmStateMachine=\"%s\" />\n<CurrentState fdt:dtmStateMachine=\"%s\" />\n%s"
                          u"</DtmStateTransition>\n</FDT>",
                          previousName, currentName, error.c_str());
  if (FAILED(hr)) return hr;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!done) return E_OUTOFMEMORY;
  auto* worker = new (std::nothrow) COnStateChangedWorker(document, done);
  if (!worker) {
    CloseHandle(done);
    return E_OUTOFMEMORY;
  }
  // A worker that could not start signals the event as it goes: no wait for nobody.
  ExecuteWorkerThread(worker);
  WaitWithMessageLoop(done, kStateNotifyTimeout);
  CloseHandle(done);
  return S_OK;
}

// ---- Texts -------------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::TranslateBaseDtmMessage(ULONG id, BSTR* text) {
  LogEntry("TranslateBaseDtmMessage");
  if (!text) return E_POINTER;
  *text = nullptr;
  if (vkr::ComPtr<IovFdtTranslation> translation = QueryDtm<IovFdtTranslation>()) {
    vkr::Bstr path;
    if (SUCCEEDED(BstrFormat(path.Put(), u"localization/ToolkitMessages/Message[@id=\"%d\"]", static_cast<int>(id)))) {
      vkr::Bstr found;
      VARIANT_BOOL exists = VARIANT_FALSE;
      if (SUCCEEDED(translation->GetTranslation(path, found.Put(), &exists)) && exists) {
        *text = found.Detach();
        return S_OK;
      }
    }
  }
  for (const DefaultText& d : kDefaultTexts)
    if (d.id == id) {
      *text = SysAllocString(d.text);
      break;
    }
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::GetString(UINT id, BSTR* text) {
  LogEntry("GetString");
  if (!text || id == 0) return E_INVALIDARG;
  *text = nullptr;
  // Only string-table ids: a number is never taken for the address of a text.
  if (id > 0xFFFF) return E_INVALIDARG;
  WCHAR buffer[4096];
  const int length = LoadStringW(ResourceModule(), id, buffer, static_cast<int>(std::size(buffer)));
  if (length <= 0) return E_FAIL;
  *text = SysAllocStringLen(buffer, static_cast<UINT>(length));
  return *text ? S_OK : E_OUTOFMEMORY;
}

// ---- User level --------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::CheckUserLevel(VARIANT level) {
  LogEntry("CheckUserLevel");
  // Only a level word the DTM knows is taken; anything else is refused and changes nothing, so a
  // frame never believes a level was set that the DTM does not hold.
  if (level.vt != VT_BSTR) return E_INVALIDARG;
  struct Level {
    const char16_t* word;
    ULONG value;
  };
  static const Level kLevels[] = {{u"observer", 1}, {u"operator", 2}, {u"maintenance", 4}, {u"planningengineer", 8}};
  std::u16string word(vkr::View(level.bstrVal));
  for (char16_t& c : word)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  const Level* known = nullptr;
  for (const Level& l : kLevels)
    if (word == l.word) known = &l;
  if (!known) return E_INVALIDARG;
  m_nUserLevel = known->value;
  // No parameter descriptor of this build names a level above the observer's, so no parameter
  // loses its access here.
  return Broadcast(UI4(kBroadcastUserLevel), UI4(m_nUserLevel));
}

// ---- Forwards ----------------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::OnDevParResponse(VARIANT_BOOL success, VARIANT id, VARIANT data, BSTR errorText) {
  LogEntry("OnDevParResponse");
  vkr::Variant number;
  HRESULT hr = VariantChangeType(&number, &id, 0, VT_UI4);
  if (FAILED(hr)) return hr;
  return HandleDevParResponse(success, number, data, errorText);
}

HRESULT CovFDT_BaseDTMCore::SendFunctionEvent(const char*, const char*) {
  LogEntry("SendFunctionEvent");
  // The toolkit's event interface is not offered by this DTM: nobody to tell.
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SendVariableEvent(const char* name, VARIANT oldValue, VARIANT newValue, const char*) {
  LogEntry("SendVariableEvent");
  if (!name) return E_INVALIDARG;
  if (oldValue.vt != VT_EMPTY && oldValue.vt != newValue.vt) return S_OK;
  return S_OK;
}
