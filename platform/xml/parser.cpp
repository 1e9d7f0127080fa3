// Reads markup with libxml2's SAX interface into our tree.
//
// libxml2 only tokenises: no network, no external entities, no DTDs at all (a DOCTYPE fails the
// load, so no entity can be declared and none expanded), nesting limited to
// XML_MAX_ELEMENT_DEPTH. The SAX1 callbacks give the attributes in document order, namespace
// declarations included, as the DOM keeps them; we resolve namespaces ourselves.
#include "platform/xml/parser.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <cstring>
#include <string>

#include "platform/win/text.h"
#include "platform/xml/xdr.h"

namespace vkr::xml {

namespace {

// libxml2 sets up its global tables on first use; threads that parse their first documents at the
// same moment would each set them up (and lose all but one). Done once, when the library loads.
struct LibxmlSetUp {
  LibxmlSetUp() { xmlInitParser(); }
} g_libxmlSetUp;

// UTF-8 to UTF-16 with a fast path for the ASCII that markup mostly is.
std::u16string U16(std::string_view s) {
  std::u16string out(s.size(), u'\0');
  for (std::size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) return Utf8ToUtf16(s);
    out[i] = c;
  }
  return out;
}

std::u16string U16(const xmlChar* s) {
  return s ? U16(std::string_view(reinterpret_cast<const char*>(s))) : std::u16string();
}

struct Builder {
  xmlParserCtxtPtr ctxt = nullptr;
  Doc* doc = nullptr;
  Node* container = nullptr;  // stands in for the document node while parsing
  Node* current = nullptr;
  int depth = 0;
  bool preserveWhiteSpace = false;
  std::string pending;  // character data not yet made a text node
  HRESULT failCode = S_OK;
  std::u16string failReason;
  // What libxml2 reported outside the parser's own errors (encoding conversion, input), which it
  // would otherwise print on stderr; the first one explains a failure better than what follows.
  std::u16string inputProblem;
  LONG failLine = 0;
  LONG failCol = 0;

  LONG Line() const { return ctxt->input ? ctxt->input->line : 0; }
  LONG Col() const { return ctxt->input ? ctxt->input->col : 0; }

  void Fail(HRESULT code, std::u16string reason) {
    if (failCode != S_OK) return;
    failCode = code;
    failReason = std::move(reason);
    failLine = Line();
    failCol = Col();
    xmlStopParser(ctxt);
  }

  // A node made for the tree under construction; it is never loose.
  Node* Make(DOMNodeType type) { return new Node(type, doc); }

  void Append(Node* n) {
    n->parent = current;
    n->prev = current->last;
    (current->last ? current->last->next : current->first) = n;
    current->last = n;
  }

