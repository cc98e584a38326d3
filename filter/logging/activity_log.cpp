#include "filter/logging/activity_log.h"

#include "platform/files.h"

namespace sentrel {

bool ActivityLog::WriteLog(std::string name, std::string text, std::string fileName,
                           LogMode mode) {
  if (name.empty() || text.empty()) return false;
  if (mode != LogMode::Plain) text = clock_.FormatNow("%H:%M:%S") + "\t" + text;
  text += '\n';

  platform::ScopedLock lock(logLock_);
  if (mode == LogMode::Immediate) {
    WriteAndCount(name, text, fileName, 1);
    return true;
  }
  Pending& pending = buffer_[name];
  pending.count = static_cast<std::uint16_t>(pending.count + 1);
  pending.text += text;
  pending.lastFileName = fileName;
  if (pending.count < logMin_) return false;
  WriteAndCount(name, pending.text, fileName, pending.count);
  pending.count = 0;
  pending.text.clear();
  return true;
}

bool ActivityLog::WriteLogFile(const std::string& name, const std::string& content,
                               const std::string& fileName) {
  try {
    std::string file = fileName;
    if (file.empty()) file = name + "_" + clock_.FormatNow("%Y-%m-%d") + ".log";
    platform::TextFile out;
    if (!out.Open(folderPath_ + "Log\\" + file, platform::TextFile::Mode::Append)) return false;
    bool ok = out.Write(content);
    out.Close();
    return ok;
  } catch (...) {
    return false;
  }
}

bool ActivityLog::WriteAndCount(const std::string& name, const std::string& content,
                                const std::string& fileName, std::uint64_t lines) {
  const bool written = WriteLogFile(name, content, fileName);
  (written ? counts_.linesWritten : counts_.linesLost) += lines;
  return written;
}

ActivityLog::Counts ActivityLog::ReadCounts() {
  platform::ScopedLock lock(logLock_);
  return counts_;
}

void ActivityLog::FlushAll() {
  platform::ScopedLock lock(logLock_);
  for (auto& [name, pending] : buffer_) {
    if (pending.text.empty()) continue;
    WriteAndCount(name, pending.text, pending.lastFileName, pending.count);
    pending.count = 0;
    pending.text.clear();
  }
}

}  // namespace sentrel
