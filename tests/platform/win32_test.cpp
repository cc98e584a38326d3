// The Windows implementation of the platform layer hands on what the system's
// own routines say: attribute words, listing order, code page 936, the C
// runtime's generator and shared text streams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/lock.h"
#include "platform/random.h"
#include "platform/win32/windows_api.h"
#include "tests/support/temp_folder.h"

namespace sentrel::platform {
namespace {

using test::TempFolder;

// The raw listing of a folder, "." and ".." included, in the system's order.
std::vector<std::string> RawListing(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE listing = ::FindFirstFileA((folder + "\\*.*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(found.cFileName);
  } while (::FindNextFileA(listing, &found));
  ::FindClose(listing);
  return names;
}

TEST(Win32Files, PathsAreNative) {
  EXPECT_EQ(NativePath(".\\sh_Sentrel.ini"), ".\\sh_Sentrel.ini");
  EXPECT_EQ(NativePath("C:\\site\\guard\\Action\\a.ini"), "C:\\site\\guard\\Action\\a.ini");
  EXPECT_EQ(NativePath(""), "");
}

TEST(Win32Files, AttributesAreTheSystemsWord) {
  TempFolder dir;
  dir.Write("plain.txt", "x");
  dir.Write("hidden.ini", "x");
  dir.Write("readonly.ini", "x");
  ASSERT_TRUE(dir.MakeFolder("folder"));
  ASSERT_TRUE(dir.MakeFolder("hiddenfolder"));
  ASSERT_TRUE(::SetFileAttributesA(dir.WindowsPath("hidden.ini").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(::SetFileAttributesA(dir.WindowsPath("readonly.ini").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::SetFileAttributesA(dir.WindowsPath("hiddenfolder").c_str(), FILE_ATTRIBUTE_HIDDEN));

  for (const char* name : {"plain.txt", "hidden.ini", "readonly.ini", "folder", "hiddenfolder"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.WindowsPath(name);
    EXPECT_EQ(GetFileAttributes(path), static_cast<std::uint32_t>(::GetFileAttributesA(path.c_str())));
  }
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("folder")) & kAttrDirectory, kAttrDirectory);
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("plain.txt")) & kAttrDirectory, 0u);
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("hidden.ini")) & kAttrHidden, kAttrHidden);
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("readonly.ini")) & kAttrReadOnly, kAttrReadOnly);
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("hiddenfolder")), kAttrDirectory | kAttrHidden);
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("missing")), kInvalidAttributes);
  EXPECT_EQ(GetFileAttributes(dir.WindowsPath("plain.txt\\inside")), kInvalidAttributes);
  EXPECT_EQ(GetFileAttributes(""), kInvalidAttributes);
  ::SetFileAttributesA(dir.WindowsPath("readonly.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32Files, ListingKeepsTheSystemsOrderWithoutTheDotEntries) {
  TempFolder dir;
  for (const char* name : {"b.ini", "a.ini", "Z.ini", "c.txt"}) dir.Write(name, "x");
  ASSERT_TRUE(dir.MakeFolder("sub"));
  const std::vector<std::string> raw = RawListing(dir.Path());
  ASSERT_GE(raw.size(), 2u);
  EXPECT_EQ(raw[0], ".");  // the folder's own entry comes first

  std::vector<DirEntry> entries{{"stale", 1}};
  ASSERT_TRUE(ListDirectory(dir.Path(), entries));
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  std::vector<std::string> expected;
  for (const std::string& name : raw) {
    if (name != "." && name != "..") expected.push_back(name);
  }
  EXPECT_EQ(names, expected);
  ASSERT_EQ(entries.size(), 5u);
  for (const DirEntry& e : entries) {
    EXPECT_EQ(e.attributes, GetFileAttributes(dir.Path() + "\\" + e.name)) << e.name;
  }

  // A trailing separator lists the same folder.
  std::vector<DirEntry> again;
  ASSERT_TRUE(ListDirectory(dir.Path() + "\\", again));
  EXPECT_EQ(again.size(), entries.size());
  ASSERT_TRUE(ListDirectory(dir.WindowsPath("sub"), again));
  EXPECT_TRUE(again.empty());
  EXPECT_FALSE(ListDirectory(dir.WindowsPath("missing"), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(ListDirectory(dir.WindowsPath("a.ini"), entries));
  EXPECT_FALSE(ListDirectory("", entries));
}

TEST(Win32Files, TextStreamsShareTheFile) {
  TempFolder dir;
  const std::string path = dir.WindowsPath("shared.log");
  TextFile writer;
  ASSERT_TRUE(writer.Open(path, TextFile::Mode::Append));
  ASSERT_TRUE(writer.Write("first\n"));
  // While it is open for appending, others may open it to append and read.
  TextFile other;
  ASSERT_TRUE(other.Open(path, TextFile::Mode::Append));
  ASSERT_TRUE(other.Write("second\n"));
  other.Close();
  TextFile reader;
  EXPECT_TRUE(reader.Open(path, TextFile::Mode::Read));
  writer.Close();
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(path, bytes));
  EXPECT_NE(bytes.find("second\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("first\r\n"), std::string::npos);
}

TEST(Win32CodePage, LeadBytesAreThoseOfCodePage936) {
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(IsLeadByte(static_cast<unsigned char>(b)),
              ::IsDBCSLeadByteEx(936, static_cast<BYTE>(b)) != FALSE)
        << b;
  }
}

TEST(Win32CodePage, ConversionIsThatOfCodePage936) {
  // 程序加载完成, 模块读取成功 in code page 936.
  for (const std::string& gbk : {std::string("\xb3\xcc\xd0\xf2\xbc\xd3\xd4\xd8\xcd\xea\xb3\xc9"),
                                std::string("\xc4\xa3\xbf\xe9\xb6\xc1\xc8\xa1\xb3\xc9\xb9\xa6")}) {
    wchar_t wide[64];
    const int n = ::MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), wide, 64);
    ASSERT_GT(n, 0);
    char utf8[256];
    const int m = ::WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr);
    ASSERT_GT(m, 0);
    EXPECT_EQ(CodePageToUtf8(gbk), std::string(utf8, static_cast<std::size_t>(m)));
    EXPECT_EQ(Utf8ToCodePage(std::string(utf8, static_cast<std::size_t>(m))), gbk);
  }
}

// The picture code's drawing takes its choices from the runtime's srand/rand
// on Windows; they give the very sequence CrtRand gives on Linux, so the
// pictures of one second agree across the platforms.
TEST(Win32Random, RuntimeGeneratorMatchesCrtRand) {
  for (std::uint32_t seed : {1u, 42u, 1700000000u, 0xFFFFFFFFu}) {
    CrtRand expected;
    expected.Seed(seed);
    std::srand(seed);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(std::rand(), expected.Next()) << seed << " at " << i;
  }
}

// The filter's locks are the system's critical sections.
TEST(Win32Lock, CriticalSectionExcludesOtherThreads) {
  NativeMutex mutex;
  mutex.lock();
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = mutex.try_lock(); }).join();
  EXPECT_FALSE(otherGotIt);
  mutex.unlock();
  std::thread([&] {
    otherGotIt = mutex.try_lock();
    if (otherGotIt) mutex.unlock();
  }).join();
  EXPECT_TRUE(otherGotIt);

  CriticalSection section;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        ScopedLock hold(section);
        counter = counter + 1;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 80000);
}

}  // namespace
}  // namespace sentrel::platform
