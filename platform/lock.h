// The critical section: a mutual-exclusion lock (the system's critical section
// on Windows, the standard mutex elsewhere).
//
// Every critical section also records itself, while it is held, in a small
// per-thread list of the locks the thread holds. The crash guard uses the list:
// when it abandons work interrupted by a fault, it leaves every lock that work
// still held, so later requests never wait on them forever. Keeping the list
// costs a thread-local store on each Enter and Leave and allocates nothing.
#pragma once

#include <cstddef>
#include "platform/native_mutex.h"

namespace sentrel::platform {

class CriticalSection;

// The locks the current thread holds, in the order it took them. A lock taken
// while the list is full is not listed (and is then not released by
// ReleaseHeldLocks); the filter's lock order never nests more than three.
struct HeldLockList {
  static constexpr std::size_t kCapacity = 16;
  CriticalSection* locks[kCapacity];
  std::size_t count;
};

namespace detail {
inline constinit thread_local HeldLockList tHeldLocks{};
}  // namespace detail

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() {
    mutex_.lock();
    Track();
  }
  // Takes the lock only when it is free at once.
  bool TryEnter() {
    if (!mutex_.try_lock()) return false;
    Track();
    return true;
  }
  void Leave() {
    Untrack();
    mutex_.unlock();
  }

 private:
  friend std::size_t ReleaseHeldLocks(std::size_t keep);

  void Track() {
    HeldLockList& held = detail::tHeldLocks;
    if (held.count < HeldLockList::kCapacity) held.locks[held.count++] = this;
  }
  void Untrack() {
    HeldLockList& held = detail::tHeldLocks;
    if (held.count != 0 && held.locks[held.count - 1] == this) {
      --held.count;  // the usual case: the newest lock is left first
      return;
    }
    for (std::size_t i = held.count; i-- > 0;) {
      if (held.locks[i] != this) continue;
      for (std::size_t j = i + 1; j < held.count; ++j) held.locks[j - 1] = held.locks[j];
      --held.count;
      return;
    }
  }

  NativeMutex mutex_;
};

// How many critical sections the current thread holds (as listed).
inline std::size_t HeldLockCount() { return detail::tHeldLocks.count; }

// Leaves, newest first, every critical section the current thread took after
// the first `keep` it holds. Used when work is abandoned after a fault, on the
// thread that was doing it. Returns how many were left.
inline std::size_t ReleaseHeldLocks(std::size_t keep = 0) {
  HeldLockList& held = detail::tHeldLocks;
  std::size_t released = 0;
  while (held.count > keep) {
    CriticalSection* lock = held.locks[--held.count];
    lock->mutex_.unlock();
    ++released;
  }
  return released;
}

// Holds a critical section for the lifetime of a scope.
class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~ScopedLock() { cs_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& cs_;
};

}  // namespace sentrel::platform
