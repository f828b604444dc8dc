// Benchmarks of whole jobs: the built tool against the built simulator.
#ifndef ECUPROG_BENCH_JOB_BENCH_H
#define ECUPROG_BENCH_JOB_BENCH_H

#include <string>

/// Registers the simulator and writes its benches in `workspace` (the
/// environment points the tool there), then registers a complete job
/// against an instant unit and a job with long erases; `quick` runs each
/// once, with short erases.
void RegisterJobBenchmarks(const std::string& workspace, bool quick);

#endif  // ECUPROG_BENCH_JOB_BENCH_H
