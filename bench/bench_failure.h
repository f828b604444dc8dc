// A benchmark that cannot do its work fails the whole run, so that a broken
// benchmark shows in CI rather than as a missing line.
#ifndef ECUPROG_BENCH_BENCH_FAILURE_H
#define ECUPROG_BENCH_BENCH_FAILURE_H

#include <benchmark/benchmark.h>

/// Ends `state`'s benchmark with `message` and marks the run failed.
void FailBenchmark(benchmark::State& state, const char* message);

/// Whether any benchmark failed.
bool AnyBenchmarkFailed();

#endif  // ECUPROG_BENCH_BENCH_FAILURE_H
