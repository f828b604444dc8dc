// One job record read back: what a workshop manager asks of a job (which
// release went onto which unit, when, on which PC, by whom, under which
// identity) and how the job ended, from the lines report/job_record.h
// describes.
#ifndef ECUPROG_TOOLS_JOB_RECORDS_H
#define ECUPROG_TOOLS_JOB_RECORDS_H

#include <string>

/// A job as the listing shows it. Texts are UTF-8, "" where the record
/// says nothing of it.
struct JobSummary {
  std::string record;   ///< the record's path, as it was read
  std::string started;  ///< UTC, as the record writes it
  std::string pc;
  std::string user;
  std::string model;   ///< the unit chosen; "" when none was
  std::string serial;  ///< decimal
  std::string label;
  std::string release;     ///< the firmware release the tool carried
  std::string unitBefore;  ///< the unit's code release before the job
  bool unitChosen = false;
  bool unitHadRelease = false;
  std::string identity;  ///< the name the code programmer was asked under
  std::string outcome;   ///< "finished", "refused: ...", "cut during ..."
};

/// What reading one record's text gave.
enum class RecordVerdict {
  kRead,     ///< `*job` holds it
  kTorn,     ///< `*job` holds it, but its last line was cut while written
  kDamaged,  ///< no summary: `*why` says what is wrong
};

/// Summarises the text of one record. A line that is not JSON, a first
/// line that is no "job" line or a format later than this reader's gives
/// kDamaged; a last line without its line end that is not JSON (a run cut
/// while writing it) is left out and gives kTorn, so that a job cut short
/// by a power cut is still listed, as cut.
RecordVerdict SummariseJobRecord(const std::string& text, JobSummary* job,
                                 std::string* why);

/// The unit's serial number as the listing and --unit compare it: decimal
/// without leading zeros; "" when `text` is no decimal number.
std::string CanonicalSerial(const std::string& text);

#endif  // ECUPROG_TOOLS_JOB_RECORDS_H
