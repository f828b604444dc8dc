// Calls to a local server in its own process: activation, every marshalled
// operation, lifetimes and failures. The server is the echo server of
// echo_server.h, registered in a registry of the test's own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/com_registration.h"
#include "server/server_interfaces.h"
#include "tests/platform/echo_server.h"
#include "tests/platform/temporary_registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string FileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The text a file gets within `seconds`, or "" when it does not appear.
std::string AwaitFile(const std::string& path, double seconds) {
  const Clock::time_point start = Clock::now();
  while (SecondsSince(start) < seconds) {
    std::string text = FileText(path);
    if (!text.empty()) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::string();
}

SAFEARRAY* PatternedArray(VARTYPE vt, LONG lower, ULONG count) {
  SAFEARRAYBOUND bound{count, lower};
  SAFEARRAY* array = SafeArrayCreate(vt, 1, &bound);
  auto* bytes = static_cast<BYTE*>(array->pvData);
  for (size_t i = 0; i < size_t{count} * array->cbElements; ++i) {
    bytes[i] = echo_server::Pattern(i);
  }
  return array;
}

// Checks type, bounds and the element pattern of an array that arrived.
void ExpectPatterned(SAFEARRAY* array, VARTYPE vt, LONG lower, ULONG count) {
  ASSERT_NE(array, nullptr);
  VARTYPE got = VT_EMPTY;
  ASSERT_EQ(SafeArrayGetVartype(array, &got), S_OK);
  EXPECT_EQ(got, vt);
  LONG low = 0, high = 0;
  ASSERT_EQ(SafeArrayGetLBound(array, 1, &low), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(array, 1, &high), S_OK);
  EXPECT_EQ(low, lower);
  EXPECT_EQ(static_cast<int64_t>(high) - low + 1, int64_t{count});
  const auto* bytes = static_cast<const BYTE*>(array->pvData);
  size_t wrong = 0;
  for (size_t i = 0; i < size_t{count} * array->cbElements; ++i) {
    if (bytes[i] != echo_server::Pattern(i)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
}

// The bytes of the last record the echo server made, as DetectDevices
// hands them back.
std::string LastRecord(ProgrammingServer* server) {
  SAFEARRAY* devices = nullptr;
  EXPECT_EQ(server->DetectDevices(&devices), S_OK);
  if (devices == nullptr) return std::string();
  std::string bytes(static_cast<const char*>(devices->pvData),
                    devices->rgsabound[0].cElements * devices->cbElements);
  SafeArrayDestroy(devices);
  return bytes;
}

class LocalServerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    initialised_ = true;
    Register("");
  }

  void TearDown() override {
    if (initialised_) CoUninitialize();
  }

  // Registers the echo server with extra arguments before "-Embedding".
  void Register(const std::string& arguments) {
    const std::string command = std::string("\"") + TEST_LOCAL_SERVER_PATH +
                                "\" --exit-marker=" + ExitMarker() +
                                " --pid-file=" + PidFile() + " " + arguments;
    ASSERT_EQ(RegisterLocalServer(echo_server::kClass, command.c_str()), S_OK);
  }

  std::string ExitMarker() const { return registry_.scratch() + "/exit"; }
  std::string PidFile() const { return registry_.scratch() + "/pid"; }

  ProgrammingServer* Activate() {
    void* object = nullptr;
    const HRESULT hr =
        CoCreateInstance(echo_server::kClass, nullptr, CLSCTX_LOCAL_SERVER,
                         IID_ProgrammingServer, &object);
    EXPECT_EQ(hr, S_OK);
    return static_cast<ProgrammingServer*>(object);
  }

  void Uninitialise() {
    CoUninitialize();
    initialised_ = false;
  }

  TemporaryRegistry registry_;
  bool initialised_ = false;
};

TEST_F(LocalServerTest, ActivationStartsServerThatAnswers) {
  const Clock::time_point start = Clock::now();
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  USHORT major = 0, minor = 0;
  ASSERT_EQ(server->GetVersion(&major, &minor), S_OK);
  std::printf("[ timing ] activation and first call: %.1f ms\n",
              SecondsSince(start) * 1000);
  EXPECT_EQ(major, 1);  // the root object alone
  EXPECT_EQ(minor, echo_server::kMinorVersion);
  EXPECT_EQ(server->GetVersion(nullptr, &minor), E_POINTER);
  server->Release();
}

TEST_F(LocalServerTest, ProxiesAnswerOnlyTheirOwnInterfaceAndIUnknown) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  void* same = nullptr;
  ASSERT_EQ(server->QueryInterface(IID_IUnknown, &same), S_OK);
  EXPECT_EQ(same, server);
  static_cast<IUnknown*>(same)->Release();
  ASSERT_EQ(server->QueryInterface(IID_ProgrammingServer, &same), S_OK);
  EXPECT_EQ(server->Release(), 1u);
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(server->QueryInterface(IID_DeviceInterface, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);

  // The table positions the client never calls go nowhere.
  for (HRESULT hr :
       {server->Unused3(), server->Unused4(), server->Unused6(),
        server->Unused7(), server->Unused8(), server->Unused12()}) {
    EXPECT_EQ(hr, E_NOTIMPL);
  }
  server->Release();
}

TEST_F(LocalServerTest, ActivationForIUnknownServesTheRootInterface) {
  void* object = nullptr;
  ASSERT_EQ(CoCreateInstance(echo_server::kClass, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IUnknown, &object),
            S_OK);
  auto* unknown = static_cast<IUnknown*>(object);
  void* server = nullptr;
  ASSERT_EQ(unknown->QueryInterface(IID_ProgrammingServer, &server), S_OK);
  USHORT major = 0, minor = 0;
  EXPECT_EQ(static_cast<ProgrammingServer*>(server)->GetVersion(&major, &minor),
            S_OK);
  static_cast<ProgrammingServer*>(server)->Release();
  unknown->Release();
}

struct ArrayCase {
  VARTYPE vt;
  LONG lower;
  ULONG count;
};

void PrintTo(const ArrayCase& c, std::ostream* out) {
  *out << "vt " << c.vt << ", lower bound " << c.lower << ", " << c.count
       << " elements";
}

class ArrayRoundTripTest : public LocalServerTest,
                           public testing::WithParamInterface<ArrayCase> {};

// Arrays come back as made, even of a type or length the interface does not
// promise: judging them is the caller's business.
TEST_P(ArrayRoundTripTest, ArraysCrossBothWaysUnchanged) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  const ArrayCase c = GetParam();

  SAFEARRAY* made = nullptr;
  EXPECT_EQ(server->GetIdentities(c.vt, static_cast<USHORT>(c.count), c.lower,
                                  0, S_OK, &made),
            S_OK);
  ExpectPatterned(made, c.vt, c.lower, c.count);
  SafeArrayDestroy(made);

  SAFEARRAY* sent = PatternedArray(c.vt, c.lower, c.count);
  EXPECT_EQ(server->SetProfile(sent), S_OK);
  // The caller's array is untouched and still the caller's.
  EXPECT_EQ(sent->cLocks, 0u);
  ExpectPatterned(sent, c.vt, c.lower, c.count);
  SAFEARRAY* echoed = nullptr;
  ASSERT_EQ(server->DetectDevices(&echoed), S_OK);
  ExpectPatterned(echoed, c.vt, c.lower, c.count);
  SafeArrayDestroy(echoed);
  SafeArrayDestroy(sent);
  server->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ArrayRoundTripTest,
    testing::Values(ArrayCase{VT_UI1, 0, 1256 * 3},  // whole records
                    ArrayCase{VT_UI1, 0, 1256 + 7},  // a broken record
                    ArrayCase{VT_UI2, 0, 3 * 4},     // whole triples
                    ArrayCase{VT_UI2, 0, 5},         // a broken triple
                    ArrayCase{VT_UI1, 0, 0}, ArrayCase{VT_I1, 2, 9},
                    ArrayCase{VT_I2, -3, 4}, ArrayCase{VT_UI4, 0, 6},
                    ArrayCase{VT_I4, 1, 2}));

