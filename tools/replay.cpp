// `sentrel replay [OPTIONS] FOLDER LOG`: a dry run of an access log through
// the filter, on a scratch copy of the settings folder and on the log's own
// clock. The work is done by tools/replay; this is its command line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/replay/replay.h"
#include "tools/replay/report.h"

namespace sentrel::tools {

namespace {

void Usage(std::FILE* to) {
  std::fprintf(to,
               "usage: sentrel replay [--json] [--all] [--keep] [--journal] [--resolve] FOLDER LOG\n"
               "Loads the settings folder FOLDER into a private filter (on a scratch copy;\n"
               "the live folder is never written) and feeds it every request of LOG, an\n"
               "access log in the common or combined format (\"-\" reads standard input),\n"
               "with the log's own times as the clock. Reports the answers the requests\n"
               "would have got, each module's firings and the clients blocked or challenged.\n"
               "\n"
               "  --json     the report as JSON\n"
               "  --all      list every blocked or challenged client (the text report\n"
               "             shows the first %zu)\n"
               "  --keep     keep the scratch copy with the filter's logs and journal\n"
               "  --journal  restore the live decision journal (Cache) at start-up\n"
               "  --resolve  look up the claims of the crawlers in Crawlers.txt in DNS and\n"
               "             wait for each (up to 10 s); without it SENTREL_CRAWLER is\n"
               "             \"unknown NAME\" for every claim\n"
               "\n"
               "Exit status: 0 replayed, 1 the filter would not load or start, 2 usage\n"
               "error or unreadable file.\n",
               replay::kDecisionRowsShown);
}

}  // namespace

int RunReplay(int argc, char** argv) {
  replay::ReplayOptions options;
  bool json = false;
  bool all = false;
  std::vector<std::string> operands;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      Usage(stdout);
      return 0;
    }
    if (a == "--json") {
      json = true;
    } else if (a == "--all") {
      all = true;
    } else if (a == "--keep") {
      options.keepScratch = true;
    } else if (a == "--journal") {
      options.restoreJournal = true;
    } else if (a == "--resolve") {
      options.resolveCrawlers = true;
    } else if (a == "--") {
      for (++i; i < argc; ++i) operands.emplace_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "sentrel replay: unknown option '%s'\n", a.c_str());
      Usage(stderr);
      return 2;
    } else {
      operands.push_back(a);
    }
  }
  if (operands.size() != 2 || operands[0].empty() || operands[1].empty()) {
    Usage(stderr);
    return 2;
  }
  options.folder = operands[0];
  const std::string& logPath = operands[1];

  std::ifstream file;
  std::istream* log = &std::cin;
  if (logPath != "-") {
    std::error_code ec;
    if (std::filesystem::is_directory(logPath, ec)) {
      std::fprintf(stderr, "sentrel replay: %s is a folder, not a log file\n", logPath.c_str());
      return 2;
    }
    file.open(logPath, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "sentrel replay: cannot read %s: %s\n", logPath.c_str(), std::strerror(errno));
      return 2;
    }
    log = &file;
  }

  const replay::ReplayReport report =
      replay::Replay(options, *log, logPath == "-" ? "standard input" : logPath);
  const std::string text = json ? replay::FormatJsonReport(report) : replay::FormatTextReport(report, all);
  std::FILE* to = report.status == replay::ReplayStatus::Unusable && !json ? stderr : stdout;
  std::fwrite(text.data(), 1, text.size(), to);
  std::fflush(to);
  return report.ExitStatus();
}

}  // namespace sentrel::tools
