#include "blocks/block_crc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "tests/blocks/block_builder.h"

namespace {

// What BlockCrc must give: the CRC of the bytes before the last whole word
// XOR that word read big-endian.
uint32_t Expected(const uint8_t* bytes, size_t length) {
  size_t count = length / 4;
  if (count == 0) return 0xFFFFFFFF;
  size_t last = 4 * (count - 1);
  return ReferenceCrc(bytes, last) ^
         GetU32(Block(bytes + last, bytes + last + 4), 0);
}

class BlockCrcTest : public testing::Test {
 protected:
  void SetUp() override { BuildCrcTable(); }
};

TEST_F(BlockCrcTest, TableHoldsTheReversedEntries) {
  EXPECT_EQ(CrcTable[0], 0u);
  EXPECT_EQ(CrcTable[1], 0xB71DC104u);
  EXPECT_EQ(CrcTable[255], 0xB440F7B1u);
}

TEST_F(BlockCrcTest, KnownValues) {
  const uint8_t* check = reinterpret_cast<const uint8_t*>("123456789");
  ASSERT_EQ(ReferenceCrc(check, 9), 0xFC891918u);  // the reference itself

  EXPECT_EQ(BlockCrc(check, 0), 0xFFFFFFFFu);
  const uint8_t word[] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(BlockCrc(word, 1), 0x12345678u);
  const uint8_t zero[4] = {};
  EXPECT_EQ(BlockCrc(zero, 1), 0u);

  uint8_t letters[12] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
  EXPECT_EQ(BlockCrc(letters, 3), 0x5024EC61u);
  const uint8_t checksum[] = {0x50, 0x24, 0xEC, 0x61};
  std::memcpy(letters + 8, checksum, 4);
  EXPECT_EQ(BlockCrc(letters, 3), 0u);
}

TEST_F(BlockCrcTest, MatchesBytewiseCrcAtEveryLengthAndAlignment) {
  std::mt19937 random(7);
  uint8_t buffer[64 + 3];
  for (uint8_t& byte : buffer) byte = static_cast<uint8_t>(random());
  for (size_t offset = 0; offset < 4; ++offset) {
    for (size_t length = 0; offset + length <= sizeof(buffer) && length <= 64;
         ++length) {
      SCOPED_TRACE(testing::Message()
                   << "offset " << offset << " length " << length);
      EXPECT_EQ(BlockCrc(buffer + offset, static_cast<uint32_t>(length / 4)),
                Expected(buffer + offset, length));
    }
  }
  for (size_t length : {451052u, 1048579u}) {
    Block large(length + 1);
    for (uint8_t& byte : large) byte = static_cast<uint8_t>(random());
    EXPECT_EQ(BlockCrc(large.data() + 1, static_cast<uint32_t>(length / 4)),
              Expected(large.data() + 1, length));
  }
}

TEST_F(BlockCrcTest, IntactBlockSumsToZeroAndEveryBitFlipShows) {
  Block block = ValidProfile(1024);
  block.resize(128);
  FixChecksum(block);
  ASSERT_EQ(BlockCrc(block.data(), 32), 0u);
  // Bytes after the last whole word are not covered.
  for (uint8_t extra : {0x00, 0x5A, 0xFF}) {
    Block longer = block;
    longer.insert(longer.end(), 3, extra);
    EXPECT_EQ(BlockCrc(longer.data(), static_cast<uint32_t>(longer.size() / 4)),
              0u);
  }
  for (size_t bit = 0; bit < 8 * block.size(); ++bit) {
    block[bit / 8] ^= static_cast<uint8_t>(1 << bit % 8);
    EXPECT_NE(BlockCrc(block.data(), 32), 0u) << "bit " << bit;
    block[bit / 8] ^= static_cast<uint8_t>(1 << bit % 8);
  }
}

// Every method against the word-wise reference and the byte-wise CRC:
// random blocks of every length up to 4096 bytes at a varying alignment
// (folding starts at 64 bytes, the wide path at 128, and both leave tails
// of 0 to 12 bytes to the tables), then large ones. A method this processor
// lacks is skipped, and says so.
std::vector<CrcMethod> AvailableMethods() {
  std::vector<CrcMethod> methods;
  for (CrcMethod method :
       {CrcMethod::kSlicingBy8, CrcMethod::kClmul128, CrcMethod::kClmul256}) {
    if (CrcMethodAvailable(method)) {
      methods.push_back(method);
    } else {
      std::printf("not covered on this processor: %s\n", CrcMethodName(method));
    }
  }
  return methods;
}

TEST_F(BlockCrcTest, EveryMethodMatchesTheReferenceForRandomBlocks) {
  std::mt19937 random(2024);
  Block buffer(4096 + 16);
  for (CrcMethod method : AvailableMethods()) {
    SCOPED_TRACE(CrcMethodName(method));
    for (size_t length = 0; length <= 4096; ++length) {
      for (uint8_t& byte : buffer) byte = static_cast<uint8_t>(random());
      const uint8_t* block = buffer.data() + length % 16;
      uint32_t count = static_cast<uint32_t>(length / 4);
      uint32_t expected = BlockCrcReference(block, count);
      ASSERT_EQ(BlockCrcBy(method, block, count), expected)
          << "length " << length;
      ASSERT_EQ(expected, Expected(block, length)) << "length " << length;
    }
    for (size_t length : {65536u, 451052u, 1048579u, 4194304u + 7}) {
      Block large(length + 3);
      for (uint8_t& byte : large) byte = static_cast<uint8_t>(random());
      for (size_t offset : {0u, 3u}) {
        uint32_t count = static_cast<uint32_t>(length / 4);
        EXPECT_EQ(BlockCrcBy(method, large.data() + offset, count),
                  BlockCrcReference(large.data() + offset, count))
            << "length " << length << " offset " << offset;
      }
    }
  }
}

// Uniform blocks are where a register that entered wrongly, or a fold
// constant that is off, would cancel out or show least.
TEST_F(BlockCrcTest, EveryMethodMatchesTheReferenceForUniformBlocks) {
  for (CrcMethod method : AvailableMethods()) {
    for (uint8_t fill : {0x00, 0xFF, 0x80, 0x01}) {
      for (size_t length :
           {60u, 64u, 68u, 76u, 80u, 128u, 132u, 144u, 196u, 260u, 4096u}) {
        Block block(length, fill);
        uint32_t count = static_cast<uint32_t>(length / 4);
        EXPECT_EQ(BlockCrcBy(method, block.data(), count),
                  BlockCrcReference(block.data(), count))
            << CrcMethodName(method) << " fill " << int{fill} << " length "
            << length;
      }
    }
  }
}

TEST_F(BlockCrcTest, IntactLargeBlockSumsToZeroByEveryMethod) {
  Block block(451052);
  std::mt19937 random(5);
  for (uint8_t& byte : block) byte = static_cast<uint8_t>(random());
  FixChecksum(block);
  EXPECT_EQ(BlockCrcReference(block.data(), 451052 / 4), 0u);
  for (CrcMethod method : AvailableMethods()) {
    EXPECT_EQ(BlockCrcBy(method, block.data(), 451052 / 4), 0u)
        << CrcMethodName(method);
  }
}

TEST_F(BlockCrcTest, BlockCrcUsesTheFastestAvailableMethod) {
  CrcMethod fastest = CrcMethod::kSlicingBy8;
  for (CrcMethod method : AvailableMethods()) fastest = method;
  EXPECT_EQ(BlockCrcMethod(), fastest) << CrcMethodName(BlockCrcMethod());
  const uint8_t word[] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(BlockCrcBy(CrcMethod::kReference, word, 1), 0x12345678u);
}

}  // namespace
