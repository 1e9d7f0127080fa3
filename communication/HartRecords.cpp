// The HART records' field lists, and the FDT HART communication documents of the request and
// response infos: writers by formatting, readers by XPath on a document loaded without schema.
#include "communication/HartRecords.h"

#include <new>
#include <string>

#include "xml/XmlHelpers.h"

namespace {

using vkr::Bstr;

// Every text that lands in an attribute value goes through here: tags are user-editable and
// references come from the frame, and a quote or ampersand in either would break the document or
// inject markup. Ordinary texts come back as they are, without the cost of a DOM round trip.
HRESULT AttributeText(BSTR text, std::u16string* out) {
  const std::u16string_view view(text ? text : u"", SysStringLen(text));
  bool plain = true;
  for (char16_t c : view) {
    // Control characters, surrogates and the last two code points take the careful road: the
    // helper escapes what it can and refuses what no document can hold.
    if (c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == u'\'' || c < 0x20 ||
        (c >= 0xD800 && c <= 0xDFFF) || c >= 0xFFFE) {
      plain = false;
      break;
    }
  }
  if (plain) {
    *out = std::u16string(view);
    return S_OK;
  }
  Bstr escaped;
  HRESULT hr = XmlEscapeText(text, escaped.Put());
  if (FAILED(hr)) return hr;
  *out = escaped.Str();
  return S_OK;
}

// The formatted text as a new BSTR.
HRESULT ToBstr(const std::u16string& text, BSTR* out) {
  BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!s) return E_OUTOFMEMORY;
  *out = s;
  return S_OK;
}

bool SameText(BSTR a, const char16_t* b) {
  const std::u16string_view view(a ? a : u"", SysStringLen(a));
  return view == std::u16string_view(b);
}

// Typed reads at a literal path.
HRESULT ReadBstr(IXMLDOMNode* node, const char16_t* path, Bstr* out) {
  Bstr value;
  HRESULT hr = GetXmlValueBstr(value.Put(), node, Bstr(path));
  if (FAILED(hr)) return hr;
  *out = std::move(value);
  return S_OK;
}
HRESULT ReadOptionalBstr(IXMLDOMNode* node, const char16_t* path, Bstr* out, bool* present) {
  Bstr value;
  bool found = false;
  HRESULT hr = GetXmlString(value.Put(), &found, node, Bstr(path));
  if (FAILED(hr)) return hr;
  *present = found;
  *out = found ? std::move(value) : Bstr();
  return S_OK;
}
HRESULT ReadByte(IXMLDOMNode* node, const char16_t* path, BYTE* out) {
  return GetXmlValueUI1(out, node, Bstr(path));
}
HRESULT ReadOptionalByte(IXMLDOMNode* node, const char16_t* path, BYTE* out, bool* present) {
  return GetOptionalXmlValueUI1(out, present, node, Bstr(path));
}
HRESULT ReadBool(IXMLDOMNode* node, const char16_t* path, bool* out) {
  return GetXmlValueBool(out, node, Bstr(path));
}
HRESULT ReadOptionalBool(IXMLDOMNode* node, const char16_t* path, bool* out, bool* present) {
  return GetOptionalXmlValueBool(out, present, node, Bstr(path));
}
bool Exists(IXMLDOMNode* node, const char16_t* path) { return XmlNodeExists(node, Bstr(path)); }

