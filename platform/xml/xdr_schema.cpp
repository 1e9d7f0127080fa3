// Reading XDR schema files into their model, and the schema collection object.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/win/paths.h"
#include "platform/win/text.h"
#include "platform/xml/datatypes.h"
#include "platform/xml/dom_objects.h"
#include "platform/xml/parser.h"
#include "platform/xml/xdr.h"

namespace vkr::xml {

std::string NativePath(std::u16string_view path) {
  std::u16string p(path);
  if (p.rfind(u"file://", 0) == 0) {
    p.erase(0, 7);
    // "file:///C:/dir" names a drive path; "file:///tmp" an absolute one.
    if (p.size() >= 3 && p[0] == u'/' && p[2] == u':') p.erase(0, 1);
  }
  std::string native;
  if (vkr::platform::MapPath(p, &native) != ERROR_SUCCESS) return {};
  return native;
}

bool ReadFileBytes(std::u16string_view path, std::string* out) {
  std::ifstream f(NativePath(path), std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  if (f.bad()) return false;
  *out = std::move(s).str();
  return true;
}

namespace {

struct SchemaReader {
  Schema* schema;
  std::u16string* reason;

  bool Fail(const Node* at, std::u16string what) {
    *reason = what;
    if (at && at->line > 0) *reason += u" (line " + Utf8ToUtf16(std::to_string(at->line)) + u")";
    return false;
  }

  static bool IsXdr(const Node* n, std::u16string_view local) {
    return n->type == NODE_ELEMENT && n->ns == kXdrUri && n->LocalName() == local;
  }

  // The value of an unprefixed attribute, or of a dt: one when dt is set.
  static const Node* Attr(const Node* e, std::u16string_view local, bool dt = false) {
    for (const Node* a : e->attrs) {
      if (a->IsNamespaceDecl()) continue;
      if (dt ? (a->ns == kDtUri && a->LocalName() == local) : (a->ns.empty() && a->name == local)) return a;
    }
    return nullptr;
  }

  bool ResolveQName(const Node* at, std::u16string_view text, QName* out) {
    auto colon = text.find(u':');
    if (colon == std::u16string_view::npos) {
      out->ns = schema->ns;
      out->local.assign(text);
    } else {
      std::u16string_view prefix = text.substr(0, colon);
      if (!LookupNamespace(at, prefix, &out->ns) || out->ns.empty())
        return Fail(at, u"The prefix '" + std::u16string(prefix) + u"' of '" + std::u16string(text) + u"' is not declared.");
      out->local.assign(text.substr(colon + 1));
    }
    if (out->local.empty()) return Fail(at, u"An empty type name.");
    return true;
  }

  bool ReadDataType(const Node* e, DataType* type, std::vector<std::u16string>* values) {
    if (const Node* t = Attr(e, u"type", true)) {
      *type = DataTypeFromName(t->value);
      if (*type == DataType::None) return Fail(e, u"Unknown data type '" + t->value + u"'.");
    }
    if (const Node* v = Attr(e, u"values", true)) {
      values->clear();
      std::u16string_view s = v->value;
      std::size_t i = 0;
      while (i < s.size()) {
        while (i < s.size() && IsXmlSpace(s[i])) ++i;
        std::size_t b = i;
        while (i < s.size() && !IsXmlSpace(s[i])) ++i;
        if (i > b) values->emplace_back(s.substr(b, i - b));
      }
    }
    if (*type == DataType::Enumeration && values->empty()) return Fail(e, u"An enumeration without dt:values.");
    return true;
  }

  bool ReadYesNo(const Node* e, std::u16string_view name, bool* set, bool* value) {
    const Node* a = Attr(e, name);
    if (!a) return true;
    if (a->value != u"yes" && a->value != u"no")
      return Fail(e, u"The attribute '" + std::u16string(name) + u"' must be yes or no, not '" + a->value + u"'.");
    *set = true;
    *value = a->value == u"yes";
    return true;
  }

  bool ReadAttributeType(const Node* e, AttributeType* t) {
    const Node* name = Attr(e, u"name");
    if (!name || name->value.empty()) return Fail(e, u"An AttributeType without a name.");
    t->name = name->value;
    if (!ReadDataType(e, &t->type, &t->values)) return false;
    bool set = false;
    if (!ReadYesNo(e, u"required", &set, &t->required)) return false;
    if (const Node* d = Attr(e, u"default")) {
      t->hasDefault = true;
      t->def = d->value;
      if (!CheckValue(t->type, t->def, &t->values))
        return Fail(e, u"The default '" + t->def + u"' of attribute type '" + t->name + u"' is not of its type.");
    }
    return true;
  }

  bool ReadOccurs(const Node* e, Particle* p) {
    if (const Node* a = Attr(e, u"minOccurs")) {
      if (a->value != u"0" && a->value != u"1") return Fail(e, u"minOccurs must be 0 or 1, not '" + a->value + u"'.");
      p->optional = a->value == u"0";
    }
    if (const Node* a = Attr(e, u"maxOccurs")) {
      if (a->value != u"1" && a->value != u"*") return Fail(e, u"maxOccurs must be 1 or *, not '" + a->value + u"'.");
      p->repeat = a->value == u"*";
    }
    return true;
  }

  bool ReadOrder(const Node* e, Order* order, bool* given) {
    const Node* a = Attr(e, u"order");
    if (!a) return true;
    *given = true;
    if (a->value == u"one") *order = Order::One;
    else if (a->value == u"seq") *order = Order::Seq;
    else if (a->value == u"many") *order = Order::Many;
    else return Fail(e, u"order must be one, seq or many, not '" + a->value + u"'.");
    return true;
  }

  bool ReadParticles(const Node* parent, Particle* group, ElementType* et) {
    for (const Node* c = parent->first; c; c = c->next) {
      if (IsXdr(c, u"element")) {
        Particle p;
        const Node* type = Attr(c, u"type");
        if (!type || type->value.empty()) return Fail(c, u"An element reference without a type.");
        if (!ResolveQName(c, type->value, &p.ref) || !ReadOccurs(c, &p)) return false;
        et->listed.push_back(p.ref);
        group->items.push_back(std::move(p));
      } else if (IsXdr(c, u"group")) {
        Particle g;
        g.isGroup = true;
        bool given = false;
        if (!ReadOrder(c, &g.order, &given) || !ReadOccurs(c, &g) || !ReadParticles(c, &g, et)) return false;
        group->items.push_back(std::move(g));
      }
    }
    return true;
  }

  bool ReadElementType(const Node* e, ElementType* et) {
    const Node* name = Attr(e, u"name");
    if (!name || name->value.empty()) return Fail(e, u"An ElementType without a name.");
    et->name = name->value;
    if (!ReadDataType(e, &et->type, &et->values)) return false;
    bool contentGiven = false;
    if (const Node* a = Attr(e, u"content")) {
      contentGiven = true;
      if (a->value == u"empty") et->content = Content::Empty;
      else if (a->value == u"textOnly") et->content = Content::TextOnly;
      else if (a->value == u"eltOnly") et->content = Content::EltOnly;
      else if (a->value == u"mixed") et->content = Content::Mixed;
      else return Fail(e, u"content must be empty, textOnly, eltOnly or mixed, not '" + a->value + u"'.");
    }
    if (const Node* a = Attr(e, u"model")) {
      if (a->value != u"open" && a->value != u"closed")
        return Fail(e, u"model must be open or closed, not '" + a->value + u"'.");
      et->open = a->value == u"open";
    }
    for (const Node* c = e->first; c; c = c->next) {
      if (IsXdr(c, u"datatype") && !ReadDataType(c, &et->type, &et->values)) return false;
    }
    if (et->type != DataType::None) {
      if (contentGiven && et->content != Content::TextOnly)
        return Fail(e, u"Element type '" + et->name + u"' has a data type but content other than textOnly.");
      et->content = Content::TextOnly;
    }
    et->model.isGroup = true;
    et->model.order = et->content == Content::Mixed ? Order::Many : Order::Seq;
    bool orderGiven = false;
    if (!ReadOrder(e, &et->model.order, &orderGiven)) return false;
    if (et->content == Content::Mixed && et->model.order != Order::Many)
      return Fail(e, u"Element type '" + et->name + u"' has mixed content, which needs order=\"many\".");
    if (et->content == Content::Empty) et->open = false;  // empty content admits nothing
    for (const Node* c = e->first; c; c = c->next) {
      if (IsXdr(c, u"AttributeType")) {
        AttributeType t;
        if (!ReadAttributeType(c, &t)) return false;
        std::u16string key = t.name;
        et->localAttributes[key] = std::move(t);
      }
    }
    for (const Node* c = e->first; c; c = c->next) {
      if (!IsXdr(c, u"attribute")) continue;
      AttributeUse use;
      const Node* type = Attr(c, u"type");
      if (!type || type->value.empty()) return Fail(c, u"An attribute reference without a type.");
      if (!ResolveQName(c, type->value, &use.ref)) return false;
      if (!ReadYesNo(c, u"required", &use.requiredSet, &use.required)) return false;
      if (const Node* d = Attr(c, u"default")) {
        use.defaultSet = true;
        use.def = d->value;
      }
      et->attributes.push_back(std::move(use));
    }
    if (!ReadParticles(e, &et->model, et)) return false;
    if (!et->listed.empty() && (et->content == Content::Empty || et->content == Content::TextOnly))
      return Fail(e, u"Element type '" + et->name + u"' lists elements but its content admits none.");
    return true;
  }

  // Same-schema references must name declared types; others are resolved when validating.
  bool CheckReferences() {
    for (auto& [name, et] : schema->elements) {
      for (const QName& q : et.listed) {
        if (q.ns == schema->ns && !schema->elements.count(q.local))
          return Fail(nullptr, u"Element type '" + name + u"' refers to the undeclared element type '" + q.local + u"'.");
      }
      for (AttributeUse& use : et.attributes) {
        if (use.ref.ns != schema->ns) continue;
        auto local = et.localAttributes.find(use.ref.local);
        if (local != et.localAttributes.end()) {
          use.local = &local->second;
        } else if (auto global = schema->attributes.find(use.ref.local); global != schema->attributes.end()) {
          use.local = &global->second;
        } else {
          return Fail(nullptr, u"Element type '" + name + u"' refers to the undeclared attribute type '" +
                                   use.ref.local + u"'.");
        }
        if (use.defaultSet && !CheckValue(use.local->type, use.def, &use.local->values))
          return Fail(nullptr, u"The default '" + use.def + u"' of attribute '" + use.ref.local + u"' is not of its type.");
      }
    }
    return true;
  }

  bool Read(const Node* root) {
    if (!root || !IsXdr(root, u"Schema"))
      return Fail(root, u"The root element is not a Schema of namespace urn:schemas-microsoft-com:xml-data.");
    for (const Node* c = root->first; c; c = c->next) {
      if (IsXdr(c, u"ElementType")) {
        ElementType et;
        if (!ReadElementType(c, &et)) return false;
        std::u16string key = et.name;
        if (schema->elements.count(key)) return Fail(c, u"Element type '" + key + u"' is declared twice.");
        schema->elements.emplace(std::move(key), std::move(et));
      } else if (IsXdr(c, u"AttributeType")) {
        AttributeType t;
        if (!ReadAttributeType(c, &t)) return false;
        std::u16string key = t.name;
        if (schema->attributes.count(key)) return Fail(c, u"Attribute type '" + key + u"' is declared twice.");
        schema->attributes.emplace(std::move(key), std::move(t));
      }
    }
    return CheckReferences();
  }
};

}  // namespace

namespace {

// The schema files read so far, shared by every collection of the process (every DTM adds the
// same frame schemas): by namespace and location, with the file's bytes when it was read. A file
// whose bytes changed is read again, also when it kept its size and time of writing. The models
// are never changed once made; the schema file's document is not kept with them (a collection
// loads it for get() when asked).
struct ReadSchema {
  std::string bytes;
  std::shared_ptr<const Schema> schema;
};

struct ReadSchemas {
  std::mutex lock;
  std::map<std::u16string, ReadSchema, std::less<>> byFile;
};

ReadSchemas& Schemas() {
  static ReadSchemas* schemas = new ReadSchemas;  // lives to the end of the process
  return *schemas;
}

HRESULT ParseSchemaDocument(std::u16string_view location, const std::string& bytes, DocRef* doc,
                            std::u16string* reason) {
  *doc = DocRef(new Doc);
  (*doc)->url.assign(location);
  HRESULT hr = LoadDocument(doc->Get(), bytes, TextSource::Bytes);
  if (hr != S_OK) {
    *reason = u"The schema file '" + std::u16string(location) + u"' does not parse: " + (*doc)->error.reason;
    return XML_E_NOT_WELL_FORMED;
  }
  return S_OK;
}

HRESULT ReadSchemaBytes(std::u16string_view location, std::string* bytes, std::u16string* reason) {
  if (ReadFileBytes(location, bytes)) return S_OK;
  *reason = u"The schema file '" + std::u16string(location) + u"' cannot be read.";
  return INET_E_OBJECT_NOT_FOUND;
}

}  // namespace

HRESULT LoadSchemaDocument(std::u16string_view location, DocRef* doc, std::u16string* reason) {
  std::string bytes;
  HRESULT hr = ReadSchemaBytes(location, &bytes, reason);
  if (FAILED(hr)) return hr;
  return ParseSchemaDocument(location, bytes, doc, reason);
}

HRESULT LoadSchema(std::u16string_view ns, std::u16string_view location, std::shared_ptr<const Schema>* out,
                   std::u16string* reason) {
  out->reset();
  std::string bytes;
  HRESULT hr = ReadSchemaBytes(location, &bytes, reason);
  if (FAILED(hr)) return hr;
  std::u16string key(ns);
  key += u'\n';
  key += location;
  {
    std::lock_guard lock(Schemas().lock);
    auto it = Schemas().byFile.find(key);
    if (it != Schemas().byFile.end() && it->second.bytes == bytes) {
      *out = it->second.schema;
      return S_OK;
    }
  }
  auto schema = std::make_shared<Schema>();
  schema->ns.assign(ns);
  schema->location.assign(location);
  DocRef doc;
  hr = ParseSchemaDocument(location, bytes, &doc, reason);
  if (FAILED(hr)) return hr;
  const Node* root = nullptr;
  for (const Node* c = doc->root.first; c; c = c->next)
    if (c->type == NODE_ELEMENT) root = c;
  SchemaReader reader{schema.get(), reason};
  if (!reader.Read(root)) {
    *reason = u"'" + std::u16string(location) + u"' is not a valid XDR schema: " + *reason;
    return XML_E_BAD_SCHEMA;
  }
  {
    std::lock_guard lock(Schemas().lock);
    Schemas().byFile[key] = ReadSchema{std::move(bytes), schema};
  }
  *out = std::move(schema);
  return S_OK;
}

namespace {

class SchemaCache : public Implements<IXMLDOMSchemaCollection, ISchemaCacheInternal> {
 public:
  VKR_XML_NO_DISPATCH

  HRESULT add(BSTR namespaceURI, VARIANT var) override {
    std::u16string ns(View(namespaceURI));
    if (var.vt == VT_EMPTY || var.vt == VT_NULL) return remove(namespaceURI);
    if (var.vt != VT_BSTR) return E_INVALIDARG;
    std::shared_ptr<const Schema> schema;
    std::u16string reason;
    HRESULT hr = LoadSchema(ns, View(var.bstrVal), &schema, &reason);
    if (FAILED(hr)) return hr;
    for (auto& e : m_entries) {
      if (e->ns == ns) {
        e = std::move(schema);
        return S_OK;
      }
    }
    m_entries.push_back(std::move(schema));
    return S_OK;
  }

  HRESULT get(BSTR namespaceURI, IXMLDOMNode** schemaNode) override {
    if (!schemaNode) return E_POINTER;
    *schemaNode = nullptr;
    std::shared_ptr<const Schema> s = FindSchema(View(namespaceURI));
    if (!s) return S_FALSE;
    // The schema file's document, read for this collection on first ask.
    DocRef& doc = m_documents[s];
    if (!doc.Get()) {
      std::u16string reason;
      HRESULT hr = LoadSchemaDocument(s->location, &doc, &reason);
      if (FAILED(hr)) {
        doc = DocRef();
        return hr;
      }
    }
    Node* root = nullptr;
    for (Node* c = doc->root.first; c; c = c->next)
      if (c->type == NODE_ELEMENT) root = c;
    return WrapNode(root, IID_IXMLDOMNode, reinterpret_cast<void**>(schemaNode));
  }

  HRESULT remove(BSTR namespaceURI) override {
    std::u16string_view ns = View(namespaceURI);
    auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e->ns == ns; });
    if (it != m_entries.end()) m_entries.erase(it);
    return S_OK;
  }

  HRESULT get_length(LONG* length) override {
    if (!length) return E_POINTER;
    *length = static_cast<LONG>(m_entries.size());
    return S_OK;
  }

  HRESULT get_namespaceURI(LONG index, BSTR* uri) override {
    if (!uri) return E_POINTER;
    *uri = nullptr;
    if (index < 0 || static_cast<std::size_t>(index) >= m_entries.size()) return E_INVALIDARG;
    const std::u16string& ns = m_entries[static_cast<std::size_t>(index)]->ns;
    *uri = SysAllocStringLen(ns.data(), static_cast<UINT>(ns.size()));
    return *uri ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT addCollection(IXMLDOMSchemaCollection* other) override {
    if (!other) return E_POINTER;
    ComPtr<ISchemaCacheInternal> inner;
    if (FAILED(other->QueryInterface(ISchemaCacheInternal::iid, inner.PutVoid()))) return E_INVALIDARG;
    auto* o = static_cast<SchemaCache*>(inner.Get());
    for (const auto& s : o->m_entries) {
      auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e->ns == s->ns; });
      if (it != m_entries.end()) *it = s;
      else m_entries.push_back(s);
    }
    return S_OK;
  }

  HRESULT get__newEnum(IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
  }

  std::shared_ptr<const Schema> FindSchema(std::u16string_view ns) override {
    for (const auto& e : m_entries)
      if (e->ns == ns) return e;
    return nullptr;
  }

 private:
  std::vector<std::shared_ptr<const Schema>> m_entries;
  std::map<std::shared_ptr<const Schema>, DocRef> m_documents;
};

}  // namespace

HRESULT CreateSchemaCache(IUnknown* outer, REFIID riid, void** ppv) {
  return vkr::CreateObject<SchemaCache>(outer, riid, ppv);
}

}  // namespace vkr::xml
