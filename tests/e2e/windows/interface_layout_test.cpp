// The function tables COM marshals with (generated from
// programming_server.idl) against the C++ interfaces the tool and the
// simulator use: C code calls C++ objects by method name through the
// generated tables, and every call must reach the method of that name with
// its arguments intact. OpenDevice's six address bytes leave C as the
// marshalling declares them for this target and must arrive in C++ by value.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "server/server_interfaces.h"
#include "tests/e2e/windows/interface_layout_calls.h"

unsigned char kLayoutOut[64];

namespace {

// What the last call delivered.
struct Received {
  unsigned slot = 0;
  std::vector<unsigned long> numbers;
  const void* out = nullptr;
  GUID group{};
};
Received last;

HRESULT Slot(unsigned slot, std::vector<unsigned long> numbers = {},
             const void* out = nullptr) {
  last.slot = slot;
  last.numbers = std::move(numbers);
  last.out = out;
  return static_cast<HRESULT>(0x00770000u | slot);
}

#define UNUSED(n) \
  HRESULT STDMETHODCALLTYPE Unused##n() override { return Slot(n); }
#define UNKNOWN                                                       \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { \
    return E_NOTIMPL;                                                 \
  }                                                                   \
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }             \
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

struct Server final : ProgrammingServer {
  UNKNOWN
  UNUSED(3)
  UNUSED(4) UNUSED(6) UNUSED(7) UNUSED(8) UNUSED(12) HRESULT STDMETHODCALLTYPE
      GetIdentities(USHORT a, USHORT b, LONG first, LONG second, LONG third,
                    SAFEARRAY** out) override {
    return Slot(
        5,
        {a, b, static_cast<unsigned long>(first),
         static_cast<unsigned long>(second), static_cast<unsigned long>(third)},
        out);
  }
  HRESULT STDMETHODCALLTYPE GetAccessName(USHORT level, BSTR* out) override {
    return Slot(9, {level}, out);
  }
  HRESULT STDMETHODCALLTYPE GetIdentityName(USHORT group, USHORT id,
                                            BSTR* out) override {
    return Slot(10, {group, id}, out);
  }
  HRESULT STDMETHODCALLTYPE SetProfile(SAFEARRAY* profile) override {
    return Slot(11, {}, profile);
  }
  HRESULT STDMETHODCALLTYPE DetectDevices(SAFEARRAY** out) override {
    return Slot(13, {}, out);
  }
  HRESULT STDMETHODCALLTYPE OpenDevice(ULONG a, UnitAddressTail tail,
                                       DeviceInterface** out) override {
    return Slot(14, {a, tail.unitAddressB, tail.unitAddressC}, out);
  }
  HRESULT STDMETHODCALLTYPE GetVersion(USHORT* major, USHORT*) override {
    return Slot(15, {}, major);
  }
};

struct Device final : DeviceInterface {
  UNKNOWN
  UNUSED(3)
  UNUSED(4) UNUSED(5) UNUSED(6) UNUSED(7) UNUSED(8) UNUSED(9) UNUSED(10)
      UNUSED(11) UNUSED(12) UNUSED(13) UNUSED(14) UNUSED(15) UNUSED(16)
          UNUSED(17) UNUSED(18) UNUSED(19) UNUSED(20) UNUSED(21) UNUSED(22)
              UNUSED(23) UNUSED(24) UNUSED(25) UNUSED(26) UNUSED(27) UNUSED(28)
                  UNUSED(30) HRESULT STDMETHODCALLTYPE
      GetCodeProgrammer(USHORT key, USHORT id,
                        ProgrammingInterface** out) override {
    return Slot(29, {key, id}, out);
  }
  HRESULT STDMETHODCALLTYPE GetStoreProgrammer(
      USHORT key, USHORT id, ProgrammingInterface** out) override {
    return Slot(31, {key, id}, out);
  }
};

