// The process-wide registry of module files and loaded modules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filter/settings/filter_settings.h"
#include "filter/settings/module.h"

namespace sentrel {

// Most module files the filter loads.
inline constexpr std::size_t kMaxModuleFiles = 64;

struct ModuleRegistry {
  // Module file paths found by the folder scan, one list per priority group:
  // priority 2, any other priority, priority 0. Used only while loading.
  std::vector<std::string> scanFirst;
  std::vector<std::string> scanMiddle;
  std::vector<std::string> scanLast;

  // Every module file path, in loading order.
  std::vector<std::string> modulePaths;
  // Loaded modules; module number n is modules[n - 1].
  std::vector<Module> modules;
  // One progress item per loaded module, in module-number order.
  std::vector<ModuleProgress> progressTemplate;
  // Request number from which no module runs for a client; 0 = no cap.
  std::uint32_t requestCap = 0;

  // The module with the given number, or nullptr.
  const Module* ModuleAt(std::int32_t number) const {
    if (number < 1 || static_cast<std::size_t>(number) > modules.size()) return nullptr;
    return &modules[static_cast<std::size_t>(number) - 1];
  }

  // Puts the scan lists into modulePaths (priority 2, other, 0) and empties them.
  void OrderScannedPaths();

  // Adds a loaded module under the next number (one more than the modules
  // loaded so far) with a fresh progress item; returns that number.
  std::int32_t AddModule(Module module);
};

class ActivityLog;
class ModuleDiagnostics;

// Sets requestCap from the loaded modules: 0 (no cap) when any module can take
// part in requests without bound (no request window, or a step whose match
// count starts or ends at 0), else the largest reach, a module's reach being
// its window's lower bound plus the upper bounds of its steps' match counts.
void ComputeRequestCap(ModuleRegistry& registry);

// The module stage of the start-up: reads every path of modulePaths in order
// (each usable file numbered and logged, unusable ones skipped), then computes
// the request cap. Returns false when no module could be loaded. The log and
// the diagnostic sink are optional.
bool LoadModules(ModuleRegistry& registry, const FilterSettings& settings, ActivityLog* log,
                 ModuleDiagnostics* diagnostics = nullptr);

// Scans a module folder (no trailing backslash) recursively for files whose
// name contains ".ini", sorting each into the registry's scan list of its
// Config/Priority. False when the folder cannot be listed.
bool ScanModuleFolder(const std::string& folder, ModuleRegistry& registry);

}  // namespace sentrel
