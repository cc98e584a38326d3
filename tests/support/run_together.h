// Runs the same work on several threads released at one moment, so that
// they meet in the code under test, and waits for all of them.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace sentrel::test {

// Calls body(t) for t = 0 .. threads-1, each on a thread of its own.
inline void RunTogether(int threads, const std::function<void(int)>& body) {
  std::atomic<bool> go{false};
  std::vector<std::thread> running;
  running.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) {
    running.emplace_back([&go, &body, t] {
      while (!go.load()) std::this_thread::yield();
      body(t);
    });
  }
  go = true;
  for (auto& thread : running) thread.join();
}

}  // namespace sentrel::test
