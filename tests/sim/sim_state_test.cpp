// Scripted faults, as a client of the server sees them.
#include "sim/sim_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "sim/default_bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/unusual_files.h"

namespace {

// The units of the default bench, each a record in the detection array.
constexpr int kDefaultUnits = 6;

SimFault Fault(const char* operation, FaultAction action,
               std::optional<int64_t> value = std::nullopt,
               std::optional<uint32_t> call = std::nullopt,
               std::optional<SimRegion> region = std::nullopt,
               bool during = false) {
  return SimFault{operation, region, call, action, value, during};
}

class SimFaultTest : public testing::Test {
 protected:
  void Start(std::vector<SimFault> faults) {
    bench_.faults = std::move(faults);
    server_ = std::make_unique<SimServer>(bench_);
    server_->state().SetExitHook([this](int code) { exits_.push_back(code); });
    root_.reset(server_->NewRoot());
  }

  /// Opens the ready unit's programmers (through any faults scripted for
  /// the calls on the way) and acquires both groups.
  void OpenReadyUnit() {
    record_ = RecordOf(root_.get(), server_->state(), kDefaultReadyUnit);
    device_ = OpenUnit(root_.get(), record_);
    code_ = Programmer(device_.get(), record_, SimRegion::kCode, 0);
    store_ = Programmer(device_.get(), record_, SimRegion::kStore, 0);
    for (ProgrammingInterface* programmer : {code_.get(), store_.get()}) {
      GUID group{};
      GroupTicket ticket{};
      USHORT status = 0;
      programmer->AcquireGroup(record_.groupKey(), group, &ticket, &status);
    }
  }

  Received Detected() {
    SAFEARRAY* array = nullptr;
    last_ = root_->DetectDevices(&array);
    return TakeArray(array);
  }

