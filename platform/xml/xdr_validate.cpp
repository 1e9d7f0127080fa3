// Validation of a loaded document against the XDR schemas of a schema collection (rules in xdr.h).
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "platform/win/text.h"
#include "platform/xml/datatypes.h"
#include "platform/xml/parser.h"
#include "platform/xml/xdr.h"

namespace vkr::xml {

namespace {

bool IsXSchema(std::u16string_view ns) { return ns.substr(0, kXSchemaPrefix.size()) == kXSchemaPrefix; }

std::u16string Quote(std::u16string_view s) { return u"'" + std::u16string(s) + u"'"; }

// Positions 0..n in the list of a parent's listed child elements.
using PosSet = std::vector<char>;

class Validator {
 public:
  Validator(ISchemaCacheInternal* cache, ParseErrorInfo* error, std::string_view text)
      : m_cache(cache), m_error(error), m_text(text) {}

  HRESULT Run(Doc* doc) {
    // Every x-schema namespace the document declares must be in the collection, whether or not
    // an element uses it, as the loader looks each one up when it meets the declaration.
    for (Node* c = doc->root.first; c; c = c->next) {
      if (c->type == NODE_ELEMENT && !CheckDeclarations(c)) return m_error->code;
    }
    for (Node* c = doc->root.first; c; c = c->next) {
      if (c->type == NODE_ELEMENT && !Element(c)) return m_error->code;
    }
    for (const auto& [node, ref] : m_idrefs) {
      if (!m_ids.count(ref)) {
        Fail(node, u"The ID " + Quote(ref) + u" named by " + Quote(node->name) + u" is not defined.");
        return m_error->code;
      }
    }
    return S_OK;
  }

 private:
  bool Fail(const Node* at, std::u16string reason, HRESULT code = XML_E_INVALID) {
    SetError(m_error, code, std::move(reason), at ? at->line : 0, at ? at->col : 0, m_text);
    return false;
  }

  // The schema of an x-schema namespace (null for other namespaces, and on failure with
  // *ok false).
  const Schema* SchemaFor(const Node* at, std::u16string_view ns, bool* ok) {
    *ok = true;
    if (!IsXSchema(ns)) return nullptr;
    // Most look-ups repeat the previous namespace.
    if (m_last && ns == m_last->ns) return m_last;
    auto it = m_schemas.find(std::u16string(ns));
    if (it != m_schemas.end()) return m_last = it->second.get();
    std::shared_ptr<const Schema> s = m_cache->FindSchema(ns);
    if (!s) {
      *ok = Fail(at, u"The schema \"" + std::u16string(ns) + u"\" is not in the schema cache.", INET_E_OBJECT_NOT_FOUND);
      return nullptr;
    }
    const Schema* raw = s.get();
    m_schemas.emplace(std::u16string(ns), std::move(s));
    return m_last = raw;
  }

  bool CheckDeclarations(Node* top) {
    std::vector<Node*> stack{top};
    while (!stack.empty()) {
      Node* n = stack.back();
      stack.pop_back();
      for (Node* a : n->attrs) {
        bool ok;
        if (a->IsNamespaceDecl()) SchemaFor(n, a->value, &ok);
        else ok = true;
        if (!ok) return false;
      }
      for (Node* c = n->last; c; c = c->prev)
        if (c->type == NODE_ELEMENT) stack.push_back(c);
    }
    return true;
  }

  const ElementType* DeclFor(const Node* e, const Schema* s) {
    auto it = s->elements.find(e->LocalName());
    if (it == s->elements.end()) {
      Fail(e, u"Element " + Quote(e->name) + u" is used but not declared in the schema \"" + s->ns + u"\".");
      return nullptr;
    }
    return &it->second;
  }

  // The attribute type an <attribute> of an element type names.
  const AttributeType* TypeOf(const Node* at, const AttributeUse& use) {
    if (use.local) return use.local;
    bool ok;
    const Schema* s = SchemaFor(at, use.ref.ns, &ok);
    if (!ok) return nullptr;
    if (s) {
      auto it = s->attributes.find(use.ref.local);
      if (it != s->attributes.end()) return &it->second;
    }
    Fail(at, u"The attribute type " + Quote(use.ref.local) + u" of namespace \"" + use.ref.ns + u"\" is not declared.");
    return nullptr;
  }

