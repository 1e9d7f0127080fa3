// Locale-formatted number texts.
#include "parameters/SNumberFormat.h"

#include <cmath>
#include <cstring>
#include <string>

#include "parameters/CFdtVariant.h"

namespace {

HRESULT LastError() {
  const DWORD code = GetLastError();
  return code ? HRESULT_FROM_WIN32(code) : E_FAIL;
}

// Reads one locale value as 8-bit text, size first.
HRESULT ReadLocaleText(LCID lcid, LCTYPE type, std::string* out) {
  const int size = GetLocaleInfoA(lcid, type, nullptr, 0);
  if (size <= 0) return LastError();
  std::string buf(static_cast<size_t>(size), '\0');
  if (GetLocaleInfoA(lcid, type, buf.data(), size) <= 0) return LastError();
  buf.resize(std::strlen(buf.c_str()));
  *out = std::move(buf);
  return S_OK;
}

HRESULT ReadLocaleNumber(LCID lcid, LCTYPE type, UINT* out) {
  std::string text;
  HRESULT hr = ReadLocaleText(lcid, type, &text);
  if (FAILED(hr)) return hr;
  UINT v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    v = v * 10 + static_cast<UINT>(c - '0');
  }
  *out = v;
  return S_OK;
}

// A separator into its fixed field; one that does not fit is refused rather than cut.
HRESULT CopySeparator(const std::string& text, char* field, size_t size) {
  if (text.size() >= size) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(field, text.c_str(), text.size() + 1);
  return S_OK;
}

// "3;2;0" -> 32: each group's digits, the sum times ten before the next group, up to the ";0".
UINT GroupingNumber(const std::string& text) {
  UINT result = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string group = text.substr(start, end - start);
    if (group == "0" && end == text.size()) break;
    UINT digits = 0;
    for (char c : group)
      if (c >= '0' && c <= '9') digits += static_cast<UINT>(c - '0');
    result = result * 10 + digits;
    start = end + 1;
  }
  return result;
}

// The plain text of a DECIMAL: sign, integer digits and, for a scale, the fraction with '.'.
std::string DecimalText(const DECIMAL& dec) {
  // All 96 bits of the mantissa.
  unsigned __int128 m = (static_cast<unsigned __int128>(dec.Hi32) << 64) | dec.Lo64;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
    m /= 10;
  } while (m != 0);
  const bool negative = (dec.sign & DECIMAL_NEG) != 0 && digits != "0";
  std::string text = negative ? "-" : "";
  if (dec.scale == 0) return text + digits;
  if (digits.size() <= dec.scale) digits.insert(0, dec.scale - digits.size() + 1, '0');
  const size_t point = digits.size() - dec.scale;
  return text + digits.substr(0, point) + "." + digits.substr(point);
}

