#include "tools/records_listing.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/private_file.h"
#include "platform/system_text.h"

namespace {

namespace fs = std::filesystem;

// A job's record is some kilobytes; a file far larger is no record of
// ours, and is not read into memory whole.
constexpr int64_t kLargestRecord = 16 * 1024 * 1024;

const char kRecordSuffix[] = ".jsonl";

std::string RefusalText(PrivateFile::Refusal refusal) {
  using Refusal = PrivateFile::Refusal;
  switch (refusal) {
    case Refusal::kMissing:
      return "no such file";
    case Refusal::kLink:
      return "a symbolic link, which is not followed";
    case Refusal::kNotPlainFile:
      return "not a plain file (a folder, a pipe, a device or the like)";
    case Refusal::kNotAllowed:
      return "this user may not read it";
    default:
      return "it cannot be opened";
  }
}

// The bytes of the plain file at `path`; false and `*why` when it cannot
// be had.
bool ReadWhole(const std::string& path, std::string* text, std::string* why) {
  PrivateFile::Refusal refusal = PrivateFile::Refusal::kNone;
  std::unique_ptr<PrivateFile> file =
      PrivateFile::Open(path, PrivateFile::Mode::kRead, &refusal);
  if (!file) {
    *why = RefusalText(refusal);
    return false;
  }
  const int64_t size = file->Size();
  if (size < 0) {
    *why = "its size cannot be read";
    return false;
  }
  if (size > kLargestRecord) {
    *why = "too large for a job record (" + std::to_string(size) + " bytes)";
    return false;
  }
  text->assign(static_cast<size_t>(size), '\0');
  if (size > 0 && !file->ReadAt(0, text->data(), text->size())) {
    *why = "it cannot be read";
    return false;
  }
  return true;
}

void ReadRecordFile(const std::string& path, RecordsListing* listing) {
  std::string text;
  std::string why;
  if (!ReadWhole(path, &text, &why)) {
    listing->problems.push_back(path + ": skipped: " + why);
    return;
  }
  JobSummary job;
  job.record = path;
  switch (SummariseJobRecord(text, &job, &why)) {
    case RecordVerdict::kRead:
      listing->jobs.push_back(job);
      break;
    case RecordVerdict::kTorn:
      listing->problems.push_back(
          path +
          ": its last line is incomplete (the run was cut while "
          "writing it); listed from the lines before it");
      listing->jobs.push_back(job);
      break;
    case RecordVerdict::kDamaged:
      listing->problems.push_back(path + ": skipped: " + why);
      break;
  }
}

bool IsRecordName(const std::string& name) {
  const size_t suffix = sizeof kRecordSuffix - 1;
  return name.size() > suffix &&
         name.compare(name.size() - suffix, suffix, kRecordSuffix) == 0;
}

}  // namespace

void ReadRecordsAt(const std::string& path, bool missingIsEmpty,
                   RecordsListing* listing) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(PathOf(path), error);
  if (status.type() == fs::file_type::not_found) {
    if (!missingIsEmpty) {
      listing->problems.push_back(path + ": no such file or folder");
      listing->pathUnreadable = true;
    }
    return;
  }
  // The folder named is read where it leads, as the tool writes through
  // it: a user may keep the records elsewhere. A file named, and every
  // entry of a folder, is never followed.
  if (status.type() != fs::file_type::directory &&
      !(fs::is_symlink(status) && fs::is_directory(PathOf(path), error))) {
    ReadRecordFile(path, listing);
    return;
  }
  std::vector<std::string> names;
  fs::directory_iterator entries(PathOf(path), error);
  for (; !error && entries != fs::directory_iterator();
       entries.increment(error)) {
    const std::string name = TextOf(entries->path().filename());
    if (IsRecordName(name)) names.push_back(name);
  }
  if (error) {
    listing->problems.push_back(path + ": the folder cannot be read");
    listing->pathUnreadable = true;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    ReadRecordFile(TextOf(PathOf(path) / PathOf(name)), listing);
  }
}

void SortNewestFirst(std::vector<JobSummary>* jobs) {
  std::stable_sort(jobs->begin(), jobs->end(),
                   [](const JobSummary& a, const JobSummary& b) {
                     if (a.started != b.started) return a.started > b.started;
                     return a.record > b.record;
                   });
}

std::vector<JobSummary> JobsOnUnit(const std::vector<JobSummary>& jobs,
                                   const std::string& serial) {
  const std::string wanted = CanonicalSerial(serial);
  std::vector<JobSummary> found;
  for (const JobSummary& job : jobs) {
    if (job.unitChosen && !wanted.empty() &&
        CanonicalSerial(job.serial) == wanted) {
      found.push_back(job);
    }
  }
  return found;
}
