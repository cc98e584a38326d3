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

enum ClientState : std::uint8_t {
  Blocked = 0,
  Normal = 1,
  Allowed = 2,
  PictureCode = 3,
};

// A hold that never ends (listed addresses).
inline constexpr std::uint32_t kHoldForever = 0xFFFFFFFFu;

struct ClientTally {
  // Read without the lock by the request path, so atomic; changed under `lock`.
  std::atomic<std::uint8_t> state{Normal};
  std::uint32_t requestCount = 1;
  std::atomic<std::uint32_t> holdUntil{0};
  std::vector<ModuleProgress> progress;
  std::uint8_t resetMark = 0;
  platform::CriticalSection lock;
  std::uint8_t challengeCounts = 0;
  std::unique_ptr<picturecode::PictureChallenge> challenge;
};

}  // namespace sentrel
