// A fresh folder under the system's temporary folder for one test, removed
// with its contents afterwards; files are written and read byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sentrel::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  // The native path of a file or folder below the folder; the folders on
  // the way are made.
  std::string File(std::string_view relative) const;
  // The same path written Windows-style, as the filter's own callers write it.
  std::string WindowsPath(std::string_view relative) const;

  // Writes bytes to a file below the folder, creating folders on the way.
  void Write(const std::string& relative, std::string_view bytes) const;
  // A file's bytes (empty when it is missing).
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  // Makes a folder (and its parents); false when it was already there or
  // cannot be made.
  bool MakeFolder(const std::string& relative) const;
  void Remove(const std::string& relative) const;
  // The names in a folder below the folder, sorted.
  std::vector<std::string> List(const std::string& relative) const;

 private:
  std::string path_;
};

}  // namespace sentrel::test
