// What a simulated unit refuses, in one place: the keys, identities, group
// and flash ranges a call must bring before the unit acts on it. The server
// objects answer each refusal in the way their interface allows: no
// interface, a failure result, or a status other than 0.
#ifndef ECUPROG_SIM_UNIT_RULES_H
#define ECUPROG_SIM_UNIT_RULES_H

#include <cstdint>

#include "platform/windows_api.h"
#include "server/device_record.h"
#include "server/server_interfaces.h"
#include "sim/bench.h"
#include "sim/flash_file.h"

/// Whether the unit hands a programming interface to this caller: the
/// unit's own unitKeyA and one of its identities with access level 0. The
/// record is what the unit shows, so a unit with a raw record answers to
/// the key inside it.
bool GrantsProgrammer(const SimUnit& unit, const DeviceRecord& shown,
                      USHORT unitKeyA, USHORT identityId);

/// Whether (unitKeyA, unitKeyB) are the keys the unit shows.
bool HasKeys(const DeviceRecord& shown, USHORT unitKeyA, USHORT unitKeyB);

/// What the unit does with an erase or program request for [start,
/// start + length) of one region.
struct FlashAccess {
  bool groupHeld = false;     ///< this region's group was acquired
  bool eraseRunning = false;  ///< an erase of this region is still running
};

/// The status with which the unit refuses the range, or kStatusDone (0)
/// when it may go ahead: the region's group must be held, no erase may be
/// running, and the range must lie inside the region.
USHORT FlashRangeRefusal(const FlashFile& flash, FlashAccess access,
                         uint32_t start, uint32_t length);

#endif  // ECUPROG_SIM_UNIT_RULES_H