TEST_F(LocalServerTest, NullArraysAndResultCodesTravelAsTheyAre) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  for (HRESULT code : {S_OK, S_FALSE, E_FAIL, static_cast<HRESULT>(0x8007001F),
                       static_cast<HRESULT>(0x00041234)}) {
    SAFEARRAY* identities = reinterpret_cast<SAFEARRAY*>(1);
    EXPECT_EQ(server->GetIdentities(VT_UI2, 3, 0, echo_server::kNullArray, code,
                                    &identities),
              code);
    EXPECT_EQ(identities, nullptr);
    // A failure may still come with an array: it travels too.
    EXPECT_EQ(server->GetIdentities(VT_UI2, 3, 0, 0, code, &identities), code);
    ExpectPatterned(identities, VT_UI2, 0, 3);
    SafeArrayDestroy(identities);
  }
  EXPECT_EQ(server->SetProfile(nullptr), S_FALSE);
  SAFEARRAY* devices = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_EQ(server->DetectDevices(&devices), S_OK);
  EXPECT_EQ(devices, nullptr);
  EXPECT_EQ(server->DetectDevices(nullptr), E_POINTER);
  server->Release();
}

TEST_F(LocalServerTest, LargeArraysCrossBothWays) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  constexpr ULONG kImageBytes = 451 * 1024;
  SAFEARRAY* image = PatternedArray(VT_UI1, 0, kImageBytes);
  const Clock::time_point start = Clock::now();
  ASSERT_EQ(server->SetProfile(image), S_OK);
  SAFEARRAY* echoed = nullptr;
  ASSERT_EQ(server->DetectDevices(&echoed), S_OK);
  std::printf("[ timing ] %u bytes there and back: %.1f ms\n", kImageBytes,
              SecondsSince(start) * 1000);
  ExpectPatterned(echoed, VT_UI1, 0, kImageBytes);
  SafeArrayDestroy(echoed);
  SafeArrayDestroy(image);
  server->Release();
}

