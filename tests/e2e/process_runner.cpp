#include "tests/e2e/process_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void ExecChild(const ProcessSetup& setup, int inputFd) {
  // A program ended by a signal that dumps core leaves no core file behind.
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  if (setup.addressSpaceLimit != 0) {
    const rlimit space{setup.addressSpaceLimit, setup.addressSpaceLimit};
    setrlimit(RLIMIT_AS, &space);
  }
  if (inputFd >= 0) {
    dup2(inputFd, STDIN_FILENO);
    close(inputFd);
  }
  for (const auto& [name, value] : setup.environment) {
    setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<char*> argv;
  for (const std::string& arg : setup.argv) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// The state letter and parent of process `pid` from /proc; false when it
// is gone.
bool ProcessStat(int pid, char* state, int* parent) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* stat = std::fopen(path.c_str(), "r");
  if (!stat) return false;
  bool read = false;
  // pid (comm) state ppid: the name may hold blanks, so skip to its end.
  char line[512] = {};
  if (std::fgets(line, sizeof(line), stat)) {
    const char* close = std::strrchr(line, ')');
    read = close && std::sscanf(close + 1, " %c %d", state, parent) == 2;
  }
  std::fclose(stat);
  return read;
}

}  // namespace

std::vector<int> ChildrenOf(int pid) {
  std::vector<int> children;
  DIR* proc = opendir("/proc");
  if (!proc) return children;
  while (dirent* entry = readdir(proc)) {
    int candidate = std::atoi(entry->d_name);
    char state = 0;
    int parent = 0;
    if (candidate > 0 && ProcessStat(candidate, &state, &parent) &&
        parent == pid) {
      children.push_back(candidate);
    }
  }
  closedir(proc);
  return children;
}

void KillChildren(int pid) {
  for (int child : ChildrenOf(pid)) kill(child, SIGKILL);
}

bool WaitUntilGone(int pid, double seconds) {
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::milliseconds(static_cast<long>(seconds * 1000));
  for (;;) {
    char state = 0;
    int parent = 0;
    if (!ProcessStat(pid, &state, &parent) || state == 'Z') return true;
    if (Clock::now() >= deadline) return false;
    usleep(10000);
  }
}

std::string TerminalModes(int fd) {
  termios modes{};
  if (tcgetattr(fd, &modes) != 0) return "unreadable";
  char text[128];
  std::snprintf(text, sizeof text,
                "iflag=%o oflag=%o cflag=%o lflag=%o cc=", modes.c_iflag,
                modes.c_oflag, modes.c_cflag, modes.c_lflag);
  std::string out = text;
  for (cc_t c : modes.c_cc) out += std::to_string(c) + ",";
  return out;
}

std::string WithoutCarriageReturns(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out.push_back(c);
  }
  return out;
}

ProcessResult RunProcess(const ProcessSetup& setup) {
  ProcessResult result;
  int inputPipe[2] = {-1, -1};
  if (setup.pipeInput && pipe(inputPipe) != 0) return result;

  int outputFd = -1;
  pid_t child;
  if (setup.terminal) {
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 200;
    child = forkpty(&outputFd, nullptr, nullptr, &size);
    if (child == 0) {
      if (inputPipe[1] >= 0) close(inputPipe[1]);
      ExecChild(setup, inputPipe[0]);
    }
    if (child > 0) result.terminalBefore = TerminalModes(outputFd);
  } else {
    int outputPipe[2];
    if (pipe(outputPipe) != 0) return result;
    child = fork();
    if (child == 0) {
      setsid();  // no controlling terminal
      close(outputPipe[0]);
      dup2(outputPipe[1], STDOUT_FILENO);
      dup2(outputPipe[1], STDERR_FILENO);
      close(outputPipe[1]);
      if (inputPipe[1] >= 0) close(inputPipe[1]);
      int input = inputPipe[0];
      if (input < 0) input = open("/dev/null", O_RDONLY);
      ExecChild(setup, input);
    }
    close(outputPipe[1]);
    outputFd = outputPipe[0];
  }
  if (inputPipe[0] >= 0) {
    close(inputPipe[0]);
    WriteAll(inputPipe[1], setup.input);
    close(inputPipe[1]);
  }

  Clock::time_point start = Clock::now();
  Clock::time_point deadline =
      start +
      std::chrono::milliseconds(static_cast<long>(setup.timeoutSeconds * 1000));
  size_t step = 0;
  size_t searchFrom = 0;
  bool hungUp = false;
  int status = 0;
  bool exited = false;
  while (!exited) {
    if (Clock::now() >= deadline) {
      result.timedOut = true;
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    pollfd fd{outputFd, POLLIN, 0};
    if (outputFd >= 0 && poll(&fd, 1, 20) > 0) {
      char buffer[4096];
      ssize_t n = read(outputFd, buffer, sizeof(buffer));
      if (n > 0) {
        result.output.append(buffer, static_cast<size_t>(n));
      } else {
        // End of output (or the terminal hung up): the settings the program
        // left are read while the terminal is still open.
        if (setup.terminal) result.terminalAfter = TerminalModes(outputFd);
        close(outputFd);
        outputFd = -1;
      }
    } else if (outputFd < 0) {
      usleep(5000);
    }
    while (step < setup.steps.size() && !hungUp) {
      size_t at = result.output.find(setup.steps[step].waitFor, searchFrom);
      if (at == std::string::npos) break;
      searchFrom = at + setup.steps[step].waitFor.size();
      usleep(static_cast<useconds_t>(setup.steps[step].pauseSeconds * 1e6));
      if (waitpid(child, &status, WNOHANG) == child) {
        exited = true;
        break;
      }
      if (setup.steps[step].action) setup.steps[step].action(child);
      if (outputFd >= 0) WriteAll(outputFd, setup.steps[step].send);
      ++step;
    }
    if (setup.hangUpAfterSteps && step == setup.steps.size() && !hungUp &&
        outputFd >= 0) {
      usleep(100000);
      close(outputFd);
      outputFd = -1;
      hungUp = true;
    }
    if (!exited && waitpid(child, &status, WNOHANG) == child) exited = true;
  }
  if (setup.terminal && outputFd >= 0 && !hungUp) {
    result.terminalAfter = TerminalModes(outputFd);
  }
  result.stepsDone = step;
  // Drain what is left.
  while (outputFd >= 0) {
    pollfd fd{outputFd, POLLIN, 0};
    if (poll(&fd, 1, 50) <= 0) break;
    char buffer[4096];
    ssize_t n = read(outputFd, buffer, sizeof(buffer));
    if (n <= 0) break;
    result.output.append(buffer, static_cast<size_t>(n));
  }
  if (outputFd >= 0) close(outputFd);
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}
