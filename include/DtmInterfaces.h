// The toolkit's own interfaces of the DTM object and of the DTM thread: IovFdtBaseDTM (the DTM's
// state, messages and framework operations, virtual so that a device class can override them),
// IovFdtDtmEvents (numbered DTM messages), the persistence, document, data-access and
// function-container interfaces, the DTM thread's IovFdtDtmThread and the program's empty
// dispatch interface. Header only; the ids are this program's own.
//
// All are dual: their own methods follow the three IUnknown and four IDispatch slots, so slot 7 is
// the first method named here, and the comments give the slot numbers. IovFdtBaseDTM takes C++
// types in places: it is called only inside this process.
#pragma once

#include <vector>

#include "include/FdtInterfaces.h"
#include "include/IovFdtParameterHandlerSite.h"
#include "platform/platform.h"

// The packed records that DTM messages carry belong to the parameter model.
class CovVAPacker;
struct SParamUpdateInfo;

struct IXMLDOMNode;
struct IXMLDOMDocument;
class ParInfo;

struct IovFdtBaseDTM : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A01");
  using Base = IDispatch;
  virtual HRESULT SetDTMState(EDtmState state) = 0;                                   // 7
  virtual HRESULT GetDTMState(EDtmState* state) = 0;                                  // 8
  virtual HRESULT Broadcast(VARIANT id, VARIANT argument) = 0;                        // 9
  virtual HRESULT GetCurLanguageId(LCID* language) = 0;                               // 10
  virtual HRESULT GetSystemTag(BSTR* tag) = 0;                                        // 11
  virtual HRESULT VerifySupportedLanguages(BSTR information, BSTR* result) = 0;       // 12
  virtual HRESULT InternalGetDeviceStatus(ULONG* status) = 0;                         // 13
  virtual HRESULT DtmDiagnosisVerify(VARIANT_BOOL* result) = 0;                       // 14
  virtual HRESULT StopCollectInitError() = 0;                                         // 15
  virtual HRESULT SendProgress(BSTR text, USHORT percent, USHORT mode) = 0;           // 16
  virtual HRESULT OnDynamicParamChanged(BSTR key, const std::vector<SParamUpdateInfo>& list) = 0;  // 17
  virtual HRESULT OnDevParResponse(VARIANT_BOOL success, VARIANT id, VARIANT data, BSTR errorText) = 0;  // 18
  virtual HRESULT MergeDtmDocuments(BSTR information, BSTR* result) = 0;              // 19
  virtual HRESULT EnvPart1(BSTR systemTag, IFdtContainer* container) = 0;             // 20
  virtual HRESULT EnvPart2(IFdtContainer* container) = 0;                             // 21
  virtual HRESULT GetString(UINT id, BSTR* text) = 0;                                 // 22
  virtual HRESULT IfOnlineStateChangeNotifyFrame(EDtmState previous, EDtmState current) = 0;  // 23
  // 24 to 39: the handlers of the DTM messages, each with the message's argument.
  virtual HRESULT HandleDtmMsgAxInitialized(VARIANT argument) = 0;                               // 24
  virtual HRESULT HandleDtmMsgAxReleasedOrUpdateRateChanged(VARIANT key, ULONG id) = 0;          // 25
  virtual HRESULT HandleDtmMsgLockDTM(VARIANT argument) = 0;                                     // 26
  virtual HRESULT HandleDtmMsgErrorMessage(VARIANT argument) = 0;                                // 27
  virtual HRESULT HandleDtmMsgApplicationClosed(VARIANT argument) = 0;                           // 28
  virtual HRESULT HandleDtmMsgProgress(VARIANT argument) = 0;                                    // 29
  virtual HRESULT HandleDtmMsgChannelFunctionChanged(VARIANT argument) = 0;                      // 30
  virtual HRESULT HandleDtmMsgUpDownload(VARIANT argument) = 0;                                  // 31
  virtual HRESULT HandleDtmMsgUpload(VARIANT argument) = 0;                                      // 32
  virtual HRESULT HandleDtmMsgRefreshOnlineCache(VARIANT argument) = 0;                          // 33
  virtual HRESULT HandleDtmMsgDownload(VARIANT argument) = 0;                                    // 34
  virtual HRESULT HandleDtmMsgSwitchAuditTrail(VARIANT argument) = 0;                            // 35
  virtual HRESULT HandleDtmMsgUploadDeviceParams(VARIANT argument) = 0;                          // 36
  virtual HRESULT HandleDtmMsgProgressMessage(VARIANT argument) = 0;                             // 37
  virtual HRESULT HandleDtmMsgSubscription(ULONG id, VARIANT argument) = 0;                      // 38
  virtual HRESULT HandleSetDelaySaveRequest(VARIANT argument) = 0;                               // 39
  virtual HRESULT LockDataset(bool counted) = 0;                                      // 40
  virtual HRESULT UnlockDataset() = 0;                                                // 41
  virtual HRESULT UnlockDatasetWhenSaved() = 0;                                       // 42
  // 43: an error text for the frame (printf rules; external text goes in as "%s" data).
  virtual void OnError(const char* format, ...) = 0;
  virtual bool CheckGoOffline() = 0;                                                  // 44
  virtual HRESULT HandleDtmMsgDeviceVerification(ULONG id, VARIANT argument) = 0;     // 45
  // 46 to 48, 50: the application's hooks; the framework answers TRUE, TRUE, TRUE and 1033.
  virtual HRESULT CanInitNew(VARIANT_BOOL* proceed) = 0;                              // 46
  virtual HRESULT CanLoadDataSet(VARIANT_BOOL* proceed) = 0;                          // 47
  virtual HRESULT CanSaveDataSet(VARIANT_BOOL* proceed) = 0;                          // 48
  virtual HRESULT TranslateBaseDtmMessage(ULONG id, BSTR* text) = 0;                  // 49
  virtual HRESULT GetDefaultLanguageId(LCID* language) = 0;                           // 50
  virtual HRESULT SendFunctionEvent(const char* name, const char* text) = 0;          // 51
  virtual HRESULT CheckUserLevel(VARIANT level) = 0;                                  // 52
  virtual HRESULT UpdateProgress(ULONG done, ULONG total, BSTR text) = 0;             // 53
  virtual HRESULT SendParamUpdateInfo(ULONG job, CovVAPacker& record) = 0;            // 54
  virtual HRESULT SendVariableEvent(const char* name, VARIANT oldValue, VARIANT newValue, const char* text) = 0;  // 55
  virtual HRESULT TryToGoOnlineAndVerifyDevice(DWORD onlineTimeout, DWORD verificationTimeout,
                                               VARIANT_BOOL* verified) = 0;           // 56
  virtual HRESULT StartParameterUpdate() = 0;                                         // 57
  virtual HRESULT StopParameterUpdate() = 0;                                          // 58
  virtual HRESULT UpdateDTMState() = 0;                                               // 59
  virtual HRESULT DelaySaveRequest(BOOL begin) = 0;                                   // 60
  virtual HRESULT OnStateChangedParameters(bool* done) = 0;                           // 61
  virtual HRESULT InitAlternativeParamLists(BSTR source, BSTR parent, BSTR target) = 0;  // 62
  virtual HRESULT ReInitDevTypeParamCollection(BSTR deviceType) = 0;                  // 63
  virtual HRESULT InitializeDeviceType(bool loaded) = 0;                              // 64
  virtual HRESULT UnInitializeDeviceType() = 0;                                       // 65
  virtual HRESULT InternalSetDtmStateBeforeFrameNotify(EDtmState previous, EDtmState current) = 0;  // 66
  virtual HRESULT InternalSetDtmStateAfterFrameNotify(EDtmState previous, EDtmState current) = 0;   // 67
  virtual HRESULT NotifyFrameWhenOnlineStateChanged(EDtmState previous, EDtmState current) = 0;     // 68
  virtual HRESULT StartOrStopParameterUpdateOnDtmStateChange(EDtmState previous, EDtmState current) = 0;  // 69
  virtual bool CheckDeviceType(IXMLDOMNode* deviceType) = 0;                          // 70
  virtual BSTR DecodeDeviceTypeString(BSTR text) = 0;                                 // 71
  virtual BSTR EncodeDeviceTypeString() = 0;                                          // 72
  virtual HRESULT InitializeChannels() = 0;                                           // 73
  virtual HRESULT UnInitializeChannels() = 0;                                         // 74
  virtual HRESULT GetDevIdentInfoPath1(IXMLDOMDocument* deviceType, BSTR protocolId, BSTR* xpath) = 0;  // 75
  virtual HRESULT GetDevIdentInfoPath2(IXMLDOMDocument* deviceType, BSTR protocolId, BSTR* xpath) = 0;  // 76
  virtual HRESULT GetDevIdentInfoXml(IXMLDOMDocument* templates, BSTR xpath, BSTR* xml) = 0;         // 77
  virtual HRESULT OnInitDeviceType() = 0;                                             // 78
  virtual HRESULT OnUnInitDeviceType() = 0;                                           // 79
  // 80 to 82: the builders of the exported variables in the parameter document; each adds its
  // element under parent for the record and calls the next through this table, so that a device
  // class may replace any of them. 83: takes over the tag, the bus information and the exported
  // variables of a parameter document the frame set.
  virtual HRESULT AddDtmVariableEntry(IXMLDOMDocument* document, IXMLDOMNode* group, const ParInfo& record) = 0;  // 80
  virtual HRESULT AddDtmVariableValue(IXMLDOMDocument* document, IXMLDOMNode* variable,
                                      const ParInfo& record) = 0;  // 81
  virtual HRESULT AddValueDisplay(IXMLDOMDocument* document, IXMLDOMNode* value, const ParInfo& record) = 0;  // 82
  virtual HRESULT ImportExportedVariables(IXMLDOMDocument* document) = 0;             // 83
};

