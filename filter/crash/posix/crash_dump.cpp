// Crash dumps on POSIX. There is no minidump here; the nearest equivalent is
// a text record of the fault and a stack trace of the faulting thread. The
// writer runs inside the fault handler, so it uses async-signal-safe calls
// only: open, flock, ftruncate, write, close, getpid, the thread-id system
// call, and backtrace / backtrace_symbols_fd (the crash guard calls
// backtrace once when it installs itself, so the unwinder is loaded by then
// and nothing is allocated here).
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>

#include "filter/crash/crash_dump.h"
#include "filter/crash/signal_safe_text.h"

namespace sentrel {

namespace {

constexpr int kMaxFrames = 64;

// Writes the whole buffer, retrying after interruptions and short writes.
void WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    length -= static_cast<std::size_t>(n);
  }
}

// One line of the record at a time, written to the file when complete.
class RecordWriter {
 public:
  explicit RecordWriter(int fd) : fd_(fd), line_(buffer_, sizeof(buffer_)) {}
  SignalSafeText& Line() { return line_; }
  void EndLine() {
    line_.Char('\n');
    WriteAll(fd_, line_.Data(), line_.Length());
    line_.Clear();
  }

 private:
  int fd_;
  char buffer_[1200];
  SignalSafeText line_;
};

const char* SignalName(int signal) {
  switch (signal) {
    case SIGSEGV: return "SIGSEGV (invalid memory access)";
    case SIGBUS: return "SIGBUS (bus error)";
    case SIGFPE: return "SIGFPE (arithmetic fault)";
    case SIGILL: return "SIGILL (illegal instruction)";
    default: return "signal";
  }
}

const char* CodeName(int signal, int code) {
  if (code == SI_USER) return "SI_USER (sent by a process)";
  if (code == SI_TKILL) return "SI_TKILL (sent by a process)";
  if (code == SI_KERNEL) return "SI_KERNEL (sent by the kernel)";
  switch (signal) {
    case SIGSEGV:
      if (code == SEGV_MAPERR) return "SEGV_MAPERR (address not mapped)";
      if (code == SEGV_ACCERR) return "SEGV_ACCERR (no permission for the access)";
      break;
    case SIGBUS:
      if (code == BUS_ADRALN) return "BUS_ADRALN (misaligned address)";
      if (code == BUS_ADRERR) return "BUS_ADRERR (no such physical address)";
      if (code == BUS_OBJERR) return "BUS_OBJERR (object-specific hardware error)";
      break;
    case SIGFPE:
      if (code == FPE_INTDIV) return "FPE_INTDIV (integer divide by zero)";
      if (code == FPE_INTOVF) return "FPE_INTOVF (integer overflow)";
      if (code == FPE_FLTDIV) return "FPE_FLTDIV (floating-point divide by zero)";
      if (code == FPE_FLTOVF) return "FPE_FLTOVF (floating-point overflow)";
      if (code == FPE_FLTUND) return "FPE_FLTUND (floating-point underflow)";
      if (code == FPE_FLTRES) return "FPE_FLTRES (floating-point inexact result)";
      if (code == FPE_FLTINV) return "FPE_FLTINV (invalid floating-point operation)";
      if (code == FPE_FLTSUB) return "FPE_FLTSUB (subscript out of range)";
      break;
    case SIGILL:
      if (code == ILL_ILLOPC) return "ILL_ILLOPC (illegal opcode)";
      if (code == ILL_ILLOPN) return "ILL_ILLOPN (illegal operand)";
      if (code == ILL_ILLADR) return "ILL_ILLADR (illegal addressing mode)";
      if (code == ILL_ILLTRP) return "ILL_ILLTRP (illegal trap)";
      if (code == ILL_PRVOPC) return "ILL_PRVOPC (privileged opcode)";
      if (code == ILL_PRVREG) return "ILL_PRVREG (privileged register)";
      if (code == ILL_COPROC) return "ILL_COPROC (coprocessor error)";
      if (code == ILL_BADSTK) return "ILL_BADSTK (internal stack error)";
      break;
    default:
      break;
  }
  return "";
}

void WriteTime(RecordWriter& out, const CrashDumpTarget& target, std::int64_t now) {
  const CivilTime local = target.LocalTime(now);
  const std::int64_t offset = target.UtcOffset();
  const std::int64_t offsetMinutes = (offset < 0 ? -offset : offset) / 60;
  out.Line().Append("Time: ").Decimal(local.year, 4, '0').Char('-').Decimal(local.month, 2, '0');
  out.Line().Char('-').Decimal(local.day, 2, '0').Char(' ').Decimal(local.hour, 2, '0');
  out.Line().Char(':').Decimal(local.minute, 2, '0').Char(':').Decimal(local.second, 2, '0');
  out.Line().Append(" local time (UTC").Char(offset < 0 ? '-' : '+');
  out.Line().Decimal(offsetMinutes / 60, 2, '0').Char(':').Decimal(offsetMinutes % 60, 2, '0');
  out.Line().Append("), ").Decimal(now).Append(" seconds since 1970");
  out.EndLine();
}