  void FlushText() {
    if (pending.empty()) return;
    std::u16string text = U16(pending);
    pending.clear();
    if (!preserveWhiteSpace && IsAllSpace(text)) return;
    Node* t = Make(NODE_TEXT);
    t->value = std::move(text);
    Append(t);
  }
};

Builder* Of(void* ctx) { return static_cast<Builder*>(static_cast<xmlParserCtxtPtr>(ctx)->_private); }

void OnStartElement(void* ctx, const xmlChar* name, const xmlChar** atts) {
  Builder* b = Of(ctx);
  if (b->failCode != S_OK) return;
  b->FlushText();
  if (++b->depth > XML_MAX_ELEMENT_DEPTH) {
    b->Fail(XML_E_TOO_DEEP, u"Elements are nested deeper than " +
                                Utf8ToUtf16(std::to_string(XML_MAX_ELEMENT_DEPTH)) + u" levels.");
    return;
  }
  Node* e = b->Make(NODE_ELEMENT);
  SetName(e, U16(name), {});
  e->line = b->Line();
  e->col = b->Col();
  b->Append(e);
  b->current = e;
  for (int i = 0; atts && atts[i]; i += 2) {
    Node* a = b->Make(NODE_ATTRIBUTE);
    SetName(a, U16(atts[i]), {});
    a->value = U16(atts[i + 1]);
    a->line = e->line;
    a->col = e->col;
    a->parent = e;
    e->attrs.push_back(a);
    if (a->name == u"xmlns" || a->Prefix() == u"xmlns") {
      a->ns.assign(kXmlnsUri);
      if (a->prefixLen && a->value.empty()) {
        b->Fail(XML_E_NOT_WELL_FORMED, u"The namespace prefix '" + std::u16string(a->LocalName()) +
                                           u"' may not be declared empty.");
        return;
      }
    }
  }
  // Unprefixed attributes are in no namespace; elements take the default namespace.
  auto resolve = [&](Node* n, bool isElement) {
    if (!n->prefixLen && !isElement) return true;
    std::u16string_view prefix = n->Prefix();
    if (!LookupNamespace(e, prefix, &n->ns)) {
      b->Fail(XML_E_NOT_WELL_FORMED, u"Reference to undeclared namespace prefix: '" + std::u16string(prefix) + u"'.");
      return false;
    }
    return true;
  };
  if (!resolve(e, true)) return;
  for (Node* a : e->attrs) {
    if (a->IsNamespaceDecl()) continue;
    if (!resolve(a, false)) return;
  }
  // Two attributes that expand to the same namespace and local name are one attribute twice.
  for (std::size_t i = 0; i < e->attrs.size(); ++i) {
    const Node* x = e->attrs[i];
    if (!x->prefixLen || x->IsNamespaceDecl()) continue;
    for (std::size_t j = 0; j < i; ++j) {
      const Node* y = e->attrs[j];
      if (y->prefixLen && !y->IsNamespaceDecl() && y->ns == x->ns && y->LocalName() == x->LocalName()) {
        b->Fail(XML_E_NOT_WELL_FORMED, u"Attribute '" + x->name + u"' duplicates '" + y->name + u"'.");
        return;
      }
    }
  }
}

void OnEndElement(void* ctx, const xmlChar*) {
  Builder* b = Of(ctx);
  if (b->failCode != S_OK) return;
  b->FlushText();
  --b->depth;
  if (b->current != b->container) b->current = b->current->parent;
}

void OnCharacters(void* ctx, const xmlChar* s, int len) {
  Builder* b = Of(ctx);
  if (b->failCode != S_OK || b->current == b->container) return;
  b->pending.append(reinterpret_cast<const char*>(s), static_cast<std::size_t>(len));
}

void OnCData(void* ctx, const xmlChar* s, int len) {
  Builder* b = Of(ctx);
  if (b->failCode != S_OK) return;
  b->FlushText();
  Node* n = b->Make(NODE_CDATA_SECTION);
  n->value = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(s), static_cast<std::size_t>(len)));
  b->Append(n);
}

void OnComment(void* ctx, const xmlChar* s) {
  Builder* b = Of(ctx);
  if (b->failCode != S_OK) return;
  b->FlushText();
  Node* n = b->Make(NODE_COMMENT);
  n->value = U16(s);
  b->Append(n);
}

void OnProcessingInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
  Builder* b = Of(ctx);
  if (b->failCode != S_OK) return;
  b->FlushText();
  Node* n = b->Make(NODE_PROCESSING_INSTRUCTION);
  SetName(n, U16(target), {});
  n->prefixLen = 0;
  n->value = U16(data);
  b->Append(n);
}

void OnDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  Of(ctx)->Fail(XML_E_DTD_PROHIBITED, u"DTD is prohibited.");
}

// An entity reference can only be one of the predefined five here (no DTD is allowed), which
// libxml2 resolves itself; anything else is reported as undeclared.
xmlEntityPtr OnGetEntity(void*, const xmlChar* name) { return xmlGetPredefinedEntity(name); }

void Silent(void*, const char*, ...) {}