TEST_F(LocalServerTest, TextsKeepNullEmptyAndEveryUnit) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  BSTR name = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(server->GetAccessName(echo_server::kNullName, &name), S_OK);
  EXPECT_EQ(name, nullptr);

  ASSERT_EQ(server->GetAccessName(echo_server::kEmptyName, &name), S_OK);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(SysStringLen(name), 0u);
  SysFreeString(name);

  ASSERT_EQ(server->GetAccessName(echo_server::kWideName, &name), S_OK);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name, SysStringLen(name)),
            std::u16string(echo_server::WideName()));
  EXPECT_EQ(name[SysStringLen(name)], u'\0');
  SysFreeString(name);

  EXPECT_EQ(server->GetAccessName(echo_server::kFailedName, &name), E_FAIL);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name), u"failed");
  SysFreeString(name);

  EXPECT_EQ(server->GetIdentityName(0x8007, 0x0005, &name), E_ACCESSDENIED);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::u16string(name), u"identity");
  SysFreeString(name);
  server->Release();
}

TEST_F(LocalServerTest, OpenDeviceGetsEveryAddressByteAndMayGiveNothing) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  UnitAddressTail tail{};
  const BYTE tailBytes[6] = {0x01, 0x02, 0x03, 0x04, 0xFE, 0xFF};
  std::memcpy(&tail, tailBytes, sizeof tail);
  DeviceInterface* device = nullptr;
  ASSERT_EQ(server->OpenDevice(0x11223344, tail, &device), S_OK);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(LastRecord(server),
            std::string("\x44\x33\x22\x11\x01\x02\x03\x04\xFE\xFF", 10));
  device->Release();

  DeviceInterface* none = reinterpret_cast<DeviceInterface*>(1);
  EXPECT_EQ(server->OpenDevice(echo_server::kNoUnit, tail, &none), S_OK);
  EXPECT_EQ(none, nullptr);
  none = reinterpret_cast<DeviceInterface*>(1);
  EXPECT_EQ(server->OpenDevice(echo_server::kRefusedUnit, tail, &none), E_FAIL);
  EXPECT_EQ(none, nullptr);
  server->Release();
}

