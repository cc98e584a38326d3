// Test helpers: a temporary settings folder and module files built from
// sections and keys, plus a diagnostic sink that records what the reader says.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "filter/settings/module_reader.h"
#include "tests/support/temp_folder.h"

namespace sentrel::testing {

class TempFolder {
 public:
  TempFolder() {
    path_ = testsupport::MakeTempFolder("sentrel-modules-");
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // A path inside the folder; creates its parent folders.
  std::string File(const std::string& relative) const {
    std::filesystem::path p = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(p.parent_path());
    return p.string();
  }
  void Write(const std::string& relative, const std::string& bytes) const {
    std::ofstream out(File(relative), std::ios::binary);
    out << bytes;
  }

 private:
  std::string path_;
};

// A settings text as ordered sections of ordered key/value lines.
class IniText {
 public:
  IniText& Set(const std::string& section, const std::string& key, const std::string& value) {
    auto& lines = SectionLines(section);
    for (auto& line : lines) {
      if (line.first == key) {
        line.second = value;
        return *this;
      }
    }
    lines.emplace_back(key, value);
    return *this;
  }
  IniText& Remove(const std::string& section, const std::string& key) {
    auto& lines = SectionLines(section);
    std::erase_if(lines, [&](const auto& line) { return line.first == key; });
    return *this;
  }
  IniText& RemoveSection(const std::string& section) {
    std::erase_if(sections_, [&](const auto& s) { return s.first == section; });
    return *this;
  }
  std::string Text() const {
    std::string out;
    for (const auto& [name, lines] : sections_) {
      out += "[" + name + "]\r\n";
      for (const auto& [key, value] : lines) out += key + "=" + value + "\r\n";
    }
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>>& SectionLines(const std::string& section) {
    for (auto& s : sections_) {
      if (s.first == section) return s.second;
    }
    sections_.emplace_back(section, std::vector<std::pair<std::string, std::string>>{});
    return sections_.back().second;
  }
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections_;
};

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

}  // namespace sentrel::testing
