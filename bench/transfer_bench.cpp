// The upload of the upload list through the frame's channel on the HART wire model (1200 bit/s,
// 11 bits a character, the preambles the frame sends): the time the whole upload takes over the
// time its transactions need on the wire alone. The DTM's own share is the ratio's excess over 1.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "frame/FrameHost.h"
#include "frame/TransferSession.h"
#include "tests/support/bench_scratch.h"

namespace {

void UploadOnTheHartWire(benchmark::State& state) {
  vkr::test::BenchScratch scratch{"transfer-bench"};
  CoInitialize(nullptr);
  if (FAILED(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true))) {
    state.SkipWithError("the module could not be registered");
    CoUninitialize();
    return;
  }
  {
    vkr::frame::TransferSession session;
    if (FAILED(session.Open(u"Vorn.ExampleDtm", std::make_shared<vkr::frame::SimulatedDevice>(), ""))) {
      state.SkipWithError("the DTM could not be opened");
    } else {
      session.Channel()->wireBitsPerSecond = 1200;
      bool success = false;
      // The first upload takes the DTM online; the measured one moves the list alone.
      session.Upload(&success);
      double total = 0, wire = 0;
      for (auto _ : state) {
        session.Channel()->dataExchangeWireBits = 0;
        const DWORD start = GetTickCount();
        success = false;
        session.Upload(&success);
        total += GetTickCount() - start;
        wire += session.Channel()->dataExchangeWireBits * 1000.0 / 1200.0;
        if (!success) state.SkipWithError("the upload failed");
      }
      state.counters["total_ms"] = total;
      state.counters["wire_ms"] = wire;
      state.counters["ratio"] = wire > 0 ? total / wire : 0;
      session.Close();
    }
  }
  vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, false);
  CoFreeUnusedLibraries();
  CoUninitialize();
}
BENCHMARK(UploadOnTheHartWire)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
