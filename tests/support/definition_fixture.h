// A parameter handler carried by a small test object, with a site that keeps the error reports:
// what the definition helpers and the device table need around them.
#pragma once

#include <string>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "platform/platform.h"

namespace vkr::test {

// The DTM side: only the error report matters to definitions; the neighbours are absent.
class DefinitionSite : public IovFdtParameterHandlerSite {
 public:
  std::vector<std::string> errors;

  EDtmState GetDtmState() override { return dsCREATED; }
  LCID GetLanguage() override { return 1033; }
  IovFdtParameterCommunication* GetCommunicationClient() override { return nullptr; }
  IovFdtParameterDtmEvents* GetDtmEvents() override { return nullptr; }
  IovFdtParameterBroadcast* GetActiveXContainer() override { return nullptr; }
  IovFDTParamList* GetParamList() override { return nullptr; }
  HRESULT SendVariableEvent(LPCSTR, VARIANT, VARIANT) override { return S_OK; }
  HRESULT DelaySaveRequest(BOOL) override { return S_OK; }
  HRESULT SetDataSetModified(BOOL) override { return S_OK; }
  void OnError(LPCSTR text) override { errors.emplace_back(text ? text : ""); }
};

// The handler as the DTM object carries it. The object lives on the stack, so its references are
// only counted. The TypeInformation step can be scripted.
class DefinitionHandler : public CovFDT_ParameterHandlerImpl {
 public:
  explicit DefinitionHandler(IovFdtParameterHandlerSite* site) : CovFDT_ParameterHandlerImpl(site) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override { return QueryHandlerInterface(riid, ppv); }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override { return --m_refs; }

  // When set, InitValuesFromTypeInformation answers this result and value and records its input.
  bool scriptTypeInformation = false;
  HRESULT typeInformationResult = S_FALSE;
  vkr::Variant typeInformationValue;
  std::vector<std::u16string> typeInformationTexts;

  HRESULT InitValuesFromTypeInformation(VARIANT value, BSTR typeInformation, VARIANT* result) override {
    if (!scriptTypeInformation) return CovFDT_ParameterHandlerImpl::InitValuesFromTypeInformation(value, typeInformation, result);
    typeInformationTexts.emplace_back(typeInformation ? typeInformation : u"");
    if (typeInformationResult == S_OK) VariantCopy(result, &typeInformationValue);
    return typeInformationResult;
  }

  using CovFDT_ParameterHandlerImpl::Collection;

 private:
  ULONG m_refs = 1;
};

// The bytes of a VT_ARRAY|VT_UI1 value; {0xFFFF} marks a value of another type.
inline std::vector<int> Bytes(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1) || !v.parray) return {0xFFFF};
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(v.parray, 1, &lo);
  SafeArrayGetUBound(v.parray, 1, &hi);
  std::vector<int> out;
  for (LONG i = lo; i <= hi; ++i) {
    BYTE b = 0;
    SafeArrayGetElement(v.parray, &i, &b);
    out.push_back(b);
  }
  return out;
}

inline std::string Text(BSTR b) { return vkr::Utf16ToUtf8(std::u16string_view(b ? b : u"", SysStringLen(b))); }

// The text of a VT_BSTR value; "<vt N>" for a value of another type.
inline std::string Text(const VARIANT& v) {
  if (v.vt != VT_BSTR) return "<vt " + std::to_string(v.vt) + ">";
  return Text(v.bstrVal);
}

}  // namespace vkr::test
