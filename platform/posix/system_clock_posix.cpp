#include <ctime>

#include "platform/system_clock.h"

uint32_t SystemClockSeconds32() {
  return ClampToClock32(static_cast<int64_t>(std::time(nullptr)));
}
