// The cost the crash guard adds per notification: a guarded call around an
// empty body, and a critical section's Enter/Leave (with the held-lock list)
// next to a bare mutex.
#include <benchmark/benchmark.h>

#include <mutex>

#include "filter/crash/crash_guard.h"
#include "platform/clock.h"
#include "platform/lock.h"

namespace sentrel {
namespace {

void BM_UnguardedCall(benchmark::State& state) {
  int counter = 0;
  auto body = [&] { benchmark::DoNotOptimize(++counter); };
  void (*call)(void*) = [](void* p) { (*static_cast<decltype(body)*>(p))(); };
  for (auto _ : state) {
    benchmark::DoNotOptimize(call);
    call(&body);
  }
}
BENCHMARK(BM_UnguardedCall);

void BM_GuardedCall(benchmark::State& state) {
  platform::FakeClock clock;
  CrashDumpTarget target;
  target.Configure("/tmp\\", clock);
  int counter = 0;
  auto body = [&] { benchmark::DoNotOptimize(++counter); };
  for (auto _ : state) benchmark::DoNotOptimize(RunGuarded(target, body));
}
BENCHMARK(BM_GuardedCall)->ThreadRange(1, 2);

void BM_BareMutex(benchmark::State& state) {
  std::mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    benchmark::ClobberMemory();
    mutex.unlock();
  }
}
BENCHMARK(BM_BareMutex);

void BM_CriticalSection(benchmark::State& state) {
  platform::CriticalSection lock;
  for (auto _ : state) {
    lock.Enter();
    benchmark::ClobberMemory();
    lock.Leave();
  }
}
BENCHMARK(BM_CriticalSection);

// A client's lock with the log lock inside it, as an evaluation takes them.
void BM_CriticalSectionNested(benchmark::State& state) {
  platform::CriticalSection client, log;
  for (auto _ : state) {
    platform::ScopedLock holdClient(client);
    platform::ScopedLock holdLog(log);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_CriticalSectionNested);

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();
