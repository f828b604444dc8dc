#include "driver/stop_run.h"

#include <gtest/gtest.h>

#include "tests/run_harness.h"

namespace {

TEST(StopRunTest, WritesMessageAndPromptThenWaitsForSpace) {
  PhaseOutcome outcome =
      RunPhase([] { StopRun(1, "CODE BLOCK CRC CHECK FAILED"); }, "", "xy ");
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.output,
            "CODE BLOCK CRC CHECK FAILED\nPress space to exit\n");
}

TEST(StopRunTest, UninitialisesCom) {
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  RunPhase([] { StopRun(0, "PROGRAMMING SUCCESSFUL"); });
  // Had StopRun left COM initialised, this would report S_FALSE.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

TEST(CheckServerResultTest, StopsOnlyOnNegativeCodes) {
  struct Case {
    HRESULT result;
    bool stops;
  };
  const Case cases[] = {{S_OK, false},
                        {S_FALSE, false},
                        {0x7FFFFFFF, false},
                        {E_FAIL, true},
                        {static_cast<HRESULT>(0x80000000), true},
                        {RPC_E_DISCONNECTED, true}};
  for (const Case& c : cases) {
    PhaseOutcome outcome = RunPhase([&] { CheckServerResult(c.result); });
    EXPECT_EQ(outcome.stopped, c.stops) << std::hex << c.result;
    if (c.stops) {
      EXPECT_EQ(outcome.exitCode, 1);
      EXPECT_EQ(outcome.message, "ERROR COMMUNICATING WITH SERVER");
    }
  }
}

}  // namespace
