// A new, empty folder under the system's temporary folder, for test helpers.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#if !defined(_WIN32)
#include <cstdlib>
#endif

namespace sentrel::testsupport {

// Makes a folder named `prefix` plus a unique suffix and returns its path;
// empty when none could be made.
inline std::string MakeTempFolder(const std::string& prefix) {
  const std::string base = (std::filesystem::temp_directory_path() / prefix).string();
#if defined(_WIN32)
  // The Windows runtime has no mkdtemp: random names until one is new.
  std::random_device device;
  std::mt19937_64 generator(device());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = base;
    for (int i = 0; i < 8; ++i) path.push_back("0123456789abcdef"[generator() % 16]);
    std::error_code ec;
    if (std::filesystem::create_directory(path, ec)) return path;
  }
  return {};
#else
  std::string pattern = base + "XXXXXX";
  return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
#endif
}

}  // namespace sentrel::testsupport
