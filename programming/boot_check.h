// Whether the unit's boot code can start the code image the tool carries.
#ifndef ECUPROG_PROGRAMMING_BOOT_CHECK_H
#define ECUPROG_PROGRAMMING_BOOT_CHECK_H

#include "blocks/block_header.h"
#include "server/device_record.h"

/// Returns when the unit's boot release is at least the code header's
/// minimum; otherwise ends the run through StopRun.
void CheckBootCode(const DeviceRecord& unit, const BlockHeader& codeHeader);

#endif  // ECUPROG_PROGRAMMING_BOOT_CHECK_H
