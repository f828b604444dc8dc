// The listing of jobs as a table for the console and as CSV for a
// spreadsheet: the same columns and rows in both.
#ifndef ECUPROG_TOOLS_RECORDS_OUTPUT_H
#define ECUPROG_TOOLS_RECORDS_OUTPUT_H

#include <string>
#include <vector>

#include "tools/job_records.h"

/// A header line, then one line per job, in columns as wide as their
/// widest text; control characters in a text show as "?".
std::string JobsTable(const std::vector<JobSummary>& jobs);

/// Quoted as RFC 4180 has it: a header row, a row per job, a field with a
/// comma, a quote or a line end quoted and its quotes doubled. Rows end in
/// "\n", which Windows writes to a file or a pipe as CR LF, the line end
/// its spreadsheets expect. Its last column names the record file.
std::string JobsCsv(const std::vector<JobSummary>& jobs);

#endif  // ECUPROG_TOOLS_RECORDS_OUTPUT_H
