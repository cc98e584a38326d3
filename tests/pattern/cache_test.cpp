// The compiled-pattern cache gives the same answers as compiling for each
// call, keeps its bounds, and serves many threads at once.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "filter/pattern/pattern_cache.h"
#include "filter/pattern/rule_pattern.h"

namespace sentrel::pattern {
namespace {

const std::vector<std::string>& Patterns() {
  static const std::vector<std::string> patterns = {
      "bot", "spider", "(spider)|(crawl)", "[a-z]+bot", "^mozilla/\\d\\.\\d", "\\.php\\?id=\\z", "union.+select",
      "ab|cd", "a{2}", "x[^a]", "\\q", "{\\w+}=\\0", "(ab]", "[]", "a\\", "", "^", "$", "c$", "a!b",
  };
  return patterns;
}

const std::vector<std::string>& Subjects() {
  static const std::vector<std::string> subjects = {
      "", "googlebot/2.1", "baiduspider", "mozilla/5.0 (windows)", "/index.php?id=42", "1 union all select 2",
      "xabd", "a2", "xb", "say \"hi\"", "ab=ab", "abc", "ac",
  };
  return subjects;
}

bool Uncached(const std::string& pattern, const std::string& subject) {
  RulePattern p;
  if (p.Compile(pattern, true) != CompileCode::Success) return false;
  PatternMatch m;
  return p.Match(subject, m);
}

TEST(PatternCache, SameAnswersAsCompilingEachTime) {
  PatternCache cache;
  for (int round = 0; round < 2; ++round) {
    for (const auto& pattern : Patterns()) {
      for (const auto& subject : Subjects()) {
        EXPECT_EQ(cache.MatchRulePattern(pattern, subject), Uncached(pattern, subject))
            << pattern << " / " << subject;
        EXPECT_EQ(MatchRulePattern(pattern, subject), Uncached(pattern, subject)) << pattern << " / " << subject;
      }
    }
  }
  // Patterns that fail to compile are kept too.
  EXPECT_EQ(cache.size(), Patterns().size());
  EXPECT_GT(cache.bytes(), 0u);
}

TEST(PatternCache, KeyEndsAtFirstZeroByte) {
  using namespace std::string_view_literals;
  PatternCache cache;
  EXPECT_TRUE(cache.MatchRulePattern("ab\0(("sv, "xab"));
  EXPECT_TRUE(cache.MatchRulePattern("ab"sv, "xab"));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_FALSE(cache.MatchRulePattern(std::string_view{}, "x"));
  EXPECT_FALSE(cache.MatchRulePattern("x", std::string_view{}));
}

TEST(PatternCache, GivesPositionsThroughCallersContext) {
  PatternCache cache;
  PatternMatch m;
  ASSERT_TRUE(cache.Match("{\\d+}", "ab123c", m));
  EXPECT_EQ(m.start(), 2u);
  EXPECT_EQ(m.groupEnd(0), 5u);
  m.SetStepBudget(100);
  EXPECT_FALSE(cache.Match("(a+)+b", std::string(30, 'a') + "cb", m));
  EXPECT_TRUE(m.budgetExhausted());
}

TEST(PatternCache, FullCacheStillAnswersCorrectly) {
  PatternCache byCount(3);
  PatternCache byBytes(100, 1);  // no entry fits
  for (int round = 0; round < 2; ++round) {
    for (const auto& pattern : Patterns()) {
      for (const auto& subject : Subjects()) {
        const bool want = Uncached(pattern, subject);
        EXPECT_EQ(byCount.MatchRulePattern(pattern, subject), want) << pattern << " / " << subject;
        EXPECT_EQ(byBytes.MatchRulePattern(pattern, subject), want) << pattern << " / " << subject;
      }
    }
  }
  EXPECT_EQ(byCount.size(), 3u);
  EXPECT_EQ(byBytes.size(), 0u);
}

TEST(PatternCache, ManyThreadsAtOnce) {
  // A small cache, so threads race to insert and some patterns overflow it.
  PatternCache cache(8);
  std::vector<std::vector<bool>> want;
  for (const auto& pattern : Patterns()) {
    want.emplace_back();
    for (const auto& subject : Subjects()) want.back().push_back(Uncached(pattern, subject));
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 30; ++round) {
        for (std::size_t i = 0; i < Patterns().size(); ++i) {
          const std::size_t pi = (i + static_cast<std::size_t>(t) * 5) % Patterns().size();
          for (std::size_t si = 0; si < Subjects().size(); ++si) {
            if (cache.MatchRulePattern(Patterns()[pi], Subjects()[si]) != want[pi][si]) ++wrong;
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(cache.size(), 8u);
}

}  // namespace
}  // namespace sentrel::pattern
