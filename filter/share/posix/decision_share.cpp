// Decision sharing over the Redis protocol with the hiredis client library:
// blocking connections with connect and command timeouts, each owned by one
// background thread (the stage's key reading and `sentrel lint`'s probe run
// on short-lived threads of their own). SIGPIPE is blocked on all of them,
// so a write to a server that went away fails instead of ending the process.
#include "filter/share/decision_share.h"

#include <hiredis.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <semaphore>
#include <string_view>
#include <thread>
#include <vector>

#include "filter/logging/program_messages.h"
#include "platform/lock.h"
#include "platform/random.h"

namespace sentrel::share {

namespace {

using SteadyClock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr Ms kConnectTimeout{300};
constexpr Ms kCommandTimeout{1000};
// How long the follower's XREAD waits for new entries.
constexpr int kBlockMs = 100;
// TerminateExtension waits this long at most for the queue to go out.
constexpr Ms kStopDeadline{500};
// The cache stage reads the keys for at most this long.
constexpr Ms kLoadDeadline{3000};
constexpr Ms kFirstBackoff{100};
constexpr Ms kMaxBackoff{5000};
constexpr std::size_t kBatch = 256;
constexpr std::size_t kReadCount = 256;

void BlockSigpipe() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Runs `work` on a thread of its own with SIGPIPE blocked and waits for it.
template <typename Work>
void RunWithoutSigpipe(Work&& work) {
  std::thread([&work] {
    BlockSigpipe();
    work();
  }).join();
}

timeval ToTimeval(Ms ms) {
  const auto count = std::max<std::int64_t>(ms.count(), 1);
  return timeval{static_cast<time_t>(count / 1000), static_cast<suseconds_t>(count % 1000 * 1000)};
}

// Server text for the log: printable ASCII, at most 120 bytes.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 120)) out += (c >= ' ' && c < 0x7F) ? c : '?';
  return out;
}

struct ReplyFree {
  void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using Reply = std::unique_ptr<redisReply, ReplyFree>;

std::string_view Text(const redisReply* r) { return std::string_view(r->str, r->len); }

// One blocking connection to the server.
class RedisLink {
 public:
  // `watch` is told of the socket once it is connected, and of -1 before it
  // is closed, so that another thread can cut it (see DecisionShare::Stop).
  explicit RedisLink(std::function<void(int)> watch = {}) : watch_(std::move(watch)) {}
  RedisLink(const RedisLink&) = delete;
  RedisLink& operator=(const RedisLink&) = delete;
  ~RedisLink() { Close(); }

  // Connects, then AUTH and SELECT as the settings ask, then names the
  // connection (as CLIENT LIST shows it), which also proves the server
  // answers.
  bool Open(const Endpoint& where, const ShareSettings& settings, Ms connectTimeout, const std::string& name) {
    Close();
    const timeval tv = ToTimeval(connectTimeout);
    context_ = where.socketPath.empty() ? redisConnectWithTimeout(where.host.c_str(), where.port, tv)
                                        : redisConnectUnixWithTimeout(where.socketPath.c_str(), tv);
    if (context_ == nullptr) return Fail("out of memory");
    if (context_->err != 0) return Fail(context_->errstr);
    if (watch_) watch_(context_->fd);
    SetTimeout(kCommandTimeout);
    if (!settings.Password.empty() && !Expect({"AUTH", settings.Password})) return false;
    if (settings.Database != 0 && !Expect({"SELECT", std::to_string(settings.Database)})) return false;
    // A server that accepts connections but does not answer (stopped, or
    // swamped) is not up yet.
    return Expect({"CLIENT", "SETNAME", name});
  }

  void Close() {
    if (context_ == nullptr) return;
    if (watch_) watch_(-1);
    redisFree(context_);
    context_ = nullptr;
  }
  bool Connected() const { return context_ != nullptr; }
  const std::string& Error() const { return error_; }
  void SetTimeout(Ms ms) {
    if (context_ != nullptr) redisSetTimeout(context_, ToTimeval(ms));
  }

