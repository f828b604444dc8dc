// The serving loop of a local server on Windows. COM itself answers the
// client on its own threads (the server's apartment is multithreaded), so
// this thread only waits for the end of the job.
#include <cstdio>
#include <cstring>

#include "platform/local_server.h"
#include "platform/windows_api.h"

namespace {

constexpr DWORD kPollMilliseconds = 100;

bool StartedByClient(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (_stricmp(argv[i], "-Embedding") == 0 ||
        _stricmp(argv[i], "/Embedding") == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

int ServeLocalServer(int argc, char** argv,
                     const std::function<bool()>& finished) {
  if (!StartedByClient(argc, argv)) {
    std::fputs("not started by a COM client (no -Embedding)\n", stderr);
    return 1;
  }
  // COM keeps the served objects in its stubs and releases them when the
  // client lets go, without telling this thread: it has to look.
  while (!finished || !finished()) Sleep(kPollMilliseconds);
  return 0;
}

int ServeLocalServer(int argc, char** argv) {
  return ServeLocalServer(argc, argv, nullptr);
}
