// Decisions shared with other filter instances (other processes, other
// servers) through a Redis server.
//
// The filter tells every decision it takes to Publish, which only queues it:
// requests never wait on the network. Two background threads own a
// connection each: the publisher writes the queued decisions (a key per
// address that expires when the hold ends, and an entry on the stream), the
// follower reads the stream and hands every other instance's decision to the
// filter's apply function, on its own thread. With the server down both
// reconnect with back-off, the filter works as without sharing, and the
// activity log "Log" gets one line per outage.
//
// Builds without a Redis client library have only the stub (Available() is
// false): the filter then runs as without sharing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "filter/logging/activity_log.h"
#include "filter/settings/filter_settings.h"
#include "filter/share/share_entry.h"
#include "platform/clock.h"

namespace sentrel::share {

// What the filter did with a decision handed to it.
enum class ApplyResult : std::uint8_t {
  Applied,
  Rejected,  // an address the journal reader refuses
  Skipped,   // well-formed, but not for this filter (a listed address, a full client table)
};

// `startup` is true for the live decisions read by the start-up's cache
// stage (on the stage's thread), false for those applied on the follower's
// thread once the start-up has completed.
using ApplyFunction = std::function<ApplyResult(const Decision& decision, bool startup)>;

// Decisions queued for the server at most; beyond, the oldest are dropped.
inline constexpr std::size_t kPublishQueueCapacity = 10000;
// The stream keeps about this many entries (enough for a follower that
// missed a few seconds; one that reconnects reads the keys again).
inline constexpr int kStreamLength = 10000;

// Entry counts and the connection, for the metrics page.
struct ShareCounts {
  std::uint64_t published = 0;  // decisions written to the server
  std::uint64_t applied = 0;    // decisions of other instances applied
  std::uint64_t dropped = 0;    // decisions dropped from a full queue, or at unload
  std::uint64_t rejected = 0;   // entries read that failed a check
  std::uint64_t skipped = 0;    // well-formed entries the filter did not apply
  bool connected = false;       // both connections up
};

class DecisionShare {
 public:
  // Whether this build can share decisions at all.
  static bool Available();

  // Starts the publisher at once; the follower waits for Follow. `clock` is
  // the filter's: hold ends and key expiries are in its time.
  DecisionShare(const ShareSettings& settings, platform::Clock& clock, ActivityLog& log, ApplyFunction apply);
  ~DecisionShare();
  DecisionShare(const DecisionShare&) = delete;
  DecisionShare& operator=(const DecisionShare&) = delete;

  // Queues a decision for the other instances. Never waits on the network.
  void Publish(const std::string& address, std::uint8_t state, std::uint32_t holdUntil);

  // The start-up's cache stage: reads the decision keys that still stand and
  // applies each (startup = true), on the calling thread, within a few
  // seconds at most. Returns how many were applied; with the server
  // unreachable none, and the follower reads them once it connects.
  std::size_t LoadLiveDecisions();

  // Lets the follower apply the stream's entries (from where the keys were
  // read) once the start-up has completed. Later calls do nothing.
  void Follow();

  // Stops both threads; the queue is flushed within about half a second,
  // what is left is dropped. Never waits longer on a dead server.
  void Stop();

  ShareCounts Counts() const;
  // This instance's origin id (its own entries are not applied).
  const std::string& Origin() const;

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Asks the server for PING with the settings' password and database, for
// `sentrel lint`. `answer` says what happened ("PONG in 1 ms", or why not).
bool ProbeServer(const ShareSettings& settings, std::string& answer);

}  // namespace sentrel::share