  // Queues a command for the next GetReply (a pipeline).
  void Append(std::initializer_list<std::string_view> args) {
    std::vector<const char*> argv;
    std::vector<std::size_t> lengths;
    for (std::string_view a : args) {
      argv.push_back(a.data());
      lengths.push_back(a.size());
    }
    redisAppendCommandArgv(context_, static_cast<int>(argv.size()), argv.data(), lengths.data());
  }
  // The next reply; null (and the connection closed) when it failed.
  Reply GetReply() {
    void* raw = nullptr;
    if (redisGetReply(context_, &raw) != REDIS_OK || raw == nullptr) {
      Fail(context_->err != 0 ? context_->errstr : "no reply");
      return nullptr;
    }
    return Reply(static_cast<redisReply*>(raw));
  }
  Reply Command(std::initializer_list<std::string_view> args) {
    Append(args);
    return GetReply();
  }
  // A command that must not answer with an error; the error closes the link.
  bool Expect(std::initializer_list<std::string_view> args) {
    Reply r = Command(args);
    if (!r) return false;
    if (r->type == REDIS_REPLY_ERROR) return Fail(Text(r.get()));
    return true;
  }
  bool Fail(std::string_view why) {
    error_ = Printable(why);
    Close();
    return false;
  }

 private:
  redisContext* context_ = nullptr;
  std::string error_;
  std::function<void(int)> watch_;
};

class Backoff {
 public:
  Ms Next() {
    const Ms wait = wait_;
    wait_ = std::min(wait_ * 2, kMaxBackoff);
    return wait;
  }
  void Reset() { wait_ = kFirstBackoff; }

 private:
  Ms wait_ = kFirstBackoff;
};

std::string NewOrigin() {
  unsigned char bytes[8] = {};
  if (!platform::SecureRandomBytes(bytes, sizeof(bytes))) {
    const auto t = static_cast<std::uint64_t>(SteadyClock::now().time_since_epoch().count());
    for (std::size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<unsigned char>(t >> (8 * i));
  }
  char text[17];
  for (std::size_t i = 0; i < sizeof(bytes); ++i) std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
  return text;
}

}  // namespace

class DecisionShare::Impl {
 public:
  Impl(const ShareSettings& settings, platform::Clock& clock, ActivityLog& log, ApplyFunction apply)
      : settings_(settings),
        endpointOk_(ParseServer(settings.Server, endpoint_)),
        clock_(clock),
        log_(log),
        apply_(std::move(apply)),
        origin_(NewOrigin()),
        streamKey_(StreamKey(settings.Prefix)),
        keyPattern_(DecisionKeyPattern(settings.Prefix)) {
    if (!endpointOk_) {
      ReportDown("not host:port or a socket path");
      return;
    }
    publisher_ = std::thread([this] {
      BlockSigpipe();
      PublisherLoop();
    });
    follower_ = std::thread([this] {
      BlockSigpipe();
      FollowerLoop();
    });
  }
  ~Impl() { Stop(); }

  void Publish(const std::string& address, std::uint8_t state, std::uint32_t holdUntil) {
    if (!endpointOk_ || stopFlag_.load()) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    bool dropped = false;
    {
      platform::ScopedLock hold(queueLock_);
      if (queue_.size() >= kPublishQueueCapacity) {
        queue_.pop_front();
        dropped = true;
      }
      queue_.push_back(Decision{address, state, holdUntil});
    }
    if (dropped) dropped_.fetch_add(1, std::memory_order_relaxed);
    Wake();
  }

  std::size_t LoadLiveDecisions() {
    if (!endpointOk_) return 0;
    std::size_t applied = 0;
    RunWithoutSigpipe([&] {
      RedisLink link;
      if (!link.Open(endpoint_, settings_, kConnectTimeout, LinkName("start"))) {
        ReportDown(link.Error());
        return;
      }
      std::string lastId;
      if (!ReadLastId(link, lastId) || !ScanKeys(link, true, SteadyClock::now() + kLoadDeadline, applied)) {
        ReportDown(link.Connected() ? std::string("reading the keys took too long") : link.Error());
        return;
      }
      std::lock_guard<std::mutex> hold(stateMutex_);
      lastId_ = lastId;
      keysLoaded_ = true;
    });
    return applied;
  }

  void Follow() {
    if (followCalled_.exchange(true)) return;
    {
      std::lock_guard<std::mutex> hold(stateMutex_);
      following_ = true;
    }
    stateCv_.notify_all();
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> hold(stateMutex_);
      if (!stopping_) {
        stopping_ = true;
        stopDeadline_ = SteadyClock::now() + kStopDeadline;
      }
    }
    stopFlag_.store(true);
    stateCv_.notify_all();
    Wake();
    // The follower is woken from its blocking read at once; the publisher
    // has until the deadline to flush, then its connection is cut too.
    ShutDown(followerFd_);
    if (publisher_.joinable()) {
      std::unique_lock<std::mutex> hold(stateMutex_);
      if (!stateCv_.wait_until(hold, stopDeadline_, [this] { return publisherDone_; })) {
        hold.unlock();
        ShutDown(publisherFd_);
      }
    }
    if (publisher_.joinable()) publisher_.join();
    if (follower_.joinable()) follower_.join();
  }

