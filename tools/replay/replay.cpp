#include "tools/replay/replay.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "filter/core/filter.h"
#include "hosts/testhost/test_host.h"
#include "platform/files.h"
#include "tools/replay/replay_clock.h"
#include "tools/replay/scratch_copy.h"

namespace sentrel::replay {

namespace {

// The start-up is armed this long before the first request, so that its four
// stages, one per end-of-session notification 4 seconds apart, are done by
// the time the first request arrives.
constexpr std::int64_t kStartupLead = 20;
constexpr std::int64_t kNotificationGap = 4;
constexpr int kMaxNotifications = 8;

// Whether the address lists give the client its state.
bool IsListed(const AddressRanges& listed, const ClientAddress& who) {
  if (who.family == AddressFamily::V6) return listed.Find(who.v6, PrefixLast(who.v6, who.prefix)).has_value();
  return who.family == AddressFamily::V4 && listed.Find(who.v4).has_value();
}

// What the replay keeps per client address.
struct ClientRecord {
  std::uint64_t modulesFired = 0;  // bit n-1: module n fired for the client
  std::int64_t decision = -1;      // index of its current row in the decisions
};

struct Fired {
  std::int32_t moduleNumber;
  ClientState state;
  std::uint32_t holdUntil;
};

class Replayer {
 public:
  Replayer(const ReplayOptions& options, ReplayReport& report) : options_(options), report_(report) {}

  // Loads the copy and completes the start-up with the clock at `start`.
  bool Start(const ScratchCopy& scratch, std::int64_t start, std::int32_t utcOffset);
  void Feed(std::uint64_t lineNumber, const AccessLogEntry& entry);
  void Finish();

 private:
  void ReadProgramMessages();
  void FindVariablesNotInLog();
  std::size_t NewDecision(const AccessLogEntry& entry, std::uint64_t lineNumber, DecisionSource source,
                          std::int32_t moduleNumber, Answer action, std::uint32_t holdUntil);

