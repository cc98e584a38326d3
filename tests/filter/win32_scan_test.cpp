// The module folder scan on Windows: only folders whose attribute word is the
// directory attribute alone are entered; hidden or read-only folders are not,
// and such a folder whose name contains ".ini" is taken as a module path.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/filter_under_test.h"
#include "platform/win32/windows_api.h"

namespace sentrel {
namespace {

std::string PriorityFile(const char* priority) { return std::string("[Config]\r\nPriority=") + priority + "\r\n"; }

TEST(Win32Scan, HiddenAndReadOnlyFoldersAreNotEntered) {
  test::SettingsFolder folder;
  folder.Write("Action/a.ini", PriorityFile("0"));
  folder.Write("Action/plain/b.ini", PriorityFile("0"));
  folder.Write("Action/hidden/c.ini", PriorityFile("0"));
  folder.Write("Action/locked/d.ini", PriorityFile("0"));
  folder.Write("Action/odd.ini/e.ini", PriorityFile("0"));
  const std::string action = folder.Root() + "\\Action\\";
  ASSERT_TRUE(::SetFileAttributesA((action + "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(::SetFileAttributesA((action + "locked").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::SetFileAttributesA((action + "odd.ini").c_str(), FILE_ATTRIBUTE_HIDDEN));

  // Not every file system keeps the read-only attribute of a folder (Wine's
  // does not); the rule is judged against the word the system reports.
  const bool lockedIsReadOnly =
      (::GetFileAttributesA((action + "locked").c_str()) & FILE_ATTRIBUTE_READONLY) != 0;

  test::FilterUnderTest f(folder);
  ASSERT_EQ(f.host.Load(), TRUE);
  std::vector<std::string> paths = f.filter.Registry().modulePaths;
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> expected = {action + "a.ini", action + "odd.ini", action + "plain\\b.ini"};
  if (!lockedIsReadOnly) expected.push_back(action + "locked\\d.ini");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(paths, expected);
  for (const char* name : {"hidden", "locked", "odd.ini"}) {
    ::SetFileAttributesA((action + name).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}

}  // namespace
}  // namespace sentrel
