// The protocol objects: the layer between the DTM's parameter model and a bus connection. The
// framework's protocol-neutral base, its HART form and the VKR device's class (MyHartProtocol.h).
//
// A protocol object knows, for every device parameter that has an address of its protocol, which
// command reads and writes it and where its bits lie; parameters read and written by the same
// commands with the same request data form one transaction group. From that it builds the request
// documents and packed records of a connection and spreads responses over the groups.
//
// Every operation is virtual and answers an HRESULT unless it says otherwise. The object takes no
// lock: its callers (the connection and the communication client) serialise the calls.
#pragma once

#include <cstdarg>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"

class HARTTransactRequestInfo;
class HARTTransactResponseInfo;

// The FDT protocol id of HART, as the protocol objects and connection classes write it.
inline constexpr OLECHAR kHartProtocolId[] = u"036D1498-387B-11D4-86E1-00E0987270B9";

// Whether reading a parameter with this AddressInformation text makes a HART device act: its read
// command is the self test (41) or the device reset (42). Asking for a status or comparing values
// must never send such a command. False for any other text, also one that is not XML.
bool IsActingHartRead(const VARIANT& addressInformation);

// The protocol ids of a parameter's AddressInformation text (AddressInformation/Protocol/@id), in
// document order, kept by the text for every DTM of the process. S_OK with every id; otherwise
// the ids read before the failure and the failure: the text does not load (its error; E_POINTER
// without a document), no protocol list (E_POINTER), no Protocol (E_UNEXPECTED), a Protocol
// without an id (the read's error).
HRESULT ProtocolIdsOfAddress(BSTR addressText, std::vector<std::u16string>* ids);

// An id of any integer type as the 32-bit parameter id it stands for (the tables keep VT_UI4);
// false for other types, which compare as they are.
bool IntegerParameterId(const VARIANT& id, ULONG* n);

// One registered parameter.
struct SovFDT_ParameterEntry {
  vkr::Variant id;             // VT_UI4
  ULONG nGroup = 0;            // number of its transaction group
  ULONG nReadBitOffset = 0;    // in the response data of the read command
  ULONG nWriteBitOffset = 0;   // in the request data of the write command
  ULONG nBitLength = 0;
};

// Parameters transferred by one transaction.
struct SovFDT_TransactionGroup {
  ULONG nNumber = 0;                  // 1 + groups that existed when it was made
  vkr::Variant address;               // the protocol address text of the parameter that made it
  std::vector<vkr::Variant> members;  // ids in registration order
  vkr::Variant key;                   // shared by all members (GetAddressKey)
};

// One transaction response as the connection hands it to its readers: the text, the document it
// loaded to once (null when it did not load or validate), and what the protocol read from that
// document, read on first use and then shared by every reader.
struct SovFDT_LoadedResponse {
  BSTR text = nullptr;
  vkr::ComPtr<IXMLDOMDocument2> document;
  std::shared_ptr<void> reading;
};

class CovFDT_BaseProtocolImpl {
 public:
  CovFDT_BaseProtocolImpl();
  CovFDT_BaseProtocolImpl(const CovFDT_BaseProtocolImpl&) = delete;
  CovFDT_BaseProtocolImpl& operator=(const CovFDT_BaseProtocolImpl&) = delete;
  virtual ~CovFDT_BaseProtocolImpl();

  // The response the connection has loaded, while it hands that very text (the same BSTR) to
  // ParseTransactionResponse: the parser then reads the loaded document instead of parsing the
  // text again. Null ends it.
  void SetLoadedResponse(SovFDT_LoadedResponse* response) { m_loadedResponse = response; }

