// The DOM tree: ownership, moves between documents, cloning, text and serialisation.
#include "platform/xml/dom_tree.h"

#include <algorithm>

namespace vkr::xml {

namespace {

// Visits n and every node below it (attributes included), parents before children, without
// recursion: documents built through the DOM may be deeper than any stack allows.
template <class F>
void ForEachInSubtree(Node* n, F&& f) {
  std::vector<Node*> stack{n};
  while (!stack.empty()) {
    Node* x = stack.back();
    stack.pop_back();
    for (Node* c = x->last; c; c = c->prev) stack.push_back(c);
    for (auto it = x->attrs.rbegin(); it != x->attrs.rend(); ++it) stack.push_back(*it);
    f(x);
  }
}

bool HasWrapperInSubtree(Node* n) {
  bool found = false;
  ForEachInSubtree(n, [&](Node* x) { found = found || x->wrapper != nullptr; });
  return found;
}

void Unlink(Node* n) {
  Node* p = n->parent;
  if (!p) return;
  if (n->type == NODE_ATTRIBUTE) {
    auto it = std::find(p->attrs.begin(), p->attrs.end(), n);
    if (it != p->attrs.end()) p->attrs.erase(it);
  } else {
    (n->prev ? n->prev->next : p->first) = n->next;
    (n->next ? n->next->prev : p->last) = n->prev;
  }
  n->parent = n->prev = n->next = nullptr;
}

}  // namespace

Doc::Doc() : root(NODE_DOCUMENT, this) {}

Doc::~Doc() {
  for (Node* c = root.first; c;) {
    Node* next = c->next;
    c->parent = nullptr;
    FreeSubtree(c);
    c = next;
  }
  for (Node* n : loose) FreeSubtree(n);
}

Node* NewNode(Doc* doc, DOMNodeType type) {
  Node* n = new Node(type, doc);
  doc->loose.insert(n);
  return n;
}

void SetName(Node* n, std::u16string_view qname, std::u16string_view ns) {
  n->name.assign(qname);
  n->ns.assign(ns);
  auto colon = qname.find(u':');
  n->prefixLen = colon == std::u16string_view::npos ? 0 : static_cast<std::uint32_t>(colon);
}

void FreeSubtree(Node* n) {
  std::vector<Node*> all;
  ForEachInSubtree(n, [&](Node* x) { all.push_back(x); });
  for (Node* x : all) delete x;
}

Node* TopOf(Node* n) {
  while (n->parent) n = n->parent;
  return n;
}

void CollectIfUnreferenced(Node* n) {
  Node* top = TopOf(n);
  Doc* doc = top->doc;
  if (top == &doc->root) return;
  // The top's own object settles it cheaply; only a top without one needs the whole walk.
  if (top->wrapper || HasWrapperInSubtree(top)) return;
  doc->loose.erase(top);
  FreeSubtree(top);
}

bool IsAncestorOrSelf(const Node* a, const Node* b) {
  for (; b; b = b->parent)
    if (a == b) return true;
  return false;
}

void Detach(Node* n) {
  if (!n->parent) return;
  Unlink(n);
  n->doc->loose.insert(n);
}

void Adopt(Node* n, Doc* doc) {
  Doc* old = n->doc;
  if (old == doc) return;
  Unlink(n);
  old->loose.erase(n);
  doc->loose.insert(n);
  // The wrappers move their document reference last: the old document may end with them.
  std::vector<NodeWrapper*> wrappers;
  ForEachInSubtree(n, [&](Node* x) {
    x->doc = doc;
    if (x->wrapper) wrappers.push_back(x->wrapper);
  });
  for (NodeWrapper* w : wrappers) w->Rebind(doc);
}

HRESULT CheckInsert(const Node* parent, const Node* child) {
  if (parent->type != NODE_ELEMENT && parent->type != NODE_DOCUMENT && parent->type != NODE_DOCUMENT_FRAGMENT)
    return E_FAIL;
  switch (child->type) {
    case NODE_DOCUMENT:
    case NODE_ATTRIBUTE:
    case NODE_DOCUMENT_TYPE:
      return E_FAIL;
    default:
      break;
  }
  if (IsAncestorOrSelf(child, parent)) return E_FAIL;
  if (parent->type == NODE_DOCUMENT) {
    if (child->type == NODE_TEXT || child->type == NODE_CDATA_SECTION) return E_FAIL;
    if (child->type == NODE_ELEMENT) {
      for (const Node* c = parent->first; c; c = c->next)
        if (c->type == NODE_ELEMENT && c != child) return E_FAIL;
    }
  }
  return S_OK;
}

void InsertChild(Node* parent, Node* child, Node* ref) {
  if (ref == child) ref = child->next;
  if (child->doc != parent->doc) {
    Adopt(child, parent->doc);
  } else {
    Detach(child);
  }
  parent->doc->loose.erase(child);
  child->parent = parent;
  child->next = ref;
  child->prev = ref ? ref->prev : parent->last;
  (child->prev ? child->prev->next : parent->first) = child;
  (ref ? ref->prev : parent->last) = child;
}

Node* SetAttributeNode(Node* element, Node* attr) {
  if (attr->parent == element) return nullptr;
  if (attr->doc != element->doc) Adopt(attr, element->doc);
  Detach(attr);
  element->doc->loose.erase(attr);
  attr->parent = element;
  for (Node*& a : element->attrs) {
    if (a->name == attr->name) {
      Node* old = a;
      a = attr;
      old->parent = nullptr;
      element->doc->loose.insert(old);
      return old;
    }
  }
  element->attrs.push_back(attr);
  return nullptr;
}

Node* FindAttribute(const Node* element, std::u16string_view qname) {
  for (Node* a : element->attrs)
    if (a->name == qname) return a;
  return nullptr;
}

bool LookupNamespace(const Node* n, std::u16string_view prefix, std::u16string* uri) {
  if (prefix == u"xml") {
    uri->assign(kXmlUri);
    return true;
  }
  if (prefix == u"xmlns") {
    uri->assign(kXmlnsUri);
    return true;
  }
  if (n && n->type == NODE_ATTRIBUTE) n = n->parent;
  for (; n && n->type == NODE_ELEMENT; n = n->parent) {
    for (const Node* a : n->attrs) {
      if (!a->IsNamespaceDecl()) continue;
      std::u16string_view declared = a->prefixLen ? a->LocalName() : std::u16string_view();
      if (declared == prefix) {
        uri->assign(a->value);
        return true;
      }
    }
    // A node created with a namespace binds its own prefix, declared or not.
    if (n->Prefix() == prefix && !n->ns.empty()) {
      uri->assign(n->ns);
      return true;
    }
  }
  uri->clear();
  return prefix.empty();
}

Node* CloneNode(const Node* n, Doc* doc, bool deep) {
  auto copy = [doc](const Node* src) {
    Node* c = new Node(src->type, doc);
    c->name = src->name;
    c->ns = src->ns;
    c->value = src->value;
    c->prefixLen = src->prefixLen;
    c->line = src->line;
    c->col = src->col;
    c->specified = src->specified;
    c->dataType = src->dataType;
    for (const Node* a : src->attrs) {
      Node* ac = new Node(NODE_ATTRIBUTE, doc);
      ac->name = a->name;
      ac->ns = a->ns;
      ac->value = a->value;
      ac->prefixLen = a->prefixLen;
      ac->specified = a->specified;
      ac->dataType = a->dataType;
      ac->parent = c;
      c->attrs.push_back(ac);
    }
    return c;
  };
  Node* top = copy(n);
  doc->loose.insert(top);
  if (!deep) return top;
  std::vector<std::pair<const Node*, Node*>> work{{n, top}};
  while (!work.empty()) {
    auto [src, dst] = work.back();
    work.pop_back();
    for (const Node* c = src->first; c; c = c->next) {
      Node* cc = copy(c);
      cc->parent = dst;
      cc->prev = dst->last;
      (dst->last ? dst->last->next : dst->first) = cc;
      dst->last = cc;
      work.emplace_back(c, cc);
    }
  }
  return top;
}

bool IsXmlSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

bool IsAllSpace(std::u16string_view s) {
  return std::all_of(s.begin(), s.end(), IsXmlSpace);
}

std::u16string NodeText(const Node* n, bool trim) {
  std::u16string out;
  if (n->type != NODE_ELEMENT && n->type != NODE_DOCUMENT && n->type != NODE_DOCUMENT_FRAGMENT) {
    out = n->value;
  } else {
    // Walks the subtree in document order through the sibling links, without a stack.
    const Node* x = n->first;
    while (x) {
      if (x->type == NODE_TEXT || x->type == NODE_CDATA_SECTION) out += x->value;
      if (x->first) {
        x = x->first;
        continue;
      }
      while (x && x != n && !x->next) x = x->parent;
      if (!x || x == n) break;
      x = x->next;
    }
  }
  if (trim) {
    std::size_t b = 0, e = out.size();
    while (b < e && IsXmlSpace(out[b])) ++b;
    while (e > b && IsXmlSpace(out[e - 1])) --e;
    out = out.substr(b, e - b);
  }
  return out;
}

void SetNodeText(Node* n, std::u16string_view text) {
  if (n->type != NODE_ELEMENT && n->type != NODE_DOCUMENT && n->type != NODE_DOCUMENT_FRAGMENT) {
    n->value.assign(text);
    return;
  }
  while (Node* c = n->first) {
    Detach(c);
    CollectIfUnreferenced(c);
  }
  if (!text.empty()) {
    Node* t = NewNode(n->doc, NODE_TEXT);
    t->value.assign(text);
    InsertChild(n, t, nullptr);
  }
}

void ClearDocument(Doc* doc) {
  while (Node* c = doc->root.first) {
    Detach(c);
    CollectIfUnreferenced(c);
  }
}

namespace {

void AppendEscaped(std::u16string& out, std::u16string_view s, bool attribute) {
  for (char16_t c : s) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"':
        if (attribute) out += u"&quot;";
        else out += c;
        break;
      // Written as references so that a reload gives the same value back: a parser folds raw
      // line ends, and in attributes tabs and line ends to blanks.
      case u'\r': out += u"&#xD;"; break;
      case u'\n':
        if (attribute) out += u"&#xA;";
        else out += c;
        break;
      case u'\t':
        if (attribute) out += u"&#x9;";
        else out += c;
        break;
      default: out += c;
    }
  }
}

