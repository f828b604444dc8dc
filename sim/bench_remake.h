// Making a bench (the default one, or one made from a job's record) anew in
// a folder that jobs may be using: the units' locks are taken first, so
// that no job is programming a unit while its flash files are written
// over, and none starts until they are whole.
#ifndef ECUPROG_SIM_BENCH_REMAKE_H
#define ECUPROG_SIM_BENCH_REMAKE_H

#include <memory>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "sim/bench.h"
#include "sim/default_bench.h"
#include "sim/record_bench.h"

/// Takes the lock of every unit in `folder`: the units its bench.json has
/// now (when it can be read), those of `next`, and every other "*.lock"
/// there. Throws BenchError naming the unit and its lock when a job holds
/// one or a lock cannot be taken; then holds nothing. Nothing is held for
/// a folder that is not there.
std::vector<std::unique_ptr<FileLock>> HoldBenchUnits(const std::string& folder,
                                                      const SimBench& next);

/// WriteDefaultBench while holding the folder alone (sim/bench_in_use.h)
/// and its units. Throws BenchError, and changes nothing, when a job is
/// served from the folder or holds one of its units.
SimBench RemakeDefaultBench(const std::string& folder, BenchTiming timing);

/// WriteReplayBench into its bench's folder under the same holds and
/// refusals as RemakeDefaultBench.
void RemakeReplayBench(const ReplayBench& replay);

#endif  // ECUPROG_SIM_BENCH_REMAKE_H
