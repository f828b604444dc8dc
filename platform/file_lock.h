// A lock that processes of one user take on a file to share something
// between them one at a time: a unit of a bench, say. The system lets go of
// a process's locks when it ends, however it ends, so a killed holder never
// leaves the thing held.
#ifndef ECUPROG_PLATFORM_FILE_LOCK_H
#define ECUPROG_PLATFORM_FILE_LOCK_H

#include <cstdint>
#include <memory>
#include <string>

class FileLock {
 public:
  enum class Outcome { kTaken, kHeldElsewhere, kCannotOpen };

  /// Takes the lock on `path` without waiting. The file is created (owner
  /// only) when missing and never opened through a symbolic link, nor
  /// taken on anything but a plain file. Two FileLocks of one process
  /// exclude each other as two processes do. Returns the lock when taken,
  /// nullptr otherwise with `*outcome` saying why.
  static std::unique_ptr<FileLock> TryTake(const std::string& path,
                                           Outcome* outcome) {
    return Take(path, /*shared=*/false, outcome);
  }
  /// TryTake for one of many holders: shared locks on `path` exclude only
  /// the lock TryTake takes.
  static std::unique_ptr<FileLock> TryTakeShared(const std::string& path,
                                                 Outcome* outcome) {
    return Take(path, /*shared=*/true, outcome);
  }
  /// Lets go.
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  // The system's own lock, exclusive or shared (platform/*/file_lock_*).
  static std::unique_ptr<FileLock> Take(const std::string& path, bool shared,
                                        Outcome* outcome);
  explicit FileLock(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;
};

#endif  // ECUPROG_PLATFORM_FILE_LOCK_H
