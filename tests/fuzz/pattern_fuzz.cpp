// Fuzzes the rule pattern engine. Input: one flag byte (bit 0: compile
// case-insensitively), then the pattern up to the first zero byte, then the
// subject (which may hold further zero bytes, where it ends). Checks that
// compiling and matching never misbehave, that reported positions lie within
// the subject, that a reused context gives the same answer, and that the
// compiled-pattern cache answers like a fresh compilation.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "filter/pattern/pattern_cache.h"
#include "filter/pattern/rule_pattern.h"
#include "tests/fuzz/pattern_fuzz_input.h"

namespace {

using sentrel::fuzz::Check;
using sentrel::pattern::CompileCode;
using sentrel::pattern::kNoPosition;
using sentrel::pattern::PatternCache;
using sentrel::pattern::PatternMatch;
using sentrel::pattern::RulePattern;

// Small enough that runaway patterns stay quick, large enough for the rest.
constexpr std::uint64_t kFuzzBudget = 200000;

void CheckPositions(const PatternMatch& m, std::size_t length) {
  Check(m.start() <= m.end() && m.end() <= length);
  for (std::uint32_t g = 0; g < m.groupCount(); ++g) {
    const std::size_t from = m.groupStart(g);
    const std::size_t to = m.groupEnd(g);
    if (from == kNoPosition) {
      Check(to == kNoPosition);
    } else {
      Check(from <= to && to <= length);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sentrel::fuzz::PatternInput input;
  if (!sentrel::fuzz::ReadPatternInput(data, size, input)) return 0;
  const bool caseSensitive = input.caseSensitive;
  const std::string_view pattern = input.pattern;
  const std::string_view subject = input.subject;
  const std::size_t length = subject.substr(0, subject.find('\0')).size();

  RulePattern compiled;
  const CompileCode code = compiled.Compile(pattern, caseSensitive);
  Check(static_cast<int>(code) >= 0 && static_cast<int>(code) <= 9);
  PatternMatch m;
  m.SetStepBudget(kFuzzBudget);
  const bool found = compiled.Match(subject, m);
  Check(code == CompileCode::Success || !found);
  if (code != CompileCode::Success) return 0;
  if (found) CheckPositions(m, length);
  const std::size_t start = m.start();
  const std::size_t end = m.end();
  const bool exhausted = m.budgetExhausted();

  // Reusing the context gives the same answer.
  Check(compiled.Match(subject, m) == found);
  Check(m.start() == start && m.end() == end && m.budgetExhausted() == exhausted);

  if (caseSensitive && !exhausted) {
    static PatternCache cache(64);
    PatternMatch viaCache;
    viaCache.SetStepBudget(kFuzzBudget);
    Check(cache.Match(pattern, subject, viaCache) == found);
    Check(viaCache.start() == start && viaCache.end() == end);
  }
  return 0;
}
