// CovFDT_ParameterHandlerImpl: initial values of the bit fields of a byte string, from the
// parameter's TypeInformation text.
//
// Every "Simple" element with an "initialValue" describes one field: "bitPosition" and "bitLength"
// place it in the byte string, "type" names the VARTYPE its initial value is written in. Bits are
// counted as HART lays out data: bit 0 is the most significant bit of the first byte, and a field's
// most significant bit comes first. Numbers are taken as their bytes, most significant first
// (floating-point numbers as their IEEE 754 bits), and the field receives their low bitLength bits.
#include <cstring>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

// A field is at most a 64-bit number wide.
constexpr ULONG kMaxFieldBits = 64;

// The typed value as an unsigned number of its bits; false for a type that has no fixed bytes.
bool ValueBits(const VARIANT& v, ULONGLONG* bits) {
  switch (v.vt) {
    case VT_BOOL: *bits = static_cast<ULONGLONG>(static_cast<LONGLONG>(v.boolVal)); return true;
    case VT_I1: *bits = static_cast<ULONGLONG>(static_cast<LONGLONG>(v.cVal)); return true;
    case VT_UI1: *bits = v.bVal; return true;
    case VT_I2: *bits = static_cast<ULONGLONG>(static_cast<LONGLONG>(v.iVal)); return true;
    case VT_UI2: *bits = v.uiVal; return true;
    case VT_I4:
    case VT_INT: *bits = static_cast<ULONGLONG>(static_cast<LONGLONG>(v.lVal)); return true;
    case VT_UI4:
    case VT_UINT: *bits = v.ulVal; return true;
    case VT_I8: *bits = static_cast<ULONGLONG>(v.llVal); return true;
    case VT_UI8: *bits = v.ullVal; return true;
    case VT_R4: {
      ULONG raw = 0;
      std::memcpy(&raw, &v.fltVal, sizeof raw);
      *bits = raw;
      return true;
    }
    case VT_R8: std::memcpy(bits, &v.dblVal, sizeof *bits); return true;
    default: return false;
  }
}

// Writes the low `length` bits of value at bit `position` of buffer.
void WriteBitField(std::vector<BYTE>* buffer, ULONG position, ULONG length, ULONGLONG value) {
  for (ULONG k = 0; k < length; ++k) {
    const ULONG bit = position + k;
    const BYTE mask = static_cast<BYTE>(0x80u >> (bit % 8));
    if ((value >> (length - 1 - k)) & 1u)
      (*buffer)[bit / 8] |= mask;
    else
      (*buffer)[bit / 8] &= static_cast<BYTE>(~mask);
  }
}

}  // namespace

HRESULT CovFDT_ParameterHandlerImpl::InitValuesFromTypeInformation(VARIANT value, BSTR typeInformation,
                                                                   VARIANT* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::InitValuesFromTypeInformation()");
  if (!result) return E_POINTER;
  if (SysStringLen(typeInformation) == 0) return S_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(typeInformation, document.Put(), &loaded)) || !document || !loaded) return S_FALSE;
  vkr::ComPtr<IXMLDOMNodeList> nodes;
  vkr::Bstr query(u"//Simple[@initialValue]");
  LONG count = 0;
  if (FAILED(document->selectNodes(query.Get(), nodes.Put())) || !nodes || FAILED(nodes->get_length(&count)) ||
      count == 0)
    return S_FALSE;

  vkr::Bstr hex;
  HRESULT hr = ByteArrayToHexString(&value, hex.Put(), FALSE);
  if (FAILED(hr)) return hr;
  // No bytes to place fields in: the value stays as it is.
  if (hex.Length() == 0) return S_FALSE;
  std::vector<BYTE> buffer(hex.Length() / 2);
  if (HexStringToBytes(hex.Get(), buffer.data(), static_cast<ULONG>(buffer.size())) !=
      static_cast<LONG>(buffer.size()))
    return E_UNEXPECTED;

  vkr::Bstr positionPath(u"@bitPosition"), lengthPath(u"@bitLength"), typePath(u"@type"),
      initialPath(u"@initialValue");
  const ULONGLONG totalBits = static_cast<ULONGLONG>(buffer.size()) * 8;
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (FAILED(nodes->get_item(i, node.Put())) || !node) continue;
    ULONG position = 0, length = 0;
    vkr::Bstr type, initial;
    if (FAILED(GetXmlValueUI4(&position, node.Get(), positionPath.Get())) ||
        FAILED(GetXmlValueUI4(&length, node.Get(), lengthPath.Get())) ||
        FAILED(GetXmlValueBstr(type.Put(), node.Get(), typePath.Get())) ||
        FAILED(GetXmlValueBstr(initial.Put(), node.Get(), initialPath.Get())))
      continue;
    // A field outside the value, or wider than a number, is not written.
    if (length == 0 || length > kMaxFieldBits || static_cast<ULONGLONG>(position) + length > totalBits) continue;
    VARTYPE vt = VT_EMPTY;
    VarTypeFromString(type.Get(), &vt);
    vkr::Variant text, typed;
    text.vt = VT_BSTR;
    text.bstrVal = initial.Detach();
    ULONGLONG bits = 0;
    if (vt == VT_EMPTY || FAILED(ChangeVariantType(&typed, &text, vt)) || !ValueBits(typed, &bits)) continue;
    WriteBitField(&buffer, position, length, bits);
  }

  vkr::Bstr rebuilt;
  hr = BytesToHexString(buffer.data(), static_cast<ULONG>(buffer.size()), rebuilt.Put());
  if (FAILED(hr)) return hr;
  vkr::Variant bytes;
  hr = HexStringToByteArray(&bytes, rebuilt.Get(), TRUE);
  if (FAILED(hr)) return hr;
  VariantClear(result);
  bytes.Detach(result);
  return S_OK;
}