// The five bytes of a LongAddress element below base (all required).
HRESULT ReadLongAddress(IXMLDOMNode* node, const std::u16string& base, SovFDT_HART_LongAddress* address) {
  SovFDT_HART_LongAddress read;
  HRESULT hr = ReadByte(node, (base + u"/@manufacturerId").c_str(), &read.byManufacturerId);
  if (SUCCEEDED(hr)) hr = ReadByte(node, (base + u"/@deviceTypeId").c_str(), &read.byDeviceTypeId);
  if (SUCCEEDED(hr)) hr = ReadByte(node, (base + u"/@address1").c_str(), &read.byAddress1);
  if (SUCCEEDED(hr)) hr = ReadByte(node, (base + u"/@address2").c_str(), &read.byAddress2);
  if (SUCCEEDED(hr)) hr = ReadByte(node, (base + u"/@address3").c_str(), &read.byAddress3);
  if (FAILED(hr)) return hr;
  address->byManufacturerId = read.byManufacturerId;
  address->byDeviceTypeId = read.byDeviceTypeId;
  address->byAddress1 = read.byAddress1;
  address->byAddress2 = read.byAddress2;
  address->byAddress3 = read.byAddress3;
  return S_OK;
}

// The four attributes of an fdt:CommunicationError element at base.
HRESULT ReadCommunicationError(IXMLDOMNode* node, const std::u16string& base,
                               FDT::SovFDT_FDT_CommunicationError* error) {
  Bstr word, tag, code, descriptor;
  bool codePresent = false, descriptorPresent = false;
  HRESULT hr = ReadBstr(node, (base + u"/@communicationError").c_str(), &word);
  if (SUCCEEDED(hr)) hr = ReadBstr(node, (base + u"/@tag").c_str(), &tag);
  if (SUCCEEDED(hr)) hr = ReadOptionalBstr(node, (base + u"/@errorCode").c_str(), &code, &codePresent);
  if (SUCCEEDED(hr))
    hr = ReadOptionalBstr(node, (base + u"/@descriptor").c_str(), &descriptor, &descriptorPresent);
  if (FAILED(hr)) return hr;
  error->bstrCommunicationError = std::move(word);
  error->bstrTag = std::move(tag);
  error->bErrorCodePresent = codePresent;
  error->bstrErrorCode = std::move(code);
  error->bDescriptorPresent = descriptorPresent;
  error->bstrDescriptor = std::move(descriptor);
  return S_OK;
}

void ResetCommunicationError(FDT::SovFDT_FDT_CommunicationError* error) {
  error->bstrCommunicationError.Reset();
  error->bstrTag.Reset();
  error->bErrorCodePresent = false;
  error->bstrErrorCode.Reset();
  error->bDescriptorPresent = false;
  error->bstrDescriptor.Reset();
}

// The optional error word of a subscribe or unsubscribe response as its number.
HRESULT ReadErrorWord(IXMLDOMNode* node, const char16_t* path, LONG* number, bool* present) {
  Bstr word;
  HRESULT hr = ReadOptionalBstr(node, path, &word, present);
  if (FAILED(hr)) return hr;
  *number = *present ? CommunicationErrorFromText(word) : 0;
  return S_OK;
}

}  // namespace

// ---- Error words ----

LONG CommunicationErrorFromText(BSTR word) {
  static const char16_t* const kWords[] = {u"abort",
                                           u"busy",
                                           u"invalidCommunicationReference",
                                           u"noConnection",
                                           u"noParallelServices",
                                           u"noPendingRequest",
                                           u"unknownError",
                                           u"timeout",
                                           u"dtmSpecific",
                                           u"notSupportedFeature",
                                           u"sequenceTimeExpired"};
  for (LONG i = 0; i < static_cast<LONG>(sizeof(kWords) / sizeof(kWords[0])); ++i)
    if (SameText(word, kWords[i])) return i;
  return 8;
}

// ---- Payload records ----

bool SovFDT_HART_Status::Serialize() {
  return ExchangeByte(byDeviceStatus) && ExchangeBool(bCommunicationStatusPresent) &&
         ExchangeByte(byCommunicationStatus) && ExchangeBool(bCommandResponsePresent) &&
         ExchangeByte(byCommandResponse);
}

bool SovFDT_HART_LongAddress::Serialize() {
  return ExchangeByte(byManufacturerId) && ExchangeByte(byDeviceTypeId) && ExchangeByte(byAddress1) &&
         ExchangeByte(byAddress2) && ExchangeByte(byAddress3);
}

