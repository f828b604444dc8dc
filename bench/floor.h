// The floor every figure is set against: what the tool's work on its
// firmware cannot go below, measured on this machine in the same run. It is
// one Crypto++ inflate of the embedded code block (into a buffer of its
// own, as the tool does) plus one plain read of memory per checksum the
// job computes: three over the code image, one over the profile.
#ifndef ECUPROG_BENCH_FLOOR_H
#define ECUPROG_BENCH_FLOOR_H

#include <benchmark/benchmark.h>

/// One floor's worth of work, once.
void RunFloorOnce();

/// The median CPU time of `runs` floors, in seconds; kept for FloorSeconds.
double MeasureFloor(int runs);

/// What MeasureFloor measured.
double FloorSeconds();

/// CPU time of this process so far, in seconds.
double OwnCpuSeconds();

/// Reports `cpuSecondsPerIteration` as counters: "cpu_ms" and "x_floor",
/// its ratio to the floor.
void ReportAgainstFloor(benchmark::State& state, double cpuSecondsPerIteration);

#endif  // ECUPROG_BENCH_FLOOR_H
