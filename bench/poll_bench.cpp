// What one round of the erase wait costs the tool: a PollErase call to the
// simulator in its own process, and the pause between two calls.
#include "bench/poll_bench.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench/bench_failure.h"
#include "bench/floor.h"
#include "platform/windows_api.h"
#include "programming/acquire_interfaces.h"
#include "programming/flash_region.h"
#include "report/console.h"
#include "report/memory_console.h"
#include "server/com_ref.h"
#include "server/select_device.h"
#include "server/select_identity.h"
#include "sim/default_bench.h"

namespace {

// The unit's code programming interface, reached as a job reaches it: the
// server started as a process of its own, the unit chosen by its serial.
void PollEraseRoundTrip(benchmark::State& state, std::string bench) {
  setenv("ECUPROG_SIM_BENCH", bench.c_str(), 1);
  static MemoryConsole console(std::to_string(kDefaultReadySerial) + "\n");
  SetConsole(&console);
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK) {
    FailBenchmark(state, "COM cannot be initialised");
    return;
  }
  {
    ComRef<ProgrammingServer> server;
    if (FAILED(CoCreateInstance(CLSID_ProgrammingServer, nullptr,
                                CLSCTX_LOCAL_SERVER, IID_ProgrammingServer,
                                server.OutVoid())) ||
        !server) {
      FailBenchmark(state, "the simulator cannot be started");
      CoUninitialize();
      return;
    }
    DeviceRecord unit = SelectDevice(server.get(), "W3");
    UnitInterfaces interfaces;
    AcquireDeviceInterfaces(server.get(), unit,
                            SelectIdentity(server.get(), unit), &interfaces);
    const double start = OwnCpuSeconds();
    for (auto _ : state) {
      USHORT status = 0xFFFF;
      benchmark::DoNotOptimize(interfaces.code->PollErase(&status));
    }
    ReportAgainstFloor(state, (OwnCpuSeconds() - start) /
                                  static_cast<double>(state.iterations()));
  }
  CoUninitialize();
}

// The longest pause of the erase wait, alone.
void ErasePause(benchmark::State& state) {
  const double start = OwnCpuSeconds();
  for (auto _ : state) Sleep(kErasePolling.longestPauseMs);
  ReportAgainstFloor(state, (OwnCpuSeconds() - start) /
                                static_cast<double>(state.iterations()));
}

}  // namespace

void RegisterPollBenchmarks(const std::string& instantBench, bool quick) {
  benchmark::RegisterBenchmark("EraseWait/PollErase round trip",
                               PollEraseRoundTrip, instantBench)
      ->Iterations(quick ? 10 : 5000)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("EraseWait/longest pause", ErasePause)
      ->Iterations(quick ? 2 : 250)
      ->Unit(benchmark::kMicrosecond);
}