bool SovFDT_HART_DataExchangeRequest::Serialize() {
  return ExchangeByte(byCommandNumber) && ExchangeBool(bHasRequestData) && ExchangeBstr(bstrRequestData);
}

bool SovFDT_HART_DataExchangeResponse::Serialize() {
  return ExchangeByte(byCommandNumber) && ExchangeBool(bBurstFramePresent) && ExchangeBool(bBurstFrame) &&
         ExchangeBool(bHasResponseData) && ExchangeBstr(bstrResponseData) && ExchangeRecord(status);
}

bool SovFDT_HART_SubscribeResponse::Serialize() {
  return ExchangeBool(bBurstModeDetected) && ExchangeBool(bCommunicationErrorPresent) &&
         ExchangeLong(nCommunicationError);
}

bool SovFDT_HART_UnsubscribeResponse::Serialize() {
  return ExchangeBool(bCommunicationErrorPresent) && ExchangeLong(nCommunicationError);
}

namespace FDT {
bool SovFDT_FDT_CommunicationError::Serialize() {
  return ExchangeBstr(bstrCommunicationError) && ExchangeBstr(bstrTag) && ExchangeBool(bErrorCodePresent) &&
         ExchangeBstr(bstrErrorCode) && ExchangeBool(bDescriptorPresent) && ExchangeBstr(bstrDescriptor);
}
}  // namespace FDT

bool HartProcessChannelData::Serialize() {
  return ExchangeLong(nProtectedByChannelAssignment) && ExchangeBstr(bstrDocument) && ExchangeBstr(bstrChannelId);
}

// ---- The request-info base ----

HRESULT baseRequestInfo::SetCommunicationReference(BSTR reference, const ULONG* value) {
  if (!reference || !value) return E_INVALIDARG;
  m_bstrCommunicationReference = Bstr(std::u16string_view(reference, SysStringLen(reference)));
  if (!m_bstrCommunicationReference.Get()) return E_OUTOFMEMORY;
  m_nValue = *value;
  return S_OK;
}

void baseRequestInfo::Clear() {
  m_bstrCommunicationReference.Reset();
  m_nValue = 0;
}

// ---- ConnectRequest ----

bool HARTConnectRequestInfo::Serialize() {
  return ExchangeBstr(bstrTag) && ExchangeBool(bPreambleCountPresent) && ExchangeByte(byPreambleCount) &&
         ExchangeBool(bPrimaryMasterPresent) && ExchangeBool(bPrimaryMaster) &&
         ExchangeBool(bLongFrameRequiredPresent) && ExchangeBool(bLongFrameRequired) &&
         ExchangeBool(bLongAddressPresent) && ExchangeRecord(longAddress) && ExchangeByte(byShortAddress) &&
         ExchangeBool(bSystemTagPresent) && ExchangeBstr(bstrSystemTag);
}

