// The per-thread list of held critical sections, and releasing what a thread
// holds after its work was abandoned.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/lock.h"
#include "tests/support/lock_probe.h"

namespace sentrel::platform {
namespace {

// Whether another thread can take the lock at once (and leaves it again).
using test::FreeForOthers;

TEST(HeldLocks, EnterAndLeaveKeepTheCount) {
  CriticalSection a, b, c;
  ASSERT_EQ(HeldLockCount(), 0u);
  a.Enter();
  b.Enter();
  EXPECT_EQ(HeldLockCount(), 2u);
  {
    ScopedLock hold(c);
    EXPECT_EQ(HeldLockCount(), 3u);
  }
  EXPECT_EQ(HeldLockCount(), 2u);
  b.Leave();
  a.Leave();
  EXPECT_EQ(HeldLockCount(), 0u);
  EXPECT_TRUE(FreeForOthers(a));
}

TEST(HeldLocks, LeavingOutOfOrderKeepsTheOthersListed) {
  CriticalSection a, b, c;
  a.Enter();
  b.Enter();
  c.Enter();
  b.Leave();  // not the newest
  EXPECT_EQ(HeldLockCount(), 2u);
  // a and c are still listed: releasing everything frees both.
  EXPECT_EQ(ReleaseHeldLocks(), 2u);
  EXPECT_TRUE(FreeForOthers(a));
  EXPECT_TRUE(FreeForOthers(b));
  EXPECT_TRUE(FreeForOthers(c));
}

TEST(HeldLocks, TryEnterIsListedOnlyWhenItTakesTheLock) {
  CriticalSection a;
  ASSERT_TRUE(a.TryEnter());
  EXPECT_EQ(HeldLockCount(), 1u);
  EXPECT_FALSE(FreeForOthers(a));
  a.Leave();
  EXPECT_EQ(HeldLockCount(), 0u);

  a.Enter();
  std::thread other([&] {
    EXPECT_FALSE(a.TryEnter());
    EXPECT_EQ(HeldLockCount(), 0u);
  });
  other.join();
  a.Leave();
}

TEST(HeldLocks, ReleaseKeepsTheLocksHeldBefore) {
  CriticalSection outer, inner1, inner2;
  outer.Enter();
  const std::size_t before = HeldLockCount();
  inner1.Enter();
  inner2.Enter();
  EXPECT_EQ(ReleaseHeldLocks(before), 2u);
  EXPECT_EQ(HeldLockCount(), 1u);
  EXPECT_TRUE(FreeForOthers(inner1));
  EXPECT_TRUE(FreeForOthers(inner2));
  EXPECT_FALSE(FreeForOthers(outer));
  outer.Leave();
  EXPECT_EQ(ReleaseHeldLocks(), 0u);
}

TEST(HeldLocks, EachThreadListsOnlyItsOwnLocks) {
  CriticalSection mine, theirs;
  mine.Enter();
  std::thread other([&] {
    theirs.Enter();
    EXPECT_EQ(HeldLockCount(), 1u);
    // Releasing here leaves only this thread's lock.
    EXPECT_EQ(ReleaseHeldLocks(), 1u);
  });
  other.join();
  EXPECT_EQ(HeldLockCount(), 1u);
  EXPECT_TRUE(FreeForOthers(theirs));
  EXPECT_FALSE(FreeForOthers(mine));
  mine.Leave();
}

TEST(HeldLocks, BeyondCapacityLocksAreNotListedButStillWork) {
  constexpr std::size_t kExtra = 3;
  std::vector<CriticalSection> locks(HeldLockList::kCapacity + kExtra);
  for (auto& lock : locks) lock.Enter();
  EXPECT_EQ(HeldLockCount(), HeldLockList::kCapacity);
  // Leaving an unlisted lock leaves the list alone.
  locks.back().Leave();
  EXPECT_EQ(HeldLockCount(), HeldLockList::kCapacity);
  for (std::size_t i = HeldLockList::kCapacity; i + 1 < locks.size(); ++i) locks[i].Leave();
  EXPECT_EQ(ReleaseHeldLocks(), HeldLockList::kCapacity);
  for (auto& lock : locks) EXPECT_TRUE(FreeForOthers(lock));
}

}  // namespace
}  // namespace sentrel::platform
