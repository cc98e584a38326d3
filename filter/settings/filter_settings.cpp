#include "filter/settings/filter_settings.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/profile.h"

namespace sentrel {

bool PathExists(const std::string& path, bool wantDirectory) {
  std::uint32_t attributes = platform::GetFileAttributes(path);
  if (attributes == platform::kInvalidAttributes) return false;
  bool isDirectory = (attributes & platform::kAttrDirectory) != 0;
  return isDirectory ? wantDirectory : !wantDirectory;
}

std::string NormalizeFolderPath(const std::string& folderPath) {
  std::string withSlash = folderPath + "\\";
  std::string out;
  out.reserve(withSlash.size());
  for (std::size_t i = 0; i < withSlash.size(); ++i) {
    out += withSlash[i];
    if (withSlash[i] == '\\' && i + 1 < withSlash.size() && withSlash[i + 1] == '\\') ++i;
  }
  return out;
}

bool ReadFolderPath(const std::string& bootstrapPath, std::string& folderPath) {
  std::string value = platform::ReadProfileString(bootstrapPath, "Config", "FolderPath", "", 1024);
  if (value.empty()) return false;
  if (!PathExists(value, true)) return false;
  folderPath = NormalizeFolderPath(value);
  return true;
}

void ReadGeneralSettings(FilterSettings& s) {
  const std::string config = s.FolderPath + "Config.ini";
  s.Status = platform::ReadProfileString(config, "Config", "Status", "404 Object Not Found", 1024);

  auto dateline = static_cast<std::uint32_t>(platform::ReadProfileInt(config, "Config", "Dateline", 86400));
  s.Dateline = (dateline == 0 || dateline > 604800) ? 86400 : dateline;

  auto logMin = static_cast<std::uint32_t>(platform::ReadProfileInt(config, "Config", "LogMin", 30));
  s.LogMin = (logMin == 0 || logMin > 1024) ? 30 : logMin;

  // The journal's pending count is 16 bits wide: a larger batch could never
  // be reached, so it is held at the largest count that can be.
  std::int32_t cacheMin = platform::ReadProfileInt(config, "Config", "CacheMin", 5);
  if (cacheMin < 0) cacheMin = 1;
  if (cacheMin > 65535) cacheMin = 65535;
  s.CacheMin = cacheMin;

  // 0, a negative value or no value at all: the default bound.
  const std::int32_t maxClients = platform::ReadProfileInt(config, "Config", "MaxClients", 0);
  s.MaxClients = maxClients <= 0 ? kDefaultMaxClients : static_cast<std::uint32_t>(maxClients);
  s.MetricsPath = platform::ReadProfileString(config, "Config", "MetricsPath", "", 1024);
  s.MetricsAllow = platform::ReadProfileString(config, "Config", "MetricsAllow", kDefaultMetricsAllow, 1024);
  if (s.MetricsAllow.empty()) s.MetricsAllow = kDefaultMetricsAllow;
  s.CrawlerResolver = platform::ReadProfileString(config, "Config", "CrawlerResolver", "", 1024);

  // 0 (or no value) keeps IPv6 clients unevaluated; any other value, a
  // negative one too, is held within 32 to 128.
  const std::int32_t ipv6Prefix = platform::ReadProfileInt(config, "Config", "IPv6Prefix", 0);
  s.IPv6Prefix = ipv6Prefix == 0 ? 0 : std::clamp(ipv6Prefix, kMinIpv6Prefix, kMaxIpv6Prefix);
}

void ReadShareSettings(FilterSettings& s) {
  const std::string config = s.FolderPath + "Config.ini";
  ShareSettings& share = s.share;
  share.Server = platform::ReadProfileString(config, "Share", "Server", "", 1024);
  share.Password = platform::ReadProfileString(config, "Share", "Password", "", 1024);
  share.Prefix = platform::ReadProfileString(config, "Share", "Prefix", kDefaultSharePrefix, 256);
  if (share.Prefix.empty()) share.Prefix = kDefaultSharePrefix;
  const std::int32_t database = platform::ReadProfileInt(config, "Share", "Database", 0);
  share.Database = database < 0 ? 0 : database;
}

void ReadPictureCodeSettings(FilterSettings& s) {
  const std::string config = s.FolderPath + "Config.ini";
  std::int32_t length = platform::ReadProfileInt(config, "Code", "Length", 4);
  if (length < 1 || length > 24) {
    s.Length = 0;
    return;
  }
  s.Length = length;
  std::int32_t width = platform::ReadProfileInt(config, "Code", "Width", 300);
  s.Width = (width < 1 || width > 512) ? 300 : width;
  std::int32_t height = platform::ReadProfileInt(config, "Code", "height", 100);
  s.height = (height < 1 || height > 512) ? 100 : height;
}

std::string ReadResponsePage(const std::string& path) {
  std::string page;
  if (PathExists(path, true)) return page;
  platform::TextFile in;
  if (!in.Open(path, platform::TextFile::Mode::Read)) return page;
  std::string line;
  while (in.ReadLine(line)) {
    page += line;
    page += '\n';
  }
  return page;
}

}  // namespace sentrel
