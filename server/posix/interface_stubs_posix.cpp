// Stubs of the programming server's interfaces: each request becomes a call
// on the server's object, and its result code and outputs go back whatever
// the code is. What the call returns by pointer is the stub's: arrays and
// texts are copied into the answer and freed, interfaces are served in turn.
// A number the call returns starts at the caller's value from the request,
// so one the server leaves unwritten goes back as the caller had it.
// An array argument is made for the call and destroyed after it, as COM
// does for an [in] array.
#include <cstring>

#include "platform/posix/com_marshal.capnp.h"
#include "platform/posix/interface_stubs.h"
#include "platform/posix/value_marshal.h"
#include "server/server_interfaces.h"

namespace com_posix {

namespace {

// Holds one reference to a server object for as long as the client does.
template <typename Interface>
class Held {
 public:
  explicit Held(Interface* object) : object_(object) {}
  ~Held() { object_->Release(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  Interface* operator->() const { return object_; }

 private:
  Interface* object_;
};

class ProgrammingInterfaceStub final
    : public com_marshal::ProgrammingInterface::Server {
 public:
  explicit ProgrammingInterfaceStub(::ProgrammingInterface* object)
      : object_(object) {}

 protected:
  kj::Promise<void> acquireGroup(AcquireGroupContext context) override {
    auto params = context.getParams();
    GUID groupId{};
    if (!ReadGuid(params.getGroupId(), &groupId)) {
      context.getResults().setResult(kBadStubData);
      return kj::READY_NOW;
    }
    GroupTicket ticket{};
    USHORT status = params.getStatus();
    const HRESULT hr =
        object_->AcquireGroup(params.getGroupKey(), groupId, &ticket, &status);
    auto results = context.getResults();
    results.setResult(hr);
    results.setTicket(capnp::Data::Reader(ticket.bytes, sizeof ticket.bytes));
    results.setStatus(status);
    return kj::READY_NOW;
  }

  kj::Promise<void> startErase(StartEraseContext context) override {
    auto params = context.getParams();
    USHORT status = params.getStatus();
    const HRESULT hr = object_->StartErase(params.getStartAddress(),
                                           params.getLength(), &status);
    Answer(context.getResults(), hr, status);
    return kj::READY_NOW;
  }

  kj::Promise<void> pollErase(PollEraseContext context) override {
    USHORT status = context.getParams().getStatus();
    const HRESULT hr = object_->PollErase(&status);
    Answer(context.getResults(), hr, status);
    return kj::READY_NOW;
  }

  kj::Promise<void> programRegion(ProgramRegionContext context) override {
    auto params = context.getParams();
    SAFEARRAY* data = nullptr;
    HRESULT hr = ReadArray(params.getData(), &data);
    USHORT status = params.getStatus();
    if (SUCCEEDED(hr)) {
      hr = object_->ProgramRegion(params.getStartAddress(), params.getLength(),
                                  data, &status);
      DestroyOwnedArray(data);
    }
    Answer(context.getResults(), hr, status);
    return kj::READY_NOW;
  }

  kj::Promise<void> resetDevice(ResetDeviceContext context) override {
    USHORT status = context.getParams().getStatus();
    const HRESULT hr = object_->ResetDevice(&status);
    Answer(context.getResults(), hr, status);
    return kj::READY_NOW;
  }

 private:
  template <typename Results>
  static void Answer(Results results, HRESULT hr, USHORT status) {
    results.setResult(hr);
    results.setStatus(status);
  }

  Held<::ProgrammingInterface> object_;
};

// Serves an interface output; an empty one stays empty.
com_marshal::ProgrammingInterface::Client Serve(
    ::ProgrammingInterface* object) {
  if (object == nullptr) return nullptr;
  return kj::heap<ProgrammingInterfaceStub>(object);
}

class DeviceInterfaceStub final : public com_marshal::DeviceInterface::Server {
 public:
  explicit DeviceInterfaceStub(::DeviceInterface* object) : object_(object) {}

 protected:
  kj::Promise<void> getCodeProgrammer(
      GetCodeProgrammerContext context) override {
    auto params = context.getParams();
    ::ProgrammingInterface* code = nullptr;
    const HRESULT hr = object_->GetCodeProgrammer(
        params.getUnitKeyA(), params.getIdentityId(), &code);
    Answer(context.getResults(), hr, code);
    return kj::READY_NOW;
  }

  kj::Promise<void> getStoreProgrammer(
      GetStoreProgrammerContext context) override {
    auto params = context.getParams();
    ::ProgrammingInterface* store = nullptr;
    const HRESULT hr = object_->GetStoreProgrammer(
        params.getUnitKeyA(), params.getIdentityId(), &store);
    Answer(context.getResults(), hr, store);
    return kj::READY_NOW;
  }

 private:
  template <typename Results>
  static void Answer(Results results, HRESULT hr,
                     ::ProgrammingInterface* programmer) {
    results.setResult(hr);
    if (programmer != nullptr) results.setProgrammer(Serve(programmer));
  }

  Held<::DeviceInterface> object_;
};

class ProgrammingServerStub final
    : public com_marshal::ProgrammingServer::Server {
 public:
  explicit ProgrammingServerStub(::ProgrammingServer* object)
      : object_(object) {}

 protected:
  kj::Promise<void> getIdentities(GetIdentitiesContext context) override {
    auto params = context.getParams();
    SAFEARRAY* identities = nullptr;
    const HRESULT hr = object_->GetIdentities(
        params.getUnitKeyA(), params.getUnitKeyB(), params.getFirst(),
        params.getSecond(), params.getThird(), &identities);
    auto results = context.getResults();
    results.setResult(hr);
    WriteArray(identities, results.initIdentities());
    DestroyOwnedArray(identities);
    return kj::READY_NOW;
  }

  kj::Promise<void> getAccessName(GetAccessNameContext context) override {
    BSTR name = nullptr;
    const HRESULT hr =
        object_->GetAccessName(context.getParams().getAccessLevel(), &name);
    AnswerName(context.getResults(), hr, name);
    return kj::READY_NOW;
  }

  kj::Promise<void> getIdentityName(GetIdentityNameContext context) override {
    auto params = context.getParams();
    BSTR name = nullptr;
    const HRESULT hr = object_->GetIdentityName(params.getIdentityGroup(),
                                                params.getIdentityId(), &name);
    AnswerName(context.getResults(), hr, name);
    return kj::READY_NOW;
  }

  kj::Promise<void> setProfile(SetProfileContext context) override {
    SAFEARRAY* profile = nullptr;
    HRESULT hr = ReadArray(context.getParams().getProfile(), &profile);
    if (SUCCEEDED(hr)) {
      hr = object_->SetProfile(profile);
      DestroyOwnedArray(profile);
    }
    context.getResults().setResult(hr);
    return kj::READY_NOW;
  }

  kj::Promise<void> detectDevices(DetectDevicesContext context) override {
    SAFEARRAY* devices = nullptr;
    const HRESULT hr = object_->DetectDevices(&devices);
    auto results = context.getResults();
    results.setResult(hr);
    WriteArray(devices, results.initDevices());
    DestroyOwnedArray(devices);
    return kj::READY_NOW;
  }

  kj::Promise<void> openDevice(OpenDeviceContext context) override {
    auto params = context.getParams();
    const capnp::Data::Reader tailBytes = params.getAddressTail();
    auto results = context.getResults();
    UnitAddressTail tail{};
    if (tailBytes.size() != sizeof tail) {
      results.setResult(kBadStubData);
      return kj::READY_NOW;
    }
    std::memcpy(&tail, tailBytes.begin(), sizeof tail);
    ::DeviceInterface* device = nullptr;
    const HRESULT hr =
        object_->OpenDevice(params.getUnitAddressA(), tail, &device);
    results.setResult(hr);
    if (device != nullptr) {
      results.setDevice(kj::heap<DeviceInterfaceStub>(device));
    }
    return kj::READY_NOW;
  }

  kj::Promise<void> getVersion(GetVersionContext context) override {
    auto params = context.getParams();
    USHORT major = params.getMajor();
    USHORT minor = params.getMinor();
    const HRESULT hr = object_->GetVersion(&major, &minor);
    auto results = context.getResults();
    results.setResult(hr);
    results.setMajor(major);
    results.setMinor(minor);
    return kj::READY_NOW;
  }

 private:
  template <typename Results>
  static void AnswerName(Results results, HRESULT hr, BSTR name) {
    results.setResult(hr);
    WriteText(name, results.initName());
    SysFreeString(name);
  }

  Held<::ProgrammingServer> object_;
};

class SimulatedServerStub final : public com_marshal::SimulatedServer::Server {
 public:
  explicit SimulatedServerStub(::SimulatedServer* object) : object_(object) {}

 protected:
  kj::Promise<void> getSimulator(GetSimulatorContext context) override {
    BSTR path = nullptr;
    LONG bits = 0;
    const HRESULT hr = object_->GetSimulator(&path, &bits);
    auto results = context.getResults();
    results.setResult(hr);
    WriteText(path, results.initPath());
    SysFreeString(path);
    results.setBits(bits);
    return kj::READY_NOW;
  }

 private:
  Held<::SimulatedServer> object_;
};

}  // namespace

kj::Maybe<capnp::Capability::Client> MakeStub(REFIID iid, void* object) {
  if (iid == IID_ProgrammingServer) {
    return capnp::Capability::Client(kj::heap<ProgrammingServerStub>(
        static_cast<::ProgrammingServer*>(object)));
  }
  if (iid == IID_DeviceInterface) {
    return capnp::Capability::Client(
        kj::heap<DeviceInterfaceStub>(static_cast<::DeviceInterface*>(object)));
  }
  if (iid == IID_ProgrammingInterface) {
    return capnp::Capability::Client(kj::heap<ProgrammingInterfaceStub>(
        static_cast<::ProgrammingInterface*>(object)));
  }
  if (iid == IID_SimulatedServer) {
    return capnp::Capability::Client(
        kj::heap<SimulatedServerStub>(static_cast<::SimulatedServer*>(object)));
  }
  static_cast<IUnknown*>(object)->Release();
  return nullptr;
}

kj::Maybe<capnp::Capability::Client> MakeStubForUnknown(IUnknown* object,
                                                        IID* iid) {
  for (const IID* candidate : {&IID_ProgrammingServer, &IID_DeviceInterface,
                               &IID_ProgrammingInterface}) {
    void* typed = nullptr;
    if (SUCCEEDED(object->QueryInterface(*candidate, &typed)) &&
        typed != nullptr) {
      object->Release();
      *iid = *candidate;
      return MakeStub(*candidate, typed);
    }
  }
  object->Release();
  return nullptr;
}

}  // namespace com_posix
