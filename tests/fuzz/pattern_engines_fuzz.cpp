// Fuzzes the rule test against the backtracker. Input: one flag byte (bit 0:
// compile case-insensitively), then the pattern up to the first zero byte,
// then the subject. Wherever the backtracker finishes within its budget, the
// rule test (automaton, literal searches or memoised backtracker, as the
// pattern chooses) and an automaton without room for states (every search
// simulated) must give its answer, and the backtracker with its memo the same
// match and groups. The subject is also tried doubled, so that automata meet
// states they built before.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filter/pattern/rule_pattern.h"
#include "tests/fuzz/pattern_fuzz_input.h"

namespace {

using sentrel::fuzz::Check;
using sentrel::pattern::CompileCode;
using sentrel::pattern::PatternMatch;
using sentrel::pattern::RulePattern;

constexpr std::uint64_t kFuzzBudget = 200000;

void Compare(const RulePattern& compiled, const RulePattern& starved, std::string_view subject) {
  PatternMatch plain;
  plain.SetStepBudget(kFuzzBudget);
  const bool found = compiled.Match(subject, plain);
  if (plain.budgetExhausted()) return;
  Check(compiled.Found(subject) == found);
  Check(starved.Found(subject) == found);
  PatternMatch memo;
  memo.SetMemo(true);
  Check(compiled.Match(subject, memo) == found);
  Check(!memo.budgetExhausted());
  if (!found) return;
  Check(memo.start() == plain.start() && memo.end() == plain.end());
  for (std::uint32_t g = 0; g < plain.groupCount(); ++g) {
    Check(memo.groupStart(g) == plain.groupStart(g) && memo.groupEnd(g) == plain.groupEnd(g));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sentrel::fuzz::PatternInput in;
  if (!sentrel::fuzz::ReadPatternInput(data, size, in)) return 0;
  RulePattern compiled;
  if (compiled.Compile(in.pattern, in.caseSensitive) != CompileCode::Success) return 0;
  RulePattern starved;
  starved.SetAutomatonBudget(0);
  Check(starved.Compile(in.pattern, in.caseSensitive) == CompileCode::Success);
  Check(starved.engine() == compiled.engine());
  const std::string_view cut = in.subject.substr(0, in.subject.find('\0'));
  Compare(compiled, starved, cut);
  Compare(compiled, starved, std::string(cut) + std::string(cut));
  return 0;
}
