#pragma once
// A manual-reset kernel event, so that an overlapped transfer can signal it itself.
#include "serial/platform/Platform.h"
#include "serial/platform/Win32Handle.h"

namespace platform {

class TWin32Event : public IEvent {
 public:
  // Null with the last error set when the system has no event to give.
  static std::unique_ptr<TWin32Event> Create(bool signalled);
  void Set() override;
  bool Reset() override;
  bool IsSet() override;
  HANDLE Handle() const { return FHandle.Get(); }

 private:
  explicit TWin32Event(HANDLE handle) : FHandle(handle) {}
  TWin32Handle FHandle;
};

}  // namespace platform
