// Loading the filter: the version record, the module folder scan with its
// priority order and limits, the program messages, and the dispatch of
// notifications before the start-up has completed.
#include <gtest/gtest.h>

#include <cstring>

#include "filter/logging/program_messages.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

using test::FilterUnderTest;
using test::SettingsFolder;

std::string PriorityFile(const std::string& priority) {
  return "[About]\r\nVersion=4.3.0\r\n[Config]\r\nPriority=" + priority + "\r\n";
}

TEST(Load, VersionRecordFields) {
  SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("1"));
  FilterUnderTest f(folder);
  HTTP_FILTER_VERSION version;
  std::memset(&version, 0x5A, sizeof(version));
  version.dwServerFilterVersion = 0x00070000;
  ASSERT_EQ(f.host.Load(&version), TRUE);
  EXPECT_EQ(version.dwFilterVersion, 0x00070000u);
  EXPECT_STREQ(version.lpszFilterDesc, "Tarnwick ISAPI filter, Version 4.3");
  EXPECT_EQ(version.dwFlags, 0x00045100u);
  EXPECT_TRUE(f.filter.StartupPending());
  EXPECT_EQ(test::ProgramLog(folder, f.clock),
            std::string("22:13:20\t") + messages::kLoaded + "\r\n");
}

TEST(Load, BootstrapProblemsFailWithoutLogLine) {
  SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("1"));
  folder.Folder().Write("sh_Sentrel.ini", "[Config]\r\nFolderPath=\r\n");
  {
    FilterUnderTest f(folder);
    EXPECT_EQ(f.host.Load(), FALSE);
  }
  folder.Folder().Write("sh_Sentrel.ini", "[Config]\r\nFolderPath=" + folder.Root() + "/nope\r\n");
  {
    FilterUnderTest f(folder);
    EXPECT_EQ(f.host.Load(), FALSE);
  }
  folder.Folder().Remove("sh_Sentrel.ini");
  {
    FilterUnderTest f(folder);
    EXPECT_EQ(f.host.Load(), FALSE);
  }
  EXPECT_TRUE(folder.List("Log").empty());
}

TEST(Load, TrailingBackslashGivesTheSameFolder) {
  SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("0"));
  for (const std::string& written : {folder.Root() + "\\", folder.Root()}) {
    folder.Folder().Write("sh_Sentrel.ini", "[Config]\r\nFolderPath=" + written + "\r\n");
    FilterUnderTest f(folder);
    ASSERT_EQ(f.host.Load(), TRUE) << written;
    EXPECT_EQ(f.filter.Settings().FolderPath, folder.Root() + "\\");
  }
}

