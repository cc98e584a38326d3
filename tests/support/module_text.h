// Module files for tests. IniText holds a settings text as ordered sections of
// ordered key/value lines (any file, well formed or not); ModuleText is a
// usable module with named fields, written through IniText.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace sentrel::test {

class IniText {
 public:
  // Sets a key (replacing its value where it is already there).
  IniText& Set(const std::string& section, const std::string& key, const std::string& value);
  IniText& Remove(const std::string& section, const std::string& key);
  IniText& RemoveSection(const std::string& section);
  // "[Section]" and "Key=Value" lines, each ended by CR LF.
  std::string Text() const;

 private:
  using Lines = std::vector<std::pair<std::string, std::string>>;
  Lines& SectionLines(const std::string& section);
  std::vector<std::pair<std::string, Lines>> sections_;
};

// A module with steps of rules; fields can be changed before Ini() or Text().
struct ModuleText {
  std::string name = "Test module";
  std::string priority = "";  // empty: no Config section
  std::string execute = "0";
  std::string setp = "0";
  std::string times = "1";
  std::string dateline = "600";
  std::string logName = "";
  std::string logFileName = "";
  std::string logContent = "";
  struct RuleText {
    std::string parameter;
    std::string compare;
    std::string pattern;
  };
  struct StepText {
    std::string times = "1";
    std::string logName;
    std::string logFileName;
    std::string logContent;
    std::vector<RuleText> rules;
  };
  std::vector<StepText> steps;

  IniText Ini() const;
  std::string Text() const { return Ini().Text(); }

  // A module of one step with one rule: its name, action, the step's match
  // count, the hold time and the rule.
  static ModuleText OneRule(const std::string& name, const std::string& execute,
                            const std::string& stepTimes, const std::string& dateline, RuleText rule);
};

}  // namespace sentrel::test
