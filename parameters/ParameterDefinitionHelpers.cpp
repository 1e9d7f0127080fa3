// The parameter handler's definition helpers: one parameter record per call, built from the
// definition's arguments, checked, and added to a collection.
//
// The five helpers differ only in how the address and the four values arrive:
//   AddNumericParameter           address number (-1: none)   four doubles
//   AddAddressedNumericParameter  AddressInformation text     four doubles
//   AddArrayParameter             address number (-1: none)   four texts
//   AddAddressedArrayParameter    AddressInformation text     four texts, value rebuilt from the
//                                                              TypeInformation's initial values
//   AddEnumParameter              address number (-1: none)   default and value as integers
// A definition problem never stops a device's table: a record whose numbers contradict each other
// gets flag 0x04, one whose texts do not convert 0x08, and one whose address does not convert is
// kept without address and reported through the DTM's error report.
#include "parameters/ParameterDefinitionHelpers.h"

#include <algorithm>
#include <cstring>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/VariantArray.h"

namespace {

void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw vkr::HResultError(hr);
}

// An 8-bit (UTF-8) text as a BSTR; null and "" give the null BSTR, which is the empty text.
vkr::Bstr TextToBstr(LPCSTR text) {
  vkr::Bstr out;
  if (!text || !*text) return out;
  // The table's texts are nearly all plain ASCII: widened in place, without a converted copy.
  const std::size_t length = std::strlen(text);
  if (std::all_of(text, text + length, [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    out.Attach(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
    if (!out.Get()) throw vkr::HResultError(E_OUTOFMEMORY);
    std::copy(text, text + length, out.Get());
    return out;
  }
  const std::u16string wide = vkr::Utf8ToUtf16(text);
  out = vkr::Bstr(std::u16string_view(wide));
  if (!out.Get()) throw vkr::HResultError(E_OUTOFMEMORY);
  return out;
}

// A text kept as a VT_BSTR VARIANT (relation, TypeInformation, PrivateProperties); no text (null)
// leaves the VARIANT empty, as a record that has none holds it.
vkr::Variant TextToBstrVariant(LPCSTR text) {
  vkr::Variant out;
  if (!text) return out;
  vkr::Bstr bstr = TextToBstr(text);
  if (!bstr.Get()) {
    // The empty text: an allocated empty BSTR, so the VARIANT says "a text, empty".
    bstr.Attach(SysAllocString(u""));
    if (!bstr.Get()) throw vkr::HResultError(E_OUTOFMEMORY);
  }
  out.vt = VT_BSTR;
  out.bstrVal = bstr.Detach();
  return out;
}

// The C library's text-to-integer reading (blanks, sign, digits; anything else ends the number),
// saturated instead of overflowing.
long long LeadingNumber(LPCSTR text) {
  if (!text) return 0;
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > 0x7FFFFFFF) n = 0x80000000LL;  // beyond any 32-bit count; stays there
  }
  return negative ? -n : n;
}

// A limit text read as an element count. An empty text is no count: the definition's limits then
// do not give the byte string's size (ChangeVariantType alone would read it as 0 and cut every
// value to nothing).
bool TextToElementCount(LPCSTR text, VARIANT* out) {
  if (!text || !*text) {
    VariantClear(out);
    return false;
  }
  return TextToVariant(text, VT_UI4, out);
}

// What the helpers pass through to the record unchanged.
struct PassThrough {
  ULONG flagWord1;
  ULONG flagWord2;
  LPCSTR unit;
  ULONG exportKind;
  LPCSTR description;
  ULONG kind;
  const LPCSTR* enumTexts;
  ULONG further;
  LPCSTR relation;
  ParameterCallback callbacks[6];
  LPCSTR stringId;
  ULONG itemKinds;
  LPCSTR typeInformation;
  LPCSTR privateProperties;
};

// An address number: -1 means "no address" and is not reported; any other number that does not
// convert to VT_UI4 is.
HRESULT NumberAddress(LONG address, vkr::Variant* out) {
  out->Clear();
  if (address == -1) return S_OK;
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = address;
  const HRESULT hr = ChangeVariantType(out, &number, VT_UI4);
  if (FAILED(hr)) out->Clear();
  return hr;
}

HRESULT TextAddress(LPCSTR address, vkr::Variant* out) {
  out->Clear();
  vkr::Variant text = TextToBstrVariant(address ? address : "");
  const HRESULT hr = ChangeVariantType(out, &text, VT_BSTR);
  if (FAILED(hr)) out->Clear();
  return hr;
}

}  // namespace

