#include "sim/code_flash_check.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/flash_file.h"
#include "sim/sample_blocks.h"

namespace {

// Code flash from 0x10000 holding `block` and erased after it.
std::vector<uint8_t> FlashHolding(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> flash(kCodeFlashSize, kErasedByte);
  std::copy(block.begin(), block.end(), flash.begin());
  return flash;
}

TEST(BootableCode, IntactBlockForTheModelGivesItsRelease) {
  SampleCodeBlock sample;
  sample.codeVersion = 462;
  sample.codeRevision = 7;
  const std::optional<CodeRelease> release =
      BootableCode(FlashHolding(MakeSampleCodeBlock(sample)), "W3");
  ASSERT_TRUE(release.has_value());
  EXPECT_EQ(release->branch, 1);
  EXPECT_EQ(release->version, 462);
  EXPECT_EQ(release->revision, 7);
}

TEST(BootableCode, BlockFillingTheWholeFlashBoots) {
  SampleCodeBlock sample;
  sample.length = kCodeFlashSize;
  EXPECT_TRUE(BootableCode(FlashHolding(MakeSampleCodeBlock(sample)), "W3"));
}

struct Damage {
  const char* name;
  size_t offset;  // from the start of the code flash
  uint8_t value;
};

class BootableCodeRefuses : public testing::TestWithParam<Damage> {};

TEST_P(BootableCodeRefuses, DamagedOrForeignCode) {
  std::vector<uint8_t> flash = FlashHolding(MakeSampleCodeBlock({}));
  flash[GetParam().offset] = GetParam().value;
  EXPECT_FALSE(BootableCode(flash, "W3").has_value());
}

// Each damage breaks the checksum or a header test; the header offsets are
// 256 + the field's place in the header.
INSTANTIATE_TEST_SUITE_P(
    Damages, BootableCodeRefuses,
    testing::Values(Damage{"body", 0x8000, 0x00},
                    Damage{"checksum", 0xFFFF, 0x00},
                    Damage{"magic", 256, 0x00}, Damage{"blockType", 256 + 3, 3},
                    Damage{"endBeyondFlash", 256 + 8, 0x01},
                    Damage{"headerVersionX", 256 + 0x32, 2}),
    [](const testing::TestParamInfo<Damage>& info) {
      return std::string(info.param.name);
    });

TEST(BootableCode, ErasedFlashOrAnotherModelDoesNotBoot) {
  EXPECT_FALSE(BootableCode(std::vector<uint8_t>(kCodeFlashSize, 0xFF), "W3"));
  const std::vector<uint8_t> w3 = FlashHolding(MakeSampleCodeBlock({}));
  EXPECT_FALSE(BootableCode(w3, "W17"));
  EXPECT_FALSE(BootableCode(w3, "w3"));
  EXPECT_FALSE(BootableCode({}, "W3"));
}

}  // namespace
