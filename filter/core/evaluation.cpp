#include "filter/core/evaluation.h"

#include <optional>
#include <string>
#include <vector>

#include "filter/core/server_variables.h"
#include "filter/logging/program_messages.h"
#include "platform/codepage.h"
#include "platform/thread_slot.h"

namespace sentrel {

namespace {

// The values of one variable as an evaluation has read it: as the server
// gave it (for log lines) and lower-cased (as rules test it). `stamp` tells
// which evaluation filled it.
struct RuleValueSlot {
  std::string raw;
  std::string value;
  std::uint64_t stamp = 0;
};

// A thread's slots, numbered like the prepared rules' variables. They keep
// their buffers from request to request, so reading a value allocates
// nothing once they have grown.
struct RuleValues {
  std::vector<RuleValueSlot> slots;
  std::uint64_t stamp = 0;
};

RuleValues& ThreadRuleValues() {
  static platform::PerThread<RuleValues> values;
  return values.Get();
}

// SENTREL_CRAWLER: the crawler check's answer for the request's address and
// user agent, computed when a rule or a log line first names it.
class CrawlerVariable final : public ComputedVariable {
 public:
  CrawlerVariable(crawlers::CrawlerCheck& check, std::string_view address) : check_(check), address_(address) {}
  const char* Name() const override { return crawlers::kCrawlerVariable; }
  std::string Compute(HTTP_FILTER_CONTEXT* context, ServerVariableCache& cache) override {
    if (!check_.Active()) return {};
    const std::string* agent = LookUpServerVariable(context, "HTTP_USER_AGENT", cache);
    if (agent == nullptr) return {};
    return check_.Value(std::string(address_), platform::ToLower(*agent));
  }

 private:
  crawlers::CrawlerCheck& check_;
  std::string_view address_;  // as the server gave it; outlives the evaluation
};

// How the procedure for one module ends.
enum class Outcome {
  Next,       // go on with the next module
  Stop,       // end the evaluation where it stands (missing module or step)
  Decided,    // the module fired with a deciding action
};

class Evaluation {
 public:
  Evaluation(const EvaluationEnv& env, HTTP_FILTER_CONTEXT* context, const std::string& address,
             std::string_view remoteAddr, ClientTally& client)
      : env_(env), context_(context), address_(address), remoteAddr_(remoteAddr), client_(client) {
    stamp_ = ++values_.stamp;
    if (values_.slots.size() < env_.prepared.VariableCount()) {
      values_.slots.resize(env_.prepared.VariableCount());
    }
  }

  ClientState Run();

 private:
  Outcome RunModule(ModuleProgress& p);
  bool RuleHolds(const Rule& rule, const PreparedRule& prepared);
  const std::string* RuleValue(std::uint32_t variable);
  bool StepHolds(const Step& step, std::uint32_t stepNumber);
  void WriteLogLine(const LogSpec& log);
  void Decide(ClientState state, std::uint32_t dateline, bool journal);
  void Notify(std::int32_t moduleNumber, const Module* module);

