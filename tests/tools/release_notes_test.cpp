// RELEASE.txt states the facts of the blocks it is given, each from the
// field that holds it.
#include "tools/release_notes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "blocks/block_crc.h"
#include "blocks/code_image.h"
#include "blocks/profile_block.h"
#include "tests/blocks/block_builder.h"
#include "tests/run_harness.h"

namespace {

Block ReadSourceFile(const char* name) {
  std::ifstream in(std::string(ECUPROG_SOURCE_DIR) + "/" + name,
                   std::ios::binary);
  return Block(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> Facts(const std::string& notes) {
  std::map<std::string, std::string> facts;
  std::istringstream lines(notes);
  std::string line;
  while (std::getline(lines, line)) {
    size_t colon = line.find(": ");
    EXPECT_NE(colon, std::string::npos) << line;
    if (colon == std::string::npos) continue;
    EXPECT_TRUE(
        facts.emplace(line.substr(0, colon), line.substr(colon + 2)).second)
        << line;
  }
  return facts;
}

std::string Describe(const Block& stream, const Block& image,
                     const Block& profile) {
  ReleaseBlocks blocks{&stream, image.data(),
                       static_cast<uint32_t>(image.size()), profile.data(),
                       static_cast<uint32_t>(profile.size())};
  return DescribeRelease(blocks, "0123abc");
}

TEST(ReleaseNotes, StateEveryFactFromItsField) {
  Block image = ValidCodeImage(8192, 7);
  SetTargetName(image, kCodeHeaderOffset, "W17");
  SetU16(image, kCodeHeaderOffset + 0x4A, 2);    // code branch
  SetU16(image, kCodeHeaderOffset + 0x4C, 301);  // code version
  SetU16(image, kCodeHeaderOffset + 0x4E, 12);   // code revision
  SetU16(image, kCodeHeaderOffset + 0x50, 2);    // minimum boot branch
  SetU16(image, kCodeHeaderOffset + 0x52, 3);    // minimum boot version
  FixChecksum(image);
  Block profile = ValidProfile(2048);
  SetU16(profile, 0x34, 2);
  SetU16(profile, 0x36, 301);
  SetU16(profile, 0x38, 15);  // highest revision
  SetU16(profile, 0x3A, 10);  // lowest revision
  FixChecksum(profile);
  Block stream = Deflate(image);

  std::map<std::string, std::string> facts =
      Facts(Describe(stream, image, profile));
  char codeSum[11];
  char profileSum[11];
  std::snprintf(codeSum, sizeof codeSum, "0x%08X",
                static_cast<unsigned>(GetU32(image, image.size() - 4)));
  std::snprintf(profileSum, sizeof profileSum, "0x%08X",
                static_cast<unsigned>(GetU32(profile, profile.size() - 4)));
  std::map<std::string, std::string> expected = {
      {"Tool version", ECUPROG_VERSION},
      {"Source revision", "0123abc"},
      {"Target model", "W17"},
      {"Firmware release", "2.301.12"},
      {"Minimum boot code release", "2.3"},
      {"Code block size",
       "8192 bytes (" + std::to_string(stream.size()) + " bytes compressed)"},
      {"Code block stored checksum", codeSum},
      {"Profile block size", "2048 bytes"},
      {"Profile block stored checksum", profileSum},
      {"Profile for code release", "2.301, revisions 10 to 15"},
  };
  for (const auto& [key, value] : expected) {
    EXPECT_EQ(facts[key], value) << key;
  }
  EXPECT_EQ(facts.size(), expected.size() + 2);  // and the two SHA-256s
}

// The hashes name the released files, so a kit can be checked against the
// blocks the release desk holds.
TEST(ReleaseNotes, HashTheStoredBlocksAsEmbedded) {
  BuildCrcTable();
  Block stream = ReadSourceFile("resources/w3_code.zlib");
  Block profile = ReadSourceFile("resources/w3_profile.bin");
  FirmwareResources resources;
  resources.Put(kCodeResourceId, ImageEntry{stream});
  resources.Put(kProfileResourceId, ImageEntry{profile});
  CodeImage image;
  PhaseOutcome outcome = RunPhase([&] {
    image = LoadCodeImage();
    LoadProfileBlock(image.header());
  });
  ASSERT_FALSE(outcome.stopped) << outcome.message;
  Block inflated(image.bytes.get(), image.bytes.get() + image.length);

  std::map<std::string, std::string> facts =
      Facts(Describe(stream, inflated, profile));
  EXPECT_EQ(facts["Code block SHA-256 (compressed, as embedded)"],
            "d0a899fecda5de90633657237be1927c00ce86c827c40d36af815548a3509262");
  EXPECT_EQ(facts["Profile block SHA-256"],
            "042234817f2e36523b3c7f1aae88cd776cfaf21c941356467f1967656095c891");
  EXPECT_EQ(facts["Firmware release"], "1.463.1");
}

}  // namespace
