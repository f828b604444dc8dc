#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/windows_api.h"

namespace {

TEST(UuidCreateTest, MakesDistinctVersionFourIdentifiers) {
  std::set<std::string> seen;
  for (int i = 0; i < 64; ++i) {
    UUID id{};
    ASSERT_EQ(UuidCreate(&id), RPC_S_OK);
    EXPECT_EQ(id.Data3 >> 12, 4);
    EXPECT_EQ(id.Data4[0] >> 6, 2);
    seen.insert(std::string(reinterpret_cast<const char*>(&id), sizeof id));
  }
  EXPECT_EQ(seen.size(), 64u);
  EXPECT_NE(UuidCreate(nullptr), RPC_S_OK);
}

}  // namespace
