// Which match, and which group contents, the order of preference reports:
// left operand before right, greedy more before fewer, lazy fewer before
// more, the first success rather than the longest; groups undone on
// backtracking and a looped group reporting its last repetition.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "filter/pattern/rule_pattern.h"

namespace sentrel::pattern {
namespace {

constexpr int kOut = -1;  // a group that took no part

struct OrderCase {
  std::string pattern;
  std::string subject;
  int start;
  int end;
  std::vector<std::pair<int, int>> groups;
};

class SearchOrderTest : public testing::TestWithParam<OrderCase> {};

TEST_P(SearchOrderTest, ReportsPreferredMatch) {
  const OrderCase& c = GetParam();
  RulePattern p;
  ASSERT_EQ(p.Compile(c.pattern, true), CompileCode::Success) << c.pattern;
  PatternMatch m;
  ASSERT_TRUE(p.Match(c.subject, m)) << c.pattern << " / " << c.subject;
  EXPECT_EQ(static_cast<int>(m.start()), c.start) << c.pattern << " / " << c.subject;
  EXPECT_EQ(static_cast<int>(m.end()), c.end) << c.pattern << " / " << c.subject;
  ASSERT_EQ(m.groupCount(), c.groups.size()) << c.pattern;
  for (std::uint32_t g = 0; g < m.groupCount(); ++g) {
    const auto [from, to] = c.groups[g];
    if (from == kOut) {
      EXPECT_FALSE(m.groupTookPart(g)) << c.pattern << " group " << g;
      EXPECT_EQ(m.groupEnd(g), kNoPosition);
    } else {
      EXPECT_EQ(m.groupStart(g), static_cast<std::size_t>(from)) << c.pattern << " group " << g;
      EXPECT_EQ(m.groupEnd(g), static_cast<std::size_t>(to)) << c.pattern << " group " << g;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    FirstNotLongest, SearchOrderTest,
    testing::Values(
        // The left operand is tried first, and the first success wins.
        OrderCase{"{a|(ab)}{c|(bcd)}", "abcd", 0, 4, {{0, 1}, {1, 4}}},
        OrderCase{"{(ab)|a}{c|(bcd)}", "abcd", 0, 3, {{0, 2}, {2, 3}}},
        OrderCase{"{(ab)|a}{c|(bcd)}", "abd abcd", 4, 7, {{4, 6}, {6, 7}}},
        OrderCase{"{a|(ab)}", "ab", 0, 1, {{0, 1}}},
        // Earliest start position wins over a longer match further on.
        OrderCase{"{a+}", "xaybbaaa", 1, 2, {{1, 2}}},
        // Greedy takes more first; lazy takes fewer first.
        OrderCase{"{a*}{a*}", "aaa", 0, 3, {{0, 3}, {3, 3}}},
        OrderCase{"{a*?}{a*}", "aaa", 0, 3, {{0, 0}, {0, 3}}},
        OrderCase{"{a+?}{a*}", "aaa", 0, 3, {{0, 1}, {1, 3}}},
        OrderCase{"{.*}{\\d+}", "ab123", 0, 5, {{0, 4}, {4, 5}}},
        OrderCase{"{.*?}{\\d+}", "ab123", 0, 5, {{0, 2}, {2, 5}}},
        OrderCase{"{x?}x", "x", 0, 1, {{0, 0}}},
        OrderCase{"{x??}x", "xx", 0, 1, {{0, 0}}},
        OrderCase{"{x?}", "x", 0, 1, {{0, 1}}},
        OrderCase{"{x??}", "x", 0, 0, {{0, 0}}},
        // `\n` prefers the lone CR.
        OrderCase{"{\\n}", "\r\n", 0, 1, {{0, 1}}},
        // Groups are numbered by their opening braces.
        OrderCase{"{{a}b}{c}", "abc", 0, 3, {{0, 2}, {0, 1}, {2, 3}}}));

INSTANTIATE_TEST_SUITE_P(
    GroupsOnBacktracking, SearchOrderTest,
    testing::Values(
        // The first alternative captured, then failed: its group is undone.
        OrderCase{"({a}x)|({a}y)", "ay", 0, 2, {{kOut, kOut}, {0, 1}}},
        OrderCase{"{a*}ab", "aaab", 0, 4, {{0, 2}}},
        OrderCase{"{a}?{a}b", "ab", 0, 2, {{kOut, kOut}, {0, 1}}},
        // A group inside a loop reports its last repetition.
        OrderCase{"({\\d}-)+", "1-2-3-", 0, 6, {{4, 5}}},
        OrderCase{"({a}|b)*c", "abc", 0, 3, {{0, 1}}},
        OrderCase{"({a}|{b})+", "ab", 0, 2, {{0, 1}, {1, 2}}},
        // A repetition that failed gives its capture back.
        OrderCase{"({\\d}-)+\\d$", "1-2-3", 0, 5, {{2, 3}}},
        // A group that captured in a look-ahead's item keeps nothing.
        OrderCase{"!{b}{.}", "a", 0, 1, {{kOut, kOut}, {0, 1}}},
        OrderCase{"!(x{a}y){.}", "xay", 1, 2, {{kOut, kOut}, {1, 2}}}));

INSTANTIATE_TEST_SUITE_P(
    BackReferencesInLoops, SearchOrderTest,
    testing::Values(
        // \0 sees the last repetition's capture.
        OrderCase{"({\\d}-)+\\0", "1-2-1-1", 0, 7, {{4, 5}}},
        OrderCase{"({\\d}-)+\\0", "1-2-2", 0, 5, {{2, 3}}},
        // Inside its own group, \0 sees the previous repetition (or nothing
        // on the first, which matches empty).
        OrderCase{"{a\\0}+", "aaaa", 0, 3, {{1, 3}}},
        OrderCase{"{a\\0}", "aa", 0, 1, {{0, 1}}},
        OrderCase{"({\\w}\\0)+", "aabbc", 0, 4, {{2, 3}}}));

INSTANTIATE_TEST_SUITE_P(
    LookAheadInQuantifiers, SearchOrderTest,
    testing::Values(
        OrderCase{"{(!a.)+}", "bcad", 0, 2, {{0, 2}}},
        OrderCase{"{(!a.)*}a", "bcad", 0, 3, {{0, 2}}},
        // A repetition that consumes nothing ends the loop, so the loop
        // moves on to the next alternative inside it.
        OrderCase{"{(!a|b)*}", "bbc", 0, 2, {{0, 2}}},
        OrderCase{"{(!a|b)*?}c", "bbc", 0, 3, {{0, 2}}},
        // `!x?` is (!x)? and `!x*` a loop over the look-ahead.
        OrderCase{"b{!a?}", "ba", 0, 1, {{1, 1}}},
        OrderCase{"{!a*}b", "b", 0, 1, {{0, 0}}},
        OrderCase{"{(!(ab).)+}", "xyabz", 0, 2, {{0, 2}}}));

}  // namespace
}  // namespace sentrel::pattern
