// The decision journal: blocked and allowed decisions appended to day files in
// the settings folder's "Cache" folder, written in batches of CacheMin lines,
// and read back at the next load so decisions outlive a restart.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "filter/tracking/client_tally.h"
#include "platform/clock.h"
#include "platform/lock.h"

namespace sentrel {

class ClientTable;

// Told of every decision the filter takes about a client: each journaled
// line, and the picture-code challenges, which are not journaled. Runs on
// the deciding thread with the client's lock held, so it must be quick.
using DecisionTap = std::function<void(const std::string& address, ClientState state, std::uint32_t holdUntil)>;

// Restores a decision the way the journal loader restores a line during the
// start-up: the client's record is found or made and its state and hold set,
// nothing else. False when the address is one the loader skips or the table
// has no room.
bool RestoreDecision(ClientTable& table, std::string_view address, ClientState state, std::uint32_t holdUntil);

class CacheJournal {
 public:
  explicit CacheJournal(platform::Clock& clock) : clock_(clock) {}

  void Configure(const std::string& folderPath, std::int32_t cacheMin) {
    folderPath_ = folderPath;
    cacheMin_ = cacheMin;
  }

  // Appends "holdUntil,state,address" to the pending lines (the address as
  // ClientAddress::journalText names the client); writes them all to
  // today's day file when CacheMin lines are pending. False when a due write
  // failed (the lines stay pending).
  bool WriteCacheLine(const std::string& address, ClientState state, std::uint32_t holdUntil);

  // Tells the tap of a decision that is not journaled (a picture-code
  // challenge).
  void TellUnjournaled(const std::string& address, ClientState state, std::uint32_t holdUntil) {
    if (tap_) tap_(address, state, holdUntil);
  }
  // Set before requests arrive.
  void SetDecisionTap(DecisionTap tap) { tap_ = std::move(tap); }

  // Reads every day file back into the client table. False only when the
  // Cache folder cannot be listed.
  bool LoadCacheFiles(ClientTable& table);

  // Writes the pending lines to today's day file (at unload).
  bool Flush();

  std::uint16_t PendingCount() const { return pendingCount_; }

  // Lines written to day files, failed writes (their lines stay pending) and
  // the lines pending now, read under CacheLock.
  struct Counts {
    std::uint64_t linesWritten = 0;
    std::uint64_t writeFailures = 0;
    std::uint64_t linesPending = 0;
  };
  Counts ReadCounts();
  platform::CriticalSection& CacheLock() { return cacheLock_; }

  // The day file for a local date, e.g. "Cache\2013-05-17.txt" under the folder.
  std::string DayFilePath() const;

 private:
  bool WritePendingLocked();
  void ReadDayFile(const std::string& path, std::int64_t now, ClientTable& table);

  platform::Clock& clock_;
  std::string folderPath_;
  std::int32_t cacheMin_ = 5;
  platform::CriticalSection cacheLock_;
  std::string pending_;
  std::uint16_t pendingCount_ = 0;
  std::uint64_t linesWritten_ = 0;
  std::uint64_t writeFailures_ = 0;
  DecisionTap tap_;
};

}  // namespace sentrel
