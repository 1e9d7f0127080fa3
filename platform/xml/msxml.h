// The MSXML DOM interfaces, class ids and error codes the system uses: the DOM document and its
// nodes, node lists and maps, the parse error and the XDR schema collection.
//
// The interfaces keep the MSXML slot order and signatures. Two classes are creatable through
// CoCreateInstance in every process that loads the platform: CLSID_DOMDocument (apartment
// model, version-independent DOM document) and CLSID_XMLSchemaCache (a collection of XDR
// schemas). Out-parameters follow COM rules: the caller frees BSTRs and VARIANTs and releases
// interfaces it receives; an out-pointer is nulled first, so it is never left dangling.
//
// Selection (selectNodes, selectSingleNode) matches names as the version-independent document
// does by default: names compare as written in the document, prefix and local name; a default
// namespace is ignored; prefixes need no registration.
//
// Validation: a document loaded with a schema collection attached validates every element and
// attribute of an "x-schema:NAME" namespace against the collection's entry for that namespace;
// a namespace the collection lacks fails the load with INET_E_OBJECT_NOT_FOUND (0x800C0006) and
// a reason naming NAME. A document loaded without a collection is not validated.
#pragma once

#include <string>

#include "platform/com/interfaces.h"

enum DOMNodeType {
  NODE_INVALID = 0,
  NODE_ELEMENT = 1,
  NODE_ATTRIBUTE = 2,
  NODE_TEXT = 3,
  NODE_CDATA_SECTION = 4,
  NODE_ENTITY_REFERENCE = 5,
  NODE_ENTITY = 6,
  NODE_PROCESSING_INSTRUCTION = 7,
  NODE_COMMENT = 8,
  NODE_DOCUMENT = 9,
  NODE_DOCUMENT_TYPE = 10,
  NODE_DOCUMENT_FRAGMENT = 11,
  NODE_NOTATION = 12,
};

// Error codes of the parse error object (errorCode) and of loads and schema additions.
// INET_E_OBJECT_NOT_FOUND (hresult.h): a file or a schema that a document names was not found.
// The others are this platform's: their reason text says what went wrong.
constexpr HRESULT XML_E_NOT_WELL_FORMED = static_cast<HRESULT>(0xC00CE500);  // parser's reason
constexpr HRESULT XML_E_TOO_DEEP = static_cast<HRESULT>(0xC00CE501);         // nesting limit
constexpr HRESULT XML_E_DTD_PROHIBITED = static_cast<HRESULT>(0xC00CE502);   // any DOCTYPE
constexpr HRESULT XML_E_INVALID = static_cast<HRESULT>(0xC00CE00D);          // schema validation
constexpr HRESULT XML_E_BAD_SCHEMA = static_cast<HRESULT>(0xC00CE010);       // not a valid XDR schema
constexpr HRESULT XML_E_BAD_VALUE = static_cast<HRESULT>(0xC00CE030);        // typed value refused

// The deepest element nesting a load accepts.
constexpr int XML_MAX_ELEMENT_DEPTH = 256;

struct IXMLDOMNode;
struct IXMLDOMNodeList;
struct IXMLDOMNamedNodeMap;
struct IXMLDOMDocument;
struct IXMLDOMDocumentType;
struct IXMLDOMImplementation;
struct IXMLDOMElement;
struct IXMLDOMDocumentFragment;
struct IXMLDOMText;
struct IXMLDOMComment;
struct IXMLDOMCDATASection;
struct IXMLDOMProcessingInstruction;
struct IXMLDOMAttribute;
struct IXMLDOMEntityReference;
struct IXMLDOMParseError;
struct IXMLDOMSchemaCollection;

struct IXMLDOMNode : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("2933BF80-7B36-11D2-B20E-00C04F983E60");
  using Base = IDispatch;
  virtual HRESULT get_nodeName(BSTR* name) = 0;
  // Null (VT_NULL) for elements, documents and fragments; the text for the others.
  virtual HRESULT get_nodeValue(VARIANT* value) = 0;
  virtual HRESULT put_nodeValue(VARIANT value) = 0;
  virtual HRESULT get_nodeType(DOMNodeType* type) = 0;
  virtual HRESULT get_parentNode(IXMLDOMNode** parent) = 0;
  virtual HRESULT get_childNodes(IXMLDOMNodeList** children) = 0;
  // S_FALSE with null when there is no such node.
  virtual HRESULT get_firstChild(IXMLDOMNode** child) = 0;
  virtual HRESULT get_lastChild(IXMLDOMNode** child) = 0;
  virtual HRESULT get_previousSibling(IXMLDOMNode** sibling) = 0;
  virtual HRESULT get_nextSibling(IXMLDOMNode** sibling) = 0;
  virtual HRESULT get_attributes(IXMLDOMNamedNodeMap** attributes) = 0;
  // refChild: a node (VT_UNKNOWN/VT_DISPATCH) to insert before, or empty/null to append. A node
  // of another document moves into this one.
  virtual HRESULT insertBefore(IXMLDOMNode* newChild, VARIANT refChild, IXMLDOMNode** outNewChild) = 0;
  virtual HRESULT replaceChild(IXMLDOMNode* newChild, IXMLDOMNode* oldChild, IXMLDOMNode** outOldChild) = 0;
  virtual HRESULT removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) = 0;
  virtual HRESULT appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) = 0;
  virtual HRESULT hasChildNodes(VARIANT_BOOL* hasChild) = 0;
  virtual HRESULT get_ownerDocument(IXMLDOMDocument** document) = 0;
  virtual HRESULT cloneNode(VARIANT_BOOL deep, IXMLDOMNode** cloneRoot) = 0;
  virtual HRESULT get_nodeTypeString(BSTR* nodeType) = 0;
  // The concatenated text of the node and its descendants.
  virtual HRESULT get_text(BSTR* text) = 0;
  virtual HRESULT put_text(BSTR text) = 0;
  virtual HRESULT get_specified(VARIANT_BOOL* isSpecified) = 0;
  virtual HRESULT get_definition(IXMLDOMNode** definitionNode) = 0;
  // Typed by the schema's data type where one applies (see datatypes in the .cpp), else text.
  virtual HRESULT get_nodeTypedValue(VARIANT* typedValue) = 0;
  virtual HRESULT put_nodeTypedValue(VARIANT typedValue) = 0;
  virtual HRESULT get_dataType(VARIANT* dataTypeName) = 0;
  virtual HRESULT put_dataType(BSTR dataTypeName) = 0;
  virtual HRESULT get_xml(BSTR* xmlString) = 0;
  virtual HRESULT transformNode(IXMLDOMNode* stylesheet, BSTR* xmlString) = 0;
  // A path that does not parse gives E_FAIL; vkr::platform::LastSelectionError() says why.
  virtual HRESULT selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) = 0;
  // S_FALSE with null when nothing matches.
  virtual HRESULT selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) = 0;
  virtual HRESULT get_parsed(VARIANT_BOOL* isParsed) = 0;
  virtual HRESULT get_namespaceURI(BSTR* namespaceURI) = 0;
  virtual HRESULT get_prefix(BSTR* prefixString) = 0;
  virtual HRESULT get_baseName(BSTR* nameString) = 0;
  virtual HRESULT transformNodeToObject(IXMLDOMNode* stylesheet, VARIANT outputObject) = 0;
};

struct IXMLDOMNodeList : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("2933BF82-7B36-11D2-B20E-00C04F983E60");
  using Base = IDispatch;
  // S_FALSE with null for an index out of range.
  virtual HRESULT get_item(LONG index, IXMLDOMNode** listItem) = 0;
  virtual HRESULT get_length(LONG* listLength) = 0;
  virtual HRESULT nextNode(IXMLDOMNode** nextItem) = 0;
  virtual HRESULT reset() = 0;
  virtual HRESULT get__newEnum(IUnknown** ppUnk) = 0;
};

struct IXMLDOMNamedNodeMap : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("2933BF83-7B36-11D2-B20E-00C04F983E60");
  using Base = IDispatch;
  virtual HRESULT getNamedItem(BSTR name, IXMLDOMNode** namedItem) = 0;
  // Adds an attribute or replaces the one of the same name; nameItem receives the new one.
  virtual HRESULT setNamedItem(IXMLDOMNode* newItem, IXMLDOMNode** nameItem) = 0;
  virtual HRESULT removeNamedItem(BSTR name, IXMLDOMNode** namedItem) = 0;
  virtual HRESULT get_item(LONG index, IXMLDOMNode** listItem) = 0;
  virtual HRESULT get_length(LONG* listLength) = 0;
  virtual HRESULT getQualifiedItem(BSTR baseName, BSTR namespaceURI, IXMLDOMNode** qualifiedItem) = 0;
  virtual HRESULT removeQualifiedItem(BSTR baseName, BSTR namespaceURI, IXMLDOMNode** qualifiedItem) = 0;
  virtual HRESULT nextNode(IXMLDOMNode** nextItem) = 0;
  virtual HRESULT reset() = 0;
  virtual HRESULT get__newEnum(IUnknown** ppUnk) = 0;
};

