// The check the build runs before it embeds a release: it must refuse
// whatever the tool would refuse of its firmware before the first write,
// with the tool's own message, and take what the tool takes.
#include "tools/firmware_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "blocks/block_header.h"
#include "tests/blocks/block_builder.h"

namespace {

constexpr size_t kCode = kCodeHeaderOffset;

// A release as the build is handed it: the code block compressed, the
// profile as it is.
struct Release {
  Block image = ValidCodeImage(4096);
  Block profile = ValidProfile(4096);
  Block stream;  // empty: the image deflated
};

// An edit to the code image or the profile; the checksum is repaired after
// it unless the edit is the checksum's own fault.
using ReleaseEdit = std::function<void(Release&)>;

ReleaseEdit Code(Edit edit) {
  return [edit](Release& release) {
    edit(release.image);
    FixChecksum(release.image);
  };
}

ReleaseEdit Profile(Edit edit) {
  return [edit](Release& release) {
    edit(release.profile);
    FixChecksum(release.profile);
  };
}

FirmwareCheck Check(const ReleaseEdit& edit) {
  Release release;
  edit(release);
  if (release.stream.empty()) release.stream = Deflate(release.image);
  return CheckFirmware(release.stream, release.profile);
}

struct RefusalCase {
  const char* refusal;
  ReleaseEdit edit;
};

// One release for each refusal the tool can give of the blocks it carries,
// up to the restamp just before the code flash is erased.
const RefusalCase kRefusals[] = {
    {"CODE RESOURCE TOO SMALL", [](Release& r) { r.stream = Block(1023, 0); }},
    {"CODE DECOMPRESSION FAILED",
     [](Release& r) { r.stream = ValidCodeImage(4096); }},
    {"CODE DECOMPRESSION DIDN'T!!!",
     [](Release& r) { r.stream = Deflate(ValidCodeImage(4096), 0); }},
    {"CODE BLOCK CRC CHECK FAILED", [](Release& r) { r.image[2000] ^= 0x10; }},
    {"BAD CODE BLOCK MAGIC", Code(SetU16At(kCode + 0x00, 0xC0DF))},
    {"NOT A CODE BLOCK", Code(SetU16At(kCode + 0x02, kProfileBlockType))},
    {"NOT W3/W17 CODE", Code(SetTargetAt(kCode, "W4"))},
    {"CODE BLOCK START FIELD INCORRECT", Code(SetU32At(kCode + 0x04, 0))},
    {"CODE BLOCK END FIELD INCORRECT",
     Code(SetU32At(kCode + 0x08, kCodeStartAddress + 4096))},
    {"UNKNOWN CODE HEADER X VERSION", Code(SetByteAt(kCode + 0x32, 2))},
    {"UNKNOWN CODE HEADER Y VERSION", Code(SetByteAt(kCode + 0x33, 4))},
    {"PROFILE RESOURCE TOO SMALL", [](Release& r) { r.profile.resize(1023); }},
    {"PROFILE CRC CHECK FAILED", [](Release& r) { r.profile[3000] ^= 0x01; }},
    {"PROFILE TOO LARGE",
     [](Release& r) { r.profile = ValidProfile(kMaxProfileLength + 1); }},
    {"BAD BLOCK MAGIC", Profile(SetU16At(0x00, 0))},
    {"NOT A PROFILE BLOCK", Profile(SetU16At(0x02, kCodeBlockType))},
    {"PROFILE/CODE MISMATCH", Profile(SetTargetAt(0, "W17"))},
    {"PROFILE BLOCK START FIELD INCORRECT", Profile(SetU32At(0x04, 0x10000))},
    {"PROFILE BLOCK END FIELD INCORRECT", Profile(SetU32At(0x08, 4096))},
    {"UNKNOWN PROFILE HEADER X VERSION", Profile(SetByteAt(0x32, 0))},
    {"UNKNOWN PROFILE HEADER Y VERSION", Profile(SetByteAt(0x33, 1))},
    {"PROFILE/CODE BRANCH MISMATCH", Profile(SetU16At(0x34, 2))},
    {"PROFILE/CODE VERSION MISMATCH", Profile(SetU16At(0x36, 462))},
    {"PROFILE/CODE REVISION MISMATCH", Profile(SetU16At(0x3A, 2))},
    // Loads, but the fresh checksum does not fit in whole words: every job
    // would stop at the restamp, after the unit was chosen.
    {"CRC REGENERATION FAILED",
     [](Release& r) { r.image = ValidCodeImage(4097); }},
    {"CRC REGENERATION FAILED",
     [](Release& r) { r.image = ValidCodeImage(4098, 7); }},
    {"CRC REGENERATION FAILED",
     [](Release& r) { r.image = ValidCodeImage(4099, 9); }},
};

TEST(CheckFirmware, TakesWhatTheToolTakes) {
  for (uint32_t length : {4096u, 4100u, 65536u}) {
    SCOPED_TRACE(length);
    FirmwareCheck check =
        Check([length](Release& r) { r.image = ValidCodeImage(length, 3); });
    EXPECT_EQ(check.refusal, "");
    EXPECT_EQ(check.output, "Ready to program W3 firmware release 1.463.1\n");
    ASSERT_EQ(check.image.length, length);
    // The blocks are handed on as they came: the restamp worked on copies.
    EXPECT_TRUE(std::equal(check.image.bytes.get(),
                           check.image.bytes.get() + length,
                           ValidCodeImage(length, 3).begin()));
    EXPECT_EQ(check.profile.length, 4096u);
  }
}

TEST(CheckFirmware, RefusesWithTheToolsMessage) {
  for (const RefusalCase& c : kRefusals) {
    SCOPED_TRACE(c.refusal);
    FirmwareCheck check = Check(c.edit);
    EXPECT_EQ(check.refusal, c.refusal);
    EXPECT_EQ(check.image.bytes, nullptr);
    EXPECT_EQ(check.profile.bytes, nullptr);
  }
}

// Upper-case texts in a source file, comments left out.
std::set<std::string> CapitalTexts(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string code(std::istreambuf_iterator<char>(in), {});
  static const std::regex comment("//[^\n]*");
  static const std::regex literal("\"([A-Z][^\"a-z\\\\\n]* [^\"a-z\\\\\n]*)\"");
  code = std::regex_replace(code, comment, "");
  std::set<std::string> found;
  for (std::sregex_iterator it(code.begin(), code.end(), literal), end;
       it != end; ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

// A refusal added to the blocks' checks needs a release above that shows
// the build refusing it.
TEST(CheckFirmware, EveryRefusalOfTheBlocksIsTried) {
  // What only the program's resource calls or a shortage of memory can
  // give: the build always embeds both files, and the check runs on the
  // build machine.
  const std::set<std::string> notFromTheBlocks = {
      "CODE RESOURCE NOT FOUND",         "COULD NOT LOAD CODE RESOURCE",
      "COULD NOT LOCK CODE RESOURCE",    "PROFILE RESOURCE NOT FOUND",
      "COULD NOT LOAD PROFILE RESOURCE", "COULD NOT LOCK PROFILE RESOURCE",
      "COULD NOT ALLOCATE CODE IMAGE"};
  std::set<std::string> tried;
  for (const RefusalCase& c : kRefusals) tried.insert(c.refusal);
  const std::filesystem::path blocks =
      std::filesystem::path(ECUPROG_SOURCE_DIR) / "blocks";
  for (const char* file :
       {"code_image.cpp", "profile_block.cpp", "restamp.cpp"}) {
    for (const std::string& message : CapitalTexts(blocks / file)) {
      EXPECT_TRUE(tried.count(message) || notFromTheBlocks.count(message))
          << file << ": " << message;
    }
  }
}

}  // namespace
