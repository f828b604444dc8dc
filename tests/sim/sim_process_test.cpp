// ecuprog-sim as its own process: registered as the local server of the
// programming server's class, started by COM for a client, and dying when a
// fault says so.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/com_registration.h"
#include "platform/posix/com_registry.h"
#include "sim/bench_flash.h"
#include "sim/bench_json.h"
#include "sim/default_bench.h"
#include "sim/temp_folder.h"
#include "tests/sim/sim_client.h"
#include "tests/sim/unusual_files.h"

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

int RunSim(const std::string& arguments) {
  const std::string command =
      Quoted(ECUPROG_SIM_EXECUTABLE) + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SimProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    bench_ = folder_.path() + "/bench";
    setenv("ECUPROG_COM_REGISTRY", (folder_.path() + "/registry").c_str(), 1);
    setenv("ECUPROG_SIM_BENCH", bench_.c_str(), 1);
    ASSERT_EQ(RunSim("--make-bench " + Quoted(bench_) + " --instant"), 0);
    ASSERT_EQ(RunSim("--register"), 0);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    unsetenv("ECUPROG_COM_REGISTRY");
    unsetenv("ECUPROG_SIM_BENCH");
  }

  Ref<ProgrammingServer> Create() {
    void* object = nullptr;
    created_ =
        CoCreateInstance(CLSID_ProgrammingServer, nullptr, CLSCTX_LOCAL_SERVER,
                         IID_ProgrammingServer, &object);
    return Ref<ProgrammingServer>(static_cast<ProgrammingServer*>(object));
  }

  void AddFault(const SimFault& fault) {
    SimBench bench = LoadBench(bench_);
    bench.faults.push_back(fault);
    SaveBench(bench);
  }

  TempFolder folder_;
  std::string bench_;
  HRESULT created_ = S_OK;
};

TEST_F(SimProcessTest, ServesTheBenchToAClientThatCreatesIt) {
  Ref<ProgrammingServer> root = Create();
  ASSERT_EQ(created_, S_OK);
  ASSERT_NE(root, nullptr);
  USHORT major = 0;
  USHORT minor = 0;
  ASSERT_EQ(root->GetVersion(&major, &minor), S_OK);
  EXPECT_EQ(major, 1);
  EXPECT_EQ(minor, 5);
  const std::vector<DeviceRecord> records = Detect(root.get());
  ASSERT_EQ(records.size(),
            MakeDefaultBench("/b", BenchTiming::kInstant).units.size());
  EXPECT_EQ(records[0].serialNumber(), kDefaultReadySerial);
  BSTR name = nullptr;
  ASSERT_EQ(root->GetIdentityName(1, 0, &name), S_OK);
  EXPECT_EQ(TakeText(name), "Werkstatt München");
}

TEST_F(SimProcessTest, ProgramsTheBenchFlashFiles) {
  Ref<ProgrammingServer> root = Create();
  ASSERT_NE(root, nullptr);
  const DeviceRecord unit = Detect(root.get())[3];  // w3-bay4, blank
  Ref<DeviceInterface> device = OpenUnit(root.get(), unit);
  ASSERT_NE(device, nullptr);
  Ref<ProgrammingInterface> store =
      Programmer(device.get(), unit, SimRegion::kStore, 0);
  ASSERT_NE(store, nullptr);
  ASSERT_EQ(AcquireGroup(store.get(), unit.groupKey()), kStatusDone);
  USHORT status = 0xFFFF;
  SAFEARRAY* data = ByteArray({0xDE, 0xAD});
  ASSERT_EQ(store->ProgramRegion(0x20, 2, data, &status), S_OK);
  SafeArrayDestroy(data);
  EXPECT_EQ(status, kStatusDone);
  const std::vector<uint8_t> flash =
      ReadBenchFlash(LoadBench(bench_), "w3-bay4", SimRegion::kStore);
  EXPECT_EQ(flash[0x20], 0xDE);
  EXPECT_EQ(flash[0x21], 0xAD);
}

TEST_F(SimProcessTest, ExitFaultEndsTheProcessHalfWayThroughAProgramStep) {
  AddFault({"ProgramRegion", SimRegion::kCode, 1u, FaultAction::kExit,
            std::nullopt, true});
  Ref<ProgrammingServer> root = Create();
  ASSERT_NE(root, nullptr);
  const DeviceRecord unit = Detect(root.get())[3];
  Ref<DeviceInterface> device = OpenUnit(root.get(), unit);
  Ref<ProgrammingInterface> code =
      Programmer(device.get(), unit, SimRegion::kCode, 0);
  ASSERT_NE(code, nullptr);
  AcquireGroup(code.get(), unit.groupKey());
  USHORT status = 0xFFFF;
  SAFEARRAY* data = ByteArray(std::vector<uint8_t>(0x1000, 0x00));
  EXPECT_LT(code->ProgramRegion(0x10000, 0x1000, data, &status), 0);
  SafeArrayDestroy(data);
  EXPECT_LT(code->ResetDevice(&status), 0) << "the server has gone";
  const std::vector<uint8_t> flash =
      ReadBenchFlash(LoadBench(bench_), "w3-bay4", SimRegion::kCode);
  EXPECT_EQ(std::count(flash.begin(), flash.begin() + 0x1000, 0x00), 0x800);
}

