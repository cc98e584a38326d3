// A log-only module of the crawler tests: every request it sees writes
// `content` (expanded) to Log/probe.log.
#pragma once

#include <string>

#include "tests/support/module_text.h"

namespace sentrel::test {

inline ModuleText ProbeModule(const std::string& content) {
  ModuleText m;
  m.name = "Probe";
  m.priority = "2";
  m.execute = "1";
  m.logName = "Probe";
  m.logFileName = "probe.log";
  m.logContent = content;
  m.steps.push_back({"1", "", "", "", {{"REMOTE_ADDR", "1", "."}}});
  return m;
}

}  // namespace sentrel::test
