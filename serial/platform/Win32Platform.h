#pragma once
// The native backend on Windows: kernel32's communications functions, GetLastError as the
// last error.
#include "serial/platform/Platform.h"

namespace platform {

class TWin32Platform : public IPlatform {
 public:
  std::unique_ptr<IDevice> Open(const std::string& name) override;
  std::unique_ptr<IEvent> CreateEvent() override;
  std::int32_t GetPriorityClass() override;
  void SetPriorityClass(std::int32_t priorityClass) override;
  std::int32_t GetLastError() override;
  void SetLastError(std::int32_t code) override;
  std::string ErrorText(std::int32_t code) override;
  bool IsDeviceGone(std::int32_t code) override;
};

// The codes by which Windows and its serial drivers say that the device itself has gone.
bool Win32DeviceGone(std::int32_t code);

}  // namespace platform
