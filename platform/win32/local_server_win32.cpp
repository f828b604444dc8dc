// The serving loop of a local server on Windows. COM itself answers the
// client on its own threads (the server's apartment is multithreaded), so
// this thread only waits for the end of the job.
//
// A client that goes away without letting go (killed, or its console window
// closed) leaves its references in COM's stubs. COM releases them only once
// the client's pings have stopped for some minutes (about six: a ping every
// two minutes, three missed), and Wine never does; meanwhile the server
// would hold its unit for a job that no longer exists. So the server also
// watches the client's process itself, found from the call being served:
// for a call through COM's local transport (ncalrpc), the RPC runtime tells
// the calling process's id.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/local_server.h"
#include "platform/windows_api.h"

namespace {

constexpr DWORD kPollMilliseconds = 100;

// The client's process once a call has told it, opened for waiting only.
std::atomic<HANDLE> watchedClient{nullptr};
// Set once a calling process other than this one has been found, whether
// or not it could be opened: it is looked for only until then.
std::atomic<bool> clientFound{false};

bool StartedByClient(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (_stricmp(argv[i], "-Embedding") == 0 ||
        _stricmp(argv[i], "/Embedding") == 0) {
      return true;
    }
  }
  return false;
}

// The id of the process that made the call this thread is serving; 0 when
// no call from another process is being served here.
DWORD CallingProcessId() {
  unsigned long pid = 0;
  // With no binding given, the call being served on this thread.
  if (I_RpcBindingInqLocalClientPID(/*Binding=*/nullptr, &pid) != RPC_S_OK) {
    return 0;
  }
  return pid == GetCurrentProcessId() ? 0 : static_cast<DWORD>(pid);
}

// Waits up to one poll for the client's process to end; true once it has.
bool ClientEnded() {
  const HANDLE client = watchedClient.load();
  if (client == nullptr) {
    Sleep(kPollMilliseconds);
    return false;
  }
  const DWORD waited = WaitForSingleObject(client, kPollMilliseconds);
  if (waited == WAIT_OBJECT_0) return true;
  if (waited != WAIT_TIMEOUT) Sleep(kPollMilliseconds);
  return false;
}

}  // namespace

void PrepareLocalServer() {
  IGlobalOptions* options = nullptr;
  if (FAILED(CoCreateInstance(CLSID_GlobalOptions, /*pUnkOuter=*/nullptr,
                              CLSCTX_INPROC_SERVER, IID_IGlobalOptions,
                              reinterpret_cast<void**>(&options)))) {
    return;
  }
  // Refused before Windows 8 (and perhaps by Wine): the client's process is
  // watched all the same.
  options->Set(COMGLB_RO_SETTINGS, COMGLB_FAST_RUNDOWN);
  options->Release();
}

void WatchCallingClient() noexcept {
  if (clientFound.load()) return;
  const DWORD pid = CallingProcessId();
  if (pid == 0) return;
  bool first = false;
  if (!clientFound.compare_exchange_strong(first, true)) return;
  const HANDLE process =
      OpenProcess(SYNCHRONIZE, /*bInheritHandle=*/FALSE, pid);
  if (process == nullptr) {
    std::fprintf(stderr,
                 "the client's process %lu cannot be watched (error %lu): "
                 "the server ends only once COM has released its objects\n",
                 static_cast<unsigned long>(pid),
                 static_cast<unsigned long>(GetLastError()));
    return;
  }
  watchedClient.store(process);
}

int ServeLocalServer(int argc, char** argv,
                     const std::function<bool()>& finished) {
  if (!StartedByClient(argc, argv)) {
    std::fputs("not started by a COM client (no -Embedding)\n", stderr);
    return 1;
  }
  // COM keeps the served objects in its stubs and releases them when the
  // client lets go, without telling this thread: it has to look. A client
  // that has ended lets go of nothing any more.
  while (!finished || !finished()) {
    if (ClientEnded()) return 0;
  }
  return 0;
}

int ServeLocalServer(int argc, char** argv) {
  return ServeLocalServer(argc, argv, nullptr);
}
