#include "sim/store_flash_check.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "blocks/block_crc.h"
#include "blocks/block_header.h"
#include "sim/flash_file.h"
#include "sim/sample_blocks.h"

namespace {

// The release the sample code block carries by default.
constexpr CodeRelease kCode{1, 463, 1};

// Store flash holding `block` from address 0 and erased after it.
std::vector<uint8_t> StoreHolding(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> flash(kStoreFlashSize, kErasedByte);
  std::copy(block.begin(), block.end(), flash.begin());
  return flash;
}

// Seals `block` anew after a change, over the length its header now gives
// where that fits, so that only the change is wrong.
void Reseal(std::vector<uint8_t>& block) {
  EnsureCrcTable();
  const uint64_t end = BlockHeader(block.data()).endAddress();
  const uint32_t length = static_cast<uint32_t>(
      end < block.size() && end >= 64 ? end + 1 : block.size());
  uint8_t* last = block.data() + length / 4 * 4 - 4;
  std::fill(last, last + 4, 0);
  StoreBigEndian32(last, BlockCrc(block.data(), length / 4));
}

struct StoreCase {
  const char* name;
  SampleProfileBlock profile;
  /// Byte changed after the block was made; offset 0 with value 0xC0
  /// leaves the magic as it is.
  size_t offset = 0;
  uint8_t value = 0xC0;
  /// Whether the checksum is made anew after the change.
  bool reseal = false;
  bool holds = false;
};

SampleProfileBlock Profile(uint16_t minRevision, uint16_t maxRevision,
                           uint32_t length = 0x4000) {
  SampleProfileBlock profile;
  profile.minCodeRevision = minRevision;
  profile.maxCodeRevision = maxRevision;
  profile.length = length;
  return profile;
}

SampleProfileBlock ForRelease(uint16_t branch, uint16_t version,
                              const char* target = "W3") {
  SampleProfileBlock profile;
  profile.codeBranch = branch;
  profile.codeVersion = version;
  profile.targetName = target;
  return profile;
}

void PrintTo(const StoreCase& c, std::ostream* out) { *out << c.name; }

class HoldsProfile : public testing::TestWithParam<StoreCase> {};

TEST_P(HoldsProfile, OnlyAnIntactProfileForTheCodeCounts) {
  const StoreCase& c = GetParam();
  std::vector<uint8_t> block = MakeSampleProfileBlock(c.profile);
  block[c.offset] = c.value;
  if (c.reseal) Reseal(block);
  EXPECT_EQ(HoldsProfileFor(StoreHolding(block), "W3", kCode), c.holds);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, HoldsProfile,
    testing::Values(
        StoreCase{"intact", Profile(1, 1), 0, 0xC0, false, true},
        StoreCase{"smallest", Profile(1, 1, 1024), 0, 0xC0, false, true},
        StoreCase{"largest", Profile(1, 1, 0x3FFFC), 0, 0xC0, false, true},
        StoreCase{"revisionRange", Profile(0, 5), 0, 0xC0, false, true},
        StoreCase{"revisionAbove", Profile(2, 3)},
        StoreCase{"revisionBelow", Profile(0, 0)},
        StoreCase{"emptyRange", Profile(2, 0)},
        StoreCase{"otherVersion", ForRelease(1, 462)},
        StoreCase{"otherBranch", ForRelease(2, 463)},
        StoreCase{"otherModel", ForRelease(1, 463, "W17")},
        // A write cut short leaves the block's tail erased.
        StoreCase{"tornTail", Profile(1, 1), 0x3FF0, 0xFF},
        StoreCase{"body", Profile(1, 1), 0x2000, 0x00},
        // Header faults under an intact checksum.
        StoreCase{"magic", Profile(1, 1), 0, 0x00, true},
        StoreCase{"blockType", Profile(1, 1), 3, 1, true},
        StoreCase{"startAddress", Profile(1, 1), 7, 1, true},
        StoreCase{"endBeyondFlash", Profile(1, 1), 9, 0x04, true},
        StoreCase{"endWrapsAround", Profile(1, 1), 8, 0xFF, true},
        StoreCase{"tooShort", Profile(1, 1), 10, 0x02, true},
        StoreCase{"headerVersionX", Profile(1, 1), 0x32, 2, true},
        StoreCase{"headerVersionY", Profile(1, 1), 0x33, 1, true}),
    [](const testing::TestParamInfo<StoreCase>& info) {
      return std::string(info.param.name);
    });

TEST(HoldsProfile, ErasedOrShortStoreHoldsNone) {
  EXPECT_FALSE(HoldsProfileFor(std::vector<uint8_t>(kStoreFlashSize, 0xFF),
                               "W3", kCode));
  EXPECT_FALSE(HoldsProfileFor({}, "W3", kCode));
  const std::vector<uint8_t> block = MakeSampleProfileBlock(Profile(1, 1));
  EXPECT_FALSE(HoldsProfileFor(
      std::vector<uint8_t>(block.begin(), block.begin() + 1000), "W3", kCode));
}

// A block of 262144 bytes fills the store exactly but is one byte longer
// than any profile the tool writes.
TEST(HoldsProfile, BlockFillingTheWholeStoreIsNoProfile) {
  EXPECT_FALSE(HoldsProfileFor(
      MakeSampleProfileBlock(Profile(1, 1, kStoreFlashSize)), "W3", kCode));
}

}  // namespace
