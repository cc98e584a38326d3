// Settings-file access on POSIX: the file is read whole and scanned line by
// line with the rules of the Windows profile routines; writes change only the
// bytes of the affected value or add the new lines, and replace the file in one
// step so a reader never sees it half written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace sentrel::platform {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Names match without regard to the case of ASCII letters; a double-byte
// character matches only itself, whatever its trail byte looks like.
bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (IsLeadByte(x)) {
      if (x != y) return false;
      if (i + 1 < a.size()) {
        ++i;
        if (a[i] != b[i]) return false;
      }
      continue;
    }
    const auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
    if (fold(x) != fold(y)) return false;
  }
  return true;
}

// One line of a settings file, as offsets into the file's bytes.
struct Line {
  enum class Kind { Other, Section, Key };
  Kind kind = Kind::Other;
  std::size_t contentEnd = 0;  // where the line end (LF or CR LF) starts
  std::size_t end = 0;         // just past the line end
  bool hasLineEnd = false;
  std::string_view name;       // section or key name, blanks trimmed
  std::size_t valueBegin = 0;  // key lines: the value with blanks trimmed
  std::size_t valueEnd = 0;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    Line line;
    const std::size_t lf = text.find('\n', begin);
    line.hasLineEnd = lf != std::string_view::npos;
    line.end = line.hasLineEnd ? lf + 1 : text.size();
    line.contentEnd = line.hasLineEnd ? lf : text.size();
    if (line.hasLineEnd && line.contentEnd > begin && text[line.contentEnd - 1] == '\r') {
      --line.contentEnd;
    }
    const std::string_view content = text.substr(begin, line.contentEnd - begin);
    const std::string_view trimmed = Trim(content);
    if (!trimmed.empty() && trimmed.front() == '[') {
      // A section line; without a closing bracket the rest of the line names it.
      std::string_view name = trimmed.substr(1);
      const std::size_t close = name.find(']');
      if (close != std::string_view::npos) name = name.substr(0, close);
      line.kind = Line::Kind::Section;
      line.name = Trim(name);
    } else if (const std::size_t eq = content.find('='); eq != std::string_view::npos) {
      line.kind = Line::Kind::Key;
      line.name = Trim(content.substr(0, eq));
      std::size_t vb = begin + eq + 1;
      std::size_t ve = line.contentEnd;
      while (vb < ve && IsBlank(text[vb])) ++vb;
      while (ve > vb && IsBlank(text[ve - 1])) --ve;
      line.valueBegin = vb;
      line.valueEnd = ve;
    }
    lines.push_back(line);
    begin = line.end;
  }
  return lines;
}

// The first section of that name: its header line and the end of its body
// (the next section line or the end of the file). header is kNone when the
// file has no such section.
struct SectionSpan {
  std::size_t header = kNone;
  std::size_t bodyEnd = 0;
};

SectionSpan FindSection(const std::vector<Line>& lines, std::string_view section) {
  SectionSpan span;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::Kind::Section) continue;
    if (span.header != kNone) {
      span.bodyEnd = i;
      return span;
    }
    if (NamesEqual(lines[i].name, section)) span.header = i;
  }
  span.bodyEnd = lines.size();
  return span;
}

// The first line of the section's body that sets the key, or kNone.
std::size_t FindKey(const std::vector<Line>& lines, const SectionSpan& span, std::string_view key) {
  for (std::size_t i = span.header + 1; i < span.bodyEnd; ++i) {
    if (lines[i].kind == Line::Kind::Key && NamesEqual(lines[i].name, key)) return i;
  }
  return kNone;
}

std::string CutToBuffer(std::string_view text, std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  return std::string(text.substr(0, bufferSize - 1));
}

// The default loses its trailing spaces, as the platform's reader does.
std::string DefaultResult(std::string_view defaultValue, std::size_t bufferSize) {
  while (!defaultValue.empty() && defaultValue.back() == ' ') defaultValue.remove_suffix(1);
  return CutToBuffer(defaultValue, bufferSize);
}