HRESULT TextToBstr(const std::string& text, BSTR* out) {
  const std::u16string wide = vkr::Utf8ToUtf16(text);
  *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT GetLocaleNumberFormat(SNumberFormat* format, LCID lcid) {
  if (!format) return E_INVALIDARG;
  std::string text;
  HRESULT hr = ReadLocaleText(lcid, LOCALE_STHOUSAND, &text);
  if (SUCCEEDED(hr)) hr = CopySeparator(text, format->szThousandSep, sizeof format->szThousandSep);
  if (SUCCEEDED(hr)) hr = ReadLocaleText(lcid, LOCALE_SDECIMAL, &text);
  if (SUCCEEDED(hr)) hr = CopySeparator(text, format->szDecimalSep, sizeof format->szDecimalSep);
  if (SUCCEEDED(hr)) hr = ReadLocaleNumber(lcid, LOCALE_INEGNUMBER, &format->nNegativeOrder);
  if (SUCCEEDED(hr)) hr = ReadLocaleText(lcid, LOCALE_SGROUPING, &text);
  if (SUCCEEDED(hr)) format->nGrouping = GroupingNumber(text);
  if (SUCCEEDED(hr)) hr = ReadLocaleNumber(lcid, LOCALE_IDIGITS, &format->nNumDigits);
  if (SUCCEEDED(hr)) hr = ReadLocaleNumber(lcid, LOCALE_ILZERO, &format->nLeadingZero);
  if (FAILED(hr)) return hr;
  format->lcid = lcid;
  format->nExponentLimit = 1000;
  format->bKeepTrailingZeros = 0;
  return S_OK;
}

HRESULT FormatNumberText(const VARIANT& value, BSTR* text, const SNumberFormat* format) {
  if (!text || !format) return E_INVALIDARG;
  switch (value.vt) {
    case VT_BSTR:
      *text = SysAllocStringLen(value.bstrVal, SysStringLen(value.bstrVal));
      return *text ? S_OK : E_OUTOFMEMORY;
    case VT_EMPTY:
    case VT_ARRAY | VT_UI1:
      *text = SysAllocString(u"");
      return *text ? S_OK : E_OUTOFMEMORY;
    case VT_BOOL:
      *text = SysAllocString(value.boolVal == VARIANT_TRUE ? u"true" : u"false");
      return *text ? S_OK : E_OUTOFMEMORY;
    default:
      break;
  }
  const bool floating = format->vtValue == VT_R4 || format->vtValue == VT_R8;
  vkr::Variant number;
  HRESULT hr = floating ? ChangeVariantType(&number, &value, VT_R8) : VariantCopy(&number, &value);
  if (FAILED(hr)) return hr;
  const double real = number.vt == VT_R8 ? number.dblVal : 0.0;
  hr = ChangeVariantType(&number, &number, VT_DECIMAL);
  if (FAILED(hr)) return hr;
  const DECIMAL dec = number.decVal;
  const std::string plain = DecimalText(dec);

  LCID lcid = format->lcid;
  bool exponent = false;
  if (dec.scale != 0 && floating) {
    if (lcid == 0) lcid = GetSystemDefaultLCID();
    const double magnitude = format->vtValue == VT_R4 ? std::fabs(static_cast<float>(real)) : std::fabs(real);
    exponent = format->nExponentLimit != 0 && magnitude < 1.0 / format->nExponentLimit;
  }
  std::string result;
  if (exponent) {
    const double shown = format->vtValue == VT_R4 ? static_cast<float>(real) : real;
    result = vkr::Format("%e", shown);
  } else {
    char decimalSep[sizeof format->szDecimalSep];
    char thousandSep[sizeof format->szThousandSep];
    std::memcpy(decimalSep, format->szDecimalSep, sizeof decimalSep);
    std::memcpy(thousandSep, format->szThousandSep, sizeof thousandSep);
    decimalSep[sizeof decimalSep - 1] = '\0';
    thousandSep[sizeof thousandSep - 1] = '\0';
    const NUMBERFMTA numberFormat{format->nNumDigits, format->nLeadingZero, format->nGrouping, decimalSep,
                                  thousandSep, format->nNegativeOrder};
    const int size = GetNumberFormatA(lcid, 0, plain.c_str(), &numberFormat, nullptr, 0);
    if (size <= 0) return LastError();
    std::string buf(static_cast<size_t>(size), '\0');
    if (GetNumberFormatA(lcid, 0, plain.c_str(), &numberFormat, buf.data(), size) <= 0) return LastError();
    buf.resize(std::strlen(buf.c_str()));
    result = std::move(buf);
    // Zeros that end the fraction go, and the separator with them when nothing is left after it.
    const size_t sepLength = std::strlen(decimalSep);
    const size_t sep = sepLength ? result.find(decimalSep) : std::string::npos;
    if (!format->bKeepTrailingZeros && sep != std::string::npos) {
      size_t end = result.size();
      // The fraction ends where the digits end (a negative mode may put a sign after them).
      size_t digitsEnd = sep + sepLength;
      while (digitsEnd < end && result[digitsEnd] >= '0' && result[digitsEnd] <= '9') ++digitsEnd;
      size_t cut = digitsEnd;
      while (cut > sep + sepLength && result[cut - 1] == '0') --cut;
      if (cut == sep + sepLength) cut = sep;
      result.erase(cut, digitsEnd - cut);
    }
  }
  return TextToBstr(result, text);
}
