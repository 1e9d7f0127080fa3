// The stand-in frame's container: answers, records and validates.
#include "frame/FrameContainer.h"
#include "frame/Quiet.h"
#include "frame/FrameProject.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace vkr::frame {
namespace {

std::string Text(BSTR s) { return Utf16ToUtf8(View(s)); }

HRESULT Copy(const char16_t* text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = SysAllocString(text);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

const char* SchemaDirectory() { return VKR_FRAME_SCHEMA_DIR; }

HRESULT CreateFrameSchemaCache(ComPtr<IXMLDOMSchemaCollection>* out) {
  if (!out) return E_POINTER;
  ComPtr<IXMLDOMSchemaCollection> cache;
  HRESULT hr = CoCreateInstance(CLSID_XMLSchemaCache, nullptr, CLSCTX_ALL, IID_IXMLDOMSchemaCollection, cache.PutVoid());
  if (FAILED(hr)) return hr;
  for (const auto& entry : std::filesystem::directory_iterator(SchemaDirectory())) {
    if (entry.path().extension() != ".xml") continue;
    Bstr uri(Utf8ToUtf16("x-schema:" + entry.path().filename().string()));
    VARIANT location;
    VariantInit(&location);
    location.vt = VT_BSTR;
    location.bstrVal = SysAllocString(Utf8ToUtf16(entry.path().string()).c_str());
    hr = cache->add(uri, location);
    VariantClear(&location);
    if (FAILED(hr)) return hr;
  }
  *out = cache;
  return S_OK;
}

HRESULT LoadWithSchemaCache(BSTR text, IXMLDOMSchemaCollection* cache, ComPtr<IXMLDOMDocument2>* out,
                            std::string* reason) {
  if (!cache) return E_POINTER;
  ComPtr<IXMLDOMDocument2> doc;
  HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2, doc.PutVoid());
  if (FAILED(hr)) return hr;
  VARIANT schemas;
  VariantInit(&schemas);
  schemas.vt = VT_UNKNOWN;
  schemas.punkVal = cache;
  hr = doc->putref_schemas(schemas);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = doc->loadXML(text, &ok);
  if (FAILED(hr)) return hr;
  if (ok) {
    if (out) *out = doc;
    return S_OK;
  }
  if (reason) {
    ComPtr<IXMLDOMParseError> error;
    Bstr why;
    if (SUCCEEDED(doc->get_parseError(error.Put())) && error) error->get_reason(why.Put());
    *reason = Text(why);
  }
  return S_FALSE;
}

namespace {

// Loads the document with the frame's schema set: S_OK with the document, S_FALSE with the
// reason when it does not validate.
HRESULT LoadValidated(BSTR text, ComPtr<IXMLDOMDocument2>* out, std::string* reason) {
  ComPtr<IXMLDOMSchemaCollection> cache;
  const HRESULT hr = CreateFrameSchemaCache(&cache);
  if (FAILED(hr)) return hr;
  return LoadWithSchemaCache(text, cache.Get(), out, reason);
}

// The first button of a button set, which the frame takes when it has no scripted answer.
std::string FirstButton(const std::string& buttons) {
  if (buttons == "buttonsYesNo" || buttons == "buttonsYesNoCancel") return "buttonYes";
  if (buttons == "buttonsAbortRetryIgnore") return "buttonAbort";
  if (buttons == "buttonsRetryCancel") return "buttonRetry";
  return "buttonOk";
}

// The button that lets nothing happen that nobody asked for: No where there is one, else Cancel;
// Abort stops what asks to go on; OK alone only says it was read.
std::string NothingButton(const std::string& buttons) {
  if (buttons == "buttonsYesNo" || buttons == "buttonsYesNoCancel") return "buttonNo";
  if (buttons == "buttonsOkCancel" || buttons == "buttonsRetryCancel") return "buttonCancel";
  if (buttons == "buttonsAbortRetryIgnore") return "buttonAbort";
  return "buttonOk";
}

std::string WithoutPrefix(const std::string& word, const std::string& prefix) {
  return word.rfind(prefix, 0) == 0 ? word.substr(prefix.size()) : word;
}

// Whether the answer is a button of the button set.
bool IsButtonOf(const std::string& buttons, const std::string& answer) {
  static const std::pair<const char*, std::vector<std::string>> kSets[] = {
      {"buttonsOk", {"buttonOk"}},
      {"buttonsOkCancel", {"buttonOk", "buttonCancel"}},
      {"buttonsYesNo", {"buttonYes", "buttonNo"}},
      {"buttonsYesNoCancel", {"buttonYes", "buttonNo", "buttonCancel"}},
      {"buttonsAbortRetryIgnore", {"buttonAbort", "buttonRetry", "buttonIgnore"}},
      {"buttonsRetryCancel", {"buttonRetry", "buttonCancel"}},
  };
  for (const auto& [set, members] : kSets)
    if (buttons == set) return std::find(members.begin(), members.end(), answer) != members.end();
  return false;
}

std::string Attribute(IXMLDOMNode* node, const char16_t* path) {
  ComPtr<IXMLDOMNode> found;
  Bstr query(path), text;
  if (FAILED(node->selectSingleNode(query, found.Put())) || !found) return std::string();
  found->get_text(text.Put());
  return Text(text);
}

}  // namespace

HRESULT FrameContainer::Validate(BSTR document, std::string* reason) { return LoadValidated(document, nullptr, reason); }

HRESULT FrameContainer::GetTypeInfoCount(UINT* count) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}
HRESULT FrameContainer::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