void WriteRegisters(RecordWriter& out, const void* context) {
  if (context == nullptr) return;
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  const auto& r = uc->uc_mcontext.gregs;
  out.Line().Append("Instruction pointer: ").Hex(static_cast<std::uint64_t>(r[REG_RIP]), 16);
  out.EndLine();
  out.Line().Append("Stack pointer: ").Hex(static_cast<std::uint64_t>(r[REG_RSP]), 16);
  out.EndLine();
  static const struct {
    const char* name;
    int index;
  } kRegisters[] = {{"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX},
                    {"rsi", REG_RSI}, {"rdi", REG_RDI}, {"rbp", REG_RBP}, {"r8", REG_R8},
                    {"r9", REG_R9},   {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12},
                    {"r13", REG_R13}, {"r14", REG_R14}, {"r15", REG_R15}, {"eflags", REG_EFL}};
  out.Line().Append("Registers:");
  out.EndLine();
  for (const auto& reg : kRegisters) {
    out.Line().Append("  ").Append(reg.name).Append(" = ");
    out.Line().Hex(static_cast<std::uint64_t>(r[reg.index]), 16);
    out.EndLine();
  }
#elif defined(__aarch64__)
  out.Line().Append("Instruction pointer: ").Hex(uc->uc_mcontext.pc, 16);
  out.EndLine();
  out.Line().Append("Stack pointer: ").Hex(uc->uc_mcontext.sp, 16);
  out.EndLine();
  out.Line().Append("Registers:");
  out.EndLine();
  for (int i = 0; i < 31; ++i) {
    out.Line().Append("  x").Decimal(i).Append(" = ").Hex(uc->uc_mcontext.regs[i], 16);
    out.EndLine();
  }
#else
  (void)uc;
#endif
}

void WriteRecord(int fd, const CrashDumpTarget& target, const FaultInfo& fault, std::int64_t now) {
  RecordWriter out(fd);
  out.Line().Append("Sentrel crash dump, version ").Append(kCrashDumpVersion);
  out.EndLine();
  WriteTime(out, target, now);
  out.Line().Append("Process: ").Decimal(::getpid());
  out.EndLine();
  out.Line().Append("Thread: ").Decimal(static_cast<std::int64_t>(::syscall(SYS_gettid)));
  out.EndLine();

  if (fault.signal != 0) {
    out.Line().Append("Fault: ").Append(SignalName(fault.signal)).Append(", signal ");
    out.Line().Decimal(fault.signal);
    out.EndLine();
    const auto* info = static_cast<const siginfo_t*>(fault.platformRecord);
    if (info != nullptr) {
      out.Line().Append("Code: ").Decimal(info->si_code);
      const char* code = CodeName(fault.signal, info->si_code);
      if (*code != '\0') out.Line().Char(' ').Append(code);
      out.EndLine();
      out.Line().Append("Address: ").Hex(reinterpret_cast<std::uintptr_t>(info->si_addr), 16);
      out.EndLine();
    }
    WriteRegisters(out, fault.platformContext);
    out.Line().Append("Stack of the faulting thread:");
  } else {
    out.Line().Append("Fault: C++ exception ");
    out.Line().Append(fault.exceptionType != nullptr ? fault.exceptionType : "of unknown type");
    out.EndLine();
    if (fault.exceptionText != nullptr) {
      out.Line().Append("Message: ").Append(fault.exceptionText);
      out.EndLine();
    }
    out.Line().Append("Stack of the thread where the exception was caught:");
  }
  out.EndLine();

  void* frames[kMaxFrames];
  const int count = ::backtrace(frames, kMaxFrames);
  if (count > 0) ::backtrace_symbols_fd(frames, count, fd);
}

}  // namespace

int WriteCrashDump(const CrashDumpTarget& target, const FaultInfo& fault) {
  const int savedErrno = errno;
  if (!target.Configured()) return kExecuteHandler;
  const std::int64_t now = target.Now();
  char path[CrashDumpTarget::kPathCapacity];
  if (target.DumpPath(target.LocalTime(now), path, sizeof(path)) == 0) return kExecuteHandler;

  // A fresh file, or an existing one emptied; a file another writer holds
  // open (a fault in the same second on another thread) is left alone.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd >= 0) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(fd, 0) == 0) {
      WriteRecord(fd, target, fault, now);
      target.CountDumpWritten();
    }
    ::close(fd);
  }
  errno = savedErrno;
  return kExecuteHandler;
}

}  // namespace sentrel
