// The system clock as the code image records it: seconds since
// 1970-01-01 00:00:00 UTC as a 32-bit count.
#ifndef ECUPROG_PLATFORM_SYSTEM_CLOCK_H
#define ECUPROG_PLATFORM_SYSTEM_CLOCK_H

#include <cstdint>

/// The first second the 32-bit clock no longer counts: 2038-01-19 00:00:00
/// UTC. Like the 32-bit C runtime clock on Windows, it gives 0xFFFFFFFF
/// from then on, a little before the signed 32-bit count would overflow.
constexpr int64_t kClock32End = 2147472000;

/// `seconds` since 1970 as the 32-bit clock gives them: 0xFFFFFFFF at or
/// after kClock32End, and for a time the host clock could not read
/// (negative, as a failed read reports -1).
inline uint32_t ClampToClock32(int64_t seconds) {
  if (seconds < 0 || seconds >= kClock32End) return 0xFFFFFFFF;
  return static_cast<uint32_t>(seconds);
}

/// The current time in seconds since 1970, through ClampToClock32.
uint32_t SystemClockSeconds32();

#endif  // ECUPROG_PLATFORM_SYSTEM_CLOCK_H