struct IXMLDOMDocument : IXMLDOMNode {
  static constexpr IID iid = vkr::MakeGuid("2933BF81-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMNode;
  virtual HRESULT get_doctype(IXMLDOMDocumentType** documentType) = 0;
  virtual HRESULT get_implementation(IXMLDOMImplementation** impl) = 0;
  virtual HRESULT get_documentElement(IXMLDOMElement** element) = 0;
  virtual HRESULT putref_documentElement(IXMLDOMElement* element) = 0;
  virtual HRESULT createElement(BSTR tagName, IXMLDOMElement** element) = 0;
  virtual HRESULT createDocumentFragment(IXMLDOMDocumentFragment** docFrag) = 0;
  virtual HRESULT createTextNode(BSTR data, IXMLDOMText** text) = 0;
  virtual HRESULT createComment(BSTR data, IXMLDOMComment** comment) = 0;
  virtual HRESULT createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) = 0;
  virtual HRESULT createProcessingInstruction(BSTR target, BSTR data, IXMLDOMProcessingInstruction** pi) = 0;
  virtual HRESULT createAttribute(BSTR name, IXMLDOMAttribute** attribute) = 0;
  virtual HRESULT createEntityReference(BSTR name, IXMLDOMEntityReference** entityRef) = 0;
  virtual HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) = 0;
  // Type: a DOMNodeType number (any integer VARIANT) or its name ("element", "attribute", ...).
  virtual HRESULT createNode(VARIANT Type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) = 0;
  virtual HRESULT nodeFromID(BSTR idString, IXMLDOMNode** node) = 0;
  // xmlSource: a file path (VT_BSTR, "file://" accepted) or an IStream (VT_UNKNOWN). Loads are
  // always synchronous; S_FALSE with FALSE when the text is not well-formed or not valid.
  virtual HRESULT load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) = 0;
  virtual HRESULT get_readyState(LONG* value) = 0;
  virtual HRESULT get_parseError(IXMLDOMParseError** errorObj) = 0;
  virtual HRESULT get_url(BSTR* urlString) = 0;
  virtual HRESULT get_async(VARIANT_BOOL* isAsync) = 0;
  virtual HRESULT put_async(VARIANT_BOOL isAsync) = 0;
  virtual HRESULT abort() = 0;
  // S_FALSE with FALSE when the text is not well-formed or not valid; parseError says why.
  virtual HRESULT loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) = 0;
  virtual HRESULT save(VARIANT destination) = 0;
  virtual HRESULT get_validateOnParse(VARIANT_BOOL* isValidating) = 0;
  virtual HRESULT put_validateOnParse(VARIANT_BOOL isValidating) = 0;
  virtual HRESULT get_resolveExternals(VARIANT_BOOL* isResolving) = 0;
  virtual HRESULT put_resolveExternals(VARIANT_BOOL isResolving) = 0;
  virtual HRESULT get_preserveWhiteSpace(VARIANT_BOOL* isPreserving) = 0;
  virtual HRESULT put_preserveWhiteSpace(VARIANT_BOOL isPreserving) = 0;
  virtual HRESULT put_onreadystatechange(VARIANT readystatechangeSink) = 0;
  virtual HRESULT put_ondataavailable(VARIANT ondataavailableSink) = 0;
  virtual HRESULT put_ontransformnode(VARIANT ontransformnodeSink) = 0;
};

