// CovFDT_ParameterHandlerImpl: the parameter handler of the DTM object. It owns every parameter
// record (CParamCollection), converts, validates and stores values, reads and writes single
// parameters through the communication client, takes device responses, runs the parameters'
// callbacks and event handlers, and tells the user interfaces about changes.
//
// The DTM object carries the handler as a base and hands out its five interfaces from its own
// QueryInterface (QueryHandlerInterface below); the handler's IUnknown is the DTM object's. It
// reaches the DTM and its neighbours through an IovFdtParameterHandlerSite given at construction.
//
// Three copies of a value exist: m_vValue in the data set (stored, shown offline), the device value
// (last read from or written to the device), and the user interfaces' own working copies, which
// reach the data set only through these operations.
//
// Change notifications on the value-set road, in order: the variable event, callback kind 5, the
// store, the data-set state, callback kind 6, broadcast 0x2701 (also to linked ids), the mark
// (flag 0x100, data set modified), the relations. A value equal to the stored one (after
// conversion) sends only the 0x2701 broadcast.
//
// Every operation runs on the DTM's apartment thread (calls from other threads arrive marshalled),
// so nothing here takes a lock. Out VARIANTs must be initialised: they are cleared before they
// receive a value. Out BSTRs are overwritten without being freed.
#pragma once

#include <atomic>
#include <vector>

#include "parameters/CParamCollection.h"
#include "parameters/IovFdtParameterHandlerSite.h"
#include "parameters/ParameterHandlerInterfaces.h"
#include "parameters/SNumberFormat.h"

// Broadcast ids the handler sends to the user interfaces.
enum ParameterBroadcast : ULONG {
  PB_VALUE_CHANGED = 0x2701,     // a value changed in the data set (argument: the value)
  PB_STATUS_CHANGED = 0x270A,    // a flag word changed (argument: the id)
  PB_DEVICE_VALUE = 0x270D,      // a value arrived from the device (argument: the value)
  PB_DATA_SET_STATE = 0x270F,    // the data-set state changed (argument: the state as VT_UI2)
};

// The data-set state kept by the handler.
enum DataSetState : ULONG {
  DSS_DEFAULT = 0,
  DSS_VALID_MODIFIED = 1,
  DSS_INVALID_MODIFIED = 2,
  DSS_ALL_DATA_LOADED = 3,
};

