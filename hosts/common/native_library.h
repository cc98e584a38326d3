// The system's side of loading a filter library: open a shared library, find
// an exported function, close it, and make a folder current for a while.
#pragma once

#include <string>

namespace sentrel::hosts {

// The library's handle, or null with the system's reason in `error`.
void* OpenNativeLibrary(const std::string& path, std::string& error);
// The address of the exported function `name`, or null.
void* NativeSymbol(void* handle, const char* name);
void CloseNativeLibrary(void* handle);

// Remembers the current folder when made, enters another one, and restores
// the remembered one on Restore (also when its path has become unreachable
// in the meantime, where the system allows).
class CurrentFolder {
 public:
  CurrentFolder();
  ~CurrentFolder();
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

  // Makes `folder` current; false with a reason when the current folder could
  // not be remembered or `folder` cannot be entered.
  bool Enter(const std::string& folder, std::string& error);
  bool Restore() const;

 private:
  int fd_ = -1;            // POSIX: the remembered folder, held open
  std::string remembered_; // Windows: its path
};

}  // namespace sentrel::hosts
