// RulePattern::Match: the backtracking interpreter.
//
// Start positions are tried from the left (only position 0 for a pattern
// that began with `^`; the position just past the last byte is never tried
// on its own, except that an empty subject is tried at 0). At each, the
// interpreter follows the preferred path and records every untried
// alternative, every changed position slot and every look-ahead in progress
// on an explicit stack; failing pops the stack back to the newest
// alternative, restoring slots on the way. The first path that reaches the
// end of the program is the match.
//
// Every instruction run and every stack entry popped costs one step of the
// context's budget (a one-byte loop costs one per byte it scans); when the
// budget is spent the search stops with "not found".

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "filter/pattern/program.h"
#include "filter/pattern/rule_pattern.h"

namespace sentrel::pattern {

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
  context.start_ = context.end_ = kNoPosition;
  context.stepsUsed_ = 0;
  context.exhausted_ = false;
  context.groupCount_ = 0;
  if (result_ != CompileCode::kSuccess || subject.data() == nullptr) return false;
  if (!context.PrepareSlots(slotCount_)) return false;
  context.groupCount_ = groupCount_;
  subject = UpToFirstZero(subject);
  if (caseSensitive_) return Search(subject, context);
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
  return Search(lowered, context);
}

bool RulePattern::Search(std::string_view subject, PatternMatch& context) const {
  const std::size_t n = subject.size();
  if (requiredLiteral_.size() > 1 && startMode_ != StartMode::kLiteral &&
      subject.find(requiredLiteral_) == std::string_view::npos) {
    return false;
  }
  if (anchored_ || n == 0) return RunAt(subject, 0, context);
  const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
  switch (startMode_) {
    case StartMode::kLiteral: {
      const Instruction& in = program_[0];
      const std::size_t at = subject.find(std::string_view(literals_).substr(in.a, in.b));
      context.stepsUsed_ = 1;
      if (at == std::string_view::npos) return false;
      context.start_ = at;
      context.end_ = at + in.b;
      return true;
    }
    case StartMode::kFirstByte:
      for (std::size_t p = 0; p < n; ++p) {
        const void* hit = std::memchr(s + p, startByte_, n - p);
        if (hit == nullptr) return false;
        p = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - s);
        if (RunAt(subject, p, context)) return true;
        if (context.exhausted_) return false;
      }
      return false;
    case StartMode::kFirstSet:
      for (std::size_t p = 0; p < n; ++p) {
        if (!startSet_.Test(s[p])) continue;
        if (RunAt(subject, p, context)) return true;
        if (context.exhausted_) return false;
      }
      return false;
    case StartMode::kEveryPosition:
      for (std::size_t p = 0; p < n; ++p) {
        if (RunAt(subject, p, context)) return true;
        if (context.exhausted_) return false;
      }
      return false;
  }
  return false;
}

