// The crash guard on POSIX: fault-signal handlers and sigsetjmp/siglongjmp.
//
// Handlers for SIGSEGV, SIGBUS, SIGFPE and SIGILL are installed once per
// process, run on an alternate signal stack (each thread that enters the
// guard gets one unless it has one already, so a stack overflow is caught
// too), and look at the faulting thread: when it is inside the guard and the
// signal is a genuine fault (raised by the processor, not sent by a process),
// the handler writes the crash dump and jumps back into the guard, which
// releases the locks the abandoned work held and returns. Otherwise the signal
// goes to whatever handler was installed before ours, with that handler's own
// conventions; when that was the default action or "ignore", the disposition
// is put back and the signal happens again under it, so faults outside the
// filter behave exactly as they would without it.
//
// The signal dispositions, the previous handlers and the key of the per-thread
// stacks are process-wide by nature; they are the only process-wide state of
// the guard. The handlers are put back to the previous ones when the library
// is unloaded.
#include <cxxabi.h>
#include <execinfo.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <typeinfo>

#include "filter/crash/crash_guard.h"
#include "platform/lock.h"

namespace sentrel {

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);

// One guarded call in progress on a thread. Lives in the guard's stack frame.
struct GuardFrame {
  sigjmp_buf jump;
  const CrashDumpTarget* target = nullptr;
  GuardFrame* outer = nullptr;          // the enclosing guarded call, if any
  std::size_t locksAtEntry = 0;         // critical sections held when the call began
  volatile sig_atomic_t handled = 0;    // a dump for this call is written or being written
};

// Per-thread state the fault handler reads. Static TLS, so that reading it in
// the handler never allocates.
[[gnu::tls_model("initial-exec")]] thread_local GuardFrame* tFrame = nullptr;
[[gnu::tls_model("initial-exec")]] thread_local bool tThreadReady = false;

// The handlers in place before ours, per entry of kFaultSignals.
struct sigaction gPrevious[kSignalCount];
std::atomic<bool> gInstalled{false};

// Alternate signal stacks: one per thread that enters the guard without one,
// freed by a thread-specific-data destructor when the thread ends. (A
// thread_local object with a destructor would keep the library from ever
// being unloaded.) The key is deleted when the library is unloaded; threads
// still running then keep their stacks.
pthread_key_t gAltStackKey;
std::atomic<bool> gAltStackKeyReady{false};

std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

std::size_t AltStackSize() {
  const std::size_t page = PageSize();
  std::size_t usable = 64 * 1024;
#ifdef _SC_SIGSTKSZ
  const long minimum = sysconf(_SC_SIGSTKSZ);
  if (minimum > 0) usable = std::max(usable, 4 * static_cast<std::size_t>(minimum));
#endif
  return (usable + page - 1) / page * page;
}

// The block holds one inaccessible page below the stack, so running off the
// stack's end faults instead of overwriting other memory.
void FreeAltStack(void* block) {
  const std::size_t page = PageSize();
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == static_cast<char*>(block) + page &&
      (current.ss_flags & SS_DISABLE) == 0) {
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
  }
  munmap(block, AltStackSize() + page);
}

