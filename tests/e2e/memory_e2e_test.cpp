// The tool when memory runs out: whichever allocation fails first (in the
// inflater, a standard container, the channel to the server), the run stops
// like any fault, with "OUT OF MEMORY" and exit code 1, never with an abort.
// Memory is made short by limiting the address space of the tool's process
// to a little more at each run, from where it cannot even start to where
// it runs through.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sim/temp_folder.h"
#include "tests/address_sanitizer.h"
#include "tests/e2e/process_runner.h"

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(MemoryEndToEnd, EveryShortageStopsTheRunWithItsMessage) {
#ifdef ECUPROG_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs more address space than this";
#endif
  TempFolder folder;
  // With no server registered a run that has memory enough stops at the
  // server connection.
  const std::string enough = "ERROR COMMUNICATING WITH SERVER\n";
  constexpr size_t kStep = 128 * 1024;
  int outOfMemory = 0;
  bool ranThrough = false;
  for (size_t limit = 2 << 20; limit <= (64 << 20) && !ranThrough;
       limit += kStep) {
    ProcessSetup setup;
    setup.argv = {ECUPROG_PATH};
    setup.environment = {{"ECUPROG_COM_REGISTRY", folder.path()}};
    setup.terminal = false;
    setup.addressSpaceLimit = limit;
    setup.timeoutSeconds = 30;
    ProcessResult result = RunProcess(setup);
    SCOPED_TRACE(std::to_string(limit / 1024) + " KiB");
    ASSERT_FALSE(result.timedOut);
    // Too little to load the program at all: nothing of ours has run.
    if (result.output.empty()) continue;
    EXPECT_EQ(result.signal, 0) << result.output;
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_TRUE(EndsWith(result.output, "\nPress space to exit\n"))
        << result.output;
    if (result.output.find("OUT OF MEMORY\n") != std::string::npos) {
      ++outOfMemory;
    } else {
      EXPECT_TRUE(EndsWith(result.output, enough + "Press space to exit\n"))
          << result.output;
    }
    ranThrough = result.output.find(enough) != std::string::npos;
  }
  EXPECT_TRUE(ranThrough);
  EXPECT_GT(outOfMemory, 0);
  RecordProperty("outOfMemoryRuns", outOfMemory);
}

// Just below the memory a run needs to reach the listing, the shortage
// strikes while the server is being started (its process, its channel):
// that too is a shortage of the tool's, not a server that failed.
TEST(MemoryEndToEnd, AShortageWhileTheServerStartsIsOutOfMemory) {
#ifdef ECUPROG_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs more address space than this";
#endif
  TempFolder folder;
  const std::vector<std::pair<std::string, std::string>> environment = {
      {"ECUPROG_COM_REGISTRY", folder.path() + "/registry"},
      {"ECUPROG_SIM_BENCH", folder.path() + "/bench"}};
  ProcessSetup registration;
  registration.argv = {ECUPROG_SIM_PATH, "--register"};
  registration.environment = environment;
  registration.terminal = false;
  ASSERT_EQ(RunProcess(registration).exitCode, 0);
  const auto run = [&](size_t limit) {
    ProcessSetup setup;
    setup.argv = {ECUPROG_PATH};
    setup.environment = environment;
    setup.terminal = false;
    setup.pipeInput = true;
    setup.input = "0\n";
    setup.addressSpaceLimit = limit;
    setup.timeoutSeconds = 30;
    return RunProcess(setup);
  };
  const auto listed = [](const ProcessResult& result) {
    return result.output.find("Found : ") != std::string::npos;
  };
  // The least memory (to 4 KiB) with which a run lists the units.
  size_t low = 2 << 20;
  size_t high = 64 << 20;
  ASSERT_TRUE(listed(run(high)));
  while (high - low > 4096) {
    const size_t middle = (low + high) / 2 / 4096 * 4096;
    (listed(run(middle)) ? high : low) = middle;
  }
  int outOfMemory = 0;
  for (size_t limit = high - 4096; limit + (256 << 10) > high; limit -= 4096) {
    SCOPED_TRACE(std::to_string(limit / 1024) + " KiB");
    const ProcessResult result = run(limit);
    ASSERT_FALSE(result.timedOut);
    if (result.output.empty()) continue;
    EXPECT_EQ(result.output.find("ERROR COMMUNICATING WITH SERVER"),
              std::string::npos)
        << result.output;
    if (EndsWith(result.output, "\nOUT OF MEMORY\nPress space to exit\n")) {
      ++outOfMemory;
    }
  }
  EXPECT_GT(outOfMemory, 0);
}

}  // namespace
