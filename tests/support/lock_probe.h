// Whether another thread could take a critical section right now: the check
// that a lock was left, or released by the crash guard, as it should be.
#pragma once

#include <thread>

#include "platform/lock.h"

namespace sentrel::test {

inline bool FreeForOthers(platform::CriticalSection& lock) {
  bool taken = false;
  std::thread other([&] {
    taken = lock.TryEnter();
    if (taken) lock.Leave();
  });
  other.join();
  return taken;
}

}  // namespace sentrel::test
