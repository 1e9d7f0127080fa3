// The DOM's COM objects: documents, nodes of each kind, node lists, attribute maps and the parse
// error, all over the tree of dom_tree.h.
#include "platform/xml/dom_objects.h"

#include <algorithm>
#include <fstream>

#include "platform/com/bstr.h"
#include "platform/win/text.h"
#include "platform/xml/datatypes.h"
#include "platform/xml/parser.h"
#include "platform/xml/xdr.h"
#include "platform/xml/xpath.h"

namespace vkr::xml {

namespace {

thread_local std::u16string t_selectionError;

// Reaches the tree node behind a node object of ours.
struct INodeInternal : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("EDA7D944-3C4F-46C3-BF61-4A7D2C8B1689");
  using Base = IUnknown;
  virtual Node* GetNode() = 0;
};

HRESULT OutBstr(std::u16string_view s, BSTR* out) {
  if (!out) return E_POINTER;
  *out = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

template <class I>
HRESULT OutNode(Node* n, I** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return WrapNode(n, I::iid, reinterpret_cast<void**>(out));
}

// The text a VARIANT stands for in an untyped place (attribute values, node values).
HRESULT VariantText(const VARIANT& v, std::u16string* out) { return TextFromVariant(DataType::None, v, out); }

bool IsContainer(const Node* n) {
  return n->type == NODE_ELEMENT || n->type == NODE_DOCUMENT || n->type == NODE_DOCUMENT_FRAGMENT;
}

std::u16string_view NodeName(const Node* n) {
  switch (n->type) {
    case NODE_ELEMENT:
    case NODE_ATTRIBUTE:
    case NODE_PROCESSING_INSTRUCTION: return n->name;
    case NODE_TEXT: return u"#text";
    case NODE_CDATA_SECTION: return u"#cdata-section";
    case NODE_COMMENT: return u"#comment";
    case NODE_DOCUMENT: return u"#document";
    case NODE_DOCUMENT_FRAGMENT: return u"#document-fragment";
    default: return {};
  }
}

std::u16string_view TypeString(DOMNodeType t) {
  switch (t) {
    case NODE_ELEMENT: return u"element";
    case NODE_ATTRIBUTE: return u"attribute";
    case NODE_TEXT: return u"text";
    case NODE_CDATA_SECTION: return u"cdatasection";
    case NODE_COMMENT: return u"comment";
    case NODE_PROCESSING_INSTRUCTION: return u"processinginstruction";
    case NODE_DOCUMENT: return u"document";
    case NODE_DOCUMENT_FRAGMENT: return u"documentfragment";
    default: return u"";
  }
}

// The data type of a node: from the schema, else from an inline dt:dt attribute.
DataType TypeOfNode(const Node* n) {
  if (n->dataType != DataType::None || n->type != NODE_ELEMENT) return n->dataType;
  for (const Node* a : n->attrs)
    if (a->ns == kDtUri && a->LocalName() == u"dt") return DataTypeFromName(a->value);
  return DataType::None;
}

bool TrimsText(const Node* n) {
  return (n->type == NODE_ELEMENT || n->type == NODE_DOCUMENT) && !n->doc->preserveWhiteSpace;
}

// Collects the descendant elements named name ("*": all) in document order.
void ElementsByName(Node* top, std::u16string_view name, std::vector<Node*>* out) {
  Node* x = top->first;
  while (x) {
    if (x->type == NODE_ELEMENT && (name == u"*" || x->name == name)) out->push_back(x);
    if (x->first) {
      x = x->first;
      continue;
    }
    while (x && x != top && !x->next) x = x->parent;
    if (!x || x == top) break;
    x = x->next;
  }
}

// --- Lists ---

class StaticList : public Implements<IXMLDOMNodeList> {
 public:
  VKR_XML_NO_DISPATCH
  HRESULT Init(const std::vector<Node*>& nodes) {
    m_items.reserve(nodes.size());
    for (Node* n : nodes) {
      ComPtr<IXMLDOMNode> p;
      HRESULT hr = WrapNode(n, IID_IXMLDOMNode, p.PutVoid());
      if (FAILED(hr)) return hr;
      m_items.push_back(std::move(p));
    }
    return S_OK;
  }
  HRESULT get_item(LONG index, IXMLDOMNode** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (index < 0 || static_cast<std::size_t>(index) >= m_items.size()) return S_FALSE;
    return m_items[static_cast<std::size_t>(index)].CopyTo(item);
  }
  HRESULT get_length(LONG* length) override {
    if (!length) return E_POINTER;
    *length = static_cast<LONG>(m_items.size());
    return S_OK;
  }
  HRESULT nextNode(IXMLDOMNode** item) override {
    HRESULT hr = get_item(m_next, item);
    if (hr == S_OK) ++m_next;
    return hr;
  }
  HRESULT reset() override {
    m_next = 0;
    return S_OK;
  }
  HRESULT get__newEnum(IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
  }

 private:
  std::vector<ComPtr<IXMLDOMNode>> m_items;
  LONG m_next = 0;
};

HRESULT MakeList(const std::vector<Node*>& nodes, IXMLDOMNodeList** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<ComObject<StaticList>> list;
  HRESULT hr = MakeObject<StaticList>(&list);
  if (FAILED(hr)) return hr;
  hr = list->Init(nodes);
  if (FAILED(hr)) return hr;
  *out = list.Detach();
  return S_OK;
}

// The live list of a node's children; it keeps the node's object alive.
class ChildList : public Implements<IXMLDOMNodeList> {
 public:
  ChildList(IXMLDOMNode* owner, Node* node) : m_owner(owner), m_node(node) {}
  VKR_XML_NO_DISPATCH
  HRESULT get_item(LONG index, IXMLDOMNode** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (index < 0) return S_FALSE;
    Node* c = m_node->first;
    for (LONG i = 0; c && i < index; ++i) c = c->next;
    return c ? WrapNode(c, IID_IXMLDOMNode, reinterpret_cast<void**>(item)) : S_FALSE;
  }
  HRESULT get_length(LONG* length) override {
    if (!length) return E_POINTER;
    LONG n = 0;
    for (Node* c = m_node->first; c; c = c->next) ++n;
    *length = n;
    return S_OK;
  }
  HRESULT nextNode(IXMLDOMNode** item) override {
    HRESULT hr = get_item(m_next, item);
    if (hr == S_OK) ++m_next;
    return hr;
  }
  HRESULT reset() override {
    m_next = 0;
    return S_OK;
  }
  HRESULT get__newEnum(IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
  }

 private:
  ComPtr<IXMLDOMNode> m_owner;
  Node* m_node;
  LONG m_next = 0;
};

// The live attribute map of an element.
class AttributeMap : public Implements<IXMLDOMNamedNodeMap> {
 public:
  AttributeMap(IXMLDOMNode* owner, Node* element) : m_owner(owner), m_e(element) {}
  VKR_XML_NO_DISPATCH
  HRESULT getNamedItem(BSTR name, IXMLDOMNode** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    return WrapNode(FindAttribute(m_e, View(name)), IID_IXMLDOMNode, reinterpret_cast<void**>(item));
  }
  HRESULT setNamedItem(IXMLDOMNode* newItem, IXMLDOMNode** nameItem) override {
    if (nameItem) *nameItem = nullptr;
    Node* a = NodeOf(newItem);
    if (!a || a->type != NODE_ATTRIBUTE) return E_INVALIDARG;
    if (a->parent && a->parent != m_e) return E_FAIL;  // in use by another element
    Node* old = SetAttributeNode(m_e, a);
    if (old) CollectIfUnreferenced(old);
    return nameItem ? WrapNode(a, IID_IXMLDOMNode, reinterpret_cast<void**>(nameItem)) : S_OK;
  }
  HRESULT removeNamedItem(BSTR name, IXMLDOMNode** item) override {
    if (item) *item = nullptr;
    Node* a = FindAttribute(m_e, View(name));
    if (!a) return S_FALSE;
    if (item) WrapNode(a, IID_IXMLDOMNode, reinterpret_cast<void**>(item));
    Detach(a);
    CollectIfUnreferenced(a);
    return S_OK;
  }
  HRESULT get_item(LONG index, IXMLDOMNode** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    if (index < 0 || static_cast<std::size_t>(index) >= m_e->attrs.size()) return S_FALSE;
    return WrapNode(m_e->attrs[static_cast<std::size_t>(index)], IID_IXMLDOMNode, reinterpret_cast<void**>(item));
  }
  HRESULT get_length(LONG* length) override {
    if (!length) return E_POINTER;
    *length = static_cast<LONG>(m_e->attrs.size());
    return S_OK;
  }
  HRESULT getQualifiedItem(BSTR baseName, BSTR namespaceURI, IXMLDOMNode** item) override {
    if (!item) return E_POINTER;
    *item = nullptr;
    return WrapNode(FindQualified(View(baseName), View(namespaceURI)), IID_IXMLDOMNode, reinterpret_cast<void**>(item));
  }
  HRESULT removeQualifiedItem(BSTR baseName, BSTR namespaceURI, IXMLDOMNode** item) override {
    if (item) *item = nullptr;
    Node* a = FindQualified(View(baseName), View(namespaceURI));
    if (!a) return S_FALSE;
    if (item) WrapNode(a, IID_IXMLDOMNode, reinterpret_cast<void**>(item));
    Detach(a);
    CollectIfUnreferenced(a);
    return S_OK;
  }
  HRESULT nextNode(IXMLDOMNode** item) override {
    HRESULT hr = get_item(m_next, item);
    if (hr == S_OK) ++m_next;
    return hr;
  }
  HRESULT reset() override {
    m_next = 0;
    return S_OK;
  }
  HRESULT get__newEnum(IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
  }

 private:
  Node* FindQualified(std::u16string_view local, std::u16string_view ns) const {
    for (Node* a : m_e->attrs)
      if (a->LocalName() == local && a->ns == ns) return a;
    return nullptr;
  }
  ComPtr<IXMLDOMNode> m_owner;
  Node* m_e;
  LONG m_next = 0;
};

class ParseError : public Implements<IXMLDOMParseError> {
 public:
  explicit ParseError(const ParseErrorInfo& info) : m_info(info) {}
  VKR_XML_NO_DISPATCH
  HRESULT get_errorCode(LONG* code) override {
    if (!code) return E_POINTER;
    *code = m_info.code;
    return S_OK;
  }
  HRESULT get_url(BSTR* url) override { return OutBstr(m_info.url, url); }
  HRESULT get_reason(BSTR* reason) override { return OutBstr(m_info.reason, reason); }
  HRESULT get_srcText(BSTR* text) override { return OutBstr(m_info.srcText, text); }
  HRESULT get_line(LONG* line) override {
    if (!line) return E_POINTER;
    *line = m_info.line;
    return S_OK;
  }
  HRESULT get_linepos(LONG* pos) override {
    if (!pos) return E_POINTER;
    *pos = m_info.linepos;
    return S_OK;
  }
  HRESULT get_filepos(LONG* pos) override {
    if (!pos) return E_POINTER;
    *pos = m_info.filepos;
    return S_OK;
  }

 private:
  ParseErrorInfo m_info;
};

// --- Nodes ---

// The IXMLDOMNode part of every node object, for the interface I of its kind.
template <class I>
class NodeObject : public Implements<I, INodeInternal>, public NodeWrapper {
 public:
  explicit NodeObject(Node* n) : m_node(n), m_doc(n->doc) { n->wrapper = this; }

  void FinalRelease() {
    m_node->wrapper = nullptr;
    if (m_node->type != NODE_DOCUMENT) CollectIfUnreferenced(m_node);
  }
  void Rebind(Doc* doc) override { m_doc = DocRef(doc); }
  IUnknown* Identity() override { return static_cast<I*>(this); }
  Node* GetNode() override { return m_node; }

  VKR_XML_NO_DISPATCH

  HRESULT get_nodeName(BSTR* name) override { return OutBstr(NodeName(m_node), name); }
  HRESULT get_nodeValue(VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (IsContainer(m_node)) {
      value->vt = VT_NULL;
      return S_OK;
    }
    value->vt = VT_BSTR;
    return OutBstr(m_node->value, &value->bstrVal);
  }
  HRESULT put_nodeValue(VARIANT value) override {
    if (IsContainer(m_node)) return E_FAIL;
    std::u16string text;
    HRESULT hr = VariantText(value, &text);
    if (FAILED(hr)) return hr;
    m_node->value = std::move(text);
    if (m_node->type == NODE_ATTRIBUTE) m_node->specified = true;
    return S_OK;
  }
  HRESULT get_nodeType(DOMNodeType* type) override {
    if (!type) return E_POINTER;
    *type = m_node->type;
    return S_OK;
  }
  HRESULT get_parentNode(IXMLDOMNode** parent) override {
    return OutNode(m_node->type == NODE_ATTRIBUTE ? nullptr : m_node->parent, parent);
  }
  HRESULT get_childNodes(IXMLDOMNodeList** children) override {
    if (!children) return E_POINTER;
    *children = nullptr;
    return CreateObject<ChildList>(nullptr, IID_IXMLDOMNodeList, reinterpret_cast<void**>(children),
                                   static_cast<IXMLDOMNode*>(this), m_node);
  }
  HRESULT get_firstChild(IXMLDOMNode** child) override { return OutNode(m_node->first, child); }
  HRESULT get_lastChild(IXMLDOMNode** child) override { return OutNode(m_node->last, child); }
  HRESULT get_previousSibling(IXMLDOMNode** sibling) override { return OutNode(m_node->prev, sibling); }
  HRESULT get_nextSibling(IXMLDOMNode** sibling) override { return OutNode(m_node->next, sibling); }
  HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) override {
    if (!attributes) return E_POINTER;
    *attributes = nullptr;
    if (m_node->type != NODE_ELEMENT) return S_FALSE;
    return CreateObject<AttributeMap>(nullptr, IID_IXMLDOMNamedNodeMap, reinterpret_cast<void**>(attributes),
                                      static_cast<IXMLDOMNode*>(this), m_node);
  }
  HRESULT insertBefore(IXMLDOMNode* newChild, VARIANT refChild, IXMLDOMNode** outNewChild) override {
    if (outNewChild) *outNewChild = nullptr;
    Node* ref = nullptr;
    if (refChild.vt == VT_UNKNOWN || refChild.vt == VT_DISPATCH) {
      if (refChild.punkVal) {
        ref = NodeOf(refChild.punkVal);
        if (!ref || ref->parent != m_node || ref->type == NODE_ATTRIBUTE) return E_INVALIDARG;
      }
    } else if (refChild.vt != VT_EMPTY && refChild.vt != VT_NULL && refChild.vt != VT_ERROR) {
      return E_INVALIDARG;
    }
    return Insert(newChild, ref, outNewChild);
  }
  HRESULT replaceChild(IXMLDOMNode* newChild, IXMLDOMNode* oldChild, IXMLDOMNode** outOldChild) override {
    if (outOldChild) *outOldChild = nullptr;
    Node* n = NodeOf(newChild);
    Node* old = NodeOf(oldChild);
    if (!n || !old || old->parent != m_node || old->type == NODE_ATTRIBUTE) return E_INVALIDARG;
    if (n == old) return outOldChild ? OutNode(old, outOldChild) : S_OK;
    ComPtr<IXMLDOMNode> keep;  // the old child's object, so that it outlives its removal
    HRESULT hr = WrapNode(old, IID_IXMLDOMNode, keep.PutVoid());
    if (FAILED(hr)) return hr;
    Node* ref = old->next;
    Detach(old);
    hr = CheckInsert(m_node, n);
    if (FAILED(hr)) {
      InsertChild(m_node, old, ref);
      return hr;
    }
    InsertChild(m_node, n, ref == n ? n->next : ref);
    if (outOldChild) *outOldChild = keep.Detach();
    return S_OK;
  }
  HRESULT removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) override {
    if (oldChild) *oldChild = nullptr;
    Node* c = NodeOf(childNode);
    if (!c || c->parent != m_node || c->type == NODE_ATTRIBUTE) return E_INVALIDARG;
    Detach(c);  // the caller's object keeps it
    return oldChild ? OutNode(c, oldChild) : S_OK;
  }
  HRESULT appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) override {
    if (outNewChild) *outNewChild = nullptr;
    return Insert(newChild, nullptr, outNewChild);
  }
  HRESULT hasChildNodes(VARIANT_BOOL* hasChild) override {
    if (!hasChild) return E_POINTER;
    *hasChild = m_node->first ? VARIANT_TRUE : VARIANT_FALSE;
    return m_node->first ? S_OK : S_FALSE;
  }
  HRESULT get_ownerDocument(IXMLDOMDocument** document) override {
    return OutNode(m_node->type == NODE_DOCUMENT ? nullptr : &m_node->doc->root, document);
  }
  HRESULT cloneNode(VARIANT_BOOL deep, IXMLDOMNode** cloneRoot) override {
    if (!cloneRoot) return E_POINTER;
    *cloneRoot = nullptr;
    if (m_node->type == NODE_DOCUMENT) return CloneDocument(deep != VARIANT_FALSE, cloneRoot);
    Node* c = CloneNode(m_node, m_node->doc, deep != VARIANT_FALSE);
    HRESULT hr = WrapNode(c, IID_IXMLDOMNode, reinterpret_cast<void**>(cloneRoot));
    if (FAILED(hr)) CollectIfUnreferenced(c);
    return hr;
  }
  HRESULT get_nodeTypeString(BSTR* nodeType) override { return OutBstr(TypeString(m_node->type), nodeType); }
  HRESULT get_text(BSTR* text) override { return OutBstr(NodeText(m_node, TrimsText(m_node)), text); }
  HRESULT put_text(BSTR text) override {
    SetNodeText(m_node, View(text));
    return S_OK;
  }
  HRESULT get_specified(VARIANT_BOOL* isSpecified) override {
    if (!isSpecified) return E_POINTER;
    *isSpecified = m_node->specified ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  HRESULT get_definition(IXMLDOMNode** definitionNode) override {
    if (definitionNode) *definitionNode = nullptr;
    return E_NOTIMPL;
  }
  HRESULT get_nodeTypedValue(VARIANT* typedValue) override {
    if (!typedValue) return E_POINTER;
    VariantInit(typedValue);
    DataType type = TypeOfNode(m_node);
    if (type == DataType::None) {
      if (IsContainer(m_node)) {
        typedValue->vt = VT_BSTR;
        return OutBstr(NodeText(m_node, TrimsText(m_node)), &typedValue->bstrVal);
      }
      return get_nodeValue(typedValue);
    }
    std::u16string text = IsContainer(m_node) ? NodeText(m_node, false) : m_node->value;
    if (type != DataType::String && IsAllSpace(text)) {
      typedValue->vt = VT_NULL;  // a typed node without content has no value
      return S_OK;
    }
    return TypedValue(type, text, typedValue);
  }
  HRESULT put_nodeTypedValue(VARIANT typedValue) override {
    std::u16string text;
    HRESULT hr = TextFromVariant(TypeOfNode(m_node), typedValue, &text);
    if (FAILED(hr)) return hr;
    SetNodeText(m_node, text);
    if (m_node->type == NODE_ATTRIBUTE) m_node->specified = true;
    return S_OK;
  }
  HRESULT get_dataType(VARIANT* dataTypeName) override {
    if (!dataTypeName) return E_POINTER;
    VariantInit(dataTypeName);
    DataType type = TypeOfNode(m_node);
    if (type == DataType::None) {
      dataTypeName->vt = VT_NULL;
      return S_FALSE;
    }
    dataTypeName->vt = VT_BSTR;
    return OutBstr(DataTypeName(type), &dataTypeName->bstrVal);
  }
  HRESULT put_dataType(BSTR dataTypeName) override {
    DataType type = DataTypeFromName(View(dataTypeName));
    if (type == DataType::None) return E_FAIL;
    if (m_node->type != NODE_ELEMENT && m_node->type != NODE_ATTRIBUTE) return E_FAIL;
    // An element carries its type in the document as MSXML writes it, a dt:dt attribute in the
    // data-type namespace (declared where the text needs it), so the type survives the xml
    // text. An attribute cannot carry one: its type stays with the node.
    if (m_node->type == NODE_ELEMENT) {
      HRESULT hr = SetTypeAttribute(DataTypeName(type));
      if (FAILED(hr)) return hr;
    }
    m_node->dataType = type;
    return S_OK;
  }
  HRESULT get_xml(BSTR* xmlString) override { return OutBstr(Serialize(m_node), xmlString); }
  HRESULT transformNode(IXMLDOMNode*, BSTR* xmlString) override {
    if (xmlString) *xmlString = nullptr;
    return E_NOTIMPL;
  }
  HRESULT selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) override {
    if (!resultList) return E_POINTER;
    *resultList = nullptr;
    std::vector<Node*> nodes;
    HRESULT hr = SelectNodes(m_node, View(queryString), &nodes, &t_selectionError);
    if (FAILED(hr)) return hr;
    return MakeList(nodes, resultList);
  }
  HRESULT selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) override {
    if (!resultNode) return E_POINTER;
    *resultNode = nullptr;
    std::vector<Node*> nodes;
    HRESULT hr = SelectNodes(m_node, View(queryString), &nodes, &t_selectionError);
    if (FAILED(hr)) return hr;
    return OutNode(nodes.empty() ? nullptr : nodes.front(), resultNode);
  }
  HRESULT get_parsed(VARIANT_BOOL* isParsed) override {
    if (!isParsed) return E_POINTER;
    *isParsed = VARIANT_TRUE;
    return S_OK;
  }
  HRESULT get_namespaceURI(BSTR* uri) override {
    bool named = m_node->type == NODE_ELEMENT || m_node->type == NODE_ATTRIBUTE;
    return OutBstr(named ? std::u16string_view(m_node->ns) : std::u16string_view(), uri);
  }
  HRESULT get_prefix(BSTR* prefix) override {
    bool named = m_node->type == NODE_ELEMENT || m_node->type == NODE_ATTRIBUTE;
    return OutBstr(named ? m_node->Prefix() : std::u16string_view(), prefix);
  }
  HRESULT get_baseName(BSTR* name) override {
    bool named = m_node->type == NODE_ELEMENT || m_node->type == NODE_ATTRIBUTE ||
                 m_node->type == NODE_PROCESSING_INSTRUCTION;
    return OutBstr(named ? m_node->LocalName() : std::u16string_view(), name);
  }
  HRESULT transformNodeToObject(IXMLDOMNode*, VARIANT) override { return E_NOTIMPL; }

 protected:
  HRESULT Insert(IXMLDOMNode* newChild, Node* ref, IXMLDOMNode** out) {
    Node* n = NodeOf(newChild);
    if (!n) return E_INVALIDARG;
    if (n->type == NODE_DOCUMENT_FRAGMENT) {
      // A fragment's children move; the fragment stays, empty.
      for (Node* c = n->first; c; c = c->next) {
        HRESULT hr = CheckInsert(m_node, c);
        if (FAILED(hr)) return hr;
      }
      while (Node* c = n->first) InsertChild(m_node, c, ref);
      return out ? OutNode(n, out) : S_OK;
    }
    HRESULT hr = CheckInsert(m_node, n);
    if (FAILED(hr)) return hr;
    InsertChild(m_node, n, ref);
    return out ? OutNode(n, out) : S_OK;
  }

  // Sets the element's dt:dt attribute (any prefix bound to the data-type namespace counts) to
  // name, adding it under the prefix "dt" when there is none. E_FAIL when "dt" already stands
  // for another namespace at the element.
  HRESULT SetTypeAttribute(std::u16string_view name) {
    for (Node* a : m_node->attrs) {
      if (a->ns == kDtUri && a->LocalName() == u"dt") {
        a->value.assign(name);
        a->specified = true;
        return S_OK;
      }
    }
    std::u16string bound;
    const bool declared = LookupNamespace(m_node, u"dt", &bound);
    if (declared && bound != kDtUri) return E_FAIL;
    if (FindAttribute(m_node, u"dt:dt") || (!declared && FindAttribute(m_node, u"xmlns:dt"))) return E_FAIL;
    if (!declared) {
      Node* declaration = NewNode(m_node->doc, NODE_ATTRIBUTE);
      SetName(declaration, u"xmlns:dt", kXmlnsUri);
      declaration->value.assign(kDtUri);
      SetAttributeNode(m_node, declaration);
    }
    Node* a = NewNode(m_node->doc, NODE_ATTRIBUTE);
    SetName(a, u"dt:dt", kDtUri);
    a->value.assign(name);
    SetAttributeNode(m_node, a);
    return S_OK;
  }

  HRESULT CloneDocument(bool deep, IXMLDOMNode** out) {
    ComPtr<IXMLDOMDocument2> copy;
    HRESULT hr = CreateDocument(nullptr, IID_IXMLDOMDocument2, copy.PutVoid());
    if (FAILED(hr)) return hr;
    Node* root = NodeOf(copy.Get());
    Doc* d = root->doc;
    Doc* s = m_node->doc;
    d->async = s->async;
    d->validateOnParse = s->validateOnParse;
    d->resolveExternals = s->resolveExternals;
    d->preserveWhiteSpace = s->preserveWhiteSpace;
    d->selectionLanguage = s->selectionLanguage;
    d->selectionNamespaces = s->selectionNamespaces;
    d->schemas = s->schemas;
    if (deep) {
      for (Node* c = m_node->first; c; c = c->next) InsertChild(root, CloneNode(c, d, true), nullptr);
    }
    return copy->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(out));
  }

  Node* m_node;
  DocRef m_doc;
};

