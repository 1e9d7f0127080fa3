// CovFDT_ParameterHandlerImpl: the import of a "<PARAMETERS>" text and the private properties of a
// parameter.
//
// The "<PARAMETERS>" text is what ExportParameters writes: one "Parameter" element per parameter
// with the attributes id, type (a VARTYPE name) and value. The private properties are a small XML
// text in the record, "<PrivateProperties>" holding "<Property name=... value=... type=.../>".
#include <string_view>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::UI4;

// What an empty private-properties text stands for.
constexpr const char16_t* kEmptyPrivateProperties = u"<PrivateProperties> </PrivateProperties>";
// Values are written as en-US texts, which the reader converts back whatever the user's locale.
constexpr LCID kValueTextLocale = 0x0409;


// Loads text; S_FALSE (and no document) when it does not parse.
HRESULT LoadText(BSTR text, vkr::ComPtr<IXMLDOMDocument2>* document) {
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(text, document->Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!*document) return E_POINTER;
  return loaded ? S_OK : S_FALSE;
}

// The "Property" element under root whose "name" is name, compared exactly; null when none. The
// name is compared rather than put into a path, so any character may stand in it.
HRESULT FindProperty(IXMLDOMNode* root, BSTR name, vkr::ComPtr<IXMLDOMNode>* property) {
  vkr::ComPtr<IXMLDOMNodeList> nodes;
  vkr::Bstr path(u"Property");
  HRESULT hr = root->selectNodes(path.Get(), nodes.Put());
  if (FAILED(hr)) return hr;
  LONG count = 0;
  if (!nodes || FAILED(nodes->get_length(&count))) return S_FALSE;
  vkr::Bstr attribute(u"@name");
  const std::u16string_view wanted = vkr::View(name).substr(0, SysStringLen(name));
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (FAILED(nodes->get_item(i, node.Put())) || !node) continue;
    vkr::Bstr found;
    if (FAILED(GetXmlValueBstr(found.Put(), node.Get(), attribute.Get()))) continue;
    if (vkr::View(found.Get()).substr(0, found.Length()) == wanted) {
      *property = node;
      return S_OK;
    }
  }
  return S_FALSE;
}

// The value as the text of a "value" attribute.
HRESULT ValueText(const VARIANT& value, BSTR* text) {
  if (value.vt == VT_BSTR) return vkr::Bstr(value.bstrVal).CopyTo(text);
  vkr::Variant converted;
  HRESULT hr = ChangeVariantType(&converted, &value, VT_BSTR, kValueTextLocale);
  if (FAILED(hr)) return hr;
  if (converted.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  *text = converted.bstrVal;
  converted.vt = VT_EMPTY;
  return S_OK;
}

HRESULT SetTextAttribute(IXMLDOMDocument* document, IXMLDOMNode* element, const char16_t* name, BSTR text) {
  vkr::Bstr attribute(name);
  vkr::Variant value;
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(text, SysStringLen(text));
  if (!attribute.Get() || !value.bstrVal) return E_OUTOFMEMORY;
  return SetXmlAttribute(document, element, attribute.Get(), value);
}

bool IsEmptyName(BSTR name) { return SysStringLen(name) == 0; }

}  // namespace

// ---- Import --------------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::ImportParameters(BSTR text) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ImportParameters()");
  return ImportParameterValues(text, nullptr);
}

HRESULT CovFDT_ParameterHandlerImpl::ImportParameterValues(BSTR text, BSTR progressText) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ImportParameterValues()");
  if (!text) return E_POINTER;
  m_dwImportWord = 0;
  vkr::ComPtr<IXMLDOMDocument2> document;
  HRESULT hr = LoadText(text, &document);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return E_FAIL;
  ULONG count = 0;
  hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  vkr::Bstr typePath(u"@type"), valuePath(u"@value");
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    hr = GetParInfoAt(static_cast<LONG>(i), &record);
    if (FAILED(hr)) return hr;
    vkr::Bstr path;
    hr = BstrFormat(path.Put(), u"PARAMETERS/Parameter[@id=\"%lu\"]", record.m_nId);
    if (FAILED(hr)) return hr;
    // The first element with the id counts; an element that does not fit is passed over.
    vkr::ComPtr<IXMLDOMNode> element;
    if (SUCCEEDED(document->selectSingleNode(path.Get(), element.Put())) && element) {
      vkr::Bstr type, expected;
      VarTypeToString(record.m_vt, expected.Put());
      if (SUCCEEDED(GetXmlValueBstr(type.Put(), element.Get(), typePath.Get())) && expected.Get() &&
          type.View() == expected.View()) {
        vkr::Variant value;
        // The value is taken as the data set's, and like every value that enters the data set
        // it is checked: one outside its range or list is kept but marked invalid (0x04).
        if (SUCCEEDED(GetXmlValue(element.Get(), valuePath.Get(), &value, record.m_vt)) &&
            SUCCEEDED(SetValueWithRelations(record.m_nId, value)))
          RevalidateParameter(UI4(record.m_nId), PFL_INVALID);
      }
    }
    if (progressText) UpdateProgress(i, count, progressText);
  }
  if (progressText) {
    vkr::Bstr none(u"");
    UpdateProgress(0, count, none.Get());
  }
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::UpdateProgress(ULONG, ULONG, BSTR) { return S_OK; }