// ---- IFdtContainer -------------------------------------------------------------------------

HRESULT FrameContainer::GetDtm(BSTR, IUnknown** dtm) {
  if (dtm) *dtm = nullptr;
  return E_NOTIMPL;  // other DTMs are reached through the project's topology
}

HRESULT FrameContainer::LockDataSet(BSTR systemTag, VARIANT_BOOL* granted) {
  if (!granted) return E_POINTER;
  ++lockRequests;
  Note("lock " + Text(systemTag) + (grantLock ? "" : " refused"));
  if (grantLock) locked = true;
  *granted = grantLock ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT FrameContainer::UnlockDataSet(BSTR systemTag, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  ++unlockRequests;
  Note("unlock " + Text(systemTag) + (grantUnlock ? "" : " refused"));
  if (grantUnlock) locked = false;
  *done = grantUnlock ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT FrameContainer::GetXmlSchemaPath(BSTR* path) {
  if (!path) return E_POINTER;
  *path = SysAllocString(Utf8ToUtf16(SchemaDirectory()).c_str());
  return *path ? S_OK : E_OUTOFMEMORY;
}

HRESULT FrameContainer::GetDtmInfoList(BSTR* list) {
  if (list) *list = nullptr;
  return E_NOTIMPL;
}
HRESULT FrameContainer::GetChildDtms(BSTR, VARIANT*) { return E_NOTIMPL; }
HRESULT FrameContainer::GetParentDtm(BSTR, IUnknown** parent) {
  if (parent) *parent = nullptr;
  return E_NOTIMPL;
}
HRESULT FrameContainer::GetProjectInformation(BSTR* information) { return Copy(u"", information); }
HRESULT FrameContainer::GetUserInformation(BSTR* information) { return Copy(u"", information); }
HRESULT FrameContainer::GetFrameInformation(BSTR* information) { return Copy(u"", information); }

HRESULT FrameContainer::SaveRequest(BSTR systemTag, VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  Note("save " + Text(systemTag));
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT FrameContainer::FunctionFinished(BSTR invokeId, VARIANT_BOOL success) {
  Note("function finished " + Text(invokeId) + (success ? " 1" : " 0"));
  return S_OK;
}

// ---- IDtmEvents ----------------------------------------------------------------------------

HRESULT FrameContainer::OnParameterChanged(BSTR systemTag, BSTR) {
  Note("parameter changed " + Text(systemTag));
  return S_OK;
}
HRESULT FrameContainer::OnErrorMessage(BSTR systemTag, BSTR text) {
  Note("error " + Text(systemTag) + ": " + Text(text));
  return S_OK;
}
HRESULT FrameContainer::OnProgress(BSTR systemTag, BSTR title, SHORT percent, VARIANT_BOOL show) {
  Note("progress " + Text(systemTag) + ": " + Text(title) + " " + std::to_string(percent) + (show ? " 1" : " 0"));
  return S_OK;
}
HRESULT FrameContainer::OnUploadFinished(BSTR invokeId, VARIANT_BOOL success) {
  Note("upload finished " + Text(invokeId) + (success ? " 1" : " 0"));
  return S_OK;
}
HRESULT FrameContainer::OnDownloadFinished(BSTR invokeId, VARIANT_BOOL success) {
  Note("download finished " + Text(invokeId) + (success ? " 1" : " 0"));
  return S_OK;
}
HRESULT FrameContainer::OnApplicationClosed(BSTR invokeId) {
  Note("application closed " + Text(invokeId));
  return S_OK;
}
HRESULT FrameContainer::OnFunctionChanged(BSTR systemTag) {
  Note("functions changed " + Text(systemTag));
  return S_OK;
}
HRESULT FrameContainer::OnChannelFunctionChanged(BSTR systemTag, BSTR text) {
  Note("channel function changed " + Text(systemTag) + ": " + Text(text));
  return S_OK;
}
HRESULT FrameContainer::OnNavigation(BSTR systemTag, BSTR text) {
  Note("navigation " + Text(systemTag) + ": " + Text(text));
  return S_OK;
}
HRESULT FrameContainer::OnScanRequest(BSTR systemTag) {
  Note("scan request " + Text(systemTag));
  return S_OK;
}
HRESULT FrameContainer::OnOnlineStateChanged(BSTR systemTag, VARIANT_BOOL online) {
  Note("online " + Text(systemTag) + (online ? " 1" : " 0"));
  reportedStates.push_back(online ? "online" : "communicationSet");
  return S_OK;
}
HRESULT FrameContainer::OnPreparedToRelease(BSTR systemTag) {
  Note("prepared to release " + Text(systemTag));
  return S_OK;
}
std::string FrameContainer::WaitForNotification(const std::string& prefix, std::size_t seen, DWORD timeout) const {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    for (; seen < notifications.size(); ++seen)
      if (prefix.empty() || notifications[seen].rfind(prefix, 0) == 0) return notifications[seen];
    if (GetTickCount() - start >= timeout) return std::string();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

void FrameContainer::AwaitQuiet() const { WaitUntilQuiet(); }

HRESULT FrameContainer::OnPreparedToReleaseCommunication(BSTR systemTag) {
  Note("prepared to release communication " + Text(systemTag));
  return S_OK;
}

// ---- IFrameDtmStateEvents ------------------------------------------------------------------

HRESULT FrameContainer::OnStateChanged(BSTR systemTag, BSTR document) {
  if (!document) return E_INVALIDARG;
  stateDocuments.push_back(Text(document));
  std::string reason;
  const HRESULT hr = Validate(document, &reason);
  if (hr != S_OK) {
    invalidDocuments.push_back(reason.empty() ? "not loaded" : reason);
    Note("state " + Text(systemTag) + ": invalid document");
    return E_INVALIDARG;
  }
  // The two state names, read back from the document.
  auto name = [&](const char* element) {
    const std::string d = Text(document);
    const std::string key = std::string("<") + element + " fdt:dtmStateMachine=\"";
    const auto at = d.find(key);
    if (at == std::string::npos) return std::string("?");
    const auto from = at + key.size();
    return d.substr(from, d.find('"', from) - from);
  };
  reportedStates.push_back(name("CurrentState"));
  Note("state " + Text(systemTag) + ": " + name("PreviousState") + " -> " + reportedStates.back() +
       (Text(document).find("CommunicationError") != std::string::npos ? " (communication error)" : ""));
  return S_OK;
}

// ---- IFdtTopology -------------------------------------------------------------------------

HRESULT FrameContainer::GetDtmForSystemTag(BSTR systemTag, IUnknown** dtm) {
  if (!dtm) return E_POINTER;
  *dtm = nullptr;
  if (!project) return E_NOTIMPL;
  return project->GetDtmForSystemTag(systemTag, dtm);
}

HRESULT FrameContainer::ReleaseDtmForSystemTag(BSTR systemTag, VARIANT_BOOL* released) {
  if (!released) return E_POINTER;
  *released = VARIANT_FALSE;
  if (!project) return E_NOTIMPL;
  return project->ReleaseDtmForSystemTag(systemTag, released);
}

// ---- IFdtActiveXHost ----------------------------------------------------------------------

HRESULT FrameContainer::OpenActiveXControl(BSTR systemTag, BSTR functionCall, VARIANT_BOOL* opened) {
  if (!opened) return E_POINTER;
  *opened = VARIANT_FALSE;
  Note("open user interface " + Text(systemTag));
  ComPtr<IFdtContainer> keep(this);
  return activeX.Open(dtm, functionCall, opened);
}

HRESULT FrameContainer::CloseActiveXControl(BSTR invokeId, VARIANT_BOOL* closed) {
  if (!closed) return E_POINTER;
  *closed = VARIANT_FALSE;
  ComPtr<IFdtContainer> keep(this);
  const HRESULT hr = activeX.Close(invokeId, closed);
  Note("close user interface " + Text(invokeId) + (SUCCEEDED(hr) && *closed ? "" : " refused"));
  return hr;
}

HRESULT FrameContainer::OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall) {
  VARIANT_BOOL opened = VARIANT_FALSE;
  const HRESULT hr = OpenActiveXControl(systemTag, functionCall, &opened);
  return FAILED(hr) ? hr : (opened ? S_OK : S_FALSE);
}

HRESULT FrameContainer::CloseActiveXControlRequest(BSTR invokeId) {
  VARIANT_BOOL closed = VARIANT_FALSE;
  const HRESULT hr = CloseActiveXControl(invokeId, &closed);
  return FAILED(hr) ? hr : (closed ? S_OK : S_FALSE);
}

// ---- IFdtDialog ----------------------------------------------------------------------------

std::string FrameContainer::ChooseAnswer(const std::string& buttons, const std::string& text) {
  const std::string unasked = answersChangeNothing ? NothingButton(buttons) : FirstButton(buttons);
  if (!userAnswers.empty()) {
    std::string answer = userAnswers.front();
    userAnswers.pop_front();
    return answer;
  }
  if (questionAnswers.empty() || buttons == "buttonsOk") return unasked;
  std::string answer = questionAnswers.front();
  questionAnswers.pop_front();
  if (IsButtonOf(buttons, answer)) return answer;
  unfitAnswers.push_back(WithoutPrefix(answer, "button") + " to \"" + text + "\" (" + WithoutPrefix(buttons, "buttons") +
                         ")");
  return answersChangeNothing ? NothingButton(buttons) : FirstButton(buttons);
}

HRESULT FrameContainer::UserDialog(BSTR systemTag, BSTR userMessage, BSTR* reply) {
  if (!reply) return E_POINTER;
  *reply = nullptr;
  if (!userMessage) return E_INVALIDARG;
  ComPtr<IXMLDOMDocument2> document;
  std::string reason;
  const HRESULT hr = LoadValidated(userMessage, &document, &reason);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) {
    invalidDocuments.push_back(reason.empty() ? "not loaded" : reason);
    Note("message " + Text(systemTag) + ": invalid document");
    return E_INVALIDARG;
  }
  ComPtr<IXMLDOMNode> message;
  Bstr path(u"FDT/FDTUserMessage");
  if (FAILED(document->selectSingleNode(path, message.Put())) || !message) return E_INVALIDARG;
  const std::string buttons = Attribute(message.Get(), u"@messageButtons");
  const std::string answer = ChooseAnswer(buttons, Attribute(message.Get(), u"TextLine/@fdt:string"));
  if (!whileAsking.empty()) {
    std::function<void()> action = std::move(whileAsking.front());
    whileAsking.pop_front();
    ComPtr<IFdtContainer> keep(this);  // the action may release the frame's other references
    if (action) action();
  }
  ComPtr<IXMLDOMElement> element;
  if (FAILED(message->QueryInterface(IID_IXMLDOMElement, element.PutVoid())) || !element) return E_FAIL;
  Bstr name(u"resultMessage");
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocString(Utf8ToUtf16(answer).c_str());
  HRESULT set = element->setAttribute(name, value);
  VariantClear(&value);
  if (FAILED(set)) return set;
  userMessages.push_back("message " + Attribute(message.Get(), u"@messageType") + " " + buttons + " " +
                         Attribute(message.Get(), u"@title") + ": " + Attribute(message.Get(), u"TextLine/@fdt:string") +
                         " -> " + answer);
  Note(userMessages.back());
  return document->get_xml(reply);
}

}  // namespace vkr::frame