// Takes libxml2's reports while a document is parsed, so that none reaches stderr: errors of the
// encoding conversion and of the input become the reason of the parse error.
void OnLibxmlError(void* data, xmlErrorPtr error) {
  auto* b = static_cast<Builder*>(data);
  if (!b || !error || !b->inputProblem.empty()) return;
  if (error->domain != XML_FROM_I18N && error->domain != XML_FROM_IO) return;
  b->inputProblem = u"The text does not match its encoding";
  if (error->message) {
    std::u16string message = Utf8ToUtf16(error->message);
    while (!message.empty() && IsXmlSpace(message.back())) message.pop_back();
    b->inputProblem += u": " + message;
  }
  b->inputProblem += u".";
}

// Routes libxml2's thread-wide error reports to OnLibxmlError for the scope (and back after).
class ErrorRoute {
 public:
  explicit ErrorRoute(Builder* b)
      : m_structured(xmlStructuredError),
        m_structuredContext(xmlStructuredErrorContext),
        m_generic(xmlGenericError),
        m_genericContext(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(b, OnLibxmlError);
    xmlSetGenericErrorFunc(nullptr, Silent);
  }
  ~ErrorRoute() {
    xmlSetStructuredErrorFunc(m_structuredContext, m_structured);
    xmlSetGenericErrorFunc(m_genericContext, m_generic);
  }
  ErrorRoute(const ErrorRoute&) = delete;
  ErrorRoute& operator=(const ErrorRoute&) = delete;

 private:
  xmlStructuredErrorFunc m_structured;
  void* m_structuredContext;
  xmlGenericErrorFunc m_generic;
  void* m_genericContext;
};

// The XML declaration as the DOM keeps it: a processing instruction "xml" with the text
// between "<?xml" and "?>".
Node* DeclarationNode(Doc* doc, xmlParserCtxtPtr ctxt, std::string_view text) {
  if (ctxt->standalone == -1) return nullptr;  // no declaration
  std::string data;
  std::string_view t = text;
  if (t.substr(0, 3) == "\xEF\xBB\xBF") t.remove_prefix(3);
  if (t.substr(0, 5) == "<?xml") {
    auto end = t.find("?>");
    if (end != std::string_view::npos) data.assign(t.substr(5, end - 5));
    std::size_t b = 0, e = data.size();
    while (b < e && IsXmlSpace(static_cast<char16_t>(data[b]))) ++b;
    while (e > b && IsXmlSpace(static_cast<char16_t>(data[e - 1]))) --e;
    data = data.substr(b, e - b);
  } else {
    data = std::string("version=\"") + (ctxt->version ? reinterpret_cast<const char*>(ctxt->version) : "1.0") + "\"";
    if (ctxt->encoding) data += std::string(" encoding=\"") + reinterpret_cast<const char*>(ctxt->encoding) + "\"";
    if (ctxt->standalone == 1) data += " standalone=\"yes\"";
    if (ctxt->standalone == 0) data += " standalone=\"no\"";
  }
  Node* n = NewNode(doc, NODE_PROCESSING_INSTRUCTION);
  n->name = u"xml";
  n->value = Utf8ToUtf16(data);
  return n;
}

std::u16string LibxmlReason(const xmlError* e) {
  if (!e || !e->message) return u"The document is not well-formed.";
  std::u16string r = Utf8ToUtf16(e->message);
  while (!r.empty() && IsXmlSpace(r.back())) r.pop_back();
  return r;
}

}  // namespace

std::string TextToUtf8(std::u16string_view text) {
  std::string out(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0x80) return Utf16ToUtf8(text);
    out[i] = static_cast<char>(text[i]);
  }
  return out;
}