bool RulePattern::RunAt(std::string_view subject, std::size_t start, PatternMatch& context) const {
  const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
  const std::size_t n = subject.size();
  const Instruction* const program = program_.data();
  const ByteSet* const classes = classes_.data();
  const char* const literals = literals_.data();
  std::size_t* const slots = context.slots();
  StackEntry* stack = context.stack();
  std::size_t capacity = context.capacity_;
  std::size_t depth = 0;
  const std::uint64_t budget = context.budget_;
  std::uint64_t steps = context.stepsUsed_;

  std::uint32_t pc = 0;
  std::size_t p = start;

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

  for (;;) {
    if (++steps > budget) goto out_of_room;
    {
      const Instruction& in = program[pc];
      switch (in.op) {
        case Op::kByte:
          if (p < n && s[p] == in.byte) {
            ++p;
            ++pc;
            continue;
          }
          goto fail;
        case Op::kString:
          if (n - p >= in.b && s[p] == static_cast<unsigned char>(literals[in.a]) &&
              std::memcmp(s + p + 1, literals + in.a + 1, in.b - 1) == 0) {
            p += in.b;
            ++pc;
            continue;
          }
          goto fail;
        case Op::kAny:
          if (p < n) {
            ++p;
            ++pc;
            continue;
          }
          goto fail;
        case Op::kClass:
          if (p < n && classes[in.a].Test(s[p])) {
            ++p;
            ++pc;
            continue;
          }
          goto fail;
        case Op::kEnd:
          if (p == n) {
            ++pc;
            continue;
          }
          goto fail;
        case Op::kJump:
          pc = in.a;
          continue;
        case Op::kSplit:
          SENTREL_PUSH(EntryKind::kChoice, in.b, p, 0);
          pc = in.a;
          continue;
        case Op::kSetSlot:
          SENTREL_PUSH(EntryKind::kRestore, in.a, slots[in.a], 0);
          slots[in.a] = p;
          ++pc;
          continue;
        case Op::kClearSlot:
          SENTREL_PUSH(EntryKind::kRestore, in.a, slots[in.a], 0);
          slots[in.a] = kNoPosition;
          ++pc;
          continue;
        case Op::kCapture: {
          const std::uint32_t first = 2 * in.a;
          SENTREL_PUSH(EntryKind::kRestore, first, slots[first], 0);
          SENTREL_PUSH(EntryKind::kRestore, first + 1, slots[first + 1], 0);
          slots[first] = slots[in.b];
          slots[first + 1] = p;
          ++pc;
          continue;
        }
        case Op::kBackReference: {
          const std::size_t from = slots[2 * in.a];
          if (from != kNoPosition) {
            // The text the group captured last; a group that captured
            // nothing yet matches the empty text.
            const std::size_t length = slots[2 * in.a + 1] - from;
            if (n - p < length || std::memcmp(s + p, s + from, length) != 0) goto fail;
            p += length;
          }
          ++pc;
          continue;
        }
        case Op::kLoop:
          // A repetition that consumed nothing fails.
          if (slots[in.a] == p) goto fail;
          if (in.byte) {
            SENTREL_PUSH(EntryKind::kChoice, pc + 1, p, 0);
            pc = in.b;
          } else {
            SENTREL_PUSH(EntryKind::kChoice, in.b, p, 0);
            ++pc;
          }
          continue;
        case Op::kRepeat: {
          const ByteSet& set = classes[in.a];
          if (in.byte) {
            std::size_t q = p;
            while (q < n && set.Test(s[q])) ++q;
            steps += q - p;
            if (q - p < in.b) goto fail;
            if (q - p > in.b) SENTREL_PUSH(EntryKind::kRepeatGreedy, pc + 1, q, p + in.b);
            p = q;
          } else {
            if (in.b != 0) {
              if (p >= n || !set.Test(s[p])) goto fail;
              ++p;
            }
            SENTREL_PUSH(EntryKind::kRepeatLazy, pc + 1, p, in.a);
          }
          ++pc;
          continue;
        }
        case Op::kLookBegin:
          SENTREL_PUSH(EntryKind::kBarrier, in.a, p, 0);
          ++pc;
          continue;
        case Op::kLookMatched:
          // The look-ahead's item matched, so the look-ahead fails: drop
          // everything the item left on the stack (its slot changes are
          // undone), then the barrier, then backtrack as usual.
          while (depth > 0) {
            const StackEntry& e = stack[--depth];
            ++steps;
            if (e.kind == EntryKind::kRestore) {
              slots[e.pc] = e.a;
            } else if (e.kind == EntryKind::kBarrier) {
              break;
            }
          }
          goto fail;
        case Op::kMatch:
          context.start_ = start;
          context.end_ = p;
          context.stepsUsed_ = steps;
          return true;
      }
    }
  fail:
    for (;;) {
      if (depth == 0) {
        context.stepsUsed_ = steps;
        return false;
      }
      if (++steps > budget) goto out_of_room;
      StackEntry& e = stack[depth - 1];
      switch (e.kind) {
        case EntryKind::kRestore:
          slots[e.pc] = e.a;
          --depth;
          continue;
        case EntryKind::kChoice:
        case EntryKind::kBarrier:
          // An alternative; or a look-ahead whose item failed everywhere,
          // which means the look-ahead succeeds.
          pc = e.pc;
          p = e.a;
          --depth;
          break;
        case EntryKind::kRepeatGreedy:
          // Give back one byte.
          pc = e.pc;
          p = --e.a;
          if (e.a == e.b) --depth;
          break;
        case EntryKind::kRepeatLazy:
          // Take one more byte, if it is in the set.
          if (e.a < n && classes[e.b].Test(s[e.a])) {
            pc = e.pc;
            p = ++e.a;
            break;
          }
          --depth;
          continue;
      }
      break;
    }
  }
#undef SENTREL_PUSH

out_of_room:
  // The budget is spent, or the stack cannot grow: give up the whole search.
  // Slots may be left changed; the next Match prepares them afresh.
  context.stepsUsed_ = std::min(steps, budget);
  context.exhausted_ = true;
  return false;
}

}  // namespace sentrel::pattern
