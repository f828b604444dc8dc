#include "sim/unit_lock.h"

#include <filesystem>

#include "platform/system_text.h"
#include "server/server_interfaces.h"
#include "sim/sim_state.h"

std::string UnitLocks::LockPath(const std::string& codeFlashPath) {
  return codeFlashPath + ".lock";
}

std::string UnitLocks::Problem(const std::string& lockPath) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_type type = fs::symlink_status(PathOf(lockPath), error).type();
  if (type == fs::file_type::not_found) {
    return lockPath + ": the unit's lock cannot be created";
  }
  if (type == fs::file_type::regular) {
    return lockPath + ": the unit's lock cannot be opened";
  }
  // Never followed or replaced: whatever put it there may need it.
  return lockPath +
         ": the unit's lock is not a plain file (a link, a folder or the "
         "like); the unit is refused until it is taken away";
}

USHORT UnitLocks::Claim(const std::string& codeFlashPath,
                        std::string* problem) {
  const std::string path = LockPath(codeFlashPath);
  if (held_.count(path) != 0) return kStatusDone;
  FileLock::Outcome outcome = FileLock::Outcome::kCannotOpen;
  std::unique_ptr<FileLock> lock = FileLock::TryTake(path, &outcome);
  if (!lock) {
    if (outcome == FileLock::Outcome::kHeldElsewhere) {
      return kSimStatusUnitInUse;
    }
    *problem = Problem(path);
    return kSimStatusFlashFault;
  }
  held_.emplace(path, std::move(lock));
  return kStatusDone;
}

USHORT ClaimUnit(SimState& state, size_t unitIndex) {
  const FlashFile* code = state.Flash(unitIndex, SimRegion::kCode);
  if (code == nullptr) return kSimStatusFlashFault;
  if (!state.FlashFault(unitIndex).empty()) {
    state.Report(state.FlashFault(unitIndex));
    return kSimStatusFlashFault;
  }
  for (SimRegion region : {SimRegion::kCode, SimRegion::kStore}) {
    const std::string problem = state.Flash(unitIndex, region)->WriteProblem();
    if (!problem.empty()) {
      state.Report(problem + "; unit \"" + state.unit(unitIndex).name +
                   "\" is refused until it is put right");
      return kSimStatusFlashFault;
    }
  }
  std::string problem;
  const USHORT status = state.unitLocks().Claim(code->path(), &problem);
  if (!problem.empty()) state.Report(problem);
  return status;
}
