#include "server/array_response.h"

#include <gtest/gtest.h>

namespace {

SAFEARRAY* MakeArray(VARTYPE vt, ULONG count, LONG lowerBound) {
  SAFEARRAYBOUND bound;
  bound.cElements = count;
  bound.lLbound = lowerBound;
  return SafeArrayCreate(vt, 1, &bound);
}

TEST(TakeOverArrayTest, CountsFromAnyLowerBoundAndChecksTheType) {
  struct Case {
    VARTYPE made, expected;
    ULONG count;
    LONG lowerBound;
    bool taken;
  };
  const Case cases[] = {
      {VT_UI2, VT_UI2, 6, 0, true},   {VT_UI2, VT_UI2, 6, 5, true},
      {VT_UI2, VT_UI2, 6, -3, true},  {VT_UI1, VT_UI1, 0, 0, true},
      {VT_UI1, VT_UI2, 6, 0, false},  {VT_I2, VT_UI2, 6, 0, false},
  };
  for (const Case& c : cases) {
    SafeArrayRef array;
    *array.Out() = MakeArray(c.made, c.count, c.lowerBound);
    ASSERT_TRUE(array);
    size_t count = 99;
    EXPECT_EQ(TakeOverArray(array, c.expected, &count), c.taken);
    if (c.taken) {
      EXPECT_EQ(count, c.count);
      EXPECT_NE(array.data(), nullptr);
    }
  }
  SafeArrayRef none;
  size_t count = 0;
  EXPECT_FALSE(TakeOverArray(none, VT_UI1, &count));
}

TEST(SafeArrayRefTest, GivesBackItsLocksBeforeDestroying) {
  SafeArrayRef array;
  ASSERT_TRUE(array.Create(VT_UI1, 16));
  ASSERT_TRUE(array.Lock());
  ASSERT_TRUE(array.Lock());
  SAFEARRAY* raw = array.get();
  EXPECT_EQ(raw->cLocks, 2u);
  array.Reset();  // a locked array would refuse to be destroyed
  EXPECT_FALSE(array);
}

}  // namespace
