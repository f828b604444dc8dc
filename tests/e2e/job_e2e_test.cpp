// Whole programming jobs: the built tool against the simulated server in
// its own process, started through the tool's COM activation.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "blocks/block_crc.h"
#include "sim/bench_json.h"
#include "tests/e2e/bench_job_test.h"
#include "tests/e2e/job_checks.h"

namespace {

class JobEndToEnd : public BenchJobTest {
 protected:
  void SetUp() override {
    BuildCrcTable();
    BenchJobTest::SetUp();
  }
  void AddFault(SimFault fault) {
    SimBench bench = LoadBench(bench_);
    bench.faults.push_back(fault);
    SaveBench(bench);
  }
};

TEST_F(JobEndToEnd, ProgramsTheReadyUnit) {
  uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  ProcessResult result = RunProcess(Job("4711"));
  uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  ASSERT_FALSE(result.timedOut) << result.output;
  EXPECT_EQ(result.exitCode, 0);
  std::string output = WithoutCarriageReturns(result.output);
  for (const char* expected :
       {"\nReady to program W3 firmware release 1.463.1\n"
        "Found : W3#4711 (",
        "Found : W3 (NO SERIAL NUMBER) BootV1.40 NOT READY FOR CODE "
        "PROGRAMMING\n",
        "(BAD BOOT CODE) NOT READY FOR CODE PROGRAMMING\n",
        "Please enter the serial number of the device you wish to program "
        ": 4711\nAccess as ",
        "\nCode flash erase ... ", "\nCode flash program ... complete (",
        "\nStore flash erase ... ", "\nStore flash program ... complete (",
        "\nReset request ... accepted\nPROGRAMMING SUCCESSFUL\n"
        "Press space to exit\n"}) {
    EXPECT_NE(output.find(expected), std::string::npos)
        << "missing: " << expected << "\nin:\n"
        << output;
  }

  ExpectRestampedImage(ReadFile(bench_ + "/w3-bay1-code.bin"), before, after);
  ExpectProfile(ReadFile(bench_ + "/w3-bay1-store.bin"));

  // The unit now reports the release it was given.
  ProcessResult again = RunProcess(Job("4711"));
  EXPECT_NE(again.output.find("BootV1.40 CodeV1.463.1"), std::string::npos)
      << again.output;
}

TEST_F(JobEndToEnd, AServerThatDiesEndsTheRunWithinSeconds) {
  // Killed from outside while the operator is being asked.
  ProcessSetup killed = Job("4711");
  killed.steps[0].action = KillChildren;
  killed.timeoutSeconds = 15;
  ProcessResult result = RunProcess(killed);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.output.find("ERROR COMMUNICATING WITH SERVER"),
            std::string::npos)
      << result.output;

  // Ending by itself in the middle of programming the code flash.
  AddFault({"ProgramRegion", SimRegion::kCode, 1u, FaultAction::kExit,
            std::nullopt, true});
  result = RunProcess(Job("4711"));
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(
      WithoutCarriageReturns(result.output)
          .find("Code flash program ... ERROR COMMUNICATING WITH SERVER\n"),
      std::string::npos)
      << result.output;
  // The store flash was never touched.
  std::vector<uint8_t> store = ReadFile(bench_ + "/w3-bay1-store.bin");
  std::vector<uint8_t> profile = EmbeddedProfile();
  EXPECT_FALSE(std::equal(profile.begin(), profile.end(), store.begin()));
}

TEST_F(JobEndToEnd, TheSerialNumberMayComeThroughAPipe) {
  ProcessSetup setup = Job("");
  setup.pipeInput = true;
  setup.input = "  04711\n";
  setup.steps = {{"Press space to exit", " "}};
  ProcessResult result = RunProcess(setup);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitCode, 0) << result.output;
}

TEST_F(JobEndToEnd, AnswersThatAreNoSerialNumberEndTheRunCleanly) {
  // 4294971607 is 4711 plus 2 to the 32nd: it must not wrap onto the unit.
  for (const char* answer : {"", "garbage\n", "4294971607\n", "\n\n\n"}) {
    SCOPED_TRACE(answer);
    ProcessSetup setup = Job("");
    setup.terminal = false;
    setup.pipeInput = true;
    setup.input = answer;
    setup.steps.clear();
    ProcessResult result = RunProcess(setup);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("THAT SERIAL NUMBER IS NOT IN THE LIST OF "
                                 "DEVICES FOUND\nPress space to exit\n"),
              std::string::npos)
        << result.output;
  }
}

}  // namespace
