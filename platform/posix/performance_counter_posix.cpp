// The high-resolution timer on POSIX hosts: the monotonic clock, counted in
// nanoseconds.
#include <time.h>

#include "platform/posix/windows_subset.h"

namespace {

constexpr LONGLONG kNanosecondsPerSecond = 1000000000;

}  // namespace

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) return FALSE;
  frequency->QuadPart = kNanosecondsPerSecond;
  return TRUE;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (count == nullptr) return FALSE;
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return FALSE;
  count->QuadPart =
      static_cast<LONGLONG>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
  return TRUE;
}
