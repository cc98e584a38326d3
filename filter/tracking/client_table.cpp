#include "filter/tracking/client_table.h"

#include <algorithm>
#include <memory>
#include <new>
#include <type_traits>

// How readers stay safe without a lock
// -----------------------------------
// Every change to the tree (new node, grown or shrunk copy, new or moved
// record) is made under CreateLock; readers take no lock at all. Three rules
// make that safe:
//
// 1. Memory is type-stable. A node or a record is never handed back to the
//    allocator while the table lives. A node that leaves the tree (replaced by
//    a grown or shrunk copy, or emptied) goes to the free list of its own
//    level and size, and is only ever reused as a node of that same level and
//    size; records are only ever reused as records. A reader that still holds
//    a pointer to a node that has since been reused therefore reads a valid
//    node of the type it expects, and every field a reader touches is an
//    atomic. The worst it can see is the wrong child or no child.
// 2. Readers check what they found. A lock-free lookup ends by pinning the
//    record (below) and comparing the record's key with the address it looked
//    for; on any mismatch or miss it falls back to the locked path, where the
//    tree is exact because nobody else changes it. So a stale or half-changed
//    view can cost a reader a retry under the lock, never a wrong record.
// 3. Records are pinned. `pins_` counts the request threads that hold the
//    record; a reader pins with a compare-and-swap that refuses a record
//    marked kRetired. The table gives a record to another address only after
//    swapping its pins from 0 to kRetired, so no reader holds it then and none
//    can pin it until it is ready under its new key (published with a release
//    store of pins = 1 for the creating request). A reader that pins it after
//    that sees the new key and lets go.
//
// Free lists never shrink, so what the table holds is bounded by its largest
// population: records by MaxClients (plus the start-up's records), nodes by
// the nodes those records need (an empty node leaves the tree, a node much
// larger than its population is shrunk).
//
// Which record to give up is decided by a clock hand over all records (the
// "second chance" approximation of least recently seen): a lookup marks its
// record seen; the hand clears the mark of a record it passes and takes the
// first record that can be given up and was not seen since the hand last
// passed it. A record can be given up when its client is Normal or its
// decision has run out (no hold running), no request holds it, and it was
// not made by the start-up (listed addresses and journal decisions). A listed address made afterwards has a
// hold that never ends, so it is never given up either.
//
// IPv6 clients live in the same records, under the same bound and the same
// clock hand; only their index differs: a hash table of record pointers with
// linear probing (WideIndex). The same three rules hold for it. Its slot
// arrays are never freed while the table lives (a grown array replaces the
// old one, which stays, so a reader still probing it reads valid slots); a
// reader compares each probed record's key, pins a match and compares again;
// a removal shifts later entries of the probe run back one by one, so a
// reader may miss an entry that moves past it, and then retries under
// CreateLock like any other miss. Every record of a table that tracks IPv6
// clients has room for the 128-bit key, so any record can be given from one
// family to the other.

namespace sentrel {

namespace client_table_detail {

constexpr int k4 = 0, k16 = 1, k48 = 2, k256 = 3;
constexpr int kKinds = 4;
constexpr int kCapacity[kKinds] = {4, 16, 48, 256};
// A node shrinks to the next smaller size when its population falls to this.
constexpr int kShrinkAt[kKinds] = {0, 2, 8, 24};

struct Node {
  Node(int kind_, int level_) : kind(static_cast<std::uint8_t>(kind_)), level(static_cast<std::uint8_t>(level_)) {}
  const std::uint8_t kind;
  const std::uint8_t level;
  std::uint16_t live = 0;  // children, only touched under CreateLock
};

template <int C>
struct SmallNode : Node {
  SmallNode(int kind_, int level_) : Node(kind_, level_) { Clear(); }
  std::atomic<std::uint8_t> used;  // positions ever filled since Clear
  std::atomic<std::uint8_t> keys[C];
  std::atomic<void*> children[C];

