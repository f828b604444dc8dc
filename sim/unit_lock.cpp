#include "sim/unit_lock.h"

#include "server/server_interfaces.h"
#include "sim/sim_state.h"

std::string UnitLocks::LockPath(const std::string& codeFlashPath) {
  return codeFlashPath + ".lock";
}

USHORT UnitLocks::Claim(const std::string& codeFlashPath) {
  const std::string path = LockPath(codeFlashPath);
  if (held_.count(path) != 0) return kStatusDone;
  FileLock::Outcome outcome = FileLock::Outcome::kCannotOpen;
  std::unique_ptr<FileLock> lock = FileLock::TryTake(path, &outcome);
  if (!lock) {
    return outcome == FileLock::Outcome::kHeldElsewhere ? kSimStatusUnitInUse
                                                        : kSimStatusFlashFault;
  }
  held_.emplace(path, std::move(lock));
  return kStatusDone;
}

USHORT ClaimUnit(SimState& state, size_t unitIndex) {
  const FlashFile* code = state.Flash(unitIndex, SimRegion::kCode);
  if (code == nullptr) return kSimStatusFlashFault;
  return state.unitLocks().Claim(code->path());
}
