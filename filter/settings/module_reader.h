// Reading and checking one module file, and the diagnostics an administrator
// gets about it.
//
// A module file is refused as a whole at its first failed check; nothing of a
// refused file is kept. The filter itself reads without a diagnostic sink and
// skips refused files silently; tools pass a sink to learn which section, key,
// value and check made a file unusable, and which values were adjusted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "filter/settings/filter_settings.h"
#include "filter/settings/module.h"

namespace sentrel {

class ActivityLog;
struct ModuleRegistry;

// The only module file version the filter reads.
inline constexpr char kModuleVersion[] = "4.3.0";

// Fixed maximum byte lengths of module file values; longer values are cut.
inline constexpr std::size_t kShortValueMax = 63;    // Version, Setp, step Times
inline constexpr std::size_t kValueMax = 255;        // names, log name and file, rules
inline constexpr std::size_t kLongValueMax = 1023;   // LogContent

// Bounds of the counts and clamped numbers of a module file.
inline constexpr int kMaxStepCount = 128;
inline constexpr int kMaxRuleCount = 128;
inline constexpr int kMaxModuleTimes = 128;
inline constexpr int kMaxModuleDateline = 604800;

// True when `text` is non-empty and every byte is one of "0" to "9".
bool IsAllDigits(std::string_view text);

// The two kinds of range text: a module's request window (`Setp`) and a
// step's match count (`Times`).
enum class RangeKind : std::uint8_t { Setp, StepTimes };

enum class RangeError : std::uint8_t {
  None = 0,
  NotDigits,     // empty, or something other than digits once every "-" is removed
  LowBelowOne,   // Setp "A-B" with A of 0
  HighBelowLow,  // B below A
  HighZero,      // a step Times whose upper bound is 0
};

struct RangeValue {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
};

// Parses and checks a range text: one number N (N..N, 0 giving 0..0) or
// "A-B", split at the first "-", each side's leading number taken, an empty
// side giving 0. `range` is set only when the text is valid.
RangeError ParseRangeText(std::string_view text, RangeKind kind, RangeValue& range);

// What a diagnostic is about: a refusal (the first failed check) or an
// adjustment the reader made to a value while accepting it.
enum class ModuleIssue : std::uint8_t {
  // Refusals, in the order the checks run.
  PathEmpty,           // no file path at all
  VersionMismatch,     // About/Version is not exactly "4.3.0"
  NameEmpty,           // About/Name present but empty
  ExecuteOutOfRange,   // Cofing/Execute missing or outside 0 to 3
  SetpInvalid,         // Cofing/Setp is not a valid window (see `range`)
  StepCountOutOfRange, // Step/Count outside 1 to 128
  StepSectionMissing,  // Step entry i names no section
  StepTimesInvalid,    // a step's Times is not a valid match count (see `range`)
  RuleCountOutOfRange, // a step's Count outside 1 to 128
  RuleParameterEmpty,  // a rule's "%d_Parameter" missing or empty
  // Adjustments of an accepted value.
  ValueCut,            // a text longer than its maximum, cut
  ExecuteAsBlock,      // Execute 3 read as 0: no Code page is loaded
  LogCleared,          // LogName or LogContent empty: the three log keys cleared
  TimesReplaced,       // Cofing/Times outside 0 to 128, read as 1
  DatelineReplaced,    // Cofing/Dateline outside 0 to 604800, filter-wide value taken
};

// One diagnostic. Section, key and value are code-page bytes. For a refusal
// the value is the key's value as it stands in the file (up to 1023 bytes),
// `missing` telling an absent key from an empty value; for ValueCut it is the
// whole value before the cut; for other adjustments the value that was
// replaced.
struct ModuleFinding {
  ModuleIssue issue = ModuleIssue::PathEmpty;
  std::string path;
  std::string section;
  std::string key;
  std::string value;
  bool missing = false;
  RangeError range = RangeError::None;  // SetpInvalid and StepTimesInvalid
  std::int32_t stepNumber = 0;          // 0 outside a step
  std::int32_t ruleNumber = 0;          // 0 outside a rule
  std::size_t limit = 0;                // ValueCut: the maximum byte count kept
};

// A short English description of an issue, and of a range error.
const char* DescribeIssue(ModuleIssue issue);
const char* DescribeRangeError(RangeError error);
bool IsRefusal(ModuleIssue issue);

// Receives what the reader finds. Every method has an empty default.
class ModuleDiagnostics {
 public:
  virtual ~ModuleDiagnostics() = default;
  // The file is unusable; `finding` names the first failed check.
  virtual void Refused(const ModuleFinding& /*finding*/) {}
  // A value was adjusted while reading (the file may still be refused later).
  virtual void Adjusted(const ModuleFinding& /*finding*/) {}
  // The file was loaded as module `number` (called by ReadModuleFile).
  virtual void Loaded(const std::string& /*path*/, std::int32_t /*number*/,
                      const Module& /*module*/) {}
};

// Reads and checks one step section of the module file at `path` into `step`.
// `stepNumber` only labels diagnostics. False when the step is unusable.
bool ReadStep(const std::string& path, const std::string& section, Step& step,
              ModuleDiagnostics* diagnostics = nullptr, std::int32_t stepNumber = 0);

// Reads and checks a whole module file into `module`, in the fixed order of
// checks. Needs of the settings: whether the Code page is loaded and the
// filter-wide Dateline. False at the first failed check; `module` is then
// left as it was.
bool ReadModule(const std::string& path, const FilterSettings& settings, Module& module,
                ModuleDiagnostics* diagnostics = nullptr);

// Reads one module file and, when it is usable, adds it to the registry under
// the next module number with its progress item, and logs "%s\t模块读取成功"
// with its name to the log named "Log" (when `log` is given).
bool ReadModuleFile(const std::string& path, const FilterSettings& settings,
                    ModuleRegistry& registry, ActivityLog* log,
                    ModuleDiagnostics* diagnostics = nullptr);

// The program message for a module read successfully.
std::string ModuleReadMessage(const std::string& name);

}  // namespace sentrel
