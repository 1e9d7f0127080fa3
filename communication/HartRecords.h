// The HART records: what the protocol object and the connection hand each other, and carry across
// the DTM thread, packed into one VT_ARRAY|VT_VARIANT (CovVAPacker). The request and response
// infos also write and read their FDT HART communication documents.
//
// Documents are written by string formatting, exactly as the frame expects them; they are read
// with the loader without schema and XPath. Readers answer E_FAIL for a missing required value,
// E_INVALIDARG for a document of another kind.
#pragma once

#include <memory>

#include "parameters/CovVAPacker.h"
#include "platform/platform.h"

// Transaction kinds of the transaction records.
enum : LONG {
  kHartDataExchangeRequest = 0x1004,
  kHartDataExchangeResponse = 0x1005,
  kHartSubscribeResponse = 0x1006,
  kHartUnsubscribeResponse = 0x1007,
  kHartSubscribeRequest = 0x1008,
  kHartUnsubscribeRequest = 0x1009,
  kHartCommunicationError = 0x100E,
};

// The FDT communication-error word as its number ("abort" 0 ... "sequenceTimeExpired" 10; any
// other word, compared case-sensitively, 8).
LONG CommunicationErrorFromText(BSTR word);

struct SovFDT_HART_Status : CovVAPacker {
  BYTE byDeviceStatus = 0;
  bool bCommunicationStatusPresent = false;
  BYTE byCommunicationStatus = 0;
  bool bCommandResponsePresent = false;
  BYTE byCommandResponse = 0;

 protected:
  bool Serialize() override;
};

struct SovFDT_HART_LongAddress : CovVAPacker {
  BYTE byManufacturerId = 0;
  BYTE byDeviceTypeId = 0;
  BYTE byAddress1 = 0;
  BYTE byAddress2 = 0;
  BYTE byAddress3 = 0;

 protected:
  bool Serialize() override;
};

struct SovFDT_HART_DataExchangeRequest : CovVAPacker {
  BYTE byCommandNumber = 0;
  bool bHasRequestData = false;
  vkr::Bstr bstrRequestData;  // hex text

 protected:
  bool Serialize() override;
};

struct SovFDT_HART_DataExchangeResponse : CovVAPacker {
  BYTE byCommandNumber = 0;
  bool bBurstFramePresent = false;
  bool bBurstFrame = false;
  bool bHasResponseData = false;
  vkr::Bstr bstrResponseData;  // hex text
  SovFDT_HART_Status status;

 protected:
  bool Serialize() override;
};

struct SovFDT_HART_SubscribeResponse : CovVAPacker {
  bool bBurstModeDetected = false;
  bool bCommunicationErrorPresent = false;
  LONG nCommunicationError = 0;

 protected:
  bool Serialize() override;
};

struct SovFDT_HART_UnsubscribeResponse : CovVAPacker {
  bool bCommunicationErrorPresent = false;
  LONG nCommunicationError = 0;

 protected:
  bool Serialize() override;
};

namespace FDT {
struct SovFDT_FDT_CommunicationError : CovVAPacker {
  vkr::Bstr bstrCommunicationError;  // the error word
  vkr::Bstr bstrTag;
  bool bErrorCodePresent = false;
  vkr::Bstr bstrErrorCode;
  bool bDescriptorPresent = false;
  vkr::Bstr bstrDescriptor;

 protected:
  bool Serialize() override;
};
}  // namespace FDT

// The state of a process channel that travels with its channel document.
struct HartProcessChannelData : CovVAPacker {
  LONG nProtectedByChannelAssignment = 0;
  vkr::Bstr bstrDocument;
  vkr::Bstr bstrChannelId;

 protected:
  bool Serialize() override;
};

// The common part of the request infos: the communication reference and a 32-bit value.
class baseRequestInfo {
 public:
  virtual ~baseRequestInfo() = default;
  void SetCommunicationReference(BSTR reference) { m_bstrCommunicationReference = vkr::Bstr(reference); }
  // E_INVALIDARG when either is missing.
  HRESULT SetCommunicationReference(BSTR reference, const ULONG* value);
  void Clear();
  vkr::Bstr m_bstrCommunicationReference;
  ULONG m_nValue = 0;
};
class baseConnectRequestInfo : public baseRequestInfo {};
class baseDisconnectRequestInfo : public baseRequestInfo {};
class baseTransactRequestInfo : public baseRequestInfo {};

