// A filter library loaded at run time, as a web server loads it: opened, its
// three entry points resolved by name, started with GetFilterVersion in the
// folder of its bootstrap file, and stopped with TerminateExtension. Every
// host (the server modules, the tests, the tools) loads the filter this way.
#pragma once

#include <atomic>
#include <string>

#include "filter/core/isapi.h"

namespace sentrel::hosts {

class FilterLibrary {
 public:
  // The three exported entry points of an open library.
  struct Entries {
    PFN_GetFilterVersion getFilterVersion = nullptr;
    PFN_HttpFilterProc httpFilterProc = nullptr;
    PFN_TerminateExtension terminateExtension = nullptr;
  };

  FilterLibrary() = default;
  ~FilterLibrary();
  FilterLibrary(const FilterLibrary&) = delete;
  FilterLibrary& operator=(const FilterLibrary&) = delete;

  // Opens the library and resolves GetFilterVersion, HttpFilterProc and
  // TerminateExtension. On failure returns false with a readable reason in
  // `error` and leaves nothing open.
  bool Open(const std::string& path, std::string& error);

  // Calls GetFilterVersion with `folder` as the current directory (the filter
  // reads its bootstrap file relative to it) and restores the previous current
  // directory afterwards. The process must have no other threads that depend
  // on the current directory while this runs. An empty folder leaves the
  // current directory as it is. Returns false with a reason when the folder
  // cannot be entered or GetFilterVersion returns FALSE.
  bool Start(const std::string& folder, std::string& error);

  bool Running() const { return running_.load(std::memory_order_acquire); }
  DWORD Flags() const { return version_.dwFlags; }
  // The version record GetFilterVersion filled.
  const HTTP_FILTER_VERSION& Version() const { return version_; }
  std::string Description() const;

  // HttpFilterProc, for a started filter. A C++ exception that escapes the
  // filter is caught here and the notification passes on.
  DWORD Notify(HTTP_FILTER_CONTEXT* context, DWORD type, void* data);

  // Number of exceptions caught by Notify.
  unsigned long EscapedExceptions() const { return escaped_.load(std::memory_order_relaxed); }

  // TerminateExtension, once, for a started filter; afterwards Running() is
  // false and Notify is not called again. The library stays mapped: work still
  // finishing on other threads may hold pointers into it.
  void Terminate();

  // Closes the library (only when it was never started or has been stopped).
  void Close();

  // The entry points of the open library (all null when none is open), for a
  // host that drives the filter's life cycle itself, and the system's handle.
  const Entries& EntryPoints() const { return entries_; }
  void* NativeHandle() const { return handle_; }

 private:
  void* handle_ = nullptr;
  Entries entries_;
  HTTP_FILTER_VERSION version_{};
  std::atomic<bool> running_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<unsigned long> escaped_{0};
};

// The folder of a bootstrap-file path: everything before its last "/" (the
// root "/" for a file directly under it); a path without "/" gives ".".
std::string BootstrapFolder(const std::string& bootstrapPath);

}  // namespace sentrel::hosts
