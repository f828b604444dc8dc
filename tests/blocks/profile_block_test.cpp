#include "blocks/profile_block.h"

#include <gtest/gtest.h>

#include <string>

#include "blocks/block_crc.h"
#include "blocks/code_image.h"
#include "tests/blocks/block_builder.h"
#include "tests/run_harness.h"

namespace {

constexpr char kRevision[] = "PROFILE/CODE REVISION MISMATCH";

// A valid profile of `length` bytes changed by `edit`; the checksum is
// repaired unless the damage is to show.
ImageEntry Profile(const Edit& edit, uint32_t length = 4096,
                   bool fixChecksum = true) {
  Block profile = ValidProfile(length);
  edit(profile);
  if (fixChecksum) FixChecksum(profile);
  return ImageEntry{profile};
}

ImageEntry Revisions(uint16_t min, uint16_t max) {
  return Profile([=](Block& p) {
    SetU16(p, 0x3A, min);
    SetU16(p, 0x38, max);
  });
}

void Keep(Block&) {}

struct ProfileCase {
  const char* name;
  ImageEntry resource;
  const char* message;  // nullptr: the profile is accepted
  std::string codeTarget;
  uint16_t codeRevision;
};

TEST(LoadProfileBlock, RefusesEachFaultWithItsMessageInOrder) {
  BuildCrcTable();
  const ProfileCase cases[] = {
      {"missing", ImageEntry::Missing(), "PROFILE RESOURCE NOT FOUND", "W3", 1},
      {"1023 bytes", Profile(Keep, 1023), "PROFILE RESOURCE TOO SMALL", "W3",
       1},
      {"1024 bytes", Profile(Keep, 1024), nullptr, "W3", 1},
      {"load refused", ImageEntry::RefusingLoad(ValidProfile()),
       "COULD NOT LOAD PROFILE RESOURCE", "W3", 1},
      {"no pointer", ImageEntry::WithoutPointer(ValidProfile()),
       "COULD NOT LOCK PROFILE RESOURCE", "W3", 1},
      {"checksum", Profile(SetByteAt(100, 0), 4096, false),
       "PROFILE CRC CHECK FAILED", "W3", 1},
      {"checksum of a profile too large with a bad header",
       Profile(SetByteAt(0, 0), 262144, false), "PROFILE CRC CHECK FAILED",
       "W3", 1},
      {"262144 bytes", Profile(Keep, 262144), "PROFILE TOO LARGE", "W3", 1},
      {"262144 bytes and a bad magic", Profile(SetByteAt(0, 0), 262144),
       "PROFILE TOO LARGE", "W3", 1},
      {"262143 bytes", Profile(Keep, 262143), nullptr, "W3", 1},
      {"262140 bytes", Profile(Keep, 262140), nullptr, "W3", 1},
      {"magic", Profile(SetU16At(0, 0xDEC0)), "BAD BLOCK MAGIC", "W3", 1},
      {"code type", Profile(SetU16At(2, 1)), "NOT A PROFILE BLOCK", "W3", 1},
      {"type before target", Profile([](Block& p) {
         SetU16(p, 2, 2);
         SetTargetName(p, 0, "W17");
       }),
       "NOT A PROFILE BLOCK", "W3", 1},
      {"W17 profile, W3 code", Profile(SetTargetAt(0, "W17")),
       "PROFILE/CODE MISMATCH", "W3", 1},
      {"W17 profile, W17 code", Profile(SetTargetAt(0, "W17")), nullptr, "W17",
       1},
      {"w3 profile, W3 code", Profile(SetTargetAt(0, "w3")),
       "PROFILE/CODE MISMATCH", "W3", 1},
      {"target before start", Profile([](Block& p) {
         SetTargetName(p, 0, "W3 ");
         SetU32(p, 4, 1);
       }),
       "PROFILE/CODE MISMATCH", "W3", 1},
      {"start", Profile(SetU32At(4, 0x10000)),
       "PROFILE BLOCK START FIELD INCORRECT", "W3", 1},
      {"end is the length", Profile(SetU32At(8, 4096)),
       "PROFILE BLOCK END FIELD INCORRECT", "W3", 1},
      {"X version 2", Profile(SetByteAt(0x32, 2)),
       "UNKNOWN PROFILE HEADER X VERSION", "W3", 1},
      {"Y version 1", Profile(SetByteAt(0x33, 1)),
       "UNKNOWN PROFILE HEADER Y VERSION", "W3", 1},
      {"branch", Profile(SetU16At(0x34, 2)), "PROFILE/CODE BRANCH MISMATCH",
       "W3", 1},
      {"version", Profile(SetU16At(0x36, 462)), "PROFILE/CODE VERSION MISMATCH",
       "W3", 1},
      // Both revision limits are inclusive, all three values unsigned.
      {"1 in 1..1", Revisions(1, 1), nullptr, "W3", 1},
      {"0 in 1..1", Revisions(1, 1), kRevision, "W3", 0},
      {"2 in 1..1", Revisions(1, 1), kRevision, "W3", 2},
      {"255 in 255..256", Revisions(255, 256), nullptr, "W3", 255},
      {"256 in 255..256", Revisions(255, 256), nullptr, "W3", 256},
      {"254 in 255..256", Revisions(255, 256), kRevision, "W3", 254},
      {"257 in 255..256", Revisions(255, 256), kRevision, "W3", 257},
      {"0x8000 in 0..0xFFFF", Revisions(0, 0xFFFF), nullptr, "W3", 0x8000},
      {"4 in 6..4", Revisions(6, 4), kRevision, "W3", 4},
      {"5 in 6..4", Revisions(6, 4), kRevision, "W3", 5},
      {"6 in 6..4", Revisions(6, 4), kRevision, "W3", 6},
  };
  for (const ProfileCase& c : cases) {
    SCOPED_TRACE(c.name);
    Block code = ValidCodeImage();
    SetTargetName(code, kCodeHeaderOffset, c.codeTarget);
    SetU16(code, kCodeHeaderOffset + 0x4E, c.codeRevision);
    FirmwareResources resources;
    resources.Put(kProfileResourceId, c.resource);
    ProfileBlock profile;
    PhaseOutcome outcome = RunPhase([&] {
      profile = LoadProfileBlock(BlockHeader(&code[kCodeHeaderOffset]));
    });
    if (c.message) {
      EXPECT_TRUE(outcome.stopped);
      EXPECT_EQ(outcome.exitCode, 1);
      EXPECT_EQ(outcome.output,
                std::string(c.message) + "\nPress space to exit\n");
    } else {
      EXPECT_FALSE(outcome.stopped) << outcome.message;
      EXPECT_EQ(outcome.output, "Ready to program " + c.codeTarget +
                                    " firmware release 1.463." +
                                    std::to_string(c.codeRevision) + "\n");
      // The view covers the whole resource.
      ASSERT_NE(profile.bytes, nullptr);
      EXPECT_EQ(profile.length, c.resource.bytes.size());
      EXPECT_EQ(Block(profile.bytes, profile.bytes + profile.length),
                c.resource.bytes);
    }
  }
}

}  // namespace
