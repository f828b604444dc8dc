// The bench a newcomer finds on first use: one ready W3 unit to program and
// units that show every other way a unit can be listed.
//
//   w3-bay1   W3, serial 4711, boot 1.40, holds code 1.462.7: ready, the one
//             to choose; identities (1,7,1), (1,0,0) and (2,12,2)
//   w3-bay2   W3 without a serial number (state 700)
//   w3-bay3   W3 with bad boot code (state 90)
//   w3-bay4   W3, serial 4713, blank code flash, not released for
//             programming (state 900): not ready
//   w17-bay5  W17, serial 4715, holds code 1.301.2: ready, another model
//   w3-bay6   W3, serial 4716, boot 1.40, code flash half written as by a
//             job cut short: listed without a code release (state 1000),
//             to choose for rehearsing the rerun; identity (1,0,0)
#ifndef ECUPROG_SIM_DEFAULT_BENCH_H
#define ECUPROG_SIM_DEFAULT_BENCH_H

#include <string>

#include "sim/bench.h"

/// Erases of about a second and program steps a little shorter, as a
/// person watching the tool expects; or none at all, for tests.
enum class BenchTiming { kRealistic, kInstant };

constexpr const char* kDefaultReadyUnit = "w3-bay1";
constexpr int32_t kDefaultReadySerial = 4711;
constexpr const char* kDefaultCutUnit = "w3-bay6";
constexpr int32_t kDefaultCutSerial = 4716;

/// The default bench in `folder`, without writing anything.
SimBench MakeDefaultBench(const std::string& folder, BenchTiming timing);

/// Writes the default bench into `folder` (created if needed): bench.json
/// and the flash files with the code and profile blocks the units hold.
/// Returns the bench. Throws BenchError.
SimBench WriteDefaultBench(const std::string& folder,
                           BenchTiming timing = BenchTiming::kRealistic);

#endif  // ECUPROG_SIM_DEFAULT_BENCH_H
