// The alternative parameter lists: copying a list and its child lists for the DTM's dialogs.
#include "parameters/AlternativeParameterLists.h"

#include <string>
#include <string_view>

#include "parameters/CFdtVariant.h"
#include "xml/Log.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr std::u16string_view kCopySuffix = u"_COPY";
constexpr std::u16string_view kDialogCopy = u"_DIALOG_COPY";

std::u16string TextOf(const VARIANT& text) {
  return std::u16string(vkr::View(text.bstrVal).substr(0, SysStringLen(text.bstrVal)));
}

// A VT_BSTR VARIANT holding text.
HRESULT MakeText(std::u16string_view text, vkr::Variant* out) {
  BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!b) return E_OUTOFMEMORY;
  out->Clear();
  out->vt = VT_BSTR;
  out->bstrVal = b;
  return S_OK;
}

// A VARIANT array of the given names.
HRESULT MakeNames(std::initializer_list<const char16_t*> names, vkr::Variant* out) {
  vkr::SafeArrayHolder psa(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(names.size())));
  if (!psa.Get()) return E_OUTOFMEMORY;
  LONG i = 0;
  for (const char16_t* name : names) {
    vkr::Variant v;
    HRESULT hr = MakeText(name, &v);
    if (SUCCEEDED(hr)) hr = SafeArrayPutElement(psa.Get(), &i, &v);
    if (FAILED(hr)) return hr;
    ++i;
  }
  out->Clear();
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = psa.Detach();
  return S_OK;
}

// Element i of a VARIANT array as text; false when it is missing, empty or not convertible.
bool ElementText(const VARIANT& array, LONG i, std::u16string* text) {
  if (array.vt != (VT_ARRAY | VT_VARIANT) || !array.parray) return false;
  LONG lb = 0;
  if (FAILED(SafeArrayGetLBound(array.parray, 1, &lb))) return false;
  LONG index = lb + i;
  vkr::Variant element, converted;
  if (FAILED(SafeArrayGetElement(array.parray, &index, element.Put())) || element.vt == VT_EMPTY) return false;
  if (FAILED(ChangeVariantType(&converted, &element, VT_BSTR)) || converted.vt != VT_BSTR) return false;
  *text = TextOf(converted);
  return true;
}

// The name of the DTM's device type; false when the text does not load.
bool DeviceTypeName(BSTR deviceTypeText, std::u16string* name) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(deviceTypeText, document.Put(), &loaded)) || !document || !loaded) return false;
  vkr::Bstr path(u"fdt:DtmDeviceType/fdt:VersionInformation/@name"), found;
  name->clear();
  if (path.Get() && SUCCEEDED(GetXmlValueBstr(found.Put(), document.Get(), path.Get())))
    name->assign(vkr::View(found.Get()).substr(0, found.Length()));
  return true;
}

}  // namespace

HRESULT CopyAlternativeParamList(IovFDTParamList* lists, BSTR deviceTypeText, VARIANT source, VARIANT parent,
                                 VARIANT target, const AlternativeParamListRecursion& recurse) {
  WriteLog(u"CovFDT_BaseDTMImpl::InitAlternativeParamLists()");
  if (!lists) return E_POINTER;
  vkr::Variant sourceText, targetText;
  HRESULT hr = ChangeVariantType(&sourceText, &source, VT_BSTR);
  if (SUCCEEDED(hr)) hr = ChangeVariantType(&targetText, &target, VT_BSTR);
  if (FAILED(hr)) return hr;
  if (sourceText.vt != VT_BSTR || targetText.vt != VT_BSTR) return E_FAIL;
  vkr::Variant copyKey;
  hr = MakeText(TextOf(sourceText) + std::u16string(kCopySuffix), &copyKey);
  if (FAILED(hr)) return hr;

  // Which device type the list belongs to.
  vkr::Variant names, values;
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = MakeNames({u"type", u"devicetype"}, &names);
  if (FAILED(hr)) return hr;
  lists->GetProperties(sourceText, names, &values, &done);
  std::u16string type, listDeviceType;
  const bool isBase = ElementText(values, 0, &type) && type == u"base";
  ElementText(values, 1, &listDeviceType);

  std::u16string dtmDeviceType;
  if (!DeviceTypeName(deviceTypeText, &dtmDeviceType)) return S_FALSE;
  const bool forDialog = TextOf(targetText).find(kDialogCopy) != std::u16string::npos;
  if (!forDialog && listDeviceType != dtmDeviceType && !isBase) return S_OK;

  // The copy, with the source's descriptive properties and its members.
  hr = MakeNames({u"name", u"path", u"treegroup_id"}, &names);
  if (FAILED(hr)) return hr;
  values.Clear();
  lists->GetProperties(sourceText, names, &values, &done);
  VARIANT_BOOL created = VARIANT_FALSE;
  lists->CreateList(copyKey, parent, names, values, &created);
  if (created) {
    vkr::Variant members;
    lists->GetMembers(sourceText, &members, &done);
    if (members.vt != VT_EMPTY) lists->AddMembers(copyKey, members, &done);
  }

  vkr::Variant children;
  hr = lists->GetChildLists(sourceText, &children, &done);
  if (FAILED(hr)) return hr;
  if (children.vt != (VT_ARRAY | VT_VARIANT) || !children.parray) return S_OK;
  LONG lb = 0, ub = -1;
  hr = SafeArrayGetLBound(children.parray, 1, &lb);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(children.parray, 1, &ub);
  if (FAILED(hr)) return hr;
  for (LONG i = lb; i <= ub; ++i) {
    vkr::Variant child, childText, childTarget;
    hr = SafeArrayGetElement(children.parray, &i, child.Put());
    if (SUCCEEDED(hr)) hr = ChangeVariantType(&childText, &child, VT_BSTR);
    if (SUCCEEDED(hr) && childText.vt != VT_BSTR) hr = E_FAIL;
    if (SUCCEEDED(hr)) hr = MakeText(TextOf(childText) + std::u16string(kCopySuffix), &childTarget);
    if (FAILED(hr)) return hr;
    if (recurse)
      recurse(childText, copyKey, childTarget);
    else
      CopyAlternativeParamList(lists, deviceTypeText, childText, copyKey, childTarget, recurse);
  }
  return S_OK;
}