bool CheckNumericDefinition(VARTYPE vt, double minimum, double maximum, double defaultValue, double value,
                            vkr::Variant out[4]) {
  const double numbers[4] = {minimum, maximum, defaultValue, value};
  bool ok = true;
  for (int i = 0; i < 4; ++i) {
    ok = DoubleToVariant(numbers[i], vt, out[i].Put()) && ok;
    // A NaN compares false with everything and would slip through the range check.
    ok = ok && numbers[i] == numbers[i];
  }
  if (!ok || minimum > maximum) return false;
  if (minimum < maximum) {
    for (double v : {defaultValue, value})
      if (v < minimum || v > maximum) return false;
  }
  return true;
}

bool CheckTextDefinition(VARTYPE vt, LPCSTR minimum, LPCSTR maximum, LPCSTR defaultValue, LPCSTR value,
                         vkr::Variant out[4]) {
  const LPCSTR texts[4] = {minimum ? minimum : "", maximum ? maximum : "", defaultValue ? defaultValue : "",
                           value ? value : ""};
  bool ok = true;
  bool limitsDone = false;
  if (vt & VT_ARRAY) {
    const bool minimumCounts = TextToElementCount(texts[0], out[0].Put());
    const bool maximumCounts = TextToElementCount(texts[1], out[1].Put());
    limitsDone = minimumCounts && maximumCounts;
    ok = limitsDone;
  }
  if (!limitsDone) {
    ok = TextToVariant(texts[0], vt, out[0].Put()) && ok;
    ok = TextToVariant(texts[1], vt, out[1].Put()) && ok;
  }
  ok = TextToVariant(texts[2], vt, out[2].Put()) && ok;
  ok = TextToVariant(texts[3], vt, out[3].Put()) && ok;
  return ok;
}

bool ApplyEqualLimitZeroFill(LPCSTR minimum, LPCSTR maximum, std::string* defaultValue, std::string* value) {
  const std::string_view lo = minimum ? minimum : "", hi = maximum ? maximum : "";
  if (lo != hi) return false;
  const long long n = LeadingNumber(maximum);
  if (n <= 0) return false;
  const std::size_t length = static_cast<std::size_t>(2 * n);
  if (defaultValue->size() >= length && value->size() >= length) return false;
  *defaultValue = std::string(length, '0');
  *value = *defaultValue;
  return true;
}

