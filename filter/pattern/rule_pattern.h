// Rule patterns: the filter's own small regular-expression dialect, its
// compiler, its backtracking matcher and its yes-or-no engines.
//
// RulePattern is the compiled pattern. Match runs the backtracking
// interpreter, which reports where the match is and what each match group
// captured (positions depend on the order of preference of the dialect).
// Found answers only whether the pattern occurs, which is all a rule needs:
// for a pattern without back-references that answer does not depend on the
// order of preference, so it comes from a deterministic automaton in time
// linear in the subject, without any work budget; patterns with
// back-references use the backtracker with a memo of states already tried.
// The `sentrel match` tool shows both. The dialect itself is described for
// administrators in docs/admin/patterns.md.
//
// Texts are bytes of the system code page. A pattern and a subject end at
// their first zero byte; a view whose data pointer is null stands for a
// missing text. All byte comparisons treat bytes as unsigned values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filter/pattern/literal_search.h"
#include "filter/pattern/program.h"

namespace sentrel::pattern {

namespace detail {
class Automaton;
}

// Result of compiling a pattern. 0 means success.
enum class CompileCode : int {
  Success = 0,
  OutOfMemory = 1,      // the instruction list or the lower-cased copy could not be allocated
  BraceExpected = 2,    // a match group `{` is not closed
  ParenExpected = 3,    // a plain group `(` is not closed
  BracketExpected = 4,  // a bracket class is not closed, or a range has no end byte
  Unexpected = 5,       // a backslash is the last byte of the pattern
  EmptyClass = 6,       // `[]` or `[^]`
  InvalidGroup = 7,     // a back-reference names a group not yet opened
  InvalidRange = 8,     // a class range whose end is below its start
  EmptyRepetition = 9,  // `*`, `+`, `*?` or `+?` on an item that can match empty
  InvalidInput = 10,    // no pattern text at all
};

// The short meaning of a code, e.g. "} expected".
const char* CompileCodeMeaning(CompileCode code);

// A position that is not set (a match group that took no part).
inline constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);

// Work allowed to one Match call, in interpreter steps (an instruction run, a
// backtracking step, or a byte scanned by a one-byte loop). Ordinary patterns
// need a few steps per subject byte; only runaway backtracking such as `(a+)+b`
// against a long run of a's comes near it. Running out of it ends the search
// with "not found". Found needs it only for patterns with back-references.
inline constexpr std::uint64_t kDefaultStepBudget = 10'000'000;

// Which engine answers Found for a compiled pattern.
enum class Engine : std::uint8_t {
  Literal,          // the pattern is one literal text: a substring search
  LiteralSet,       // a choice between literal texts, as `(bot)|(spider)`: substring searches
  Automaton,        // the lazily built deterministic automaton, linear in the subject
  MemoBacktracker,  // back-references (or a `!` over a longer item): the
                     // backtracker with a memo of failed states, within the step budget
};

// The engine's name as `sentrel match -e` prints it.
const char* EngineName(Engine engine);

class PatternMatch;

// A compiled pattern. Compile it once, then Match it from any number of
// threads at once (Match does not change it), each with its own PatternMatch.
class RulePattern {
 public:
  RulePattern();
  ~RulePattern();
  RulePattern(RulePattern&&) noexcept;
  RulePattern& operator=(RulePattern&&) noexcept;
  RulePattern(const RulePattern&) = delete;
  RulePattern& operator=(const RulePattern&) = delete;

  // Compiles `pattern`, discarding any earlier program. With `caseSensitive`
  // off, the letters A to Z of the pattern are lower-cased before compiling
  // and Match lower-cases the subject the same way. A null pattern gives
  // kInvalidInput.
  CompileCode Compile(const char* pattern, bool caseSensitive);
  CompileCode Compile(std::string_view pattern, bool caseSensitive);

  // Searches `subject` for the pattern: true when it occurs. On success the
  // context holds the whole match and each match group as byte offsets into
  // the caller's subject. False when the pattern is not compiled, the subject
  // or the context is missing, the context's step budget runs out, or the
  // backtracking state cannot grow further.
  bool Match(const char* subject, PatternMatch* context) const;
  bool Match(std::string_view subject, PatternMatch& context) const;

  // Whether the pattern occurs in `subject`: the filter's rule test. The
  // same answer as Match wherever Match finishes within its budget; for a
  // pattern without back-references, the exact answer always. Any number of
  // threads may call it at once. Positions are not reported. The second form
  // runs the memoised backtracker (if that is the pattern's engine) with the
  // caller's context, whose step budget then applies and which tells whether
  // it ran out; with the other engines the context is left untouched.
  bool Found(std::string_view subject) const;
  bool Found(std::string_view subject, PatternMatch& context) const;