// The entry of every numbered DTM message (user interfaces, the DTM thread, workers).
struct IovFdtDtmEvents : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A02");
  using Base = IDispatch;
  virtual HRESULT DtmMessage(VARIANT id, VARIANT argument) = 0;  // 7
};

// The data set's storage state and its stream and property-bag forms.
struct IovFdtStorageState : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A03");
  using Base = IDispatch;
  virtual HRESULT SetDataSetStateFromFrame(ULONG state) = 0;                  // 7
  virtual HRESULT GetStorageStateValue(ULONG* state) = 0;                     // 8
  virtual HRESULT LoadFromStream(IStream* stream) = 0;                        // 9
  virtual HRESULT SaveToStream(IStream* stream, BOOL clearDirty) = 0;         // 10
  virtual HRESULT LoadFromPropertyBag(IPropertyBag* bag, IErrorLog* log) = 0;  // 11
  virtual HRESULT SaveToPropertyBag(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) = 0;  // 12
};

// The DTM's documents and device pictures as FDT XML fragments.
struct IovFdtExtDocument : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A04");
  using Base = IDispatch;
  virtual HRESULT GetDocumentList(BSTR* list, BSTR deviceType) = 0;  // 7
  virtual HRESULT GetDeviceBitmap(BSTR* list, BSTR deviceType) = 0;  // 8
  virtual HRESULT GetDeviceIcon(BSTR* list, BSTR deviceType) = 0;    // 9
};

