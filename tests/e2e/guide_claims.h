// What a run that has stopped shows about the unit, held to the "Unit:"
// lines of the operator's guide (MESSAGES.txt).
#ifndef ECUPROG_TESTS_E2E_GUIDE_CLAIMS_H
#define ECUPROG_TESTS_E2E_GUIDE_CLAIMS_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/messages_guide.h"

/// What a run left: its last message, what it wrote before it, and the
/// unit's flash against what it held before the run and against the
/// firmware the run carried.
struct Observation {
  std::string message;
  std::string before;  // the screen up to the message
  int exitCode = -1;
  bool changed = false;  // either flash file differs
  bool written = false;  // the carried firmware is in both flashes
};

/// True when `code` holds `image` restamped (intact, the stamp aside) and
/// `store` begins with `profile`.
bool HoldsFirmware(const std::vector<uint8_t>& code,
                   const std::vector<uint8_t>& store,
                   const std::vector<uint8_t>& image,
                   const std::vector<uint8_t>& profile);

/// Splits a screen at its last message: the line before "Press space to
/// exit", from the end of the progress prefix or the question it completes
/// (an answer through a pipe is not echoed).
void SplitAtMessage(const std::string& screen, Observation* seen);

/// The guide's entry for the run's message against the run: empty when
/// the run bears out the "Unit:" line for where it stopped, otherwise what
/// contradicts it.
std::string GuideContradiction(const GuideEntry& entry,
                               const Observation& seen);

/// The job's record against the same "Unit:" line: empty when the record
/// tells the same (its end, and how far the unit was changed), otherwise
/// what differs. No record at all bears out "not contacted" only.
std::string RecordContradiction(const GuideEntry& entry,
                                const Observation& seen,
                                const std::vector<nlohmann::json>& record);

/// The last step the record shows begun (with `open`, and not ended); ""
/// when none.
std::string LastStep(const std::vector<nlohmann::json>& record, bool open);

/// The guide's entries, from the source tree's MESSAGES.txt.
std::vector<GuideEntry> SourceGuide();

#endif  // ECUPROG_TESTS_E2E_GUIDE_CLAIMS_H
