#include "tests/sim_fixture.h"

#include <cstdlib>

#include "sim/flash_file.h"
#include "sim/record_writer.h"

void SimFixture::SetUp() {
  setenv("ECUPROG_COM_REGISTRY", (folder_.path() + "/registry").c_str(), 1);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
}

void SimFixture::TearDown() {
  server_.reset();
  CoUninitialize();
}

SimBench SimFixture::Bench() const {
  SimBench bench;
  bench.folder = folder_.path();
  bench.accessLevelNames[0] = "Full access";
  bench.accessLevelNames[1] = "Read only";
  bench.identityNames[{1, 0}] = "Service";
  return bench;
}

SimUnit SimFixture::ReadyUnit(const std::string& name, int32_t serial) {
  SimUnit unit;
  unit.name = name;
  unit.unitAddressA = 0x11;
  unit.unitAddressB = 0x00470001;
  unit.unitAddressC = 0x0203;
  unit.groupKey = 0x00C0FFEE;
  unit.modelName = "W3";
  unit.bootBranch = 1;
  unit.bootVersion = 40;
  unit.unitState = 1001;
  unit.serialNumber = serial;
  unit.unitKeyA = 259;
  unit.unitKeyB = 516;
  unit.unitCodeBranch = 1;
  unit.unitCodeVersion = 462;
  unit.unitCodeRevision = 7;
  unit.unitLabel = "Bay";
  unit.identities = {{1, 0, 0}};
  return unit;
}

SimUnit SimFixture::FlashUnit(const std::string& name, int32_t serial) {
  SimUnit unit = ReadyUnit(name, serial);
  unit.codeFlashFile = name + "-code.bin";
  unit.storeFlashFile = name + "-store.bin";
  return unit;
}

SimServer& SimFixture::Start(SimBench bench) {
  server_ = std::make_unique<SimServer>(std::move(bench));
  EXPECT_EQ(server_->Register(), S_OK);
  return *server_;
}

ComRef<ProgrammingServer> SimFixture::Root() {
  ComRef<ProgrammingServer> root;
  *root.Out() = server_->NewRoot();
  return root;
}

void SimFixture::FillFlash(const std::string& unitName) {
  for (const SimUnit& unit : server_->state().bench().units) {
    if (unit.name != unitName) continue;
    std::string folder = server_->state().bench().folder + "/";
    FlashFile code(folder + unit.codeFlashFile, SimRegion::kCode);
    FlashFile store(folder + unit.storeFlashFile, SimRegion::kStore);
    EXPECT_TRUE(code.Fill(code.base(), code.size(), 0x00));
    EXPECT_TRUE(store.Fill(store.base(), store.size(), 0x00));
  }
}

PhaseOutcome SimFixture::Run(const std::function<void()>& phase,
                             const std::string& input) {
  PhaseOutcome outcome = RunPhase(phase, input);
  if (outcome.stopped) {
    // StopRun uninitialised COM, which also revoked the registration.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (server_) server_->Register();
  }
  return outcome;
}

DeviceRecord RecordOf(SimServer& server, const std::string& unitName) {
  for (const SimUnit& unit : server.state().bench().units) {
    if (unit.name == unitName) {
      return MakeDeviceRecord(unit, server.state().Condition(unitName));
    }
  }
  ADD_FAILURE() << "no unit " << unitName;
  return DeviceRecord{};
}
