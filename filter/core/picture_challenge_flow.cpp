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
  client.SetChallengeCounts(0, 0);
}

// The result for a client whose state is not (or no longer) PictureCode.
PictureCodeResult ResultForState(ClientState state) {
  switch (state) {
    case ClientState::Blocked:
      return PictureCodeResult::Blocked;
    case ClientState::Allowed:
      return PictureCodeResult::Allowed;
    default:
      return PictureCodeResult::Normal;
  }
}

}  // namespace

PictureCodeResult HandlePictureCode(const PictureCodeEnv& env, HTTP_FILTER_CONTEXT* context,
                                    const std::string& address, ClientTally& client) {
  auto count = [&env](metrics::ChallengeEvent event) {
    if (env.metrics != nullptr) env.metrics->Count(event);
  };
  platform::ScopedLock lock(client.lock);
  const ClientState state = client.state.load(std::memory_order_relaxed);
  if (state != ClientState::PictureCode) return ResultForState(state);

  const std::int64_t now = env.clock.Now();
  if (client.challengeCounts == 0 || client.challenge == nullptr) {
    client.challenge = env.maker.NewPictureChallenge();
    client.SetChallengeCounts(1, 0);
    if (client.challenge != nullptr) count(metrics::ChallengeEvent::CodeIssued);
  } else if (static_cast<std::int64_t>(client.challenge->createdAt) + kCodeLifetimeSeconds < now) {
    client.challenge.reset();
    const int issued = client.CodesIssued();
    if (issued >= kMaxCodesIssued) {
      client.state.store(ClientState::Blocked, std::memory_order_relaxed);
      env.journal.WriteCacheLine(address, ClientState::Blocked,
                                 client.holdUntil.load(std::memory_order_relaxed));
      client.SetChallengeCounts(0, 0);
      count(metrics::ChallengeEvent::BlockedCodesExpired);
      return PictureCodeResult::Blocked;
    }
    client.challenge = env.maker.NewPictureChallenge();
    client.SetChallengeCounts(issued + 1, 0);
    if (client.challenge != nullptr) count(metrics::ChallengeEvent::CodeIssued);
  }
  if (client.challenge == nullptr) {
    // No code could be made (the system's random source failed): nothing to
    // check an answer against, so the request passes on as if unfiltered.
    client.SetChallengeCounts(0, 0);
    return PictureCodeResult::Normal;
  }
  picturecode::PictureChallenge& challenge = *client.challenge;

  const std::string url = ReadWhole(context, "URL");
  if (url.size() >= 9 && strncasecmp(url.c_str(), "/Code.bmp", 9) == 0) {
    if (challenge.imageSize == 0) env.maker.RenderPictureChallenge(challenge);
    SendStatus(context, env.settings);
    SendBytes(context, challenge.imageBytes.data(), challenge.imageSize);
    return PictureCodeResult::Answered;
  }

  const std::string query = ReadWhole(context, "QUERY_STRING");
  const std::size_t prefixLength = picturecode::kQueryPrefixLength;
  const std::size_t answerLength = static_cast<std::size_t>(env.settings.Length) + prefixLength;
  if (query.size() == answerLength &&
      strncasecmp(query.c_str(), challenge.expectedQuery, prefixLength) == 0) {
    if (strncasecmp(query.c_str(), challenge.expectedQuery, answerLength) == 0) {
      client.state.store(ClientState::Allowed, std::memory_order_relaxed);
      env.journal.WriteCacheLine(address, ClientState::Allowed,
                                 client.holdUntil.load(std::memory_order_relaxed));
      Discard(client);
      count(metrics::ChallengeEvent::RightAnswer);
      return PictureCodeResult::Allowed;
    }
    client.SetChallengeCounts(client.CodesIssued(), client.WrongAnswers() + 1);
    count(metrics::ChallengeEvent::WrongAnswer);
    if (client.WrongAnswers() > kMaxWrongAnswers) {
      client.state.store(ClientState::Blocked, std::memory_order_relaxed);
      env.journal.WriteCacheLine(address, ClientState::Blocked,
                                 client.holdUntil.load(std::memory_order_relaxed));
      Discard(client);
      count(metrics::ChallengeEvent::BlockedWrongAnswers);
      return PictureCodeResult::Blocked;
    }
  }

  SendStatus(context, env.settings);
  SendBytes(context, env.settings.codePage.data(), env.settings.codePage.size());
  return PictureCodeResult::Answered;
}

}  // namespace sentrel
