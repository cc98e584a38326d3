// Opening the built filter library the way a server does: dlopen, then the
// three exported entry points by name, ready for a test host.
#pragma once

#include <dlfcn.h>

#include "filter/core/isapi.h"
#include "hosts/testhost/test_host.h"

namespace sentrel::test {

// The library's handle, or null (dlerror says why). `entries` gets the entry
// points that were found; a missing one stays empty.
inline void* OpenFilterLibrary(const char* path, testhost::EntryPoints& entries) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  if (auto f = reinterpret_cast<PFN_GetFilterVersion>(dlsym(library, "GetFilterVersion"))) {
    entries.getFilterVersion = f;
  }
  if (auto f = reinterpret_cast<PFN_HttpFilterProc>(dlsym(library, "HttpFilterProc"))) entries.httpFilterProc = f;
  if (auto f = reinterpret_cast<PFN_TerminateExtension>(dlsym(library, "TerminateExtension"))) {
    entries.terminateExtension = f;
  }
  return library;
}

}  // namespace sentrel::test