template <class I>
class CharacterDataObject : public NodeObject<I> {
 public:
  using NodeObject<I>::NodeObject;
  using NodeObject<I>::m_node;

  HRESULT get_data(BSTR* data) override { return OutBstr(m_node->value, data); }
  HRESULT put_data(BSTR data) override {
    m_node->value.assign(View(data));
    return S_OK;
  }
  HRESULT get_length(LONG* length) override {
    if (!length) return E_POINTER;
    *length = static_cast<LONG>(m_node->value.size());
    return S_OK;
  }
  HRESULT substringData(LONG offset, LONG count, BSTR* data) override {
    if (!data) return E_POINTER;
    *data = nullptr;
    if (!InRange(offset) || count < 0) return E_INVALIDARG;
    return OutBstr(std::u16string_view(m_node->value).substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(count)), data);
  }
  HRESULT appendData(BSTR data) override {
    m_node->value.append(View(data));
    return S_OK;
  }
  HRESULT insertData(LONG offset, BSTR data) override {
    if (!InRange(offset)) return E_INVALIDARG;
    m_node->value.insert(static_cast<std::size_t>(offset), View(data));
    return S_OK;
  }
  HRESULT deleteData(LONG offset, LONG count) override {
    if (!InRange(offset) || count < 0) return E_INVALIDARG;
    m_node->value.erase(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
    return S_OK;
  }
  HRESULT replaceData(LONG offset, LONG count, BSTR data) override {
    if (!InRange(offset) || count < 0) return E_INVALIDARG;
    m_node->value.replace(static_cast<std::size_t>(offset), static_cast<std::size_t>(count), View(data));
    return S_OK;
  }

 protected:
  bool InRange(LONG offset) const { return offset >= 0 && static_cast<std::size_t>(offset) <= m_node->value.size(); }
};

