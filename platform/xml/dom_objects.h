// The COM side of the DOM: wrapping tree nodes in node objects, and finding the node behind one.
#pragma once

#include "platform/xml/dom_tree.h"

namespace vkr::xml {

// The methods of IDispatch for classes that offer no type information.
#define VKR_XML_NO_DISPATCH                                                                       \
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {                                             \
    if (pctinfo) *pctinfo = 0;                                                                    \
    return E_NOTIMPL;                                                                             \
  }                                                                                               \
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {                                \
    if (ppTInfo) *ppTInfo = nullptr;                                                              \
    return E_NOTIMPL;                                                                             \
  }                                                                                               \
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }   \
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return E_NOTIMPL;                                                                             \
  }

// The node object for n (the existing one, or a new one), as riid. A null n gives S_FALSE with
// *ppv null.
HRESULT WrapNode(Node* n, REFIID riid, void** ppv);

// The tree node behind a node object of this platform, or null for anything else.
Node* NodeOf(IUnknown* p);

// A new, empty document object.
HRESULT CreateDocument(IUnknown* outer, REFIID riid, void** ppv);

}  // namespace vkr::xml
