// The picture-code challenge of a client in state PictureCode: the code and
// its lifetime, the "/Code.bmp" image, the Code page, and the "Code=" answer
// that lifts the challenge or, wrong too often, blocks the client.
#pragma once

#include <cstdint>
#include <string>

#include "filter/core/isapi.h"
#include "filter/metrics/filter_metrics.h"
#include "filter/picturecode/picture_code_maker.h"
#include "filter/settings/filter_settings.h"
#include "filter/tracking/cache_journal.h"
#include "filter/tracking/client_tally.h"
#include "platform/clock.h"

namespace sentrel {

// Results of HandlePictureCode.
enum class PictureCodeResult : std::uint8_t {
  Blocked = 0,   // the client is (now) blocked: send the block answer
  Normal = 1,    // the client is Normal: pass the request on
  Allowed = 2,   // right answer: pass the request on
  Answered = 3,  // the image or the Code page has been sent
};

// A code older than this is replaced at the client's next request.
inline constexpr std::int64_t kCodeLifetimeSeconds = 60;
// A code that runs out after this many were issued blocks the client.
inline constexpr int kMaxCodesIssued = 3;
// The wrong answer after this many to one code blocks the client.
inline constexpr int kMaxWrongAnswers = 3;

struct PictureCodeEnv {
  const FilterSettings& settings;
  picturecode::PictureCodeMaker& maker;
  CacheJournal& journal;
  platform::Clock& clock;
  metrics::FilterMetrics* metrics = nullptr;  // counts the challenge's events; optional
};

// Runs the challenge for a client in state PictureCode, under its lock.
PictureCodeResult HandlePictureCode(const PictureCodeEnv& env, HTTP_FILTER_CONTEXT* context,
                               const std::string& address, ClientTally& client);

}  // namespace sentrel
