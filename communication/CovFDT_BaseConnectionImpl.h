// CovFDT_BaseConnectionImpl: the protocol-neutral part of a connection object, the DTM's end of one
// communication channel of the frame.
//
// A connection sends FDT communication documents through the frame's IFdtCommunication and gets
// the answers through its own IFdtCommunicationEvents, matched to their request by the invoke id
// (a 36-character GUID text). Every request exists in a non-blocking form (the answer is handled
// when it arrives) and a blocking one (the caller waits in WaitWithMessageLoop, so the answer
// arrives on the waiting thread and sets the request's own manual-reset event).
//
// Threads: the object is apartment-threaded; every call arrives on its owner's thread. A wait may
// run other calls of the same thread, so no operation keeps an iterator into the pending requests,
// the result list or the client lists across a call out; records are found again by invoke id.
// Only the generic queue has a lock (its critical section), as its contract asks.
//
// Ownership: each blocking request creates, waits on and closes its own event. A pending record
// never closes the event it carries; the waiter removes its record before closing the event, so
// a late answer finds no record (E_FAIL to the frame) instead of a closed handle.
//
// Nothing waits for ever. A blocking request ends after its time-out (connect, disconnect,
// transaction: 5000 ms of the platform's tick count each). A request nobody waits for (the
// non-blocking connect of going online, reads, writes, the generic queue's transactions) gets a
// thread timer of the same length on the sending thread; when it runs out the request counts as
// failed: a connect is reported to the owner as not connected, a parameter read or write to the
// parameter handler as failed, and the generic queue goes on. A disconnection the frame does not
// confirm (no answer, a refused answer, a refused request) ends the connection here all the same:
// the frame is told to abort it, the reference is cleared and the owner learns that the
// connection is gone, so the DTM always reaches its offline state.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "communication/CovFDT_BaseProtocolImpl.h"
#include "include/DtmInterfaces.h"
#include "include/DtmMessages.h"
#include "include/DtmThreadInterfaces.h"
#include "include/FdtInterfaces.h"
#include "parameters/CovVAPacker.h"
#include "include/IovFDTParamList.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"
#include "xml/CovFDTXMLHandlerImpl.h"

// The request-type GUID texts (38 characters, braces) that mark a pending request's context.
inline constexpr OLECHAR kRequestTypeDataExchange[] = u"{7A1C3E52-94B0-4D6F-8E21-5C0B9A3D7E10}";
inline constexpr OLECHAR kRequestTypeCommand[] = u"{7A1C3E52-94B0-4D6F-8E21-5C0B9A3D7E11}";
inline constexpr OLECHAR kRequestTypeGenericTransaction[] = u"{7A1C3E52-94B0-4D6F-8E21-5C0B9A3D7E12}";

// The error text of a request that got no answer in time.
inline constexpr OLECHAR kTextNoAnswer[] = u"Error: no answer in time";

// The DTM message that carries a list transfer's progress.
// The status parameters written from every DataExchangeResponse.
inline constexpr ULONG kParDeviceStatus = 1001;
inline constexpr ULONG kParCommandResponse = 1113;
inline constexpr ULONG kParCommand41Response = 1019;
inline constexpr ULONG kParCommand42Response = 1020;
// The DTM's own polling address of its device, which a confirmed command 6 moves.
inline constexpr ULONG kParShortAddress = 121;

// Run modes of a transaction list.
inline constexpr ULONG kRunContinueOnFailure = 0x1;
inline constexpr ULONG kRunReportProgress = 0x2;
inline constexpr OLECHAR kTextNotTaken[] = u"Error: the request was not taken";
// A request the frame did not take after it had answered that the link to the device is gone.
inline constexpr OLECHAR kTextLinkLost[] = u"noConnection, descriptor: the link to the device is lost";

// Context of a generic request built by SendGenericRequest.
struct SGenericRequestData : CovVAPacker {
  vkr::Variant protocolData;
  vkr::Variant clientKey;
  vkr::Variant argument;
  vkr::Bstr bstrServiceId;
  vkr::Bstr bstrRequest;
  bool bFlag = false;

