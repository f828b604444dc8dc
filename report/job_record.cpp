#include "report/job_record.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "platform/private_file.h"
#include "platform/records_folder.h"
#include "platform/system_text.h"
#include "platform/windows_api.h"

namespace {

struct Record {
  std::unique_ptr<PrivateFile> file;
  std::string path;
  uint64_t written = 0;
  LONGLONG opened = 0;
  LONGLONG frequency = 0;
  std::string screen;  // shown, not yet written
};

// The run's one record; empty when none is kept.
Record* g_record = nullptr;

LONGLONG Counter() {
  LARGE_INTEGER count;
  count.QuadPart = 0;
  QueryPerformanceCounter(&count);
  return count.QuadPart;
}

// The one line a run writes about its record, on its error output, so that
// the dialogue on the console stays as it is.
void Complain(const std::string& what) {
  WriteText(stderr, "ecuprog: " + what + "\n");
}

void Drop() {
  delete g_record;
  g_record = nullptr;
}

const char* Why(PrivateFile::Refusal refusal) {
  switch (refusal) {
    case PrivateFile::Refusal::kMissing:
      return "the folder is not there";
    case PrivateFile::Refusal::kAlreadyThere:
      return "a file of that name is there already";
    case PrivateFile::Refusal::kLink:
    case PrivateFile::Refusal::kNotPlainFile:
      return "something that is no file is in its place";
    case PrivateFile::Refusal::kNotAllowed:
      return "the user may not write there";
    default:
      return "it cannot be written (the disk may be full or read-only)";
  }
}

// Days since 1970-01-01 as a civil date (proleptic Gregorian calendar).
void CivilDate(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear =
      dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
  *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2);
}

// "2026-12-11T03:04:05.123Z", or with `compact` "20261211T030405Z" for a
// file name.
std::string UtcText(bool compact) {
  const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  const int64_t days =
      seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t inDay = seconds - days * 86400;
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilDate(days, &year, &month, &day);
  char text[96];
  if (compact) {
    std::snprintf(text, sizeof text, "%04lld%02u%02uT%02d%02d%02dZ",
                  static_cast<long long>(year), month, day,
                  static_cast<int>(inDay / 3600),
                  static_cast<int>(inDay / 60 % 60),
                  static_cast<int>(inDay % 60));
  } else {
    std::snprintf(
        text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ",
        static_cast<long long>(year), month, day,
        static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
        static_cast<int>(inDay % 60), static_cast<int>(ms - seconds * 1000));
  }
  return text;
}

// A new file of its own in the folder: never one an earlier job wrote.
std::unique_ptr<PrivateFile> CreateRecordFile(const std::string& folder,
                                              std::string* path,
                                              PrivateFile::Refusal* refusal) {
  const std::string stem = folder + "/job-" + UtcText(/*compact=*/true) + "-" +
                           std::to_string(GetCurrentProcessId());
  for (int attempt = 1; attempt <= 100; ++attempt) {
    *path =
        stem + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + ".jsonl";
    std::unique_ptr<PrivateFile> file =
        PrivateFile::Open(*path, PrivateFile::Mode::kCreateNew, refusal);
    if (file || *refusal != PrivateFile::Refusal::kAlreadyThere) return file;
  }
  return nullptr;
}

}  // namespace

std::string RecordTimeNow() { return UtcText(/*compact=*/false); }

std::string RecordResult(long result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX",
                static_cast<unsigned long>(result) & 0xFFFFFFFFul);
  return text;
}

std::string RecordText(const OLECHAR* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length &&
        static_cast<uint16_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<uint16_t>(text[i + 1]) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) +
          (static_cast<uint16_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

void OpenJobRecord() {
  Drop();
  std::string why;
  const std::string folder = RecordsFolder(&why);
  if (folder.empty()) {
    Complain("no record of this job is kept: " + why);
    return;
  }
  if (!MakeRecordsFolder(folder, &why)) {
    Complain("no record of this job is kept in " + folder + ": " + why);
    return;
  }
  auto record = std::make_unique<Record>();
  PrivateFile::Refusal refusal = PrivateFile::Refusal::kNone;
  record->file = CreateRecordFile(folder, &record->path, &refusal);
  if (!record->file) {
    Complain("no record of this job is kept in " + folder + ": " +
             Why(refusal));
    return;
  }
  LARGE_INTEGER frequency;
  record->frequency =
      QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
  record->opened = Counter();
  g_record = record.release();
  RecordEntry({{"entry", "job"},
               {"format", kJobRecordFormat},
               {"tool", "ecuprog"},
               {"version", ECUPROG_VERSION},
               {"started", RecordTimeNow()},
               {"pc", ComputerName()},
               {"user", UserName()},
               {"process", GetCurrentProcessId()}});
}

bool JobRecordOpen() { return g_record != nullptr; }

void RecordScreen(const std::string& text) {
  if (g_record == nullptr) return;
  g_record->screen += text;
  if (!g_record->screen.empty() && g_record->screen.back() == '\n') {
    RecordScreenShown();
  }
}

void RecordScreenShown() {
  if (g_record == nullptr || g_record->screen.empty()) return;
  std::string text;
  text.swap(g_record->screen);
  RecordEntry({{"entry", "screen"}, {"text", text}});
}

void RecordEntry(nlohmann::ordered_json entry, bool toDisk) {
  if (g_record == nullptr) return;
  // What was shown before comes first.
  if (!g_record->screen.empty() && entry["entry"] != "screen") {
    RecordScreenShown();
    if (g_record == nullptr) return;
  }
  double ms = 0;
  if (g_record->frequency != 0) {
    ms = static_cast<double>(Counter() - g_record->opened) * 1000.0 /
         static_cast<double>(g_record->frequency);
  }
  entry["ms"] = std::round(ms * 1000.0) / 1000.0;
  // Texts from the server or the keyboard need not be UTF-8: what is not
  // is written as U+FFFD rather than lost with the whole line. The unit
  // records themselves are kept byte for byte as hex.
  std::string line = entry.dump(
      -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  line.push_back('\n');
  // One write for the whole line, so that a line that is there is whole.
  bool written =
      g_record->file->WriteAt(g_record->written, line.data(), line.size());
  if (written) g_record->written += line.size();
  if (written && toDisk) written = g_record->file->Sync();
  if (!written) {
    Complain(
        "the record of this job could not be written on (the disk may "
        "be full): " +
        g_record->path + "; the job goes on without it");
    Drop();
  }
}

void EndJobRecord(int exitCode, const char* message) {
  RecordEntry({{"entry", "end"},
               {"message", message},
               {"exit code", exitCode},
               {"ended", RecordTimeNow()}},
              /*toDisk=*/true);
  Drop();
}

void DropJobRecord() { Drop(); }
