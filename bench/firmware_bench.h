// Benchmarks of the tool's work on its firmware, run in this process.
#ifndef ECUPROG_BENCH_FIRMWARE_BENCH_H
#define ECUPROG_BENCH_FIRMWARE_BENCH_H

/// Registers the checksum, inflate, restamp and profile hand-over
/// benchmarks; `quick` runs each twice, to show that it still runs.
void RegisterFirmwareBenchmarks(bool quick);

#endif  // ECUPROG_BENCH_FIRMWARE_BENCH_H
