#include "programming/boot_check.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/run_harness.h"

namespace {

DeviceRecord UnitWithBoot(uint16_t branch, uint16_t version) {
  DeviceRecord unit;
  std::memset(unit.bytes, 0, sizeof(unit.bytes));
  unit.bytes[device_record::kBootBranch] = branch & 0xFF;
  unit.bytes[device_record::kBootBranch + 1] = branch >> 8;
  unit.bytes[device_record::kBootVersion] = version & 0xFF;
  unit.bytes[device_record::kBootVersion + 1] = version >> 8;
  return unit;
}

// A code header asking for boot 1.38, stored big-endian as in the image.
struct CodeHeaderBytes {
  uint8_t bytes[kCodeHeaderLength] = {};
  CodeHeaderBytes(uint8_t b0, uint8_t b1, uint8_t v0, uint8_t v1) {
    bytes[0x50] = b0;
    bytes[0x51] = b1;
    bytes[0x52] = v0;
    bytes[0x53] = v1;
  }
};

TEST(CheckBootCodeTest, ComparesBranchThenVersionUnsigned) {
  CodeHeaderBytes header(0x00, 0x01, 0x00, 38);
  struct Case {
    uint16_t branch, version;
    const char* stop;  // nullptr: passes
  };
  const Case cases[] = {
      {1, 37, "BOOT CODE VERSION TOO LOW FOR THIS CODE"},
      {1, 38, nullptr},
      {1, 65535, nullptr},
      {0, 65535, "BOOT CODE BRANCH TOO LOW FOR THIS CODE"},
      {0, 0, "BOOT CODE BRANCH TOO LOW FOR THIS CODE"},
      {2, 0, nullptr},
      {32768, 0, nullptr},
      {65535, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.branch << "." << c.version);
    PhaseOutcome outcome = RunPhase([&] {
      CheckBootCode(UnitWithBoot(c.branch, c.version),
                    BlockHeader(header.bytes));
    });
    EXPECT_EQ(outcome.stopped, c.stop != nullptr);
    if (c.stop) {
      EXPECT_EQ(outcome.message, c.stop);
      EXPECT_EQ(outcome.exitCode, 1);
    }
  }
}

TEST(CheckBootCodeTest, ReadsTheRequirementBigEndian) {
  // Bytes 00 01 require branch 1, not 256: a branch 2 unit passes.
  CodeHeaderBytes header(0x00, 0x01, 0x00, 0x00);
  EXPECT_FALSE(RunPhase([&] {
                 CheckBootCode(UnitWithBoot(2, 0), BlockHeader(header.bytes));
               }).stopped);
  // Bytes 01 00 require branch 256.
  CodeHeaderBytes high(0x01, 0x00, 0x00, 0x00);
  EXPECT_EQ(RunPhase([&] {
              CheckBootCode(UnitWithBoot(255, 0), BlockHeader(high.bytes));
            }).message,
            "BOOT CODE BRANCH TOO LOW FOR THIS CODE");
}

}  // namespace