struct Programmer final : ProgrammingInterface {
  UNKNOWN
  UNUSED(4)
  HRESULT STDMETHODCALLTYPE AcquireGroup(ULONG key, REFGUID group,
                                         GroupTicket* ticket,
                                         USHORT*) override {
    const HRESULT result = Slot(3, {key}, ticket);
    last.group = group;
    return result;
  }
  HRESULT STDMETHODCALLTYPE StartErase(ULONG start, ULONG length,
                                       USHORT* status) override {
    return Slot(5, {start, length}, status);
  }
  HRESULT STDMETHODCALLTYPE PollErase(USHORT* status) override {
    return Slot(6, {}, status);
  }
  HRESULT STDMETHODCALLTYPE ProgramRegion(ULONG start, ULONG length,
                                          SAFEARRAY* data, USHORT*) override {
    return Slot(7, {start, length}, data);
  }
  HRESULT STDMETHODCALLTYPE ResetDevice(USHORT* status) override {
    return Slot(8, {}, status);
  }
};

// The numbers each call passes (interface_layout_calls.c), by name.
struct Expected {
  const char* name;
  std::vector<unsigned long> numbers;
};
const Expected kNumbers[] = {
    {"ProgrammingServer::GetIdentities",
     {0x1111, 0x2222, 3, static_cast<unsigned long>(-4), 5}},
    {"ProgrammingServer::GetAccessName", {0x3333}},
    {"ProgrammingServer::GetIdentityName", {0x4444, 0x5555}},
    {"ProgrammingServer::OpenDevice", {0x6666, 0x00470001, 0x0203}},
    {"DeviceInterface::GetCodeProgrammer", {0x7777, 0x8888}},
    {"DeviceInterface::GetStoreProgrammer", {0x9999, 0xAAAA}},
    {"ProgrammingInterface::AcquireGroup", {0xBBBBBBBB}},
    {"ProgrammingInterface::StartErase", {0xCCCCCCCC, 0xDDDDDDDD}},
    {"ProgrammingInterface::ProgramRegion", {0xEEEEEEEE, 0x12345678}},
};

int failures = 0;

void Fail(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  ++failures;
}

void CheckCalls(void* object, const LayoutCall* calls, unsigned slots,
                unsigned expectedSlots, const char* interfaceName) {
  if (slots != expectedSlots) {
    Fail(std::string(interfaceName) + " has " + std::to_string(slots) +
         " entries, expected " + std::to_string(expectedSlots));
  }
  for (const LayoutCall* call = calls; call->name != nullptr; ++call) {
    last = Received{};
    const HRESULT result = call->call(object);
    if (static_cast<unsigned long>(result) != (0x00770000u | call->slot) ||
        last.slot != call->slot) {
      Fail(std::string(call->name) + " reached entry " +
           std::to_string(last.slot) + ", expected " +
           std::to_string(call->slot));
      continue;
    }
    for (const Expected& expected : kNumbers) {
      if (std::strcmp(expected.name, call->name) == 0 &&
          last.numbers != expected.numbers) {
        Fail(std::string(call->name) + " received other arguments");
      }
    }
    if (last.out != nullptr && last.out != kLayoutOut &&
        last.out != kLayoutOut + 16) {
      Fail(std::string(call->name) + " received another output pointer");
    }
  }
}

}  // namespace

int main() {
  Server server;
  Device device;
  Programmer programmer;
  CheckCalls(static_cast<ProgrammingServer*>(&server), kProgrammingServerCalls,
             kProgrammingServerSlots, 16, "ProgrammingServer");
  CheckCalls(static_cast<DeviceInterface*>(&device), kDeviceInterfaceCalls,
             kDeviceInterfaceSlots, 32, "DeviceInterface");
  CheckCalls(static_cast<ProgrammingInterface*>(&programmer),
             kProgrammingInterfaceCalls, kProgrammingInterfaceSlots, 9,
             "ProgrammingInterface");
  const GUID group = {
      0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  last = Received{};
  kProgrammingInterfaceCalls[0].call(
      static_cast<ProgrammingInterface*>(&programmer));
  if (!IsEqualGUID(last.group, group)) Fail("AcquireGroup's identifier");
  if (kUnitAddressTailSize != sizeof(UnitAddressTail)) {
    Fail("the six address bytes are " + std::to_string(kUnitAddressTailSize) +
         " bytes in the description");
  }
  if (failures == 0) std::printf("interface layouts match\n");
  return failures == 0 ? 0 : 1;
}