namespace {

// The steps every helper shares once its values are converted: the record is built, added, and an
// alias registered.
void AddDefinition(CovFDT_ParameterHandlerImpl* handler, CParamCollection* collection, ULONG addressed, ULONG id,
                   const vkr::Variant& address, LPCSTR name, ULONG stringResId, VARTYPE vt, vkr::Variant values[4],
                   ULONG persist, ULONG flags, const PassThrough& p) {
  VARIANT enumList = MakeEnumList(p.enumTexts);
  vkr::Variant enumHolder;
  static_cast<VARIANT&>(enumHolder) = enumList;
  vkr::Variant further;
  if (p.further) {
    further.vt = VT_UI4;
    further.ulVal = p.further;
  }
  vkr::Variant relation = TextToBstrVariant(p.relation);
  vkr::Variant typeInformation = TextToBstrVariant(p.typeInformation);
  vkr::Variant privateProperties = TextToBstrVariant(p.privateProperties);
  VARIANT typeInformationArg, privatePropertiesArg;

  vkr::Bstr nameText = TextToBstr(name);
  vkr::Bstr unitText = TextToBstr(p.unit);
  vkr::Bstr descriptionText = TextToBstr(p.description);
  vkr::Bstr stringIdText = TextToBstr(p.stringId);
  // The record takes over the texts and the two VARIANTs passed by value.
  typeInformation.Detach(&typeInformationArg);
  privateProperties.Detach(&privatePropertiesArg);
  ParInfo record(addressed, id, &address, nameText.Detach(), stringResId, vt, &values[0], &values[1],
                       &values[2], &values[3], persist, flags, p.flagWord1, p.flagWord2, unitText.Detach(),
                       p.exportKind, descriptionText.Detach(), static_cast<USHORT>(p.kind), &enumHolder, &further,
                       &relation, p.callbacks[0], p.callbacks[1], p.callbacks[2], p.callbacks[3], p.callbacks[4],
                       p.callbacks[5], stringIdText.Detach(), p.itemKinds, typeInformationArg, privatePropertiesArg);
  if (!collection) return;
  // An alias's value names the parameter it stands for.
  CFdtVariant aliased;
  const bool alias = record.m_nKind == PK_REFERENCE;
  if (alias) ThrowIfFailed(VariantCopy(aliased.Ptr(), &record.m_vValue));
  ThrowIfFailed(collection->Add(std::move(record)));
  if (alias) handler->RegisterAlias(CFdtVariant(id), aliased);
}

void ReportAddress(IovFdtParameterHandlerSite* site, LPCSTR name, HRESULT hr) {
  if (!site) return;
  const std::string text =
      vkr::Format("Init parameter %s: address change type returns %d", name ? name : "", static_cast<int>(hr));
  site->OnError(text.c_str());
}

void Numeric(CovFDT_ParameterHandlerImpl* handler, CParamCollection* collection, ULONG addressed, ULONG id,
             const vkr::Variant& address, LPCSTR name, ULONG stringResId, ULONG vt, double minimum, double maximum,
             double defaultValue, double value, ULONG persist, ULONG flags, const PassThrough& p) {
  vkr::Variant values[4];
  if (!CheckNumericDefinition(static_cast<VARTYPE>(vt), minimum, maximum, defaultValue, value, values))
    flags |= kNumericDefinitionBad;
  AddDefinition(handler, collection, addressed, id, address, name, stringResId, static_cast<VARTYPE>(vt), values,
                persist, flags, p);
}

// Converts the texts of an array definition; false when the definition is bad.
bool ArrayValues(VARTYPE vt, LPCSTR minimum, LPCSTR maximum, LPCSTR defaultValue, LPCSTR value,
                 vkr::Variant values[4]) {
  std::string defaultText = defaultValue ? defaultValue : "";
  std::string valueText = value ? value : "";
  ApplyEqualLimitZeroFill(minimum, maximum, &defaultText, &valueText);
  if (!CheckTextDefinition(vt, minimum, maximum, defaultText.c_str(), valueText.c_str(), values)) return false;
  // A byte string holds as many bytes as its minimum counts.
  VARIANT& v = values[3];
  if ((vt & VT_ARRAY) && (v.vt & VT_ARRAY) && v.parray && values[0].vt == VT_UI4) {
    LONG lower = 0;
    ThrowIfFailed(SafeArrayGetLBound(v.parray, 1, &lower));
    SAFEARRAYBOUND bound{values[0].ulVal, lower};
    ThrowIfFailed(SafeArrayRedim(v.parray, &bound));
  }
  return true;
}

}  // namespace

