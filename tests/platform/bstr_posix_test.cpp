#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/windows_api.h"

namespace {

uint32_t BytePrefix(BSTR text) {
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
  return bytes;
}

TEST(BstrTest, CarriesByteLengthPrefixAndTerminator) {
  BSTR text = SysAllocString(u"Zugriff \u00fc\U0001F600");
  ASSERT_NE(text, nullptr);
  // The emoji takes two UTF-16 units.
  EXPECT_EQ(SysStringLen(text), 11u);
  EXPECT_EQ(BytePrefix(text), 22u);
  EXPECT_EQ(text[11], u'\0');
  EXPECT_EQ(std::u16string(text), u"Zugriff \u00fc\U0001F600");
  SysFreeString(text);
}

TEST(BstrTest, LengthGivenKeepsEmbeddedNuls) {
  const char16_t units[] = {u'a', u'\0', u'b'};
  BSTR text = SysAllocStringLen(units, 3);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(text[2], u'b');
  EXPECT_EQ(text[3], u'\0');
  SysFreeString(text);
}

TEST(BstrTest, EmptyIsNotNull) {
  BSTR empty = SysAllocString(u"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  EXPECT_EQ(BytePrefix(empty), 0u);
  SysFreeString(empty);

  BSTR unfilled = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(unfilled, nullptr);
  EXPECT_EQ(SysStringLen(unfilled), 4u);
  SysFreeString(unfilled);
}

TEST(BstrTest, NullTextsAreHarmless) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
  // A length whose byte count does not fit the prefix.
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
}

}  // namespace
