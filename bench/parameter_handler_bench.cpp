// The parameter handler's cost per parameter: look a parameter up, convert a value to its type,
// and validate and store it, for a table of 140 parameters of the device's kinds.
#include <benchmark/benchmark.h>

#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "tests/support/fake_parameter_site.h"

namespace {

constexpr ULONG kParameters = 140;

VARIANT Number(double v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_R8;
  r.dblVal = v;
  return r;
}

// 140 parameters: byte values with limits, floating-point values with limits, short texts.
void Fill(CovFDT_ParameterHandlerImpl* h) {
  for (ULONG i = 0; i < kParameters; ++i) {
    ParInfo r;
    r.m_nId = 1000 + i;
    r.m_bstrName = vkr::Bstr(u"Parameter");
    switch (i % 3) {
      case 0:
        r.m_vt = VT_UI1;
        ChangeVariantType(&r.m_vMin, vkr::Variant(Number(0)).Ptr(), VT_UI1);
        ChangeVariantType(&r.m_vMax, vkr::Variant(Number(200)).Ptr(), VT_UI1);
        break;
      case 1:
        r.m_vt = VT_R4;
        ChangeVariantType(&r.m_vMin, vkr::Variant(Number(-1000)).Ptr(), VT_R4);
        ChangeVariantType(&r.m_vMax, vkr::Variant(Number(1000)).Ptr(), VT_R4);
        break;
      default:
        r.m_vt = VT_BSTR;
        r.m_vMax.vt = VT_BSTR;
        r.m_vMax.bstrVal = SysAllocString(u"32");
        break;
    }
    r.m_bPersist = 0;
    h->AddParInfo(r);
  }
}

void LookUpConvertValidateAndStore(benchmark::State& state) {
  vkr::test::FakeParameterSite site{vkr::test::kSiteQuiet};
  vkr::ComPtr<vkr::ComObject<vkr::test::CFakeDtm>> dtm;
  vkr::MakeObject<vkr::test::CFakeDtm>(&dtm, static_cast<IovFdtParameterHandlerSite*>(&site));
  CovFDT_ParameterHandlerImpl* h = dtm.Get();
  Fill(h);
  std::vector<vkr::Variant> inputs;
  for (ULONG i = 0; i < kParameters; ++i) {
    vkr::Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(i % 3 == 2 ? u"TANK-7" : u"42");
    inputs.push_back(std::move(v));
  }
  int round = 0;
  for (auto _ : state) {
    for (ULONG i = 0; i < kParameters; ++i) {
      ParInfo record;
      h->GetParInfoById(1000 + i, &record);
      vkr::Variant typed;
      ChangeVariantType(&typed, &inputs[i], record.m_vt);
      // Alternate the value so every round really stores.
      if (round & 1 && typed.vt != VT_BSTR) ChangeVariantType(&typed, vkr::Variant(Number(43)).Ptr(), record.m_vt);
      VARIANT id;
      VariantInit(&id);
      id.vt = VT_UI4;
      id.ulVal = 1000 + i;
      VARIANT_BOOL done = VARIANT_FALSE;
      h->ValidateAndSetParameter(id, typed, &done);
      benchmark::DoNotOptimize(done);
    }
    ++round;
  }
  state.SetItemsProcessed(state.iterations() * kParameters);
}
BENCHMARK(LookUpConvertValidateAndStore);

void StoreDeviceResponses(benchmark::State& state) {
  vkr::test::FakeParameterSite site{vkr::test::kSiteQuiet};
  vkr::ComPtr<vkr::ComObject<vkr::test::CFakeDtm>> dtm;
  vkr::MakeObject<vkr::test::CFakeDtm>(&dtm, static_cast<IovFdtParameterHandlerSite*>(&site));
  CovFDT_ParameterHandlerImpl* h = dtm.Get();
  Fill(h);
  const VARIANT data = Number(17);
  for (auto _ : state) {
    for (ULONG i = 0; i < kParameters; ++i) {
      VARIANT id;
      VariantInit(&id);
      id.vt = VT_UI4;
      id.ulVal = 1000 + i;
      benchmark::DoNotOptimize(h->HandleDevParResponse(VARIANT_TRUE, id, data, nullptr));
    }
  }
  state.SetItemsProcessed(state.iterations() * kParameters);
}
BENCHMARK(StoreDeviceResponses);

}  // namespace
