// The job records of a folder, or of files named one by one, read for the
// listing: only plain files, never through a symbolic link, never waiting
// on a pipe or a device, never written.
#ifndef ECUPROG_TOOLS_RECORDS_LISTING_H
#define ECUPROG_TOOLS_RECORDS_LISTING_H

#include <string>
#include <vector>

#include "tools/job_records.h"

struct RecordsListing {
  std::vector<JobSummary> jobs;
  /// One line for each record left out or read in part, and for each
  /// folder or file that could not be read: "PATH: why".
  std::vector<std::string> problems;
  /// Whether a folder or a file named could not be read at all (as opposed
  /// to a record in it that was damaged).
  bool pathUnreadable = false;
};

/// Reads the records at `path`: a record file, or a folder whose files
/// named "*.jsonl" are records. A folder that is not there holds no
/// records when `missingIsEmpty`, else it is a problem.
void ReadRecordsAt(const std::string& path, bool missingIsEmpty,
                   RecordsListing* listing);

/// Newest first, by the time each job started; jobs that started in the
/// same millisecond by their records' names.
void SortNewestFirst(std::vector<JobSummary>* jobs);

/// The jobs whose chosen unit has the serial number `serial` (decimal,
/// leading zeros allowed).
std::vector<JobSummary> JobsOnUnit(const std::vector<JobSummary>& jobs,
                                   const std::string& serial);

#endif  // ECUPROG_TOOLS_RECORDS_LISTING_H
