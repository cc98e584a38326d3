// RulePattern::Match: the backtracking interpreter.
//
// Start positions are tried from the left (only position 0 for a pattern
// that began with `^`; the position just past the last byte is never tried
// on its own, except that an empty subject is tried at 0). Positions whose
// byte cannot begin a match are passed over, and (for the patterns whose
// rule test runs here) so are those too close to the end for the shortest
// match or past the last place where a literal byte of the pattern's
// top-level sequence could stand: none of these can match, so the answer,
// the match and its groups stay the same. At each, the
// interpreter follows the preferred path and records every untried
// alternative, every changed position slot and every look-ahead in progress
// on an explicit stack; failing pops the stack back to the newest
// alternative, restoring slots on the way (a slot changed while the stack
// is empty needs no entry: see SENTREL_RESTORE). The first path that
// reaches the end of the program is the match. A greedy loop over one byte
// finds the end of its run sixteen bytes at a time.
//
// Every instruction run and every stack entry popped costs one step of the
// context's budget (a one-byte loop costs one per byte it scans); when the
// budget is spent the search stops with "not found".
//
// With the memo on, the interpreter also pushes a marker when it reaches one
// of the pattern's memo points; popping the marker means every path from that
// state failed, and the state's key goes into a per-thread set. Reaching a
// state whose key is in the set fails at once. Markers dropped when a
// look-ahead's item matches are not recorded: that state did not fail. Since
// only states that cannot lead to a match are cut, the first match found,
// and its groups, are the same as without the memo.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "filter/pattern/automaton.h"
#include "filter/pattern/literal_search.h"
#include "filter/pattern/program.h"
#include "filter/pattern/rule_pattern.h"
#include "platform/thread_slot.h"

namespace sentrel::pattern {
namespace {

// Keys of failed states, each `width` words, for one Match at a time on a
// thread. Begin empties it in constant time (entries of older searches carry
// an older stamp). It grows up to kMaxBytes; past that, states are no longer
// recorded, which only costs time.
class MemoSet {
 public:
  static constexpr std::size_t kMaxBytes = std::size_t{8} << 20;