HRESULT HARTConnectRequestInfo::WriteXml(BSTR* document) {
  if (!document) return E_INVALIDARG;
  try {
    std::u16string tag, preamble = u" ", primary = u" ", longFrame = u" ", systemTag = u" ", longAddr = u" ";
    HRESULT hr = AttributeText(bstrTag, &tag);
    if (FAILED(hr)) return hr;
    if (bPreambleCountPresent) preamble = vkr::Format(u" preambleCount=\"%u\"", static_cast<UINT>(byPreambleCount));
    if (bPrimaryMasterPresent) primary = bPrimaryMaster ? u" primaryMaster=\"1\"" : u" primaryMaster=\"0\"";
    if (bLongFrameRequiredPresent)
      longFrame = bLongFrameRequired ? u" longFrameRequired=\"1\"" : u" longFrameRequired=\"0\"";
    if (bSystemTagPresent) {
      std::u16string text;
      hr = AttributeText(bstrSystemTag, &text);
      if (FAILED(hr)) return hr;
      systemTag = vkr::Format(u" fdt:systemTag=\"%s\"", text.c_str());
    }
    if (bLongAddressPresent)
      longAddr = vkr::Format(
          u"<LongAddress manufacturerId=\"%u\" deviceTypeId=\"%u\" address1=\"%u\" address2=\"%u\" address3=\"%u\" />",
          static_cast<UINT>(longAddress.byManufacturerId), static_cast<UINT>(longAddress.byDeviceTypeId),
          static_cast<UINT>(longAddress.byAddress1), static_cast<UINT>(longAddress.byAddress2),
          static_cast<UINT>(longAddress.byAddress3));
    const std::u16string text = vkr::Format(
        u"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" \n"
        u"     xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n    <ConnectRequest fdt:tag=\"%s\"%s%s%s%s>\n"
        u"        %s\n        <ShortAddress shortAddress=\"%u\" />\n</ConnectRequest>\n</FDT>",
        tag.c_str(), preamble.c_str(), primary.c_str(), longFrame.c_str(), systemTag.c_str(), longAddr.c_str(),
        static_cast<UINT>(byShortAddress));
    return ToBstr(text, document);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT HARTConnectRequestInfo::ReadXml(IXMLDOMDocument* document) {
  if (!document) return E_INVALIDARG;
  try {
    Bstr tag, systemTag;
    BYTE preamble = 0, shortAddress = 0;
    bool preamblePresent = false, primary = false, primaryPresent = false, longFrame = false,
         longFramePresent = false, systemTagPresent = false;
    SovFDT_HART_LongAddress address;
    HRESULT hr = ReadBstr(document, u"FDT/ConnectRequest/@fdt:tag", &tag);
    if (SUCCEEDED(hr)) hr = ReadOptionalByte(document, u"FDT/ConnectRequest/@preambleCount", &preamble, &preamblePresent);
    if (SUCCEEDED(hr)) hr = ReadOptionalBool(document, u"FDT/ConnectRequest/@primaryMaster", &primary, &primaryPresent);
    if (SUCCEEDED(hr))
      hr = ReadOptionalBool(document, u"FDT/ConnectRequest/@longFrameRequired", &longFrame, &longFramePresent);
    // The writer puts ShortAddress into every ConnectRequest, so a document without one is not ours.
    if (SUCCEEDED(hr)) hr = ReadByte(document, u"FDT/ConnectRequest/ShortAddress/@shortAddress", &shortAddress);
    const bool longPresent = SUCCEEDED(hr) && Exists(document, u"FDT/ConnectRequest/LongAddress");
    if (longPresent) hr = ReadLongAddress(document, u"FDT/ConnectRequest/LongAddress", &address);
    if (SUCCEEDED(hr))
      hr = ReadOptionalBstr(document, u"FDT/ConnectRequest/@fdt:systemTag", &systemTag, &systemTagPresent);
    if (FAILED(hr)) return hr;
    bstrTag = std::move(tag);
    bPreambleCountPresent = preamblePresent;
    byPreambleCount = preamblePresent ? preamble : 0;
    bPrimaryMasterPresent = primaryPresent;
    bPrimaryMaster = primaryPresent && primary;
    bLongFrameRequiredPresent = longFramePresent;
    bLongFrameRequired = longFramePresent && longFrame;
    bLongAddressPresent = longPresent;
    if (longPresent) {
      longAddress.byManufacturerId = address.byManufacturerId;
      longAddress.byDeviceTypeId = address.byDeviceTypeId;
      longAddress.byAddress1 = address.byAddress1;
      longAddress.byAddress2 = address.byAddress2;
      longAddress.byAddress3 = address.byAddress3;
    }
    byShortAddress = shortAddress;
    bSystemTagPresent = systemTagPresent;
    bstrSystemTag = std::move(systemTag);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// ---- DisconnectRequest ----

bool HARTDisconnectRequestInfo::Serialize() { return ExchangeBstr(m_bstrCommunicationReference); }

HRESULT HARTDisconnectRequestInfo::WriteXml(BSTR* document) {
  if (!document) return E_INVALIDARG;
  try {
    std::u16string reference;
    HRESULT hr = AttributeText(m_bstrCommunicationReference, &reference);
    if (FAILED(hr)) return hr;
    return ToBstr(vkr::Format(u"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" \n"
                              u"     xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n"
                              u"    <DisconnectRequest communicationReference =\"%s\" />\n</FDT>",
                              reference.c_str()),
                  document);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT HARTDisconnectRequestInfo::ReadXml(IXMLDOMDocument* document) {
  if (!document) return E_INVALIDARG;
  Bstr reference;
  HRESULT hr = ReadBstr(document, u"FDT/DisconnectRequest/@communicationReference", &reference);
  if (FAILED(hr)) return hr;
  m_bstrCommunicationReference = std::move(reference);
  return S_OK;
}

// ---- Transaction requests ----

bool HARTTransactRequestInfo::Serialize() {
  if (!ExchangeBstr(m_bstrCommunicationReference) || !ExchangeVariant(parameterId) || !ExchangeVariant(value) ||
      !ExchangeLong(nKind))
    return false;
  if (m_nMode == kUnpack) {
    // The kind just read decides the payload; whatever was held before goes.
    pPayload.reset();
    if (nKind != kHartDataExchangeRequest) return true;
    pPayload.reset(new (std::nothrow) SovFDT_HART_DataExchangeRequest);
    if (pPayload && ExchangeRecord(*pPayload)) return true;
    // No half-filled payload stays behind a failed unpacking.
    pPayload.reset();
    return false;
  }
  if (nKind != kHartDataExchangeRequest) return true;
  // A data exchange without its command cannot be carried.
  return pPayload && ExchangeRecord(*pPayload);
}

HRESULT HARTTransactRequestInfo::WriteXml(BSTR* document) {
  if (!document) return E_INVALIDARG;
  try {
    std::u16string reference;
    HRESULT hr = AttributeText(m_bstrCommunicationReference, &reference);
    if (FAILED(hr)) return hr;
    std::u16string text =
        u"<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n";
    switch (nKind) {
      case kHartDataExchangeRequest: {
        if (!pPayload) return E_POINTER;
        std::u16string body = u" ";
        if (pPayload->bHasRequestData) {
          std::u16string data;
          hr = AttributeText(pPayload->bstrRequestData, &data);
          if (FAILED(hr)) return hr;
          body = vkr::Format(u"<fdt:CommunicationData byteArray=\"%s\" />\n", data.c_str());
        }
        text += vkr::Format(
            u"<DataExchangeRequest commandNumber=\"%u\" communicationReference=\"%s\">\n%s\n</DataExchangeRequest>\n</FDT>",
            static_cast<UINT>(pPayload->byCommandNumber), reference.c_str(), body.c_str());
        break;
      }
      case kHartSubscribeRequest:
        text += vkr::Format(u"<SubscribeRequest communicationReference=\"%s\" />\n</FDT>", reference.c_str());
        break;
      case kHartUnsubscribeRequest:
        text += vkr::Format(u"<UnsubscribeRequest communicationReference=\"%s\" />\n</FDT>", reference.c_str());
        break;
      default:
        return E_FAIL;
    }
    return ToBstr(text, document);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT HARTTransactRequestInfo::ReadXml(IXMLDOMDocument* document) {
  if (!document) return E_INVALIDARG;
  try {
    LONG kind = 0;
    std::u16string base;
    if (Exists(document, u"FDT/DataExchangeRequest")) {
      kind = kHartDataExchangeRequest;
      base = u"FDT/DataExchangeRequest/";
    } else if (Exists(document, u"FDT/SubscribeRequest")) {
      kind = kHartSubscribeRequest;
      base = u"FDT/SubscribeRequest/";
    } else if (Exists(document, u"FDT/UnsubscribeRequest")) {
      kind = kHartUnsubscribeRequest;
      base = u"FDT/UnsubscribeRequest/";
    } else {
      return E_INVALIDARG;
    }
    Bstr reference;
    HRESULT hr = ReadBstr(document, (base + u"@communicationReference").c_str(), &reference);
    if (FAILED(hr)) return hr;
    std::unique_ptr<SovFDT_HART_DataExchangeRequest> payload;
    if (kind == kHartDataExchangeRequest) {
      payload.reset(new (std::nothrow) SovFDT_HART_DataExchangeRequest);
      if (!payload) return E_OUTOFMEMORY;
      hr = ReadByte(document, (base + u"@commandNumber").c_str(), &payload->byCommandNumber);
      if (SUCCEEDED(hr))
        hr = ReadOptionalBstr(document, (base + u"fdt:CommunicationData/@byteArray").c_str(),
                              &payload->bstrRequestData, &payload->bHasRequestData);
      if (FAILED(hr)) return hr;
    }
    m_bstrCommunicationReference = std::move(reference);
    nKind = kind;
    pPayload = std::move(payload);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// ---- ConnectResponse ----

bool HARTConnectResponseInfo::Serialize() {
  return ExchangeBstr(bstrCommunicationReference) && ExchangeBstr(bstrTag) && ExchangeByte(byPreambleCount) &&
         ExchangeBool(bPrimaryMaster) && ExchangeBool(bLongAddressPresent) && ExchangeRecord(longAddress) &&
         ExchangeByte(byShortAddress);
}

HRESULT HARTConnectResponseInfo::ReadXml(IXMLDOMDocument* document) {
  if (!document) return E_INVALIDARG;
  try {
    Bstr tag, reference;
    BYTE preamble = 0, shortAddress = 0;
    bool primary = false;
    SovFDT_HART_LongAddress address;
    HRESULT hr = ReadBstr(document, u"FDT/ConnectResponse/@fdt:tag", &tag);
    if (SUCCEEDED(hr)) hr = ReadByte(document, u"FDT/ConnectResponse/@preambleCount", &preamble);
    if (SUCCEEDED(hr)) hr = ReadBool(document, u"FDT/ConnectResponse/@primaryMaster", &primary);
    if (SUCCEEDED(hr)) hr = ReadBstr(document, u"FDT/ConnectResponse/@communicationReference", &reference);
    if (SUCCEEDED(hr)) hr = ReadByte(document, u"FDT/ConnectResponse/ShortAddress/@shortAddress", &shortAddress);
    const bool longPresent = SUCCEEDED(hr) && Exists(document, u"FDT/ConnectResponse/LongAddress");
    if (longPresent) hr = ReadLongAddress(document, u"FDT/ConnectResponse/LongAddress", &address);
    if (FAILED(hr)) return hr;
    bstrCommunicationReference = std::move(reference);
    bstrTag = std::move(tag);
    byPreambleCount = preamble;
    bPrimaryMaster = primary;
    bLongAddressPresent = longPresent;
    if (longPresent) {
      longAddress.byManufacturerId = address.byManufacturerId;
      longAddress.byDeviceTypeId = address.byDeviceTypeId;
      longAddress.byAddress1 = address.byAddress1;
      longAddress.byAddress2 = address.byAddress2;
      longAddress.byAddress3 = address.byAddress3;
    }
    byShortAddress = shortAddress;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// ---- DisconnectResponse ----

bool HARTDisconnectResponseInfo::Serialize() { return ExchangeBstr(bstrCommunicationReference); }

HRESULT HARTDisconnectResponseInfo::ReadXml(IXMLDOMDocument* document) {
  if (!document) return E_INVALIDARG;
  Bstr reference;
  HRESULT hr = ReadBstr(document, u"FDT/DisconnectResponse/@communicationReference", &reference);
  if (FAILED(hr)) return hr;
  bstrCommunicationReference = std::move(reference);
  return S_OK;
}

// ---- Transaction responses ----

bool HARTTransactResponseInfo::Serialize() {
  if (!ExchangeBstr(bstrCommunicationReference) || !ExchangeVariant(reserved) || !ExchangeLong(nKind))
    return false;
  if (m_nMode == kUnpack) {
    pDataExchange.reset();
    pSubscribe.reset();
    pUnsubscribe.reset();
    ResetCommunicationError(&communicationError);
    bool ok = true;
    switch (nKind) {
      case kHartDataExchangeResponse:
        pDataExchange.reset(new (std::nothrow) SovFDT_HART_DataExchangeResponse);
        ok = pDataExchange && ExchangeRecord(*pDataExchange);
        break;
      case kHartSubscribeResponse:
        pSubscribe.reset(new (std::nothrow) SovFDT_HART_SubscribeResponse);
        ok = pSubscribe && ExchangeRecord(*pSubscribe);
        break;
      case kHartUnsubscribeResponse:
        pUnsubscribe.reset(new (std::nothrow) SovFDT_HART_UnsubscribeResponse);
        ok = pUnsubscribe && ExchangeRecord(*pUnsubscribe);
        break;
      case kHartCommunicationError:
        ok = ExchangeRecord(communicationError);
        break;
      default:
        break;
    }
    if (!ok) {
      // No half-filled payload stays behind a failed unpacking.
      pDataExchange.reset();
      pSubscribe.reset();
      pUnsubscribe.reset();
      ResetCommunicationError(&communicationError);
    }
    return ok;
  }
  switch (nKind) {
    case kHartDataExchangeResponse:
      return pDataExchange && ExchangeRecord(*pDataExchange);
    case kHartSubscribeResponse:
      return pSubscribe && ExchangeRecord(*pSubscribe);
    case kHartUnsubscribeResponse:
      return pUnsubscribe && ExchangeRecord(*pUnsubscribe);
    case kHartCommunicationError:
      // Carried along so that the error word survives the trip to the caller.
      return ExchangeRecord(communicationError);
    default:
      return true;
  }
}

HRESULT HARTTransactResponseInfo::ReadXml(IXMLDOMDocument* document) {
  if (!document) return E_INVALIDARG;
  try {
    Bstr reference;
    HRESULT hr = S_OK;
    if (Exists(document, u"FDT/DataExchangeResponse")) {
      const std::u16string base = u"FDT/DataExchangeResponse/";
      std::unique_ptr<SovFDT_HART_DataExchangeResponse> payload(new (std::nothrow) SovFDT_HART_DataExchangeResponse);
      if (!payload) return E_OUTOFMEMORY;
      SovFDT_HART_Status& status = payload->status;
      hr = ReadBstr(document, (base + u"@communicationReference").c_str(), &reference);
      if (SUCCEEDED(hr)) hr = ReadByte(document, (base + u"@commandNumber").c_str(), &payload->byCommandNumber);
      if (SUCCEEDED(hr))
        hr = ReadOptionalBool(document, (base + u"@burstFrame").c_str(), &payload->bBurstFrame,
                              &payload->bBurstFramePresent);
      if (SUCCEEDED(hr))
        hr = ReadOptionalBstr(document, (base + u"fdt:CommunicationData/@byteArray").c_str(),
                              &payload->bstrResponseData, &payload->bHasResponseData);
      if (SUCCEEDED(hr)) hr = ReadByte(document, (base + u"Status/@deviceStatus").c_str(), &status.byDeviceStatus);
      if (SUCCEEDED(hr))
        hr = ReadOptionalByte(document, (base + u"Status/CommunicationStatus/@value").c_str(),
                              &status.byCommunicationStatus, &status.bCommunicationStatusPresent);
      if (SUCCEEDED(hr))
        hr = ReadOptionalByte(document, (base + u"Status/CommandResponse/@value").c_str(),
                              &status.byCommandResponse, &status.bCommandResponsePresent);
      if (FAILED(hr)) return hr;
      nKind = kHartDataExchangeResponse;
      pDataExchange = std::move(payload);
      pSubscribe.reset();
      pUnsubscribe.reset();
      ResetCommunicationError(&communicationError);
    } else if (Exists(document, u"FDT/SubscribeResponse")) {
      std::unique_ptr<SovFDT_HART_SubscribeResponse> payload(new (std::nothrow) SovFDT_HART_SubscribeResponse);
      if (!payload) return E_OUTOFMEMORY;
      hr = ReadBstr(document, u"FDT/SubscribeResponse/@communicationReference", &reference);
      if (SUCCEEDED(hr))
        hr = ReadBool(document, u"FDT/SubscribeResponse/@burstModeDetected", &payload->bBurstModeDetected);
      if (SUCCEEDED(hr))
        hr = ReadErrorWord(document, u"FDT/SubscribeResponse/@communicationError", &payload->nCommunicationError,
                           &payload->bCommunicationErrorPresent);
      if (FAILED(hr)) return hr;
      nKind = kHartSubscribeResponse;
      pDataExchange.reset();
      pSubscribe = std::move(payload);
      pUnsubscribe.reset();
      ResetCommunicationError(&communicationError);
    } else if (Exists(document, u"FDT/UnsubscribeResponse")) {
      std::unique_ptr<SovFDT_HART_UnsubscribeResponse> payload(new (std::nothrow) SovFDT_HART_UnsubscribeResponse);
      if (!payload) return E_OUTOFMEMORY;
      hr = ReadBstr(document, u"FDT/UnsubscribeResponse/@communicationReference", &reference);
      if (SUCCEEDED(hr))
        hr = ReadErrorWord(document, u"FDT/UnsubscribeResponse/@communicationError", &payload->nCommunicationError,
                           &payload->bCommunicationErrorPresent);
      if (FAILED(hr)) return hr;
      nKind = kHartUnsubscribeResponse;
      pDataExchange.reset();
      pSubscribe.reset();
      pUnsubscribe = std::move(payload);
      ResetCommunicationError(&communicationError);
    } else if (Exists(document, u"FDT/fdt:CommunicationError")) {
      FDT::SovFDT_FDT_CommunicationError error;
      hr = ReadCommunicationError(document, u"FDT/fdt:CommunicationError", &error);
      if (FAILED(hr)) return hr;
      nKind = kHartCommunicationError;
      pDataExchange.reset();
      pSubscribe.reset();
      pUnsubscribe.reset();
      communicationError.bstrCommunicationError = std::move(error.bstrCommunicationError);
      communicationError.bstrTag = std::move(error.bstrTag);
      communicationError.bErrorCodePresent = error.bErrorCodePresent;
      communicationError.bstrErrorCode = std::move(error.bstrErrorCode);
      communicationError.bDescriptorPresent = error.bDescriptorPresent;
      communicationError.bstrDescriptor = std::move(error.bstrDescriptor);
    } else {
      return E_INVALIDARG;
    }
    // An fdt:CommunicationError has no reference: the record's stays empty then.
    bstrCommunicationReference = std::move(reference);
    reserved.Clear();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// ---- Errors in connect and disconnect responses; the Abort document ----

HRESULT ParseCommunicationError(IXMLDOMDocument* document, FDT::SovFDT_FDT_CommunicationError* error,
                                bool* isError) {
  if (!document || !error || !isError) return E_INVALIDARG;
  *isError = false;
  try {
    if (!Exists(document, u"FDT/fdt:CommunicationError")) return S_OK;
    HRESULT hr = ReadCommunicationError(document, u"FDT/fdt:CommunicationError", error);
    if (FAILED(hr)) return hr;
    *isError = true;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT WriteAbortXml(BSTR communicationReference, BSTR* document) {
  if (!document) return E_INVALIDARG;
  try {
    std::u16string reference;
    HRESULT hr = AttributeText(communicationReference, &reference);
    if (FAILED(hr)) return hr;
    return ToBstr(vkr::Format(u"<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\">\n"
                              u"<Abort communicationReference=\"%s\" />\n</FDT>",
                              reference.c_str()),
                  document);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
