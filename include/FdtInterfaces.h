// The FDT interfaces between a frame and a DTM: those the DTM object implements for the frame and
// those of the frame that the DTM calls. Shared by the DTM and the frame host; header only.
//
// Every interface is dual: its own methods follow the three IUnknown and four IDispatch slots, so
// slot 7 is the first method named here. The container's id is FDT's; the ids of the others are
// this program's own, fixed here once. Where a method's place is not fixed by FDT's use in this
// DTM, the methods stand in alphabetical order.
#pragma once

#include "platform/platform.h"

struct IFdtContainer;
struct IFdtCommunication;

// ---- Implemented by the DTM ---------------------------------------------------------------

struct IDtm : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B11");
  using Base = IDispatch;
  virtual HRESULT Environment(BSTR systemTag, IFdtContainer* container, VARIANT_BOOL* result) = 0;  // 7
  virtual HRESULT InitNew(BSTR deviceType, VARIANT_BOOL* result) = 0;                                // 8
  virtual HRESULT Config(BSTR userInformation, VARIANT_BOOL* result) = 0;                           // 9
  virtual HRESULT SetCommunication(IFdtCommunication* communication, VARIANT_BOOL* result) = 0;     // 10
  virtual HRESULT PrepareToRelease(VARIANT_BOOL* result) = 0;                                        // 11
  virtual HRESULT PrepareToReleaseCommunication(VARIANT_BOOL* result) = 0;                           // 12
  virtual HRESULT ReleaseCommunication(VARIANT_BOOL* result) = 0;                                    // 13
  virtual HRESULT PrepareToDelete(VARIANT_BOOL* result) = 0;                                         // 14
  virtual HRESULT SetLanguage(LCID languageId, VARIANT_BOOL* result) = 0;                           // 15
  virtual HRESULT GetFunctions(BSTR operationPhase, BSTR* functions) = 0;                           // 16
  virtual HRESULT InvokeFunctionRequest(BSTR invokeId, BSTR functionCall, VARIANT_BOOL* invoked) = 0;  // 17
  virtual HRESULT PrivateDialogEnabled(VARIANT_BOOL enabled, VARIANT_BOOL* result) = 0;             // 18
};

struct IDtm2 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B12");
  using Base = IDispatch;
  virtual HRESULT Environment2(BSTR systemTag, IFdtContainer* container, BSTR frameVersion, VARIANT_BOOL* result) = 0;
  virtual HRESULT SetSystemGuiLabel(BSTR label, VARIANT_BOOL* result) = 0;
};

struct IDtmInformation : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B13");
  using Base = IDispatch;
  virtual HRESULT GetInformation(BSTR request, BSTR* information) = 0;
};

struct IDtmInformation2 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B14");
  using Base = IDispatch;
  virtual HRESULT GetDeviceIdentificationInformation(BSTR deviceType, BSTR protocolId, BSTR* result) = 0;
};

struct IDtmParameter : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B15");
  using Base = IDispatch;
  virtual HRESULT GetParameters(BSTR parameterPath, BSTR* document) = 0;
  virtual HRESULT SetParameters(BSTR parameterPath, BSTR document, VARIANT_BOOL* result) = 0;
};

struct IDtmOnlineParameter : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B16");
  using Base = IDispatch;
  virtual HRESULT CancelAction(BSTR invokeId, VARIANT_BOOL* result) = 0;
  virtual HRESULT DownloadRequest(BSTR invokeId, BSTR parameterPath, VARIANT_BOOL* result) = 0;
  virtual HRESULT UploadRequest(BSTR invokeId, BSTR parameterPath, VARIANT_BOOL* result) = 0;
};

struct IDtmDiagnosis : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B17");
  using Base = IDispatch;
  virtual HRESULT Compare(VARIANT_BOOL* result) = 0;
  virtual HRESULT InitCompare(BSTR systemTag, VARIANT_BOOL* result) = 0;
  virtual HRESULT ReleaseCompare(VARIANT_BOOL* result) = 0;
  virtual HRESULT Verify(VARIANT_BOOL* result) = 0;
};