  // False when no room could be had: the search then runs without the memo.
  bool Begin(std::uint32_t width) {
    width_ = width;
    count_ = 0;
    if (++stamp_ == 0) {
      std::fill(stamps_.begin(), stamps_.end(), 0);
      stamp_ = 1;
    }
    if (capacity_ == 0) capacity_ = 1024;
    try {
      if (stamps_.size() < capacity_) stamps_.resize(capacity_, 0);
      if (keys_.size() < capacity_ * width_) keys_.resize(capacity_ * width_);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  bool Contains(const std::uint64_t* key) const {
    for (std::size_t i = Hash(key) & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
      if (stamps_[i] != stamp_) return false;
      if (std::equal(key, key + width_, &keys_[i * width_])) return true;
    }
  }

  void Insert(const std::uint64_t* key) {
    if (2 * (count_ + 1) > capacity_ && !Grow()) return;
    Place(key);
  }

 private:
  std::size_t Hash(const std::uint64_t* key) const {
    std::uint64_t h = 0x9E3779B97F4A7C15ull;
    for (std::uint32_t j = 0; j < width_; ++j) h = (h ^ key[j]) * 0xFF51AFD7ED558CCDull;
    return static_cast<std::size_t>(h ^ (h >> 29));
  }

  void Place(const std::uint64_t* key) {
    for (std::size_t i = Hash(key) & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
      if (stamps_[i] != stamp_) {
        stamps_[i] = stamp_;
        std::copy(key, key + width_, &keys_[i * width_]);
        ++count_;
        return;
      }
      if (std::equal(key, key + width_, &keys_[i * width_])) return;
    }
  }

  bool Grow() {
    const std::size_t bigger = 2 * capacity_;
    if (bigger * (width_ * sizeof(std::uint64_t) + sizeof(std::uint32_t)) > kMaxBytes) return false;
    try {
      std::vector<std::uint64_t> old;
      old.reserve(count_ * width_);
      for (std::size_t i = 0; i < capacity_; ++i) {
        if (stamps_[i] == stamp_) old.insert(old.end(), &keys_[i * width_], &keys_[i * width_] + width_);
      }
      stamps_.assign(bigger, 0);
      keys_.resize(bigger * width_);
      capacity_ = bigger;
      count_ = 0;
      for (std::size_t at = 0; at < old.size(); at += width_) Place(&old[at]);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> stamps_;
  std::size_t capacity_ = 0;
  std::size_t count_ = 0;
  std::uint32_t width_ = 0;
  std::uint32_t stamp_ = 0;
};

MemoSet& ThreadMemo() {
  static platform::PerThread<MemoSet> memo;
  return memo.Get();
}

}  // namespace

using detail::ByteSet;
using detail::EntryKind;
using detail::Instruction;
using detail::Op;
using detail::StackEntry;

std::size_t PatternMatch::groupStart(std::uint32_t group) const {
  return group < groupCount_ ? slots()[2 * group] : kNoPosition;
}

std::size_t PatternMatch::groupEnd(std::uint32_t group) const {
  return group < groupCount_ ? slots()[2 * group + 1] : kNoPosition;
}

bool PatternMatch::GrowStack(std::size_t used) {
  if (capacity_ >= kMaxStackEntries) return false;
  const std::size_t bigger = std::min(capacity_ * 2, kMaxStackEntries);
  std::unique_ptr<StackEntry[]> grown(new (std::nothrow) StackEntry[bigger]);
  if (!grown) return false;
  std::copy(stack(), stack() + used, grown.get());
  heapStack_ = std::move(grown);
  capacity_ = bigger;
  return true;
}

bool PatternMatch::PrepareSlots(std::size_t count) {
  if (count > kInlineSlots || !heapSlots_.empty()) {
    try {
      heapSlots_.assign(std::max(count, std::size_t{1}), kNoPosition);
    } catch (const std::bad_alloc&) {
      heapSlots_.clear();
      return false;
    }
    return true;
  }
  std::fill(inlineSlots_.begin(), inlineSlots_.begin() + count, kNoPosition);
  return true;
}

bool RulePattern::Match(const char* subject, PatternMatch* context) const {
  if (subject == nullptr || context == nullptr) return false;
  return Match(std::string_view{subject}, *context);
}

bool RulePattern::Match(std::string_view subject, PatternMatch& context) const {
  return MatchCut(UpToFirstZero(subject), context, StartRange{});
}

bool RulePattern::MatchCut(std::string_view subject, PatternMatch& context, StartRange range) const {
  context.start_ = context.end_ = kNoPosition;
  context.stepsUsed_ = 0;
  context.exhausted_ = false;
  context.groupCount_ = 0;
  if (result_ != CompileCode::Success || subject.data() == nullptr) return false;
  if (!context.PrepareSlots(slotCount_)) return false;
  context.groupCount_ = groupCount_;
  if (caseSensitive_) return Search(subject, context, range);
  // Case-insensitive: search a lower-cased copy; offsets stay the same.
  std::string lowered;
  try {
    lowered.assign(subject);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return Search(lowered, context, StartRange{});
}

bool RulePattern::PassesPrefilters(std::string_view subject) const {
  // An anchored search ends where its automaton runs out of states, mostly
  // within a few bytes: scanning the whole subject first would cost more.
  if (!caseSensitive_ || anchored_) return true;  // (nor is the subject lower-cased yet)
  if (!requiredLiteral_.empty() && !detail::Contains(subject, requiredLiteral_, requiredProbe_)) return false;
  return requiredAnyOf_.empty() || requiredAnyOf_.AnyIn(subject);
}

std::size_t RulePattern::StartEnd(std::string_view subject) const {
  const std::size_t n = subject.size();
  if (n < minLength_) return 0;
  std::size_t end = n - minLength_ + 1;
  for (std::uint8_t k = 0; k < laterByteCount_; ++k) {
    const LaterByte& later = laterBytes_[k];
    const std::size_t last = detail::FindLast(subject, later.byte);
    if (last == std::string_view::npos || last < later.offset) return 0;
    end = std::min<std::size_t>(end, last - later.offset + 1);
  }
  return end;
}

[[gnu::always_inline]] inline std::size_t RulePattern::NextStart(std::string_view subject,
                                                                 std::size_t from) const {
  const std::size_t n = subject.size();
  if (from >= n) return n;
  const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
  switch (startMode_) {
    case StartMode::FirstByte: {
      const void* hit = std::memchr(s + from, startByte_, n - from);
      return hit == nullptr ? n : static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - s);
    }
    case StartMode::FirstSet:
      if (!startChoice_.bytes.empty()) return detail::FindAnyOf(subject, from, startChoice_);
      while (from < n && !startSet_.Test(s[from])) ++from;
      return from;
    case StartMode::Literal:
    case StartMode::EveryPosition: break;
  }
  return from;
}

// Kept apart from Found so that the other engines' searches do not pay for
// this one's stack frame (the context holds 256 stack entries).
[[gnu::noinline]] bool RulePattern::FoundByBacktracker(std::string_view subject) const {
  // Every match begins with a byte of the start set: a subject with none
  // anywhere (even past a zero byte) has no match, and the search need not
  // be set up at all; nor one where no such byte stands early enough for
  // the rest of a match (the subject's end and bytes past its zero byte only
  // allow more). Both bounds hold for the subject cut at that byte as well,
  // so the search starts from them. The subject's case is folded only later.
  StartRange range;
  // An empty subject (or one whose first byte is zero) is tried at its end,
  // where a pattern that may match nothing matches without a start byte.
  if (caseSensitive_ && (startMode_ == StartMode::FirstByte || startMode_ == StartMode::FirstSet) &&
      !subject.empty() && subject.front() != '\0') {
    range.from = NextStart(subject, 0);
    if (range.from == subject.size()) return false;
    range.end = StartEnd(subject);
    if (range.from >= range.end) return false;
  }
  PatternMatch context;
  return FoundIn(subject, context, range);
}

bool RulePattern::Found(std::string_view subject) const {
  if (result_ != CompileCode::Success || subject.data() == nullptr) return false;
  if (engine_ == Engine::MemoBacktracker) return FoundByBacktracker(subject);
  switch (engine_) {
    // The subject ends at its first zero byte. A text absent from the whole
    // subject is absent from the part before that byte too, so the zero is
    // looked for only when a text was found.
    case Engine::Literal:
      return detail::Contains(subject, requiredLiteral_, requiredProbe_) &&
             (std::memchr(subject.data(), 0, subject.size()) == nullptr ||
              detail::Contains(UpToFirstZero(subject), requiredLiteral_, requiredProbe_));
    case Engine::LiteralSet:
      return requiredAnyOf_.AnyIn(subject) && (std::memchr(subject.data(), 0, subject.size()) == nullptr ||
                                               requiredAnyOf_.AnyIn(UpToFirstZero(subject)));
    default: break;
  }
  if (engine_ == Engine::Automaton && anchored_) {
    // An anchored search mostly ends within a few bytes: it runs on the
    // whole subject, and its answer holds for the subject cut at its first
    // zero byte when no zero byte stands among the bytes it was decided on.
    std::size_t read = 0;
    const bool found = automaton_->Search(subject, &read);
    if (std::memchr(subject.data(), 0, read) == nullptr) return found;
  }
  subject = UpToFirstZero(subject);
  switch (engine_) {
    case Engine::Literal:
    case Engine::LiteralSet: break;
    case Engine::Automaton: return PassesPrefilters(subject) && automaton_->Search(subject);
    case Engine::MemoBacktracker: break;
  }
  return false;
}

bool RulePattern::Found(std::string_view subject, PatternMatch& context) const {
  if (engine_ != Engine::MemoBacktracker) return Found(subject);
  return FoundIn(subject, context, StartRange{});
}

bool RulePattern::FoundIn(std::string_view subject, PatternMatch& context, StartRange range) const {
  // Most searches end within a few steps per byte without the memo, which
  // costs a hash look-up at every choice. A search that needs more starts
  // again with the memo and the whole budget; both give the same answer.
  const std::uint64_t budget = context.budget_;
  const bool memo = context.memo_;
  subject = UpToFirstZero(subject);
  const std::uint64_t quick = 64 + 16 * std::uint64_t{subject.size()};
  context.memo_ = false;
  context.budget_ = std::min(budget, quick);
  bool found = MatchCut(subject, context, range);
  if (context.exhausted_ && budget > context.budget_) {
    context.memo_ = true;
    context.budget_ = budget;
    found = MatchCut(subject, context, range);
  }
  context.memo_ = memo;
  context.budget_ = budget;
  return found;
}

bool RulePattern::Search(std::string_view subject, PatternMatch& context, StartRange range) const {
  const std::size_t n = subject.size();
  if (requiredLiteral_.size() > 1 && startMode_ != StartMode::Literal &&
      !detail::Contains(subject, requiredLiteral_, requiredProbe_)) {
    return false;
  }
  std::size_t start = 0;
  if (!anchored_ && n != 0) {
    if (startMode_ == StartMode::Literal) {
      const Instruction& in = program_[0];
      const std::size_t at = subject.find(std::string_view(literals_).substr(in.a, in.b));
      context.stepsUsed_ = 1;
      if (at == std::string_view::npos) return false;
      context.start_ = at;
      context.end_ = at + in.b;
      return true;
    }
    start = NextStart(subject, range.from);
    if (start == n) return false;
  }
  const std::size_t end = range.end == kNoPosition ? StartEnd(subject) : range.end;
  if (start >= end) return false;
  const bool memo = context.memo_ && memoKeyWords_ != 0 && ThreadMemo().Begin(memoKeyWords_);
  return memo ? RunAt<true>(subject, start, end, context) : RunAt<false>(subject, start, end, context);
}

template <bool kMemo>
bool RulePattern::RunAt(std::string_view subject, std::size_t start, std::size_t end,
                        PatternMatch& context) const {
  const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
  const std::size_t n = subject.size();
  const Instruction* const program = program_.data();
  const ByteSet* const classes = classes_.data();
  const char* const literals = literals_.data();
  const detail::ByteRanges* const runRanges = runRanges_.empty() ? nullptr : runRanges_.data();
  std::size_t* const slots = context.slots();
  StackEntry* stack = context.stack();
  std::size_t capacity = context.capacity_;
  std::size_t depth = 0;
  const std::uint64_t budget = context.budget_;
  std::uint64_t steps = context.stepsUsed_;

  // The instruction to run next (its number is its distance from the first).
  const Instruction* in = program;
  auto Number = [program](const Instruction* at) { return static_cast<std::uint32_t>(at - program); };
  std::size_t p = start;
  const bool skipFirst = skipFirst_ && n != 0;  // (an empty subject is tried at 0 without a chosen start)

  // The memo's key of the state (`at`, `from`) with the slots as they are.
  MemoSet* memo = kMemo ? &ThreadMemo() : nullptr;
  std::uint64_t key[64];
  const std::size_t firstLoop = 3 * std::size_t{groupCount_};
  auto makeKey = [&](std::uint32_t at, std::size_t from) {
    key[0] = at;
    key[1] = from;
    std::size_t word = 2;
    for (std::size_t k = firstLoop; k < slotCount_; k += 64) {
      std::uint64_t bits = 0;
      for (std::size_t j = k; j < slotCount_ && j < k + 64; ++j) {
        if (slots[j] == from) bits |= std::uint64_t{1} << (j - k);
      }
      key[word++] = bits;
    }
    for (std::uint32_t slot : memoSlots_) key[word++] = slots[slot];
  };

  // Pushes an entry, growing the stack when full; a stack that cannot grow
  // ends the search like a spent budget.
#define SENTREL_PUSH(KIND, PC, A, B)                        \
  do {                                                      \
    if (depth == capacity) {                                \
      if (!context.GrowStack(depth)) goto out_of_room;      \
      stack = context.stack();                              \
      capacity = context.capacity_;                         \
    }                                                       \
    stack[depth++] = StackEntry{(KIND), (PC), (A), (B)};    \
  } while (0)

  // Records a slot's value before it changes. With nothing on the stack no
  // path can come back to this state, so the entry would only be popped when
  // the whole start position has failed: it is left out and counted, and
  // that failure unsets every slot and charges the steps of the pops it
  // saved, so the budget runs out exactly where it would have. `dirty` has
  // a bit for each of the first 64 slots so changed (the last bit stands for
  // all the others).
  std::size_t unsaved = 0;
  std::uint64_t dirty = 0;
#define SENTREL_RESTORE(SLOT)                                         \
  do {                                                                \
    if (depth == 0) {                                                 \
      ++unsaved;                                                      \
      dirty |= std::uint64_t{1} << std::min<std::uint32_t>((SLOT), 63); \
    } else {                                                          \
      SENTREL_PUSH(EntryKind::Restore, (SLOT), slots[(SLOT)], 0);     \
    }                                                                 \
  } while (0)

  // Each instruction ends by costing its step, checking the memo and
  // jumping straight to the code of the next one: with a jump of its own per
  // instruction kind, the processor learns the order of a pattern's
  // instructions, where one shared dispatch jump would mostly guess wrong.
#if defined(__GNUC__)
  static_assert(static_cast<int>(Op::Match) == 15, "the table below lists every instruction");
  static const void* const kCode[] = {&&op_Byte,      &&op_String,        &&op_Any,     &&op_Class,
                                      &&op_End,       &&op_Jump,          &&op_Split,   &&op_SetSlot,
                                      &&op_ClearSlot, &&op_Capture,       &&op_BackReference, &&op_Loop,
                                      &&op_Repeat,    &&op_LookBegin,     &&op_LookMatched,   &&op_Match};
#define SENTREL_DISPATCH() goto* kCode[static_cast<std::size_t>(in->op)]
#else
#define SENTREL_DISPATCH() goto dispatch
#endif
#define SENTREL_NEXT()                                  \
  do {                                                  \
    if (++steps > budget) goto out_of_room;             \
    if constexpr (kMemo) {                              \
      if (memoPoint_[Number(in)]) {                     \
        makeKey(Number(in), p);                         \
        if (memo->Contains(key)) goto fail;             \
        SENTREL_PUSH(EntryKind::Memo, Number(in), p, 0); \
      }                                                 \
    }                                                   \
    SENTREL_DISPATCH();                                 \
  } while (0)

  if (skipFirst) {
    if (++steps > budget) goto out_of_room;
    in = program + 1;
    p = start + 1;
  }
  SENTREL_NEXT();
#if !defined(__GNUC__)
dispatch:
  switch (in->op) {
    case Op::Byte: goto op_Byte;
    case Op::String: goto op_String;
    case Op::Any: goto op_Any;
    case Op::Class: goto op_Class;
    case Op::End: goto op_End;
    case Op::Jump: goto op_Jump;
    case Op::Split: goto op_Split;
    case Op::SetSlot: goto op_SetSlot;
    case Op::ClearSlot: goto op_ClearSlot;
    case Op::Capture: goto op_Capture;
    case Op::BackReference: goto op_BackReference;
    case Op::Loop: goto op_Loop;
    case Op::Repeat: goto op_Repeat;
    case Op::LookBegin: goto op_LookBegin;
    case Op::LookMatched: goto op_LookMatched;
    case Op::Match: goto op_Match;
  }
#endif
  op_Byte:
    if (p < n && s[p] == in->byte) {
      ++p;
      ++in;
      SENTREL_NEXT();
    }
    goto fail;
  op_String:
    if (n - p >= in->b && s[p] == static_cast<unsigned char>(literals[in->a]) &&
        std::memcmp(s + p + 1, literals + in->a + 1, in->b - 1) == 0) {
      p += in->b;
      ++in;
      SENTREL_NEXT();
    }
    goto fail;
  op_Any:
    if (p < n) {
      ++p;
      ++in;
      SENTREL_NEXT();
    }
    goto fail;
  op_Class:
    if (p < n && classes[in->a].Test(s[p])) {
      ++p;
      ++in;
      SENTREL_NEXT();
    }
    goto fail;
  op_End:
    if (p == n) {
      ++in;
      SENTREL_NEXT();
    }
    goto fail;
  op_Jump:
    in = program + in->a;
    SENTREL_NEXT();
  op_Split:
    SENTREL_PUSH(EntryKind::Choice, in->b, p, 0);
    in = program + in->a;
    SENTREL_NEXT();
  op_SetSlot:
    SENTREL_RESTORE(in->a);
    slots[in->a] = p;
    ++in;
    SENTREL_NEXT();
  op_ClearSlot:
    SENTREL_RESTORE(in->a);
    slots[in->a] = kNoPosition;
    ++in;
    SENTREL_NEXT();
  op_Capture: {
    const std::uint32_t first = 2 * in->a;
    SENTREL_RESTORE(first);
    SENTREL_RESTORE(first + 1);
    slots[first] = slots[in->b];
    slots[first + 1] = p;
    ++in;
    SENTREL_NEXT();
  }
  op_BackReference: {
    const std::size_t from = slots[2 * in->a];
    if (from != kNoPosition) {
      // The text the group captured last; a group that captured
      // nothing yet matches the empty text.
      const std::size_t length = slots[2 * in->a + 1] - from;
      if (n - p < length ||
          (length != 0 && (s[p] != s[from] || std::memcmp(s + p + 1, s + from + 1, length - 1) != 0))) {
        goto fail;
      }
      p += length;
    }
    ++in;
    SENTREL_NEXT();
  }
  op_Loop:
    // A repetition that consumed nothing fails.
    if (slots[in->a] == p) goto fail;
    if (in->byte) {
      SENTREL_PUSH(EntryKind::Choice, Number(in) + 1, p, 0);
      in = program + in->b;
    } else {
      SENTREL_PUSH(EntryKind::Choice, in->b, p, 0);
      ++in;
    }
    SENTREL_NEXT();
  op_Repeat: {
    const ByteSet& set = classes[in->a];
    if (in->byte) {
      std::size_t q = p;
      if (runRanges != nullptr && runRanges[in->a].count != 0) {
        q = detail::RunEnd(subject, p, set, runRanges[in->a]);
      } else if (set.Full()) {
        q = n;
      } else {
        while (q < n && set.Test(s[q])) ++q;
      }
      steps += q - p;
      if (q - p < in->b) goto fail;
      if (q - p > in->b && in->byte == 1) SENTREL_PUSH(EntryKind::RepeatGreedy, Number(in) + 1, q, p + in->b);
      p = q;
    } else {
      if (in->b != 0) {
        if (p >= n || !set.Test(s[p])) goto fail;
        ++p;
      }
      SENTREL_PUSH(EntryKind::RepeatLazy, Number(in) + 1, p, in->a);
    }
    ++in;
    SENTREL_NEXT();
  }
  op_LookBegin:
    SENTREL_PUSH(EntryKind::Barrier, in->a, p, 0);
    ++in;
    SENTREL_NEXT();
  op_LookMatched:
    // The look-ahead's item matched, so the look-ahead fails: drop
    // everything the item left on the stack (its slot changes are
    // undone), then the barrier, then backtrack as usual.
    while (depth > 0) {
      const StackEntry& e = stack[--depth];
      ++steps;
      if (e.kind == EntryKind::Restore) {
        slots[e.pc] = e.a;
      } else if (e.kind == EntryKind::Barrier) {
        break;
      }
    }
    goto fail;
  op_Match:
    context.start_ = start;
    context.end_ = p;
    context.stepsUsed_ = steps;
    return true;

fail:
    for (;;) {
      if (depth == 0) {
        // Everything from this start position failed: on to the next one.
        steps += unsaved;
        if (steps > budget) goto out_of_room;
        if (dirty >> 63) {
          std::fill(slots, slots + slotCount_, kNoPosition);
        } else {
          for (; dirty != 0; dirty &= dirty - 1) slots[std::countr_zero(dirty)] = kNoPosition;
        }
        unsaved = 0;
        dirty = 0;
        if (!anchored_) start = NextStart(subject, start + 1);
        if (anchored_ || start >= n || start >= end) {
          context.stepsUsed_ = steps;
          return false;
        }
        in = program;
        p = start;
        if (skipFirst) {
          if (++steps > budget) goto out_of_room;
          in = program + 1;
          p = start + 1;
        }
        break;
      }
      if (++steps > budget) goto out_of_room;
      StackEntry& e = stack[depth - 1];
      switch (e.kind) {
        case EntryKind::Restore:
          slots[e.pc] = e.a;
          --depth;
          continue;
        case EntryKind::Memo:
          if constexpr (kMemo) {
            makeKey(e.pc, e.a);
            memo->Insert(key);
          }
          --depth;
          continue;
        case EntryKind::Choice:
        case EntryKind::Barrier:
          // An alternative; or a look-ahead whose item failed everywhere,
          // which means the look-ahead succeeds.
          in = program + e.pc;
          p = e.a;
          --depth;
          break;
        case EntryKind::RepeatGreedy:
          // Give back one byte.
          in = program + e.pc;
          p = --e.a;
          if (e.a == e.b) --depth;
          break;
        case EntryKind::RepeatLazy:
          // Take one more byte, if it is in the set.
          if (e.a < n && classes[e.b].Test(s[e.a])) {
            in = program + e.pc;
            p = ++e.a;
            break;
          }
          --depth;
          continue;
      }
      break;
    }
    SENTREL_NEXT();
#undef SENTREL_NEXT
#undef SENTREL_DISPATCH
#undef SENTREL_RESTORE
#undef SENTREL_PUSH

out_of_room:
  // The budget is spent, or the stack cannot grow: give up the whole search.
  // Slots may be left changed; the next Match prepares them afresh.
  context.stepsUsed_ = std::min(steps, budget);
  context.exhausted_ = true;
  return false;
}

bool MatchRulePattern(std::string_view pattern, std::string_view subject) {
  if (pattern.data() == nullptr || subject.data() == nullptr) return false;
  RulePattern compiled;
  // Rule matching is always case-sensitive.
  if (compiled.Compile(pattern, true) != CompileCode::Success) return false;
  return compiled.Found(subject);
}

}  // namespace sentrel::pattern
