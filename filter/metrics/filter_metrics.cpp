#include "filter/metrics/filter_metrics.h"

#include "filter/metrics/exposition.h"
#include "platform/codepage.h"

namespace sentrel::metrics {

FilterMetrics::FilterMetrics(std::size_t maxModules)
    : maxModules_(maxModules), counters_(kModuleBase + 2 * (maxModules + 1)) {}

std::uint64_t FilterMetrics::FiredCount(std::int32_t number) const {
  if (number < 0 || static_cast<std::size_t>(number) > maxModules_) return 0;
  return counters_.Read(kModuleBase + static_cast<std::size_t>(number));
}

std::uint64_t FilterMetrics::BudgetExhaustedCount(std::int32_t number) const {
  if (number <= 0 || static_cast<std::size_t>(number) > maxModules_) return 0;
  return counters_.Read(budgetBase() + static_cast<std::size_t>(number));
}

std::string FilterMetrics::Page(const FilterReadings& r) const {
  TextExposition page;
  using enum MetricType;

  page.Family("sentrel_build_info", "The filter's version; always 1.", Gauge);
  page.Sample("sentrel_build_info", {{"version", r.version}}, 1);
  page.Single("sentrel_start_time_seconds",
              "When the filter library was loaded, in seconds since 1970.", Gauge,
              static_cast<std::uint64_t>(r.startTime));
  page.Single("sentrel_startup_stage",
              "The start-up stage due next: 0 address lists, 1 decision cache, 2 modules, 3 start, "
              "4 started, 5 a stage running or the start-up halted.",
              Gauge, r.startupStage);

  static constexpr const char* kOutcomes[kRequestOutcomes] = {"evaluated", "startup",
                                                              "unusable_address", "held"};
  page.Family("sentrel_requests_total",
              "Requests handed to the filter, by what happened to them: evaluated against the "
              "modules, passed unevaluated during the start-up, passed unevaluated for want of a "
              "usable IPv4 address, or answered from the client's held state.",
              Counter);
  for (std::size_t i = 0; i < kRequestOutcomes; ++i) {
    page.Sample("sentrel_requests_total", {{"outcome", kOutcomes[i]}},
                Read(static_cast<RequestOutcome>(i)));
  }

  static constexpr const char* kActions[kAnswers] = {"blocked", "challenged", "allowed"};
  page.Family("sentrel_answers_total",
              "Requests answered by the client's state: the block answer sent, the picture-code "
              "page or image sent, or passed on because the client is allowed.",
              Counter);
  for (std::size_t i = 0; i < kAnswers; ++i) {
    page.Sample("sentrel_answers_total", {{"action", kActions[i]}}, Read(static_cast<Answer>(i)));
  }

  page.Single("sentrel_picture_codes_issued_total", "Picture codes drawn for challenged clients.",
              Counter, Read(ChallengeEvent::CodeIssued));
  page.Family("sentrel_picture_code_answers_total",
              "Answers to picture codes, right (the client is allowed) or wrong.", Counter);
  page.Sample("sentrel_picture_code_answers_total", {{"result", "right"}},
              Read(ChallengeEvent::RightAnswer));
  page.Sample("sentrel_picture_code_answers_total", {{"result", "wrong"}},
              Read(ChallengeEvent::WrongAnswer));
  page.Family("sentrel_picture_code_blocks_total",
              "Challenged clients blocked: after too many wrong answers to one code, or when "
              "their last code ran out unanswered.",
              Counter);
  page.Sample("sentrel_picture_code_blocks_total", {{"reason", "wrong_answers"}},
              Read(ChallengeEvent::BlockedWrongAnswers));
  page.Sample("sentrel_picture_code_blocks_total", {{"reason", "codes_expired"}},
              Read(ChallengeEvent::BlockedCodesExpired));

  page.Family("sentrel_module_fired_total",
              "Times each loaded module fired, with its number, name and action.", Counter);
  for (const ModuleLabel& m : r.modules) {
    const std::string number = std::to_string(m.number);
    const std::string name = platform::CodePageToUtf8(m.name);
    page.Sample("sentrel_module_fired_total",
                {{"module", number}, {"name", name}, {"action", m.action}}, FiredCount(m.number));
  }
  page.Family("sentrel_rule_search_budget_exhausted_total",
              "Rule searches of each module that ran out of their step budget and were taken as "
              "not found (only patterns with back-references have a budget).",
              Counter);
  for (const ModuleLabel& m : r.modules) {
    page.Sample("sentrel_rule_search_budget_exhausted_total",
                {{"module", std::to_string(m.number)}, {"name", platform::CodePageToUtf8(m.name)}},
                BudgetExhaustedCount(m.number));
  }
  page.Single("sentrel_all_modules_finished_total",
              "Clients allowed for the filter-wide Dateline because every module finished without "
              "firing.",
              Counter, FiredCount(0));

  page.Family("sentrel_crawler_verdicts_total",
              "Verdicts of the crawler check (forward-confirmed reverse DNS of clients whose user "
              "agent names a listed crawler).",
              Counter);
  page.Sample("sentrel_crawler_verdicts_total", {{"verdict", "verified"}}, r.crawlersVerified);
  page.Sample("sentrel_crawler_verdicts_total", {{"verdict", "fake"}}, r.crawlersFake);
  page.Sample("sentrel_crawler_verdicts_total", {{"verdict", "unknown"}}, r.crawlersUnknown);

  page.Single("sentrel_log_lines_written_total",
              "Activity log lines written to their files (a collected block counts each line).",
              Counter, r.logLinesWritten);
  page.Single("sentrel_log_lines_lost_total",
              "Activity log lines lost because their file could not be written.", Counter,
              r.logLinesLost);
  page.Single("sentrel_journal_lines_written_total",
              "Decision journal lines written to the day files of the Cache folder.", Counter,
              r.journalLinesWritten);
  page.Single("sentrel_journal_write_failures_total",
              "Failed writes of the decision journal (the lines stay pending for the next write).",
              Counter, r.journalWriteFailures);
  page.Single("sentrel_journal_lines_pending", "Decision journal lines waiting to be written.",
              Gauge, r.journalLinesPending);

  page.Single("sentrel_clients", "Client records held in the client table.", Gauge, r.clients);
  page.Single("sentrel_client_table_bytes",
              "Memory of the client table, estimated from its nodes and records (picture-code "
              "images not included).",
              Gauge, r.clientTableBytes);
  page.Single("sentrel_client_evictions_total",
              "Client records taken over for new clients because the table held MaxClients.",
              Counter, r.clientEvictions);

  page.Single("sentrel_crash_dumps_total",
              "Crash dumps written after faults during a notification.", Counter, r.crashDumps);
  if (r.share) {
    const ShareReadings& s = *r.share;
    page.Family("sentrel_share_entries_total",
                "Decisions shared through the Redis server: published by this instance, applied "
                "from other instances, dropped (publish queue full, refused by the server, or left "
                "at unload), rejected (entries read that failed a check), skipped (well-formed, but "
                "for a listed address or with the client table full).",
                Counter);
    const std::pair<const char*, std::uint64_t> kinds[] = {{"published", s.published}, {"applied", s.applied},
                                                           {"dropped", s.dropped},     {"rejected", s.rejected},
                                                           {"skipped", s.skipped}};
    for (const auto& [what, count] : kinds) page.Sample("sentrel_share_entries_total", {{"what", what}}, count);
    page.Single("sentrel_share_connected",
                "1 while the connections to the Redis server are up, 0 during an outage.", Gauge,
                s.connected ? 1 : 0);
  }
  return page.Text();
}

}  // namespace sentrel::metrics
