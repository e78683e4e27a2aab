#pragma once
// Owns one kernel handle; closing is the only release.
#include <utility>

#include "serial/platform/Win32Api.h"

namespace platform {

class TWin32Handle {
 public:
  TWin32Handle() = default;
  explicit TWin32Handle(HANDLE handle) : FHandle(handle) {}
  TWin32Handle(TWin32Handle&& other) noexcept : FHandle(std::exchange(other.FHandle, nullptr)) {}
  TWin32Handle& operator=(TWin32Handle&& other) noexcept {
    if (this != &other) {
      Close();
      FHandle = std::exchange(other.FHandle, nullptr);
    }
    return *this;
  }
  ~TWin32Handle() { Close(); }

  HANDLE Get() const { return FHandle; }
  // CreateFileA fails with INVALID_HANDLE_VALUE, CreateEventA with null.
  bool Valid() const { return FHandle != nullptr && FHandle != INVALID_HANDLE_VALUE; }

 private:
  void Close() noexcept {
    // Closing must not disturb the last error a caller is about to report.
    if (!Valid()) return;
    const DWORD saved = ::GetLastError();
    ::CloseHandle(FHandle);
    ::SetLastError(saved);
    FHandle = nullptr;
  }

  HANDLE FHandle = nullptr;
};

}  // namespace platform
