#include "filter/tracking/cache_journal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "filter/tracking/client_table.h"
#include "platform/files.h"

namespace sentrel {

namespace {

// A day-file line ended longer ago than this is of no further use.
constexpr std::int64_t kJournalKeepSeconds = 172800;

}  // namespace

bool RestoreDecision(ClientTable& table, std::string_view address, ClientState state, std::uint32_t holdUntil) {
  const ClientAddress who = ReadJournalAddress(address, table.Ipv6Prefix());
  if (who.family == AddressFamily::None) return false;
  ClientTable::Client client = table.LookupClient(who);
  if (!client) return false;  // only once the start-up is over can the table be full
  client->state.store(state, std::memory_order_relaxed);
  client->holdUntil.store(holdUntil, std::memory_order_relaxed);
  return true;
}

std::string CacheJournal::DayFilePath() const {
  return folderPath_ + "Cache\\" + clock_.FormatNow("%Y-%m-%d") + ".txt";
}

bool CacheJournal::WriteCacheLine(const std::string& address, ClientState state,
                                  std::uint32_t holdUntil) {
  if (tap_) tap_(address, state, holdUntil);
  char head[32];
  std::snprintf(head, sizeof(head), "%d,%d,", static_cast<int>(holdUntil), static_cast<int>(state));
  std::string line = head + address + "\n";

  platform::ScopedLock lock(cacheLock_);
  pending_ += line;
  pendingCount_ = static_cast<std::uint16_t>(pendingCount_ + 1);
  if (pendingCount_ < cacheMin_) return true;
  pendingCount_ = 0;
  return WritePendingLocked();
}

bool CacheJournal::WritePendingLocked() {
  platform::TextFile out;
  bool ok = out.Open(DayFilePath(), platform::TextFile::Mode::Append);
  if (ok) {
    ok = out.Write(pending_);
    out.Close();
  }
  if (!ok) {
    ++writeFailures_;
    return false;
  }
  linesWritten_ += static_cast<std::uint64_t>(std::count(pending_.begin(), pending_.end(), '\n'));
  pending_.clear();
  return true;
}

CacheJournal::Counts CacheJournal::ReadCounts() {
  platform::ScopedLock lock(cacheLock_);
  return Counts{linesWritten_, writeFailures_,
                static_cast<std::uint64_t>(std::count(pending_.begin(), pending_.end(), '\n'))};
}

bool CacheJournal::Flush() {
  platform::ScopedLock lock(cacheLock_);
  if (pending_.empty()) return true;
  pendingCount_ = 0;
  return WritePendingLocked();
}

bool CacheJournal::LoadCacheFiles(ClientTable& table) {
  const std::int64_t now = clock_.Now();
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(folderPath_ + "Cache", entries)) return false;
  for (const auto& entry : entries) {
    if (entry.name.find(".txt") == std::string::npos) continue;
    ReadDayFile(folderPath_ + "Cache\\" + entry.name, now, table);
  }
  return true;
}

// Reads one day file. Malformed lines and lines that ended more than 48 hours
// ago are skipped; the file is deleted only when none of its lines is of any
// further use, so a long decision written after short ones is never lost.
void CacheJournal::ReadDayFile(const std::string& path, std::int64_t now, ClientTable& table) {
  platform::TextFile in;
  if (!in.Open(path, platform::TextFile::Mode::Read)) return;
  bool anyUseful = false;
  std::string line;
  while (in.ReadLine(line)) {
    std::size_t firstComma = line.find(',');
    std::size_t secondComma = line.find(',', 11);
    if (firstComma != 10 || secondComma != 12) continue;

    // The time is the signed value of the first ten bytes: a negative one has
    // long passed, and one beyond the record's 32 bits is held at the largest
    // time rather than cut to an early one.
    const std::int64_t written = std::strtoll(line.substr(0, 10).c_str(), nullptr, 10);
    if (written < now) {
      if (written + kJournalKeepSeconds < now) continue;
      anyUseful = true;
      continue;
    }
    anyUseful = true;
    const std::uint32_t holdUntil =
        written > static_cast<std::int64_t>(kHoldForever) ? kHoldForever : static_cast<std::uint32_t>(written);

    unsigned char stateByte = static_cast<unsigned char>(line[11]);
    int state = (stateByte >= '0' && stateByte <= '9') ? stateByte - '0' : 0;
    if (state > 3 || state == 1) continue;

    RestoreDecision(table, std::string_view(line).substr(13), static_cast<ClientState>(state), holdUntil);
  }
  in.Close();
  if (!anyUseful) platform::DeleteFile(path);
}

}  // namespace sentrel
