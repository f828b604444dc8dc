// What a test puts where a bench's file belongs when it is no plain file,
// or one the simulator may not write.
#ifndef ECUPROG_TESTS_SIM_UNUSUAL_FILES_H
#define ECUPROG_TESTS_SIM_UNUSUAL_FILES_H

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

/// A named pipe with nothing at its other end: an open that waits for one
/// waits for ever.
inline bool MakePipe(const std::string& path) {
  return mkfifo(path.c_str(), 0600) == 0;
}

/// A socket's name in the folder, which no open can take.
inline bool MakeSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address),
                          sizeof address) == 0;
  close(fd);
  return bound;
}

/// Makes the plain file at `path` one that cannot be opened for writing:
/// read-only, and where the user may write anyway (root), unchangeable.
/// False when that cannot be done here; MakeWritable undoes it.
inline bool MakeUnwritable(const std::string& path) {
  if (chmod(path.c_str(), 0400) != 0) return false;
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return true;
  int flags = 0;
  const bool fixed =
      ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
      (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
  close(fd);
  if (!fixed) return false;
  fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return true;
  close(fd);
  return false;
}

inline void MakeWritable(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
        (flags & FS_IMMUTABLE_FL) != 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    close(fd);
  }
  chmod(path.c_str(), 0600);
}

#endif  // ECUPROG_TESTS_SIM_UNUSUAL_FILES_H
