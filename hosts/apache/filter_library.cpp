#include "hosts/apache/filter_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sentrel::apache {

namespace {

// Holds the current directory open so that it can be restored even when its
// path has become unreachable in the meantime.
class CurrentDirectory {
 public:
  CurrentDirectory() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~CurrentDirectory() {
    if (fd_ >= 0) ::close(fd_);
  }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

  bool Valid() const { return fd_ >= 0; }
  bool Restore() const { return fd_ >= 0 && ::fchdir(fd_) == 0; }

 private:
  int fd_;
};

}  // namespace

FilterLibrary::~FilterLibrary() {
  // A started library stays mapped for the life of the process (see Terminate).
  if (!running_.load() && !terminated_.load()) Close();
}

bool FilterLibrary::Open(const std::string& path, std::string& error) {
  Close();
  if (path.empty()) {
    error = "no filter library named";
    return false;
  }
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    error = "cannot load filter library " + path + ": " + (reason != nullptr ? reason : "unknown error");
    return false;
  }
  struct Entry {
    const char* name;
    void** slot;
  };
  void* gfv = nullptr;
  void* proc = nullptr;
  void* term = nullptr;
  const Entry entries[] = {{"GetFilterVersion", &gfv}, {"HttpFilterProc", &proc},
                           {"TerminateExtension", &term}};
  for (const Entry& entry : entries) {
    ::dlerror();
    *entry.slot = ::dlsym(handle, entry.name);
    if (*entry.slot == nullptr) {
      error = "filter library " + path + " does not export " + entry.name;
      ::dlclose(handle);
      return false;
    }
  }
  handle_ = handle;
  getFilterVersion_ = reinterpret_cast<PFN_GetFilterVersion>(gfv);
  httpFilterProc_ = reinterpret_cast<PFN_HttpFilterProc>(proc);
  terminateExtension_ = reinterpret_cast<PFN_TerminateExtension>(term);
  return true;
}

bool FilterLibrary::Start(const std::string& folder, std::string& error) {
  if (handle_ == nullptr) {
    error = "filter library not loaded";
    return false;
  }
  if (running_.load()) return true;
  CurrentDirectory previous;
  if (!folder.empty()) {
    if (!previous.Valid()) {
      error = std::string("cannot remember the current directory: ") + std::strerror(errno);
      return false;
    }
    if (::chdir(folder.c_str()) != 0) {
      error = "cannot enter the bootstrap folder " + folder + ": " + std::strerror(errno);
      return false;
    }
  }
  version_ = HTTP_FILTER_VERSION{};
  version_.dwServerFilterVersion = 0x00070000;
  BOOL loaded = FALSE;
  bool threw = false;
  try {
    loaded = getFilterVersion_(&version_);
  } catch (...) {
    threw = true;
  }
  if (!folder.empty()) previous.Restore();
  version_.lpszFilterDesc[SF_MAX_FILTER_DESC_LEN - 1] = '\0';
  if (threw) {
    error = "GetFilterVersion raised an exception";
    return false;
  }
  if (!loaded) {
    error = "GetFilterVersion returned FALSE (the filter refused to load; see its own log in the "
            "settings folder named by the bootstrap file)";
    return false;
  }
  running_.store(true, std::memory_order_release);
  return true;
}

std::string FilterLibrary::Description() const { return version_.lpszFilterDesc; }

DWORD FilterLibrary::Notify(HTTP_FILTER_CONTEXT* context, DWORD type, void* data) {
  if (!running_.load(std::memory_order_acquire)) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  try {
    return httpFilterProc_(context, type, data);
  } catch (...) {
    escaped_.fetch_add(1, std::memory_order_relaxed);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

void FilterLibrary::Terminate() {
  if (!running_.exchange(false)) return;
  terminated_.store(true);
  try {
    terminateExtension_(0);
  } catch (...) {
    escaped_.fetch_add(1, std::memory_order_relaxed);
  }
}

void FilterLibrary::Close() {
  if (running_.load()) return;
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
  getFilterVersion_ = nullptr;
  httpFilterProc_ = nullptr;
  terminateExtension_ = nullptr;
  terminated_.store(false);
}

std::string BootstrapFolder(const std::string& bootstrapPath) {
  std::size_t slash = bootstrapPath.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return bootstrapPath.substr(0, slash);
}

}  // namespace sentrel::apache
