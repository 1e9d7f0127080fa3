// Helpers for the DOM tests: creating documents and schema caches, loading text, reading back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace vkr::xmltest {

using vkr::Bstr;
using vkr::ComPtr;

class ComScope {
 public:
  ComScope() { CoInitialize(nullptr); }
  ~ComScope() { CoUninitialize(); }
};

inline ComPtr<IXMLDOMDocument2> NewDocument() {
  ComPtr<IXMLDOMDocument2> doc;
  EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2, doc.PutVoid()), S_OK);
  return doc;
}

inline ComPtr<IXMLDOMSchemaCollection> NewCache() {
  ComPtr<IXMLDOMSchemaCollection> cache;
  EXPECT_EQ(CoCreateInstance(CLSID_XMLSchemaCache, nullptr, CLSCTX_ALL, IID_IXMLDOMSchemaCollection, cache.PutVoid()),
            S_OK);
  return cache;
}

inline std::u16string U(std::string_view s) { return vkr::Utf8ToUtf16(s); }
inline std::string N(std::u16string_view s) { return vkr::Utf16ToUtf8(s); }

// Loads text; returns whether it loaded.
inline bool Load(IXMLDOMDocument2* doc, std::string_view text, HRESULT* hr = nullptr) {
  VARIANT_BOOL ok = VARIANT_FALSE;
  HRESULT r = doc->loadXML(Bstr(U(text)), &ok);
  if (hr) *hr = r;
  EXPECT_EQ(r, ok ? S_OK : S_FALSE);
  return ok == VARIANT_TRUE;
}

struct ErrorInfo {
  LONG code = 0;
  LONG line = 0;
  LONG linepos = 0;
  std::string reason;
  std::string srcText;
};

inline ErrorInfo ParseErrorOf(IXMLDOMDocument* doc) {
  ErrorInfo e;
  ComPtr<IXMLDOMParseError> pe;
  EXPECT_EQ(doc->get_parseError(pe.Put()), S_OK);
  pe->get_errorCode(&e.code);
  pe->get_line(&e.line);
  pe->get_linepos(&e.linepos);
  Bstr r, s;
  pe->get_reason(r.Put());
  pe->get_srcText(s.Put());
  e.reason = N(r.View());
  e.srcText = N(s.View());
  return e;
}

inline std::string Xml(IXMLDOMNode* n) {
  Bstr s;
  EXPECT_EQ(n->get_xml(s.Put()), S_OK);
  return N(s.View());
}

inline std::string Text(IXMLDOMNode* n) {
  Bstr s;
  EXPECT_EQ(n->get_text(s.Put()), S_OK);
  return N(s.View());
}

inline std::string Name(IXMLDOMNode* n) {
  Bstr s;
  EXPECT_EQ(n->get_nodeName(s.Put()), S_OK);
  return N(s.View());
}

inline ComPtr<IXMLDOMNode> Select1(IXMLDOMNode* n, std::string_view path) {
  ComPtr<IXMLDOMNode> r;
  n->selectSingleNode(Bstr(U(path)), r.Put());
  return r;
}

// The selected nodes, each as name=value (attributes, text) or its name (elements).
inline std::vector<std::string> SelectAll(IXMLDOMNode* n, std::string_view path, HRESULT* hr = nullptr) {
  std::vector<std::string> out;
  ComPtr<IXMLDOMNodeList> list;
  HRESULT r = n->selectNodes(Bstr(U(path)), list.Put());
  if (hr) *hr = r;
  if (FAILED(r)) return out;
  LONG len = 0;
  list->get_length(&len);
  for (LONG i = 0; i < len; ++i) {
    ComPtr<IXMLDOMNode> item;
    list->get_item(i, item.Put());
    DOMNodeType t;
    item->get_nodeType(&t);
    if (t == NODE_ELEMENT) out.push_back(Name(item.Get()));
    else out.push_back(Name(item.Get()) + "=" + Text(item.Get()));
  }
  return out;
}

// A temporary directory removed with the object.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vkr_xml_XXXXXX";
    m_path = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(m_path); }
  std::string Write(const std::string& name, std::string_view text) const {
    std::string p = m_path + "/" + name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

inline HRESULT AddSchema(IXMLDOMSchemaCollection* cache, std::string_view ns, const std::string& path) {
  Variant loc;
  loc.vt = VT_BSTR;
  loc.bstrVal = SysAllocString(U(path).c_str());
  return cache->add(Bstr(U(ns)), loc);
}

inline void Attach(IXMLDOMDocument2* doc, IXMLDOMSchemaCollection* cache) {
  Variant v;
  v.vt = VT_UNKNOWN;
  v.punkVal = cache;
  cache->AddRef();
  EXPECT_EQ(doc->putref_schemas(v), S_OK);
}

}  // namespace vkr::xmltest
