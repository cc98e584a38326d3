// Rule pattern matching on realistic request values (user agents, URLs and
// query strings of 50 to 500 bytes, lower-cased as the filter passes them):
//   CompilePerCall  a fresh RulePattern and PatternMatch for every match
//   Cached          PatternCache::MatchRulePattern, as the filter calls it
//   RuleTest        one RulePattern, Found (the rule test's engine only)
//   Precompiled     one RulePattern, one reused PatternMatch (the
//                   backtracker, which also reports positions)
//   Pcre2 / Pcre2Jit  the same searches with PCRE2 on equivalent patterns
// Each benchmark runs one pattern against every subject per iteration; the
// `per_match` counter is the time of one search. `AllRules` runs every
// pattern against every subject, like the rule tests of a batch of requests.
//
// Worst cases: `Ambiguous/*` searches patterns with ambiguous loops in an
// 8 KiB padded subject (found and not found, one search each per iteration);
// `AmbiguousBacktracker` is the first of them with the backtracker, which
// runs out of its step budget. `Memory64Modules` fills a cache with the rule
// patterns of 64 modules, searches every subject and the padded ones with
// each, and reports the bytes the automata hold (`automaton_bytes`).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filter/pattern/pattern_cache.h"
#include "filter/pattern/rule_pattern.h"

#if SENTREL_BENCH_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

