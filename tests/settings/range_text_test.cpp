// Range texts of a module's request window (Setp) and a step's match count
// (Times), and the digit test the range checks and address lists share.
#include <gtest/gtest.h>

#include <string>

#include "filter/settings/module_reader.h"

namespace sentrel {
namespace {

TEST(IsAllDigits, AcceptsOnlyNonEmptyDigitTexts) {
  struct Case {
    std::string text;
    bool digits;
  };
  const Case cases[] = {
      {"0", true},       {"0123456789", true}, {"", false},   {" 1", false},
      {"1 ", false},     {"-1", false},        {"+1", false}, {"1.2", false},
      {"a", false},      {"12a", false},       {"/", false},  {":", false},
      {"\xa3\xb1", false},  // a full-width digit in the code page is not a digit
      {std::string("1\0" "2", 3), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsAllDigits(c.text), c.digits) << "text '" << c.text << "'";
  }
}

struct RangeCase {
  std::string text;
  RangeError error;
  std::uint32_t low;
  std::uint32_t high;
};

void CheckRanges(RangeKind kind, const std::vector<RangeCase>& cases) {
  for (const auto& c : cases) {
    RangeValue range{777, 888};
    RangeError error = ParseRangeText(c.text, kind, range);
    EXPECT_EQ(error, c.error) << "text '" << c.text << "'";
    if (c.error == RangeError::None) {
      EXPECT_EQ(range.low, c.low) << "text '" << c.text << "'";
      EXPECT_EQ(range.high, c.high) << "text '" << c.text << "'";
    } else {
      // A refused text leaves the range untouched.
      EXPECT_EQ(range.low, 777u) << "text '" << c.text << "'";
      EXPECT_EQ(range.high, 888u) << "text '" << c.text << "'";
    }
  }
}

TEST(ParseRangeText, ModuleWindow) {
  CheckRanges(RangeKind::Setp, {
      {"0", RangeError::None, 0, 0},  // no window
      {"5", RangeError::None, 5, 5},
      {"3-10", RangeError::None, 3, 10},
      {"1-2-3", RangeError::None, 1, 2},  // a further "-" ends the upper number
      {"4-4", RangeError::None, 4, 4},
      {"007-010", RangeError::None, 7, 10},
      {"00", RangeError::None, 0, 0},
      {"0-10", RangeError::LowBelowOne, 0, 0},
      {"-3", RangeError::LowBelowOne, 0, 0},  // the empty lower part is 0
      {"10-3", RangeError::HighBelowLow, 0, 0},
      {"3-", RangeError::HighBelowLow, 0, 0},  // the empty upper part is 0
      {"3--5", RangeError::HighBelowLow, 0, 0},
      {"", RangeError::NotDigits, 0, 0},
      {"-", RangeError::NotDigits, 0, 0},
      {"--", RangeError::NotDigits, 0, 0},
      {"a", RangeError::NotDigits, 0, 0},
      {"1 - 3", RangeError::NotDigits, 0, 0},
      {"+3", RangeError::NotDigits, 0, 0},
      {"1-3x", RangeError::NotDigits, 0, 0},
  });
}

TEST(ParseRangeText, StepMatchCount) {
  CheckRanges(RangeKind::StepTimes, {
      {"2", RangeError::None, 2, 2},
      {"0-3", RangeError::None, 0, 3},  // the lower bound may be 0
      {"-3", RangeError::None, 0, 3},
      {"1-2", RangeError::None, 1, 2},
      {"4-4", RangeError::None, 4, 4},
      {"0", RangeError::HighZero, 0, 0},
      {"0-0", RangeError::HighZero, 0, 0},
      {"00", RangeError::HighZero, 0, 0},
      {"5-2", RangeError::HighBelowLow, 0, 0},
      {"5-", RangeError::HighBelowLow, 0, 0},
      {"", RangeError::NotDigits, 0, 0},
      {"x", RangeError::NotDigits, 0, 0},
      {"-", RangeError::NotDigits, 0, 0},
  });
}

TEST(ParseRangeText, HugeNumbersStayAtTheLargestSignedValue) {
  RangeValue range;
  ASSERT_EQ(ParseRangeText("99999999999999999999", RangeKind::Setp, range), RangeError::None);
  EXPECT_EQ(range.low, 2147483647u);
  EXPECT_EQ(range.high, 2147483647u);
  ASSERT_EQ(ParseRangeText("2147483647-99999999999", RangeKind::StepTimes, range),
            RangeError::None);
  EXPECT_EQ(range.low, 2147483647u);
  EXPECT_EQ(range.high, 2147483647u);
  // 4294967296 would wrap to 0 in 32 bits; it must not become a valid 0 window.
  ASSERT_EQ(ParseRangeText("4294967296", RangeKind::Setp, range), RangeError::None);
  EXPECT_EQ(range.low, 2147483647u);
}

}  // namespace
}  // namespace sentrel