  bool CheckAttributeValue(Node* a, const AttributeType* t) {
    if (!CheckValue(t->type, a->value, &t->values)) {
      std::u16string what = t->type == DataType::Enumeration ? u"one of the values of the enumeration"
                                                             : u"a valid " + std::u16string(DataTypeName(t->type));
      return Fail(a, u"The value " + Quote(a->value) + u" of attribute " + Quote(a->name) + u" is not " + what + u".");
    }
    a->dataType = t->type;
    return TrackIds(a, t->type, a->value);
  }

  bool TrackIds(const Node* at, DataType type, std::u16string_view value) {
    if (type == DataType::Id) {
      std::u16string v(value);
      if (!m_ids.insert(v).second) return Fail(at, u"The ID " + Quote(v) + u" is used twice.");
    } else if (type == DataType::Idref || type == DataType::Idrefs) {
      std::size_t i = 0;
      while (i < value.size()) {
        while (i < value.size() && IsXmlSpace(value[i])) ++i;
        std::size_t b = i;
        while (i < value.size() && !IsXmlSpace(value[i])) ++i;
        if (i > b) m_idrefs.emplace_back(at, std::u16string(value.substr(b, i - b)));
      }
    }
    return true;
  }

  // Attributes of an element not validated by its own declaration: those of x-schema
  // namespaces against the global attribute types of their schema.
  bool LooseAttributes(Node* e) {
    for (Node* a : e->attrs) {
      if (a->IsNamespaceDecl() || a->ns.empty()) continue;
      bool ok;
      const Schema* s = SchemaFor(a, a->ns, &ok);
      if (!ok) return false;
      if (!s) continue;
      auto it = s->attributes.find(a->LocalName());
      if (it == s->attributes.end())
        return Fail(a, u"Attribute " + Quote(a->name) + u" is not declared in the schema \"" + s->ns + u"\".");
      if (!CheckAttributeValue(a, &it->second)) return false;
    }
    return true;
  }

  static bool UseMatches(const AttributeUse& use, const Schema* own, const Node* a) {
    if (use.ref.ns == own->ns) return a->ns.empty() && a->name == use.ref.local;
    return a->ns == use.ref.ns && a->LocalName() == use.ref.local;
  }

  bool Attributes(Node* e, const Schema* s, const ElementType* et) {
    const std::size_t present = e->attrs.size();
    for (std::size_t i = 0; i < present; ++i) {
      Node* a = e->attrs[i];
      if (a->IsNamespaceDecl() || a->ns == kXmlUri) continue;
      const AttributeUse* use = nullptr;
      for (const AttributeUse& u : et->attributes)
        if (UseMatches(u, s, a)) use = &u;
      if (use) {
        const AttributeType* t = TypeOf(a, *use);
        if (!t || !CheckAttributeValue(a, t)) return false;
        continue;
      }
      bool ok;
      const Schema* as = a->ns.empty() ? s : SchemaFor(a, a->ns, &ok);
      if (!a->ns.empty() && !ok) return false;
      if (!et->open) {
        return Fail(a, u"Attribute " + Quote(a->name) + u" is not allowed on element " + Quote(e->name) +
                           u": its element type lists no such attribute.");
      }
      if (!as) continue;  // another namespace without a schema: open content takes it
      auto it = as->attributes.find(a->LocalName());
      if (it == as->attributes.end())
        return Fail(a, u"Attribute " + Quote(a->name) + u" on element " + Quote(e->name) +
                           u" is not declared in the schema \"" + as->ns + u"\".");
      if (!CheckAttributeValue(a, &it->second)) return false;
    }
    for (const AttributeUse& use : et->attributes) {
      bool found = false;
      for (std::size_t i = 0; i < present && !found; ++i) found = UseMatches(use, s, e->attrs[i]);
      if (found) continue;
      const AttributeType* t = TypeOf(e, use);
      if (!t) return false;
      bool required = use.requiredSet ? use.required : t->required;
      if (required)
        return Fail(e, u"Required attribute " + Quote(use.ref.local) + u" is missing on element " + Quote(e->name) + u".");
      const std::u16string* def = use.defaultSet ? &use.def : (t->hasDefault ? &t->def : nullptr);
      if (def) AddDefault(e, s, use, t, *def);
    }
    return true;
  }

