#pragma once
// The operating system's side of a thread's identity and priority, one file per system.
#include <thread>

namespace ThreadPriority {

// The calling thread's id as the system knows it (never 0).
int CurrentSystemId() noexcept;
// Raises the thread as far as the process may without privileges, never into a real-time
// class; systemId is CurrentSystemId() as the thread saw it. Failure leaves it as it was.
void RaiseToTimeCritical(std::thread::native_handle_type thread, int systemId) noexcept;

}  // namespace ThreadPriority
