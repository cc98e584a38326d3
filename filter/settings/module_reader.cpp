#include "filter/settings/module_reader.h"

#include <limits>

#include "filter/logging/activity_log.h"
#include "filter/logging/program_messages.h"
#include "filter/settings/module_registry.h"
#include "platform/codepage.h"
#include "platform/profile.h"

namespace sentrel {

namespace {

// The leading decimal number of a text that holds only digits and "-": the
// digits up to the first other byte, 0 when there are none. A number beyond
// the signed 32-bit range stays at the largest signed value instead of
// wrapping round, so an over-long number can never turn into a small bound
// or into 0 (no window).
std::uint32_t LeadingNumber(std::string_view text) {
  constexpr std::uint32_t kMax = std::numeric_limits<std::int32_t>::max();
  std::uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    std::uint32_t digit = static_cast<std::uint32_t>(c - '0');
    value = (value > (kMax - digit) / 10) ? kMax : value * 10 + digit;
  }
  return value;
}

// Reads the module file's values and passes what it finds to an optional sink.
class Reader {
 public:
  Reader(const platform::ProfileFile& file, const std::string& path, ModuleDiagnostics* diagnostics,
         std::int32_t stepNumber = 0)
      : file_(file), path_(path), diagnostics_(diagnostics), stepNumber_(stepNumber) {}

  // A text value cut to `maxBytes`. The value is read one byte longer than
  // the maximum so that a cut can be reported; what is kept is exactly what a
  // buffer of maxBytes + 1 bytes would hold.
  std::string Text(const std::string& section, const std::string& key,
                   const std::string& defaultValue, std::size_t maxBytes,
                   std::int32_t ruleNumber = 0) {
    std::string value = file_.ReadString(section, key, defaultValue, maxBytes + 2);
    if (value.size() > maxBytes) {
      if (diagnostics_ != nullptr) {
        // Read once more in full so the report shows the whole value.
        std::string full = file_.ReadString(section, key, defaultValue,
                                                       kLongValueMax * 64);
        ModuleFinding f = Finding(ModuleIssue::ValueCut, section, key, full, RangeError::None,
                                  ruleNumber);
        f.limit = maxBytes;
        diagnostics_->Adjusted(f);
      }
      value.resize(maxBytes);
    }
    return value;
  }

  int Integer(const std::string& section, const std::string& key, int defaultValue) {
    return file_.ReadInt(section, key, defaultValue);
  }

  // The log keys of a module or step section.
  void LogKeys(const std::string& section, LogSpec& log) {
    log.LogName = Text(section, "LogName", "", kValueMax);
    log.LogFileName = Text(section, "LogFileName", "", kValueMax);
    log.LogContent = Text(section, "LogContent", "", kLongValueMax);
    std::string content;
    content.reserve(log.LogContent.size());
    for (std::size_t i = 0; i < log.LogContent.size(); ++i) {
      if (log.LogContent[i] == '\\' && i + 1 < log.LogContent.size() &&
          log.LogContent[i + 1] == 'n') {
        content += '\n';
        ++i;
      } else {
        content += log.LogContent[i];
      }
    }
    log.LogContent = std::move(content);
    if (log.LogName.empty() || log.LogContent.empty()) {
      bool anySet = !log.LogName.empty() || !log.LogContent.empty() || !log.LogFileName.empty();
      if (anySet) {
        Note(ModuleIssue::LogCleared, section, log.LogName.empty() ? "LogName" : "LogContent", "");
      }
      log = LogSpec{};
    }
  }

  // Reports a refusal with the value as it stands in the file.
  bool Refuse(ModuleIssue issue, const std::string& section, const std::string& key,
              RangeError range = RangeError::None, std::int32_t ruleNumber = 0) {
    if (diagnostics_ != nullptr) {
      ModuleFinding f = Finding(issue, section, key, "", range, ruleNumber);
      if (!key.empty()) {
        // A default no file value can equal tells a missing key from an empty one.
        constexpr char kAbsent[] = "\x01\x02" "absent" "\x02\x01";
        f.value = file_.ReadString(section, key, kAbsent, kLongValueMax + 1);
        f.missing = f.value == kAbsent;
        if (f.missing) f.value.clear();
      }
      diagnostics_->Refused(f);
    }
    return false;
  }

  void Note(ModuleIssue issue, const std::string& section, const std::string& key,
            const std::string& value, std::int32_t ruleNumber = 0) {
    if (diagnostics_ != nullptr) {
      diagnostics_->Adjusted(Finding(issue, section, key, value, RangeError::None, ruleNumber));
    }
  }