void CovFDT_ParameterHandlerImpl::AddNumericParameter(
    CParamCollection* collection, ULONG addressed, ULONG id, LONG address, LPCSTR name, ULONG stringResId, ULONG vt,
    double minimum, double maximum, double defaultValue, double value, ULONG persist, ULONG flags, ULONG flagWord1,
    ULONG flagWord2, LPCSTR unit, ULONG exportKind, LPCSTR description, ULONG kind, const LPCSTR* enumTexts,
    ULONG further, LPCSTR relation, ParameterCallback beforeChange, ParameterCallback beforeRead,
    ParameterCallback beforeWrite, ParameterCallback afterChange, ParameterCallback afterRead,
    ParameterCallback afterWrite, LPCSTR stringId, ULONG itemKinds, LPCSTR typeInformation, LPCSTR privateProperties) {
  const PassThrough p{flagWord1,   flagWord2, unit, exportKind, description, kind, enumTexts, further, relation,
                      {beforeChange, beforeRead, beforeWrite, afterChange, afterRead, afterWrite},
                      stringId,    itemKinds, typeInformation, privateProperties};
  vkr::Variant addressValue;
  const HRESULT hr = NumberAddress(address, &addressValue);
  if (FAILED(hr)) ReportAddress(Site(), name, hr);
  Numeric(this, collection, addressed, id, addressValue, name, stringResId, vt, minimum, maximum,
          defaultValue, value, persist, flags, p);
}

void CovFDT_ParameterHandlerImpl::AddAddressedNumericParameter(
    CParamCollection* collection, ULONG addressed, ULONG id, LPCSTR address, LPCSTR name, ULONG stringResId,
    ULONG vt, double minimum, double maximum, double defaultValue, double value, ULONG persist, ULONG flags,
    ULONG flagWord1, ULONG flagWord2, LPCSTR unit, ULONG exportKind, LPCSTR description, ULONG kind,
    const LPCSTR* enumTexts, ULONG further, LPCSTR relation, ParameterCallback beforeChange,
    ParameterCallback beforeRead, ParameterCallback beforeWrite, ParameterCallback afterChange,
    ParameterCallback afterRead, ParameterCallback afterWrite, LPCSTR stringId, ULONG itemKinds,
    LPCSTR typeInformation, LPCSTR privateProperties) {
  const PassThrough p{flagWord1,   flagWord2, unit, exportKind, description, kind, enumTexts, further, relation,
                      {beforeChange, beforeRead, beforeWrite, afterChange, afterRead, afterWrite},
                      stringId,    itemKinds, typeInformation, privateProperties};
  vkr::Variant addressValue;
  const HRESULT hr = TextAddress(address, &addressValue);
  if (FAILED(hr)) ReportAddress(Site(), name, hr);
  Numeric(this, collection, addressed, id, addressValue, name, stringResId, vt, minimum, maximum,
          defaultValue, value, persist, flags, p);
}

void CovFDT_ParameterHandlerImpl::AddArrayParameter(
    CParamCollection* collection, ULONG addressed, ULONG id, LONG address, LPCSTR name, ULONG stringResId, ULONG vt,
    LPCSTR minimum, LPCSTR maximum, LPCSTR defaultValue, LPCSTR value, ULONG persist, ULONG flags, ULONG flagWord1,
    ULONG flagWord2, LPCSTR unit, ULONG exportKind, LPCSTR description, ULONG kind, const LPCSTR* enumTexts,
    ULONG further, LPCSTR relation, ParameterCallback beforeChange, ParameterCallback beforeRead,
    ParameterCallback beforeWrite, ParameterCallback afterChange, ParameterCallback afterRead,
    ParameterCallback afterWrite, LPCSTR stringId, ULONG itemKinds, LPCSTR typeInformation, LPCSTR privateProperties) {
  const PassThrough p{flagWord1,   flagWord2, unit, exportKind, description, kind, enumTexts, further, relation,
                      {beforeChange, beforeRead, beforeWrite, afterChange, afterRead, afterWrite},
                      stringId,    itemKinds, typeInformation, privateProperties};
  vkr::Variant addressValue;
  const HRESULT hr = NumberAddress(address, &addressValue);
  if (FAILED(hr)) ReportAddress(Site(), name, hr);
  vkr::Variant values[4];
  if (!ArrayValues(static_cast<VARTYPE>(vt), minimum, maximum, defaultValue, value, values))
    flags |= kTextDefinitionBad;
  AddDefinition(this, collection, addressed, id, addressValue, name, stringResId, static_cast<VARTYPE>(vt), values,
                persist, flags, p);
}