  TempFolder folder_;
  SimBench bench_ = WriteDefaultBench(folder_.path(), BenchTiming::kInstant);
  std::unique_ptr<SimServer> server_;
  Ref<ProgrammingServer> root_;
  DeviceRecord record_{};
  Ref<DeviceInterface> device_;
  Ref<ProgrammingInterface> code_;
  Ref<ProgrammingInterface> store_;
  std::vector<int> exits_;
  HRESULT last_ = S_OK;
};

TEST_F(SimFaultTest, ResultCodeComesWithOutputsThatLookValid) {
  Start({Fault("DetectDevices", FaultAction::kResultCode, -2147467259)});
  const Received received = Detected();
  EXPECT_EQ(last_, E_FAIL);
  EXPECT_EQ(received.count, kDefaultUnits * 1256);
  USHORT major = 0;
  USHORT minor = 0;
  EXPECT_EQ(root_->GetVersion(&major, &minor), S_OK);
}

TEST_F(SimFaultTest, FaultStrikesOnlyTheCallItCounts) {
  Start({Fault("GetVersion", FaultAction::kResultCode, 0x80004005, 2)});
  USHORT major = 0;
  USHORT minor = 0;
  EXPECT_EQ(root_->GetVersion(&major, &minor), S_OK);
  EXPECT_EQ(root_->GetVersion(&major, &minor), E_FAIL);
  EXPECT_EQ(major, 1) << "the outputs are still filled";
  EXPECT_EQ(root_->GetVersion(&major, &minor), S_OK);
  EXPECT_EQ(server_->state().CallCount("GetVersion"), 3u);
}

TEST_F(SimFaultTest, FaultWithoutCallStrikesEveryCall) {
  Start({Fault("GetVersion", FaultAction::kResultCode, 0x8000FFFF)});
  USHORT major = 0;
  USHORT minor = 0;
  EXPECT_EQ(root_->GetVersion(&major, &minor), E_UNEXPECTED);
  EXPECT_EQ(root_->GetVersion(&major, &minor), E_UNEXPECTED);
}

struct ArrayCase {
  const char* name;
  SimFault fault;
  bool present;
  VARTYPE type;
  int64_t count;
};

class SimArrayFaultTest : public SimFaultTest,
                          public testing::WithParamInterface<ArrayCase> {};

TEST_P(SimArrayFaultTest, DetectionArrayIsMalformedAsScripted) {
  Start({GetParam().fault});
  const Received received = Detected();
  EXPECT_EQ(last_, S_OK);
  EXPECT_EQ(received.present, GetParam().present);
  if (!received.present) return;
  EXPECT_EQ(received.type, GetParam().type);
  EXPECT_EQ(received.count, GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimArrayFaultTest,
    testing::Values(
        ArrayCase{"empty", Fault("DetectDevices", FaultAction::kEmptyOutput),
                  false, VT_EMPTY, 0},
        ArrayCase{"words",
                  Fault("DetectDevices", FaultAction::kWrongElementType), true,
                  VT_UI2, kDefaultUnits * 628},
        ArrayCase{"signed",
                  Fault("DetectDevices", FaultAction::kWrongElementType, 16),
                  true, VT_I1, kDefaultUnits * 1256},
        ArrayCase{"oneMore", Fault("DetectDevices", FaultAction::kBadLength),
                  true, VT_UI1, kDefaultUnits * 1256 + 1},
        ArrayCase{"2511", Fault("DetectDevices", FaultAction::kBadLength, 2511),
                  true, VT_UI1, 2511}),
    [](const testing::TestParamInfo<ArrayCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(SimFaultTest, IdentityArrayFaults) {
  Start({Fault("GetIdentities", FaultAction::kBadLength, 4, 1),
         Fault("GetIdentities", FaultAction::kWrongElementType, {}, 2),
         Fault("GetIdentities", FaultAction::kEmptyOutput, {}, 3)});
  SAFEARRAY* array = nullptr;
  ASSERT_EQ(root_->GetIdentities(257, 513, 0, 0, 1, &array), S_OK);
  Received received = TakeArray(array);
  EXPECT_EQ(received.type, VT_UI2);
  EXPECT_EQ(received.count, 4);
  ASSERT_EQ(root_->GetIdentities(257, 513, 0, 0, 1, &array), S_OK);
  received = TakeArray(array);
  EXPECT_EQ(received.type, VT_UI1);
  EXPECT_EQ(received.count, 18);
  ASSERT_EQ(root_->GetIdentities(257, 513, 0, 0, 1, &array), S_OK);
  EXPECT_EQ(array, nullptr);
}

TEST_F(SimFaultTest, EmptyOutputsOfInterfacesAndNames) {
  Start({Fault("OpenDevice", FaultAction::kEmptyOutput, {}, 1),
         Fault("GetStoreProgrammer", FaultAction::kEmptyOutput),
         Fault("GetAccessName", FaultAction::kEmptyOutput)});
  record_ = RecordOf(root_.get(), server_->state(), kDefaultReadyUnit);
  EXPECT_EQ(OpenUnit(root_.get(), record_), nullptr);
  device_ = OpenUnit(root_.get(), record_);
  ASSERT_NE(device_, nullptr);
  EXPECT_NE(Programmer(device_.get(), record_, SimRegion::kCode, 0), nullptr);
  EXPECT_EQ(Programmer(device_.get(), record_, SimRegion::kStore, 0), nullptr);
  BSTR name = nullptr;
  EXPECT_EQ(root_->GetAccessName(0, &name), S_OK);
  EXPECT_EQ(name, nullptr);
}

TEST_F(SimFaultTest, CreateInstanceFaults) {
  Start({Fault("CreateInstance", FaultAction::kEmptyOutput, {}, 1),
         Fault("CreateInstance", FaultAction::kResultCode, 0x80080005, 2)});
  Ref<IClassFactory> factory(server_->NewClassFactory());
  void* object = &object;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_ProgrammingServer, &object),
            S_OK);
  EXPECT_EQ(object, nullptr);
  // A failing creation hands out no object, as no caller would release it.
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_ProgrammingServer, &object),
            static_cast<HRESULT>(0x80080005));
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_ProgrammingServer, &object),
            S_OK);
  static_cast<IUnknown*>(object)->Release();
  EXPECT_EQ(
      factory->CreateInstance(root_.get(), IID_ProgrammingServer, &object),
      CLASS_E_NOAGGREGATION);
}

