#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/private_file.h"

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

PrivateFile::Refusal RefusalOf(int error) {
  using Refusal = PrivateFile::Refusal;
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return Refusal::kMissing;
    case EEXIST:
      return Refusal::kAlreadyThere;
    case ELOOP:
      return Refusal::kLink;
    case EISDIR:
    case ENXIO:  // a socket, or a device nothing answers at
    case ENODEV:
      return Refusal::kNotPlainFile;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return Refusal::kNotAllowed;
    default:
      return Refusal::kOther;
  }
}

}  // namespace

std::unique_ptr<PrivateFile> PrivateFile::Open(const std::string& path,
                                               Mode mode, Refusal* refusal) {
  Refusal ignored = Refusal::kNone;
  if (refusal == nullptr) refusal = &ignored;
  *refusal = Refusal::kNone;
  // Without waiting: opening a pipe waits for its other end, and a device
  // may never answer. What it is, is known only once it is open.
  int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  switch (mode) {
    case Mode::kRead:
      flags |= O_RDONLY;
      break;
    case Mode::kReadWrite:
      flags |= O_RDWR;
      break;
    case Mode::kCreateNew:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
  }
  int fd = -1;
  do {
    fd = open(path.c_str(), flags, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *refusal = RefusalOf(errno);
    return nullptr;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *refusal = Refusal::kNotPlainFile;
    close(fd);
    return nullptr;
  }
  // A plain file never blocks; the flag goes all the same, so that reads
  // and writes behave as on any plain file.
  const int now = fcntl(fd, F_GETFL);
  if (now < 0 || fcntl(fd, F_SETFL, now & ~O_NONBLOCK) != 0) {
    *refusal = Refusal::kOther;
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<PrivateFile>(new PrivateFile(fd));
}

PrivateFile::~PrivateFile() { close(Fd(handle_)); }

bool PrivateFile::ReadAt(uint64_t offset, void* data, size_t length) {
  auto* bytes = static_cast<char*>(data);
  while (length > 0) {
    const ssize_t got =
        pread(Fd(handle_), bytes, length, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return true;
}

bool PrivateFile::WriteAt(uint64_t offset, const void* data, size_t length) {
  const auto* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const ssize_t put =
        pwrite(Fd(handle_), bytes, length, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    offset += static_cast<uint64_t>(put);
    length -= static_cast<size_t>(put);
  }
  return true;
}

int64_t PrivateFile::Size() {
  struct stat status {};
  if (fstat(Fd(handle_), &status) != 0) return -1;
  return static_cast<int64_t>(status.st_size);
}

bool PrivateFile::Sync() { return fsync(Fd(handle_)) == 0; }

bool CreatePrivateFolder(const std::string& path) {
  return mkdir(path.c_str(), 0700) == 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
  // rename replaces a file or an empty folder in one step and refuses a
  // folder that holds anything.
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                RENAME_NOREPLACE) == 0) {
    return true;
  }
  // A file system that cannot rename so: a second name, which link refuses
  // where any entry is, and then the first goes.
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

bool LastMoveWasBlocked() { return false; }

bool SyncFolder(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}
