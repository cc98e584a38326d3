// CallBatch: every call of a batch is run at most once and concluded or
// handed back exactly once, whenever the event loop reviews the batch.
#include "hosts/nginx/call_batch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace sentrel::nginx {
namespace {

struct Call {
  int id = 0;
  int runs = 0;      // written by the pool thread
  int result = 0;    // written by the pool thread, read when concluded
  int concluded = 0;
  int handedBack = 0;
};

std::vector<void*> Pointers(std::vector<Call>& calls) {
  std::vector<void*> out;
  for (auto& call : calls) out.push_back(&call);
  return out;
}

std::string Ids(const std::vector<Call>& calls, int Call::*field) {
  std::string out;
  for (const auto& call : calls) {
    if (call.*field == 1) out += std::to_string(call.id);
  }
  return out;
}

// The event loop reviews a batch of four at one moment of the pool thread's
// work: before it starts, while call N runs, after N calls, or after all.
TEST(CallBatch, ReviewTakesBackOnlyCallsQueuedBehindARunningOne) {
  struct Case {
    const char* name;
    int reviewWhileRunning;  // -1: between calls
    int runBefore;           // calls finished before the review
    const char* concludedByReview;
    const char* handedBack;
    bool reviewAgain;
    const char* concludedAtReturn;
  };
  const Case cases[] = {
      {"not started", -1, 0, "", "", true, "0123"},
      {"first call runs", 0, 0, "", "123", false, "0"},
      {"third call runs", 2, 2, "01", "3", false, "2"},
      {"last call runs", 3, 3, "012", "", false, "3"},
      {"between calls", -1, 2, "01", "", true, "23"},
      {"all returned", -1, 4, "0123", "", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Call> calls(4);
    for (int i = 0; i < 4; ++i) calls[i].id = i;
    CallBatch batch(Pointers(calls));
    auto conclude = [](void* p) { ++static_cast<Call*>(p)->concluded; };
    auto handBack = [](void* p) { ++static_cast<Call*>(p)->handedBack; };
    bool again = false;
    auto review = [&] {
      again = batch.Review(conclude, handBack);
      EXPECT_EQ(Ids(calls, &Call::concluded), c.concludedByReview);
      EXPECT_EQ(Ids(calls, &Call::handedBack), c.handedBack);
    };
    auto run = [&](void* p) {
      auto* call = static_cast<Call*>(p);
      ++call->runs;
      if (call->id == c.reviewWhileRunning) review();
    };
    for (int i = 0; i < c.runBefore; ++i) ASSERT_TRUE(batch.RunNext(run));
    if (c.reviewWhileRunning < 0) review();
    batch.Run(run);
    EXPECT_EQ(again, c.reviewAgain);

    for (auto& call : calls) call.concluded = 0;
    batch.Returned(conclude);
    EXPECT_EQ(Ids(calls, &Call::concluded), c.concludedAtReturn);
    for (const auto& call : calls) {
      EXPECT_EQ(call.runs, call.handedBack == 1 ? 0 : 1) << call.id;
    }
  }
}

// A pool thread runs a batch, some calls slowly, while the event loop reviews
// it over and over: each call runs at most once, its result is seen by the
// side that concludes it, and it is concluded or handed back exactly once.
TEST(CallBatchConcurrency, EveryCallEndsOnceWhileReviewed) {
  for (int round = 0; round < 50; ++round) {
    std::vector<Call> calls(16);
    for (int i = 0; i < 16; ++i) calls[i].id = i;
    CallBatch batch(Pointers(calls));
    std::atomic<bool> finished{false};
    std::thread pool([&] {
      batch.Run([&](void* p) {
        auto* call = static_cast<Call*>(p);
        ++call->runs;
        if (call->id % 5 == round % 5) std::this_thread::sleep_for(std::chrono::microseconds(200));
        call->result = call->id + 1;
      });
      finished.store(true, std::memory_order_release);
    });
    auto conclude = [](void* p) {
      auto* call = static_cast<Call*>(p);
      EXPECT_EQ(call->result, call->id + 1);
      ++call->concluded;
    };
    auto handBack = [](void* p) { ++static_cast<Call*>(p)->handedBack; };
    while (!finished.load(std::memory_order_acquire)) batch.Review(conclude, handBack);
    pool.join();
    batch.Returned(conclude);
    for (const auto& call : calls) {
      EXPECT_EQ(call.concluded + call.handedBack, 1) << call.id;
      if (call.handedBack == 1) {
        EXPECT_EQ(call.runs, 0) << call.id;
      }
    }
  }
}

}  // namespace
}  // namespace sentrel::nginx
