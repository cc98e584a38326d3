// The loaded modules' rules made ready for the request path: each rule's
// compiled pattern found once, not looked up by its text at every test, and
// each variable name the rules test numbered, so that an evaluation keeps the
// values it has read in numbered slots instead of searching them by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "filter/pattern/pattern_cache.h"
#include "filter/settings/module_registry.h"

namespace sentrel {

struct PreparedRule {
  // The compiled pattern; null for an empty pattern, or when the cache was
  // full (the rule is then tested through the cache by its text).
  const pattern::RulePattern* compiled = nullptr;
  std::uint32_t variable = 0;  // number of the variable name it tests
};

class PreparedRules {
 public:
  // Prepares every rule of the registry's modules. Called once the modules
  // are loaded and before any request is evaluated against them.
  void Build(const ModuleRegistry& registry, pattern::PatternCache& patterns);

  // The prepared rules of step `step` (from 1) of module `module` (from 1),
  // in the order of the step's rules; null when that step was not prepared.
  const PreparedRule* StepRules(std::int32_t module, std::uint32_t step) const {
    if (module < 1 || static_cast<std::size_t>(module) > moduleSteps_.size()) return nullptr;
    const std::vector<std::uint32_t>& steps = moduleSteps_[static_cast<std::size_t>(module) - 1];
    if (step == 0 || step > steps.size()) return nullptr;
    return rules_.data() + steps[step - 1];
  }

  std::size_t VariableCount() const { return variables_.size(); }
  const std::string& VariableName(std::uint32_t number) const { return variables_[number]; }

 private:
  std::vector<PreparedRule> rules_;
  std::vector<std::vector<std::uint32_t>> moduleSteps_;  // per module, each step's first rule
  std::vector<std::string> variables_;
};

}  // namespace sentrel
