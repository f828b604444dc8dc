#include <gtest/gtest.h>
#include <time.h>

#include "platform/windows_api.h"

namespace {

TEST(PerformanceCounterTest, CountsForwardAtTheStatedFrequency) {
  LARGE_INTEGER frequency{};
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  ASSERT_GT(frequency.QuadPart, 0);

  LARGE_INTEGER before{}, after{};
  ASSERT_TRUE(QueryPerformanceCounter(&before));
  timespec pause{0, 20 * 1000 * 1000};
  nanosleep(&pause, nullptr);
  ASSERT_TRUE(QueryPerformanceCounter(&after));
  const double seconds = static_cast<double>(after.QuadPart - before.QuadPart) /
                         static_cast<double>(frequency.QuadPart);
  EXPECT_GE(seconds, 0.019);
  EXPECT_LT(seconds, 5.0);

  EXPECT_FALSE(QueryPerformanceFrequency(nullptr));
  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

}  // namespace
