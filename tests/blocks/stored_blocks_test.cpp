// The firmware the tool carries shows every figure of the released blocks.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "blocks/block_crc.h"
#include "blocks/code_image.h"
#include "blocks/profile_block.h"
#include "blocks/restamp.h"
#include "tests/blocks/block_builder.h"
#include "tests/run_harness.h"

namespace {

Block ReadResource(const char* name) {
  std::ifstream in(std::string(ECUPROG_SOURCE_DIR) + "/resources/" + name,
                   std::ios::binary);
  return Block(std::istreambuf_iterator<char>(in),
               std::istreambuf_iterator<char>());
}

bool InCode(uint32_t address) {
  return address >= 0x00010000 && address <= 0x0007E1EB;
}

bool In2020s(uint32_t time) {
  return time >= 1577836800 && time < 1893456000;  // 2020-01-01..2030-01-01
}

TEST(StoredBlocks, CarryTheReleasedFirmware) {
  BuildCrcTable();
  Block stream = ReadResource("w3_code.zlib");
  Block profileFile = ReadResource("w3_profile.bin");
  ASSERT_EQ(stream.size(), 171053u);
  EXPECT_EQ(stream[0], 0x78);
  EXPECT_EQ(stream[1], 0x9C);
  ASSERT_EQ(profileFile.size(), 251736u);

  FirmwareResources resources;
  resources.Put(kCodeResourceId, ImageEntry{stream});
  resources.Put(kProfileResourceId, ImageEntry{profileFile});
  CodeImage image;
  ProfileBlock profile;
  PhaseOutcome outcome = RunPhase([&] {
    image = LoadCodeImage();
    profile = LoadProfileBlock(image.header());
  });
  ASSERT_FALSE(outcome.stopped) << outcome.message;
  EXPECT_EQ(outcome.output, "Ready to program W3 firmware release 1.463.1\n");

  ASSERT_EQ(image.length, 451052u);
  BlockHeader code = image.header();
  EXPECT_EQ(code.magic(), 0xC0DE);
  EXPECT_EQ(code.blockType(), 1);
  EXPECT_EQ(code.startAddress(), 0x00010000u);
  EXPECT_EQ(code.endAddress(), 0x0007E1EBu);
  EXPECT_TRUE(In2020s(code.blockTime()));
  EXPECT_EQ(code.targetName(), "W3");
  EXPECT_EQ(code.headerLength(), 92);
  EXPECT_EQ(code.headerVersionX(), 1);
  EXPECT_EQ(code.headerVersionY(), 3);
  EXPECT_EQ(code.programTime(), 0u);
  Block header(code.bytes(), code.bytes() + kCodeHeaderLength);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(InCode(GetU32(header, 0x38 + 4 * i))) << i;
  }
  EXPECT_EQ(GetU16(header, 0x48), 56);
  EXPECT_EQ(code.codeBranch(), 1);
  EXPECT_EQ(code.codeVersion(), 463);
  EXPECT_EQ(code.codeRevision(), 1);
  EXPECT_EQ(code.minBootBranch(), 1);
  EXPECT_EQ(code.minBootVersion(), 38);
  EXPECT_EQ(GetU32(header, 0x54), 0u);
  EXPECT_EQ(GetU32(header, 0x58), 0u);

  EXPECT_EQ(profile.length, 251736u);
  BlockHeader store(profile.bytes);
  EXPECT_EQ(store.magic(), 0xC0DE);
  EXPECT_EQ(store.blockType(), 3);
  EXPECT_EQ(store.startAddress(), 0u);
  EXPECT_EQ(store.endAddress(), 0x0003D757u);
  EXPECT_TRUE(In2020s(store.blockTime()));
  EXPECT_EQ(store.targetName(), "W3");
  EXPECT_EQ(store.headerLength(), 64);
  EXPECT_EQ(store.headerVersionX(), 1);
  EXPECT_EQ(store.headerVersionY(), 0);
  EXPECT_EQ(store.profileCodeBranch(), 1);
  EXPECT_EQ(store.profileCodeVersion(), 463);
  EXPECT_EQ(store.maxCodeRevision(), 1);
  EXPECT_EQ(store.minCodeRevision(), 1);
  EXPECT_EQ(GetU16(profileFile, 0x3C), 1);
  EXPECT_EQ(GetU16(profileFile, 0x3E), 1);

  // Restamping touches only programTime and the checksum.
  Block before(image.bytes.get(), image.bytes.get() + image.length);
  ASSERT_FALSE(RunPhase([&] {
                 RestampCodeImage(image.bytes.get(), image.length);
               }).stopped);
  for (size_t i = 0; i < image.length; ++i) {
    bool stamped = (i >= 308 && i < 312) || i >= 451048;
    if (!stamped) {
      ASSERT_EQ(image.bytes[i], before[i]) << i;
    }
  }
}

}  // namespace
