// What the dialect finds: one table of (pattern, subject, expected whole
// match or "not found"), run through Compile/Match and MatchRulePattern.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "filter/pattern/rule_pattern.h"

namespace sentrel::pattern {
namespace {

constexpr int kNo = -1;

struct MatchCase {
  std::string pattern;
  std::string subject;
  int start;  // kNo: not found
  int end;
};

std::string Describe(const MatchCase& c) {
  std::string out = "pattern \"";
  for (const std::string* text : {&c.pattern, &c.subject}) {
    for (unsigned char ch : *text) {
      if (ch < 0x20 || ch >= 0x7f) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", ch);
        out += buf;
      } else {
        out += static_cast<char>(ch);
      }
    }
    out += text == &c.pattern ? "\" subject \"" : "\"";
  }
  return out;
}

class MatchTableTest : public testing::TestWithParam<MatchCase> {};

TEST_P(MatchTableTest, FindsExpectedMatch) {
  const MatchCase& c = GetParam();
  RulePattern p;
  ASSERT_EQ(p.Compile(std::string_view(c.pattern), true), CompileCode::Success) << Describe(c);
  PatternMatch m;
  const bool found = p.Match(std::string_view(c.subject), m);
  EXPECT_EQ(found, c.start != kNo) << Describe(c);
  if (found && c.start != kNo) {
    EXPECT_EQ(m.start(), static_cast<std::size_t>(c.start)) << Describe(c);
    EXPECT_EQ(m.end(), static_cast<std::size_t>(c.end)) << Describe(c);
  }
  EXPECT_FALSE(m.budgetExhausted());
  EXPECT_EQ(MatchRulePattern(c.pattern, c.subject), c.start != kNo) << Describe(c);
}

// Operands of `|` are single items; a stray closer ends the pattern.
INSTANTIATE_TEST_SUITE_P(
    Structure, MatchTableTest,
    testing::Values(MatchCase{"ab|cd", "xabd", 1, 4}, MatchCase{"ab|cd", "acd", 0, 3},
                    MatchCase{"ab|cd", "ab", kNo, 0}, MatchCase{"ab|cd", "cd", kNo, 0},
                    MatchCase{"(ab)|(cd)", "cd", 0, 2}, MatchCase{"(ab)|(cd)", "xab", 1, 3},
                    MatchCase{"a|b|c", "xc", 1, 2}, MatchCase{"a|bc|d", "ad", 0, 2},
                    MatchCase{"abc)xyz", "zabcz", 1, 4}, MatchCase{"abc)xyz", "xyz", kNo, 0},
                    MatchCase{"abc]xyz", "abc", 0, 3}, MatchCase{"abc}xyz", "abc", 0, 3},
                    MatchCase{"xa|", "x", 0, 1}, MatchCase{"xa|", "xa", 0, 1}, MatchCase{"xa|b|", "yx", 1, 2},
                    MatchCase{"(a|)", "b", 0, 0}, MatchCase{"a||b", "ab", 0, 2}, MatchCase{"a||b", "|b", 0, 2},
                    MatchCase{"a||b", "a|b", 1, 3}, MatchCase{"a||b", "b", kNo, 0},
                    MatchCase{"a|b*", "c", 0, 0}, MatchCase{"a{2}", "a2", 0, 2}, MatchCase{"a{2}", "aa", kNo, 0},
                    MatchCase{"!", "x", 0, 0}, MatchCase{"a!", "ba", 1, 2}));

// Anchors, and the bytes that are only special in one place.
INSTANTIATE_TEST_SUITE_P(
    Anchors, MatchTableTest,
    testing::Values(MatchCase{"^abc", "abcd", 0, 3}, MatchCase{"^abc", "xabc", kNo, 0},
                    MatchCase{"c$", "abc", 2, 3}, MatchCase{"c$", "abcd", kNo, 0},
                    MatchCase{"$", "", 0, 0}, MatchCase{"$", "a", kNo, 0}, MatchCase{"^$", "", 0, 0},
                    MatchCase{"", "", 0, 0}, MatchCase{"", "abc", 0, 0}, MatchCase{"^", "abc", 0, 0},
                    MatchCase{"^", "", 0, 0},
                    // The position after the last byte is never tried on its own.
                    MatchCase{"a*$", "b", kNo, 0}, MatchCase{"a*$", "ba", 1, 2},
                    MatchCase{"a$b", "a$b", 0, 3}, MatchCase{"^^a", "^a", 0, 2}, MatchCase{"^^a", "a", kNo, 0},
                    MatchCase{"a^", "a^", 0, 2}, MatchCase{"$$", "$", 0, 1}, MatchCase{"$$", "x$", 1, 2}));

// Quantifiers: exactly one per item, greedy or lazy.
INSTANTIATE_TEST_SUITE_P(
    Quantifiers, MatchTableTest,
    testing::Values(MatchCase{"*a", "*a", 0, 2}, MatchCase{"a**", "b*", 1, 2}, MatchCase{"a**", "b", kNo, 0},
                    MatchCase{"\\*", "*", 0, 1}, MatchCase{"a???", "a?", 0, 2}, MatchCase{"a???", "a", kNo, 0},
                    MatchCase{"a+", "baaa", 1, 4}, MatchCase{"a+?", "aaa", 0, 1}, MatchCase{"a*?", "aaa", 0, 0},
                    MatchCase{"a??b", "ab", 0, 2}, MatchCase{"a?b", "b", 0, 1}, MatchCase{"(ab)+", "xababa", 1, 5},
                    MatchCase{"(ab)*?c", "ababc", 0, 5}, MatchCase{"(ab)+?", "abab", 0, 2},
                    MatchCase{"a.*b", "axxbxb", 0, 6}, MatchCase{"a.*?b", "axxbxb", 0, 4},
                    MatchCase{"x(a|b)+y", "xabbay", 0, 6}));

// Escapes and abbreviations.
INSTANTIATE_TEST_SUITE_P(
    Escapes, MatchTableTest,
    testing::Values(
        MatchCase{"\\t", "t", 0, 1}, MatchCase{"\\t", "\t", kNo, 0}, MatchCase{"[\\t]", "\t", 0, 1},
        MatchCase{"[\\t]", "t", kNo, 0}, MatchCase{"\\r", "r", 0, 1}, MatchCase{"\\r", "\r", kNo, 0},
        MatchCase{"\\s\\S\\D\\W", "sSDW", 0, 4}, MatchCase{"\\.", "a.", 1, 2}, MatchCase{"\\.", "a", kNo, 0},
        MatchCase{"\\\\", "\\", 0, 1}, MatchCase{"\\{", "{", 0, 1}, MatchCase{"\\(x\\)", "(x)", 0, 3},
        MatchCase{"\\b", " ", 0, 1}, MatchCase{"\\b", "\t", 0, 1}, MatchCase{"\\b", "x", kNo, 0},
        MatchCase{"\\n", "\r", 0, 1}, MatchCase{"\\n", "\n", 0, 1}, MatchCase{"\\n", "\r\n", 0, 1},
        MatchCase{"^\\n$", "\r\n", 0, 2}, MatchCase{"\\n", "x", kNo, 0},
        MatchCase{"\\q", "\"x\"", 0, 3}, MatchCase{"\\q", "'x'", 0, 3}, MatchCase{"\\q", "\"\"", 0, 2},
        MatchCase{"\\q", "a'b'c", 1, 4}, MatchCase{"\\q", "\"x'", kNo, 0}, MatchCase{"\\q", "\"x", kNo, 0},
        MatchCase{"\\z", "a007", 1, 4}, MatchCase{"\\w+", "ab cd", 0, 2}, MatchCase{"\\w", "12ab3", 2, 4},
        MatchCase{"\\a+", "-x1y-", 1, 4}, MatchCase{"\\c", "1x", 1, 2}, MatchCase{"\\d\\d", "a12", 1, 3},
        MatchCase{"\\h+", "xfF09g", 1, 5}, MatchCase{"\\q\\q", "'a'\"b\"", 0, 6},
        MatchCase{"\\z?x", "x", 0, 1}, MatchCase{"{\\d+}-\\0", "12-12", 0, 5},
        MatchCase{"{\\d+}-\\0", "12-13", kNo, 0}, MatchCase{"{a}\\0", "aa", 0, 2},
        MatchCase{"{a}?b\\0", "b", 0, 1},  // a group that took no part matches empty
        MatchCase{"{}{x}\\01", "xx", 0, 2}));

// Bracket classes.
INSTANTIATE_TEST_SUITE_P(
    Classes, MatchTableTest,
    testing::Values(MatchCase{"[-a]", "-", 0, 1}, MatchCase{"[-a]", "a", 0, 1}, MatchCase{"[-]", "x-", 1, 2},
                    MatchCase{"[abc]", "xxc", 2, 3}, MatchCase{"[^abc]", "abcd", 3, 4},
                    MatchCase{"x[^a]", "x", kNo, 0}, MatchCase{"x[^a]", "xb", 0, 2},
                    MatchCase{"[a-c]+", "xabcd", 1, 4}, MatchCase{"[!-\\]+", "\\!a", 0, 2},
                    MatchCase{"[\\]]", "]", 0, 1}, MatchCase{"[\\-]", "-", 0, 1}, MatchCase{"[\\\\]", "\\", 0, 1},
                    MatchCase{"[\\^]", "^", 0, 1}, MatchCase{"[^^]", "^x", 1, 2}, MatchCase{"[a^]", "^", 0, 1},
                    MatchCase{"[a-b-]", "-", 0, 1}, MatchCase{"[a]]", "a", 0, 1}, MatchCase{"[$]", "$", 0, 1},
                    MatchCase{"[.]", "a", kNo, 0}, MatchCase{".", "\n", 0, 1}, MatchCase{"a.b", "a\rb", 0, 3}));

// Negative look-ahead.
INSTANTIATE_TEST_SUITE_P(
    LookAhead, MatchTableTest,
    testing::Values(MatchCase{"a!b", "ac", 0, 1}, MatchCase{"a!b", "a", 0, 1}, MatchCase{"a!b", "ab", kNo, 0},
                    MatchCase{"!a", "b", 0, 0}, MatchCase{"!a", "a", kNo, 0}, MatchCase{"!a", "", 0, 0},
                    MatchCase{"!a", "ab", 1, 1}, MatchCase{"!!a", "ba", 1, 1}, MatchCase{"!!a", "b", kNo, 0},
                    MatchCase{"x!(ab)", "xab", kNo, 0}, MatchCase{"x!(ab)", "xac", 0, 1},
                    MatchCase{"!\\d\\w", "1a", 1, 2}, MatchCase{"a!$", "a", kNo, 0}, MatchCase{"a!$", "ab", 0, 1},
                    MatchCase{"b!a*", "ba", 0, 1}, MatchCase{"b!a+", "ba", kNo, 0}, MatchCase{"b!a+", "bc", 0, 1},
                    MatchCase{"(!a.)+", "bcad", 0, 2}, MatchCase{"(!a|b)*c", "bbc", 0, 3}));

// Bytes 0x80 to 0xFF, and double-byte characters of the code page (GBK).
INSTANTIATE_TEST_SUITE_P(
    HighBytes, MatchTableTest,
    testing::Values(
        MatchCase{"\xD6\xD0", "\xD6\xD0\xCE\xC4", 0, 2},          // one double-byte character
        MatchCase{"\xCE\xC4", "\xD6\xD0\xCE\xC4", 2, 4},
        MatchCase{"\xD0\xCE", "\xD6\xD0\xCE\xC4", 1, 3},          // bytes, not characters
        MatchCase{"^.$", "\xD6\xD0", kNo, 0}, MatchCase{"^..$", "\xD6\xD0", 0, 2},
        MatchCase{"[\xB0-\xF7][\xA1-\xFE]", "ab\xD6\xD0", 2, 4},
        MatchCase{"[\x81-\xFE]+", "a\x81\xFE\xFF", 1, 3}, MatchCase{"[^\x80-\xFF]", "\x90\xE0x", 2, 3},
        MatchCase{"[\x01-\xFF]", "\x80", 0, 1}, MatchCase{"[~-\x81]+", "}~\x7F\x80\x81\x82", 1, 5},
        MatchCase{"\xFF+", "a\xFF\xFF", 1, 3}, MatchCase{"\\\xD6", "\xD6", 0, 1},
        MatchCase{"{\xD6\xD0}\\0", "\xD6\xD0\xD6\xD0", 0, 4},
        // A trail byte that looks like an ASCII letter is still just a byte.
        MatchCase{"A", "\x81\x41", 1, 2}, MatchCase{"\\c", "\x81\x41", 1, 2}));

// A pattern and a subject both end at their first zero byte.
TEST(MatchRulePattern, TextsEndAtFirstZeroByte) {
  using namespace std::string_view_literals;
  EXPECT_FALSE(MatchRulePattern("cd"sv, "ab\0cd"sv));
  EXPECT_FALSE(MatchRulePattern("(cd)|(ef)"sv, "ab\0cd"sv));
  EXPECT_TRUE(MatchRulePattern("(ab)|(cd)"sv, "ab\0cd"sv));
  EXPECT_TRUE(MatchRulePattern("b\0zzz"sv, "ab"sv));
  EXPECT_TRUE(MatchRulePattern("b$"sv, "ab\0cd"sv));
  // Anchored: decided on the whole subject unless a zero byte was read.
  EXPECT_TRUE(MatchRulePattern("^ab"sv, "ab\0cd"sv));
  EXPECT_TRUE(MatchRulePattern("^ab$"sv, "ab\0cd"sv));
  EXPECT_FALSE(MatchRulePattern("^ab.*d"sv, "ab\0cd"sv));
  EXPECT_FALSE(MatchRulePattern("^a.c"sv, "a\0c"sv));
  // A pattern that may match nothing matches an empty subject, though it
  // has no byte to start at.
  EXPECT_TRUE(MatchRulePattern("!(ab)$"sv, ""sv));
  EXPECT_TRUE(MatchRulePattern("!(ab)$"sv, "\0x"sv));
  RulePattern p;
  PatternMatch m;
  ASSERT_EQ(p.Compile("d", true), CompileCode::Success);
  EXPECT_FALSE(p.Match("ab\0cd"sv, m));
}

TEST(MatchRulePattern, FailingPatternIsNeverFound) {
  for (const char* pattern : {"(ab]", "[]", "a\\", "(a*)*", "\\0"}) {
    for (const char* subject : {"", "ab", "(ab]", "a\\", "aaaa", "\\0"}) {
      EXPECT_FALSE(MatchRulePattern(pattern, subject)) << pattern << " / " << subject;
    }
  }
}

TEST(MatchRulePattern, MissingTextsAreNotFound) {
  EXPECT_FALSE(MatchRulePattern(std::string_view{}, "abc"));
  EXPECT_FALSE(MatchRulePattern("", std::string_view{}));
  EXPECT_TRUE(MatchRulePattern("", ""));
  RulePattern p;
  ASSERT_EQ(p.Compile("a", true), CompileCode::Success);
  PatternMatch m;
  EXPECT_FALSE(p.Match(static_cast<const char*>(nullptr), &m));
  EXPECT_FALSE(p.Match("a", nullptr));
  EXPECT_TRUE(p.Match("a", &m));
}

// Rule matching is case-sensitive: the filter lower-cases values, so capital
// letters in a pattern never match there.
TEST(MatchRulePattern, IsCaseSensitive) {
  EXPECT_TRUE(MatchRulePattern("bot", "googlebot/2.1"));
  EXPECT_FALSE(MatchRulePattern("Bot", "googlebot/2.1"));
  EXPECT_FALSE(MatchRulePattern("bot", "GoogleBOT"));
}

TEST(CaseInsensitive, LowerCasesPatternAndSubject) {
  RulePattern p;
  PatternMatch m;
  ASSERT_EQ(p.Compile("BoT", false), CompileCode::Success);
  ASSERT_TRUE(p.Match("xxBOTxx", m));
  EXPECT_EQ(m.start(), 2u);  // positions in the caller's subject
  EXPECT_EQ(m.end(), 5u);
  EXPECT_TRUE(p.Match("bot", m));

  ASSERT_EQ(p.Compile("[A-C]+", false), CompileCode::Success);
  ASSERT_TRUE(p.Match("xaBcD", m));
  EXPECT_EQ(m.start(), 1u);
  EXPECT_EQ(m.end(), 4u);

  // Back-references compare without regard to case.
  ASSERT_EQ(p.Compile("{\\w}-\\0", false), CompileCode::Success);
  EXPECT_TRUE(p.Match("Ab-aB", m));
  ASSERT_EQ(p.Compile("{\\w}-\\0", true), CompileCode::Success);
  EXPECT_FALSE(p.Match("Ab-aB", m));
  EXPECT_TRUE(p.Match("Ab-Ab", m));

  // Only A to Z change: a lower-cased `\D` is the digit abbreviation.
  ASSERT_EQ(p.Compile("\\D", false), CompileCode::Success);
  EXPECT_TRUE(p.Match("7", m));
  EXPECT_FALSE(p.Match("D", m));
  ASSERT_EQ(p.Compile("\xC4", false), CompileCode::Success);
  EXPECT_TRUE(p.Match("\xC4", m));
  EXPECT_FALSE(p.Match("\xE4", m));
}

}  // namespace
}  // namespace sentrel::pattern