  ShareCounts Counts() const {
    ShareCounts c;
    c.published = published_.load(std::memory_order_relaxed);
    c.applied = applied_.load(std::memory_order_relaxed);
    c.dropped = dropped_.load(std::memory_order_relaxed);
    c.rejected = rejected_.load(std::memory_order_relaxed);
    c.skipped = skipped_.load(std::memory_order_relaxed);
    c.connected = Connected();
    return c;
  }

  const std::string& Origin() const { return origin_; }

 private:
  bool Connected() const {
    std::lock_guard<std::mutex> hold(stateMutex_);
    return publisherUp_ && (followerUp_ || !following_);
  }

  // Wakes the publisher; at most one wake is outstanding at a time.
  void Wake() {
    if (!pending_.exchange(true)) wake_.release();
  }

  // Waits `ms`, or less when the share stops. True when it stops.
  bool WaitOrStop(Ms ms) {
    std::unique_lock<std::mutex> hold(stateMutex_);
    return stateCv_.wait_for(hold, ms, [this] { return stopping_; });
  }

  // One program message per outage: the first failure after the
  // connections were all up writes it.
  void ReportDown(const std::string& reason) {
    {
      std::lock_guard<std::mutex> hold(stateMutex_);
      if (outage_) return;
      outage_ = true;
    }
    std::string text = messages::kShareDownFormat;
    text.replace(text.find("%s"), 2, Printable(settings_.Server) + ": " + reason);
    log_.WriteProgramMessage(std::move(text));
  }
  void SetUp(bool publisher, bool up) {
    std::lock_guard<std::mutex> hold(stateMutex_);
    (publisher ? publisherUp_ : followerUp_) = up;
    if (publisherUp_ && (followerUp_ || !following_)) outage_ = false;
  }

  // A connection of the publisher or the follower failed: it is closed,
  // the outage reported, and the thread waits its back-off (unless the share
  // is stopping).
  void LinkFailed(RedisLink& link, bool publisher, Backoff& backoff) {
    link.Close();
    SetUp(publisher, false);
    if (stopFlag_.load()) return;
    ReportDown(link.Error());
    WaitOrStop(backoff.Next());
  }

  // "sentrel-<origin>-<role>".
  std::string LinkName(const char* role) const { return "sentrel-" + origin_ + "-" + role; }