// Namespace bindings visible at the current point of the output.
class Scope {
 public:
  bool Bound(std::u16string_view prefix, std::u16string_view uri) const {
    for (auto it = m_b.rbegin(); it != m_b.rend(); ++it)
      if (it->first == prefix) return it->second == uri;
    return prefix.empty() && uri.empty();
  }
  void Push(std::u16string_view prefix, std::u16string_view uri) { m_b.emplace_back(prefix, uri); }
  std::size_t Size() const { return m_b.size(); }
  void Truncate(std::size_t n) { m_b.resize(n); }

 private:
  std::vector<std::pair<std::u16string, std::u16string>> m_b;
};

void StartTag(std::u16string& out, const Node* e, Scope& scope) {
  for (const Node* a : e->attrs)
    if (a->IsNamespaceDecl()) scope.Push(a->prefixLen ? a->LocalName() : std::u16string_view(), a->value);
  out += u'<';
  out += e->name;
  auto declare = [&](std::u16string_view prefix, std::u16string_view uri) {
    if (prefix == u"xml" || prefix == u"xmlns" || scope.Bound(prefix, uri)) return;
    out += prefix.empty() ? u" xmlns=\"" : u" xmlns:";
    if (!prefix.empty()) {
      out += prefix;
      out += u"=\"";
    }
    AppendEscaped(out, uri, true);
    out += u'"';
    scope.Push(prefix, uri);
  };
  declare(e->Prefix(), e->ns);
  for (const Node* a : e->attrs)
    if (!a->IsNamespaceDecl() && a->prefixLen && !a->ns.empty()) declare(a->Prefix(), a->ns);
  for (const Node* a : e->attrs) {
    if (!a->specified) continue;
    out += u' ';
    out += a->name;
    out += u"=\"";
    AppendEscaped(out, a->value, true);
    out += u'"';
  }
}

