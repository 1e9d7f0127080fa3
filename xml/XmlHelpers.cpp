// DOM and XPath helpers: typed reads, node tests, element and attribute creation, escaping, string
// loading and fragments.
#include "xml/XmlHelpers.h"

#include <string>

#include "xml/Conversions.h"

namespace {

using vkr::Bstr;
using vkr::ComPtr;
using vkr::Variant;

bool IsEmpty(BSTR s) { return SysStringLen(s) == 0; }

HRESULT NewDocument(vkr::ComPtr<IXMLDOMDocument2>* doc) {
  HRESULT hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2, doc->PutVoid());
  // The failure passed on as it is: a thread without COM is not a bad text.
  if (FAILED(hr)) return hr;
  if (!*doc) return E_POINTER;
  return S_OK;
}

HRESULT NewPlainDocument(vkr::ComPtr<IXMLDOMDocument2>* doc) {
  HRESULT hr = NewDocument(doc);
  if (FAILED(hr)) return hr;
  (*doc)->put_async(VARIANT_FALSE);
  (*doc)->put_resolveExternals(VARIANT_FALSE);
  return S_OK;
}

// The number types an empty text reads as 0 for: VT_I2..VT_DATE, VT_BOOL, VT_I1..VT_UINT.
bool IsNumberType(VARTYPE vt) { return (vt >= VT_I2 && vt <= VT_DATE) || vt == VT_BOOL || (vt >= VT_I1 && vt <= VT_UINT); }

// The value conversion of the parameter model, for what a DOM value can be (a text, a typed
// scalar, or bytes from a bin.hex value) and what the readers ask for: same type copies, an empty
// text is 0 for number types, hex text and byte arrays convert into each other, the rest is OLE
// Automation's conversion in the user-default locale, where a date that does not convert
// directly is taken as its number.
HRESULT ConvertXmlValue(VARIANT* value, VARTYPE vt) {
  if (value->vt == vt) return S_OK;
  const bool emptyText = value->vt == VT_BSTR && SysStringLen(value->bstrVal) == 0;
  if (emptyText && IsNumberType(vt)) {
    Variant zero;
    zero.vt = VT_I4;
    zero.lVal = 0;
    return VariantChangeTypeEx(value, &zero, 0, 0, vt);
  }
  if (vt == VT_BSTR && value->vt == (VT_ARRAY | VT_UI1)) {
    BSTR hex = nullptr;
    HRESULT hr = ByteArrayToHexString(value, &hex, FALSE);
    if (FAILED(hr)) return hr;
    VariantClear(value);
    value->vt = VT_BSTR;
    value->bstrVal = hex;
    return S_OK;
  }
  if (vt == (VT_ARRAY | VT_UI1) && value->vt == VT_BSTR) {
    Variant bytes;
    HRESULT hr = HexStringToByteArray(&bytes, value->bstrVal, TRUE);
    if (FAILED(hr)) return hr;
    VariantClear(value);
    bytes.Detach(value);
    return S_OK;
  }
  HRESULT hr = VariantChangeTypeEx(value, value, 0, 0, vt);
  if (SUCCEEDED(hr) || vt != VT_DATE || (value->vt & VT_ARRAY)) return hr;
  Variant number;
  HRESULT hrNumber = VariantChangeTypeEx(&number, value, 0, 0, VT_R8);
  if (FAILED(hrNumber)) return hr;
  VariantClear(value);
  number.Detach(value);
  return S_OK;
}

// Puts the system decimal separator in place of the text's first '.' (or first ',').
HRESULT UseSystemDecimalSeparator(VARIANT* value) {
  char separator[4] = {};
  if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SDECIMAL, separator, 4) == 0) return S_OK;
  if (separator[0] == 0 || separator[1] != 0 || static_cast<unsigned char>(separator[0]) >= 0x80) return S_OK;
  std::u16string text(value->bstrVal, SysStringLen(value->bstrVal));
  std::size_t at = text.find(u'.');
  if (at == std::u16string::npos) at = text.find(u',');
  if (at == std::u16string::npos) return S_OK;
  text[at] = static_cast<char16_t>(separator[0]);
  BSTR adjusted = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!adjusted) return E_OUTOFMEMORY;
  SysFreeString(value->bstrVal);
  value->bstrVal = adjusted;
  return S_OK;
}

HRESULT SelectOne(IXMLDOMNode* node, BSTR path, ComPtr<IXMLDOMNode>* found) {
  HRESULT hr = node->selectSingleNode(path, found->Put());
  if (FAILED(hr)) return hr;
  return *found ? S_OK : E_FAIL;
}