struct IDtmImportExport : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B18");
  using Base = IDispatch;
  virtual HRESULT Import(IStream* stream, VARIANT_BOOL* result) = 0;  // 7
  virtual HRESULT Export(IStream* stream, VARIANT_BOOL* result) = 0;  // 8
};

struct IDtmOnlineDiagnosis : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B19");
  using Base = IDispatch;
  virtual HRESULT Compare(BSTR* result) = 0;
  virtual HRESULT GetDeviceStatus(BSTR* document) = 0;
};

struct IDtmSingleDeviceDataAccess : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B1A");
  using Base = IDispatch;
  virtual HRESULT CancelRequest(BSTR invokeId, VARIANT_BOOL* result) = 0;
  virtual HRESULT ItemListRequest(BSTR invokeId) = 0;
  virtual HRESULT ReadRequest(BSTR invokeId, BSTR itemSelectionList) = 0;
  virtual HRESULT WriteRequest(BSTR invokeId, BSTR itemList) = 0;
};

struct IDtmSingleInstanceDataAccess : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B1B");
  using Base = IDispatch;
  virtual HRESULT GetItemList(BSTR* itemList) = 0;
  virtual HRESULT Read(BSTR itemSelectionList, BSTR* itemList) = 0;
  virtual HRESULT Write(BSTR itemList, BSTR* answer) = 0;
};

// The frame's notifications to the DTM.
struct IFdtEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B1C");
  using Base = IDispatch;
  virtual HRESULT OnChildParameterChanged(BSTR systemTag, BSTR document) = 0;             // 7
  virtual HRESULT OnParameterChanged(BSTR systemTag, BSTR document) = 0;                  // 8
  virtual HRESULT OnDataSetLocked(BSTR systemTag) = 0;                                    // 9
  virtual HRESULT OnDataSetUnlocked(BSTR systemTag, VARIANT_BOOL* done) = 0;              // 10
};

struct IDtmActiveXInformation : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B1D");
  using Base = IDispatch;
  virtual HRESULT GetActiveXGuid(BSTR functionCall, BSTR* classId) = 0;   // 7
  virtual HRESULT GetActiveXProgId(BSTR functionCall, BSTR* progId) = 0;  // 8
};

// Implemented by every user interface the frame hosts as a control: the frame calls Init after
// in-place activation, with the invoke id it made for the function call, and PrepareToRelease
// before it closes the control (*result FALSE: the control stays open).
struct IDtmActiveXControl : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B30");
  using Base = IDispatch;
  virtual HRESULT Init(BSTR invokeId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) = 0;  // 7
  virtual HRESULT PrepareToRelease(VARIANT_BOOL* result) = 0;                                     // 8
};

struct IDtmDocumentation : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B1E");
  using Base = IDispatch;
  virtual HRESULT GetDocumentation(BSTR functionCall, BSTR* document) = 0;
};

struct IDtmApplication : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B1F");
  using Base = IDispatch;
  virtual HRESULT StartApplication(BSTR invokeId, BSTR functionCall, BSTR windowTitle, VARIANT_BOOL* started) = 0;
  virtual HRESULT ExitApplication(BSTR invokeId, VARIANT_BOOL* done) = 0;
};

// ---- Implemented by the frame -------------------------------------------------------------

