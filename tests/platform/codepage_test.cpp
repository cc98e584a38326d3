#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/codepage.h"

namespace sentrel::platform {
namespace {

// Traditional Chinese whose code-page trail bytes are ASCII letters:
// 網 BE 57 ('W'), 絡 BD 6A ('j'), 設 D4 4F ('O'), 置 D6 C3.
const char kNetworkSettingsUtf8[] = "\xe7\xb6\xb2\xe7\xb5\xa1\xe8\xa8\xad\xe7\xbd\xae";

TEST(CodePage, ConvertsRealChineseText) {
  const std::string gbk = Utf8ToCodePage(kNetworkSettingsUtf8);
  EXPECT_EQ(gbk, "\xbe\x57\xbd\x6a\xd4\x4f\xd6\xc3");
  EXPECT_EQ(CodePageToUtf8(gbk), kNetworkSettingsUtf8);
}

TEST(CodePage, CaseChangesSkipDoubleByteCharacters) {
  const std::string gbk = Utf8ToCodePage(kNetworkSettingsUtf8);
  ASSERT_EQ(gbk.size(), 8u);
  const std::string mixed = "aB" + gbk + "cD";

  std::string upper = mixed;
  ToUpperInPlace(upper);
  EXPECT_EQ(upper, "AB" + gbk + "CD");
  EXPECT_EQ(CodePageToUtf8(upper), std::string("AB") + kNetworkSettingsUtf8 + "CD");

  std::string lower = mixed;
  ToLowerInPlace(lower);
  EXPECT_EQ(lower, "ab" + gbk + "cd");
  EXPECT_EQ(CodePageToUtf8(lower), std::string("ab") + kNetworkSettingsUtf8 + "cd");

  EXPECT_EQ(ToUpper(mixed), upper);
  EXPECT_EQ(ToLower(mixed), lower);
}

TEST(CodePage, CaseChangeTable) {
  struct Case {
    std::string in, upper, lower;
  };
  const std::vector<Case> cases = {
      {"", "", ""},
      {"Mozilla/5.0 (X11)", "MOZILLA/5.0 (X11)", "mozilla/5.0 (x11)"},
      {"@[`{", "@[`{", "@[`{"},  // the neighbours of the letter ranges
      // 0x80 and 0xFF are not lead bytes: the letter after them changes.
      {"\x80z\xffZ", "\x80Z\xffZ", "\x80z\xffz"},
      // A lead byte at the very end has no trail byte.
      {std::string("a\x81"), std::string("A\x81"), std::string("a\x81")},
      // Lead byte followed by a letter: one character, neither byte changes.
      {"\x81" "a\x81" "A", "\x81" "a\x81" "A", "\x81" "a\x81" "A"},
      // The byte after a double-byte character is a character of its own.
      {"\xbe\x57w", "\xbe\x57W", "\xbe\x57w"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ToUpper(c.in), c.upper);
    EXPECT_EQ(ToLower(c.in), c.lower);
  }
}

// The case change works on eight bytes at a time where it can; it must give
// what a byte-by-byte walk gives, wherever the double-byte characters and the
// letters fall.
TEST(CodePage, CaseChangesAgreeWithAByteWalk) {
  const auto walk = [](std::string text, bool upper) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto b = static_cast<unsigned char>(text[i]);
      if (b >= 0x81 && b <= 0xFE) {
        ++i;
      } else if (upper ? (b >= 'a' && b <= 'z') : (b >= 'A' && b <= 'Z')) {
        text[i] = static_cast<char>(b ^ 0x20);
      }
    }
    return text;
  };
  // Letters and their neighbours in the byte table, plain bytes, lead and
  // trail bytes.
  const std::string pool = "@AZ[`az{09 /-\x7f\x80\x81\xfe\xff\xc4" "Ab";
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text(random() % 40, ' ');
    for (char& c : text) c = pool[random() % pool.size()];
    if (random() % 2) {
      for (char& c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) c = 'Q';  // long plain runs too
      }
    }
    ASSERT_EQ(platform::ToLower(text), walk(text, false)) << i;
    ASSERT_EQ(platform::ToUpper(text), walk(text, true)) << i;
  }
}

TEST(CodePage, Utf8RoundTrips) {
  const std::vector<std::string> texts = {
      "",
      "plain ASCII 0123 ~!@#",
      "\xe7\xa8\x8b\xe5\xba\x8f\xe5\x8a\xa0\xe8\xbd\xbd\xe5\xae\x8c\xe6\x88\x90",  // 程序加载完成
      "%s\t\xe6\xa8\xa1\xe5\x9d\x97\xe8\xaf\xbb\xe5\x8f\x96\xe6\x88\x90\xe5\x8a\x9f",  // %s\t模块读取成功
      "\xe6\xa8\xa1\xe5\x9d\x97\xe6\x96\x87\xe4\xbb\xb6(*.ini)|*.ini",  // 模块文件(*.ini)|*.ini
  };
  for (const std::string& utf8 : texts) {
    SCOPED_TRACE(utf8);
    const std::string gbk = Utf8ToCodePage(utf8);
    EXPECT_EQ(CodePageToUtf8(gbk), utf8);
  }
  // 程序加载完成 in the code page.
  EXPECT_EQ(Utf8ToCodePage(texts[2]), "\xb3\xcc\xd0\xf2\xbc\xd3\xd4\xd8\xcd\xea\xb3\xc9");
}

TEST(CodePage, UnconvertibleBytesBecomeQuestionMarks) {
  struct Case {
    std::string in, out;
  };
  const std::vector<Case> toCodePage = {
      {"a\xf0\x9f\x98\x80" "b", "a?b"},  // an emoji has no code-page form
      {"a\xff" "b", "a?b"},              // not UTF-8 at all
      {"a\xe4\xb8", "a?"},               // cut off inside a character
      {"\xc3", "?"},
      {"x\x80\x80y", "x??y"},            // stray continuation bytes
  };
  for (const Case& c : toCodePage) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(Utf8ToCodePage(c.in), c.out);
  }
  const std::vector<Case> toUtf8 = {
      {"a\xff" "b", "a?b"},
      {"a\xb3", "a?"},  // a lead byte at the end
      {"\xd6\xd0\xff", "\xe4\xb8\xad?"},
  };
  for (const Case& c : toUtf8) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(CodePageToUtf8(c.in), c.out);
  }
}

TEST(CodePage, AllByteValuesNeverFail) {
  std::string every;
  for (int i = 0; i < 256; ++i) every.push_back(static_cast<char>(i));
  every += every;
  const std::string utf8 = CodePageToUtf8(every);
  EXPECT_EQ(utf8.substr(0, 128), every.substr(0, 128));  // ASCII passes unchanged
  const std::string back = Utf8ToCodePage(every);
  EXPECT_EQ(back.substr(0, 128), every.substr(0, 128));
  EXPECT_EQ(back.size(), every.size());  // every other byte became one '?'
}

}  // namespace
}  // namespace sentrel::platform
