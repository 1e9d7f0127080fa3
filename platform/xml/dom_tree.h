// The DOM's own tree: nodes, the document that owns them, and the operations on both.
//
// The tree is plain C++ data; the COM node objects (dom_objects.cpp) are thin wrappers made on
// demand, at most one per node. Ownership: a parent owns its children and attributes; a node
// outside the tree (just created, or removed) is a "loose" subtree root that the document owns.
// The document's data lives while any wrapper of it or of one of its nodes lives (each wrapper
// holds a DocRef). A loose subtree is freed as soon as no wrapper points into it, or with its
// document. Everything runs on the apartment's thread; no locks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/com/holders.h"
#include "platform/com/object.h"
#include "platform/xml/msxml.h"

namespace vkr::xml {

// The XDR data types (datatypes.h gives names, checks and conversions).
enum class DataType : std::uint8_t {
  None,
  String,
  Number,
  Int,
  Float,
  Fixed14_4,
  Boolean,
  Date,
  DateTime,
  DateTimeTz,
  Time,
  TimeTz,
  I1,
  I2,
  I4,
  I8,
  UI1,
  UI2,
  UI4,
  UI8,
  R4,
  R8,
  Uuid,
  Uri,
  BinHex,
  BinBase64,
  Char,
  Id,
  Idref,
  Idrefs,
  Nmtoken,
  Nmtokens,
  Entity,
  Entities,
  Notation,
  Enumeration,
};

struct Doc;
struct Node;

inline constexpr std::u16string_view kXmlnsUri = u"http://www.w3.org/2000/xmlns/";
inline constexpr std::u16string_view kXmlUri = u"http://www.w3.org/XML/1998/namespace";

// What a node's COM wrapper must support for the tree code: moving to another document.
class NodeWrapper {
 public:
  virtual void Rebind(Doc* doc) = 0;
  virtual IUnknown* Identity() = 0;

 protected:
  ~NodeWrapper() = default;
};

struct Node {
  Node(DOMNodeType t, Doc* d) : type(t), doc(d) {}
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  DOMNodeType type;
  Doc* doc;
  // The parent in the tree; for an attribute, the element that holds it.
  Node* parent = nullptr;
  Node* first = nullptr;
  Node* last = nullptr;
  Node* prev = nullptr;
  Node* next = nullptr;
  std::vector<Node*> attrs;  // elements only, in document order
  std::u16string name;       // qualified name of elements and attributes; target of a PI
  std::u16string ns;         // namespace URI of elements and attributes
  std::u16string value;      // text, attribute value, comment, PI data
  std::uint32_t prefixLen = 0;  // characters before the ':' of name (0: no prefix)
  std::int32_t line = 0;        // source position of a parsed element or attribute
  std::int32_t col = 0;
  bool specified = true;        // false for an attribute added from a schema default
  DataType dataType = DataType::None;  // from the schema, for typed values
  NodeWrapper* wrapper = nullptr;      // the live COM wrapper, if any

  std::u16string_view Prefix() const { return std::u16string_view(name).substr(0, prefixLen); }
  std::u16string_view LocalName() const {
    return prefixLen ? std::u16string_view(name).substr(prefixLen + 1) : std::u16string_view(name);
  }
  bool IsNamespaceDecl() const { return type == NODE_ATTRIBUTE && ns == kXmlnsUri; }
};

// Parse error details, as the parse error object reports them.
struct ParseErrorInfo {
  HRESULT code = S_OK;
  std::u16string reason;
  std::u16string srcText;
  std::u16string url;
  LONG line = 0;
  LONG linepos = 0;
  LONG filepos = 0;
};

struct Doc {
  Doc();
  ~Doc();
  Doc(const Doc&) = delete;
  Doc& operator=(const Doc&) = delete;

  void AddRef() { ++refs; }
  void Release() {
    if (--refs == 0) delete this;
  }

