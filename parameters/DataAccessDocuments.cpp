// The texts of single device data access.
#include "parameters/DataAccessDocuments.h"

#include <cstdio>

#include "xml/Conversions.h"
#include "xml/XmlHelpers.h"

namespace {

// Bits 0 to 25 of the item-kind word; the bits above have no word.
constexpr const char16_t* kItemKinds[] = {
    u"alarm",          u"analogInput",     u"analogOutput",     u"computation",  u"contained",
    u"correction",     u"device",          u"diagnostic",       u"digitalInput", u"digitalOutput",
    u"discrete",       u"discreteInput",   u"discreteOutput",   u"dynamic",      u"frequency",
    u"frequencyInput", u"frequencyOutput", u"hart",             u"input",        u"local",
    u"localDisplay",   u"operate",         u"output",           u"sensorCorrection", u"service",
    u"tune",
};

std::u16string_view BstrView(BSTR s) { return {s ? s : u"", SysStringLen(s)}; }

HRESULT Answer(const std::u16string& text, BSTR* out) {
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Escaped(std::u16string_view text, std::u16string* out) {
  vkr::Bstr in(text), escaped;
  if (!in.Get()) return E_OUTOFMEMORY;
  const HRESULT hr = XmlEscapeText(in.Get(), escaped.Put());
  if (FAILED(hr)) return hr;
  *out = escaped.View();
  return S_OK;
}

}  // namespace

HRESULT VarTypeToFdtDataType(VARTYPE type, BSTR* word) {
  if (!word) return E_INVALIDARG;
  *word = nullptr;
  const char16_t* text = nullptr;
  switch (type) {
    case VT_EMPTY: return E_FAIL;
    // The words the value writer puts on the same values, so that what is announced for an
    // item is what its values travel as: a boolean as a number, a text as ascii.
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_BOOL: text = u"int"; break;
    case VT_R4: text = u"float"; break;
    case VT_R8: text = u"double"; break;
    case VT_UI1: text = u"byte"; break;
    case VT_UI2:
    case VT_UI4: text = u"unsigned"; break;
    case VT_BSTR: text = u"ascii"; break;
    case VT_DATE: text = u"dateAndTime"; break;
    default: break;
  }
  *word = SysAllocString(text ? text : u"hexString");
  if (!*word) return E_OUTOFMEMORY;
  return text ? S_OK : S_FALSE;
}

HRESULT ItemKindText(ULONG flags, BSTR* text) {
  if (!text) return E_INVALIDARG;
  std::u16string lines;
  auto line = [&lines](const char16_t* word) {
    lines += u"<ItemKind itemKind=\"";
    lines += word;
    lines += u"\" />\n";
  };
  for (ULONG bit = 0; bit < sizeof kItemKinds / sizeof kItemKinds[0]; ++bit)
    if (flags & (1u << bit)) line(kItemKinds[bit]);
  if (lines.empty()) line(u"others");
  return Answer(lines, text);
}

std::u16string GetXmlTimeStamp() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", static_cast<unsigned>(now.wYear),
                static_cast<unsigned>(now.wMonth), static_cast<unsigned>(now.wDay), static_cast<unsigned>(now.wHour),
                static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond));
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

HRESULT RangeValueXml(const VARIANT& value, BSTR* xml) {
  if (!xml) return E_INVALIDARG;
  std::u16string element;
  vkr::Variant text;
  switch (value.vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4: {
      // Numbers in the document's own form, whatever the user's locale.
      const HRESULT hr = VariantChangeTypeEx(text.Ptr(), &value, 1033, 1, VT_BSTR);
      if (FAILED(hr)) return hr;
      element = u"<fdt:NumberData number=\"" + std::u16string(BstrView(text.bstrVal));
      break;
    }
    case VT_DATE: {
      const HRESULT hr = VariantChangeType(text.Ptr(), &value, 1, VT_BSTR);
      if (FAILED(hr)) return hr;
      std::u16string escaped;
      const HRESULT he = Escaped(BstrView(text.bstrVal), &escaped);
      if (FAILED(he)) return he;
      element = u"<fdt:TimeData time=\"" + escaped;
      break;
    }
    case VT_BSTR: {
      // A limit text is a value like any other: escaped, or a quote in it would end the attribute.
      std::u16string escaped;
      const HRESULT hr = Escaped(BstrView(value.bstrVal), &escaped);
      if (FAILED(hr)) return hr;
      element = u"<fdt:StringData string=\"" + escaped;
      break;
    }
    case VT_ARRAY | VT_UI1: {
      vkr::Bstr hex;
      const HRESULT hr = ByteArrayToHexString(&value, hex.Put(), FALSE);
      if (FAILED(hr)) return hr;
      element = u"<fdt:StringData string=\"" + std::u16string(hex.View());
      break;
    }
    default:
      return S_FALSE;
  }
  element += u"\" />";
  return Answer(element, xml);
}

HRESULT AppendDtmItem(std::u16string* document, std::u16string_view id, std::u16string_view time, bool good,
                      std::u16string_view payload) {
  if (!document) return E_INVALIDARG;
  std::u16string escapedId, escapedTime;
  HRESULT hr = Escaped(id, &escapedId);
  if (SUCCEEDED(hr)) hr = Escaped(time, &escapedTime);
  if (FAILED(hr)) return hr;
  *document += u"\t<DtmItem fdt:id=\"" + escapedId + u"\">\n\t\t<TimeStamp fdt:time=\"" + escapedTime +
               u"\"/>\n\t\t<Quality  qualityBits=\"" + (good ? u"good" : u"bad") + u"\"/>\n\t\t";
  *document += payload;
  *document += u"\t</DtmItem>\n";
  return S_OK;
}
