// The filter-wide settings and response pages, read once at load from the
// bootstrap file and the settings folder, read-only afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace sentrel {

// About 240 bytes per client with eight modules (measured with addresses
// spread over the whole address space), so 4 000 000 clients keep the client
// table below about 1 GiB.
inline constexpr std::uint32_t kDefaultMaxClients = 4000000;

// IPv6Prefix: 0 leaves IPv6 clients unevaluated; any other value is held
// within this range (the leading bits by which IPv6 clients are tracked).
inline constexpr std::int32_t kMinIpv6Prefix = 32;
inline constexpr std::int32_t kMaxIpv6Prefix = 128;
// The key prefix of shared decisions when section Share does not name one.
inline constexpr char kDefaultSharePrefix[] = "sentrel";

// Section Share of "Config.ini": decisions shared with other filter instances
// through a Redis server. No Server, no sharing.
struct ShareSettings {
  std::string Server;    // "host:port" or the path of a Unix socket; empty = off
  std::string Password;  // sent with AUTH when not empty
  std::string Prefix = kDefaultSharePrefix;  // namespace of the keys
  std::int32_t Database = 0;                 // the database number

  bool Enabled() const { return !Server.empty(); }
};

// Who may read the metrics page when Config.ini does not say.
inline constexpr char kDefaultMetricsAllow[] = "127.0.0.1";

struct FilterSettings {
  std::string FolderPath;                     // the settings folder, ending in one backslash
  std::string Status = "404 Object Not Found";  // status line of every answer the filter gives
  std::uint32_t Dateline = 86400;             // filter-wide hold time, seconds
  std::uint32_t LogMin = 30;                  // collected log lines per block
  std::int32_t CacheMin = 5;                  // journal lines per batch
  std::uint32_t MaxClients = kDefaultMaxClients;  // client records the table may hold
  std::int32_t Length = 4;                    // picture-code digits; 0 = disabled
  std::int32_t Width = 300;                   // picture-code image width
  std::int32_t height = 100;                  // picture-code image height
  std::string returnPage;                     // body of the block answer
  std::string codePage;                       // body of the picture-code page
  std::string MetricsPath;                    // URL path of the metrics page; empty = off
  std::string MetricsAllow = kDefaultMetricsAllow;   // who may read it, address-list entries by commas
  std::int32_t IPv6Prefix = 0;                // IPv6 clients tracked by this many leading bits; 0 = not tracked
  std::string CrawlerResolver;                // DNS server of the crawler check, "address:port"; empty = the system's
  ShareSettings share;                        // section Share

  bool PictureCodeEnabled() const { return Length != 0; }
  bool CodePageLoaded() const { return PictureCodeEnabled() && !codePage.empty(); }
};

// The bootstrap file, relative to the process's current directory.
inline constexpr char kBootstrapFile[] = ".\\sh_Sentrel.ini";

// Whether a path exists as a directory (wantDirectory) or as a file (not).
bool PathExists(const std::string& path, bool wantDirectory);

// Appends one backslash, then collapses every pair of consecutive backslashes
// into one, left to right without overlap.
std::string NormalizeFolderPath(const std::string& folderPath);

// Reads FolderPath from the bootstrap file. False when it is empty or does not
// name an existing directory; on success `folderPath` is normalized.
bool ReadFolderPath(const std::string& bootstrapPath, std::string& folderPath);

// Reads Status, Dateline, LogMin, CacheMin, MaxClients, MetricsPath,
// MetricsAllow, IPv6Prefix and CrawlerResolver (kept as written) from folderPath + "Config.ini", with their defaults and
// clamps. MetricsAllow is kept as written (an empty value gives the
// default); the filter reads its entries when it sets up the metrics page.
void ReadGeneralSettings(FilterSettings& settings);

// Reads Server, Password, Prefix and Database from section Share of
// "Config.ini". An empty Prefix gives the default, a negative Database 0.
void ReadShareSettings(FilterSettings& settings);

// Reads Length, Width and height from section Code of "Config.ini".
void ReadPictureCodeSettings(FilterSettings& settings);

// Reads a response page line by line, each line followed by one line feed.
// A missing file, or a name that is a directory, gives the empty page.
std::string ReadResponsePage(const std::string& path);

}  // namespace sentrel