TEST_F(LocalServerTest, DeviceAndProgrammingCallsCarryTheirArguments) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  DeviceInterface* device = nullptr;
  ASSERT_EQ(server->OpenDevice(7, UnitAddressTail{}, &device), S_OK);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Unused3(), E_NOTIMPL);
  EXPECT_EQ(device->Unused30(), E_NOTIMPL);

  ProgrammingInterface* store = reinterpret_cast<ProgrammingInterface*>(1);
  EXPECT_EQ(
      device->GetStoreProgrammer(0x1234, echo_server::kNoIdentity, &store),
      S_OK);
  EXPECT_EQ(store, nullptr);
  ProgrammingInterface* code = nullptr;
  ASSERT_EQ(device->GetCodeProgrammer(0x1234, 0x5678, &code), S_OK);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(LastRecord(server), std::string("\x34\x12\x78\x56", 4));

  const GUID group = {0xA1B2C3D4,
                      0xE5F6,
                      0x4711,
                      {0x80, 0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7}};
  GroupTicket ticket{};
  USHORT status = 0xFFFF;
  ASSERT_EQ(code->AcquireGroup(0x00C0FFEE, group, &ticket, &status), S_OK);
  EXPECT_EQ(status, 0xFFEE);
  const auto* groupBytes = reinterpret_cast<const BYTE*>(&group);
  for (size_t i = 0; i < sizeof ticket.bytes; ++i) {
    EXPECT_EQ(ticket.bytes[i], groupBytes[i] ^ echo_server::kTicketMask);
  }
  EXPECT_EQ(LastRecord(server),
            std::string("\xEE\xFF\xC0\x00", 4) +
                std::string(reinterpret_cast<const char*>(&group), 16));

  ASSERT_EQ(code->StartErase(0x10000, 0x70000, &status), S_OK);
  EXPECT_EQ(status, kStatusBusy);
  ASSERT_EQ(code->PollErase(&status), S_OK);
  EXPECT_EQ(status, kStatusDone);
  SAFEARRAY* data = PatternedArray(VT_UI1, 0, 100);
  ASSERT_EQ(code->ProgramRegion(0x10000, 100, data, &status), S_OK);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(code->ProgramRegion(0x10000, 99, data, &status), S_OK);
  EXPECT_EQ(status, 1);
  SafeArrayDestroy(data);
  EXPECT_EQ(code->ResetDevice(&status), echo_server::kResetResult);
  EXPECT_EQ(status, echo_server::kResetStatus);
  EXPECT_EQ(code->Unused4(), E_NOTIMPL);
  EXPECT_EQ(code->PollErase(nullptr), E_POINTER);

  code->Release();
  device->Release();
  server->Release();
}

TEST_F(LocalServerTest, ReleasingAProxyReleasesTheServerObject) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  DeviceInterface* device = nullptr;
  ASSERT_EQ(server->OpenDevice(7, UnitAddressTail{}, &device), S_OK);
  ProgrammingInterface* code = nullptr;
  ASSERT_EQ(device->GetCodeProgrammer(1, 2, &code), S_OK);
  USHORT live = 0, minor = 0;
  ASSERT_EQ(server->GetVersion(&live, &minor), S_OK);
  EXPECT_EQ(live, 3);

  EXPECT_EQ(code->AddRef(), 2u);
  EXPECT_EQ(code->Release(), 1u);
  ASSERT_EQ(server->GetVersion(&live, &minor), S_OK);
  EXPECT_EQ(live, 3);
  EXPECT_EQ(code->Release(), 0u);
  ASSERT_EQ(server->GetVersion(&live, &minor), S_OK);
  EXPECT_EQ(live, 2);
  EXPECT_EQ(device->Release(), 0u);
  ASSERT_EQ(server->GetVersion(&live, &minor), S_OK);
  EXPECT_EQ(live, 1);

  // The last reference ends the server, which has released everything.
  EXPECT_EQ(server->Release(), 0u);
  EXPECT_EQ(AwaitFile(ExitMarker(), 10), "0 0");
}

TEST_F(LocalServerTest, AfterUninitialiseLeftoverProxiesFailCleanly) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  DeviceInterface* device = nullptr;
  ASSERT_EQ(server->OpenDevice(7, UnitAddressTail{}, &device), S_OK);
  ASSERT_NE(device, nullptr);

  Uninitialise();
  // Closing the connection ended the server, and no process is left behind.
  EXPECT_EQ(AwaitFile(ExitMarker(), 10), "0 0");
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  USHORT major = 0, minor = 0;
  EXPECT_EQ(server->GetVersion(&major, &minor), CO_E_NOTINITIALIZED);
  ProgrammingInterface* code = reinterpret_cast<ProgrammingInterface*>(1);
  EXPECT_EQ(device->GetCodeProgrammer(1, 2, &code), CO_E_NOTINITIALIZED);
  EXPECT_EQ(code, nullptr);
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_EQ(server->Release(), 0u);
}

TEST_F(LocalServerTest, ServerDyingInACallFailsThatCallAndLaterOnes) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  DeviceInterface* device = reinterpret_cast<DeviceInterface*>(1);
  const Clock::time_point start = Clock::now();
  const HRESULT hr =
      server->OpenDevice(echo_server::kDyingUnit, UnitAddressTail{}, &device);
  EXPECT_TRUE(hr == RPC_E_DISCONNECTED || hr == RPC_S_CALL_FAILED_HR) << hr;
  EXPECT_EQ(device, nullptr);
  USHORT major = 0x55, minor = 0x66;
  EXPECT_TRUE(FAILED(server->GetVersion(&major, &minor)));
  EXPECT_EQ(major, 0x55);
  EXPECT_EQ(minor, 0x66);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(server->Release(), 0u);
}

