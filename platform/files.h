// Files and folders. The filter builds Windows-style paths (backslashes); they
// are mapped to the native separator here, at the file-system boundary, so the
// filter's own path texts stay as they are. Text-mode streams behave as the
// Windows C runtime's: a line feed written reaches the disk as CR LF, and CR LF
// read comes back as LF, so files are byte-compatible with those written on
// Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sentrel::platform {

// File attribute bits, with the values of the Windows attribute word.
inline constexpr std::uint32_t kAttrReadOnly = 0x1;
inline constexpr std::uint32_t kAttrHidden = 0x2;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrNormal = 0x80;
inline constexpr std::uint32_t kAttrReparsePoint = 0x400;
inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// Maps a Windows-style path to a native one: backslashes become the native
// separator and a leading ".\" names the current directory.
std::string NativePath(const std::string& windowsPath);

// The attributes of a path, or kInvalidAttributes when it does not exist.
// Directories carry kAttrDirectory, names starting with "." kAttrHidden,
// unwritable entries kAttrReadOnly, symbolic links kAttrReparsePoint (in
// addition to what they point at), plain files kAttrNormal when nothing else.
std::uint32_t GetFileAttributes(const std::string& path);

bool DeleteFile(const std::string& path);

struct DirEntry {
  std::string name;
  std::uint32_t attributes = 0;
};

// Lists the entries of a folder in byte order of their names, without the "."
// and ".." entries. Returns false when the folder cannot be listed.
bool ListDirectory(const std::string& folder, std::vector<DirEntry>& entries);

// A buffered text-mode file stream with shared access.
class TextFile {
 public:
  enum class Mode { Read, Append };

  TextFile() = default;
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  bool Open(const std::string& path, Mode mode);
  bool IsOpen() const { return file_ != nullptr; }
  void Close();

  // Reads the next line without its line end (CR LF or LF). Returns false at
  // the end of the file. A last line without a line end is returned too.
  bool ReadLine(std::string& line);

  // Writes text, turning every LF into CR LF. Returns false on a write error.
  bool Write(const std::string& text);

 private:
  std::FILE* file_ = nullptr;
};

// Reads a whole file's bytes unchanged (binary). Returns false when it cannot
// be opened.
bool ReadFileBytes(const std::string& path, std::string& bytes);

}  // namespace sentrel::platform
