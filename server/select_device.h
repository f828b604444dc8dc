// Device discovery: list the units the server sees and let the operator
// choose one of those that can take this code image.
#ifndef ECUPROG_SERVER_SELECT_DEVICE_H
#define ECUPROG_SERVER_SELECT_DEVICE_H

#include <string>

#include "server/device_record.h"
#include "server/server_interfaces.h"

/// Writes one line per detected unit, asks for the serial number and
/// returns a copy of the chosen unit's record. Any fault, and an answer
/// that matches no candidate, ends the run through StopRun.
DeviceRecord SelectDevice(ProgrammingServer* server,
                          const std::string& targetName);

#endif  // ECUPROG_SERVER_SELECT_DEVICE_H
