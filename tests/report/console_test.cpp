#include "report/console.h"

#include <gtest/gtest.h>

#include "report/memory_console.h"

namespace {

class ConsoleTest : public testing::Test {
 protected:
  void Use(const std::string& input, const std::string& keys = "") {
    console_ = std::make_unique<MemoryConsole>(input, keys);
    SetConsole(console_.get());
  }
  void TearDown() override { SetConsole(nullptr); }
  std::unique_ptr<MemoryConsole> console_;
};

struct DecimalCase {
  const char* input;
  bool read;
  int32_t value;
};

TEST_F(ConsoleTest, ReadDecimalFollowsTheDecimalConversion) {
  const DecimalCase cases[] = {
      {"42\n", true, 42},
      {"0042\n", true, 42},
      {"   42", true, 42},
      {"\n\n \t42\n", true, 42},
      {"-17\n", true, -17},
      {"+8", true, 8},
      {"12abc", true, 12},
      {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},
      {"99999999999999999999", false, 0},
      {"-2147483649", false, 0},
      {"abc", false, 0},
      {"-", false, 0},
      {"", false, 0},
      {"\n\n", false, 0},
  };
  for (const DecimalCase& c : cases) {
    SCOPED_TRACE(c.input);
    Use(c.input);
    int32_t value = 0;
    EXPECT_EQ(ReadDecimal(&value), c.read);
    if (c.read) {
      EXPECT_EQ(value, c.value);
    }
  }
}

TEST_F(ConsoleTest, PrintWideSubstitutesTextsAndPrintsNullAsEmpty) {
  Use("");
  const OLECHAR name[] = {'J', 0x00FC, 'r', 'g', 0};
  PrintWide(OLESTR("Access as %ls : %ls (100%%)\n"), name, nullptr);
  EXPECT_EQ(console_->output(), "Access as J\\u{00FC}rg :  (100%)\n");
}

TEST_F(ConsoleTest, WaitForSpaceSwallowsOtherKeys) {
  Use("", "ab\n x");
  WaitForSpace();
  EXPECT_EQ(console_->keysRead(), 4u);
  EXPECT_EQ(console_->output(), "");
}

TEST_F(ConsoleTest, WaitForSpaceEndsAtOnceWithoutAConsole) {
  Use("", "abc");  // then no key can be read any more
  WaitForSpace();
  EXPECT_EQ(console_->keysRead(), 3u);
}

}  // namespace
