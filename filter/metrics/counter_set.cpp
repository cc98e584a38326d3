#include "filter/metrics/counter_set.h"

namespace sentrel::metrics {

constinit thread_local std::size_t CounterSet::tStripe = 0;

std::size_t CounterSet::NextStripe() {
  static std::atomic<std::size_t> next{0};
  return next.fetch_add(1, std::memory_order_relaxed) % kStripes;
}

CounterSet::CounterSet(std::size_t counters)
    : counters_(counters),
      linesPerStripe_((counters + kSlotsPerLine - 1) / kSlotsPerLine),
      lines_(std::make_unique<Line[]>(kStripes * linesPerStripe_)) {
  for (std::size_t i = 0; i < kStripes * linesPerStripe_; ++i) {
    for (auto& slot : lines_[i].slots) slot.store(0, std::memory_order_relaxed);
  }
}

std::uint64_t CounterSet::Read(std::size_t index) const {
  std::uint64_t total = 0;
  for (std::size_t stripe = 0; stripe < kStripes; ++stripe) {
    const std::size_t slot = stripe * linesPerStripe_ * kSlotsPerLine + index;
    total += lines_[slot / kSlotsPerLine].slots[slot % kSlotsPerLine].load(std::memory_order_relaxed);
  }
  return total;
}

}  // namespace sentrel::metrics
