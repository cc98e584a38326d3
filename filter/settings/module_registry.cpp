#include "filter/settings/module_registry.h"

#include <limits>

#include "filter/settings/module_reader.h"

namespace sentrel {

std::int32_t ModuleRegistry::AddModule(Module module) {
  const auto number = static_cast<std::int32_t>(modules.size() + 1);
  modules.push_back(std::move(module));
  ModuleProgress progress;
  progress.active = 1;
  progress.moduleNumber = static_cast<std::uint8_t>(number);
  progressTemplate.push_back(progress);
  return number;
}

namespace {

// a + b in unsigned 32 bits, held at the largest value instead of wrapping, so
// that a huge window or match count can never produce a small cap that would
// stop a module before it could complete.
std::uint32_t SaturatingAdd(std::uint32_t a, std::uint32_t b) {
  constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
  return (a > kMax - b) ? kMax : a + b;
}

}  // namespace

void ComputeRequestCap(ModuleRegistry& registry) {
  registry.requestCap = 0;
  std::uint32_t cap = 0;
  for (const Module& module : registry.modules) {
    if (module.setpLow == 0 || module.setpHigh == 0) return;
    std::uint32_t reach = module.setpLow;
    for (const Step& step : module.steps) {
      if (step.timesLow == 0 || step.timesHigh == 0) return;
      reach = SaturatingAdd(reach, step.timesHigh);
    }
    if (reach > cap) cap = reach;
  }
  registry.requestCap = cap;
}

bool LoadModules(ModuleRegistry& registry, const FilterSettings& settings, ActivityLog* log,
                 ModuleDiagnostics* diagnostics) {
  for (const std::string& path : registry.modulePaths) {
    ReadModuleFile(path, settings, registry, log, diagnostics);
  }
  if (registry.modules.empty() || registry.progressTemplate.empty()) return false;
  ComputeRequestCap(registry);
  return true;
}

}  // namespace sentrel