  const EvaluationEnv& env_;
  HTTP_FILTER_CONTEXT* context_;
  const std::string& address_;
  std::string_view remoteAddr_;
  // The client's address as the server gave it (an IPv6 client's full
  // address; address_ names its prefix).
  std::string_view RemoteAddr() const { return remoteAddr_.empty() ? std::string_view(address_) : remoteAddr_; }
  ClientTally& client_;
  std::int64_t now_ = 0;
  std::uint32_t n_ = 0;
  int retries_ = 0;
  std::size_t finished_ = 0;
  std::int32_t moduleNumber_ = 0;  // the module whose rules are being tested
  // The variables as log lines show them; filled when a line is written.
  ServerVariableCache cache_;
  std::optional<CrawlerVariable> crawler_;  // SENTREL_CRAWLER, when the filter checks crawlers
  // The values rules test: each variable is read, copied and lower-cased
  // once per request, however many rules test it.
  RuleValues& values_ = ThreadRuleValues();
  std::uint64_t stamp_ = 0;
};

ClientState Evaluation::Run() {
  now_ = env_.clock.Now();
  platform::ScopedLock lock(client_.lock);

  if (client_.resetMark == ResetMark::Decided) {
    client_.state.store(ClientState::Normal, std::memory_order_relaxed);
    client_.requestCount = 1;
    client_.resetMark = ResetMark::Restarting;
    if (client_.challengeCounts != 0) {
      client_.challenge.reset();
      client_.challengeCounts = 0;
    }
  }

  n_ = client_.requestCount;
  client_.requestCount = n_ + 1;

  const std::uint32_t cap = env_.registry.requestCap;
  if (cap != 0 && n_ >= cap) return client_.state.load(std::memory_order_relaxed);
  if (client_.state.load(std::memory_order_relaxed) != ClientState::Normal) {
    return client_.state.load(std::memory_order_relaxed);
  }

  if (env_.crawlers != nullptr) cache_.SetComputed(&crawler_.emplace(*env_.crawlers, RemoteAddr()));
  for (ModuleProgress& p : client_.Progress()) {
    Outcome outcome = RunModule(p);
    if (outcome != Outcome::Next) return client_.state.load(std::memory_order_relaxed);
  }

  if (finished_ == client_.Progress().size() && client_.state.load(std::memory_order_relaxed) == ClientState::Normal) {
    Decide(ClientState::Allowed, env_.settings.Dateline, true);
    Notify(0, nullptr);
  } else {
    client_.holdUntil.store(static_cast<std::uint32_t>(now_), std::memory_order_relaxed);
    if (client_.resetMark == ResetMark::Restarting) client_.resetMark = ResetMark::None;
  }
  return client_.state.load(std::memory_order_relaxed);
}

void Evaluation::Decide(ClientState state, std::uint32_t dateline, bool journal) {
  client_.state.store(state, std::memory_order_relaxed);
  std::uint32_t holdUntil = static_cast<std::uint32_t>(now_) + dateline;
  client_.holdUntil.store(holdUntil, std::memory_order_relaxed);
  if (journal) {
    env_.journal.WriteCacheLine(address_, state, holdUntil);
  } else {
    env_.journal.TellUnjournaled(address_, state, holdUntil);
  }
  client_.resetMark = ResetMark::Decided;
}

void Evaluation::Notify(std::int32_t moduleNumber, const Module* module) {
  if (env_.metrics != nullptr) env_.metrics->ModuleFired(moduleNumber);
  if (env_.observer == nullptr) return;
  (*env_.observer)(DecisionEvent{address_, moduleNumber, module,
                                 client_.state.load(std::memory_order_relaxed),
                                 client_.holdUntil.load(std::memory_order_relaxed)});
}

Outcome Evaluation::RunModule(ModuleProgress& p) {
  const Module* m = env_.registry.ModuleAt(p.moduleNumber);
  if (m == nullptr) return Outcome::Stop;
  moduleNumber_ = p.moduleNumber;

  if (client_.resetMark == ResetMark::Restarting) {
    p.active = 1;
    p.currentStep = 0;
    p.stepHits = 0;
    p.passes = 0;
  }

  bool tested = true;
  if (p.currentStep == 0) {
    if (m->setpLow > 0 && m->setpHigh > 0) {
      if (m->setpHigh < n_) {
        p.active = 0;
        p.currentStep = 1;
      } else if (m->setpLow > n_) {
        tested = false;  // not started yet
      } else {
        p.currentStep = 1;
      }
    } else {
      p.currentStep = 1;
    }
  }

  bool fires = false;
  if (tested && p.active != 0) {
    const Step* s = nullptr;
    for (;;) {
      s = m->StepAt(p.currentStep);
      if (s == nullptr) return Outcome::Stop;
      if (StepHolds(*s, p.currentStep)) break;
      p.active = 0;
      if (p.stepHits > s->timesHigh || p.stepHits < s->timesLow) break;
      // The step is done without this request; test it against the next one.
      p.active = 1;
      p.stepHits = 0;
      const std::uint32_t total =
          static_cast<std::uint32_t>(m->stepCount) * static_cast<std::uint32_t>(m->times);
      if (total <= p.currentStep) break;
      p.currentStep += 1;
      if (p.currentStep <= static_cast<std::uint32_t>(m->stepCount)) continue;
      p.CountPass();
      if (p.passes < static_cast<std::uint32_t>(m->times)) {
        p.currentStep = 1;
        continue;
      }
      break;
    }

    if (p.active != 0) {
      bool gone = false;
      p.stepHits += 1;
      if (p.stepHits == s->timesHigh) {
        p.stepHits = 0;
        p.currentStep += 1;
        WriteLogLine(s->log);
      } else if (p.stepHits > s->timesHigh) {
        p.active = 0;
        gone = true;
      }
      if (!gone && p.currentStep > static_cast<std::uint32_t>(m->stepCount)) {
        p.CountPass();
        if (p.passes < static_cast<std::uint32_t>(m->times)) {
          p.currentStep = 1;
        } else {
          fires = true;
        }
      }
    }
  }

  if (fires) {
    WriteLogLine(m->log);
    p.active = 0;
    switch (m->execute) {
      case ModuleAction::Block:
        Decide(ClientState::Blocked, static_cast<std::uint32_t>(m->dateline), true);
        Notify(p.moduleNumber, m);
        return Outcome::Decided;
      case ModuleAction::Allow:
        Decide(ClientState::Allowed, static_cast<std::uint32_t>(m->dateline), true);
        Notify(p.moduleNumber, m);
        return Outcome::Decided;
      case ModuleAction::PictureCode:
        // The challenge's outcome is journaled, not the challenge itself.
        Decide(ClientState::PictureCode, static_cast<std::uint32_t>(m->dateline), false);
        Notify(p.moduleNumber, m);
        return Outcome::Decided;
      case ModuleAction::LogOnly:
        Notify(p.moduleNumber, m);
        break;  // the client stays as it is
    }
  }

  // Next: a module that is no longer followed re-arms while the request
  // number lies in its window (or always, without one), else it is finished.
  if (p.active == 0) {
    if ((m->setpLow == 0 && m->setpHigh == 0) || (m->setpLow <= n_ && n_ < m->setpHigh)) {
      p.active = 1;
      p.currentStep = 1;
      p.stepHits = 0;
    } else {
      ++finished_;
    }
  }
  return Outcome::Next;
}

bool Evaluation::StepHolds(const Step& step, std::uint32_t stepNumber) {
  // Prepared with the modules, which do not change once loaded.
  const PreparedRule* prepared = env_.prepared.StepRules(moduleNumber_, stepNumber);
  if (prepared == nullptr) return false;
  for (std::size_t i = 0; i < step.rules.size(); ++i) {
    if (!RuleHolds(step.rules[i], prepared[i])) return false;
  }
  return true;
}

const std::string* Evaluation::RuleValue(std::uint32_t variable) {
  RuleValueSlot& slot = values_.slots[variable];
  if (slot.stamp == stamp_) return &slot.value;
  const std::string& name = env_.prepared.VariableName(variable);
  ComputedVariable* computed = cache_.Computed();
  if (name == "REMOTE_ADDR") {
    slot.raw = RemoteAddr();  // as the filter read it to find the client
  } else if (computed != nullptr && name == computed->Name()) {
    slot.raw = computed->Compute(context_, cache_);  // never missing
  } else if (!AskServerVariable(context_, name, slot.raw)) {
    return nullptr;  // asked again next time
  }
  slot.value = slot.raw;
  platform::ToLowerInPlace(slot.value);
  slot.stamp = stamp_;
  return &slot.value;
}

bool Evaluation::RuleHolds(const Rule& rule, const PreparedRule& prepared) {
  for (;;) {
    if (const std::string* value = RuleValue(prepared.variable)) {
      if (rule.pattern.empty()) return value->empty() == rule.compare;
      bool exhausted = false;
      bool* budget = env_.metrics != nullptr ? &exhausted : nullptr;
      const bool found = prepared.compiled != nullptr
                             ? pattern::FoundWithin(*prepared.compiled, *value, budget)
                             : env_.patterns.MatchRulePattern(rule.pattern, *value, budget);
      if (exhausted) env_.metrics->BudgetExhausted(moduleNumber_);
      return found == rule.compare;
    }
    // A missing variable is an empty value that matches nothing.
    if (rule.compare == rule.pattern.empty()) return true;
    if (retries_ < kMissingVariableRetries) {
      ++retries_;
      env_.clock.SleepMs(kMissingVariableWaitMs);
      continue;
    }
    env_.log.WriteLog(kProgramLogName, messages::kNoServerVariable, "", LogMode::Stamped);
    return false;
  }
}

void Evaluation::WriteLogLine(const LogSpec& log) {
  if (log.LogName.empty() || log.LogContent.empty()) return;
  std::string text = log.LogContent;
  // The values this request has read, as the server gave them, so the line
  // shows what the rules saw without asking the server again.
  if (cache_.Find("REMOTE_ADDR") == nullptr) cache_.Insert("REMOTE_ADDR", std::string(RemoteAddr()));
  for (std::uint32_t n = 0; n < env_.prepared.VariableCount(); ++n) {
    const RuleValueSlot& slot = values_.slots[n];
    if (slot.stamp == stamp_) cache_.Insert(env_.prepared.VariableName(n), slot.raw);
  }
  PlaceholderExpander(context_, text, cache_, env_.clock);
  env_.log.WriteLog(log.LogName, std::move(text), log.LogFileName, LogMode::Plain);
}

}  // namespace

ClientState EvaluateRequest(const EvaluationEnv& env, HTTP_FILTER_CONTEXT* context,
                             const std::string& address, ClientTally& client, std::string_view remoteAddr) {
  Evaluation evaluation(env, context, address, remoteAddr, client);
  return evaluation.Run();
}

}  // namespace sentrel
