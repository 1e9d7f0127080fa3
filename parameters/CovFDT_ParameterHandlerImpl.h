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
#include <memory>
#include <vector>

#include "parameters/CParamCollection.h"
#include "include/DtmMessages.h"
#include "include/IovFdtParameterHandlerSite.h"
#include "include/ParameterHandlerInterfaces.h"
#include "parameters/SNumberFormat.h"

// Broadcast ids the handler sends to the user interfaces.
enum ParameterBroadcast : ULONG {
  PB_VALUE_CHANGED = kBroadcastValueChanged,    // a value changed in the data set (argument: the value)
  PB_STATUS_CHANGED = kBroadcastStatusChanged,  // a flag word changed (argument: the id)
  PB_DEVICE_VALUE = kBroadcastDeviceValue,      // a value arrived from the device (argument: the value)
  PB_DATA_SET_STATE = kBroadcastDataSetState,   // the data-set state changed (argument: the state as VT_UI2)
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

  // The values of one device response: between the two calls the device values HandleDevParResponse
  // takes are told to the DTM thread (DTM message 9) once at the end, with every id in the order
  // the values came, instead of once before each value. Nested batches end with the outermost.
  // EndResponseBatch answers the message's result (S_OK when there was nothing to tell).
  void BeginResponseBatch() { ++m_responseBatchDepth; }
  HRESULT EndResponseBatch();

  // Whether a write the device confirmed leaves the data set holding what the device took (the
  // protocol asks, for the writes of the DTM's user interfaces). Between the two calls the writes
  // are the frame's device access, which leaves the data set as it was; they nest.
  bool KeepsConfirmedWrites() const { return m_deviceAccessDepth.load() == 0; }
  void BeginDeviceAccess() { ++m_deviceAccessDepth; }
  void EndDeviceAccess() { --m_deviceAccessDepth; }

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
  // The "<PARAMETERS>" text of the parameters with the export flag (0x100), without progress.
  HRESULT ExportParameters(BSTR* text) override;
  HRESULT ImportParameters(BSTR text) override;

  // The "<PARAMETERS>" text (ParameterExport.cpp): the wrapper "<PARAMETERS> \r\n%s</PARAMETERS> \r\n"
  // around one element per listed parameter in ascending id order,
  //   "<Parameter \r\n\tid    =\"%lu\" \r\n\tstr_id=\"%s\" \r\n\tname  =\"%s\" \r\n\ttype  =\"%s\" \r\n\tvalue =\"%s\" \r\n/> \r\n"
  // with the string id, name and value text (VariantToText) escaped and the value's VARTYPE name.
  // Listed: with persistedOnly only records with m_bPersist, with exportFlagOnly only records with
  // flag 0x100. No record listed gives the empty text, not an empty wrapper. A progress text
  // (null: none) reports progress per record and ends with done = 0 and an empty text. A record
  // that cannot be fetched ends it with that failure (*text untouched). E_POINTER for a null text.
  HRESULT ExportParametersXml(BSTR progressText, BOOL persistedOnly, BOOL exportFlagOnly, BSTR* text);
  // Starts a new progress display: the DTM resets the threshold its UpdateProgress reports by.
  virtual void ResetProgressThreshold() { m_nProgressThreshold = 0; }

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
  // loaded values and status words in a local collection and touches no live record; the records
  // they belong to (existence and type) are the table's when one is given (the parameters a
  // device type will have), else the live ones. Committing writes them into the live records, all
  // or none. The DTM core reads its whole data set before it commits any of it, so a refused data
  // set changes nothing.
  HRESULT ReadParameterSection(IStream* stream, CParamCollection* loaded, const CParamCollection* table = nullptr);
  HRESULT CommitParameterSection(CParamCollection& loaded);
  // Set from the data set's format version before a load: option 1, the minimum, maximum and
  // default follow each value; option 2, one more value follows each status word. Both are read
  // and discarded.
  bool m_bLoadOption1 = false;
  bool m_bLoadOption2 = false;

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

