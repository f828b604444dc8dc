// A job cut short at each flash step, then run again on the same bench, as a
// workshop does after a pulled cable or a crash: the second run must program
// the unit ("PROGRAMMING SUCCESSFUL", the restamped image in the code flash,
// the profile in the store flash) and a third run must list the new release.
// A job is cut short in two ways: the tool killed (SIGKILL) while a step
// runs, or the server process ending at the step.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>

#include "sim/bench_json.h"
#include "sim/default_bench.h"
#include "sim/temp_folder.h"
#include "tests/e2e/job_checks.h"
#include "tests/e2e/process_runner.h"

namespace {

constexpr auto kCode = SimRegion::kCode;
constexpr auto kStore = SimRegion::kStore;

// The ready unit's line once it holds the tool's release, and while it
// waits in its boot code for new code.
constexpr const char* kNewRelease =
    "Found : W3#4711 (Simulated test cell 1) BootV1.40 CodeV1.463.1\n";
constexpr const char* kWaitingForCode =
    "Found : W3#4711 (Simulated test cell 1) BootV1.40\n";

struct Cut {
  const char* name;
  /// The tool is killed once it has written this, while the step runs;
  /// empty: the server ends at `operation` instead.
  const char* killAt;
  const char* operation;
  std::optional<SimRegion> region;
  bool during;
  /// What the second run lists for the unit, when the cut leaves the flash
  /// in a known state; nullptr when it depends on where the kill landed.
  const char* listedAfter;
};

const Cut kCuts[] = {
    // Killed once the unit is erasing: the unit finishes the erase without
    // the tool, so the next run finds it waiting for code.
    {"ToolKilledInCodeErase",
     "Code flash erase ... erasing ... ",
     "",
     {},
     false,
     kWaitingForCode},
    {"ToolKilledInCodeProgram",
     "Code flash program ... ",
     "",
     {},
     false,
     nullptr},
    // A cut anywhere in the store flash leaves new code beside no profile,
    // or beside the profile of the code it replaced: the unit waits in its
    // boot code, never listed as finished.
    {"ToolKilledAtStoreErase",
     "Store flash erase ... ",
     "",
     {},
     false,
     kWaitingForCode},
    {"ToolKilledInStoreErase",
     "Store flash erase ... erasing ... ",
     "",
     {},
     false,
     kWaitingForCode},
    // The server has written the store flash and is still in the step when
    // the tool goes: the job ends after the store program, before the reset,
    // with both regions whole.
    {"ToolKilledInStoreProgram",
     "Store flash program ... ",
     "",
     {},
     false,
     kNewRelease},
    {"ServerEndsInCodeErase", "", "PollErase", kCode, true, kWaitingForCode},
    {"ServerEndsInCodeProgram", "", "ProgramRegion", kCode, true,
     kWaitingForCode},
    {"ServerEndsAtStoreErase", "", "StartErase", kStore, false,
     kWaitingForCode},
    {"ServerEndsInStoreErase", "", "PollErase", kStore, true, kWaitingForCode},
    {"ServerEndsInStoreProgram", "", "ProgramRegion", kStore, true,
     kWaitingForCode},
    {"ServerEndsBeforeTheReset", "", "ResetDevice", {}, false, kNewRelease},
};

void PrintTo(const Cut& cut, std::ostream* out) { *out << cut.name; }

// Steps long enough for a kill to land inside them, short enough for CI.
constexpr uint32_t kStepMs = 300;

class Recovery : public testing::TestWithParam<Cut> {
 protected:
  void SetUp() override {
    bench_ = folder_.path() + "/bench";
    registry_ = folder_.path() + "/registry";
    ProcessSetup setup;
    setup.argv = {ECUPROG_SIM_PATH, "--register"};
    setup.environment = {{"ECUPROG_COM_REGISTRY", registry_}};
    setup.terminal = false;
    ASSERT_EQ(RunProcess(setup).exitCode, 0);
  }

  // The operator types the ready unit's serial number, then a space at the
  // end. The servers the job started are noted at the question.
  ProcessSetup Job() {
    ProcessSetup setup;
    setup.argv = {ECUPROG_PATH};
    setup.environment = {{"ECUPROG_COM_REGISTRY", registry_},
                         {"ECUPROG_SIM_BENCH", bench_}};
    setup.steps = {{"you wish to program : ", "4711\n"},
                   {"Press space to exit", " "}};
    setup.steps[0].action = [this](int pid) { servers_ = ChildrenOf(pid); };
    setup.timeoutSeconds = 60;
    return setup;
  }

  // A job holds its unit until its server has gone; the next run waits
  // for that, as a workshop would wait for the PC to settle.
  void ExpectServersGone() {
    for (int pid : servers_) {
      EXPECT_TRUE(WaitUntilGone(pid, 5)) << "server " << pid << " stays";
    }
    servers_.clear();
  }

  TempFolder folder_;
  std::string bench_;
  std::string registry_;
  std::vector<int> servers_;
};

TEST_P(Recovery, RunningTheJobAgainProgramsTheUnit) {
  const Cut& cut = GetParam();
  const bool killed = cut.killAt[0] != '\0';
  SimBench bench = WriteDefaultBench(bench_, BenchTiming::kInstant);
  if (killed) {
    bench.units[0].eraseMs = kStepMs;
    bench.units[0].programMs = kStepMs;
  } else {
    bench.faults = {{cut.operation, cut.region, 1u, FaultAction::kExit,
                     std::nullopt, cut.during}};
  }
  SaveBench(bench);

  // Cut short.
  ProcessSetup first = Job();
  if (killed) {
    first.steps[1] = {cut.killAt, "", 0.05};
    first.steps[1].action = [](int pid) { kill(pid, SIGKILL); };
  }
  ProcessResult result = RunProcess(first);
  ASSERT_FALSE(result.timedOut) << result.output;
  if (killed) {
    EXPECT_EQ(result.signal, SIGKILL) << result.output;
  } else {
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_NE(result.output.find("ERROR COMMUNICATING WITH SERVER"),
              std::string::npos)
        << result.output;
  }
  EXPECT_EQ(result.output.find("PROGRAMMING SUCCESSFUL"), std::string::npos);
  ExpectServersGone();

  // The same job again, on the same bench, without the fault.
  bench.faults.clear();
  SaveBench(bench);
  const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  result = RunProcess(Job());
  const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  ASSERT_FALSE(result.timedOut) << result.output;
  const std::string output = WithoutCarriageReturns(result.output);
  EXPECT_EQ(result.exitCode, 0) << output;
  EXPECT_NE(output.find("\nPROGRAMMING SUCCESSFUL\n"), std::string::npos)
      << output;
  if (cut.listedAfter) {
    EXPECT_NE(output.find(cut.listedAfter), std::string::npos) << output;
  }
  ExpectRestampedImage(ReadFile(bench_ + "/w3-bay1-code.bin"), before, after);
  ExpectProfile(ReadFile(bench_ + "/w3-bay1-store.bin"));
  ExpectServersGone();

  // A third run lists the release the unit was given.
  ProcessSetup third = Job();
  third.terminal = false;
  third.pipeInput = true;
  third.input = "0\n";  // no unit's serial: the run ends after the listing
  third.steps.clear();
  result = RunProcess(third);
  ASSERT_FALSE(result.timedOut) << result.output;
  EXPECT_NE(result.output.find(kNewRelease), std::string::npos)
      << result.output;
}

std::string CutName(const testing::TestParamInfo<Cut>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Job, Recovery, testing::ValuesIn(kCuts), CutName);

}  // namespace
