// Each thing a unit refuses, asked for wrongly, and the refusal seen in the
// way the call's interface allows: no interface, a failure result, or a
// status other than 0. The right call beside each table shows that the
// refusal comes from the one wrong value.
#include <gtest/gtest.h>

#include "sim/default_bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/sim/sim_client.h"

namespace {

constexpr SimRegion kCode = SimRegion::kCode;
constexpr SimRegion kStore = SimRegion::kStore;

// A job's server on a fresh default bench, with the ready unit detected.
struct Job {
  Job() {
    server = std::make_unique<SimServer>(bench);
    root.reset(server->NewRoot());
    ready = RecordOf(root.get(), server->state(), kDefaultReadyUnit);
    other = RecordOf(root.get(), server->state(), "w3-bay4");
  }

  TempFolder folder;
  SimBench bench = WriteDefaultBench(folder.path(), BenchTiming::kInstant);
  std::unique_ptr<SimServer> server;
  Ref<ProgrammingServer> root;
  DeviceRecord ready{};
  DeviceRecord other{};  // another W3 with simulated flash
};

// ---------------------------------------------------------------- identities

struct KeysRow {
  const char* rule;
  bool otherA;  // unitKeyA of the other unit instead of the ready one's
  int deltaA;
  bool otherB;
  int deltaB;
  HRESULT expected;
};

const KeysRow kKeysRows[] = {
    {"the unit's own keys", false, 0, false, 0, S_OK},
    {"unitKeyA no unit has", false, 0x40, false, 0, E_INVALIDARG},
    {"unitKeyB no unit has", false, 0, false, 0x40, E_INVALIDARG},
    {"unitKeyA of another unit", true, 0, false, 0, E_INVALIDARG},
    {"unitKeyB of another unit", false, 0, true, 0, E_INVALIDARG},
};

TEST(UnitRules, IdentitiesAreToldOnlyForOneUnitsPairOfKeys) {
  for (const KeysRow& row : kKeysRows) {
    SCOPED_TRACE(row.rule);
    Job job;
    const USHORT a = static_cast<USHORT>(
        (row.otherA ? job.other : job.ready).unitKeyA() + row.deltaA);
    const USHORT b = static_cast<USHORT>(
        (row.otherB ? job.other : job.ready).unitKeyB() + row.deltaB);
    SAFEARRAY* identities = nullptr;
    EXPECT_EQ(job.root->GetIdentities(a, b, 0, 0, 1, &identities),
              row.expected);
    EXPECT_EQ(identities != nullptr, row.expected == S_OK);
    TakeArray(identities);
  }
}

// ---------------------------------------------------------- programmers

struct GrantRow {
  const char* rule;
  bool otherUnitsDevice;  // opened at the other unit's address
  bool otherUnitsKey;     // unitKeyA of the other unit
  USHORT identityId;
  bool granted;
};

// The ready unit's identities: (1,7,1), (1,0,0), (2,12,2); the other unit
// has (1,0,0) and (2,12,2).
const GrantRow kGrantRows[] = {
    {"own key, identity with full access", false, false, 0, true},
    {"identity of access level 1", false, false, 7, false},
    {"identity of access level 2", false, false, 12, false},
    {"identity that is none of the unit's", false, false, 9, false},
    {"unitKeyA of another unit", false, true, 0, false},
    {"another unit's address, the chosen unit's key", true, false, 0, false},
};

TEST(UnitRules, ProgrammersGoOnlyToTheOpenedUnitsKeyAndFullAccess) {
  for (const GrantRow& row : kGrantRows) {
    for (SimRegion region : {kCode, kStore}) {
      SCOPED_TRACE(testing::Message()
                   << row.rule << ", " << RegionName(region));
      Job job;
      Ref<DeviceInterface> device = OpenUnit(
          job.root.get(), row.otherUnitsDevice ? job.other : job.ready);
      ASSERT_NE(device, nullptr);
      const USHORT key = (row.otherUnitsKey ? job.other : job.ready).unitKeyA();
      ProgrammingInterface* programmer = nullptr;
      const HRESULT result =
          region == kCode
              ? device->GetCodeProgrammer(key, row.identityId, &programmer)
              : device->GetStoreProgrammer(key, row.identityId, &programmer);
      EXPECT_EQ(result, S_OK);
      EXPECT_EQ(programmer != nullptr, row.granted);
      if (programmer) programmer->Release();
    }
  }
}

TEST(UnitRules, AnAddressNoUnitHasOpensNothing) {
  Job job;
  DeviceRecord nowhere = job.ready;
  nowhere.bytes[device_record::kUnitAddressB] ^= 0x80;
  EXPECT_EQ(OpenUnit(job.root.get(), nowhere), nullptr);
}

// ---------------------------------------------------------- group and flash

enum class Group { kNone, kOwn, kWrong, kOthers };
enum class Step { kAcquire, kErase, kProgram };

struct FlashRow {
  const char* rule;
  SimRegion region;
  Group group;  // the key of the acquire step, or of one before the step
  Step step;
  ULONG start;
  ULONG length;
  USHORT expected;
};

// The ready unit's code flash holds code from 0x10000 to 0x4FFFF and is
// erased above; its store flash holds a profile from 0 to 0x1FFFF.
const FlashRow kFlashRows[] = {
    {"own groupKey", kCode, Group::kOwn, Step::kAcquire, 0, 0, kStatusDone},
    {"groupKey no unit has", kCode, Group::kWrong, Step::kAcquire, 0, 0,
     kSimStatusWrongGroupKey},
    {"groupKey of another unit", kStore, Group::kOthers, Step::kAcquire, 0, 0,
     kSimStatusWrongGroupKey},
    {"erase without a group", kCode, Group::kNone, Step::kErase, 0x10000,
     0x1000, kSimStatusNoGroup},
    {"erase after a refused group", kStore, Group::kWrong, Step::kErase, 0,
     0x1000, kSimStatusNoGroup},
    {"erase under another unit's group key", kCode, Group::kOthers,
     Step::kErase, 0x10000, 0x1000, kSimStatusNoGroup},
    {"program without a group", kStore, Group::kNone, Step::kProgram, 0x30000,
     1, kSimStatusNoGroup},
    {"erase of the whole code region", kCode, Group::kOwn, Step::kErase,
     0x10000, 0x70000, kStatusBusy},
    {"erase of the whole store region", kStore, Group::kOwn, Step::kErase, 0,
     0x40000, kStatusBusy},
    {"code erase below 0x10000", kCode, Group::kOwn, Step::kErase, 0xFFFF, 0x10,
     kSimStatusRefused},
    {"code erase past 0x7FFFF", kCode, Group::kOwn, Step::kErase, 0x10000,
     0x70001, kSimStatusRefused},
    {"code erase wrapping round", kCode, Group::kOwn, Step::kErase, 0xFFFFFFF0,
     0x20, kSimStatusRefused},
    {"store erase past 0x3FFFF", kStore, Group::kOwn, Step::kErase, 0x3F000,
     0x1001, kSimStatusRefused},
    {"store erase at code addresses", kStore, Group::kOwn, Step::kErase,
     0x40000, 0x1000, kSimStatusRefused},
    {"code program at its last byte", kCode, Group::kOwn, Step::kProgram,
     0x7FFFF, 1, kStatusDone},
    {"store program at its last byte", kStore, Group::kOwn, Step::kProgram,
     0x3FFFF, 1, kStatusDone},
    {"code program below 0x10000", kCode, Group::kOwn, Step::kProgram, 0xFFFF,
     2, kSimStatusRefused},
    {"code program past 0x7FFFF", kCode, Group::kOwn, Step::kProgram, 0x7FFFF,
     2, kSimStatusRefused},
    {"store program past 0x3FFFF", kStore, Group::kOwn, Step::kProgram, 0x3FFFF,
     2, kSimStatusRefused},
    {"code program over code not erased", kCode, Group::kOwn, Step::kProgram,
     0x10000, 0x10, kSimStatusRefused},
    {"store program over a profile not erased", kStore, Group::kOwn,
     Step::kProgram, 0x100, 1, kSimStatusRefused},
};

TEST(UnitRules, GroupAndFlashRangesAreRefusedWithAStatus) {
  for (const FlashRow& row : kFlashRows) {
    SCOPED_TRACE(testing::Message()
                 << row.rule << ", " << RegionName(row.region));
    Job job;
    Ref<DeviceInterface> device = OpenUnit(job.root.get(), job.ready);
    ASSERT_NE(device, nullptr);
    Ref<ProgrammingInterface> programmer =
        Programmer(device.get(), job.ready, row.region, 0);
    ASSERT_NE(programmer, nullptr);
    const ULONG own = job.ready.groupKey();
    ULONG key = own;
    if (row.group == Group::kWrong) key = own ^ 0x00010000;
    if (row.group == Group::kOthers) key = job.other.groupKey();
    if (row.step != Step::kAcquire && row.group != Group::kNone) {
      ASSERT_EQ(AcquireGroup(programmer.get(), key) == kStatusDone,
                row.group == Group::kOwn);
    }
    const std::vector<uint8_t> before =
        job.server->state().ReadFlash(kDefaultReadyUnit, row.region);
    USHORT status = 0xFFFF;
    switch (row.step) {
      case Step::kAcquire:
        status = AcquireGroup(programmer.get(), key);
        break;
      case Step::kErase:
        EXPECT_EQ(programmer->StartErase(row.start, row.length, &status), S_OK);
        break;
      case Step::kProgram: {
        SAFEARRAY* data = ByteArray(std::vector<uint8_t>(row.length, 0x5A));
        EXPECT_EQ(
            programmer->ProgramRegion(row.start, row.length, data, &status),
            S_OK);
        SafeArrayDestroy(data);
        break;
      }
    }
    EXPECT_EQ(status, row.expected);
    if (row.expected != kStatusDone && row.expected != kStatusBusy) {
      EXPECT_TRUE(job.server->state().ReadFlash(kDefaultReadyUnit,
                                                row.region) == before)
          << "a refused call changed the flash";
    }
  }
}

}  // namespace
