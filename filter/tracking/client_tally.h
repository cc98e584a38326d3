// The record the filter keeps for one client address.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "filter/picturecode/picture_challenge.h"
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

struct ClientTally {
  // Read without the lock by the request path, so atomic; changed under `lock`.
  std::atomic<ClientState> state{ClientState::Normal};
  std::uint32_t requestCount = 1;
  std::atomic<std::uint32_t> holdUntil{0};
  std::vector<ModuleProgress> progress;
  ResetMark resetMark = ResetMark::None;
  platform::CriticalSection lock;
  // Two counters of the picture-code challenge in one byte: the units digit
  // counts the codes issued to the client, the tens digit the wrong answers
  // to the current code. Not zero means `challenge` is set.
  std::uint8_t challengeCounts = 0;
  std::unique_ptr<picturecode::PictureChallenge> challenge;

  int CodesIssued() const { return challengeCounts % 10; }
  int WrongAnswers() const { return challengeCounts / 10 % 10; }
  void SetChallengeCounts(int codesIssued, int wrongAnswers) {
    challengeCounts = static_cast<std::uint8_t>(wrongAnswers * 10 + codesIssued);
  }
};

}  // namespace sentrel
