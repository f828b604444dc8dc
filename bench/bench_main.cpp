// ecuprog_bench: how long the tool's work takes on this machine, each
// figure also as a ratio to a floor measured in the same run (bench/
// floor.h).
//
//   ecuprog_bench [--quick] [Google Benchmark flags]
//
// --quick runs every benchmark once or twice, with short erases: enough to
// show that each still runs, not to time anything. ECUPROG_BENCH_TOOL names
// another build of the tool for the job benchmarks (the default is this
// build's).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstring>

#include "bench/bench_failure.h"
#include "bench/firmware_bench.h"
#include "bench/floor.h"
#include "bench/job_bench.h"
#include "blocks/block_crc.h"
#include "report/console.h"
#include "sim/temp_folder.h"

namespace {

bool g_failed = false;

// "Ready to program ..." and the like go nowhere.
class NullConsole : public Console {
 public:
  void Write(const char*, size_t) override {}
  void WriteWide(const OLECHAR*, size_t) override {}
  void Flush() override {}
  int ReadInputByte() override { return -1; }
  int ReadKey() override { return -1; }
};

bool TakeFlag(int* argc, char** argv, const char* flag) {
  for (int i = 1; i < *argc; ++i) {
    if (std::strcmp(argv[i], flag) != 0) continue;
    for (int j = i; j + 1 < *argc; ++j) argv[j] = argv[j + 1];
    --*argc;
    return true;
  }
  return false;
}

}  // namespace

void FailBenchmark(benchmark::State& state, const char* message) {
  g_failed = true;
  state.SkipWithError(message);
}

bool AnyBenchmarkFailed() { return g_failed; }

int main(int argc, char** argv) {
  const bool quick = TakeFlag(&argc, argv, "--quick");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // Large blocks stay in the heap once freed: otherwise each iteration
  // would map fresh pages for the image and the inflater's buffers (or not,
  // as the heap happens to have grown), and the figures would measure that
  // rather than the work.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);

  NullConsole console;
  SetConsole(&console);
  BuildCrcTable();
  TempFolder workspace;

  const double floor = MeasureFloor(quick ? 3 : 301);
  char text[64];
  std::snprintf(text, sizeof text, "%.3f ms CPU", floor * 1e3);
  benchmark::AddCustomContext("floor", text);
  benchmark::AddCustomContext("checksum", CrcMethodName(BlockCrcMethod()));

  RegisterFirmwareBenchmarks(quick);
  RegisterJobBenchmarks(workspace.path(), quick);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  SetConsole(nullptr);
  return AnyBenchmarkFailed() ? 1 : 0;
}
