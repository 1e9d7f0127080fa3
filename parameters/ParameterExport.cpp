// CovFDT_ParameterHandlerImpl: the "<PARAMETERS>" text, written for the export interface, the data
// set's export and the parameter-changed document. ImportParameterValues reads it back.
//
// The text is assembled piece by piece rather than through one format call, so a long value (a
// byte string, a long text) is never cut by a formatter's size limit; the result is character for
// character what the two templates give.
#include <string>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "xml/Conversions.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr const char16_t* kWrapperOpen = u"<PARAMETERS> \r\n";
constexpr const char16_t* kWrapperClose = u"</PARAMETERS> \r\n";
// The element template's pieces around its five placeholders.
constexpr const char16_t* kElementId = u"<Parameter \r\n\tid    =\"";
constexpr const char16_t* kElementStrId = u"\" \r\n\tstr_id=\"";
constexpr const char16_t* kElementName = u"\" \r\n\tname  =\"";
constexpr const char16_t* kElementType = u"\" \r\n\ttype  =\"";
constexpr const char16_t* kElementValue = u"\" \r\n\tvalue =\"";
constexpr const char16_t* kElementClose = u"\" \r\n/> \r\n";

HRESULT AppendEscaped(std::u16string* out, BSTR text) {
  vkr::Bstr escaped;
  HRESULT hr = XmlEscapeText(text, escaped.Put());
  if (FAILED(hr)) return hr;
  if (!escaped.Get()) return E_OUTOFMEMORY;
  out->append(escaped.View());
  return S_OK;
}

// One element for the record.
HRESULT AppendParameterElement(std::u16string* out, const ParInfo& record) {
  vkr::Bstr type, value;
  VarTypeToString(record.m_vValue.vt, type.Put());
  if (!type.Get()) return E_OUTOFMEMORY;
  try {
    VariantToText(record.m_vValue.Ptr(), value.Put());
  } catch (const vkr::HResultError& e) {
    return e.Result();
  }
  if (!value.Get()) return E_OUTOFMEMORY;
  std::u16string element(kElementId);
  element += vkr::Utf8ToUtf16(std::to_string(record.m_nId));
  element += kElementStrId;
  HRESULT hr = AppendEscaped(&element, record.m_bstrStrId.Get());
  if (FAILED(hr)) return hr;
  element += kElementName;
  hr = AppendEscaped(&element, record.m_bstrName.Get());
  if (FAILED(hr)) return hr;
  element += kElementType;
  element += type.View();
  element += kElementValue;
  hr = AppendEscaped(&element, value.Get());
  if (FAILED(hr)) return hr;
  element += kElementClose;
  out->append(element);
  return S_OK;
}

}  // namespace

HRESULT CovFDT_ParameterHandlerImpl::ExportParameters(BSTR* text) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ExportParameters()");
  return ExportParametersXml(nullptr, FALSE, TRUE, text);
}

HRESULT CovFDT_ParameterHandlerImpl::ExportParametersXml(BSTR progressText, BOOL persistedOnly, BOOL exportFlagOnly,
                                                         BSTR* text) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ExportParametersXml()");
  if (!text) return E_POINTER;
  ResetProgressThreshold();
  ULONG count = 0;
  HRESULT hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  std::u16string list;
  try {
    for (ULONG i = 0; i < count; ++i) {
      ParInfo record;
      hr = GetParInfoAt(static_cast<LONG>(i), &record);
      if (FAILED(hr)) return hr;
      if (progressText) UpdateProgress(i, count, progressText);
      if (persistedOnly && record.m_bPersist == 0) continue;
      if (exportFlagOnly && !(record.m_dwFlags & PFL_EXPORT)) continue;
      hr = AppendParameterElement(&list, record);
      if (FAILED(hr)) return hr;
    }
    if (progressText) {
      vkr::Bstr none(u"");
      UpdateProgress(0, count, none.Get());
    }
    if (!list.empty()) list = kWrapperOpen + list + kWrapperClose;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  BSTR out = SysAllocStringLen(list.data(), static_cast<UINT>(list.size()));
  if (!out) return E_OUTOFMEMORY;
  *text = out;
  return S_OK;
}
