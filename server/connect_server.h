// Connecting to the programming server and handing it the profile.
#ifndef ECUPROG_SERVER_CONNECT_SERVER_H
#define ECUPROG_SERVER_CONNECT_SERVER_H

#include <cstdint>

#include "server/com_ref.h"
#include "server/server_interfaces.h"

/// Creates the server's root object, refuses a server older than 1.5 and
/// hands it the whole profile block. Writes nothing when all goes well;
/// any fault ends the run through StopRun.
ComRef<ProgrammingServer> ConnectServer(const uint8_t* profile,
                                        uint32_t profileLength);

#endif  // ECUPROG_SERVER_CONNECT_SERVER_H
