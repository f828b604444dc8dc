// One unit, one job: servers started on one bench, as two jobs at once
// would start them, share its units only one job at a time.
#include "sim/unit_lock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "sim/bench_flash.h"
#include "sim/default_bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/sim/sim_client.h"

namespace {

constexpr USHORT kFullAccess = 0;  // identity 0 of the default units

// One job's server with one unit opened and both its programming
// interfaces, as the tool holds them.
struct Job {
  Job(const SimBench& bench, const std::string& unit)
      : server(std::make_unique<SimServer>(bench)),
        root(server->NewRoot()),
        record(RecordOf(root.get(), server->state(), unit)),
        device(OpenUnit(root.get(), record)),
        code(Programmer(device.get(), record, SimRegion::kCode, kFullAccess)),
        store(
            Programmer(device.get(), record, SimRegion::kStore, kFullAccess)) {}

  USHORT Acquire(ProgrammingInterface* programmer) {
    return AcquireGroup(programmer, record.groupKey());
  }

  // Ends the job: the client lets go of everything, then the server goes.
  void End() {
    store.reset();
    code.reset();
    device.reset();
    root.reset();
    server.reset();
  }

  std::unique_ptr<SimServer> server;
  Ref<ProgrammingServer> root;
  DeviceRecord record;
  Ref<DeviceInterface> device;
  Ref<ProgrammingInterface> code;
  Ref<ProgrammingInterface> store;
};

class UnitLockTest : public testing::Test {
 protected:
  TempFolder folder_;
  SimBench bench_ = WriteDefaultBench(folder_.path(), BenchTiming::kInstant);
};

TEST_F(UnitLockTest, ASecondJobIsRefusedTheUnitAndChangesNothing) {
  Job first(bench_, kDefaultReadyUnit);
  ASSERT_EQ(first.Acquire(first.code.get()), kStatusDone);

  const std::vector<uint8_t> code =
      ReadBenchFlash(bench_, kDefaultReadyUnit, SimRegion::kCode);
  Job second(bench_, kDefaultReadyUnit);
  EXPECT_EQ(second.Acquire(second.code.get()), kSimStatusUnitInUse);
  EXPECT_EQ(second.Acquire(second.store.get()), kSimStatusUnitInUse);
  // Refused the group, it can neither erase nor program.
  USHORT status = 0xFFFF;
  ASSERT_EQ(second.code->StartErase(kCodeFlashBase, 0x1000, &status), S_OK);
  EXPECT_EQ(status, kSimStatusNoGroup);
  EXPECT_EQ(ReadBenchFlash(bench_, kDefaultReadyUnit, SimRegion::kCode), code);

  // The first job keeps the unit for both its regions.
  EXPECT_EQ(first.Acquire(first.store.get()), kStatusDone);
  EXPECT_EQ(first.Acquire(first.code.get()), kStatusDone);
}

TEST_F(UnitLockTest, JobsOnDifferentUnitsRunSideBySide) {
  Job first(bench_, kDefaultReadyUnit);
  Job second(bench_, "w17-bay5");
  EXPECT_EQ(first.Acquire(first.code.get()), kStatusDone);
  EXPECT_EQ(second.Acquire(second.code.get()), kStatusDone);
}

TEST_F(UnitLockTest, TheUnitIsFreeOnceTheHoldingServerHasEnded) {
  Job first(bench_, kDefaultReadyUnit);
  Job second(bench_, kDefaultReadyUnit);
  ASSERT_EQ(first.Acquire(first.code.get()), kStatusDone);
  // Letting go of the interfaces is not enough: the job holds the unit
  // until its server ends.
  first.code.reset();
  first.store.reset();
  EXPECT_EQ(second.Acquire(second.code.get()), kSimStatusUnitInUse);
  first.End();
  EXPECT_EQ(second.Acquire(second.code.get()), kStatusDone);
}

TEST_F(UnitLockTest, ALinkInPlaceOfTheLockIsRefusedNotFollowed) {
  const std::string target = folder_.path() + "/elsewhere";
  std::filesystem::create_symlink(
      target, UnitLocks::LockPath(folder_.path() + "/w3-bay1-code.bin"));
  Job job(bench_, kDefaultReadyUnit);
  EXPECT_EQ(job.Acquire(job.code.get()), kSimStatusFlashFault);
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(UnitLockTest, AWrongGroupKeyTakesNoUnit) {
  Job first(bench_, kDefaultReadyUnit);
  GUID group{};
  GroupTicket ticket{};
  USHORT status = 0xFFFF;
  ASSERT_EQ(first.code->AcquireGroup(first.record.groupKey() + 1, group,
                                     &ticket, &status),
            S_OK);
  EXPECT_EQ(status, kSimStatusWrongGroupKey);
  Job second(bench_, kDefaultReadyUnit);
  EXPECT_EQ(second.Acquire(second.code.get()), kStatusDone);
}

}  // namespace
