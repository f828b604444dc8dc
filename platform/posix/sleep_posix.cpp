#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/posix/windows_subset.h"

void Sleep(DWORD milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

MMRESULT timeBeginPeriod(UINT) { return TIMERR_NOERROR; }

MMRESULT timeEndPeriod(UINT) { return TIMERR_NOERROR; }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }
