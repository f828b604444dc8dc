// Making the default bench anew over a folder that jobs may be using.
#include "sim/bench_remake.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "server/server_interfaces.h"
#include "sim/bench_flash.h"
#include "sim/bench_json.h"
#include "sim/temp_folder.h"
#include "sim/unit_lock.h"
#include "tests/sim/unusual_files.h"

namespace {

namespace fs = std::filesystem;

std::string Refusal(const std::string& folder) {
  try {
    RemakeDefaultBench(folder, BenchTiming::kInstant);
  } catch (const BenchError& error) {
    return error.what();
  }
  return "(made)";
}

class BenchRemakeTest : public testing::Test {
 protected:
  void SetUp() override {
    // A job's work, which a remade bench would undo: the ready unit's
    // code flash erased.
    WriteBenchFlash(bench_, kDefaultReadyUnit, SimRegion::kCode, kCodeFlashBase,
                    std::vector<uint8_t>(kCodeFlashSize, kErasedByte));
  }

  // Takes the unit as a job's server does when it acquires a group.
  USHORT Hold(UnitLocks& job, const std::string& codeFlashFile) {
    std::string problem;
    return job.Claim(folder_.path() + "/" + codeFlashFile, &problem);
  }

  bool StillErased() {
    const std::vector<uint8_t> code =
        ReadBenchFlash(bench_, kDefaultReadyUnit, SimRegion::kCode);
    return code == std::vector<uint8_t>(kCodeFlashSize, kErasedByte);
  }

  TempFolder folder_;
  SimBench bench_ = WriteDefaultBench(folder_.path(), BenchTiming::kInstant);
};

TEST_F(BenchRemakeTest, RefusedNamingTheUnitWhileAJobHoldsIt) {
  UnitLocks job;
  ASSERT_EQ(Hold(job, "w3-bay1-code.bin"), kStatusDone);
  const std::string message = Refusal(folder_.path());
  EXPECT_NE(message.find("unit \"w3-bay1\" is held by a job"),
            std::string::npos)
      << message;
  EXPECT_TRUE(StillErased());
}

TEST_F(BenchRemakeTest, MadeOnceTheJobHasEnded) {
  {
    UnitLocks job;
    ASSERT_EQ(Hold(job, "w3-bay1-code.bin"), kStatusDone);
  }
  EXPECT_EQ(Refusal(folder_.path()), "(made)");
  EXPECT_FALSE(StillErased());
}

// A unit the old bench had and the default bench has not, found by its
// lock even when bench.json cannot be read.
TEST_F(BenchRemakeTest, UnitsOfTheOldBenchCountEvenIfItIsDamaged) {
  std::ofstream(folder_.path() + "/bench.json") << "{";
  UnitLocks job;
  ASSERT_EQ(Hold(job, "rig-code.bin"), kStatusDone);
  const std::string message = Refusal(folder_.path());
  EXPECT_NE(message.find("the unit of rig-code.bin.lock is held by a job"),
            std::string::npos)
      << message;
  EXPECT_TRUE(StillErased());
}

TEST_F(BenchRemakeTest, NoJobTakesAUnitWhileTheBenchIsWritten) {
  UnitLocks job;
  {
    const std::vector<std::unique_ptr<FileLock>> held =
        HoldBenchUnits(folder_.path(),
                       MakeDefaultBench(folder_.path(), BenchTiming::kInstant));
    EXPECT_EQ(Hold(job, "w3-bay1-code.bin"), kSimStatusUnitInUse);
    EXPECT_EQ(Hold(job, "w17-bay5-code.bin"), kSimStatusUnitInUse);
  }
  EXPECT_EQ(Hold(job, "w3-bay1-code.bin"), kStatusDone);
}

TEST_F(BenchRemakeTest, ALockThatIsNoPlainFileIsNamed) {
  fs::create_directory(folder_.path() + "/w3-bay4-code.bin.lock");
  const std::string message = Refusal(folder_.path());
  EXPECT_NE(message.find("w3-bay4-code.bin.lock: the unit's lock is not a "
                         "plain file"),
            std::string::npos)
      << message;
  EXPECT_TRUE(StillErased());
}

// Never read nor waited on, nor replaced: whatever put a pipe there may be
// reading it; the units' flash stays as the last job left it.
TEST_F(BenchRemakeTest, ABenchJsonThatIsAPipeIsNamedAndTheBenchKept) {
  const std::string json = folder_.path() + "/bench.json";
  fs::remove(json);
  ASSERT_TRUE(MakePipe(json));
  EXPECT_EQ(Refusal(folder_.path()),
            json +
                ": not a plain file (a pipe, a device, a folder or the like); "
                "the bench is left as it is");
  EXPECT_EQ(fs::symlink_status(json).type(), fs::file_type::fifo);
  EXPECT_TRUE(StillErased());
}

TEST(BenchRemake, AFolderNotYetThereIsMade) {
  TempFolder folder;
  const std::string bench = folder.path() + "/new/bench/";
  EXPECT_EQ(Refusal(bench), "(made)");
  EXPECT_NO_THROW(LoadBench(bench));
}

}  // namespace