 private:
  ModuleFinding Finding(ModuleIssue issue, const std::string& section, const std::string& key,
                        const std::string& value, RangeError range, std::int32_t ruleNumber) {
    ModuleFinding f;
    f.issue = issue;
    f.path = path_;
    f.section = section;
    f.key = key;
    f.value = value;
    f.range = range;
    f.stepNumber = stepNumber_;
    f.ruleNumber = ruleNumber;
    return f;
  }

  const platform::ProfileFile& file_;
  const std::string& path_;
  ModuleDiagnostics* diagnostics_;
  std::int32_t stepNumber_;
};

}  // namespace

bool IsAllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

RangeError ParseRangeText(std::string_view text, RangeKind kind, RangeValue& range) {
  std::string digits;
  digits.reserve(text.size());
  for (char c : text) {
    if (c != '-') digits += c;
  }
  if (!IsAllDigits(digits)) return RangeError::NotDigits;

  RangeValue value;
  std::size_t dash = text.find('-');
  if (dash != std::string_view::npos) {
    value.low = LeadingNumber(text.substr(0, dash));
    value.high = LeadingNumber(text.substr(dash + 1));
    if (kind == RangeKind::Setp && value.low < 1) return RangeError::LowBelowOne;
    if (value.high < value.low) return RangeError::HighBelowLow;
  } else {
    value.low = value.high = LeadingNumber(text);
  }
  if (kind == RangeKind::StepTimes && value.high < 1) return RangeError::HighZero;
  range = value;
  return RangeError::None;
}

namespace {

bool ReadStepOf(const platform::ProfileFile& file, const std::string& path,
                const std::string& section, Step& step, ModuleDiagnostics* diagnostics,
                std::int32_t stepNumber) {
  Reader in(file, path, diagnostics, stepNumber);
  Step read;

  std::string times = in.Text(section, "Times", "", kShortValueMax);
  RangeValue range;
  RangeError error = ParseRangeText(times, RangeKind::StepTimes, range);
  if (error != RangeError::None) {
    return in.Refuse(ModuleIssue::StepTimesInvalid, section, "Times", error);
  }
  read.timesLow = range.low;
  read.timesHigh = range.high;

  in.LogKeys(section, read.log);

  int count = in.Integer(section, "Count", 0);
  if (count < 1 || count > kMaxRuleCount) {
    return in.Refuse(ModuleIssue::RuleCountOutOfRange, section, "Count");
  }

  read.rules.reserve(static_cast<std::size_t>(count));
  for (int j = 1; j <= count; ++j) {
    const std::string number = std::to_string(j);
    Rule rule;
    rule.parameter = in.Text(section, number + "_Parameter", "", kValueMax, j);
    if (rule.parameter.empty()) {
      return in.Refuse(ModuleIssue::RuleParameterEmpty, section, number + "_Parameter",
                       RangeError::None, j);
    }
    platform::ToUpperInPlace(rule.parameter);
    rule.compare = in.Text(section, number + "_Compare", "1", kValueMax, j) != "0";
    rule.pattern = in.Text(section, number + "_Rule", "", kValueMax, j);
    read.rules.push_back(std::move(rule));
  }

  step = std::move(read);
  return true;
}

}  // namespace

bool ReadStep(const std::string& path, const std::string& section, Step& step,
              ModuleDiagnostics* diagnostics, std::int32_t stepNumber) {
  const platform::ProfileFile file(path);
  return ReadStepOf(file, path, section, step, diagnostics, stepNumber);
}

