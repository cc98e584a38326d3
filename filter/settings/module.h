// A loaded behaviour module with its steps and rules, and the per-client
// progress through one module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sentrel {

// The three log keys of a module or a step. All empty when it writes no line.
struct LogSpec {
  std::string LogName;
  std::string LogFileName;
  std::string LogContent;
};

struct Rule {
  std::string parameter;  // server-variable name, upper case
  std::string pattern;    // may be empty
  bool compare = true;    // true wants a match, false wants no match
};

struct Step {
  std::uint32_t timesLow = 0;
  std::uint32_t timesHigh = 0;
  LogSpec log;
  std::vector<Rule> rules;
};

// What a module does when it fires, stored as these values in the module
// file's Execute key. Each deciding action sets the client state of the same
// value.
enum class ModuleAction : std::uint8_t {
  Block = 0,
  LogOnly = 1,
  Allow = 2,
  PictureCode = 3,
};

struct Module {
  std::string name;
  ModuleAction execute = ModuleAction::Block;
  std::uint32_t setpLow = 0;
  std::uint32_t setpHigh = 0;
  std::int32_t stepCount = 0;
  LogSpec log;
  std::vector<Step> steps;  // step number i is steps[i - 1]
  std::int32_t times = 1;
  std::int32_t dateline = 0;

  // The step with the given number, or nullptr when there is none.
  const Step* StepAt(std::uint32_t number) const {
    if (number == 0 || number > steps.size()) return nullptr;
    return &steps[number - 1];
  }
};

// One client's progress through one module, in 8 bytes: every field is as
// narrow as its range allows (module numbers up to kMaxModuleFiles, steps up
// to kMaxStepCount + 1); `passes` is only ever compared with a module's Times
// (at most kMaxModuleTimes), so it stops counting at 255 instead of wrapping.
struct ModuleProgress {
  std::uint8_t active = 1;
  std::uint8_t moduleNumber = 0;
  std::uint8_t currentStep = 0;
  std::uint8_t passes = 0;
  std::uint32_t stepHits = 0;  // up to a step's upper Times, any 31-bit value

  void CountPass() {
    if (passes != 0xFF) ++passes;
  }
};

}  // namespace sentrel