// ---- Private properties ---------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::ReadPrivateProperties(VARIANT id, BSTR name, VARIANT* result) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ReadPrivateProperties()");
  if (!result) return E_POINTER;
  if (IsEmptyName(name)) return E_INVALIDARG;
  vkr::Variant text;
  HRESULT hr = GetParameterField(id, UI4(PIF_PRIVATE_PROPERTIES), &text);
  if (FAILED(hr)) return hr;
  if (text.vt != VT_BSTR) return E_NOTIMPL;
  vkr::ComPtr<IXMLDOMDocument2> document;
  hr = LoadText(text.bstrVal, &document);
  if (hr != S_OK) return S_FALSE;
  vkr::ComPtr<IXMLDOMNode> root, property;
  vkr::Bstr rootPath(u"PrivateProperties");
  if (FAILED(document->selectSingleNode(rootPath.Get(), root.Put())) || !root) return S_FALSE;
  hr = FindProperty(root.Get(), name, &property);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return S_FALSE;

  VARIANT_BOOL children = VARIANT_FALSE;
  hr = property->hasChildNodes(&children);
  if (FAILED(hr)) return hr;
  if (children) {
    vkr::Bstr xml;
    hr = property->get_xml(xml.Put());
    if (FAILED(hr)) return hr;
    VariantClear(result);
    result->vt = VT_BSTR;
    result->bstrVal = xml.Detach();
    return S_OK;
  }
  vkr::Bstr typePath(u"@type"), valuePath(u"@value");
  VARTYPE vt = VT_EMPTY;
  if (XmlNodeExists(property.Get(), typePath.Get())) {
    vkr::Bstr type;
    if (FAILED(GetXmlValueBstr(type.Put(), property.Get(), typePath.Get()))) return S_FALSE;
    VarTypeFromString(type.Get(), &vt);
  }
  if (vt != VT_EMPTY) {
    // Without a value the answer is S_OK with the result as it was.
    if (!XmlNodeExists(property.Get(), valuePath.Get())) return S_OK;
    vkr::Variant value;
    hr = GetXmlValue(property.Get(), valuePath.Get(), &value, vt);
    if (FAILED(hr)) return hr;
    VariantClear(result);
    value.Detach(result);
    return S_OK;
  }
  // No type, or one that names no VARTYPE: the value's text.
  if (!XmlNodeExists(property.Get(), valuePath.Get())) return S_FALSE;
  vkr::Variant value;
  if (FAILED(GetXmlValue(property.Get(), valuePath.Get(), &value, VT_BSTR))) return E_FAIL;
  VariantClear(result);
  value.Detach(result);
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::WritePrivateProperty(VARIANT id, BSTR name, VARIANT value) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::WritePrivateProperty()");
  if (IsEmptyName(name)) return E_INVALIDARG;
  vkr::Variant text;
  HRESULT hr = GetParameterField(id, UI4(PIF_PRIVATE_PROPERTIES), &text);
  if (FAILED(hr)) return hr;
  vkr::Bstr source;
  if (text.vt == VT_BSTR && SysStringLen(text.bstrVal) > 0)
    source = vkr::Bstr(text.bstrVal);
  else if (text.vt == VT_EMPTY || text.vt == VT_NULL || text.vt == VT_BSTR)
    source = vkr::Bstr(kEmptyPrivateProperties);
  else
    return E_NOTIMPL;  // not a text: left as it is
  if (!source.Get()) return E_OUTOFMEMORY;

  vkr::ComPtr<IXMLDOMDocument2> document;
  hr = LoadText(source.Get(), &document);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return E_FAIL;
  vkr::ComPtr<IXMLDOMNode> root, property;
  vkr::Bstr rootPath(u"PrivateProperties");
  hr = document->selectSingleNode(rootPath.Get(), root.Put());
  if (FAILED(hr)) return hr;
  if (!root) return E_FAIL;
  hr = FindProperty(root.Get(), name, &property);
  if (FAILED(hr)) return hr;

  vkr::Bstr valueText;
  if (hr == S_OK) {
    // The property keeps its type; the value is brought to it.
    vkr::Bstr typePath(u"@type"), type;
    VARTYPE vt = VT_EMPTY;
    if (SUCCEEDED(GetXmlValueBstr(type.Put(), property.Get(), typePath.Get()))) VarTypeFromString(type.Get(), &vt);
    vkr::Variant typed;
    if (vt != VT_EMPTY && value.vt != vt) {
      hr = ChangeVariantType(&typed, &value, vt);
      if (FAILED(hr)) return hr;
    } else {
      hr = VariantCopy(&typed, &value);
      if (FAILED(hr)) return hr;
    }
    hr = ValueText(typed, valueText.Put());
    if (SUCCEEDED(hr)) hr = SetTextAttribute(document.Get(), property.Get(), u"value", valueText.Get());
    if (FAILED(hr)) return hr;
  } else {
    vkr::Bstr element(u"Property"), noNamespace(u""), typeName;
    hr = ValueText(value, valueText.Put());
    if (FAILED(hr)) return hr;
    VarTypeToString(value.vt, typeName.Put());
    if (!element.Get() || !noNamespace.Get() || !typeName.Get()) return E_OUTOFMEMORY;
    hr = AppendElement(document.Get(), root.Get(), element.Get(), noNamespace.Get(), property.Put());
    if (SUCCEEDED(hr)) hr = SetTextAttribute(document.Get(), property.Get(), u"name", name);
    if (SUCCEEDED(hr)) hr = SetTextAttribute(document.Get(), property.Get(), u"value", valueText.Get());
    if (SUCCEEDED(hr)) hr = SetTextAttribute(document.Get(), property.Get(), u"type", typeName.Get());
    if (FAILED(hr)) return hr;
  }
  vkr::Variant written;
  written.vt = VT_BSTR;
  hr = root->get_xml(&written.bstrVal);
  if (FAILED(hr)) return hr;
  return SetParameterField(id, UI4(PIF_PRIVATE_PROPERTIES), written);
}
