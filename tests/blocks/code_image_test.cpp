#include "blocks/code_image.h"

#include <gtest/gtest.h>

#include <string>

#include "blocks/block_crc.h"
#include "tests/blocks/block_builder.h"
#include "tests/run_harness.h"

namespace {

constexpr size_t kHeader = kCodeHeaderOffset;
constexpr char kFailed[] = "CODE DECOMPRESSION FAILED";
constexpr char kName[] = "NOT W3/W17 CODE";

// A valid 4096-byte image changed by `edit` as one zlib stream; the
// checksum is repaired unless the damage is to show.
ImageEntry Code(const Edit& edit, bool fixChecksum = true) {
  Block image = ValidCodeImage();
  edit(image);
  if (fixChecksum) FixChecksum(image);
  return ImageEntry{Deflate(image)};
}

// The valid stream of a larger image, changed by `edit` after compression.
ImageEntry Stream(const Edit& edit) {
  Block stream = Deflate(ValidCodeImage(16384));
  edit(stream);
  return ImageEntry{stream};
}

// A zlib header whose own check (FCHECK) is right.
Edit ZlibHeader(uint8_t cmf, uint8_t flags) {
  return [=](Block& stream) {
    uint8_t check = flags & 0xE0;
    while ((cmf * 256 + check) % 31 != 0) ++check;
    stream[0] = cmf;
    stream[1] = check;
  };
}

void Keep(Block&) {}

struct CodeCase {
  const char* name;
  ImageEntry resource;
  const char* message;  // nullptr: the image is accepted
};

TEST(LoadCodeImage, RefusesEachFaultWithItsMessageInOrder) {
  BuildCrcTable();
  Block partWords = ValidCodeImage();
  partWords.insert(partWords.end(), {0xAA, 0xBB, 0xCC});
  SetU32(partWords, kHeader + 8, 0x00010000 + 4099 - 1);
  FixChecksum(partWords);

  const CodeCase cases[] = {
      {"missing", ImageEntry::Missing(), "CODE RESOURCE NOT FOUND"},
      {"1023 bytes", ImageEntry{Block(1023, 0x78)}, "CODE RESOURCE TOO SMALL"},
      {"1024 bytes", ImageEntry{CodeStreamOfSize(2048, 1024)}, nullptr},
      {"load refused", ImageEntry::RefusingLoad(Code(Keep).bytes),
       "COULD NOT LOAD CODE RESOURCE"},
      {"no pointer", ImageEntry::WithoutPointer(Code(Keep).bytes),
       "COULD NOT LOCK CODE RESOURCE"},
      // Streams that cannot be inflated.
      {"header check wrong", Stream(SetByteAt(1, 0x9D)), kFailed},
      {"not deflate", Stream(ZlibHeader(0x77, 0x80)), kFailed},
      {"preset dictionary", Stream(ZlibHeader(0x78, 0xA0)), kFailed},
      {"damaged data", Stream([](Block& z) {
         for (size_t i = 100; i < 140; ++i) z[i] ^= 0x5A;
       }),
       kFailed},
      {"cut in the middle", Stream([](Block& z) { z.resize(z.size() / 2); }),
       kFailed},
      {"cut before the Adler-32",
       Stream([](Block& z) { z.resize(z.size() - 4); }), kFailed},
      {"cut inside the Adler-32", Stream([](Block& z) { z.pop_back(); }),
       kFailed},
      {"Adler-32 wrong", Stream([](Block& z) { z.back() ^= 1; }), kFailed},
      {"a byte after the stream", Stream([](Block& z) { z.push_back(0); }),
       kFailed},
      {"a second stream after it", Stream([](Block& z) {
         Block first = z;
         z.insert(z.end(), first.begin(), first.end());
       }),
       kFailed},
      {"all zero", ImageEntry{Block(2048, 0)}, kFailed},
      // Streams that do not grow.
      {"stored", ImageEntry{Deflate(ValidCodeImage(), 0)},
       "CODE DECOMPRESSION DIDN'T!!!"},
      {"inflates to its own size", ImageEntry{CodeStreamOfSize(4096, 4096)},
       "CODE DECOMPRESSION DIDN'T!!!"},
      {"inflates to one byte more", ImageEntry{CodeStreamOfSize(4096, 4095)},
       nullptr},
      // The checksum, before anything in the header.
      {"checksum", Code(SetByteAt(2000, 0x10), false),
       "CODE BLOCK CRC CHECK FAILED"},
      {"checksum and magic", Code(SetByteAt(kHeader, 0), false),
       "CODE BLOCK CRC CHECK FAILED"},
      // The header, in order.
      {"magic", Code(SetU16At(kHeader, 0xC0DF)), "BAD CODE BLOCK MAGIC"},
      {"profile type", Code(SetU16At(kHeader + 2, 3)), "NOT A CODE BLOCK"},
      {"type before target", Code([](Block& b) {
         SetU16(b, kHeader + 2, 0);
         SetTargetName(b, kHeader, "X");
       }),
       "NOT A CODE BLOCK"},
      {"W17", Code(SetTargetAt(kHeader, "W17")), nullptr},
      {"w3", Code(SetTargetAt(kHeader, "w3")), kName},
      {"w17", Code(SetTargetAt(kHeader, "w17")), kName},
      {"W3 and a blank", Code(SetTargetAt(kHeader, "W3 ")), kName},
      {"W31", Code(SetTargetAt(kHeader, "W31")), kName},
      {"W170", Code(SetTargetAt(kHeader, "W170")), kName},
      {"no name", Code(SetTargetAt(kHeader, "")), kName},
      {"name fills the field",
       Code(SetTargetAt(kHeader, "W3" + std::string(30, 'x'))), kName},
      {"start", Code(SetU32At(kHeader + 4, 0x00020000)),
       "CODE BLOCK START FIELD INCORRECT"},
      {"end for a longer image", Code(SetU32At(kHeader + 8, 0x00010000 + 4096)),
       "CODE BLOCK END FIELD INCORRECT"},
      {"end for a shorter image",
       Code(SetU32At(kHeader + 8, 0x00010000 + 4094)),
       "CODE BLOCK END FIELD INCORRECT"},
      {"X version 0", Code(SetByteAt(kHeader + 0x32, 0)),
       "UNKNOWN CODE HEADER X VERSION"},
      {"X version 2", Code(SetByteAt(kHeader + 0x32, 2)),
       "UNKNOWN CODE HEADER X VERSION"},
      {"Y version 0", Code(SetByteAt(kHeader + 0x33, 0)),
       "UNKNOWN CODE HEADER Y VERSION"},
      {"Y version 1", Code(SetByteAt(kHeader + 0x33, 1)), nullptr},
      {"Y version 2", Code(SetByteAt(kHeader + 0x33, 2)), nullptr},
      {"Y version 4", Code(SetByteAt(kHeader + 0x33, 4)),
       "UNKNOWN CODE HEADER Y VERSION"},
      // Up to three bytes after the last whole word are not covered.
      {"three bytes after the last word", ImageEntry{Deflate(partWords)},
       nullptr},
  };
  for (const CodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    FirmwareResources resources;
    resources.Put(kCodeResourceId, c.resource);
    PhaseOutcome outcome = RunPhase([] { LoadCodeImage(); });
    if (c.message) {
      EXPECT_TRUE(outcome.stopped);
      EXPECT_EQ(outcome.exitCode, 1);
      EXPECT_EQ(outcome.output,
                std::string(c.message) + "\nPress space to exit\n");
    } else {
      EXPECT_FALSE(outcome.stopped) << outcome.message;
      EXPECT_EQ(outcome.output, "");  // loading is silent
    }
  }
}

TEST(LoadCodeImage, ReturnsTheInflatedImage) {
  BuildCrcTable();
  Block image = ValidCodeImage(8191);
  SetU32(image, kHeader + 8, 0x00010000 + 8191 - 1);
  FixChecksum(image);
  FirmwareResources resources;
  resources.Put(kCodeResourceId, ImageEntry{Deflate(image)});
  CodeImage loaded;
  ASSERT_FALSE(RunPhase([&] { loaded = LoadCodeImage(); }).stopped);
  ASSERT_EQ(loaded.length, image.size());
  EXPECT_EQ(Block(loaded.bytes.get(), loaded.bytes.get() + loaded.length),
            image);
}

}  // namespace
