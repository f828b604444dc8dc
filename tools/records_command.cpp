#include "tools/records_command.h"

#include "platform/records_folder.h"
#include "tools/job_records.h"
#include "tools/records_listing.h"
#include "tools/records_output.h"

namespace {

const char kUsage[] =
    "usage: ecuprog-records [--unit SERIAL] [--csv] [FILE|FOLDER...]\n"
    "Lists the jobs ecuprog recorded, newest first: when, on which PC, by\n"
    "which user, on which unit, the release, the identity, how it ended.\n"
    "  --unit SERIAL  only the jobs on the unit with this serial number\n"
    "  --csv          CSV for a spreadsheet instead of the table\n"
    "  FILE|FOLDER    read these records instead of the user's records "
    "folder\n";

struct Options {
  bool csv = false;
  bool help = false;
  std::string unit;
  std::vector<std::string> paths;
};

bool ParseOptions(const std::vector<std::string>& arguments, Options* options,
                  std::string* why) {
  bool onlyPaths = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (onlyPaths || argument.empty() || argument[0] != '-') {
      options->paths.push_back(argument);
    } else if (argument == "--") {
      onlyPaths = true;
    } else if (argument == "--csv") {
      options->csv = true;
    } else if (argument == "--help" || argument == "-h") {
      options->help = true;
    } else if (argument == "--unit" || argument.rfind("--unit=", 0) == 0) {
      std::string serial;
      if (argument == "--unit") {
        if (i + 1 == arguments.size()) {
          *why = "--unit needs the unit's serial number";
          return false;
        }
        serial = arguments[++i];
      } else {
        serial = argument.substr(sizeof "--unit=" - 1);
      }
      if (CanonicalSerial(serial).empty()) {
        *why = "--unit needs a serial number (digits), not \"" + serial + "\"";
        return false;
      }
      options->unit = serial;
    } else {
      *why = "unknown option " + argument;
      return false;
    }
  }
  return true;
}

}  // namespace

int ListJobRecords(const std::vector<std::string>& arguments,
                   std::string* listing, std::string* errors) {
  Options options;
  std::string why;
  if (!ParseOptions(arguments, &options, &why)) {
    *errors += "ecuprog-records: " + why + "\n" + kUsage;
    return kBadUsage;
  }
  if (options.help) {
    *listing += kUsage;
    return kListed;
  }
  RecordsListing records;
  std::string where = "the records named";
  if (options.paths.empty()) {
    const std::string folder = RecordsFolder(&why);
    where = folder;
    if (folder.empty()) {
      *errors += "ecuprog-records: no records folder: " + why + "\n";
      return kNotListed;
    }
    // A PC on which no job has run yet has no folder: no jobs.
    ReadRecordsAt(folder, /*missingIsEmpty=*/true, &records);
  }
  for (const std::string& path : options.paths) {
    ReadRecordsAt(path, /*missingIsEmpty=*/false, &records);
  }
  for (const std::string& problem : records.problems) {
    *errors += "ecuprog-records: " + problem + "\n";
  }
  SortNewestFirst(&records.jobs);
  if (!options.unit.empty()) {
    records.jobs = JobsOnUnit(records.jobs, options.unit);
  }
  if (records.jobs.empty() && records.problems.empty()) {
    *errors += "ecuprog-records: no job" +
               (options.unit.empty() ? "" : " on unit " + options.unit) +
               " recorded in " + where + "\n";
  }
  *listing += options.csv ? JobsCsv(records.jobs) : JobsTable(records.jobs);
  return records.pathUnreadable ? kNotListed : kListed;
}
