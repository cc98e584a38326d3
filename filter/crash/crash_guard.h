// The crash guard around each notification. A hardware fault (invalid memory
// access, bus error, arithmetic fault, illegal instruction, stack overflow) or a
// C++ exception that escapes from the guarded work, including from server
// callbacks it makes, is turned into a crash dump (WriteCrashDump) and an
// ordinary return; the filter locks the work still held are released and the
// work is abandoned where it stood.
//
// On POSIX the guard is a set of fault-signal handlers, installed once per
// process on an alternate signal stack, which jump back into the guard when
// the faulting thread is inside it and otherwise hand the signal to whatever
// handler was installed before (so faults outside the filter behave as if it
// were not there). On Windows the same interface is a structured exception
// guard whose filter calls WriteCrashDump with the exception pointers.
#pragma once

#include "filter/crash/crash_dump.h"

namespace sentrel {

// Runs call(arg) inside the guard. Returns true when it completed; false when
// a fault or a C++ exception escaped from it, after the dump was written (as
// far as the target allows) and the critical sections the call took and
// still held were left.
bool RunGuarded(const CrashDumpTarget& target, void (*call)(void*), void* arg);

// The same for any callable, without allocation.
template <typename Body>
bool RunGuarded(const CrashDumpTarget& target, Body& body) {
  return RunGuarded(
      target, [](void* p) { (*static_cast<Body*>(p))(); }, static_cast<void*>(&body));
}

// Installs the process's fault handlers if that has not happened yet. The
// first guarded call on any thread does it; it may be called earlier.
void InstallCrashGuard();

// Whether the current thread is inside a guarded call.
bool InsideCrashGuard();

}  // namespace sentrel
