// A structured exception guard for Windows, as a __try/__except block around
// a call would be: an exception that escapes from the call, and that no
// handler inside it has taken, is offered to a filter; when the filter takes
// it, the call is abandoned where it stood and the guard returns.
//
// The compiler used for the Windows build has no __try/__except, so the
// guard is a small assembly frame (seh_guard.S) whose exception handler
// is registered in the frame's unwind data, exactly where the platform looks
// for the handlers of __try blocks. C++ exceptions of this compiler pass
// through the guard untouched (the caller catches them itself), and so do
// unwinds made by others.
#pragma once

#include "platform/win32/windows_api.h"

namespace sentrel {

// Decides about an exception that reached the guard: true takes it (the
// platform's EXCEPTION_EXECUTE_HANDLER), false lets it go on to the handlers
// outside the guard. It runs on the faulting thread, before anything is
// unwound.
using SehFilter = bool (*)(EXCEPTION_POINTERS* exception, void* context);

// Runs call(arg) under the guard. True when the call returned; false when the
// filter took an exception. The abandoned call does not go on; its frames are
// unwound as the platform unwinds them for __except, so handlers of their own
// run (for this compiler's code: the cleanups of local objects, where its
// tables cover the faulting instruction). Nothing may rely on either.
bool RunUnderSehGuard(void (*call)(void*), void* arg, SehFilter filter, void* context);

// Whether an exception code is one of this compiler's own C++ exceptions (or
// its unwinds), which the guard leaves to C++ handlers.
bool IsCompilerException(DWORD code);

}  // namespace sentrel
