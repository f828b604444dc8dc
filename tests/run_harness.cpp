#include "tests/run_harness.h"

#include "report/console.h"
#include "report/stop_run.h"

namespace {

[[noreturn]] void ThrowStop(int exitCode, const char* message) {
  throw RunStopped{exitCode, message};
}

}  // namespace

PhaseOutcome RunPhase(const std::function<void()>& phase,
                      const std::string& input, const std::string& keys) {
  MemoryConsole console(input, keys);
  return RunPhaseOn(&console, phase);
}

PhaseOutcome RunPhaseOn(MemoryConsole* console,
                        const std::function<void()>& phase) {
  SetConsole(console);
  SetRunExit(ThrowStop);
  PhaseOutcome outcome;
  try {
    phase();
  } catch (const RunStopped& stop) {
    outcome.stopped = true;
    outcome.exitCode = stop.exitCode;
    outcome.message = stop.message;
  }
  SetRunExit(nullptr);
  SetConsole(nullptr);
  outcome.output = console->output();
  return outcome;
}