// The value of a key line, without matching quotes around it.
std::string_view KeyValue(std::string_view text, const Line& line) {
  std::string_view v(text.data() + line.valueBegin, line.valueEnd - line.valueBegin);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

// Looks the key up in a parsed file; false when the section or key is missing.
bool LookUpIn(std::string_view text, const std::vector<Line>& lines, const std::string& section,
              const std::string& key, std::string& value) {
  const SectionSpan span = FindSection(lines, section);
  if (span.header == kNone) return false;
  const std::size_t k = FindKey(lines, span, key);
  if (k == kNone) return false;
  value.assign(KeyValue(text, lines[k]));
  return true;
}

// Looks the key up; false when the file, section or key is missing.
bool LookUp(const std::string& path, const std::string& section, const std::string& key,
            std::string& value) {
  std::string text;
  if (!ReadFileBytes(path, text)) return false;
  return LookUpIn(text, SplitLines(text), section, key, value);
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool CreateNewFile(const std::string& native, const std::string& bytes) {
  const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, bytes);
  return ::close(fd) == 0 && ok;
}

bool RewriteInPlace(const std::string& native, const std::string& bytes) {
  const int fd = ::open(native.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, bytes);
  return ::close(fd) == 0 && ok;
}

// Replaces an existing file's contents: a temporary file in the same folder is
// written and renamed over the target, with the target's permissions; a
// symbolic link is followed, so the link stays. When no temporary file can be
// made there, the file is rewritten in place.
bool ReplaceFile(const std::string& native, const std::string& bytes) {
  if (::access(native.c_str(), W_OK) != 0) return false;
  char* resolved = ::realpath(native.c_str(), nullptr);
  if (resolved == nullptr) return false;
  const std::string target = resolved;
  std::free(resolved);
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;

  // The temporary name is hidden and has no extension, so a folder scan that
  // looks for settings files never takes a leftover one for a real file.
  const std::size_t slash = target.rfind('/');
  std::string temp = target.substr(0, slash + 1) + ".~profile-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return RewriteInPlace(target, bytes);
  bool ok = WriteAll(fd, bytes);
  ok = ::fchmod(fd, st.st_mode & 07777) == 0 && ok;
  if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Keeping the owner needs privileges; the file stays ours otherwise.
  }
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), target.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

// Names and values that would break the line structure of the file (a line
// end, a bracket closing a section name, an equals sign in a key) are refused
// rather than written.
bool IsWritable(const std::string& section, const std::string& key, const std::string& value) {
  if (section.find_first_of("\r\n]") != std::string::npos) return false;
  if (key.empty() || key.find_first_of("\r\n=") != std::string::npos) return false;
  if (Trim(key).empty() || Trim(key).front() == '[') return false;
  return value.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, const std::string& defaultValue,
                              std::size_t bufferSize) {
  std::string value;
  if (!LookUp(path, section, key, value)) return DefaultResult(defaultValue, bufferSize);
  return CutToBuffer(value, bufferSize);
}

int ReadProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   int defaultValue) {
  std::string value;
  if (!LookUp(path, section, key, value) || value.empty()) return defaultValue;
  return ParseProfileInt(value);
}

struct ProfileFile::Parsed {
  std::string text;
  std::vector<Line> lines;  // views into text
};

ProfileFile::ProfileFile(const std::string& path) : parsed_(new Parsed) {
  if (ReadFileBytes(path, parsed_->text)) parsed_->lines = SplitLines(parsed_->text);
}

ProfileFile::~ProfileFile() { delete parsed_; }

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, std::size_t bufferSize) const {
  std::string value;
  if (!LookUpIn(parsed_->text, parsed_->lines, section, key, value)) {
    return DefaultResult(defaultValue, bufferSize);
  }
  return CutToBuffer(value, bufferSize);
}

int ProfileFile::ReadInt(const std::string& section, const std::string& key, int defaultValue) const {
  std::string value;
  if (!LookUpIn(parsed_->text, parsed_->lines, section, key, value) || value.empty()) {
    return defaultValue;
  }
  return ParseProfileInt(value);
}

bool WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value) {
  if (path.empty() || !IsWritable(section, key, value)) return false;
  const std::string native = NativePath(path);

  std::string text;
  const bool exists = GetFileAttributes(path) != kInvalidAttributes;
  if (exists && !ReadFileBytes(path, text)) return false;

  std::string updated = text;
  const std::vector<Line> lines = SplitLines(text);
  const SectionSpan span = FindSection(lines, section);
  if (span.header == kNone) {
    if (!updated.empty() && updated.back() != '\n') updated += "\r\n";
    updated += "[" + section + "]\r\n" + key + "=" + value + "\r\n";
  } else if (const std::size_t k = FindKey(lines, span, key); k != kNone) {
    updated.replace(lines[k].valueBegin, lines[k].contentEnd - lines[k].valueBegin, value);
  } else {
    // After the section's last key line, or right after its header.
    std::size_t after = span.header;
    for (std::size_t i = span.header + 1; i < span.bodyEnd; ++i) {
      if (lines[i].kind == Line::Kind::Key) after = i;
    }
    std::string insert = lines[after].hasLineEnd ? "" : "\r\n";
    insert += key + "=" + value + "\r\n";
    updated.insert(lines[after].end, insert);
  }

  if (!exists) return CreateNewFile(native, updated);
  if (updated == text) return ::access(native.c_str(), W_OK) == 0;
  return ReplaceFile(native, updated);
}

}  // namespace sentrel::platform