// The value of a node found already, converted as GetXmlValue converts it.
HRESULT ValueOf(IXMLDOMNode* found, VARIANT* value, VARTYPE type) {
  VariantClear(value);
  HRESULT hr = type == VT_BSTR ? found->get_nodeValue(value) : found->get_nodeTypedValue(value);
  if (FAILED(hr)) return hr;
  if ((type == VT_R4 || type == VT_R8) && value->vt == VT_BSTR) {
    hr = UseSystemDecimalSeparator(value);
    if (FAILED(hr)) return hr;
  }
  hr = ConvertXmlValue(value, type);
  return FAILED(hr) ? hr : S_OK;
}

// The node the path selects, selected once for the reads below; null when nothing matches (or
// there is no node or path).
ComPtr<IXMLDOMNode> Find(IXMLDOMNode* node, BSTR path) {
  ComPtr<IXMLDOMNode> found;
  if (!node || IsEmpty(path) || FAILED(node->selectSingleNode(path, found.Put()))) return nullptr;
  return found;
}

template <class Out, class Store>
HRESULT ReadFound(Out* out, IXMLDOMNode* found, VARTYPE vt, Store store) {
  Variant value;
  HRESULT hr = ValueOf(found, &value, vt);
  if (FAILED(hr)) return hr;
  return store(value, out);
}

// The typed reads below share this: E_FAIL when nothing matches, the value untouched on failure.
template <class Out, class Store>
HRESULT ReadTyped(Out* out, IXMLDOMNode* node, BSTR path, VARTYPE vt, Store store) {
  if (!out) return E_POINTER;
  ComPtr<IXMLDOMNode> found = Find(node, path);
  if (!found) return E_FAIL;
  return ReadFound(out, found.Get(), vt, store);
}

template <class Out, class Store>
HRESULT ReadOptional(Out* out, bool* present, IXMLDOMNode* node, BSTR path, VARTYPE vt, Store store) {
  if (!out || !present) return E_INVALIDARG;
  *present = false;
  ComPtr<IXMLDOMNode> found = Find(node, path);
  if (!found) return S_OK;
  HRESULT hr = ReadFound(out, found.Get(), vt, store);
  if (SUCCEEDED(hr)) *present = true;
  return hr;
}

HRESULT StoreUI4(const VARIANT& v, ULONG* out) { *out = v.ulVal; return S_OK; }
HRESULT StoreI4(const VARIANT& v, LONG* out) { *out = v.lVal; return S_OK; }
HRESULT StoreUI1(const VARIANT& v, BYTE* out) { *out = v.bVal; return S_OK; }
HRESULT StoreBool(const VARIANT& v, bool* out) { *out = v.boolVal != 0; return S_OK; }
HRESULT StoreBstr(const VARIANT& v, BSTR* out) {
  BSTR copy = SysAllocStringLen(v.bstrVal, SysStringLen(v.bstrVal));
  if (!copy) return E_OUTOFMEMORY;
  *out = copy;
  return S_OK;
}

HRESULT QueryNode(IUnknown* object, IXMLDOMNode** node) {
  return object->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(node));
}

VARIANT NodeArgument(IXMLDOMNode* node) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UNKNOWN;
  v.punkVal = node;
  return v;
}

}  // namespace

// ---- Node tests and typed reads. ----

bool XmlNodeExists(IXMLDOMNode* node, BSTR path) {
  if (!node || IsEmpty(path)) return false;
  ComPtr<IXMLDOMNode> found;
  return SUCCEEDED(node->selectSingleNode(path, found.Put())) && found;
}

HRESULT GetXmlValue(IXMLDOMNode* node, BSTR path, VARIANT* value, VARTYPE type) {
  if (!node || !value) return E_POINTER;
  if (IsEmpty(path)) return E_INVALIDARG;
  ComPtr<IXMLDOMNode> found;
  HRESULT hr = SelectOne(node, path, &found);
  if (FAILED(hr)) return hr;
  return ValueOf(found.Get(), value, type);
}

