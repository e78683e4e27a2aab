#include "serial/platform/Win32Event.h"

namespace platform {

std::unique_ptr<TWin32Event> TWin32Event::Create(bool signalled) {
  HANDLE handle = ::CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
  if (handle == nullptr) return nullptr;
  return std::unique_ptr<TWin32Event>(new TWin32Event(handle));
}

void TWin32Event::Set() { ::SetEvent(FHandle.Get()); }

bool TWin32Event::Reset() { return ::ResetEvent(FHandle.Get()) != 0; }

bool TWin32Event::IsSet() { return ::WaitForSingleObject(FHandle.Get(), 0) == WAIT_OBJECT_0; }

}  // namespace platform
