// Runs a built program as the operator would: under a pseudo-terminal that
// answers prompts, or with no terminal at all, with a time limit.
#ifndef ECUPROG_TESTS_E2E_PROCESS_RUNNER_H
#define ECUPROG_TESTS_E2E_PROCESS_RUNNER_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

/// Once `waitFor` has appeared in the output (after the previous step's
/// text), `send` is typed at the terminal.
struct TerminalStep {
  TerminalStep(std::string waitFor, std::string send,
               double pauseSeconds = 0.05)
      : waitFor(std::move(waitFor)),
        send(std::move(send)),
        pauseSeconds(pauseSeconds) {}

  std::string waitFor;
  std::string send;
  double pauseSeconds = 0.05;  // between seeing `waitFor` and typing
  /// Done with the program's process id before `send` is typed.
  std::function<void(int pid)> action;
};

struct ProcessSetup {
  std::vector<std::string> argv;
  std::vector<std::pair<std::string, std::string>> environment;
  /// true: a pseudo-terminal is the program's controlling terminal and its
  /// standard output. false: no terminal at all (a new session), output
  /// through a pipe.
  bool terminal = true;
  /// Standard input through a pipe holding this text (closed after it);
  /// without it standard input is the terminal, or empty without one.
  bool pipeInput = false;
  std::string input;
  std::vector<TerminalStep> steps;
  /// After the last step: close the terminal (the operator's window goes).
  bool hangUpAfterSteps = false;
  double timeoutSeconds = 60;
  /// The program's address space limit in bytes (RLIMIT_AS); 0: none.
  size_t addressSpaceLimit = 0;
};

struct ProcessResult {
  bool timedOut = false;
  int exitCode = -1;  // -1 when killed by a signal
  int signal = 0;
  std::string output;    // terminal or pipe output, echo included
  double seconds = 0;    // from start to exit
  size_t stepsDone = 0;  // steps typed before the program ended
  /// The pseudo-terminal's settings as the program found them and as it
  /// left them (TerminalModes); empty without a terminal.
  std::string terminalBefore;
  std::string terminalAfter;
};

/// The processes whose parent is `pid` (the servers it started).
std::vector<int> ChildrenOf(int pid);

/// A terminal's settings as text, for comparing: its flags and control
/// characters.
std::string TerminalModes(int fd);

/// Kills every process whose parent is `pid` (the servers it started).
void KillChildren(int pid);

/// Waits up to `seconds` for the process `pid` to have ended (gone, or a
/// zombie); true when it has.
bool WaitUntilGone(int pid, double seconds);

/// The output with the terminal's carriage returns taken out.
std::string WithoutCarriageReturns(const std::string& text);

ProcessResult RunProcess(const ProcessSetup& setup);

#endif  // ECUPROG_TESTS_E2E_PROCESS_RUNNER_H
