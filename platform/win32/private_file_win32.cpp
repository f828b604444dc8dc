// Files created by the user inherit the folder's rights, which in the
// user's own profile (%LOCALAPPDATA%) are the user's alone.
#include "platform/private_file.h"
#include "platform/win32/wide_path.h"

namespace {

HANDLE Handle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// One call moves at most this much, so the count fits a DWORD.
constexpr size_t kMaxChunk = 1 << 30;

// Whether this thread's last move failed on a file another program held.
thread_local bool lastMoveBlocked = false;

// A file held open without FILE_SHARE_DELETE refuses its own rename with a
// sharing violation, and any open file in a folder refuses the folder's
// rename with access denied.
bool Moved(BOOL result) {
  const DWORD error = result ? ERROR_SUCCESS : GetLastError();
  lastMoveBlocked =
      error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
  return result != 0;
}

PrivateFile::Refusal RefusalOf(DWORD error) {
  using Refusal = PrivateFile::Refusal;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Refusal::kMissing;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Refusal::kAlreadyThere;
    case ERROR_CANT_ACCESS_FILE:
      return Refusal::kLink;
    case ERROR_BAD_FILE_TYPE:
    case ERROR_PIPE_BUSY:
      return Refusal::kNotPlainFile;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
      return Refusal::kNotAllowed;
    default:
      return Refusal::kOther;
  }
}

}  // namespace

std::unique_ptr<PrivateFile> PrivateFile::Open(const std::string& path,
                                               Mode mode, Refusal* refusal) {
  if (refusal != nullptr) *refusal = Refusal::kNone;
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode != Mode::kRead) access |= GENERIC_WRITE;
  if (mode == Mode::kCreateNew) disposition = CREATE_NEW;
  HANDLE file = OpenWithoutFollowing(path, access, disposition);
  if (file == INVALID_HANDLE_VALUE) {
    if (refusal != nullptr) *refusal = RefusalOf(GetLastError());
    return nullptr;
  }
  return std::unique_ptr<PrivateFile>(
      new PrivateFile(reinterpret_cast<intptr_t>(file)));
}

PrivateFile::~PrivateFile() { CloseHandle(Handle(handle_)); }

bool PrivateFile::ReadAt(uint64_t offset, void* data, size_t length) {
  auto* bytes = static_cast<char*>(data);
  while (length > 0) {
    const DWORD chunk =
        static_cast<DWORD>(length < kMaxChunk ? length : kMaxChunk);
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), bytes, chunk, &got, &at) || got == 0) {
      return false;
    }
    bytes += got;
    offset += got;
    length -= got;
  }
  return true;
}

bool PrivateFile::WriteAt(uint64_t offset, const void* data, size_t length) {
  const auto* bytes = static_cast<const char*>(data);
  while (length > 0) {
    const DWORD chunk =
        static_cast<DWORD>(length < kMaxChunk ? length : kMaxChunk);
    OVERLAPPED at = At(offset);
    DWORD put = 0;
    if (!WriteFile(Handle(handle_), bytes, chunk, &put, &at) || put == 0) {
      return false;
    }
    bytes += put;
    offset += put;
    length -= put;
  }
  return true;
}

int64_t PrivateFile::Size() {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(Handle(handle_), &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

bool PrivateFile::Sync() { return FlushFileBuffers(Handle(handle_)) != 0; }

bool CreatePrivateFolder(const std::string& path) {
  return CreateDirectoryW(WidePath(path).c_str(),
                          /*lpSecurityAttributes=*/nullptr) != 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
  const std::wstring source = WidePath(from);
  const std::wstring target = WidePath(to);
  const DWORD attributes = GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Moved(FALSE);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    // Windows moves no folder over another: an empty one in the way goes
    // first (RemoveDirectory refuses one that holds anything), and when
    // another process's folder arrives in between, the move fails.
    RemoveDirectoryW(target.c_str());
    if (Moved(MoveFileExW(source.c_str(), target.c_str(), 0))) return true;
    // A folder in the way refuses the move with access denied as well:
    // another process's bench, which no wait moves.
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
      lastMoveBlocked = false;
    }
    return false;
  }
  return Moved(MoveFileExW(source.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails where a file is.
  return Moved(MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                           MOVEFILE_WRITE_THROUGH));
}

bool LastMoveWasBlocked() { return lastMoveBlocked; }

// MOVEFILE_WRITE_THROUGH already waits for the rename to reach the disk.
bool SyncFolder(const std::string&) { return true; }
