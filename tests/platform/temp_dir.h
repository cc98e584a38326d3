// A fresh temporary folder per test, removed with its contents afterwards.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "tests/support/temp_folder.h"

namespace sentrel::platform::testing {

class TempDir {
 public:
  TempDir() {
    path_ = testsupport::MakeTempFolder("sentrel-platform-");
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // A native path below the folder.
  std::string Native(std::string_view name) const { return path_ + "/" + std::string(name); }
  // The same path written Windows-style, as the callers of the platform layer do.
  std::string Windows(std::string_view name) const {
    std::string p = Native(name);
    for (char& c : p) {
      if (c == '/') c = '\\';
    }
    return p;
  }

  // Makes a folder below the folder.
  bool MakeFolder(std::string_view name) const {
    std::error_code ec;
    return std::filesystem::create_directory(Native(name), ec);
  }

  // Writes bytes to a file below the folder, unchanged.
  void Put(std::string_view name, std::string_view bytes) const {
    std::FILE* f = std::fopen(Native(name).c_str(), "wb");
    if (f == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }

  // Reads a file's bytes unchanged (empty when missing).
  std::string Get(std::string_view name) const {
    std::string bytes;
    std::FILE* f = std::fopen(Native(name).c_str(), "rb");
    if (f == nullptr) return bytes;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
  }

 private:
  std::string path_;
};

}  // namespace sentrel::platform::testing
