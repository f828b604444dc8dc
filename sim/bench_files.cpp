#include "sim/bench_files.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>

#include "platform/file_lock.h"
#include "platform/private_file.h"
#include "platform/system_text.h"
#include "platform/windows_api.h"
#include "sim/bench.h"
#include "sim/bench_in_use.h"
#include "sim/bench_json.h"
#include "sim/server_log.h"

namespace fs = std::filesystem;

namespace {

// When this process started, to tell a build left by a server that has
// gone from one in progress.
const fs::file_time_type kStarted = fs::file_time_type::clock::now();

void SyncFilesIn(const std::string& folder) {
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(PathOf(folder), error)) {
    std::unique_ptr<PrivateFile> file =
        PrivateFile::Open(TextOf(entry.path()), PrivateFile::Mode::kReadWrite);
    if (!file || !file->Sync()) {
      throw BenchError(TextOf(entry.path()) + ": cannot be written");
    }
  }
  if (error) throw BenchError(folder + ": cannot be read");
}

BenchMoves& Moves() {
  static BenchMoves moves = SystemBenchMoves();
  return moves;
}

// Tries `move` again while another program blocks it, for a while.
bool WhenFree(const std::function<bool()>& move) {
  for (DWORD waited = 0;; waited += kBlockedMoveRetryMs) {
    if (move()) return true;
    if (!Moves().lastMoveWasBlocked() || waited >= kBlockedMoveWaitMs) {
      return false;
    }
    Moves().pause(kBlockedMoveRetryMs);
  }
}

std::string ParentOf(const std::string& path) {
  const fs::path parent = PathOf(path).parent_path();
  return parent.empty() ? "." : TextOf(parent);
}

}  // namespace

BenchMoves SystemBenchMoves() {
  return {RenameOver, MoveIntoPlace, LastMoveWasBlocked, Sleep};
}

BenchMoves SetBenchMoves(BenchMoves moves) {
  std::swap(Moves(), moves);
  return moves;
}

bool RenameOverWhenFree(const std::string& from, const std::string& to) {
  return WhenFree([&] { return Moves().renameOver(from, to); });
}

bool MoveIntoPlaceWhenFree(const std::string& from, const std::string& to) {
  return WhenFree([&] { return Moves().moveIntoPlace(from, to); });
}

std::string PathBeside(const std::string& path, const char* kind) {
  static std::random_device random;
  const fs::path place = PathOf(path);
  const fs::path name = PathOf("." + TextOf(place.filename()) + "." + kind +
                               "-" + std::to_string(random()));
  return TextOf(place.parent_path() / name);
}

void ReplaceFileContents(const std::string& path, const std::string& contents) {
  std::string temporary;
  std::unique_ptr<PrivateFile> file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    temporary = PathBeside(path, "new");
    file = PrivateFile::Open(temporary, PrivateFile::Mode::kCreateNew);
  }
  if (!file) throw BenchError(path + ": cannot be written");
  const bool written =
      file->WriteAt(0, contents.data(), contents.size()) && file->Sync();
  file.reset();
  if (!written || !RenameOverWhenFree(temporary, path)) {
    std::error_code error;
    fs::remove(PathOf(temporary), error);
    throw BenchError(path + ": cannot be written");
  }
  SyncFolder(ParentOf(path));
}

void CreateBenchFolder(const std::string& folder) {
  std::error_code error;
  if (fs::is_directory(PathOf(folder), error)) return;
  const std::string parent = ParentOf(folder);
  if (!fs::is_directory(PathOf(parent), error)) CreateBenchFolder(parent);
  if (!CreatePrivateFolder(folder) &&
      !fs::is_directory(PathOf(folder), error)) {
    throw BenchError(folder + ": cannot create the bench folder");
  }
}

bool IsBuildLeftover(const std::string& name) {
  return name.size() > 1 && name[0] == '.' &&
         (name.find(".building-") != std::string::npos ||
          name.find(".new-") != std::string::npos || name == kFillingLockName);
}

bool IsMissingOrEmptyFolder(const std::string& folder) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(PathOf(folder), error);
  if (status.type() == fs::file_type::not_found) return true;
  if (error || status.type() != fs::file_type::directory) return false;
  fs::directory_iterator entries(PathOf(folder), error);
  if (error) return false;
  for (const fs::directory_entry& entry : entries) {
    const std::string name = TextOf(entry.path().filename());
    // A log written where no bench could be made, or the locks of jobs
    // that found none, still leave room for one.
    if (!IsBuildLeftover(name) && !IsServerLogFile(name) &&
        !IsServingLockName(name)) {
      return false;
    }
  }
  return true;
}

std::string WithoutTrailingSlashes(const std::string& folder) {
  std::string trimmed = folder;
  while (trimmed.size() > 1 &&
         (trimmed.back() == '/' || trimmed.back() == '\\')) {
    trimmed.pop_back();
  }
  return trimmed;
}

