// The process channel document: a channel parameter described to the frame in an FDT HART channel
// parameter document, and the frame's version of it read back. The channel's state travels with the
// document as a packed HartProcessChannelData, which the caller keeps.
#include <new>
#include <string>

#include "communication/HartCodecs.h"
#include "communication/HartRecords.h"
#include "communication/MyHartProtocol.h"
#include "parameters/ParInfo.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::Bstr;
using vkr::ComPtr;
using vkr::Variant;

// Parameter fields the channel document is made of.
constexpr ULONG kIsChannelField = 0x80000000;

Variant Mask(ULONG mask) {
  Variant v;
  v.vt = VT_UI4;
  v.ulVal = mask;
  return v;
}

bool SameText(BSTR a, BSTR b) {
  return std::u16string_view(a ? a : u"", SysStringLen(a)) == std::u16string_view(b ? b : u"", SysStringLen(b));
}

// A packed record may be left out: VT_EMPTY, or a missing optional argument.
bool IsAbsent(const VARIANT& v) {
  return v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

HRESULT Escaped(BSTR text, std::u16string* out) {
  Bstr escaped;
  HRESULT hr = XmlEscapeText(text, escaped.Put());
  if (FAILED(hr)) return hr;
  *out = escaped.Str();
  return S_OK;
}

// "input" or "output" from the parameter's private properties; E_INVALIDARG for anything else.
HRESULT SignalType(BSTR privateProperties, const char16_t** word) {
  ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(privateProperties, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!document || loaded != VARIANT_TRUE) return E_INVALIDARG;
  Bstr varType;
  bool found = false;
  hr = GetXmlString(varType.Put(), &found, document.Get(),
                    Bstr(u"PrivateProperties/Property[@name=\"PrivateProperties\"]/Property[@name=\"varType\"]/@value"));
  if (FAILED(hr)) return hr;
  if (found && varType.View() == u"inputVar") {
    *word = u"input";
    return S_OK;
  }
  if (found && varType.View() == u"outputVar") {
    *word = u"output";
    return S_OK;
  }
  return E_INVALIDARG;
}

// The command element of the HART address of one service, or a single blank without one.
HRESULT CommandElement(IXMLDOMNode* addressInformation, const char16_t* service, const char16_t* element,
                       std::u16string* out) {
  const std::u16string address =
      vkr::Format(u"Protocol[@id=\"%s\"]/HARTAddress[@service = \"%s\"]", kHartProtocolId, service);
  if (!XmlNodeExists(addressInformation, Bstr(address))) {
    out->assign(1, u' ');
    return S_OK;
  }
  BYTE command = 0;
  HRESULT hr = GetXmlValueUI1(&command, addressInformation, Bstr(vkr::Format(u"%s/@command", address.c_str())));
  if (FAILED(hr)) return hr;
  *out = vkr::Format(u"<%s commandNumber=\"%u\" />", element, static_cast<UINT>(command));
  return S_OK;
}

// The bytes of the value: its bit length rounded up.
HRESULT ByteLength(IXMLDOMNode* addressInformation, ULONG* bytes) {
  const std::u16string path =
      vkr::Format(u"Protocol[@id=\"%s\"]/HARTAddress/PduPosition/@wBitLength", kHartProtocolId);
  ULONG bits = 0;
  HRESULT hr = GetXmlValueUI4(&bits, addressInformation, Bstr(path));
  if (FAILED(hr)) return hr;
  *bytes = bits / 8 + (bits % 8 ? 1 : 0);
  return S_OK;
}

}  // namespace