// The frame's container of the DTM (FDT's id).
struct IFdtContainer : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("036D1487-387B-11D4-86E1-00E0987270B9");
  using Base = IDispatch;
  virtual HRESULT GetDtm(BSTR systemTag, IUnknown** dtm) = 0;                                // 7
  virtual HRESULT LockDataSet(BSTR systemTag, VARIANT_BOOL* granted) = 0;                   // 8
  virtual HRESULT UnlockDataSet(BSTR systemTag, VARIANT_BOOL* done) = 0;                    // 9
  virtual HRESULT GetXmlSchemaPath(BSTR* path) = 0;                                          // 10
  // 11 to 19 are frame services this DTM does not call; 20 reports a finished function.
  virtual HRESULT GetDtmInfoList(BSTR* list) = 0;                                            // 11
  virtual HRESULT GetChildDtms(BSTR systemTag, VARIANT* children) = 0;                       // 12
  virtual HRESULT GetParentDtm(BSTR systemTag, IUnknown** parent) = 0;                       // 13
  virtual HRESULT GetProjectInformation(BSTR* information) = 0;                              // 14
  virtual HRESULT GetUserInformation(BSTR* information) = 0;                                 // 15
  virtual HRESULT GetFrameInformation(BSTR* information) = 0;                                // 16
  virtual HRESULT SaveRequest(BSTR systemTag, VARIANT_BOOL* done) = 0;                       // 17
  virtual HRESULT OpenActiveXControlRequest(BSTR systemTag, BSTR functionCall) = 0;          // 18
  virtual HRESULT CloseActiveXControlRequest(BSTR invokeId) = 0;                             // 19
  virtual HRESULT FunctionFinished(BSTR invokeId, VARIANT_BOOL success) = 0;                // 20
};

// The frame's project topology. The DTM calls only 11, the DTM of a system tag, and 14, which
// gives that DTM back; the other slots are topology services it does not call.
struct IFdtTopology : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("036D147A-387B-11D4-86E1-00E0987270B9");
  using Base = IDispatch;
  virtual HRESULT TopologyService7() = 0;                                                     // 7
  virtual HRESULT TopologyService8() = 0;                                                     // 8
  virtual HRESULT TopologyService9() = 0;                                                     // 9
  virtual HRESULT TopologyService10() = 0;                                                    // 10
  virtual HRESULT GetDtmForSystemTag(BSTR systemTag, IUnknown** dtm) = 0;                    // 11
  virtual HRESULT TopologyService12() = 0;                                                    // 12
  virtual HRESULT TopologyService13() = 0;                                                    // 13
  virtual HRESULT ReleaseDtmForSystemTag(BSTR systemTag, VARIANT_BOOL* released) = 0;       // 14
};

// The frame's notifications from the DTM.
struct IDtmEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B21");
  using Base = IDispatch;
  virtual HRESULT OnParameterChanged(BSTR systemTag, BSTR document) = 0;             // 7
  virtual HRESULT OnErrorMessage(BSTR systemTag, BSTR text) = 0;                     // 8
  virtual HRESULT OnProgress(BSTR systemTag, BSTR title, SHORT percent, VARIANT_BOOL show) = 0;  // 9
  virtual HRESULT OnUploadFinished(BSTR invokeId, VARIANT_BOOL success) = 0;         // 10
  virtual HRESULT OnDownloadFinished(BSTR invokeId, VARIANT_BOOL success) = 0;       // 11
  virtual HRESULT OnApplicationClosed(BSTR invokeId) = 0;                            // 12
  virtual HRESULT OnFunctionChanged(BSTR systemTag) = 0;                             // 13
  virtual HRESULT OnChannelFunctionChanged(BSTR systemTag, BSTR text) = 0;           // 14
  virtual HRESULT OnNavigation(BSTR systemTag, BSTR text) = 0;                       // 15
  virtual HRESULT OnScanRequest(BSTR systemTag) = 0;                                 // 16
  virtual HRESULT OnOnlineStateChanged(BSTR systemTag, VARIANT_BOOL online) = 0;     // 17
  virtual HRESULT OnPreparedToRelease(BSTR systemTag) = 0;                           // 18
  virtual HRESULT OnPreparedToReleaseCommunication(BSTR systemTag) = 0;              // 19
};

