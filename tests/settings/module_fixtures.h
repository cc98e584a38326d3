// Module files of the settings tests (the worked example of the format and a
// minimal usable module) and a diagnostic sink that records what the module
// reader says.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "filter/settings/module_reader.h"
#include "tests/support/module_text.h"
#include "tests/support/temp_folder.h"

namespace sentrel::test {

// The worked example of the module file format: one step of two rules.
inline IniText ProbeModule() {
  IniText ini;
  ini.Set("About", "Version", "4.3.0").Set("About", "Name", "Probe check");
  ini.Set("Config", "Priority", "2");
  ini.Set("Cofing", "Execute", "0")
      .Set("Cofing", "Setp", "1-10")
      .Set("Cofing", "LogName", "Probe")
      .Set("Cofing", "LogFileName", "")
      .Set("Cofing", "LogContent", "{TIME} {S(REMOTE_ADDR)}")
      .Set("Cofing", "Times", "1")
      .Set("Cofing", "Dateline", "3600");
  ini.Set("Step", "Count", "1").Set("Step", "1", "Probe");
  ini.Set("Probe", "Times", "3")
      .Set("Probe", "Count", "2")
      .Set("Probe", "1_Parameter", "REMOTE_ADDR")
      .Set("Probe", "1_Compare", "1")
      .Set("Probe", "1_Rule", "^10\\.")
      .Set("Probe", "2_Parameter", "QUERY_STRING")
      .Set("Probe", "2_Compare", "0")
      .Set("Probe", "2_Rule", "");
  return ini;
}

// A minimal usable module: the given name, window and step match counts, one
// rule per step.
inline IniText SimpleModule(const std::string& name, const std::string& setp,
                            const std::vector<std::string>& stepTimes) {
  IniText ini;
  ini.Set("About", "Version", "4.3.0").Set("About", "Name", name);
  ini.Set("Cofing", "Execute", "0").Set("Cofing", "Setp", setp);
  ini.Set("Step", "Count", std::to_string(stepTimes.size()));
  for (std::size_t i = 0; i < stepTimes.size(); ++i) {
    const std::string section = "S" + std::to_string(i + 1);
    ini.Set("Step", std::to_string(i + 1), section);
    ini.Set(section, "Times", stepTimes[i])
        .Set(section, "Count", "1")
        .Set(section, "1_Parameter", "URL")
        .Set(section, "1_Rule", "x");
  }
  return ini;
}

class RecordingSink : public ModuleDiagnostics {
 public:
  void Refused(const ModuleFinding& finding) override { refusals.push_back(finding); }
  void Adjusted(const ModuleFinding& finding) override { adjustments.push_back(finding); }
  void Loaded(const std::string& path, std::int32_t number, const Module& module) override {
    loaded.push_back({path, number, module.name});
  }
  bool HasAdjustment(ModuleIssue issue) const {
    for (const auto& a : adjustments) {
      if (a.issue == issue) return true;
    }
    return false;
  }

  struct LoadedFile {
    std::string path;
    std::int32_t number;
    std::string name;
  };
  std::vector<ModuleFinding> refusals;
  std::vector<ModuleFinding> adjustments;
  std::vector<LoadedFile> loaded;
};

}  // namespace sentrel::test
