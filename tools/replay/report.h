// The replay's report, for people (aligned text) and for programs (JSON).
// Both hold the same content; texts from the log and the module files are
// code-page bytes and are shown as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/printable.h"
#include "tools/replay/replay.h"

namespace sentrel::replay {

// Rows of the blocked-or-challenged table the text report shows, unless
// every row is asked for.
inline constexpr std::size_t kDecisionRowsShown = 100;

std::string FormatTextReport(const ReplayReport& report, bool allDecisions);
std::string FormatJsonReport(const ReplayReport& report);

// Helpers shared by both forms.
// Code-page text as UTF-8 with control bytes escaped as \xHH.
using tools::Printable;
// A line of the filter's own log (a time stamp, a TAB, the message) with
// the TABs given as `tabAs`, otherwise as Printable.
std::string PrintableMessage(const std::string& codePageLine, const char* tabAs);
// A length of time in words: "45 s", "10 min", "1 h 30 min", "2 d 3 h".
std::string DescribeDuration(std::int64_t seconds);
// "block", "log only", "allow", "picture code".
const char* DescribeAction(ModuleAction execute);
const char* DescribeAnswer(Answer answer);
const char* DescribeSource(DecisionSource source);
// The end of a hold in the log's form at its offset, or "never".
std::string DescribeHoldUntil(const Decision& decision);

}  // namespace sentrel::replay
