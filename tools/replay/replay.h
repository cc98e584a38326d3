// A dry run of an access log through the filter: the settings folder is
// copied into a scratch folder (the filter writes its logs and journal there,
// never into the live folder), a private filter instance loads the copy and
// completes its start-up, and every request of the log goes through
// HttpFilterProc on a clock that shows the log's own times. The result is a
// report of what the filter would have answered and why.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

#include "filter/settings/module.h"
#include "tools/replay/access_log.h"

namespace sentrel::replay {

// How the filter answered a request.
enum class Answer : std::uint8_t {
  Passed,      // passed on to the server
  Blocked,     // the block answer
  Challenged,  // the picture-code page or image
};

// One replayed request, for an observer of the run.
struct RequestOutcome {
  std::uint64_t line;  // line number in the log, from 1
  const AccessLogEntry& entry;
  Answer answer;
};

struct ReplayOptions {
  std::string folder;           // the live settings folder
  bool keepScratch = false;     // leave the scratch copy for inspection
  bool restoreJournal = false;  // copy the live decision journal too
  // SENTREL_CRAWLER: false, every claim is "unknown NAME"; true, each claim
  // is looked up in DNS and the replay waits for it, up to resolveWaitMs.
  bool resolveCrawlers = false;
  std::uint32_t resolveWaitMs = 10000;
  // Where the scratch folder is made; empty: the system's temporary folder.
  std::string scratchParent;
  // Told of every replayed request; optional.
  std::function<void(const RequestOutcome&)> onRequest;
};

enum class ReplayStatus : std::uint8_t {
  Completed,
  Unusable,    // the folder or the log cannot be used (see `problem`)
  NotLoaded,   // the filter refused to load the settings folder
  NotStarted,  // the filter loaded but its start-up never completed
};

struct UnparsableLine {
  std::uint64_t line;
  std::string reason;
};

struct ModuleSummary {
  std::int32_t number;
  std::string name;  // as in the module file (code-page text)
  ModuleAction execute;
  std::int32_t dateline;
  std::uint64_t firings = 0;
  std::uint64_t clients = 0;  // distinct clients it fired for
};

// What put a client in the state that answered its request.
enum class DecisionSource : std::uint8_t {
  Module,     // a module fired
  Challenge,  // a picture-code challenge (set by a module) went unanswered
  DenyList,   // the address is listed in "LimitIP.txt"
  Journal,    // a decision restored from the journal at start-up
};

// A client put on hold as blocked or challenged, and how many of its
// requests that decision answered.
struct Decision {
  std::string address;
  std::uint64_t line;         // the log line of the first request it answered
  std::int64_t time;          // that request's time, UTC
  std::int32_t utcOffset;     // the log's offset at that line
  std::string timeText;       // that request's time as logged
  DecisionSource source;
  std::int32_t moduleNumber;  // Module and Challenge: the module; else 0
  std::string moduleName;     // code-page text; empty without a module
  Answer action;              // Blocked or Challenged
  std::uint32_t holdUntil;    // 4294967295: a hold that never ends
  std::uint64_t requests = 0;
};

// A server variable that rules test but an access log does not record.
struct MissingVariable {
  std::string name;
  std::vector<std::string> modules;  // names of the modules whose rules test it
};

// A time of the log: UTC, the log's offset, and as written.
struct LogMoment {
  std::int64_t time = 0;
  std::int32_t utcOffset = 0;
  std::string text;
};

// How many unparsable lines the report keeps with their reasons.
inline constexpr std::size_t kUnparsableKept = 10;

struct ReplayReport {
  ReplayStatus status = ReplayStatus::Completed;
  std::string problem;  // why the run is Unusable, NotLoaded or NotStarted
  std::string folder;
  std::string logName;
  std::string scratchFolder;  // the copy's settings folder
  bool scratchKept = false;
  bool journalRestored = false;
  // The filter's own program messages (its "Log" log), code-page text.
  std::vector<std::string> programMessages;

  // The log.
  std::uint64_t lines = 0;  // blank lines included
  std::uint64_t requests = 0;
  std::uint64_t unparsableCount = 0;
  std::vector<UnparsableLine> unparsable;  // the first kUnparsableKept
  bool hasRequests = false;
  LogMoment first;  // the times of the first and the last request
  LogMoment last;

  // Clients and answers.
  std::uint64_t clients = 0;
  // Passed unevaluated: host names, malformed texts, IPv6 addresses while
  // IPv6Prefix is 0. (The names are those of the JSON report.)
  std::uint64_t notIpv4Clients = 0;
  std::uint64_t notIpv4Requests = 0;
  std::uint64_t passed = 0;
  std::uint64_t blocked = 0;
  std::uint64_t challenged = 0;

  // Modules, in load order, and the filter-wide decision.
  std::size_t moduleFiles = 0;
  std::vector<ModuleSummary> modules;
  std::uint32_t dateline = 0;             // the filter-wide hold
  std::uint64_t allowedAfterModules = 0;  // clients let through after every module finished
  std::vector<Decision> decisions;        // in the order they were taken

  // Rules on variables the log does not hold, and the waits they caused.
  std::vector<MissingVariable> variablesNotInLog;
  std::uint64_t requestsWaited = 0;
  std::uint64_t waitedMs = 0;

  // The crawler check: whether Crawlers.txt lists crawlers, whether claims
  // were looked up (--resolve), and the verdicts the look-ups gave.
  bool crawlersListed = false;
  bool crawlersResolved = false;
  std::uint64_t crawlersVerified = 0;
  std::uint64_t crawlersFake = 0;
  std::uint64_t crawlersUnknown = 0;

  int ExitStatus() const;
};

// Replays the access log read from `log`; `logName` names it in the report.
ReplayReport Replay(const ReplayOptions& options, std::istream& log, const std::string& logName);

// The variables the replay fills from each log line.
inline constexpr const char* kReplayedVariables[] = {"REMOTE_ADDR",     "URL",          "QUERY_STRING",
                                                     "REQUEST_METHOD",  "HTTP_USER_AGENT", "HTTP_REFERER",
                                                     "SERVER_PROTOCOL"};

}  // namespace sentrel::replay