  // A default attribute joins the tree as the loader of the schema-aware DOM adds it: present
  // for reads and selections, not written out.
  void AddDefault(Node* e, const Schema* s, const AttributeUse& use, const AttributeType* t, const std::u16string& def) {
    std::u16string qname = use.ref.local;
    std::u16string ns;
    if (use.ref.ns != s->ns) {
      // Another namespace needs a prefix bound to it in scope; without one it cannot be named.
      std::u16string prefix;
      for (const Node* x = e; x && x->type == NODE_ELEMENT && prefix.empty(); x = x->parent)
        for (const Node* a : x->attrs)
          if (a->IsNamespaceDecl() && a->prefixLen && a->value == use.ref.ns) prefix.assign(a->LocalName());
      if (prefix.empty()) return;
      qname = prefix + u":" + use.ref.local;
      ns = use.ref.ns;
    }
    Node* a = NewNode(e->doc, NODE_ATTRIBUTE);
    SetName(a, qname, ns);
    a->value = def;
    a->specified = false;
    a->dataType = t->type;
    a->line = e->line;
    a->col = e->col;
    SetAttributeNode(e, a);
  }

  static bool Listed(const ElementType* et, const Node* c) {
    return std::any_of(et->listed.begin(), et->listed.end(),
                       [&](const QName& q) { return q.ns == c->ns && q.local == c->LocalName(); });
  }

  // --- Content model matching over positions of the listed children. ---
  const std::vector<Node*>* m_kids = nullptr;
  std::size_t m_furthest = 0;

  bool Matches(const QName& q, std::size_t pos) const {
    const Node* c = (*m_kids)[pos];
    return q.ns == c->ns && q.local == c->LocalName();
  }

  void Note(const PosSet& s) {
    for (std::size_t i = s.size(); i-- > 0;)
      if (s[i]) {
        m_furthest = std::max(m_furthest, i);
        break;
      }
  }

  static bool Empty(const PosSet& s) { return std::none_of(s.begin(), s.end(), [](char c) { return c; }); }

  // One occurrence of p from each position of in.
  PosSet Once(const Particle& p, const PosSet& in) {
    const std::size_t n = m_kids->size();
    PosSet out(n + 1, 0);
    if (!p.isGroup) {
      for (std::size_t i = 0; i < n; ++i)
        if (in[i] && Matches(p.ref, i)) out[i + 1] = 1;
    } else if (p.order == Order::Seq) {
      out = in;
      for (const Particle& item : p.items) out = Apply(item, out);
    } else if (p.order == Order::One) {
      for (const Particle& item : p.items) {
        PosSet r = Apply(item, in);
        for (std::size_t i = 0; i <= n; ++i) out[i] |= r[i];
      }
    } else {
      // Many: any of the items, in any order and number.
      out = in;
      PosSet frontier = in;
      while (!Empty(frontier)) {
        PosSet next(n + 1, 0);
        for (const Particle& item : p.items) {
          Particle loose = item;
          loose.optional = false;
          PosSet r = Apply(loose, frontier);
          for (std::size_t i = 0; i <= n; ++i)
            if (r[i] && !out[i]) next[i] = out[i] = 1;
        }
        frontier = std::move(next);
      }
    }
    Note(out);
    return out;
  }

  // p with its minOccurs and maxOccurs.
  PosSet Apply(const Particle& p, const PosSet& in) {
    if (!p.isGroup && p.repeat) return RepeatElement(p, in);
    PosSet once = Once(p, in);
    PosSet result = once;
    if (p.optional)
      for (std::size_t i = 0; i < in.size(); ++i) result[i] |= in[i];
    if (p.repeat) {
      PosSet frontier = once;
      while (!Empty(frontier)) {
        PosSet again = Once(p, frontier);
        PosSet next(in.size(), 0);
        for (std::size_t i = 0; i < in.size(); ++i)
          if (again[i] && !result[i]) next[i] = result[i] = 1;
        frontier = std::move(next);
      }
    }
    return result;
  }

