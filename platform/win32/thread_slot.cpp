#include "platform/thread_slot.h"

#include "platform/win32/windows_api.h"

namespace sentrel::platform {

// A fiber-local slot's callback runs when a thread ends (and for every
// thread's value when the slot is freed).
ThreadSlot::ThreadSlot(Destroy destroy) {
  const DWORD index = ::FlsAlloc(reinterpret_cast<PFLS_CALLBACK_FUNCTION>(destroy));
  valid_ = index != FLS_OUT_OF_INDEXES;
  key_ = valid_ ? index : 0;
}

ThreadSlot::~ThreadSlot() {
  if (valid_) ::FlsFree(static_cast<DWORD>(key_));
}

void* ThreadSlot::Get() const { return valid_ ? ::FlsGetValue(static_cast<DWORD>(key_)) : nullptr; }

void ThreadSlot::Set(void* value) {
  if (valid_) ::FlsSetValue(static_cast<DWORD>(key_), value);
}

}  // namespace sentrel::platform
