#include "blocks/restamp.h"

#include <gtest/gtest.h>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "platform/system_clock.h"
#include "tests/blocks/block_builder.h"
#include "tests/run_harness.h"

namespace {

constexpr size_t kProgramTime = kCodeHeaderOffset + kProgramTimeOffset;

// The offsets at which two blocks of the same length differ.
std::vector<size_t> Differences(const Block& a, const Block& b) {
  std::vector<size_t> at;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) at.push_back(i);
  }
  return at;
}

bool OnlyTimeAndChecksum(const std::vector<size_t>& differences,
                         size_t length) {
  for (size_t i : differences) {
    bool time = i >= kProgramTime && i < kProgramTime + 4;
    if (!time && i < length - 4) return false;
  }
  return true;
}

TEST(RestampCodeImage, StampsTheClockAndAFreshChecksum) {
  BuildCrcTable();
  const Block original = ValidCodeImage(8192, 3);
  Block image = original;
  uint32_t before = SystemClockSeconds32();
  PhaseOutcome outcome =
      RunPhase([&] { RestampCodeImage(image.data(), 8192); });
  uint32_t after = SystemClockSeconds32();
  ASSERT_FALSE(outcome.stopped) << outcome.message;

  uint32_t stamped = BlockHeader(&image[kCodeHeaderOffset]).programTime();
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);
  EXPECT_TRUE(OnlyTimeAndChecksum(Differences(original, image), 8192));
  EXPECT_EQ(BlockCrc(image.data(), 8192 / 4), 0u);
  EXPECT_EQ(GetU32(image, 8192 - 4), ReferenceCrc(image.data(), 8192 - 4));
}

TEST(RestampCodeImage, StampsDifferOnlyInTimeAndChecksum) {
  BuildCrcTable();
  Block first = ValidCodeImage(4096, 5);
  Block second = first;
  RestampCodeImageAt(first.data(), 4096, 1700000000);
  RestampCodeImageAt(second.data(), 4096, 1700000001);
  std::vector<size_t> differences = Differences(first, second);
  EXPECT_TRUE(OnlyTimeAndChecksum(differences, 4096));
  EXPECT_EQ(differences.front(), kProgramTime + 3);
  EXPECT_EQ(differences.back(), 4095u);

  RestampCodeImageAt(first.data(), 4096, 0xFFFFFFFF);
  EXPECT_EQ(BlockHeader(&first[kCodeHeaderOffset]).programTime(), 0xFFFFFFFF);
  EXPECT_EQ(BlockCrc(first.data(), 4096 / 4), 0u);
}

TEST(RestampCodeImage, RefusesAnImageOfPartWords) {
  BuildCrcTable();
  for (uint32_t length : {4097u, 4098u, 4099u}) {
    SCOPED_TRACE(length);
    Block image = ValidCodeImage(length);
    PhaseOutcome outcome =
        RunPhase([&] { RestampCodeImageAt(image.data(), length, 1); });
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.message, "CRC REGENERATION FAILED");
  }
}

TEST(SystemClock, ClampsTo32BitsBefore2038) {
  const struct {
    int64_t seconds;
    uint32_t clock;
  } cases[] = {
      {0, 0},
      {1652268145, 1652268145},
      {2147471999, 2147471999},  // 2038-01-18 23:59:59 UTC
      {2147472000, 0xFFFFFFFF},  // 2038-01-19 00:00:00 UTC
      {2147483647, 0xFFFFFFFF},
      {int64_t{1} << 40, 0xFFFFFFFF},
      {-1, 0xFFFFFFFF},  // no time could be read
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClampToClock32(c.seconds), c.clock) << c.seconds;
  }
}

}  // namespace
