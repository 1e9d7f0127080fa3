// The frame's reading and editing of the DTM's parameter document, on the DOM with the frame's
// schema set: the document is checked before anything is read from it, and edited values are
// escaped by the DOM when it writes the document out again.
#include "frame/ParameterDocument.h"

#include "frame/FrameContainer.h"
#include "frame/Quiet.h"

namespace vkr::frame {
namespace {

constexpr char16_t kVariablesPath[] = u"FDT/DtmDevice/ExportedVariables//fdt:DtmVariable";
constexpr char16_t kTagPath[] = u"FDT/DtmDevice/@fdt:tag";
constexpr char16_t kBusAddressPath[] = u"FDT/DtmDevice/BusInformation/SlaveAddress/@slaveAddress";

ComPtr<IXMLDOMNode> Select(IXMLDOMNode* node, const char16_t* path) {
  ComPtr<IXMLDOMNode> found;
  Bstr query(path);
  if (FAILED(node->selectSingleNode(query, found.Put()))) found = nullptr;
  return found;
}

// The text of the node at the path; empty when there is none.
std::string TextAt(IXMLDOMNode* node, const char16_t* path) {
  ComPtr<IXMLDOMNode> found = Select(node, path);
  Bstr text;
  if (!found || FAILED(found->get_text(text.Put()))) return "";
  return Utf16ToUtf8(text.View());
}

bool PutTextAt(IXMLDOMNode* node, const char16_t* path, const std::string& value) {
  ComPtr<IXMLDOMNode> found = Select(node, path);
  Bstr text(Utf8ToUtf16(value));
  return found && SUCCEEDED(found->put_text(text));
}

HRESULT Load(const std::string& text, ComPtr<IXMLDOMDocument2>* document, std::string* why) {
  ComPtr<IXMLDOMSchemaCollection> schemas;
  HRESULT hr = CreateFrameSchemaCache(&schemas);
  if (FAILED(hr)) return hr;
  Bstr xml(Utf8ToUtf16(text));
  std::string reason;
  hr = LoadWithSchemaCache(xml, schemas.Get(), document, &reason);
  if (hr == S_FALSE) *why = "the DTM's parameter document is not valid: " + reason;
  return hr;
}

std::vector<ComPtr<IXMLDOMNode>> Variables(IXMLDOMDocument2* document) {
  std::vector<ComPtr<IXMLDOMNode>> out;
  ComPtr<IXMLDOMNodeList> nodes;
  Bstr query(kVariablesPath);
  LONG count = 0;
  if (FAILED(document->selectNodes(query, nodes.Put())) || !nodes || FAILED(nodes->get_length(&count))) return out;
  for (LONG i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> node;
    if (SUCCEEDED(nodes->get_item(i, node.Put())) && node) out.push_back(node);
  }
  return out;
}

}  // namespace

const DocumentParameter* ParameterDocument::Find(const std::string& name, bool* ambiguous) const {
  if (ambiguous) *ambiguous = false;
  for (const DocumentParameter& p : parameters)
    if (p.name == name) return &p;
  const DocumentParameter* found = nullptr;
  for (const DocumentParameter& p : parameters) {
    if (p.descriptor != name) continue;
    if (found) {
      if (ambiguous) *ambiguous = true;
      return nullptr;
    }
    found = &p;
  }
  return found;
}

HRESULT GetParameterDocument(IUnknown* dtm, ParameterDocument* out, std::string* why) {
  ComPtr<IDtmParameter> parameters;
  if (!dtm || FAILED(dtm->QueryInterface(IDtmParameter::iid, parameters.PutVoid())) || !parameters) {
    *why = "the DTM offers no parameter interface";
    return S_FALSE;
  }
  Bstr text;
  HRESULT hr = parameters->GetParameters(nullptr, text.Put());
  if (FAILED(hr)) return hr;
  if (hr != S_OK || text.Empty()) {
    *why = "the DTM gave no parameter document";
    return S_FALSE;
  }
  out->text = Utf16ToUtf8(text.View());
  ComPtr<IXMLDOMDocument2> document;
  hr = Load(out->text, &document, why);
  if (hr != S_OK) return hr;
  out->dataSetState = TextAt(document.Get(), u"FDT/@fdt:dataSetState");
  out->busAddress = TextAt(document.Get(), kBusAddressPath);
  out->parameters.clear();
  out->parameters.push_back({kTagName, "", TextAt(document.Get(), kTagPath), "", true});
  for (const ComPtr<IXMLDOMNode>& variable : Variables(document.Get())) {
    DocumentParameter p;
    p.name = TextAt(variable.Get(), u"@name");
    p.descriptor = TextAt(variable.Get(), u"@descriptor");
    p.value = TextAt(variable.Get(), u"fdt:Value/fdt:Display/@string");
    p.writable = TextAt(variable.Get(), u"fdt:Value/@writeAccess") == "1";
    out->parameters.push_back(std::move(p));
  }
  return S_OK;
}

bool SetDocumentValue(std::string* text, const std::string& name, const std::string& value, std::string* why) {
  ComPtr<IXMLDOMDocument2> document;
  if (Load(*text, &document, why) != S_OK) {
    if (why->empty()) *why = "the DTM's parameter document does not load";
    return false;
  }
  // Which parameter the name means, by the document as it stands.
  ParameterDocument index;
  index.parameters.push_back({kTagName, "", "", "", true});
  const std::vector<ComPtr<IXMLDOMNode>> variables = Variables(document.Get());
  for (const ComPtr<IXMLDOMNode>& variable : variables)
    index.parameters.push_back(
        {TextAt(variable.Get(), u"@name"), TextAt(variable.Get(), u"@descriptor"), "", "", true});
  bool ambiguous = false;
  const DocumentParameter* meant = index.Find(name, &ambiguous);
  if (!meant) {
    *why = ambiguous ? "more than one parameter of the DTM's parameter document is called " + name + "; give its name"
                     : "there is no parameter " + name + " in the DTM's parameter document";
    if (!ambiguous && variables.empty()) *why += " (the DTM exports no parameter there but the tag)";
    return false;
  }
  bool set = false;
  if (meant == &index.parameters.front()) {
    set = PutTextAt(document.Get(), kTagPath, value);
    if (!set) *why = "the DTM's parameter document has no tag";
  } else {
    IXMLDOMNode* variable = variables[static_cast<std::size_t>(meant - &index.parameters.front()) - 1].Get();
    if (TextAt(variable, u"fdt:Value/@writeAccess") != "1") {
      *why = "the DTM offers " + name + " for reading only";
      return false;
    }
    // The variant carries the value when there is one; the display text always follows it.
    bool variant = false;
    for (const char16_t* path : {u"fdt:Value/fdt:Variant/fdt:NumberData/@number",
                                 u"fdt:Value/fdt:Variant/fdt:StringData/@string",
                                 u"fdt:Value/fdt:Variant/fdt:TimeData/@time"})
      variant = variant || PutTextAt(variable, path, value);
    const bool display = PutTextAt(variable, u"fdt:Value/fdt:Display/@string", value);
    set = variant || display;
    if (!set) *why = "the DTM's parameter document holds no value of " + name;
  }
  if (!set) return false;
  Bstr xml;
  if (FAILED(document->get_xml(xml.Put()))) {
    *why = "the edited parameter document cannot be written";
    return false;
  }
  *text = Utf16ToUtf8(xml.View());
  return true;
}

namespace {
// Hands the edited document back to the DTM (SetParameters); a refusal's reason is the DTM's
// message to the frame.
HRESULT GiveDocument(TransferSession& session, const std::string& document, std::string* why) {
  ComPtr<IDtmParameter> parameters;
  session.Dtm()->QueryInterface(IDtmParameter::iid, parameters.PutVoid());
  if (!parameters) {
    *why = "the DTM offers no parameter interface";
    return S_FALSE;
  }
  const std::size_t seen = session.Frame()->notifications.size();
  VARIANT_BOOL done = VARIANT_FALSE;
  Bstr text(Utf8ToUtf16(document));
  HRESULT hr = parameters->SetParameters(nullptr, text, &done);
  if (FAILED(hr)) return hr;
  if (hr == S_OK && done) return S_OK;
  // The DTM says why in an error message to the frame, which a worker brings a moment later.
  *why = "the DTM refused the values";
  WaitUntilQuiet();
  const auto& notes = session.Frame()->notifications;
  for (std::size_t i = seen; i < notes.size(); ++i)
    if (notes[i].rfind("error ", 0) == 0) {
      *why = notes[i].substr(notes[i].find(": ") + 2);
      return S_FALSE;
    }
  return S_FALSE;
}
}  // namespace

HRESULT SetBusAddress(TransferSession& session, unsigned address, std::string* why) {
  ParameterDocument document;
  HRESULT hr = GetParameterDocument(session.Dtm(), &document, why);
  if (hr != S_OK) return hr;
  ComPtr<IXMLDOMDocument2> dom;
  if ((hr = Load(document.text, &dom, why)) != S_OK) return hr;
  Bstr xml;
  if (!PutTextAt(dom.Get(), kBusAddressPath, std::to_string(address)) || FAILED(dom->get_xml(xml.Put()))) {
    *why = "the DTM's parameter document holds no bus address";
    return S_FALSE;
  }
  return GiveDocument(session, Utf16ToUtf8(xml.View()), why);
}

HRESULT SetDocumentParameters(TransferSession& session, const std::vector<std::pair<std::string, std::string>>& values,
                              std::string* why) {
  ParameterDocument document;
  HRESULT hr = GetParameterDocument(session.Dtm(), &document, why);
  if (hr != S_OK) return hr;
  for (const auto& [name, value] : values)
    if (!SetDocumentValue(&document.text, name, value, why)) return S_FALSE;
  return GiveDocument(session, document.text, why);
}

}  // namespace vkr::frame