class HARTConnectRequestInfo : public baseConnectRequestInfo, public CovVAPacker {
 public:
  vkr::Bstr bstrTag;
  bool bPreambleCountPresent = false;
  BYTE byPreambleCount = 0;
  bool bPrimaryMasterPresent = false;
  bool bPrimaryMaster = false;
  bool bLongFrameRequiredPresent = false;
  bool bLongFrameRequired = false;
  bool bLongAddressPresent = false;
  SovFDT_HART_LongAddress longAddress;
  BYTE byShortAddress = 0;
  bool bSystemTagPresent = false;
  vkr::Bstr bstrSystemTag;

  // The ConnectRequest document; its read-back.
  HRESULT WriteXml(BSTR* document);
  HRESULT ReadXml(IXMLDOMDocument* document);

 protected:
  bool Serialize() override;
};

class HARTDisconnectRequestInfo : public baseDisconnectRequestInfo, public CovVAPacker {
 public:
  // The packed field is the communication reference of baseRequestInfo.
  HRESULT WriteXml(BSTR* document);
  HRESULT ReadXml(IXMLDOMDocument* document);

 protected:
  bool Serialize() override;
};

class HARTTransactRequestInfo : public baseTransactRequestInfo, public CovVAPacker {
 public:
  // Fields after the communication reference of baseRequestInfo.
  vkr::Variant parameterId;
  // The value of a write. Empty for a read, except for a read made for a parameter list: there
  // the ids (VT_ARRAY|VT_VARIANT) of the group's members the list names, which its response must
  // answer.
  vkr::Variant value;
  LONG nKind = kHartDataExchangeRequest;
  // Present for kind 0x1004 (made by unpacking and reading; set by whoever builds a request).
  std::unique_ptr<SovFDT_HART_DataExchangeRequest> pPayload;

  // DataExchangeRequest, SubscribeRequest or UnsubscribeRequest by kind (E_FAIL for another
  // kind, E_POINTER for a data exchange without payload); the read-back of such a document.
  HRESULT WriteXml(BSTR* document);
  HRESULT ReadXml(IXMLDOMDocument* document);

 protected:
  bool Serialize() override;
};

class HARTConnectResponseInfo : public CovVAPacker {
 public:
  vkr::Bstr bstrCommunicationReference;
  vkr::Bstr bstrTag;
  BYTE byPreambleCount = 0;
  bool bPrimaryMaster = false;
  bool bLongAddressPresent = false;
  SovFDT_HART_LongAddress longAddress;
  BYTE byShortAddress = 0;

  HRESULT ReadXml(IXMLDOMDocument* document);

 protected:
  bool Serialize() override;
};

class HARTDisconnectResponseInfo : public CovVAPacker {
 public:
  vkr::Bstr bstrCommunicationReference;

  HRESULT ReadXml(IXMLDOMDocument* document);

 protected:
  bool Serialize() override;
};

class HARTTransactResponseInfo : public CovVAPacker {
 public:
  vkr::Bstr bstrCommunicationReference;
  vkr::Variant reserved;  // left empty by the reader
  LONG nKind = 0;         // 0x1005, 0x1006, 0x1007 or 0x100E
  // The payload of the kind: exactly one of these is set after reading or unpacking.
  std::unique_ptr<SovFDT_HART_DataExchangeResponse> pDataExchange;
  std::unique_ptr<SovFDT_HART_SubscribeResponse> pSubscribe;
  std::unique_ptr<SovFDT_HART_UnsubscribeResponse> pUnsubscribe;
  FDT::SovFDT_FDT_CommunicationError communicationError;  // kind 0x100E

  // Reads a DataExchangeResponse, SubscribeResponse, UnsubscribeResponse or fdt:CommunicationError
  // (tried in this order; none: E_INVALIDARG).
  HRESULT ReadXml(IXMLDOMDocument* document);

 protected:
  bool Serialize() override;
};

// A connect or disconnect response that is an fdt:CommunicationError: fills error and sets
// *isError. E_INVALIDARG for null arguments.
HRESULT ParseCommunicationError(IXMLDOMDocument* document, FDT::SovFDT_FDT_CommunicationError* error,
                                bool* isError);

// The Abort document with the communication reference.
HRESULT WriteAbortXml(BSTR communicationReference, BSTR* document);
