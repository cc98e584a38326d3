#include "filter/settings/module_registry.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace sentrel {

bool ScanModuleFolder(const std::string& folder, ModuleRegistry& registry) {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(folder, entries)) return false;
  for (const auto& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    const std::string path = folder + "\\" + entry.name;
    // Only a plain folder is entered: hidden, read-only or linked folders are
    // not, and a link can therefore never lead the scan in a circle.
    if (entry.attributes == platform::kAttrDirectory) {
      ScanModuleFolder(path, registry);
      continue;
    }
    if (entry.name.find(".ini") == std::string::npos) continue;
    int priority = platform::ReadProfileInt(path, "Config", "Priority", 0);
    if (priority == 0) {
      registry.scanLast.push_back(path);
    } else if (priority == 2) {
      registry.scanFirst.push_back(path);
    } else {
      registry.scanMiddle.push_back(path);
    }
  }
  return true;
}

void ModuleRegistry::OrderScannedPaths() {
  for (auto* list : {&scanFirst, &scanMiddle, &scanLast}) {
    modulePaths.insert(modulePaths.end(), list->begin(), list->end());
    list->clear();
  }
}

}  // namespace sentrel
