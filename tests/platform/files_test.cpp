#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/temp_folder.h"
#if !defined(_WIN32)
#include "tests/platform/unprivileged.h"
#endif

namespace sentrel::platform {
namespace {

using test::TempFolder;

// POSIX only: the mapping of Windows-style paths, attributes put together
// from modes, symbolic links and the user's write rights, and the sorted
// listing. On Windows paths are native and attributes and listing order are
// the system's own (win32_test.cpp).
#if !defined(_WIN32)
using test::CheckResult;
using test::RunUnprivileged;

TEST(Files, NativePath) {
  EXPECT_EQ(NativePath(".\\sh_Sentrel.ini"), "./sh_Sentrel.ini");
  EXPECT_EQ(NativePath("\\srv\\guard\\Action\\a.ini"), "/srv/guard/Action/a.ini");
  EXPECT_EQ(NativePath("/already/native"), "/already/native");
  EXPECT_EQ(NativePath("Log\\"), "Log/");
  EXPECT_EQ(NativePath(""), "");
}

TEST(Files, Attributes) {
  TempFolder dir;
  dir.Write("file.txt", "x");
  dir.Write(".hidden", "x");
  ASSERT_TRUE(dir.MakeFolder("folder"));
  ASSERT_EQ(mkdir(dir.File(".hiddenfolder").c_str(), 0755), 0);
  ASSERT_EQ(symlink("folder", dir.File("dirlink").c_str()), 0);
  ASSERT_EQ(symlink("file.txt", dir.File("filelink").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.File("dangling").c_str()), 0);
  ASSERT_EQ(symlink("loop", dir.File("loop").c_str()), 0);

  struct Case {
    std::string path;
    std::uint32_t expected;
  };
  const std::vector<Case> cases = {
      {dir.WindowsPath("file.txt"), kAttrNormal},
      {dir.WindowsPath(".hidden"), kAttrHidden},
      {dir.WindowsPath("folder"), kAttrDirectory},
      {dir.WindowsPath("folder\\"), kAttrDirectory},
      {dir.WindowsPath("folder\\."), kAttrDirectory},
      {dir.WindowsPath("folder\\.."), kAttrDirectory},
      {dir.WindowsPath(".hiddenfolder"), kAttrDirectory | kAttrHidden},
      {dir.WindowsPath("dirlink"), kAttrDirectory | kAttrReparsePoint},
      {dir.WindowsPath("filelink"), kAttrReparsePoint},
      {dir.WindowsPath("dangling"), kAttrReparsePoint},
      {dir.WindowsPath("loop"), kAttrReparsePoint},
      {dir.WindowsPath("missing"), kInvalidAttributes},
      {dir.WindowsPath("file.txt\\inside"), kInvalidAttributes},
      {"", kInvalidAttributes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(GetFileAttributes(c.path), c.expected);
  }
}

// Read-only comes from access(W_OK), judged as an ordinary user.
TEST(Files, ReadOnlyAttribute) {
  TempFolder dir;
  ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
  dir.Write("ro.txt", "x");
  dir.Write("rw.txt", "x");
  ASSERT_EQ(mkdir(dir.File("rodir").c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir.File("ro.txt").c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.File("rw.txt").c_str(), 0666), 0);
  const CheckResult result = RunUnprivileged([&] {
    return GetFileAttributes(dir.WindowsPath("ro.txt")) == kAttrReadOnly &&
           GetFileAttributes(dir.WindowsPath("rodir")) == (kAttrDirectory | kAttrReadOnly) &&
           GetFileAttributes(dir.WindowsPath("rw.txt")) == kAttrNormal;
  });
  if (result == CheckResult::CannotDropRights) GTEST_SKIP() << "cannot give up superuser rights";
  EXPECT_EQ(result, CheckResult::Passed) << "read-only attributes wrong for an ordinary user";
}

TEST(Files, ListDirectory) {
  TempFolder dir;
  dir.Write("b.ini", "x");
  dir.Write("B.ini", "x");
  dir.Write("a.ini", "x");
  dir.Write(".z", "x");
  dir.Write("\xd6\xd0.ini", "x");  // a GBK name sorts after ASCII by byte value
  ASSERT_EQ(mkdir(dir.File("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("sub", dir.File("link").c_str()), 0);
  ASSERT_EQ(symlink("link2", dir.File("link2").c_str()), 0);  // a loop must not hang

  std::vector<DirEntry> entries{{"stale", 1}};
  ASSERT_TRUE(ListDirectory(dir.WindowsPath(""), entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{".z", "B.ini", "a.ini", "b.ini", "link", "link2", "sub",
                                             "\xd6\xd0.ini"}));
  ASSERT_EQ(entries.size(), 8u);
  EXPECT_EQ(entries[0].attributes, kAttrHidden);
  EXPECT_EQ(entries[1].attributes, kAttrNormal);
  EXPECT_EQ(entries[4].attributes, kAttrDirectory | kAttrReparsePoint);
  EXPECT_EQ(entries[5].attributes, kAttrReparsePoint);
  EXPECT_EQ(entries[6].attributes, kAttrDirectory);

  // The folder named without a trailing separator lists the same.
  std::vector<DirEntry> again;
  ASSERT_TRUE(ListDirectory(dir.WindowsPath("sub"), again));
  EXPECT_TRUE(again.empty());

  EXPECT_FALSE(ListDirectory(dir.WindowsPath("missing"), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(ListDirectory(dir.WindowsPath("a.ini"), entries));
}
#endif  // !_WIN32

TEST(Files, DeleteFile) {
  TempFolder dir;
  dir.Write("gone.txt", "x");
  ASSERT_TRUE(dir.MakeFolder("folder"));
  EXPECT_TRUE(DeleteFile(dir.WindowsPath("gone.txt")));
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("gone.txt")), kInvalidAttributes);
  EXPECT_FALSE(DeleteFile(dir.WindowsPath("gone.txt")));
  EXPECT_FALSE(DeleteFile(dir.WindowsPath("folder")));
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("folder")), kAttrDirectory);
}

TEST(Files, TextFileWritesCrLf) {
  TempFolder dir;
  const std::string path = dir.WindowsPath("log.txt");
  {
    TextFile f;
    ASSERT_TRUE(f.Open(path, TextFile::Mode::Append));  // creates the file
    EXPECT_TRUE(f.Write("12:00:00\tline one\n"));
    EXPECT_TRUE(f.Write("two\n\nthree"));
  }
  {
    TextFile f;
    ASSERT_TRUE(f.Open(path, TextFile::Mode::Append));  // appends
    EXPECT_TRUE(f.Write(" more\n"));
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_FALSE(f.Write("after close\n"));
  }
  EXPECT_EQ(dir.Read("log.txt"), "12:00:00\tline one\r\ntwo\r\n\r\nthree more\r\n");
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(path, bytes));
  EXPECT_EQ(bytes, "12:00:00\tline one\r\ntwo\r\n\r\nthree more\r\n");
}

TEST(Files, TextFileReadsLines) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"CR LF", "one\r\ntwo\r\n", {"one", "two"}},
      {"LF", "one\ntwo\n", {"one", "two"}},
      {"mixed, last line without end", "one\r\ntwo\nthree", {"one", "two", "three"}},
      {"lone CR stays", "a\rb\r\nc\r", {"a\rb", "c\r"}},
      {"CR CR LF keeps one CR", "a\r\r\n", {"a\r"}},
      {"empty lines", "\r\n\n\r\n", {"", "", ""}},
      {"empty file", "", {}},
      {"NUL bytes", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
      {"GBK bytes", "\xd6\xd0\xce\xc4\r\n", {"\xd6\xd0\xce\xc4"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    dir.Write("in.txt", c.bytes);
    TextFile f;
    ASSERT_TRUE(f.Open(dir.WindowsPath("in.txt"), TextFile::Mode::Read));
    std::vector<std::string> lines;
    std::string line;
    while (f.ReadLine(line)) lines.push_back(line);
    EXPECT_EQ(lines, c.lines);
    EXPECT_FALSE(f.ReadLine(line));
  }
}

TEST(Files, WrittenTextReadsBack) {
  TempFolder dir;
  const std::string path = dir.WindowsPath("round.txt");
  const std::vector<std::string> lines = {"first", "", "\xd6\xd0\xce\xc4 x", "last"};
  {
    TextFile f;
    ASSERT_TRUE(f.Open(path, TextFile::Mode::Append));
    for (const std::string& l : lines) ASSERT_TRUE(f.Write(l + "\n"));
  }
  TextFile f;
  ASSERT_TRUE(f.Open(path, TextFile::Mode::Read));
  std::vector<std::string> read;
  std::string line;
  while (f.ReadLine(line)) read.push_back(line);
  EXPECT_EQ(read, lines);
}

TEST(Files, OpenFailures) {
  TempFolder dir;
  ASSERT_TRUE(dir.MakeFolder("folder"));
  TextFile f;
  EXPECT_FALSE(f.Open(dir.WindowsPath("missing.txt"), TextFile::Mode::Read));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(f.Open(dir.WindowsPath("folder"), TextFile::Mode::Read));
  EXPECT_FALSE(f.Open(dir.WindowsPath("folder"), TextFile::Mode::Append));
  EXPECT_FALSE(f.Open(dir.WindowsPath("no\\such\\dir.txt"), TextFile::Mode::Append));
  std::string line = "stale";
  EXPECT_FALSE(f.ReadLine(line));
  EXPECT_TRUE(line.empty());

  std::string bytes = "stale";
  EXPECT_FALSE(ReadFileBytes(dir.WindowsPath("missing.txt"), bytes));
  EXPECT_FALSE(ReadFileBytes(dir.WindowsPath("folder"), bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(Files, ReadFileBytesIsBinary) {
  TempFolder dir;
  std::string every;
  for (int i = 0; i < 256; ++i) every.push_back(static_cast<char>(i));
  dir.Write("bin", every);
  std::string big;
  for (int i = 0; i < 200; ++i) big += every;  // larger than one read chunk
  dir.Write("big", big);
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(dir.WindowsPath("bin"), bytes));
  EXPECT_EQ(bytes, every);
  ASSERT_TRUE(ReadFileBytes(dir.WindowsPath("big"), bytes));
  EXPECT_EQ(bytes, big);
}

}  // namespace
}  // namespace sentrel::platform
