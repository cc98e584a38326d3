// One filter instance: all process-wide state of the filter (settings, module
// registry, client table, journal, activity log, start-up state, locks). The
// exported entry points operate on the process's single instance; tests build
// instances of their own with a fake clock and a temporary settings folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <memory>
#include <utility>

#include "filter/core/evaluation.h"
#include "filter/core/isapi.h"
#include "filter/logging/activity_log.h"
#include "filter/crash/crash_dump.h"
#include "filter/crawlers/crawler_check.h"
#include "filter/metrics/filter_metrics.h"
#include "filter/pattern/pattern_cache.h"
#include "filter/picturecode/picture_code_maker.h"
#include "filter/settings/filter_settings.h"
#include "filter/settings/module_registry.h"
#include "filter/share/decision_share.h"
#include "filter/tracking/address_ranges.h"
#include "filter/tracking/cache_journal.h"
#include "filter/tracking/client_table.h"
#include "filter/core/startup.h"
#include "platform/clock.h"
#include "platform/lock.h"

namespace sentrel {

// The description handed to the server in the version record.
inline constexpr char kFilterDescription[] = "Tarnwick ISAPI filter, Version 4.3";
inline constexpr DWORD kFilterRevision = 0x00070000;
inline constexpr DWORD kFilterFlags = SF_NOTIFY_ORDER_MEDIUM | SF_NOTIFY_PREPROC_HEADERS |
                                      SF_NOTIFY_URL_MAP | SF_NOTIFY_END_OF_NET_SESSION;

class Filter {
 public:
  // `bootstrapPath` names the bootstrap settings file; the server's filter
  // reads ".\sh_Sentrel.ini" in its current directory.
  explicit Filter(platform::Clock& clock, std::string bootstrapPath = kBootstrapFile);
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  BOOL GetFilterVersion(HTTP_FILTER_VERSION* version);
  DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* context, DWORD notificationType, void* notification);
  BOOL TerminateExtension(DWORD flags);

  // Tells `observer` of every module that fires and of every client allowed
  // after all modules finished (see DecisionEvent). Set it before requests
  // arrive. Without one (the default) evaluation only tests a null pointer
  // when a decision is taken.
  void SetDecisionObserver(DecisionObserver observer) { decisionObserver_ = std::move(observer); }

  const FilterSettings& Settings() const { return settings_; }
  const ModuleRegistry& Registry() const { return registry_; }
  bool StartupPending() const { return startupPending_.load(std::memory_order_acquire) != 0; }
  ActivityLog& Log() { return log_; }
  platform::Clock& Clock() { return clock_; }
  ClientTable& Clients() { return clients_; }
  CacheJournal& Journal() { return journal_; }
  const AddressRanges& Listed() const { return listed_; }
  StartupStage DueStartupStage() const { return startup_.Stage(); }
  const CrashDumpTarget& CrashDumps() const { return crashDumps_; }

  // How SENTREL_CRAWLER is answered (set before the start-up's list stage):
  // the filter resolves in the background; `sentrel replay` answers unknown
  // or waits for each verdict.
  void SetCrawlerMode(crawlers::CheckMode mode, std::uint32_t waitMs = 10000) { crawlers_.SetMode(mode, waitMs); }
  crawlers::CrawlerCheck& Crawlers() { return crawlers_; }

  // The counters, or nullptr when MetricsPath is empty (nothing is counted).
  const metrics::FilterMetrics* Metrics() const { return counting_; }
  // Who may read the metrics page (valid once loaded with a MetricsPath).
  const AddressRanges& MetricsAllowed() const { return metricsAllowed_; }
  // The metrics page as it would be served now.
  std::string MetricsPage();

  // Decision sharing, or nullptr when section Share names no server (or the
  // build cannot share).
  const share::DecisionShare* Sharing() const { return share_.get(); }
  // Applies a decision of another filter instance. During the start-up
  // (`startup`) as the journal loader applies a line; afterwards, under the
  // client's lock, as this filter's own decision would have set it, so the
  // client gets the same answer here until the hold ends. A listed address
  // keeps its listing then.
  share::ApplyResult ApplySharedDecision(const share::Decision& decision, bool startup);

 private:
  // The body of HttpFilterProc, run inside the crash guard.
  DWORD Dispatch(HTTP_FILTER_CONTEXT* context, DWORD notificationType);
  // `startupPending`: the start-up has not completed; only the metrics page
  // is answered then.
  DWORD HandleUrlMap(HTTP_FILTER_CONTEXT* context, bool startupPending);
  void ConfigureMetrics();
  // Whether MetricsAllow lists the address (IPv4 or IPv6 text).
  bool MetricsReaderAllowed(const char* address) const;
  void ConfigureSharing();
  // Whether the request asks for exactly MetricsPath.
  bool AsksForMetrics(HTTP_FILTER_CONTEXT* context) const;
  void Count(metrics::RequestOutcome outcome) {
    if (counting_ != nullptr) counting_->Count(outcome);
  }
  void Count(metrics::Answer answer) {
    if (counting_ != nullptr) counting_->Count(answer);
  }
  void RunStartupStage();
  // The crawler list and the resolver, in the address-list stage.
  void StartCrawlerCheck();
  picturecode::PictureCodeMaker& PictureCodes();

  platform::Clock& clock_;
  std::string bootstrapPath_;
  FilterSettings settings_;
  ModuleRegistry registry_;
  ActivityLog log_;
  CrashDumpTarget crashDumps_;
  std::atomic<std::uint8_t> startupPending_{0};
  AddressRanges listed_;
  ClientTable clients_;
  CacheJournal journal_;
  Startup startup_;
  pattern::PatternCache patterns_;
  PreparedRules prepared_;  // the loaded modules' rules, made ready for requests
  // Made when the first client is challenged (finding the face takes time).
  // Made under a critical section rather than a once-flag: a fault while it
  // is made must leave nothing that later requests wait on forever.
  platform::CriticalSection pictureCodesLock_;
  std::unique_ptr<picturecode::PictureCodeMaker> pictureCodes_;
  std::atomic<picturecode::PictureCodeMaker*> pictureCodesReady_{nullptr};
  DecisionObserver decisionObserver_;
  std::int64_t loadTime_ = 0;
  // Always there; counted into only when the metrics page is on.
  metrics::FilterMetrics metrics_{kMaxModuleFiles};
  metrics::FilterMetrics* counting_ = nullptr;
  AddressRanges metricsAllowed_;
  crawlers::CrawlerCheck crawlers_{clock_};
  // Last, so that its threads stop before anything they apply to goes.
  std::unique_ptr<share::DecisionShare> share_;
};

}  // namespace sentrel
