// Runs phases in process: the console is held in memory and StopRun ends
// in an exception instead of the process exit, so a test sees the message,
// the exit code and everything written before it.
#ifndef ECUPROG_TESTS_RUN_HARNESS_H
#define ECUPROG_TESTS_RUN_HARNESS_H

#include <functional>
#include <string>

#include "report/memory_console.h"

struct RunStopped {
  int exitCode;
  std::string message;
};

struct PhaseOutcome {
  bool stopped = false;  // false: the phase returned
  int exitCode = -1;
  std::string message;   // StopRun's message
  std::string output;    // everything written, StopRun's lines included
};

/// Runs `phase` on `console`, which the caller has set up.
PhaseOutcome RunPhaseOn(MemoryConsole* console,
                        const std::function<void()>& phase);

/// Runs `phase` with `input` as standard input and `keys` as the key
/// presses at the final wait.
PhaseOutcome RunPhase(const std::function<void()>& phase,
                      const std::string& input = "",
                      const std::string& keys = " ");

#endif  // ECUPROG_TESTS_RUN_HARNESS_H
