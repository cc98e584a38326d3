// The activity log: plain-text files in the settings folder's "Log" folder.
// Lines are collected in memory per log name and written in blocks of LogMin
// lines; program messages are written at once.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/clock.h"
#include "platform/lock.h"

namespace sentrel {

enum class LogMode : std::uint8_t {
  Plain = 0,      // no time stamp, collected
  Stamped = 1,    // time stamp, collected
  Immediate = 2,  // time stamp, written at once
};

// The log of the program messages.
inline constexpr char kProgramLogName[] = "Log";

class ActivityLog {
 public:
  explicit ActivityLog(platform::Clock& clock) : clock_(clock) {}

  // The settings folder (ending in one backslash) and the block size.
  void Configure(const std::string& folderPath, std::uint32_t logMin) {
    folderPath_ = folderPath;
    logMin_ = logMin;
  }

  // Formats, collects or writes one line. Returns true when something was
  // handed to a file (an Immediate line or a flushed block).
  bool WriteLog(std::string name, std::string text, std::string fileName, LogMode mode);

  // A program message: a stamped line in the log "Log", written at once.
  bool WriteProgramMessage(std::string text) {
    return WriteLog(kProgramLogName, std::move(text), "", LogMode::Immediate);
  }

  // Appends content to the log file; true when it was written.
  bool WriteLogFile(const std::string& name, const std::string& content,
                    const std::string& fileName);

  // Writes every collected text to the file named by the latest call for its
  // log name, so nothing collected is lost when the library unloads.
  void FlushAll();

  // Lines (WriteLog calls) written to their files, and lines lost because
  // their file could not be written; read under the log lock.
  struct Counts {
    std::uint64_t linesWritten = 0;
    std::uint64_t linesLost = 0;
  };
  Counts ReadCounts();

  // The lock that guards collection and every file write (innermost lock).
  platform::CriticalSection& LogLock() { return logLock_; }

 private:
  // WriteLogFile, counting the content's `lines` as written or lost.
  bool WriteAndCount(const std::string& name, const std::string& content,
                     const std::string& fileName, std::uint64_t lines);

  struct Pending {
    std::string text;
    std::uint16_t count = 0;
    std::string lastFileName;
  };

  platform::Clock& clock_;
  std::string folderPath_;
  std::uint32_t logMin_ = 30;
  platform::CriticalSection logLock_;
  std::map<std::string, Pending> buffer_;
  Counts counts_;
};

}  // namespace sentrel
