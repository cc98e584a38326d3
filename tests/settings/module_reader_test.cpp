// Reading and checking module files: the worked example, the order of checks,
// the fixed maximum lengths, the clamps, and input that is not a module file.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "filter/settings/module_reader.h"
#include "tests/settings/module_fixtures.h"

namespace sentrel {
namespace {

using test::IniText;
using test::ProbeModule;
using test::RecordingSink;
using test::TempFolder;

FilterSettings SettingsWithCodePage(bool codePage) {
  FilterSettings settings;
  settings.Dateline = 500;
  if (codePage) {
    settings.Length = 4;
    settings.codePage = "<html>code</html>\n";
  } else {
    settings.Length = 0;
  }
  return settings;
}

class ModuleReaderTest : public ::testing::Test {
 protected:
  // Writes the text as a module file and reads it; records what the reader says.
  bool Read(const std::string& text, Module& module, bool codePage = true) {
    const std::string path = folder_.File("Action/m.ini");
    folder_.Write("Action/m.ini", text);
    sink_ = RecordingSink{};
    return ReadModule(path, SettingsWithCodePage(codePage), module, &sink_);
  }
  bool Read(const IniText& ini, Module& module, bool codePage = true) {
    return Read(ini.Text(), module, codePage);
  }

  TempFolder folder_;
  RecordingSink sink_;
};

TEST_F(ModuleReaderTest, WorkedExampleReadsAsDescribed) {
  Module m;
  ASSERT_TRUE(Read(ProbeModule(), m));
  EXPECT_TRUE(sink_.refusals.empty());
  EXPECT_TRUE(sink_.adjustments.empty());

  EXPECT_EQ(m.name, "Probe check");
  EXPECT_EQ(m.execute, ModuleAction::Block);
  EXPECT_EQ(m.setpLow, 1u);
  EXPECT_EQ(m.setpHigh, 10u);
  EXPECT_EQ(m.stepCount, 1);
  EXPECT_EQ(m.log.LogName, "Probe");
  EXPECT_EQ(m.log.LogFileName, "");
  EXPECT_EQ(m.log.LogContent, "{TIME} {S(REMOTE_ADDR)}");
  EXPECT_EQ(m.times, 1);
  EXPECT_EQ(m.dateline, 3600);

  ASSERT_EQ(m.steps.size(), 1u);
  const Step& step = m.steps[0];
  EXPECT_EQ(step.timesLow, 3u);
  EXPECT_EQ(step.timesHigh, 3u);
  EXPECT_TRUE(step.log.LogName.empty() && step.log.LogFileName.empty() &&
              step.log.LogContent.empty());
  ASSERT_EQ(step.rules.size(), 2u);
  EXPECT_EQ(step.rules[0].parameter, "REMOTE_ADDR");
  EXPECT_EQ(step.rules[0].pattern, "^10\\.");
  EXPECT_TRUE(step.rules[0].compare);
  EXPECT_EQ(step.rules[1].parameter, "QUERY_STRING");
  EXPECT_EQ(step.rules[1].pattern, "");
  EXPECT_FALSE(step.rules[1].compare);
  EXPECT_EQ(m.StepAt(1), &m.steps[0]);
}

struct RefusalCase {
  const char* what;
  IniText ini;
  ModuleIssue issue;
  const char* section;
  const char* key;
  bool missing;
  RangeError range = RangeError::None;
  std::int32_t stepNumber = 0;
  std::int32_t ruleNumber = 0;
};

std::vector<RefusalCase> RefusalCases() {
  using I = ModuleIssue;
  using R = RangeError;
  std::vector<RefusalCase> cases = {
      {"version 4.3.1", ProbeModule().Set("About", "Version", "4.3.1"), I::VersionMismatch, "About", "Version", false},
      {"version 4.3.0.0", ProbeModule().Set("About", "Version", "4.3.0.0"), I::VersionMismatch, "About", "Version", false},
      {"version in other case", ProbeModule().Set("About", "Version", "4.3.0A"), I::VersionMismatch, "About", "Version", false},
      {"version missing", ProbeModule().Remove("About", "Version"), I::VersionMismatch, "About", "Version", true},
      {"no About section", ProbeModule().RemoveSection("About"), I::VersionMismatch, "About", "Version", true},
      {"name empty", ProbeModule().Set("About", "Name", ""), I::NameEmpty, "About", "Name", false},
      {"execute 4", ProbeModule().Set("Cofing", "Execute", "4"), I::ExecuteOutOfRange, "Cofing", "Execute", false},
      {"execute -1", ProbeModule().Set("Cofing", "Execute", "-1"), I::ExecuteOutOfRange, "Cofing", "Execute", false},
      {"execute missing", ProbeModule().Remove("Cofing", "Execute"), I::ExecuteOutOfRange, "Cofing", "Execute", true},
      {"execute empty", ProbeModule().Set("Cofing", "Execute", ""), I::ExecuteOutOfRange, "Cofing", "Execute", false},
      {"no Cofing section", ProbeModule().RemoveSection("Cofing"), I::ExecuteOutOfRange, "Cofing", "Execute", true},
      {"setp 0-10", ProbeModule().Set("Cofing", "Setp", "0-10"), I::SetpInvalid, "Cofing", "Setp", false, R::LowBelowOne},
      {"setp 10-3", ProbeModule().Set("Cofing", "Setp", "10-3"), I::SetpInvalid, "Cofing", "Setp", false, R::HighBelowLow},
      {"setp 3-", ProbeModule().Set("Cofing", "Setp", "3-"), I::SetpInvalid, "Cofing", "Setp", false, R::HighBelowLow},
      {"setp -3", ProbeModule().Set("Cofing", "Setp", "-3"), I::SetpInvalid, "Cofing", "Setp", false, R::LowBelowOne},
      {"setp empty", ProbeModule().Set("Cofing", "Setp", ""), I::SetpInvalid, "Cofing", "Setp", false, R::NotDigits},
      {"setp missing", ProbeModule().Remove("Cofing", "Setp"), I::SetpInvalid, "Cofing", "Setp", true, R::NotDigits},
      {"setp letter", ProbeModule().Set("Cofing", "Setp", "a"), I::SetpInvalid, "Cofing", "Setp", false, R::NotDigits},
      {"step count 0", ProbeModule().Set("Step", "Count", "0"), I::StepCountOutOfRange, "Step", "Count", false},
      {"step count 129", ProbeModule().Set("Step", "Count", "129"), I::StepCountOutOfRange, "Step", "Count", false},
      {"step count missing", ProbeModule().Remove("Step", "Count"), I::StepCountOutOfRange, "Step", "Count", true},
      {"no Step section", ProbeModule().RemoveSection("Step"), I::StepCountOutOfRange, "Step", "Count", true},
      {"step entry empty", ProbeModule().Set("Step", "1", ""), I::StepSectionMissing, "Step", "1", false},
      {"step entry missing", ProbeModule().Remove("Step", "1"), I::StepSectionMissing, "Step", "1", true},
      {"second step entry missing", ProbeModule().Set("Step", "Count", "2"), I::StepSectionMissing, "Step", "2", true},
      {"step section missing", ProbeModule().RemoveSection("Probe"), I::StepTimesInvalid, "Probe", "Times", true, R::NotDigits, 1},
      {"step times 0", ProbeModule().Set("Probe", "Times", "0"), I::StepTimesInvalid, "Probe", "Times", false, R::HighZero, 1},
      {"step times 5-2", ProbeModule().Set("Probe", "Times", "5-2"), I::StepTimesInvalid, "Probe", "Times", false, R::HighBelowLow, 1},
      {"step times missing", ProbeModule().Remove("Probe", "Times"), I::StepTimesInvalid, "Probe", "Times", true, R::NotDigits, 1},
      {"rule count 0", ProbeModule().Set("Probe", "Count", "0"), I::RuleCountOutOfRange, "Probe", "Count", false, R::None, 1},
      {"rule count 129", ProbeModule().Set("Probe", "Count", "129"), I::RuleCountOutOfRange, "Probe", "Count", false, R::None, 1},
      {"rule count missing", ProbeModule().Remove("Probe", "Count"), I::RuleCountOutOfRange, "Probe", "Count", true, R::None, 1},
      {"parameter empty", ProbeModule().Set("Probe", "1_Parameter", ""), I::RuleParameterEmpty, "Probe", "1_Parameter", false, R::None, 1, 1},
      {"second parameter missing", ProbeModule().Remove("Probe", "2_Parameter"), I::RuleParameterEmpty, "Probe", "2_Parameter", true, R::None, 1, 2},
      {"third rule beyond the keys", ProbeModule().Set("Probe", "Count", "3"), I::RuleParameterEmpty, "Probe", "3_Parameter", true, R::None, 1, 3},
      // The first failed check decides, whatever else is wrong later on.
      {"version before name", ProbeModule().Set("About", "Version", "4").Set("About", "Name", ""), I::VersionMismatch, "About", "Version", false},
      {"name before execute", ProbeModule().Set("About", "Name", "").Set("Cofing", "Execute", "9"), I::NameEmpty, "About", "Name", false},
      {"execute before setp", ProbeModule().Set("Cofing", "Execute", "9").Set("Cofing", "Setp", "x"), I::ExecuteOutOfRange, "Cofing", "Execute", false},
      {"setp before step count", ProbeModule().Set("Cofing", "Setp", "x").Set("Step", "Count", "0"), I::SetpInvalid, "Cofing", "Setp", false, R::NotDigits},
      {"step count before steps", ProbeModule().Set("Step", "Count", "0").Set("Probe", "Times", "0"), I::StepCountOutOfRange, "Step", "Count", false},
      {"times before rule count", ProbeModule().Set("Probe", "Times", "0").Set("Probe", "Count", "0"), I::StepTimesInvalid, "Probe", "Times", false, R::HighZero, 1},
      {"rule count before parameters", ProbeModule().Set("Probe", "Count", "200").Set("Probe", "1_Parameter", ""), I::RuleCountOutOfRange, "Probe", "Count", false, R::None, 1},
  };
  // A later step fails after an earlier one was read.
  IniText twoSteps = ProbeModule();
  twoSteps.Set("Step", "Count", "2").Set("Step", "2", "Second");
  twoSteps.Set("Second", "Times", "1").Set("Second", "Count", "1");
  cases.push_back({"second step's parameter", twoSteps, I::RuleParameterEmpty, "Second", "1_Parameter", true, R::None, 2, 1});
  return cases;
}

TEST_F(ModuleReaderTest, RefusalsNameTheFirstFailedCheck) {
  for (const auto& c : RefusalCases()) {
    SCOPED_TRACE(c.what);
    Module m;
    m.name = "untouched";
    ASSERT_FALSE(Read(c.ini, m));
    EXPECT_EQ(m.name, "untouched");
    EXPECT_TRUE(m.steps.empty());
    ASSERT_EQ(sink_.refusals.size(), 1u);
    const ModuleFinding& f = sink_.refusals[0];
    EXPECT_EQ(f.issue, c.issue);
    EXPECT_TRUE(IsRefusal(f.issue));
    EXPECT_EQ(f.section, c.section);
    EXPECT_EQ(f.key, c.key);
    EXPECT_EQ(f.missing, c.missing);
    EXPECT_EQ(f.range, c.range);
    EXPECT_EQ(f.stepNumber, c.stepNumber);
    EXPECT_EQ(f.ruleNumber, c.ruleNumber);
    EXPECT_EQ(f.path, folder_.File("Action/m.ini"));
    EXPECT_TRUE(sink_.loaded.empty());

    // The filter reads without a sink and refuses just the same.
    Module silent;
    EXPECT_FALSE(ReadModule(f.path, SettingsWithCodePage(true), silent, nullptr));
  }
}

TEST_F(ModuleReaderTest, RefusalReportsTheValueAsWritten) {
  Module m;
  ASSERT_FALSE(Read(ProbeModule().Set("Cofing", "Setp", " 10-3 "), m));
  ASSERT_EQ(sink_.refusals.size(), 1u);
  EXPECT_EQ(sink_.refusals[0].value, "10-3");
  ASSERT_FALSE(Read(ProbeModule().Set("Cofing", "Execute", "7 apples"), m));
  EXPECT_EQ(sink_.refusals[0].value, "7 apples");
}

TEST_F(ModuleReaderTest, AcceptedVariants) {
  struct Case {
    const char* what;
    IniText ini;
  };
  IniText otherCases;
  otherCases.Set("about", "version", "4.3.0").Set("about", "NAME", "n");
  otherCases.Set("COFING", "execute", "1").Set("COFING", "SETP", "0");
  otherCases.Set("step", "count", "1").Set("step", "1", "s");
  otherCases.Set("S", "times", "1").Set("S", "count", "1").Set("S", "1_parameter", "url");
  const Case cases[] = {
      {"blanks around the version", ProbeModule().Set("About", "Version", "  4.3.0  ")},
      {"names in other cases", otherCases},
      {"execute not a number reads as 0", ProbeModule().Set("Cofing", "Execute", "x")},
      {"setp 1-2-3", ProbeModule().Set("Cofing", "Setp", "1-2-3")},
      {"keys beyond the counts are not read", ProbeModule().Set("Step", "2", "").Set("Probe", "3_Parameter", "")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Module m;
    EXPECT_TRUE(Read(c.ini, m));
    EXPECT_TRUE(sink_.refusals.empty());
  }
}

TEST_F(ModuleReaderTest, CountsOf128AreAccepted) {
  IniText big = ProbeModule().Set("Step", "Count", "128");
  for (int i = 1; i <= 128; ++i) big.Set("Step", std::to_string(i), "Probe");
  big.Set("Probe", "Count", "128");
  for (int j = 3; j <= 128; ++j) big.Set("Probe", std::to_string(j) + "_Parameter", "URL");
  Module m;
  ASSERT_TRUE(Read(big, m));
  EXPECT_EQ(m.stepCount, 128);
  ASSERT_EQ(m.steps.size(), 128u);
  EXPECT_EQ(m.steps[127].rules.size(), 128u);
  EXPECT_EQ(m.steps[127].rules[127].parameter, "URL");
}

TEST_F(ModuleReaderTest, NameDefaultsWhenTheKeyIsMissing) {
  Module m;
  ASSERT_TRUE(Read(ProbeModule().Remove("About", "Name"), m));
  EXPECT_EQ(m.name, "NoName");
}

TEST_F(ModuleReaderTest, ActionAndPictureCode) {
  struct Case {
    std::string execute;
    bool codePage;
    ModuleAction expected;
    bool adjusted;
  };
  using A = ModuleAction;
  const Case cases[] = {
      {"0", true, A::Block, false},       {"1", true, A::LogOnly, false}, {"2", false, A::Allow, false},
      {"3", true, A::PictureCode, false}, {"3", false, A::Block, true},   {"x", true, A::Block, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.execute + (c.codePage ? " with Code page" : " without Code page"));
    Module m;
    ASSERT_TRUE(Read(ProbeModule().Set("Cofing", "Execute", c.execute), m, c.codePage));
    EXPECT_EQ(m.execute, c.expected);
    EXPECT_EQ(sink_.HasAdjustment(ModuleIssue::ExecuteAsBlock), c.adjusted);
  }
  // A Code page that is enabled but empty is not loaded.
  FilterSettings enabledButEmpty;
  enabledButEmpty.Length = 4;
  folder_.Write("Action/m.ini", ProbeModule().Set("Cofing", "Execute", "3").Text());
  Module m;
  ASSERT_TRUE(ReadModule(folder_.File("Action/m.ini"), enabledButEmpty, m));
  EXPECT_EQ(m.execute, ModuleAction::Block);
}

TEST_F(ModuleReaderTest, WindowForms) {
  struct Case {
    const char* setp;
    std::uint32_t low, high;
  };
  const Case cases[] = {{"0", 0, 0}, {"5", 5, 5}, {"3-10", 3, 10}, {"1-2-3", 1, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setp);
    Module m;
    ASSERT_TRUE(Read(ProbeModule().Set("Cofing", "Setp", c.setp), m));
    EXPECT_EQ(m.setpLow, c.low);
    EXPECT_EQ(m.setpHigh, c.high);
  }
}

TEST_F(ModuleReaderTest, StepMatchCountForms) {
  struct Case {
    const char* times;
    std::uint32_t low, high;
  };
  const Case cases[] = {{"2", 2, 2}, {"0-3", 0, 3}, {"1-2", 1, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.times);
    Module m;
    ASSERT_TRUE(Read(ProbeModule().Set("Probe", "Times", c.times), m));
    EXPECT_EQ(m.steps[0].timesLow, c.low);
    EXPECT_EQ(m.steps[0].timesHigh, c.high);
  }
}

TEST_F(ModuleReaderTest, LogKeys) {
  Module m;
  ASSERT_TRUE(Read(ProbeModule().Set("Cofing", "LogContent", "line1\\nline2"), m));
  EXPECT_EQ(m.log.LogContent, "line1\nline2");

  ASSERT_TRUE(Read(ProbeModule().Set("Cofing", "LogContent", "a\\\\nb\\n\\"), m));
  EXPECT_EQ(m.log.LogContent, "a\\\nb\n\\");

  // LogName without LogContent: nothing of the three stays.
  ASSERT_TRUE(Read(ProbeModule().Set("Cofing", "LogContent", "").Set("Cofing", "LogFileName", "f.log"), m));
  EXPECT_TRUE(m.log.LogName.empty());
  EXPECT_TRUE(m.log.LogFileName.empty());
  EXPECT_TRUE(m.log.LogContent.empty());
  EXPECT_TRUE(sink_.HasAdjustment(ModuleIssue::LogCleared));

  // LogContent without LogName.
  ASSERT_TRUE(Read(ProbeModule().Remove("Cofing", "LogName"), m));
  EXPECT_TRUE(m.log.LogContent.empty());

  // A file name on its own may be empty; the line still logs.
  ASSERT_TRUE(Read(ProbeModule().Set("Cofing", "LogFileName", "probe.txt"), m));
  EXPECT_EQ(m.log.LogFileName, "probe.txt");
  EXPECT_FALSE(sink_.HasAdjustment(ModuleIssue::LogCleared));

  // Step log keys follow the same rules.
  IniText stepLog = ProbeModule()
                        .Set("Probe", "LogName", "StepLog")
                        .Set("Probe", "LogFileName", "s.log")
                        .Set("Probe", "LogContent", "x\\ny");
  ASSERT_TRUE(Read(stepLog, m));
  EXPECT_EQ(m.steps[0].log.LogName, "StepLog");
  EXPECT_EQ(m.steps[0].log.LogFileName, "s.log");
  EXPECT_EQ(m.steps[0].log.LogContent, "x\ny");
  ASSERT_TRUE(Read(stepLog.Set("Probe", "LogName", ""), m));
  EXPECT_TRUE(m.steps[0].log.LogFileName.empty());
  EXPECT_TRUE(m.steps[0].log.LogContent.empty());
}

TEST_F(ModuleReaderTest, CompareWantsNoMatchOnlyForZero) {
  struct Case {
    const char* value;  // nullptr: key missing
    bool compare;
  };
  const Case cases[] = {{"0", false}, {" 0 ", false}, {"1", true},    {"false", true},
                        {"00", true}, {"", true},     {nullptr, true}, {"0x", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "missing" : c.value);
    IniText ini = ProbeModule();
    if (c.value == nullptr) {
      ini.Remove("Probe", "2_Compare");
    } else {
      ini.Set("Probe", "2_Compare", c.value);
    }
    Module m;
    ASSERT_TRUE(Read(ini, m));
    EXPECT_EQ(m.steps[0].rules[1].compare, c.compare);
  }
}

TEST_F(ModuleReaderTest, ParameterIsUpperCasedInTheCodePage) {
  Module m;
  // "\x81\x61" is one double-byte character whose second byte is the letter
  // a: it must stay as it is.
  ASSERT_TRUE(Read(ProbeModule().Set("Probe", "1_Parameter", "http_x\x81\x61y"), m));
  EXPECT_EQ(m.steps[0].rules[0].parameter, "HTTP_X\x81\x61Y");
  // The pattern keeps its case.
  ASSERT_TRUE(Read(ProbeModule().Set("Probe", "1_Rule", "AbC"), m));
  EXPECT_EQ(m.steps[0].rules[0].pattern, "AbC");
}

TEST_F(ModuleReaderTest, RepeatCountAndHoldTimeClamps) {
  struct Case {
    const char* key;
    const char* value;  // nullptr: key missing
    int expected;
    bool adjusted;
  };
  const Case cases[] = {
      {"Times", "200", 1, true},        {"Times", "0", 0, false},
      {"Times", "128", 128, false},     {"Times", "129", 1, true},
      {"Times", "-1", 1, true},         {nullptr, nullptr, 0, false},
      {"Dateline", "604800", 604800, false}, {"Dateline", "604801", 500, true},
      {"Dateline", "-5", 500, true},    {"Dateline", "0", 0, false},
  };
  for (const auto& c : cases) {
    Module m;
    if (c.key == nullptr) {
      SCOPED_TRACE("both missing");
      ASSERT_TRUE(Read(ProbeModule().Remove("Cofing", "Times").Remove("Cofing", "Dateline"), m));
      EXPECT_EQ(m.times, 1);
      EXPECT_EQ(m.dateline, 500);  // the filter-wide hold time
      continue;
    }
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    ASSERT_TRUE(Read(ProbeModule().Set("Cofing", c.key, c.value), m));
    EXPECT_EQ(std::string(c.key) == "Times" ? m.times : m.dateline, c.expected);
    ModuleIssue issue = std::string(c.key) == "Times" ? ModuleIssue::TimesReplaced
                                                      : ModuleIssue::DatelineReplaced;
    EXPECT_EQ(sink_.HasAdjustment(issue), c.adjusted);
  }
}

TEST_F(ModuleReaderTest, LongValuesAreCutAtTheirMaximum) {
  Module m;
  const std::string longName(300, 'N');
  const std::string longPattern = std::string(254, 'p') + "XYZ" + std::string(43, 'q');
  IniText ini = ProbeModule()
                    .Set("About", "Name", longName)
                    .Set("Probe", "1_Rule", longPattern)
                    .Set("Cofing", "LogContent", std::string(1022, 'c') + "\\n")
                    .Set("Cofing", "LogName", std::string(256, 'L'));
  ASSERT_TRUE(Read(ini, m));
  EXPECT_EQ(m.name, std::string(255, 'N'));
  EXPECT_EQ(m.steps[0].rules[0].pattern, longPattern.substr(0, 255));
  // The cut comes first: the backslash left at the end is no line break.
  EXPECT_EQ(m.log.LogContent, std::string(1022, 'c') + "\\");
  EXPECT_EQ(m.log.LogName, std::string(255, 'L'));

  int cuts = 0;
  for (const auto& a : sink_.adjustments) {
    if (a.issue != ModuleIssue::ValueCut) continue;
    ++cuts;
    if (a.key == "Name") {
      EXPECT_EQ(a.value, longName);
      EXPECT_EQ(a.limit, 255u);
    }
    if (a.key == "LogContent") {
      EXPECT_EQ(a.limit, 1023u);
    }
  }
  EXPECT_EQ(cuts, 4);

  // A version longer than 63 bytes is cut and then compared.
  ASSERT_FALSE(Read(ProbeModule().Set("About", "Version", "4.3.0" + std::string(70, '0')), m));
  EXPECT_EQ(sink_.refusals[0].issue, ModuleIssue::VersionMismatch);

  // A window is cut to 63 bytes before it is checked: "1-" and 61 zeros.
  ASSERT_FALSE(Read(ProbeModule().Set("Cofing", "Setp", "1-" + std::string(70, '0') + "5"), m));
  EXPECT_EQ(sink_.refusals[0].range, RangeError::HighBelowLow);
}

TEST_F(ModuleReaderTest, SameStepSectionNamedTwiceIsReadTwice) {
  Module m;
  ASSERT_TRUE(Read(ProbeModule().Set("Step", "Count", "2").Set("Step", "2", "probe"), m));
  ASSERT_EQ(m.steps.size(), 2u);
  EXPECT_EQ(m.steps[0].timesHigh, m.steps[1].timesHigh);
  ASSERT_EQ(m.steps[1].rules.size(), 2u);
  EXPECT_EQ(m.steps[1].rules[0].parameter, "REMOTE_ADDR");
}

TEST_F(ModuleReaderTest, SectionWrittenTwiceOnlyTheFirstCounts) {
  Module m;
  const std::string text =
      ProbeModule().Text() + "[Probe]\r\nTimes=9\r\nCount=1\r\n1_Parameter=OTHER\r\n";
  ASSERT_TRUE(Read(text, m));
  ASSERT_EQ(m.steps.size(), 1u);
  EXPECT_EQ(m.steps[0].timesHigh, 3u);
  ASSERT_EQ(m.steps[0].rules.size(), 2u);
  EXPECT_EQ(m.steps[0].rules[0].parameter, "REMOTE_ADDR");

  // A key the first section lacks is not taken from the second one.
  const std::string split = ProbeModule().Remove("Probe", "Times").Text() + "[Probe]\r\nTimes=2\r\n";
  ASSERT_FALSE(Read(split, m));
  EXPECT_EQ(sink_.refusals[0].issue, ModuleIssue::StepTimesInvalid);
  EXPECT_TRUE(sink_.refusals[0].missing);
}

TEST_F(ModuleReaderTest, InputThatIsNoModuleFileIsRefused) {
  Module m;
  ASSERT_FALSE(Read("This is a plain letter.\nIt has no sections at all.\n", m));
  ASSERT_EQ(sink_.refusals.size(), 1u);
  EXPECT_EQ(sink_.refusals[0].issue, ModuleIssue::VersionMismatch);
  EXPECT_TRUE(sink_.refusals[0].missing);

  ASSERT_FALSE(Read("", m));

  // Keys before any section belong to no section.
  ASSERT_FALSE(Read("Version=4.3.0\nName=x\n", m));

  // A missing file, and a folder where a file is expected.
  sink_ = RecordingSink{};
  EXPECT_FALSE(ReadModule(folder_.File("Action/none.ini"), SettingsWithCodePage(true), m, &sink_));
  ASSERT_EQ(sink_.refusals.size(), 1u);
  EXPECT_TRUE(sink_.refusals[0].missing);
  folder_.File("Action/dir.ini/inside");  // makes the folder Action/dir.ini
  EXPECT_FALSE(ReadModule(folder_.File("Action/dir.ini"), SettingsWithCodePage(true), m, &sink_));

  // An empty path.
  sink_ = RecordingSink{};
  EXPECT_FALSE(ReadModule("", SettingsWithCodePage(true), m, &sink_));
  ASSERT_EQ(sink_.refusals.size(), 1u);
  EXPECT_EQ(sink_.refusals[0].issue, ModuleIssue::PathEmpty);
}

TEST_F(ModuleReaderTest, BinaryGarbageNeverCrashes) {
  std::mt19937 random(20240607);
  const std::string valid = ProbeModule().Text();
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    if (round % 2 == 0) {
      // Pure noise, weighted towards the bytes that give settings text its shape.
      const char shape[] = "[]=\r\n\\-0123456789";
      std::size_t size = random() % 600;
      for (std::size_t i = 0; i < size; ++i) {
        unsigned r = random() % 4;
        bytes += r == 0 ? shape[random() % (sizeof(shape) - 1)] : static_cast<char>(random() % 256);
      }
    } else {
      // The valid example with a few bytes flipped, cut, or NULs put in.
      bytes = valid;
      for (int k = 0; k < 4; ++k) bytes[random() % bytes.size()] = static_cast<char>(random() % 256);
      if (round % 3 == 0) bytes.resize(random() % bytes.size());
    }
    Module m;
    bool ok = Read(bytes, m);
    // Whatever the bytes, a refusal is reported once and an accepted module
    // obeys the limits of the format.
    if (!ok) {
      EXPECT_EQ(sink_.refusals.size(), 1u);
    } else {
      EXPECT_TRUE(sink_.refusals.empty());
      EXPECT_LE(static_cast<int>(m.execute), 3);
      EXPECT_GE(m.stepCount, 1);
      EXPECT_LE(m.stepCount, 128);
      EXPECT_EQ(m.steps.size(), static_cast<std::size_t>(m.stepCount));
      for (const auto& step : m.steps) {
        EXPECT_GE(step.timesHigh, 1u);
        EXPECT_LE(step.timesLow, step.timesHigh);
        EXPECT_FALSE(step.rules.empty());
      }
      EXPECT_LE(m.name.size(), 255u);
      EXPECT_GE(m.times, 0);
      EXPECT_LE(m.times, 128);
    }
  }
}

}  // namespace
}  // namespace sentrel
