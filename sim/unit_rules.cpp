#include "sim/unit_rules.h"

#include "sim/sim_state.h"

bool GrantsProgrammer(const SimUnit& unit, const DeviceRecord& shown,
                      USHORT unitKeyA, USHORT identityId) {
  if (shown.unitKeyA() != unitKeyA) return false;
  for (const SimIdentity& identity : unit.identities) {
    if (identity.identityId == identityId && identity.accessLevel == 0) {
      return true;
    }
  }
  return false;
}

bool HasKeys(const DeviceRecord& shown, USHORT unitKeyA, USHORT unitKeyB) {
  return shown.unitKeyA() == unitKeyA && shown.unitKeyB() == unitKeyB;
}

USHORT FlashRangeRefusal(const FlashFile& flash, FlashAccess access,
                         uint32_t start, uint32_t length) {
  if (!access.groupHeld) return kSimStatusNoGroup;
  if (access.eraseRunning) return kSimStatusBusy;
  if (!flash.Contains(start, length)) return kSimStatusRefused;
  return kStatusDone;
}
