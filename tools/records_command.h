// ecuprog-records: the jobs of the user's records folder (or of the record
// files and folders named) listed newest first, as a table or as CSV.
#ifndef ECUPROG_TOOLS_RECORDS_COMMAND_H
#define ECUPROG_TOOLS_RECORDS_COMMAND_H

#include <string>
#include <vector>

/// Exit codes: the listing was made (records that could not be read are
/// named in `*errors` and left out); it could not be (no records folder
/// can be named, a path given is not there, a folder cannot be read);
/// the arguments are not understood.
constexpr int kListed = 0;
constexpr int kNotListed = 1;
constexpr int kBadUsage = 2;

/// Runs the program on `arguments` (its own name not among them): the
/// listing goes to `*listing`, the problems to `*errors`, a line each.
int ListJobRecords(const std::vector<std::string>& arguments,
                   std::string* listing, std::string* errors);

#endif  // ECUPROG_TOOLS_RECORDS_COMMAND_H
