#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>

#include "sim/bench_flash.h"
#include "sim/default_bench.h"
#include "sim/sample_blocks.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/sim/sim_client.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr USHORT kFullAccess = 0;  // identity 0 of the default units

class SimProgrammerTest : public testing::Test {
 protected:
  /// Starts the server and opens `unit` with both programming interfaces.
  void Open(const std::string& unit = kDefaultReadyUnit) {
    server_ = std::make_unique<SimServer>(bench_);
    root_.reset(server_->NewRoot());
    record_ = RecordOf(root_.get(), server_->state(), unit);
    device_ = OpenUnit(root_.get(), record_);
    ASSERT_NE(device_, nullptr);
    code_ = Programmer(device_.get(), record_, SimRegion::kCode, kFullAccess);
    store_ = Programmer(device_.get(), record_, SimRegion::kStore, kFullAccess);
    ASSERT_NE(code_, nullptr);
    ASSERT_NE(store_, nullptr);
  }

  USHORT Acquire(ProgrammingInterface* programmer) {
    return AcquireGroup(programmer, record_.groupKey());
  }

  USHORT StartErase(ProgrammingInterface* programmer, ULONG start,
                    ULONG length) {
    USHORT status = 0xFFFF;
    EXPECT_EQ(programmer->StartErase(start, length, &status), S_OK);
    return status;
  }

  USHORT Poll(ProgrammingInterface* programmer) {
    USHORT status = 0xFFFF;
    EXPECT_EQ(programmer->PollErase(&status), S_OK);
    return status;
  }

  /// Polls until the erase ends; returns the final status.
  USHORT PollToEnd(ProgrammingInterface* programmer) {
    USHORT status = kStatusBusy;
    for (int i = 0; i < 1000000 && status == kStatusBusy; ++i) {
      status = Poll(programmer);
    }
    return status;
  }

  USHORT Program(ProgrammingInterface* programmer, ULONG start,
                 const std::vector<uint8_t>& bytes) {
    SAFEARRAY* array = ByteArray(bytes);
    USHORT status = 0xFFFF;
    EXPECT_EQ(programmer->ProgramRegion(start, static_cast<ULONG>(bytes.size()),
                                        array, &status),
              S_OK);
    SafeArrayDestroy(array);
    return status;
  }

  USHORT Reset(ProgrammingInterface* programmer) {
    USHORT status = 0xFFFF;
    EXPECT_EQ(programmer->ResetDevice(&status), S_OK);
    return status;
  }

  std::vector<uint8_t> Flash(SimRegion region,
                             const std::string& unit = kDefaultReadyUnit) {
    return server_->state().ReadFlash(unit, region);
  }

  TempFolder folder_;
  SimBench bench_ = WriteDefaultBench(folder_.path(), BenchTiming::kInstant);
  std::unique_ptr<SimServer> server_;
  Ref<ProgrammingServer> root_;
  DeviceRecord record_{};
  Ref<DeviceInterface> device_;
  Ref<ProgrammingInterface> code_;
  Ref<ProgrammingInterface> store_;
};

TEST_F(SimProgrammerTest, ProgrammersAreGivenOnlyToTheUnitsKeyAndFullAccess) {
  Open();
  EXPECT_EQ(Programmer(device_.get(), record_, SimRegion::kCode, 7), nullptr)
      << "identity 7 has access level 1";
  EXPECT_EQ(Programmer(device_.get(), record_, SimRegion::kStore, 99), nullptr);
  DeviceRecord otherKey = record_;
  otherKey.bytes[device_record::kUnitKeyA] ^= 1;
  EXPECT_EQ(Programmer(device_.get(), otherKey, SimRegion::kCode, 0), nullptr);
  EXPECT_EQ(server_->state().LiveObjects(SimObjectKind::kCodeProgrammer), 1);
  const SimCall call = server_->state().Calls("GetStoreProgrammer")[0];
  EXPECT_EQ(call.args, (std::vector<int64_t>{record_.unitKeyA(), 0}));
}

