#include "blocks/block_header.h"

#include <gtest/gtest.h>

#include "tests/blocks/block_builder.h"

namespace {

TEST(BlockHeader, TargetNameEndsAtItsNulOrWithItsField) {
  Block header(kProfileHeaderLength + 8, 'z');
  SetTargetName(header, 0, "W3");
  EXPECT_EQ(BlockHeader(header.data()).targetName(), "W3");
  header[0x10 + 3] = 'x';  // after the NUL: not part of the name
  EXPECT_EQ(BlockHeader(header.data()).targetName(), "W3");
  SetTargetName(header, 0, std::string(32, 'N'));  // the next byte is 'z'
  EXPECT_EQ(BlockHeader(header.data()).targetName(), std::string(32, 'N'));
}

}  // namespace
