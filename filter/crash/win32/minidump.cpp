#include "filter/crash/win32/minidump.h"

#include <dbghelp.h>

namespace sentrel {

namespace {

constexpr DWORD kFullAccess = 0x1F01FF;

struct DumpJob {
  HANDLE file;
  DWORD threadId;
  EXCEPTION_POINTERS* exception;
};

DWORD WINAPI WriteDump(void* parameter) {
  const auto* job = static_cast<const DumpJob*>(parameter);
  MINIDUMP_EXCEPTION_INFORMATION information{};
  information.ThreadId = job->threadId;
  information.ExceptionPointers = job->exception;
  information.ClientPointers = TRUE;
  ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), job->file, MiniDumpNormal,
                      job->exception != nullptr ? &information : nullptr, nullptr, nullptr);
  return 0;
}

}  // namespace

bool WriteMiniDump(const char* path, EXCEPTION_POINTERS* exception) {
  HANDLE file = ::CreateFileA(path, kFullAccess, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DumpJob job{file, ::GetCurrentThreadId(), exception};
  HANDLE writer = ::CreateThread(nullptr, 0, &WriteDump, &job, 0, nullptr);
  if (writer != nullptr) {
    ::WaitForSingleObject(writer, INFINITE);
    ::CloseHandle(writer);
  } else {
    WriteDump(&job);  // no thread to be had: write from here
  }
  ::CloseHandle(file);
  return true;
}

}  // namespace sentrel