TEST_F(SimFaultTest, StatusFaultsAnswerTheirValueAndDoNothingElse) {
  Start({Fault("AcquireGroup", FaultAction::kStatus, 9, 1, SimRegion::kStore),
         Fault("ProgramRegion", FaultAction::kStatus, 0, 1, SimRegion::kCode),
         Fault("ResetDevice", FaultAction::kStatus, 1)});
  OpenReadyUnit();
  USHORT status = 0;
  // The store group was refused, so the store flash stays closed.
  EXPECT_EQ(store_->StartErase(0, 0x1000, &status), S_OK);
  EXPECT_EQ(status, kSimStatusNoGroup);
  const std::vector<uint8_t> before =
      server_->state().ReadFlash(kDefaultReadyUnit, SimRegion::kCode);
  SAFEARRAY* array = ByteArray({1, 2, 3});
  EXPECT_EQ(code_->ProgramRegion(0x10000, 3, array, &status), S_OK);
  SafeArrayDestroy(array);
  EXPECT_EQ(status, kStatusDone);
  EXPECT_EQ(server_->state().ReadFlash(kDefaultReadyUnit, SimRegion::kCode),
            before)
      << "a status fault writes nothing";
  EXPECT_EQ(code_->ResetDevice(&status), S_OK);
  EXPECT_EQ(status, 1);
}

TEST_F(SimFaultTest, PollFaultsCountPerRegion) {
  bench_.units[0].erasePolls = 100;
  Start({Fault("PollErase", FaultAction::kStatus, 5, 3, SimRegion::kStore)});
  OpenReadyUnit();
  USHORT status = 0;
  code_->StartErase(0x10000, 0x1000, &status);
  store_->StartErase(0, 0x1000, &status);
  ASSERT_EQ(status, kStatusBusy);
  for (int i = 0; i < 4; ++i) {
    code_->PollErase(&status);
    EXPECT_EQ(status, kStatusBusy);
  }
  store_->PollErase(&status);
  store_->PollErase(&status);
  EXPECT_EQ(status, kStatusBusy);
  store_->PollErase(&status);
  EXPECT_EQ(status, 5);
  // The failed erase has ended and erased nothing.
  store_->PollErase(&status);
  EXPECT_EQ(status, kStatusDone);
  const std::vector<uint8_t> store =
      server_->state().ReadFlash(kDefaultReadyUnit, SimRegion::kStore);
  EXPECT_LT(std::count(store.begin(), store.begin() + 0x1000, 0xFF), 0x100);
}

TEST_F(SimFaultTest, ExitEndsTheServerForEveryLaterCall) {
  Start({Fault("GetIdentities", FaultAction::kExit)});
  SAFEARRAY* array = nullptr;
  EXPECT_EQ(root_->GetIdentities(257, 513, 0, 0, 1, &array), kSimCallFailed);
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(exits_, std::vector<int>{kSimExitCode});
  EXPECT_EQ(server_->state().exitCode(), kSimExitCode);
  USHORT major = 0;
  USHORT minor = 0;
  EXPECT_EQ(root_->GetVersion(&major, &minor), kSimDisconnected);
  EXPECT_EQ(server_->state().CallCount("GetVersion"), 0u)
      << "an ended server receives nothing";
}

TEST_F(SimFaultTest, ExitDuringProgramLeavesHalfTheDataWritten) {
  Start({Fault("ProgramRegion", FaultAction::kExit, {}, 1, SimRegion::kStore,
               true)});
  OpenReadyUnit();
  USHORT status = 0;
  store_->StartErase(0, 0x1000, &status);
  while (status == kStatusBusy) store_->PollErase(&status);
  ASSERT_EQ(status, kStatusDone);
  SAFEARRAY* array = ByteArray(std::vector<uint8_t>(0x100, 0x11));
  EXPECT_EQ(store_->ProgramRegion(0, 0x100, array, &status), kSimCallFailed);
  SafeArrayDestroy(array);
  EXPECT_EQ(exits_.size(), 1u);
  const std::vector<uint8_t> store =
      server_->state().ReadFlash(kDefaultReadyUnit, SimRegion::kStore);
  EXPECT_EQ(std::count(store.begin(), store.begin() + 0x100, 0x11), 0x80);
  EXPECT_EQ(store[0x80], 0xFF);
}

TEST_F(SimFaultTest, ExitDuringEraseLeavesHalfTheSectorsErased) {
  Start(
      {Fault("PollErase", FaultAction::kExit, {}, 1, SimRegion::kCode, true)});
  OpenReadyUnit();
  USHORT status = 0;
  code_->StartErase(0x10000, 0x4000, &status);
  ASSERT_EQ(status, kStatusBusy);
  EXPECT_EQ(code_->PollErase(&status), kSimCallFailed);
  // The cut stands for power lost mid-erase: the client going afterwards
  // does not finish it.
  server_->state().FinishRunningErases();
  const std::vector<uint8_t> code =
      server_->state().ReadFlash(kDefaultReadyUnit, SimRegion::kCode);
  EXPECT_EQ(std::count(code.begin(), code.begin() + 0x2000, 0xFF), 0x2000);
  EXPECT_LT(std::count(code.begin() + 0x2000, code.begin() + 0x4000, 0xFF),
            0x100);
}