void CovFDT_ParameterHandlerImpl::AddAddressedArrayParameter(
    CParamCollection* collection, ULONG addressed, ULONG id, LPCSTR address, LPCSTR name, ULONG stringResId,
    ULONG vt, LPCSTR minimum, LPCSTR maximum, LPCSTR defaultValue, LPCSTR value, ULONG persist, ULONG flags,
    ULONG flagWord1, ULONG flagWord2, LPCSTR unit, ULONG exportKind, LPCSTR description, ULONG kind,
    const LPCSTR* enumTexts, ULONG further, LPCSTR relation, ParameterCallback beforeChange,
    ParameterCallback beforeRead, ParameterCallback beforeWrite, ParameterCallback afterChange,
    ParameterCallback afterRead, ParameterCallback afterWrite, LPCSTR stringId, ULONG itemKinds,
    LPCSTR typeInformation, LPCSTR privateProperties) {
  const PassThrough p{flagWord1,   flagWord2, unit, exportKind, description, kind, enumTexts, further, relation,
                      {beforeChange, beforeRead, beforeWrite, afterChange, afterRead, afterWrite},
                      stringId,    itemKinds, typeInformation, privateProperties};
  vkr::Variant addressValue;
  const HRESULT hr = TextAddress(address, &addressValue);
  if (FAILED(hr)) ReportAddress(Site(), name, hr);
  const VARTYPE type = static_cast<VARTYPE>(vt);
  vkr::Variant values[4];
  if (!ArrayValues(type, minimum, maximum, defaultValue, value, values)) flags |= kTextDefinitionBad;
  if (type & VT_ARRAY) {
    // Only a rebuilt byte string replaces the value: an answer without one leaves it as defined.
    vkr::Bstr typeText = TextToBstr(typeInformation);
    vkr::Variant rebuilt;
    if (InitValuesFromTypeInformation(values[3], typeText.Get(), rebuilt.Put()) == S_OK &&
        rebuilt.vt == (VT_ARRAY | VT_UI1))
      values[3] = rebuilt;
  }
  AddDefinition(this, collection, addressed, id, addressValue, name, stringResId, type, values, persist, flags, p);
}

void CovFDT_ParameterHandlerImpl::AddEnumParameter(
    CParamCollection* collection, ULONG addressed, ULONG id, LONG address, LPCSTR name, ULONG stringResId, ULONG vt,
    ULONG kind, const LPCSTR* enumTexts, ULONG defaultValue, ULONG value, ULONG persist, ULONG flags,
    ULONG flagWord1, ULONG flagWord2, LPCSTR unit, ULONG exportKind, LPCSTR description, ULONG further,
    LPCSTR relation, ParameterCallback beforeChange, ParameterCallback beforeRead, ParameterCallback beforeWrite,
    ParameterCallback afterChange, ParameterCallback afterRead, ParameterCallback afterWrite, LPCSTR stringId,
    ULONG itemKinds, LPCSTR typeInformation, LPCSTR privateProperties) {
  const PassThrough p{flagWord1,   flagWord2, unit, exportKind, description, kind, enumTexts, further, relation,
                      {beforeChange, beforeRead, beforeWrite, afterChange, afterRead, afterWrite},
                      stringId,    itemKinds, typeInformation, privateProperties};
  vkr::Variant addressValue;
  const HRESULT hr = NumberAddress(address, &addressValue);
  if (FAILED(hr)) ReportAddress(Site(), name, hr);
  // No check: the entries define what the value may be.
  vkr::Variant values[4];
  values[2].vt = VT_UI4;
  values[2].ulVal = defaultValue;
  values[3].vt = VT_UI4;
  values[3].ulVal = value;
  AddDefinition(this, collection, addressed, id, addressValue, name, stringResId, static_cast<VARTYPE>(vt), values,
                persist, flags, p);
}
