// Fuzz target for the module file reader: any bytes as a module file must be
// refused or read into a module within the limits of the format, the same
// with and without a diagnostic sink, and never crash or leak. The range-text
// parser gets the bytes as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "filter/settings/module_reader.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// One temporary folder per process, removed at exit; its module file is
// rewritten for every input.
std::string& Folder() {
  static std::string folder;
  return folder;
}

const std::string& ModulePath() {
  static const std::string path = [] {
    std::string folder = (std::filesystem::temp_directory_path() / "sentrel-fuzz-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) std::abort();
    Folder() = folder;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(Folder(), ignored);
    });
    return folder + "/module.ini";
  }();
  return path;
}

class CountingSink : public sentrel::ModuleDiagnostics {
 public:
  void Refused(const sentrel::ModuleFinding& finding) override {
    ++refusals;
    Require(sentrel::IsRefusal(finding.issue));
  }
  void Adjusted(const sentrel::ModuleFinding& finding) override {
    Require(!sentrel::IsRefusal(finding.issue));
  }
  int refusals = 0;
};

void CheckRange(std::string_view text, sentrel::RangeKind kind) {
  sentrel::RangeValue range{12345, 54321};
  sentrel::RangeError error = sentrel::ParseRangeText(text, kind, range);
  if (error != sentrel::RangeError::None) {
    Require(range.low == 12345 && range.high == 54321);
    return;
  }
  Require(range.low <= range.high);
  if (kind == sentrel::RangeKind::StepTimes) Require(range.high >= 1);
  if (kind == sentrel::RangeKind::Setp && text.find('-') != std::string_view::npos) {
    Require(range.low >= 1);
  }
}

bool SameModule(const sentrel::Module& a, const sentrel::Module& b) {
  if (a.name != b.name || a.execute != b.execute || a.setpLow != b.setpLow ||
      a.setpHigh != b.setpHigh || a.stepCount != b.stepCount || a.times != b.times ||
      a.dateline != b.dateline || a.log.LogContent != b.log.LogContent ||
      a.steps.size() != b.steps.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.steps.size(); ++i) {
    if (a.steps[i].rules.size() != b.steps[i].rules.size()) return false;
    for (std::size_t j = 0; j < a.steps[i].rules.size(); ++j) {
      const auto& x = a.steps[i].rules[j];
      const auto& y = b.steps[i].rules[j];
      if (x.parameter != y.parameter || x.pattern != y.pattern || x.compare != y.compare) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  CheckRange(bytes, sentrel::RangeKind::Setp);
  CheckRange(bytes, sentrel::RangeKind::StepTimes);

  {
    std::ofstream out(ModulePath(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  sentrel::FilterSettings settings;
  settings.Dateline = 86400;
  if (size > 0 && (data[0] & 1) != 0) settings.codePage = "code page\n";

  sentrel::Module plain;
  const bool accepted = sentrel::ReadModule(ModulePath(), settings, plain);

  CountingSink sink;
  sentrel::Module reported;
  const bool acceptedWithSink = sentrel::ReadModule(ModulePath(), settings, reported, &sink);
  Require(accepted == acceptedWithSink);
  Require(sink.refusals == (accepted ? 0 : 1));
  if (!accepted) return 0;

  Require(SameModule(plain, reported));
  Require(!plain.name.empty() && plain.name.size() <= sentrel::kValueMax);
  Require(static_cast<int>(plain.execute) <= 3);
  Require(settings.CodePageLoaded() || plain.execute != sentrel::ModuleAction::PictureCode);
  Require(plain.stepCount >= 1 && plain.stepCount <= sentrel::kMaxStepCount);
  Require(plain.steps.size() == static_cast<std::size_t>(plain.stepCount));
  Require(plain.setpLow <= plain.setpHigh);
  Require(plain.times >= 0 && plain.times <= sentrel::kMaxModuleTimes);
  Require(plain.dateline >= 0 && plain.dateline <= sentrel::kMaxModuleDateline);
  Require(plain.log.LogContent.size() <= sentrel::kLongValueMax);
  Require(plain.log.LogName.empty() == plain.log.LogContent.empty());
  for (const auto& step : plain.steps) {
    Require(step.timesLow <= step.timesHigh && step.timesHigh >= 1);
    Require(!step.rules.empty() && step.rules.size() <= static_cast<std::size_t>(sentrel::kMaxRuleCount));
    for (const auto& rule : step.rules) {
      Require(!rule.parameter.empty() && rule.parameter.size() <= sentrel::kValueMax);
      Require(rule.pattern.size() <= sentrel::kValueMax);
    }
  }
  return 0;
}
