// flock: the lock belongs to the open file, so two opens in one process
// exclude each other too, and it goes with the last descriptor, at the
// latest when the process ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.h"

std::unique_ptr<FileLock> FileLock::Take(const std::string& path, bool shared,
                                         Outcome* outcome) {
  // Without waiting for the other end of a pipe someone put there.
  const int fd =
      open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
           0600);
  if (fd < 0) {
    *outcome = Outcome::kCannotOpen;
    return nullptr;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *outcome = Outcome::kCannotOpen;
    close(fd);
    return nullptr;
  }
  int locked = -1;
  do {
    locked = flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    *outcome =
        errno == EWOULDBLOCK ? Outcome::kHeldElsewhere : Outcome::kCannotOpen;
    close(fd);
    return nullptr;
  }
  *outcome = Outcome::kTaken;
  return std::unique_ptr<FileLock>(new FileLock(fd));
}

FileLock::~FileLock() { close(static_cast<int>(handle_)); }