  // Adds a value-set record (an event handler for the parameters of a list).
  void AddValueSetRecord(const CValueSetRecord& record) { m_valueSetRecords.push_back(record); }
  // The parameter-list selection the value-set search looks below.
  vkr::Variant m_vListSelection;

  // Raised by CancelTransfer and CancelOnlineParameters (and written by the DTM's up/download
  // message); read by the transfers.
  std::atomic<bool> m_bAbortTransfer{false};
  // The transfer id of the list transfer that runs now (empty: none), and its cancel through the
  // communication client.
  vkr::Bstr m_bstrActiveTransferId;
  void CancelActiveTransfer();
  // While set, a value change sends no kind-6 notification.
  bool m_bSuppressChangeEvents = false;
  // The progress display of list transfers: the last reported percentage and the step.
  ULONG m_nProgressThreshold = 0;
  ULONG m_nProgressStep = 5;

  // The last device response.
  bool m_bLastResponseOk = false;
  int m_responseBatchDepth = 0;
  std::atomic<int> m_deviceAccessDepth{0};
  std::vector<ULONG> m_batchedResponses;
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

 public:
  // The device's defined rows as this handler last defined them or copied them
  // (InitDeviceParameterTable): while some handler keeps them, others copy them instead of
  // defining every row again.
  std::shared_ptr<const CParamCollection> m_pDefinedRows;

 private:
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

  // ---- Relations, private properties, import and initial values ---------------------------------
  // (ParameterRelations.cpp, ParameterImport.cpp, InitialValues.cpp)
 public:
  // A parameter's relation text "relation(k1,t1,k2,t2,...)" ties targets to it: when its value
  // changes (argument 1) or a device value arrives (argument 2), each pair applies relation kind k
  // to target t. The kinds, with the hook a device DTM overrides and what happens to the target:
  //    1  -                            read from the device (online, device reads not off)
  //    2  EvaluateEnableRelation       flag 0x08 cleared (enabled) or set (disabled)
  //    3  EvaluateStateRelation        flag 0x01 set or cleared
  //    4  EvaluateEnumerationRelation  new enumeration texts, translated; revalidated; 0x2712
  //    5  EvaluateValueRelation        the hook sets what it wants; revalidated
  //    6  EvaluateDefaultRelation      new default; revalidated
  //    7  EvaluateMaximumRelation      new maximum; revalidated
  //    8  EvaluateMinimumRelation      new minimum; revalidated
  //    9  EvaluateAuxiliaryRelation    new auxiliary VARIANT (when it holds a text); revalidated
  //   10  -                            broadcast 0x271B
  //   11  -                            broadcast 0x271A
  //   12  EvaluateUnitScalingRelation  private property "UnitScaling"; revalidated
  //   13  EvaluateMultiplierRelation   private property "Multiplier"; revalidated
  //   14  EvaluateOffsetRelation       private property "Offset"; revalidated
  // Revalidation sets or clears flag 0x04 by the value's validation. Kinds 5 to 9 and 12 to 14
  // then broadcast by the relation's flags (NotifyRelationTarget). A batch replays the kinds in
  // the order 1..12, 14, 13.
  //
  // Relation tables: one per kind, entries {target, source, flags}, a target at most once per
  // table and one entry in all in the table of kind 10. They hold the relations queued by an open
  // batch, or registered by BuildRelations; opening the outermost batch and starting BuildRelations
  // empty them.
  enum RelationEvent : ULONG {
    RE_ENUMERATION_CHANGED = kBroadcastEnumerationChanged,  // kind 4
    RE_KIND_11 = kBroadcastRefreshParameter,
    RE_KIND_10 = kBroadcastRelationKind10,
  };

  // Opens (TRUE) or closes (FALSE) a relation batch; always S_OK. While a batch is open, relations
  // are queued instead of applied; closing the outermost batch replays each queued relation once,
  // kind by kind. Opening or closing while the replay runs does nothing, so relations set off by a
  // replayed relation apply at once. Closing with no batch open replays the relations a
  // BuildRelations registered under m_bRebuildingRelations, once that flag is down; else it does
  // nothing.
  HRESULT ApplyRelations(BOOL open);
  // ApplyParameterValue (mark FALSE) inside a batch: the failure, or S_OK for every success. The
  // import sets values this way.
  HRESULT SetValueWithRelations(ULONG id, VARIANT value);
  // Evaluates the "relation(" text of the parameter `id`: S_OK at once with m_bRelationsOff;
  // E_INVALIDARG for a text without "relation(" or shorter than 8 characters. Pairs are read up to
  // the first ")" (a kind without target ends the list; kinds outside 1 to 14 are ignored). With
  // registerOnly, in a batch or under m_bRebuildingRelations each pair enters its table (once);
  // outside a batch and relation building every pair that did not stand in its table already is
  // applied at once. The save request is delayed around the whole evaluation (unless
  // m_bSaveDelayOff). A failing pair does not stop the others; the last failure is the answer.
  virtual HRESULT ParseRelations(ULONG id, BSTR relation, BOOL registerOnly, ULONG argument);
  // Empties the relation tables and registers the relations of every record (by index) with the
  // flags; outside relation building each new relation is applied once. A record that cannot be
  // fetched ends it with that failure.
  HRESULT BuildRelations(ULONG flags);
  // Sets flag `bit` of the parameter's flag word when validating its value sets it, clears it
  // otherwise (no broadcast).
  HRESULT RevalidateParameter(VARIANT id, ULONG bit);
  // Flags 0x1: broadcast 0x2701, 0x2: broadcast 0x270D, for the parameter with the argument; the
  // result of the last broadcast sent, S_OK when none.
  HRESULT NotifyRelationTarget(VARIANT id, VARIANT argument, ULONG flags);
  // Rebuilds the parameter's enumeration texts as "value;text" with each entry's text in the DTM's
  // language (TranslateEnumerationEntry; the parameter id is the enumeration id). An entry without
  // a translation keeps its text. When no entry has one nothing changes and the answer is the
  // lookup's failure (S_FALSE for an empty list).
  HRESULT TranslateEnumerationTexts(ULONG id);

