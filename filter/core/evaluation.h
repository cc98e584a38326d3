// Request evaluation: advances one client's progress through every loaded
// module for one request, and lets a module that completes fire.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "filter/core/isapi.h"
#include "filter/crawlers/crawler_check.h"
#include "filter/logging/activity_log.h"
#include "filter/core/prepared_rules.h"
#include "filter/metrics/filter_metrics.h"
#include "filter/pattern/pattern_cache.h"
#include "filter/settings/filter_settings.h"
#include "filter/settings/module_registry.h"
#include "filter/tracking/cache_journal.h"
#include "filter/tracking/client_tally.h"
#include "platform/clock.h"

namespace sentrel {

// A decision taken by an evaluation, as an observer sees it.
struct DecisionEvent {
  const std::string& address;  // the client's address text (an IPv6 client's prefix, "2001:db8::/64")
  // The module that fired (any action, log-only included), or 0 when every
  // module finished without a decision and the client was allowed for the
  // filter-wide Dateline.
  std::int32_t moduleNumber;
  const Module* module;     // the module that fired; nullptr for 0
  ClientState state;        // the client's state after the decision
  std::uint32_t holdUntil;  // the client's holdUntil after the decision
};

// Told of every decision. It runs on the evaluating thread with the client's
// lock held, so it must be quick and must not call back into the filter.
using DecisionObserver = std::function<void(const DecisionEvent&)>;

// What an evaluation reads and writes besides the client record.
struct EvaluationEnv {
  const ModuleRegistry& registry;
  const FilterSettings& settings;
  ActivityLog& log;
  CacheJournal& journal;
  platform::Clock& clock;
  pattern::PatternCache& patterns;  // compiled rule patterns, shared by all requests
  const PreparedRules& prepared;    // the registry's rules made ready
  const DecisionObserver* observer = nullptr;  // optional
  metrics::FilterMetrics* metrics = nullptr;   // counts fired modules; optional
  // Computes SENTREL_CRAWLER; optional (without it the server is asked).
  crawlers::CrawlerCheck* crawlers = nullptr;
};

// Evaluates one request of a client whose hold has passed, under the client's
// lock. Returns the client's state afterwards. `address` names the client in
// the journal and to the observer (ClientAddress::journalText);
// `remoteAddr`, when not empty, is the REMOTE_ADDR text the server gave,
// where it differs (an IPv6 client's full address).
ClientState EvaluateRequest(const EvaluationEnv& env, HTTP_FILTER_CONTEXT* context,
                             const std::string& address, ClientTally& client,
                             std::string_view remoteAddr = {});

// Wait before asking the server again for a variable a rule needs.
inline constexpr std::uint32_t kMissingVariableWaitMs = 300;
// Waits allowed per request, whatever the number of rules.
inline constexpr int kMissingVariableRetries = 2;

}  // namespace sentrel
