#include <windows.h>
#include <pthread.h>

#include "toolkit/ThreadPriority.h"

namespace ThreadPriority {

int CurrentSystemId() noexcept { return static_cast<int>(::GetCurrentThreadId()); }

void RaiseToTimeCritical(std::thread::native_handle_type thread, int /*systemId*/) noexcept {
  // The top of the normal class's range; the real-time class stays untouched.
  if (const HANDLE handle = reinterpret_cast<HANDLE>(pthread_gethandle(thread)))
    (void)::SetThreadPriority(handle, THREAD_PRIORITY_TIME_CRITICAL);
}

}  // namespace ThreadPriority
