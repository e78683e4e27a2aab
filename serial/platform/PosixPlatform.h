#pragma once
// The native backend: terminal devices through termios, errno as the last error.
#include <optional>

#include "serial/platform/Platform.h"
#include "serial/platform/PosixPriority.h"

namespace platform {

class TPosixPlatform : public IPlatform {
 public:
  std::unique_ptr<IDevice> Open(const std::string& name) override;
  std::unique_ptr<IEvent> CreateEvent() override;
  std::int32_t GetPriorityClass() override;
  // Given the class found before the last change, puts every thread back exactly as found.
  void SetPriorityClass(std::int32_t priorityClass) override;
  bool ChangePriorityClass(std::int32_t priorityClass) override;
  std::int32_t GetLastError() override;
  void SetLastError(std::int32_t code) override;  // also forgets what the last failure said
  std::string ErrorText(std::int32_t code) override;
  std::string LastErrorText(std::int32_t code) override;
  bool IsDeviceGone(std::int32_t code) override;

 private:
  struct TSaved {
    std::int32_t Class;
    TProcessNice Nice;
  };
  std::optional<TSaved> FSaved;  // as found before the last ChangePriorityClass
};

// The errno values by which a terminal device reports that it is gone.
bool PosixDeviceGone(int code);

// errno's text, thread-safe; a hint is added where the usual cause is the user's groups.
std::string PosixErrorText(int code);

}  // namespace platform
