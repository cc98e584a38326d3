// Counters the request path adds to from many threads at once without a lock
// and without a locked instruction.
//
// Every thread that counts gets a block of slots of its own, one slot per
// counter, on cache lines of its own: its first count registers the block,
// and later counts find it through a thread-local cache. Only the owning
// thread writes a block, so a count is a relaxed load and store of its own
// slot (no atomic read-modify-write, no shared cache line); reading a
// counter sums its slot over all blocks with relaxed loads, which never see a
// torn value. A block outlives its thread and is taken over by the next
// thread that comes to use the same thread-local storage, so a server whose
// threads come and go does not pile up blocks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace sentrel::metrics {

class CounterSet {
 public:
  explicit CounterSet(std::size_t counters);
  ~CounterSet();
  CounterSet(const CounterSet&) = delete;
  CounterSet& operator=(const CounterSet&) = delete;

  std::size_t size() const { return counters_; }

  // Adds to counter `index` (below size()).
  void Add(std::size_t index, std::uint64_t amount = 1) {
    const ThreadCache& cache = tCache;
    Line* lines = cache.set == id_ ? cache.lines : Register();
    std::atomic<std::uint64_t>& slot = lines[index / kSlotsPerLine].slots[index % kSlotsPerLine];
    slot.store(slot.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
  }

  // The counter's total over all threads' blocks.
  std::uint64_t Read(std::size_t index) const;

  // Blocks registered so far (one per thread that counted).
  std::size_t BlockCount() const;

 private:
  static constexpr std::size_t kLineBytes = 64;
  static constexpr std::size_t kSlotsPerLine = kLineBytes / sizeof(std::uint64_t);
  struct alignas(kLineBytes) Line {
    std::atomic<std::uint64_t> slots[kSlotsPerLine];
  };
  struct Block {
    const void* owner;  // the thread-local cache of the thread that writes it
    std::unique_ptr<Line[]> lines;
    Block* next;
  };
  // The block the thread used last, by the set's id (ids are never reused,
  // so a cache left over from a destroyed set never matches).
  struct ThreadCache {
    std::uint64_t set;
    Line* lines;
  };

  // Finds or registers the calling thread's block and caches it.
  Line* Register();

  static constinit thread_local ThreadCache tCache;

  const std::uint64_t id_;
  const std::size_t counters_;
  const std::size_t lines_;
  std::atomic<Block*> blocks_{nullptr};
};

}  // namespace sentrel::metrics
