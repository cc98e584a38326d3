// The filter's hot path: once a pattern is cached, MatchRulePattern must not
// touch the heap. Counts every allocation of this test program.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "filter/pattern/pattern_cache.h"
#include "filter/pattern/rule_pattern.h"

namespace {
std::atomic<long> allocations{0};

void* Allocate(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

// Every ordinary form of new and delete, all on malloc and free, so that the
// count is complete and the sanitizers see matching pairs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace sentrel::pattern {
namespace {

TEST(Allocation, CachedRuleTestsAllocateNothing) {
  const std::vector<std::string> patterns = {"bot", "(spider)|(crawl)", "[a-z]+bot", "^mozilla/\\d\\.\\d",
                                             "\\.php\\?id=\\z", "union.+select", "{\\w+}=\\0", "a!b", "(ab]"};
  const std::vector<std::string> subjects = {
      "mozilla/5.0 (compatible; examplebot/2.1; +http://www.example.com/bot.html)",
      "/index.php?id=1%20union%20all%20select%20x", "python-requests/2.31.0", "", "ab=ab"};
  PatternCache cache;
  int found = 0;
  for (const auto& p : patterns) {
    for (const auto& s : subjects) found += cache.MatchRulePattern(p, s);  // fills the cache
  }
  const long before = allocations.load();
  int again = 0;
  for (int round = 0; round < 100; ++round) {
    for (const auto& p : patterns) {
      for (const auto& s : subjects) again += cache.MatchRulePattern(p, s);
    }
  }
  EXPECT_EQ(allocations.load() - before, 0);
  EXPECT_EQ(again, 100 * found);
  EXPECT_GT(found, 0);
}

TEST(Allocation, CounterSeesAllocations) {
  // The compile path does allocate: proves the counter is wired in.
  const long before = allocations.load();
  RulePattern p;
  ASSERT_EQ(p.Compile("abc", true), CompileCode::Success);
  EXPECT_GT(allocations.load() - before, 0);
}

}  // namespace
}  // namespace sentrel::pattern
