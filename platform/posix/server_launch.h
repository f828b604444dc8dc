// Starting a local server process and collecting it when it ends.
#ifndef ECUPROG_PLATFORM_POSIX_SERVER_LAUNCH_H
#define ECUPROG_PLATFORM_POSIX_SERVER_LAUNCH_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace com_posix {

/// The environment variable that tells a started server which descriptor is
/// its end of the channel to its client.
constexpr const char* kChannelVariable = "ECUPROG_COM_CHANNEL";
/// The descriptor a started server finds its channel on.
constexpr int kChannelDescriptor = 3;

/// Starts `words` (program by its path, then arguments) with "-Embedding"
/// appended, in a process group of its own, its standard input and output
/// on /dev/null and the server end of a fresh private socket pair as
/// descriptor 3. On success returns true with the
/// client end (close-on-exec) and the process id; false when the program
/// cannot be started. A shortage of memory on the way goes to the
/// program's new-handler, as a failed allocation would.
bool LaunchLocalServer(const std::vector<std::string>& words, int* clientEnd,
                       pid_t* pid);

/// Hands a started server's process to be collected once it has ended.
void ReapWhenEnded(pid_t pid);

/// Collects the handed processes that have ended, waiting up to
/// `waitMilliseconds` for the others; those still running stay handed.
void ReapEndedServers(int waitMilliseconds);

/// Ends a server that failed to answer, with its process group, and
/// collects it.
void KillServer(pid_t pid);

}  // namespace com_posix

#endif  // ECUPROG_PLATFORM_POSIX_SERVER_LAUNCH_H
