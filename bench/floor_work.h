// The floor's work itself, with nothing of the benchmark library in it, so
// that it can also run alone in a process of its own (floor_process.cpp).
#ifndef ECUPROG_BENCH_FLOOR_WORK_H
#define ECUPROG_BENCH_FLOOR_WORK_H

#include <cstddef>
#include <cstdint>

/// One Crypto++ inflate of the embedded code block into a buffer of its
/// own, then one plain read of memory per checksum a job computes: three
/// over the code image, one over the profile. Returns something that depends
/// on every byte read, so that no read can be left out.
uint64_t DoFloorWork();

/// Reads every byte of `bytes` once and returns something that depends on
/// all of them.
uint64_t ReadPass(const uint8_t* bytes, size_t length);

#endif  // ECUPROG_BENCH_FLOOR_WORK_H
