// The CPU cost of the conversions every parameter value goes through: text to R8, R8 to text,
// VariantChangeType in place, and VarCmp on mixed numbers and on texts.
#include <benchmark/benchmark.h>

#include "platform/platform.h"

namespace {

void BM_R8FromText(benchmark::State& state) {
  const OLECHAR* texts[] = {u"1234.5678", u" -0,25 ", u"1e-3", u"42"};
  const LCID lcid = state.range(0) ? 1031 : 1033;
  std::size_t i = 0;
  for (auto _ : state) {
    DOUBLE d;
    benchmark::DoNotOptimize(VarR8FromStr(texts[i++ & 3], lcid, 0, &d));
    benchmark::DoNotOptimize(d);
  }
}
BENCHMARK(BM_R8FromText)->Arg(0)->Arg(1);

void BM_TextFromR8(benchmark::State& state) {
  const DOUBLE values[] = {1234.5678, 0.1, 1e20, -1.0 / 3.0};
  std::size_t i = 0;
  for (auto _ : state) {
    BSTR s = nullptr;
    benchmark::DoNotOptimize(VarBstrFromR8(values[i++ & 3], 1033, 0, &s));
    SysFreeString(s);
  }
}
BENCHMARK(BM_TextFromR8);

void BM_TextFromR4(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    BSTR s = nullptr;
    benchmark::DoNotOptimize(VarBstrFromR4(static_cast<FLOAT>(i++ & 1023) * 0.1f, 1033, 0, &s));
    SysFreeString(s);
  }
}
BENCHMARK(BM_TextFromR4);

void BM_ChangeTypeTextToR8AndBack(benchmark::State& state) {
  for (auto _ : state) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"1234.5678");
    benchmark::DoNotOptimize(VariantChangeType(&v, &v, 0, VT_R8));
    benchmark::DoNotOptimize(VariantChangeType(&v, &v, 0, VT_BSTR));
    VariantClear(&v);
  }
}
BENCHMARK(BM_ChangeTypeTextToR8AndBack);

void BM_ChangeTypeI4ToUI1(benchmark::State& state) {
  VARIANT src, dest;
  VariantInit(&src);
  VariantInit(&dest);
  src.vt = VT_I4;
  src.lVal = 200;
  for (auto _ : state) benchmark::DoNotOptimize(VariantChangeType(&dest, &src, 0, VT_UI1));
}
BENCHMARK(BM_ChangeTypeI4ToUI1);

void BM_VarCmpMixedNumbers(benchmark::State& state) {
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = VT_I4;
  a.lVal = 5;
  b.vt = VT_R8;
  b.dblVal = 5.25;
  for (auto _ : state) benchmark::DoNotOptimize(VarCmp(&a, &b, LOCALE_USER_DEFAULT, 0));
}
BENCHMARK(BM_VarCmpMixedNumbers);

void BM_VarCmpDecimalAgainstCurrency(benchmark::State& state) {
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.decVal.Lo64 = 15;
  a.decVal.scale = 1;
  a.vt = VT_DECIMAL;
  b.vt = VT_CY;
  b.cyVal.int64 = 15000;
  for (auto _ : state) benchmark::DoNotOptimize(VarCmp(&a, &b, LOCALE_USER_DEFAULT, 0));
}
BENCHMARK(BM_VarCmpDecimalAgainstCurrency);

void BM_VarCmpTextsIgnoringCase(benchmark::State& state) {
  VARIANT a, b;
  VariantInit(&a);
  VariantInit(&b);
  a.vt = b.vt = VT_BSTR;
  a.bstrVal = SysAllocString(u"Measured value of the level");
  b.bstrVal = SysAllocString(u"MEASURED VALUE OF THE LEVEL");
  for (auto _ : state) benchmark::DoNotOptimize(VarCmp(&a, &b, LOCALE_USER_DEFAULT, NORM_IGNORECASE));
  VariantClear(&a);
  VariantClear(&b);
}
BENCHMARK(BM_VarCmpTextsIgnoringCase);

}  // namespace
