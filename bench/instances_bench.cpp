// 1000 DTMs in one process: each created by its ProgID from the registered module, given a new
// data set (IPersistStreamInit::InitNew), its environment (IDtm2::Environment2) and its device type
// (IDtm::InitNew), all kept alive together. Between two DTMs the frame's thread serves what is
// queued for it, as a frame's message loop does, and the time ends only when the work the DTMs
// handed to other threads meanwhile (their state notifications) is done and those threads have
// ended: only the DTM threads are left. Prints the total time of the 1000 (goal: 1 s) and the
// private memory each adds, read from /proc/self/smaps_rollup before and after (goal: 256 KiB),
// with both ratios to their goals ("vs_goal" <= 1 meets it), the process's CPU time over the same
// span, and the threads the process then has.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "frame/FrameContainer.h"
#include "frame/FrameDocuments.h"
#include "frame/FrameHost.h"
#include "include/DtmInterfaces.h"
#include "tests/support/bench_scratch.h"

namespace {

// VKR_INSTANCES sets another count (for a profiler's shorter run); the goals stay per 1000.
const int kInstances = std::getenv("VKR_INSTANCES") ? std::max(1, std::atoi(std::getenv("VKR_INSTANCES"))) : 1000;
constexpr double kGoalSeconds = 1.0;
constexpr double kGoalKiB = 256.0;

// A field of /proc/self/smaps_rollup or /proc/self/status, in KiB (or a count for "Threads").
double ProcField(const char* file, const std::string& name) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(name + ":", 0) == 0) return std::atof(line.c_str() + name.size() + 1);
  return 0;
}

// The CPU time of every thread of the process: on a shared machine the time alone also counts
// the waits for a CPU.
double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double PrivateKiB() {
  return ProcField("/proc/self/smaps_rollup", "Private_Clean") + ProcField("/proc/self/smaps_rollup", "Private_Dirty") +
         ProcField("/proc/self/smaps_rollup", "Swap");
}

// Serves what is queued for the calling thread, without waiting for more.
void ServeQueued() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// Serves the thread's messages until no more than `threads` threads of the platform run (or 60 s
// passed); false when they did not come down to that.
bool SettleTo(std::size_t threads) {
  const DWORD start = GetTickCount();
  while (vkr::platform::LiveThreadCount() > threads) {
    if (GetTickCount() - start > 60000) return false;
    ServeQueued();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  return true;
}

// Creates one DTM up to its device type; null on a failure.
vkr::ComPtr<IUnknown> MakeDtm(const CLSID& clsid, IFdtContainer* frame) {
  vkr::ComPtr<IUnknown> dtm;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, dtm.PutVoid()))) return nullptr;
  vkr::ComPtr<IDtm> idtm;
  vkr::ComPtr<IDtm2> idtm2;
  vkr::ComPtr<IPersistStreamInit> persist;
  dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid());
  dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid());
  if (!idtm || !idtm2 || !persist) return nullptr;
  VARIANT_BOOL environment = VARIANT_FALSE, initialized = VARIANT_FALSE;
  vkr::Bstr tag(vkr::frame::kSystemTag), version(vkr::frame::kFrameVersion), deviceType(vkr::frame::kDeviceType);
  if (FAILED(persist->InitNew()) || FAILED(idtm2->Environment2(tag, frame, version, &environment)) ||
      FAILED(idtm->InitNew(deviceType, &initialized)) || !environment || !initialized)
    return nullptr;
  return dtm;
}

void Release(std::vector<vkr::ComPtr<IUnknown>>* dtms) {
  for (auto& dtm : *dtms) {
    vkr::ComPtr<IDtm> idtm;
    if (dtm) dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
    VARIANT_BOOL result = VARIANT_FALSE;
    if (idtm) {
      idtm->PrepareToDelete(&result);
      idtm->PrepareToRelease(&result);
    }
  }
  dtms->clear();
  vkr::test::PumpFor(50);
}

