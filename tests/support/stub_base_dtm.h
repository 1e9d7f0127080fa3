// Every operation of the DTM's IovFdtBaseDTM (VKR_STUB_BASE_DTM) and of the parameter handler's
// IovFdtParameterHandler4 (VKR_STUB_PARAMETER_HANDLER) failing with E_NOTIMPL (false or null where
// it answers no HRESULT), for test fakes that implement them and override what they need.
#pragma once

#include "include/DtmInterfaces.h"
#include "include/ParameterHandlerInterfaces.h"

// clang-format off
#define VKR_STUB_BASE_DTM \
  HRESULT SetDTMState(EDtmState) override { return E_NOTIMPL; } \
  HRESULT GetDTMState(EDtmState*) override { return E_NOTIMPL; } \
  HRESULT Broadcast(VARIANT, VARIANT) override { return E_NOTIMPL; } \
  HRESULT GetCurLanguageId(LCID*) override { return E_NOTIMPL; } \
  HRESULT GetSystemTag(BSTR*) override { return E_NOTIMPL; } \
  HRESULT VerifySupportedLanguages(BSTR, BSTR*) override { return E_NOTIMPL; } \
  HRESULT InternalGetDeviceStatus(ULONG*) override { return E_NOTIMPL; } \
  HRESULT DtmDiagnosisVerify(VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT StopCollectInitError() override { return E_NOTIMPL; } \
  HRESULT SendProgress(BSTR, USHORT, USHORT) override { return E_NOTIMPL; } \
  HRESULT OnDynamicParamChanged(BSTR, const std::vector<SParamUpdateInfo>&) override { return E_NOTIMPL; } \
  HRESULT OnDevParResponse(VARIANT_BOOL, VARIANT, VARIANT, BSTR) override { return E_NOTIMPL; } \
  HRESULT MergeDtmDocuments(BSTR, BSTR*) override { return E_NOTIMPL; } \
  HRESULT EnvPart1(BSTR, IFdtContainer*) override { return E_NOTIMPL; } \
  HRESULT EnvPart2(IFdtContainer*) override { return E_NOTIMPL; } \
  HRESULT GetString(UINT, BSTR*) override { return E_NOTIMPL; } \
  HRESULT IfOnlineStateChangeNotifyFrame(EDtmState, EDtmState) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgAxInitialized(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgAxReleasedOrUpdateRateChanged(VARIANT, ULONG) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgLockDTM(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgErrorMessage(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgApplicationClosed(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgProgress(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgChannelFunctionChanged(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgUpDownload(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgUpload(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgRefreshOnlineCache(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgDownload(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgSwitchAuditTrail(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgUploadDeviceParams(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgProgressMessage(VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleDtmMsgSubscription(ULONG, VARIANT) override { return E_NOTIMPL; } \
  HRESULT HandleSetDelaySaveRequest(VARIANT) override { return E_NOTIMPL; } \
  HRESULT LockDataset(bool) override { return E_NOTIMPL; } \
  HRESULT UnlockDataset() override { return E_NOTIMPL; } \
  HRESULT UnlockDatasetWhenSaved() override { return E_NOTIMPL; } \
  void OnError(const char*, ...) override {  } \
  bool CheckGoOffline() override { return false; } \
  HRESULT HandleDtmMsgDeviceVerification(ULONG, VARIANT) override { return E_NOTIMPL; } \
  HRESULT CanInitNew(VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT CanLoadDataSet(VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT CanSaveDataSet(VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT TranslateBaseDtmMessage(ULONG, BSTR*) override { return E_NOTIMPL; } \
  HRESULT GetDefaultLanguageId(LCID*) override { return E_NOTIMPL; } \
  HRESULT SendFunctionEvent(const char*, const char*) override { return E_NOTIMPL; } \
  HRESULT CheckUserLevel(VARIANT) override { return E_NOTIMPL; } \
  HRESULT UpdateProgress(ULONG, ULONG, BSTR) override { return E_NOTIMPL; } \
  HRESULT SendParamUpdateInfo(ULONG, CovVAPacker&) override { return E_NOTIMPL; } \
  HRESULT SendVariableEvent(const char*, VARIANT, VARIANT, const char*) override { return E_NOTIMPL; } \
  HRESULT TryToGoOnlineAndVerifyDevice(DWORD, DWORD, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT StartParameterUpdate() override { return E_NOTIMPL; } \
  HRESULT StopParameterUpdate() override { return E_NOTIMPL; } \
  HRESULT UpdateDTMState() override { return E_NOTIMPL; } \
  HRESULT DelaySaveRequest(BOOL) override { return E_NOTIMPL; } \
  HRESULT OnStateChangedParameters(bool*) override { return E_NOTIMPL; } \
  HRESULT InitAlternativeParamLists(BSTR, BSTR, BSTR) override { return E_NOTIMPL; } \
  HRESULT ReInitDevTypeParamCollection(BSTR) override { return E_NOTIMPL; } \
  HRESULT InitializeDeviceType(bool) override { return E_NOTIMPL; } \
  HRESULT UnInitializeDeviceType() override { return E_NOTIMPL; } \
  HRESULT InternalSetDtmStateBeforeFrameNotify(EDtmState, EDtmState) override { return E_NOTIMPL; } \
  HRESULT InternalSetDtmStateAfterFrameNotify(EDtmState, EDtmState) override { return E_NOTIMPL; } \
  HRESULT NotifyFrameWhenOnlineStateChanged(EDtmState, EDtmState) override { return E_NOTIMPL; } \
  HRESULT StartOrStopParameterUpdateOnDtmStateChange(EDtmState, EDtmState) override { return E_NOTIMPL; } \
  bool CheckDeviceType(IXMLDOMNode*) override { return false; } \
  BSTR DecodeDeviceTypeString(BSTR) override { return nullptr; } \
  BSTR EncodeDeviceTypeString() override { return nullptr; } \
  HRESULT InitializeChannels() override { return E_NOTIMPL; } \
  HRESULT UnInitializeChannels() override { return E_NOTIMPL; } \
  HRESULT GetDevIdentInfoPath1(IXMLDOMDocument*, BSTR, BSTR*) override { return E_NOTIMPL; } \
  HRESULT GetDevIdentInfoPath2(IXMLDOMDocument*, BSTR, BSTR*) override { return E_NOTIMPL; } \
  HRESULT GetDevIdentInfoXml(IXMLDOMDocument*, BSTR, BSTR*) override { return E_NOTIMPL; } \
  HRESULT OnInitDeviceType() override { return E_NOTIMPL; } \
  HRESULT OnUnInitDeviceType() override { return E_NOTIMPL; } \
  HRESULT AddDtmVariableEntry(IXMLDOMDocument*, IXMLDOMNode*, const ParInfo&) override { return E_NOTIMPL; } \
  HRESULT AddDtmVariableValue(IXMLDOMDocument*, IXMLDOMNode*, const ParInfo&) override { return E_NOTIMPL; } \
  HRESULT AddValueDisplay(IXMLDOMDocument*, IXMLDOMNode*, const ParInfo&) override { return E_NOTIMPL; } \
  HRESULT ImportExportedVariables(IXMLDOMDocument*) override { return E_NOTIMPL; }

#define VKR_STUB_PARAMETER_HANDLER \
  HRESULT ReadDeviceParameter(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT WriteDeviceParameter(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT GetParameterInfo(VARIANT, VARIANT*, BSTR*, VARTYPE*, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT HandleDevParResponse(VARIANT_BOOL, VARIANT, VARIANT, BSTR) override { return E_NOTIMPL; } \
  HRESULT GetParameterAddress(VARIANT, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT SetParameterInfo(VARIANT, VARIANT*, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT GetParameterValue(VARIANT, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT SetParameterValue(VARIANT, VARIANT) override { return E_NOTIMPL; } \
  HRESULT SetParameterAddress(VARIANT, VARIANT) override { return E_NOTIMPL; } \
  HRESULT GetAddressedWord(VARIANT, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT InitNewParameterHandler(VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT LoadParameterHandler(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT SaveParameterHandler(IStream*, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT UploadOnlineParameters(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT DownloadOnlineParameters(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT CancelTransfer(VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT ReadDeviceParameterEx(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT WriteDeviceParameterEx(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; } \
  HRESULT GetParameterInfoById(ULONG, VARIANT*, BSTR*, VARTYPE*, VARIANT*, VARIANT*, VARIANT*, ULONG*) override { return E_NOTIMPL; } \
  HRESULT SetValueAndStatusById(ULONG, VARIANT*, ULONG*) override { return E_NOTIMPL; } \
  HRESULT GetParameterCount(ULONG*) override { return E_NOTIMPL; } \
  HRESULT GetParameterIdAt(LONG, ULONG*) override { return E_NOTIMPL; } \
  HRESULT GetParameterDisplayText(VARIANT, VARIANT, BSTR*) override { return E_NOTIMPL; } \
  HRESULT EvaluateRelationsFor(ULONG, ULONG, ULONG) override { return E_NOTIMPL; } \
  HRESULT ApplyUpdateExpression(ULONG, BSTR) override { return E_NOTIMPL; } \
  HRESULT SetParameterStatus(ULONG, ULONG) override { return E_NOTIMPL; } \
  BOOL ParameterHookBool(ULONG, ULONG, ULONG, ULONG) override { return 0; } \
  ULONG ParameterHookMode(ULONG, ULONG, ULONG, ULONG) override { return 0; } \
  HRESULT EvaluateEnumerationRelation(VARIANT, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT GetParameterValues(ULONG, VARIANT, ULONG, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT GetParameterText(ULONG, VARIANT, ULONG, BSTR*) override { return E_NOTIMPL; } \
  HRESULT RegisterAlias(VARIANT, VARIANT) override { return E_NOTIMPL; } \
  HRESULT UnregisterAlias(VARIANT) override { return E_NOTIMPL; } \
  HRESULT GetAliasLink(VARIANT, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT SetValueById(ULONG, VARIANT) override { return E_NOTIMPL; } \
  HRESULT GetValueById(ULONG, VARIANT*) override { return E_NOTIMPL; } \
  HRESULT SetParInfoFields(ULONG, ULONG, const ParInfo&) override { return E_NOTIMPL; } \
  HRESULT GetParInfoFields(ULONG, ULONG, ParInfo*) override { return E_NOTIMPL; } \
  HRESULT AddParInfo(const ParInfo&) override { return E_NOTIMPL; } \
  HRESULT RemoveParameter(ULONG) override { return E_NOTIMPL; } \
  HRESULT RemoveAllParameters() override { return E_NOTIMPL; } \
  HRESULT GetCollectionCount(ULONG*) override { return E_NOTIMPL; } \
  HRESULT GetParInfoById(ULONG, ParInfo*) override { return E_NOTIMPL; } \
  HRESULT GetParInfoAt(LONG, ParInfo*) override { return E_NOTIMPL; } \
  HRESULT InvokeParameterCallback(ULONG, ParameterCallbackKind, ULONG_PTR) override { return E_NOTIMPL; } \
  LONG IndexOfParameter(ULONG) override { return 0; } \
  bool HasParameter(ULONG) override { return false; }
// clang-format on
