#include "tests/support/temp_folder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#if !defined(_WIN32)
#include <cstdlib>
#endif

namespace sentrel::test {

namespace fs = std::filesystem;

namespace {

// Makes a folder named "sentrel-test-" plus a unique suffix.
std::string MakeUniqueFolder() {
  const std::string base = (fs::temp_directory_path() / "sentrel-test-").string();
#if defined(_WIN32)
  // The Windows runtime has no mkdtemp: random names until one is new.
  std::random_device device;
  std::mt19937_64 generator(device());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = base;
    for (int i = 0; i < 8; ++i) path.push_back("0123456789abcdef"[generator() % 16]);
    std::error_code ec;
    if (fs::create_directory(path, ec)) return path;
  }
  return {};
#else
  std::string pattern = base + "XXXXXX";
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
#endif
}

}  // namespace

TempFolder::TempFolder() : path_(MakeUniqueFolder()) {
  if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // A test may have taken the write right away.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempFolder::File(std::string_view relative) const {
  fs::path p = fs::path(path_) / relative;
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  return p.string();
}

std::string TempFolder::WindowsPath(std::string_view relative) const {
  std::string p = path_ + "/" + std::string(relative);
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

void TempFolder::Write(const std::string& relative, std::string_view bytes) const {
  fs::path p = fs::path(path_) / relative;
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempFolder::Read(const std::string& relative) const {
  std::ifstream in(fs::path(path_) / relative, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool TempFolder::Exists(const std::string& relative) const {
  std::error_code ec;
  return fs::exists(fs::path(path_) / relative, ec);
}

bool TempFolder::MakeFolder(const std::string& relative) const {
  std::error_code ec;
  return fs::create_directories(fs::path(path_) / relative, ec);
}

void TempFolder::Remove(const std::string& relative) const {
  std::error_code ec;
  fs::remove_all(fs::path(path_) / relative, ec);
}

std::vector<std::string> TempFolder::List(const std::string& relative) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(path_) / relative, ec)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace sentrel::test