  // The engine Found uses (after a successful Compile).
  Engine engine() const { return engine_; }
  // The automaton's states built so far and the bytes they hold (0 when the
  // pattern has no automaton).
  std::size_t automatonStates() const;
  std::size_t automatonBytes() const;
  // The byte budget of the automaton's states for the next Compile (the
  // default is ample for rule patterns; a small budget makes searches fall
  // back to simulating the automaton, which tests use).
  void SetAutomatonBudget(std::size_t bytes) { automatonBudget_ = bytes; }

  // The code of the last Compile (kInvalidInput before the first).
  CompileCode result() const { return result_; }
  bool compiled() const { return result_ == CompileCode::Success; }
  bool caseSensitive() const { return caseSensitive_; }
  // Match groups `{...}` read while compiling, numbered from 0.
  std::uint32_t groupCount() const { return groupCount_; }
  // Position slots the program uses: captures, open groups and loops.
  std::uint32_t slotCount() const { return slotCount_; }
  std::size_t instructionCount() const { return program_.size(); }
  // Approximate heap bytes held by the compiled program.
  std::size_t memoryUse() const;

 private:
  friend class Compiler;

  // How start positions are chosen before running the interpreter.
  enum class StartMode : std::uint8_t {
    EveryPosition,  // try each start position in turn
    FirstByte,      // only where the subject byte equals startByte_
    FirstSet,       // only where the subject byte is in startSet_
    Literal,        // the whole pattern is the literal text of the pool
  };

  void Reset();
  bool PassesPrefilters(std::string_view subject) const;
  // Where a search may start: no match begins before `from` nor at or past
  // `end` (kNoPosition: not known yet).
  struct StartRange {
    std::size_t from = 0;
    std::size_t end = kNoPosition;
  };
  // Match on a subject already cut at its first zero byte.
  bool MatchCut(std::string_view subject, PatternMatch& context, StartRange range) const;
  bool Search(std::string_view subject, PatternMatch& context, StartRange range) const;
  bool FoundByBacktracker(std::string_view subject) const;
  // Found with the memoised backtracker, within `range`.
  bool FoundIn(std::string_view subject, PatternMatch& context, StartRange range) const;
  // The first start position at or after `from` whose byte can begin a
  // match, or the subject's size.
  std::size_t NextStart(std::string_view subject, std::size_t from) const;
  // Start positions at or past this one cannot begin a match: too close to
  // the end for minLength_, or past the last place where one of laterBytes_
  // could stand.
  std::size_t StartEnd(std::string_view subject) const;
  // Runs the interpreter from `start`, then from each later start position
  // before `end` (none for an anchored pattern) until a match.
  template <bool kMemo>
  bool RunAt(std::string_view subject, std::size_t start, std::size_t end, PatternMatch& context) const;

  std::vector<detail::Instruction> program_;
  std::vector<detail::ByteSet> classes_;
  std::string literals_;
  std::uint32_t groupCount_ = 0;
  std::uint32_t slotCount_ = 0;
  bool caseSensitive_ = true;
  bool anchored_ = false;
  StartMode startMode_ = StartMode::EveryPosition;
  unsigned char startByte_ = 0;
  detail::ByteSet startSet_;
  detail::ByteChoice startChoice_;  // startSet_'s bytes when eight at most, for a vector scan
  // The first instruction tests one byte against exactly the bytes that
  // choose start positions: at a chosen start it always succeeds, so the
  // interpreter begins after it (charging its step).
  bool skipFirst_ = false;
  // Literal text every match contains (the longest run of literal bytes at
  // the top level of the pattern): a subject without it is rejected at once.
  std::string requiredLiteral_;
  detail::LiteralProbe requiredProbe_;  // where its search looks first
  // Literal texts of which every match contains one (a top-level choice
  // between literal groups); empty when the pattern has no such choice.
  detail::LiteralSet requiredAnyOf_;
  // The fewest bytes a match consumes, and bytes that every match holds at
  // least `offset` bytes after its start (literal bytes of the top-level
  // sequence, at most four, those farthest from the start first). Worked
  // out only when the rule test runs the backtracker (0 and none else).
  std::uint64_t minLength_ = 0;
  struct LaterByte {
    unsigned char byte;
    std::uint64_t offset;
  };
  std::array<LaterByte, 4> laterBytes_{};
  std::uint8_t laterByteCount_ = 0;
  // For each class, when a greedy one-byte loop tests it (as `[^&]*` or
  // `\w+`), its ranges of bytes: the loop finds the end of its run sixteen
  // bytes at a time. Empty when no loop can use them.
  std::vector<detail::ByteRanges> runRanges_;
  CompileCode result_ = CompileCode::InvalidInput;

