// Settings-file access on Windows: the system's private-profile routines
// themselves. They take the file's bytes through the system's ANSI code page,
// which keeps code-page text byte for byte when that code page is the one the
// text is written in (936 for the filter's Chinese texts).
#include <vector>

#include "platform/profile.h"
#include "platform/win32/windows_api.h"

namespace sentrel::platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Names and values that would break the line structure of the file (a line
// end, a bracket closing a section name, an equals sign in a key) are refused
// rather than written, as on every platform.
bool IsWritable(const std::string& section, const std::string& key, const std::string& value) {
  if (section.find_first_of("\r\n]") != std::string::npos) return false;
  if (key.empty() || key.find_first_of("\r\n=") != std::string::npos) return false;
  std::size_t first = 0;
  while (first < key.size() && IsBlank(key[first])) ++first;
  if (first == key.size() || key[first] == '[') return false;
  return value.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  const DWORD size = bufferSize > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(bufferSize);
  std::vector<char> buffer(size, '\0');
  const DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                             buffer.data(), size, path.c_str());
  return std::string(buffer.data(), n < size ? n : size - 1);
}

int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int defaultValue) {
  return static_cast<int>(
      ::GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path.c_str()));
}

bool WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value) {
  if (path.empty() || !IsWritable(section, key, value)) return false;
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) !=
         FALSE;
}

// On Windows the system's routines are asked for every key; they keep the
// files they read in a cache of their own, and asking them keeps the
// semantics exactly those of ReadProfileString and ReadProfileInt.
struct ProfileFile::Parsed {
  std::string path;
};

ProfileFile::ProfileFile(const std::string& path) : parsed_(new Parsed{path}) {}

ProfileFile::~ProfileFile() { delete parsed_; }

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::size_t bufferSize) const {
  return ReadProfileString(parsed_->path, section, key, defaultValue, bufferSize);
}

int ProfileFile::ReadInt(const std::string& section, const std::string& key, int defaultValue) const {
  return ReadProfileInt(parsed_->path, section, key, defaultValue);
}

}  // namespace sentrel::platform