TEST_F(SimProgrammerTest, UnitWithoutSimulatedFlashHasNoProgrammers) {
  server_ = std::make_unique<SimServer>(bench_);
  root_.reset(server_->NewRoot());
  record_ = RecordOf(root_.get(), server_->state(), "w3-bay2");
  device_ = OpenUnit(root_.get(), record_);
  ASSERT_NE(device_, nullptr);
  EXPECT_EQ(Programmer(device_.get(), record_, SimRegion::kCode, 0), nullptr);
}

TEST_F(SimProgrammerTest, GroupNeedsTheUnitsGroupKey) {
  Open();
  GUID group{};
  GroupTicket ticket{};
  USHORT status = 0;
  ASSERT_EQ(
      code_->AcquireGroup(record_.groupKey() + 1, group, &ticket, &status),
      S_OK);
  EXPECT_EQ(status, kSimStatusWrongGroupKey);
  EXPECT_EQ(StartErase(code_.get(), 0x10000, 0x100), kSimStatusNoGroup);
  EXPECT_EQ(Acquire(code_.get()), kStatusDone);
  const SimCall call = server_->state().Calls("AcquireGroup")[1];
  EXPECT_EQ(call.args, (std::vector<int64_t>{record_.groupKey()}));
  EXPECT_EQ(call.bytes[0], 0x78);  // the group identifier, as sent
  EXPECT_EQ(call.bytes.size(), 16u);
}

TEST_F(SimProgrammerTest, EraseOfFlashHoldingDataRunsThenLeavesItErased) {
  Open();
  ASSERT_EQ(Acquire(code_.get()), kStatusDone);
  EXPECT_EQ(StartErase(code_.get(), 0x10000, 0x40000), kStatusBusy);
  EXPECT_EQ(PollToEnd(code_.get()), kStatusDone);
  const std::vector<uint8_t> flash = Flash(SimRegion::kCode);
  EXPECT_EQ(std::count(flash.begin(), flash.begin() + 0x40000, 0xFF), 0x40000);
  EXPECT_EQ(Poll(code_.get()), kStatusDone) << "nothing running any more";
}

TEST_F(SimProgrammerTest, EraseOfBlankFlashIsDoneAtOnce) {
  Open("w3-bay4");
  ASSERT_EQ(Acquire(code_.get()), kStatusDone);
  EXPECT_EQ(StartErase(code_.get(), 0x10000, 0x6E1EC), kStatusDone);
  EXPECT_EQ(server_->state().CallCount("PollErase"), 0u);
}

TEST_F(SimProgrammerTest, EraseWorksOnWholeSectors) {
  Open();
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  EXPECT_EQ(StartErase(store_.get(), 0x1000, 0x10), kStatusBusy);
  EXPECT_EQ(PollToEnd(store_.get()), kStatusDone);
  const std::vector<uint8_t> flash = Flash(SimRegion::kStore);
  const auto erased = [&](size_t from) {
    return std::count(flash.begin() + from, flash.begin() + from + 0x1000,
                      0xFF);
  };
  EXPECT_LT(erased(0), 0x100) << "the sector before stays";
  EXPECT_EQ(erased(0x1000), 0x1000);
  EXPECT_LT(erased(0x2000), 0x100) << "the sector after stays";
}

TEST_F(SimProgrammerTest, EraseLastsItsDurationOnTheWallClock) {
  bench_.units[0].eraseMs = 60;
  Open();
  ASSERT_EQ(Acquire(code_.get()), kStatusDone);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(StartErase(code_.get(), 0x10000, 0x1000), kStatusBusy);
  EXPECT_EQ(PollToEnd(code_.get()), kStatusDone);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_GT(server_->state().CallCount("PollErase", SimRegion::kCode), 1u);
}

TEST_F(SimProgrammerTest, ErasePollsCanBeCountedOut) {
  bench_.units[0].erasePolls = 3;
  Open();
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  EXPECT_EQ(StartErase(store_.get(), 0, 0x1000), kStatusBusy);
  EXPECT_EQ(Poll(store_.get()), kStatusBusy);
  EXPECT_EQ(Poll(store_.get()), kStatusBusy);
  EXPECT_EQ(Poll(store_.get()), kStatusBusy);
  EXPECT_EQ(Poll(store_.get()), kStatusDone);
  EXPECT_EQ(server_->state().CallCount("PollErase", SimRegion::kStore), 4u);
  EXPECT_EQ(server_->state().CallCount("PollErase", SimRegion::kCode), 0u);
}