void SerializeLeaf(std::u16string& out, const Node* n) {
  switch (n->type) {
    case NODE_TEXT: AppendEscaped(out, n->value, false); break;
    case NODE_CDATA_SECTION:
      out += u"<![CDATA[";
      out += n->value;
      out += u"]]>";
      break;
    case NODE_COMMENT:
      out += u"<!--";
      out += n->value;
      out += u"-->";
      break;
    case NODE_PROCESSING_INSTRUCTION:
      out += u"<?";
      out += n->name;
      if (!n->value.empty()) {
        out += u' ';
        out += n->value;
      }
      out += u"?>";
      break;
    case NODE_ATTRIBUTE:
      out += n->name;
      out += u"=\"";
      AppendEscaped(out, n->value, true);
      out += u'"';
      break;
    default: break;
  }
}

void SerializeElement(std::u16string& out, const Node* top) {
  struct Frame {
    const Node* n;
    std::size_t scope;
  };
  Scope scope;
  std::vector<Frame> stack;
  const Node* x = top;
  for (;;) {
    if (x->type == NODE_ELEMENT) {
      std::size_t mark = scope.Size();
      StartTag(out, x, scope);
      if (x->first) {
        out += u'>';
        stack.push_back({x, mark});
        x = x->first;
        continue;
      }
      out += u"/>";
      scope.Truncate(mark);
    } else {
      SerializeLeaf(out, x);
    }
    // Close finished elements until one has a next sibling.
    while (x != top && !x->next) {
      const Frame f = stack.back();
      stack.pop_back();
      out += u"</";
      out += f.n->name;
      out += u'>';
      scope.Truncate(f.scope);
      x = f.n;
    }
    if (x == top) break;
    x = x->next;
  }
}

}  // namespace