class CovFDT_ParameterHandlerImpl : public IovFdtParameterHandler4,
                                    public IovFdtParameterInfo,
                                    public IovFdtParameterValidation,
                                    public IovFdtParametersImportExport,
                                    public IovFdtOnlineParameter {
 public:
  explicit CovFDT_ParameterHandlerImpl(IovFdtParameterHandlerSite* site);
  CovFDT_ParameterHandlerImpl(const CovFDT_ParameterHandlerImpl&) = delete;
  CovFDT_ParameterHandlerImpl& operator=(const CovFDT_ParameterHandlerImpl&) = delete;
  virtual ~CovFDT_ParameterHandlerImpl();

  // For the carrying object's QueryInterface: the handler's interface for riid, with a reference
  // (AddRef goes to the carrying object), or E_NOINTERFACE.
  HRESULT QueryHandlerInterface(REFIID riid, void** ppv);

  // IDispatch (of all five interfaces): no type information; late-bound calls are refused.
  HRESULT GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
  HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                 VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

  // IovFdtParameterHandler4
  HRESULT ReadDeviceParameter(VARIANT id, VARIANT_BOOL* result) override;
  HRESULT WriteDeviceParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;
  HRESULT GetParameterInfo(VARIANT id, VARIANT* value, BSTR* name, VARTYPE* type, VARIANT* minimum,
                           VARIANT* maximum, VARIANT* defaultValue, VARIANT* status) override;
  HRESULT HandleDevParResponse(VARIANT_BOOL success, VARIANT id, VARIANT data, BSTR errorText) override;
  HRESULT GetParameterAddress(VARIANT id, VARIANT* address) override;
  HRESULT SetParameterInfo(VARIANT id, VARIANT* value, VARIANT* status) override;
  HRESULT GetParameterValue(VARIANT id, VARIANT* value) override;
  HRESULT SetParameterValue(VARIANT id, VARIANT value) override;
  HRESULT SetParameterAddress(VARIANT id, VARIANT address) override;
  HRESULT GetAddressedWord(VARIANT id, VARIANT* kind) override;
  HRESULT InitNewParameterHandler(VARIANT_BOOL* done) override;
  HRESULT LoadParameterHandler(IStream* stream, VARIANT_BOOL* done) override;
  HRESULT SaveParameterHandler(IStream* stream, VARIANT_BOOL* done) override;
  HRESULT UploadOnlineParameters(BSTR parameterList, VARIANT_BOOL* success) override;
  HRESULT DownloadOnlineParameters(BSTR parameterList, VARIANT_BOOL* success) override;
  HRESULT CancelTransfer(VARIANT_BOOL* done) override;
  HRESULT ReadDeviceParameterEx(VARIANT id, VARIANT_BOOL* result) override;
  HRESULT WriteDeviceParameterEx(VARIANT id, VARIANT value, VARIANT_BOOL* result) override;
  HRESULT GetParameterInfoById(ULONG id, VARIANT* value, BSTR* name, VARTYPE* type, VARIANT* minimum,
                               VARIANT* maximum, VARIANT* defaultValue, ULONG* status) override;
  HRESULT SetValueAndStatusById(ULONG id, VARIANT* value, ULONG* status) override;
  HRESULT GetParameterCount(ULONG* count) override;
  HRESULT GetParameterIdAt(LONG index, ULONG* id) override;
  HRESULT GetParameterDisplayText(VARIANT id, VARIANT value, BSTR* text) override;
  HRESULT EvaluateRelationsFor(ULONG id, ULONG which, ULONG argument) override;
  HRESULT ApplyUpdateExpression(ULONG id, BSTR expression) override;
  HRESULT SetParameterStatus(ULONG id, ULONG status) override;
  BOOL ParameterHookBool(ULONG a, ULONG b, ULONG c, ULONG d) override;
  ULONG ParameterHookMode(ULONG a, ULONG b, ULONG c, ULONG d) override;
  HRESULT EvaluateEnumerationRelation(VARIANT argument, VARIANT* result) override;
  HRESULT GetParameterValues(ULONG id, VARIANT reserved, ULONG what, VARIANT* out) override;
  HRESULT GetParameterText(ULONG id, VARIANT reserved, ULONG what, BSTR* out) override;
  HRESULT RegisterAlias(VARIANT alias, VARIANT id) override;
  HRESULT UnregisterAlias(VARIANT id) override;
  HRESULT GetAliasLink(VARIANT id, VARIANT* linked) override;
  HRESULT SetValueById(ULONG id, VARIANT value) override;
  HRESULT GetValueById(ULONG id, VARIANT* out) override;
  HRESULT SetParInfoFields(ULONG id, ULONG mask, const ParInfo& record) override;
  HRESULT GetParInfoFields(ULONG id, ULONG mask, ParInfo* out) override;
  HRESULT AddParInfo(const ParInfo& record) override;
  HRESULT RemoveParameter(ULONG id) override;
  HRESULT RemoveAllParameters() override;
  HRESULT GetCollectionCount(ULONG* count) override;
  HRESULT GetParInfoById(ULONG id, ParInfo* out) override;
  HRESULT GetParInfoAt(LONG index, ParInfo* out) override;
  HRESULT InvokeParameterCallback(ULONG id, ParameterCallbackKind kind, ULONG_PTR context) override;
  LONG IndexOfParameter(ULONG id) override;
  bool HasParameter(ULONG id) override;

  // IovFdtParameterInfo
  HRESULT GetParameterCount(VARIANT* count) override;
  HRESULT GetParameterIdAt(VARIANT index, VARIANT* id) override;
  HRESULT GetParameterField(VARIANT id, VARIANT field, VARIANT* result) override;
  HRESULT SetParameterField(VARIANT id, VARIANT field, VARIANT value) override;

  // IovFdtParameterValidation
  HRESULT ValidateParameter(VARIANT id, VARIANT value, ULONG* result) override;
  HRESULT ValidateAndSetParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;

  // IovFdtParametersImportExport
  HRESULT ExportParameters(BSTR* text) override;
  HRESULT ImportParameters(BSTR text) override;

  // IovFdtOnlineParameter
  HRESULT UploadParameterList(BSTR parameterList, BSTR invokeId, VARIANT_BOOL* success) override;
  HRESULT DownloadParameterList(BSTR parameterList, BSTR invokeId, VARIANT_BOOL* success) override;
  HRESULT CancelOnlineParameters(BSTR invokeId, VARIANT_BOOL* done) override;

  // The value-set core: converts the value to the parameter's type and, when it differs from the
  // stored one, stores it with the notifications listed above; mark records a user's change
  // (flag 0x100, data set modified). A value already stored stays stored when a later step fails.
  HRESULT ApplyParameterValue(ULONG id, VARIANT value, BOOL mark);
  // Stores a device response's data as the device value (converted to the parameter's type),
  // broadcasts 0x270D and runs the parameter's relations with argument 2.
  HRESULT StoreDeviceValue(ULONG id, VARIANT data);
  // Runs the parameter's callback of the kind with the handler as context, then (kinds 1 to 4) the
  // event handler registered for the parameter (events 21, 37, 22, 38). A failure stops.
  HRESULT NotifyParameterChanged(ULONG id, ParameterCallbackKind kind);
  // Calls the event handler a value-set record registers for (id, event), or answers the
  // lookup's result.
  HRESULT DispatchParameterEvent(VARIANT id, ULONG eventId, LONG* result);
  // The first value-set record whose two masks share a bit with mask and whose parameter list
  // (among the lists below the handler's selection) holds id. S_FALSE without parameter lists;
  // S_OK with a cleared handler when none matches.
  HRESULT FindValueSetRecord(ULONG id, ULONG mask, CValueSetRecord* record);
  // A broadcast to the user interfaces, repeated for every id linked to this one; the result is
  // that of the first.
  HRESULT NotifyMirroredParameters(VARIANT event, VARIANT id, VARIANT value);
  // Hands a broadcast to the function container (S_OK when the DTM has none).
  HRESULT NotifyActiveXContainer(VARIANT event, VARIANT id);
  HRESULT NotifyActiveXContainerEx(VARIANT event, VARIANT id, VARIANT argument);
  // Stores the data-set state; a change marks the data set modified and is broadcast (0x270F).
  HRESULT SetDataSetState(ULONG state);
  ULONG GetDataSetState() const { return m_nDataSetState; }
  // The parameter section of the data set (ParameterHandlerPersistence.cpp). Reading gathers the
  // loaded values and status words in a local collection and touches no live record; committing
  // writes them into the live records, all or none. The DTM core reads its whole data set before
  // it commits any of it, so a refused data set changes nothing.
  HRESULT ReadParameterSection(IStream* stream, CParamCollection* loaded);
  HRESULT CommitParameterSection(CParamCollection& loaded);
  // Set from the data set's format version before a load: option 1, the minimum, maximum and
  // default follow each value; option 2, one more value follows each status word. Both are read
  // and discarded.
  bool m_bLoadOption1 = false;
  bool m_bLoadOption2 = false;
  // Evaluates one "relation(" expression of a parameter. The relation machinery is not part of
  // this class yet: E_NOTIMPL.
  virtual HRESULT ParseRelations(ULONG id, BSTR relation, BOOL registerOnly, ULONG argument);

  // The definition helpers a device's parameter table is written with (ParameterDefinitionHelpers.cpp).
  // Each builds one record, checks it, adds it to the collection (null: built and checked only;
  // an id already there keeps its record) and reports an address that does not convert through
  // the site's OnError (-1 is "no address", not reported); a bad definition is still added, with
  // flag 0x04 (numbers) or 0x08 (texts). Running out of memory throws vkr::HResultError and adds
  // nothing. Arguments: the addressed word, id, address (number or AddressInformation text), name
  // (UTF-8, as every text here), string resource id, VARTYPE, the four values, persistence, flag
  // word, flag words 1 and 2, unit, export kind, description, kind and enumeration texts (ended by
  // an empty text; the enumeration helper takes them before its values), further number (0: none),
  // relation text, the six callbacks in record order, string id (null: the name), item kinds, and
  // the TypeInformation and PrivateProperties texts (null: none).
  void AddNumericParameter(CParamCollection* collection, ULONG addressed, ULONG id, LONG address, LPCSTR name,
                           ULONG stringResId, ULONG vt, double minimum, double maximum, double defaultValue,
                           double value, ULONG persist, ULONG flags, ULONG flagWord1, ULONG flagWord2, LPCSTR unit,
                           ULONG exportKind, LPCSTR description, ULONG kind, const LPCSTR* enumTexts, ULONG further,
                           LPCSTR relation, ParameterCallback beforeChange, ParameterCallback beforeRead,
                           ParameterCallback beforeWrite, ParameterCallback afterChange, ParameterCallback afterRead,
                           ParameterCallback afterWrite, LPCSTR stringId, ULONG itemKinds, LPCSTR typeInformation,
                           LPCSTR privateProperties);
  void AddAddressedNumericParameter(CParamCollection* collection, ULONG addressed, ULONG id, LPCSTR address,
                                    LPCSTR name, ULONG stringResId, ULONG vt, double minimum, double maximum,
                                    double defaultValue, double value, ULONG persist, ULONG flags, ULONG flagWord1,
                                    ULONG flagWord2, LPCSTR unit, ULONG exportKind, LPCSTR description, ULONG kind,
                                    const LPCSTR* enumTexts, ULONG further, LPCSTR relation,
                                    ParameterCallback beforeChange, ParameterCallback beforeRead,
                                    ParameterCallback beforeWrite, ParameterCallback afterChange,
                                    ParameterCallback afterRead, ParameterCallback afterWrite, LPCSTR stringId,
                                    ULONG itemKinds, LPCSTR typeInformation, LPCSTR privateProperties);
  void AddArrayParameter(CParamCollection* collection, ULONG addressed, ULONG id, LONG address, LPCSTR name,
                         ULONG stringResId, ULONG vt, LPCSTR minimum, LPCSTR maximum, LPCSTR defaultValue,
                         LPCSTR value, ULONG persist, ULONG flags, ULONG flagWord1, ULONG flagWord2, LPCSTR unit,
                         ULONG exportKind, LPCSTR description, ULONG kind, const LPCSTR* enumTexts, ULONG further,
                         LPCSTR relation, ParameterCallback beforeChange, ParameterCallback beforeRead,
                         ParameterCallback beforeWrite, ParameterCallback afterChange, ParameterCallback afterRead,
                         ParameterCallback afterWrite, LPCSTR stringId, ULONG itemKinds, LPCSTR typeInformation,
                         LPCSTR privateProperties);
  void AddAddressedArrayParameter(CParamCollection* collection, ULONG addressed, ULONG id, LPCSTR address,
                                  LPCSTR name, ULONG stringResId, ULONG vt, LPCSTR minimum, LPCSTR maximum,
                                  LPCSTR defaultValue, LPCSTR value, ULONG persist, ULONG flags, ULONG flagWord1,
                                  ULONG flagWord2, LPCSTR unit, ULONG exportKind, LPCSTR description, ULONG kind,
                                  const LPCSTR* enumTexts, ULONG further, LPCSTR relation,
                                  ParameterCallback beforeChange, ParameterCallback beforeRead,
                                  ParameterCallback beforeWrite, ParameterCallback afterChange,
                                  ParameterCallback afterRead, ParameterCallback afterWrite, LPCSTR stringId,
                                  ULONG itemKinds, LPCSTR typeInformation, LPCSTR privateProperties);
  void AddEnumParameter(CParamCollection* collection, ULONG addressed, ULONG id, LONG address, LPCSTR name,
                        ULONG stringResId, ULONG vt, ULONG kind, const LPCSTR* enumTexts, ULONG defaultValue,
                        ULONG value, ULONG persist, ULONG flags, ULONG flagWord1, ULONG flagWord2, LPCSTR unit,
                        ULONG exportKind, LPCSTR description, ULONG further, LPCSTR relation,
                        ParameterCallback beforeChange, ParameterCallback beforeRead, ParameterCallback beforeWrite,
                        ParameterCallback afterChange, ParameterCallback afterRead, ParameterCallback afterWrite,
                        LPCSTR stringId, ULONG itemKinds, LPCSTR typeInformation, LPCSTR privateProperties);
  // The initial values a TypeInformation text gives for the bit fields of a byte string: S_OK with
  // the rebuilt value in result, S_FALSE when the text gives none. Not part of this class yet:
  // E_NOTIMPL, which leaves every defined value as it is.
  virtual HRESULT InitValuesFromTypeInformation(VARIANT value, BSTR typeInformation, VARIANT* result);

  // Adds a value-set record (an event handler for the parameters of a list).
  void AddValueSetRecord(const CValueSetRecord& record) { m_valueSetRecords.push_back(record); }
  // The parameter-list selection the value-set search looks below.
  vkr::Variant m_vListSelection;

  // Raised by CancelTransfer and CancelOnlineParameters (and written by the DTM's up/download
  // message); read by the transfers.
  std::atomic<bool> m_bAbortTransfer{false};
  // While set, a value change sends no kind-6 notification.
  bool m_bSuppressChangeEvents = false;
  // The progress display of list transfers: the last reported percentage and the step.
  ULONG m_nProgressThreshold = 0;
  ULONG m_nProgressStep = 5;

  // The last device response.
  bool m_bLastResponseOk = false;
  vkr::Variant m_vLastResponse;
  vkr::Bstr m_bstrLastResponseError;
  ULONG m_dwLastResponseWord = 0;

 protected:
  IovFdtParameterHandlerSite* Site() const { return m_pSite; }
  CParamCollection& Collection() { return m_collection; }

 private:
  IovFdtParameterHandler4* Self() { return static_cast<IovFdtParameterHandler4*>(this); }
  // Range, text length and type information of a plain (kind 0, 4, 8) parameter.
  HRESULT CheckValueRange(const ParInfo& record, const VARIANT& value, bool* valid);
  HRESULT CheckTextLength(const ParInfo& record, const VARIANT& text, bool* valid);
  HRESULT CheckTypeInformation(const ParInfo& record, const VARIANT& value, bool* valid);
  HRESULT CheckEnumeration(const ParInfo& record, const VARIANT& value, bool* valid);
  HRESULT CheckBitEnumeration(const ParInfo& record, const VARIANT& value, bool* valid);
  // Whether the value, in the parameter's type, shows as the stored one.
  HRESULT IsUnchanged(const ParInfo& record, const VARIANT& value, bool* unchanged);
  HRESULT ReadDevice(VARIANT id, VARIANT_BOOL* result, bool blocking);

  IovFdtParameterHandlerSite* m_pSite;
  CParamCollection m_collection;
  std::vector<CValueSetRecord> m_valueSetRecords;
  // Alias links, both directions of every registered pair.
  std::vector<CVariantPair> m_aliasLinks;
  ULONG m_nDataSetState = DSS_DEFAULT;
  // The parameters whose update expressions are being carried out.
  std::vector<ULONG> m_updatesRunning;
  // The number format floating-point values are compared with, and the language it is for.
  SNumberFormat m_compareFormat;
  LCID m_compareFormatLanguage = 0;
  bool m_bCompareFormatValid = false;
};