void BM_ThousandInstances(benchmark::State& state) {
  vkr::test::BenchScratch scratch{"instances-bench"};
  CoInitialize(nullptr);
  CLSID clsid{};
  vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> frame;
  if (FAILED(vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, true)) ||
      FAILED(CLSIDFromProgID(u"Vorn.ExampleDtm", &clsid)) || FAILED(vkr::MakeObject<vkr::frame::FrameContainer>(&frame))) {
    state.SkipWithError("the module could not be registered");
    CoUninitialize();
    return;
  }
  {
    // One DTM first, made and let go, so that loading the module is not counted.
    std::vector<vkr::ComPtr<IUnknown>> first;
    first.push_back(MakeDtm(clsid, frame.Get()));
    Release(&first);
  }
  for (auto _ : state) {
    std::vector<vkr::ComPtr<IUnknown>> dtms;
    dtms.reserve(kInstances);
    SettleTo(vkr::platform::LiveThreadCount());
    const std::size_t threadsBefore = vkr::platform::LiveThreadCount();
    const double before = PrivateKiB();
    const double cpuStart = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kInstances; ++i) {
      dtms.push_back(MakeDtm(clsid, frame.Get()));
      if (!dtms.back()) {
        state.SkipWithError("a DTM could not be made");
        break;
      }
      ServeQueued();
    }
    // Each DTM keeps its own thread; every other thread started meanwhile has to be done.
    if (!SettleTo(threadsBefore + dtms.size())) state.SkipWithError("threads of the DTMs' work did not end");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ProcessCpuSeconds() - cpuStart;
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_vs_goal"] = cpu * 1000.0 / kInstances / kGoalSeconds;
    const double perInstance = (PrivateKiB() - before) / kInstances;
    state.counters["total_s"] = seconds;
    state.counters["goal_s"] = kGoalSeconds;
    state.counters["time_vs_goal"] = seconds * 1000.0 / kInstances / kGoalSeconds;
    state.counters["private_KiB_each"] = perInstance;
    state.counters["goal_KiB"] = kGoalKiB;
    state.counters["memory_vs_goal"] = perInstance / kGoalKiB;
    state.counters["threads"] = ProcField("/proc/self/status", "Threads");
    Release(&dtms);
  }
  frame = nullptr;
  vkr::frame::RunModuleRegistration(VKR_MODULE_PATH, false);
  CoFreeUnusedLibraries();
  CoUninitialize();
}
BENCHMARK(BM_ThousandInstances)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the DTM threads alone cost: 1000 threads of the platform, each waiting in a message loop
// as a DTM thread does, started and ended the same way.
DWORD IdleThread(LPVOID stop) {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, as a DTM thread makes it
  HANDLE event = static_cast<HANDLE>(stop);
  while (MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  return 0;
}

void BM_ThousandThreads(benchmark::State& state) {
  for (auto _ : state) {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> threads;
    const double before = PrivateKiB();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kInstances; ++i) {
      HANDLE thread = CreateThread(nullptr, 0, IdleThread, stop, 0, nullptr);
      if (thread) threads.push_back(thread);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    vkr::test::PumpFor(50);
    state.counters["total_s"] = seconds;
    state.counters["private_KiB_each"] = (PrivateKiB() - before) / kInstances;
    state.counters["threads"] = ProcField("/proc/self/status", "Threads");
    SetEvent(stop);
    for (HANDLE thread : threads) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
    CloseHandle(stop);
  }
}
BENCHMARK(BM_ThousandThreads)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the figures include and leave out, before the table.
const bool kSaid = [] {
  std::printf(
      "instances_bench: 1000 DTMs made in one process up to their device type, all kept alive (goal: 1 s of "
      "wall and of CPU time, 256 KiB each).\n"
      "  includes: CoCreateInstance, InitNew of the data set, Environment2, InitNew of the device type, the "
      "frame's thread serving what they queue, the threads of their work until those end\n"
      "  leaves out: loading and registering the module (one DTM made and released first), releasing the 1000; "
      "cpu_s counts every thread of the process, total_s is wall time\n");
  std::fflush(stdout);
  return true;
}();

}  // namespace