  // The protocol id (upper-case GUID text without braces); kept across DetachDtm.
  LPCWSTR GetProtocolId() const { return m_bstrProtocolId.Get(); }
  // The handler held since AttachDtm (no reference added), or null.
  IovFdtParameterHandler4* GetParameterHandler() const { return m_pParameterHandler; }
  // Called right after AttachDtm: the next InitParameterTable answers what the attach's build
  // answered instead of building the same table again, as long as no other build came between.
  void ReuseTableOfAttach() { m_bReuseAttachTable = std::exchange(m_bAttachTableFresh, false); }
  const std::vector<std::unique_ptr<SovFDT_ParameterEntry>>& GetParameterEntries() const { return m_entries; }
  const std::vector<std::unique_ptr<SovFDT_TransactionGroup>>& GetTransactionGroups() const { return m_groups; }
  // The entry of id and its group, or null.
  SovFDT_ParameterEntry* FindParameterEntry(const VARIANT& id) const;
  SovFDT_TransactionGroup* FindTransactionGroup(ULONG number) const;
  // The VARTYPE a value of the parameter is decoded into: its own (field 0x10), unless its
  // TypeInformation has a TypeInformation/Simple element whose "type" names another. E_POINTER
  // without a parameter handler, E_NOINTERFACE without IovFdtParameterInfo.
  HRESULT GetDecodeVarType(const VARIANT& id, VARTYPE* vt);
  // The ids of the parameter list whose requests CreateTransactions is building; null outside a
  // list transfer. The members of a group that the list names are what its transaction asks for.
  const std::vector<vkr::Variant>* GetTransferListMembers() const {
    return m_bTransferListActive ? &m_transferListMembers : nullptr;
  }
  // The ids a response being spread has to answer (the parameters its request asked for); empty
  // when nobody asked for a particular one.
  const std::vector<vkr::Variant>& GetRequestedMembers() const { return m_requestedMembers; }
  // The parameters whose values the responses spread since StartAnswerLog (an upload keeps the
  // log to store what it read); TakeAnswerLog ends the log.
  void StartAnswerLog() { m_answerLog.emplace(); }
  bool AnswerLogActive() const { return m_answerLog.has_value(); }
  std::vector<vkr::Variant> TakeAnswerLog();
  void NoteAnswered(const VARIANT& id);

  // Holds the DTM's parameter handler and builds the tables; true when already attached. False
  // when the DTM has no parameter handler.
  virtual bool AttachDtm(IUnknown* dtm);
  // Releases the handler; the tables and the protocol id stay. Always true.
  virtual bool DetachDtm();
  // Formats at most 4096 characters (Windows printf rules) and sends them to the DTM as message
  // 16; nothing when the DTM offers no IovFdtDtmEvents.
  virtual void ReportMessage(const char* format, ...);
  // The text of a failed request for its parameter's user: a write of a parameter names it ("X"
  // was not written: ...), anything else keeps the text. `requestRecord` is the request's packed
  // record.
  virtual std::u16string DescribeFailedRequest(const VARIANT& requestRecord, const std::u16string& message);

  // Connect and disconnect responses.
  virtual HRESULT ParseConnectResponse(BSTR response, BSTR* communicationReference, VARIANT_BOOL* ok,
                                       BSTR* errorText);
  virtual HRESULT ParseDisconnectResponse(BSTR expectedReference, BSTR response, VARIANT_BOOL* ok,
                                          BSTR* errorText);
  virtual HRESULT ReservedHookA(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG);
  // Reads a transaction response to the packed request record; S_OK when it reports success,
  // E_FAIL when it reports an error. With distribute set the values or the error reach the
  // parameter handler.
  virtual HRESULT ParseTransactionResponse(VARIANT requestRecord, BSTR response, BSTR expectedReference,
                                           VARIANT_BOOL distribute, VARIANT* responseBytes);
  virtual HRESULT ReservedHookB(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG,
                                ULONG);

