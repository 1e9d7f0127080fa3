// Fuzzes the texts the parameter handler reads from outside: the "<PARAMETERS>" import, relation
// texts, private properties and TypeInformation initial values. No input may crash, hang or leak;
// an import may change values but never the set of parameters, and a property written must read
// back.
//
// The first byte picks the text; the rest is the text (UTF-8), at most 64 KiB.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "platform/platform.h"
#include "tests/support/fake_parameter_site.h"
#include "xml/Conversions.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

vkr::Variant Number(VARTYPE vt, double v) {
  vkr::Variant r, d;
  d.vt = VT_R8;
  d.dblVal = v;
  VariantChangeType(&r, &d, 0, vt);
  return r;
}

vkr::Variant ByteString() {
  vkr::Variant r;
  vkr::Bstr hex(u"00000000000000000000");
  if (FAILED(HexStringToByteArray(&r, hex.Get(), TRUE))) abort();
  return r;
}

void AddRecords(vkr::test::StackParameterHandler* h, BSTR relation) {
  const VARTYPE types[] = {VT_UI1, VT_I4, VT_R4, VT_R8, VT_BSTR, VT_BOOL, VT_ARRAY | VT_UI1};
  ULONG id = 1;
  for (VARTYPE vt : types) {
    ParInfo r;
    r.m_nId = id++;
    r.m_vt = vt;
    if (vt == VT_BSTR) {
      r.m_vValue.vt = VT_BSTR;
      r.m_vValue.bstrVal = SysAllocString(u"text");
    } else if (vt == (VT_ARRAY | VT_UI1)) {
      r.m_vValue = ByteString();
    } else {
      r.m_vValue = Number(vt, 1);
      r.m_vMin = Number(vt, 0);
      r.m_vMax = Number(vt, 100);
    }
    r.m_vRelation.vt = VT_BSTR;
    r.m_vRelation.bstrVal = SysAllocStringLen(relation, SysStringLen(relation));
    if (FAILED(h->AddParInfo(r))) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  static const bool initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (!initialised) abort();
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  vkr::Bstr text(vkr::Utf8ToUtf16(bytes));
  vkr::test::FakeParameterSite site{vkr::test::kSiteQuiet};
  vkr::test::StackParameterHandler h(&site);
  switch (data[0] % 4) {
    case 0: {
      AddRecords(&h, text.Get());
      h.ParseRelations(1, text.Get(), FALSE, 3);
      h.ParseRelations(2, text.Get(), TRUE, 1);
      h.BuildRelations(1);
      h.ApplyRelations(TRUE);
      h.SetParameterValue(vkr::Variant(Number(VT_UI4, 1)), Number(VT_R8, 7));
      h.ApplyRelations(FALSE);
      break;
    }
    case 1: {
      vkr::Bstr none(u"");
      AddRecords(&h, none.Get());
      h.ImportParameterValues(text.Get(), none.Get());
      ULONG count = 0;
      if (FAILED(h.GetCollectionCount(&count)) || count != 7) abort();
      break;
    }
    case 2: {
      vkr::Bstr none(u"");
      AddRecords(&h, none.Get());
      ParInfo r;
      r.m_vPrivateProperties.vt = VT_BSTR;
      r.m_vPrivateProperties.bstrVal = SysAllocStringLen(text.Get(), text.Length());
      h.SetParInfoFields(1, PIF_PRIVATE_PROPERTIES, r);
      vkr::Bstr name(u"Offset");
      vkr::Variant read;
      h.ReadPrivateProperties(Number(VT_UI4, 1), name.Get(), &read);
      if (SUCCEEDED(h.WritePrivateProperty(Number(VT_UI4, 1), name.Get(), Number(VT_I4, 42)))) {
        if (h.ReadPrivateProperties(Number(VT_UI4, 1), name.Get(), read.Put()) != S_OK) abort();
      }
      break;
    }
    default: {
      vkr::Variant result;
      h.InitValuesFromTypeInformation(ByteString(), text.Get(), &result);
      break;
    }
  }
  return 0;
}