// The protocol-neutral base knows no channel document.
HRESULT CovFDT_BaseProtocolImpl::GetChannelParameters(IUnknown*, VARIANT, BSTR, BSTR, BSTR*, VARIANT, VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_BaseProtocolImpl::SetChannelParameters(IUnknown*, VARIANT, BSTR, BSTR, BSTR, IUnknown*, VARIANT,
                                                      VARIANT*, bool*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_HartProtocolImpl::GetChannelParameters(IUnknown* dtm, VARIANT id, BSTR channelId, BSTR keepChannelId,
                                                      BSTR* document, VARIANT channelData,
                                                      VARIANT* newChannelData) {
  WriteLog(u"CovFDT_HartProtocolImpl::GetChannelParameters()");
  if (!document || !newChannelData || !dtm) return E_INVALIDARG;
  try {
    ComPtr<IovFdtParameterHandler4> handler;
    ComPtr<IovFdtParameterInfo> info;
    if (FAILED(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid())) || !handler ||
        FAILED(dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid())) || !info)
      return E_NOINTERFACE;

    Variant answer;
    const bool isChannel = SUCCEEDED(info->GetParameterField(id, Mask(kIsChannelField), answer.Put())) &&
                           answer.vt == VT_BOOL && answer.boolVal != VARIANT_FALSE;

    HartProcessChannelData record;
    if (!IsAbsent(channelData)) {
      if (!record.Unpack(channelData)) return E_INVALIDARG;
      // A channel the caller already holds is handed back as it is.
      if (!record.bstrChannelId.Empty() && (SameText(record.bstrChannelId, keepChannelId) || !isChannel)) {
        Variant packed;
        if (!record.Pack(packed.Put())) return E_FAIL;
        BSTR copy = nullptr;
        HRESULT hr = record.bstrDocument.CopyTo(&copy);
        if (FAILED(hr)) return hr;
        *document = copy;
        VariantClear(newChannelData);
        packed.Detach(newChannelData);
        return S_OK;
      }
    }
    if (!isChannel) return E_FAIL;

    Variant type;
    HRESULT hr = info->GetParameterField(id, Mask(PIF_VARTYPE), type.Put());
    if (FAILED(hr)) return hr;
    if (type.vt != VT_UI2) return E_UNEXPECTED;
    Bstr dataType;
    hr = VarTypeToFdtDataType(static_cast<VARTYPE>(type.uiVal), dataType.Put());
    if (FAILED(hr)) return hr;

    Variant name, privateProperties, address;
    hr = info->GetParameterField(id, Mask(PIF_NAME), name.Put());
    if (FAILED(hr)) return hr;
    hr = info->GetParameterField(id, Mask(PIF_PRIVATE_PROPERTIES), privateProperties.Put());
    if (FAILED(hr)) return hr;
    if (privateProperties.vt != VT_BSTR || SysStringLen(privateProperties.bstrVal) == 0) return E_UNEXPECTED;
    hr = info->GetParameterField(id, Mask(PIF_ADDRESS), address.Put());
    if (FAILED(hr)) return hr;

    const char16_t* signalType = nullptr;
    hr = SignalType(privateProperties.bstrVal, &signalType);
    if (FAILED(hr)) return hr;

    ComPtr<IXMLDOMDocument2> addressDocument;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (address.vt != VT_BSTR) return E_FAIL;
    hr = LoadXmlFromString(address.bstrVal, addressDocument.Put(), &loaded);
    if (FAILED(hr) || !addressDocument || loaded != VARIANT_TRUE) return E_FAIL;
    ComPtr<IXMLDOMNode> addressInformation;
    hr = addressDocument->selectSingleNode(Bstr(u"AddressInformation"), addressInformation.Put());
    if (FAILED(hr) || !addressInformation) return E_FAIL;
    std::u16string readCommand, writeCommand;
    hr = CommandElement(addressInformation.Get(), u"read", u"ReadCommand", &readCommand);
    if (FAILED(hr)) return hr;
    hr = CommandElement(addressInformation.Get(), u"write", u"WriteCommand", &writeCommand);
    if (FAILED(hr)) return hr;
    ULONG byteLength = 0;
    hr = ByteLength(addressInformation.Get(), &byteLength);
    if (FAILED(hr)) return hr;

    std::u16string tag, idText;
    hr = Escaped(name.vt == VT_BSTR ? name.bstrVal : nullptr, &tag);
    if (FAILED(hr)) return hr;
    hr = Escaped(channelId, &idText);
    if (FAILED(hr)) return hr;
    const std::u16string text = vkr::Format(
        u"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTChannelParameterSchema.xml\" "
        u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">  <FDTChannelType>    <fdt:VersionInformation\n"
        u"      name=\"HART Process Channel\"\n      vendor=\"Osgrove\"\n      version=\"1.0\"\n"
        u"      date=\"2009-07-27\"/>\n  </FDTChannelType>\n  <FDTChannel fdt:tag=\"%s\" fdt:id=\"%s\"\n"
        u"        protectedByChannelAssignment=\"%d\"\n        fdt:dataType=\"%s\"\n        byteLength=\"%u\"\n"
        u"        fdt:signalType=\"%s\">\n    %s%s  </FDTChannel></FDT>",
        tag.c_str(), idText.c_str(), record.nProtectedByChannelAssignment, dataType.Get() ? dataType.Get() : u"", byteLength,
        signalType, readCommand.c_str(), writeCommand.c_str());

    record.bstrDocument = Bstr(std::u16string_view(text));
    record.bstrChannelId = Bstr(std::u16string_view(keepChannelId ? keepChannelId : u"", SysStringLen(keepChannelId)));
    if (!record.bstrDocument.Get() || !record.bstrChannelId.Get()) return E_OUTOFMEMORY;
    Variant packed;
    if (!record.Pack(packed.Put())) return E_FAIL;
    *document = record.bstrDocument.Detach();
    VariantClear(newChannelData);
    packed.Detach(newChannelData);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CovFDT_HartProtocolImpl::SetChannelParameters(IUnknown* dtm, VARIANT /*id*/, BSTR expectedChannelId,
                                                      BSTR channelId, BSTR documentText, IUnknown* document,
                                                      VARIANT channelData, VARIANT* newChannelData,
                                                      bool* isProtected) {
  WriteLog(u"CovFDT_HartProtocolImpl::SetChannelParameters()");
  if (!newChannelData || !document || !dtm) return E_INVALIDARG;
  ComPtr<IovFdtParameterHandler4> handler;
  if (FAILED(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid())) || !handler) return E_INVALIDARG;

  HartProcessChannelData record;
  // A record given next to an out record that already holds one must be a record.
  if (newChannelData->vt != VT_EMPTY && !IsAbsent(channelData) && !record.Unpack(channelData)) return E_INVALIDARG;

  ComPtr<IXMLDOMNode> node;
  HRESULT hr = QueryXmlNode(document, node.Put());
  if (FAILED(hr)) return hr;
  if (!node) return E_NOINTERFACE;
  Bstr readId;
  hr = GetXmlValueBstr(readId.Put(), node.Get(), Bstr(u"FDT/FDTChannel/@fdt:id"));
  if (FAILED(hr)) return hr;
  if (!SameText(readId, expectedChannelId)) return E_INVALIDARG;
  LONG protectedValue = 0;
  hr = GetXmlValueI4(&protectedValue, node.Get(), Bstr(u"FDT/FDTChannel/@protectedByChannelAssignment"));
  if (FAILED(hr)) return hr;

  record.nProtectedByChannelAssignment = protectedValue;
  record.bstrDocument = Bstr(std::u16string_view(documentText ? documentText : u"", SysStringLen(documentText)));
  record.bstrChannelId = Bstr(std::u16string_view(channelId ? channelId : u"", SysStringLen(channelId)));
  if (!record.bstrDocument.Get() || !record.bstrChannelId.Get()) return E_OUTOFMEMORY;
  Variant packed;
  if (!record.Pack(packed.Put())) return E_FAIL;
  VariantClear(newChannelData);
  packed.Detach(newChannelData);
  if (isProtected) *isProtected = protectedValue != 0;
  return S_OK;
}
