// The unit's device interface and its two programming interfaces.
#ifndef ECUPROG_PROGRAMMING_ACQUIRE_INTERFACES_H
#define ECUPROG_PROGRAMMING_ACQUIRE_INTERFACES_H

#include "server/com_ref.h"
#include "server/device_record.h"
#include "server/server_interfaces.h"

/// What the run programs the unit through; held until the run ends, but
/// for the code programming interface, which is released once the code
/// region is programmed.
struct UnitInterfaces {
  ComRef<DeviceInterface> device;
  ComRef<ProgrammingInterface> code;
  ComRef<ProgrammingInterface> store;
};

/// Opens the unit, then gets its code and store programming interfaces
/// under the chosen identity. Any fault ends the run through StopRun.
void AcquireDeviceInterfaces(ProgrammingServer* server,
                             const DeviceRecord& unit, USHORT identityId,
                             UnitInterfaces* interfaces);

#endif  // ECUPROG_PROGRAMMING_ACQUIRE_INTERFACES_H