template <class I>
class TextObject : public CharacterDataObject<I> {
 public:
  using CharacterDataObject<I>::CharacterDataObject;
  using CharacterDataObject<I>::m_node;
  HRESULT splitText(LONG offset, IXMLDOMText** right) override {
    if (right) *right = nullptr;
    if (!this->InRange(offset)) return E_INVALIDARG;
    Node* r = NewNode(m_node->doc, m_node->type);
    r->value = m_node->value.substr(static_cast<std::size_t>(offset));
    m_node->value.resize(static_cast<std::size_t>(offset));
    if (m_node->parent) InsertChild(m_node->parent, r, m_node->next);
    HRESULT hr = right ? OutNode(r, right) : S_OK;
    if (!right || FAILED(hr)) CollectIfUnreferenced(r);
    return hr;
  }
};

class TextNode : public TextObject<IXMLDOMText> {
  using TextObject::TextObject;
};
class CDataNode : public TextObject<IXMLDOMCDATASection> {
  using TextObject::TextObject;
};
class CommentNode : public CharacterDataObject<IXMLDOMComment> {
  using CharacterDataObject::CharacterDataObject;
};
class FragmentNode : public NodeObject<IXMLDOMDocumentFragment> {
  using NodeObject::NodeObject;
};

class PINode : public NodeObject<IXMLDOMProcessingInstruction> {
 public:
  using NodeObject::NodeObject;
  HRESULT get_target(BSTR* name) override { return OutBstr(m_node->name, name); }
  HRESULT get_data(BSTR* value) override { return OutBstr(m_node->value, value); }
  HRESULT put_data(BSTR value) override {
    m_node->value.assign(View(value));
    return S_OK;
  }
};

