// Proxies of the programming server's interfaces. Each turns a call into a
// request to the server's object and its answer back into the result code
// and outputs; the operations the client never calls answer E_NOTIMPL here.
// Pointer outputs start empty, so a call that fails on the way leaves them
// empty.
#include <cstring>
#include <memory>

#include "platform/posix/com_client.h"
#include "platform/posix/com_marshal.capnp.h"
#include "platform/posix/interface_proxies.h"
#include "platform/posix/value_marshal.h"
#include "server/server_interfaces.h"
#include "server/unused_entries.h"

namespace com_posix {

namespace {

// Each proxy holds its capability through a pointer rather than in a
// std::optional: a capability's destructor may throw, which would make the
// proxy's own destructor laxer than ProxyBase's, and libstdc++'s optional
// of a capability does not compile with clang.

// A proxy answers for IUnknown and its own interface only, as the server's
// objects are never asked for others.
template <typename Interface>
HRESULT QueryProxy(Interface* self, REFIID own, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == own) {
    self->AddRef();
    *object = self;
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

capnp::Data::Reader BytesOf(const void* value, size_t size) {
  return capnp::Data::Reader(static_cast<const capnp::byte*>(value), size);
}

class ProgrammingInterfaceProxy final : public ProgrammingInterfaceUnused,
                                        private ProxyBase {
 public:
  ProgrammingInterfaceProxy(com_marshal::ProgrammingInterface::Client target,
                            Connection* connection)
      : ProxyBase(connection),
        target_(std::make_unique<com_marshal::ProgrammingInterface::Client>(
            kj::mv(target))) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    return QueryProxy(this, IID_ProgrammingInterface, riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefProxy(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseProxy(); }

  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG groupKey, REFGUID groupId,
                                         GroupTicket* ticket,
                                         USHORT* status) override {
    if (ticket == nullptr || status == nullptr) return E_POINTER;
    return Call(
        [&] {
          auto request = target_->acquireGroupRequest();
          request.setGroupKey(groupKey);
          request.setGroupId(GuidBytes(groupId));
          request.setStatus(*status);
          return request.send();
        },
        [&](auto& response) {
          const capnp::Data::Reader bytes = response.getTicket();
          if (bytes.size() != sizeof(GroupTicket)) return kBadStubData;
          std::memcpy(ticket->bytes, bytes.begin(), sizeof(GroupTicket));
          *status = response.getStatus();
          return static_cast<HRESULT>(response.getResult());
        });
  }

  HRESULT STDMETHODCALLTYPE StartErase(ULONG startAddress, ULONG length,
                                       USHORT* status) override {
    if (status == nullptr) return E_POINTER;
    return Call(
        [&] {
          auto request = target_->startEraseRequest();
          request.setStartAddress(startAddress);
          request.setLength(length);
          request.setStatus(*status);
          return request.send();
        },
        [&](auto& response) { return TakeStatus(response, status); });
  }

  HRESULT STDMETHODCALLTYPE PollErase(USHORT* status) override {
    if (status == nullptr) return E_POINTER;
    return Call(
        [&] {
          auto request = target_->pollEraseRequest();
          request.setStatus(*status);
          return request.send();
        },
        [&](auto& response) { return TakeStatus(response, status); });
  }

  HRESULT STDMETHODCALLTYPE ProgramRegion(ULONG startAddress, ULONG length,
                                          SAFEARRAY* data,
                                          USHORT* status) override {
    if (status == nullptr) return E_POINTER;
    return Call(
        [&] {
          auto request = target_->programRegionRequest();
          request.setStartAddress(startAddress);
          request.setLength(length);
          WriteArray(data, request.initData(), /*borrow=*/true);
          request.setStatus(*status);
          return request.send();
        },
        [&](auto& response) { return TakeStatus(response, status); });
  }

  HRESULT STDMETHODCALLTYPE ResetDevice(USHORT* status) override {
    if (status == nullptr) return E_POINTER;
    return Call(
        [&] {
          auto request = target_->resetDeviceRequest();
          request.setStatus(*status);
          return request.send();
        },
        [&](auto& response) { return TakeStatus(response, status); });
  }

 private:
  template <typename Response>
  static HRESULT TakeStatus(Response& response, USHORT* status) {
    *status = response.getStatus();
    return response.getResult();
  }

  void DropCapability() override { target_.reset(); }

  std::unique_ptr<com_marshal::ProgrammingInterface::Client> target_;
};

class DeviceInterfaceProxy final : public DeviceInterfaceUnused,
                                   private ProxyBase {
 public:
  DeviceInterfaceProxy(com_marshal::DeviceInterface::Client target,
                       Connection* connection)
      : ProxyBase(connection),
        target_(std::make_unique<com_marshal::DeviceInterface::Client>(
            kj::mv(target))) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    return QueryProxy(this, IID_DeviceInterface, riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefProxy(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseProxy(); }

  HRESULT STDMETHODCALLTYPE
  GetCodeProgrammer(USHORT unitKeyA, USHORT identityId,
                    ProgrammingInterface** code) override {
    if (code == nullptr) return E_POINTER;
    *code = nullptr;
    return Call(
        [&] {
          auto request = target_->getCodeProgrammerRequest();
          request.setUnitKeyA(unitKeyA);
          request.setIdentityId(identityId);
          return request.send();
        },
        [&](auto& response) { return TakeProgrammer(response, code); });
  }

  HRESULT STDMETHODCALLTYPE
  GetStoreProgrammer(USHORT unitKeyA, USHORT identityId,
                     ProgrammingInterface** store) override {
    if (store == nullptr) return E_POINTER;
    *store = nullptr;
    return Call(
        [&] {
          auto request = target_->getStoreProgrammerRequest();
          request.setUnitKeyA(unitKeyA);
          request.setIdentityId(identityId);
          return request.send();
        },
        [&](auto& response) { return TakeProgrammer(response, store); });
  }

 private:
  template <typename Response>
  HRESULT TakeProgrammer(Response& response, ProgrammingInterface** out) {
    if (response.hasProgrammer()) {
      *out =
          new ProgrammingInterfaceProxy(response.getProgrammer(), connection());
    }
    return response.getResult();
  }

  void DropCapability() override { target_.reset(); }

  std::unique_ptr<com_marshal::DeviceInterface::Client> target_;
};

class ProgrammingServerProxy final : public ProgrammingServerUnused,
                                     private ProxyBase {
 public:
  ProgrammingServerProxy(com_marshal::ProgrammingServer::Client target,
                         Connection* connection)
      : ProxyBase(connection),
        target_(std::make_unique<com_marshal::ProgrammingServer::Client>(
            kj::mv(target))) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    return QueryProxy(this, IID_ProgrammingServer, riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefProxy(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseProxy(); }

  HRESULT STDMETHODCALLTYPE GetIdentities(USHORT unitKeyA, USHORT unitKeyB,
                                          LONG first, LONG second, LONG third,
                                          SAFEARRAY** identities) override {
    if (identities == nullptr) return E_POINTER;
    *identities = nullptr;
    return Call(
        [&] {
          auto request = target_->getIdentitiesRequest();
          request.setUnitKeyA(unitKeyA);
          request.setUnitKeyB(unitKeyB);
          request.setFirst(first);
          request.setSecond(second);
          request.setThird(third);
          return request.send();
        },
        [&](auto& response) {
          const HRESULT hr = ReadArray(response.getIdentities(), identities);
          return FAILED(hr) ? hr : response.getResult();
        });
  }

  HRESULT STDMETHODCALLTYPE GetAccessName(USHORT accessLevel,
                                          BSTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    return Call(
        [&] {
          auto request = target_->getAccessNameRequest();
          request.setAccessLevel(accessLevel);
          return request.send();
        },
        [&](auto& response) { return TakeName(response, name); });
  }

  HRESULT STDMETHODCALLTYPE GetIdentityName(USHORT identityGroup,
                                            USHORT identityId,
                                            BSTR* name) override {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;
    return Call(
        [&] {
          auto request = target_->getIdentityNameRequest();
          request.setIdentityGroup(identityGroup);
          request.setIdentityId(identityId);
          return request.send();
        },
        [&](auto& response) { return TakeName(response, name); });
  }

  HRESULT STDMETHODCALLTYPE SetProfile(SAFEARRAY* profile) override {
    return Call(
        [&] {
          auto request = target_->setProfileRequest();
          WriteArray(profile, request.initProfile(), /*borrow=*/true);
          return request.send();
        },
        [&](auto& response) {
          return static_cast<HRESULT>(response.getResult());
        });
  }

  HRESULT STDMETHODCALLTYPE DetectDevices(SAFEARRAY** devices) override {
    if (devices == nullptr) return E_POINTER;
    *devices = nullptr;
    return Call([&] { return target_->detectDevicesRequest().send(); },
                [&](auto& response) {
                  const HRESULT hr = ReadArray(response.getDevices(), devices);
                  return FAILED(hr) ? hr : response.getResult();
                });
  }

  HRESULT STDMETHODCALLTYPE OpenDevice(ULONG unitAddressA,
                                       UnitAddressTail addressTail,
                                       DeviceInterface** device) override {
    if (device == nullptr) return E_POINTER;
    *device = nullptr;
    return Call(
        [&] {
          auto request = target_->openDeviceRequest();
          request.setUnitAddressA(unitAddressA);
          request.setAddressTail(BytesOf(&addressTail, sizeof addressTail));
          return request.send();
        },
        [&](auto& response) {
          if (response.hasDevice()) {
            *device =
                new DeviceInterfaceProxy(response.getDevice(), connection());
          }
          return static_cast<HRESULT>(response.getResult());
        });
  }

  HRESULT STDMETHODCALLTYPE GetVersion(USHORT* major, USHORT* minor) override {
    if (major == nullptr || minor == nullptr) return E_POINTER;
    return Call(
        [&] {
          auto request = target_->getVersionRequest();
          request.setMajor(*major);
          request.setMinor(*minor);
          return request.send();
        },
        [&](auto& response) {
          *major = response.getMajor();
          *minor = response.getMinor();
          return static_cast<HRESULT>(response.getResult());
        });
  }

 private:
  template <typename Response>
  static HRESULT TakeName(Response& response, BSTR* name) {
    const HRESULT hr = ReadText(response.getName(), name);
    return FAILED(hr) ? hr : response.getResult();
  }

  void DropCapability() override { target_.reset(); }

  std::unique_ptr<com_marshal::ProgrammingServer::Client> target_;
};

class SimulatedServerProxy final : public ::SimulatedServer, private ProxyBase {
 public:
  SimulatedServerProxy(com_marshal::SimulatedServer::Client target,
                       Connection* connection)
      : ProxyBase(connection),
        target_(std::make_unique<com_marshal::SimulatedServer::Client>(
            kj::mv(target))) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    return QueryProxy(this, IID_SimulatedServer, riid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefProxy(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseProxy(); }

  HRESULT STDMETHODCALLTYPE GetSimulator(BSTR* path, LONG* bits) override {
    if (path == nullptr || bits == nullptr) return E_POINTER;
    *path = nullptr;
    return Call([&] { return target_->getSimulatorRequest().send(); },
                [&](auto& response) {
                  const HRESULT hr = ReadText(response.getPath(), path);
                  if (FAILED(hr)) return hr;
                  *bits = response.getBits();
                  return static_cast<HRESULT>(response.getResult());
                });
  }

 private:
  void DropCapability() override { target_.reset(); }

  std::unique_ptr<com_marshal::SimulatedServer::Client> target_;
};

template <typename Proxy, typename Twin>
HRESULT Answer(capnp::Capability::Client capability, Connection* connection,
               REFIID wanted, void** object) {
  auto* proxy = new Proxy(capability.castAs<Twin>(), connection);
  const HRESULT hr = proxy->QueryInterface(wanted, object);
  proxy->Release();
  return hr;
}

}  // namespace

bool IsMarshalledInterface(REFIID iid) {
  return iid == IID_ProgrammingServer || iid == IID_DeviceInterface ||
         iid == IID_ProgrammingInterface || iid == IID_SimulatedServer;
}

HRESULT MakeProxy(REFIID iid, capnp::Capability::Client capability,
                  Connection* connection, REFIID wanted, void** object) {
  *object = nullptr;
  if (iid == IID_ProgrammingServer) {
    return Answer<ProgrammingServerProxy, com_marshal::ProgrammingServer>(
        kj::mv(capability), connection, wanted, object);
  }
  if (iid == IID_DeviceInterface) {
    return Answer<DeviceInterfaceProxy, com_marshal::DeviceInterface>(
        kj::mv(capability), connection, wanted, object);
  }
  if (iid == IID_ProgrammingInterface) {
    return Answer<ProgrammingInterfaceProxy, com_marshal::ProgrammingInterface>(
        kj::mv(capability), connection, wanted, object);
  }
  if (iid == IID_SimulatedServer) {
    return Answer<SimulatedServerProxy, com_marshal::SimulatedServer>(
        kj::mv(capability), connection, wanted, object);
  }
  return E_NOINTERFACE;
}

}  // namespace com_posix
