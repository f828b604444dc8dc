// The tool's work on its firmware, in this process: the checksum in each of
// its realisations, the four checksum passes of a job, the inflate step,
// restamping and the profile hand-over to a simulated server.
#include "bench/firmware_bench.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_failure.h"
#include "bench/floor.h"
#include "blocks/block_crc.h"
#include "blocks/code_image.h"
#include "blocks/profile_block.h"
#include "blocks/restamp.h"
#include "server/connect_server.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"

namespace {

struct Firmware {
  CodeImage image;
  ProfileBlock profile;
};

const Firmware& TheFirmware() {
  static const Firmware firmware = [] {
    Firmware loaded;
    loaded.image = LoadCodeImage();
    loaded.profile = LoadProfileBlock(loaded.image.header());
    return loaded;
  }();
  return firmware;
}

// Runs `work` once per iteration and reports its CPU time against the
// floor.
template <typename Work>
void Measure(benchmark::State& state, Work work) {
  const double start = OwnCpuSeconds();
  for (auto _ : state) work();
  ReportAgainstFloor(state, (OwnCpuSeconds() - start) /
                                static_cast<double>(state.iterations()));
}

void Checksum(benchmark::State& state, CrcMethod method) {
  const CodeImage& image = TheFirmware().image;
  Measure(state, [&] {
    benchmark::DoNotOptimize(
        BlockCrcBy(method, image.bytes.get(), image.length / 4));
  });
  state.SetBytesProcessed(state.iterations() * image.length);
}

// What a job computes: the image verified, regenerated and verified again,
// and the profile verified.
void JobChecksums(benchmark::State& state) {
  const Firmware& firmware = TheFirmware();
  const CodeImage& image = firmware.image;
  Measure(state, [&] {
    for (int pass = 0; pass < 3; ++pass) {
      benchmark::DoNotOptimize(BlockCrc(image.bytes.get(), image.length / 4));
    }
    benchmark::DoNotOptimize(
        BlockCrc(firmware.profile.bytes, firmware.profile.length / 4));
  });
  state.SetBytesProcessed(state.iterations() * (3 * int64_t{image.length} +
                                                firmware.profile.length));
}

void Floor(benchmark::State& state) { Measure(state, RunFloorOnce); }

void Inflate(benchmark::State& state) {
  Measure(state, [] { benchmark::DoNotOptimize(LoadCodeImage().length); });
}

void Restamp(benchmark::State& state) {
  const CodeImage& image = TheFirmware().image;
  std::vector<uint8_t> copy(image.bytes.get(),
                            image.bytes.get() + image.length);
  Measure(state, [&] {
    RestampCodeImageAt(copy.data(), image.length, 0x5F5E1000);
    benchmark::ClobberMemory();
  });
}

// ConnectServer against the simulated server in this process: the server
// object created, its version asked and the profile handed over in a
// transfer array. The simulator's own copy of the profile is included.
void ProfileHandOver(benchmark::State& state) {
  const ProfileBlock& profile = TheFirmware().profile;
  TempFolder folder;
  SimBench bench;
  bench.folder = folder.path();
  SimServer server(bench);
  if (CoInitializeEx(nullptr, COINIT_MULTITHREADED) != S_OK ||
      server.Register() != S_OK) {
    FailBenchmark(state, "the simulated server cannot be registered");
    return;
  }
  Measure(state, [&] {
    ComRef<ProgrammingServer> connected =
        ConnectServer(profile.bytes, profile.length);
    benchmark::DoNotOptimize(connected.get());
  });
  server.Unregister();
  CoUninitialize();
}

void Quickly(benchmark::internal::Benchmark* benchmark, bool quick) {
  if (quick) {
    benchmark->Iterations(2);
  } else {
    benchmark->Repetitions(9)->ReportAggregatesOnly(true);
  }
}

}  // namespace

void RegisterFirmwareBenchmarks(bool quick) {
  TheFirmware();
  Quickly(benchmark::RegisterBenchmark("Floor", Floor), quick);
  for (CrcMethod method : {CrcMethod::kReference, CrcMethod::kSlicingBy8,
                           CrcMethod::kClmul128, CrcMethod::kClmul256}) {
    if (!CrcMethodAvailable(method)) continue;
    std::string name = std::string("Checksum/") + CrcMethodName(method);
    if (method == BlockCrcMethod()) name += " (BlockCrc)";
    Quickly(benchmark::RegisterBenchmark(name.c_str(), Checksum, method),
            quick);
  }
  Quickly(benchmark::RegisterBenchmark("Checksum/a job's four passes",
                                       JobChecksums),
          quick);
  Quickly(benchmark::RegisterBenchmark("Inflate/LoadCodeImage", Inflate),
          quick);
  Quickly(benchmark::RegisterBenchmark("Restamp", Restamp), quick);
  Quickly(benchmark::RegisterBenchmark("ProfileHandOver", ProfileHandOver),
          quick);
}