  // An element with maxOccurs="*", in one pass: a run of matching children from any start.
  PosSet RepeatElement(const Particle& p, const PosSet& in) {
    const std::size_t n = m_kids->size();
    PosSet out = p.optional ? in : PosSet(n + 1, 0);
    bool carried = false;  // position i was reached through a run of matches
    for (std::size_t i = 0; i < n; ++i) {
      carried = (in[i] || carried) && Matches(p.ref, i);
      if (carried) out[i + 1] = 1;
    }
    Note(out);
    return out;
  }

  bool ContentModel(Node* e, const ElementType* et, const std::vector<Node*>& kids) {
    m_kids = &kids;
    m_furthest = 0;
    PosSet start(kids.size() + 1, 0);
    start[0] = 1;
    Note(start);
    PosSet end = Apply(et->model, start);
    if (end[kids.size()]) return true;
    if (m_furthest < kids.size()) {
      const Node* c = kids[m_furthest];
      return Fail(c, u"Element " + Quote(c->name) + u" is unexpected according to the content model of parent element " +
                         Quote(e->name) + u".");
    }
    return Fail(e, u"The content of element " + Quote(e->name) + u" is incomplete according to its content model.");
  }

  // Validates e and everything below it.
  bool Element(Node* e) {
    bool ok;
    const Schema* s = SchemaFor(e, e->ns, &ok);
    if (!ok) return false;
    if (!s) {
      if (!LooseAttributes(e)) return false;
      for (Node* c = e->first; c; c = c->next)
        if (c->type == NODE_ELEMENT && !Element(c)) return false;
      return true;
    }
    const ElementType* et = DeclFor(e, s);
    if (!et || !Attributes(e, s, et)) return false;

    std::vector<Node*> listed;
    for (Node* c = e->first; c; c = c->next) {
      if (c->type == NODE_TEXT || c->type == NODE_CDATA_SECTION) {
        if (IsAllSpace(c->value) && et->content != Content::Empty) continue;
        if (et->content == Content::Empty)
          return Fail(e, u"Element " + Quote(e->name) + u" must be empty, but it holds text.");
        if (et->content == Content::EltOnly)
          return Fail(e, u"Element " + Quote(e->name) + u" may hold elements only, but it holds text " +
                             Quote(NodeText(c, true)) + u".");
        continue;
      }
      if (c->type != NODE_ELEMENT) continue;
      if (et->content == Content::Empty)
        return Fail(c, u"Element " + Quote(e->name) + u" must be empty, but it holds element " + Quote(c->name) + u".");
      if (Listed(et, c)) {
        listed.push_back(c);
      } else if (!et->open) {
        return Fail(c, u"Element " + Quote(c->name) + u" is unexpected according to the content model of parent element " +
                           Quote(e->name) + u".");
      }
      if (!Element(c)) return false;
    }
    if (et->content == Content::EltOnly && !ContentModel(e, et, listed)) return false;
    if (et->type != DataType::None) {
      std::u16string text = NodeText(e, false);
      if (!CheckValue(et->type, text, &et->values))
        return Fail(e, u"The text " + Quote(text) + u" of element " + Quote(e->name) + u" is not a valid " +
                           std::u16string(DataTypeName(et->type)) + u".");
      e->dataType = et->type;
      if (!TrackIds(e, et->type, text)) return false;
    }
    return true;
  }

  ISchemaCacheInternal* m_cache;
  ParseErrorInfo* m_error;
  std::string_view m_text;
  std::unordered_map<std::u16string, std::shared_ptr<const Schema>> m_schemas;
  const Schema* m_last = nullptr;
  std::unordered_set<std::u16string> m_ids;
  std::vector<std::pair<const Node*, std::u16string>> m_idrefs;
};

}  // namespace

HRESULT ValidateDocument(Doc* doc, IXMLDOMSchemaCollection* schemas, ParseErrorInfo* error, std::string_view text) {
  ComPtr<ISchemaCacheInternal> cache;
  if (!schemas || FAILED(schemas->QueryInterface(ISchemaCacheInternal::iid, cache.PutVoid()))) {
    SetError(error, E_INVALIDARG, u"The schema collection is not one of this platform's.", 0, 0, text);
    return E_INVALIDARG;
  }
  Validator v(cache.Get(), error, text);
  return v.Run(doc);
}

}  // namespace vkr::xml
