// The protocol object's share of a read of the primary value, without the wire, the connection,
// the frame or the DTM thread: building the read request (the document and the packed record of
// the command 3 group), and reading the device's answer back, spreading its 24 bytes over the
// members of the group into the real parameter handler with the VKR's parameter table. The fake
// DTM around the handler writes a journal of what it is told; it is emptied outside the timed code
// so that it does not grow with the run. The whole cost of a read, end to end through the real
// connection and the frame's channel, is pv_read_bench's.
#include <benchmark/benchmark.h>

#include "communication/MyHartProtocol.h"
#include "parameters/DeviceParameterTable.h"
#include "tests/support/fake_parameter_site.h"

namespace {

constexpr ULONG kPrimaryValue = 1049;
constexpr char16_t kReference[] = u"7F3C2D10-1A2B-4C5D-8E9F-0A1B2C3D4E5F";
// Command 3: loop current 12.0 mA, PV 2.5 m, SV 21.0, TV 0.0, QV 0.0.
constexpr char16_t kResponse[] =
    u"<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
    u"<DataExchangeResponse communicationReference=\"7F3C2D10-1A2B-4C5D-8E9F-0A1B2C3D4E5F\" commandNumber=\"3\">"
    u"<fdt:CommunicationData byteArray=\"414000002D402000002041A8000020000000002000000000\"/>"
    u"<Status deviceStatus=\"0\"><CommandResponse value=\"0\"/></Status></DataExchangeResponse></FDT>";

class TableDtm : public vkr::test::CFakeDtm {
 public:
  using CFakeDtm::CFakeDtm;
  HRESULT LoadDeviceTable() { return InitDeviceParameterTable(*this, &Collection(), nullptr); }
};

// One DTM with the device table and its attached protocol, shared by the benchmarks.
struct Setup {
  Setup() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    site.state = dsONLINE;
    vkr::MakeObject<TableDtm>(&dtm, &site);
    ok = dtm && SUCCEEDED(dtm->LoadDeviceTable()) && protocol.AttachDtm(static_cast<vkr::test::IFakeDtm*>(dtm.Get()));
  }
  vkr::test::FakeParameterSite site;
  vkr::ComPtr<vkr::ComObject<TableDtm>> dtm;
  MyHartProtocol protocol;
  bool ok = false;
};

Setup& Shared() {
  static Setup* setup = new Setup;  // the benchmarks run on one thread; it lives to the end
  return *setup;
}

void BM_CreateReadRequest(benchmark::State& state) {
  Setup& s = Shared();
  if (!s.ok) {
    state.SkipWithError("the device table or the protocol did not set up");
    return;
  }
  vkr::Bstr reference(kReference);
  for (auto _ : state) {
    VARIANT_BOOL created = VARIANT_FALSE;
    vkr::Bstr document;
    vkr::Variant record;
    const HRESULT hr = s.protocol.CreateReadRequest(vkr::UI4(kPrimaryValue), reference, VARIANT_FALSE, &created,
                                                    document.Put(), record.Put());
    if (FAILED(hr) || !created) state.SkipWithError("CreateReadRequest failed");
    benchmark::DoNotOptimize(document.Get());
    if (s.site.journal.size() >= 256) {
      state.PauseTiming();
      s.site.Clear();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_CreateReadRequest);

void BM_ReadAndSpreadResponse(benchmark::State& state) {
  Setup& s = Shared();
  if (!s.ok) {
    state.SkipWithError("the device table or the protocol did not set up");
    return;
  }
  vkr::Bstr reference(kReference), response(kResponse);
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant record;
  if (FAILED(s.protocol.CreateReadRequest(vkr::UI4(kPrimaryValue), reference, VARIANT_FALSE, &created,
                                          document.Put(), record.Put()))) {
    state.SkipWithError("CreateReadRequest failed");
    return;
  }
  std::size_t spread = 0;
  for (auto _ : state) {
    vkr::Variant bytes;
    const HRESULT hr = s.protocol.ParseTransactionResponse(record, response, reference, VARIANT_TRUE, bytes.Put());
    if (hr != S_OK) state.SkipWithError("ParseTransactionResponse failed");
    benchmark::DoNotOptimize(bytes.vt);
    if (++spread % 256 == 0) {
      state.PauseTiming();
      s.site.Clear();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_ReadAndSpreadResponse);

}  // namespace
