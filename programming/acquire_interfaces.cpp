#include "programming/acquire_interfaces.h"

#include <cstring>

#include "report/stop_run.h"

void AcquireDeviceInterfaces(ProgrammingServer* server,
                             const DeviceRecord& unit, USHORT identityId,
                             UnitInterfaces* interfaces) {
  // The address parts after the first go as the record's bytes 4 to 9,
  // unchanged and in order.
  UnitAddressTail tail;
  static_assert(sizeof(tail) == 6, "OpenDevice takes six record bytes");
  std::memcpy(&tail, unit.bytes + device_record::kUnitAddressB, sizeof(tail));

  CheckServerResult(server->OpenDevice(unit.unitAddressA(), tail,
                                       interfaces->device.Out()));
  if (!interfaces->device) StopRun(1, "COULD NOT ACQUIRE DEVICE INTERFACE");

  CheckServerResult(interfaces->device->GetCodeProgrammer(
      unit.unitKeyA(), identityId, interfaces->code.Out()));
  if (!interfaces->code) {
    StopRun(1, "COULD NOT ACQUIRE CODE PROGRAMMING INTERFACE");
  }

  CheckServerResult(interfaces->device->GetStoreProgrammer(
      unit.unitKeyA(), identityId, interfaces->store.Out()));
  if (!interfaces->store) {
    StopRun(1, "COULD NOT ACQUIRE STORE PROGRAMMING INTERFACE");
  }
}
