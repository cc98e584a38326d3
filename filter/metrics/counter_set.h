// Counters the request path adds to from many threads at once without a lock.
//
// Every counter has one slot per stripe, and each thread adds to the slots of
// its own stripe (threads are dealt stripes in turn as they first count), so
// threads rarely share a cache line and never wait for one another; a slot is
// a relaxed atomic, so two threads that do share a stripe still count right.
// Reading a counter sums its slots over all stripes: a scrape costs a few
// thousand loads, a count one relaxed add.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sentrel::metrics {

class CounterSet {
 public:
  // Stripes of slots; more threads than this share stripes.
  static constexpr std::size_t kStripes = 16;

  explicit CounterSet(std::size_t counters);
  CounterSet(const CounterSet&) = delete;
  CounterSet& operator=(const CounterSet&) = delete;

  std::size_t size() const { return counters_; }

  // Adds to counter `index` (below size()).
  void Add(std::size_t index, std::uint64_t amount = 1) {
    const std::size_t slot = ThreadStripe() * linesPerStripe_ * kSlotsPerLine + index;
    lines_[slot / kSlotsPerLine].slots[slot % kSlotsPerLine].fetch_add(amount, std::memory_order_relaxed);
  }

  // The counter's total over all stripes.
  std::uint64_t Read(std::size_t index) const;

 private:
  static constexpr std::size_t kLineBytes = 64;
  static constexpr std::size_t kSlotsPerLine = kLineBytes / sizeof(std::uint64_t);
  struct alignas(kLineBytes) Line {
    std::atomic<std::uint64_t> slots[kSlotsPerLine];
  };

  // The stripe of the calling thread, dealt on its first count.
  static std::size_t ThreadStripe() {
    if (tStripe == 0) tStripe = NextStripe() + 1;
    return tStripe - 1;
  }
  static std::size_t NextStripe();
  static constinit thread_local std::size_t tStripe;  // stripe + 1; 0 = none yet

  std::size_t counters_;
  std::size_t linesPerStripe_;
  std::unique_ptr<Line[]> lines_;
};

}  // namespace sentrel::metrics
