#include "filter/crash/win32/seh_guard.h"

namespace sentrel {

namespace {

// What the frame keeps for its handler.
struct GuardState {
  SehFilter filter;
  void* context;
};

// The compiler's exception codes: "GCC" with 0x20 (a throw), 0x21 (an unwind
// of its own) or 0x22 (a forced unwind) in the top byte.
constexpr DWORD kCompilerThrow = 0x20474343;
constexpr DWORD kCompilerUnwind = 0x21474343;
constexpr DWORD kCompilerForcedUnwind = 0x22474343;

}  // namespace

bool IsCompilerException(DWORD code) {
  return code == kCompilerThrow || code == kCompilerUnwind || code == kCompilerForcedUnwind;
}

}  // namespace sentrel

extern "C" int sentrel_seh_guarded_call(void (*call)(void*), void* arg, void* state);

// The frame's exception handler, called by the platform's dispatcher for
// every exception that no handler inside the guarded call has taken, and
// again while frames are unwound.
extern "C" EXCEPTION_DISPOSITION sentrel_seh_guard_handler(EXCEPTION_RECORD* record,
                                                           void* establisherFrame, CONTEXT* context,
                                                           DISPATCHER_CONTEXT* dispatcher) {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0) {
    return ExceptionContinueSearch;
  }
  if (sentrel::IsCompilerException(record->ExceptionCode)) return ExceptionContinueSearch;
  const auto* state =
      *reinterpret_cast<sentrel::GuardState* const*>(static_cast<char*>(establisherFrame) - 8);
  EXCEPTION_POINTERS pointers{record, context};
  if (!state->filter(&pointers, state->context)) return ExceptionContinueSearch;
  // Into the frame's recovery point, unwinding the frames in between as for
  // an __except block.
  ::RtlUnwindEx(establisherFrame, *static_cast<void* const*>(dispatcher->HandlerData), record,
                reinterpret_cast<void*>(1), dispatcher->ContextRecord, dispatcher->HistoryTable);
  return ExceptionContinueSearch;
}

namespace sentrel {

bool RunUnderSehGuard(void (*call)(void*), void* arg, SehFilter filter, void* context) {
  GuardState state{filter, context};
  return sentrel_seh_guarded_call(call, arg, &state) == 0;
}

}  // namespace sentrel
