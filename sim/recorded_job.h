// A job's record (report/job_record.h) as read for a bench: every line
// checked as it is read, and what a bench is made of kept, with the line it
// came from for the messages about it.
#ifndef ECUPROG_SIM_RECORDED_JOB_H
#define ECUPROG_SIM_RECORDED_JOB_H

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/bench.h"

/// The largest record read: a job's record is a few hundred lines.
constexpr size_t kMaxRecordBytes = 16 * 1024 * 1024;

/// How one step of the job ended ("step end").
struct RecordedStepEnd {
  size_t line = 0;
  uint32_t durationMs = 0;
  uint32_t busy = 0;  ///< polls that answered busy
  uint32_t result = 0;
  std::optional<uint16_t> status;
  bool blank = false;
  /// For an erase: whether the unit began erasing (StartErase answered
  /// busy); not given by records that predate it.
  std::optional<bool> began;
};

/// What the record says the server showed and answered.
struct RecordedJob {
  /// How many lines the record has.
  size_t lines = 0;
  /// The model the tool's firmware is for ("firmware").
  std::string target;
  std::optional<std::pair<uint16_t, uint16_t>> version;
  /// The DetectDevices answer's line and its unit records.
  std::optional<size_t> detectLine;
  std::vector<std::vector<uint8_t>> units;
  struct Identities {
    size_t line = 0;
    uint16_t keyA = 0;
    uint16_t keyB = 0;
    std::vector<SimIdentity> list;
  };
  std::optional<Identities> identities;
  /// The ten address bytes OpenDevice was given, and its line.
  std::optional<std::pair<size_t, std::vector<uint8_t>>> opened;
  /// The "unit" line and the serial number it names.
  std::optional<std::pair<size_t, int32_t>> chosenSerial;
  std::set<std::string> stepsBegun;
  /// The erases that StartErase answered busy, so that they ended at a
  /// poll: as their ends say, or as the tool's "erasing" shows.
  std::set<std::string> erasing;
  std::map<std::string, RecordedStepEnd> stepEnds;
  std::map<uint16_t, SimName> accessNames;
  std::map<std::pair<uint16_t, uint16_t>, SimName> identityNames;
  /// How often each call was made.
  std::map<std::string, uint32_t> calls;
  /// The calls' failures, empty outputs and broken arrays, as the faults
  /// that answer them again at the same call.
  std::vector<SimFault> faults;
  /// What of those the bench answers otherwise than the server did.
  std::vector<std::string> notes;
};

/// Reads the record file at `path`: a plain file, never waited on. Throws
/// BenchError naming it.
std::string ReadRecordFile(const std::string& path);

/// Reads the record `text` (from `path`, which every message names). Throws
/// BenchError "<path>: line N: <what>" for a line that is damaged, of a
/// later format or not as the record's format has it.
RecordedJob ReadRecordedJob(const std::string& text, const std::string& path);

#endif  // ECUPROG_SIM_RECORDED_JOB_H
