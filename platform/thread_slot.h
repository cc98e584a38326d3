// Per-thread objects that are made on a thread's first use and destroyed
// when the thread ends, through the system's thread-specific storage (a
// pthread key; a fiber-local slot on Windows) rather than a C++ thread_local
// with a destructor: the compiler's emulated thread-local storage on Windows
// may free such an object's storage before its destructor runs, and in a
// shared library such destructors keep the library loaded for as long as
// any thread that used it lives.
#pragma once

#include <utility>

namespace sentrel::platform {

// One slot of thread-specific storage holding a pointer per thread; the
// destroy function is called with a thread's non-null pointer when that
// thread ends.
class ThreadSlot {
 public:
  using Destroy = void (*)(void*);
  explicit ThreadSlot(Destroy destroy);
  ~ThreadSlot();
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;

  void* Get() const;
  void Set(void* value);

 private:
  unsigned long key_ = 0;
  bool valid_ = false;
};

// A T per thread, default-constructed on the thread's first call of Get.
template <typename T>
class PerThread {
 public:
  PerThread() : slot_([](void* p) { delete static_cast<T*>(p); }) {}

  T& Get() {
    if (void* p = slot_.Get()) return *static_cast<T*>(p);
    T* made = new T();
    slot_.Set(made);
    return *made;
  }

 private:
  ThreadSlot slot_;
};

}  // namespace sentrel::platform