void CreateAltStack() {
  if (!gAltStackKeyReady.load()) return;
  const std::size_t page = PageSize();
  const std::size_t usable = AltStackSize();
  void* block = mmap(nullptr, usable + page, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (block == MAP_FAILED) return;
  mprotect(block, page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(block) + page;
  stack.ss_size = usable;
  stack.ss_flags = 0;
  if (sigaltstack(&stack, nullptr) != 0) {
    munmap(block, usable + page);
    return;
  }
  if (pthread_setspecific(gAltStackKey, block) != 0) FreeAltStack(block);
}

int SignalIndex(int signal) {
  for (int i = 0; i < kSignalCount; ++i) {
    if (kFaultSignals[i] == signal) return i;
  }
  return -1;
}

void OnFault(int signal, siginfo_t* info, void* context);

struct sigaction OurAction() {
  struct sigaction ours {};
  ours.sa_sigaction = &OnFault;
  sigemptyset(&ours.sa_mask);
  // SA_NODEFER: a second fault while the dump is written reaches the handler
  // again (which then gives up the dump) instead of killing the process.
  ours.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  return ours;
}

// Hands a signal that is not ours to the handler installed before ours.
void PassOn(int signal, siginfo_t* info, void* context) {
  const int index = SignalIndex(signal);
  if (index < 0) return;
  const struct sigaction& previous = gPrevious[index];
  const bool withInfo = (previous.sa_flags & SA_SIGINFO) != 0;
  const bool isFunction = withInfo ? previous.sa_sigaction != nullptr
                                   : (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN);
  if (isFunction) {
    // Call it as the platform would have: its own mask, its own argument
    // convention, and a one-shot handler resets the disposition first.
    sigset_t mask = previous.sa_mask;
    if ((previous.sa_flags & SA_NODEFER) == 0) sigaddset(&mask, signal);
    sigset_t saved;
    pthread_sigmask(SIG_BLOCK, &mask, &saved);
    if ((previous.sa_flags & SA_RESETHAND) != 0) {
      struct sigaction reset {};
      reset.sa_handler = SIG_DFL;
      sigemptyset(&reset.sa_mask);
      sigaction(signal, &reset, nullptr);
    }
    if (withInfo) {
      previous.sa_sigaction(signal, info, context);
    } else {
      previous.sa_handler(signal);
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return;
  }
  const bool sent = info == nullptr || info->si_code <= 0;
  if (previous.sa_handler == SIG_IGN) {
    // Ignored before: a signal sent by a process stays ignored. A processor
    // fault cannot be ignored: with "ignore" put back, the faulting
    // instruction is retried on return and the platform ends the process.
    if (!sent) sigaction(signal, &previous, nullptr);
    return;
  }
  // The default action: put it back. A processor fault happens again when
  // the faulting instruction is retried on return; a signal sent by a process
  // is raised once more, unblocked so that it acts at once.
  sigaction(signal, &previous, nullptr);
  if (sent) {
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
  }
}

void OnFault(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  GuardFrame* frame = tFrame;
  if (frame != nullptr && info != nullptr && info->si_code > 0) {
    if (frame->handled == 0) {
      frame->handled = 1;
      FaultInfo fault;
      fault.signal = signal;
      fault.platformRecord = info;
      fault.platformContext = context;
      WriteCrashDump(*frame->target, fault);
    }
    // A fault while the dump was being written lands here too; the dump is
    // then given up.
    siglongjmp(frame->jump, 1);
  }
  PassOn(signal, info, context);
  errno = savedErrno;
}

void PrepareThread() {
  InstallCrashGuard();
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) {
    CreateAltStack();
  }
  tThreadReady = true;
}

void Enter(GuardFrame& frame) {
  tFrame = &frame;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void Leave(GuardFrame& frame) {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  tFrame = frame.outer;
}

// After the jump back from the handler: the thread's signal mask may still
// hold a fault signal if a handler before ours was running.
bool Recover(GuardFrame& frame) {
  Leave(frame);
  sigset_t faults;
  sigemptyset(&faults);
  for (int signal : kFaultSignals) sigaddset(&faults, signal);
  pthread_sigmask(SIG_UNBLOCK, &faults, nullptr);
  platform::ReleaseHeldLocks(frame.locksAtEntry);
  return false;
}

// The name of the exception being handled, demangled when possible.
void NameCurrentException(char* out, std::size_t capacity) {
  out[0] = '\0';
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return;
  int status = 0;
  char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  const char* name = status == 0 && demangled != nullptr ? demangled : type->name();
  std::strncpy(out, name, capacity - 1);
  out[capacity - 1] = '\0';
  std::free(demangled);
}

// Writes the dump of a C++ exception that escaped from the guarded call.
[[gnu::noinline]] void DumpException(const CrashDumpTarget& target, const std::exception_ptr& escaped) {
  char type[256];
  const char* text = nullptr;
  // The exception object stays alive through `escaped`, so its message may
  // be used after the handler below has ended.
  try {
    std::rethrow_exception(escaped);
  } catch (const std::exception& e) {
    NameCurrentException(type, sizeof(type));
    text = e.what();
  } catch (...) {
    NameCurrentException(type, sizeof(type));
  }
  FaultInfo fault;
  fault.exceptionType = type[0] != '\0' ? type : nullptr;
  fault.exceptionText = text;
  WriteCrashDump(target, fault);
}

// Puts the previous handlers back when the library is unloaded, so that a
// fault after that never jumps into code that is gone.
struct Uninstaller {
  ~Uninstaller() {
    if (gAltStackKeyReady.exchange(false)) pthread_key_delete(gAltStackKey);
    if (!gInstalled.load()) return;
    for (int i = 0; i < kSignalCount; ++i) {
      struct sigaction current {};
      if (sigaction(kFaultSignals[i], nullptr, &current) != 0) continue;
      if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == &OnFault) {
        sigaction(kFaultSignals[i], &gPrevious[i], nullptr);
      }
    }
  }
} gUninstaller;

}  // namespace

void InstallCrashGuard() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Loads the unwinder now, so backtrace allocates nothing in the handler.
    void* frames[4];
    backtrace(frames, 4);
    if (pthread_key_create(&gAltStackKey, &FreeAltStack) == 0) gAltStackKeyReady.store(true);
    const struct sigaction ours = OurAction();
    for (int i = 0; i < kSignalCount; ++i) {
      sigaction(kFaultSignals[i], nullptr, &gPrevious[i]);
      sigaction(kFaultSignals[i], &ours, nullptr);
    }
    gInstalled.store(true);
  });
}

bool InsideCrashGuard() { return tFrame != nullptr; }

bool RunGuarded(const CrashDumpTarget& target, void (*call)(void*), void* arg) {
  if (!tThreadReady) PrepareThread();
  GuardFrame frame;
  frame.target = &target;
  frame.outer = tFrame;
  frame.locksAtEntry = platform::HeldLockCount();
  // Saving the signal mask would cost a system call per notification; the
  // handler runs with SA_NODEFER and Recover unblocks the fault signals.
  if (sigsetjmp(frame.jump, 0) != 0) return Recover(frame);

  Enter(frame);
  std::exception_ptr escaped;
  try {
    call(arg);
  } catch (abi::__forced_unwind&) {
    // Thread cancellation unwinds through here and must go on.
    Leave(frame);
    throw;
  } catch (...) {
    escaped = std::current_exception();
  }
  if (!escaped) {
    Leave(frame);
    return true;
  }
  frame.handled = 1;
  DumpException(target, escaped);
  escaped = nullptr;
  Leave(frame);
  platform::ReleaseHeldLocks(frame.locksAtEntry);
  return false;
}

}  // namespace sentrel
