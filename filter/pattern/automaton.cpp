// The lazily built deterministic automaton behind RulePattern::Found.

#include "filter/pattern/automaton.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/thread_slot.h"

namespace sentrel::pattern::detail {

// A deterministic state: the sorted instructions that wait for the next byte
// (its kernel), one transition per byte class, and whether the program
// matches at the end of the subject from here. Kept in one block: the header,
// then the transitions, then the kernel.
struct Automaton::State {
  std::uint32_t hash = 0;
  std::uint32_t size = 0;
  // Searches leave their fast loop here: the empty kernel, which is the start
  // of an unanchored search (where bytes that cannot begin a match are
  // skipped) and the dead end of an anchored one.
  bool stop = false;
  mutable std::atomic<std::int8_t> endAnswer{-1};
  mutable std::atomic<const State*>* next = nullptr;
  std::uint32_t* pcs = nullptr;
};

// Per-thread work space of Step and Search, shared by all automata.
struct Automaton::Scratch {
  std::vector<std::uint32_t> mark;  // mark[pc] == generation: visited in this Step
  std::uint32_t generation = 0;
  std::vector<std::uint32_t> stack;
  std::vector<std::uint32_t> next;
  std::vector<std::uint32_t> current;
};

namespace {

constexpr std::size_t kTableSlots = 512;  // room for kTableSlots / 2 states

// Its address marks a transition as "the program matched before this byte".
alignas(8) const char kMatchedMark = 0;

std::uint32_t HashOf(const std::uint32_t* pcs, std::size_t size) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < size; ++i) {
    h = (h ^ pcs[i]) * 16777619u;
  }
  return h ^ static_cast<std::uint32_t>(size);
}

template <typename State>
const State* Matched() {
  return reinterpret_cast<const State*>(&kMatchedMark);
}

}  // namespace

