// The server executable on POSIX hosts, whose COM knows the server's
// interfaces and marshals them itself.
#include <unistd.h>

#include <climits>

#include "sim/server_host.h"

std::string OwnExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  path[length] = '\0';
  return path;
}

// The tool starts the server with its own error output.
bool ServerErrorOutputIsSeen() { return true; }

HRESULT RegisterInterfaceMarshalling(const std::string&, std::string*) {
  return S_OK;
}

HRESULT UnregisterInterfaceMarshalling() { return S_OK; }
