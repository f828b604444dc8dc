#include <time.h>

#include "platform/system_clock.h"

uint32_t SystemClockSeconds32() {
  // The 64-bit clock, clamped here, so that the cut-off does not depend on
  // how the C runtime was configured for time_t.
  return ClampToClock32(static_cast<int64_t>(_time64(nullptr)));
}
