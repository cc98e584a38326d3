#include "filter/tracking/client_table.h"

namespace sentrel {

ClientTable::ClientTable(const std::atomic<std::uint8_t>& startupPending,
                         const std::vector<ModuleProgress>& progressTemplate,
                         const AddressRanges& listed)
    : startupPending_(startupPending), progressTemplate_(progressTemplate), listed_(listed) {}

ClientTable::~ClientTable() {
  for (auto& slot : root_.slots) {
    if (auto* child = static_cast<Node*>(slot.load(std::memory_order_relaxed))) FreeNode(child, 2);
  }
}

void ClientTable::FreeNode(Node* node, int level) {
  for (auto& slot : node->slots) {
    void* p = slot.load(std::memory_order_relaxed);
    if (p == nullptr) continue;
    if (level == 4) {
      delete static_cast<ClientTally*>(p);
    } else {
      FreeNode(static_cast<Node*>(p), level + 1);
    }
  }
  delete node;
}

ClientTable::Node* ClientTable::ChildNode(Node& parent, std::uint8_t index) {
  auto& slot = parent.slots[index];
  void* child = slot.load(std::memory_order_acquire);
  if (child != nullptr) return static_cast<Node*>(child);
  platform::ScopedLock lock(createLock_);
  child = slot.load(std::memory_order_acquire);
  if (child == nullptr) {
    child = new Node();
    nodes_.fetch_add(1, std::memory_order_relaxed);
    slot.store(child, std::memory_order_release);
  }
  return static_cast<Node*>(child);
}

ClientTally& ClientTable::LookupClient(std::uint32_t key) {
  Node* node = &root_;
  for (int shift = 24; shift >= 8; shift -= 8) {
    node = ChildNode(*node, static_cast<std::uint8_t>(key >> shift));
  }
  auto& slot = node->slots[key & 0xFF];
  void* record = slot.load(std::memory_order_acquire);
  if (record != nullptr) return *static_cast<ClientTally*>(record);

  platform::ScopedLock lock(createLock_);
  record = slot.load(std::memory_order_acquire);
  if (record == nullptr) {
    auto* tally = new ClientTally();
    if (startupPending_.load(std::memory_order_acquire) == 0) tally->progress = progressTemplate_;
    if (auto state = listed_.Find(key)) {
      tally->state.store(*state, std::memory_order_relaxed);
      tally->holdUntil.store(kHoldForever, std::memory_order_relaxed);
    }
    record = tally;
    clients_.fetch_add(1, std::memory_order_relaxed);
    slot.store(record, std::memory_order_release);
  }
  return *static_cast<ClientTally*>(record);
}

ClientTally* ClientTable::Find(std::uint32_t key) const {
  const Node* node = &root_;
  for (int shift = 24; shift >= 8; shift -= 8) {
    node = static_cast<const Node*>(node->slots[(key >> shift) & 0xFF].load(std::memory_order_acquire));
    if (node == nullptr) return nullptr;
  }
  return static_cast<ClientTally*>(node->slots[key & 0xFF].load(std::memory_order_acquire));
}

}  // namespace sentrel