std::unique_ptr<Automaton> Automaton::Build(const std::vector<Instruction>& program,
                                            const std::vector<ByteSet>& classes, const std::string& literals,
                                            bool anchored, bool foldCase, const ByteSet* startSet,
                                            std::size_t cacheBytes) {
  std::unique_ptr<Automaton> a(new Automaton);
  const std::size_t count = program.size();

  // Where each instruction of the program begins in the rewritten one.
  std::vector<std::uint32_t> at(count + 1, 0);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t size = 1;
    if (program[i].op == detail::Op::String) size = program[i].b;
    if (program[i].op == detail::Op::Repeat) size = program[i].b == 0 ? 3 : 2;
    at[i + 1] = at[i] + size;
  }
  a->program_.assign(at[count], Inst{Op::Fail});
  a->sets_ = classes;
  std::int32_t single[256];
  std::fill(std::begin(single), std::end(single), -1);
  std::int32_t any = -1;
  auto byteSet = [&](unsigned char b) {
    if (single[b] < 0) {
      ByteSet s;
      s.Add(b);
      a->sets_.push_back(s);
      single[b] = static_cast<std::int32_t>(a->sets_.size() - 1);
    }
    return static_cast<std::uint32_t>(single[b]);
  };
  auto anySet = [&]() {
    if (any < 0) {
      ByteSet s;
      s.AddAll();
      a->sets_.push_back(s);
      any = static_cast<std::int32_t>(a->sets_.size() - 1);
    }
    return static_cast<std::uint32_t>(any);
  };
  auto put = [&](std::uint32_t pc, Op op, std::uint32_t x = 0, std::uint32_t y = 0) {
    a->program_[pc] = Inst{op, x, y};
  };

  for (std::size_t i = 0; i < count; ++i) {
    const Instruction& in = program[i];
    const std::uint32_t q = at[i];
    const std::uint32_t next = at[i + 1];
    switch (in.op) {
      case detail::Op::Byte: put(q, Op::Consume, byteSet(in.byte)); break;
      case detail::Op::String:
        for (std::uint32_t j = 0; j < in.b; ++j) {
          put(q + j, Op::Consume, byteSet(static_cast<unsigned char>(literals[in.a + j])));
        }
        break;
      case detail::Op::Any: put(q, Op::Consume, anySet()); break;
      case detail::Op::Class: put(q, Op::Consume, in.a); break;
      case detail::Op::End: put(q, Op::AssertEnd, 0, next); break;
      case detail::Op::Jump: put(q, Op::Jump, at[in.a]); break;
      case detail::Op::Split: put(q, Op::Split, at[in.a], at[in.b]); break;
      case detail::Op::SetSlot:
      case detail::Op::ClearSlot:
      case detail::Op::Capture:
        put(q, Op::Jump, next);
        break;
      case detail::Op::Loop:
        // The backtracker ends a loop at a repetition that consumed nothing.
        // Whether some path matches does not change: leaving such a
        // repetition out of a matching path gives another matching path.
        put(q, Op::Split, at[in.b], next);
        break;
      case detail::Op::Repeat:
        if (in.b == 0) {
          put(q, Op::Split, q + 1, next);
          put(q + 1, Op::Consume, in.a);
          put(q + 2, Op::Jump, q);
        } else {
          put(q, Op::Consume, in.a);
          put(q + 1, Op::Split, q, next);
        }
        break;
      case detail::Op::LookBegin: {
        // Only a look-ahead over one instruction that tests the next byte
        // (or the end) becomes a test; its item and its end are skipped.
        if (in.a != i + 3) return nullptr;
        const Instruction& item = program[i + 1];
        const std::uint32_t after = at[in.a];
        switch (item.op) {
          case detail::Op::Byte: put(q, Op::AssertNotIn, byteSet(item.byte), after); break;
          case detail::Op::Any: put(q, Op::AssertEnd, 0, after); break;
          case detail::Op::Class: put(q, Op::AssertNotIn, item.a, after); break;
          case detail::Op::End: put(q, Op::AssertNotEnd, 0, after); break;
          case detail::Op::Repeat:
            // A run of at least one byte of the set is there exactly when
            // the next byte is in it; a run that may be empty is always there.
            if (item.b == 0) {
              put(q, Op::Fail);
            } else {
              put(q, Op::AssertNotIn, item.a, after);
            }
            break;
          default:
            return nullptr;
        }
        i += 2;  // the item and the end of the look-ahead stay kFail
        break;
      }
      case detail::Op::LookMatched:
      case detail::Op::BackReference:
        return nullptr;
      case detail::Op::Match: put(q, Op::Match); break;
    }
  }

  a->ComputeByteClasses(foldCase);
  a->inject_ = !anchored;
  a->start_ = 0;
  a->budget_ = cacheBytes;
  a->maxStates_ = kTableSlots / 2;
  a->tableMask_ = kTableSlots - 1;
  a->table_.reset(new std::atomic<const State*>[kTableSlots]);
  for (std::size_t i = 0; i < kTableSlots; ++i) a->table_[i].store(nullptr, std::memory_order_relaxed);
  a->bytes_.store(kTableSlots * sizeof(std::atomic<const State*>), std::memory_order_relaxed);

  if (startSet != nullptr && a->inject_) {
    a->skip_ = true;
    a->startSet_ = *startSet;
    if (foldCase) {
      for (unsigned c = 'a'; c <= 'z'; ++c) {
        if (a->startSet_.Test(static_cast<unsigned char>(c))) a->startSet_.Add(static_cast<unsigned char>(c - 32));
      }
    }
    if (a->startSet_.Count() <= 8) {
      std::string bytes;
      for (unsigned b = 0; b < 256; ++b) {
        if (a->startSet_.Test(static_cast<unsigned char>(b))) bytes.push_back(static_cast<char>(b));
      }
      a->startBytes_ = ByteChoice(bytes);
    }
  }
  std::vector<std::uint32_t> kernel;
  if (anchored) kernel.push_back(a->start_);
  a->initial_ = a->Intern(kernel, true);
  if (a->initial_ == nullptr) throw std::bad_alloc();

  return a;
}

Automaton::~Automaton() {
  if (!table_) return;
  for (std::size_t i = 0; i <= tableMask_; ++i) {
    const State* s = table_[i].load(std::memory_order_relaxed);
    if (s != nullptr) ::operator delete(const_cast<State*>(s));
  }
}