namespace {

using sentrel::pattern::CompileCode;
using sentrel::pattern::MatchRulePattern;
using sentrel::pattern::PatternCache;
using sentrel::pattern::PatternMatch;
using sentrel::pattern::RulePattern;

struct RuleCase {
  const char* name;
  const char* pattern;  // the filter's dialect
  const char* pcre2;    // the same search in PCRE2 syntax
};

// Patterns of the kind administrators write, each with its PCRE2 twin.
const std::vector<RuleCase>& Rules() {
  static const std::vector<RuleCase> rules = {
      {"literal", "bot", "bot"},
      {"two_words", "(spider)|(crawl)", "spider|crawl"},
      {"class_then_literal", "[a-z]+bot", "[a-z]+bot"},
      {"anchored_prefix", "^mozilla/\\d\\.\\d \\(", "^mozilla/[0-9]\\.[0-9] \\("},
      {"four_tools", "(python)|(curl)|(wget)|(libwww)", "python|curl|wget|libwww"},
      {"sql_words", "union.+select", "union.+select"},
      {"numeric_id", "\\.php\\?id=\\z", "\\.php\\?id=[0-9]+"},
      {"traversal", "(\\.\\./)|(%2e%2e)", "\\.\\./|%2e%2e"},
      {"repeated_param", "[?&]{\\w}=[^&]*&\\0=", "[?&]([a-zA-Z]+)=[^&]*&\\1="},
      {"script_tag", "(<|(%3c))script", "(?:<|%3c)script"},
  };
  return rules;
}

std::string LongQuery() {
  std::string q =
      "/landing?utm_source=newsletter&utm_medium=email&utm_campaign=spring_sale_2024&utm_content=hero_button"
      "&utm_term=running+shoes&gclid=cj0kcqjw8o2zbhd3arisanyn4w1d6tx5p0m3kkf2vj5tq9z8a7b6c5d4e3f2g1h0"
      "&fbclid=iwar3x9y8z7w6v5u4t3s2r1q0p9o8n7m6l5k4j3i2h1g0f&session=4b2c8d9e0f1a2b3c4d5e6f7a8b9c0d1e"
      "&lang=en-us&currency=usd&country=us&ref=partner_site_footer_link&promo=save20&variant=b";
  return q;
}

// Values as the filter passes them: lower-cased.
const std::vector<std::string>& Subjects() {
  static const std::vector<std::string> subjects = {
      "mozilla/5.0 (windows nt 10.0; win64; x64) applewebkit/537.36 (khtml, like gecko) chrome/120.0.0.0 "
      "safari/537.36",
      "mozilla/5.0 (iphone; cpu iphone os 17_1 like mac os x) applewebkit/605.1.15 (khtml, like gecko) "
      "version/17.1 mobile/15e148 safari/604.1",
      "mozilla/5.0 (compatible; examplebot/2.1; +http://www.example.com/bot.html)",
      "python-requests/2.31.0",
      "mozilla/5.0 (x11; linux x86_64; rv:121.0) gecko/20100101 firefox/121.0",
      "/shop/catalog/product.php?id=12345&category=shoes&color=blue&size=42&ref=homepage_banner",
      "/index.php?id=1%20union%20all%20select%20username,password%20from%20users--",
      "/static/js/vendor.3f9a8b2c.min.js?v=20240501",
      "/search?q=cheap+flights+to+tokyo&from=2024-05-01&to=2024-05-14&adults=2&children=0&class=economy"
      "&sort=price_asc&page=3&sessionid=9f8e7d6c5b4a39281706f5e4d3c2b1a0",
      LongQuery(),
      "/files/download?path=..%2f..%2f..%2fetc%2fpasswd&name=report.pdf",
      "/comment?text=%3cscript%3ealert(1)%3c/script%3e&id=7&id=8",
  };
  return subjects;
}

void PerMatch(benchmark::State& state, std::size_t matchesPerIteration) {
  state.counters["per_match"] = benchmark::Counter(static_cast<double>(matchesPerIteration),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void CompilePerCall(benchmark::State& state, const RuleCase& rule) {
  for (auto _ : state) {
    for (const auto& subject : Subjects()) {
      RulePattern p;
      p.Compile(rule.pattern, true);
      PatternMatch m;
      benchmark::DoNotOptimize(p.Match(subject, m));
    }
  }
  PerMatch(state, Subjects().size());
}

void Cached(benchmark::State& state, const RuleCase& rule) {
  PatternCache cache;
  for (auto _ : state) {
    for (const auto& subject : Subjects()) benchmark::DoNotOptimize(cache.MatchRulePattern(rule.pattern, subject));
  }
  PerMatch(state, Subjects().size());
}

void RuleTest(benchmark::State& state, const RuleCase& rule) {
  RulePattern p;
  p.Compile(rule.pattern, true);
  for (auto _ : state) {
    for (const auto& subject : Subjects()) benchmark::DoNotOptimize(p.Found(subject));
  }
  PerMatch(state, Subjects().size());
  state.SetLabel(sentrel::pattern::EngineName(p.engine()));
}

void Precompiled(benchmark::State& state, const RuleCase& rule) {
  RulePattern p;
  p.Compile(rule.pattern, true);
  PatternMatch m;
  for (auto _ : state) {
    for (const auto& subject : Subjects()) benchmark::DoNotOptimize(p.Match(subject, m));
  }
  PerMatch(state, Subjects().size());
}

void AllRulesCompilePerCall(benchmark::State& state) {
  for (auto _ : state) {
    for (const auto& rule : Rules()) {
      for (const auto& subject : Subjects()) {
        RulePattern p;
        p.Compile(rule.pattern, true);
        PatternMatch m;
        benchmark::DoNotOptimize(p.Match(subject, m));
      }
    }
  }
  PerMatch(state, Rules().size() * Subjects().size());
}

void AllRulesCached(benchmark::State& state) {
  PatternCache cache;
  for (auto _ : state) {
    for (const auto& rule : Rules()) {
      for (const auto& subject : Subjects()) benchmark::DoNotOptimize(cache.MatchRulePattern(rule.pattern, subject));
    }
  }
  PerMatch(state, Rules().size() * Subjects().size());
}

// Ambiguous loops: a padding that the loop can cut into repetitions in
// exponentially many ways, then a tail that makes the pattern match (`yes`)
// or not (`no`).
struct AmbiguousCase {
  const char* name;
  const char* pattern;
  const char* pad;
  const char* yes;
  const char* no;
};

const std::vector<AmbiguousCase>& AmbiguousCases() {
  static const std::vector<AmbiguousCase> cases = {
      {"word_or_digit", "(\\w|\\d)+bot", "abcdefghij", "!xbot", "!bot"},
      {"words_opt_s", "(\\w+\\s?)+=", "words", "=", "!"},
      {"a_or_aa", "(a|(aa))+b", "a", "b", "c"},
      {"nested_runs", "((a+)+)+b", "a", "b", "c"},
      {"comma_list", "(.+,)+x", "a,", "x", "y"},
      {"overlapping_words", "((bot)|(bo)|(ot)|(t))+x", "bot", "x", "y"},
      {"digit_runs", "(\\z|\\d)+-\\d", "0123456789", "-7", "-x"},
      {"anchored_letters", "^(\\w|[a-z])*$", "abc", "", "!"},
  };
  return cases;
}

std::string PaddedSubject(const AmbiguousCase& c, std::size_t size, const char* tail) {
  std::string s;
  while (s.size() + std::strlen(c.pad) <= size) s += c.pad;
  return s + tail;
}

void Ambiguous(benchmark::State& state, const AmbiguousCase& c) {
  RulePattern p;
  p.Compile(c.pattern, true);
  const std::string yes = PaddedSubject(c, 8192, c.yes);
  const std::string no = PaddedSubject(c, 8192, c.no);
  if (!p.Found(yes) || p.Found(no)) {
    std::fprintf(stderr, "wrong answer: %s\n", c.pattern);
    std::abort();
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(p.Found(yes));
    benchmark::DoNotOptimize(p.Found(no));
  }
  PerMatch(state, 2);
  state.SetLabel(sentrel::pattern::EngineName(p.engine()));
}

void AmbiguousBacktracker(benchmark::State& state) {
  const AmbiguousCase& c = AmbiguousCases()[0];
  RulePattern p;
  p.Compile(c.pattern, true);
  const std::string no = PaddedSubject(c, 8192, c.no);
  PatternMatch m;
  for (auto _ : state) benchmark::DoNotOptimize(p.Match(no, m));
  PerMatch(state, 1);
  state.SetLabel(m.budgetExhausted() ? "budget exhausted" : "finished");
}

void Memory64Modules(benchmark::State& state) {
  std::vector<std::string> base;
  for (const auto& rule : Rules()) base.push_back(rule.pattern);
  for (const auto& c : AmbiguousCases()) base.push_back(c.pattern);
  for (const char* extra : {"\\.xml$", "^(curl)|(wget)|(python)", "^/api/", "page=\\z", "(--)|(%27)",
                            "^/wp-(login)|(admin)", "\\.(jpg)|(png)$", "/\\w+/\\w+/\\w+/\\w+/",
                            "[&;]id=\\d\\d\\d\\d", "(\\.env)|(\\.git/)|(phpinfo)", "[a-z][a-z]", "compatible"}) {
    base.push_back(extra);
  }
  std::vector<std::string> subjects = Subjects();
  for (const auto& c : AmbiguousCases()) {
    subjects.push_back(PaddedSubject(c, 8192, c.yes));
    subjects.push_back(PaddedSubject(c, 8192, c.no));
  }
  // 64 modules of 3 steps with one rule each, every pattern distinct.
  std::vector<std::string> patterns;
  for (int module = 0; module < 64; ++module) {
    for (int step = 0; step < 3; ++step) {
      const std::string& b = base[(module * 3 + step) % base.size()];
      patterns.push_back(module * 3 + step < static_cast<int>(base.size())
                             ? b
                             : "(" + b + ")|(m" + std::to_string(module) + ")");
    }
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    PatternCache cache;
    for (const auto& pattern : patterns) {
      for (const auto& subject : subjects) benchmark::DoNotOptimize(cache.MatchRulePattern(pattern, subject));
    }
    bytes = cache.automatonBytes();
  }
  state.counters["automaton_bytes"] = static_cast<double>(bytes);
  state.counters["patterns"] = static_cast<double>(patterns.size());
}

#if SENTREL_BENCH_PCRE2
struct Pcre2Rule {
  pcre2_code* code = nullptr;
  pcre2_match_data* data = nullptr;
};

Pcre2Rule CompilePcre2(const RuleCase& rule, bool jit) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  Pcre2Rule r;
  // DOTALL: `.` of the dialect matches CR and LF too.
  r.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(rule.pcre2), PCRE2_ZERO_TERMINATED, PCRE2_DOTALL, &error,
                         &offset, nullptr);
  if (r.code == nullptr) {
    std::fprintf(stderr, "pcre2 cannot compile %s\n", rule.pcre2);
    std::abort();
  }
  if (jit) pcre2_jit_compile(r.code, PCRE2_JIT_COMPLETE);
  r.data = pcre2_match_data_create_from_pattern(r.code, nullptr);
  return r;
}

bool Pcre2Match(const Pcre2Rule& r, const std::string& subject) {
  return pcre2_match(r.code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, 0, r.data, nullptr) >=
         0;
}

void Free(Pcre2Rule& r) {
  pcre2_match_data_free(r.data);
  pcre2_code_free(r.code);
}

void Pcre2(benchmark::State& state, const RuleCase& rule, bool jit) {
  Pcre2Rule r = CompilePcre2(rule, jit);
  for (auto _ : state) {
    for (const auto& subject : Subjects()) benchmark::DoNotOptimize(Pcre2Match(r, subject));
  }
  PerMatch(state, Subjects().size());
  Free(r);
}

// The comparison is only fair if both find the same: check every pair once.
void CheckEquivalence() {
  for (const auto& rule : Rules()) {
    Pcre2Rule r = CompilePcre2(rule, false);
    for (const auto& subject : Subjects()) {
      if (Pcre2Match(r, subject) != MatchRulePattern(rule.pattern, subject)) {
        std::fprintf(stderr, "answers differ: %s / %s on %s\n", rule.pattern, rule.pcre2, subject.c_str());
        std::abort();
      }
    }
    Free(r);
  }
}
#endif

void Register() {
  for (const auto& rule : Rules()) {
    RulePattern probe;
    if (probe.Compile(rule.pattern, true) != CompileCode::Success) {
      std::fprintf(stderr, "pattern does not compile: %s\n", rule.pattern);
      std::abort();
    }
    const std::string name = rule.name;
    benchmark::RegisterBenchmark(("CompilePerCall/" + name).c_str(), CompilePerCall, rule);
    benchmark::RegisterBenchmark(("Cached/" + name).c_str(), Cached, rule);
    benchmark::RegisterBenchmark(("RuleTest/" + name).c_str(), RuleTest, rule);
    benchmark::RegisterBenchmark(("Precompiled/" + name).c_str(), Precompiled, rule);
#if SENTREL_BENCH_PCRE2
    benchmark::RegisterBenchmark(("Pcre2/" + name).c_str(), Pcre2, rule, false);
    benchmark::RegisterBenchmark(("Pcre2Jit/" + name).c_str(), Pcre2, rule, true);
#endif
  }
  benchmark::RegisterBenchmark("AllRules/CompilePerCall", AllRulesCompilePerCall);
  benchmark::RegisterBenchmark("AllRules/Cached", AllRulesCached);
  for (const auto& c : AmbiguousCases()) {
    benchmark::RegisterBenchmark((std::string("Ambiguous/") + c.name).c_str(), Ambiguous, c);
  }
  benchmark::RegisterBenchmark("AmbiguousBacktracker", AmbiguousBacktracker)->Iterations(5);
  benchmark::RegisterBenchmark("Memory64Modules", Memory64Modules)->Iterations(1);
}

}  // namespace

int main(int argc, char** argv) {
#if SENTREL_BENCH_PCRE2
  CheckEquivalence();
#endif
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
