// LockFileEx on the file's first byte: the lock belongs to the handle, so
// two opens in one process exclude each other too, and Windows lets go of
// it when the handle is closed, at the latest when the process ends.
#include "platform/file_lock.h"
#include "platform/win32/wide_path.h"

std::unique_ptr<FileLock> FileLock::Take(const std::string& path, bool shared,
                                         Outcome* outcome) {
  HANDLE file =
      OpenWithoutFollowing(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) {
    *outcome = Outcome::kCannotOpen;
    return nullptr;
  }
  OVERLAPPED at{};
  const DWORD mode = shared ? 0 : LOCKFILE_EXCLUSIVE_LOCK;
  if (!LockFileEx(file, mode | LOCKFILE_FAIL_IMMEDIATELY,
                  /*dwReserved=*/0, /*nNumberOfBytesToLockLow=*/1,
                  /*nNumberOfBytesToLockHigh=*/0, &at)) {
    *outcome = GetLastError() == ERROR_LOCK_VIOLATION ? Outcome::kHeldElsewhere
                                                      : Outcome::kCannotOpen;
    CloseHandle(file);
    return nullptr;
  }
  *outcome = Outcome::kTaken;
  return std::unique_ptr<FileLock>(
      new FileLock(reinterpret_cast<intptr_t>(file)));
}

FileLock::~FileLock() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }
