// Phases against the simulated server in this process: a bench of the
// test's own in a fresh folder, COM initialised, the server registered so
// that CoCreateInstance finds it, and the process's registry moved into the
// folder so that nothing outside the test can answer.
#ifndef ECUPROG_TESTS_SIM_FIXTURE_H
#define ECUPROG_TESTS_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server/com_ref.h"
#include "sim/bench.h"
#include "sim/sim_server.h"
#include "sim/temp_folder.h"
#include "tests/run_harness.h"

class SimFixture : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  /// An empty bench in the test's folder.
  SimBench Bench() const;
  /// A ready W3 unit without simulated flash: state 1001, boot 1.40, code
  /// 1.462.7, one identity (1, 0, 0).
  static SimUnit ReadyUnit(const std::string& name, int32_t serial);
  /// A ready W3 unit whose flash is simulated, instant erase and program.
  static SimUnit FlashUnit(const std::string& name, int32_t serial);

  /// Starts and registers the server on `bench`.
  SimServer& Start(SimBench bench);
  /// A reference to a new root object of the running server.
  ComRef<ProgrammingServer> Root();
  SimState& state() { return server_->state(); }
  /// Fills both flash regions of a running unit with data (0x00), so that
  /// they must be erased before they can be programmed.
  void FillFlash(const std::string& unitName);

  /// RunPhase, then COM initialised and the server registered again when
  /// the phase stopped the run (StopRun uninitialises COM), ready for the
  /// next phase.
  PhaseOutcome Run(const std::function<void()>& phase,
                   const std::string& input = "");

  TempFolder folder_;
  std::unique_ptr<SimServer> server_;
};

/// The record the server shows for `unit` now.
DeviceRecord RecordOf(SimServer& server, const std::string& unit);

#endif  // ECUPROG_TESTS_SIM_FIXTURE_H