  void Clear() { used.store(0, std::memory_order_relaxed); }
  void* Find(std::uint8_t b) const {
    const unsigned n = std::min<unsigned>(used.load(std::memory_order_acquire), C);
    for (unsigned i = 0; i < n; ++i) {
      if (keys[i].load(std::memory_order_relaxed) != b) continue;
      if (void* child = children[i].load(std::memory_order_acquire)) return child;
    }
    return nullptr;
  }
  int PositionOf(std::uint8_t b) const {
    const unsigned n = used.load(std::memory_order_relaxed);
    for (unsigned i = 0; i < n; ++i) {
      if (keys[i].load(std::memory_order_relaxed) == b &&
          children[i].load(std::memory_order_relaxed) != nullptr) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  bool Put(std::uint8_t b, void* child) {
    const unsigned n = used.load(std::memory_order_relaxed);
    for (unsigned i = 0; i < n; ++i) {  // a position emptied earlier
      if (children[i].load(std::memory_order_relaxed) != nullptr) continue;
      keys[i].store(b, std::memory_order_relaxed);
      children[i].store(child, std::memory_order_release);
      return true;
    }
    if (n == C) return false;
    keys[n].store(b, std::memory_order_relaxed);
    children[n].store(child, std::memory_order_release);
    used.store(static_cast<std::uint8_t>(n + 1), std::memory_order_release);
    return true;
  }
  void Set(std::uint8_t b, void* child) { children[PositionOf(b)].store(child, std::memory_order_release); }
  template <typename F>
  void ForEach(F&& f) const {
    const unsigned n = used.load(std::memory_order_relaxed);
    for (unsigned i = 0; i < n; ++i) {
      if (void* child = children[i].load(std::memory_order_relaxed)) f(keys[i].load(std::memory_order_relaxed), child);
    }
  }
};

struct Node48 : Node {
  Node48(int kind_, int level_) : Node(kind_, level_) { Clear(); }
  std::atomic<std::uint8_t> index[256];  // position + 1, or 0
  std::atomic<void*> children[48];

  void Clear() {
    for (auto& i : index) i.store(0, std::memory_order_relaxed);
    for (auto& c : children) c.store(nullptr, std::memory_order_relaxed);
  }
  void* Find(std::uint8_t b) const {
    const unsigned i = index[b].load(std::memory_order_acquire);
    if (i == 0 || i > 48) return nullptr;
    return children[i - 1].load(std::memory_order_acquire);
  }
  bool Put(std::uint8_t b, void* child) {
    for (unsigned i = 0; i < 48; ++i) {
      if (children[i].load(std::memory_order_relaxed) != nullptr) continue;
      children[i].store(child, std::memory_order_release);
      index[b].store(static_cast<std::uint8_t>(i + 1), std::memory_order_release);
      return true;
    }
    return false;
  }
  void Set(std::uint8_t b, void* child) {
    children[index[b].load(std::memory_order_relaxed) - 1].store(child, std::memory_order_release);
  }
  void Remove(std::uint8_t b) {
    const unsigned i = index[b].load(std::memory_order_relaxed);
    index[b].store(0, std::memory_order_release);
    children[i - 1].store(nullptr, std::memory_order_release);
  }
  template <typename F>
  void ForEach(F&& f) const {
    for (unsigned b = 0; b < 256; ++b) {
      const unsigned i = index[b].load(std::memory_order_relaxed);
      if (i != 0) f(static_cast<std::uint8_t>(b), children[i - 1].load(std::memory_order_relaxed));
    }
  }
};

struct Node256 : Node {
  Node256(int kind_, int level_) : Node(kind_, level_) { Clear(); }
  std::atomic<void*> children[256];

  void Clear() {
    for (auto& c : children) c.store(nullptr, std::memory_order_relaxed);
  }
  void* Find(std::uint8_t b) const { return children[b].load(std::memory_order_acquire); }
  bool Put(std::uint8_t b, void* child) {
    children[b].store(child, std::memory_order_release);
    return true;
  }
  void Set(std::uint8_t b, void* child) { Put(b, child); }
  template <typename F>
  void ForEach(F&& f) const {
    for (unsigned b = 0; b < 256; ++b) {
      if (void* c = children[b].load(std::memory_order_relaxed)) f(static_cast<std::uint8_t>(b), c);
    }
  }
};

using Node4 = SmallNode<4>;
using Node16 = SmallNode<16>;

// Calls `f` with the node as its own type.
template <typename F>
decltype(auto) Visit(Node* n, F&& f) {
  switch (n->kind) {
    case k4: return f(*static_cast<Node4*>(n));
    case k16: return f(*static_cast<Node16*>(n));
    case k48: return f(*static_cast<Node48*>(n));
    default: return f(*static_cast<Node256*>(n));
  }
}

void* FindChild(const Node* n, std::uint8_t b) {
  return Visit(const_cast<Node*>(n), [b](const auto& node) { return node.Find(b); });
}

constexpr std::size_t kNodeSize[kKinds] = {sizeof(Node4), sizeof(Node16), sizeof(Node48), sizeof(Node256)};

// Nodes of one level and one size, carved from 64 KiB blocks; a node that
// leaves the tree waits in the free list for the next node of its kind.
class NodePool {
 public:
  ~NodePool() {
    for (unsigned char* block : blocks_) delete[] block;
  }
  Node* Take(int kind, int level) {
    if (!free_.empty()) {
      Node* n = free_.back();
      free_.pop_back();
      Visit(n, [](auto& node) { node.Clear(); });
      return n;
    }
    const std::size_t size = kNodeSize[kind];
    if (next_ == nullptr || next_ + size > end_) {
      constexpr std::size_t kBlock = 64 * 1024;
      blocks_.push_back(new unsigned char[kBlock]);
      next_ = blocks_.back();
      end_ = next_ + kBlock;
    }
    void* at = next_;
    next_ += size;
    switch (kind) {
      case k4: return new (at) Node4(kind, level);
      case k16: return new (at) Node16(kind, level);
      case k48: return new (at) Node48(kind, level);
      default: return new (at) Node256(kind, level);
    }
  }
  void Give(Node* n) { free_.push_back(n); }

 private:
  std::vector<unsigned char*> blocks_;
  unsigned char* next_ = nullptr;
  unsigned char* end_ = nullptr;
  std::vector<Node*> free_;
};

std::size_t HashOf(const Ipv6Address& k) {
  std::uint64_t h = k.hi * 0x9E3779B97F4A7C15ull ^ (k.lo + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
  h ^= h >> 31;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 29;
  return static_cast<std::size_t>(h);
}

// Record pointers of IPv6 clients by their key, linear probing, at most three
// quarters full. Written under CreateLock, probed without it.
class WideIndex {
 public:
  struct Slots {
    explicit Slots(std::size_t n) : mask(n - 1), slot(new std::atomic<ClientTally*>[n]) {
      for (std::size_t i = 0; i < n; ++i) slot[i].store(nullptr, std::memory_order_relaxed);
    }
    const std::size_t mask;
    std::unique_ptr<std::atomic<ClientTally*>[]> slot;
  };

  WideIndex() { Publish(std::make_unique<Slots>(64)); }

  // The first record along the key's probe run for which `matches` holds.
  template <typename F>
  ClientTally* Probe(const Ipv6Address& key, F&& matches) const {
    const Slots* s = current_.load(std::memory_order_acquire);
    std::size_t i = HashOf(key) & s->mask;
    for (std::size_t n = 0; n <= s->mask; ++n, i = (i + 1) & s->mask) {
      ClientTally* record = s->slot[i].load(std::memory_order_acquire);
      if (record == nullptr) return nullptr;
      if (matches(record)) return record;
    }
    return nullptr;
  }

  void Insert(const Ipv6Address& key, ClientTally* record) {
    if ((count_ + 1) * 4 > (Current().mask + 1) * 3) Grow();
    Place(Current(), key, record);
    ++count_;
  }

  void Remove(const Ipv6Address& key) {
    Slots& s = Current();
    std::size_t i = HashOf(key) & s.mask;
    while (s.slot[i].load(std::memory_order_relaxed)->Key6() != key) i = (i + 1) & s.mask;
    // Shift back every later entry of the run that may stand at the hole.
    for (std::size_t j = (i + 1) & s.mask;; j = (j + 1) & s.mask) {
      ClientTally* r = s.slot[j].load(std::memory_order_relaxed);
      if (r == nullptr) break;
      const std::size_t home = HashOf(r->Key6()) & s.mask;
      const bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
      if (stays) continue;
      s.slot[i].store(r, std::memory_order_release);
      s.slot[j].store(nullptr, std::memory_order_release);
      i = j;
    }
    s.slot[i].store(nullptr, std::memory_order_release);
    --count_;
  }

  // The slot arrays' memory, the ones kept for readers included; read by
  // any thread, changed under the table's create lock.
  std::size_t SlotBytes() const { return bytes_.load(std::memory_order_relaxed); }

 private:
  Slots& Current() { return *arrays_.back(); }
  static void Place(Slots& s, const Ipv6Address& key, ClientTally* record) {
    std::size_t i = HashOf(key) & s.mask;
    while (s.slot[i].load(std::memory_order_relaxed) != nullptr) i = (i + 1) & s.mask;
    s.slot[i].store(record, std::memory_order_release);
  }
  void Grow() {
    const Slots& old = Current();
    auto grown = std::make_unique<Slots>(2 * (old.mask + 1));
    for (std::size_t i = 0; i <= old.mask; ++i) {
      if (ClientTally* r = old.slot[i].load(std::memory_order_relaxed)) Place(*grown, r->Key6(), r);
    }
    Publish(std::move(grown));
  }
  void Publish(std::unique_ptr<Slots> s) {
    bytes_.store(bytes_.load(std::memory_order_relaxed) + (s->mask + 1) * sizeof(std::atomic<ClientTally*>),
                 std::memory_order_relaxed);
    current_.store(s.get(), std::memory_order_release);
    arrays_.push_back(std::move(s));
  }

  std::atomic<const Slots*> current_{nullptr};
  std::vector<std::unique_ptr<Slots>> arrays_;  // the current one last
  std::size_t count_ = 0;
  std::atomic<std::size_t> bytes_{0};
};

}  // namespace client_table_detail

using namespace client_table_detail;

namespace {

constexpr std::uint32_t kRetired = 0x80000000u;
constexpr std::int64_t kFullReportSeconds = 60;

std::uint8_t ByteAt(std::uint32_t key, int level) { return static_cast<std::uint8_t>(key >> (8 * (4 - level))); }

// Levels 2 to 4, four sizes each.
int PoolIndex(int level, int kind) { return (level - 2) * kKinds + kind; }

bool Pin(std::atomic<std::uint32_t>& pins) {
  std::uint32_t seen = pins.load(std::memory_order_relaxed);
  do {
    if (seen & kRetired) return false;
  } while (!pins.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed));
  return true;
}

}  // namespace

void ClientTable::Client::Release() {
  if (record_ != nullptr) record_->pins_.fetch_sub(1, std::memory_order_release);
  record_ = nullptr;
}

ClientTable::ClientTable(platform::Clock& clock, const std::atomic<std::uint8_t>& startupPending,
                         const std::vector<ModuleProgress>& progressTemplate, const AddressRanges& listed)
    : clock_(clock),
      startupPending_(startupPending),
      progressTemplate_(progressTemplate),
      listed_(listed),
      root_(new Node256(k256, 1)),
      pools_(new NodePool[3 * kKinds]),
      wide_(new WideIndex) {}

ClientTable::~ClientTable() {
  for (ClientTally* record : records_) {
    record->~ClientTally();
    ::operator delete(record);
  }
  delete static_cast<Node256*>(root_);
}

Node* ClientTable::NewNode(int level, int kind) {
  nodes_.fetch_add(1, std::memory_order_relaxed);
  return pools_[PoolIndex(level, kind)].Take(kind, level);
}

void ClientTable::Recycle(Node* node) {
  nodes_.fetch_sub(1, std::memory_order_relaxed);
  pools_[PoolIndex(node->level, node->kind)].Give(node);
}

// A copy of the node in the given size, not yet in the tree.
Node* ClientTable::Resized(Node* node, int kind) {
  Node* copy = NewNode(node->level, kind);
  Visit(node, [copy](auto& from) {
    from.ForEach([copy](std::uint8_t b, void* child) {
      Visit(copy, [b, child](auto& to) { to.Put(b, child); });
    });
  });
  copy->live = node->live;
  return copy;
}

void ClientTable::Walk(std::uint32_t key, Node* path[4]) const {
  path[0] = root_;
  for (int level = 1; level < 4; ++level) {
    path[level] = path[level - 1] == nullptr
                      ? nullptr
                      : static_cast<Node*>(FindChild(path[level - 1], ByteAt(key, level)));
  }
}

// Puts `child` under the byte of `level` in path[level - 1], growing that
// node into a larger copy when it is full.
void ClientTable::AddChild(Node* path[4], std::uint32_t key, int level, void* child) {
  Node* node = path[level - 1];
  const std::uint8_t b = ByteAt(key, level);
  if (!Visit(node, [b, child](auto& n) { return n.Put(b, child); })) {
    Node* grown = Resized(node, node->kind + 1);
    Visit(grown, [b, child](auto& n) { n.Put(b, child); });
    Node* parent = path[level - 2];
    const std::uint8_t pb = ByteAt(key, level - 1);
    Visit(parent, [pb, grown](auto& n) { n.Set(pb, grown); });
    Recycle(node);
    path[level - 1] = node = grown;
  }
  ++node->live;
}

// Takes the byte of `level` out of path[level - 1]; an emptied node leaves
// the tree, a sparse one is replaced by a smaller copy.
void ClientTable::RemoveChild(Node* path[4], std::uint32_t key, int level) {
  Node* node = path[level - 1];
  const std::uint8_t b = ByteAt(key, level);
  Visit(node, [b](auto& n) {
    using T = std::decay_t<decltype(n)>;
    if constexpr (std::is_same_v<T, Node48>) {
      n.Remove(b);
    } else {
      n.Set(b, nullptr);
    }
  });
  --node->live;
  if (level == 1) return;
  if (node->live == 0) {
    RemoveChild(path, key, level - 1);
    Recycle(node);
    return;
  }
  if (node->live <= kShrinkAt[node->kind]) {
    Node* smaller = Resized(node, node->kind - 1);
    const std::uint8_t pb = ByteAt(key, level - 1);
    Visit(path[level - 2], [pb, smaller](auto& n) { n.Set(pb, smaller); });
    Recycle(node);
  }
}

void ClientTable::Index(std::uint32_t key, ClientTally* record) {
  Node* path[4];
  Walk(key, path);
  for (int level = 2; level <= 4; ++level) {
    if (path[level - 1] != nullptr) continue;
    Node* fresh = NewNode(level, k4);
    AddChild(path, key, level - 1, fresh);
    path[level - 1] = fresh;
  }
  AddChild(path, key, 4, record);
}

void ClientTable::Detach(std::uint32_t key) {
  Node* path[4];
  Walk(key, path);
  RemoveChild(path, key, 4);
}

ClientTally* ClientTable::FindPinned(std::uint32_t key) const {
  const Node* node = root_;
  for (int level = 1; level < 4; ++level) {
    node = static_cast<const Node*>(FindChild(node, ByteAt(key, level)));
    if (node == nullptr) return nullptr;
  }
  auto* record = static_cast<ClientTally*>(FindChild(node, ByteAt(key, 4)));
  if (record == nullptr) return nullptr;
  if (readPause_) [[unlikely]] readPause_();
  if (!Pin(record->pins_)) return nullptr;
  if (record->key_.load(std::memory_order_relaxed) != key || record->IsIpv6()) {
    record->pins_.fetch_sub(1, std::memory_order_release);
    return nullptr;
  }
  return record;
}

ClientTally* ClientTable::FindPinned(const Ipv6Address& key) const {
  ClientTally* record = wide_->Probe(key, [&key](const ClientTally* r) { return r->Key6() == key; });
  if (record == nullptr) return nullptr;
  if (readPause_) [[unlikely]] readPause_();
  if (!Pin(record->pins_)) return nullptr;
  if (record->Key6() != key || !record->IsIpv6()) {
    record->pins_.fetch_sub(1, std::memory_order_release);
    return nullptr;
  }
  return record;
}

ClientTally* ClientTable::NewRecord(std::size_t progressCapacity) {
  const std::size_t wideKey = ipv6Prefix_ != 0 ? 4 * sizeof(std::atomic<std::uint32_t>) : 0;
  void* memory = ::operator new(sizeof(ClientTally) + progressCapacity * sizeof(ModuleProgress) + wideKey);
  auto* record = new (memory) ClientTally();
  std::uninitialized_default_construct_n(record->ProgressItems(), progressCapacity);
  record->progressCapacity_ = static_cast<std::uint8_t>(progressCapacity);
  if (wideKey != 0) std::uninitialized_default_construct_n(record->WideKey(), 4);
  records_.push_back(record);
  clients_.fetch_add(1, std::memory_order_relaxed);
  return record;
}

// Gives the record the values of a new client. No reader holds it. The
// caller sets the key and publishes the record.
void ClientTable::PrepareFields(ClientTally& record, bool startup, std::optional<ClientState> listed) {
  record.state.store(ClientState::Normal, std::memory_order_relaxed);
  record.resetMark = ResetMark::None;
  record.requestCount = 1;
  record.holdUntil.store(0, std::memory_order_relaxed);
  record.challengeCounts = 0;
  record.challenge.reset();
  record.progressCount_ = 0;
  if (!startup) {
    const std::size_t n = std::min<std::size_t>(progressTemplate_.size(), record.progressCapacity_);
    std::copy_n(progressTemplate_.begin(), n, record.ProgressItems());
    record.progressCount_ = static_cast<std::uint8_t>(n);
  }
  record.madeAtStartup_ = startup;
  if (listed) {
    record.state.store(*listed, std::memory_order_relaxed);
    record.holdUntil.store(kHoldForever, std::memory_order_relaxed);
  }
  record.seen_.store(1, std::memory_order_relaxed);
}

void ClientTable::Prepare(ClientTally& record, std::uint32_t key, bool startup) {
  PrepareFields(record, startup, listed_.Find(key));
  record.key_.store(key, std::memory_order_relaxed);
  record.ipv6_.store(false, std::memory_order_relaxed);
  record.pins_.store(1, std::memory_order_release);  // held by the creating request
}

void ClientTable::Prepare(ClientTally& record, const Ipv6Address& key, bool startup) {
  PrepareFields(record, startup, listed_.Find(key, PrefixLast(key, ipv6Prefix_)));
  std::atomic<std::uint32_t>* w = record.WideKey();
  w[0].store(static_cast<std::uint32_t>(key.hi >> 32), std::memory_order_relaxed);
  w[1].store(static_cast<std::uint32_t>(key.hi), std::memory_order_relaxed);
  w[2].store(static_cast<std::uint32_t>(key.lo >> 32), std::memory_order_relaxed);
  w[3].store(static_cast<std::uint32_t>(key.lo), std::memory_order_relaxed);
  record.key_.store(0, std::memory_order_relaxed);
  record.ipv6_.store(true, std::memory_order_relaxed);
  record.pins_.store(1, std::memory_order_release);  // held by the creating request
}

// A client whose decision has run out counts as Normal: its next request
// would return it to Normal and restart its progress anyway. So the hold
// alone decides, apart from the start-up's records.
bool ClientTable::MayGiveUp(const ClientTally& record, std::int64_t now) const {
  return !record.madeAtStartup_ &&
         static_cast<std::int64_t>(record.holdUntil.load(std::memory_order_relaxed)) <= now;
}

ClientTally* ClientTable::TakeVictim(std::int64_t now) {
  if (now < noVictimBefore_) return nullptr;
  const std::size_t n = records_.size();
  for (std::size_t step = 0; step < 2 * n; ++step) {
    if (hand_ >= n) hand_ = 0;
    ClientTally* record = records_[hand_++];
    if (!MayGiveUp(*record, now)) continue;
    if (record->seen_.load(std::memory_order_relaxed) != 0) {
      record->seen_.store(0, std::memory_order_relaxed);
      continue;
    }
    std::uint32_t idle = 0;
    if (!record->pins_.compare_exchange_strong(idle, kRetired, std::memory_order_acq_rel,
                                               std::memory_order_relaxed)) {
      continue;  // a request holds it
    }
    if (!MayGiveUp(*record, now)) {  // a request decided on it meanwhile
      record->pins_.store(0, std::memory_order_release);
      continue;
    }
    evictions_.fetch_add(1, std::memory_order_relaxed);
    return record;
  }
  // A full sweep found nothing: holds end and requests finish by the second,
  // so the next sweep is worth it no sooner than the next second.
  noVictimBefore_ = now + 1;
  return nullptr;
}

// Under CreateLock, where each index is exact.
ClientTally* ClientTable::FindLocked(std::uint32_t key) const {
  Node* path[4];
  Walk(key, path);
  return path[3] == nullptr ? nullptr : static_cast<ClientTally*>(FindChild(path[3], ByteAt(key, 4)));
}

ClientTally* ClientTable::FindLocked(const Ipv6Address& key) const {
  return wide_->Probe(key, [&key](const ClientTally* r) { return r->Key6() == key; });
}

void ClientTable::Index(const Ipv6Address& key, ClientTally* record) { wide_->Insert(key, record); }

std::size_t ClientTable::Ipv6IndexBytes() const { return wide_->SlotBytes(); }

// Both families: a lock-free find, then under CreateLock an exact find or a
// new record.
template <typename Key>
ClientTable::Client ClientTable::Lookup(const Key& key) {
  if (ClientTally* record = FindPinned(key)) {
    if (record->seen_.load(std::memory_order_relaxed) == 0) record->seen_.store(1, std::memory_order_relaxed);
    return Client(record);
  }

  platform::ScopedLock lock(createLock_);
  if (ClientTally* record = FindLocked(key)) {
    // Under the lock a record in an index is never retired.
    record->pins_.fetch_add(1, std::memory_order_acquire);
    record->seen_.store(1, std::memory_order_relaxed);
    return Client(record);
  }

  const bool startup = startupPending_.load(std::memory_order_acquire) != 0;
  ClientTally* record = RecordForNewClient(startup);
  if (record == nullptr) return Client();
  Prepare(*record, key, startup);
  Index(key, record);
  return Client(record);
}

ClientTable::Client ClientTable::LookupClient(std::uint32_t key) { return Lookup(key); }

ClientTable::Client ClientTable::LookupClient(const Ipv6Address& key) {
  return ipv6Prefix_ == 0 ? Client() : Lookup(key);
}

// Under CreateLock: a fresh record, or below the bound the record of a
// client given up, taken out of its family's index.
ClientTally* ClientTable::RecordForNewClient(bool startup) {
  if (startup || records_.size() < maxClients_) return NewRecord(startup ? 0 : progressTemplate_.size());
  ClientTally* record = TakeVictim(clock_.Now());
  if (record == nullptr) {
    full_.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  if (record->IsIpv6()) {
    wide_->Remove(record->Key6());
  } else {
    Detach(record->key_.load(std::memory_order_relaxed));
  }
  return record;
}

ClientTable::Client ClientTable::LookupClient(const ClientAddress& address) {
  switch (address.family) {
    case AddressFamily::V4: return LookupClient(address.v4);
    case AddressFamily::V6: return LookupClient(address.v6);
    default: return Client();
  }
}

template <typename Key>
ClientTally* ClientTable::FindAny(const Key& key) {
  if (ClientTally* record = FindPinned(key)) {
    record->pins_.fetch_sub(1, std::memory_order_release);
    return record;
  }
  platform::ScopedLock lock(createLock_);
  return FindLocked(key);
}

ClientTally* ClientTable::Find(std::uint32_t key) { return FindAny(key); }

ClientTally* ClientTable::Find(const Ipv6Address& key) { return ipv6Prefix_ == 0 ? nullptr : FindAny(key); }

ClientTally* ClientTable::Find(const ClientAddress& address) {
  switch (address.family) {
    case AddressFamily::V4: return Find(address.v4);
    case AddressFamily::V6: return Find(address.v6);
    default: return nullptr;
  }
}

bool ClientTable::TakeFullReport(std::int64_t now) {
  if (!full_.load(std::memory_order_relaxed)) return false;
  std::int64_t due = nextFullReport_.load(std::memory_order_relaxed);
  if (now < due) return false;
  if (!nextFullReport_.compare_exchange_strong(due, now + kFullReportSeconds, std::memory_order_relaxed)) return false;
  full_.store(false, std::memory_order_relaxed);
  return true;
}

}  // namespace sentrel
