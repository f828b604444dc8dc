// The client side of calls to local servers: the event loop that carries
// them, one connection per started server, and what every proxy shares.
//
// Everything here lives on the thread that initialised COM, from the first
// activation of a local server until CoUninitialize undoes the last
// CoInitializeEx; then the connections close (so the servers end) and the
// proxies still held are cut off.
#ifndef ECUPROG_PLATFORM_POSIX_COM_CLIENT_H
#define ECUPROG_PLATFORM_POSIX_COM_CLIENT_H

#include <capnp/rpc-twoparty.h>
#include <kj/async-io.h>
#include <kj/timer.h>
#include <sys/types.h>

#include <memory>
#include <set>
#include <vector>

#include "platform/posix/windows_subset.h"

namespace com_posix {

class ProxyBase;

/// The connection to one started server, and the proxies that call through
/// it. It closes when its last proxy is released.
class Connection {
 public:
  Connection(kj::AsyncIoContext& io, kj::Own<kj::AsyncIoStream> stream,
             pid_t pid);
  /// Cuts off the proxies still attached, closes the channel and leaves the
  /// server's process to be collected.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  /// The server's first object, which creates the instance asked for.
  capnp::Capability::Client Bootstrap();
  kj::WaitScope& waitScope() { return io_.waitScope; }
  kj::Timer& timer() { return io_.provider->getTimer(); }
  pid_t pid() const { return pid_; }

  /// True once the channel has failed: no call can succeed any more.
  bool broken() const { return broken_; }
  /// The result code of a call that failed in transport; a broken channel
  /// marks the connection broken.
  HRESULT Failed(const kj::Exception& error);

  void Attach(ProxyBase* proxy) { proxies_.insert(proxy); }
  /// Forgets a released proxy. True when it was the last, and the connection
  /// is to be closed; otherwise the release goes to the server at once.
  bool Forget(ProxyBase* proxy);

 private:
  kj::AsyncIoContext& io_;
  kj::Own<kj::AsyncIoStream> stream_;
  capnp::TwoPartyVatNetwork network_;
  capnp::RpcSystem<capnp::rpc::twoparty::VatId> rpc_;
  pid_t pid_;
  bool broken_ = false;
  std::set<ProxyBase*> proxies_;
};

/// The event loop and the open connections of this process's client side.
class ClientRuntime {
 public:
  /// The running client side, or null.
  static ClientRuntime* Current();
  /// The running client side, started if needed. Throws kj::Exception when
  /// no event loop can be made.
  static ClientRuntime& Start();
  /// Closes every connection and ends the event loop; proxies still held are
  /// cut off. Waits briefly for the servers to end.
  static void Stop();

  kj::WaitScope& waitScope() { return io_.waitScope; }
  kj::Timer& timer() { return io_.provider->getTimer(); }

  /// A connection over a socket this takes over.
  Connection* Open(int fd, pid_t pid);
  /// Closes and destroys a connection.
  void Close(Connection* connection);

 private:
  ClientRuntime();
  kj::AsyncIoContext io_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

/// What every proxy shares: a reference count and its connection. A proxy
/// whose connection is gone answers every call with CO_E_NOTINITIALIZED.
class ProxyBase {
 public:
  /// Drops the proxy's capability and forgets the connection, which is about
  /// to close.
  void Disconnect();

 protected:
  explicit ProxyBase(Connection* connection);
  virtual ~ProxyBase() = default;
  ProxyBase(const ProxyBase&) = delete;
  ProxyBase& operator=(const ProxyBase&) = delete;

  /// Lets go of the capability; it must be done while the connection lives.
  virtual void DropCapability() = 0;

  ULONG AddRefProxy() { return ++references_; }
  /// Deletes the proxy when the last reference goes.
  ULONG ReleaseProxy();

  /// Sends a request built by `send` and waits for its answer, which `take`
  /// turns into the call's result and outputs. Transport failures become
  /// negative result codes and leave `take` uncalled.
  template <typename Send, typename Take>
  HRESULT Call(Send&& send, Take&& take) {
    if (connection_ == nullptr) return CO_E_NOTINITIALIZED;
    if (connection_->broken()) return RPC_E_DISCONNECTED;
    try {
      auto response = send().wait(connection_->waitScope());
      return take(response);
    } catch (const kj::Exception& error) {
      return connection_->Failed(error);
    }
  }

  Connection* connection() const { return connection_; }

 private:
  Connection* connection_;
  ULONG references_ = 1;
};

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_COM_CLIENT_H
