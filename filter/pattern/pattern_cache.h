// The filter's compiled rule patterns, keyed by the pattern text: every
// request thread tests its rules with the patterns held here (their
// automata fill in as requests arrive).
//
// A compiled pattern depends only on its text and the case flag, and rule
// matching is always case-sensitive, so the text alone is the key. Patterns
// that fail to compile are remembered too (they answer "not found").
//
// Entries are never removed while the cache lives, which is what lets the
// look-up run without any lock: an entry, once published, stays valid until
// the cache is destroyed. The cache is bounded instead by a number of entries
// and a number of bytes; once either is reached, further patterns are
// compiled for each call and not kept, which gives the same answers, only
// slower. A filter's rule patterns are a fixed, small set, so in practice all
// of them stay cached.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "filter/pattern/rule_pattern.h"
#include "platform/lock.h"

namespace sentrel::pattern {

// The rule test of one compiled pattern (RulePattern::Found). When
// `budgetExhausted` is given it tells whether the search stopped for lack of
// step budget, in which case the answer is "not found".
bool FoundWithin(const RulePattern& compiled, std::string_view subject, bool* budgetExhausted);

class PatternCache {
 public:
  static constexpr std::size_t kDefaultMaxEntries = 4096;
  static constexpr std::size_t kDefaultMaxBytes = std::size_t{32} << 20;

  explicit PatternCache(std::size_t maxEntries = kDefaultMaxEntries, std::size_t maxBytes = kDefaultMaxBytes);
  ~PatternCache();
  PatternCache(const PatternCache&) = delete;
  PatternCache& operator=(const PatternCache&) = delete;

  // The rule test: true when `pattern` (compiled case-sensitively) occurs in
  // `subject` (RulePattern::Found). Same answers as compiling the pattern for
  // each call. When `budgetExhausted` is given it tells whether the search
  // stopped for lack of step budget (only back-reference patterns have one),
  // in which case the answer is "not found".
  bool MatchRulePattern(std::string_view pattern, std::string_view subject,
                        bool* budgetExhausted = nullptr);

  // The compiled pattern held for `pattern`, compiling and holding it when
  // new; it stays valid as long as the cache. Null when the cache is full.
  const RulePattern* Held(std::string_view pattern);

  // The backtracking search with the caller's context (its step budget
  // applies, and it receives the positions).
  bool Match(std::string_view pattern, std::string_view subject, PatternMatch& context);

  // Bytes held by the automata of the patterns held (they grow as subjects
  // need new states, each within its own budget).
  std::size_t automatonBytes() const;

  // Patterns held, and their approximate size in bytes.
  std::size_t size() const { return count_.load(std::memory_order_relaxed); }
  std::size_t bytes() const { return bytes_.load(std::memory_order_relaxed); }

 private:
  struct Entry {
    std::uint64_t hash;
    std::string text;
    RulePattern compiled;
  };

  // The cached entry for `text`, or null when absent.
  const Entry* Find(std::string_view text, std::uint64_t hash) const;
  // Compiles `pattern` and adds it; the entry now held, or null.
  const Entry* Hold(std::string_view pattern, std::uint64_t hash);
  // Adds a compiled entry (taking it from `entry`) unless the cache is full
  // or another thread added the same text first. Returns the entry now held
  // for the text, or null when the cache is full (`entry` is left as it was).
  const Entry* Insert(std::unique_ptr<Entry>& entry);

  const std::size_t maxEntries_;
  const std::size_t maxBytes_;
  const std::size_t mask_;
  std::unique_ptr<std::atomic<const Entry*>[]> table_;
  std::atomic<std::size_t> count_{0};
  std::atomic<std::size_t> bytes_{0};
  // A filter lock, so that a fault while it is held cannot leave it taken.
  platform::CriticalSection insertLock_;
};

}  // namespace sentrel::pattern
