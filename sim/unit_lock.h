// One unit, one job: a unit belongs to the server that acquired one of its
// programming groups until that server ends. Servers of other jobs, in
// other processes or in this one, are refused the unit meanwhile; units of
// one bench that no job holds are free to all, so jobs on different units
// run side by side.
//
// The hold is a file lock on "<code flash file>.lock" in the bench folder,
// which the system lets go of when the holding process ends in any way: a
// killed job never leaves its unit held.
#ifndef ECUPROG_SIM_UNIT_LOCK_H
#define ECUPROG_SIM_UNIT_LOCK_H

#include <map>
#include <memory>
#include <string>

#include "platform/file_lock.h"
#include "platform/windows_api.h"

/// The status AcquireGroup answers while another job holds the unit.
constexpr USHORT kSimStatusUnitInUse = 7;

class SimState;

/// The units one server holds.
class UnitLocks {
 public:
  /// The lock file's path for a unit whose code flash is in `codeFlashPath`.
  static std::string LockPath(const std::string& codeFlashPath);

  /// What is wrong at `lockPath` when its lock cannot be taken for a reason
  /// other than another holder: a message naming the path.
  static std::string Problem(const std::string& lockPath);

  /// Takes the unit for this server unless it holds it already. Returns
  /// the status to answer: 0 when this server holds it, kSimStatusUnitInUse
  /// when another does, kSimStatusFlashFault when the lock cannot be made,
  /// and then `*problem` says why.
  USHORT Claim(const std::string& codeFlashPath, std::string* problem);

 private:
  std::map<std::string, std::unique_ptr<FileLock>> held_;
};

/// Claim for the unit at `unitIndex` of the server `state`: what
/// AcquireGroup asks before it grants a group. A unit whose flash files
/// cannot be used (SimState::FlashFault) is refused, and so is one whose
/// flash files cannot be written now (a read-only file). Either refusal, and a
/// lock that cannot be made, is reported on the server's error output,
/// since the job sees only a status.
USHORT ClaimUnit(SimState& state, size_t unitIndex);

#endif  // ECUPROG_SIM_UNIT_LOCK_H
