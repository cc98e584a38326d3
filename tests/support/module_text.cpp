#include "tests/support/module_text.h"

#include <algorithm>

namespace sentrel::test {

IniText& IniText::Set(const std::string& section, const std::string& key, const std::string& value) {
  Lines& lines = SectionLines(section);
  for (auto& line : lines) {
    if (line.first == key) {
      line.second = value;
      return *this;
    }
  }
  lines.emplace_back(key, value);
  return *this;
}

IniText& IniText::Remove(const std::string& section, const std::string& key) {
  std::erase_if(SectionLines(section), [&](const auto& line) { return line.first == key; });
  return *this;
}

IniText& IniText::RemoveSection(const std::string& section) {
  std::erase_if(sections_, [&](const auto& s) { return s.first == section; });
  return *this;
}

std::string IniText::Text() const {
  std::string out;
  for (const auto& [name, lines] : sections_) {
    out += "[" + name + "]\r\n";
    for (const auto& [key, value] : lines) out += key + "=" + value + "\r\n";
  }
  return out;
}

IniText::Lines& IniText::SectionLines(const std::string& section) {
  for (auto& s : sections_) {
    if (s.first == section) return s.second;
  }
  sections_.emplace_back(section, Lines{});
  return sections_.back().second;
}

ModuleText ModuleText::OneRule(const std::string& name, const std::string& execute,
                               const std::string& stepTimes, const std::string& dateline, RuleText rule) {
  ModuleText m;
  m.name = name;
  m.execute = execute;
  m.dateline = dateline;
  StepText s;
  s.times = stepTimes;
  s.rules.push_back(std::move(rule));
  m.steps.push_back(std::move(s));
  return m;
}

IniText ModuleText::Ini() const {
  IniText ini;
  ini.Set("About", "Version", "4.3.0").Set("About", "Name", name);
  if (!priority.empty()) ini.Set("Config", "Priority", priority);
  ini.Set("Cofing", "Execute", execute)
      .Set("Cofing", "Setp", setp)
      .Set("Cofing", "LogName", logName)
      .Set("Cofing", "LogFileName", logFileName)
      .Set("Cofing", "LogContent", logContent)
      .Set("Cofing", "Times", times)
      .Set("Cofing", "Dateline", dateline);
  ini.Set("Step", "Count", std::to_string(steps.size()));
  for (std::size_t i = 0; i < steps.size(); ++i) {
    ini.Set("Step", std::to_string(i + 1), "S" + std::to_string(i + 1));
  }
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const StepText& s = steps[i];
    const std::string section = "S" + std::to_string(i + 1);
    ini.Set(section, "Times", s.times)
        .Set(section, "LogName", s.logName)
        .Set(section, "LogFileName", s.logFileName)
        .Set(section, "LogContent", s.logContent)
        .Set(section, "Count", std::to_string(s.rules.size()));
    for (std::size_t j = 0; j < s.rules.size(); ++j) {
      const std::string n = std::to_string(j + 1);
      ini.Set(section, n + "_Parameter", s.rules[j].parameter)
          .Set(section, n + "_Compare", s.rules[j].compare)
          .Set(section, n + "_Rule", s.rules[j].pattern);
    }
  }
  return ini;
}

}  // namespace sentrel::test
