// Filter-wide settings: clamps, folder path normalization and response pages.
#include <gtest/gtest.h>

#include "filter/settings/filter_settings.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

using test::SettingsFolder;

struct ClampCase {
  const char* config;  // Config.ini text
  std::uint32_t dateline;
  std::uint32_t logMin;
  std::int32_t cacheMin;
  std::uint32_t maxClients = kDefaultMaxClients;
  std::int32_t ipv6Prefix = 0;
};

class GeneralClamps : public ::testing::TestWithParam<ClampCase> {};

TEST_P(GeneralClamps, ReadWithDefaultsAndClamps) {
  SettingsFolder folder;
  folder.Write("Config.ini", GetParam().config);
  FilterSettings s;
  s.FolderPath = NormalizeFolderPath(folder.Root());
  ReadGeneralSettings(s);
  EXPECT_EQ(s.Dateline, GetParam().dateline);
  EXPECT_EQ(s.LogMin, GetParam().logMin);
  EXPECT_EQ(s.CacheMin, GetParam().cacheMin);
  EXPECT_EQ(s.MaxClients, GetParam().maxClients);
  EXPECT_EQ(s.IPv6Prefix, GetParam().ipv6Prefix);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, GeneralClamps,
    ::testing::Values(
        ClampCase{"", 86400, 30, 5},
        ClampCase{"[Config]\nDateline=604800\nLogMin=1024\nCacheMin=0\nMaxClients=1\nIPv6Prefix=32\n", 604800,
                  1024, 0, 1, 32},
        ClampCase{"[Config]\nDateline=604801\nLogMin=1025\nCacheMin=-2\nMaxClients=0\nIPv6Prefix=129\n", 86400,
                  30, 1, kDefaultMaxClients, 128},
        ClampCase{"[Config]\nDateline=0\nLogMin=0\nCacheMin=-1\nMaxClients=-7\nIPv6Prefix=-64\n", 86400, 30, 1,
                  kDefaultMaxClients, 32},
        ClampCase{"[Config]\nDateline=-1\nLogMin=-5\nCacheMin=1\nMaxClients=2147483647\nIPv6Prefix=128\n", 86400,
                  30, 1, 2147483647u, 128},
        ClampCase{"[Config]\nDateline=1\nLogMin=1\nCacheMin=65535\nIPv6Prefix=31\n", 1, 1, 65535,
                  kDefaultMaxClients, 32},
        ClampCase{"[Config]\nDateline=abc\nLogMin=2000\nCacheMin=65536\nIPv6Prefix=0\n", 86400, 30, 65535},
        ClampCase{"[config]\ndateline = 3600 \nlogmin=7x\ncachemin=+9\nipv6prefix=64\n", 3600, 7, 9,
                  kDefaultMaxClients, 64}));

struct CodeCase {
  const char* config;
  std::int32_t length;
  std::int32_t width;
  std::int32_t height;
};

class CodeClamps : public ::testing::TestWithParam<CodeCase> {};

TEST_P(CodeClamps, PictureCodeSettings) {
  SettingsFolder folder;
  folder.Write("Config.ini", GetParam().config);
  FilterSettings s;
  s.FolderPath = NormalizeFolderPath(folder.Root());
  ReadPictureCodeSettings(s);
  EXPECT_EQ(s.Length, GetParam().length);
  if (s.Length != 0) {
    EXPECT_EQ(s.Width, GetParam().width);
    EXPECT_EQ(s.height, GetParam().height);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, CodeClamps,
    ::testing::Values(CodeCase{"", 4, 300, 100},
                      CodeCase{"[Code]\nLength=24\nWidth=512\nheight=512\n", 24, 512, 512},
                      CodeCase{"[Code]\nLength=1\nWidth=1\nheight=1\n", 1, 1, 1},
                      CodeCase{"[Code]\nLength=25\n", 0, 0, 0},
                      CodeCase{"[Code]\nLength=0\n", 0, 0, 0},
                      CodeCase{"[Code]\nLength=-3\n", 0, 0, 0},
                      CodeCase{"[Code]\nLength=6\nWidth=513\nheight=0\n", 6, 300, 100},
                      CodeCase{"[Code]\nLength=6\nWidth=0\nheight=-1\n", 6, 300, 100}));

TEST(PictureCodeSettings, DisabledCodeReadsNoSize) {
  SettingsFolder folder;
  folder.Write("Config.ini", "[Code]\nLength=25\nWidth=20\nheight=20\n");
  FilterSettings s;
  s.FolderPath = NormalizeFolderPath(folder.Root());
  ReadPictureCodeSettings(s);
  EXPECT_EQ(s.Length, 0);
  EXPECT_EQ(s.Width, 300);
  EXPECT_EQ(s.height, 100);
}

TEST(FolderPath, NormalizationTable) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\site\\guard\\", "C:\\site\\guard\\"},
      {"C:\\site\\guard", "C:\\site\\guard\\"},
      {"C:\\site\\\\guard", "C:\\site\\guard\\"},
      {"\\\\server\\share", "\\server\\share\\"},
      {"C:\\a\\\\\\b", "C:\\a\\\\b\\"},  // three become two
      {"/srv/site", "/srv/site\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeFolderPath(c.in), c.out) << c.in;
}

TEST(FolderPath, ReadFromBootstrap) {
  SettingsFolder folder;
  std::string path;
  ASSERT_TRUE(ReadFolderPath(folder.Bootstrap(), path));
  EXPECT_EQ(path, folder.Root() + "\\");

  test::TempFolder other;
  other.Write("empty.ini", "[Config]\nFolderPath=\n");
  EXPECT_FALSE(ReadFolderPath(other.Path() + "/empty.ini", path));
  other.Write("file.ini", "[Config]\nFolderPath=" + other.Path() + "/empty.ini\n");
  EXPECT_FALSE(ReadFolderPath(other.Path() + "/file.ini", path));
  other.Write("gone.ini", "[Config]\nFolderPath=" + other.Path() + "/nowhere\n");
  EXPECT_FALSE(ReadFolderPath(other.Path() + "/gone.ini", path));
  EXPECT_FALSE(ReadFolderPath(other.Path() + "/missing.ini", path));
}

TEST(ResponsePage, LinesEndInLineFeed) {
  SettingsFolder folder;
  folder.Write("Return.html", "one\r\ntwo\r\nthree");
  folder.Write("Code.html", "a\nb\n");
  const std::string root = NormalizeFolderPath(folder.Root());
  EXPECT_EQ(ReadResponsePage(root + "Return.html"), "one\ntwo\nthree\n");
  EXPECT_EQ(ReadResponsePage(root + "Code.html"), "a\nb\n");
  EXPECT_EQ(ReadResponsePage(root + "Missing.html"), "");
  EXPECT_EQ(ReadResponsePage(root + "Action"), "");  // a folder, not a page
  folder.Write("Empty.html", "");
  EXPECT_EQ(ReadResponsePage(root + "Empty.html"), "");
}

TEST(PathExists, DirectoryAndFileFlag) {
  SettingsFolder folder;
  folder.Write("Config.ini", "x");
  const std::string root = NormalizeFolderPath(folder.Root());
  EXPECT_TRUE(PathExists(root + "Action", true));
  EXPECT_FALSE(PathExists(root + "Action", false));
  EXPECT_TRUE(PathExists(root + "Config.ini", false));
  EXPECT_FALSE(PathExists(root + "Config.ini", true));
  EXPECT_FALSE(PathExists(root + "nothing", true));
  EXPECT_FALSE(PathExists(root + "nothing", false));
}

}  // namespace
}  // namespace sentrel
