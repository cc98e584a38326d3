// The yes-or-no engine: a lazily built deterministic automaton over the
// compiled program.
//
// Whether a pattern occurs in a subject does not depend on the order in which
// the backtracking interpreter prefers its alternatives, only on whether some
// path through the program fits. For programs without back-references that is
// a question a finite automaton answers in one pass over the subject, in time
// linear in its length, whatever the pattern's loops look like.
//
// The program is first rewritten as a byte-level nondeterministic automaton
// (literal strings become one instruction per byte, captures and position
// slots vanish, loops become plain splits). Its states are then combined on
// demand into deterministic states, each keyed by the set of instructions
// waiting for the next byte. `$` and a `!` whose item is one byte wide (or a
// run of one-byte items, as in `!\w`) are tests of the next byte (or of the
// end), so they are decided while following the empty moves of a state, with
// the byte about to be read known. Programs with anything else (a
// back-reference, or a `!` over a longer item) are left to the memoised
// backtracker: Build gives null for them.
//
// Concurrency: one automaton serves every thread that searches with its
// pattern. States are published without a lock: a new state is placed into
// an open-addressing table with a compare-and-swap, and a transition, once
// known, is stored with a release store; readers follow both with acquire
// loads. Nothing is ever removed while the automaton lives. The states kept
// are bounded by a byte budget; once it is spent, a search that needs a state
// not yet built goes on by simulating the nondeterministic automaton directly
// (still linear in the subject, only slower by the program's size), and
// returns to the built states as soon as it meets one again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filter/pattern/literal_search.h"
#include "filter/pattern/program.h"

namespace sentrel::pattern::detail {

class Automaton {
 public:
  // Bytes of states one pattern may keep, its state table included.
  static constexpr std::size_t kDefaultCacheBytes = 64 * 1024;

  // Builds the automaton of a compiled program, or gives null when the
  // program holds an instruction it cannot run exactly. `startSet`, when not
  // null, holds every byte that can begin a match (start positions whose byte
  // is not in it are passed over). May throw std::bad_alloc.
  static std::unique_ptr<Automaton> Build(const std::vector<Instruction>& program,
                                          const std::vector<ByteSet>& classes, const std::string& literals,
                                          bool anchored, bool foldCase, const ByteSet* startSet,
                                          std::size_t cacheBytes);
  ~Automaton();
  Automaton(const Automaton&) = delete;
  Automaton& operator=(const Automaton&) = delete;

  // True when the program matches at some start position of `subject`, with
  // the search rules of the backtracker: start positions 0 to the last byte
  // (only 0 for an anchored program; 0 alone for an empty subject).
  // With `read`, also how many bytes from the start the answer was decided
  // on: the bytes past them played no part, not even the subject's end
  // (`read` is the size when the end was tested).
  bool Search(std::string_view subject, std::size_t* read = nullptr) const;

  // Deterministic states built so far, and the bytes they and the table hold.
  std::size_t stateCount() const { return states_.load(std::memory_order_relaxed); }
  std::size_t cacheBytes() const { return bytes_.load(std::memory_order_relaxed); }
  std::size_t byteClassCount() const { return classCount_; }

 private:
  enum class Op : std::uint8_t {
    Consume,       // the next byte is in set `a`: continue at pc + 1 after it
    Split,         // continue at `a` and at `b`
    Jump,          // continue at `a`
    AssertNotIn,   // the end, or a next byte not in set `a`: continue at `b`
    AssertEnd,     // the end of the subject: continue at `b`
    AssertNotEnd,  // not the end: continue at `b`
    Fail,          // nothing follows (an unreachable or always failing item)
    Match,         // the pattern matched
  };
  struct Inst {
    Op op;
    std::uint32_t a = 0;
    std::uint32_t b = 0;
  };
  struct State;
  struct Scratch;

  Automaton() = default;
  void ComputeByteClasses(bool foldCase);
  // Follows the empty moves from `kernel` (plus the start when `inject`),
  // with `klass` the class of the next byte or kEndClass for the end. True
  // when the program's end is reached; otherwise the instructions waiting for
  // the byte after it are left, sorted, in `next`.
  bool Step(const std::uint32_t* kernel, std::size_t size, bool inject, std::uint32_t klass,
            std::vector<std::uint32_t>& next, Scratch& scratch) const;
  // The state with this kernel: found, or made and published. Null when the
  // budget does not allow another state (with `mayAdd` false, when absent).
  const State* Intern(const std::vector<std::uint32_t>& kernel, bool mayAdd) const;
  // Whether the program matches at the end of the subject from `state`.
  bool EndAccepts(const State* state, Scratch& scratch) const;

  static constexpr std::uint32_t kEndClass = 256;

  std::vector<Inst> program_;
  std::vector<ByteSet> sets_;
  std::uint32_t start_ = 0;
  bool inject_ = true;  // unanchored: the start joins at every position
  bool skip_ = false;   // start positions may be skipped with startSet_
  ByteSet startSet_;
  ByteChoice startBytes_;  // the bytes of startSet_, when there are at most eight
  std::uint8_t classOf_[256] = {};
  std::uint8_t classRep_[256] = {};
  std::uint32_t classCount_ = 0;

  std::size_t budget_ = kDefaultCacheBytes;
  std::size_t maxStates_ = 0;
  std::size_t tableMask_ = 0;
  std::unique_ptr<std::atomic<const State*>[]> table_;
  mutable std::atomic<std::size_t> states_{0};
  mutable std::atomic<std::size_t> bytes_{0};
  const State* initial_ = nullptr;
  // Whether the empty subject matches (cached; -1 until known).
  mutable std::atomic<std::int8_t> emptyAnswer_{-1};
};

}  // namespace sentrel::pattern::detail