// Bytes that every set of the program treats alike share a class, so that a
// state needs one transition per class rather than per byte.
void Automaton::ComputeByteClasses(bool foldCase) {
  std::vector<bool> used(sets_.size(), false);
  for (const Inst& in : program_) {
    if (in.op == Op::Consume || in.op == Op::AssertNotIn) used[in.a] = true;
  }
  std::uint16_t klass[256] = {};
  std::uint32_t count = 1;
  std::vector<std::int32_t> renumber;
  for (std::size_t s = 0; s < sets_.size(); ++s) {
    if (!used[s]) continue;
    renumber.assign(2 * count, -1);
    std::uint32_t fresh = 0;
    for (unsigned b = 0; b < 256; ++b) {
      const std::size_t key = 2 * std::size_t{klass[b]} + (sets_[s].Test(static_cast<unsigned char>(b)) ? 1 : 0);
      if (renumber[key] < 0) renumber[key] = static_cast<std::int32_t>(fresh++);
      klass[b] = static_cast<std::uint16_t>(renumber[key]);
    }
    count = fresh;
  }
  for (unsigned b = 0; b < 256; ++b) classOf_[b] = static_cast<std::uint8_t>(klass[b]);
  classCount_ = count;
  for (unsigned b = 256; b-- > 0;) classRep_[classOf_[b]] = static_cast<std::uint8_t>(b);
  if (foldCase) {
    // The subject's capitals behave as its small letters (the pattern has
    // been lower-cased already, so its sets say nothing of capitals).
    for (unsigned c = 'A'; c <= 'Z'; ++c) classOf_[c] = classOf_[c + 32];
  }
}

bool Automaton::Step(const std::uint32_t* kernel, std::size_t size, bool inject, std::uint32_t klass,
                     std::vector<std::uint32_t>& next, Scratch& scratch) const {
  next.clear();
  if (scratch.mark.size() < program_.size()) scratch.mark.resize(program_.size(), 0);
  if (++scratch.generation == 0) {
    std::fill(scratch.mark.begin(), scratch.mark.end(), 0);
    scratch.generation = 1;
  }
  const std::uint32_t generation = scratch.generation;
  std::uint32_t* const mark = scratch.mark.data();
  std::vector<std::uint32_t>& stack = scratch.stack;
  stack.clear();
  for (std::size_t i = size; i-- > 0;) stack.push_back(kernel[i]);
  if (inject) stack.push_back(start_);
  const bool end = klass == kEndClass;
  const unsigned char rep = end ? 0 : classRep_[klass];
  while (!stack.empty()) {
    const std::uint32_t pc = stack.back();
    stack.pop_back();
    if (mark[pc] == generation) continue;
    mark[pc] = generation;
    const Inst& in = program_[pc];
    switch (in.op) {
      case Op::Consume:
        if (!end && sets_[in.a].Test(rep)) next.push_back(pc + 1);
        break;
      case Op::Split:
        stack.push_back(in.b);
        stack.push_back(in.a);
        break;
      case Op::Jump: stack.push_back(in.a); break;
      case Op::AssertNotIn:
        if (end || !sets_[in.a].Test(rep)) stack.push_back(in.b);
        break;
      case Op::AssertEnd:
        if (end) stack.push_back(in.b);
        break;
      case Op::AssertNotEnd:
        if (!end) stack.push_back(in.b);
        break;
      case Op::Fail: break;
      case Op::Match: return true;
    }
  }
  std::sort(next.begin(), next.end());
  return false;
}

const Automaton::State* Automaton::Intern(const std::vector<std::uint32_t>& kernel, bool mayAdd) const {
  const std::uint32_t hash = HashOf(kernel.data(), kernel.size());
  const std::size_t kernelBytes = kernel.size() * sizeof(std::uint32_t);
  auto same = [&](const State* s) {
    return s->hash == hash && s->size == kernel.size() &&
           (kernelBytes == 0 || std::memcmp(s->pcs, kernel.data(), kernelBytes) == 0);
  };
  for (std::size_t i = hash & tableMask_;; i = (i + 1) & tableMask_) {
    const State* s = table_[i].load(std::memory_order_acquire);
    if (s != nullptr) {
      if (same(s)) return s;
      continue;
    }
    if (!mayAdd) return nullptr;
    // Reserve room in the budget; the first state is always allowed.
    const std::size_t need = sizeof(State) + classCount_ * sizeof(std::atomic<const State*>) + kernelBytes;
    const std::size_t held = states_.fetch_add(1, std::memory_order_relaxed);
    const std::size_t bytes = bytes_.fetch_add(need, std::memory_order_relaxed);
    auto giveBack = [&] {
      states_.fetch_sub(1, std::memory_order_relaxed);
      bytes_.fetch_sub(need, std::memory_order_relaxed);
    };
    if (held != 0 && (held >= maxStates_ || bytes + need > budget_)) {
      giveBack();
      return nullptr;
    }
    void* block = ::operator new(need, std::nothrow);
    if (block == nullptr) {
      giveBack();
      return nullptr;
    }
    State* fresh = new (block) State;
    fresh->hash = hash;
    fresh->size = static_cast<std::uint32_t>(kernel.size());
    fresh->stop = kernel.empty() && (!inject_ || skip_);
    fresh->next = reinterpret_cast<std::atomic<const State*>*>(static_cast<char*>(block) + sizeof(State));
    for (std::uint32_t k = 0; k < classCount_; ++k) new (&fresh->next[k]) std::atomic<const State*>(nullptr);
    fresh->pcs = reinterpret_cast<std::uint32_t*>(fresh->next + classCount_);
    if (kernelBytes != 0) std::memcpy(fresh->pcs, kernel.data(), kernelBytes);
    const State* expected = nullptr;
    if (table_[i].compare_exchange_strong(expected, fresh, std::memory_order_acq_rel, std::memory_order_acquire)) {
      return fresh;
    }
    // Another thread took the slot first.
    ::operator delete(block);
    giveBack();
    if (same(expected)) return expected;
  }
}

