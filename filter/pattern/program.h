// The compiled form of a rule pattern: a flat list of instructions for the
// backtracking interpreter, the byte sets its classes test, and the entries of
// the interpreter's backtracking stack.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sentrel::pattern::detail {

// A set of byte values 0 to 255, tested with one bit look-up.
struct ByteSet {
  std::uint64_t bits[4] = {0, 0, 0, 0};

  bool Test(unsigned char b) const { return (bits[b >> 6] >> (b & 63)) & 1u; }
  void Add(unsigned char b) { bits[b >> 6] |= std::uint64_t{1} << (b & 63); }
  void AddRange(unsigned char first, unsigned char last) {
    for (unsigned v = first; v <= last; ++v) Add(static_cast<unsigned char>(v));
  }
  void AddAll() { bits[0] = bits[1] = bits[2] = bits[3] = ~std::uint64_t{0}; }
  void Merge(const ByteSet& other) {
    for (int i = 0; i < 4; ++i) bits[i] |= other.bits[i];
  }
  void Invert() {
    for (auto& w : bits) w = ~w;
  }
  bool Empty() const { return (bits[0] | bits[1] | bits[2] | bits[3]) == 0; }
  bool Full() const { return (bits[0] & bits[1] & bits[2] & bits[3]) == ~std::uint64_t{0}; }
  int Count() const {
    return __builtin_popcountll(bits[0]) + __builtin_popcountll(bits[1]) +
           __builtin_popcountll(bits[2]) + __builtin_popcountll(bits[3]);
  }
};

// Instructions. `p` is the current subject position; "fail" means backtrack to
// the most recent alternative on the stack.
enum class Op : std::uint8_t {
  Byte,           // subject byte at p equals `byte`: p += 1
  String,         // the `b` literal bytes at offset `a` of the literal pool follow: p += b
  Any,            // any byte (not the end): p += 1
  Class,          // a byte in set `a`: p += 1
  End,            // p is the end of the subject
  Jump,           // continue at `a`
  Split,          // continue at `a`; on backtracking, at `b` with the same p
  SetSlot,        // slot `a` := p (restored on backtracking)
  ClearSlot,      // slot `a` := no position (restored on backtracking)
  Capture,        // group `a` := (slot `b`, p) (restored on backtracking)
  BackReference,  // the text group `a` captured last follows (empty when none)
  Loop,           // end of one repetition of a loop whose slot `a` holds where the
                   // repetition began: fails when it consumed nothing; otherwise
                   // another repetition starts at `b` (greedy: before, lazy: after
                   // leaving the loop at the next instruction)
  Repeat,         // a loop over a one-byte item of set `a`, at least `b` (0 or 1)
                   // repetitions; `byte` is 1 for greedy, 0 for lazy
  LookBegin,      // negative look-ahead: the item follows; continue at `a` when it
                   // does not match here
  LookMatched,    // the look-ahead's item matched: the look-ahead fails
  Match,          // the pattern matched, ending at p
};

struct Instruction {
  Op op;
  std::uint8_t byte = 0;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
};

// Entries of the backtracking stack.
enum class EntryKind : std::uint32_t {
  Choice,        // an untried alternative: continue at `pc` with p = `a`
  Restore,       // slot `pc` had the value `a` before it was changed
  Barrier,       // a look-ahead in progress began at p = `a`; popping it means its
                  // item failed, so the look-ahead succeeds and matching goes on at `pc`
  RepeatGreedy,  // a greedy one-byte loop now ends at `a` and may give back bytes
                  // down to `b`; continue at `pc`
  RepeatLazy,    // a lazy one-byte loop now ends at `a` and may take one more byte
                  // of set `b`; continue at `pc`
  Memo,          // the memoised search reached instruction `pc` at p = `a`; popping
                  // it means everything from there failed, which the memo records
};

struct StackEntry {
  EntryKind kind;
  std::uint32_t pc;
  std::size_t a;
  std::size_t b;
};

}  // namespace sentrel::pattern::detail
