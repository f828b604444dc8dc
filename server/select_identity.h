// Access identity: the identity under which the unit is programmed.
#ifndef ECUPROG_SERVER_SELECT_IDENTITY_H
#define ECUPROG_SERVER_SELECT_IDENTITY_H

#include "server/device_record.h"
#include "server/server_interfaces.h"

/// Writes one line per identity the server knows for the unit and returns
/// the chosen identityId: identity 0 if it has access level 0, otherwise
/// the first with access level 0. Any fault ends the run through StopRun.
USHORT SelectIdentity(ProgrammingServer* server, const DeviceRecord& unit);

#endif  // ECUPROG_SERVER_SELECT_IDENTITY_H
