// Benchmarks of one round of the erase wait.
#ifndef ECUPROG_BENCH_POLL_BENCH_H
#define ECUPROG_BENCH_POLL_BENCH_H

#include <string>

/// Registers a PollErase round trip to the simulator started as its own
/// process on `instantBench` (the registry must already name it), and the
/// pause between two polls.
void RegisterPollBenchmarks(const std::string& instantBench, bool quick);

#endif  // ECUPROG_BENCH_POLL_BENCH_H
