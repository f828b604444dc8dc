// The serving loop of a local server on POSIX hosts: it answers the one
// client that started it, over the channel that client handed it, until the
// client goes away; then every object the client still held is released.
#include <capnp/rpc-twoparty.h>
#include <fcntl.h>
#include <kj/async-io.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/local_server.h"
#include "platform/posix/class_objects.h"
#include "platform/posix/com_marshal.capnp.h"
#include "platform/posix/interface_stubs.h"
#include "platform/posix/server_launch.h"
#include "platform/posix/value_marshal.h"

namespace com_posix {

namespace {

// The server's first object: it creates what the client asks for through
// the class factory the server registered.
class ActivatorStub final : public com_marshal::Activator::Server {
 protected:
  kj::Promise<void> createInstance(CreateInstanceContext context) override {
    auto params = context.getParams();
    auto results = context.getResults();
    CLSID clsid{};
    IID iid{};
    if (!ReadGuid(params.getClsid(), &clsid) ||
        !ReadGuid(params.getIid(), &iid)) {
      results.setResult(kBadStubData);
      return kj::READY_NOW;
    }
    IClassFactory* factory = FindClassFactory(clsid, CLSCTX_LOCAL_SERVER);
    if (factory == nullptr) {
      results.setResult(REGDB_E_CLASSNOTREG);
      return kj::READY_NOW;
    }
    void* object = nullptr;
    HRESULT hr = factory->CreateInstance(nullptr, iid, &object);
    factory->Release();
    if (FAILED(hr) || object == nullptr) {
      results.setResult(FAILED(hr) ? hr : E_NOINTERFACE);
      return kj::READY_NOW;
    }
    IID served = iid;
    kj::Maybe<capnp::Capability::Client> stub =
        iid == IID_IUnknown
            ? MakeStubForUnknown(static_cast<IUnknown*>(object), &served)
            : MakeStub(iid, object);
    KJ_IF_MAYBE (capability, stub) {
      results.setObject(*capability);
      results.setIid(GuidBytes(served));
      results.setResult(hr);
    } else {
      results.setResult(E_NOINTERFACE);
    }
    return kj::READY_NOW;
  }
};

bool StartedByClient(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcasecmp(argv[i], "-Embedding") == 0 ||
        strcasecmp(argv[i], "/Embedding") == 0) {
      return true;
    }
  }
  return false;
}

// The channel the client handed over, or -1.
int ClientChannel() {
  const char* text = std::getenv(kChannelVariable);
  if (text == nullptr) return -1;
  char* end = nullptr;
  errno = 0;
  const long fd = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || fd < 0 || fd > 65535) {
    return -1;
  }
  struct stat status {};
  if (fstat(static_cast<int>(fd), &status) != 0 || !S_ISSOCK(status.st_mode)) {
    return -1;
  }
  // Programs this server starts get neither the channel nor its name.
  unsetenv(kChannelVariable);
  fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  return static_cast<int>(fd);
}

}  // namespace

}  // namespace com_posix

int ServeLocalServer(int argc, char** argv) {
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "server";
  if (!com_posix::StartedByClient(argc, argv)) {
    std::fprintf(stderr,
                 "%s: this is a COM local server; it is started by its "
                 "clients (-Embedding)\n",
                 name);
    return 2;
  }
  const int fd = com_posix::ClientChannel();
  if (fd < 0) {
    std::fprintf(stderr, "%s: started without a channel to a client\n", name);
    return 2;
  }
  // A client that goes away mid-answer must end the serving, not the
  // process.
  signal(SIGPIPE, SIG_IGN);
  try {
    kj::AsyncIoContext io = kj::setupAsyncIo();
    kj::Own<kj::AsyncIoStream> stream = io.lowLevelProvider->wrapSocketFd(
        fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP |
                kj::LowLevelAsyncIoProvider::ALREADY_CLOEXEC);
    capnp::TwoPartyVatNetwork network(*stream,
                                      capnp::rpc::twoparty::Side::SERVER,
                                      com_posix::ReceiveOptions());
    auto rpc =
        capnp::makeRpcServer(network, kj::heap<com_posix::ActivatorStub>());
    network.onDisconnect().wait(io.waitScope);
  } catch (const kj::Exception& error) {
    // A client that ended abruptly is still an ended client.
    if (error.getType() == kj::Exception::Type::DISCONNECTED) return 0;
    std::fprintf(stderr, "%s: %s\n", name, error.getDescription().cStr());
    return 1;
  }
  return 0;
}
