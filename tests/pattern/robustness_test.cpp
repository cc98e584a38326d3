// Limits: deep nesting without stack overflow, the step budget against
// runaway backtracking, stack growth and its bound, many groups, and one
// compiled pattern shared by several threads.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "filter/pattern/rule_pattern.h"

namespace sentrel::pattern {
namespace {

constexpr std::size_t kDeep = 100000;

TEST(Nesting, HundredThousandOpeningParenthesesAreRejected) {
  RulePattern p;
  EXPECT_EQ(p.Compile(std::string(kDeep, '('), true), CompileCode::ParenExpected);
  EXPECT_EQ(p.Compile(std::string(kDeep, '{'), true), CompileCode::BraceExpected);
  EXPECT_FALSE(MatchRulePattern(std::string(kDeep, '('), "((("));
}

TEST(Nesting, HundredThousandNestedGroupsCompileAndMatch) {
  RulePattern p;
  PatternMatch m;
  ASSERT_EQ(p.Compile(std::string(kDeep, '(') + "a" + std::string(kDeep, ')'), true), CompileCode::Success);
  ASSERT_TRUE(p.Match("xa", m));
  EXPECT_EQ(m.start(), 1u);

  // Nested match groups with a loop in the middle.
  ASSERT_EQ(p.Compile(std::string(kDeep, '{') + "(ab)+" + std::string(kDeep, '}') + "\\99999", true),
            CompileCode::Success);
  EXPECT_EQ(p.groupCount(), kDeep);
  // The loop gives back repetitions until the back-reference fits.
  ASSERT_TRUE(p.Match("xababab", m));
  EXPECT_EQ(m.start(), 1u);
  EXPECT_EQ(m.end(), 5u);
  EXPECT_EQ(m.groupStart(0), 1u);
  EXPECT_EQ(m.groupEnd(0), 3u);
  EXPECT_EQ(m.groupEnd(kDeep - 1), 3u);
}

TEST(Nesting, LongChainsOfLookAheadsAndAlternatives) {
  RulePattern p;
  PatternMatch m;
  // An even number of `!` is a positive look-ahead, an odd number a negative one.
  ASSERT_EQ(p.Compile(std::string(kDeep, '!') + "a", true), CompileCode::Success);
  EXPECT_TRUE(p.Match("ba", m));
  EXPECT_EQ(m.start(), 1u);
  EXPECT_FALSE(p.Match("b", m));
  ASSERT_EQ(p.Compile(std::string(kDeep + 1, '!') + "a", true), CompileCode::Success);
  EXPECT_TRUE(p.Match("b", m));
  EXPECT_FALSE(p.Match("a", m));

  std::string chain;
  for (std::size_t i = 0; i < kDeep; ++i) chain += "(x)|";
  chain += "(yz)";
  ASSERT_EQ(p.Compile(chain, true), CompileCode::Success);
  ASSERT_TRUE(p.Match("ayz", m));
  EXPECT_EQ(m.start(), 1u);
}

// A loop over a single run, as in `\w+`, is as cheap as the run itself: no
// way of cutting the run into repetitions is tried twice.
TEST(Budget, RunsOfRunsStayLinear) {
  const std::string letters(1000, 'a');  // quadratic over start positions, no worse
  for (const char* pattern : {"(a+)+b", "(a+)*b", "{a+}+b", "({a+})+\\0b", "/\\w+/\\w+/x"}) {
    RulePattern p;
    ASSERT_EQ(p.Compile(pattern, true), CompileCode::Success) << pattern;
    PatternMatch m;
    EXPECT_FALSE(p.Match(letters, m)) << pattern;
    EXPECT_FALSE(m.budgetExhausted()) << pattern;
    EXPECT_FALSE(p.Match("/" + letters + "/" + letters + "/y", m)) << pattern;
    EXPECT_FALSE(m.budgetExhausted()) << pattern;
  }
  RulePattern p;
  ASSERT_EQ(p.Compile("{a+}+\\0b", true), CompileCode::Success);
  PatternMatch m;
  ASSERT_TRUE(p.Match("xaaaaab", m));
  EXPECT_EQ(m.start(), 2u);  // "aa" then "aa" again: the group holds its last repetition
  EXPECT_EQ(m.groupStart(0), 2u);
  EXPECT_EQ(m.groupEnd(0), 4u);
}

TEST(Budget, RunawayBacktrackingStopsAsNotFound) {
  // The `b` at the very end lets the start positions in the run be tried (a
  // subject without one is rejected before the search).
  const std::string as = std::string(40, 'a') + "cb";
  for (const char* pattern : {"(a|(aa))+b", "((a+)+)+b", "(a+b?)+b"}) {
    RulePattern p;
    ASSERT_EQ(p.Compile(pattern, true), CompileCode::Success) << pattern;
    PatternMatch m;
    EXPECT_FALSE(p.Match(as, m)) << pattern;
    EXPECT_TRUE(m.budgetExhausted()) << pattern;
    EXPECT_EQ(m.stepsUsed(), kDefaultStepBudget);
    EXPECT_FALSE(MatchRulePattern(pattern, as)) << pattern;
    // The same pattern still finds what it should, well within the budget.
    EXPECT_TRUE(p.Match("xaaab", m)) << pattern;
    EXPECT_FALSE(m.budgetExhausted());
  }
}

TEST(Budget, CallerCanChooseBudget) {
  RulePattern p;
  ASSERT_EQ(p.Compile("(a|b)+c", true), CompileCode::Success);
  PatternMatch m;
  m.SetStepBudget(20);
  EXPECT_FALSE(p.Match("abababababababababababababababc", m));
  EXPECT_TRUE(m.budgetExhausted());
  m.SetStepBudget(kDefaultStepBudget);
  EXPECT_TRUE(p.Match("abababababababababababababababc", m));
  EXPECT_FALSE(m.budgetExhausted());
}

TEST(Budget, OrdinaryRulesUseAFractionOfIt) {
  const std::string agent(
      "mozilla/5.0 (windows nt 10.0; win64; x64) applewebkit/537.36 (khtml, like gecko) "
      "chrome/120.0.0.0 safari/537.36 edg/120.0.0.0 some-long-extension-token/1.2.3.4.5.6 "
      "another-product/9.9 (compatible; +http://www.example.com/bot.html)");
  std::string big;
  while (big.size() < 4000) big += agent;
  for (const char* pattern : {"bot", "(spider)|(crawl)", "[a-z]+bot", "union.+select", "^mozilla/\\d\\.\\d",
                              "\\.php\\?id=\\z", "(python)|(curl)|(wget)", "\\q", "x!y.*z", "{\\w+}/\\z.*\\0"}) {
    RulePattern p;
    ASSERT_EQ(p.Compile(pattern, true), CompileCode::Success) << pattern;
    PatternMatch m;
    p.Match(big, m);
    EXPECT_FALSE(m.budgetExhausted()) << pattern;
    EXPECT_LT(m.stepsUsed(), kDefaultStepBudget / 100) << pattern;
  }
}

TEST(Stack, GrowsBeyondItsFirst256Entries) {
  RulePattern p;
  ASSERT_EQ(p.Compile("({a}b)*$", true), CompileCode::Success);
  std::string subject;
  for (int i = 0; i < 5000; ++i) subject += "ab";
  PatternMatch m;
  EXPECT_EQ(m.stackCapacity(), PatternMatch::kInitialStackEntries);
  ASSERT_TRUE(p.Match(subject, m));
  EXPECT_EQ(m.start(), 0u);
  EXPECT_EQ(m.end(), subject.size());
  EXPECT_EQ(m.groupStart(0), subject.size() - 2);
  EXPECT_GT(m.stackCapacity(), PatternMatch::kInitialStackEntries);
}

TEST(Stack, BoundedLikeTheBudget) {
  RulePattern p;
  ASSERT_EQ(p.Compile("^({a}b)*$", true), CompileCode::Success);
  std::string subject;
  for (std::size_t i = 0; i < PatternMatch::kMaxStackEntries / 2; ++i) subject += "ab";
  PatternMatch m;
  EXPECT_FALSE(p.Match(subject, m));
  EXPECT_TRUE(m.budgetExhausted());
  EXPECT_EQ(m.stackCapacity(), PatternMatch::kMaxStackEntries);
  // One-byte loops need no stack per repetition and are not affected.
  ASSERT_EQ(p.Compile("^[ab]*$", true), CompileCode::Success);
  EXPECT_TRUE(p.Match(subject, m));
}

TEST(Slots, ManyGroupsAndContextReuse) {
  std::string pattern = "x";
  std::string subject;
  for (int i = 0; i < 40; ++i) {
    pattern += "{.}";
    subject += static_cast<char>('a' + i % 26);
  }
  PatternMatch m;
  RulePattern wide;
  ASSERT_EQ(wide.Compile(pattern, true), CompileCode::Success);
  RulePattern narrow;
  ASSERT_EQ(narrow.Compile("{b}", true), CompileCode::Success);
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(wide.Match("ax" + subject, m));
    EXPECT_EQ(m.start(), 1u);
    ASSERT_EQ(m.groupCount(), 40u);
    for (std::uint32_t g = 0; g < 40; ++g) {
      EXPECT_EQ(m.groupStart(g), g + 2);
      EXPECT_EQ(m.groupEnd(g), g + 3);
    }
    ASSERT_TRUE(narrow.Match("ab", m));
    ASSERT_EQ(m.groupCount(), 1u);
    EXPECT_EQ(m.groupStart(0), 1u);
    EXPECT_EQ(m.groupStart(1), kNoPosition);  // beyond the pattern's groups
  }
}

TEST(Threads, OneCompiledPatternManySearchers) {
  RulePattern p;
  ASSERT_EQ(p.Compile("{\\w+}=\\z&", true), CompileCode::Success);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      PatternMatch m;
      for (int i = 0; i < 2000; ++i) {
        const std::string subject = "q=x&id" + std::to_string(i) + "&page=" + std::to_string(i) + "&";
        if (!p.Match(subject, m) || m.groupEnd(0) - m.groupStart(0) != 4 || m.start() != subject.rfind("page")) {
          ++failures[t];
        }
        if (p.Match("id=x&", m)) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
}  // namespace sentrel::pattern
