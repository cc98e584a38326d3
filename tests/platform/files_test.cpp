#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "platform/files.h"
#include "temp_dir.h"
#if !defined(_WIN32)
#include "unprivileged.h"
#endif

namespace sentrel::platform {
namespace {

using testing::TempDir;

// POSIX only: the mapping of Windows-style paths, attributes put together
// from modes, symbolic links and the user's write rights, and the sorted
// listing. On Windows paths are native and attributes and listing order are
// the system's own (win32_test.cpp).
#if !defined(_WIN32)
using testing::CheckResult;
using testing::RunUnprivileged;

TEST(Files, NativePath) {
  EXPECT_EQ(NativePath(".\\sh_Sentrel.ini"), "./sh_Sentrel.ini");
  EXPECT_EQ(NativePath("\\srv\\guard\\Action\\a.ini"), "/srv/guard/Action/a.ini");
  EXPECT_EQ(NativePath("/already/native"), "/already/native");
  EXPECT_EQ(NativePath("Log\\"), "Log/");
  EXPECT_EQ(NativePath(""), "");
}

TEST(Files, Attributes) {
  TempDir dir;
  dir.Put("file.txt", "x");
  dir.Put(".hidden", "x");
  ASSERT_TRUE(dir.MakeFolder("folder"));
  ASSERT_EQ(mkdir(dir.Native(".hiddenfolder").c_str(), 0755), 0);
  ASSERT_EQ(symlink("folder", dir.Native("dirlink").c_str()), 0);
  ASSERT_EQ(symlink("file.txt", dir.Native("filelink").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", dir.Native("dangling").c_str()), 0);
  ASSERT_EQ(symlink("loop", dir.Native("loop").c_str()), 0);

  struct Case {
    std::string path;
    std::uint32_t expected;
  };
  const std::vector<Case> cases = {
      {dir.Windows("file.txt"), kAttrNormal},
      {dir.Windows(".hidden"), kAttrHidden},
      {dir.Windows("folder"), kAttrDirectory},
      {dir.Windows("folder\\"), kAttrDirectory},
      {dir.Windows("folder\\."), kAttrDirectory},
      {dir.Windows("folder\\.."), kAttrDirectory},
      {dir.Windows(".hiddenfolder"), kAttrDirectory | kAttrHidden},
      {dir.Windows("dirlink"), kAttrDirectory | kAttrReparsePoint},
      {dir.Windows("filelink"), kAttrReparsePoint},
      {dir.Windows("dangling"), kAttrReparsePoint},
      {dir.Windows("loop"), kAttrReparsePoint},
      {dir.Windows("missing"), kInvalidAttributes},
      {dir.Windows("file.txt\\inside"), kInvalidAttributes},
      {"", kInvalidAttributes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(GetFileAttributes(c.path), c.expected);
  }
}

// Read-only comes from access(W_OK), judged as an ordinary user.
TEST(Files, ReadOnlyAttribute) {
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  dir.Put("ro.txt", "x");
  dir.Put("rw.txt", "x");
  ASSERT_EQ(mkdir(dir.Native("rodir").c_str(), 0555), 0);
  ASSERT_EQ(chmod(dir.Native("ro.txt").c_str(), 0444), 0);
  ASSERT_EQ(chmod(dir.Native("rw.txt").c_str(), 0666), 0);
  const CheckResult result = RunUnprivileged([&] {
    return GetFileAttributes(dir.Windows("ro.txt")) == kAttrReadOnly &&
           GetFileAttributes(dir.Windows("rodir")) == (kAttrDirectory | kAttrReadOnly) &&
           GetFileAttributes(dir.Windows("rw.txt")) == kAttrNormal;
  });
  if (result == CheckResult::CannotDropRights) GTEST_SKIP() << "cannot give up superuser rights";
  EXPECT_EQ(result, CheckResult::Passed) << "read-only attributes wrong for an ordinary user";
}

TEST(Files, ListDirectory) {
  TempDir dir;
  dir.Put("b.ini", "x");
  dir.Put("B.ini", "x");
  dir.Put("a.ini", "x");
  dir.Put(".z", "x");
  dir.Put("\xd6\xd0.ini", "x");  // a GBK name sorts after ASCII by byte value
  ASSERT_EQ(mkdir(dir.Native("sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("sub", dir.Native("link").c_str()), 0);
  ASSERT_EQ(symlink("link2", dir.Native("link2").c_str()), 0);  // a loop must not hang

  std::vector<DirEntry> entries{{"stale", 1}};
  ASSERT_TRUE(ListDirectory(dir.Windows(""), entries));
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
  ASSERT_TRUE(ListDirectory(dir.Windows("sub"), again));
  EXPECT_TRUE(again.empty());

  EXPECT_FALSE(ListDirectory(dir.Windows("missing"), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(ListDirectory(dir.Windows("a.ini"), entries));
}
#endif  // !_WIN32

TEST(Files, DeleteFile) {
  TempDir dir;
  dir.Put("gone.txt", "x");
  ASSERT_TRUE(dir.MakeFolder("folder"));
  EXPECT_TRUE(DeleteFile(dir.Windows("gone.txt")));
  EXPECT_EQ(GetFileAttributes(dir.Windows("gone.txt")), kInvalidAttributes);
  EXPECT_FALSE(DeleteFile(dir.Windows("gone.txt")));
  EXPECT_FALSE(DeleteFile(dir.Windows("folder")));
  EXPECT_EQ(GetFileAttributes(dir.Windows("folder")), kAttrDirectory);
}

TEST(Files, TextFileWritesCrLf) {
  TempDir dir;
  const std::string path = dir.Windows("log.txt");
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
  EXPECT_EQ(dir.Get("log.txt"), "12:00:00\tline one\r\ntwo\r\n\r\nthree more\r\n");
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
    TempDir dir;
    dir.Put("in.txt", c.bytes);
    TextFile f;
    ASSERT_TRUE(f.Open(dir.Windows("in.txt"), TextFile::Mode::Read));
    std::vector<std::string> lines;
    std::string line;
    while (f.ReadLine(line)) lines.push_back(line);
    EXPECT_EQ(lines, c.lines);
    EXPECT_FALSE(f.ReadLine(line));
  }
}

TEST(Files, WrittenTextReadsBack) {
  TempDir dir;
  const std::string path = dir.Windows("round.txt");
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
  TempDir dir;
  ASSERT_TRUE(dir.MakeFolder("folder"));
  TextFile f;
  EXPECT_FALSE(f.Open(dir.Windows("missing.txt"), TextFile::Mode::Read));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_FALSE(f.Open(dir.Windows("folder"), TextFile::Mode::Read));
  EXPECT_FALSE(f.Open(dir.Windows("folder"), TextFile::Mode::Append));
  EXPECT_FALSE(f.Open(dir.Windows("no\\such\\dir.txt"), TextFile::Mode::Append));
  std::string line = "stale";
  EXPECT_FALSE(f.ReadLine(line));
  EXPECT_TRUE(line.empty());

  std::string bytes = "stale";
  EXPECT_FALSE(ReadFileBytes(dir.Windows("missing.txt"), bytes));
  EXPECT_FALSE(ReadFileBytes(dir.Windows("folder"), bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(Files, ReadFileBytesIsBinary) {
  TempDir dir;
  std::string every;
  for (int i = 0; i < 256; ++i) every.push_back(static_cast<char>(i));
  dir.Put("bin", every);
  std::string big;
  for (int i = 0; i < 200; ++i) big += every;  // larger than one read chunk
  dir.Put("big", big);
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(dir.Windows("bin"), bytes));
  EXPECT_EQ(bytes, every);
  ASSERT_TRUE(ReadFileBytes(dir.Windows("big"), bytes));
  EXPECT_EQ(bytes, big);
}

}  // namespace
}  // namespace sentrel::platform
