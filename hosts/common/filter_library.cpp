#include "hosts/common/filter_library.h"

#include "hosts/common/native_library.h"

namespace sentrel::hosts {


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
  std::string reason;
  void* handle = OpenNativeLibrary(path, reason);
  if (handle == nullptr) {
    error = "cannot load filter library " + path + ": " + reason;
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
    *entry.slot = NativeSymbol(handle, entry.name);
    if (*entry.slot == nullptr) {
      error = "filter library " + path + " does not export " + entry.name;
      CloseNativeLibrary(handle);
      return false;
    }
  }
  handle_ = handle;
  entries_.getFilterVersion = reinterpret_cast<PFN_GetFilterVersion>(gfv);
  entries_.httpFilterProc = reinterpret_cast<PFN_HttpFilterProc>(proc);
  entries_.terminateExtension = reinterpret_cast<PFN_TerminateExtension>(term);
  return true;
}

bool FilterLibrary::Start(const std::string& folder, std::string& error) {
  if (handle_ == nullptr) {
    error = "filter library not loaded";
    return false;
  }
  if (running_.load()) return true;
  CurrentFolder previous;
  if (!folder.empty() && !previous.Enter(folder, error)) return false;
  version_ = HTTP_FILTER_VERSION{};
  version_.dwServerFilterVersion = 0x00070000;
  BOOL loaded = FALSE;
  bool threw = false;
  try {
    loaded = entries_.getFilterVersion(&version_);
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
    return entries_.httpFilterProc(context, type, data);
  } catch (...) {
    escaped_.fetch_add(1, std::memory_order_relaxed);
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }
}

void FilterLibrary::Terminate() {
  if (!running_.exchange(false)) return;
  terminated_.store(true);
  try {
    entries_.terminateExtension(0);
  } catch (...) {
    escaped_.fetch_add(1, std::memory_order_relaxed);
  }
}

void FilterLibrary::Close() {
  if (running_.load()) return;
  if (handle_ != nullptr) CloseNativeLibrary(handle_);
  handle_ = nullptr;
  entries_ = Entries{};
  terminated_.store(false);
}

std::string BootstrapFolder(const std::string& bootstrapPath) {
  std::size_t slash = bootstrapPath.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return bootstrapPath.substr(0, slash);
}

}  // namespace sentrel::hosts
