// The last phase: code flash, then store flash, then the reset request.
#ifndef ECUPROG_PROGRAMMING_PROGRAM_UNIT_H
#define ECUPROG_PROGRAMMING_PROGRAM_UNIT_H

#include <cstdint>

#include "programming/acquire_interfaces.h"
#include "programming/flash_region.h"
#include "server/device_record.h"

/// Programs the code region with the (restamped) image, releases the code
/// programming interface, programs the store region with the profile and
/// requests the unit reset. Any fault ends the run through StopRun.
void ProgramUnit(UnitInterfaces* interfaces, const DeviceRecord& unit,
                 const uint8_t* image, uint32_t imageLength,
                 const uint8_t* profile, uint32_t profileLength,
                 const ErasePolling& polling = kErasePolling);

/// Asks the unit to reset through the store programming interface.
void RequestReset(ProgrammingInterface* store);

#endif  // ECUPROG_PROGRAMMING_PROGRAM_UNIT_H