HRESULT GetXmlString(BSTR* text, bool* found, IXMLDOMNode* node, BSTR path) {
  if (!text || !found) return E_POINTER;
  *found = false;
  ComPtr<IXMLDOMNode> at = Find(node, path);
  if (!at) {
    *text = SysAllocString(u"");
    return *text ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT hr = ReadFound(text, at.Get(), VT_BSTR, StoreBstr);
  if (SUCCEEDED(hr)) *found = true;
  return hr;
}

HRESULT GetXmlValueBstr(BSTR* text, IXMLDOMNode* node, BSTR path) {
  return ReadTyped(text, node, path, VT_BSTR, StoreBstr);
}
HRESULT GetXmlValueUI4(ULONG* value, IXMLDOMNode* node, BSTR path) {
  return ReadTyped(value, node, path, VT_UI4, StoreUI4);
}
HRESULT GetXmlValueI4(LONG* value, IXMLDOMNode* node, BSTR path) {
  return ReadTyped(value, node, path, VT_I4, StoreI4);
}
HRESULT GetXmlValueUI1(BYTE* value, IXMLDOMNode* node, BSTR path) {
  return ReadTyped(value, node, path, VT_UI1, StoreUI1);
}
HRESULT GetXmlValueBool(bool* value, IXMLDOMNode* node, BSTR path) {
  return ReadTyped(value, node, path, VT_BOOL, StoreBool);
}

HRESULT GetOptionalXmlValueUI4(ULONG* value, bool* present, IXMLDOMNode* node, BSTR path) {
  return ReadOptional(value, present, node, path, VT_UI4, StoreUI4);
}
HRESULT GetOptionalXmlValueUI1(BYTE* value, bool* present, IXMLDOMNode* node, BSTR path) {
  return ReadOptional(value, present, node, path, VT_UI1, StoreUI1);
}
HRESULT GetOptionalXmlValueBool(bool* value, bool* present, IXMLDOMNode* node, BSTR path) {
  return ReadOptional(value, present, node, path, VT_BOOL, StoreBool);
}

HRESULT FindXmlValueBstr(BSTR* text, bool* found, IXMLDOMNode* node, BSTR path, bool downward) {
  if (!text || !found) return E_POINTER;
  *found = false;
  HRESULT hr = S_FALSE;
  for (ComPtr<IXMLDOMNode> current(node); current;) {
    if (XmlNodeExists(current.Get(), path)) {
      Variant value;
      hr = GetXmlValue(current.Get(), path, &value, VT_BSTR);
      if (SUCCEEDED(hr)) {
        hr = StoreBstr(value, text);
        if (SUCCEEDED(hr)) *found = true;
      }
      return hr;
    }
    ComPtr<IXMLDOMNode> next;
    hr = downward ? current->get_firstChild(next.Put()) : current->get_parentNode(next.Put());
    current = next;
  }
  return hr;
}

// ---- Selection and writing. ----

HRESULT SelectNodeText(IXMLDOMNode* node, BSTR path, BSTR* text) {
  if (!node || !text) return E_POINTER;
  if (IsEmpty(path)) return E_INVALIDARG;
  ComPtr<IXMLDOMNode> found;
  HRESULT hr = SelectOne(node, path, &found);
  return FAILED(hr) ? hr : found->get_text(text);
}

HRESULT SelectNodeXml(IXMLDOMNode* node, BSTR path, BSTR* xml) {
  if (!node || !xml) return E_POINTER;
  if (IsEmpty(path)) return E_INVALIDARG;
  ComPtr<IXMLDOMNode> found;
  HRESULT hr = SelectOne(node, path, &found);
  return FAILED(hr) ? hr : found->get_xml(xml);
}

HRESULT SetSelectedNodeValue(IXMLDOMNode* node, BSTR path, VARIANT value) {
  if (!node) return E_POINTER;
  ComPtr<IXMLDOMNode> found;
  HRESULT hr = SelectOne(node, path, &found);
  if (FAILED(hr)) return hr;
  hr = found->put_nodeTypedValue(value);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT QueryXmlNode(IUnknown* object, IXMLDOMNode** node) {
  if (!object || !node) return E_POINTER;
  return QueryNode(object, node);
}

HRESULT SetXmlAttribute(IXMLDOMDocument* document, IXMLDOMNode* element, BSTR name, VARIANT value) {
  if (!document || !element) return E_POINTER;
  ComPtr<IXMLDOMNamedNodeMap> attributes;
  HRESULT hr = element->get_attributes(attributes.Put());
  if (FAILED(hr)) return hr;
  if (!attributes) return E_FAIL;
  ComPtr<IXMLDOMAttribute> attribute;
  hr = document->createAttribute(name, attribute.Put());
  if (FAILED(hr)) return hr;
  if (!attribute) return E_FAIL;
  hr = attribute->put_nodeValue(value);
  if (FAILED(hr)) return hr;
  ComPtr<IXMLDOMNode> added;
  return attributes->setNamedItem(attribute.Get(), added.Put());
}

HRESULT AppendElement(IXMLDOMDocument* document, IXMLDOMNode* parent, BSTR name, BSTR namespaceUri,
                      IXMLDOMNode** element) {
  if (element) *element = nullptr;
  if (!element || !document || !parent) return E_POINTER;
  if (IsEmpty(name) || !namespaceUri) return E_INVALIDARG;
  Variant type;
  type.vt = VT_I4;
  type.lVal = NODE_ELEMENT;
  ComPtr<IXMLDOMNode> created;
  HRESULT hr = document->createNode(type, name, namespaceUri, created.Put());
  if (hr != S_OK) return hr;
  if (!created) return E_POINTER;
  ComPtr<IXMLDOMNode> appended;
  hr = parent->appendChild(created.Get(), appended.Put());
  if (hr == S_OK && appended) hr = QueryNode(appended.Get(), element);
  return hr;
}

HRESULT AppendElementAtPath(IXMLDOMDocument* document, BSTR path, BSTR name, BSTR namespaceUri,
                            IXMLDOMNode** element) {
  if (element) *element = nullptr;
  if (!path) return E_INVALIDARG;
  if (!element || !document) return E_POINTER;
  ComPtr<IXMLDOMNode> parent;
  HRESULT hr = document->selectSingleNode(path, parent.Put());
  if (hr != S_OK) return hr;
  if (!parent) return E_FAIL;
  return AppendElement(document, parent.Get(), name, namespaceUri, element);
}

HRESULT AppendParsedXml(IXMLDOMDocument* document, IXMLDOMNode* parent, BSTR xml, BSTR namespaceUri,
                        IXMLDOMNode** node) {
  if (node) *node = nullptr;
  if (!node || !document || !parent) return E_POINTER;
  if (IsEmpty(xml) || !namespaceUri) return E_INVALIDARG;
  ComPtr<IXMLDOMDocument2> scratch;
  HRESULT hr = NewPlainDocument(&scratch);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  scratch->loadXML(xml, &parsed);
  ComPtr<IXMLDOMNode> first;
  hr = scratch->get_firstChild(first.Put());
  if (FAILED(hr)) return hr;
  if (!first) return E_FAIL;
  ComPtr<IXMLDOMNode> removed;
  hr = scratch->removeChild(first.Get(), removed.Put());
  if (FAILED(hr)) return hr;
  ComPtr<IXMLDOMNode> appended;
  hr = parent->appendChild(first.Get(), appended.Put());
  if (FAILED(hr)) return hr;
  if (!appended) return E_FAIL;
  return QueryNode(appended.Get(), node);
}

bool IsXmlCharacterText(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < 0x20) {
      if (c != u'\t' && c != u'\n' && c != u'\r') return false;
    } else if (c >= 0xD800 && c <= 0xDBFF) {
      // A character beyond the first plane: a high surrogate and its low one.
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      ++i;
    } else if ((c >= 0xDC00 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF) {
      return false;
    }
  }
  return true;
}

HRESULT XmlEscapeText(BSTR text, BSTR* escaped) {
  if (!escaped) return E_POINTER;
  *escaped = nullptr;
  if (!IsXmlCharacterText(std::u16string_view(text ? text : u"", SysStringLen(text)))) return E_INVALIDARG;
  ComPtr<IXMLDOMDocument2> doc;
  if (FAILED(NewDocument(&doc))) return E_POINTER;
  ComPtr<IXMLDOMAttribute> attribute;
  HRESULT hr = doc->createAttribute(Bstr(u"test"), attribute.Put());
  if (FAILED(hr)) return hr;
  if (!attribute) return E_FAIL;
  Variant value;
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(text, SysStringLen(text));
  if (!value.bstrVal) return E_OUTOFMEMORY;
  hr = attribute->put_nodeValue(value);
  if (FAILED(hr)) return hr;
  Bstr markup;
  hr = attribute->get_xml(markup.Put());
  const std::u16string_view m = markup.View();
  const std::size_t open = m.find(u'"');
  const std::size_t close = open == std::u16string_view::npos ? open : m.find(u'"', open + 1);
  const std::u16string_view inner =
      close == std::u16string_view::npos ? std::u16string_view() : m.substr(open + 1, close - open - 1);
  *escaped = SysAllocStringLen(inner.data(), static_cast<UINT>(inner.size()));
  if (!*escaped) return E_OUTOFMEMORY;
  return hr;
}

HRESULT LoadXmlFromString(BSTR xml, IXMLDOMDocument2** document, VARIANT_BOOL* loaded) {
  if (!document || !loaded) return E_INVALIDARG;
  *loaded = VARIANT_FALSE;
  ComPtr<IXMLDOMDocument2> doc;
  HRESULT hr = NewPlainDocument(&doc);
  if (FAILED(hr)) return hr;
  doc->loadXML(xml, loaded);
  *document = doc.Detach();
  return S_OK;
}

// ---- Fragments. ----

HRESULT ParseXmlFragment(BSTR xml, BSTR namespaceUri, IXMLDOMNodeList** nodes) {
  if (!nodes) return E_POINTER;
  *nodes = nullptr;
  if (IsEmpty(xml) || !namespaceUri) return E_INVALIDARG;
  ComPtr<IXMLDOMDocument2> doc;
  HRESULT hr = NewPlainDocument(&doc);
  if (FAILED(hr)) return hr;
  // The namespace goes into an attribute value: escaped, so a quote cannot end it early.
  Bstr escapedNamespace;
  hr = XmlEscapeText(namespaceUri, escapedNamespace.Put());
  if (FAILED(hr)) return hr;
  Bstr wrapped;
  hr = IsEmpty(namespaceUri) ? BstrFormat(wrapped.Put(), u"<f>%s%s</f>", u"", xml)
                             : BstrFormat(wrapped.Put(), u"<f xmlns=\"%s\">%s</f>", escapedNamespace.Get(), xml);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL parsed = VARIANT_FALSE;
  doc->loadXML(wrapped, &parsed);
  return doc->selectNodes(Bstr(u"//f/*"), nodes);
}

HRESULT InsertXmlNodes(IXMLDOMNode* target, IXMLDOMNodeList* nodes, IXMLDOMNode** last, bool asChild, bool after) {
  if (!nodes) return E_FAIL;
  if (!target) return E_POINTER;
  LONG count = 0;
  nodes->get_length(&count);
  HRESULT result = E_FAIL;
  // After the target, each node goes after the one placed before it, so the list keeps its order.
  ComPtr<IXMLDOMNode> anchor(target);
  for (LONG i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> item;
    if (FAILED(nodes->get_item(i, item.Put())) || !item) continue;
    ComPtr<IXMLDOMNode> parent;
    item->get_parentNode(parent.Put());
    if (!parent) return E_UNEXPECTED;
    ComPtr<IXMLDOMNode> removed;
    if (FAILED(parent->removeChild(item.Get(), removed.Put())) || !removed) continue;

    ComPtr<IXMLDOMNode> placed;
    if (asChild) {
      result = target->appendChild(removed.Get(), placed.Put());
    } else {
      ComPtr<IXMLDOMNode> targetParent;
      target->get_parentNode(targetParent.Put());
      if (!targetParent) continue;
      if (!after) {
        result = targetParent->insertBefore(removed.Get(), NodeArgument(target), placed.Put());
      } else {
        ComPtr<IXMLDOMNode> next;
        anchor->get_nextSibling(next.Put());
        result = next ? targetParent->insertBefore(removed.Get(), NodeArgument(next.Get()), placed.Put())
                      : targetParent->appendChild(removed.Get(), placed.Put());
      }
    }
    if (result == S_OK && placed) {
      anchor = placed;
      if (last) {
        if (*last) (*last)->Release();
        *last = nullptr;
        result = QueryNode(placed.Get(), last);
      }
    }
  }
  return result;
}

namespace {
HRESULT PlaceFragment(IXMLDOMNode* target, BSTR xml, BSTR namespaceUri, IXMLDOMNode** last, bool asChild, bool after) {
  ComPtr<IXMLDOMNodeList> nodes;
  HRESULT hr = ParseXmlFragment(xml, namespaceUri, nodes.Put());
  if (FAILED(hr)) return hr;
  return InsertXmlNodes(target, nodes.Get(), last, asChild, after);
}
}  // namespace

HRESULT AppendXmlFragment(IXMLDOMDocument*, IXMLDOMNode* target, BSTR xml, BSTR namespaceUri, IXMLDOMNode** last) {
  return PlaceFragment(target, xml, namespaceUri, last, true, false);
}
HRESULT InsertXmlFragmentBefore(IXMLDOMDocument*, IXMLDOMNode* target, BSTR xml, BSTR namespaceUri,
                                IXMLDOMNode** last) {
  return PlaceFragment(target, xml, namespaceUri, last, false, false);
}
HRESULT InsertXmlFragmentAfter(IXMLDOMDocument*, IXMLDOMNode* target, BSTR xml, BSTR namespaceUri,
                               IXMLDOMNode** last) {
  return PlaceFragment(target, xml, namespaceUri, last, false, true);
}
