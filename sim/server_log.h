// The serving simulator's log: what it has to tell its user about a fault
// (a bench it cannot read, a unit's flash file it cannot use), where a
// server that COM starts has no error output anyone sees. It lies in the
// bench folder, where the rehearsal's user looks, with the folder's rights
// (created for its owner only where the system asks). Two files of a
// bounded size: a job is never held up by the log, and a server that
// reports on every job of a long rehearsal never fills the disk.
#ifndef ECUPROG_SIM_SERVER_LOG_H
#define ECUPROG_SIM_SERVER_LOG_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

/// The log's file in the bench folder; the one before it is beside it, with
/// ".1" added.
constexpr const char* kServerLogName = "ecuprog-sim.log";
/// The most one of the two files holds.
constexpr uint64_t kServerLogFileBytes = 256 * 1024;
/// A longer message is cut, so that a line always fits a file many times.
constexpr size_t kServerLogMessageBytes = 4096;

/// Whether a file of that name in a bench folder is the log's: it does not
/// make the folder one that holds a bench.
bool IsServerLogFile(const std::string& name);

/// The current time as a line of the log begins: "2026-12-10 20:03:20 UTC".
std::string ServerLogTime();

/// Appends lines to the log at `path`.
class ServerLog {
 public:
  /// `fileBytes` bounds each of the two files; `now` gives the time each
  /// line begins with.
  explicit ServerLog(std::string path, uint64_t fileBytes = kServerLogFileBytes,
                     std::function<std::string()> now = ServerLogTime);

  /// Appends "<time> <message>" as one line (line breaks in the message
  /// become blanks). A line that would take the file past its bound first
  /// moves it to the ".1" file, in place of the one there. Never waits and
  /// never throws: a line that cannot be written (no folder, no space, the
  /// file in use) is lost, and the job goes on.
  void Write(const std::string& message) const;

 private:
  std::string path_;
  uint64_t fileBytes_;
  std::function<std::string()> now_;
};

/// How a serving simulator on the bench in `benchFolder` tells its user
/// about a fault: as "ecuprog-sim: <message>" on its error output when that
/// reaches its user (`errorOutputSeen`), otherwise in the bench's log.
std::function<void(const std::string&)> ServingReporter(
    const std::string& benchFolder, bool errorOutputSeen);

#endif  // ECUPROG_SIM_SERVER_LOG_H