// The receiver of the changes that the frame reports from other DTMs (IFdtEvents::OnParameterChanged)
// beyond the parameter values: a device class that keeps channels offers it. 7 takes a changed
// parameter list, 8 a changed channel collection; each is the element's XML text.
struct IovFdtParameterChangeSink : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A43");
  using Base = IDispatch;
  virtual HRESULT OnParametersChanged(BSTR parameters) = 0;         // 7
  virtual HRESULT OnChannelCollectionChanged(BSTR channels) = 0;    // 8
};

// The DTM thread's calls back for single device data access.
struct IovSdaHandler : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A05");
  using Base = IDispatch;
  virtual HRESULT HandleItemListRequest(BSTR invokeId) = 0;   // 7
  virtual HRESULT HandleReadRequest(VARIANT packedRequest) = 0;   // 8
  virtual HRESULT HandleWriteRequest(VARIANT packedRequest) = 0;  // 9
  virtual HRESULT HandleCancelRequest(VARIANT argument) = 0;      // 10
};

// The function container: the DTM's functions and its open user interfaces.
struct IovFdtActiveXContainer : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A06");
  using Base = IDispatch;
  virtual HRESULT GetFunctionList(BSTR* elements) = 0;                                         // 7
  virtual HRESULT StartOrFinishFunction(BSTR invokeId, IUnknown* userInterface) = 0;           // 8
  virtual HRESULT NotifyStateChanged(ULONG state) = 0;                                         // 9
  virtual HRESULT ReportErrorToActiveX(LPCWSTR text) = 0;                                      // 10
  virtual HRESULT BroadcastToActiveX(VARIANT id, VARIANT argument) = 0;                        // 11
  virtual HRESULT CloseUserInterface(BSTR invokeId, VARIANT_BOOL* closed) = 0;                 // 12
  virtual HRESULT GetFunctionCallDocument(LONG functionId, BSTR* document) = 0;                // 13
  virtual HRESULT SetFunctionEnabled(LONG functionId, BOOL enabled) = 0;                       // 14
  virtual HRESULT ShowUserMessage(BSTR title, BSTR text, VARIANT flags, LONG* answer) = 0;     // 15
  virtual HRESULT CloseAllUserInterfaces(VARIANT_BOOL ask, VARIANT_BOOL* closed) = 0;          // 16
  virtual HRESULT ReadFunctionKeys() = 0;                                                      // 17
  virtual HRESULT ReadFunctionEntry(BSTR name, HKEY key, LONG functionId, VARIANT_BOOL* taken) = 0;  // 18
  virtual HRESULT GetFunctionText(BSTR defaultText, LONG functionId, BSTR field, BSTR* text) = 0;  // 19
  // Opens the user interface of one of the DTM's functions through the frame (*opened whether the
  // frame did).
  virtual HRESULT OpenUserInterface(LONG functionId, VARIANT_BOOL* opened) = 0;                    // 20
};

