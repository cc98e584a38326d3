#include "filter/core/picture_challenge_flow.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "filter/core/block_response.h"
#include "filter/core/server_variables.h"

namespace sentrel {

namespace {

// Reads a variable whole, whatever its length; a value the server cannot
// supply counts as empty.
std::string ReadWhole(HTTP_FILTER_CONTEXT* context, const char* name) {
  std::string value(256, '\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(value.size());
    if (context->GetServerVariable(context, const_cast<char*>(name), value.data(), &size)) {
      value.resize(std::min<std::size_t>(value.size(), size));
      value.resize(std::strlen(value.c_str()));
      return value;
    }
    if (size <= value.size()) return std::string();  // missing, not too small
    value.assign(size, '\0');
  }
  return std::string();
}

void Discard(ClientTally& client) {
  client.challenge.reset();
  client.challengeCounts = 0;
}

}  // namespace

std::uint8_t HandlePictureCode(const PictureCodeEnv& env, HTTP_FILTER_CONTEXT* context,
                               const std::string& address, ClientTally& client) {
  platform::ScopedLock lock(client.lock);
  const std::uint8_t state = client.state.load(std::memory_order_relaxed);
  if (state != PictureCode) return state;

  const std::int64_t now = env.clock.Now();
  if (client.challengeCounts == 0 || client.challenge == nullptr) {
    client.challenge = env.maker.NewPictureChallenge();
    client.challengeCounts = 1;
  } else if (static_cast<std::int64_t>(client.challenge->createdAt) + kCodeLifetimeSeconds < now) {
    client.challenge.reset();
    const int issued = client.challengeCounts % 10;
    if (issued >= 3) {
      client.state.store(Blocked, std::memory_order_relaxed);
      env.journal.WriteCacheLine(address, Blocked, client.holdUntil.load(std::memory_order_relaxed));
      client.challengeCounts = 0;
      return kPictureBlocked;
    }
    client.challenge = env.maker.NewPictureChallenge();
    client.challengeCounts = static_cast<std::uint8_t>(issued + 1);
  }
  if (client.challenge == nullptr) {
    // No code could be made (the system's random source failed): nothing to
    // check an answer against, so the request passes on as if unfiltered.
    client.challengeCounts = 0;
    return kPictureNormal;
  }
  picturecode::PictureChallenge& challenge = *client.challenge;

  const std::string url = ReadWhole(context, "URL");
  if (url.size() >= 9 && strncasecmp(url.c_str(), "/Code.bmp", 9) == 0) {
    if (challenge.imageSize == 0) env.maker.RenderPictureChallenge(challenge);
    SendStatus(context, env.settings);
    SendBytes(context, challenge.imageBytes.data(), challenge.imageSize);
    return kPictureAnswered;
  }

  const std::string query = ReadWhole(context, "QUERY_STRING");
  const std::size_t answerLength = static_cast<std::size_t>(env.settings.Length) + 5;
  if (query.size() == answerLength && strncasecmp(query.c_str(), challenge.expectedQuery, 5) == 0) {
    if (strncasecmp(query.c_str(), challenge.expectedQuery, answerLength) == 0) {
      client.state.store(Allowed, std::memory_order_relaxed);
      env.journal.WriteCacheLine(address, Allowed, client.holdUntil.load(std::memory_order_relaxed));
      Discard(client);
      return kPictureAllowed;
    }
    client.challengeCounts = static_cast<std::uint8_t>(client.challengeCounts + 10);
    if (client.challengeCounts / 10 % 10 > 3) {
      client.state.store(Blocked, std::memory_order_relaxed);
      env.journal.WriteCacheLine(address, Blocked, client.holdUntil.load(std::memory_order_relaxed));
      Discard(client);
      return kPictureBlocked;
    }
  }

  SendStatus(context, env.settings);
  SendBytes(context, env.settings.codePage.data(), env.settings.codePage.size());
  return kPictureAnswered;
}

}  // namespace sentrel
