// The client side's event loop, connections and proxy bookkeeping.
#include <capnp/rpc.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/posix/coalescing_stream.h"
#include "platform/posix/com_client.h"
#include "platform/posix/server_launch.h"
#include "platform/posix/value_marshal.h"

namespace com_posix {

namespace {

// Never destroyed by the C++ runtime: a process may end with references
// still held, and nothing may run against a torn-down loop at exit.
ClientRuntime* g_runtime = nullptr;

// How long Stop waits for the servers whose connections it closed.
constexpr int kServerEndMilliseconds = 5000;

}  // namespace

Connection::Connection(kj::AsyncIoContext& io,
                       kj::Own<kj::AsyncIoStream> stream, pid_t pid)
    : io_(io),
      stream_(kj::mv(stream)),
      network_(*stream_, capnp::rpc::twoparty::Side::CLIENT, ReceiveOptions()),
      rpc_(capnp::makeRpcClient(network_)),
      pid_(pid) {}

Connection::~Connection() {
  // The proxies' capabilities belong to this connection's RPC state, so
  // they go first.
  for (ProxyBase* proxy :
       std::vector<ProxyBase*>(proxies_.begin(), proxies_.end())) {
    proxy->Disconnect();
  }
  ReapWhenEnded(pid_);
}

capnp::Capability::Client Connection::Bootstrap() {
  capnp::word scratch[4];
  std::memset(scratch, 0, sizeof scratch);
  capnp::MallocMessageBuilder message(scratch);
  auto vatId = message.getRoot<capnp::rpc::twoparty::VatId>();
  vatId.setSide(capnp::rpc::twoparty::Side::SERVER);
  return rpc_.bootstrap(vatId);
}

HRESULT Connection::Failed(const kj::Exception& error) {
  if (error.getType() == kj::Exception::Type::DISCONNECTED) {
    broken_ = true;
    return RPC_E_DISCONNECTED;
  }
  return RPC_S_CALL_FAILED_HR;
}

bool Connection::Forget(ProxyBase* proxy) {
  proxies_.erase(proxy);
  if (proxies_.empty()) return true;
  // Without this the release would wait for the next call, and the server
  // would hold the object meanwhile.
  try {
    io_.waitScope.poll();
  } catch (const kj::Exception& error) {
    Failed(error);
  }
  return false;
}

ClientRuntime::ClientRuntime() : io_(kj::setupAsyncIo()) {}

ClientRuntime* ClientRuntime::Current() { return g_runtime; }

ClientRuntime& ClientRuntime::Start() {
  if (g_runtime == nullptr) g_runtime = new ClientRuntime();
  return *g_runtime;
}

void ClientRuntime::Stop() {
  if (g_runtime == nullptr) return;
  ClientRuntime* runtime = g_runtime;
  g_runtime = nullptr;
  runtime->connections_.clear();
  delete runtime;
  ReapEndedServers(kServerEndMilliseconds);
}

Connection* ClientRuntime::Open(int fd, pid_t pid) {
  kj::Own<kj::AsyncIoStream> stream =
      kj::heap<CoalescingStream>(io_.lowLevelProvider->wrapSocketFd(
          fd, kj::LowLevelAsyncIoProvider::TAKE_OWNERSHIP |
                  kj::LowLevelAsyncIoProvider::ALREADY_CLOEXEC));
  connections_.push_back(
      std::make_unique<Connection>(io_, kj::mv(stream), pid));
  return connections_.back().get();
}

void ClientRuntime::Close(Connection* connection) {
  auto found = std::find_if(connections_.begin(), connections_.end(),
                            [connection](const std::unique_ptr<Connection>& c) {
                              return c.get() == connection;
                            });
  if (found == connections_.end()) return;
  // Erased before destruction, so nothing reaches it while it closes.
  std::unique_ptr<Connection> closing = kj::mv(*found);
  connections_.erase(found);
  closing.reset();
  ReapEndedServers(0);
}

ProxyBase::ProxyBase(Connection* connection) : connection_(connection) {
  connection_->Attach(this);
}

void ProxyBase::Disconnect() {
  if (connection_ == nullptr) return;
  DropCapability();
  connection_ = nullptr;
}

ULONG ProxyBase::ReleaseProxy() {
  const ULONG left = --references_;
  if (left != 0) return left;
  if (connection_ != nullptr) {
    DropCapability();
    Connection* connection = connection_;
    connection_ = nullptr;
    if (connection->Forget(this)) ClientRuntime::Current()->Close(connection);
  }
  delete this;
  return 0;
}

}  // namespace com_posix
