// A bench in use by jobs: every simulator serving a job holds its bench
// folder, shared with the others, for its whole life, and --make-bench
// writes the bench anew only while it holds the folder alone. A job that
// has listed its units is thus never served flash files the bench no
// longer names, nor a bench half written, at any stage of the job.
//
// The hold is a shared file lock on ".bench.serving.lock" in the folder;
// each holder also holds ".bench.serving-<process id>.lock" alone, so that
// a refusal can name the processes serving. The system lets go of both
// when the process ends in any way.
#ifndef ECUPROG_SIM_BENCH_IN_USE_H
#define ECUPROG_SIM_BENCH_IN_USE_H

#include <memory>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "platform/windows_api.h"

/// The bench lock's name in the folder.
constexpr const char* kServingLockName = ".bench.serving.lock";

/// How long a serving simulator waits while --make-bench holds the bench:
/// writing a bench takes a moment, never this long.
constexpr DWORD kBenchBusyWaitMs = 10000;

/// Whether `name` is the bench lock or a holder's own lock.
bool IsServingLockName(const std::string& name);

class BenchInUse {
 public:
  /// The hold of a simulator serving `folder` (which exists), taken
  /// before it reads the bench it serves. Waits up to kBenchBusyWaitMs
  /// while --make-bench holds it. Throws BenchError naming the lock when
  /// it cannot be taken.
  static std::unique_ptr<BenchInUse> ForServing(const std::string& folder);

  /// The sole hold --make-bench takes on `folder` (nothing where the
  /// folder is not there). Throws BenchError naming the processes serving
  /// from it, when any; removes the holders' locks that their processes
  /// left behind.
  static std::unique_ptr<BenchInUse> ForRemaking(const std::string& folder);

  /// Lets go, and removes this process's own lock file.
  ~BenchInUse();
  BenchInUse(const BenchInUse&) = delete;
  BenchInUse& operator=(const BenchInUse&) = delete;

 private:
  BenchInUse() = default;
  std::unique_ptr<FileLock> bench_;
  std::unique_ptr<FileLock> own_;
  std::string ownPath_;
};

#endif  // ECUPROG_SIM_BENCH_IN_USE_H
