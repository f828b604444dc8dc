#include "bench/floor.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "bench/floor_work.h"

namespace {

double g_floorSeconds = 0;

}  // namespace

void RunFloorOnce() { benchmark::DoNotOptimize(DoFloorWork()); }

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
