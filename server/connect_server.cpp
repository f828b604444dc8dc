#include "server/connect_server.h"

#include <cstring>
#include <utility>

#include "report/stop_run.h"

namespace {

bool VersionAtLeast15(USHORT major, USHORT minor) {
  return major > 1 || (major == 1 && minor >= 5);
}

}  // namespace

ComRef<ProgrammingServer> ConnectServer(const uint8_t* profile,
                                        uint32_t profileLength,
                                        ServerWrapper wrapper) {
  ComRef<ProgrammingServer> server;
  CheckServerResult(CoCreateInstance(CLSID_ProgrammingServer,
                                     /*pUnkOuter=*/nullptr, CLSCTX_LOCAL_SERVER,
                                     IID_ProgrammingServer, server.OutVoid()));
  if (!server) StopRun(1, "COULD NOT CONNECT TO TALQUIN SERVER");
  if (wrapper != nullptr) server = wrapper(std::move(server));

  // A server that reports success without filling the version must not be
  // taken for a new one.
  USHORT major = 0;
  USHORT minor = 0;
  CheckServerResult(server->GetVersion(&major, &minor));
  if (!VersionAtLeast15(major, minor)) {
    StopRun(1, "UNABLE TO CONTINUE - REQUIRE SERVER VERSION 1.5+");
  }

  SafeArrayRef array;
  if (!array.Create(VT_UI1, profileLength) || !array.Lock()) {
    StopRun(1, "COULD NOT CREATE PROFILE ARRAY");
  }
  std::memcpy(array.data(), profile, profileLength);
  CheckServerResult(server->SetProfile(array.get()));
  array.Reset();
  return server;
}