struct IXMLDOMDocument2 : IXMLDOMDocument {
  static constexpr IID iid = vkr::MakeGuid("2933BF95-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMDocument;
  virtual HRESULT get_namespaces(IXMLDOMSchemaCollection** namespaceCollection) = 0;
  // VT_NULL when none is attached, else VT_UNKNOWN holding the collection.
  virtual HRESULT get_schemas(VARIANT* otherCollection) = 0;
  // VT_UNKNOWN/VT_DISPATCH holding an IXMLDOMSchemaCollection, or VT_EMPTY/VT_NULL to detach.
  virtual HRESULT putref_schemas(VARIANT otherCollection) = 0;
  virtual HRESULT validate(IXMLDOMParseError** errorObj) = 0;
  // "SelectionLanguage" and "SelectionNamespaces" (kept, not used: names match as written).
  // The selection language is "XPath", which the evaluator speaks; setting "XSLPattern" is
  // refused with E_NOTIMPL, any other value with E_FAIL. Other names: E_INVALIDARG.
  virtual HRESULT setProperty(BSTR name, VARIANT value) = 0;
  virtual HRESULT getProperty(BSTR name, VARIANT* value) = 0;
};

struct IXMLDOMCharacterData : IXMLDOMNode {
  static constexpr IID iid = vkr::MakeGuid("2933BF84-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMNode;
  virtual HRESULT get_data(BSTR* data) = 0;
  virtual HRESULT put_data(BSTR data) = 0;
  virtual HRESULT get_length(LONG* dataLength) = 0;
  virtual HRESULT substringData(LONG offset, LONG count, BSTR* data) = 0;
  virtual HRESULT appendData(BSTR data) = 0;
  virtual HRESULT insertData(LONG offset, BSTR data) = 0;
  virtual HRESULT deleteData(LONG offset, LONG count) = 0;
  virtual HRESULT replaceData(LONG offset, LONG count, BSTR data) = 0;
};

struct IXMLDOMAttribute : IXMLDOMNode {
  static constexpr IID iid = vkr::MakeGuid("2933BF85-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMNode;
  virtual HRESULT get_name(BSTR* attributeName) = 0;
  virtual HRESULT get_value(VARIANT* attributeValue) = 0;
  virtual HRESULT put_value(VARIANT attributeValue) = 0;
};

struct IXMLDOMElement : IXMLDOMNode {
  static constexpr IID iid = vkr::MakeGuid("2933BF86-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMNode;
  virtual HRESULT get_tagName(BSTR* tagName) = 0;
  // VT_BSTR, or VT_NULL with S_FALSE when the attribute is absent.
  virtual HRESULT getAttribute(BSTR name, VARIANT* value) = 0;
  // The value is converted to text (strings, integers, reals, booleans as "True"/"False").
  virtual HRESULT setAttribute(BSTR name, VARIANT value) = 0;
  virtual HRESULT removeAttribute(BSTR name) = 0;
  virtual HRESULT getAttributeNode(BSTR name, IXMLDOMAttribute** attributeNode) = 0;
  virtual HRESULT setAttributeNode(IXMLDOMAttribute* DOMAttribute, IXMLDOMAttribute** attributeNode) = 0;
  virtual HRESULT removeAttributeNode(IXMLDOMAttribute* DOMAttribute, IXMLDOMAttribute** attributeNode) = 0;
  // Descendant elements named as written ("*" for all), in document order.
  virtual HRESULT getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) = 0;
  virtual HRESULT normalize() = 0;
};

struct IXMLDOMText : IXMLDOMCharacterData {
  static constexpr IID iid = vkr::MakeGuid("2933BF87-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMCharacterData;
  virtual HRESULT splitText(LONG offset, IXMLDOMText** rightHandTextNode) = 0;
};

struct IXMLDOMComment : IXMLDOMCharacterData {
  static constexpr IID iid = vkr::MakeGuid("2933BF88-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMCharacterData;
};

struct IXMLDOMProcessingInstruction : IXMLDOMNode {
  static constexpr IID iid = vkr::MakeGuid("2933BF89-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMNode;
  virtual HRESULT get_target(BSTR* name) = 0;
  virtual HRESULT get_data(BSTR* value) = 0;
  virtual HRESULT put_data(BSTR value) = 0;
};

struct IXMLDOMCDATASection : IXMLDOMText {
  static constexpr IID iid = vkr::MakeGuid("2933BF8A-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMText;
};

struct IXMLDOMDocumentFragment : IXMLDOMNode {
  static constexpr IID iid = vkr::MakeGuid("3EFAA413-272F-11D2-836F-0000F87A7782");
  using Base = IXMLDOMNode;
};

struct IXMLDOMParseError : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("3EFAA426-272F-11D2-836F-0000F87A7782");
  using Base = IDispatch;
  // 0 (S_OK) when the last load succeeded.
  virtual HRESULT get_errorCode(LONG* errorCode) = 0;
  virtual HRESULT get_url(BSTR* urlString) = 0;
  virtual HRESULT get_reason(BSTR* reasonString) = 0;
  // The text of the line the error is on.
  virtual HRESULT get_srcText(BSTR* sourceString) = 0;
  // One-based line and column of the error (0 when the error has no position).
  virtual HRESULT get_line(LONG* lineNumber) = 0;
  virtual HRESULT get_linepos(LONG* linePosition) = 0;
  virtual HRESULT get_filepos(LONG* filePosition) = 0;
};

struct IXMLDOMSchemaCollection : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("373984C8-B845-449B-91E7-45AC83036ADE");
  using Base = IDispatch;
  // var: the schema's location (VT_BSTR file path), loaded now; or VT_EMPTY/VT_NULL to remove
  // the namespace. Replaces an entry of the same namespace. Fails with INET_E_OBJECT_NOT_FOUND
  // when the file cannot be read, XML_E_NOT_WELL_FORMED when it does not parse and
  // XML_E_BAD_SCHEMA when it is not a valid XDR schema; the collection is then unchanged.
  virtual HRESULT add(BSTR namespaceURI, VARIANT var) = 0;
  // The schema's root element (S_FALSE with null when the namespace is not held).
  virtual HRESULT get(BSTR namespaceURI, IXMLDOMNode** schemaNode) = 0;
  virtual HRESULT remove(BSTR namespaceURI) = 0;
  virtual HRESULT get_length(LONG* length) = 0;
  // The namespace at index, in the order added; E_INVALIDARG out of range.
  virtual HRESULT get_namespaceURI(LONG index, BSTR* length) = 0;
  virtual HRESULT addCollection(IXMLDOMSchemaCollection* otherCollection) = 0;
  virtual HRESULT get__newEnum(IUnknown** ppUnk) = 0;
};

// Interfaces the DOM names but this platform does not implement (no objects are handed out).
struct IXMLDOMDocumentType : IXMLDOMNode {
  static constexpr IID iid = vkr::MakeGuid("2933BF8B-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMNode;
};
struct IXMLDOMEntityReference : IXMLDOMNode {
  static constexpr IID iid = vkr::MakeGuid("2933BF8E-7B36-11D2-B20E-00C04F983E60");
  using Base = IXMLDOMNode;
};
struct IXMLDOMImplementation : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("2933BF8F-7B36-11D2-B20E-00C04F983E60");
  using Base = IDispatch;
  virtual HRESULT hasFeature(BSTR feature, BSTR version, VARIANT_BOOL* hasFeature) = 0;
};

inline constexpr IID IID_IXMLDOMNode = IXMLDOMNode::iid;
inline constexpr IID IID_IXMLDOMNodeList = IXMLDOMNodeList::iid;
inline constexpr IID IID_IXMLDOMNamedNodeMap = IXMLDOMNamedNodeMap::iid;
inline constexpr IID IID_IXMLDOMDocument = IXMLDOMDocument::iid;
inline constexpr IID IID_IXMLDOMDocument2 = IXMLDOMDocument2::iid;
inline constexpr IID IID_IXMLDOMCharacterData = IXMLDOMCharacterData::iid;
inline constexpr IID IID_IXMLDOMAttribute = IXMLDOMAttribute::iid;
inline constexpr IID IID_IXMLDOMElement = IXMLDOMElement::iid;
inline constexpr IID IID_IXMLDOMText = IXMLDOMText::iid;
inline constexpr IID IID_IXMLDOMComment = IXMLDOMComment::iid;
inline constexpr IID IID_IXMLDOMProcessingInstruction = IXMLDOMProcessingInstruction::iid;
inline constexpr IID IID_IXMLDOMCDATASection = IXMLDOMCDATASection::iid;
inline constexpr IID IID_IXMLDOMDocumentFragment = IXMLDOMDocumentFragment::iid;
inline constexpr IID IID_IXMLDOMParseError = IXMLDOMParseError::iid;
inline constexpr IID IID_IXMLDOMSchemaCollection = IXMLDOMSchemaCollection::iid;

// The version-independent classes.
inline constexpr CLSID CLSID_DOMDocument = vkr::MakeGuid("2933BF90-7B36-11D2-B20E-00C04F983E60");
inline constexpr CLSID CLSID_XMLSchemaCache = vkr::MakeGuid("373984C9-B845-449B-91E7-45AC83036ADE");

namespace vkr::platform {
// Registers CLSID_DOMDocument and CLSID_XMLSchemaCache with CoRegisterClassObject. The platform
// library calls it once when it is loaded; calling it again does nothing.
VKR_API HRESULT RegisterXmlClasses();
// The reason the last selectNodes/selectSingleNode on this thread refused its path (empty when
// the last one parsed).
VKR_API std::u16string LastSelectionError();
}  // namespace vkr::platform
