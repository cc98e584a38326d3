// The structured exception guard and the minidump writer of the Windows build.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "filter/crash/win32/minidump.h"
#include "filter/crash/win32/seh_guard.h"
#include "tests/support/filter_under_test.h"

namespace sentrel {
namespace {

// What a filter saw, and whether it takes the exception.
struct Seen {
  bool take = true;
  std::vector<DWORD> codes;
};

bool Record(EXCEPTION_POINTERS* exception, void* context) {
  auto* seen = static_cast<Seen*>(context);
  seen->codes.push_back(exception->ExceptionRecord->ExceptionCode);
  return seen->take;
}

volatile int* volatile gNowhere = nullptr;
volatile int gZero = 0;
volatile bool gWentOn = false;

void AccessViolation(void*) {
  *gNowhere = 1;
  gWentOn = true;
}

void DivideByZero(void* out) { *static_cast<int*>(out) = 7 / gZero; }

void Returns(void* out) { *static_cast<int*>(out) = 42; }

void ThrowsCpp(void*) { throw std::runtime_error("from inside"); }

TEST(Win32SehGuard, CallThatReturns) {
  Seen seen;
  int value = 0;
  EXPECT_TRUE(RunUnderSehGuard(Returns, &value, Record, &seen));
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(seen.codes.empty());
}

TEST(Win32SehGuard, ProcessorFaultsAreTakenAndTheCallAbandoned) {
  Seen seen;
  gWentOn = false;
  EXPECT_FALSE(RunUnderSehGuard(AccessViolation, nullptr, Record, &seen));
  EXPECT_FALSE(gWentOn);  // the call was abandoned at the fault
  int value = 0;
  EXPECT_FALSE(RunUnderSehGuard(DivideByZero, &value, Record, &seen));
  EXPECT_EQ(seen.codes, (std::vector<DWORD>{EXCEPTION_ACCESS_VIOLATION, EXCEPTION_INT_DIVIDE_BY_ZERO}));
  // The thread goes on, and so does the guard.
  EXPECT_FALSE(RunUnderSehGuard(AccessViolation, nullptr, Record, &seen));
  EXPECT_TRUE(RunUnderSehGuard(Returns, &value, Record, &seen));
  EXPECT_EQ(seen.codes.size(), 3u);
}

// Guards nest like __try blocks: an exception the inner filter declines goes
// on to the outer one; one the inner filter takes never reaches it.
struct Nested {
  Seen inner;
  bool innerResult = true;
};

void InnerGuard(void* p) {
  auto* nested = static_cast<Nested*>(p);
  nested->innerResult = RunUnderSehGuard(AccessViolation, nullptr, Record, &nested->inner);
}

TEST(Win32SehGuard, NestedGuards) {
  Nested nested;
  nested.inner.take = false;
  Seen outer;
  EXPECT_FALSE(RunUnderSehGuard(InnerGuard, &nested, Record, &outer));
  EXPECT_EQ(nested.inner.codes.size(), 1u);
  EXPECT_EQ(outer.codes, (std::vector<DWORD>{EXCEPTION_ACCESS_VIOLATION}));

  Nested taken;
  Seen outer2;
  EXPECT_TRUE(RunUnderSehGuard(InnerGuard, &taken, Record, &outer2));
  EXPECT_FALSE(taken.innerResult);
  EXPECT_TRUE(outer2.codes.empty());
}

TEST(Win32SehGuard, CppExceptionsPassThrough) {
  Seen seen;
  std::string caught;
  try {
    RunUnderSehGuard(ThrowsCpp, nullptr, Record, &seen);
  } catch (const std::runtime_error& e) {
    caught = e.what();
  }
  EXPECT_EQ(caught, "from inside");
  EXPECT_TRUE(seen.codes.empty());
}

// A filter that writes a dump of the fault it sees.
struct DumpRequest {
  std::string path;
  bool created = false;
};

bool DumpIt(EXCEPTION_POINTERS* exception, void* context) {
  auto* request = static_cast<DumpRequest*>(context);
  request->created = WriteMiniDump(request->path.c_str(), exception);
  return true;
}

TEST(Win32MiniDump, NoFolderNoDump) {
  test::TempFolder folder;
  DumpRequest request{folder.Path() + "\\Log\\fault.dmp"};
  EXPECT_FALSE(RunUnderSehGuard(AccessViolation, nullptr, DumpIt, &request));
  EXPECT_FALSE(request.created);
  EXPECT_FALSE(folder.Exists("Log"));
  // A file held open without sharing cannot be replaced: no dump then.
  DumpRequest held{folder.Path() + "\\held.dmp"};
  HANDLE open = ::CreateFileA(held.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(RunUnderSehGuard(AccessViolation, nullptr, DumpIt, &held));
  EXPECT_FALSE(held.created);
  ::CloseHandle(open);
}

}  // namespace
}  // namespace sentrel
