// Compile result codes of the pattern dialect.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "filter/pattern/rule_pattern.h"

namespace sentrel::pattern {
namespace {

struct CodeCase {
  std::string pattern;
  int code;
};

class CompileCodeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(CompileCodeTest, GivesCode) {
  const CodeCase& c = GetParam();
  RulePattern p;
  EXPECT_EQ(static_cast<int>(p.Compile(std::string_view(c.pattern), true)), c.code) << "pattern: " << c.pattern;
  EXPECT_EQ(static_cast<int>(p.result()), c.code);
  EXPECT_EQ(p.compiled(), c.code == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CompileCodeTest,
    testing::Values(
        // Success, including the forms that look like faults but are not.
        CodeCase{"", 0}, CodeCase{"^", 0}, CodeCase{"$", 0}, CodeCase{"^$", 0},
        CodeCase{"abc)xyz", 0}, CodeCase{"abc]", 0}, CodeCase{"abc}", 0},
        CodeCase{"a)(", 0},        // everything after the stray closer is ignored
        CodeCase{"[a]]", 0},       // the second ] is a stray closer
        CodeCase{"xa|", 0}, CodeCase{"a||b", 0}, CodeCase{"(a|)", 0}, CodeCase{"a|!", 0},
        CodeCase{"!", 0}, CodeCase{"!!", 0}, CodeCase{"a!)", 0},
        CodeCase{"a{2}", 0}, CodeCase{"*a", 0}, CodeCase{"a**", 0}, CodeCase{"a???", 0},
        CodeCase{"a+++", 0}, CodeCase{"a?*", 0}, CodeCase{"|", 0},
        CodeCase{"[-a]", 0}, CodeCase{"[-]", 0}, CodeCase{"[a-b-]", 0}, CodeCase{"[!-\\]", 0},
        CodeCase{"[\\]]", 0}, CodeCase{"[^^]", 0}, CodeCase{"[a\\-z]", 0},
        CodeCase{"(a?)?", 0}, CodeCase{"(a+)*", 0}, CodeCase{"(a?b)+", 0}, CodeCase{"()*", 0},
        CodeCase{"{}+", 0}, CodeCase{"(a|)*", 0}, CodeCase{"(!a)*", 0}, CodeCase{"!a*", 0},
        CodeCase{"\\w+", 0}, CodeCase{"\\z*", 0}, CodeCase{"\\q+", 0}, CodeCase{"\\n*", 0},
        CodeCase{"{a}\\0", 0}, CodeCase{"{\\0}", 0}, CodeCase{"{}{}\\01", 0}, CodeCase{"{a}\\0*", 0},
        CodeCase{"({a}|)\\0", 0},  // a brace in a dropped alternation was still read
        // `}` expected.
        CodeCase{"{ab)", 2}, CodeCase{"{a", 2}, CodeCase{"{", 2}, CodeCase{"a{", 2}, CodeCase{"{a]", 2},
        // `)` expected.
        CodeCase{"(ab]", 3}, CodeCase{"(a", 3}, CodeCase{"(", 3}, CodeCase{"((a}", 3}, CodeCase{"(a|", 3},
        // `]` expected.
        CodeCase{"[a-]", 4}, CodeCase{"[abc", 4}, CodeCase{"[", 4}, CodeCase{"[^", 4}, CodeCase{"[--]", 4},
        CodeCase{"[a-", 4}, CodeCase{"[a\\", 4}, CodeCase{"[\\", 4}, CodeCase{"[!-\\", 4}, CodeCase{"[a-\\", 8}, CodeCase{"([a)", 4},
        // A lone backslash at the end.
        CodeCase{"a\\", 5}, CodeCase{"\\", 5}, CodeCase{"(a\\", 5},
        // Empty class.
        CodeCase{"[]", 6}, CodeCase{"[^]", 6}, CodeCase{"a[]b", 6},
        // Back-reference to a group not yet opened.
        CodeCase{"\\0", 7}, CodeCase{"{a}\\1", 7}, CodeCase{"\\0{a}", 7}, CodeCase{"\\00", 7},
        CodeCase{"{a}\\99999999999999999999", 7},
        // Range end below its start.
        CodeCase{"[z-a]", 8}, CodeCase{"[a--]", 8}, CodeCase{"[\xff-\x80]", 8},
        // Repetition of something that can match empty.
        CodeCase{"(a*)*", 9}, CodeCase{"(a?)+", 9}, CodeCase{"(a+?)*", 9}, CodeCase{"(a?b?)+", 9},
        CodeCase{"(a|b?)*", 9}, CodeCase{"(!a?)*", 9}, CodeCase{"{a*}+?", 9}, CodeCase{"(a?\?)*?", 9},
        CodeCase{"((a*))*", 9}, CodeCase{"!(a?)*", 9},
        CodeCase{"!a?*", 0}));  // (!a)? followed by a literal star

TEST(CompileCode, MissingPatternIsInvalidInput) {
  RulePattern p;
  EXPECT_EQ(p.Compile(static_cast<const char*>(nullptr), true), CompileCode::InvalidInput);
  EXPECT_EQ(p.Compile(std::string_view{}, true), CompileCode::InvalidInput);
  PatternMatch m;
  EXPECT_FALSE(p.Match("", m));
}

TEST(CompileCode, PatternEndsAtFirstZeroByte) {
  RulePattern p;
  // Without the cut, "(" would leave a group open.
  EXPECT_EQ(p.Compile(std::string_view("ab\0(", 4), true), CompileCode::Success);
  PatternMatch m;
  EXPECT_TRUE(p.Match("xab", m));
}

TEST(CompileCode, RecompilingDiscardsTheEarlierProgram) {
  RulePattern p;
  PatternMatch m;
  ASSERT_EQ(p.Compile("{a}{b}", true), CompileCode::Success);
  EXPECT_EQ(p.groupCount(), 2u);
  ASSERT_EQ(p.Compile("(x", true), CompileCode::ParenExpected);
  EXPECT_EQ(p.groupCount(), 0u);
  EXPECT_FALSE(p.Match("ab", m));
  EXPECT_FALSE(p.Match("x", m));
  ASSERT_EQ(p.Compile("x", true), CompileCode::Success);
  EXPECT_TRUE(p.Match("x", m));
}

TEST(CompileCode, CaseInsensitiveCompilesTheLowerCasedPattern) {
  RulePattern p;
  // [Z-a] is a valid range; lower-cased it becomes [z-a].
  EXPECT_EQ(p.Compile("[Z-a]", true), CompileCode::Success);
  EXPECT_EQ(p.Compile("[Z-a]", false), CompileCode::InvalidRange);
  EXPECT_FALSE(p.caseSensitive());
}

TEST(CompileCode, Meanings) {
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::Success), "success");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::OutOfMemory), "out of memory");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::BraceExpected), "} expected");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::ParenExpected), ") expected");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::BracketExpected), "] expected");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::Unexpected), "unexpected");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::EmptyClass), "empty class");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::InvalidGroup), "invalid group");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::InvalidRange), "invalid range");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::EmptyRepetition), "empty repetition");
  EXPECT_STREQ(CompileCodeMeaning(CompileCode::InvalidInput), "invalid input");
}

TEST(CompileCode, GroupCountIncludesBracesInDroppedAlternations) {
  RulePattern p;
  ASSERT_EQ(p.Compile("{a}({b}|)", true), CompileCode::Success);
  EXPECT_EQ(p.groupCount(), 2u);
  // Braces after a stray closer are never read.
  ASSERT_EQ(p.Compile("{a})({b}", true), CompileCode::Success);
  EXPECT_EQ(p.groupCount(), 1u);
}

}  // namespace
}  // namespace sentrel::pattern