// The FDT 1.2.1 frame's state-transition notification.
struct IFrameDtmStateEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B22");
  using Base = IDispatch;
  virtual HRESULT OnStateChanged(BSTR systemTag, BSTR document) = 0;  // 7
};

// The frame's user messages: it shows an FDTUserMessage document and answers with the same
// document, the chosen button in FDTUserMessage/@resultMessage.
struct IFdtDialog : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B24");
  using Base = IDispatch;
  virtual HRESULT UserDialog(BSTR systemTag, BSTR userMessage, BSTR* reply) = 0;  // 7
};

// The frame's hosting of user interfaces, asked for through its container: it opens the user
// interface of a function call (*opened whether it did) and closes one by its invoke id (*closed
// whether it did).
struct IFdtActiveXHost : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B2F");
  using Base = IDispatch;
  virtual HRESULT OpenActiveXControl(BSTR systemTag, BSTR functionCall, VARIANT_BOOL* opened) = 0;  // 7
  virtual HRESULT CloseActiveXControl(BSTR invokeId, VARIANT_BOOL* closed) = 0;                     // 8
};

// The frame's answers to the asynchronous single-device-data-access requests
// (IDtmSingleDeviceDataAccess), asked for through the frame's container: the item list, the values
// read and the values written, each a DTMItemListSchema document with the request's invoke id.
// Slot 8 is a frame service this DTM does not call.
struct IDtmSingleDeviceDataAccessEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0BA1");
  using Base = IDispatch;
  virtual HRESULT OnItemListResponse(BSTR invokeId, BSTR itemList) = 0;  // 7
  virtual HRESULT DataAccessService8() = 0;                               // 8
  virtual HRESULT OnReadResponse(BSTR invokeId, BSTR itemList) = 0;      // 9
  virtual HRESULT OnWriteResponse(BSTR invokeId, BSTR itemList) = 0;     // 10
};

struct IFdtCommunicationEvents;

// The frame's communication channel. Requests are answered later, on the frame's thread, through
// the IFdtCommunicationEvents the connect request names; *result tells whether the frame took the
// request.
struct IFdtCommunication : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B23");
  using Base = IDispatch;
  virtual HRESULT Abort(BSTR document) = 0;                                                     // 7
  virtual HRESULT ConnectRequest(IFdtCommunicationEvents* callback, BSTR invokeId, BSTR protocolId,
                                 BSTR document, VARIANT_BOOL* result) = 0;                     // 8
  virtual HRESULT DisconnectRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) = 0;  // 9
  virtual HRESULT GetSupportedProtocols(BSTR* protocols) = 0;                                 // 10
  virtual HRESULT SequenceBegin(BSTR invokeId, BSTR document, VARIANT_BOOL* result) = 0;      // 11
  virtual HRESULT SequenceEnd(BSTR invokeId, BSTR document, VARIANT_BOOL* result) = 0;        // 12
  virtual HRESULT SequenceStart(BSTR invokeId, BSTR document, VARIANT_BOOL* result) = 0;      // 13
  virtual HRESULT TransactionRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) = 0; // 14
};

// The frame's answers to a connection.
struct IFdtCommunicationEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B25");
  using Base = IDispatch;
  virtual HRESULT OnAbort(BSTR communicationReference) = 0;               // 7
  virtual HRESULT OnConnectResponse(BSTR invokeId, BSTR response) = 0;     // 8
  virtual HRESULT OnDisconnectResponse(BSTR invokeId, BSTR response) = 0;  // 9
  virtual HRESULT OnTransactionResponse(BSTR invokeId, BSTR response) = 0; // 10
};

// FDT 1.2.1 frames also tell the connection their version with the connect response.
struct IFdtCommunicationEvents2 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("4F0B3D6A-61E3-4C53-8F4B-7E2C1A9D0B26");
  using Base = IDispatch;
  virtual HRESULT OnParentVersion(BSTR invokeId, BSTR version, BSTR connectResponse) = 0;  // 7
};