  long refs = 0;
  Node root;
  std::unordered_set<Node*> loose;  // roots of subtrees outside the tree

  // Settings and state of the document object.
  bool async = true;
  bool validateOnParse = true;
  bool resolveExternals = true;
  bool preserveWhiteSpace = false;
  std::u16string selectionLanguage = u"XPath";  // the language the evaluator speaks
  std::u16string selectionNamespaces;
  std::u16string url;
  ParseErrorInfo error;
  ComPtr<IXMLDOMSchemaCollection> schemas;
};

// An owning reference to a document's data.
class DocRef {
 public:
  DocRef() = default;
  explicit DocRef(Doc* d) : m_d(d) {
    if (m_d) m_d->AddRef();
  }
  DocRef(const DocRef& o) : DocRef(o.m_d) {}
  DocRef& operator=(DocRef o) {
    std::swap(m_d, o.m_d);
    return *this;
  }
  ~DocRef() {
    if (m_d) m_d->Release();
  }
  Doc* Get() const { return m_d; }
  Doc* operator->() const { return m_d; }

 private:
  Doc* m_d = nullptr;
};

// --- Tree operations (dom_tree.cpp) ---

// A new loose node owned by doc.
Node* NewNode(Doc* doc, DOMNodeType type);
// Sets name and namespace; the prefix is what stands before the first ':'.
void SetName(Node* n, std::u16string_view qname, std::u16string_view ns);

// Frees a loose subtree root and everything under it (wrappers must be gone).
void FreeSubtree(Node* n);
// Frees the loose subtree that n belongs to when no wrapper points into it any more.
void CollectIfUnreferenced(Node* n);

// The node at the top of n's tree (the document node for attached nodes).
Node* TopOf(Node* n);
// Whether `a` is `b` or one of b's ancestors.
bool IsAncestorOrSelf(const Node* a, const Node* b);

// Takes n out of its parent (or attribute list); it becomes a loose root of its document.
void Detach(Node* n);
// Moves a loose or attached node, with its subtree, into doc (wrappers follow).
void Adopt(Node* n, Doc* doc);
// Inserts child under parent before ref (null: at the end). The caller has checked the
// hierarchy rules (CheckInsert). The child leaves its old place and document first.
void InsertChild(Node* parent, Node* child, Node* ref);
// E_INVALIDARG/E_FAIL with nothing changed when child may not go under parent.
HRESULT CheckInsert(const Node* parent, const Node* child);
// Adds or replaces (same name) an attribute of an element; the replaced one becomes loose and
// is returned.
Node* SetAttributeNode(Node* element, Node* attr);

// The attribute of an element with this qualified name, or null.
Node* FindAttribute(const Node* element, std::u16string_view qname);
// The namespace URI bound to prefix in scope at n (an empty prefix is the default namespace).
bool LookupNamespace(const Node* n, std::u16string_view prefix, std::u16string* uri);

// A copy of n (with its subtree when deep), loose in doc.
Node* CloneNode(const Node* n, Doc* doc, bool deep);

// The text of a node: its value, or for elements and documents the text of every descendant
// text and CDATA node, in document order. trim removes leading and trailing white space.
std::u16string NodeText(const Node* n, bool trim);
// Replaces the content of an element or document by one text node (none for empty text), or
// sets the value of the other kinds.
void SetNodeText(Node* n, std::u16string_view text);

// The markup of a node as MSXML writes it (see dom_tree.cpp for the rules).
std::u16string Serialize(const Node* n);

// Removes every child of the document node (they become free unless referenced).
void ClearDocument(Doc* doc);

// Position of a in document order relative to b: <0 before, 0 same, >0 after.
int CompareDocumentOrder(const Node* a, const Node* b);

bool IsXmlSpace(char16_t c);
bool IsAllSpace(std::u16string_view s);
bool IsValidName(std::u16string_view name);

}  // namespace vkr::xml