  const ReplayOptions& options_;
  ReplayReport& report_;
  std::string settingsFolder_;
  // The clock outlives the filter, which keeps a reference to it.
  std::unique_ptr<ReplayClock> clock_;
  std::unique_ptr<Filter> filter_;
  std::unique_ptr<testhost::TestHost> host_;
  std::vector<Fired> fired_;  // decisions taken during the current request
  std::unordered_map<std::string, ClientRecord> clients_;
};

bool Replayer::Start(const ScratchCopy& scratch, std::int64_t start, std::int32_t utcOffset) {
  settingsFolder_ = scratch.Settings();
  clock_ = std::make_unique<ReplayClock>(start);
  clock_->SetUtcOffset(utcOffset);
  filter_ = std::make_unique<Filter>(*clock_, scratch.Bootstrap());
  filter_->SetDecisionObserver([this](const DecisionEvent& e) {
    fired_.push_back(Fired{e.moduleNumber, e.state, e.holdUntil});
  });
  Filter& f = *filter_;
  f.SetCrawlerMode(options_.resolveCrawlers ? crawlers::CheckMode::Wait : crawlers::CheckMode::Unresolved,
                   options_.resolveWaitMs);
  report_.crawlersResolved = options_.resolveCrawlers;
  host_ = std::make_unique<testhost::TestHost>(testhost::EntryPoints{
      [&f](HTTP_FILTER_VERSION* v) { return f.GetFilterVersion(v); },
      [&f](HTTP_FILTER_CONTEXT* c, DWORD t, void* d) { return f.HttpFilterProc(c, t, d); },
      [&f](DWORD flags) { return f.TerminateExtension(flags); }});

  if (host_->Load() != TRUE) {
    report_.status = ReplayStatus::NotLoaded;
    report_.problem = "the filter would not load this settings folder";
    ReadProgramMessages();
    return false;
  }
  report_.moduleFiles = f.Registry().modulePaths.size();
  report_.dateline = f.Settings().Dateline;
  for (int i = 0; i < kMaxNotifications && f.StartupPending(); ++i) {
    clock_->Advance(kNotificationGap);
    host_->EndOfSession();
  }
  if (f.StartupPending()) {
    report_.status = ReplayStatus::NotStarted;
    report_.problem = "the filter loaded but would not start: no module file could be read";
    ReadProgramMessages();
    return false;
  }

  for (const Module& m : f.Registry().modules) {
    const auto number = static_cast<std::int32_t>(report_.modules.size() + 1);
    report_.modules.push_back(ModuleSummary{number, m.name, m.execute, m.dateline});
  }
  FindVariablesNotInLog();
  return true;
}

void Replayer::FindVariablesNotInLog() {
  std::map<std::string, std::vector<std::string>> missing;
  const std::set<std::string> replayed(std::begin(kReplayedVariables), std::end(kReplayedVariables));
  for (const Module& m : filter_->Registry().modules) {
    for (const Step& s : m.steps) {
      for (const Rule& r : s.rules) {
        if (replayed.count(r.parameter) != 0 || r.parameter == crawlers::kCrawlerVariable) continue;
        std::vector<std::string>& names = missing[r.parameter];
        if (std::find(names.begin(), names.end(), m.name) == names.end()) names.push_back(m.name);
      }
    }
  }
  for (auto& [name, modules] : missing) report_.variablesNotInLog.push_back({name, std::move(modules)});
}

std::size_t Replayer::NewDecision(const AccessLogEntry& entry, std::uint64_t lineNumber,
                                  DecisionSource source, std::int32_t moduleNumber, Answer action,
                                  std::uint32_t holdUntil) {
  Decision d{entry.address, lineNumber,   entry.time, entry.utcOffset, entry.timeText, source,
             moduleNumber,  std::string(), action,     holdUntil};
  if (const Module* m = filter_->Registry().ModuleAt(moduleNumber)) d.moduleName = m->name;
  report_.decisions.push_back(std::move(d));
  return report_.decisions.size() - 1;
}

void Replayer::Feed(std::uint64_t lineNumber, const AccessLogEntry& entry) {
  ReplayClock& clock = *clock_;
  clock.SetUtcOffset(entry.utcOffset);
  clock.MoveTo(entry.time);

  // The client as the filter tracks it (an IPv6 client by its prefix), or
  // the address text of one it passes unevaluated.
  const ClientAddress who = ReadClientAddress(entry.address, filter_->Settings().IPv6Prefix);
  const bool tracked = who.family != AddressFamily::None;
  auto [it, isNew] = clients_.try_emplace(tracked ? who.journalText : entry.address);
  ClientRecord& client = it->second;
  if (isNew) {
    ++report_.clients;
    if (!tracked) ++report_.notIpv4Clients;
  }
  if (!tracked) ++report_.notIpv4Requests;

  ClientTally* tally = tracked ? filter_->Clients().Find(who) : nullptr;
  const ClientState stateBefore = tally != nullptr ? tally->state.load() : ClientState::Normal;

  std::map<std::string, std::string> variables{{"REMOTE_ADDR", entry.address},
                                               {"URL", entry.url},
                                               {"QUERY_STRING", entry.queryString},
                                               {"REQUEST_METHOD", entry.method}};
  if (!entry.protocol.empty()) variables["SERVER_PROTOCOL"] = entry.protocol;
  if (entry.userAgent) variables["HTTP_USER_AGENT"] = *entry.userAgent;
  if (entry.referer) variables["HTTP_REFERER"] = *entry.referer;
  testhost::TestRequest request(std::move(variables));

  fired_.clear();
  const std::uint64_t sleepsBefore = clock.Sleeps();
  const DWORD status = host_->Request(request);
  if (clock.Sleeps() != sleepsBefore) ++report_.requestsWaited;

  if (tally == nullptr && tracked) tally = filter_->Clients().Find(who);
  Answer answer = Answer::Passed;
  if (status == SF_STATUS_REQ_FINISHED) {
    const ClientState state = tally != nullptr ? tally->state.load() : ClientState::Blocked;
    answer = state == ClientState::PictureCode ? Answer::Challenged : Answer::Blocked;
  }

  std::int64_t decidedNow = -1;
  for (const Fired& f : fired_) {
    if (f.moduleNumber == 0) {
      ++report_.allowedAfterModules;
      continue;
    }
    if (f.moduleNumber < 1 || static_cast<std::size_t>(f.moduleNumber) > report_.modules.size()) continue;
    ModuleSummary& m = report_.modules[static_cast<std::size_t>(f.moduleNumber - 1)];
    ++m.firings;
    const std::uint64_t bit = std::uint64_t{1} << ((f.moduleNumber - 1) % 64);
    if ((client.modulesFired & bit) == 0) {
      client.modulesFired |= bit;
      ++m.clients;
    }
    if (f.state == ClientState::Blocked || f.state == ClientState::PictureCode) {
      decidedNow = static_cast<std::int64_t>(NewDecision(entry, lineNumber, DecisionSource::Module,
                                                         f.moduleNumber,
                                                         f.state == ClientState::Blocked ? Answer::Blocked : Answer::Challenged,
                                                         f.holdUntil));
      client.decision = decidedNow;
    }
  }

  switch (answer) {
    case Answer::Passed: ++report_.passed; break;
    case Answer::Blocked: ++report_.blocked; break;
    case Answer::Challenged: ++report_.challenged; break;
  }

  if (answer != Answer::Passed) {
    const std::uint32_t holdUntil = tally != nullptr ? tally->holdUntil.load() : 0;
    Decision* current =
        client.decision >= 0 ? &report_.decisions[static_cast<std::size_t>(client.decision)] : nullptr;
    if (decidedNow < 0 && (current == nullptr || current->action != answer || current->holdUntil != holdUntil)) {
      // Not a module's decision of this request, nor the one that answered
      // the client's last refused request: find where it came from.
      DecisionSource source = DecisionSource::Journal;
      std::int32_t moduleNumber = 0;
      if (stateBefore == ClientState::PictureCode && answer == Answer::Blocked && current != nullptr &&
          current->action == Answer::Challenged) {
        source = DecisionSource::Challenge;
        moduleNumber = current->moduleNumber;
      } else if (holdUntil == kHoldForever && IsListed(filter_->Listed(), who)) {
        source = DecisionSource::DenyList;
      }
      client.decision =
          static_cast<std::int64_t>(NewDecision(entry, lineNumber, source, moduleNumber, answer, holdUntil));
    }
    if (client.decision >= 0) ++report_.decisions[static_cast<std::size_t>(client.decision)].requests;
  }

  if (options_.onRequest) options_.onRequest(RequestOutcome{lineNumber, entry, answer});
}

void Replayer::Finish() {
  report_.waitedMs = clock_->SleptMs();
  report_.crawlersListed = filter_->Crawlers().Active();
  const crawlers::CheckCounts crawlerCounts = filter_->Crawlers().Counts();
  report_.crawlersVerified = crawlerCounts.verified;
  report_.crawlersFake = crawlerCounts.fake;
  report_.crawlersUnknown = crawlerCounts.unknown;
  filter_->TerminateExtension(0);
}

// The filter's program messages are in its "Log" log files; their names
// carry dates, so every one of them is read.
void Replayer::ReadProgramMessages() {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(settingsFolder_ + "/Log", entries)) return;
  for (const platform::DirEntry& e : entries) {
    if (!e.name.starts_with("Log_")) continue;
    platform::TextFile file;
    if (!file.Open(settingsFolder_ + "/Log/" + e.name, platform::TextFile::Mode::Read)) continue;
    std::string line;
    while (file.ReadLine(line)) {
      if (!line.empty()) report_.programMessages.push_back(line);
    }
  }
}

bool LooksCompressed(std::istream& log) {
  const int a = log.peek();
  if (a != 0x1f) return false;
  log.get();
  const int b = log.peek();
  log.unget();
  return b == 0x8b;
}

}  // namespace