TEST_F(SimProgrammerTest, NothingIsWrittenWhileAnEraseRuns) {
  bench_.units[0].erasePolls = 5;
  Open();
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  EXPECT_EQ(StartErase(store_.get(), 0, 0x1000), kStatusBusy);
  EXPECT_EQ(StartErase(store_.get(), 0, 0x1000), kSimStatusBusy);
  EXPECT_EQ(Program(store_.get(), 0x3F000, {1, 2}), kSimStatusBusy);
}

// A unit finishes an erase it was given whether or not anyone polls: when
// the client goes mid-erase, the server applies every running erase before
// it ends, so the next power-up finds the code flash blank.
TEST_F(SimProgrammerTest, ErasesNobodyPolledAreFinishedWhenTheClientGoes) {
  bench_.units[0].eraseMs = 60000;
  Open();
  ASSERT_EQ(Acquire(code_.get()), kStatusDone);
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  ASSERT_EQ(StartErase(code_.get(), 0x10000, 0x70000), kStatusBusy);
  ASSERT_EQ(StartErase(store_.get(), 0x1000, 0x1800), kStatusBusy);
  code_.reset();
  store_.reset();
  device_.reset();
  root_.reset();
  const std::vector<uint8_t> before = Flash(SimRegion::kCode);
  EXPECT_LT(std::count(before.begin(), before.end(), 0xFF), 0x70000)
      << "the erase is still running";

  EXPECT_EQ(server_->state().FinishRunningErases(), std::vector<std::string>{});
  const std::vector<uint8_t> code = Flash(SimRegion::kCode);
  EXPECT_EQ(std::count(code.begin(), code.end(), 0xFF), 0x70000);
  const std::vector<uint8_t> store = Flash(SimRegion::kStore);
  const auto erased = [&](size_t from, size_t length) {
    return std::count(store.begin() + from, store.begin() + from + length,
                      0xFF);
  };
  EXPECT_LT(erased(0, 0x1000), 0x100) << "the sector before stays";
  EXPECT_EQ(erased(0x1000, 0x2000), 0x2000) << "whole sectors";
  EXPECT_LT(erased(0x3000, 0x1000), 0x100) << "the sector after stays";

  server_.reset();
  SimServer again(folder_.path());
  EXPECT_EQ(again.state().Condition(kDefaultReadyUnit).unitState,
            bench_.notReadyState)
      << "the unit waits for new code";
}

TEST_F(SimProgrammerTest, ProgramWritesTheBytesAtTheirAddress) {
  Open("w3-bay4");
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  EXPECT_EQ(Program(store_.get(), 0x100, {1, 2, 3}), kStatusDone);
  const std::vector<uint8_t> flash = Flash(SimRegion::kStore, "w3-bay4");
  EXPECT_EQ(flash[0xFF], 0xFF);
  EXPECT_EQ(flash[0x100], 1);
  EXPECT_EQ(flash[0x102], 3);
  EXPECT_EQ(flash[0x103], 0xFF);
  const SimCall call = server_->state().Calls("ProgramRegion")[0];
  EXPECT_EQ(call.args, (std::vector<int64_t>{0x100, 3, 3, 0, VT_UI1}));
  EXPECT_EQ(*call.region, SimRegion::kStore);
}

TEST_F(SimProgrammerTest, ProgramOverFlashThatIsNotErasedIsRefusedWhole) {
  Open("w3-bay4");
  ASSERT_EQ(Acquire(code_.get()), kStatusDone);
  ASSERT_EQ(Program(code_.get(), 0x10010, {0x00}), kStatusDone);
  // The second write overlaps the first by one byte: nothing is written.
  EXPECT_EQ(Program(code_.get(), 0x10000, std::vector<uint8_t>(0x11, 0x5A)),
            kSimStatusRefused);
  const std::vector<uint8_t> flash = Flash(SimRegion::kCode, "w3-bay4");
  EXPECT_EQ(flash[0], 0xFF);
  EXPECT_EQ(flash[0x10], 0x00);
}

