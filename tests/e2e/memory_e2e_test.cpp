// The tool when memory runs out: whichever allocation fails first (in the
// inflater, a standard container, the channel to the server), the run stops
// like any fault, with "OUT OF MEMORY" and exit code 1, never with an abort.
// Memory is made short by limiting the address space of the tool's process
// to a little more at each run, from where it cannot even start to where
// it runs through.
#include <gtest/gtest.h>

#include <string>

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
    setup.timeoutSeconds = 10;
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

}  // namespace
