// CallBatch: the filter calls of one turn of a worker's event loop, handed
// to one pool thread together.
//
// Waking a pool thread and being woken back costs a worker more than a
// filter call itself, so the requests whose headers were read in one turn
// of the event loop go to the pool as one task, run one after another. A
// call can block for long (waits for a missing variable, the picture-code
// lock, disk writes), and the calls queued behind it in the same batch
// must not wait for it: when a batch is still out after a short while, the
// event loop reviews it, concludes the calls that have returned and takes
// back the ones not yet started, to hand them over again in a batch of
// their own. Each call is claimed by exactly one side, so each runs once
// and is concluded once.
//
// Threads: Run/RunNext on the pool thread; Review and Returned on the event
// loop. An item's state is the only field both sides touch.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

namespace sentrel::nginx {

class CallBatch {
 public:
  explicit CallBatch(const std::vector<void*>& calls) : size_(calls.size()), items_(new Item[calls.size()]) {
    for (std::size_t i = 0; i < size_; ++i) items_[i].call = calls[i];
  }

  std::size_t size() const { return size_; }

  // Pool thread: runs the next call nobody has taken back; false when none is left.
  template <class RunCall>
  bool RunNext(RunCall&& run) {
    for (; next_ < size_; ++next_) {
      Item& item = items_[next_];
      int expected = kPending;
      if (!item.state.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel)) continue;
      run(item.call);
      item.state.store(kReturned, std::memory_order_release);
      ++next_;
      return true;
    }
    return false;
  }

  template <class RunCall>
  void Run(RunCall&& run) {
    while (RunNext(run)) {
    }
  }

  // Event loop, the batch still out: `conclude(call)` for each call that has
  // returned, `handBack(call)` for each one not started while another call
  // runs (that one may block for long). Returns whether calls are left that
  // nobody runs yet, so the batch is worth reviewing again later.
  template <class Conclude, class HandBack>
  bool Review(Conclude&& conclude, HandBack&& handBack) {
    bool running = false;
    for (std::size_t i = 0; i < size_; ++i) {
      Item& item = items_[i];
      if (item.concluded) continue;
      const int state = item.state.load(std::memory_order_acquire);
      if (state == kReturned) {
        item.concluded = true;
        conclude(item.call);
      } else if (state == kRunning) {
        running = true;
      }
    }
    // Not started yet (every pool thread busy) or between two calls: a new
    // task would only queue behind this one.
    if (!running) return Pending();
    for (std::size_t i = 0; i < size_; ++i) {
      Item& item = items_[i];
      int expected = kPending;
      if (item.concluded ||
          !item.state.compare_exchange_strong(expected, kTakenBack, std::memory_order_acq_rel)) {
        continue;
      }
      item.concluded = true;
      handBack(item.call);
    }
    return false;
  }

  // Event loop, the pool thread has finished the batch: `conclude(call)` for
  // each call not already concluded or taken back.
  template <class Conclude>
  void Returned(Conclude&& conclude) {
    for (std::size_t i = 0; i < size_; ++i) {
      Item& item = items_[i];
      if (item.concluded || item.state.load(std::memory_order_acquire) != kReturned) continue;
      item.concluded = true;
      conclude(item.call);
    }
  }

 private:
  enum : int { kPending, kRunning, kReturned, kTakenBack };
  struct Item {
    void* call = nullptr;
    std::atomic<int> state{kPending};
    bool concluded = false;  // the event loop's own
  };

  bool Pending() const {
    for (std::size_t i = 0; i < size_; ++i) {
      if (items_[i].state.load(std::memory_order_acquire) == kPending) return true;
    }
    return false;
  }

  std::size_t size_;
  std::unique_ptr<Item[]> items_;
  std::size_t next_ = 0;  // the pool thread's own
};

}  // namespace sentrel::nginx
