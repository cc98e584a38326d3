#include "filter/core/evaluation.h"

#include <string>
#include <vector>

#include "filter/core/server_variables.h"
#include "filter/logging/program_messages.h"
#include "platform/codepage.h"
#include "platform/thread_slot.h"

namespace sentrel {

namespace {

// A variable's lower-cased value, as rules test it.
struct RuleValueSlot {
  std::string name;
  std::string value;
};

std::vector<RuleValueSlot>& ThreadRuleValues() {
  static platform::PerThread<std::vector<RuleValueSlot>> slots;
  return slots.Get();
}

// How the procedure for one module ends.
enum class Outcome {
  Next,       // go on with the next module
  Stop,       // end the evaluation where it stands (missing module or step)
  Decided,    // the module fired with a deciding action
};

class Evaluation {
 public:
  Evaluation(const EvaluationEnv& env, HTTP_FILTER_CONTEXT* context, const std::string& address,
             ClientTally& client)
      : env_(env), context_(context), address_(address), client_(client) {}

  ClientState Run();

 private:
  Outcome RunModule(ModuleProgress& p);
  bool RuleHolds(const Rule& rule);
  const std::string* RuleValue(const std::string& name);
  bool StepHolds(const Step& step);
  void WriteLogLine(const LogSpec& log);
  void Decide(ClientState state, std::uint32_t dateline, bool journal);
  void Notify(std::int32_t moduleNumber, const Module* module);

  const EvaluationEnv& env_;
  HTTP_FILTER_CONTEXT* context_;
  const std::string& address_;
  ClientTally& client_;
  std::int64_t now_ = 0;
  std::uint32_t n_ = 0;
  int retries_ = 0;
  std::size_t finished_ = 0;
  ServerVariableCache cache_;
  // The values rules test, lower-cased: each variable is read, copied and
  // lower-cased once per request, however many rules test it. (The cache
  // keeps the values as the server gave them, for log lines.) The slots
  // belong to the thread and keep their buffers from request to request.
  std::vector<RuleValueSlot>& ruleValues_ = ThreadRuleValues();
  std::size_t ruleValueCount_ = 0;
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

  cache_.Insert("REMOTE_ADDR", address_);
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
      if (StepHolds(*s)) break;
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

bool Evaluation::StepHolds(const Step& step) {
  for (const Rule& rule : step.rules) {
    if (!RuleHolds(rule)) return false;
  }
  return true;
}

const std::string* Evaluation::RuleValue(const std::string& name) {
  for (std::size_t i = 0; i < ruleValueCount_; ++i) {
    if (ruleValues_[i].name == name) return &ruleValues_[i].value;
  }
  const std::string* value = LookUpServerVariable(context_, name, cache_);
  if (value == nullptr) return nullptr;  // asked again next time
  if (ruleValueCount_ == ruleValues_.size()) ruleValues_.emplace_back();
  RuleValueSlot& slot = ruleValues_[ruleValueCount_];
  slot.name = name;
  slot.value = *value;  // into the slot's buffer of earlier requests
  platform::ToLowerInPlace(slot.value);
  ++ruleValueCount_;
  return &slot.value;
}

bool Evaluation::RuleHolds(const Rule& rule) {
  for (;;) {
    if (const std::string* value = RuleValue(rule.parameter)) {
      if (rule.pattern.empty()) return value->empty() == rule.compare;
      return env_.patterns.MatchRulePattern(rule.pattern, *value) == rule.compare;
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
  PlaceholderExpander(context_, text, cache_, env_.clock);
  env_.log.WriteLog(log.LogName, std::move(text), log.LogFileName, LogMode::Plain);
}

}  // namespace

ClientState EvaluateRequest(const EvaluationEnv& env, HTTP_FILTER_CONTEXT* context,
                             const std::string& address, ClientTally& client) {
  Evaluation evaluation(env, context, address, client);
  return evaluation.Run();
}

}  // namespace sentrel