// A flash file that cannot be used, as a full disk or a cut while it was
// made left it: `put` damages w17-bay5's file `file`.
struct BrokenFlash {
  const char* name;
  const char* file;
  std::function<void(const std::string& path)> put;
  const char* says;  // after the path
};

void PrintTo(const BrokenFlash& broken, std::ostream* out) {
  *out << broken.name;
}

class BrokenFlashTest : public testing::TestWithParam<BrokenFlash> {};

TEST_P(BrokenFlashTest, RefusesItsOwnUnitAlone) {
  TempFolder folder;
  const SimBench bench =
      WriteDefaultBench(folder.path(), BenchTiming::kInstant);
  const std::string path = folder.path() + "/" + GetParam().file;
  std::filesystem::remove(path);
  GetParam().put(path);
  const auto before = std::filesystem::symlink_status(path).type();

  SimServer server(bench);
  std::vector<std::string> reports;
  server.state().SetReportHook(
      [&](const std::string& message) { reports.push_back(message); });
  Ref<ProgrammingServer> root(server.NewRoot());
  const DeviceRecord broken = RecordOf(root.get(), server.state(), "w17-bay5");
  EXPECT_EQ(broken.unitState(), 1000);
  EXPECT_EQ(broken.unitCodeVersion(), 0);
  Ref<DeviceInterface> device = OpenUnit(root.get(), broken);
  Ref<ProgrammingInterface> code =
      Programmer(device.get(), broken, SimRegion::kCode, 0);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(AcquireGroup(code.get(), broken.groupKey()), kSimStatusFlashFault);
  EXPECT_EQ(reports, std::vector<std::string>{
                         path + GetParam().says +
                         "; unit \"w17-bay5\" is refused until it is put "
                         "right"});
  EXPECT_EQ(std::filesystem::symlink_status(path).type(), before);

  // The other units of the bench go on.
  const DeviceRecord ready =
      RecordOf(root.get(), server.state(), kDefaultReadyUnit);
  EXPECT_EQ(ready.unitState(), 1001);
  Ref<DeviceInterface> readyDevice = OpenUnit(root.get(), ready);
  Ref<ProgrammingInterface> readyCode =
      Programmer(readyDevice.get(), ready, SimRegion::kCode, 0);
  EXPECT_EQ(AcquireGroup(readyCode.get(), ready.groupKey()), kStatusDone);
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenFlashTest,
    testing::Values(
        BrokenFlash{"shortStore", "w17-bay5-store.bin",
                    [](const std::string& path) {
                      std::ofstream(path) << std::string(151552, '\xFF');
                    },
                    ": holds 151552 bytes, a store flash file holds 262144 "
                    "bytes"},
        BrokenFlash{"emptyCode", "w17-bay5-code.bin",
                    [](const std::string& path) { std::ofstream{path}; },
                    ": holds 0 bytes, a code flash file holds 458752 bytes"},
        BrokenFlash{"folderForTheStore", "w17-bay5-store.bin",
                    [](const std::string& path) {
                      std::filesystem::create_directory(path);
                    },
                    ": not a plain file (a folder, a pipe, a device or the "
                    "like); a store flash file holds 262144 bytes"},
        // Opened without waiting for a writer, which never comes: the
        // server would otherwise hang at its start, before any unit.
        BrokenFlash{
            "pipeForTheCode", "w17-bay5-code.bin",
            [](const std::string& path) { ASSERT_TRUE(MakePipe(path)); },
            ": not a plain file (a folder, a pipe, a device or the "
            "like); a code flash file holds 458752 bytes"},
        BrokenFlash{
            "socketForTheStore", "w17-bay5-store.bin",
            [](const std::string& path) { ASSERT_TRUE(MakeSocket(path)); },
            ": not a plain file (a folder, a pipe, a device or the "
            "like); a store flash file holds 262144 bytes"},
        BrokenFlash{"linkForTheCode", "w17-bay5-code.bin",
                    [](const std::string& path) {
                      std::filesystem::create_symlink("w3-bay1-code.bin", path);
                    },
                    ": not a plain file (a symbolic link is not followed); a "
                    "code flash file holds 458752 bytes"}),
    [](const testing::TestParamInfo<BrokenFlash>& info) {
      return std::string(info.param.name);
    });

}  // namespace
