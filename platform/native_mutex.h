// The lock primitive under CriticalSection: the system's critical section on
// Windows, the standard library's mutex elsewhere. Both offer lock, try_lock
// and unlock.
#pragma once

#if defined(_WIN32)

namespace sentrel::platform {

// A Windows critical section. Its storage is kept opaque here, so that this
// header does not bring the system headers (and their macros) to every user
// of a lock; win32/native_mutex.cpp checks that the size fits.
class NativeMutex {
 public:
  NativeMutex();
  ~NativeMutex();
  NativeMutex(const NativeMutex&) = delete;
  NativeMutex& operator=(const NativeMutex&) = delete;

  void lock();      // EnterCriticalSection
  bool try_lock();  // TryEnterCriticalSection
  void unlock();    // LeaveCriticalSection

 private:
  alignas(8) unsigned char section_[40];
};

}  // namespace sentrel::platform

#else

#include <mutex>

namespace sentrel::platform {

using NativeMutex = std::mutex;

}  // namespace sentrel::platform

#endif
