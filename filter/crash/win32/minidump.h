// Minidumps of the running process with the debugging-help library.
#pragma once

#include "platform/win32/windows_api.h"

namespace sentrel {

// Creates the file at `path` with full access, no sharing, create-always and
// default attributes (a new file, or an existing one emptied), and writes the
// platform's normal minidump of the current process into it, with the
// exception information of a fault when `exception` is given: the faulting
// thread, the exception pointers, and the flag that they belong to the dumped
// process. No user streams, no callback. The dump is written by a helper
// thread while the calling thread waits, so that a fault near the end of the
// calling thread's stack still leaves room for the writer. False when the
// file could not be created; the result of the write itself is not checked.
bool WriteMiniDump(const char* path, EXCEPTION_POINTERS* exception);

}  // namespace sentrel