  void TakeQueued(std::vector<Decision>& batch, std::size_t max) {
    platform::ScopedLock hold(queueLock_);
    while (batch.size() < max && !queue_.empty()) {
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
  }

  // Writes the batch in one transaction: per decision the key (expiring
  // when the hold ends) and the stream entry, so that keys and stream agree
  // on the order of decisions however many instances publish. A decision
  // whose hold ended while it waited is left out. False when the connection
  // failed (the batch is kept to be sent again).
  bool SendBatch(RedisLink& link, std::vector<Decision>& batch) {
    const std::int64_t now = clock_.Now();
    std::size_t sent = 0;
    const std::string maxLength = std::to_string(kStreamLength);
    link.Append({"MULTI"});
    for (const Decision& d : batch) {
      const std::int64_t ttl = static_cast<std::int64_t>(d.holdUntil) - now;
      if (ttl <= 0) continue;
      const std::string state = std::to_string(d.state);
      const std::string hold = std::to_string(d.holdUntil);
      link.Append({"SET", DecisionKey(settings_.Prefix, d.address), KeyValue(d, origin_), "EX",
                   std::to_string(ttl)});
      link.Append({"XADD", streamKey_, "MAXLEN", "~", maxLength, "*", "origin", origin_, "address", d.address,
                   "state", state, "hold", hold});
      ++sent;
    }
    link.Append({"EXEC"});
    // MULTI, then QUEUED for each command, then the transaction's results.
    for (std::size_t i = 0; i < 1 + 2 * sent; ++i) {
      if (!link.GetReply()) return false;
    }
    Reply exec = link.GetReply();
    if (!exec) return false;
    const bool whole = exec->type == REDIS_REPLY_ARRAY && exec->elements == 2 * sent;
    for (std::size_t i = 0; i < sent; ++i) {
      // A refused write (a key of another type, a server out of memory) is
      // not tried again.
      const bool ok = whole && exec->element[2 * i]->type != REDIS_REPLY_ERROR &&
                      exec->element[2 * i + 1]->type != REDIS_REPLY_ERROR;
      (ok ? published_ : dropped_).fetch_add(1, std::memory_order_relaxed);
    }
    batch.clear();
    return true;
  }

  void PublisherLoop() {
    RedisLink link([this](int fd) { SetFd(publisherFd_, fd); });
    Backoff backoff;
    std::vector<Decision> batch;
    auto fail = [&] { LinkFailed(link, true, backoff); };
    while (!stopFlag_.load()) {
      if (!link.Connected()) {
        if (!link.Open(endpoint_, settings_, kConnectTimeout, LinkName("publisher"))) {
          fail();
          continue;
        }
        SetUp(true, true);
      }
      if (batch.empty()) TakeQueued(batch, kBatch);
      if (batch.empty()) {
        wake_.acquire();
        pending_.store(false);
        continue;
      }
      if (!SendBatch(link, batch)) {
        fail();
        continue;
      }
      backoff.Reset();
    }
    FlushAtStop(link, batch);
    link.Close();
    SetUp(true, false);
    {
      std::lock_guard<std::mutex> hold(stateMutex_);
      publisherDone_ = true;
    }
    stateCv_.notify_all();
  }

  // At unload: what is queued goes out while the stop deadline allows; the
  // rest is dropped.
  void FlushAtStop(RedisLink& link, std::vector<Decision>& batch) {
    SteadyClock::time_point deadline;
    {
      std::lock_guard<std::mutex> hold(stateMutex_);
      deadline = stopDeadline_;
    }
    auto remaining = [&] { return std::chrono::duration_cast<Ms>(deadline - SteadyClock::now()); };
    TakeQueued(batch, kBatch);
    if (!batch.empty() && !link.Connected() && remaining() > Ms(10)) {
      link.Open(endpoint_, settings_, std::min(remaining(), kConnectTimeout), LinkName("publisher"));
    }
    while (!batch.empty() && link.Connected() && remaining() > Ms(0)) {
      link.SetTimeout(remaining());
      if (!SendBatch(link, batch)) break;
      TakeQueued(batch, kBatch);
    }
    std::size_t left = batch.size();
    {
      platform::ScopedLock hold(queueLock_);
      left += queue_.size();
      queue_.clear();
    }
    dropped_.fetch_add(left, std::memory_order_relaxed);
  }

  void Handle(const Decision& d, bool startup) {
    switch (apply_(d, startup)) {
      case ApplyResult::Applied:
        applied_.fetch_add(1, std::memory_order_relaxed);
        break;
      case ApplyResult::Rejected:
        rejected_.fetch_add(1, std::memory_order_relaxed);
        break;
      case ApplyResult::Skipped:
        skipped_.fetch_add(1, std::memory_order_relaxed);
        break;
    }
  }
  void Check(EntryCheck check, const Decision& d, bool startup) {
    if (check == EntryCheck::Decision) Handle(d, startup);
    if (check == EntryCheck::Bad) rejected_.fetch_add(1, std::memory_order_relaxed);
  }

  // The id of the stream's newest entry ("0-0" for none): the follower reads
  // on from there once the keys have been read.
  bool ReadLastId(RedisLink& link, std::string& id) {
    Reply r = link.Command({"XREVRANGE", streamKey_, "+", "-", "COUNT", "1"});
    if (!r) return false;
    if (r->type == REDIS_REPLY_ERROR) return link.Fail(Text(r.get()));
    id = "0-0";
    if (r->type == REDIS_REPLY_ARRAY && r->elements > 0 && r->element[0]->type == REDIS_REPLY_ARRAY &&
        r->element[0]->elements > 0 && r->element[0]->element[0]->type == REDIS_REPLY_STRING) {
      id = Text(r->element[0]->element[0]);
    }
    return true;
  }

  // Reads every decision key and applies the standing decisions of other
  // instances. False when the connection failed, the share stops or the
  // deadline passed.
  bool ScanKeys(RedisLink& link, bool startup, SteadyClock::time_point deadline, std::size_t& applied) {
    const std::uint64_t before = applied_.load();
    const std::string lastByte = std::to_string(kMaxKeyValue);
    std::string cursor = "0";
    do {
      Reply page = link.Command({"SCAN", cursor, "MATCH", keyPattern_, "COUNT", "1000"});
      if (!page) return false;
      if (page->type != REDIS_REPLY_ARRAY || page->elements != 2 ||
          page->element[0]->type != REDIS_REPLY_STRING || page->element[1]->type != REDIS_REPLY_ARRAY) {
        return link.Fail(page->type == REDIS_REPLY_ERROR ? Text(page.get()) : "unexpected SCAN reply");
      }
      cursor.assign(Text(page->element[0]));
      const redisReply* keys = page->element[1];
      for (std::size_t i = 0; i < keys->elements; ++i) {
        const redisReply* key = keys->element[i];
        link.Append({"GETRANGE", key->type == REDIS_REPLY_STRING ? Text(key) : std::string_view(), "0", lastByte});
      }
      const std::int64_t now = clock_.Now();
      for (std::size_t i = 0; i < keys->elements; ++i) {
        Reply value = link.GetReply();
        if (!value) return false;
        if (value->type == REDIS_REPLY_STRING && value->len == 0) continue;  // expired meanwhile
        Decision d;
        const EntryCheck check =
            value->type == REDIS_REPLY_STRING && keys->element[i]->type == REDIS_REPLY_STRING
                ? CheckKeyEntry(settings_.Prefix, Text(keys->element[i]), Text(value.get()), origin_, now, d)
                : EntryCheck::Bad;
        Check(check, d, startup);
      }
      if (stopFlag_.load() || SteadyClock::now() > deadline) return false;
    } while (cursor != "0");
    applied = static_cast<std::size_t>(applied_.load() - before);
    return true;
  }

  // One XREAD: waits up to kBlockMs for entries after `lastId` and applies
  // them. False when the connection failed.
  bool ReadStream(RedisLink& link, std::string& lastId) {
    Reply r = link.Command({"XREAD", "COUNT", std::to_string(kReadCount), "BLOCK", std::to_string(kBlockMs),
                            "STREAMS", streamKey_, lastId});
    if (!r) return false;
    if (r->type == REDIS_REPLY_NIL) return true;
    if (r->type != REDIS_REPLY_ARRAY || r->elements != 1 || r->element[0]->type != REDIS_REPLY_ARRAY ||
        r->element[0]->elements != 2 || r->element[0]->element[1]->type != REDIS_REPLY_ARRAY) {
      return link.Fail(r->type == REDIS_REPLY_ERROR ? Text(r.get()) : "unexpected XREAD reply");
    }
    const redisReply* entries = r->element[0]->element[1];
    const std::int64_t now = clock_.Now();
    std::vector<std::pair<std::string_view, std::string_view>> fields;
    for (std::size_t i = 0; i < entries->elements; ++i) {
      const redisReply* entry = entries->element[i];
      if (entry->type != REDIS_REPLY_ARRAY || entry->elements != 2 || entry->element[0]->type != REDIS_REPLY_STRING) {
        return link.Fail("unexpected stream entry");
      }
      lastId.assign(Text(entry->element[0]));
      const redisReply* list = entry->element[1];
      fields.clear();
      bool strings = list->type == REDIS_REPLY_ARRAY && list->elements % 2 == 0;
      for (std::size_t f = 0; strings && f < list->elements; f += 2) {
        strings = list->element[f]->type == REDIS_REPLY_STRING && list->element[f + 1]->type == REDIS_REPLY_STRING;
        if (strings) fields.emplace_back(Text(list->element[f]), Text(list->element[f + 1]));
      }
      Decision d;
      Check(strings ? CheckStreamEntry(fields, origin_, now, d) : EntryCheck::Bad, d, false);
    }
    return true;
  }

  // A connection's socket, registered while it is open so that Stop can
  // cut it; set and cleared under fdMutex_, so Stop never cuts a socket
  // number the system has given to something else.
  void SetFd(int& slot, int fd) {
    std::lock_guard<std::mutex> hold(fdMutex_);
    slot = fd;
  }
  void ShutDown(const int& slot) {
    std::lock_guard<std::mutex> hold(fdMutex_);
    if (slot >= 0) ::shutdown(slot, SHUT_RDWR);
  }

  void FollowerLoop() {
    {
      std::unique_lock<std::mutex> hold(stateMutex_);
      stateCv_.wait(hold, [this] { return following_ || stopping_; });
    }
    std::string lastId;
    bool readKeys = true;
    {
      std::lock_guard<std::mutex> hold(stateMutex_);
      if (keysLoaded_) {
        lastId = lastId_;
        readKeys = false;
      }
    }
    // Cut at once when the share is stopping already.
    RedisLink link([this](int fd) {
      SetFd(followerFd_, fd);
      if (fd >= 0 && stopFlag_.load()) ShutDown(followerFd_);
    });
    Backoff backoff;
    auto fail = [&] { LinkFailed(link, false, backoff); };
    while (!stopFlag_.load()) {
      if (!link.Connected()) {
        if (!link.Open(endpoint_, settings_, kConnectTimeout, LinkName("follower"))) {
          fail();
          continue;
        }
        if (stopFlag_.load()) break;
        // After an outage the keys are read again: decisions taken meanwhile
        // may have left the stream, or the server may have restarted empty.
        std::size_t applied = 0;
        std::string id;
        if (readKeys && (!ReadLastId(link, id) || !ScanKeys(link, false, SteadyClock::time_point::max(), applied))) {
          fail();
          continue;
        }
        if (readKeys) lastId = id;
        readKeys = true;
        SetUp(false, true);
      }
      if (!ReadStream(link, lastId)) {
        fail();
        continue;
      }
      backoff.Reset();
    }
    link.Close();
    SetUp(false, false);
  }

  const ShareSettings settings_;
  Endpoint endpoint_;
  const bool endpointOk_;
  platform::Clock& clock_;
  ActivityLog& log_;
  const ApplyFunction apply_;
  const std::string origin_;
  const std::string streamKey_;
  const std::string keyPattern_;

  // The publish queue; a critical section, as on every request path.
  platform::CriticalSection queueLock_;
  std::deque<Decision> queue_;
  std::atomic<bool> pending_{false};
  std::binary_semaphore wake_{0};

  // Under stateMutex_: the threads' state, the keys read by the start-up,
  // the outage.
  mutable std::mutex stateMutex_;
  std::condition_variable stateCv_;
  bool stopping_ = false;
  bool following_ = false;
  bool keysLoaded_ = false;
  bool publisherUp_ = false;
  bool followerUp_ = false;
  bool outage_ = false;
  bool publisherDone_ = false;
  std::string lastId_;
  SteadyClock::time_point stopDeadline_{};
  std::atomic<bool> stopFlag_{false};
  std::atomic<bool> followCalled_{false};

  std::mutex fdMutex_;
  int followerFd_ = -1;
  int publisherFd_ = -1;

  std::atomic<std::uint64_t> published_{0};
  std::atomic<std::uint64_t> applied_{0};
  std::atomic<std::uint64_t> dropped_{0};
  std::atomic<std::uint64_t> rejected_{0};
  std::atomic<std::uint64_t> skipped_{0};

  std::thread publisher_;
  std::thread follower_;
};

bool DecisionShare::Available() { return true; }

DecisionShare::DecisionShare(const ShareSettings& settings, platform::Clock& clock, ActivityLog& log,
                             ApplyFunction apply)
    : impl_(std::make_unique<Impl>(settings, clock, log, std::move(apply))) {}
DecisionShare::~DecisionShare() = default;

void DecisionShare::Publish(const std::string& address, std::uint8_t state, std::uint32_t holdUntil) {
  impl_->Publish(address, state, holdUntil);
}
std::size_t DecisionShare::LoadLiveDecisions() { return impl_->LoadLiveDecisions(); }
void DecisionShare::Follow() { impl_->Follow(); }
void DecisionShare::Stop() { impl_->Stop(); }
ShareCounts DecisionShare::Counts() const { return impl_->Counts(); }
const std::string& DecisionShare::Origin() const { return impl_->Origin(); }

bool ProbeServer(const ShareSettings& settings, std::string& answer) {
  Endpoint where;
  if (!ParseServer(settings.Server, where)) {
    answer = "Server is not host:port or a socket path";
    return false;
  }
  bool ok = false;
  RunWithoutSigpipe([&] {
    RedisLink link;
    const auto start = SteadyClock::now();
    if (!link.Open(where, settings, kConnectTimeout, "sentrel-lint")) {
      answer = link.Error();
      return;
    }
    Reply r = link.Command({"PING"});
    if (!r) {
      answer = link.Error();
      return;
    }
    const auto ms = std::chrono::duration_cast<Ms>(SteadyClock::now() - start).count();
    answer = Printable(r->type == REDIS_REPLY_STATUS || r->type == REDIS_REPLY_STRING ? Text(r.get()) : "?") +
             " in " + std::to_string(ms) + " ms";
    ok = r->type != REDIS_REPLY_ERROR;
    if (!ok) answer = Printable(Text(r.get()));
  });
  return ok;
}

}  // namespace sentrel::share
