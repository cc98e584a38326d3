// Files and folders on POSIX. Windows-style paths are mapped with NativePath;
// attributes are put together from lstat/stat and access(), and text-mode
// streams add and remove the carriage returns the Windows C runtime would.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/files.h"

namespace sentrel::platform {

namespace {

// The last component of a native path, without trailing separators.
std::string_view BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool IsHiddenName(std::string_view name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

std::uint32_t AttributesOfNative(const std::string& native, std::string_view name) {
  struct stat st {};
  if (lstat(native.c_str(), &st) != 0) return kInvalidAttributes;
  std::uint32_t attributes = 0;
  if (S_ISLNK(st.st_mode)) {
    attributes |= kAttrReparsePoint;
    // What the link points at; a dangling link or a loop keeps only the
    // reparse-point attribute.
    if (stat(native.c_str(), &st) != 0) return attributes;
  }
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if (IsHiddenName(name)) attributes |= kAttrHidden;
  if (access(native.c_str(), W_OK) != 0) attributes |= kAttrReadOnly;
  if (attributes == 0) attributes = kAttrNormal;
  return attributes;
}

bool IsDirectory(std::FILE* file) {
  struct stat st {};
  return fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string NativePath(const std::string& windowsPath) {
  std::string native = windowsPath;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

std::uint32_t GetFileAttributes(const std::string& path) {
  if (path.empty()) return kInvalidAttributes;
  const std::string native = NativePath(path);
  return AttributesOfNative(native, BaseName(native));
}

bool DeleteFile(const std::string& path) {
  if (path.empty()) return false;
  return unlink(NativePath(path).c_str()) == 0;
}

bool ListDirectory(const std::string& folder, std::vector<DirEntry>& entries) {
  entries.clear();
  std::string native = NativePath(folder);
  if (native.empty()) return false;
  DIR* dir = opendir(native.c_str());
  if (dir == nullptr) return false;
  if (native.back() != '/') native.push_back('/');
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::uint32_t attributes = AttributesOfNative(native + std::string(name), name);
    // An entry removed while the folder is being read is left out.
    if (attributes == kInvalidAttributes) continue;
    entries.push_back(DirEntry{std::string(name), attributes});
  }
  closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

TextFile::~TextFile() { Close(); }

bool TextFile::Open(const std::string& path, Mode mode) {
  Close();
  if (path.empty()) return false;
  file_ = std::fopen(NativePath(path).c_str(), mode == Mode::Read ? "rb" : "ab");
  if (file_ != nullptr && IsDirectory(file_)) Close();
  return file_ != nullptr;
}

void TextFile::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

bool TextFile::ReadLine(std::string& line) {
  line.clear();
  if (file_ == nullptr) return false;
  bool any = false;
  bool ended = false;
  flockfile(file_);
  for (int c; (c = getc_unlocked(file_)) != EOF;) {
    any = true;
    if (c == '\n') {
      ended = true;
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  funlockfile(file_);
  // CR LF is one line end; a CR elsewhere is part of the line.
  if (ended && !line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

bool TextFile::Write(const std::string& text) {
  if (file_ == nullptr) return false;
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return std::fwrite(out.data(), 1, out.size(), file_) == out.size();
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  if (path.empty()) return false;
  std::FILE* file = std::fopen(NativePath(path).c_str(), "rb");
  if (file == nullptr) return false;
  if (IsDirectory(file)) {
    std::fclose(file);
    return false;
  }
  char buffer[16384];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  if (!ok) bytes.clear();
  return ok;
}

}  // namespace sentrel::platform