TEST_F(LocalServerTest, KilledServerFailsLaterCallsWithoutHarmingTheClient) {
  ProgrammingServer* server = Activate();
  ASSERT_NE(server, nullptr);
  const pid_t pid = std::stoi(AwaitFile(PidFile(), 5));
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  // Large writes into the dead channel must not end this process.
  SAFEARRAY* image = PatternedArray(VT_UI1, 0, 451 * 1024);
  const Clock::time_point start = Clock::now();
  EXPECT_TRUE(FAILED(server->SetProfile(image)));
  EXPECT_TRUE(FAILED(server->SetProfile(image)));
  EXPECT_LT(SecondsSince(start), 5.0);
  SafeArrayDestroy(image);
  server->Release();
}

struct FailureCase {
  const char* name;
  const char* command;  // null: the echo server with `arguments`
  const char* arguments;
  HRESULT expected;  // 0: any failure
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class ActivationFailureTest : public LocalServerTest,
                              public testing::WithParamInterface<FailureCase> {
};

TEST_P(ActivationFailureTest, FailsWithinBoundedTime) {
  const FailureCase c = GetParam();
  if (c.command != nullptr) {
    if (*c.command == '\0') {
      ASSERT_EQ(UnregisterLocalServer(echo_server::kClass), S_OK);
    } else {
      ASSERT_EQ(RegisterLocalServer(echo_server::kClass, c.command), S_OK);
    }
  } else {
    Register(c.arguments);
  }
  void* object = reinterpret_cast<void*>(1);
  const Clock::time_point start = Clock::now();
  const HRESULT hr =
      CoCreateInstance(echo_server::kClass, nullptr, CLSCTX_LOCAL_SERVER,
                       IID_ProgrammingServer, &object);
  const double seconds = SecondsSince(start);
  if (c.expected != 0) {
    EXPECT_EQ(hr, c.expected);
  } else {
    EXPECT_TRUE(FAILED(hr)) << hr;
  }
  EXPECT_EQ(object, nullptr);
  EXPECT_LT(seconds, 15.0);
  std::printf("[ timing ] %s: 0x%08X after %.1f ms\n", c.name,
              static_cast<unsigned>(hr), seconds * 1000);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, ActivationFailureTest,
    testing::Values(
        FailureCase{"unregistered", "", nullptr, REGDB_E_CLASSNOTREG},
        // Only an absolute path to a regular, executable file
        // is a server; any other entry registers nothing.
        FailureCase{"missing", "/nonexistent/ecuprog-server", nullptr,
                    REGDB_E_CLASSNOTREG},
        FailureCase{"not_executable", "/dev/null", nullptr,
                    REGDB_E_CLASSNOTREG},
        FailureCase{"not_executable_file", "/etc/passwd", nullptr,
                    REGDB_E_CLASSNOTREG},
        FailureCase{"directory", "/tmp", nullptr, REGDB_E_CLASSNOTREG},
        FailureCase{"bare_name", "true", nullptr, REGDB_E_CLASSNOTREG},
        FailureCase{"relative_path", "bin/true", nullptr, REGDB_E_CLASSNOTREG},
        FailureCase{"exits_at_once", nullptr, "--exit-at-once",
                    CO_E_SERVER_EXEC_FAILURE},
        FailureCase{"not_a_server", "/bin/true", nullptr,
                    CO_E_SERVER_EXEC_FAILURE},
        FailureCase{"class_not_served", nullptr, "--no-class",
                    REGDB_E_CLASSNOTREG},
        FailureCase{"never_answers", nullptr, "--never-answer",
                    CO_E_SERVER_EXEC_FAILURE}),
    [](const testing::TestParamInfo<FailureCase>& info) {
      return std::string(info.param.name);
    });

// The peak of this process's virtual size, in KiB.
long PeakVirtualKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmPeak:", 0) == 0) return std::atol(line.c_str() + 7);
  }
  return -1;
}

