// Connecting to the programming server and handing it the profile.
#ifndef ECUPROG_SERVER_CONNECT_SERVER_H
#define ECUPROG_SERVER_CONNECT_SERVER_H

#include <cstdint>

#include "server/com_ref.h"
#include "server/server_interfaces.h"

/// What the run puts around the server's root object before its first
/// call (the job's record); it returns the object the run calls instead.
using ServerWrapper = ComRef<ProgrammingServer> (*)(ComRef<ProgrammingServer>);

/// Creates the server's root object, puts `wrapper` (when given) around it,
/// refuses a server older than 1.5 and hands it the whole profile block.
/// Writes nothing when all goes well; any fault ends the run through
/// StopRun.
ComRef<ProgrammingServer> ConnectServer(const uint8_t* profile,
                                        uint32_t profileLength,
                                        ServerWrapper wrapper = nullptr);

#endif  // ECUPROG_SERVER_CONNECT_SERVER_H