void RemoveOldLeftovers(const std::string& folder, const std::string& name) {
  // A build that has written nothing for a minute before this process
  // started is no other server's work in progress: its server has gone.
  const fs::file_time_type before = kStarted - std::chrono::minutes(1);
  const std::string prefix = "." + name + ".";
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(PathOf(folder), error)) {
    const std::string entryName = TextOf(entry.path().filename());
    // The filling turn goes only with the bench it made whole.
    if (entryName.rfind(prefix, 0) != 0 || !IsBuildLeftover(entryName) ||
        entryName == kFillingLockName) {
      continue;
    }
    std::error_code old;
    if (fs::last_write_time(entry.path(), old) < before && !old) {
      fs::remove_all(entry.path(), old);
    }
  }
}

void RemoveOldFileTemporaries(const std::string& folder) {
  const fs::file_time_type before = kStarted - std::chrono::minutes(1);
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(PathOf(folder), error)) {
    const std::string name = TextOf(entry.path().filename());
    if (!IsBuildLeftover(name) || name.find(".new-") == std::string::npos) {
      continue;
    }
    // A file only: a link or a folder of that name is no temporary of ours.
    std::error_code old;
    if (fs::symlink_status(entry.path(), old).type() !=
        fs::file_type::regular) {
      continue;
    }
    if (fs::last_write_time(entry.path(), old) < before && !old) {
      fs::remove(entry.path(), old);
    }
  }
}

namespace {

// Fills the empty `folder` where it stands, for a folder that cannot be
// replaced in one rename (a mount point, or one in a folder the user may
// not write): the bench is built in a folder inside it, then each file is
// moved out into place, bench.json last, so that the bench is there only
// once it is whole. Servers making it at once take turns.
bool FillInPlace(const std::string& folder,
                 const std::function<void(const std::string&)>& build) {
  const std::string lockPath = folder + "/" + kFillingLockName;
  std::unique_ptr<FileLock> lock;
  for (int wait = 0; wait < 600 && !lock; ++wait) {
    FileLock::Outcome outcome = FileLock::Outcome::kCannotOpen;
    lock = FileLock::TryTake(lockPath, &outcome);
    if (!lock && outcome != FileLock::Outcome::kHeldElsewhere) break;
    if (!lock) Sleep(50);
  }
  if (!lock) throw BenchError(folder + ": cannot be filled (" + lockPath + ")");
  // Every server that had a turn takes the turn's file away with it once
  // the bench is whole, so none stays behind in the bench.
  std::error_code error;
  if (fs::exists(PathOf(folder + "/" + kBenchFileName), error)) {
    fs::remove(PathOf(lockPath), error);
    return false;
  }
  RemoveOldLeftovers(folder, "bench");
  std::string built;
  for (int attempt = 0; attempt < 100 && built.empty(); ++attempt) {
    const std::string candidate = PathBeside(folder + "/bench", "building");
    if (CreatePrivateFolder(candidate)) built = candidate;
  }
  if (built.empty()) throw BenchError(folder + ": cannot be filled");
  try {
    build(built);
    SyncFilesIn(built);
    std::vector<std::string> names;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(PathOf(built))) {
      const std::string name = TextOf(entry.path().filename());
      if (name != kBenchFileName) names.push_back(name);
    }
    names.push_back(kBenchFileName);
    for (const std::string& name : names) {
      if (!MoveIntoPlaceWhenFree(built + "/" + name, folder + "/" + name)) {
        throw BenchError(folder + "/" + name + ": cannot be put in place");
      }
    }
  } catch (const BenchError& failure) {
    fs::remove_all(PathOf(built), error);
    throw BenchError(folder + ": cannot be made (" + failure.what() + ")");
  }
  fs::remove_all(PathOf(built), error);
  SyncFolder(folder);
  fs::remove(PathOf(lockPath), error);
  return true;
}

}  // namespace

bool BuildFolderInPlace(const std::string& target,
                        const std::function<void(const std::string&)>& build) {
  const std::string folder = WithoutTrailingSlashes(target);
  const std::string parent = ParentOf(folder);
  CreateBenchFolder(parent);
  RemoveOldLeftovers(parent, TextOf(PathOf(folder).filename()));
  std::string built;
  for (int attempt = 0; attempt < 100 && built.empty(); ++attempt) {
    const std::string candidate = PathBeside(folder, "building");
    if (CreatePrivateFolder(candidate)) built = candidate;
  }
  std::error_code error;
  if (!built.empty()) {
    try {
      build(built);
      SyncFilesIn(built);
    } catch (const BenchError& failure) {
      fs::remove_all(PathOf(built), error);
      throw BenchError(folder + ": cannot be made (" + failure.what() + ")");
    }
    if (RenameOverWhenFree(built, folder)) {
      SyncFolder(parent);
      return true;
    }
    fs::remove_all(PathOf(built), error);
    // Another process's folder got there first: it was whole when it came.
    if (!IsMissingOrEmptyFolder(folder)) return false;
  }
  // No folder beside it, or none that can take its place: the folder is
  // filled where it stands, made first where it is missing.
  if (!fs::is_directory(PathOf(folder), error) &&
      !CreatePrivateFolder(folder) &&
      !fs::is_directory(PathOf(folder), error)) {
    throw BenchError(folder +
                     ": cannot be made (no folder can be created "
                     "beside it or in its place)");
  }
  return FillInPlace(folder, build);
}