bool Automaton::EndAccepts(const State* state, Scratch& scratch) const {
  const std::int8_t known = state->endAnswer.load(std::memory_order_relaxed);
  if (known >= 0) return known != 0;
  const bool yes = Step(state->pcs, state->size, false, kEndClass, scratch.next, scratch);
  state->endAnswer.store(yes ? 1 : 0, std::memory_order_relaxed);
  return yes;
}

bool Automaton::Search(std::string_view subject, std::size_t* read) const {
  static platform::PerThread<Scratch> scratches;
  Scratch& scratch = scratches.Get();
  const auto* s = reinterpret_cast<const unsigned char*>(subject.data());
  const std::size_t n = subject.size();
  // The answer, decided on the first `upTo` bytes.
  const auto decided = [read](bool yes, std::size_t upTo) {
    if (read != nullptr) *read = upTo;
    return yes;
  };
  if (n == 0) {
    // Only position 0 is tried, and it is the end.
    const std::int8_t known = emptyAnswer_.load(std::memory_order_relaxed);
    if (known >= 0) return decided(known != 0, 0);
    const bool yes = Step(initial_->pcs, initial_->size, inject_, kEndClass, scratch.next, scratch);
    emptyAnswer_.store(yes ? 1 : 0, std::memory_order_relaxed);
    return decided(yes, 0);
  }
  const State* const matched = Matched<State>();
  const State* state = initial_;
  // While `state` is null, the search simulates: `current` holds the kernel.
  std::vector<std::uint32_t>& current = scratch.current;
  std::size_t p = 0;
  while (p < n) {
    if (state == nullptr) {
      if (Step(current.data(), current.size(), inject_, classOf_[s[p]], scratch.next, scratch)) {
        return decided(true, p + 1);
      }
      current.swap(scratch.next);
      ++p;
      if (!inject_ && current.empty()) return decided(false, p);
      state = Intern(current, false);  // back to the built states where one exists
      continue;
    }
    if (state->stop) {
      if (!inject_) return decided(false, p);  // anchored, and nothing left under way
      // Nothing is under way: go to the next byte that can begin a match.
      if (!startBytes_.bytes.empty()) {
        p = FindAnyOf(subject, p, startBytes_);
        if (p == n) return decided(false, n);
      } else {
        while (p < n && !startSet_.Test(s[p])) ++p;
        if (p == n) return decided(false, n);
      }
    }
    // The built states, one load per byte, until a transition is missing,
    // the program matched, or a state asks for the checks above.
    const State* next = nullptr;
    for (;;) {
      next = state->next[classOf_[s[p]]].load(std::memory_order_acquire);
      if (next == nullptr || next == matched) break;
      state = next;
      if (++p == n || state->stop) break;
    }
    if (next == matched) return decided(true, p + 1);
    if (next != nullptr) continue;
    const std::uint32_t klass = classOf_[s[p]];
    if (Step(state->pcs, state->size, inject_, klass, scratch.next, scratch)) {
      state->next[klass].store(matched, std::memory_order_release);
      return decided(true, p + 1);
    }
    next = Intern(scratch.next, true);
    ++p;
    if (next == nullptr) {
      // The budget allows no further state: simulate from here on.
      current.swap(scratch.next);
      state = nullptr;
      if (!inject_ && current.empty()) return decided(false, p);
      continue;
    }
    state->next[klass].store(next, std::memory_order_release);
    state = next;
  }
  if (state != nullptr) return decided(EndAccepts(state, scratch), n);
  return decided(Step(current.data(), current.size(), false, kEndClass, scratch.next, scratch), n);
}

}  // namespace sentrel::pattern::detail