class AttributeNode : public NodeObject<IXMLDOMAttribute> {
 public:
  using NodeObject::NodeObject;
  HRESULT get_name(BSTR* name) override { return OutBstr(m_node->name, name); }
  HRESULT get_value(VARIANT* value) override { return get_nodeValue(value); }
  HRESULT put_value(VARIANT value) override { return put_nodeValue(value); }
};

// A new attribute node named name, its namespace resolved at context (may be null).
HRESULT NewAttribute(Doc* doc, const Node* context, std::u16string_view name, Node** out) {
  *out = nullptr;
  if (!IsValidName(name)) return E_INVALIDARG;
  Node* a = NewNode(doc, NODE_ATTRIBUTE);
  SetName(a, name, {});
  if (name == u"xmlns" || a->Prefix() == u"xmlns") a->ns.assign(kXmlnsUri);
  else if (a->prefixLen) LookupNamespace(context, a->Prefix(), &a->ns);
  *out = a;
  return S_OK;
}

class ElementNode : public NodeObject<IXMLDOMElement> {
 public:
  using NodeObject::NodeObject;
  HRESULT get_tagName(BSTR* tagName) override { return OutBstr(m_node->name, tagName); }
  HRESULT getAttribute(BSTR name, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    Node* a = FindAttribute(m_node, View(name));
    if (!a) {
      value->vt = VT_NULL;
      return S_FALSE;
    }
    value->vt = VT_BSTR;
    return OutBstr(a->value, &value->bstrVal);
  }
  HRESULT setAttribute(BSTR name, VARIANT value) override {
    std::u16string text;
    HRESULT hr = VariantText(value, &text);
    if (FAILED(hr)) return hr;
    if (Node* a = FindAttribute(m_node, View(name))) {
      a->value = std::move(text);
      a->specified = true;
      return S_OK;
    }
    Node* a = nullptr;
    hr = NewAttribute(m_node->doc, m_node, View(name), &a);
    if (FAILED(hr)) return hr;
    a->value = std::move(text);
    SetAttributeNode(m_node, a);
    return S_OK;
  }
  HRESULT removeAttribute(BSTR name) override {
    Node* a = FindAttribute(m_node, View(name));
    if (!a) return S_FALSE;
    Detach(a);
    CollectIfUnreferenced(a);
    return S_OK;
  }
  HRESULT getAttributeNode(BSTR name, IXMLDOMAttribute** attributeNode) override {
    return OutNode(FindAttribute(m_node, View(name)), attributeNode);
  }
  HRESULT setAttributeNode(IXMLDOMAttribute* attr, IXMLDOMAttribute** replaced) override {
    if (replaced) *replaced = nullptr;
    Node* a = NodeOf(attr);
    if (!a || a->type != NODE_ATTRIBUTE) return E_INVALIDARG;
    if (a->parent && a->parent != m_node) return E_FAIL;  // in use by another element
    Node* old = SetAttributeNode(m_node, a);
    if (!old) return S_OK;
    HRESULT hr = replaced ? OutNode(old, replaced) : S_OK;
    CollectIfUnreferenced(old);
    return hr;
  }
  HRESULT removeAttributeNode(IXMLDOMAttribute* attr, IXMLDOMAttribute** removed) override {
    if (removed) *removed = nullptr;
    Node* a = NodeOf(attr);
    if (!a || a->parent != m_node || a->type != NODE_ATTRIBUTE) return E_INVALIDARG;
    Detach(a);
    return removed ? OutNode(a, removed) : S_OK;
  }
  HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) override {
    std::vector<Node*> nodes;
    ElementsByName(m_node, View(tagName), &nodes);
    return MakeList(nodes, resultList);
  }
  HRESULT normalize() override {
    // Merges adjacent text nodes throughout the subtree and drops empty ones.
    std::vector<Node*> work{m_node};
    while (!work.empty()) {
      Node* e = work.back();
      work.pop_back();
      for (Node* c = e->first; c;) {
        Node* next = c->next;
        if (c->type == NODE_TEXT) {
          while (next && next->type == NODE_TEXT) {
            c->value += next->value;
            Node* gone = next;
            next = next->next;
            Detach(gone);
            CollectIfUnreferenced(gone);
          }
          if (c->value.empty()) {
            Detach(c);
            CollectIfUnreferenced(c);
          }
        } else if (c->type == NODE_ELEMENT) {
          work.push_back(c);
        }
        c = next;
      }
    }
    return S_OK;
  }
};