  Engine engine_ = Engine::MemoBacktracker;
  std::unique_ptr<detail::Automaton> automaton_;
  std::size_t automatonBudget_;
  // The memo of the backtracker: the instructions at which states are
  // remembered, and the position slots that decide what can still match
  // from a state (the loops' slots, and the slots of back-referenced groups).
  std::vector<std::uint8_t> memoPoint_;
  std::vector<std::uint32_t> memoSlots_;
  std::uint32_t memoKeyWords_ = 0;  // 0: no memo for this pattern
};

// The state of one search: the backtracking stack, the position slots, the
// step budget and the result. It keeps its first 256 stack entries and a few
// slots inside itself, so a PatternMatch on the stack costs no heap allocation
// for ordinary patterns. One PatternMatch serves one Match at a time; reuse is
// fine.
class PatternMatch {
 public:
  static constexpr std::size_t kInitialStackEntries = 256;
  // The stack never grows beyond this (about 24 MiB); a search that would
  // need more ends with "not found", as when the step budget runs out.
  static constexpr std::size_t kMaxStackEntries = std::size_t{1} << 20;

  PatternMatch() = default;
  PatternMatch(const PatternMatch&) = delete;
  PatternMatch& operator=(const PatternMatch&) = delete;

  // The whole match of the last successful Match.
  std::size_t start() const { return start_; }
  std::size_t end() const { return end_; }

  // Match groups of the last successful Match: the text each captured last,
  // or kNoPosition for both ends when it took no part.
  std::uint32_t groupCount() const { return groupCount_; }
  std::size_t groupStart(std::uint32_t group) const;
  std::size_t groupEnd(std::uint32_t group) const;
  bool groupTookPart(std::uint32_t group) const { return groupStart(group) != kNoPosition; }

  void SetStepBudget(std::uint64_t steps) { budget_ = steps; }
  // With the memo on, Match remembers the states (instruction, position and
  // the slots that matter) from which the search has already failed, and
  // fails at once when it meets one again; that makes the answer, the match
  // and the groups no different, but ambiguous loops no longer take
  // exponential time. Found turns it on for the patterns it runs this way.
  void SetMemo(bool on) { memo_ = on; }

  std::uint64_t stepBudget() const { return budget_; }
  // Steps the last Match used, and whether it stopped for lack of budget (or
  // of stack room).
  std::uint64_t stepsUsed() const { return stepsUsed_; }
  bool budgetExhausted() const { return exhausted_; }

  std::size_t stackCapacity() const { return capacity_; }

 private:
  friend class RulePattern;

  static constexpr std::size_t kInlineSlots = 24;

  detail::StackEntry* stack() { return heapStack_ ? heapStack_.get() : inlineStack_.data(); }
  std::size_t* slots() { return heapSlots_.empty() ? inlineSlots_.data() : heapSlots_.data(); }
  const std::size_t* slots() const { return heapSlots_.empty() ? inlineSlots_.data() : heapSlots_.data(); }
  // Doubles the stack; false when that would pass kMaxStackEntries or memory
  // runs out.
  bool GrowStack(std::size_t used);
  // Room for `count` slots, all set to kNoPosition; false when out of memory.
  bool PrepareSlots(std::size_t count);

  std::array<detail::StackEntry, kInitialStackEntries> inlineStack_;
  std::unique_ptr<detail::StackEntry[]> heapStack_;
  std::size_t capacity_ = kInitialStackEntries;
  std::array<std::size_t, kInlineSlots> inlineSlots_;
  std::vector<std::size_t> heapSlots_;
  std::uint32_t groupCount_ = 0;
  std::size_t start_ = kNoPosition;
  std::size_t end_ = kNoPosition;
  std::uint64_t budget_ = kDefaultStepBudget;
  std::uint64_t stepsUsed_ = 0;
  bool exhausted_ = false;
  bool memo_ = false;
};

// One rule test on its own: compiles `pattern` case-sensitively, answers
// whether it occurs in `subject` (RulePattern::Found) and discards it. A
// pattern that does not compile answers false for every subject, exactly like
// a pattern that is not found. The filter keeps its compiled patterns in a
// PatternCache instead of compiling for each test.
bool MatchRulePattern(std::string_view pattern, std::string_view subject);

// The text up to its first zero byte; a null view stays null.
inline std::string_view UpToFirstZero(std::string_view text) {
  if (text.data() == nullptr) return text;
  const std::size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

}  // namespace sentrel::pattern
