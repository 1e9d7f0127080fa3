// CovFDT_BaseDTMImpl: the framework base of the DTM object. It carries the DTM's state and its
// state machine, the FDT interfaces the frame calls, the toolkit interface IovFdtBaseDTM that the
// user interfaces, the DTM thread and the device class use, the parameter handler, and the thread
// manager. The device class derives from it (CovFDT_BaseDTMImpl<CVornExampleDtm, ...>) and adds
// the communication client, the function container and the translation.
//
// The work sits in the class CovFDT_BaseDTMCore; the template over the device class ties it to
// the object it is part of and adds the XML document handler (the device class names its schema
// files). Every method runs on the DTM's apartment thread (calls from the DTM
// thread and workers arrive marshalled), so nothing here takes a lock; any wait inside a method
// may run other calls of the same thread, so no method holds an iterator across a call out.
//
// The FDT calls check their arguments and the DTM state here (a call in a state that does not
// admit it answers S_FALSE and changes nothing); what they do beyond that arrives with the
// lifecycle, persistence, document, message and data-access work and answers E_NOTIMPL until
// then.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "dtm/CovFDT_ExtDocumentMgr.h"
#include "dtm/CovFDT_ThreadManagerImpl.h"
#include "include/DtmInterfaces.h"
#include "include/FdtInterfaces.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/CovVAPacker.h"
#include "parameters/CovFDT_ParameterListImpl.h"
#include "include/IovFDTParamList.h"
#include "parameters/SaveRequestState.h"
#include "parameters/TransferLists.h"
#include "platform/platform.h"
#include "xml/CovFDTXMLHandlerImpl.h"

// The calls whose admission depends on the DTM state, and the test of a state against them.
enum class DtmCall {
  Environment,  // IDtm::Environment and IDtm2::Environment2
  InitNew,
  Config,
  SetCommunication,
  ReleaseCommunication,
  PrepareToReleaseCommunication,
  PrepareToDelete,
  PrepareToRelease,
  SetLanguage,
  PrivateDialogEnabled,
  SetSystemGuiLabel,
  TryToGoOnlineAndVerifyDevice,
};
bool IsCallAdmitted(DtmCall call, EDtmState state, bool fdt121Frame);

// The DTM state's name for the log ("dsCREATED" and so on); "?" outside the enumeration.
const char* DtmStateName(LONG state);

// The device status text of the status documents: "ok" 0, "warning" 1, "error" 2, "invalid" 3.
// E_POINTER for a null text, E_FAIL for another value.
HRESULT DeviceStatusText(ULONG status, BSTR* text);

struct IovFdtCommunicationClient4;

// A callback of a transfer group: (the DTM's parameter handler, its communication client, the
// group's first parameter id, ok).
using TransferGroupCallback = HRESULT (*)(IovFdtParameterHandler4* handler, IovFdtCommunicationClient4* client,
                                          VARIANT firstId, VARIANT_BOOL* ok);
// A registration of a parameter in a transfer group: parameters of one key travel in one list of
// their own between the group's callbacks. The mask says for which transfers it holds (bit 0x1 and
// 0x4 reading, 0x2 and 0x4 writing: a transfer uses mask 5 for reading and 6 for writing).
struct STransferGroupInfo {
  vkr::Variant id;
  vkr::Variant key;
  ULONG mask = 0;
  TransferGroupCallback before = nullptr;
  TransferGroupCallback onFailure = nullptr;
  TransferGroupCallback after = nullptr;
};
// One group of a transfer: the registration's key and callbacks and its ids in list order.
struct STransferGroup {
  vkr::Variant key;
  TransferGroupCallback before = nullptr;
  TransferGroupCallback onFailure = nullptr;
  TransferGroupCallback after = nullptr;
  std::vector<vkr::Variant> ids;
};

