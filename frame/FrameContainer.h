// The stand-in frame's container of one DTM: the frame interfaces a DTM calls (IFdtContainer,
// IDtmEvents, the FDT 1.2.1 state events, the user messages and the answers to single device data
// access). It records every notification as
// a line of text, grants or refuses the data-set lock as told, answers user messages from a script
// (the first button when the script is empty), and loads every document the DTM sends with the
// frame's schema set: a document that does not validate is recorded as invalid and refused.
//
// Everything runs on the frame's thread (calls from other threads arrive marshalled).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "frame/ActiveXHost.h"
#include "include/FdtInterfaces.h"
#include "platform/platform.h"

namespace vkr::frame {

class FrameProject;

// The directory of the frame's schema files.
const char* SchemaDirectory();

// A schema cache holding every schema of the frame's directory, as x-schema:NAME.xml.
HRESULT CreateFrameSchemaCache(ComPtr<IXMLDOMSchemaCollection>* out);
// Loads the text with the cache attached: S_OK with the document, S_FALSE with the parser's or
// validator's reason when it is not well-formed or does not validate, a failure of the DOM else.
HRESULT LoadWithSchemaCache(BSTR text, IXMLDOMSchemaCollection* cache, ComPtr<IXMLDOMDocument2>* out,
                            std::string* reason);

class FrameContainer
    : public vkr::Implements<IFdtContainer, IDtmEvents, IFrameDtmStateEvents, IFdtDialog, IFdtTopology,
                             IDtmSingleDeviceDataAccessEvents, IFdtActiveXHost> {
 public:
  // What the frame answers.
  bool grantLock = true;
  bool grantUnlock = true;
  bool offerStateEvents = true;  // false: the frame is an FDT 1.2 frame without them

  // What the DTM did: "lock tag", "unlock tag", "error tag: text", "progress tag: text 40 1",
  // "state tag: goingOnline -> online", "online tag 1", "prepared to release tag", ...
  std::vector<std::string> notifications;
  // Called with each notification as it is noted.
  std::function<void(const std::string&)> onNote;
  // Serves the frame's messages (the DTM's notifications and the channel's answers arrive there)
  // until a notification beginning with `prefix` (any, when it is empty) comes after the first
  // `seen` ones, or `timeout` milliseconds pass. The notification, or an empty text.
  std::string WaitForNotification(const std::string& prefix, std::size_t seen, DWORD timeout) const;
  // Serves the frame's messages until the DTM is quiet: its texts reach the frame after the call
  // that caused them, as the DTM thread posts them.
  void AwaitQuiet() const;
  // The state documents as received, and the load errors of those that did not validate.
  std::vector<std::string> stateDocuments;
  // The DTM's online states as it reported them, in order: the current state of each valid state
  // document ("communicationSet", "goingOnline", "goingOffline", "online"), or, to an FDT 1.2
  // frame, "online" and "communicationSet" for its online-state changes.
  std::vector<std::string> reportedStates;
  std::vector<std::string> invalidDocuments;
  // The answers to the next user messages, as button words ("buttonNo"); taken from the front.
  std::deque<std::string> userAnswers;
  // The answers to the next questions, as button words; taken from the front once userAnswers is
  // empty. A question is a message with more than one button; a message with one button takes it
  // and uses none. An answer that is not one of its question's buttons is noted in unfitAnswers
  // ("No to buttonsOk..."), and the question gets the button it gets unanswered.
  std::deque<std::string> questionAnswers;
  std::vector<std::string> unfitAnswers;
  // Whether a question nobody answered (or that got an answer that is not one of its buttons) gets
  // the button that changes nothing (No where it has one, else Cancel; Abort of Abort/Retry/Ignore)
  // instead of its first button: the frame host answers for nobody.
  bool answersChangeNothing = false;
  // The answer of the next question with these buttons ("buttonsYesNo") and text, by the rules
  // above; takes the answer it uses from userAnswers or questionAnswers.
  std::string ChooseAnswer(const std::string& buttons, const std::string& text);
  // Actions a person takes while the next user messages are open (before the answer goes back),
  // taken from the front with the answers; an empty one does nothing. The windows' message boxes
  // have theirs in vkr::ui::SetMessageBoxScript.
  std::deque<std::function<void()>> whileAsking;
  // The user messages shown: "message <type> <buttons> <title>: <text> -> <answer>".
  std::vector<std::string> userMessages;
  // The project the DTM belongs to: its topology answers IFdtTopology. Without one the container
  // offers no topology. Set and cleared by the project.
  FrameProject* project = nullptr;
  // The frame's lock as the DTM holds it now.
  bool locked = false;
  int lockRequests = 0;
  int unlockRequests = 0;

  // Checks a document against the frame's schema set: S_OK, or S_FALSE with the reason.
  static HRESULT Validate(BSTR document, std::string* reason);

  // IDispatch: no type information.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

  // IFdtContainer
  HRESULT GetDtm(BSTR, IUnknown** dtm) override;
  HRESULT LockDataSet(BSTR systemTag, VARIANT_BOOL* granted) override;
  HRESULT UnlockDataSet(BSTR systemTag, VARIANT_BOOL* done) override;
  HRESULT GetXmlSchemaPath(BSTR* path) override;
  HRESULT GetDtmInfoList(BSTR* list) override;
  HRESULT GetChildDtms(BSTR, VARIANT* children) override;
  HRESULT GetParentDtm(BSTR, IUnknown** parent) override;
  HRESULT GetProjectInformation(BSTR* information) override;
  HRESULT GetUserInformation(BSTR* information) override;
  HRESULT GetFrameInformation(BSTR* information) override;
  HRESULT SaveRequest(BSTR systemTag, VARIANT_BOOL* done) override;
  // The DTM's requests to open and close a user interface go to the frame's ActiveX host.
  HRESULT OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall) override;
  HRESULT CloseActiveXControlRequest(BSTR invokeId) override;
  HRESULT FunctionFinished(BSTR invokeId, VARIANT_BOOL success) override;

