// The crash guard on Windows: the structured exception guard of
// seh_guard.h around the call, whose filter is WriteCrashDump, as a
// __try/__except(WriteCrashDump(...)) block would be. Every exception that
// escapes from the call is taken (the dump writer always asks for the handler
// to run); a C++ exception is caught as such and dumped too. The critical
// sections the abandoned work still holds are then left. Nothing is installed
// process-wide: faults outside a guarded call meet whatever handlers the
// process has, as if the filter were not there.
#include <malloc.h>

#include <exception>

#include "filter/crash/crash_guard.h"
#include "filter/crash/win32/seh_guard.h"
#include "platform/lock.h"

namespace sentrel {

namespace {

thread_local int tDepth = 0;               // guarded calls in progress on this thread
thread_local bool tStackOverflowed = false;  // the last fault taken was a stack overflow

bool TakeFault(EXCEPTION_POINTERS* exception, void* context) {
  const auto* target = static_cast<const CrashDumpTarget*>(context);
  tStackOverflowed = exception->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
  FaultInfo fault;
  fault.platformRecord = exception;
  fault.platformContext = exception->ContextRecord;
  return WriteCrashDump(*target, fault) == kExecuteHandler;
}

}  // namespace

void InstallCrashGuard() {}

bool InsideCrashGuard() { return tDepth > 0; }

bool RunGuarded(const CrashDumpTarget& target, void (*call)(void*), void* arg) {
  const std::size_t locksAtEntry = platform::HeldLockCount();
  ++tDepth;
  bool completed = false;
  bool faulted = false;
  std::exception_ptr escaped;
  try {
    completed = RunUnderSehGuard(call, arg, TakeFault, const_cast<CrashDumpTarget*>(&target));
    faulted = !completed;
  } catch (...) {
    escaped = std::current_exception();
  }
  --tDepth;
  if (completed) return true;
  if (escaped) {
    // A minidump has no room for the exception's type and message (it takes
    // no user streams): the process is dumped without an exception record.
    escaped = nullptr;
    WriteCrashDump(target, FaultInfo{});
  }
  // A stack overflow used the stack's guard page; it is put back so that the
  // next overflow is caught again.
  if (faulted && tStackOverflowed) {
    tStackOverflowed = false;
    _resetstkoflw();
  }
  platform::ReleaseHeldLocks(locksAtEntry);
  return false;
}

}  // namespace sentrel
