#include "hosts/common/native_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sentrel::hosts {

void* OpenNativeLibrary(const std::string& path, std::string& error) {
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    error = reason != nullptr ? reason : "unknown error";
  }
  return handle;
}

void* NativeSymbol(void* handle, const char* name) {
  ::dlerror();
  return ::dlsym(handle, name);
}

void CloseNativeLibrary(void* handle) { ::dlclose(handle); }

CurrentFolder::CurrentFolder() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

CurrentFolder::~CurrentFolder() {
  if (fd_ >= 0) ::close(fd_);
}

bool CurrentFolder::Enter(const std::string& folder, std::string& error) {
  if (fd_ < 0) {
    error = std::string("cannot remember the current directory: ") + std::strerror(errno);
    return false;
  }
  if (::chdir(folder.c_str()) != 0) {
    error = "cannot enter the bootstrap folder " + folder + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool CurrentFolder::Restore() const { return fd_ >= 0 && ::fchdir(fd_) == 0; }

}  // namespace sentrel::hosts