TEST_F(SimProgrammerTest, ProgramNeedsAByteArrayOfTheGivenLength) {
  Open("w3-bay4");
  ASSERT_EQ(Acquire(code_.get()), kStatusDone);
  SAFEARRAY* array = ByteArray({1, 2, 3});
  USHORT status = 0;
  EXPECT_EQ(code_->ProgramRegion(0x10000, 4, array, &status), E_INVALIDARG);
  EXPECT_EQ(code_->ProgramRegion(0x10000, 3, nullptr, &status), E_POINTER);
  SafeArrayDestroy(array);
  EXPECT_EQ(Flash(SimRegion::kCode, "w3-bay4")[0], 0xFF);
}

TEST_F(SimProgrammerTest, ProgramStepTakesItsDuration) {
  bench_.units[3].programMs = 40;
  Open("w3-bay4");
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(Program(store_.get(), 0, {1}), kStatusDone);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
}

TEST_F(SimProgrammerTest, ResetShowsTheCodeTheUnitNowHolds) {
  Open("w3-bay4");
  EXPECT_EQ(server_->state().Condition("w3-bay4").unitState, 900);
  SampleCodeBlock block;  // W3 1.463.1
  block.length = 0x6E1EC;
  ASSERT_EQ(Acquire(code_.get()), kStatusDone);
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  ASSERT_EQ(Program(code_.get(), 0x10000, MakeSampleCodeBlock(block)),
            kStatusDone);
  // Code without its profile: the unit stays in its boot code.
  ASSERT_EQ(Reset(code_.get()), kStatusDone);
  EXPECT_EQ(RecordOf(root_.get(), server_->state(), "w3-bay4").unitState(),
            900);
  ASSERT_EQ(Program(store_.get(), 0, MakeSampleProfileBlock({})), kStatusDone);
  // Programmed, but the unit still runs what it started with.
  EXPECT_EQ(RecordOf(root_.get(), server_->state(), "w3-bay4").unitState(),
            900);
  ASSERT_EQ(Reset(store_.get()), kStatusDone);
  const DeviceRecord after = RecordOf(root_.get(), server_->state(), "w3-bay4");
  EXPECT_EQ(after.unitState(), 1001);
  EXPECT_EQ(after.unitCodeBranch(), 1);
  EXPECT_EQ(after.unitCodeVersion(), 463);
  EXPECT_EQ(after.unitCodeRevision(), 1);
}

// What the ready unit (code 1.462.7 and its profile) shows at the next
// start when its store flash was left thus; unitState is the bench's own
// state for a unit waiting for code, when it gives one.
struct StoreLeft {
  const char* name;
  std::function<void(const SimBench&)> leave;
  std::optional<uint16_t> unitState;
  uint16_t shownState;
  uint16_t shownVersion;
};

void PrintTo(const StoreLeft& left, std::ostream* out) { *out << left.name; }

void EraseStore(const SimBench& bench, uint32_t length) {
  WriteBenchFlash(bench, kDefaultReadyUnit, SimRegion::kStore, 0,
                  std::vector<uint8_t>(length, kErasedByte));
}

class StoreAtPowerUp : public SimProgrammerTest,
                       public testing::WithParamInterface<StoreLeft> {};

