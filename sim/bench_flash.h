// Reading and writing a bench unit's flash outside the server: how a test
// or the default bench puts code into a unit before the server starts, and
// how a test looks at what the server wrote.
#ifndef ECUPROG_SIM_BENCH_FLASH_H
#define ECUPROG_SIM_BENCH_FLASH_H

#include <cstdint>
#include <string>
#include <vector>

#include "sim/bench.h"
#include "sim/flash_file.h"

/// The flash file of `unitName`'s region. Throws BenchError when there is
/// no such unit or it simulates no flash.
FlashFile BenchFlash(const SimBench& bench, const std::string& unitName,
                     SimRegion region);

/// Writes `bytes` at unit address `address` (creating the file erased
/// first if needed). Throws BenchError, also when the bytes do not fit.
void WriteBenchFlash(const SimBench& bench, const std::string& unitName,
                     SimRegion region, uint32_t address,
                     const std::vector<uint8_t>& bytes);

/// The whole region, from its base address. Throws BenchError.
std::vector<uint8_t> ReadBenchFlash(const SimBench& bench,
                                    const std::string& unitName,
                                    SimRegion region);

#endif  // ECUPROG_SIM_BENCH_FLASH_H