 protected:
  bool Serialize() override {
    return ExchangeVariant(protocolData) && ExchangeVariant(clientKey) && ExchangeVariant(argument) &&
           ExchangeBstr(bstrServiceId) && ExchangeBstr(bstrRequest) && ExchangeBool(bFlag);
  }
};

class CovFDT_BaseConnectionImpl
    : public vkr::Implements<IovFdtCommunicationClient4, IovFdtSyncCommunicationClient, IovFDTGenericCommService,
                             IovFDTGenericCommService2, IovFdtCommClientOnlineState, IovFDTConnectionObject,
                             IovFDTCommClientTransferParamList, IovFDTCommClientTransferParamList2,
                             IovFdtDirectParameterAccess, IFdtCommunicationEvents, IovFdtConnectionDetach>,
      public IFdtCommunicationEvents2,
      public CovFDTXMLHandlerImpl<CovFDT_BaseConnectionImpl> {
 public:
  // Context of a generic blocking request: {request type, request}.
  struct SGenericBlockingInfo : CovVAPacker {
    vkr::Variant requestType;
    vkr::Variant request;

   protected:
    bool Serialize() override { return ExchangeVariant(requestType) && ExchangeVariant(request); }
  };
  // Context of a queued item's transaction: {request type}.
  struct SGenericInfo : CovVAPacker {
    vkr::Variant requestType;

   protected:
    bool Serialize() override { return ExchangeVariant(requestType); }
  };

  // A queued request of a generic client.
  struct STransactionInfo {
    STransactionInfo(const VARIANT& key, BSTR id) : clientKey(key), bstrRequestId(id) {}
    virtual ~STransactionInfo() = default;
    // The next request document; false when none is left.
    virtual bool NextRequest(BSTR* document) = 0;
    // Handles the answer of the request last sent (null: none came in time); true when the item
    // is finished.
    virtual bool HandleAnswer(CovFDT_BaseConnectionImpl* connection, BSTR response,
                              IovFDTGenericCommServiceEvents* client) = 0;
    vkr::Variant clientKey;
    vkr::Bstr bstrRequestId;
  };
  // A background read of a parameter list: one transaction per document, in array order.
  struct STransactionInfoUpdate : STransactionInfo {
    STransactionInfoUpdate(const VARIANT& key, BSTR id, const VARIANT& docs, const VARIANT& ctxs)
        : STransactionInfo(key, id), documents(docs), contexts(ctxs) {}
    // Empty documents (groups the protocol skipped) are passed over, as a list transfer does.
    bool NextRequest(BSTR* document) override;
    bool HandleAnswer(CovFDT_BaseConnectionImpl* connection, BSTR response,
                      IovFDTGenericCommServiceEvents* client) override;
    // Tells the client that the item ended.
    void Notify(IovFDTGenericCommServiceEvents* client) const;
    vkr::Variant documents;
    LONG nIndex = 0;
    vkr::Variant contexts;
  };

  CovFDT_BaseConnectionImpl();
  ~CovFDT_BaseConnectionImpl() override;

  // The XML handler's owner contract.
  static const char* const* GetSchemaFileList() { return kSchemaFilesConnection; }
  void OnError(const char* format, ...);

  // ---- The connection's own operations, in slot order ----
  HRESULT LoadXMLDocument(BSTR text, IXMLDOMDocument2** document, VARIANT_BOOL* pSuccess) override;
  virtual HRESULT BuildConnectRequest(VARIANT request, BSTR* document);
  virtual HRESULT CheckProtocolId(BSTR protocolId, IUnknown* dtm);
  virtual HRESULT ParseTransactionResponse(BSTR response, VARIANT* packedResponse);
  virtual HRESULT ConnectBlocking(BSTR document, BSTR protocolId);
  virtual HRESULT DisconnectBlocking(BSTR document);
  virtual HRESULT HandleDataExchangeResult(BSTR invokeId, VARIANT context, BSTR response, HANDLE event);
  virtual HRESULT HandleCommandResult(BSTR invokeId, VARIANT context, BSTR response, HANDLE event);
  virtual HRESULT PackDataExchangeContext(VARIANT request, VARIANT* context);
  virtual HRESULT PackCommandContext(VARIANT request, VARIANT* context);
  virtual HRESULT DataExchangeBlocking(VARIANT request, VARIANT* response);
  virtual HRESULT CommandTransactionBlocking(VARIANT request, VARIANT* value);
  virtual HRESULT ExecuteTransactionList(VARIANT documents, VARIANT contexts, BSTR transferId, ULONG mode);
  virtual HRESULT Connect(VARIANT_BOOL* result);
  virtual HRESULT Disconnect(VARIANT_BOOL* result);
  virtual HRESULT SendTransactionBlocking(VARIANT context, BSTR document, VARIANT_BOOL* result);
  virtual HRESULT SendConnectRequest(VARIANT context, BSTR document, BSTR protocolId, HANDLE event,
                                     VARIANT_BOOL* result);
  virtual HRESULT SendDisconnectRequest(VARIANT context, BSTR document, HANDLE event, VARIANT_BOOL* result);
  virtual HRESULT SendTransactionRequest(VARIANT context, BSTR document, VARIANT_BOOL* result);
  virtual HRESULT UnpackDataExchangeContext(VARIANT context, VARIANT* request);
  virtual HRESULT UnpackCommandContext(VARIANT context, VARIANT* request);
  // The request record (HARTTransactRequestInfo) and response record (HARTTransactResponseInfo)
  // travel as CovVAPacker pointers so that this layer stays protocol-neutral.
  virtual HRESULT SendDataExchangeBlocking(CovVAPacker* request, BSTR invokeId, CovVAPacker* response);

  // ---- IovFdtCommunicationClient4 ----
  HRESULT SetCommunication(IFdtCommunication* channel) override;
  HRESULT ReadParameter(VARIANT id, VARIANT_BOOL* done) override;
  HRESULT WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;
  HRESULT ConnectWithRequest(VARIANT request, VARIANT_BOOL* done) override;
  HRESULT ConnectionReserved1(VARIANT argument) override;
  HRESULT ConnectionReserved2(VARIANT argument) override;
  // ---- IovFdtSyncCommunicationClient ----
  HRESULT ReadParameterSync(VARIANT id, VARIANT_BOOL* done) override;
  HRESULT WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;
  // ---- IovFDTGenericCommService(2) ----
  HRESULT RequestService(BSTR protocolId, VARIANT service, VARIANT argument, VARIANT* result,
                         VARIANT_BOOL* done) override;
  HRESULT SendGenericRequest(BSTR serviceId, VARIANT clientKey, BSTR requestText, VARIANT request1,
                             VARIANT request2, VARIANT_BOOL* done) override;
  HRESULT SendGenericRequestAsync(IUnknown* client, VARIANT* clientKey, VARIANT_BOOL* done) override;
  HRESULT CancelGenericRequest(VARIANT clientKey, VARIANT_BOOL* done) override;
  HRESULT SendGenericRequestEx(VARIANT clientKey, BSTR requestId, VARIANT listId, VARIANT_BOOL* done) override;
  // ---- IovFdtCommClientOnlineState ----
  HRESULT GoOnline(VARIANT_BOOL* ok) override;
  HRESULT GoOffline(VARIANT_BOOL* ok) override;
  // ---- IovFDTConnectionObject ----
  HRESULT InitConnection(BSTR protocolId, IUnknown* dtm, IUnknown* channel, BSTR schemaPath,
                         BSTR* connectionId) override;
  HRESULT GetConnectionIds(BSTR* connectionId, BSTR* protocolId, VARIANT_BOOL* online) override;
  // ---- IovFdtConnectionDetach ----
  HRESULT DetachDtm() override;
  // ---- IovFDTCommClientTransferParamList(2) ----
  HRESULT UploadParamList(VARIANT listId, VARIANT_BOOL apply, VARIANT_BOOL* done) override;
  HRESULT DownloadParamList(VARIANT listId, VARIANT_BOOL flag, VARIANT_BOOL* done) override;
  HRESULT UploadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL apply, VARIANT_BOOL* done) override;
  HRESULT DownloadParamList2(VARIANT listId, BSTR transferId, VARIANT_BOOL flag, VARIANT_BOOL* done) override;
  HRESULT CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) override;
  // ---- IovFdtDirectParameterAccess ----
  HRESULT ReadParameterDirect(VARIANT id, VARIANT* value) override;
  HRESULT WriteParameterDirect(VARIANT id, VARIANT value) override;
  // ---- IFdtCommunicationEvents(2) ----
  HRESULT OnAbort(BSTR communicationReference) override;
  HRESULT OnConnectResponse(BSTR invokeId, BSTR response) override;
  HRESULT OnDisconnectResponse(BSTR invokeId, BSTR response) override;
  HRESULT OnTransactionResponse(BSTR invokeId, BSTR response) override;
  HRESULT OnParentVersion(BSTR invokeId, BSTR version, BSTR connectResponse) override;

  // ---- For the layers above and for tests ----
  // A BSTR's text without copying (null is the empty text).
  static std::u16string_view TextOf(BSTR b) { return {b ? b : u"", SysStringLen(b)}; }
  // Replaces the protocol object (the device class puts its own in place of the framework's).
  void ReplaceProtocol(std::unique_ptr<CovFDT_BaseProtocolImpl> protocol) { m_pProtocol = std::move(protocol); }
  CovFDT_BaseProtocolImpl* GetProtocol() const { return m_pProtocol.get(); }
  // The waits, in milliseconds of the platform's tick count.
  void SetTimeouts(DWORD transaction, DWORD disconnect, DWORD connect = 5000) {
    m_dwTransactionTimeout = transaction;
    m_dwDisconnectTimeout = disconnect;
    m_dwConnectTimeout = connect;
  }
  bool IsConnected() const { return m_bConnected; }
  bool IsAborted() const { return m_bAborted; }
  bool IsFrame121() const { return m_bFrame121 != 0; }
  const vkr::Bstr& CommunicationReference() const { return m_bstrCommunicationReference; }
  std::size_t PendingRequestCount() const { return m_pendingRequests.size(); }
  std::size_t ResultCount() const { return m_resultList.size(); }
  std::size_t GenericQueueLength();
  std::size_t TransferCount() const { return m_transferList.size(); }

 protected:
  // What a blocking waiter learns from its answer; shared by the waiter and its pending record,
  // so nested waits never see each other's result.
  struct WaitSlot {
    bool answered = false;
    HRESULT hr = S_OK;
  };
  enum class RequestKind { Connect, Disconnect, Transaction };
  struct PendingRequest {
    vkr::Bstr invokeId;
    vkr::Variant context;
    HANDLE event = nullptr;  // not owned
    std::shared_ptr<WaitSlot> slot;
    RequestKind kind = RequestKind::Transaction;
    UINT_PTR expiry = 0;  // the timer of a request nobody waits for
  };
  struct BlockingResult {
    vkr::Variant answer;
    vkr::Bstr invokeId;
    HRESULT hr = S_OK;
  };
  struct TransferEntry {
    vkr::Bstr transferId;
    bool cancelled = false;
  };
  struct GenericClient {
    vkr::Variant key;
    vkr::ComPtr<IovFDTGenericCommServiceEvents> events;
  };
  // The queue of generic requests: first in, first out, one transaction out at a time.
  struct GenericQueue {
    GenericQueue();
    ~GenericQueue();
    CRITICAL_SECTION cs{};
    bool csReady = false;
    std::list<std::unique_ptr<STransactionInfo>> items;
    bool busy = false;
    CovFDT_BaseConnectionImpl* connection = nullptr;
  };

  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override;
  // The object's own IUnknown side (every interface's AddRef and Release reach the same count).
  IUnknown* Self() { return static_cast<IFdtCommunicationEvents*>(this); }

  // A new invoke id (36 characters).
  static HRESULT NewInvokeId(vkr::Bstr* id);
  // Appends a pending record; a record without event gets its expiry timer. False when it cannot
  // be stored.
  bool AddPending(BSTR invokeId, const VARIANT& context, HANDLE event, std::shared_ptr<WaitSlot> slot,
                  RequestKind kind = RequestKind::Transaction);
  // Removes the record of the invoke id (exact 36-character match) and hands out its parts.
  // False when no record holds it.
  bool TakePending(BSTR invokeId, vkr::Variant* context, HANDLE* event, std::shared_ptr<WaitSlot>* slot);
  // The context of the request waiting under the invoke id, left in place; null when none waits.
  const VARIANT* PendingContext(BSTR invokeId) const;
  // Whether the answer to a request of this context is read by OnTransactionResponse itself (not
  // by the handler of a raw transaction).
  static bool ReadsAnswerItself(const VARIANT& context);
  // Removes the record of an invoke id the caller made itself, if it is still there.
  void DropPending(BSTR invokeId);
  // Removes the record that carries the event, if it is still there; true when there was one.
  bool DropPendingWithEvent(HANDLE event, vkr::Variant* context);
  // Stops the record's expiry timer.
  static void StopExpiry(PendingRequest& record);
  // A request nobody waited for got no answer in time.
  static void ExpiryTimerProc(HWND, UINT, UINT_PTR timer, DWORD);
  void OnRequestExpired(UINT_PTR timer);
  // A connect that ended without a connection: the owner learns it as a refused connect, unless
  // the connection holds a reference (then it is connected by another road and stays so).
  void ConnectFailed(const VARIANT& context, LPCOLESTR text);
  // Ends every pending request without an answer: blocking waiters wake (their slots say not
  // answered), reads and writes nobody waits for are reported failed, the generic queue is
  // flushed.
  void FailPendingRequests(LPCOLESTR text);
  // Ends the connection without the frame's confirmation: the frame is asked to abort it, the
  // reference is cleared, pending requests fail, and the owner is told that the connection is
  // gone. Nothing when no reference is held.
  void EndUnconfirmedConnection();
  // Asks the frame to abort the connection of the reference (its documents are the protocol's).
  virtual HRESULT AbortAtFrame(BSTR communicationReference);
  // Tells whoever asked for a read or write (the context of a plain transaction) that no usable
  // answer came.
  virtual void ReportUnanswered(const VARIANT& context, LPCOLESTR text);
  // Removes the result entry of the invoke id and hands it out; false when there is none.
  bool TakeResult(BSTR invokeId, BlockingResult* out);
  // Wakes a waiter: marks its slot answered with hr and sets the event.
  static void Wake(HANDLE event, const std::shared_ptr<WaitSlot>& slot, HRESULT hr);
  // Sends a transaction under an invoke id already recorded and waits up to the transaction
  // timeout: S_OK when the event was set, E_ABORT on time-out, E_FAIL when the frame's call
  // failed. The pending record is gone on every path.
  HRESULT SendAndWait(BSTR invokeId, BSTR document, HANDLE event, VARIANT_BOOL* taken);
  // Writes the two log entries of a request or answer.
  static void LogDocument(const char* what, BSTR invokeId, BSTR document);
  // The context's request-type text when it is a VARIANT array whose first element is a text.
  static bool ContextHasType(const VARIANT& context, LPCWSTR type);
  // Wraps a request into {type, request, empty}.
  static HRESULT PackTypedContext(LPCWSTR type, const VARIANT& request, VARIANT* context);
  static HRESULT UnpackTypedContext(LPCWSTR type, const VARIANT& context, VARIANT* request);

  // Status parameters of a DataExchangeResponse (1001, 1113, 1019, 1020); E_POINTER for a
  // DataExchangeResponse without payload. S_FALSE when the response is no DataExchangeResponse.
  virtual HRESULT WriteStatusParameters(BSTR response);
  // The generic-transaction answers.
  HRESULT HandleGenericResult(BSTR invokeId, const VARIANT& context, BSTR response, HANDLE event,
                              const std::shared_ptr<WaitSlot>& slot);
  // Appends an item and sends the queue's next transaction.
  void QueueAppend(std::unique_ptr<STransactionInfo> item);
  void QueueSendNext();
  // Ends the front item: removes it and tells its client.
  void QueueDropFront(bool notify);
  // Drops every item, telling each client (after an abort nothing will answer them).
  void QueueFlush();
  // Wakes every waiting request without an answer and drops the queued ones.
  void WakeAllWaiters();
  IovFDTGenericCommServiceEvents* FindGenericClient(const VARIANT& key);
  // Resolves a parameter list into its members: S_OK with a VT_ARRAY|VT_VARIANT, S_FALSE for an
  // empty list, a failure otherwise.
  // notArray tells an answer of another type (E_FAIL) from a failed look-up.
  HRESULT ResolveList(const VARIANT& listId, VARIANT* members, bool* notArray);
  // Subscriptions of burst data; the HART layer has them.
  virtual HRESULT SubscribeBlocking(BSTR invokeId, VARIANT clientKey, VARIANT_BOOL* result);
  virtual HRESULT UnsubscribeBlocking(BSTR invokeId, VARIANT_BOOL* result);
  // The invoke id of the key's subscription; false when it has none.
  virtual bool FindSubscription(const VARIANT& clientKey, BSTR* invokeId);
  HRESULT ReportProgress(BSTR text, LONG percent, bool running);
  // Stores the uploaded values of the list's members and of the data set's parameters the answers
  // carried besides (answered: the ids the responses gave values to).
  HRESULT ApplyUploadedValues(const VARIANT& members, const std::vector<vkr::Variant>& answered);
  HRESULT CyclicMode(const VARIANT& listId, bool* cyclic);
  TransferEntry* FindTransfer(BSTR transferId);
  void RemoveTransfer(BSTR transferId);

  // The DTM and its parts, not counted (see IovFdtConnectionDetach); a call that goes on after
  // calling into the DTM takes its own reference first.
  IovFdtBaseDTM* m_pDTM = nullptr;
  bool m_bBusyConnecting = false;
  bool m_bConnectSucceeded = false;
  bool m_bBusyDisconnecting = false;
  bool m_bDisconnectRequested = false;  // a disconnection is on its way: the channel ends it
  bool m_bConnected = false;
  // The frame answered a request of this connection with "noConnection": the link to the device
  // is gone, and a request it refuses from then on is refused for that reason. A new connection
  // clears it.
  bool m_bLinkLost = false;
  // Why a request the frame did not take will never be answered.
  LPCOLESTR NotTakenText() const { return m_bLinkLost ? kTextLinkLost : kTextNotTaken; }
  bool m_bDisconnectSucceeded = false;
  bool m_bAborted = false;
  vkr::Bstr m_bstrCommunicationReference;
  vkr::Bstr m_bstrConnectionId;
  vkr::ComPtr<IFdtCommunication> m_pFrameChannel;
  IovFdtConnectionObjectCallback* m_pOwnerCallback = nullptr;
  IovFdtParameterHandler4* m_pParameterHandler = nullptr;
  std::unique_ptr<CovFDT_BaseProtocolImpl> m_pProtocol;
  // The transaction response OnTransactionResponse is handling, loaded once for its readers (see
  // SovFDT_LoadedResponse); null outside it.
  SovFDT_LoadedResponse* m_pLoadedResponse = nullptr;
  DWORD m_dwTransactionTimeout = 5000;
  DWORD m_dwDisconnectTimeout = 5000;
  DWORD m_dwConnectTimeout = 5000;
  LONG m_bFrame121 = 0;
  HANDLE m_hGoingOfflineEvent = nullptr;
  HRESULT m_hrTransactionResult = S_OK;
  bool m_bLastTransactionAnswered = false;  // the last blocking transaction got its answer
  std::vector<GenericClient> m_genericClients;
  std::vector<PendingRequest> m_pendingRequests;
  std::vector<BlockingResult> m_resultList;
  std::list<TransferEntry> m_transferList;
  GenericQueue m_genericQueue;
};

// Holds a reference to the object for the length of an event call: a callback into the owner may
// drop the owner's last reference to this connection.
class ConnectionSelfRef {
 public:
  explicit ConnectionSelfRef(IUnknown* self) : m_self(self) { m_self->AddRef(); }
  ~ConnectionSelfRef() { m_self->Release(); }
  ConnectionSelfRef(const ConnectionSelfRef&) = delete;
  ConnectionSelfRef& operator=(const ConnectionSelfRef&) = delete;

 private:
  IUnknown* m_self;
};
