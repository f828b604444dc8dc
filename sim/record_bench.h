// A bench made from a job's record (report/job_record.h): the units the
// recorded job was shown, byte for byte, and the unit it chose with the
// identities, names, server version and step times the server answered,
// and every failure, refusal and empty answer as a fault at the same call,
// so that a job against the bench sees what the recorded job saw.
//
// The record says nothing of what a unit's flash held, only what the unit
// showed and whether an erase found its region blank. The chosen unit's
// flash therefore holds only what its listing needs: where the listing
// shows a code release, a code block of that release made up for the bench
// (sim/sample_blocks.h) and a profile for it, so that the unit boots as
// listed; where it shows none, erased flash, or, where the recorded erase
// had something to erase, a few bytes that are neither code nor profile.
// The other units are listed as shown and simulate no flash; their
// identities are not known, so GetIdentities fails for them.
#ifndef ECUPROG_SIM_RECORD_BENCH_H
#define ECUPROG_SIM_RECORD_BENCH_H

#include <string>
#include <vector>

#include "sim/bench.h"
#include "sim/code_flash_check.h"
#include "sim/recorded_job.h"

/// What a region of the chosen unit holds when the bench is made.
enum class ReplayFlash {
  kErased,
  /// Not erased, and neither code nor profile: an erase has work to do.
  kNotBlank,
  /// The code block of the release the listing shows (code flash) or a
  /// profile for it (store flash).
  kShownRelease,
};

struct ReplayBench {
  SimBench bench;
  /// The unit the recorded job chose; empty when it chose none.
  std::string chosenUnit;
  int32_t chosenSerial = 0;
  ReplayFlash code = ReplayFlash::kErased;
  ReplayFlash store = ReplayFlash::kErased;
  /// The release the chosen unit shows (kShownRelease only).
  CodeRelease release;
  /// What the record holds that the bench cannot reproduce, one sentence
  /// each, for the person who made it.
  std::vector<std::string> notes;
};

/// The bench in `folder` that the record `text` (read from `recordPath`,
/// which every message names) describes. Throws BenchError "<recordPath>:
/// line N: <what>" for a line that is damaged, of a later format or does
/// not fit the lines before it, and "<recordPath>: <what>" for a record that
/// lacks what a bench needs.
ReplayBench BenchFromRecord(const std::string& text,
                            const std::string& recordPath,
                            const std::string& folder);

/// Writes the bench into its folder: bench.json, and the chosen unit's
/// flash as ReplayBench says. Throws BenchError.
void WriteReplayBench(const ReplayBench& replay);

#endif  // ECUPROG_SIM_RECORD_BENCH_H
