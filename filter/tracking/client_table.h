// The process-wide table of client records. IPv4 clients are keyed by the
// address in host order: a four-level tree, one level per address byte, whose
// nodes grow and shrink with their population (4, 16, 48 or 256 children).
// IPv6 clients (when IPv6Prefix is set) are keyed by their prefix in a hash
// index of record pointers beside it. Finding an existing record takes no
// lock in either; nodes, index slots and records are created, resized and
// moved under CreateLock. The table holds at most MaxClients records of both
// families together: a new address beyond that takes over the record of the
// least recently seen client that can be given up, of either family (see
// client_table.cpp for how readers stay safe).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "filter/settings/filter_settings.h"
#include "filter/settings/module.h"
#include "filter/tracking/address_ranges.h"
#include "filter/tracking/client_tally.h"
#include "platform/clock.h"
#include "platform/lock.h"

namespace sentrel {

namespace client_table_detail {
struct Node;
class NodePool;
class WideIndex;
}  // namespace client_table_detail

class ClientTable {
 public:
  // A record held by one request. While any Client refers to a record, the
  // table does not give it to another address. Empty when the table was full.
  class Client {
   public:
    Client() = default;
    explicit Client(ClientTally* record) : record_(record) {}
    Client(Client&& other) noexcept : record_(std::exchange(other.record_, nullptr)) {}
    Client& operator=(Client&& other) noexcept {
      if (this != &other) {
        Release();
        record_ = std::exchange(other.record_, nullptr);
      }
      return *this;
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    ~Client() { Release(); }

    explicit operator bool() const { return record_ != nullptr; }
    ClientTally* get() const { return record_; }
    ClientTally* operator->() const { return record_; }
    ClientTally& operator*() const { return *record_; }

   private:
    void Release();
    ClientTally* record_ = nullptr;
  };

  // A new record copies `progressTemplate` only while `startupPending` is
  // clear; `listed` gives the state of addresses on the address lists;
  // `clock` tells which holds are still running.
  ClientTable(platform::Clock& clock, const std::atomic<std::uint8_t>& startupPending,
              const std::vector<ModuleProgress>& progressTemplate, const AddressRanges& listed);
  ~ClientTable();
  ClientTable(const ClientTable&) = delete;
  ClientTable& operator=(const ClientTable&) = delete;

  // The bound on the number of records; 0 means kDefaultMaxClients. Set it
  // before requests arrive.
  void SetMaxClients(std::uint32_t maxClients) {
    maxClients_ = maxClients == 0 ? kDefaultMaxClients : maxClients;
  }
  std::uint32_t MaxClients() const { return maxClients_; }

  // The IPv6Prefix in force (0: IPv6 clients are not tracked). Set it before
  // the first record is made: records then have room for an IPv6 key.
  void SetIpv6Prefix(int bits) { ipv6Prefix_ = bits; }
  int Ipv6Prefix() const { return ipv6Prefix_; }

  // Finds the client's record, creating it when absent. Once the start-up is
  // over and the table holds MaxClients records, a new address takes over
  // the record of a client that can be given up; when there is none, the
  // result is empty and the client is not tracked for this request.
  Client LookupClient(std::uint32_t key);
  // The same for an IPv6 client's prefix (bits beyond Ipv6Prefix() cleared);
  // empty while Ipv6Prefix() is 0.
  Client LookupClient(const Ipv6Address& prefix);
  // The client of an address read by ReadClientAddress; empty for None.
  Client LookupClient(const ClientAddress& address);

  // Finds the record without creating it. The pointer stays valid only while
  // no other thread can make a record: for tests and one-request-at-a-time
  // tools.
  ClientTally* Find(std::uint32_t key);
  ClientTally* Find(const Ipv6Address& prefix);
  ClientTally* Find(const ClientAddress& address);

  // True for the first call after a lookup found the table full, and then
  // at most once a minute of `now`, so the full table is reported sparingly.
  bool TakeFullReport(std::int64_t now);

  std::size_t ClientCount() const { return clients_.load(std::memory_order_relaxed); }
  std::size_t NodeCount() const { return nodes_.load(std::memory_order_relaxed); }
  std::size_t EvictionCount() const { return evictions_.load(std::memory_order_relaxed); }
  // The memory of the IPv6 index's slot arrays (none while Ipv6Prefix() is 0).
  std::size_t Ipv6IndexBytes() const;

  platform::CriticalSection& CreateLock() { return createLock_; }

  // Tests only: called by a lock-free lookup between finding a record and
  // pinning it, so a test can move the record meanwhile. Set it while no
  // other thread uses the table.
  void SetReadPauseForTest(std::function<void()> pause) { readPause_ = std::move(pause); }

 private:
  using Node = client_table_detail::Node;

  template <typename Key>
  Client Lookup(const Key& key);
  template <typename Key>
  ClientTally* FindAny(const Key& key);
  ClientTally* FindPinned(std::uint32_t key) const;
  ClientTally* FindPinned(const Ipv6Address& key) const;
  ClientTally* FindLocked(std::uint32_t key) const;
  ClientTally* FindLocked(const Ipv6Address& key) const;
  // Puts a prepared record into its family's index.
  void Index(std::uint32_t key, ClientTally* record);
  void Index(const Ipv6Address& key, ClientTally* record);
  ClientTally* NewRecord(std::size_t progressCapacity);
  // A record for a new client, made or taken over; null when the table is full.
  ClientTally* RecordForNewClient(bool startup);
  void PrepareFields(ClientTally& record, bool startup, std::optional<ClientState> listed);
  void Prepare(ClientTally& record, std::uint32_t key, bool startup);
  void Prepare(ClientTally& record, const Ipv6Address& key, bool startup);
  ClientTally* TakeVictim(std::int64_t now);
  bool MayGiveUp(const ClientTally& record, std::int64_t now) const;
  void Walk(std::uint32_t key, Node* path[4]) const;
  void Detach(std::uint32_t key);
  void AddChild(Node* path[4], std::uint32_t key, int level, void* child);
  void RemoveChild(Node* path[4], std::uint32_t key, int level);
  Node* NewNode(int level, int kind);
  Node* Resized(Node* node, int kind);
  void Recycle(Node* node);

  platform::Clock& clock_;
  const std::atomic<std::uint8_t>& startupPending_;
  const std::vector<ModuleProgress>& progressTemplate_;
  const AddressRanges& listed_;
  std::uint32_t maxClients_ = kDefaultMaxClients;
  Node* root_ = nullptr;
  std::unique_ptr<client_table_detail::NodePool[]> pools_;
  int ipv6Prefix_ = 0;
  std::unique_ptr<client_table_detail::WideIndex> wide_;
  // Under CreateLock: every record, the clock hand over them, and the time
  // before which no record can be given up (after a sweep found none).
  std::vector<ClientTally*> records_;
  std::size_t hand_ = 0;
  std::int64_t noVictimBefore_ = 0;
  std::atomic<bool> full_{false};
  std::atomic<std::int64_t> nextFullReport_{0};
  platform::CriticalSection createLock_;
  std::atomic<std::size_t> clients_{0};
  std::atomic<std::size_t> nodes_{1};
  std::atomic<std::size_t> evictions_{0};
  std::function<void()> readPause_;
};

}  // namespace sentrel
