#include <gtest/gtest.h>

#include <cstdint>

#include "platform/windows_api.h"

namespace {

struct ElementCase {
  VARTYPE vt;
  ULONG size;
};

class SafeArrayElementTest : public testing::TestWithParam<ElementCase> {};

TEST_P(SafeArrayElementTest, CreatesZeroedArrayWithTypeAndBounds) {
  SAFEARRAYBOUND bound{5, -2};
  SAFEARRAY* array = SafeArrayCreate(GetParam().vt, 1, &bound);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array->cDims, 1);
  EXPECT_EQ(array->cbElements, GetParam().size);
  EXPECT_EQ(array->cLocks, 0u);
  VARTYPE vt = VT_EMPTY;
  ASSERT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
  EXPECT_EQ(vt, GetParam().vt);
  LONG lower = 0, upper = 0;
  ASSERT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(lower, -2);
  EXPECT_EQ(upper, 2);
  const auto* bytes = static_cast<const uint8_t*>(array->pvData);
  for (ULONG i = 0; i < 5 * GetParam().size; ++i) EXPECT_EQ(bytes[i], 0);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    EveryIntegerType, SafeArrayElementTest,
    testing::Values(ElementCase{VT_UI1, 1}, ElementCase{VT_I1, 1},
                    ElementCase{VT_UI2, 2}, ElementCase{VT_I2, 2},
                    ElementCase{VT_UI4, 4}, ElementCase{VT_I4, 4}));

TEST(SafeArrayTest, RefusesWhatCannotBeMade) {
  SAFEARRAYBOUND one{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_BSTR, 1, &one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, &one), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 1, nullptr), nullptr);
  SAFEARRAYBOUND two[2] = {{1, 0}, {1, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 2, two), nullptr);
  // Sizes past 32 bits, and upper bounds past a LONG.
  SAFEARRAYBOUND huge{0xFFFFFFFFu, 0};
  EXPECT_EQ(SafeArrayCreate(VT_UI4, 1, &huge), nullptr);
  SAFEARRAYBOUND pastLong{2, INT32_MAX};
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 1, &pastLong), nullptr);
  // An empty array at the lowest lower bound has no upper bound that is a
  // LONG.
  SAFEARRAYBOUND belowLong{0, INT32_MIN};
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 1, &belowLong), nullptr);
}

TEST(SafeArrayTest, EmptyArrayHasUpperBoundBelowLowerBound) {
  SAFEARRAYBOUND bound{0, 0};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  ASSERT_NE(array, nullptr);
  EXPECT_NE(array->pvData, nullptr);
  LONG upper = 0;
  ASSERT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArrayTest, LockingGuardsDestruction) {
  SAFEARRAYBOUND bound{3, 0};
  SAFEARRAY* array = SafeArrayCreate(VT_UI1, 1, &bound);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  EXPECT_EQ(array->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArrayTest, ReportsBadArgumentsAndDimensions) {
  SAFEARRAYBOUND bound{3, 0};
  SAFEARRAY* array = SafeArrayCreate(VT_UI2, 1, &bound);
  ASSERT_NE(array, nullptr);
  LONG value = 0;
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetLBound(array, 0, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(array, 2, &value), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &value), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetVartype(nullptr, &vt), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetVartype(array, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayUnlock(nullptr), E_INVALIDARG);
  // As on Windows, destroying no array is harmless.
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

}  // namespace