  // Single-parameter requests: the document and the packed HARTTransactRequestInfo.
  // useDataSetValues: the other members of a group are taken from the data set (true) or from the
  // device values (false).
  virtual HRESULT CreateReadRequest(VARIANT id, BSTR communicationReference, VARIANT_BOOL useDataSetValues,
                                    VARIANT_BOOL* created, BSTR* document, VARIANT* record);
  virtual HRESULT CreateWriteRequest(VARIANT id, VARIANT value, BSTR communicationReference,
                                     VARIANT_BOOL useDataSetValues, VARIANT_BOOL* created, BSTR* document,
                                     VARIANT* record);
  virtual HRESULT CreateConnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR* protocolId, VARIANT* record);
  virtual HRESULT CreateDisconnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR communicationReference,
                                          VARIANT* record);
  // The device's bus address.
  virtual HRESULT GetBusAddressXml(VARIANT_BOOL* done, BSTR* text);
  virtual HRESULT SetBusAddressFromXml(VARIANT_BOOL* changed, IUnknown* deviceDocument);
  virtual HRESULT ReservedHookC(ULONG, ULONG, ULONG, ULONG, ULONG);
  virtual HRESULT InfoRequest(VARIANT kind, VARIANT argument, VARIANT* result);
  virtual HRESULT InfoRequestEx(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG,
                                ULONG);

  // The tables.
  // Whether this class builds its table from the parameters' ids, address texts and addressed
  // words alone (the parameter model is asked nothing else unless a length must be derived):
  // then one table built from the same of these is shared by every object of the class. None by
  // default: a class says so only for itself, not for classes derived from it.
  virtual bool BuildsTableFromAddressesAlone() const { return false; }
  // What such a table is built from (see InitParameterTable).
  struct TableInputs;
  virtual HRESULT RegisterParameter(VARIANT id, BSTR protocolAddress);
  virtual HRESULT ReadParameterAddress(SovFDT_ParameterEntry* entry, BSTR protocolAddress);
  virtual HRESULT InitParameterTable();
  // The value of a parameter decoded from a PDU (VT_ARRAY|VT_UI1).
  virtual HRESULT SetParameterFromPdu(VARIANT id, VARIANT pdu, VARIANT* value);
  // Whether values are decoded as the device class spreads a response (byte strings always put
  // in their TypeInformation order).
  virtual bool DecodesAsDeviceClass() const { return false; }
  virtual HRESULT ReservedHookD(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG);

  // Transaction records without a document (direct access).
  virtual HRESULT GetReadCommand(VARIANT id, BSTR communicationReference, VARIANT* record);
  virtual HRESULT GetWriteCommand(VARIANT id, VARIANT value, BSTR communicationReference, VARIANT* record);
  // List transfers: documents (VT_ARRAY|VT_BSTR) and packed records (VT_ARRAY|VT_VARIANT), one per
  // transaction group of the list.
  virtual HRESULT CreateReadTransactions(VARIANT listId, BSTR communicationReference, VARIANT* documents,
                                         VARIANT* records);
  virtual HRESULT CreateWriteTransactions(VARIANT listId, BSTR communicationReference,
                                          VARIANT_BOOL useDataSetValues, VARIANT* documents, VARIANT* records);
  virtual HRESULT CreateTransactions(VARIANT listId, BSTR communicationReference, VARIANT_BOOL useDataSetValues,
                                     bool read, VARIANT* documents, VARIANT* records);
  virtual HRESULT ReduceToTransactionGroups(VARIANT listId, VARIANT* ids, VARIANT readFlag);

  // Codecs (flags: bit 0 low byte first, bit 1 exchange 16-bit halves).
  virtual HRESULT EncodeParameterValue(VARIANT value, const SovFDT_ParameterEntry* entry, ULONG bufferSize,
                                       BYTE* buffer, ULONG flags);
  virtual HRESULT DecodeParameterValue(const SovFDT_ParameterEntry* entry, ULONG byteCount, const BYTE* bytes,
                                       VARIANT* value, ULONG flags);
  virtual HRESULT BuildRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues, BSTR* requestData,
                                   ULONG flags);
  // The per-parameter protocol text (the client's GetParameterProtocolInfo asks it).
  virtual HRESULT CheckTransferArguments(IUnknown* addressDocument, VARIANT id, BSTR* text);
  virtual HRESULT GetAddressKey(BSTR protocolAddress, VARIANT* key);
  virtual HRESULT CreateDataExchangeRequest(VARIANT record, BSTR communicationReference, BSTR* document);
  virtual HRESULT ReadProtocolPduPosition(BSTR protocolAddress, ULONG* bitOffset, ULONG* bitLength);
  virtual HRESULT QueryTypeInformation(VARIANT id, BSTR xpath, BSTR* value);
  // The process channel document of one parameter and its read-back.
  virtual HRESULT GetChannelParameters(IUnknown* dtm, VARIANT id, BSTR channelId, BSTR keepChannelId,
                                       BSTR* document, VARIANT channelData, VARIANT* newChannelData);
  virtual HRESULT SetChannelParameters(IUnknown* dtm, VARIANT id, BSTR expectedChannelId, BSTR channelId,
                                       BSTR documentText, IUnknown* document, VARIANT channelData,
                                       VARIANT* newChannelData, bool* isProtected);
  virtual HRESULT GetTypeInformationXml(VARIANT id, BSTR* text);
  // Structured byte arrays from the device's byte order into the host's, in place.
  virtual HRESULT ReorderByTypeInformation(VARIANT id, BYTE* bytes, ULONG count);
  virtual HRESULT ReorderArrayElements(IXMLDOMNode* node, BYTE* bytes, ULONG count, ULONG bitPosition);
  virtual HRESULT ReorderSimpleElement(IXMLDOMNode* node, BYTE* bytes, ULONG count, ULONG bitPosition,
                                       bool swapWords);
  virtual HRESULT ReorderStructElements(IXMLDOMNode* node, BYTE* bytes, ULONG count, ULONG bitPosition);

 protected:
  // The bit length of an entry whose address gives none: ReadProtocolPduPosition's, else the
  // width of the parameter's type (texts and byte arrays: their limits).
  HRESULT DeriveBitLength(SovFDT_ParameterEntry* entry, BSTR protocolAddress);
  // One element of a TypeInformation layout, by its kind; other names are skipped.
  HRESULT ReorderElement(IXMLDOMNode* node, BYTE* bytes, ULONG count, ULONG bitPosition);
  // A TypeInformation text loaded as a document, once per text for this protocol object.
  HRESULT TypeInformationDocument(BSTR text, vkr::ComPtr<IXMLDOMDocument2>* document);

  vkr::Bstr m_bstrProtocolId;
  // Not counted: the protocol object lives inside the DTM object (or inside a connection that
  // holds the DTM), so a reference here would keep the DTM alive through its own member.
  IovFdtParameterHandler4* m_pParameterHandler = nullptr;
  // The last AttachDtm's build: its result, whether no build came after it, and whether the next
  // build is to answer that result (ReuseTableOfAttach).
  HRESULT m_hrAttachTable = S_OK;
  bool m_bAttachTableFresh = false;
  bool m_bReuseAttachTable = false;
  // Set when a build asked the parameter model for a length (its table is then not shared).
  bool m_bLengthDerived = false;
  // The ids, address texts and addressed words the table is built from, read without building
  // anything; false when they cannot be read that way (then the table is built as always).
  bool ReadTableInputs(IovFdtParameterInfo* info, ULONG count, TableInputs* inputs);
  std::vector<std::unique_ptr<SovFDT_TransactionGroup>> m_groups;
  std::vector<std::unique_ptr<SovFDT_ParameterEntry>> m_entries;
  // Set while CreateTransactions runs and while a response is spread (see the getters).
  bool m_bTransferListActive = false;
  std::vector<vkr::Variant> m_transferListMembers;
  std::vector<vkr::Variant> m_requestedMembers;
  std::optional<std::vector<vkr::Variant>> m_answerLog;
  SovFDT_LoadedResponse* m_loadedResponse = nullptr;
  static constexpr std::size_t kMaxTypeDocuments = 256;
  std::map<std::u16string, vkr::ComPtr<IXMLDOMDocument2>, std::less<>> m_typeDocuments;
};