TEST_P(StoreAtPowerUp, UnitShowsItsCodeOnlyWithItsProfile) {
  const StoreLeft& left = GetParam();
  bench_.units[0].unitState = left.unitState;
  left.leave(bench_);
  Open();
  EXPECT_EQ(record_.unitState(), left.shownState);
  EXPECT_EQ(record_.unitCodeVersion(), left.shownVersion);
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, StoreAtPowerUp,
    testing::Values(
        StoreLeft{"asWritten", [](const SimBench&) {}, {}, 1001, 462},
        StoreLeft{
            "erased",
            [](const SimBench& bench) { EraseStore(bench, kStoreFlashSize); },
            {},
            1000,
            0},
        StoreLeft{
            "erasedWithTheBenchsState",
            [](const SimBench& bench) { EraseStore(bench, kStoreFlashSize); },
            900, 900, 0},
        // An erase cut half-way clears the first sectors only.
        StoreLeft{"halfErased",
                  [](const SimBench& bench) { EraseStore(bench, 0x10000); },
                  {},
                  1000,
                  0},
        // A program step cut short leaves the block's tail erased.
        StoreLeft{"tornWrite",
                  [](const SimBench& bench) {
                    EraseStore(bench, kStoreFlashSize);
                    SampleProfileBlock profile;
                    profile.codeVersion = 462;
                    profile.minCodeRevision = 7;
                    profile.maxCodeRevision = 7;
                    profile.length = 0x20000;
                    profile.seed = 1;
                    std::vector<uint8_t> block =
                        MakeSampleProfileBlock(profile);
                    block.resize(block.size() / 2);
                    WriteBenchFlash(bench, kDefaultReadyUnit, SimRegion::kStore,
                                    0, block);
                  },
                  {},
                  1000,
                  0},
        // New code went in, its profile did not: the old profile is
        // another release's.
        StoreLeft{"profileOfTheCodeReplaced",
                  [](const SimBench& bench) {
                    WriteBenchFlash(bench, kDefaultReadyUnit, SimRegion::kCode,
                                    0x10000, MakeSampleCodeBlock({}));
                  },
                  {},
                  1000,
                  0}),
    [](const testing::TestParamInfo<StoreLeft>& info) {
      return std::string(info.param.name);
    });

TEST_F(SimProgrammerTest, ResetAfterAStoreEraseShowsAUnitWaitingForCode) {
  Open();
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  ASSERT_EQ(StartErase(store_.get(), 0, 0x1000), kStatusBusy);
  ASSERT_EQ(PollToEnd(store_.get()), kStatusDone);
  ASSERT_EQ(Reset(store_.get()), kStatusDone);
  const DeviceRecord after =
      RecordOf(root_.get(), server_->state(), kDefaultReadyUnit);
  EXPECT_EQ(after.unitState(), 1000);
  EXPECT_EQ(after.unitCodeVersion(), 0);
}

TEST_F(SimProgrammerTest, ResetAfterAnEraseShowsAUnitWaitingForCode) {
  Open();
  ASSERT_EQ(Acquire(code_.get()), kStatusDone);
  ASSERT_EQ(StartErase(code_.get(), 0x10000, 0x1000), kStatusBusy);
  ASSERT_EQ(PollToEnd(code_.get()), kStatusDone);
  ASSERT_EQ(Reset(code_.get()), kStatusDone);
  const DeviceRecord after =
      RecordOf(root_.get(), server_->state(), kDefaultReadyUnit);
  EXPECT_EQ(after.unitState(), 1000);
  EXPECT_EQ(after.unitCodeVersion(), 0);
}

TEST_F(SimProgrammerTest, FlashSurvivesARestartOfTheServer) {
  Open("w3-bay4");
  ASSERT_EQ(Acquire(store_.get()), kStatusDone);
  ASSERT_EQ(Program(store_.get(), 0, {0x42}), kStatusDone);
  code_.reset();
  store_.reset();
  device_.reset();
  root_.reset();
  server_.reset();
  SimServer again(folder_.path());
  EXPECT_EQ(again.state().ReadFlash("w3-bay4", SimRegion::kStore)[0], 0x42);
}

TEST_F(SimProgrammerTest, ReleasesAreRecordedPerRegion) {
  Open();
  code_.reset();
  const std::vector<SimCall> releases = server_->state().Calls("Release");
  ASSERT_EQ(releases.size(), 1u);
  EXPECT_EQ(*releases[0].region, SimRegion::kCode);
  EXPECT_EQ(server_->state().LiveObjects(SimObjectKind::kCodeProgrammer), 0);
  EXPECT_EQ(server_->state().LiveObjects(SimObjectKind::kStoreProgrammer), 1);
  EXPECT_EQ(server_->state().LiveObjects(SimObjectKind::kDevice), 1);
}

}  // namespace
