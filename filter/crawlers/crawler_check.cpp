#include "filter/crawlers/crawler_check.h"

#include <chrono>
#include <thread>

namespace sentrel::crawlers {

const char* VerdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::Pending: return "pending";
    case Verdict::Verified: return "verified";
    case Verdict::Fake: return "fake";
    case Verdict::Unknown: return "unknown";
  }
  return "unknown";
}

namespace {

std::string KeyOf(std::size_t crawlerIndex, const std::string& address) {
  return std::to_string(crawlerIndex) + ' ' + address;
}

// How often a waiting dry run looks for its verdict.
constexpr auto kWaitStep = std::chrono::milliseconds(2);

}  // namespace

CrawlerCheck::~CrawlerCheck() { resolver_.reset(); }

bool CrawlerCheck::Start(CrawlerList list, const ResolverOptions& options, std::string& problem) {
  list_ = std::move(list);
  if (list_.Empty() || mode_ == CheckMode::Unresolved) return true;
  resolver_ = StartResolver(options, *this, problem);
  return resolver_ != nullptr;
}

CrawlerCheck::Entry& CrawlerCheck::Place(const std::string& key) {
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    order_.splice(order_.end(), order_, it->second.age);
    return it->second;
  }
  if (entries_.size() >= limits_.maxEntries && !order_.empty()) {
    entries_.erase(order_.front());
    order_.pop_front();
  }
  order_.push_back(key);
  Entry& entry = entries_[key];
  entry.age = std::prev(order_.end());
  return entry;
}

Verdict CrawlerCheck::Look(const std::string& key, const std::string& address, std::size_t crawlerIndex,
                           std::int64_t now, bool& queued) {
  auto it = entries_.find(key);
  if (it != entries_.end()) {
    const Entry& e = it->second;
    if (e.verdict == Verdict::Pending) {
      if (now - e.askedAt < limits_.pendingSeconds) return Verdict::Pending;
    } else if (now < e.until) {
      return e.verdict;
    }
  }
  if (queue_.size() >= limits_.maxQueued) {
    ++counts_.notQueued;
    return Verdict::Pending;
  }
  Entry& e = Place(key);
  e.verdict = Verdict::Pending;
  e.askedAt = now;
  e.until = 0;
  queue_.push_back(Job{address, &list_.All()[crawlerIndex], crawlerIndex, now});
  ++counts_.queued;
  queued = true;
  return Verdict::Pending;
}

std::string CrawlerCheck::Value(const std::string& address, std::string_view lowerAgent) {
  const Crawler* crawler = list_.Find(lowerAgent);
  if (crawler == nullptr) return {};
  Verdict verdict = Verdict::Unknown;
  if (resolver_ != nullptr) {
    const std::size_t index = list_.IndexOf(crawler);
    const std::string key = KeyOf(index, address);
    const std::int64_t now = clock_.Now();
    const auto look = [&] {
      bool queued = false;
      {
        platform::ScopedLock hold(lock_);
        verdict = Look(key, address, index, now, queued);
      }
      if (queued) resolver_->Wake();
    };
    look();
    if (mode_ == CheckMode::Wait && verdict == Verdict::Pending) {
      // A dry run: the answer is worth the wait, in real time.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs_);
      while (verdict == Verdict::Pending && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kWaitStep);
        look();
      }
      if (verdict == Verdict::Pending) verdict = Verdict::Unknown;
    }
  }
  std::string value = VerdictWord(verdict);
  value += ' ';
  value += crawler->name;
  return value;
}

bool CrawlerCheck::NextJob(Job& job) {
  platform::ScopedLock hold(lock_);
  if (queue_.empty()) return false;
  job = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

void CrawlerCheck::Finish(const Job& job, Verdict verdict) {
  std::int64_t lasts = limits_.unknownSeconds;
  platform::ScopedLock hold(lock_);
  switch (verdict) {
    case Verdict::Verified:
      lasts = limits_.verifiedSeconds;
      ++counts_.verified;
      break;
    case Verdict::Fake:
      lasts = limits_.fakeSeconds;
      ++counts_.fake;
      break;
    default:
      verdict = Verdict::Unknown;
      ++counts_.unknown;
      break;
  }
  Entry& e = Place(KeyOf(job.crawlerIndex, job.address));
  e.verdict = verdict;
  e.askedAt = job.askedAt;
  e.until = job.askedAt + lasts;
}

CheckCounts CrawlerCheck::Counts() {
  platform::ScopedLock hold(lock_);
  CheckCounts counts = counts_;
  counts.entries = entries_.size();
  return counts;
}

}  // namespace sentrel::crawlers
