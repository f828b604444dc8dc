#include "bench/tool_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;  // the tool stopped reading: it has its answer
    done += static_cast<size_t>(wrote);
  }
}

}  // namespace

double ProcessCpuSeconds(int pid) {
  // schedstat gives the time on the CPU in nanoseconds, user and system
  // together; stat only in clock ticks, too coarse for a run of a few
  // milliseconds, so it is the fallback.
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream schedstat(proc + "/schedstat");
  unsigned long long nanoseconds = 0;
  if (schedstat >> nanoseconds) return static_cast<double>(nanoseconds) / 1e9;
  std::ifstream stat(proc + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  // Fields after the command name, which may hold blanks: state is the
  // first, utime the twelfth, stime the thirteenth.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long ticks = 0;
  for (int i = 1; i <= 13 && fields >> field; ++i) {
    if (i >= 12) ticks += std::stoull(field);
  }
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

ToolRun RunTool(const std::string& tool, const std::string& input,
                const OutputWatcher& watcher) {
  // The answer may meet a tool that has already stopped reading.
  signal(SIGPIPE, SIG_IGN);
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  // A session of its own has no terminal, so the final key is not waited
  // for: the run ends as soon as its last line is written.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  char* argv[] = {const_cast<char*>(tool.c_str()), nullptr};

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, tool.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  if (spawned != 0) {
    close(in[1]);
    close(out[0]);
    throw std::runtime_error("cannot start " + tool);
  }
  WriteAll(in[1], input);
  close(in[1]);

  ToolRun run;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    run.output.append(buffer, static_cast<size_t>(got));
    if (watcher) watcher(pid, run.output);
  }
  close(out[0]);

  // Left unreaped, the ended process still shows the CPU time it spent,
  // its exit included; the server it reaped is not part of it.
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
         errno == EINTR) {
  }
  run.cpuSeconds = ProcessCpuSeconds(pid);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.wallSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}
