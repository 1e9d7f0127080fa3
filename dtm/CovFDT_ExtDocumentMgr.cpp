// The document and device-picture fragments of the DTM's document list.
#include "dtm/CovFDT_ExtDocumentMgr.h"

#include "xml/Conversions.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr const char16_t* kClassifications[] = {u"help", u"technicalDocumentation", u"orderingInformation",
                                                u"miscellaneous"};
constexpr const char16_t* kGraphicStates[] = {u"deviceGraphicState=\"device\"", u"deviceGraphicState=\"diagnosis\"",
                                              u"deviceGraphicState=\"oem\""};

const char16_t* ClassificationText(LONG classification) {
  if (classification < 1 || classification > 4) return nullptr;
  return kClassifications[classification - 1];
}

const char16_t* GraphicStateText(LONG state) {
  if (state < 1 || state > 3) return u"";
  return kGraphicStates[state - 1];
}

// Whether the record is for every device type or for this one.
bool BelongsTo(const SExtDocument& record, BSTR deviceType) {
  if (record.deviceType.empty()) return true;
  vkr::Bstr filter(record.deviceType);
  return VarBstrCmp(filter, deviceType, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

HRESULT Escaped(const std::u16string& text, vkr::Bstr* out) {
  vkr::Bstr in(text);
  return XmlEscapeText(in, out->Put());
}

// A file name beside the module when it is not found where it says; a URL stays what it is, as
// the frame must open it where it points.
HRESULT ResolvedEscaped(const SExtDocument& record, vkr::Bstr* out) {
  if (record.kind == kDocumentUrl) return Escaped(record.path, out);
  vkr::Bstr resolved;
  resolved.Attach(ResolveFilePath(record.path.c_str(), true));
  if (!resolved.Get()) return E_OUTOFMEMORY;
  return Escaped(resolved.Str(), out);
}

HRESULT Finish(const std::u16string& text, BSTR* list) {
  *list = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *list ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT CovFDT_ExtDocumentMgr::GetDocumentList(BSTR* list, BSTR deviceType) {
  if (!list) return E_POINTER;
  *list = nullptr;
  std::u16string text;
  for (const SExtDocument& record : m_documents) {
    if (record.kind < kDocumentFile || record.kind > kDocumentExe || !BelongsTo(record, deviceType)) continue;
    const char16_t* classification = ClassificationText(record.classification);
    if (!classification) continue;
    vkr::Bstr path, label, help, parameters, inner, fragment;
    HRESULT hr = ResolvedEscaped(record, &path);
    if (SUCCEEDED(hr)) hr = Escaped(record.label, &label);
    if (SUCCEEDED(hr)) hr = Escaped(record.help, &help);
    if (SUCCEEDED(hr)) hr = Escaped(record.parameters, &parameters);
    if (FAILED(hr)) return hr;
    if (record.kind == kDocumentFile)
      hr = BstrFormat(inner.Put(), u"<fdt:DocumentFile file=\"%s\" />", path.Get());
    else if (record.kind == kDocumentUrl)
      hr = BstrFormat(inner.Put(), u"<fdt:DocumentUrl url=\"%s\" />", path.Get());
    else
      hr = BstrFormat(inner.Put(), u"<fdt:DocumentExe file=\"%s\" parameters=\"%s\" />", path.Get(), parameters.Get());
    if (FAILED(hr)) return hr;
    hr = BstrFormat(fragment.Put(),
                    u"<fdt:DtmDocument xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" label=\"%s\" help=\"%s\"  "
                    u"documentClassification=\"%s\" documentLanguageId=\"%d\">\t%s</fdt:DtmDocument>\n",
                    label.Get(), help.Get(), classification, static_cast<int>(record.languageId), inner.Get());
    if (FAILED(hr)) return hr;
    text += fragment.Str();
  }
  return Finish(text, list);
}

HRESULT CovFDT_ExtDocumentMgr::GetDevicePictures(LONG kind, const char16_t* element, BSTR* list, BSTR deviceType) {
  if (!list) return E_POINTER;
  *list = nullptr;
  std::u16string text;
  for (const SExtDocument& record : m_documents) {
    if (record.kind != kind || !BelongsTo(record, deviceType)) continue;
    vkr::Bstr path, fragment;
    HRESULT hr = ResolvedEscaped(record, &path);
    if (FAILED(hr)) return hr;
    hr = BstrFormat(fragment.Put(), u"<fdt:%s xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" %s path=\"%s\" />\n",
                    element, GraphicStateText(record.graphicState), path.Get());
    if (FAILED(hr)) return hr;
    text += fragment.Str();
  }
  return Finish(text, list);
}

HRESULT CovFDT_ExtDocumentMgr::GetDeviceBitmap(BSTR* list, BSTR deviceType) {
  return GetDevicePictures(kDeviceBitmap, u"DeviceBitmap", list, deviceType);
}

HRESULT CovFDT_ExtDocumentMgr::GetDeviceIcon(BSTR* list, BSTR deviceType) {
  return GetDevicePictures(kDeviceIcon, u"DeviceIcon", list, deviceType);
}