std::u16string Serialize(const Node* n) {
  std::u16string out;
  switch (n->type) {
    case NODE_DOCUMENT:
    case NODE_DOCUMENT_FRAGMENT:
      for (const Node* c = n->first; c; c = c->next) {
        if (c->type == NODE_ELEMENT) SerializeElement(out, c);
        else SerializeLeaf(out, c);
        if (n->type == NODE_DOCUMENT) out += u"\r\n";
      }
      break;
    case NODE_ELEMENT: SerializeElement(out, n); break;
    default: SerializeLeaf(out, n);
  }
  return out;
}

int CompareDocumentOrder(const Node* a, const Node* b) {
  if (a == b) return 0;
  std::vector<const Node*> pa, pb;
  for (const Node* x = a; x; x = x->parent) pa.push_back(x);
  for (const Node* x = b; x; x = x->parent) pb.push_back(x);
  if (pa.back() != pb.back()) return a < b ? -1 : 1;  // different trees: any fixed order
  std::size_t i = pa.size(), j = pb.size();
  while (i > 0 && j > 0 && pa[i - 1] == pb[j - 1]) --i, --j;
  if (i == 0) return -1;  // a is an ancestor of b
  if (j == 0) return 1;
  const Node* x = pa[i - 1];
  const Node* y = pb[j - 1];
  bool xa = x->type == NODE_ATTRIBUTE, ya = y->type == NODE_ATTRIBUTE;
  if (xa != ya) return xa ? -1 : 1;  // attributes come before the children
  if (xa) {
    const auto& v = x->parent->attrs;
    return std::find(v.begin(), v.end(), x) < std::find(v.begin(), v.end(), y) ? -1 : 1;
  }
  for (const Node* s = x->next; s; s = s->next)
    if (s == y) return -1;
  return 1;
}

bool IsValidName(std::u16string_view name) {
  if (name.empty()) return false;
  auto start = [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u':' || c >= 0xC0;
  };
  auto rest = [&](char16_t c) {
    return start(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == 0xB7;
  };
  if (!start(name[0])) return false;
  return std::all_of(name.begin() + 1, name.end(), rest);
}

}  // namespace vkr::xml