class CovFDT_BaseDTMCore : public IovFdtBaseDTM,
                           public IovFdtDtmEvents,
                           public IDtm,
                           public IDtm2,
                           public IDtmInformation,
                           public IDtmInformation2,
                           public IDtmParameter,
                           public IDtmOnlineParameter,
                           public IDtmDiagnosis,
                           public IDtmImportExport,
                           public IDtmOnlineDiagnosis,
                           public IFdtEvents,
                           public CovFDT_ParameterHandlerImpl,
                           public IovFdtStorageState,
                           public IPersistStreamInit,
                           public IPersistPropertyBag,
                           public CovFDT_ExtDocumentMgr,
                           public IDtmSingleDeviceDataAccess,
                           public IDtmSingleInstanceDataAccess,
                           public IovSdaHandler,
                           public CovFDT_ThreadManagerImpl,
                           public CovFDT_ParameterListImpl {
 public:
  // Timeouts of the DTM's waits, in milliseconds.
  static constexpr DWORD kVerificationTimeout = 30000;
  static constexpr DWORD kOnlineTimeout = 60000;
  static constexpr DWORD kShortTimeout = 1000;
  static constexpr LCID kDefaultLanguage = 1033;

  CovFDT_BaseDTMCore();
  ~CovFDT_BaseDTMCore() override;

  // For the object's QueryInterface: the base's interfaces, in the order of its map, with a
  // reference, then the parameter lists (IovFDTParamList). IDtmImportExport and
  // IDtmSingleDeviceDataAccess are implemented but not answered.
  HRESULT QueryBaseInterface(REFIID riid, void** ppv);

  // Final construction: language 1033 and its broadcast, the parameters from the device table,
  // state 1, the common controls, the translation file.
  HRESULT InitDtmObject();
  HRESULT InitUserInterface();

  // ---- IovFdtBaseDTM ----
  HRESULT SetDTMState(EDtmState state) override;
  HRESULT GetDTMState(EDtmState* state) override;
  HRESULT Broadcast(VARIANT id, VARIANT argument) override;
  HRESULT GetCurLanguageId(LCID* language) override;
  HRESULT GetSystemTag(BSTR* tag) override;
  HRESULT VerifySupportedLanguages(BSTR information, BSTR* result) override;
  HRESULT InternalGetDeviceStatus(ULONG* status) override;
  HRESULT DtmDiagnosisVerify(VARIANT_BOOL* result) override;
  HRESULT StopCollectInitError() override;
  HRESULT SendProgress(BSTR text, USHORT percent, USHORT mode) override;
  HRESULT OnDynamicParamChanged(BSTR key, const std::vector<SParamUpdateInfo>& list) override;
  HRESULT OnDevParResponse(VARIANT_BOOL success, VARIANT id, VARIANT data, BSTR errorText) override;
  HRESULT MergeDtmDocuments(BSTR information, BSTR* result) override;
  HRESULT EnvPart1(BSTR systemTag, IFdtContainer* container) override;
  HRESULT EnvPart2(IFdtContainer* container) override;
  HRESULT GetString(UINT id, BSTR* text) override;
  HRESULT IfOnlineStateChangeNotifyFrame(EDtmState previous, EDtmState current) override;
  HRESULT HandleDtmMsgAxInitialized(VARIANT argument) override;
  HRESULT HandleDtmMsgAxReleasedOrUpdateRateChanged(VARIANT key, ULONG id) override;
  HRESULT HandleDtmMsgLockDTM(VARIANT argument) override;
  HRESULT HandleDtmMsgErrorMessage(VARIANT argument) override;
  HRESULT HandleDtmMsgApplicationClosed(VARIANT argument) override;
  HRESULT HandleDtmMsgProgress(VARIANT argument) override;
  HRESULT HandleDtmMsgChannelFunctionChanged(VARIANT argument) override;
  HRESULT HandleDtmMsgUpDownload(VARIANT argument) override;
  HRESULT HandleDtmMsgUpload(VARIANT argument) override;
  HRESULT HandleDtmMsgRefreshOnlineCache(VARIANT argument) override;
  HRESULT HandleDtmMsgDownload(VARIANT argument) override;
  HRESULT HandleDtmMsgSwitchAuditTrail(VARIANT argument) override;
  HRESULT HandleDtmMsgUploadDeviceParams(VARIANT argument) override;
  HRESULT HandleDtmMsgProgressMessage(VARIANT argument) override;
  HRESULT HandleDtmMsgSubscription(ULONG id, VARIANT argument) override;
  HRESULT HandleSetDelaySaveRequest(VARIANT argument) override;
  HRESULT LockDataset(bool counted) override;
  HRESULT UnlockDataset() override;
  HRESULT UnlockDatasetWhenSaved() override;
  void OnError(const char* format, ...) override;
  bool CheckGoOffline() override;
  HRESULT HandleDtmMsgDeviceVerification(ULONG id, VARIANT argument) override;
  HRESULT CanInitNew(VARIANT_BOOL* proceed) override;
  HRESULT CanLoadDataSet(VARIANT_BOOL* proceed) override;
  HRESULT CanSaveDataSet(VARIANT_BOOL* proceed) override;
  HRESULT TranslateBaseDtmMessage(ULONG id, BSTR* text) override;
  HRESULT GetDefaultLanguageId(LCID* language) override;
  HRESULT SendFunctionEvent(const char* name, const char* text) override;
  HRESULT CheckUserLevel(VARIANT level) override;
  HRESULT UpdateProgress(ULONG done, ULONG total, BSTR text) override;
  HRESULT SendParamUpdateInfo(ULONG job, CovVAPacker& record) override;
  HRESULT SendVariableEvent(const char* name, VARIANT oldValue, VARIANT newValue, const char* text) override;
  HRESULT TryToGoOnlineAndVerifyDevice(DWORD onlineTimeout, DWORD verificationTimeout,
                                       VARIANT_BOOL* verified) override;
  HRESULT StartParameterUpdate() override;
  HRESULT StopParameterUpdate() override;
  HRESULT UpdateDTMState() override;
  HRESULT DelaySaveRequest(BOOL begin) override;
  HRESULT OnStateChangedParameters(bool* done) override;
  HRESULT InitAlternativeParamLists(BSTR source, BSTR parent, BSTR target) override;
  HRESULT ReInitDevTypeParamCollection(BSTR deviceType) override;
  HRESULT InitializeDeviceType(bool loaded) override;
  HRESULT UnInitializeDeviceType() override;
  HRESULT InternalSetDtmStateBeforeFrameNotify(EDtmState previous, EDtmState current) override;
  HRESULT InternalSetDtmStateAfterFrameNotify(EDtmState previous, EDtmState current) override;
  HRESULT NotifyFrameWhenOnlineStateChanged(EDtmState previous, EDtmState current) override;
  HRESULT StartOrStopParameterUpdateOnDtmStateChange(EDtmState previous, EDtmState current) override;
  bool CheckDeviceType(IXMLDOMNode* deviceType) override;
  BSTR DecodeDeviceTypeString(BSTR text) override;
  BSTR EncodeDeviceTypeString() override;
  HRESULT InitializeChannels() override;
  HRESULT UnInitializeChannels() override;
  HRESULT GetDevIdentInfoPath1(IXMLDOMDocument* deviceType, BSTR protocolId, BSTR* xpath) override;
  HRESULT GetDevIdentInfoPath2(IXMLDOMDocument* deviceType, BSTR protocolId, BSTR* xpath) override;
  HRESULT GetDevIdentInfoXml(IXMLDOMDocument* templates, BSTR xpath, BSTR* xml) override;
  HRESULT OnInitDeviceType() override;
  HRESULT OnUnInitDeviceType() override;
  // The parameter document (CovFDT_BaseDTMImpl_Parameters.cpp).
  HRESULT AddDtmVariableEntry(IXMLDOMDocument* document, IXMLDOMNode* group, const ParInfo& record) override;
  HRESULT AddDtmVariableValue(IXMLDOMDocument* document, IXMLDOMNode* variable, const ParInfo& record) override;
  HRESULT AddValueDisplay(IXMLDOMDocument* document, IXMLDOMNode* value, const ParInfo& record) override;
  HRESULT ImportExportedVariables(IXMLDOMDocument* document) override;

  // ---- IovFdtDtmEvents ----
  HRESULT DtmMessage(VARIANT id, VARIANT argument) override;

  // ---- IDtm ----
  HRESULT Environment(BSTR systemTag, IFdtContainer* container, VARIANT_BOOL* result) override;
  HRESULT InitNew(BSTR deviceType, VARIANT_BOOL* result) override;
  HRESULT Config(BSTR userInformation, VARIANT_BOOL* result) override;
  HRESULT SetCommunication(IFdtCommunication* communication, VARIANT_BOOL* result) override;
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;
  HRESULT PrepareToReleaseCommunication(VARIANT_BOOL* result) override;
  HRESULT ReleaseCommunication(VARIANT_BOOL* result) override;
  HRESULT PrepareToDelete(VARIANT_BOOL* result) override;
  HRESULT SetLanguage(LCID languageId, VARIANT_BOOL* result) override;
  HRESULT GetFunctions(BSTR operationPhase, BSTR* functions) override;
  HRESULT InvokeFunctionRequest(BSTR invokeId, BSTR functionCall, VARIANT_BOOL* invoked) override;
  HRESULT PrivateDialogEnabled(VARIANT_BOOL enabled, VARIANT_BOOL* result) override;
  // ---- IDtm2 ----
  HRESULT Environment2(BSTR systemTag, IFdtContainer* container, BSTR frameVersion, VARIANT_BOOL* result) override;
  HRESULT SetSystemGuiLabel(BSTR label, VARIANT_BOOL* result) override;
  // ---- IDtmInformation, IDtmInformation2 ----
  HRESULT GetInformation(BSTR request, BSTR* information) override;
  HRESULT GetDeviceIdentificationInformation(BSTR deviceType, BSTR protocolId, BSTR* result) override;
  // ---- IDtmParameter ----
  HRESULT GetParameters(BSTR parameterPath, BSTR* document) override;
  HRESULT SetParameters(BSTR parameterPath, BSTR document, VARIANT_BOOL* result) override;
  // ---- IDtmOnlineParameter ----
  HRESULT CancelAction(BSTR invokeId, VARIANT_BOOL* result) override;
  HRESULT DownloadRequest(BSTR invokeId, BSTR parameterPath, VARIANT_BOOL* result) override;
  HRESULT UploadRequest(BSTR invokeId, BSTR parameterPath, VARIANT_BOOL* result) override;
  // ---- IovFdtOnlineParameter: the transfers the DTM thread runs for jobs 3 and 4 ----
  // Upload: the upload list through DTM message 53 under the data-set lock, relations rebuilt
  // after every attempt, data-set state "all data loaded" on success, broadcast 0x271C. Download:
  // the download list, state 3 on success, broadcast 0x271D. ok tells the outcome; E_ABORT when
  // the transfer was cancelled (or the cancel flag stood at the start).
  HRESULT UploadParameterList(BSTR parameterList, BSTR invokeId, VARIANT_BOOL* ok) override;
  HRESULT DownloadParameterList(BSTR parameterList, BSTR invokeId, VARIANT_BOOL* ok) override;
  // The name of the upload (download) list in *name, the list made first when it is missing: every
  // device parameter whose flag word has 0x40 and 0x10 (0x20).
  HRESULT BuildUploadList(VARIANT* name);
  HRESULT BuildDownloadList(VARIANT* name);
  // The transfer core: the members of the list (a list argument of IovFDTParamList) are told the
  // transfer starts (callback kind 1 or 3), split into plain ids and transfer groups, sent to the
  // communication client as temporary lists (always taken back), and told it ended (kind 2 or 4)
  // when all of it succeeded. flag goes to the client: TRUE takes the values into the data set.
  HRESULT UploadParameters(VARIANT list, BSTR invokeId, VARIANT_BOOL flag);
  HRESULT DownloadParameters(VARIANT list, BSTR invokeId, VARIANT_BOOL flag);
  // The same with the audit trail switched off around it (DTM message 52) and flag TRUE.
  HRESULT UploadParametersAudited(VARIANT list, BSTR invokeId, VARIANT_BOOL* ok);
  HRESULT DownloadParametersAudited(VARIANT list, BSTR invokeId, VARIANT_BOOL* ok);
  // Reads the list's device values without taking them into the data set.
  HRESULT RefreshParameters(VARIANT list, BSTR text, VARIANT_BOOL* ok);
  HRESULT DoRefreshOnlineCache(VARIANT list, BSTR text, VARIANT_BOOL* ok);
  HRESULT SplitTransferList(VARIANT list, ULONG mask, std::vector<vkr::Variant>* plain,
                            std::vector<STransferGroup>* groups);
  // A new GUID-named list holding the ids; its name in *request.
  HRESULT CreateTransferList(const std::vector<vkr::Variant>& ids, VARIANT* request);
  // The handler's transfer-group registrations (none by default).
  std::vector<STransferGroupInfo> m_transferGroups;
  // Read by the relation evaluation: a list transfer runs; an upload was handed to message 53 and
  // its relations are not rebuilt yet.
  bool m_bTransferActive = false;
  bool m_bUploadPending = false;
  // ---- IDtmDiagnosis ----
  HRESULT Compare(VARIANT_BOOL* result) override;
  HRESULT InitCompare(BSTR systemTag, VARIANT_BOOL* result) override;
  HRESULT ReleaseCompare(VARIANT_BOOL* result) override;
  HRESULT Verify(VARIANT_BOOL* result) override;
  // ---- IDtmImportExport ----
  HRESULT Import(IStream* stream, VARIANT_BOOL* result) override;
  HRESULT Export(IStream* stream, VARIANT_BOOL* result) override;
  // ---- IDtmOnlineDiagnosis ----
  HRESULT Compare(BSTR* result) override;
  HRESULT GetDeviceStatus(BSTR* document) override;
  // ---- IFdtEvents (CovFDT_FdtEventsImpl.cpp) ----
  // Another DTM's changed parameters are taken into the data set (the document's PARAMETERS), its
  // channel changes go to the parameter-change sink; the frame's lock of the data set for another
  // party is marked (no lock is asked of the frame meanwhile) and told to the user interfaces,
  // and its end lets the DTM lock again when its own operations still hold the data set.
  HRESULT OnChildParameterChanged(BSTR systemTag, BSTR document) override;
  HRESULT OnParameterChanged(BSTR systemTag, BSTR document) override;
  HRESULT OnDataSetLocked(BSTR systemTag) override;
  HRESULT OnDataSetUnlocked(BSTR systemTag, VARIANT_BOOL* done) override;
  // ---- IovFdtStorageState ----
  HRESULT SetDataSetStateFromFrame(ULONG state) override;
  HRESULT GetStorageStateValue(ULONG* state) override;
  HRESULT LoadFromStream(IStream* stream) override;
  HRESULT SaveToStream(IStream* stream, BOOL clearDirty) override;
  HRESULT LoadFromPropertyBag(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT SaveToPropertyBag(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
  // ---- IPersistStreamInit, IPersistPropertyBag ----
  HRESULT IsDirty() override;
  HRESULT Load(IStream* stream) override;
  HRESULT Save(IStream* stream, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT InitNew() override;
  HRESULT Load(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;
  // ---- IDtmSingleDeviceDataAccess, IDtmSingleInstanceDataAccess, IovSdaHandler ----
  HRESULT CancelRequest(BSTR invokeId, VARIANT_BOOL* result) override;
  HRESULT ItemListRequest(BSTR invokeId) override;
  HRESULT ReadRequest(BSTR invokeId, BSTR itemSelectionList) override;
  HRESULT WriteRequest(BSTR invokeId, BSTR itemList) override;
  HRESULT GetItemList(BSTR* itemList) override;
  HRESULT Read(BSTR itemSelectionList, BSTR* itemList) override;
  HRESULT Write(BSTR itemList, BSTR* answer) override;
  HRESULT HandleItemListRequest(BSTR invokeId) override;
  HRESULT HandleReadRequest(VARIANT packedRequest) override;
  HRESULT HandleWriteRequest(VARIANT packedRequest) override;
  HRESULT HandleCancelRequest(VARIANT argument) override;
  // One DtmItemInfo element of the item list for the record (CovFDT_BaseDTMImpl_DataAccess.cpp);
  // S_FALSE for a null entry, a failure of the data-type word or of a text.
  HRESULT CreateItemListEntry(const ParInfo& record, BSTR* entry);

  // What the parameter handler asks of the DTM (its site). Marking the data set modified also makes
  // it dirty.
  HRESULT SetDataSetModified(BOOL modified);
  // The data set differs from its saved form (dirty, transient) or no longer does (clean,
  // persistent).
  void MarkDataSetChanged() {
    m_bDirty = true;
    m_nStorageState = 1;
  }
  void MarkDataSetSaved() {
    m_bDirty = false;
    m_nStorageState = 0;
  }
  // Registers the relations of every parameter with the handler's relation building raised, then
  // applies each registered relation once. The build's failure, else S_OK.
  HRESULT RebuildAllRelations();
  // The communication client's side for the parameter handler; null without one. The device
  // class hands out its communication client.
  virtual IovFdtParameterCommunication* ParameterCommunication() { return nullptr; }

  // ---- The data set (CovFDT_BaseDTMImpl_Persistence.cpp) ----
  // done is set false on entry and true only on full success. A load reads the whole data set
  // before it changes anything: a refused data set leaves the DTM as it was.
  HRESULT InitNewDtm(VARIANT_BOOL* done);
  HRESULT SaveDtm(IStream* stream, VARIANT_BOOL* done);
  HRESULT LoadDtm(IStream* stream, VARIANT_BOOL* done);
  // The device class's own section after the framework's; the defaults write and read nothing.
  virtual HRESULT OnInitNewDtm(VARIANT_BOOL* done);
  virtual HRESULT OnLoadDtm(IStream* stream, VARIANT_BOOL* done);
  virtual HRESULT OnSaveDtm(IStream* stream, VARIANT_BOOL* done);
  // The format version string "{00000000-XXXX-XXXX-0000-000000000000}" around the DTM's format
  // information (the framework's is 0).
  virtual HRESULT GetFormatVersionString(BSTR* out);
  virtual HRESULT AnalyzeFormatVersionString(BSTR text);
  virtual HRESULT GetDtmFormatInfo(DWORD* info);
  virtual HRESULT AnalyzeDtmFormatInfo(DWORD info);
  // ---- The DTM information (CovFDT_BaseDTMImpl_Information.cpp) ----
  // The module whose resources hold the document templates and the string table: the one the
  // device class is built into.
  virtual HMODULE ResourceModule() = 0;
  // The DTM information template for the frame's FDT version (1.2 or 1.2.1); E_FAIL when the
  // module has none.
  HRESULT GetInformationTemplate(BSTR* text);
  // Loads one of the DTM's own documents or the frame's device-type document, validated with the
  // DTM's schema cache (LoadDtmDocument).
  virtual HRESULT LoadInformationDocument(BSTR text, IXMLDOMDocument2** document, VARIANT_BOOL* loaded);
  // ---- Import and export of parameter values ----
  // The parameter list text of the export (persisted parameters, with progress), and the import of
  // one; the parameter handler's.
  virtual HRESULT BuildExportDocument(BSTR* text);
  virtual HRESULT ImportParameterText(BSTR text);
  // The parameter list text of the parameter-changed document: the persisted parameters with the
  // export flag.
  virtual HRESULT BuildParameterChangedText(BSTR* text);
  // ---- The parameter document ----
  // Adds the exported variable of the record under group: first the nested groups its export group
  // path names (segments split at " .,:;/", an existing group of the same name reused), then
  // AddDtmVariableEntry in the innermost. E_POINTER for a null document or group.
  HRESULT AddExportedVariable(IXMLDOMDocument* document, IXMLDOMNode* group, const ParInfo& record);
  // The handler's progress threshold is the DTM's.
  void ResetProgressThreshold() override { m_nProgressThreshold = 0; }
  // Adds each descriptor of source whose id the handler does not hold yet.
  HRESULT AddMissingParameters(CParamCollection* source);

  // What the communication client reads of the DTM core: the verification event and wait time,
  // whether bus information is written per protocol (FDT 1.2.1 frames), and whether its protocol
  // objects are attached, so that dropping the channel detaches them.
  HANDLE GetVerificationEvent() const { return m_hVerificationDone; }
  DWORD GetVerificationTimeout() const { return m_dwVerificationTimeout; }
  bool IsExtendedBusInformation() const { return m_bExtendedBusInformation; }
  bool AreProtocolsAttached() const { return m_bProtocolsAttached; }
  void SetProtocolsAttached(bool attached) { m_bProtocolsAttached = attached; }

  // What the function container asks of the DTM.
  bool HasFrameContainer() const { return static_cast<bool>(m_pContainer); }
  bool IsAnnouncingOff() const { return m_bAnnouncingOff; }
  IFdtContainer* FunctionFrameContainer() const { return m_pContainer.Get(); }
  ULONG FunctionUserLevel() const { return m_nUserLevel; }
  ULONG FunctionOperationPhase() const { return m_nOperationPhase; }
  BSTR FunctionStartupText() const { return m_bstrStartupText.Get(); }
  bool PrivateDialogFlag() const { return m_bPrivateDialog; }
  BSTR DocumentFolder() const { return m_bstrDocumentFolder.Get(); }
  bool IsDataSetLockedByFrame() const { return m_bDataSetLocked; }

 protected:
  // The object this base is part of (its controlling unknown).
  virtual IUnknown* GetDtmUnknown() = 0;
  // The object itself asked for an interface (null when it does not answer).
  template <class Q>
  vkr::ComPtr<Q> QueryDtm() {
    vkr::ComPtr<Q> q;
    GetDtmUnknown()->QueryInterface(Q::iid, q.PutVoid());
    return q;
  }
  // The thread manager's view of this object.
  IUnknown* GetThreadManagerDtm() override { return GetDtmUnknown(); }
  IFdtContainer* GetThreadManagerFrame() override { return m_pContainer.Get(); }

  // Writes "CovFDT_BaseDTMImpl::<name>()" to the log.
  static void LogEntry(const char* name);
  // A message argument as a flag (VariantChangeType to VT_BOOL).
  static HRESULT VariantToBool(const VARIANT& in, bool* out);

  // The comparison of the data set with the device (CovFDT_BaseDTMImpl_Diagnosis.cpp); a device
  // class may replace them. A read failure is no HRESULT failure: it sets the error text (the
  // document's CommunicationError element). The list comparison leaves *equal as it is when no
  // member is compared, and does nothing once *errorText is set or *equal is 0.
  virtual HRESULT CompareAllParameters(BSTR* errorText, VARIANT_BOOL* equal);
  // Tells the frame that the parameter of the data set differs from what the device holds.
  void ReportDifference(const ParInfo& record, const char* from = "the device");
  virtual HRESULT CompareParListParameters(VARIANT listKey, BSTR* errorText, VARIANT_BOOL* equal);
  // Whether reading a parameter at this address makes the device act (a self test, a reset): the
  // status walk and the comparisons never read one. The protocol knows; the device class asks it.
  virtual bool IsActingRead(const VARIANT& address) {
    (void)address;
    return false;
  }
  // The list IDtmOnlineDiagnosis::Compare compares; VT_EMPTY compares every parameter.
  vkr::Variant m_vCompareListId;
  // The comparison partner of IDtmDiagnosis: another DTM of the project, held from InitCompare to
  // ReleaseCompare, and whether its Compare is running (ReleaseCompare then waits its turn).
  bool m_bCompareInitialized = false;
  bool m_bCompareRunning = false;
  vkr::Bstr m_bstrCompareSystemTag;
  vkr::ComPtr<IovFdtParameterInfo> m_pCompareParamInfo;

  // Fills the parameter handler from the device parameter table.
  virtual HRESULT FillParameterTable();
  // Initialises the parameter table of the communication client's current protocol; S_FALSE
  // when there is no protocol. The device class hands it to its communication client.
  virtual HRESULT InitializeCommunicationProtocol();
  // Asks the open user interface with this key for an information item; E_FAIL when none is
  // open. The device class hands it to its function container.
  virtual HRESULT GetUserInterfaceInfo(BSTR key, ULONG infoId, VARIANT* value);
  // The name and the handler of a function without user interface; E_FAIL when the DTM has no
  // such function. The device class hands it to its function container.
  virtual HRESULT FindFunctionHandler(LONG functionId, std::string* name, HRESULT (**handler)(IUnknown*));
  // Sets the current operation phase from its word (a VT_BSTR); other words change nothing.
  HRESULT CheckOperationPhase(VARIANT phase);
  // Removes and recreates "WORKING_COPY" and the dialog copies of the existing lists.
  HRESULT PrepareWorkingCopies(IovFDTParamList* lists);

  // The state and the frame's calls.
  EDtmState m_eDtmState = dsUNDEFINED;
  LCID m_lcid = 0;
  vkr::Bstr m_bstrSystemTag;
  // The frame's schema directory the DTM's documents are validated with (Environment).
  std::u16string m_schemaDirectory;
  // The information document with the translation's `count` languages in each device type.
  HRESULT BuildSupportedLanguages(BSTR information, struct IovFdtTranslation* translation, LONG count, BSTR* result);
  vkr::Bstr m_bstrSystemGuiLabel;
  vkr::Bstr m_bstrStartupText;     // handed to a starting user interface (0x270C)
  vkr::Bstr m_bstrDocumentFolder;  // where the DTM's documents are
  vkr::Variant m_vFrameVersion;
  vkr::Bstr m_bstrEnvironmentData;

  // The state-settled event (manual reset: signalled in 9 and 12, reset in 10 and 11), the
  // device-verification event (manual reset: reset before going online and on reaching 8, set by
  // the communication client after the verification), and the progress event (manual reset,
  // created set).
  HANDLE m_hStateSettled = nullptr;
  HANDLE m_hVerificationDone = nullptr;
  HANDLE m_hProgressDone = nullptr;

  DWORD m_dwVerificationTimeout = kVerificationTimeout;
  DWORD m_dwOnlineTimeout = kOnlineTimeout;
  DWORD m_dwShortTimeout = kShortTimeout;

  bool m_bGoOnlineOnSetCommunication = true;
  bool m_bDataSetLoaded = false;
  bool m_bReleasing = false;
  bool m_bAnnouncingOff = false;     // SetFunctionEnabled tells the frame nothing
  bool m_bRebuildFunctions = false;  // the function list is rebuilt before it is next given
  bool m_bFdt121Frame = false;
  // Set with the FDT 1.2.1 flag by IDtm2::Environment2.
  bool m_bExtendedBusInformation = false;
  // Set by the communication client while its protocol objects are attached to this DTM (each
  // then holds a reference to it); dropping the channel detaches them when it is set.
  bool m_bProtocolsAttached = false;
  bool m_bCollectInitErrors = true;
  std::vector<std::string> m_vecInitErrors;
  // The user's level (1 observer, 2 operator, 4 maintenance, 8 planning engineer): an observer
  // until IDtm::Config tells otherwise.
  ULONG m_nUserLevel = 1;
  ULONG m_nOperationPhase = 0;

  // The user interfaces' cyclic-read subscriptions, by user-interface key.
  struct KeyLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
  };
  std::map<std::u16string, std::vector<SParamUpdateInfo>, KeyLess> m_subscriptions;

  vkr::Bstr m_bstrDeviceType;
  vkr::Bstr m_bstrDecodedDeviceType;
  vkr::ComPtr<IFdtContainer> m_pContainer;
  vkr::ComPtr<IDtmEvents> m_pDtmEvents;
  vkr::ComPtr<IFrameDtmStateEvents> m_pFdt121Events;
  bool m_bPrivateDialog = false;

  // The data-set lock: nested counted locks of the DTM's own operations; whether the frame granted
  // its lock; whether the frame's lock is to be given back once the data set is saved; whether the
  // frame reported the data set locked (then no lock is asked of it).
  ULONG m_nLockCount = 0;
  bool m_bDataSetLocked = false;
  bool m_bUnlockPending = false;
  bool m_bFrameReportedLock = false;

  // UpdateProgress reports when the percentage passes the threshold, which then moves on by the
  // step; the operation that reports sets both before it starts.
  LONG m_nProgressThreshold = 0;
  LONG m_nProgressStep = 0;

  // What the last communication error said, for the frame's state documents.
  bool m_bCommErrorDescriptor = false;
  vkr::Bstr m_bstrCommErrorDescriptor;
  bool m_bCommErrorCode = false;
  vkr::Bstr m_bstrCommErrorCode;

  // The number of running functions and open user interfaces; the device class asks its function
  // container. The framework alone has none.
  virtual HRESULT GetRunningFunctionCount(ULONG* count);
  // The DTM's validating document handler (the template's): the schema cache from the frame's
  // schema directory, and a load validated against it. E_NOTIMPL without a handler.
  virtual HRESULT InitializeDtmSchemaCache(BSTR directory);
  virtual HRESULT LoadDtmDocument(BSTR text, IXMLDOMDocument2** document, VARIANT_BOOL* loaded);
  // Runs the job with a new manual-reset event (VT_UI4) as its argument and waits for the event up
  // to timeout, serving messages; when the job could not run nobody would signal it, so there is no
  // wait. The job's result.
  HRESULT RunJobAndWait(ULONG job, DWORD timeout);

 private:
  // The parameter handler's view of the DTM: it forwards to this object.
  class ParameterSite final : public IovFdtParameterHandlerSite,
                              public IovFdtParameterDtmEvents,
                              public IovFdtParameterBroadcast {
   public:
    explicit ParameterSite(CovFDT_BaseDTMCore* dtm) : m_dtm(dtm) {}
    EDtmState GetDtmState() override { return m_dtm->m_eDtmState; }
    LCID GetLanguage() override { return m_dtm->m_lcid; }
    IovFdtParameterCommunication* GetCommunicationClient() override { return m_dtm->ParameterCommunication(); }
    IovFdtParameterDtmEvents* GetDtmEvents() override { return this; }
    // The open user interfaces, through the function container; with none open the handler has
    // nobody to tell and builds nothing (this check is all a stored value costs then).
    IovFdtParameterBroadcast* GetActiveXContainer() override {
      ULONG open = 0;
      return SUCCEEDED(m_dtm->GetRunningFunctionCount(&open)) && open > 0 ? this : nullptr;
    }
    HRESULT NotifyActiveXContainer(VARIANT event, VARIANT id, VARIANT argument) override;
    HRESULT ReportParameterError(VARIANT id, VARIANT data, BSTR errorText) override;
    IovFDTParamList* GetParamList() override { return static_cast<CovFDT_ParameterListImpl*>(m_dtm); }
    HRESULT SendVariableEvent(LPCSTR, VARIANT, VARIANT) override { return E_NOTIMPL; }
    HRESULT DelaySaveRequest(BOOL begin) override { return m_dtm->DelaySaveRequest(begin); }
    HRESULT SetDataSetModified(BOOL modified) override { return m_dtm->SetDataSetModified(modified); }
    void OnPersistedValueChanged() override { m_dtm->MarkDataSetChanged(); }
    void OnError(LPCSTR text) override {
      if (text && *text) m_dtm->OnError("%s", text);
    }
    HRESULT DtmMessage(VARIANT id, VARIANT argument) override { return m_dtm->DtmMessage(id, argument); }

   private:
    CovFDT_BaseDTMCore* m_dtm;
  };
  ParameterSite m_site{this};

  // The save-request state's view of the DTM.
  class SaveSite final : public ISaveRequestSite {
   public:
    explicit SaveSite(CovFDT_BaseDTMCore* dtm) : m_dtm(dtm) {}
    EDtmState GetDtmState() override { return m_dtm->m_eDtmState; }
    HRESULT GetSystemTag(BSTR* tag) override { return m_dtm->GetSystemTag(tag); }
    bool HasFrameContainer() override { return m_dtm->HasFrameContainer(); }
    HRESULT SaveRequest(BSTR tag) override;
    HRESULT GetParameterDocumentText(BSTR* text) override { return m_dtm->BuildParameterChangedText(text); }
    HRESULT PostParameterChanged(BSTR document) override;

   private:
    CovFDT_BaseDTMCore* m_dtm;
  };
  SaveSite m_saveSite{this};
  CSaveRequestState m_saveRequest;

  // A data set read but not yet taken (see LoadDtm): its device type and what that decodes to
  // (null: the parameters stay those of the DTM), the parameter table of a decoded device type
  // (which the values were read against), the values and status words, the data-set state.
  struct LoadedDataSet {
    vkr::Bstr deviceType;
    vkr::Bstr decodedDeviceType;
    CParamCollection table;
    CParamCollection parameters;
    ULONG dataSetState = 0;
  };
  // Reads the whole data set and changes nothing of the DTM.
  HRESULT ReadDtm(IStream* stream, LoadedDataSet* loaded);
  // Takes a data set that read completely: rebuilds the parameters of its device type, takes the
  // values, the device type and the data-set state, and leaves the data set clean. All or
  // nothing: a failure puts the parameters, the dirty flag and the storage state back.
  HRESULT CommitDtm(LoadedDataSet* loaded);
  // After a save that succeeded: the data set is unmodified, clean when the save clears the dirt,
  // and a lock of the frame that waited for the save is given back.
  void FinishSave(BOOL clearDirty);
  // The data set, with the stream form's trailer when asked, built in memory.
  HRESULT SaveDtmToMemory(bool trailer, vkr::ComPtr<IStream>* out);
  // Whether the DTM state admits the persistence call (load: 1 or 3; save: 8 to 12).
  bool CanLoadInState() const;
  bool CanSaveInState() const;

  // The data set: dirty flag and storage state (0 persistent, 1 transient). Both say whether the
  // data set differs from what the frame last saved or loaded: dirty and transient from InitNew
  // and from any change of a persisted value or of the data-set state, clean and persistent after
  // a load or a save that clears the dirt.
  bool m_bDirty = false;
  BYTE m_nStorageState = 1;

  // The common steps of the FDT calls with a result flag: the null check (errorForNull), the
  // flag cleared, and the admission of the state. S_OK when the call may go on.
  HRESULT Admit(DtmCall call, VARIANT_BOOL* result, HRESULT errorForNull);
  HRESULT StartWorker(CWorker* worker);
  // The entry of the online diagnosis calls: waits out going offline; S_FALSE for an observer or
  // a state that is neither 9, 10 nor 12; else tries to go online and says whether the device was
  // verified.
  HRESULT AdmitOnlineDiagnosis(bool* verified);
  // The id of the identification template of the device type in the frame's device-type
  // document when it is one this DTM announces in its information document (the same GUID, or
  // without GUIDs the same name, vendor and version where given); empty otherwise.
  std::u16string OwnDeviceTypeTemplateId(IXMLDOMDocument* deviceType);
  // The frame's topology, through which the comparison partner is had; null without one.
  vkr::ComPtr<IFdtTopology> FrameTopology();
  HRESULT ComparePartner(VARIANT_BOOL* result);
  // The frame's upload and download requests (one road, the upload with the audit-trail switch).
  HRESULT OnlineParameterRequest(bool upload, BSTR invokeId, BSTR parameterPath, VARIANT_BOOL* result);
  // Packs the request and runs job 3 or 4 on the DTM thread.
  HRESULT SendOnlineParamInfo(ULONG job, BSTR invokeId, BSTR parameterPath);
  HRESULT BuildTransferList(const char16_t* listName, ULONG listFlag, VARIANT* out);
  HRESULT TransferAudited(bool upload, VARIANT list, BSTR invokeId, VARIANT_BOOL* ok);
  HRESULT TransferParameters(bool upload, VARIANT list, BSTR invokeId, VARIANT_BOOL flag);
  // Single device data access. The checks of a read or write request on the device, going online,
  // and the request handed to the DTM thread as job 25 or 26.
  HRESULT DeviceDataRequest(ULONG job, BSTR invokeId, BSTR document);
  // The item-info list of the listed parameters; the collection count's failure (the document
  // then holds head and tail).
  HRESULT BuildItemInfoList(std::u16string* document);
  // Hands an answer to the frame's IDtmSingleDeviceDataAccessEvents; S_OK without one.
  enum class DataAccessAnswer { ItemList, Read, Write };
  HRESULT SendDataAccessResponse(DataAccessAnswer kind, BSTR invokeId, const std::u16string& document);
  HRESULT NotifyListMembers(const VARIANT& ids, ParameterCallbackKind kind);
};

// The XML handler is the template's part: its error texts go to the DTM's OnError.
template <class T, const CLSID* pclsid, const CLSID* pclsidThread>
class CovFDT_BaseDTMImpl : public CovFDT_BaseDTMCore, public CovFDTXMLHandlerImpl<T> {
 public:
  static const CLSID& DtmClassId() { return *pclsid; }
  static const CLSID& ThreadClassId() { return *pclsidThread; }

  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = *pclsid;
    return S_OK;
  }

 protected:
  IUnknown* GetDtmUnknown() override { return static_cast<T*>(this)->GetControllingUnknown(); }
  const CLSID& GetDtmThreadClassId() override { return *pclsidThread; }
  HRESULT InitializeDtmSchemaCache(BSTR directory) override {
    return CovFDTXMLHandlerImpl<T>::InitializeSchemaCache(directory);
  }
  HRESULT LoadDtmDocument(BSTR text, IXMLDOMDocument2** document, VARIANT_BOOL* loaded) override {
    return CovFDTXMLHandlerImpl<T>::LoadXMLDocument(text, document, loaded);
  }
};
