// A server that answers success without writing the numbers a call returns:
// across the channel the caller must find its own starting value, so the
// tool's guard (every status starts as a refusal) holds as it does in
// process, and the step fails instead of passing for done.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com_registration.h"
#include "programming/flash_region.h"
#include "programming/program_unit.h"
#include "server/com_ref.h"
#include "tests/platform/echo_server.h"
#include "tests/platform/temporary_registry.h"
#include "tests/run_harness.h"

namespace {

// Any address but the echo server's "no unit" ones opens a unit.
constexpr ULONG kUnit = 1;
constexpr USHORT kIdentity = 1;

class UnwrittenOutputTest : public testing::Test {
 protected:
  // The echo server's root, with `call` answering without its numbers.
  ComRef<ProgrammingServer> Start(const std::string& call) {
    const std::string command =
        std::string("\"") + TEST_LOCAL_SERVER_PATH + "\" --silent=" + call;
    EXPECT_EQ(RegisterLocalServer(echo_server::kClass, command.c_str()), S_OK);
    ComRef<ProgrammingServer> root;
    EXPECT_EQ(
        CoCreateInstance(echo_server::kClass, nullptr, CLSCTX_LOCAL_SERVER,
                         IID_ProgrammingServer, root.OutVoid()),
        S_OK);
    return root;
  }

  TemporaryRegistry registry_;
};

TEST_F(UnwrittenOutputTest, EachStatusLeftUnwrittenFailsItsStep) {
  struct Case {
    const char* call;
    const char* message;
  };
  const Case cases[] = {
      {"AcquireGroup", "GROUP FAILED"},  {"StartErase", "ERASE FAILED"},
      {"PollErase", "ERASE FAILED"},     {"ProgramRegion", "PROGRAM FAILED"},
      {"ResetDevice", "RESET REJECTED"},
  };
  std::vector<uint8_t> data(64, 0x5A);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ComRef<ProgrammingServer> root = Start(c.call);
    ASSERT_TRUE(root);
    ComRef<DeviceInterface> device;
    ASSERT_EQ(root->OpenDevice(kUnit, UnitAddressTail{}, device.Out()), S_OK);
    ComRef<ProgrammingInterface> programmer;
    ASSERT_EQ(device->GetCodeProgrammer(0, kIdentity, programmer.Out()), S_OK);
    ASSERT_TRUE(programmer);
    const FlashRegion region = {
        programmer.get(), 0x10000,           static_cast<ULONG>(data.size()),
        data.data(),      "GROUP FAILED",    "Erase ... ",
        "ERASE FAILED",   "ERASE TIMED OUT", "Program ... ",
        "PROGRAM FAILED", "TRANSFER FAILED"};
    // The echo server grants the group for key 0.
    PhaseOutcome outcome = RunPhase([&] {
      ProgramFlashRegion(region, /*groupKey=*/0, /*frequency=*/0);
      RequestReset(programmer.get());
    });
    EXPECT_TRUE(outcome.stopped) << outcome.output;
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.message, c.message) << outcome.output;
    // A stop has uninitialised COM already; the proxies go after it.
    if (!outcome.stopped) CoUninitialize();
  }
}

TEST_F(UnwrittenOutputTest, AnUnwrittenVersionKeepsTheCallersValues) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  {
    ComRef<ProgrammingServer> root = Start("GetVersion");
    ASSERT_TRUE(root);
    USHORT major = 0xFFFF;
    USHORT minor = 0xABCD;
    EXPECT_EQ(root->GetVersion(&major, &minor), S_OK);
    EXPECT_EQ(major, 0xFFFF);
    EXPECT_EQ(minor, 0xABCD);
  }
  CoUninitialize();
}

}  // namespace
