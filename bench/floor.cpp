#include "bench/floor.h"

#include <cryptopp/zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "blocks/code_image.h"
#include "blocks/image_resource.h"
#include "blocks/profile_block.h"

namespace {

double g_floorSeconds = 0;

const ImageResourceMessages kMessages = {"NOT FOUND", "TOO SMALL",
                                         "CANNOT LOAD", "CANNOT LOCK"};

}  // namespace

uint64_t ReadPass(const uint8_t* bytes, size_t length) {
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    sum ^= word;
  }
  for (; i < length; ++i) sum ^= bytes[i];
  return sum;
}

void RunFloorOnce() {
  static const ImageResource code =
      LoadImageResource(kCodeResourceId, kMessages);
  static const ImageResource profile =
      LoadImageResource(kProfileResourceId, kMessages);
  CryptoPP::ZlibDecompressor inflater;
  inflater.PutMessageEnd(code.bytes, code.size);
  const size_t length = static_cast<size_t>(inflater.MaxRetrievable());
  std::unique_ptr<uint8_t[]> image(new uint8_t[length]);
  inflater.Get(image.get(), length);
  for (int pass = 0; pass < 3; ++pass) {
    benchmark::DoNotOptimize(ReadPass(image.get(), length));
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(ReadPass(profile.bytes, profile.size));
}

double OwnCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) +
         static_cast<double>(now.tv_nsec) / 1e9;
}

double MeasureFloor(int runs) {
  // The first runs are slower while the heap and the caches settle.
  for (int i = 0; i < runs / 2 + 1; ++i) RunFloorOnce();
  std::vector<double> seconds;
  for (int i = 0; i < runs; ++i) {
    const double start = OwnCpuSeconds();
    RunFloorOnce();
    seconds.push_back(OwnCpuSeconds() - start);
  }
  std::nth_element(seconds.begin(), seconds.begin() + runs / 2, seconds.end());
  g_floorSeconds = seconds[runs / 2];
  return g_floorSeconds;
}

double FloorSeconds() { return g_floorSeconds; }

void ReportAgainstFloor(benchmark::State& state,
                        double cpuSecondsPerIteration) {
  state.counters["cpu_ms"] = cpuSecondsPerIteration * 1e3;
  if (g_floorSeconds > 0) {
    state.counters["x_floor"] = cpuSecondsPerIteration / g_floorSeconds;
  }
}
