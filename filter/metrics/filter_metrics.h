// What the filter counts for monitoring, and the metrics page made of it.
//
// The filter instance owns one FilterMetrics and adds to it where things
// happen on the request path (requests by what happened to them, answers,
// picture-code events, modules that fire). Everything else on the page is a
// reading of the filter's state taken when the page is asked for
// (FilterReadings): the client table's size, the log and journal counts, the
// start-up stage, crash dumps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filter/metrics/counter_set.h"

namespace sentrel::metrics {

// What happened to a request the filter was handed for URL mapping.
enum class RequestOutcome : std::uint8_t {
  Evaluated,        // went through the evaluation of the modules
  DuringStartup,    // passed unevaluated: the start-up had not completed
  UnusableAddress,  // passed unevaluated: no usable IPv4 address
  Held,             // answered from the client's held state, not evaluated
};
inline constexpr std::size_t kRequestOutcomes = 4;

// Answers given by the client's state.
enum class Answer : std::uint8_t {
  Blocked,     // the block answer was sent
  Challenged,  // the Code page or the picture-code image was sent
  Allowed,     // passed on because the client is allowed
};
inline constexpr std::size_t kAnswers = 3;

// Events of the picture-code challenge.
enum class ChallengeEvent : std::uint8_t {
  CodeIssued,           // a picture code was drawn for a client
  RightAnswer,          // the right code was entered: the client is allowed
  WrongAnswer,          // a wrong code was entered
  BlockedWrongAnswers,  // blocked after too many wrong answers to one code
  BlockedCodesExpired,  // blocked when its last code ran out unanswered
};
inline constexpr std::size_t kChallengeEvents = 5;

// A loaded module as the page labels it.
struct ModuleLabel {
  std::int32_t number = 0;
  std::string name;    // the module's Name, in the system code page
  std::string action;  // "block", "log", "allow" or "picture_code"
};

// Decisions shared with other filter instances, when section Share names a
// server.
struct ShareReadings {
  std::uint64_t published = 0;
  std::uint64_t applied = 0;
  std::uint64_t dropped = 0;
  std::uint64_t rejected = 0;
  std::uint64_t skipped = 0;
  bool connected = false;
};

// Readings of the filter's state for one page.
struct FilterReadings {
  std::string version;             // the filter's version text
  std::int64_t startTime = 0;      // when the library was loaded, seconds since 1970
  std::uint32_t startupStage = 0;  // the start-up stage due next (4 = started)
  std::uint64_t clients = 0;       // client records held
  std::uint64_t clientTableBytes = 0;  // their memory, estimated
  std::uint64_t logLinesWritten = 0;
  std::uint64_t logLinesLost = 0;
  std::uint64_t journalLinesWritten = 0;
  std::uint64_t journalWriteFailures = 0;
  std::uint64_t journalLinesPending = 0;
  std::uint64_t crashDumps = 0;
  std::uint64_t clientEvictions = 0;  // records taken over for new clients at MaxClients
  // Verdicts of the crawler check, by kind.
  std::uint64_t crawlersVerified = 0;
  std::uint64_t crawlersFake = 0;
  std::uint64_t crawlersUnknown = 0;
  std::optional<ShareReadings> share;  // absent without sharing
  // The loaded modules, in number order; empty until they are loaded.
  std::vector<ModuleLabel> modules;
};

class FilterMetrics {
 public:
  // Counts modules numbered 1 to maxModules.
  explicit FilterMetrics(std::size_t maxModules);

  void Count(RequestOutcome outcome) { counters_.Add(static_cast<std::size_t>(outcome)); }
  void Count(Answer answer) { counters_.Add(kAnswerBase + static_cast<std::size_t>(answer)); }
  void Count(ChallengeEvent event) { counters_.Add(kChallengeBase + static_cast<std::size_t>(event)); }
  // A module fired; 0 means every module finished without a decision and the
  // client was allowed. Numbers beyond the module count are not counted.
  void ModuleFired(std::int32_t number) {
    if (number >= 0 && static_cast<std::size_t>(number) <= maxModules_) {
      counters_.Add(kModuleBase + static_cast<std::size_t>(number));
    }
  }

  // A rule search of the module stopped for lack of step budget (and was
  // taken as "not found"). Numbers outside 1 to the module count are not counted.
  void BudgetExhausted(std::int32_t number) {
    if (number > 0 && static_cast<std::size_t>(number) <= maxModules_) {
      counters_.Add(budgetBase() + static_cast<std::size_t>(number));
    }
  }

  std::uint64_t Read(RequestOutcome outcome) const { return counters_.Read(static_cast<std::size_t>(outcome)); }
  std::uint64_t Read(Answer answer) const { return counters_.Read(kAnswerBase + static_cast<std::size_t>(answer)); }
  std::uint64_t Read(ChallengeEvent event) const {
    return counters_.Read(kChallengeBase + static_cast<std::size_t>(event));
  }
  std::uint64_t FiredCount(std::int32_t number) const;
  std::uint64_t BudgetExhaustedCount(std::int32_t number) const;

  // The metrics page: every family with its HELP and TYPE lines.
  std::string Page(const FilterReadings& readings) const;

 private:
  static constexpr std::size_t kAnswerBase = kRequestOutcomes;
  static constexpr std::size_t kChallengeBase = kAnswerBase + kAnswers;
  static constexpr std::size_t kModuleBase = kChallengeBase + kChallengeEvents;

  std::size_t budgetBase() const { return kModuleBase + maxModules_ + 1; }

  std::size_t maxModules_;
  CounterSet counters_;
};

}  // namespace sentrel::metrics
