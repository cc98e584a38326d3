// The text report: sections of aligned columns, meant to be read in a
// terminal. Wide (East Asian) characters count as two columns, so module names
// in Chinese line up too.
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "filter/core/evaluation.h"
#include "platform/codepage.h"
#include "tools/replay/report.h"

namespace sentrel::replay {

namespace {

bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
         (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// Terminal columns of UTF-8 text.
std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    char32_t c = b;
    std::size_t length = 1;
    if (b >= 0xF0) {
      length = 4;
      c = b & 0x07;
    } else if (b >= 0xE0) {
      length = 3;
      c = b & 0x0F;
    } else if (b >= 0xC0) {
      length = 2;
      c = b & 0x1F;
    }
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += length;
    width += IsWide(c) ? 2 : 1;
  }
  return width;
}

std::string Count(std::uint64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Percent(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "";
  char text[16];
  std::snprintf(text, sizeof(text), "%.1f %%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return text;
}

// Columns separated by two blanks; a column is left- or right-aligned.
class Table {
 public:
  explicit Table(std::string rightAligned) : right_(std::move(rightAligned)) {}
  void Row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

  std::string Render(const std::string& indent) const {
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
      if (widths.size() < row.size()) widths.resize(row.size(), 0);
      for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    }
    std::string out;
    for (const auto& row : rows_) {
      std::string line = indent;
      for (std::size_t i = 0; i < row.size(); ++i) {
        const std::size_t pad = widths[i] - DisplayWidth(row[i]);
        const bool right = i < right_.size() && right_[i] == 'r';
        if (i > 0) line += "  ";
        if (right) line.append(pad, ' ');
        line += row[i];
        if (!right) line.append(pad, ' ');
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      out += line + "\n";
    }
    return out;
  }

 private:
  std::string right_;  // 'r' for each right-aligned column, by position
  std::vector<std::vector<std::string>> rows_;
};

// Waits are counted in milliseconds; short totals keep a decimal.
std::string DescribeWait(std::uint64_t ms) {
  if (ms >= 60000) return DescribeDuration(static_cast<std::int64_t>(ms / 1000));
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

std::string DecidedBy(const Decision& d) {
  switch (d.source) {
    case DecisionSource::Module: return Printable(d.moduleName);
    case DecisionSource::Challenge:
      // A challenge restored from the journal has no module.
      return d.moduleName.empty() ? "code not entered" : Printable(d.moduleName) + ", code not entered";
    case DecisionSource::DenyList: return "LimitIP.txt";
    case DecisionSource::Journal: return "journal (restored)";
  }
  return "";
}

void Failure(const ReplayReport& r, std::string& out) {
  out += "sentrel replay: " + r.problem + "\n";
  if (!r.programMessages.empty()) {
    out += "\nThe filter's own log says:\n";
    for (const std::string& m : r.programMessages) out += "  " + PrintableMessage(m, "  ") + "\n";
  }
  if (r.status != ReplayStatus::Unusable) {
    out += "\n`sentrel lint " + r.folder + "` shows what the filter makes of each module file.\n";
  }
}

void LogSection(const ReplayReport& r, std::string& out) {
  out += "Replay of " + r.logName + " through the settings folder " + r.folder + "\n\n";
  // The period heads the counts, starting where they start.
  if (r.hasRequests) {
    out += "  period      " + Printable(r.first.text) + " to " + Printable(r.last.text) + " (" +
           DescribeDuration(r.last.time - r.first.time) + ")\n";
  }
  Table t("-r-");
  t.Row({"lines", Count(r.lines)});
  t.Row({"requests", Count(r.requests)});
  std::string unparsable;
  if (r.unparsableCount > 0) {
    unparsable = "lines ";
    for (std::size_t i = 0; i < r.unparsable.size() && i < 5; ++i) {
      if (i > 0) unparsable += ", ";
      unparsable += std::to_string(r.unparsable[i].line);
    }
    if (r.unparsableCount > 5) unparsable += ", ...";
    unparsable += " (see below)";
  }
  t.Row({"unparsable", Count(r.unparsableCount), unparsable});
  std::string notIpv4;
  if (r.notIpv4Clients > 0) {
    notIpv4 = Count(r.notIpv4Clients) + " not tracked, passed unevaluated (" + Count(r.notIpv4Requests) +
              (r.notIpv4Requests == 1 ? " request)" : " requests)");
  }
  t.Row({"clients", Count(r.clients), notIpv4});
  out += t.Render("  ");
}

void AnswersSection(const ReplayReport& r, std::string& out) {
  out += "\nAnswers\n";
  Table t("-rr");
  t.Row({"passed", Count(r.passed), Percent(r.passed, r.requests)});
  t.Row({"blocked", Count(r.blocked), Percent(r.blocked, r.requests)});
  t.Row({"challenged", Count(r.challenged), Percent(r.challenged, r.requests)});
  out += t.Render("  ");
}

void ModulesSection(const ReplayReport& r, std::string& out) {
  out += "\nModules (" + std::to_string(r.modules.size()) + " loaded from " + std::to_string(r.moduleFiles) +
         (r.moduleFiles == 1 ? " file" : " files") + ", in load order)\n";
  Table t("r--rrr");
  t.Row({"#", "module", "action", "hold", "firings", "clients"});
  for (const ModuleSummary& m : r.modules) {
    t.Row({std::to_string(m.number), Printable(m.name), DescribeAction(m.execute),
           m.execute == ModuleAction::LogOnly ? "-" : DescribeDuration(m.dateline), Count(m.firings), Count(m.clients)});
  }
  out += t.Render("  ");
  out += "  let through after every module finished without firing: " + Count(r.allowedAfterModules) +
         " (held for " + DescribeDuration(r.dateline) + ", the filter-wide Dateline)\n";
  if (r.modules.size() < r.moduleFiles) {
    out += "  " + std::to_string(r.moduleFiles - r.modules.size()) +
           " module file(s) refused; `sentrel lint " + r.folder + "` says why\n";
  }
}

void DecisionsSection(const ReplayReport& r, bool all, std::string& out) {
  std::set<std::string> clients;
  for (const Decision& d : r.decisions) clients.insert(d.address);
  out += "\nClients blocked or challenged: " + Count(clients.size()) + " (" + Count(r.decisions.size()) +
         (r.decisions.size() == 1 ? " decision)\n" : " decisions)\n");
  if (r.decisions.empty()) return;
  Table t("-----r");
  t.Row({"address", "from", "by", "action", "until", "requests"});
  std::size_t shown = 0;
  for (const Decision& d : r.decisions) {
    if (!all && shown == kDecisionRowsShown) break;
    t.Row({Printable(d.address), Printable(d.timeText), DecidedBy(d), DescribeAnswer(d.action),
           DescribeHoldUntil(d), Count(d.requests)});
    ++shown;
  }
  out += t.Render("  ");
  if (shown < r.decisions.size()) {
    out += "  (the first " + Count(shown) + " of " + Count(r.decisions.size()) +
           "; --all lists every one, --json has them all)\n";
  }
}

void UnparsableSection(const ReplayReport& r, std::string& out) {
  if (r.unparsableCount == 0) return;
  out += "\nUnparsable lines: " + Count(r.unparsableCount) + " (not replayed)\n";
  for (const UnparsableLine& u : r.unparsable) {
    out += "  line " + std::to_string(u.line) + ": " + u.reason + "\n";
  }
  if (r.unparsableCount > r.unparsable.size()) {
    out += "  ... and " + Count(r.unparsableCount - r.unparsable.size()) + " more\n";
  }
}

void NotesSection(const ReplayReport& r, std::string& out) {
  out += "\nNotes\n";
  for (const MissingVariable& v : r.variablesNotInLog) {
    std::string modules;
    for (const std::string& m : v.modules) modules += (modules.empty() ? "" : ", ") + Printable(m);
    out += "  - Rules of " + modules + " test " + Printable(v.name) +
           ", which an access log does not record; here it is always missing.\n";
  }
  if (r.requestsWaited > 0) {
    out += "  - " + Count(r.requestsWaited) + (r.requestsWaited == 1 ? " request" : " requests") +
           " waited for a missing server variable (" + DescribeWait(r.waitedMs) +
           " of log time in all, no real time here);\n    on a live server each such request waits up to " +
           std::to_string(kMissingVariableWaitMs * kMissingVariableRetries) + " ms.\n";
  }
  if (r.crawlersListed && r.crawlersResolved) {
    out += "  - SENTREL_CRAWLER was looked up in DNS (--resolve): " + Count(r.crawlersVerified) + " verified, " +
           Count(r.crawlersFake) + " fake, " + Count(r.crawlersUnknown) + " unknown.\n";
  } else if (r.crawlersListed) {
    out += "  - SENTREL_CRAWLER is \"unknown NAME\" for every claim of a listed crawler"
           " (--resolve looks them up in DNS).\n";
  }
  out += "  - The filter ran on a scratch copy of the settings folder, " + r.scratchFolder + ";\n";
  out += "    its logs and journal were written there";
  out += r.scratchKept ? " and kept.\n" : " and removed (--keep keeps them).\n";
  out += r.journalRestored ? "  - The live decision journal (Cache) was restored at start-up.\n"
                           : "  - The live decision journal (Cache) was not restored (--journal restores it).\n";
}

}  // namespace

std::string FormatTextReport(const ReplayReport& r, bool allDecisions) {
  std::string out;
  if (r.status != ReplayStatus::Completed) {
    Failure(r, out);
    return out;
  }
  LogSection(r, out);
  AnswersSection(r, out);
  ModulesSection(r, out);
  DecisionsSection(r, allDecisions, out);
  UnparsableSection(r, out);
  NotesSection(r, out);
  return out;
}

std::string PrintableMessage(const std::string& codePageLine, const char* tabAs) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t tab = codePageLine.find('\t'); tab != std::string::npos; tab = codePageLine.find('\t', from)) {
    out += Printable(codePageLine.substr(from, tab - from)) + tabAs;
    from = tab + 1;
  }
  return out + Printable(codePageLine.substr(from));
}

std::string DescribeDuration(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const std::int64_t d = seconds / 86400, h = seconds / 3600 % 24, m = seconds / 60 % 60, s = seconds % 60;
  auto part = [](std::int64_t n, const char* unit) { return std::to_string(n) + " " + unit; };
  if (d > 0) return h > 0 ? part(d, "d") + " " + part(h, "h") : part(d, "d");
  if (h > 0) return m > 0 ? part(h, "h") + " " + part(m, "min") : part(h, "h");
  if (m > 0) return s > 0 ? part(m, "min") + " " + part(s, "s") : part(m, "min");
  return part(s, "s");
}

const char* DescribeAction(ModuleAction execute) {
  switch (execute) {
    case ModuleAction::Block: return "block";
    case ModuleAction::LogOnly: return "log only";
    case ModuleAction::Allow: return "allow";
    case ModuleAction::PictureCode: return "picture code";
  }
  return "unknown";
}

const char* DescribeAnswer(Answer answer) {
  switch (answer) {
    case Answer::Passed: return "passed";
    case Answer::Blocked: return "blocked";
    case Answer::Challenged: return "challenged";
  }
  return "";
}

const char* DescribeSource(DecisionSource source) {
  switch (source) {
    case DecisionSource::Module: return "module";
    case DecisionSource::Challenge: return "challenge";
    case DecisionSource::DenyList: return "deny list";
    case DecisionSource::Journal: return "journal";
  }
  return "";
}

std::string DescribeHoldUntil(const Decision& d) {
  if (d.holdUntil == 0xFFFFFFFFu) return "never";
  return FormatLogTime(d.holdUntil, d.utcOffset);
}

}  // namespace sentrel::replay
