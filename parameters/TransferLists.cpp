// The upload and download lists of the VKR device.
#include "parameters/TransferLists.h"

namespace {

// Read with commands 3, 12, 13, 1, 2, 15, 135, 137 and 20: whole responses, dynamic values and
// the identification fields.
constexpr ULONG kUploadIds[] = {1031, 1048, 1049, 1050, 1051, 1052, 1054, 1055, 1056,
                                1057, 1058, 1029, 1030, 1033, 1059, 1061, 1097};
// Written with commands 17, 18, 22, 44, 136, 138, 34 and 35: the settings.
constexpr ULONG kDownloadIds[] = {1051, 1053, 1054, 1055, 1056, 1057, 1058, 1097, 1024, 1064,
                                  1066, 1068, 1070, 1071, 1074, 1076, 1078, 1080, 1022, 1023};

// A list name as the service keys it: VT_BSTR, or VT_EMPTY for no name.
HRESULT NameVariant(LPCOLESTR name, vkr::Variant* out) {
  out->Clear();
  if (!name || !*name) return S_OK;
  BSTR text = SysAllocString(name);
  if (!text) return E_OUTOFMEMORY;
  out->vt = VT_BSTR;
  out->bstrVal = text;
  return S_OK;
}

template <std::size_t N>
HRESULT DefineList(IovFDTParamList* service, LPCOLESTR name, const ULONG (&ids)[N]) {
  HRESULT hr = AddParameterList(service, name, nullptr);
  for (std::size_t i = 0; SUCCEEDED(hr) && i < N; ++i) hr = AddParameterListMember(service, name, ids[i]);
  return hr;
}

}  // namespace

HRESULT MakeSingleIdArray(ULONG id, VARIANT* out) {
  if (!out) return E_INVALIDARG;
  VariantClear(out);
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  if (!array) return E_POINTER;
  VARIANT element;
  VariantInit(&element);
  element.vt = VT_UI4;
  element.ulVal = id;
  LONG index = 0;
  const HRESULT hr = SafeArrayPutElement(array, &index, &element);
  if (FAILED(hr)) {
    SafeArrayDestroy(array);
    return hr;
  }
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = array;
  return S_OK;
}

HRESULT AddParameterList(IovFDTParamList* service, LPCOLESTR listName, LPCOLESTR parentListName) {
  if (!service) return E_POINTER;
  vkr::Variant name, parent, none1, none2;
  HRESULT hr = NameVariant(listName, &name);
  if (SUCCEEDED(hr)) hr = NameVariant(parentListName, &parent);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = service->CreateList(name, parent, none1, none2, &done);
  if (FAILED(hr)) return hr;
  return done ? S_OK : E_FAIL;
}

HRESULT AddParameterListMember(IovFDTParamList* service, LPCOLESTR listName, ULONG id) {
  if (!service) return E_POINTER;
  vkr::Variant name, members;
  HRESULT hr = NameVariant(listName, &name);
  if (SUCCEEDED(hr)) hr = MakeSingleIdArray(id, members.Put());
  if (FAILED(hr)) return hr;
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = service->AddMembers(name, members, &done);
  if (FAILED(hr)) return hr;
  return done ? S_OK : E_FAIL;
}

HRESULT InitTransferLists(IovFDTParamList* service) {
  if (!service) return E_POINTER;
  HRESULT hr = DefineList(service, u"UploadList", kUploadIds);
  if (SUCCEEDED(hr)) hr = DefineList(service, u"DownloadList", kDownloadIds);
  return FAILED(hr) ? hr : S_OK;
}