  // The relation hooks. `service` is the DTM object's IovFdtParameterHandler4, through which a hook
  // reads and writes parameters. Kinds 2 and 3: S_OK with *decision decides (kind 2: non-zero
  // enables; kind 3: bit 0x2 sets flag 0x01), S_FALSE decides nothing. The others: S_OK with the
  // new value in *value (kind 4: a VT_EMPTY value changes nothing), S_FALSE changes nothing. A
  // failure is the relation's failure. The defaults decide nothing (kinds 2, 3) or answer
  // E_NOTIMPL: a device DTM that defines relations overrides the hooks of its kinds.
  virtual HRESULT EvaluateEnableRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target, ULONG flags,
                                         BOOL* decision);
  virtual HRESULT EvaluateStateRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target, ULONG flags,
                                        BOOL* decision);
  virtual HRESULT EvaluateEnumerationRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target,
                                              ULONG flags, VARIANT* value);
  virtual HRESULT EvaluateValueRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target, ULONG flags,
                                        VARIANT* value);
  virtual HRESULT EvaluateDefaultRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target, ULONG flags,
                                          VARIANT* value);
  virtual HRESULT EvaluateMaximumRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target, ULONG flags,
                                          VARIANT* value);
  virtual HRESULT EvaluateMinimumRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target, ULONG flags,
                                          VARIANT* value);
  virtual HRESULT EvaluateAuxiliaryRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target,
                                            ULONG flags, VARIANT* value);
  virtual HRESULT EvaluateUnitScalingRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target,
                                              ULONG flags, VARIANT* value);
  virtual HRESULT EvaluateOffsetRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target, ULONG flags,
                                         VARIANT* value);
  virtual HRESULT EvaluateMultiplierRelation(IovFdtParameterHandler4* service, ULONG source, ULONG target,
                                             ULONG flags, VARIANT* value);
  // The text of one enumeration entry in the DTM's language; E_NOTIMPL until the DTM supplies its
  // translation.
  virtual HRESULT TranslateEnumerationEntry(ULONG enumerationId, LONG value, BSTR* text);

  // Switches the DTM sets: relations off (ParseRelations does nothing), device reads off (kind 1
  // does nothing), save delay off (ParseRelations does not delay the save request), and relation
  // building (relations are registered, none applied).
  bool m_bRelationsOff = false;
  bool m_bDeviceReadsOff = false;
  bool m_bSaveDelayOff = false;
  bool m_bRebuildingRelations = false;

  // Sets one private property of the parameter: an existing "Property" element keeps its type and
  // takes the value converted to it; a new one is written with the value's own type. A failure of
  // the record or the XML is returned, and the record keeps its text.
  HRESULT WritePrivateProperty(VARIANT id, BSTR name, VARIANT value);
  // Reads one private property into result: a property with child nodes as its XML text, one with
  // a "type" as that type, one without as the text of its "value". S_FALSE, result untouched, for
  // a property that is not there or a text that is no XML; E_NOTIMPL when the private properties
  // are not a text; E_POINTER for a null result.
  HRESULT ReadPrivateProperties(VARIANT id, BSTR name, VARIANT* result);
  // Sets the values of a "<PARAMETERS>" text: for each parameter (in id order) the first
  // "Parameter" element with its id, when its "type" names the parameter's VARTYPE exactly and its
  // "value" converts to it, through SetValueWithRelations; the stored value is then validated and
  // flag 0x04 set or cleared by the outcome. Other elements are passed over. With a progress
  // text, progress is reported per parameter and ended with done = 0. E_POINTER for a null text,
  // E_FAIL for a text that is no XML; a record that cannot be fetched ends it with that failure
  // (values set so far stay).
  HRESULT ImportParameterValues(BSTR text, BSTR progressText);
  // Reports import progress (the DTM's UpdateProgress); does nothing by default.
  virtual HRESULT UpdateProgress(ULONG done, ULONG total, BSTR text);
  // The initial values a TypeInformation text gives for the bit fields of a byte string: S_OK with
  // the rebuilt VT_ARRAY|VT_UI1 in result; S_FALSE, result untouched, when the text is empty, no
  // XML, has no "Simple" element with an "initialValue", or the value holds no bytes. An element
  // whose field does not fit the value, or whose position, length, type or value cannot be read,
  // is skipped.
  virtual HRESULT InitValuesFromTypeInformation(VARIANT value, BSTR typeInformation, VARIANT* result);

  // Cleared by every import; read by nobody in the handler.
  ULONG m_dwImportWord = 0;

 private:
  struct SRelationEntry {
    ULONG target;
    ULONG source;
    ULONG flags;
  };
  static constexpr int kRelationKinds = 14;
  // Applies one relation now; nested applications beyond a fixed depth fail with E_FAIL.
  HRESULT ApplyRelation(int kind, ULONG source, ULONG target, ULONG flags);
  HRESULT ApplyRelationKind(int kind, ULONG source, ULONG target, ULONG flags);
  // Replays the relation tables in the replay order.
  void ReplayRelations();
  // Writes one field of a parameter's record from a value.
  HRESULT SetRecordField(ULONG id, ULONG mask, const VARIANT& value);

  std::vector<SRelationEntry> m_relationTables[kRelationKinds];
  ULONG m_nRelationBatches = 0;
  bool m_bCollectingRelations = false;
  bool m_bApplyingRelations = false;
  // Relations registered under m_bRebuildingRelations and not applied yet.
  bool m_bRelationsRegistered = false;
  int m_nRelationDepth = 0;
};
