#include "blocks/block_crc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

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

}  // namespace