// One backslash is appended, then pairs are collapsed left to right without
// overlap: a network path loses one of its two leading backslashes.
TEST(Load, FolderPathBackslashPairsCollapse) {
  const struct {
    const char* written;
    const char* folder;
  } cases[] = {
      {"C:\\site", "C:\\site\\"},
      {"C:\\site\\", "C:\\site\\"},
      {"C:\\\\site\\\\", "C:\\site\\\\"},  // the appended one makes three at the end
      {"\\\\server\\share", "\\server\\share\\"},
      {"C:\\a\\\\\\b", "C:\\a\\\\b\\"},  // three in a row: one pair, one left
      {"C:\\a\\\\\\\\b", "C:\\a\\\\b\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeFolderPath(c.written), c.folder) << c.written;

  SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("0"));
  const std::string root = folder.Root();
  const std::string doubled = root.substr(0, root.rfind('/')) + "\\\\site";
  folder.Folder().Write("sh_Sentrel.ini", "[Config]\r\nFolderPath=" + doubled + "\r\n");
  FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  EXPECT_EQ(f.filter.Settings().FolderPath, root.substr(0, root.rfind('/')) + "\\site\\");
  EXPECT_EQ(test::ProgramLog(folder, f.clock), std::string("22:13:20\t") + messages::kLoaded + "\r\n");
}

// Only the end-of-session and URL-mapping notifications do anything; every
// other notification passes, even for a client the filter would answer.
TEST(Dispatch, OtherNotificationsPassUntouched) {
  SettingsFolder folder;
  test::ModuleText m;
  m.steps.push_back({"1", "", "", "", {{"HTTP_USER_AGENT", "1", "bot"}}});
  folder.AddModule("a.ini", m);
  folder.Write("LimitIP.txt", "10.0.0.7\r\n");
  FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  f.CompleteStartup();
  ASSERT_FALSE(f.filter.StartupPending());
  for (DWORD type : {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_SEND_RESPONSE, SF_NOTIFY_LOG,
                     SF_NOTIFY_END_OF_REQUEST, SF_NOTIFY_URL_MAP | SF_NOTIFY_END_OF_NET_SESSION,
                     DWORD{0}}) {
    testhost::TestRequest r(std::map<std::string, std::string>{{"REMOTE_ADDR", "10.0.0.7"}});
    EXPECT_EQ(f.filter.HttpFilterProc(r.Context(), type, nullptr), SF_STATUS_REQ_NEXT_NOTIFICATION) << type;
    EXPECT_FALSE(r.headerSent) << type;
    EXPECT_EQ(r.LookupsOf("REMOTE_ADDR"), 0) << type;
  }
  // The same client's URL mapping is answered with the block.
  EXPECT_EQ(f.Request("10.0.0.7"), SF_STATUS_REQ_FINISHED);
  EXPECT_EQ(f.last->statusLine, "404 Object Not Found");
  EXPECT_EQ(f.last->headers, "");
  EXPECT_EQ(f.last->body, "");  // no Return page: the status line alone
}

TEST(Load, PriorityOrderAndSubFolders) {
  SettingsFolder folder;
  folder.Write("Action/p0.ini", PriorityFile("0"));
  folder.Write("Action/p1.ini", PriorityFile("1"));
  folder.Write("Action/p2.ini", PriorityFile("2"));
  folder.Write("Action/p7.ini", PriorityFile("7"));
  folder.Write("Action/sub/deep/q2.ini", PriorityFile("2"));
  folder.Write("Action/x.ini.bak", PriorityFile("1"));
  folder.Write("Action/GUARD.INI", PriorityFile("2"));
  folder.Write("Action/readme.txt", "not a module");
  FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  const std::string a = folder.Root() + "\\Action\\";
  std::vector<std::string> expected = {a + "p2.ini", a + "sub\\deep\\q2.ini", a + "p1.ini",
                                       a + "p7.ini", a + "x.ini.bak",         a + "p0.ini"};
  EXPECT_EQ(f.filter.Registry().modulePaths, expected);
  EXPECT_TRUE(f.filter.Registry().scanFirst.empty());
  EXPECT_TRUE(f.filter.Registry().scanMiddle.empty());
  EXPECT_TRUE(f.filter.Registry().scanLast.empty());
}

// POSIX only: hidden by name and linked folders; the Windows attributes are
// tested in win32_scan_test.cpp.
#if !defined(_WIN32)
TEST(Load, HiddenAndLinkedFoldersAreNotEntered) {
  SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("0"));
  folder.Write("Action/.hidden/b.ini", PriorityFile("0"));
  folder.Write("Action/odd.ini/c.ini", PriorityFile("0"));  // hidden? no: a plain folder
  ASSERT_EQ(symlink((folder.Root() + "/Action").c_str(), (folder.Root() + "/Action/loop").c_str()), 0);
  ASSERT_EQ(symlink((folder.Root() + "/Action").c_str(), (folder.Root() + "/Action/loop.ini").c_str()), 0);
  FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  const std::string a = folder.Root() + "\\Action\\";
  // The link named like a module is taken as a path (and will fail to read);
  // no link is followed, so the scan ends.
  std::vector<std::string> expected = {a + "a.ini", a + "loop.ini", a + "odd.ini\\c.ini"};
  EXPECT_EQ(f.filter.Registry().modulePaths, expected);
}

