// Name splitting, the FDT variant element and the state texts of the parameter documents.
#include "parameters/ParameterDocuments.h"

#include <string>
#include <string_view>

#include "parameters/CFdtVariant.h"
#include "xml/Conversions.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr const char16_t* kVariantOpen = u"<fdt:Variant xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" dataType=\"";
constexpr const char16_t* kVariantClose = u"\" /></fdt:Variant>";
// The conversion flag the value texts are made with: the value itself, not a default property.
constexpr USHORT kNoValueProp = 1;

struct DataTypeWord {
  const char16_t* word;
  VARTYPE vt;
};
// In the order the words are compared.
constexpr DataTypeWord kDataTypeWords[] = {
    {u"byte", VT_UI1},       {u"float", VT_R4},     {u"double", VT_R8},
    {u"int", VT_I4},         {u"unsigned", VT_UI4}, {u"ascii", VT_BSTR},
    {u"hexString", VT_ARRAY | VT_UI1}, {u"dateAndTime", VT_DATE},
};

HRESULT ChangeToText(const VARIANT& value, VARTYPE via, std::u16string* text) {
  vkr::Variant step;
  const VARIANT* source = &value;
  if (via != VT_EMPTY) {
    HRESULT hr = VariantChangeType(step.Ptr(), &value, kNoValueProp, via);
    if (FAILED(hr)) return hr;
    source = step.Ptr();
  }
  vkr::Variant converted;
  HRESULT hr = VariantChangeType(converted.Ptr(), source, kNoValueProp, VT_BSTR);
  if (FAILED(hr)) return hr;
  if (converted.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  *text = vkr::View(converted.bstrVal);
  return S_OK;
}

}  // namespace

HRESULT SplitNameAtSeparator(BSTR* text, LPCWSTR separators, BSTR* head, BOOL* noSeparator) {
  if (!text || !head || !noSeparator) return E_POINTER;
  *noSeparator = TRUE;
  if (!separators || !*separators || !*text || SysStringLen(*text) == 0) return S_OK;
  const std::u16string_view all(*text, SysStringLen(*text));
  const std::u16string_view set(separators);
  const std::size_t at = all.find_first_of(set);
  const std::u16string_view before = all.substr(0, at);
  const std::u16string_view rest = at == std::u16string_view::npos ? std::u16string_view() : all.substr(at + 1);
  vkr::Bstr newHead(before), newText(rest);
  if (!newHead.Get() || !newText.Get()) return E_OUTOFMEMORY;
  SysFreeString(*text);
  *text = newText.Detach();
  SysFreeString(*head);
  *head = newHead.Detach();
  *noSeparator = rest.empty() ? TRUE : FALSE;
  return S_OK;
}

bool DataTypeToVarType(BSTR text, VARTYPE* vt) {
  if (!vt || !text) return false;
  const std::u16string_view word(text, SysStringLen(text));
  for (const DataTypeWord& d : kDataTypeWords)
    if (word == d.word) {
      *vt = d.vt;
      return true;
    }
  return false;
}

HRESULT WriteFdtVariantXml(const VARIANT* value, BSTR* xml) {
  if (!value || !xml) return E_POINTER;
  std::u16string text(kVariantOpen);
  std::u16string data;
  HRESULT hr = S_OK;
  switch (value->vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_BOOL:
      // A boolean goes through VT_I4: the number attribute takes a number, not "True".
      hr = ChangeToText(*value, value->vt == VT_BOOL ? VT_I4 : VT_EMPTY, &data);
      text += u"int\"> <fdt:NumberData number=\"";
      break;
    case VT_R4:
    case VT_R8: {
      hr = ChangeToText(*value, VT_EMPTY, &data);
      // The user locale may write a decimal comma; documents carry a point.
      const std::size_t comma = data.find(u',');
      if (comma != std::u16string::npos) data[comma] = u'.';
      text += value->vt == VT_R4 ? u"float\"> <fdt:NumberData number=\"" : u"double\"> <fdt:NumberData number=\"";
      break;
    }
    case VT_UI1:
      hr = ChangeToText(*value, VT_EMPTY, &data);
      text += u"byte\"> <fdt:NumberData number=\"";
      break;
    case VT_UI2:
    case VT_UI4:
      hr = ChangeToText(*value, VT_EMPTY, &data);
      text += u"unsigned\"> <fdt:NumberData number=\"";
      break;
    case VT_DATE:
      hr = ChangeToText(*value, VT_EMPTY, &data);
      text += u"dateAndTime\"> <fdt:TimeData time=\"";
      break;
    case VT_BSTR: {
      vkr::Bstr escaped;
      hr = XmlEscapeText(value->bstrVal, escaped.Put());
      data = escaped.View();
      text += u"ascii\"> <fdt:StringData string=\"";
      break;
    }
    case VT_ARRAY | VT_UI1: {
      vkr::Bstr hex;
      hr = ByteArrayToHexString(value, hex.Put(), FALSE);
      data = hex.View();
      text += u"hexString\"> <fdt:StringData string=\"";
      break;
    }
    default:
      return S_FALSE;
  }
  if (FAILED(hr)) return hr;
  text += data;
  text += kVariantClose;
  BSTR out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!out) return E_OUTOFMEMORY;
  *xml = out;
  return S_OK;
}

HRESULT ReadFdtVariantXml(IXMLDOMNode* variant, VARIANT* value) {
  if (!variant || !value) return E_INVALIDARG;
  vkr::Bstr dataTypePath(u"@dataType"), word;
  if (FAILED(GetXmlValueBstr(word.Put(), variant, dataTypePath.Get()))) return E_FAIL;
  VARTYPE vt = VT_EMPTY;
  if (!DataTypeToVarType(word.Get(), &vt)) return S_FALSE;
  vkr::Variant read;
  if (vt == (VT_ARRAY | VT_UI1)) {
    vkr::Bstr path(u"fdt:StringData/@string"), hex;
    if (SelectNodeText(variant, path.Get(), hex.Put()) != S_OK) return E_FAIL;
    HRESULT hr = HexStringToByteArray(read.Ptr(), hex.Get(), TRUE);
    if (FAILED(hr)) return hr;
  } else {
    const char16_t* child = vt == VT_BSTR   ? u"fdt:StringData/@string"
                            : vt == VT_DATE ? u"fdt:TimeData/@time"
                                            : u"fdt:NumberData/@number";
    vkr::Bstr path(child);
    if (!XmlNodeExists(variant, path.Get())) return E_FAIL;
    HRESULT hr = GetXmlValue(variant, path.Get(), read.Ptr(), vt);
    if (FAILED(hr)) return hr;
  }
  VariantClear(value);
  read.Detach(value);
  return S_OK;
}

const char16_t* StorageStateText(ULONG state) {
  switch (state) {
    case 0: return u"persistent";
    case 1: return u"transient";
    default: return nullptr;
  }
}

const char16_t* DataSetStateText(ULONG state) {
  switch (state) {
    case 0: return u"default";
    case 1: return u"validModified";
    case 2: return u"invalidModified";
    case 3: return u"allDataLoaded";
    default: return nullptr;
  }
}
