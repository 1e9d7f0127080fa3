// IDispatch for test fakes that are only called through their own interfaces: no type information,
// no names, no late-bound calls. VKR_TEST_DISPATCH answers a count of no type information;
// VKR_NO_DISPATCH fails every call.
#pragma once

#include "platform/platform.h"

#define VKR_TEST_DISPATCH                                                                         \
  HRESULT GetTypeInfoCount(UINT* n) override {                                                   \
    if (n) *n = 0;                                                                                \
    return S_OK;                                                                                  \
  }                                                                                               \
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }                    \
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }   \
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return E_NOTIMPL;                                                                             \
  }

#define VKR_NO_DISPATCH                                                                       \
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }                              \
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }                 \
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; } \
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
