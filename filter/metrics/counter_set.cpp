#include "filter/metrics/counter_set.h"

namespace sentrel::metrics {

namespace {

std::uint64_t NextSetId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

constinit thread_local CounterSet::ThreadCache CounterSet::tCache{0, nullptr};

CounterSet::CounterSet(std::size_t counters)
    : id_(NextSetId()), counters_(counters), lines_((counters + kSlotsPerLine - 1) / kSlotsPerLine) {}

CounterSet::~CounterSet() {
  Block* block = blocks_.load(std::memory_order_acquire);
  while (block != nullptr) {
    Block* next = block->next;
    delete block;
    block = next;
  }
}

CounterSet::Line* CounterSet::Register() {
  const void* me = &tCache;
  Block* found = nullptr;
  for (Block* b = blocks_.load(std::memory_order_acquire); b != nullptr; b = b->next) {
    if (b->owner == me) {
      found = b;
      break;
    }
  }
  if (found == nullptr) {
    found = new Block{me, std::make_unique<Line[]>(lines_), nullptr};
    for (std::size_t i = 0; i < lines_; ++i) {
      for (auto& slot : found->lines[i].slots) slot.store(0, std::memory_order_relaxed);
    }
    found->next = blocks_.load(std::memory_order_relaxed);
    while (!blocks_.compare_exchange_weak(found->next, found, std::memory_order_release,
                                          std::memory_order_relaxed)) {
    }
  }
  tCache = ThreadCache{id_, found->lines.get()};
  return found->lines.get();
}

std::uint64_t CounterSet::Read(std::size_t index) const {
  std::uint64_t total = 0;
  for (const Block* b = blocks_.load(std::memory_order_acquire); b != nullptr; b = b->next) {
    total += b->lines[index / kSlotsPerLine].slots[index % kSlotsPerLine].load(std::memory_order_relaxed);
  }
  return total;
}

std::size_t CounterSet::BlockCount() const {
  std::size_t count = 0;
  for (const Block* b = blocks_.load(std::memory_order_acquire); b != nullptr; b = b->next) ++count;
  return count;
}

}  // namespace sentrel::metrics
