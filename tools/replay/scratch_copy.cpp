#include "tools/replay/scratch_copy.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/profile.h"

namespace sentrel::replay {

namespace fs = std::filesystem;

ScratchCopy::~ScratchCopy() {
  if (root_.empty() || keep_) return;
  // A copied read-only folder would stop the removal of its files.
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root_, ec);
}

bool ScratchCopy::Make(const std::string& folder, const std::string& parent, bool withJournal,
                       std::string& problem) {
  std::error_code ec;
  const fs::path source = fs::absolute(folder, ec);
  if (ec || !fs::is_directory(source, ec)) {
    problem = folder + ": not an existing folder";
    return false;
  }
  std::string pattern =
      ((parent.empty() ? fs::temp_directory_path(ec) : fs::path(parent)) / "sentrel-replay-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    problem = "cannot make a scratch folder like " + pattern;
    return false;
  }
  root_ = pattern;
  const fs::path site = Settings();

  try {
    fs::create_directory(site);
    for (const fs::directory_entry& entry : fs::directory_iterator(source)) {
      const std::string name = entry.path().filename().string();
      if (name == "Log") continue;
      if (name == "Cache" && !withJournal) continue;
      fs::copy(entry.path(), site / name, fs::copy_options::recursive);
    }
    fs::create_directories(site / "Log");
    fs::create_directories(site / "Cache");
    // A dry run keeps its decisions to itself: they never reach the Redis
    // server a live site shares its decisions through.
    if (fs::exists(site / "Config.ini")) {
      platform::WriteProfileString((site / "Config.ini").string(), "Share", "Server", "");
    }
    // The copy is ours to write in, whatever the live folder's permissions.
    for (const auto& entry : fs::recursive_directory_iterator(site)) {
      if (entry.is_directory()) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
    }
  } catch (const fs::filesystem_error& e) {
    problem = std::string("cannot copy the settings folder: ") + e.what();
    return false;
  }

  std::ofstream bootstrap(Bootstrap(), std::ios::binary | std::ios::trunc);
  bootstrap << "[Config]\r\nFolderPath=" << site.string() << "\r\n";
  bootstrap.close();
  if (!bootstrap) {
    problem = "cannot write " + Bootstrap();
    return false;
  }
  return true;
}

}  // namespace sentrel::replay
