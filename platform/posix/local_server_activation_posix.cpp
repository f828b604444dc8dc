// Activation of a local server: one process per request (as a single-use
// class registration gives on Windows), reached over an anonymous socket
// pair that only it holds the other end of, and asked for the instance by
// its bootstrap object.
#include <signal.h>

#include <string>
#include <vector>

#include "platform/posix/com_client.h"
#include "platform/posix/com_marshal.capnp.h"
#include "platform/posix/com_registry.h"
#include "platform/posix/interface_proxies.h"
#include "platform/posix/local_server_activation.h"
#include "platform/posix/server_launch.h"
#include "platform/posix/value_marshal.h"

namespace com_posix {

namespace {

// A server that goes away would otherwise end the client with SIGPIPE on
// the next write to it; a failed call is the answer instead. A handler the
// program set itself is left alone.
void IgnoreBrokenPipes() {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 &&
      current.sa_handler == SIG_DFL) {
    signal(SIGPIPE, SIG_IGN);
  }
}

HRESULT AskForInstance(Connection* connection, REFCLSID clsid, REFIID iid,
                       void** object) {
  ClientRuntime& runtime = *ClientRuntime::Current();
  try {
    auto request = connection->Bootstrap()
                       .castAs<com_marshal::Activator>()
                       .createInstanceRequest();
    request.setClsid(GuidBytes(clsid));
    request.setIid(GuidBytes(iid));
    auto response = connection->timer()
                        .timeoutAfter(kActivationTimeoutSeconds * kj::SECONDS,
                                      request.send())
                        .wait(connection->waitScope());
    const HRESULT hr = response.getResult();
    GUID given{};
    if (FAILED(hr) || !response.hasObject() ||
        !ReadGuid(response.getIid(), &given) || !IsMarshalledInterface(given)) {
      runtime.Close(connection);
      return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    // From here the proxy owns the connection: releasing it closes it.
    return MakeProxy(given, response.getObject(), connection, iid, object);
  } catch (const kj::Exception&) {
    // Gone before answering, or never answered.
    KillServer(connection->pid());
    runtime.Close(connection);
    return CO_E_SERVER_EXEC_FAILURE;
  }
}

}  // namespace

HRESULT ActivateLocalServer(REFCLSID clsid, REFIID iid, void** object) {
  std::string command;
  if (!LookupLocalServer(clsid, &command)) return REGDB_E_CLASSNOTREG;
  // An entry that names no program we would start registers nothing.
  const std::vector<std::string> words = SplitCommand(command);
  if (words.empty() || !IsStartableProgram(words[0])) {
    return REGDB_E_CLASSNOTREG;
  }
  if (iid != IID_IUnknown && !IsMarshalledInterface(iid)) return E_NOINTERFACE;

  IgnoreBrokenPipes();
  ReapEndedServers(0);
  ClientRuntime* runtime = nullptr;
  try {
    runtime = &ClientRuntime::Start();
  } catch (const kj::Exception&) {
    return E_FAIL;
  }
  int fd = -1;
  pid_t pid = 0;
  if (!LaunchLocalServer(words, &fd, &pid)) {
    return CO_E_SERVER_EXEC_FAILURE;
  }
  return AskForInstance(runtime->Open(fd, pid), clsid, iid, object);
}

}  // namespace com_posix
