// Loading a filter library at run time, with the fake filter of this folder.
#include "hosts/common/filter_library.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace sentrel::hosts {
namespace {

namespace fs = std::filesystem;

class FilterLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("sentrel-filter-library-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "boot");
    record_ = folder_ / "record.txt";
  }
  void TearDown() override { fs::remove_all(folder_); }

  void WriteBootstrap(const std::string& extra = "") {
    std::ofstream out(folder_ / "boot" / "sh_Sentrel.ini");
    out << "Record=" << record_.string() << "\n" << extra;
  }

  std::string RecordText() const {
    std::ifstream in(record_);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path folder_;
  fs::path record_;
};

TEST_F(FilterLibraryTest, MissingLibraryIsReportedWithItsPath) {
  FilterLibrary library;
  std::string error;
  EXPECT_FALSE(library.Open((folder_ / "nothing.so").string(), error));
  EXPECT_NE(error.find("cannot load filter library"), std::string::npos) << error;
  EXPECT_NE(error.find("nothing.so"), std::string::npos) << error;
  EXPECT_FALSE(library.Start((folder_ / "boot").string(), error));
  EXPECT_FALSE(library.Running());
}

TEST_F(FilterLibraryTest, MissingEntryPointIsNamed) {
  FilterLibrary library;
  std::string error;
  EXPECT_FALSE(library.Open(SENTREL_FAKE_FILTER_NOPROC, error));
  EXPECT_NE(error.find("does not export HttpFilterProc"), std::string::npos) << error;
}

TEST_F(FilterLibraryTest, StartsInTheBootstrapFolderAndRestoresTheCurrentDirectory) {
  WriteBootstrap();
  const fs::path before = fs::current_path();
  FilterLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(SENTREL_FAKE_FILTER, error)) << error;
  ASSERT_TRUE(library.Start((folder_ / "boot").string(), error)) << error;
  EXPECT_TRUE(library.Running());
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_EQ(library.Description(), "Fake test filter");
  EXPECT_EQ(library.Flags(), 0x00045100u);
  EXPECT_NE(RecordText().find("version cwd=" + fs::canonical(folder_ / "boot").string() + "\n"),
            std::string::npos)
      << RecordText();

  library.Terminate();
  EXPECT_FALSE(library.Running());
  EXPECT_NE(RecordText().find("terminate\n"), std::string::npos);
  // A second Terminate does not call the filter again.
  library.Terminate();
  const std::string text = RecordText();
  EXPECT_EQ(text.find("terminate\n"), text.rfind("terminate\n"));
  EXPECT_EQ(library.Notify(nullptr, SF_NOTIFY_URL_MAP, nullptr), SF_STATUS_REQ_NEXT_NOTIFICATION);
  library.Close();
}

TEST_F(FilterLibraryTest, RefusalByGetFilterVersionIsReported) {
  WriteBootstrap("Fail=1\n");
  const fs::path before = fs::current_path();
  FilterLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(SENTREL_FAKE_FILTER, error)) << error;
  EXPECT_FALSE(library.Start((folder_ / "boot").string(), error));
  EXPECT_NE(error.find("GetFilterVersion returned FALSE"), std::string::npos) << error;
  EXPECT_FALSE(library.Running());
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_NE(RecordText().find("refused\n"), std::string::npos);
}

TEST_F(FilterLibraryTest, UnreachableBootstrapFolderFailsWithoutCallingTheFilter) {
  FilterLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(SENTREL_FAKE_FILTER, error)) << error;
  EXPECT_FALSE(library.Start((folder_ / "missing").string(), error));
  EXPECT_NE(error.find("cannot enter the bootstrap folder"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(record_));
}

TEST(BootstrapFolder, IsTheFolderOfTheFile) {
  EXPECT_EQ(BootstrapFolder("/etc/sentrel/sh_Sentrel.ini"), "/etc/sentrel");
  EXPECT_EQ(BootstrapFolder("/sh_Sentrel.ini"), "/");
  EXPECT_EQ(BootstrapFolder("sh_Sentrel.ini"), ".");
  EXPECT_EQ(BootstrapFolder("conf/sh_Sentrel.ini"), "conf");
}

}  // namespace
}  // namespace sentrel::hosts
