// Files and folders on Windows, with the system's own routines: attributes
// from GetFileAttributesA, listings from FindFirstFileA/FindNextFileA in the
// order the file system returns them, and the C runtime's text-mode streams
// opened with _fsopen so that other readers and writers may share the file.
// The text mode of the runtime turns LF into CR LF on writing and CR LF into
// LF on reading.
#include <share.h>

#include <cstdio>

#include "platform/files.h"
#include "platform/win32/windows_api.h"

namespace sentrel::platform {

namespace {

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

bool IsDirectoryPath(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

// Windows paths are native already.
std::string NativePath(const std::string& windowsPath) { return windowsPath; }

std::uint32_t GetFileAttributes(const std::string& path) {
  if (path.empty()) return kInvalidAttributes;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? kInvalidAttributes
                                               : static_cast<std::uint32_t>(attributes);
}

bool DeleteFile(const std::string& path) {
  if (path.empty()) return false;
  return ::DeleteFileA(path.c_str()) != FALSE;
}

// The listing of a folder starts with the folder's own "." entry and its
// ".." entry (a drive's root folder has neither); both are left out by name,
// so a listing without them loses no real entry.
bool ListDirectory(const std::string& folder, std::vector<DirEntry>& entries) {
  entries.clear();
  if (folder.empty()) return false;
  const std::string pattern = folder + (EndsWithSeparator(folder) ? "*.*" : "\\*.*");
  WIN32_FIND_DATAA found;
  HANDLE listing = ::FindFirstFileA(pattern.c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) {
    // An empty root folder lists nothing at all; any other failure means the
    // folder cannot be listed.
    return ::GetLastError() == ERROR_FILE_NOT_FOUND && IsDirectoryPath(folder);
  }
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    entries.push_back(DirEntry{name, static_cast<std::uint32_t>(found.dwFileAttributes)});
  } while (::FindNextFileA(listing, &found));
  ::FindClose(listing);
  return true;
}

TextFile::~TextFile() { Close(); }

bool TextFile::Open(const std::string& path, Mode mode) {
  Close();
  if (path.empty()) return false;
  file_ = ::_fsopen(path.c_str(), mode == Mode::Read ? "rt" : "at", _SH_DENYNO);
  return file_ != nullptr;
}

void TextFile::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

// The runtime's text mode has already turned each CR LF into LF; a CR
// elsewhere stays part of the line.
bool TextFile::ReadLine(std::string& line) {
  line.clear();
  if (file_ == nullptr) return false;
  bool any = false;
  ::_lock_file(file_);
  for (int c; (c = _getc_nolock(file_)) != EOF;) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  ::_unlock_file(file_);
  return any;
}

bool TextFile::Write(const std::string& text) {
  if (file_ == nullptr) return false;
  return std::fwrite(text.data(), 1, text.size(), file_) == text.size();
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  if (path.empty()) return false;
  std::FILE* file = ::_fsopen(path.c_str(), "rb", _SH_DENYNO);
  if (file == nullptr) return false;
  char buffer[16384];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  if (!ok) bytes.clear();
  return ok;
}

}  // namespace sentrel::platform
