#include <gtest/gtest.h>

#include <filesystem>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <string>
#include <vector>

#include "platform/profile.h"
#include "tests/support/temp_folder.h"
#if !defined(_WIN32)
#include "tests/platform/unprivileged.h"
#endif

namespace sentrel::platform {
namespace {

using test::TempFolder;

struct WriteCase {
  const char* name;
  std::string before;  // file bytes before the write
  const char* section;
  const char* key;
  const char* value;
  std::string after;   // file bytes after it
};

TEST(ProfileWrite, ChangesOnlyWhatItMust) {
  const std::vector<WriteCase> cases = {
      {"replace keeps the key spelling and other lines",
       "; head\r\n[Cofing]\r\n  Execute  =  1  \r\nTimes=3\r\n", "cofing", "EXECUTE", "2",
       "; head\r\n[Cofing]\r\n  Execute  =  2\r\nTimes=3\r\n"},
      {"replace keeps an LF line end", "[a]\nk=old\nz=1\n", "a", "k", "new", "[a]\nk=new\nz=1\n"},
      {"replace an empty value", "[a]\r\nk=\r\n", "a", "k", "v", "[a]\r\nk=v\r\n"},
      {"replace a quoted value", "[a]\r\nk=\"old\"\r\n", "a", "k", "new", "[a]\r\nk=new\r\n"},
      {"replace with an empty value", "[a]\r\nk=old\r\n", "a", "k", "", "[a]\r\nk=\r\n"},
      {"replace the first of duplicate keys", "[a]\r\nk=1\r\nK=2\r\n", "a", "k", "9",
       "[a]\r\nk=9\r\nK=2\r\n"},
      {"replace in the first of duplicate sections", "[a]\r\nk=1\r\n[A]\r\nk=2\r\n", "A", "k", "9",
       "[a]\r\nk=9\r\n[A]\r\nk=2\r\n"},
      {"replace on a last line without line end", "[a]\r\nk=1", "a", "k", "22", "[a]\r\nk=22"},
      {"new key in a section that is not the last",
       "[a]\r\nx=1\r\ny=2\r\n\r\n[b]\r\nz=3\r\n", "a", "new", "v",
       "[a]\r\nx=1\r\ny=2\r\nnew=v\r\n\r\n[b]\r\nz=3\r\n"},
      {"new key goes after the last key line, before trailing other lines",
       "[a]\nx=1\n; about b\n[b]\n", "a", "k", "v", "[a]\nx=1\nk=v\r\n; about b\n[b]\n"},
      {"new key in an empty section", "[a]\r\n[b]\r\n", "a", "k", "v", "[a]\r\nk=v\r\n[b]\r\n"},
      {"new key after a last line without line end", "[a]\r\nx=1", "a", "k", "v",
       "[a]\r\nx=1\r\nk=v\r\n"},
      {"new key after a header without line end", "[a]", "a", "k", "v", "[a]\r\nk=v\r\n"},
      {"new key in the last section", "[a]\r\nx=1\r\n[b]\r\ny=2\r\n", "B", "k", "v",
       "[a]\r\nx=1\r\n[b]\r\ny=2\r\nk=v\r\n"},
      {"new section at the end", "[a]\r\nx=1\r\n", "Step", "Count", "0",
       "[a]\r\nx=1\r\n[Step]\r\nCount=0\r\n"},
      {"new section after a file without final line end", "[a]\r\nx=1", "b", "k", "v",
       "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
      {"new section in an LF file", "[a]\nx=1\n", "b", "k", "v", "[a]\nx=1\n[b]\r\nk=v\r\n"},
      {"new section in an empty file", "", "About", "Version", "4.3.0",
       "[About]\r\nVersion=4.3.0\r\n"},
      {"GBK bytes are kept as they are",
       "[About]\r\nName=\xc4\xa3\xbf\xe9\r\nAbout=\xbe\x57\xbd\x6a\r\n", "About", "Name",
       "\xd6\xd0\xce\xc4", "[About]\r\nName=\xd6\xd0\xce\xc4\r\nAbout=\xbe\x57\xbd\x6a\r\n"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    dir.Write("m.ini", c.before);
    ASSERT_TRUE(WriteProfileString(dir.WindowsPath("m.ini"), c.section, c.key, c.value));
#if !defined(_WIN32)
    // The bytes are the POSIX writer's promise; on Windows the system's own
    // routine decides how it writes the lines back (Wine, for one, writes the
    // whole file anew in its own form). What it reads back is the same.
    EXPECT_EQ(dir.Read("m.ini"), c.after);
#endif
    EXPECT_EQ(ReadProfileString(dir.WindowsPath("m.ini"), c.section, c.key, "<missing>", 1024), c.value);
  }
}

TEST(ProfileWrite, CreatesAMissingFile) {
  TempFolder dir;
  const std::string path = dir.WindowsPath("new.ini");
  ASSERT_TRUE(WriteProfileString(path, "About", "Version", "4.3.0"));
  ASSERT_TRUE(WriteProfileString(path, "About", "Name", "\xc4\xa3\xbf\xe9"));
  ASSERT_TRUE(WriteProfileString(path, "Cofing", "Execute", "0"));
  ASSERT_TRUE(WriteProfileString(path, "About", "Version", "4.3.1"));
  EXPECT_EQ(dir.Read("new.ini"),
            "[About]\r\nVersion=4.3.1\r\nName=\xc4\xa3\xbf\xe9\r\n[Cofing]\r\nExecute=0\r\n");
  EXPECT_EQ(ReadProfileInt(path, "cofing", "execute", -1), 0);
}

TEST(ProfileWrite, RoundTripsManyKeys) {
  TempFolder dir;
  const std::string path = dir.WindowsPath("round.ini");
  for (int s = 0; s < 4; ++s) {
    for (int k = 0; k < 10; ++k) {
      ASSERT_TRUE(WriteProfileString(path, "S" + std::to_string(s), "K" + std::to_string(k),
                                     std::to_string(s * 100 + k)));
    }
  }
  for (int s = 0; s < 4; ++s) {
    for (int k = 0; k < 10; ++k) {
      EXPECT_EQ(ReadProfileInt(path, "s" + std::to_string(s), "k" + std::to_string(k), -1), s * 100 + k);
    }
  }
}

// POSIX only: file modes, symbolic links and folder write rights belong to
// the writer of the POSIX implementation; on Windows the system's own routine
// writes the file.
#if !defined(_WIN32)
using test::CheckResult;
using test::RunUnprivileged;

TEST(ProfileWrite, KeepsThePermissionsOfTheFile) {
  TempFolder dir;
  dir.Write("perm.ini", "[a]\r\nk=1\r\n");
  ASSERT_EQ(chmod(dir.File("perm.ini").c_str(), 0640), 0);
  ASSERT_TRUE(WriteProfileString(dir.WindowsPath("perm.ini"), "a", "k", "2"));
  struct stat st {};
  ASSERT_EQ(stat(dir.File("perm.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // No temporary file is left behind.
  std::error_code ec;
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator(dir.Path(), ec);
       it != std::filesystem::directory_iterator(); ++it) {
    ++count;
  }
  EXPECT_EQ(count, 1u);
}

TEST(ProfileWrite, WritesThroughASymbolicLink) {
  TempFolder dir;
  dir.Write("real.ini", "[a]\r\nk=1\r\n");
  ASSERT_EQ(symlink("real.ini", dir.File("link.ini").c_str()), 0);
  ASSERT_TRUE(WriteProfileString(dir.WindowsPath("link.ini"), "a", "k", "2"));
  EXPECT_EQ(dir.Read("real.ini"), "[a]\r\nk=2\r\n");
  struct stat st {};
  ASSERT_EQ(lstat(dir.File("link.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

#endif  // !_WIN32

TEST(ProfileWrite, RefusesWhatWouldBreakTheFile) {
  TempFolder dir;
  const std::string original = "[a]\r\nk=1\r\n";
  dir.Write("m.ini", original);
  const std::string path = dir.WindowsPath("m.ini");
  EXPECT_FALSE(WriteProfileString(path, "a", "k", "1\r\n[b]"));
  EXPECT_FALSE(WriteProfileString(path, "a", "k", "line\nbreak"));
  EXPECT_FALSE(WriteProfileString(path, "a", "k=x", "1"));
  EXPECT_FALSE(WriteProfileString(path, "a", "", "1"));
  EXPECT_FALSE(WriteProfileString(path, "a", "[b", "1"));
  EXPECT_FALSE(WriteProfileString(path, "a]x", "k", "1"));
  EXPECT_FALSE(WriteProfileString(path, "a\nb", "k", "1"));
  EXPECT_EQ(dir.Read("m.ini"), original);
}

#if !defined(_WIN32)
// In a folder the writer may not create files in, a writable file is rewritten
// in place; a read-only file is left alone.
TEST(ProfileWrite, FolderWithoutWriteRights) {
  TempFolder dir;
  dir.Write("open.ini", "[a]\r\nk=1\r\n");
  dir.Write("locked.ini", "[a]\r\nk=1\r\n");
  ASSERT_EQ(chmod(dir.File("open.ini").c_str(), 0666), 0);
  ASSERT_EQ(chmod(dir.File("locked.ini").c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.Path().c_str(), geteuid() == 0 ? 0755 : 0555), 0);
  const CheckResult result = RunUnprivileged([&] {
    return WriteProfileString(dir.WindowsPath("open.ini"), "a", "k", "2") &&
           WriteProfileString(dir.WindowsPath("open.ini"), "b", "k", "3") &&
           !WriteProfileString(dir.WindowsPath("locked.ini"), "a", "k", "2") &&
           !WriteProfileString(dir.WindowsPath("new.ini"), "a", "k", "2");
  });
  chmod(dir.Path().c_str(), 0755);
  if (result == CheckResult::CannotDropRights) GTEST_SKIP() << "cannot give up superuser rights";
  EXPECT_EQ(result, CheckResult::Passed);
  EXPECT_EQ(dir.Read("open.ini"), "[a]\r\nk=2\r\n[b]\r\nk=3\r\n");
  EXPECT_EQ(dir.Read("locked.ini"), "[a]\r\nk=1\r\n");
}
#endif  // !_WIN32

TEST(ProfileWrite, FailsWhereNothingCanBeWritten) {
  TempFolder dir;
  EXPECT_FALSE(WriteProfileString(dir.WindowsPath("no\\such\\folder.ini"), "a", "k", "v"));
  ASSERT_TRUE(dir.MakeFolder("folder.ini"));
  EXPECT_FALSE(WriteProfileString(dir.WindowsPath("folder.ini"), "a", "k", "v"));
}

}  // namespace
}  // namespace sentrel::platform
