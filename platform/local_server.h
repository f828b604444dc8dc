// The serving loop of a COM local server.
//
// A local server's main registers its class object and then hands over:
//
//   DWORD cookie = 0;
//   CoInitializeEx(nullptr, COINIT_MULTITHREADED);
//   PrepareLocalServer();
//   CoRegisterClassObject(CLSID_X, factory, CLSCTX_LOCAL_SERVER,
//                         REGCLS_SINGLEUSE, &cookie);
//   int code = ServeLocalServer(argc, argv, ClientHasLetGo);
//   CoRevokeClassObject(cookie);
//   CoUninitialize();
//   return code;
//
// The server serves the one client whose CoCreateInstance started it: the
// client's request for a class and interface is answered through the
// registered class factory, and the server's objects are then called from
// the client's process until the client lets go of them or goes away. Each
// method of those objects calls WatchCallingClient, so that the server ends
// soon after a client that went away without letting go (killed, or its
// window closed).
#ifndef ECUPROG_PLATFORM_LOCAL_SERVER_H
#define ECUPROG_PLATFORM_LOCAL_SERVER_H

#include <functional>

/// Serves the client that started this process and returns when that client
/// has disconnected: 0 after a client that went away in order, non-zero when
/// the process was not started by a client (no "-Embedding" or no channel;
/// a message saying so goes to standard error) or the channel failed.
/// Call it once, on the thread that registered the class objects. While it
/// serves, that thread cannot itself activate other local servers (such an
/// activation fails with a negative result).
int ServeLocalServer(int argc, char** argv);

/// The same for a server that can tell when its client has let go of every
/// object. On Windows COM keeps the served objects in its stubs and releases
/// them without telling the serving thread, so `finished` is asked there
/// every 100 ms and serving ends, with 0, once it answers true (a server
/// given none serves until its process is ended). On POSIX hosts the
/// channel tells, and `finished` is never asked.
///
/// On Windows serving also ends, with 0, within a poll of the end of the
/// client's process once WatchCallingClient has found it.
#ifdef _WIN32
int ServeLocalServer(int argc, char** argv,
                     const std::function<bool()>& finished);

/// Asks COM to run down the references of a client that has gone within
/// seconds rather than after its pings have failed for minutes, where the
/// system offers that (Windows 8 and later); elsewhere, and where COM
/// refuses, nothing changes and nothing is said. Call it once, after
/// CoInitializeEx and before the class objects are registered.
void PrepareLocalServer();

/// Called inside a method of a served object: the process that made the
/// call is watched from then on, and ServeLocalServer ends when it has
/// ended. Only the first process that can be told and opened is watched;
/// outside a call from another process (in process, or with no call
/// active) nothing happens. A process that cannot be watched is reported
/// once on standard error, and serving then ends only as COM tells.
void WatchCallingClient() noexcept;
#else
inline int ServeLocalServer(int argc, char** argv,
                            const std::function<bool()>& /*finished*/) {
  return ServeLocalServer(argc, argv);
}

/// On POSIX hosts the client's channel tells when it has gone: nothing to
/// prepare, and no process to watch.
inline void PrepareLocalServer() {}
inline void WatchCallingClient() noexcept {}
#endif

#endif  // ECUPROG_PLATFORM_LOCAL_SERVER_H
