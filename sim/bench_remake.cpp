#include "sim/bench_remake.h"

#include <filesystem>
#include <functional>
#include <map>

#include "platform/system_text.h"
#include "sim/bench_in_use.h"
#include "sim/bench_json.h"
#include "sim/unit_lock.h"

namespace fs = std::filesystem;

namespace {

// Lock path -> what to call its unit in a message.
using LockNames = std::map<std::string, std::string>;

// One spelling per file: this process's own two locks on one file would
// exclude each other.
std::string PathIn(const std::string& folder, const std::string& name) {
  return TextOf((PathOf(folder) / PathOf(name)).lexically_normal());
}

void AddUnits(const SimBench& bench, const std::string& folder,
              LockNames* locks) {
  for (const SimUnit& unit : bench.units) {
    if (!unit.flashSimulated()) continue;
    locks->emplace(PathIn(folder, UnitLocks::LockPath(unit.codeFlashFile)),
                   "unit \"" + unit.name + "\"");
  }
}

}  // namespace

std::vector<std::unique_ptr<FileLock>> HoldBenchUnits(const std::string& folder,
                                                      const SimBench& next) {
  std::vector<std::unique_ptr<FileLock>> held;
  std::error_code error;
  if (!fs::is_directory(PathOf(folder), error)) return held;
  LockNames locks;
  try {
    AddUnits(LoadBench(folder), folder, &locks);
  } catch (const BenchError&) {
    // A bench that cannot be read still has its lock files, found below.
  }
  AddUnits(next, folder, &locks);
  for (const fs::directory_entry& entry :
       fs::directory_iterator(PathOf(folder), error)) {
    const std::string name = TextOf(entry.path().filename());
    if (IsServingLockName(name)) continue;
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0) {
      locks.emplace(PathIn(folder, name), "the unit of " + name);
    }
  }
  for (const auto& [path, unit] : locks) {
    FileLock::Outcome outcome = FileLock::Outcome::kCannotOpen;
    std::unique_ptr<FileLock> lock = FileLock::TryTake(path, &outcome);
    if (outcome == FileLock::Outcome::kHeldElsewhere) {
      throw BenchError(unit + " is held by a job (" + path +
                       "); the bench is left as it is");
    }
    if (!lock) {
      throw BenchError(UnitLocks::Problem(path) +
                       "; the bench is left as it is");
    }
    held.push_back(std::move(lock));
  }
  return held;
}

namespace {

// Writes `next` with `write` while holding the folder alone and every unit
// of its old bench and of `next`.
void RemakeBench(const std::string& folder, const SimBench& next,
                 const std::function<void()>& write) {
  // A pipe, a device or a socket where bench.json belongs is not ours to
  // replace, and is never read: whatever put it there may be using it.
  std::error_code error;
  const std::string json = folder + "/" + kBenchFileName;
  const fs::file_type type = fs::symlink_status(PathOf(json), error).type();
  if (type != fs::file_type::not_found && type != fs::file_type::regular &&
      type != fs::file_type::symlink && type != fs::file_type::none) {
    throw BenchError(json +
                     ": not a plain file (a pipe, a device, a folder or the "
                     "like); the bench is left as it is");
  }
  const std::unique_ptr<BenchInUse> alone = BenchInUse::ForRemaking(folder);
  const std::vector<std::unique_ptr<FileLock>> held =
      HoldBenchUnits(folder, next);
  write();
}

}  // namespace

SimBench RemakeDefaultBench(const std::string& folder, BenchTiming timing) {
  SimBench made;
  RemakeBench(folder, MakeDefaultBench(folder, timing),
              [&] { made = WriteDefaultBench(folder, timing); });
  return made;
}

void RemakeReplayBench(const ReplayBench& replay) {
  RemakeBench(replay.bench.folder, replay.bench,
              [&] { WriteReplayBench(replay); });
}
