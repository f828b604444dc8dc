// One unit, one job: servers started on one bench, as two jobs at once
// would start them, share its units only one job at a time.
#include "sim/unit_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "sim/bench_flash.h"
#include "sim/default_bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/unusual_files.h"

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

// What stands where the unit's lock belongs: made by `put` at `lock`,
// with `elsewhere` a path that must stay untouched.
struct NoPlainLock {
  const char* name;
  std::function<void(const std::string& lock, const std::string& elsewhere)>
      put;
};

void PrintTo(const NoPlainLock& lock, std::ostream* out) { *out << lock.name; }

class UnitLockNoPlainFile : public UnitLockTest,
                            public testing::WithParamInterface<NoPlainLock> {};

TEST_P(UnitLockNoPlainFile, RefusesTheUnitNamingThePath) {
  const std::string lock =
      UnitLocks::LockPath(folder_.path() + "/w3-bay1-code.bin");
  const std::string elsewhere = folder_.path() + "/elsewhere";
  GetParam().put(lock, elsewhere);
  Job job(bench_, kDefaultReadyUnit);
  std::vector<std::string> reports;
  job.server->state().SetReportHook(
      [&](const std::string& message) { reports.push_back(message); });
  EXPECT_EQ(job.Acquire(job.code.get()), kSimStatusFlashFault);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], lock +
                            ": the unit's lock is not a plain file (a link, a "
                            "folder or the like); the unit is refused until "
                            "it is taken away");
  // Nothing is made through it, and the other units are free.
  EXPECT_FALSE(std::filesystem::exists(elsewhere + "/x"));
  EXPECT_FALSE(std::filesystem::is_regular_file(elsewhere));
  Job other(bench_, "w17-bay5");
  EXPECT_EQ(other.Acquire(other.code.get()), kStatusDone);
}

INSTANTIATE_TEST_SUITE_P(
    Locks, UnitLockNoPlainFile,
    testing::Values(
        NoPlainLock{"danglingLink",
                    [](const std::string& lock, const std::string& elsewhere) {
                      std::filesystem::create_symlink(elsewhere, lock);
                    }},
        NoPlainLock{"linkToAFile",
                    [](const std::string& lock, const std::string& elsewhere) {
                      std::filesystem::create_directory(elsewhere);
                      std::filesystem::create_symlink(elsewhere + "/x", lock);
                    }},
        NoPlainLock{"folder",
                    [](const std::string& lock, const std::string&) {
                      std::filesystem::create_directory(lock);
                    }},
        NoPlainLock{"pipe",
                    [](const std::string& lock, const std::string&) {
                      ASSERT_EQ(mkfifo(lock.c_str(), 0600), 0);
                    }}),
    [](const testing::TestParamInfo<NoPlainLock>& info) {
      return std::string(info.param.name);
    });

// A flash the job could not write is refused before the job erases
// anything, naming the file, rather than failing halfway as a faulty unit
// would.
TEST_F(UnitLockTest, AFlashFileThatCannotBeWrittenRefusesItsUnitUpFront) {
  for (const char* file : {"w17-bay5-code.bin", "w17-bay5-store.bin"}) {
    SCOPED_TRACE(file);
    const std::string path = folder_.path() + "/" + file;
    if (!MakeUnwritable(path)) GTEST_SKIP() << "no read-only file here";
    const std::vector<uint8_t> code =
        ReadBenchFlash(bench_, "w17-bay5", SimRegion::kCode);
    Job job(bench_, "w17-bay5");
    std::vector<std::string> reports;
    job.server->state().SetReportHook(
        [&](const std::string& message) { reports.push_back(message); });
    const USHORT status = job.Acquire(job.code.get());
    USHORT erase = 0xFFFF;
    const HRESULT started =
        job.code->StartErase(kCodeFlashBase, 0x1000, &erase);
    job.End();
    MakeWritable(path);
    EXPECT_EQ(status, kSimStatusFlashFault);
    EXPECT_EQ(reports,
              std::vector<std::string>{
                  path + ": cannot be written (it is read-only, or the "
                         "user may not write it); unit \"w17-bay5\" is "
                         "refused until it is put right"});
    EXPECT_EQ(started, S_OK);
    EXPECT_EQ(erase, kSimStatusNoGroup);
    EXPECT_EQ(ReadBenchFlash(bench_, "w17-bay5", SimRegion::kCode), code);
    // The unit is not held, and the others are free.
    Job other(bench_, kDefaultReadyUnit);
    EXPECT_EQ(other.Acquire(other.code.get()), kStatusDone);
  }
  Job again(bench_, "w17-bay5");
  EXPECT_EQ(again.Acquire(again.code.get()), kStatusDone);
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
