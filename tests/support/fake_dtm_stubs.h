// Generated stubs of the DTM-side interfaces a connection uses: every method answers E_NOTIMPL
// (or false / 0) until a test's fake overrides it.
#pragma once

#include <vector>

#include "tests/support/stub_base_dtm.h"
#include "tests/support/stub_dispatch.h"
#include "include/CommunicationInterfaces.h"
#include "include/DtmInterfaces.h"
#include "include/FdtInterfaces.h"
#include "include/TranslationInterfaces.h"
#include "include/IovFDTParamList.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"

class FakeDtmStubs
    : public vkr::Implements<IovFdtBaseDTM, IovFdtConnectionObjectCallback, IovFdtParameterHandler4, IovFdtDtmEvents,
                             IovFdtTranslation, IovFDTParamList, IovFdtParameterInfo, IovFdtParameterValidation>,
      public IDtm2 {
 public:
  VKR_NO_DISPATCH
  VKR_STUB_BASE_DTM
  HRESULT OnConnectionReleased(BSTR) override { return E_NOTIMPL; }
  HRESULT OnConnected(BSTR, VARIANT_BOOL, VARIANT, BSTR) override { return E_NOTIMPL; }
  HRESULT OnDisconnected(BSTR, VARIANT_BOOL, VARIANT, BSTR) override { return E_NOTIMPL; }
  VKR_STUB_PARAMETER_HANDLER
  HRESULT DtmMessage(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT GetTranslation(BSTR, BSTR*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetLanguageCount(LONG*) override { return E_NOTIMPL; }
  HRESULT GetLanguageId(LONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT SetLanguage(ULONG, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT LoadTranslationXml(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT HasTranslationNode(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT CreateList(VARIANT, VARIANT, VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT DeleteList(VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ListExists(VARIANT, VARIANT_BOOL*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetChildLists(VARIANT, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT AddMembers(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT RemoveMembers(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetMembers(VARIANT, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SetProperties(VARIANT, VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetProperties(VARIANT, VARIANT, VARIANT*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetParameterCount(VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetParameterIdAt(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetParameterField(VARIANT, VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT SetParameterField(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT ValidateParameter(VARIANT, VARIANT, ULONG*) override { return E_NOTIMPL; }
  HRESULT ValidateAndSetParameter(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT Environment2(BSTR, IFdtContainer*, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT SetSystemGuiLabel(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
};
