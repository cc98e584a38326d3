// Settings-file ("private profile") access with the semantics of the Windows
// profile routines: sections and keys matched without regard to case, blanks
// around names and values trimmed, the first occurrence of a key wins, a value
// enclosed in matching single or double quotes loses them. Values are bytes in
// the system code page and are never re-encoded.
#pragma once

#include <cstddef>
#include <string>

namespace sentrel::platform {

// Reads `key` of `section` from the settings file at `path` (a Windows-style
// path, see files.h). Returns `defaultValue` when the file, the section or the
// key is missing. The result is cut to `bufferSize - 1` bytes, as a caller
// buffer of `bufferSize` bytes with its terminating zero would hold it
// (bufferSize 0 gives the empty text). A default that is used loses its
// trailing spaces, as with the platform's reader.
std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t bufferSize);

// Reads an integer the way the platform's integer reader does: leading blanks,
// an optional sign, then the leading decimal digits; a value that does not start
// with a number reads as 0. A missing key, or a key whose value is empty, gives
// `defaultValue`.
int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int defaultValue);

// Writes key=value into the settings file. Creates the file and the section when
// needed; replaces the value of the key's first occurrence in place; appends a
// new key at the end of its section and a new section at the end of the file.
// Every other byte of the file is left as it was. Returns false when the file
// cannot be read or written.
bool WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value);

// One settings file read once and then asked for many keys, with exactly the
// semantics of ReadProfileString and ReadProfileInt. Reading a large file key
// by key with those functions parses the whole file for every key; a reader
// that needs many keys of one file holds a ProfileFile instead. A file that
// cannot be read behaves as an empty one (every key missing). On Windows the
// system's own routines answer every key (they keep read files in a cache of
// their own), so a change to the file shows in later answers.
class ProfileFile {
 public:
  explicit ProfileFile(const std::string& path);
  ~ProfileFile();
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue, std::size_t bufferSize) const;
  int ReadInt(const std::string& section, const std::string& key, int defaultValue) const;

 private:
  struct Parsed;
  Parsed* parsed_;
};

// Parses an integer as ReadProfileInt does with a present, non-empty value.
// Digits beyond 32 bits wrap around as in the platform's reader: 4294967295
// reads as -1.
int ParseProfileInt(const std::string& text);

}  // namespace sentrel::platform
