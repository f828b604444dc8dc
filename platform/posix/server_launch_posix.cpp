// Local server processes: each activation starts its own, connected to its
// client by an anonymous socket pair, so no other process can reach it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/posix/server_launch.h"

extern char** environ;

namespace com_posix {

namespace {

// The started servers not yet collected. Never destroyed: it may be needed
// until the process ends.
std::vector<pid_t>& Unreaped() {
  static auto* pids = new std::vector<pid_t>;
  return *pids;
}

// Moves a descriptor above the standard ones and the channel's fixed number,
// so that placing the channel as descriptor 3 in the child never collides.
int MoveHigh(int fd) {
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return moved;
}

// The parent's environment with our channel variable set for the child.
std::vector<std::string> ChildEnvironment() {
  const std::string prefix = std::string(kChannelVariable) + "=";
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0) {
      entries.emplace_back(*entry);
    }
  }
  entries.push_back(prefix + std::to_string(kChannelDescriptor));
  return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Memory the system could not give this process (the new process's stack,
// the channel's buffers) is met as a failed allocation is: the program's
// new-handler may free some, then the step is tried again, or it ends the
// run as for any shortage. Without a handler the step just fails. True
// when the step should be tried again.
bool MeetShortage(int error) {
  if (error != ENOMEM && error != ENOBUFS) return false;
  const std::new_handler handler = std::get_new_handler();
  if (handler == nullptr) return false;
  handler();
  return true;
}

int Spawn(std::vector<std::string> words, int serverEnd, pid_t* pid) {
  words.emplace_back("-Embedding");
  std::vector<std::string> environment = ChildEnvironment();
  std::vector<char*> argv = Pointers(words);
  std::vector<char*> envp = Pointers(environment);

  posix_spawn_file_actions_t actions;
  int error = posix_spawn_file_actions_init(&actions);
  if (error != 0) return error;
  posix_spawnattr_t attributes;
  error = posix_spawnattr_init(&attributes);
  if (error != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return error;
  }
  // The server answers its client only through the channel; the console
  // stays the client's.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, serverEnd, kChannelDescriptor);
  // The client may ignore SIGPIPE; the server starts with the defaults and
  // no blocked signals.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  // A process group of its own: a server that never answers is ended with
  // everything it started, and the operator's keys at the terminal reach
  // the tool, not the server.
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF |
                                            POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETPGROUP);

  error = posix_spawn(pid, argv[0], &actions, &attributes, argv.data(),
                      envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

void SleepMilliseconds(int milliseconds) {
  timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

}  // namespace

bool LaunchLocalServer(const std::vector<std::string>& words, int* clientEnd,
                       pid_t* pid) {
  if (words.empty()) return false;
  int ends[2];
  while (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    if (!MeetShortage(errno)) return false;
  }
  const int client = MoveHigh(ends[0]);
  const int server = MoveHigh(ends[1]);
  if (client < 0 || server < 0) {
    if (client >= 0) close(client);
    if (server >= 0) close(server);
    return false;
  }
  int error = Spawn(words, server, pid);
  while (MeetShortage(error)) error = Spawn(words, server, pid);
  close(server);
  if (error != 0) {
    close(client);
    return false;
  }
  *clientEnd = client;
  return true;
}

void ReapWhenEnded(pid_t pid) { Unreaped().push_back(pid); }

void ReapEndedServers(int waitMilliseconds) {
  std::vector<pid_t>& pids = Unreaped();
  constexpr int kStepMilliseconds = 10;
  for (int waited = 0;; waited += kStepMilliseconds) {
    pids.erase(
        std::remove_if(pids.begin(), pids.end(),
                       [](pid_t pid) {
                         int status = 0;
                         const pid_t got = waitpid(pid, &status, WNOHANG);
                         // Gone, or not ours to wait for any more.
                         return got == pid || (got < 0 && errno == ECHILD);
                       }),
        pids.end());
    if (pids.empty() || waited >= waitMilliseconds) return;
    SleepMilliseconds(kStepMilliseconds);
  }
}

void KillServer(pid_t pid) {
  // The server leads its own process group; the group goes with it.
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace com_posix