// The document: the node object of the document node, with the document's own operations.
class DocumentNode : public NodeObject<IXMLDOMDocument2> {
 public:
  using NodeObject::NodeObject;

  HRESULT get_doctype(IXMLDOMDocumentType** documentType) override {
    if (!documentType) return E_POINTER;
    *documentType = nullptr;
    return S_FALSE;
  }
  HRESULT get_implementation(IXMLDOMImplementation** impl) override {
    if (impl) *impl = nullptr;
    return E_NOTIMPL;
  }
  HRESULT get_documentElement(IXMLDOMElement** element) override { return OutNode(DocumentElement(), element); }
  HRESULT putref_documentElement(IXMLDOMElement* element) override {
    Node* e = NodeOf(element);
    if (!e || e->type != NODE_ELEMENT) return E_INVALIDARG;
    Node* old = DocumentElement();
    if (old == e) return S_OK;
    if (IsAncestorOrSelf(e, m_node)) return E_FAIL;
    Node* ref = nullptr;
    if (old) {
      ref = old->next;
      Detach(old);
      CollectIfUnreferenced(old);
    }
    InsertChild(m_node, e, ref);
    return S_OK;
  }
  HRESULT createElement(BSTR tagName, IXMLDOMElement** element) override {
    if (!element) return E_POINTER;
    *element = nullptr;
    if (!IsValidName(View(tagName))) return E_INVALIDARG;
    Node* e = NewNode(m_node->doc, NODE_ELEMENT);
    SetName(e, View(tagName), {});
    return Hand(e, element);
  }
  HRESULT createDocumentFragment(IXMLDOMDocumentFragment** docFrag) override {
    if (!docFrag) return E_POINTER;
    *docFrag = nullptr;
    return Hand(NewNode(m_node->doc, NODE_DOCUMENT_FRAGMENT), docFrag);
  }
  HRESULT createTextNode(BSTR data, IXMLDOMText** text) override { return CreateData(NODE_TEXT, data, text); }
  HRESULT createComment(BSTR data, IXMLDOMComment** comment) override { return CreateData(NODE_COMMENT, data, comment); }
  HRESULT createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) override {
    return CreateData(NODE_CDATA_SECTION, data, cdata);
  }
  HRESULT createProcessingInstruction(BSTR target, BSTR data, IXMLDOMProcessingInstruction** pi) override {
    if (!pi) return E_POINTER;
    *pi = nullptr;
    if (!IsValidName(View(target))) return E_INVALIDARG;
    Node* n = NewNode(m_node->doc, NODE_PROCESSING_INSTRUCTION);
    n->name.assign(View(target));
    n->value.assign(View(data));
    return Hand(n, pi);
  }
  HRESULT createAttribute(BSTR name, IXMLDOMAttribute** attribute) override {
    if (!attribute) return E_POINTER;
    *attribute = nullptr;
    Node* a = nullptr;
    HRESULT hr = NewAttribute(m_node->doc, nullptr, View(name), &a);
    if (FAILED(hr)) return hr;
    return Hand(a, attribute);
  }
  HRESULT createEntityReference(BSTR, IXMLDOMEntityReference** entityRef) override {
    if (entityRef) *entityRef = nullptr;
    return E_NOTIMPL;
  }
  HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) override {
    std::vector<Node*> nodes;
    ElementsByName(m_node, View(tagName), &nodes);
    return MakeList(nodes, resultList);
  }
  HRESULT createNode(VARIANT Type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) override {
    if (!node) return E_POINTER;
    *node = nullptr;
    DOMNodeType type = NODE_INVALID;
    switch (Type.vt) {
      case VT_I1: type = static_cast<DOMNodeType>(Type.cVal); break;
      case VT_UI1: type = static_cast<DOMNodeType>(Type.bVal); break;
      case VT_I2: type = static_cast<DOMNodeType>(Type.iVal); break;
      case VT_UI2: type = static_cast<DOMNodeType>(Type.uiVal); break;
      case VT_I4:
      case VT_INT: type = static_cast<DOMNodeType>(Type.lVal); break;
      case VT_UI4:
      case VT_UINT: type = static_cast<DOMNodeType>(Type.ulVal); break;
      case VT_BSTR:
        for (int t = NODE_ELEMENT; t <= NODE_NOTATION; ++t)
          if (TypeString(static_cast<DOMNodeType>(t)) == View(Type.bstrVal)) type = static_cast<DOMNodeType>(t);
        break;
      default: return E_INVALIDARG;
    }
    switch (type) {
      case NODE_ELEMENT:
      case NODE_ATTRIBUTE: {
        if (!IsValidName(View(name))) return E_INVALIDARG;
        Node* n = NewNode(m_node->doc, type);
        SetName(n, View(name), View(namespaceURI));
        if (type == NODE_ATTRIBUTE && (n->name == u"xmlns" || n->Prefix() == u"xmlns")) n->ns.assign(kXmlnsUri);
        return Hand(n, node);
      }
      case NODE_TEXT:
      case NODE_CDATA_SECTION:
      case NODE_COMMENT:
        return Hand(NewNode(m_node->doc, type), node);
      case NODE_PROCESSING_INSTRUCTION: {
        if (!IsValidName(View(name))) return E_INVALIDARG;
        Node* n = NewNode(m_node->doc, type);
        n->name.assign(View(name));
        return Hand(n, node);
      }
      case NODE_DOCUMENT_FRAGMENT: return Hand(NewNode(m_node->doc, type), node);
      case NODE_ENTITY_REFERENCE:
      case NODE_DOCUMENT:
      case NODE_DOCUMENT_TYPE:
      case NODE_ENTITY:
      case NODE_NOTATION: return E_NOTIMPL;
      default: return E_INVALIDARG;
    }
  }
  HRESULT nodeFromID(BSTR, IXMLDOMNode** node) override {
    if (node) *node = nullptr;
    return E_NOTIMPL;
  }
  HRESULT load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) override {
    if (!isSuccessful) return E_POINTER;
    *isSuccessful = VARIANT_FALSE;
    Doc* d = m_node->doc;
    std::string bytes;
    if (xmlSource.vt == VT_BSTR) {
      d->url.assign(View(xmlSource.bstrVal));
      if (!ReadFileBytes(View(xmlSource.bstrVal), &bytes)) {
        ClearDocument(d);
        d->error = ParseErrorInfo{};
        d->error.url = d->url;
        SetError(&d->error, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                 u"The system cannot find the file specified: " + d->url + u".", 0, 0, {});
        return S_FALSE;
      }
    } else if (xmlSource.vt == VT_UNKNOWN || xmlSource.vt == VT_DISPATCH) {
      ComPtr<IStream> stream;
      if (!xmlSource.punkVal || FAILED(xmlSource.punkVal->QueryInterface(IID_IStream, stream.PutVoid())))
        return E_INVALIDARG;
      char buf[65536];
      for (;;) {
        ULONG got = 0;
        HRESULT hr = stream->Read(buf, sizeof buf, &got);
        if (FAILED(hr)) return hr;
        bytes.append(buf, got);
        if (got < sizeof buf) break;
      }
      d->url.clear();
    } else {
      return E_INVALIDARG;
    }
    HRESULT hr = LoadDocument(d, bytes, TextSource::Bytes);
    if (hr == S_OK) *isSuccessful = VARIANT_TRUE;
    return hr;
  }
  HRESULT get_readyState(LONG* value) override {
    if (!value) return E_POINTER;
    *value = 4;  // loads are synchronous: always complete
    return S_OK;
  }
  HRESULT get_parseError(IXMLDOMParseError** errorObj) override {
    if (!errorObj) return E_POINTER;
    *errorObj = nullptr;
    return CreateObject<ParseError>(nullptr, IID_IXMLDOMParseError, reinterpret_cast<void**>(errorObj),
                                    m_node->doc->error);
  }
  HRESULT get_url(BSTR* url) override {
    if (!url) return E_POINTER;
    *url = nullptr;
    if (m_node->doc->url.empty()) return S_FALSE;
    return OutBstr(m_node->doc->url, url);
  }
  HRESULT get_async(VARIANT_BOOL* isAsync) override { return GetFlag(m_node->doc->async, isAsync); }
  HRESULT put_async(VARIANT_BOOL isAsync) override { return SetFlag(&m_node->doc->async, isAsync); }
  HRESULT abort() override { return S_OK; }
  HRESULT loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) override {
    if (!isSuccessful) return E_POINTER;
    *isSuccessful = VARIANT_FALSE;
    std::u16string_view text = View(bstrXML);
    if (!text.empty() && text[0] == 0xFEFF) text.remove_prefix(1);
    m_node->doc->url.clear();
    HRESULT hr = LoadDocument(m_node->doc, TextToUtf8(text), TextSource::Utf16);
    if (hr == S_OK) *isSuccessful = VARIANT_TRUE;
    return hr;
  }
  HRESULT save(VARIANT destination) override {
    std::string bytes = TextToUtf8(Serialize(m_node));
    if (destination.vt == VT_BSTR) {
      std::u16string p(View(destination.bstrVal));
      return WriteFile(p, bytes);
    }
    if (destination.vt == VT_UNKNOWN || destination.vt == VT_DISPATCH) {
      ComPtr<IStream> stream;
      if (!destination.punkVal || FAILED(destination.punkVal->QueryInterface(IID_IStream, stream.PutVoid())))
        return E_INVALIDARG;
      ULONG written = 0;
      HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
      if (FAILED(hr)) return hr;
      return written == bytes.size() ? S_OK : STG_E_MEDIUMFULL;
    }
    return E_INVALIDARG;
  }
  HRESULT get_validateOnParse(VARIANT_BOOL* v) override { return GetFlag(m_node->doc->validateOnParse, v); }
  HRESULT put_validateOnParse(VARIANT_BOOL v) override { return SetFlag(&m_node->doc->validateOnParse, v); }
  HRESULT get_resolveExternals(VARIANT_BOOL* v) override { return GetFlag(m_node->doc->resolveExternals, v); }
  HRESULT put_resolveExternals(VARIANT_BOOL v) override { return SetFlag(&m_node->doc->resolveExternals, v); }
  HRESULT get_preserveWhiteSpace(VARIANT_BOOL* v) override { return GetFlag(m_node->doc->preserveWhiteSpace, v); }
  HRESULT put_preserveWhiteSpace(VARIANT_BOOL v) override { return SetFlag(&m_node->doc->preserveWhiteSpace, v); }
  HRESULT put_onreadystatechange(VARIANT) override { return E_NOTIMPL; }
  HRESULT put_ondataavailable(VARIANT) override { return E_NOTIMPL; }
  HRESULT put_ontransformnode(VARIANT) override { return E_NOTIMPL; }

  HRESULT get_namespaces(IXMLDOMSchemaCollection** namespaceCollection) override {
    if (namespaceCollection) *namespaceCollection = nullptr;
    return E_NOTIMPL;
  }
  HRESULT get_schemas(VARIANT* otherCollection) override {
    if (!otherCollection) return E_POINTER;
    VariantInit(otherCollection);
    if (!m_node->doc->schemas) {
      otherCollection->vt = VT_NULL;
      return S_FALSE;
    }
    otherCollection->vt = VT_UNKNOWN;
    return m_node->doc->schemas->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&otherCollection->punkVal));
  }
  HRESULT putref_schemas(VARIANT otherCollection) override {
    if (otherCollection.vt == VT_EMPTY || otherCollection.vt == VT_NULL) {
      m_node->doc->schemas = nullptr;
      return S_OK;
    }
    if (otherCollection.vt != VT_UNKNOWN && otherCollection.vt != VT_DISPATCH) return E_INVALIDARG;
    if (!otherCollection.punkVal) {
      m_node->doc->schemas = nullptr;
      return S_OK;
    }
    // Only this platform's collection can validate: it must answer the inside interface too.
    ComPtr<ISchemaCacheInternal> inner;
    if (FAILED(otherCollection.punkVal->QueryInterface(ISchemaCacheInternal::iid, inner.PutVoid()))) return E_INVALIDARG;
    ComPtr<IXMLDOMSchemaCollection> schemas;
    HRESULT hr = otherCollection.punkVal->QueryInterface(IID_IXMLDOMSchemaCollection, schemas.PutVoid());
    if (FAILED(hr)) return E_INVALIDARG;
    m_node->doc->schemas = schemas;
    return S_OK;
  }
  HRESULT validate(IXMLDOMParseError** errorObj) override {
    if (errorObj) *errorObj = nullptr;
    return E_NOTIMPL;
  }
  HRESULT setProperty(BSTR name, VARIANT value) override {
    std::u16string_view n = View(name);
    if (n != u"SelectionLanguage" && n != u"SelectionNamespaces") return E_INVALIDARG;
    if (value.vt != VT_BSTR) return E_INVALIDARG;
    std::u16string_view v = View(value.bstrVal);
    if (n == u"SelectionLanguage") {
      // The evaluator speaks XPath only; XSL Patterns (zero-based indexes and their own
      // operators) are refused rather than evaluated as XPath under their name.
      if (v == u"XSLPattern") return E_NOTIMPL;
      if (v != u"XPath") return E_FAIL;
      m_node->doc->selectionLanguage.assign(v);
    } else {
      m_node->doc->selectionNamespaces.assign(v);
    }
    return S_OK;
  }
  HRESULT getProperty(BSTR name, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    std::u16string_view n = View(name);
    const std::u16string* v = n == u"SelectionLanguage"     ? &m_node->doc->selectionLanguage
                              : n == u"SelectionNamespaces" ? &m_node->doc->selectionNamespaces
                                                            : nullptr;
    if (!v) return E_INVALIDARG;
    value->vt = VT_BSTR;
    return OutBstr(*v, &value->bstrVal);
  }

 private:
  Node* DocumentElement() const {
    for (Node* c = m_node->first; c; c = c->next)
      if (c->type == NODE_ELEMENT) return c;
    return nullptr;
  }
  template <class I>
  HRESULT Hand(Node* n, I** out) {
    HRESULT hr = OutNode(n, out);
    if (FAILED(hr)) CollectIfUnreferenced(n);
    return hr;
  }
  template <class I>
  HRESULT CreateData(DOMNodeType type, BSTR data, I** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    Node* n = NewNode(m_node->doc, type);
    n->value.assign(View(data));
    return Hand(n, out);
  }
  static HRESULT GetFlag(bool flag, VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  static HRESULT SetFlag(bool* flag, VARIANT_BOOL v) {
    *flag = v != VARIANT_FALSE;
    return S_OK;
  }
  static HRESULT WriteFile(const std::u16string& path, const std::string& bytes) {
    std::ofstream f(NativePath(path), std::ios::binary | std::ios::trunc);
    if (!f) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return f ? S_OK : STG_E_WRITEFAULT;
  }
};

