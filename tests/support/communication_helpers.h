// Helpers of the communication tests: the element layout of packed records as a short text,
// documents loaded as the readers load them, and the validator with the frame's schema set.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "xml/CovFDTXMLHandlerImpl.h"
#include "xml/XmlHelpers.h"
#include "tests/support/schema_validator.h"
#include "tests/support/source_tree.h"
#include "tests/support/variant_values.h"

namespace vkr::test {

// "UI1 BOOL BSTR [UI1 UI1]": one word per element, a nested record in brackets; VT_BOOL elements
// that are neither VARIANT_TRUE nor VARIANT_FALSE show as "BOOL?".
inline std::string DescribePacked(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_UI1: return "UI1";
    case VT_I4: return "I4";
    case VT_UI4: return "UI4";
    case VT_BSTR: return "BSTR";
    case VT_BOOL: return v.boolVal == VARIANT_TRUE || v.boolVal == VARIANT_FALSE ? "BOOL" : "BOOL?";
    case VT_ARRAY | VT_VARIANT: {
      std::string out = "[";
      LONG lower = 0, upper = -1;
      SafeArrayGetLBound(v.parray, 1, &lower);
      SafeArrayGetUBound(v.parray, 1, &upper);
      for (LONG i = lower; i <= upper; ++i) {
        vkr::Variant e;
        LONG index = i;
        SafeArrayGetElement(v.parray, &index, e.Put());
        if (i > lower) out += " ";
        out += DescribePacked(e);
      }
      return out + "]";
    }
    default: return "vt" + std::to_string(v.vt);
  }
}

inline std::string U8(BSTR s) { return vkr::Utf16ToUtf8(std::u16string_view(s ? s : u"", SysStringLen(s))); }
inline std::string U8(const vkr::Bstr& s) { return vkr::Utf16ToUtf8(s.View()); }

// The text loaded without schema, as the readers get it; null when it does not parse.
inline vkr::ComPtr<IXMLDOMDocument2> Load(std::u16string_view text) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(vkr::Bstr(text), document.Put(), &loaded)) || loaded != VARIANT_TRUE) return nullptr;
  return document;
}

// A VT_ARRAY|VT_VARIANT built from the given elements, for unpacking hand-made records.
inline vkr::Variant MakeArray(std::initializer_list<vkr::Variant> elements) {
  vkr::Variant out;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(elements.size()));
  LONG i = 0;
  for (const vkr::Variant& e : elements) {
    vkr::Variant copy(e);
    SafeArrayPutElement(psa, &i, &copy);
    ++i;
  }
  out.vt = VT_ARRAY | VT_VARIANT;
  out.parray = psa;
  return out;
}
inline vkr::Variant TextVar(std::u16string_view s) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}

}  // namespace vkr::test