  // IDtmEvents
  HRESULT OnParameterChanged(BSTR systemTag, BSTR document) override;
  HRESULT OnErrorMessage(BSTR systemTag, BSTR text) override;
  HRESULT OnProgress(BSTR systemTag, BSTR title, SHORT percent, VARIANT_BOOL show) override;
  HRESULT OnUploadFinished(BSTR invokeId, VARIANT_BOOL success) override;
  HRESULT OnDownloadFinished(BSTR invokeId, VARIANT_BOOL success) override;
  HRESULT OnApplicationClosed(BSTR invokeId) override;
  HRESULT OnFunctionChanged(BSTR systemTag) override;
  HRESULT OnChannelFunctionChanged(BSTR systemTag, BSTR text) override;
  HRESULT OnNavigation(BSTR systemTag, BSTR text) override;
  HRESULT OnScanRequest(BSTR systemTag) override;
  HRESULT OnOnlineStateChanged(BSTR systemTag, VARIANT_BOOL online) override;
  HRESULT OnPreparedToRelease(BSTR systemTag) override;
  HRESULT OnPreparedToReleaseCommunication(BSTR systemTag) override;

  // IFrameDtmStateEvents
  HRESULT OnStateChanged(BSTR systemTag, BSTR document) override;

  // IFdtTopology: the project's (GetDtmForSystemTag, ReleaseDtmForSystemTag); the other services
  // are not offered.
  HRESULT TopologyService7() override { return E_NOTIMPL; }
  HRESULT TopologyService8() override { return E_NOTIMPL; }
  HRESULT TopologyService9() override { return E_NOTIMPL; }
  HRESULT TopologyService10() override { return E_NOTIMPL; }
  HRESULT GetDtmForSystemTag(BSTR systemTag, IUnknown** dtm) override;
  HRESULT TopologyService12() override { return E_NOTIMPL; }
  HRESULT TopologyService13() override { return E_NOTIMPL; }
  HRESULT ReleaseDtmForSystemTag(BSTR systemTag, VARIANT_BOOL* released) override;

  // IFdtActiveXHost (frame/ActiveXHost.h): the user interfaces of `dtm`.
  HRESULT OpenActiveXControl(BSTR systemTag, BSTR functionCall, VARIANT_BOOL* opened) override;
  HRESULT CloseActiveXControl(BSTR invokeId, VARIANT_BOOL* closed) override;
  // The DTM whose user interfaces the frame opens (not owned: the session that made the DTM sets
  // it and clears it before the DTM goes).
  IUnknown* dtm = nullptr;
  ActiveXHost activeX;

  // IFdtDialog: E_INVALIDARG for a document that does not validate (recorded as invalid).
  HRESULT UserDialog(BSTR systemTag, BSTR userMessage, BSTR* reply) override;

  // IDtmSingleDeviceDataAccessEvents (FrameDataAccess.cpp): every answer is recorded, in order;
  // one that does not validate is recorded as invalid too, and refused with E_INVALIDARG.
  struct DataAccessAnswer {
    std::string kind;  // "items", "read" or "write"
    std::string invokeId;
    std::string document;
    bool valid = false;
  };
  std::vector<DataAccessAnswer> dataAccessAnswers;
  // The answer to the invoke id, null while none has come.
  const DataAccessAnswer* DataAccessAnswerTo(const std::string& invokeId) const;
  HRESULT OnItemListResponse(BSTR invokeId, BSTR itemList) override;
  HRESULT DataAccessService8() override { return E_NOTIMPL; }
  HRESULT OnReadResponse(BSTR invokeId, BSTR itemList) override;
  HRESULT OnWriteResponse(BSTR invokeId, BSTR itemList) override;

 protected:
  // An FDT 1.2 frame does not answer the state events; a DTM outside a project finds no topology.
  void* FindInterface(REFIID riid) override {
    if (riid == IFrameDtmStateEvents::iid && !offerStateEvents) return nullptr;
    if (riid == IFdtTopology::iid && !project) return nullptr;
    return Implements::FindInterface(riid);
  }

 private:
  void Note(const std::string& line) {
    notifications.push_back(line);
    if (onNote) onNote(line);
  }
};

}  // namespace vkr::frame