int ReplayReport::ExitStatus() const {
  switch (status) {
    case ReplayStatus::Completed: return 0;
    case ReplayStatus::NotLoaded:
    case ReplayStatus::NotStarted: return 1;
    case ReplayStatus::Unusable: return 2;
  }
  return 2;
}

ReplayReport Replay(const ReplayOptions& options, std::istream& log, const std::string& logName) {
  ReplayReport report;
  report.folder = options.folder;
  report.logName = logName;
  report.journalRestored = options.restoreJournal;

  if (LooksCompressed(log)) {
    report.status = ReplayStatus::Unusable;
    report.problem = logName + " is compressed; decompress it first (zcat LOG | sentrel replay FOLDER -)";
    return report;
  }

  ScratchCopy scratch;
  if (!scratch.Make(options.folder, options.scratchParent, options.restoreJournal, report.problem)) {
    report.status = ReplayStatus::Unusable;
    return report;
  }
  report.scratchFolder = scratch.Settings();
  if (options.keepScratch) {
    scratch.Keep();
    report.scratchKept = true;
  }

  Replayer replayer(options, report);
  bool started = false;
  std::string line;
  std::string reason;
  AccessLogEntry entry;
  while (std::getline(log, line)) {
    const std::uint64_t number = ++report.lines;
    if (line.empty() || line == "\r") continue;
    if (!ParseAccessLogLine(line, entry, reason)) {
      if (report.unparsable.size() < kUnparsableKept) report.unparsable.push_back({number, reason});
      ++report.unparsableCount;
      continue;
    }
    if (!started) {
      if (!replayer.Start(scratch, entry.time - kStartupLead, entry.utcOffset)) return report;
      started = true;
      report.first = LogMoment{entry.time, entry.utcOffset, entry.timeText};
      report.hasRequests = true;
    }
    ++report.requests;
    replayer.Feed(number, entry);
    report.last.time = entry.time;
    report.last.utcOffset = entry.utcOffset;
    report.last.text = entry.timeText;
  }
  if (!started) {
    // Nothing to replay; the folder is still loaded, to say whether it would.
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    if (!replayer.Start(scratch, now - kStartupLead, 0)) return report;
  }
  replayer.Finish();
  return report;
}

}  // namespace sentrel::replay
