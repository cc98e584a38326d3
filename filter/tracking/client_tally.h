// The record the filter keeps for one client address.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "filter/picturecode/picture_challenge.h"
#include "filter/tracking/client_address.h"
#include "filter/settings/module.h"
#include "platform/lock.h"

namespace sentrel {

// A client's state, stored as these values in the journal.
enum class ClientState : std::uint8_t {
  Blocked = 0,
  Normal = 1,
  Allowed = 2,
  PictureCode = 3,
};

// Where a record stands with its last decision.
enum class ResetMark : std::uint8_t {
  None = 0,        // no decision to undo
  Decided = 1,     // a decision set the state and its hold
  Restarting = 2,  // the decision ran out: every module's progress restarts
};

// A hold that never ends (listed addresses).
inline constexpr std::uint32_t kHoldForever = 0xFFFFFFFFu;

class ClientTable;

// One record is 72 bytes on 64-bit systems plus 8 bytes per loaded module: the
// progress items live right behind the record, in the same allocation, so a
// client costs one allocation. A table that tracks IPv6 clients adds 16 bytes
// behind them for the client's prefix. Records are made and reused only by the
// ClientTable, which also owns the private bookkeeping fields.
struct ClientTally {
  // Read without the lock by the request path, so atomic; changed under `lock`.
  std::atomic<ClientState> state{ClientState::Normal};
  ResetMark resetMark = ResetMark::None;
  // Two counters of the picture-code challenge in one byte: the units digit
  // counts the codes issued to the client, the tens digit the wrong answers
  // to the current code. Not zero means `challenge` is set.
  std::uint8_t challengeCounts = 0;

 private:
  friend class ClientTable;
  // Table bookkeeping, placed to fill the gaps between the client's fields
  // (see client_table.cpp): the "seen since the clock hand passed" mark, the
  // key, the number of request threads holding the record (with a flag
  // while the table moves it to another address), the room for progress
  // items, how many are in use, and whether the start-up made the record.
  std::atomic<std::uint8_t> seen_{1};

 public:
  std::uint32_t requestCount = 1;
  std::atomic<std::uint32_t> holdUntil{0};

 private:
  std::atomic<std::uint32_t> key_{0};

 public:
  std::unique_ptr<picturecode::PictureChallenge> challenge;
  platform::CriticalSection lock;

  // One item per loaded module (none for records made during the start-up).
  std::span<ModuleProgress> Progress() { return {ProgressItems(), progressCount_}; }
  std::span<const ModuleProgress> Progress() const {
    return {const_cast<ClientTally*>(this)->ProgressItems(), progressCount_};
  }

  int CodesIssued() const { return challengeCounts % 10; }
  int WrongAnswers() const { return challengeCounts / 10 % 10; }
  void SetChallengeCounts(int codesIssued, int wrongAnswers) {
    challengeCounts = static_cast<std::uint8_t>(wrongAnswers * 10 + codesIssued);
  }

  // The address the record belongs to: an IPv4 client's key, or an IPv6
  // client's prefix.
  bool IsIpv6() const { return ipv6_.load(std::memory_order_relaxed); }
  std::uint32_t Key() const { return key_.load(std::memory_order_relaxed); }
  Ipv6Address Key6() const {
    const std::atomic<std::uint32_t>* w = WideKey();
    auto word = [w](int i) { return std::uint64_t{w[i].load(std::memory_order_relaxed)}; };
    return Ipv6Address{word(0) << 32 | word(1), word(2) << 32 | word(3)};
  }

 private:
  ModuleProgress* ProgressItems() {
    return reinterpret_cast<ModuleProgress*>(reinterpret_cast<unsigned char*>(this) + sizeof(ClientTally));
  }

  // Where a table that tracks IPv6 clients keeps an IPv6 client's prefix:
  // four words behind the progress items, in every record of such a table.
  std::atomic<std::uint32_t>* WideKey() const {
    return reinterpret_cast<std::atomic<std::uint32_t>*>(const_cast<ClientTally*>(this)->ProgressItems() +
                                                          progressCapacity_);
  }

  std::atomic<std::uint32_t> pins_{0};
  std::uint8_t progressCapacity_ = 0;
  std::uint8_t progressCount_ = 0;
  bool madeAtStartup_ = false;
  std::atomic<bool> ipv6_{false};
};

static_assert(sizeof(ClientTally) % alignof(ModuleProgress) == 0);
static_assert(sizeof(void*) != 8 || sizeof(platform::CriticalSection) != 40 || sizeof(ClientTally) == 72,
              "a record is 72 bytes where the lock is a 40-byte mutex");

}  // namespace sentrel
