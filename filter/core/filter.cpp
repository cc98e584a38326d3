#include "filter/core/filter.h"

#include <cstdio>
#include <cstring>

#include "filter/core/evaluation.h"
#include "filter/core/block_response.h"
#include "filter/core/picture_challenge_flow.h"
#include "filter/crash/crash_guard.h"
#include "filter/crawlers/crawler_list.h"
#include "filter/logging/program_messages.h"
#include "filter/metrics/exposition.h"
#include "filter/settings/settings_folder.h"
#include "filter/tracking/address_lists.h"
#include "platform/net.h"

namespace sentrel {

Filter::Filter(platform::Clock& clock, std::string bootstrapPath)
    : clock_(clock),
      bootstrapPath_(std::move(bootstrapPath)),
      log_(clock),
      clients_(clock, startupPending_, registry_.progressTemplate, listed_),
      journal_(clock),
      startup_(clock, log_, startupPending_) {}

BOOL Filter::GetFilterVersion(HTTP_FILTER_VERSION* version) {
  loadTime_ = clock_.Now();
  if (!ReadFolderPath(bootstrapPath_, settings_.FolderPath)) return FALSE;
  crashDumps_.Configure(settings_.FolderPath, clock_);

  ReadSettingsFolder(settings_, registry_);
  log_.Configure(settings_.FolderPath, settings_.LogMin);
  journal_.Configure(settings_.FolderPath, settings_.CacheMin);
  clients_.SetMaxClients(settings_.MaxClients);
  clients_.SetIpv6Prefix(settings_.IPv6Prefix);
  ConfigureMetrics();
  ConfigureSharing();

  if (version != nullptr) {
    version->dwFilterVersion = kFilterRevision;
    std::strncpy(version->lpszFilterDesc, kFilterDescription, SF_MAX_FILTER_DESC_LEN - 1);
    version->lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
    version->dwFlags = kFilterFlags;
  }

  if (registry_.modulePaths.empty()) {
    log_.WriteProgramMessage(messages::kNoModule);
    return FALSE;
  }
  if (registry_.modulePaths.size() > kMaxModuleFiles) {
    log_.WriteProgramMessage(messages::kTooManyModules);
    return FALSE;
  }
  log_.WriteProgramMessage(messages::kLoaded);
  startupPending_.store(1, std::memory_order_release);
  startup_.Arm();
  return TRUE;
}

// The whole body runs inside the crash guard: a fault or an exception during
// the notification leaves a crash dump, the locks the interrupted work held are
// released, and the request is passed on.
DWORD Filter::HttpFilterProc(HTTP_FILTER_CONTEXT* context, DWORD notificationType, void*) {
  DWORD status = SF_STATUS_REQ_NEXT_NOTIFICATION;
  auto body = [&] {
    crashDumps_.KeepLocalTimeCurrent();
    status = Dispatch(context, notificationType);
  };
  if (!RunGuarded(crashDumps_, body)) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  return status;
}

DWORD Filter::Dispatch(HTTP_FILTER_CONTEXT* context, DWORD notificationType) {
  switch (notificationType) {
    case SF_NOTIFY_END_OF_NET_SESSION:
      RunStartupStage();
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    case SF_NOTIFY_URL_MAP: {
      const bool pending = startupPending_.load(std::memory_order_acquire) != 0;
      if (pending && counting_ == nullptr) return SF_STATUS_REQ_NEXT_NOTIFICATION;
      return HandleUrlMap(context, pending);
    }
    default:
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

BOOL Filter::TerminateExtension(DWORD) {
  if (share_) share_->Stop();
  journal_.Flush();
  log_.FlushAll();
  log_.WriteProgramMessage(messages::kUnloaded);
  return TRUE;
}

DWORD Filter::HandleUrlMap(HTTP_FILTER_CONTEXT* context, bool startupPending) {
  using metrics::Answer;
  using metrics::RequestOutcome;
  const RequestOutcome unusable =
      startupPending ? RequestOutcome::DuringStartup : RequestOutcome::UnusableAddress;
  // Room for the longest IPv6 text; a longer one (a zone id, say) does not
  // fit and passes, and ReadClientAddress holds IPv4 texts to 31 bytes.
  char address[64] = {};
  DWORD size = sizeof(address);
  if (!context->GetServerVariable(context, const_cast<char*>("REMOTE_ADDR"), address, &size)) {
    size = sizeof(address);
    if (!context->GetServerVariable(context, const_cast<char*>("REMOTE_ADDR"), address, &size)) {
      Count(unusable);
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    }
  }
  address[sizeof(address) - 1] = '\0';
  const ClientAddress who = ReadClientAddress(address, settings_.IPv6Prefix);

  // The metrics page, for an allowed address, before anything else: it is
  // not a client's request.
  if (counting_ != nullptr && MetricsReaderAllowed(address) && AsksForMetrics(context)) {
    const std::string page = MetricsPage();
    const std::string headers = std::string("Content-Type: ") + metrics::kExpositionContentType +
                                "\r\nContent-Length: " + std::to_string(page.size()) + "\r\n\r\n";
    context->ServerSupportFunction(context, SF_REQ_SEND_RESPONSE_HEADER, const_cast<char*>("200 OK"),
                                   reinterpret_cast<ULONG_PTR>(headers.c_str()), 0);
    SendBytes(context, page.data(), page.size());
    return SF_STATUS_REQ_FINISHED;
  }
  if (startupPending) {
    Count(RequestOutcome::DuringStartup);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  if (who.family == AddressFamily::None) {
    Count(RequestOutcome::UnusableAddress);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }

  ClientTable::Client tracked = clients_.LookupClient(who);
  if (!tracked) {
    // The table is full of clients it may not give up: pass unchecked.
    if (clients_.TakeFullReport(clock_.Now())) {
      char text[128];
      std::snprintf(text, sizeof(text), messages::kClientLimitFormat, clients_.MaxClients());
      log_.WriteProgramMessage(text);
    }
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
  ClientTally& client = *tracked;
  // The client's name in the journal; REMOTE_ADDR stays as the server gave it.
  const std::string& addressText = who.journalText;
  const std::string_view remoteAddr = addressText == address ? std::string_view() : std::string_view(address);
  const std::int64_t now = clock_.Now();
  if (static_cast<std::int64_t>(client.holdUntil.load(std::memory_order_relaxed)) <= now) {
    Count(RequestOutcome::Evaluated);
    EvaluateRequest(EvaluationEnv{registry_, settings_, log_, journal_, clock_, patterns_, prepared_,
                                  decisionObserver_ ? &decisionObserver_ : nullptr, counting_, &crawlers_},
                    context, addressText, client, remoteAddr);
  } else {
    Count(RequestOutcome::Held);
  }

  switch (client.state.load(std::memory_order_relaxed)) {
    case ClientState::Blocked:
      Count(Answer::Blocked);
      SendBlockResponse(context, settings_);
      return SF_STATUS_REQ_FINISHED;
    case ClientState::Allowed:
      Count(Answer::Allowed);
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
    case ClientState::PictureCode: {
      if (!settings_.PictureCodeEnabled()) return SF_STATUS_REQ_NEXT_NOTIFICATION;
      const PictureCodeResult result =
          HandlePictureCode(PictureCodeEnv{settings_, PictureCodes(), journal_, clock_, counting_},
                            context, addressText, client);
      switch (result) {
        case PictureCodeResult::Blocked:
          Count(Answer::Blocked);
          SendBlockResponse(context, settings_);
          return SF_STATUS_REQ_FINISHED;
        case PictureCodeResult::Answered:
          Count(Answer::Challenged);
          return SF_STATUS_REQ_FINISHED;
        case PictureCodeResult::Allowed:
          Count(Answer::Allowed);
          return SF_STATUS_REQ_NEXT_NOTIFICATION;
        default:
          return SF_STATUS_REQ_NEXT_NOTIFICATION;
      }
    }
    default:
      return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

void Filter::ConfigureMetrics() {
  counting_ = nullptr;
  if (settings_.MetricsPath.empty()) return;
  std::string refused;
  if (!ParseAddressListText(settings_.MetricsAllow, ClientState::Allowed, metricsAllowed_, refused)) {
    std::string message = messages::kMetricsAllowRefusedFormat;
    message.replace(message.find("%s"), 2, refused);
    log_.WriteProgramMessage(std::move(message));
    settings_.MetricsAllow = kDefaultMetricsAllow;
    ParseAddressListText(settings_.MetricsAllow, ClientState::Allowed, metricsAllowed_, refused);
  }
  counting_ = &metrics_;
}

bool Filter::MetricsReaderAllowed(const char* address) const {
  Ipv6Address v6;
  if (!ParseIpv6(address, v6)) {
    // An IPv4 text of 32 bytes or more never fitted the address buffer.
    return std::strlen(address) < 32 && metricsAllowed_.Find(platform::Ntohl(platform::InetAddr(address))).has_value();
  }
  if (IsIpv4Mapped(v6)) return metricsAllowed_.Find(MappedIpv4(v6)).has_value();
  return metricsAllowed_.Find(v6, v6).has_value();
}

bool Filter::AsksForMetrics(HTTP_FILTER_CONTEXT* context) const {
  // Room for the path and its terminating zero: a longer URL does not fit
  // and so is not the path.
  std::string url(settings_.MetricsPath.size() + 1, '\0');
  DWORD size = static_cast<DWORD>(url.size());
  if (!context->GetServerVariable(context, const_cast<char*>("URL"), url.data(), &size)) return false;
  return std::strcmp(url.c_str(), settings_.MetricsPath.c_str()) == 0;
}

std::string Filter::MetricsPage() {
  metrics::FilterReadings r;
  r.version = kCrashDumpVersion;
  r.startTime = loadTime_;
  r.startupStage = static_cast<std::uint32_t>(startup_.Stage());
  r.clients = clients_.ClientCount();
  r.clientEvictions = clients_.EvictionCount();
  const ActivityLog::Counts log = log_.ReadCounts();
  r.logLinesWritten = log.linesWritten;
  r.logLinesLost = log.linesLost;
  const CacheJournal::Counts journal = journal_.ReadCounts();
  r.journalLinesWritten = journal.linesWritten;
  r.journalWriteFailures = journal.writeFailures;
  r.journalLinesPending = journal.linesPending;
  r.crashDumps = crashDumps_.DumpsWritten();
  const crawlers::CheckCounts crawlerCounts = crawlers_.Counts();
  r.crawlersVerified = crawlerCounts.verified;
  r.crawlersFake = crawlerCounts.fake;
  r.crawlersUnknown = crawlerCounts.unknown;
  if (share_) {
    const share::ShareCounts shared = share_->Counts();
    r.share = metrics::ShareReadings{shared.published, shared.applied, shared.dropped,
                                     shared.rejected,  shared.skipped, shared.connected};
  }
  // The modules are complete once the start-up has; before that they are
  // being read and are left alone.
  std::size_t modules = 0;
  if (startupPending_.load(std::memory_order_acquire) == 0) {
    modules = registry_.modules.size();
    static constexpr const char* kActions[] = {"block", "log", "allow", "picture_code"};
    for (std::size_t i = 0; i < modules; ++i) {
      const Module& m = registry_.modules[i];
      r.modules.push_back(metrics::ModuleLabel{static_cast<std::int32_t>(i + 1), m.name,
                                               kActions[static_cast<std::size_t>(m.execute) & 3]});
    }
  }
  // Estimated: the table's nodes of 256 slots, the IPv6 index, the records
  // with their progress items and, when IPv6 clients are tracked, their wide
  // keys (picture-code images are not counted).
  const std::size_t wideKey = clients_.Ipv6Prefix() != 0 ? sizeof(Ipv6Address) : 0;
  r.clientTableBytes = clients_.NodeCount() * 256 * sizeof(void*) + clients_.Ipv6IndexBytes() +
                       r.clients * (sizeof(ClientTally) + modules * sizeof(ModuleProgress) + wideKey);
  return metrics_.Page(r);
}

void Filter::ConfigureSharing() {
  if (!settings_.share.Enabled()) return;
  if (!share::DecisionShare::Available()) {
    log_.WriteProgramMessage(messages::kShareUnavailable);
    return;
  }
  share_ = std::make_unique<share::DecisionShare>(
      settings_.share, clock_, log_,
      [this](const share::Decision& decision, bool startup) { return ApplySharedDecision(decision, startup); });
  journal_.SetDecisionTap([this](const std::string& address, ClientState state, std::uint32_t holdUntil) {
    share_->Publish(address, static_cast<std::uint8_t>(state), holdUntil);
  });
}

share::ApplyResult Filter::ApplySharedDecision(const share::Decision& decision, bool startup) {
  using share::ApplyResult;
  const auto state = static_cast<ClientState>(decision.state);
  const ClientAddress who = ReadJournalAddress(decision.address, clients_.Ipv6Prefix());
  if (who.family == AddressFamily::None) {
    // An IPv6 client where IPv6 clients are not tracked is no fault of the entry.
    const bool untrackedIpv6 =
        clients_.Ipv6Prefix() == 0 && decision.address.find(':') != std::string::npos;
    return untrackedIpv6 ? ApplyResult::Skipped : ApplyResult::Rejected;
  }
  if (startup) {
    return RestoreDecision(clients_, decision.address, state, decision.holdUntil) ? ApplyResult::Applied
                                                                                  : ApplyResult::Skipped;
  }
  const bool listed = who.family == AddressFamily::V4
                          ? listed_.Find(who.v4).has_value()
                          : listed_.Find(who.v6, PrefixLast(who.v6, who.prefix)).has_value();
  if (listed) return ApplyResult::Skipped;
  ClientTable::Client client = clients_.LookupClient(who);
  if (!client) return ApplyResult::Skipped;
  platform::ScopedLock hold(client->lock);
  // A record the start-up made (a restored decision) has no progress to
  // restart: it is set as the journal loader sets it.
  if (!client->Progress().empty()) {
    // Another instance's challenge is answered with a code of this one; a
    // code already shown here stands while the client stays challenged.
    const bool stillChallenged = state == ClientState::PictureCode &&
                                 client->state.load(std::memory_order_relaxed) == ClientState::PictureCode;
    if (!stillChallenged && client->challengeCounts != 0) {
      client->challenge.reset();
      client->challengeCounts = 0;
    }
    client->resetMark = ResetMark::Decided;
  }
  client->state.store(state, std::memory_order_relaxed);
  client->holdUntil.store(decision.holdUntil, std::memory_order_relaxed);
  return ApplyResult::Applied;
}

picturecode::PictureCodeMaker& Filter::PictureCodes() {
  if (picturecode::PictureCodeMaker* ready = pictureCodesReady_.load(std::memory_order_acquire)) {
    return *ready;
  }
  platform::ScopedLock hold(pictureCodesLock_);
  if (!pictureCodes_) {
    pictureCodes_ = std::make_unique<picturecode::PictureCodeMaker>(
        clock_, picturecode::PictureCodeSettings{settings_.Length, settings_.Width, settings_.height});
  }
  pictureCodesReady_.store(pictureCodes_.get(), std::memory_order_release);
  return *pictureCodes_;
}

void Filter::RunStartupStage() {
  startup_.RunStartupStage(Startup::Stages{
      [this] {
        LoadAddressList(settings_.FolderPath, kAllowListFile, ClientState::Allowed, listed_);
        LoadAddressList(settings_.FolderPath, kDenyListFile, ClientState::Blocked, listed_);
        StartCrawlerCheck();
      },
      [this] {
        journal_.LoadCacheFiles(clients_);
        // The decisions other instances (or this one before its reload)
        // took that still stand, after the day files.
        if (share_) share_->LoadLiveDecisions();
      },
      [this] {
        if (!LoadModules(registry_, settings_, &log_)) return false;
        prepared_.Build(registry_, patterns_);
        return true;
      }});
  if (share_ && startupPending_.load(std::memory_order_acquire) == 0) share_->Follow();
}

void Filter::StartCrawlerCheck() {
  crawlers::CrawlerList list;
  crawlers::LoadCrawlerList(settings_.FolderPath, list);
  crawlers::ResolverOptions options;
  options.server = settings_.CrawlerResolver;
  std::string problem;
  if (list.Empty() || !crawlers::ResolverAvailable()) {
    const bool claims = !list.Empty();
    crawlers_.Start(std::move(list), options, problem);
    if (claims) log_.WriteProgramMessage(messages::kCrawlerCheckUnavailable);
    return;
  }
  if (!options.server.empty() && !crawlers::ValidResolverAddress(options.server)) {
    std::string message = messages::kCrawlerResolverRefusedFormat;
    message.replace(message.find("%s"), 2, options.server);
    log_.WriteProgramMessage(std::move(message));
    options.server.clear();
  }
  if (!crawlers_.Start(std::move(list), options, problem)) {
    std::string message = messages::kCrawlerCheckFailedFormat;
    message.replace(message.find("%s"), 2, problem);
    log_.WriteProgramMessage(std::move(message));
  }
}

}  // namespace sentrel
