#include "sim/server_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

#include "platform/private_file.h"

namespace {

std::unique_ptr<PrivateFile> OpenForAppending(const std::string& path) {
  std::unique_ptr<PrivateFile> file =
      PrivateFile::Open(path, PrivateFile::Mode::kReadWrite);
  if (file) return file;
  file = PrivateFile::Open(path, PrivateFile::Mode::kCreateNew);
  if (file) return file;
  // Another server made it in between.
  return PrivateFile::Open(path, PrivateFile::Mode::kReadWrite);
}

std::string OneLine(const std::string& message) {
  std::string line = message.substr(0, kServerLogMessageBytes);
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return line;
}

}  // namespace

bool IsServerLogFile(const std::string& name) {
  const std::string log = kServerLogName;
  return name == log || name == log + ".1";
}

std::string ServerLogTime() {
  const std::time_t now =
      std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  // Reports come one at a time, so gmtime's shared result is safe here.
  const std::tm* utc = std::gmtime(&now);
  char text[32] = "";
  if (utc == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc) == 0) {
    return "(no time)";
  }
  return text;
}

ServerLog::ServerLog(std::string path, uint64_t fileBytes,
                     std::function<std::string()> now)
    : path_(std::move(path)), fileBytes_(fileBytes), now_(std::move(now)) {}

void ServerLog::Write(const std::string& message) const {
  try {
    std::string line = now_() + " " + OneLine(message);
    // Even a bound smaller than one line holds: the line is cut to it.
    if (line.size() + 1 > fileBytes_) {
      line.resize(fileBytes_ > 0 ? static_cast<size_t>(fileBytes_ - 1) : 0);
    }
    line += '\n';
    if (line.size() > fileBytes_) return;
    std::unique_ptr<PrivateFile> file = OpenForAppending(path_);
    if (!file) return;
    int64_t size = file->Size();
    if (size < 0) return;
    if (static_cast<uint64_t>(size) + line.size() > fileBytes_) {
      file.reset();
      // The file may be open in another server; then the line is lost
      // rather than the bound.
      if (!RenameOver(path_, path_ + ".1")) return;
      file = OpenForAppending(path_);
      if (!file) return;
      size = file->Size();
      // Another server wrote into the new file in between.
      if (size < 0 || static_cast<uint64_t>(size) + line.size() > fileBytes_) {
        return;
      }
    }
    file->WriteAt(static_cast<uint64_t>(size), line.data(), line.size());
  } catch (...) {
    // Out of memory while reporting: the report is lost, not the job.
  }
}

std::function<void(const std::string&)> ServingReporter(
    const std::string& benchFolder, bool errorOutputSeen) {
  if (errorOutputSeen) {
    return [](const std::string& message) {
      std::fprintf(stderr, "ecuprog-sim: %s\n", message.c_str());
    };
  }
  const auto log =
      std::make_shared<ServerLog>(benchFolder + "/" + kServerLogName);
  return [log](const std::string& message) { log->Write(message); };
}
