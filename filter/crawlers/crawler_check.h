// The crawler check behind the server variable SENTREL_CRAWLER: which listed
// crawler a request's user agent claims to be, and whether the client's
// address is that crawler's, as far as the background resolver has found out.
//
// Verdicts are cached per address and crawler, with their ends in the
// filter's clock: verified and fake for 24 hours, unknown for 5 minutes. A
// request whose check is not done gets "pending NAME" at once; the check is
// queued (one queued or running check per address and crawler, however many
// requests ask) and the resolver's thread works the queue off. The cache and
// the queue are bounded: when the queue is full, a new address gets
// "pending NAME" without being queued and is queued by a later request.
//
// Lock: CrawlerLock guards the cache and the queue. A request thread takes it
// with its client's lock held, the resolver thread alone; nothing is taken
// while it is held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "filter/crawlers/crawler_list.h"
#include "filter/crawlers/resolver.h"
#include "platform/clock.h"
#include "platform/lock.h"

namespace sentrel::crawlers {

// The server variable the check answers; the host is never asked for it.
inline constexpr char kCrawlerVariable[] = "SENTREL_CRAWLER";

struct CheckLimits {
  std::int64_t verifiedSeconds = 86400;
  std::int64_t fakeSeconds = 86400;
  std::int64_t unknownSeconds = 300;
  // A check pending this long is queued again (its answer was lost).
  std::int64_t pendingSeconds = 300;
  std::size_t maxEntries = 65536;  // cached verdicts, pending ones included
  std::size_t maxQueued = 1024;    // checks waiting for the resolver
};

// How the check answers.
enum class CheckMode : std::uint8_t {
  Resolve,     // queue checks for the resolver; never wait
  Unresolved,  // no DNS at all: every claim is "unknown NAME"
  Wait,        // queue and wait (real time) for the verdict, up to waitMs: dry runs only
};

// Counts of the check's work, for tests and the tools.
struct CheckCounts {
  std::uint64_t queued = 0;        // checks handed to the queue
  std::uint64_t notQueued = 0;     // claims answered pending with the queue full
  std::uint64_t verified = 0;      // verdicts by kind
  std::uint64_t fake = 0;
  std::uint64_t unknown = 0;
  std::size_t entries = 0;         // cached now
};

class CrawlerCheck final : private VerificationSource {
 public:
  explicit CrawlerCheck(platform::Clock& clock) : clock_(clock) {}
  ~CrawlerCheck() override;
  CrawlerCheck(const CrawlerCheck&) = delete;
  CrawlerCheck& operator=(const CrawlerCheck&) = delete;

  // Set before Start.
  void SetMode(CheckMode mode, std::uint32_t waitMs = 10000) {
    mode_ = mode;
    waitMs_ = waitMs;
  }
  void SetLimits(const CheckLimits& limits) { limits_ = limits; }

  // Takes the crawler list and, in mode Resolve or Wait with a non-empty list,
  // starts the resolver. False when the resolver could not be started
  // (`problem` says why): every claim is then "unknown NAME".
  bool Start(CrawlerList list, const ResolverOptions& options, std::string& problem);

  bool Active() const { return !list_.Empty(); }
  const CrawlerList& List() const { return list_; }

  // The value of SENTREL_CRAWLER for a request from `address` whose
  // lower-cased user agent is `lowerAgent`: empty when it holds no listed
  // token, else the verdict's word, a blank and the crawler's name.
  std::string Value(const std::string& address, std::string_view lowerAgent);

  CheckCounts Counts();

 private:
  struct Entry {
    Verdict verdict = Verdict::Pending;
    std::int64_t askedAt = 0;   // when the check was queued
    std::int64_t until = 0;     // a verdict's end
    std::list<std::string>::iterator age;  // its place in `order_`
  };

  bool NextJob(Job& job) override;
  void Finish(const Job& job, Verdict verdict) override;

  // Under the lock: the entry for `key`, made (and the oldest given up when
  // the cache is full) when missing.
  Entry& Place(const std::string& key);
  // Under the lock: the verdict for a claim, queuing its check when due.
  // `queued` tells whether a job was queued.
  Verdict Look(const std::string& key, const std::string& address, std::size_t crawlerIndex,
               std::int64_t now, bool& queued);

  platform::Clock& clock_;
  CheckMode mode_ = CheckMode::Resolve;
  std::uint32_t waitMs_ = 10000;
  CheckLimits limits_;
  CrawlerList list_;
  platform::CriticalSection lock_;  // CrawlerLock
  std::unordered_map<std::string, Entry> entries_;
  std::list<std::string> order_;  // keys, oldest first
  std::deque<Job> queue_;
  CheckCounts counts_;
  // Declared last: stopped (its thread joined) before the state it uses goes.
  std::unique_ptr<Resolver> resolver_;
};

}  // namespace sentrel::crawlers
