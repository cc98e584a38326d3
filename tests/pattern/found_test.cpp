// The rule test (RulePattern::Found): which engine a pattern gets, exact
// answers for ambiguous loops on padded subjects far beyond what the
// backtracker's budget allows, the memo for back-references, and one compiled
// pattern shared by many threads while its automaton is being built.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "filter/pattern/pattern_cache.h"
#include "filter/pattern/rule_pattern.h"

namespace sentrel::pattern {
namespace {

TEST(Found, EngineChosenByPattern) {
  struct Case {
    const char* pattern;
    Engine engine;
  };
  const Case cases[] = {
      {"bot", Engine::Literal},
      {"(bot)|(spider)|(crawl)", Engine::LiteralSet},
      {"{bot}|(spider)", Engine::LiteralSet},
      {"^bot", Engine::Automaton},              // anchored: the automaton, at position 0 only
      {"(bot)|(spider)x", Engine::Automaton},  // the choice is a prefilter only
      {"a!b", Engine::Automaton},
      {"a!\\w", Engine::Automaton},
      {"a!$", Engine::Automaton},
      {"c$", Engine::Automaton},
      {"{\\d+}-\\0", Engine::MemoBacktracker},
      {"a!(bc)", Engine::MemoBacktracker},
      {"!!a", Engine::MemoBacktracker},
  };
  for (const Case& c : cases) {
    RulePattern p;
    ASSERT_EQ(p.Compile(c.pattern, true), CompileCode::Success) << c.pattern;
    EXPECT_EQ(p.engine(), c.engine) << c.pattern << ": " << EngineName(p.engine());
  }
  // Literal searches cannot fold case: a case-insensitive literal runs on the
  // automaton, which does.
  RulePattern p;
  ASSERT_EQ(p.Compile("Bot", false), CompileCode::Success);
  EXPECT_EQ(p.engine(), Engine::Automaton);
  EXPECT_TRUE(p.Found("GOOGLEBOT"));
  EXPECT_TRUE(p.Found("googlebot"));
  EXPECT_FALSE(p.Found("googlebo"));
}

// `pad` repeated to `size` bytes, then `tail`.
std::string Padded(const std::string& pad, std::size_t size, const std::string& tail) {
  std::string s;
  s.reserve(size + tail.size());
  while (s.size() + pad.size() <= size) s += pad;
  return s + tail;
}

// Loops that can cut the same text into repetitions in exponentially many
// ways, as administrators write them, with a padding that makes the
// backtracker try them all: found with `yes` at the end, not found with `no`.
struct Ambiguous {
  const char* pattern;
  const char* pad;
  const char* yes;
  const char* no;
};
const Ambiguous kAmbiguous[] = {
    {"(\\w|\\d)+bot", "abcdefghij", "!xbot", "!bot"},
    {"(\\w+\\s?)+=", "words", "=", "!"},  // `\s` is the letter s
    {"(a|(aa))+b", "a", "b", "c"},  // `a|aa` alone would be `a` or `a`, then `a`
    {"((a+)+)+b", "a", "b", "c"},
    {"(.+,)+x", "a,", "x", "y"},
    {"((bot)|(bo)|(ot)|(t))+x", "bot", "x", "y"},
    {"(\\z|\\d)+-\\d", "0123456789", "-7", "-x"},
    {"^(\\w|[a-z])*$", "abc", "", "!"},
};

TEST(Found, AmbiguousLoopsOnPaddedSubjectsAreExact) {
  PatternCache cache;
  for (const Ambiguous& a : kAmbiguous) {
    RulePattern p;
    ASSERT_EQ(p.Compile(a.pattern, true), CompileCode::Success) << a.pattern;
    EXPECT_EQ(p.engine(), Engine::Automaton) << a.pattern;
    RulePattern starved;  // every search simulated
    starved.SetAutomatonBudget(0);
    ASSERT_EQ(starved.Compile(a.pattern, true), CompileCode::Success);
    for (std::size_t size : {30, 1024, 8192, 65536}) {
      const std::string yes = Padded(a.pad, size, a.yes);
      const std::string no = Padded(a.pad, size, a.no);
      EXPECT_TRUE(p.Found(yes)) << a.pattern << " / " << size;
      EXPECT_FALSE(p.Found(no)) << a.pattern << " / " << size;
      EXPECT_TRUE(cache.MatchRulePattern(a.pattern, yes)) << a.pattern << " / " << size;
      EXPECT_FALSE(cache.MatchRulePattern(a.pattern, no)) << a.pattern << " / " << size;
      if (size <= 8192) {
        EXPECT_TRUE(starved.Found(yes)) << a.pattern << " / " << size;
        EXPECT_FALSE(starved.Found(no)) << a.pattern << " / " << size;
      }
    }
  }
}

// The literal searches and the automaton's skipping of start positions look
// at 16 bytes at a time: a text at every offset of subjects of every length
// around those blocks, whole and cut short, among bytes that make false
// candidates.
TEST(Found, LiteralsAtEveryOffset) {
  const char* patterns[] = {"bot", "(spider)|(crawl)", "(\\.\\./)|(%2e%2e)", "(python)|(curl)|(wget)|(libwww)",
                            "(<|(%3c))script", "x(spider)|(crawl)", "[?&]{\\w}=[^&]*&\\0="};
  const char* texts[] = {"bot", "spider", "crawl", "../", "%2e%2e", "libwww", "%3cscript", "xcrawl", "&id=1&id="};
  const std::string filler = "spidecrawbo.%2e%3cscrip/libw&id=";
  for (const char* pattern : patterns) {
    RulePattern p;
    ASSERT_EQ(p.Compile(pattern, true), CompileCode::Success) << pattern;
    PatternMatch m;
    for (std::size_t length = 0; length <= 40; ++length) {
      std::string base;
      while (base.size() < length) base += filler[(base.size() * 7) % filler.size()];
      for (const char* text : texts) {
        for (std::size_t at = 0; at <= length; ++at) {
          for (std::size_t cut : {std::size_t{0}, std::size_t{1}}) {
            std::string subject = base;
            subject.insert(at, std::string(text, std::strlen(text) - cut));
            ASSERT_EQ(p.Found(subject), p.Match(subject, m)) << pattern << " / " << subject;
          }
        }
      }
    }
  }
}

// Back-references keep the backtracker, with its memo: loops before the
// captured group no longer multiply the work, so the answer comes well
// within the budget where the plain backtracker runs out of it.
TEST(Found, MemoKeepsBackReferencesWithinBudget) {
  struct Case {
    const char* pattern;
    std::string yes;
    std::string no;
  };
  // Runs of one byte are still given back one by one from every start
  // position, which is quadratic: hence the moderate length.
  const std::string as(500, 'a');
  const Case cases[] = {
      {"(a|(aa))+{b}\\0", as + "bb", as + "bc"},
      {"((a+)+)+{b}!(bc)\\0", as + "bb", as + "bc"},
      {"{x}(a|(aa))+\\0", "x" + as + "x", "x" + as + "y"},
  };
  for (const Case& c : cases) {
    RulePattern p;
    ASSERT_EQ(p.Compile(c.pattern, true), CompileCode::Success) << c.pattern;
    ASSERT_EQ(p.engine(), Engine::MemoBacktracker) << c.pattern;
    PatternMatch plain;
    EXPECT_FALSE(p.Match(c.no, plain));
    EXPECT_TRUE(plain.budgetExhausted()) << c.pattern;  // the fault the memo mends
    for (const std::string* subject : {&c.yes, &c.no}) {
      PatternMatch m;
      EXPECT_EQ(p.Found(*subject, m), subject == &c.yes) << c.pattern;
      EXPECT_FALSE(m.budgetExhausted()) << c.pattern;
      EXPECT_LT(m.stepsUsed(), kDefaultStepBudget / 10) << c.pattern;
    }
    EXPECT_TRUE(p.Found(c.yes)) << c.pattern;
    EXPECT_FALSE(p.Found(c.no)) << c.pattern;
  }
}

// Many request threads test the same compiled patterns while their automata
// are still empty: states are built and published concurrently (and, with a
// small budget, some searches fall back to simulation midway).
TEST(PatternConcurrency, SharedPatternsBuildTheirAutomataConcurrently) {
  const std::vector<std::string> patterns = {"(\\w|\\d)+bot", "^mozilla/\\d\\.\\d", "(.+,)+x", "[a-z]+!\\d=\\z",
                                             "((bot)|(bo)|(ot)|(t))+x", "a.*b.*c$"};
  std::vector<std::string> subjects;
  for (int i = 0; i < 64; ++i) {
    std::string s = "mozilla/" + std::to_string(i % 10) + "." + std::to_string(i) + " ";
    for (int j = 0; j < i; ++j) s += static_cast<char>("abot,x=1c!"[(i * 7 + j * 3) % 10]);
    subjects.push_back(s);
  }
  for (std::size_t budget : {std::size_t{0}, std::size_t{6000}, std::size_t{64 * 1024}}) {
    std::vector<RulePattern> shared(patterns.size());
    std::vector<std::vector<bool>> want(patterns.size());
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      shared[i].SetAutomatonBudget(budget);
      ASSERT_EQ(shared[i].Compile(patterns[i], true), CompileCode::Success);
      RulePattern own;
      own.Compile(patterns[i], true);
      PatternMatch m;
      for (const std::string& s : subjects) want[i].push_back(own.Match(s, m));
    }
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int round = 0; round < 20; ++round) {
          for (std::size_t i = 0; i < patterns.size(); ++i) {
            for (std::size_t k = 0; k < subjects.size(); ++k) {
              const std::size_t s = (k * (t + 1) + round) % subjects.size();
              if (shared[i].Found(subjects[s]) != want[i][s]) ++wrong[t];
            }
          }
        }
      });
    }
    for (auto& th : threads) th.join();
    for (int w : wrong) EXPECT_EQ(w, 0) << "budget " << budget;
    for (const RulePattern& p : shared) EXPECT_LE(p.automatonBytes(), std::max<std::size_t>(budget, 8192));
  }
}

}  // namespace
}  // namespace sentrel::pattern
