#include "platform/native_mutex.h"

#include <new>

#include "platform/win32/windows_api.h"

namespace sentrel::platform {

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(NativeMutex), "a critical section must fit");
static_assert(alignof(CRITICAL_SECTION) <= 8, "a critical section must be aligned");

namespace {

CRITICAL_SECTION* Section(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

}  // namespace

NativeMutex::NativeMutex() { ::InitializeCriticalSection(new (section_) CRITICAL_SECTION); }

NativeMutex::~NativeMutex() { ::DeleteCriticalSection(Section(section_)); }

void NativeMutex::lock() { ::EnterCriticalSection(Section(section_)); }

bool NativeMutex::try_lock() { return ::TryEnterCriticalSection(Section(section_)) != FALSE; }

void NativeMutex::unlock() { ::LeaveCriticalSection(Section(section_)); }

}  // namespace sentrel::platform