struct IovFdtActiveXManagement : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A07");
  using Base = IDispatch;
  virtual HRESULT StartFunction(BSTR invokeId, IUnknown* userInterface, ULONG flags) = 0;  // 7
  virtual HRESULT FunctionFinished(BSTR invokeId) = 0;                                    // 8
};

// The DTM thread object, reached only through a marshalled pointer.
struct IovFdtDtmThread : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A08");
  using Base = IDispatch;
  virtual HRESULT Execute(VARIANT job, VARIANT argument, VARIANT* result) = 0;             // 7
  virtual HRESULT Run() = 0;                                                               // 8
  virtual HRESULT SetUpdateRate(VARIANT milliseconds) = 0;                                 // 9
  virtual HRESULT ExecuteAsync(VARIANT job, VARIANT argument) = 0;                         // 10
  virtual HRESULT OnThreadEvent(VARIANT job, VARIANT argument, BOOL* handled) = 0;         // 11
  virtual HRESULT ProcessDownloadRequest(BSTR invokeId, BSTR parameters) = 0;              // 12
  virtual HRESULT ProcessUploadRequest(BSTR invokeId, BSTR parameters) = 0;                // 13
  virtual HRESULT GoOnline() = 0;                                                          // 14
  virtual HRESULT GoOffline() = 0;                                                         // 15
};

// Optional texts a device class may add to its parameter document; the framework asks the DTM
// object for them and, when it has neither, writes a single space. Asked first: the device text
// (inside DtmDevice, before the bus information) and an addition to the bus information.
struct IovFdtParameterDocumentExtension : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A0A");
  using Base = IDispatch;
  virtual HRESULT GetParameterDocumentTexts(BSTR* deviceText, BSTR* busInformationAddition) = 0;  // 7
};
// Asked only without the interface above: the device text alone.
struct IovFdtDtmExtension : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A0B");
  using Base = IDispatch;
  virtual HRESULT GetDeviceText(BSTR* deviceText) = 0;  // 7
};

// The program's own dispatch interface of the DTM class; it has no methods.
struct ISomeInterface : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8B7A30E2-5C41-4D0F-9A6E-3F2D1C0B4A09");
  using Base = IDispatch;
};
