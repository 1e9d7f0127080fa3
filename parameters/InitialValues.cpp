// CovFDT_ParameterHandlerImpl: initial values of the bit fields of a byte string, from the
// parameter's TypeInformation text.
//
// Every "Simple" element with an "initialValue" describes one field: "bitPosition" and "bitLength"
// place it in the byte string, "type" names the VARTYPE its initial value is written in. Bits are
// counted as HART lays out data: bit 0 is the most significant bit of the first byte, and a field's
// most significant bit comes first. Numbers are taken as their bytes, most significant first
// (floating-point numbers as their IEEE 754 bits), and the field receives their low bitLength bits.
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
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

// One field with an initial value, as the TypeInformation text describes it.
struct InitialField {
  bool readable = false;  // all four attributes read; an element that is not still counts
  ULONG position = 0;
  ULONG length = 0;
  std::u16string type;
  std::u16string initial;
};
using InitialFields = std::vector<InitialField>;

// The fields of each TypeInformation text read so far: every DTM of a device type carries the
// same texts, so each is parsed once for the process.
struct FieldMemo {
  std::mutex lock;
  std::unordered_map<std::u16string, std::shared_ptr<const InitialFields>> texts;
};
constexpr std::size_t kFieldMemoLimit = 4096;

FieldMemo& Memo() {
  static FieldMemo memo;
  return memo;
}

// The fields with an initial value of typeInformation; null when the text does not load.
std::shared_ptr<const InitialFields> InitialFieldsOf(BSTR typeInformation) {
  const std::u16string key(vkr::View(typeInformation));
  FieldMemo& memo = Memo();
  {
    std::lock_guard<std::mutex> hold(memo.lock);
    auto it = memo.texts.find(key);
    if (it != memo.texts.end()) return it->second;
  }
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(typeInformation, document.Put(), &loaded)) || !document || !loaded) return nullptr;
  auto fields = std::make_shared<InitialFields>();
  // Kept for the text only when every step could be taken: a list cut short by a failure of the
  // moment (memory) would otherwise stand for the text in every later DTM.
  bool complete = false;
  vkr::ComPtr<IXMLDOMNodeList> nodes;
  LONG count = 0;
  if (SUCCEEDED(document->selectNodes(vkr::Bstr(u"//Simple[@initialValue]").Get(), nodes.Put())) && nodes &&
      SUCCEEDED(nodes->get_length(&count))) {
    vkr::Bstr positionPath(u"@bitPosition"), lengthPath(u"@bitLength"), typePath(u"@type"),
        initialPath(u"@initialValue");
    // A path that could not be made would read as an attribute that is not there.
    complete = positionPath.Get() && lengthPath.Get() && typePath.Get() && initialPath.Get();
    for (LONG i = 0; i < count; ++i) {
      vkr::ComPtr<IXMLDOMNode> node;
      if (FAILED(nodes->get_item(i, node.Put())) || !node) {
        complete = false;
        continue;
      }
      InitialField field;
      vkr::Bstr type, initial;
      const HRESULT reads[] = {GetXmlValueUI4(&field.position, node.Get(), positionPath.Get()),
                               GetXmlValueUI4(&field.length, node.Get(), lengthPath.Get()),
                               GetXmlValueBstr(type.Put(), node.Get(), typePath.Get()),
                               GetXmlValueBstr(initial.Put(), node.Get(), initialPath.Get())};
      bool read = true;
      for (HRESULT hr : reads) {
        if (hr == E_OUTOFMEMORY) complete = false;
        if (FAILED(hr)) read = false;
      }
      if (!read) {
        fields->push_back(InitialField{});
        continue;
      }
      field.readable = true;
      field.type = type.Str();
      field.initial = initial.Str();
      fields->push_back(std::move(field));
    }
  }
  if (!complete) return fields;
  std::lock_guard<std::mutex> hold(memo.lock);
  if (memo.texts.size() < kFieldMemoLimit) memo.texts.try_emplace(key, fields);
  return fields;
}

}  // namespace


HRESULT CovFDT_ParameterHandlerImpl::InitValuesFromTypeInformation(VARIANT value, BSTR typeInformation,
                                                                   VARIANT* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::InitValuesFromTypeInformation()");
  if (!result) return E_POINTER;
  if (SysStringLen(typeInformation) == 0) return S_FALSE;
  std::shared_ptr<const InitialFields> fields = InitialFieldsOf(typeInformation);
  if (!fields || fields->empty()) return S_FALSE;

  vkr::Bstr hex;
  HRESULT hr = ByteArrayToHexString(&value, hex.Put(), FALSE);
  if (FAILED(hr)) return hr;
  // No bytes to place fields in: the value stays as it is.
  if (hex.Length() == 0) return S_FALSE;
  std::vector<BYTE> buffer(hex.Length() / 2);
  if (HexStringToBytes(hex.Get(), buffer.data(), static_cast<ULONG>(buffer.size())) !=
      static_cast<LONG>(buffer.size()))
    return E_UNEXPECTED;

  const ULONGLONG totalBits = static_cast<ULONGLONG>(buffer.size()) * 8;
  for (const InitialField& field : *fields) {
    // A field outside the value, or wider than a number, is not written.
    if (!field.readable || field.length == 0 || field.length > kMaxFieldBits ||
        static_cast<ULONGLONG>(field.position) + field.length > totalBits)
      continue;
    VARTYPE vt = VT_EMPTY;
    VarTypeFromString(vkr::Bstr(field.type).Get(), &vt);
    vkr::Variant text, typed;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringLen(field.initial.data(), static_cast<UINT>(field.initial.size()));
    ULONGLONG bits = 0;
    if (vt == VT_EMPTY || FAILED(ChangeVariantType(&typed, &text, vt)) || !ValueBits(typed, &bits)) continue;
    WriteBitField(&buffer, field.position, field.length, bits);
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

