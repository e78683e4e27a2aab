#pragma once
// The native backend: terminal devices through termios, errno as the last error.
#include "serial/platform/Platform.h"

namespace platform {

class TPosixPlatform : public IPlatform {
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

// The errno values by which a terminal device reports that it is gone.
bool PosixDeviceGone(int code);

// errno's text, thread-safe; a hint is added where the usual cause is the user's groups.
std::string PosixErrorText(int code);

}  // namespace platform
