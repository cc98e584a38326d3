// `sentrel lint FOLDER`: reads a settings folder the way the filter reads it
// at load — settings with their clamps, response pages, the module folder scan
// and its order, every module file through the filter's own reader — and
// reports what the filter would make of it.
//
// The report is a sequence of sections, each a function over the shared
// LintRun; a section may add reasons why the filter would not load. The exit
// status is 0 when the filter would load, 1 when it would not, 2 on a usage
// error.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "filter/crawlers/crawler_check.h"
#include "filter/crawlers/crawler_list.h"
#include "filter/settings/filter_settings.h"
#include "filter/settings/module_reader.h"
#include "filter/settings/module_registry.h"
#include "filter/settings/settings_folder.h"
#include "filter/share/decision_share.h"
#include "filter/tracking/address_lists.h"
#include "filter/tracking/client_tally.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tools/commands.h"
#include "tools/printable.h"

namespace sentrel::tools {

namespace {

// Paths print as the native file system names them (the filter builds them
// with backslashes), escaped; their bytes are the file system's own.
std::string PrintablePath(const std::string& path) { return EscapeControlBytes(platform::NativePath(path)); }

// Where a finding lies: "step 2 [Probe] Times", with the value.
std::string Location(const ModuleFinding& f) {
  std::string out;
  if (f.stepNumber > 0) out += "step " + std::to_string(f.stepNumber) + " ";
  if (!f.section.empty()) out += "[" + Printable(f.section) + "] ";
  out += Printable(f.key);
  return out;
}

std::string DescribeRefusal(const ModuleFinding& f) {
  if (f.issue == ModuleIssue::PathEmpty) return DescribeIssue(f.issue);
  std::string out = Location(f);
  out += f.missing ? " (missing)" : "=\"" + Printable(f.value) + "\"";
  out += ": ";
  out += DescribeIssue(f.issue);
  if (f.range != RangeError::None) {
    out += " (";
    out += DescribeRangeError(f.range);
    out += ")";
  }
  return out;
}

std::string DescribeAdjustment(const ModuleFinding& f) {
  std::string out = Location(f);
  if (f.issue == ModuleIssue::ValueCut) {
    out += ": a value of " + std::to_string(f.value.size()) + " bytes is cut to " +
           std::to_string(f.limit);
    return out;
  }
  if (!f.value.empty()) out += "=\"" + Printable(f.value) + "\"";
  out += ": ";
  out += DescribeIssue(f.issue);
  return out;
}

// Prints one line per module file, in load order, as the reader reports it.
class ModuleLines : public ModuleDiagnostics {
 public:
  void Refused(const ModuleFinding& finding) override {
    std::printf("  %s: skipped: %s\n", PrintablePath(finding.path).c_str(),
                DescribeRefusal(finding).c_str());
    PrintNotes();
  }
  void Adjusted(const ModuleFinding& finding) override { notes_.push_back(finding); }
  void Loaded(const std::string& path, std::int32_t number, const Module& module) override {
    std::printf("  %s: loaded as module %d: %s\n", PrintablePath(path).c_str(), number,
                Printable(module.name).c_str());
    PrintNotes();
  }