// The client lets go while the unit is erasing: the unit finishes the
// erase before the server ends, with nobody polling.
TEST_F(SimProcessTest, ErasesRunningWhenTheClientLetsGoAreFinished) {
  SimBench bench = LoadBench(bench_);
  bench.units[0].eraseMs = 60000;
  SaveBench(bench);
  {
    Ref<ProgrammingServer> root = Create();
    ASSERT_NE(root, nullptr);
    const DeviceRecord unit = Detect(root.get())[0];  // w3-bay1, with code
    Ref<DeviceInterface> device = OpenUnit(root.get(), unit);
    Ref<ProgrammingInterface> code =
        Programmer(device.get(), unit, SimRegion::kCode, 0);
    ASSERT_NE(code, nullptr);
    AcquireGroup(code.get(), unit.groupKey());
    USHORT status = 0xFFFF;
    ASSERT_EQ(code->StartErase(0x10000, 0x70000, &status), S_OK);
    ASSERT_EQ(status, kStatusBusy);
  }
  const auto erased = [&] {
    const std::vector<uint8_t> flash =
        ReadBenchFlash(bench, "w3-bay1", SimRegion::kCode);
    return std::count(flash.begin(), flash.end(), 0xFF) == 0x70000;
  };
  for (int tenth = 0; tenth < 50 && !erased(); ++tenth) Sleep(100);
  EXPECT_TRUE(erased()) << "the erase was dropped";
}

TEST_F(SimProcessTest, BadBenchMakesTheServerFailToStart) {
  std::ofstream(bench_ + "/bench.json") << "{\"units\": 5}";
  Ref<ProgrammingServer> root = Create();
  EXPECT_LT(created_, 0);
  EXPECT_EQ(root, nullptr);
}

// This process's error output, which the servers COM starts for it share,
// goes to a file while it lives.
class ErrorOutputTo {
 public:
  explicit ErrorOutputTo(const std::string& path) {
    std::fflush(stderr);
    saved_ = dup(2);
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, 2);
    close(file);
  }
  ~ErrorOutputTo() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }

 private:
  int saved_ = -1;
};

// A pipe where one unit's flash file belongs held up the server's start
// until COM gave up on it, so that every job failed; now that unit alone
// is refused, saying why, and jobs on the others go on.
TEST_F(SimProcessTest, APipeInAUnitsPlaceRefusesThatUnitAlone) {
  const std::string code = bench_ + "/w17-bay5-code.bin";
  std::filesystem::remove(code);
  ASSERT_TRUE(MakePipe(code));
  const std::string errors = folder_.path() + "/errors.txt";
  USHORT ready = 0xFFFF;
  USHORT refused = 0xFFFF;
  {
    const ErrorOutputTo capture(errors);
    Ref<ProgrammingServer> root = Create();
    ASSERT_NE(root, nullptr);
    const std::vector<DeviceRecord> records = Detect(root.get());
    const SimBench bench = LoadBench(bench_);
    ASSERT_EQ(records.size(), bench.units.size());
    size_t piped = 0;
    while (piped < bench.units.size() &&
           bench.units[piped].name != "w17-bay5") {
      ++piped;
    }
    ASSERT_LT(piped, records.size());
    for (const auto& [index, status] :
         {std::pair<size_t, USHORT*>{0, &ready}, {piped, &refused}}) {
      Ref<DeviceInterface> device = OpenUnit(root.get(), records[index]);
      ASSERT_NE(device, nullptr);
      Ref<ProgrammingInterface> programmer =
          Programmer(device.get(), records[index], SimRegion::kCode, 0);
      ASSERT_NE(programmer, nullptr);
      *status = AcquireGroup(programmer.get(), records[index].groupKey());
    }
  }
  EXPECT_EQ(ready, kStatusDone);
  EXPECT_EQ(refused, kSimStatusFlashFault);
  std::ifstream in(errors);
  const std::string said((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(said.find("ecuprog-sim: " + code +
                      ": not a plain file (a folder, a pipe, a device or the "
                      "like); a code flash file holds 458752 bytes; unit "
                      "\"w17-bay5\" is refused until it is put right\n"),
            std::string::npos)
      << said;
  EXPECT_EQ(std::filesystem::symlink_status(code).type(),
            std::filesystem::file_type::fifo);
}

TEST_F(SimProcessTest, UnregisteredClassCannotBeCreated) {
  ASSERT_EQ(RunSim("--unregister"), 0);
  Ref<ProgrammingServer> root = Create();
  EXPECT_EQ(created_, REGDB_E_CLASSNOTREG);
}

// --check asks COM, as a job would, and passes only where the simulator
// itself answers: not with the class unregistered, nor registered to a
// program that is no such server, and changes no registration.
TEST_F(SimProcessTest, CheckPassesOnlyWhereTheSimulatorAnswers) {
  struct Case {
    const char* registration;  // nullptr: unregistered
    int exitCode;
  };
  const Case cases[] = {
      {ECUPROG_SIM_EXECUTABLE, 0},
      {nullptr, 1},
      {"/bin/true", 1},
  };
  // The server a check starts reads no bench, so makes none where the
  // variable names a folder that is not there.
  const std::string unmade = folder_.path() + "/no-bench-yet";
  setenv("ECUPROG_SIM_BENCH", unmade.c_str(), 1);
  for (const Case& one : cases) {
    SCOPED_TRACE(one.registration ? one.registration : "unregistered");
    ASSERT_EQ(RunSim("--unregister"), 0);
    if (one.registration) {
      ASSERT_EQ(RegisterLocalServer(CLSID_ProgrammingServer, one.registration),
                S_OK);
    }
    EXPECT_EQ(RunSim("--check"), one.exitCode);
    std::string command;
    EXPECT_EQ(com_posix::LookupLocalServer(CLSID_ProgrammingServer, &command),
              one.registration != nullptr);
    EXPECT_FALSE(std::filesystem::exists(unmade));
  }
  setenv("ECUPROG_SIM_BENCH", bench_.c_str(), 1);
}

TEST_F(SimProcessTest, CommandLineWithoutARoleIsRefused) {
  EXPECT_EQ(RunSim(""), 2);
  EXPECT_EQ(RunSim("--make-bench"), 2);
}

}  // namespace