template <class T>
HRESULT CreateFor(Node* n, REFIID riid, void** ppv) {
  return CreateObject<T>(nullptr, riid, ppv, n);
}

}  // namespace

HRESULT WrapNode(Node* n, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!n) return S_FALSE;
  if (n->wrapper) return n->wrapper->Identity()->QueryInterface(riid, ppv);
  switch (n->type) {
    case NODE_ELEMENT: return CreateFor<ElementNode>(n, riid, ppv);
    case NODE_ATTRIBUTE: return CreateFor<AttributeNode>(n, riid, ppv);
    case NODE_TEXT: return CreateFor<TextNode>(n, riid, ppv);
    case NODE_CDATA_SECTION: return CreateFor<CDataNode>(n, riid, ppv);
    case NODE_COMMENT: return CreateFor<CommentNode>(n, riid, ppv);
    case NODE_PROCESSING_INSTRUCTION: return CreateFor<PINode>(n, riid, ppv);
    case NODE_DOCUMENT: return CreateFor<DocumentNode>(n, riid, ppv);
    case NODE_DOCUMENT_FRAGMENT: return CreateFor<FragmentNode>(n, riid, ppv);
    default: return E_UNEXPECTED;
  }
}

Node* NodeOf(IUnknown* p) {
  if (!p) return nullptr;
  ComPtr<INodeInternal> inner;
  if (FAILED(p->QueryInterface(INodeInternal::iid, inner.PutVoid()))) return nullptr;
  return inner->GetNode();
}

HRESULT CreateDocument(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  DocRef doc(new (std::nothrow) Doc);
  if (!doc.Get()) return E_OUTOFMEMORY;
  return CreateObject<DocumentNode>(nullptr, riid, ppv, &doc->root);
}

}  // namespace vkr::xml

namespace vkr::platform {
std::u16string LastSelectionError() { return vkr::xml::t_selectionError; }
}  // namespace vkr::platform
