#include "tests/crash/faults.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>

namespace sentrel::test {

namespace {

const FaultCase kCases[] = {
    {FaultKind::InvalidAccess, "InvalidAccess", SIGSEGV, "SEGV_ACCERR"},
    {FaultKind::BusError, "BusError", SIGBUS, "BUS_ADRERR"},
    {FaultKind::DivideByZero, "DivideByZero", SIGFPE, "FPE_INTDIV"},
    {FaultKind::IllegalInstruction, "IllegalInstruction", SIGILL, "ILL_ILLOPN"},
    {FaultKind::StackOverflow, "StackOverflow", SIGSEGV, "SEGV_"},
};

void* MapInaccessiblePage() {
  void* page = mmap(nullptr, static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), PROT_NONE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) std::abort();
  return page;
}

void* InaccessiblePage() {
  static void* page = MapInaccessiblePage();
  return page;
}

// A page of a file that has no bytes: touching it is a bus error.
const volatile char* PastEndOfFile() {
  const int fd = memfd_create("sentrel-empty", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  void* page = mmap(nullptr, static_cast<std::size_t>(sysconf(_SC_PAGESIZE)), PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (page == MAP_FAILED) std::abort();
  return static_cast<const volatile char*>(page);
}

volatile int gRecursionLimit = INT_MAX;

[[gnu::noinline]] int Recurse(int depth) {
  volatile char pad[2048];
  pad[0] = static_cast<char>(depth);
  if (depth >= gRecursionLimit) return pad[0];
  return Recurse(depth + 1) + pad[0];
}

}  // namespace

const FaultCase* FaultCases(std::size_t& count) {
  count = sizeof(kCases) / sizeof(kCases[0]);
  return kCases;
}

bool FaultSupported(FaultKind kind) {
#if defined(__x86_64__) || defined(__i386__)
  (void)kind;
  return true;
#else
  return kind != FaultKind::DivideByZero && kind != FaultKind::IllegalInstruction;
#endif
}

const void* InaccessibleAddress() { return InaccessiblePage(); }

void RaiseFault(FaultKind kind) {
  switch (kind) {
    case FaultKind::InvalidAccess:
      *static_cast<volatile int*>(InaccessiblePage()) = 1;
      break;
    case FaultKind::BusError: {
      const volatile char* page = PastEndOfFile();
      (void)page[0];
      break;
    }
    case FaultKind::DivideByZero: {
#if defined(__x86_64__) || defined(__i386__)
      // Done in assembly: the same division in C++ is undefined behaviour the
      // sanitizers would stop at first.
      int dividend = 1;
      int divisor = 0;
      asm volatile("cltd\n\tidivl %[d]" : "+a"(dividend) : [d] "r"(divisor) : "edx", "cc");
#endif
      break;
    }
    case FaultKind::IllegalInstruction:
#if defined(__x86_64__) || defined(__i386__)
      asm volatile("ud2");
#endif
      break;
    case FaultKind::StackOverflow:
      Recurse(0);
      break;
  }
  std::abort();  // the fault did not happen
}

std::tm OffsetClock::LocalTime(std::int64_t t) {
  std::tm out{};
  const auto value = static_cast<std::time_t>(t + offset_.load());
  gmtime_r(&value, &out);
  return out;
}

void FaultingClock::MaybeFault(Call call) {
  if (!armed_.load() || armedCall_.load() != call) return;
  if (skip_.fetch_sub(1) > 0) return;
  armed_ = false;
  RaiseFault(FaultKind::InvalidAccess);
}

std::int64_t FaultingClock::Now() {
  MaybeFault(Call::Now);
  return now_.load();
}

void FaultingClock::SleepMs(std::uint32_t ms) {
  MaybeFault(Call::Sleep);
  now_ += ms / 1000;
}

std::tm FaultingClock::LocalTime(std::int64_t t) {
  MaybeFault(Call::LocalTime);
  std::tm out{};
  const auto value = static_cast<std::time_t>(t);
  gmtime_r(&value, &out);
  return out;
}

}  // namespace sentrel::test