bool ReadModule(const std::string& path, const FilterSettings& settings, Module& module,
                ModuleDiagnostics* diagnostics) {
  // The file is read once; every key is then looked up in what was read.
  const platform::ProfileFile file(path);
  Reader in(file, path, diagnostics);
  if (path.empty()) return in.Refuse(ModuleIssue::PathEmpty, "", "");
  Module read;

  std::string version = in.Text("About", "Version", "", kShortValueMax);
  if (version != kModuleVersion) {
    return in.Refuse(ModuleIssue::VersionMismatch, "About", "Version");
  }

  read.name = in.Text("About", "Name", "NoName", kValueMax);
  if (read.name.empty()) return in.Refuse(ModuleIssue::NameEmpty, "About", "Name");

  int execute = in.Integer("Cofing", "Execute", -1);
  if (execute < 0 || execute > 3) {
    return in.Refuse(ModuleIssue::ExecuteOutOfRange, "Cofing", "Execute");
  }
  if (execute == 3 && !settings.CodePageLoaded()) {
    in.Note(ModuleIssue::ExecuteAsBlock, "Cofing", "Execute", "3");
    execute = 0;
  }
  read.execute = static_cast<ModuleAction>(execute);

  std::string setp = in.Text("Cofing", "Setp", "", kShortValueMax);
  RangeValue window;
  RangeError error = ParseRangeText(setp, RangeKind::Setp, window);
  if (error != RangeError::None) {
    return in.Refuse(ModuleIssue::SetpInvalid, "Cofing", "Setp", error);
  }
  read.setpLow = window.low;
  read.setpHigh = window.high;

  in.LogKeys("Cofing", read.log);

  int stepCount = in.Integer("Step", "Count", 0);
  if (stepCount < 1 || stepCount > kMaxStepCount) {
    return in.Refuse(ModuleIssue::StepCountOutOfRange, "Step", "Count");
  }
  read.stepCount = stepCount;

  read.steps.resize(static_cast<std::size_t>(stepCount));
  for (int i = 1; i <= stepCount; ++i) {
    const std::string number = std::to_string(i);
    std::string section = in.Text("Step", number, "", kValueMax);
    if (section.empty()) {
      return in.Refuse(ModuleIssue::StepSectionMissing, "Step", number);
    }
    if (!ReadStepOf(file, path, section, read.steps[static_cast<std::size_t>(i) - 1], diagnostics, i)) {
      return false;
    }
  }

  int times = in.Integer("Cofing", "Times", 1);
  if (times < 0 || times > kMaxModuleTimes) {
    in.Note(ModuleIssue::TimesReplaced, "Cofing", "Times", std::to_string(times));
    times = 1;
  }
  read.times = times;

  const int filterDateline = static_cast<int>(settings.Dateline);
  int dateline = in.Integer("Cofing", "Dateline", filterDateline);
  if (dateline < 0 || dateline > kMaxModuleDateline) {
    in.Note(ModuleIssue::DatelineReplaced, "Cofing", "Dateline", std::to_string(dateline));
    dateline = filterDateline;
  }
  read.dateline = dateline;

  module = std::move(read);
  return true;
}

std::string ModuleReadMessage(const std::string& name) {
  // The format is "%s" followed by the fixed text.
  return name + (messages::kModuleReadFormat + 2);
}

bool ReadModuleFile(const std::string& path, const FilterSettings& settings,
                    ModuleRegistry& registry, ActivityLog* log, ModuleDiagnostics* diagnostics) {
  Module module;
  if (!ReadModule(path, settings, module, diagnostics)) return false;
  const std::string name = module.name;
  std::int32_t number = registry.AddModule(std::move(module));
  if (log != nullptr) log->WriteProgramMessage(ModuleReadMessage(name));
  if (diagnostics != nullptr) diagnostics->Loaded(path, number, *registry.ModuleAt(number));
  return true;
}

bool IsRefusal(ModuleIssue issue) { return issue < ModuleIssue::ValueCut; }

const char* DescribeIssue(ModuleIssue issue) {
  switch (issue) {
    case ModuleIssue::PathEmpty: return "the file path is empty";
    case ModuleIssue::VersionMismatch: return "the version is not 4.3.0";
    case ModuleIssue::NameEmpty: return "the name is empty";
    case ModuleIssue::ExecuteOutOfRange: return "the action is missing or not 0 to 3";
    case ModuleIssue::SetpInvalid: return "the request window is not a valid range";
    case ModuleIssue::StepCountOutOfRange: return "the number of steps is not 1 to 128";
    case ModuleIssue::StepSectionMissing: return "the step names no section";
    case ModuleIssue::StepTimesInvalid: return "the step's match count is not a valid range";
    case ModuleIssue::RuleCountOutOfRange: return "the number of rules is not 1 to 128";
    case ModuleIssue::RuleParameterEmpty: return "the rule names no server variable";
    case ModuleIssue::ValueCut: return "the value is longer than its maximum and is cut";
    case ModuleIssue::ExecuteAsBlock: return "action 3 (picture code) acts as 0 (block): no Code page is loaded";
    case ModuleIssue::LogCleared: return "the log line is off: LogName or LogContent is empty";
    case ModuleIssue::TimesReplaced: return "the repeat count is not 0 to 128 and is read as 1";
    case ModuleIssue::DatelineReplaced: return "the hold time is not 0 to 604800; the filter-wide Dateline is used";
  }
  return "unknown";
}

const char* DescribeRangeError(RangeError error) {
  switch (error) {
    case RangeError::None: return "valid";
    case RangeError::NotDigits: return "empty, or not digits once every \"-\" is removed";
    case RangeError::LowBelowOne: return "the lower bound must be 1 or more";
    case RangeError::HighBelowLow: return "the upper bound is below the lower bound";
    case RangeError::HighZero: return "the upper bound must be 1 or more";
  }
  return "unknown";
}

}  // namespace sentrel
