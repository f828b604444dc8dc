#include "report/stop_run.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <vector>

#include "tests/address_sanitizer.h"
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

// Allocations far beyond any machine's memory fail at once, in a standard
// container as in a plain new; each stops the run like any other fault.
TEST(StopRunTest, MemoryThatRunsOutStopsTheRun) {
#ifdef ECUPROG_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer reports failed allocations itself";
#endif
  constexpr size_t kBeyondAnyMemory = size_t{1} << 60;
  // Kept where the compiler must assume it is read, so no allocation is
  // left out.
  static const void* volatile made = nullptr;

  const std::function<void()> allocations[] = {
      [] {
        std::vector<char> bytes;
        bytes.reserve(kBeyondAnyMemory);
        made = bytes.data();
      },
      [] {
        std::string text(kBeyondAnyMemory, 'x');
        made = text.data();
      },
      [] {
        char* bytes = new char[kBeyondAnyMemory];
        made = bytes;
        delete[] bytes;
      },
  };
  for (const auto& allocation : allocations) {
    PhaseOutcome outcome = RunPhase([&] {
      StopRunWhenMemoryRunsOut();
      allocation();
    });
    std::set_new_handler(nullptr);
    EXPECT_EQ(made, nullptr);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.output, "OUT OF MEMORY\nPress space to exit\n");
  }
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
