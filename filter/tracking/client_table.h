// The process-wide table of client records, keyed by the IPv4 address in host
// order: a four-level tree of 256-slot nodes, one level per address byte.
// Finding an existing record takes no lock; nodes and records are created
// under CreateLock and never removed while the table lives.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "filter/settings/module.h"
#include "filter/tracking/address_ranges.h"
#include "filter/tracking/client_tally.h"
#include "platform/lock.h"

namespace sentrel {

class ClientTable {
 public:
  // A new record copies `progressTemplate` only while `startupPending` is
  // clear; `listed` gives the state of addresses on the address lists.
  ClientTable(const std::atomic<std::uint8_t>& startupPending,
              const std::vector<ModuleProgress>& progressTemplate, const AddressRanges& listed);
  ~ClientTable();
  ClientTable(const ClientTable&) = delete;
  ClientTable& operator=(const ClientTable&) = delete;

  // Finds the client's record, creating it when absent. Never fails.
  ClientTally& LookupClient(std::uint32_t key);

  // Finds the record without creating it.
  ClientTally* Find(std::uint32_t key) const;

  std::size_t ClientCount() const { return clients_.load(std::memory_order_relaxed); }
  std::size_t NodeCount() const { return nodes_.load(std::memory_order_relaxed); }

  platform::CriticalSection& CreateLock() { return createLock_; }

 private:
  struct Node {
    std::atomic<void*> slots[256];
    Node() {
      for (auto& s : slots) s.store(nullptr, std::memory_order_relaxed);
    }
  };

  Node* ChildNode(Node& parent, std::uint8_t index);
  void FreeNode(Node* node, int level);

  const std::atomic<std::uint8_t>& startupPending_;
  const std::vector<ModuleProgress>& progressTemplate_;
  const AddressRanges& listed_;
  Node root_;
  platform::CriticalSection createLock_;
  std::atomic<std::size_t> clients_{0};
  std::atomic<std::size_t> nodes_{1};
};

}  // namespace sentrel