 private:
  void PrintNotes() {
    for (const auto& note : notes_) std::printf("    note: %s\n", DescribeAdjustment(note).c_str());
    notes_.clear();
  }
  std::vector<ModuleFinding> notes_;
};

struct LintRun {
  std::string folderArgument;
  FilterSettings settings;
  ModuleRegistry registry;
  bool moduleFolderListed = false;
  std::vector<std::string> blockers;  // why the filter would not load
};

// The settings folder and the settings, in the filter's order of reading.
// False when the folder is unusable, which ends the run.
bool ReadSettings(LintRun& run) {
  if (run.folderArgument.empty() || !PathExists(run.folderArgument, true)) {
    std::printf("settings folder: %s: not an existing folder\n",
                PrintablePath(run.folderArgument).c_str());
    run.blockers.push_back("the settings folder does not exist");
    return false;
  }
  FilterSettings& s = run.settings;
  s.FolderPath = NormalizeFolderPath(run.folderArgument);
  run.moduleFolderListed = ReadSettingsFolder(s, run.registry);
  std::printf("settings folder: %s\n", PrintablePath(s.FolderPath).c_str());
  return true;
}

void ModulesSection(LintRun& run) {
  ModuleRegistry& registry = run.registry;
  const std::string folder = run.settings.FolderPath + "Action";
  const bool listed = run.moduleFolderListed;
  std::printf("\nmodules (%zu %s in %s):\n", registry.modulePaths.size(),
              registry.modulePaths.size() == 1 ? "file" : "files", PrintablePath(folder).c_str());
  if (!listed) std::printf("  the module folder cannot be listed\n");

  // Files are read even when their number stops the load, so that every file
  // gets its verdict.
  ModuleLines lines;
  LoadModules(registry, run.settings, nullptr, &lines);

  if (registry.modulePaths.empty()) {
    run.blockers.push_back("no module file (a file whose name contains \".ini\") in " +
                           PrintablePath(folder));
  } else if (registry.modulePaths.size() > kMaxModuleFiles) {
    run.blockers.push_back(std::to_string(registry.modulePaths.size()) +
                           " module files, more than " + std::to_string(kMaxModuleFiles));
  } else if (registry.modules.empty()) {
    run.blockers.push_back("every module file is refused");
  }
}

// What an IPv6 list line covers, and what it means for the clients the filter
// tracks with the IPv6Prefix in force.
std::string Ipv6LineCoverage(const AddressListLine& reading, const FilterSettings& settings) {
  std::string what = (reading.prefixLength == 128 ? "IPv6 address " : "IPv6 prefix ") + reading.Ipv6Coverage();
  if (settings.IPv6Prefix == 0) return what + " (not used: IPv6Prefix is 0, IPv6 clients pass unevaluated)";
  if (reading.prefixLength > settings.IPv6Prefix) {
    what += " (lists the whole /" + std::to_string(settings.IPv6Prefix) + " client it lies in)";
  }
  return what;
}

// Each address list line as the filter reads it: what an accepted line lists,
// why a line is skipped.
void AddressListsSection(LintRun& run) {
  std::printf("\naddress lists:\n");
  struct List {
    const char* file;
    ClientState state;
    const char* meaning;
  };
  for (const List& list : {List{kAllowListFile, ClientState::Allowed, "always let through"},
                           List{kDenyListFile, ClientState::Blocked, "always refused"}}) {
    const std::string path = run.settings.FolderPath + list.file;
    if (!PathExists(path, false)) {
      std::printf("  %s (%s): missing, an empty list\n", list.file, list.meaning);
      continue;
    }
    std::uint64_t addresses = 0;
    int ipv6Entries = 0;
    int accepted = 0;
    int skipped = 0;
    std::vector<std::string> lines;
    AddressRanges ranges;
    LoadAddressList(run.settings.FolderPath, list.file, list.state, ranges,
                    [&](int number, const std::string& text, const AddressListLine& reading) {
                      char head[64];
                      std::snprintf(head, sizeof(head), "    line %d: ", number);
                      if (!reading.accepted) {
                        ++skipped;
                        lines.push_back(head + ("\"" + Printable(text) + "\": skipped: ") + reading.reason);
                        return;
                      }
                      ++accepted;
                      if (reading.ipv6) {
                        ++ipv6Entries;
                        lines.push_back(head + Printable(text) + ": " + Ipv6LineCoverage(reading, run.settings));
                        return;
                      }
                      addresses += reading.Count();
                      std::string what = reading.Count() == 1 ? "1 address"
                                                              : std::to_string(reading.Count()) + " addresses";
                      if (!reading.reason.empty()) what += " (" + reading.reason + ")";
                      lines.push_back(head + Printable(text) + ": " + what);
                    });
    std::string ipv6;
    if (ipv6Entries != 0) {
      ipv6 = " and " + std::to_string(ipv6Entries) + (ipv6Entries == 1 ? " IPv6 entry" : " IPv6 entries");
    }
    std::printf("  %s (%s): %d %s accepted, %d skipped; the accepted lines cover %llu %s%s\n", list.file,
                list.meaning, accepted, accepted == 1 ? "line" : "lines", skipped,
                static_cast<unsigned long long>(addresses), addresses == 1 ? "IPv4 address" : "IPv4 addresses",
                ipv6.c_str());
    for (const auto& line : lines) std::printf("%s\n", line.c_str());
  }
}

// Each line of "Crawlers.txt" as the filter reads it, and the DNS server the
// crawler check asks.
void CrawlersSection(LintRun& run) {
  using crawlers::CrawlerLine;
  std::printf("\ncrawlers (%s, for %s):\n", crawlers::kCrawlerListFile, crawlers::kCrawlerVariable);
  std::vector<std::string> lines;
  int accepted = 0;
  int skipped = 0;
  crawlers::CrawlerList list;
  const bool present = crawlers::LoadCrawlerList(
      run.settings.FolderPath, list, [&](int number, const std::string& text, const CrawlerLine& reading) {
        std::string line = "    line " + std::to_string(number) + ": ";
        if (!reading.accepted) {
          ++skipped;
          lines.push_back(line + "\"" + Printable(text) + "\": skipped: " + reading.reason);
          return;
        }
        ++accepted;
        const crawlers::Crawler& c = reading.crawler;
        std::string suffixes;
        for (const std::string& suffix : c.suffixes) suffixes += (suffixes.empty() ? "" : ", ") + suffix;
        lines.push_back(line + c.name + ": token \"" + Printable(c.token) + "\", suffixes " + suffixes);
      });
  if (!present) {
    std::printf("  %s: missing; %s is empty for every request\n", crawlers::kCrawlerListFile,
                crawlers::kCrawlerVariable);
    return;
  }
  std::printf("  %s: %d %s accepted, %d skipped\n", crawlers::kCrawlerListFile, accepted,
              accepted == 1 ? "crawler" : "crawlers", skipped);
  for (const auto& line : lines) std::printf("%s\n", line.c_str());
  const std::string& server = run.settings.CrawlerResolver;
  if (!crawlers::ResolverAvailable()) {
    std::printf("  resolver: none on this build; every claim is unknown\n");
  } else if (server.empty()) {
    std::printf("  resolver: the system's DNS servers\n");
  } else if (crawlers::ValidResolverAddress(server)) {
    std::printf("  resolver: %s (CrawlerResolver)\n", Printable(server).c_str());
  } else {
    std::printf("  resolver: the system's DNS servers: CrawlerResolver \"%s\" is not address:port\n",
                Printable(server).c_str());
  }
}

void SettingsSection(LintRun& run) {
  const FilterSettings& s = run.settings;
  std::printf("\nsettings:\n");
  std::printf("  Status: %s\n", Printable(s.Status).c_str());
  std::printf("  Dateline: %u\n", s.Dateline);
  std::printf("  LogMin: %u\n", s.LogMin);
  std::printf("  CacheMin: %d\n", s.CacheMin);
  std::printf("  MaxClients: %u\n", s.MaxClients);
  if (s.IPv6Prefix == 0) {
    std::printf("  IPv6Prefix: 0 (IPv6 clients pass unevaluated)\n");
  } else {
    std::printf("  IPv6Prefix: %d (IPv6 clients tracked by their /%d)\n", s.IPv6Prefix, s.IPv6Prefix);
  }
  if (s.PictureCodeEnabled()) {
    std::printf("  picture code: Length %d, Width %d, height %d\n", s.Length, s.Width, s.height);
  } else {
    std::printf("  picture code: disabled\n");
  }
  if (s.MetricsPath.empty()) {
    std::printf("  metrics page: off\n");
  } else {
    AddressRanges allowed;
    std::string refused;
    if (ParseAddressListText(s.MetricsAllow, ClientState::Allowed, allowed, refused)) {
      std::printf("  metrics page: %s, for %s\n", Printable(s.MetricsPath).c_str(), Printable(s.MetricsAllow).c_str());
    } else {
      std::printf("  metrics page: %s, for %s only: MetricsAllow is refused at the entry \"%s\"\n",
                  Printable(s.MetricsPath).c_str(), kDefaultMetricsAllow, Printable(refused).c_str());
    }
  }
  if (s.returnPage.empty()) {
    std::printf("  Return page: missing or empty (block answers carry no body)\n");
  } else {
    std::printf("  Return page: %zu bytes\n", s.returnPage.size());
  }
  if (s.CodePageLoaded()) {
    std::printf("  Code page: %zu bytes\n", s.codePage.size());
  } else if (!s.PictureCodeEnabled()) {
    std::printf("  Code page: not read (picture code disabled; action 3 acts as 0)\n");
  } else {
    std::printf("  Code page: missing or empty (action 3 acts as 0)\n");
  }
  if (run.registry.modules.empty()) {
    std::printf("  requestCap: none (no module loaded)\n");
  } else if (run.registry.requestCap == 0) {
    std::printf("  requestCap: 0 (no cap: a module can take part in any request)\n");
  } else {
    std::printf("  requestCap: %u\n", run.registry.requestCap);
  }
}

// Section Share, and whether its server answers. An unreachable server does
// not keep the filter from loading: it then runs as without sharing.
void ShareSection(LintRun& run) {
  const ShareSettings& s = run.settings.share;
  std::printf("\nsharing (section Share):\n");
  if (!s.Enabled()) {
    std::printf("  off (no Server)\n");
    return;
  }
  std::printf("  Server: %s\n", Printable(s.Server).c_str());
  std::printf("  Password: %s\n", s.Password.empty() ? "none" : "set (not shown)");
  std::printf("  Prefix: %s\n", Printable(s.Prefix).c_str());
  std::printf("  Database: %d\n", s.Database);
  std::string answer;
  if (share::ProbeServer(s, answer)) {
    std::printf("  the server answers: %s\n", answer.c_str());
  } else {
    std::printf("  the server does not answer: %s (the filter would run without sharing until it does)\n",
                answer.c_str());
  }
}

int Verdict(const LintRun& run) {
  if (run.blockers.empty()) {
    std::printf("\nresult: the filter would load with %zu of %zu module files\n",
                run.registry.modules.size(), run.registry.modulePaths.size());
    return 0;
  }
  std::printf("\nresult: the filter would not load:\n");
  for (const auto& reason : run.blockers) std::printf("  %s\n", reason.c_str());
  return 1;
}

void Usage(std::FILE* to) {
  std::fprintf(to,
               "usage: sentrel lint FOLDER\n"
               "Reads the settings folder FOLDER as the filter would at load and reports,\n"
               "in load order, each module file as loaded (with its number) or skipped\n"
               "(with the reason), the effective filter settings, and whether the filter\n"
               "would load, and each address-list line as listed (with the number of\n"
               "addresses it covers) or skipped (with the reason), each line of\n"
               "Crawlers.txt as read (name, token, suffixes) or skipped (with the reason),\n"
               "and the sharing settings with whether their server answers.\n"
               "Exit status: 0 it would load, 1 it would not, 2 usage error.\n");
}

}  // namespace

int RunLint(int argc, char** argv) {
  if (argc == 1 && (std::strcmp(argv[0], "-h") == 0 || std::strcmp(argv[0], "--help") == 0)) {
    Usage(stdout);
    return 0;
  }
  if (argc != 1 || argv[0][0] == '\0' || (argv[0][0] == '-' && argv[0][1] != '\0')) {
    Usage(stderr);
    return 2;
  }

  LintRun run;
  run.folderArgument = argv[0];
  if (ReadSettings(run)) {
    // Sections in report order; each may add reasons not to load.
    using Section = void (*)(LintRun&);
    for (Section section : {ModulesSection, AddressListsSection, CrawlersSection, SettingsSection, ShareSection}) {
      section(run);
    }
  }
  int status = Verdict(run);
  std::fflush(stdout);
  return status;
}

}  // namespace sentrel::tools
