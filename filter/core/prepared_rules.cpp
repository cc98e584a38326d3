#include "filter/core/prepared_rules.h"

namespace sentrel {

void PreparedRules::Build(const ModuleRegistry& registry, pattern::PatternCache& patterns) {
  rules_.clear();
  moduleSteps_.clear();
  variables_.clear();
  for (const Module& module : registry.modules) {
    std::vector<std::uint32_t>& steps = moduleSteps_.emplace_back();
    for (const Step& step : module.steps) {
      steps.push_back(static_cast<std::uint32_t>(rules_.size()));
      for (const Rule& rule : step.rules) {
        PreparedRule& prepared = rules_.emplace_back();
        if (!rule.pattern.empty()) prepared.compiled = patterns.Held(rule.pattern);
        std::uint32_t number = 0;
        while (number < variables_.size() && variables_[number] != rule.parameter) ++number;
        if (number == variables_.size()) variables_.push_back(rule.parameter);
        prepared.variable = number;
      }
    }
  }
}

}  // namespace sentrel
