// Crash dumps on Windows: a minidump of the process, the platform's normal
// type, with the exception information of the fault (minidump.h). The
// name follows the target's local date and time of the fault.
#include "filter/crash/crash_dump.h"
#include "filter/crash/win32/minidump.h"

namespace sentrel {

int WriteCrashDump(const CrashDumpTarget& target, const FaultInfo& fault) {
  if (!target.Configured()) return kExecuteHandler;
  char path[CrashDumpTarget::kPathCapacity];
  if (target.DumpPath(target.LocalTime(target.Now()), path, sizeof path) == 0) return kExecuteHandler;
  // The exception pointers of a structured exception; a C++ exception has
  // none, and its dump carries the process without an exception record.
  auto* exception = static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(fault.platformRecord));
  if (WriteMiniDump(path, exception)) target.CountDumpWritten();
  return kExecuteHandler;
}

}  // namespace sentrel
