// What the harnesses share: the check that turns a broken promise into a
// crash the fuzzer reports, and reading a file whole.
#ifndef ECUPROG_FUZZ_FUZZ_CHECK_H
#define ECUPROG_FUZZ_FUZZ_CHECK_H

#include <cstdint>
#include <string>
#include <vector>

/// Aborts with `what` when `condition` is false, so that libFuzzer keeps
/// the input as a crash.
#define FUZZ_CHECK(condition, what) \
  ((condition) ? (void)0 : FuzzFailed(__FILE__, __LINE__, #condition, what))

[[noreturn]] void FuzzFailed(const char* file, int line, const char* condition,
                             const std::string& what);

/// Writes what a run wrote to stderr when ECUPROG_FUZZ_SHOW is set: for
/// looking at what a seed or a crash input does, run alone.
void ShowOutput(const std::string& output);

/// The file's bytes; aborts when it cannot be read.
std::vector<uint8_t> ReadFileOrDie(const char* path);

#endif  // ECUPROG_FUZZ_FUZZ_CHECK_H