// A peer that announces a message far larger than any answer: the call
// fails at once, as a failed call, and the message's room is never taken.
// Reading on would wait for 4 GiB that never come, until the activation
// gives up.
TEST_F(LocalServerTest, AnOversizedMessageFailsAtOnceWithoutReservingIt) {
  Register("--announce-oversized");
  const long before = PeakVirtualKib();
  ASSERT_GT(before, 0);
  void* object = reinterpret_cast<void*>(1);
  const Clock::time_point start = Clock::now();
  const HRESULT hr =
      CoCreateInstance(echo_server::kClass, nullptr, CLSCTX_LOCAL_SERVER,
                       IID_ProgrammingServer, &object);
  const double seconds = SecondsSince(start);
  const long grown = PeakVirtualKib() - before;
  EXPECT_EQ(hr, CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(object, nullptr);
  EXPECT_LT(seconds, 5.0);
  EXPECT_LT(grown, 256 * 1024) << "KiB of address space taken";
  std::printf("[ measure ] refused after %.1f ms, peak grew %ld KiB\n",
              seconds * 1000, grown);
}

// An entry that is a FIFO would hold the client in opening it until some
// writer came; it is no entry at all. A writer comes after a while here, so
// that a client that does wait is seen to wait instead of hanging the test.
TEST_F(LocalServerTest, AFifoEntryIsNotRegisteredAndDoesNotHold) {
  ASSERT_EQ(UnregisterLocalServer(echo_server::kClass), S_OK);
  const std::string entry =
      registry_.folder() + "/" + "{3D0F5E84-0C2B-4E55-A7D1-6E2C9B1F7A10}";
  ASSERT_EQ(mkfifo(entry.c_str(), 0600), 0);
  std::atomic<bool> answered{false};
  std::thread writer([&] {
    const Clock::time_point start = Clock::now();
    while (!answered && SecondsSince(start) < 3) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int fd = open(entry.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
  });
  void* object = reinterpret_cast<void*>(1);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(CoCreateInstance(echo_server::kClass, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_ProgrammingServer, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(object, nullptr);
  answered = true;
  writer.join();
}

// A server that never answers is ended with what it started.
TEST_F(LocalServerTest, AServerThatNeverAnswersEndsWithItsProcessGroup) {
  const std::string childPidFile = registry_.scratch() + "/child";
  Register("--never-answer --child-pid-file=" + childPidFile);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(echo_server::kClass, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_ProgrammingServer, &object),
            CO_E_SERVER_EXEC_FAILURE);
  const pid_t child = std::atoi(AwaitFile(childPidFile, 1).c_str());
  ASSERT_GT(child, 0);
  // Its parent gone, the child is collected by whoever adopts it.
  const Clock::time_point start = Clock::now();
  while (kill(child, 0) == 0 && SecondsSince(start) < 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const bool alive = kill(child, 0) == 0;
  if (alive) kill(child, SIGKILL);
  EXPECT_FALSE(alive) << "the server's child outlived it";
}

TEST_F(LocalServerTest, InterfacesThatCannotCrossAreRefused) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(echo_server::kClass, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IClassFactory, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

// Started by hand, a server says why it will not serve.
TEST(LocalServerStartTest, RefusesToServeWithoutAClient) {
  const std::string server = std::string("\"") + TEST_LOCAL_SERVER_PATH + "\"";
  struct Case {
    std::string command;
    const char* says;
  };
  for (const Case& c :
       {Case{server, "-Embedding"},
        Case{"ECUPROG_COM_CHANNEL= " + server + " -Embedding", "channel"},
        Case{"ECUPROG_COM_CHANNEL=0 " + server + " -Embedding </dev/null",
             "channel"}}) {
    const std::string run = "env -u ECUPROG_COM_CHANNEL " + c.command + " 2>&1";
    std::FILE* pipe = popen(run.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << c.command;
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
  }
}

}  // namespace

// The tool ends with its references still held and COM still initialised;
// ending the process then must be clean (no crash, nothing reported as
// leaked) and still end the server.
TEST(LocalServerExitTest, EndingTheClientWithReferencesHeldIsClean) {
  TemporaryRegistry registry;
  const std::string marker = registry.scratch() + "/exit";
  const std::string command =
      std::string("\"") + TEST_LOCAL_SERVER_PATH + "\" --exit-marker=" + marker;
  ASSERT_EQ(RegisterLocalServer(echo_server::kClass, command.c_str()), S_OK);
  EXPECT_EXIT(
      {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        void* object = nullptr;
        if (FAILED(CoCreateInstance(echo_server::kClass, nullptr,
                                    CLSCTX_LOCAL_SERVER, IID_ProgrammingServer,
                                    &object))) {
          std::exit(2);
        }
        DeviceInterface* device = nullptr;
        static_cast<ProgrammingServer*>(object)->OpenDevice(
            7, UnitAddressTail{}, &device);
        std::exit(device != nullptr ? 1 : 3);
      },
      testing::ExitedWithCode(1), "");
  EXPECT_EQ(AwaitFile(marker, 10), "0 0");
}