class CovFDT_HartProtocolImpl : public CovFDT_BaseProtocolImpl {
 public:
  CovFDT_HartProtocolImpl();

  HRESULT ParseConnectResponse(BSTR response, BSTR* communicationReference, VARIANT_BOOL* ok,
                               BSTR* errorText) override;
  HRESULT ParseDisconnectResponse(BSTR expectedReference, BSTR response, VARIANT_BOOL* ok,
                                  BSTR* errorText) override;
  HRESULT ParseTransactionResponse(VARIANT requestRecord, BSTR response, BSTR expectedReference,
                                   VARIANT_BOOL distribute, VARIANT* responseBytes) override;
  HRESULT CreateReadRequest(VARIANT id, BSTR communicationReference, VARIANT_BOOL useDataSetValues,
                            VARIANT_BOOL* created, BSTR* document, VARIANT* record) override;
  HRESULT CreateWriteRequest(VARIANT id, VARIANT value, BSTR communicationReference, VARIANT_BOOL useDataSetValues,
                             VARIANT_BOOL* created, BSTR* document, VARIANT* record) override;
  HRESULT CreateConnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR* protocolId, VARIANT* record) override;
  HRESULT CreateDisconnectRequest(VARIANT_BOOL* created, BSTR* document, BSTR communicationReference,
                                  VARIANT* record) override;
  HRESULT GetBusAddressXml(VARIANT_BOOL* done, BSTR* text) override;
  HRESULT SetBusAddressFromXml(VARIANT_BOOL* changed, IUnknown* deviceDocument) override;
  std::u16string DescribeFailedRequest(const VARIANT& requestRecord, const std::u16string& message) override;
  HRESULT ReadParameterAddress(SovFDT_ParameterEntry* entry, BSTR protocolAddress) override;
  HRESULT GetReadCommand(VARIANT id, BSTR communicationReference, VARIANT* record) override;
  HRESULT GetWriteCommand(VARIANT id, VARIANT value, BSTR communicationReference, VARIANT* record) override;
  HRESULT GetAddressKey(BSTR protocolAddress, VARIANT* key) override;
  HRESULT CreateDataExchangeRequest(VARIANT record, BSTR communicationReference, BSTR* document) override;
  HRESULT GetChannelParameters(IUnknown* dtm, VARIANT id, BSTR channelId, BSTR keepChannelId, BSTR* document,
                               VARIANT channelData, VARIANT* newChannelData) override;
  HRESULT SetChannelParameters(IUnknown* dtm, VARIANT id, BSTR expectedChannelId, BSTR channelId,
                               BSTR documentText, IUnknown* document, VARIANT channelData, VARIANT* newChannelData,
                               bool* isProtected) override;

  // The request data of a parameter's write: the group's members packed at their write bit
  // offsets after the request-data template.
  virtual HRESULT BuildHartRequestData(VARIANT id, VARIANT value, VARIANT_BOOL useDataSetValues,
                                       BSTR* requestDataTemplate, BSTR* result, ULONG reserved);
  // Decodes every member of the group from the response bytes and hands it to the handler.
  virtual HRESULT ExtractParameterValue(SovFDT_TransactionGroup* group, VARIANT responseBytes);
  virtual HRESULT DistributeResult(VARIANT id, VARIANT responseBytes);

 private:
  // The part of both parsers after the response is read.
  HRESULT SpreadTransactionResponse(HARTTransactRequestInfo& request, const HARTTransactResponseInfo& answer,
                                    BSTR expectedReference, VARIANT_BOOL distribute, VARIANT* responseBytes);
};

// What a HART transaction response the connection loaded says, read once for all its readers
// (*info points into the response's reading). E_FAIL when it has no document, else the reading's
// result.
HRESULT ReadLoadedHartResponse(SovFDT_LoadedResponse& response, const HARTTransactResponseInfo** info);
