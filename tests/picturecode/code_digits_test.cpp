#include "filter/picturecode/picture_code_maker.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/random.h"

namespace sentrel::picturecode {
namespace {

// A scripted byte source: hands out the bytes of `script` in order, then fails.
std::vector<std::uint8_t> script;
std::size_t scriptPos = 0;

bool ScriptedSource(void* buffer, std::size_t size) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  for (std::size_t i = 0; i < size; ++i) {
    if (scriptPos >= script.size()) return false;
    out[i] = script[scriptPos++];
  }
  return true;
}

bool FailingSource(void*, std::size_t) { return false; }

bool HighBytesOnly(void* buffer, std::size_t size) {
  std::memset(buffer, 0xFF, size);
  return true;
}

TEST(CodeDigitsTest, MapsBytesOntoTheAlphabetAndSkipsBiasedBytes) {
  // 250 to 255 would favour the remainders 0 to 5; they are skipped.
  script = {0, 9, 250, 255, 13, 249, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0,
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  scriptPos = 0;
  char digits[5];
  ASSERT_TRUE(PickCodeDigits(digits, 5, ScriptedSource));
  EXPECT_EQ(std::string(digits, 5), "10406");
}

TEST(CodeDigitsTest, DrawsAgainWhenABlockIsUsedUp) {
  script.assign(32, 251);  // a whole block of rejected bytes
  script.insert(script.end(), 32, 7);
  scriptPos = 0;
  char digits[3];
  ASSERT_TRUE(PickCodeDigits(digits, 3, ScriptedSource));
  EXPECT_EQ(std::string(digits, 3), "888");
  EXPECT_EQ(scriptPos, 64u);
}

TEST(CodeDigitsTest, ReportsABrokenSource) {
  char digits[24];
  EXPECT_FALSE(PickCodeDigits(digits, 24, FailingSource));
  EXPECT_FALSE(PickCodeDigits(digits, 4, HighBytesOnly));  // gives up instead of spinning
}

TEST(CodeDigitsTest, SystemSourceGivesEveryDigitAboutEqually) {
  constexpr int kDigits = 50000;
  std::vector<char> digits(kDigits);
  ASSERT_TRUE(PickCodeDigits(digits.data(), kDigits, platform::SecureRandomBytes));
  std::array<int, 10> counts{};
  for (char c : digits) {
    ASSERT_GE(c, '0');
    ASSERT_LE(c, '9');
    ++counts[c - '0'];
  }
  // 5000 expected each, standard deviation about 67: six deviations either way.
  for (int d = 0; d < 10; ++d) {
    EXPECT_GT(counts[d], 4600) << d;
    EXPECT_LT(counts[d], 5400) << d;
  }
}

}  // namespace
}  // namespace sentrel::picturecode
