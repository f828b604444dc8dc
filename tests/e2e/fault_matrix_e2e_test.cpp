// Every server call of a whole job, in turn, fails: the server process ends
// at that call, or answers it with a failure code. Each run must end soon,
// with exit code 1 and "ERROR COMMUNICATING WITH SERVER", leave the unit as
// far as the job got and no further, and bear out what the operator's guide
// says about the unit for where the message stands.
#include <gtest/gtest.h>

#include "blocks/block_crc.h"
#include "sim/bench_json.h"
#include "sim/default_bench.h"
#include "sim/temp_folder.h"
#include "tests/e2e/guide_claims.h"
#include "tests/e2e/job_checks.h"
#include "tests/e2e/process_runner.h"

namespace {

// How far a job had come when a call failed, and so what the unit holds.
enum class Reached {
  kNothing,      // no flash touched
  kCodeRegion,   // the code region may be changed, the store not
  kStoreRegion,  // the code region is programmed
};

struct MatrixRow {
  const char* operation;
  std::optional<SimRegion> region;
  uint32_t call;
  bool during;  // an exit halfway through the step
  Reached reached;
};

constexpr auto kCode = SimRegion::kCode;
constexpr auto kStore = SimRegion::kStore;

// The calls of a job against the default bench's ready unit, whose erases
// answer busy for two polls.
const MatrixRow kRows[] = {
    {"CreateInstance", std::nullopt, 1, false, Reached::kNothing},
    {"GetVersion", std::nullopt, 1, false, Reached::kNothing},
    {"SetProfile", std::nullopt, 1, false, Reached::kNothing},
    {"DetectDevices", std::nullopt, 1, false, Reached::kNothing},
    {"GetIdentities", std::nullopt, 1, false, Reached::kNothing},
    {"GetIdentityName", std::nullopt, 1, false, Reached::kNothing},
    {"GetAccessName", std::nullopt, 1, false, Reached::kNothing},
    {"GetIdentityName", std::nullopt, 3, false, Reached::kNothing},
    {"GetAccessName", std::nullopt, 3, false, Reached::kNothing},
    {"OpenDevice", std::nullopt, 1, false, Reached::kNothing},
    {"GetCodeProgrammer", std::nullopt, 1, false, Reached::kNothing},
    {"GetStoreProgrammer", std::nullopt, 1, false, Reached::kNothing},
    {"AcquireGroup", kCode, 1, false, Reached::kNothing},
    {"StartErase", kCode, 1, false, Reached::kCodeRegion},
    {"StartErase", kCode, 1, true, Reached::kCodeRegion},
    {"PollErase", kCode, 1, false, Reached::kCodeRegion},
    {"PollErase", kCode, 2, false, Reached::kCodeRegion},
    {"PollErase", kCode, 3, false, Reached::kCodeRegion},
    {"PollErase", kCode, 2, true, Reached::kCodeRegion},
    {"ProgramRegion", kCode, 1, false, Reached::kCodeRegion},
    {"ProgramRegion", kCode, 1, true, Reached::kCodeRegion},
    {"AcquireGroup", kStore, 1, false, Reached::kStoreRegion},
    {"StartErase", kStore, 1, false, Reached::kStoreRegion},
    {"StartErase", kStore, 1, true, Reached::kStoreRegion},
    {"PollErase", kStore, 1, false, Reached::kStoreRegion},
    {"PollErase", kStore, 3, false, Reached::kStoreRegion},
    {"PollErase", kStore, 2, true, Reached::kStoreRegion},
    {"ProgramRegion", kStore, 1, false, Reached::kStoreRegion},
    {"ProgramRegion", kStore, 1, true, Reached::kStoreRegion},
    {"ResetDevice", std::nullopt, 1, false, Reached::kStoreRegion},
};

class FaultMatrix : public testing::TestWithParam<FaultAction> {};

TEST_P(FaultMatrix, EveryCallOfAJobMayFail) {
  BuildCrcTable();
  GuideEntry guide;
  for (const GuideEntry& entry : SourceGuide()) {
    if (entry.message == "ERROR COMMUNICATING WITH SERVER") guide = entry;
  }
  ASSERT_FALSE(guide.units.empty());
  const std::vector<uint8_t> image = EmbeddedCodeImage();
  const std::vector<uint8_t> profile = EmbeddedProfile();
  FaultAction action = GetParam();
  size_t rows = 0;
  for (const MatrixRow& row : kRows) {
    // A result code cannot strike halfway through a step.
    if (row.during && action != FaultAction::kExit) continue;
    ++rows;
    SCOPED_TRACE(testing::Message()
                 << row.operation << " "
                 << (row.region ? RegionName(*row.region) : "") << " call "
                 << row.call << (row.during ? " during" : ""));
    TempFolder folder;
    std::string benchFolder = folder.path() + "/bench";
    SimBench bench = WriteDefaultBench(benchFolder, BenchTiming::kInstant);
    bench.units[0].erasePolls = 2;
    std::optional<int64_t> value;
    if (action == FaultAction::kResultCode) {
      value = int64_t{static_cast<int32_t>(0x80004005)};
    }
    bench.faults = {
        {row.operation, row.region, row.call, action, value, row.during}};
    SaveBench(bench);
    std::string codeFile = benchFolder + "/w3-bay1-code.bin";
    std::string storeFile = benchFolder + "/w3-bay1-store.bin";
    std::vector<uint8_t> codeBefore = ReadFile(codeFile);
    std::vector<uint8_t> storeBefore = ReadFile(storeFile);

    ProcessSetup register_;
    register_.argv = {ECUPROG_SIM_PATH, "--register"};
    register_.environment = {{"ECUPROG_COM_REGISTRY", folder.path() + "/reg"}};
    register_.terminal = false;
    ASSERT_EQ(RunProcess(register_).exitCode, 0);

    ProcessSetup job;
    job.argv = {ECUPROG_PATH};
    job.environment = {{"ECUPROG_COM_REGISTRY", folder.path() + "/reg"},
                       {"ECUPROG_SIM_BENCH", benchFolder}};
    job.terminal = false;
    job.pipeInput = true;
    job.input = "4711\n";
    job.timeoutSeconds = 60;
    ProcessResult result = RunProcess(job);
    ASSERT_FALSE(result.timedOut) << result.output;
    EXPECT_EQ(result.exitCode, 1) << result.output;
    EXPECT_LT(result.seconds, 10);
    EXPECT_NE(result.output.find("ERROR COMMUNICATING WITH SERVER\n"
                                 "Press space to exit\n"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("PROGRAMMING SUCCESSFUL"), std::string::npos);

    std::vector<uint8_t> codeAfter = ReadFile(codeFile);
    std::vector<uint8_t> storeAfter = ReadFile(storeFile);
    Observation seen;
    SplitAtMessage(result.output, &seen);
    seen.exitCode = result.exitCode;
    seen.changed = codeAfter != codeBefore || storeAfter != storeBefore;
    seen.written = HoldsFirmware(codeAfter, storeAfter, image, profile);
    EXPECT_EQ(GuideContradiction(guide, seen), "") << result.output;
    switch (row.reached) {
      case Reached::kNothing:
        EXPECT_TRUE(codeAfter == codeBefore) << "code flash changed";
        EXPECT_TRUE(storeAfter == storeBefore) << "store flash changed";
        break;
      case Reached::kCodeRegion:
        EXPECT_TRUE(storeAfter == storeBefore) << "store flash changed";
        break;
      case Reached::kStoreRegion: {
        // The code region holds an intact, restamped image.
        uint32_t length = 451052;
        ASSERT_GE(codeAfter.size(), length);
        EXPECT_EQ(BlockCrc(codeAfter.data(), length / 4), 0u);
        break;
      }
    }
  }
  std::printf("fault matrix: %zu runs\n", rows);
}

std::string ActionName(const testing::TestParamInfo<FaultAction>& info) {
  return info.param == FaultAction::kExit ? "ServerEnds" : "ServerFails";
}

INSTANTIATE_TEST_SUITE_P(Job, FaultMatrix,
                         testing::Values(FaultAction::kExit,
                                         FaultAction::kResultCode),
                         ActionName);

}  // namespace
