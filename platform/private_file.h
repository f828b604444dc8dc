// Files that hold a user's own data (a bench's description and its units'
// flash): created readable by their owner only, and never opened through a
// symbolic link, so that a link planted in the folder cannot send a write
// elsewhere. Positioned reads and writes, and a way down to the disk.
#ifndef ECUPROG_PLATFORM_PRIVATE_FILE_H
#define ECUPROG_PLATFORM_PRIVATE_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class PrivateFile {
 public:
  enum class Mode {
    kRead,       ///< an existing file, to read
    kReadWrite,  ///< an existing file, to read and write
    kCreateNew,  ///< a new file (none may be there), to read and write
  };

  /// Why Open gave no file.
  enum class Refusal {
    kNone,
    kMissing,       ///< nothing there (or no folder it could be in)
    kAlreadyThere,  ///< kCreateNew, and something is there
    kLink,          ///< a symbolic link, which is not followed
    kNotPlainFile,  ///< a folder, a pipe, a device, a socket or the like
    kNotAllowed,    ///< the user may not (or the file is read-only)
    kOther,
  };

  /// The file at `path`; nullptr when it cannot be opened, and then
  /// `*refusal` (when given) says why. Never waits for anything: a pipe or
  /// a device is refused without waiting for its other end, and is never
  /// read or written.
  static std::unique_ptr<PrivateFile> Open(const std::string& path, Mode mode,
                                           Refusal* refusal = nullptr);
  ~PrivateFile();
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;

  /// Exactly `length` bytes at `offset`; false when fewer could be read.
  bool ReadAt(uint64_t offset, void* data, size_t length);
  /// All `length` bytes at `offset`; false when any could not be written.
  bool WriteAt(uint64_t offset, const void* data, size_t length);
  /// The size in bytes, or -1.
  int64_t Size();
  /// Waits until what was written is on the disk.
  bool Sync();

 private:
  explicit PrivateFile(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;
};

/// Creates the folder `path` for its owner only (its parent must exist).
/// False when anything is there already or it cannot be made.
bool CreatePrivateFolder(const std::string& path);

/// Renames `from` to `to` in one step, replacing a file or an empty folder
/// at `to`. False when it cannot: for a folder, also when `to` is a folder
/// that is not empty (someone else's bench got there first).
bool RenameOver(const std::string& from, const std::string& to);

/// Moves the file `from` to `to` in one step unless something is at `to`
/// already: a file another process put there first is never replaced.
/// False when it cannot, and then `from` is still there.
bool MoveIntoPlace(const std::string& from, const std::string& to);

/// Whether the last RenameOver or MoveIntoPlace of this thread failed only
/// because another program held a file there for the moment: on Windows a
/// virus scanner reading a new file keeps it, and the folder it is in, from
/// being renamed until it lets go. Never on POSIX, where an open file
/// keeps nothing from moving.
bool LastMoveWasBlocked();

/// Makes the entries of folder `path` (a file renamed into it) last across
/// a power cut, where the system needs to be told. False when it cannot.
bool SyncFolder(const std::string& path);

#endif  // ECUPROG_PLATFORM_PRIVATE_FILE_H