void SetError(ParseErrorInfo* error, HRESULT code, std::u16string reason, LONG line, LONG linepos,
              std::string_view text) {
  error->code = code;
  error->reason = std::move(reason);
  error->line = line;
  error->linepos = linepos;
  error->filepos = 0;
  error->srcText.clear();
  if (line <= 0) return;
  std::size_t start = 0;
  for (LONG l = 1; l < line; ++l) {
    auto nl = text.find('\n', start);
    if (nl == std::string_view::npos) return;
    start = nl + 1;
  }
  auto end = text.find('\n', start);
  std::string_view src = text.substr(start, end == std::string_view::npos ? text.size() - start : end - start);
  if (!src.empty() && src.back() == '\r') src.remove_suffix(1);
  error->srcText = Utf8ToUtf16(src);
  error->filepos = static_cast<LONG>(start) + (linepos > 0 ? linepos - 1 : 0);
}

HRESULT LoadDocument(Doc* doc, std::string_view text, TextSource source) {
  ClearDocument(doc);
  doc->error = ParseErrorInfo{};
  doc->error.url = doc->url;

  Builder b;
  b.doc = doc;
  b.preserveWhiteSpace = doc->preserveWhiteSpace;
  b.container = NewNode(doc, NODE_DOCUMENT_FRAGMENT);
  b.current = b.container;

  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = 1;  // SAX1: attributes in document order, namespaces left to us
  sax.startElement = OnStartElement;
  sax.endElement = OnEndElement;
  sax.characters = OnCharacters;
  sax.ignorableWhitespace = OnCharacters;
  sax.cdataBlock = OnCData;
  sax.comment = OnComment;
  sax.processingInstruction = OnProcessingInstruction;
  sax.internalSubset = OnDoctype;
  sax.getEntity = OnGetEntity;
  sax.warning = Silent;
  sax.error = Silent;
  sax.fatalError = Silent;

  HRESULT hr = S_OK;
  xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
  if (!ctxt) {
    FreeSubtree(b.container);
    doc->loose.erase(b.container);
    SetError(&doc->error, E_OUTOFMEMORY, u"Out of memory.", 0, 0, {});
    return E_OUTOFMEMORY;
  }
  int options = XML_PARSE_NONET | XML_PARSE_NOENT;
  if (source == TextSource::Utf16) options |= XML_PARSE_IGNORE_ENC;
  xmlCtxtUseOptions(ctxt, options);
  ctxt->_private = &b;
  ctxt->userData = ctxt;
  b.ctxt = ctxt;

  // The push parser takes the size as an int; anything larger is refused rather than cut.
  if (text.size() > static_cast<std::size_t>(INT32_MAX) / 2) {
    b.Fail(XML_E_NOT_WELL_FORMED, u"The document is too large.");
  } else {
    const ErrorRoute route(&b);
    int rc = xmlParseChunk(ctxt, text.data(), static_cast<int>(text.size()), 1);
    if (b.failCode == S_OK && (rc != 0 || !ctxt->wellFormed)) {
      const xmlError* e = xmlCtxtGetLastError(ctxt);
      b.failCode = XML_E_NOT_WELL_FORMED;
      b.failReason = b.inputProblem.empty() ? LibxmlReason(e) : b.inputProblem;
      b.failLine = e ? e->line : 0;
      b.failCol = e ? e->int2 : 0;
    }
  }

  if (b.failCode != S_OK) {
    SetError(&doc->error, b.failCode, std::move(b.failReason), b.failLine, b.failCol, text);
    hr = S_FALSE;
  } else {
    b.FlushText();
    if (Node* decl = DeclarationNode(doc, ctxt, text)) InsertChild(&doc->root, decl, nullptr);
    while (Node* c = b.container->first) InsertChild(&doc->root, c, nullptr);
  }
  xmlFreeParserCtxt(ctxt);
  doc->loose.erase(b.container);
  FreeSubtree(b.container);
  if (hr != S_OK) return hr;

  if (doc->schemas && doc->validateOnParse) {
    hr = ValidateDocument(doc, doc->schemas.Get(), &doc->error, text);
    if (hr != S_OK) {
      ClearDocument(doc);
      return S_FALSE;
    }
  }
  return S_OK;
}

}  // namespace vkr::xml