// A folder that is not a plain folder but whose name looks like a module file
// counts as a module path; in the module stage it cannot be read and is
// skipped, and the module inside it is never found.
TEST(Load, FolderNamedLikeAModuleIsTakenThenSkipped) {
  test::ModuleText usable;
  usable.name = "Usable";
  test::ModuleText::StepText step;
  step.rules.push_back({"URL", "1", "x"});
  usable.steps.push_back(step);
  SettingsFolder folder;
  folder.AddModule("a.ini", usable);
  usable.name = "Inside";
  folder.AddModule(".old.ini/inner.ini", usable);
  folder.Write("Config.ini", "[Config]\r\nLogMin=1\r\n");

  FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  const std::string a = folder.Root() + "\\Action\\";
  EXPECT_EQ(f.filter.Registry().modulePaths,
            (std::vector<std::string>{a + ".old.ini", a + "a.ini"}));
  f.CompleteStartup();
  ASSERT_FALSE(f.filter.StartupPending());
  ASSERT_EQ(f.filter.Registry().modules.size(), 1u);
  EXPECT_EQ(f.filter.Registry().modules[0].name, "Usable");
  ASSERT_EQ(f.filter.Registry().progressTemplate.size(), 1u);
  EXPECT_EQ(f.filter.Registry().progressTemplate[0].moduleNumber, 1);
  const std::string log = test::ProgramLog(folder, f.clock);
  EXPECT_NE(log.find(std::string("Usable\t") + (messages::kModuleReadFormat + 3)), std::string::npos);
  EXPECT_EQ(log.find("Inside"), std::string::npos);
}
#endif  // !_WIN32

struct LimitCase {
  int files;
  BOOL loaded;
  const char* message;
};

class ModuleLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ModuleLimit, CountDecidesTheLoad) {
  SettingsFolder folder;
  for (int i = 0; i < GetParam().files; ++i) {
    // Half of them in a sub-folder: sub-folders count towards the limit.
    std::string name = (i % 2 ? "Action/sub/m" : "Action/m") + std::to_string(i) + ".ini";
    folder.Write(name, i % 3 ? "garbage" : PriorityFile("1"));
  }
  FilterUnderTest f(folder);
  EXPECT_EQ(f.host.Load(), GetParam().loaded);
  EXPECT_EQ(f.filter.StartupPending(), GetParam().loaded == TRUE);
  EXPECT_EQ(test::ProgramLog(folder, f.clock), std::string("22:13:20\t") + GetParam().message + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Limits, ModuleLimit,
                         ::testing::Values(LimitCase{0, FALSE, messages::kNoModule},
                                           LimitCase{1, TRUE, messages::kLoaded},
                                           LimitCase{64, TRUE, messages::kLoaded},
                                           LimitCase{65, FALSE, messages::kTooManyModules}));

TEST(Load, MissingActionFolderFailsWithNoModule) {
  SettingsFolder folder;
  folder.Folder().Remove("site/Action");
  FilterUnderTest f(folder);
  EXPECT_EQ(f.host.Load(), FALSE);
  EXPECT_EQ(test::ProgramLog(folder, f.clock), std::string("22:13:20\t") + messages::kNoModule + "\r\n");
}

TEST(Load, PagesAndSettingsAreRead) {
  SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("1"));
  folder.Write("Config.ini", "[Config]\r\nStatus=403 Forbidden\r\nLogMin=2\r\n[Code]\r\nLength=0\r\n");
  folder.Write("Return.html", "<p>no</p>\r\n");
  folder.Write("Code.html", "<p>code</p>\r\n");
  FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  EXPECT_EQ(f.filter.Settings().Status, "403 Forbidden");
  EXPECT_EQ(f.filter.Settings().LogMin, 2u);
  EXPECT_EQ(f.filter.Settings().returnPage, "<p>no</p>\n");
  EXPECT_EQ(f.filter.Settings().codePage, "");  // picture code disabled: not read
}

TEST(Dispatch, RequestsPassWhileStartupIsPending) {
  SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("1"));
  FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  testhost::TestRequest* r = nullptr;
  EXPECT_EQ(f.Request("10.0.0.7", {}, &r), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(r->LookupsOf("REMOTE_ADDR"), 0);  // not even looked at
  EXPECT_EQ(f.host.PreprocHeaders(*r), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_EQ(f.host.EndOfSession(), SF_STATUS_REQ_NEXT_NOTIFICATION);
  EXPECT_FALSE(r->headerSent);
}

TEST(Unload, WritesPendingLinesThenTheUnloadMessage) {
  SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("1"));
  FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  f.filter.Log().WriteLog("Log", "No SV2", "", LogMode::Stamped);
  EXPECT_EQ(f.host.Unload(), TRUE);
  EXPECT_EQ(test::ProgramLog(folder, f.clock), std::string("22:13:20\t") + messages::kLoaded +
                                                   "\r\n22:13:20\tNo SV2\r\n22:13:20\t" +
                                                   messages::kUnloaded + "\r\n");
}

}  // namespace
}  // namespace sentrel
