// DOM and XPath helpers for reading and writing FDT documents: typed reads at a path below a
// node, node tests, element and attribute creation, escaping, loading text without a schema
// cache, and merging XML fragments into a document.
//
// Stateless: each helper creates the DOM objects it needs (CLSID_DOMDocument) and releases them
// before it returns. Paths are evaluated with the node's selectSingleNode / selectNodes under the
// DOM's default selection rules (names as written, no selection namespaces). Out-pointers receive
// new references and new BSTRs that the caller releases and frees; a typed read that fails leaves
// its value untouched.
#pragma once

#include <string_view>

#include "platform/platform.h"

// ---- Node tests and typed reads. ----

// Whether path selects a node below node; false for a null node or an empty path.
bool XmlNodeExists(IXMLDOMNode* node, BSTR path);
// The value of the node path selects, converted to type: for VT_BSTR the node's nodeValue (an
// attribute's or a text node's text; an element has none), for other types its typed value. For
// VT_R4 and VT_R8 a text value's first '.' (or, without one, ',') becomes the system decimal
// separator first, so numbers written with either convert. E_POINTER for a null node or value,
// E_INVALIDARG for an empty path, E_FAIL when nothing matches, a conversion's failure as it is.
HRESULT GetXmlValue(IXMLDOMNode* node, BSTR path, VARIANT* value, VARTYPE type);
// found = false; no such node: *text = a new empty BSTR, S_OK; else the text and found = true.
HRESULT GetXmlString(BSTR* text, bool* found, IXMLDOMNode* node, BSTR path);
// E_FAIL when path selects nothing; otherwise GetXmlValue with the matching type.
HRESULT GetXmlValueBstr(BSTR* text, IXMLDOMNode* node, BSTR path);
HRESULT GetXmlValueUI4(ULONG* value, IXMLDOMNode* node, BSTR path);
HRESULT GetXmlValueI4(LONG* value, IXMLDOMNode* node, BSTR path);
HRESULT GetXmlValueUI1(BYTE* value, IXMLDOMNode* node, BSTR path);
HRESULT GetXmlValueBool(bool* value, IXMLDOMNode* node, BSTR path);
// present = false; no such node: S_OK, value untouched; else the typed read, present = true on
// success. E_INVALIDARG for a null value or present pointer.
HRESULT GetOptionalXmlValueUI4(ULONG* value, bool* present, IXMLDOMNode* node, BSTR path);
HRESULT GetOptionalXmlValueUI1(BYTE* value, bool* present, IXMLDOMNode* node, BSTR path);
HRESULT GetOptionalXmlValueBool(bool* value, bool* present, IXMLDOMNode* node, BSTR path);
// Tries path at node, then at its parent (downward: its first child), and so on; the first node
// where path selects something gives the text (its read's result is returned either way).
// Nothing found: found = false and the result of the last move (S_FALSE for a null start).
HRESULT FindXmlValueBstr(BSTR* text, bool* found, IXMLDOMNode* node, BSTR path, bool downward);

// ---- Selection and writing. ----

// The text (SelectNodeXml: the markup) of the node path selects. E_POINTER for a null node or
// out-pointer, E_INVALIDARG for an empty path, E_FAIL when nothing matches.
HRESULT SelectNodeText(IXMLDOMNode* node, BSTR path, BSTR* text);
HRESULT SelectNodeXml(IXMLDOMNode* node, BSTR path, BSTR* xml);
// Sets the typed value of the node path selects. E_POINTER for a null node, E_FAIL when nothing
// matches; any success is S_OK.
HRESULT SetSelectedNodeValue(IXMLDOMNode* node, BSTR path, VARIANT value);
// QueryInterface for IXMLDOMNode; E_POINTER for null pointers.
HRESULT QueryXmlNode(IUnknown* object, IXMLDOMNode** node);
// Creates attribute name with the value on element. E_POINTER for a null document or element,
// E_FAIL when the element has no attribute map or no attribute can be made; else the first
// failing call's result.
HRESULT SetXmlAttribute(IXMLDOMDocument* document, IXMLDOMNode* element, BSTR name, VARIANT value);
// Creates element name in namespaceUri (empty: none) and appends it under parent. E_POINTER for
// null pointers, E_INVALIDARG for an empty name or a null namespace.
HRESULT AppendElement(IXMLDOMDocument* document, IXMLDOMNode* parent, BSTR name, BSTR namespaceUri,
                      IXMLDOMNode** element);
// AppendElement under the node path selects in the document; a selection that gives nothing
// returns its result (S_FALSE) and creates nothing. E_INVALIDARG for a null path.
HRESULT AppendElementAtPath(IXMLDOMDocument* document, BSTR path, BSTR name, BSTR namespaceUri,
                            IXMLDOMNode** element);
// Parses xml in a new document and moves its first child under parent. E_POINTER for null
// pointers, E_INVALIDARG for an empty text or a null namespace (which is otherwise unused),
// E_FAIL when the text gives no node.
HRESULT AppendParsedXml(IXMLDOMDocument* document, IXMLDOMNode* parent, BSTR xml, BSTR namespaceUri,
                        IXMLDOMNode** node);
// The text as it stands inside a double-quoted attribute value: markup characters as entity
// references, TAB, LF and CR as character references. A null text gives an empty BSTR. A text
// holding a character no XML document can carry, not even as a reference (the other control
// characters below U+0020, U+FFFE, U+FFFF, a surrogate without its pair), is refused with
// E_INVALIDARG and *escaped null: a document built from it would load in no frame, and putting
// another character in its place would hand the frame a value the DTM does not hold. E_POINTER
// for a null out-pointer or when no document can be made.
HRESULT XmlEscapeText(BSTR text, BSTR* escaped);
// Whether every character of the text can stand in an XML document (XML 1.0 characters; a null
// text is empty and can).
bool IsXmlCharacterText(std::u16string_view text);
// Loads text into a new document without a schema cache (synchronous, no external resolution).
// *document receives it and *loaded whether the text parsed; S_OK either way. E_INVALIDARG for
// null out-pointers, E_POINTER when no document can be made.
HRESULT LoadXmlFromString(BSTR xml, IXMLDOMDocument2** document, VARIANT_BOOL* loaded);

// ---- Fragments: texts of one or more sibling elements without a common root. ----

// The fragment's top-level elements in document order, each in namespaceUri (empty: none).
// E_POINTER for a null out-pointer, E_INVALIDARG for an empty text or a null namespace.
HRESULT ParseXmlFragment(BSTR xml, BSTR namespaceUri, IXMLDOMNodeList** nodes);
// Moves the listed nodes: asChild, as last children of target; otherwise before target or, with
// after, after it; several nodes keep their order. *last (when given) receives the last node
// placed. E_FAIL for a null or empty list; E_UNEXPECTED for a listed node without a parent.
HRESULT InsertXmlNodes(IXMLDOMNode* target, IXMLDOMNodeList* nodes, IXMLDOMNode** last, bool asChild, bool after);
// ParseXmlFragment, then InsertXmlNodes as children of, before or after target. The document
// argument is not used.
HRESULT AppendXmlFragment(IXMLDOMDocument* document, IXMLDOMNode* target, BSTR xml, BSTR namespaceUri,
                          IXMLDOMNode** last);
HRESULT InsertXmlFragmentBefore(IXMLDOMDocument* document, IXMLDOMNode* target, BSTR xml, BSTR namespaceUri,
                                IXMLDOMNode** last);
HRESULT InsertXmlFragmentAfter(IXMLDOMDocument* document, IXMLDOMNode* target, BSTR xml, BSTR namespaceUri,
                               IXMLDOMNode** last);
