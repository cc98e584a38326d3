// The compiled-pattern cache: an open-addressing table of atomic pointers.
// Readers probe it with acquire loads only; writers (first use of a pattern)
// serialise on a mutex among themselves, never against readers, and publish
// a fully built entry with a release store. The table has at least twice as
// many slots as the entry limit, so probes stay short and always reach an
// empty slot.

#include "filter/pattern/pattern_cache.h"

#include <cstring>
#include <new>
#include <utility>

namespace sentrel::pattern {
namespace {

std::size_t TableSizeFor(std::size_t maxEntries) {
  std::size_t size = 16;
  while (size < 2 * maxEntries + 1) size *= 2;
  return size;
}

// A quick hash of a pattern text, eight bytes at a time: every rule test
// computes one.
std::uint64_t HashOf(std::string_view text) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    h = (h ^ word) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, text.data() + i, text.size() - i);
  h = (h ^ tail) * 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 29);
}

}  // namespace

PatternCache::PatternCache(std::size_t maxEntries, std::size_t maxBytes)
    : maxEntries_(maxEntries),
      maxBytes_(maxBytes),
      mask_(TableSizeFor(maxEntries) - 1),
      table_(new std::atomic<const Entry*>[mask_ + 1]) {
  for (std::size_t i = 0; i <= mask_; ++i) table_[i].store(nullptr, std::memory_order_relaxed);
}

PatternCache::~PatternCache() {
  for (std::size_t i = 0; i <= mask_; ++i) delete table_[i].load(std::memory_order_relaxed);
}

const PatternCache::Entry* PatternCache::Find(std::string_view text, std::uint64_t hash) const {
  for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
    const Entry* e = table_[i].load(std::memory_order_acquire);
    if (e == nullptr) return nullptr;
    if (e->hash == hash && e->text == text) return e;
  }
}

const PatternCache::Entry* PatternCache::Insert(std::unique_ptr<Entry>& entry) {
  const std::size_t cost = sizeof(Entry) + entry->text.capacity() + entry->compiled.memoryUse();
  platform::ScopedLock lock(insertLock_);
  std::size_t i = entry->hash & mask_;
  for (;; i = (i + 1) & mask_) {
    const Entry* e = table_[i].load(std::memory_order_relaxed);
    if (e == nullptr) break;
    if (e->hash == entry->hash && e->text == entry->text) return e;
  }
  const std::size_t count = count_.load(std::memory_order_relaxed);
  const std::size_t bytes = bytes_.load(std::memory_order_relaxed);
  if (count >= maxEntries_ || bytes + cost > maxBytes_) return nullptr;
  count_.store(count + 1, std::memory_order_relaxed);
  bytes_.store(bytes + cost, std::memory_order_relaxed);
  const Entry* published = entry.release();
  table_[i].store(published, std::memory_order_release);
  return published;
}

bool PatternCache::Match(std::string_view pattern, std::string_view subject, PatternMatch& context) {
  if (pattern.data() == nullptr || subject.data() == nullptr) return false;
  pattern = UpToFirstZero(pattern);
  const std::uint64_t hash = HashOf(pattern);
  if (const Entry* e = Find(pattern, hash)) return e->compiled.Match(subject, context);
  const Entry* held = Hold(pattern, hash);
  if (held != nullptr) return held->compiled.Match(subject, context);
  RulePattern once;
  once.Compile(pattern, true);
  return once.Match(subject, context);
}

bool FoundWithin(const RulePattern& compiled, std::string_view subject, bool* budgetExhausted) {
  if (budgetExhausted != nullptr) *budgetExhausted = false;
  if (budgetExhausted == nullptr || compiled.engine() != Engine::MemoBacktracker) {
    return compiled.Found(subject);
  }
  PatternMatch context;
  const bool found = compiled.Found(subject, context);
  *budgetExhausted = context.budgetExhausted();
  return found;
}

const RulePattern* PatternCache::Held(std::string_view pattern) {
  if (pattern.data() == nullptr) return nullptr;
  pattern = UpToFirstZero(pattern);
  const std::uint64_t hash = HashOf(pattern);
  const Entry* e = Find(pattern, hash);
  if (e == nullptr) e = Hold(pattern, hash);
  return e != nullptr ? &e->compiled : nullptr;
}

bool PatternCache::MatchRulePattern(std::string_view pattern, std::string_view subject,
                                    bool* budgetExhausted) {
  if (budgetExhausted != nullptr) *budgetExhausted = false;
  if (pattern.data() == nullptr || subject.data() == nullptr) return false;
  pattern = UpToFirstZero(pattern);
  const std::uint64_t hash = HashOf(pattern);
  if (const Entry* e = Find(pattern, hash)) return FoundWithin(e->compiled, subject, budgetExhausted);
  const Entry* held = Hold(pattern, hash);
  if (held != nullptr) return FoundWithin(held->compiled, subject, budgetExhausted);
  // The cache is full (or memory ran short): compile for this test alone.
  RulePattern once;
  once.Compile(pattern, true);
  return FoundWithin(once, subject, budgetExhausted);
}

std::size_t PatternCache::automatonBytes() const {
  std::size_t total = 0;
  for (std::size_t i = 0; i <= mask_; ++i) {
    if (const Entry* e = table_[i].load(std::memory_order_acquire)) total += e->compiled.automatonBytes();
  }
  return total;
}

const PatternCache::Entry* PatternCache::Hold(std::string_view pattern, std::uint64_t hash) {

  std::unique_ptr<Entry> entry(new (std::nothrow) Entry);
  if (!entry) return nullptr;
  try {
    entry->hash = hash;
    entry->text.assign(pattern);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // Rule matching is always case-sensitive.
  entry->compiled.Compile(pattern, true);
  if (entry->compiled.result() == CompileCode::OutOfMemory) return nullptr;  // not worth keeping
  return Insert(entry);
}

}  // namespace sentrel::pattern
