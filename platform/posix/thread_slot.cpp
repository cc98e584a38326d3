#include "platform/thread_slot.h"

#include <pthread.h>

namespace sentrel::platform {

ThreadSlot::ThreadSlot(Destroy destroy) {
  pthread_key_t key;
  valid_ = pthread_key_create(&key, destroy) == 0;
  key_ = valid_ ? static_cast<unsigned long>(key) : 0;
}

// The objects of threads still running stay theirs: a key that is deleted
// calls no destructor.
ThreadSlot::~ThreadSlot() {
  if (valid_) pthread_key_delete(static_cast<pthread_key_t>(key_));
}

void* ThreadSlot::Get() const {
  return valid_ ? pthread_getspecific(static_cast<pthread_key_t>(key_)) : nullptr;
}

void ThreadSlot::Set(void* value) {
  if (valid_) pthread_setspecific(static_cast<pthread_key_t>(key_), value);
}

}  // namespace sentrel::platform
