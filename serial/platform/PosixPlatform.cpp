#include "serial/platform/PosixPlatform.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>

#include "serial/platform/DeviceNames.h"
#include "serial/platform/ManualEvent.h"
#include "serial/platform/PosixDevice.h"
#include "serial/platform/PosixPriority.h"

namespace platform {
namespace {

// strerror_r comes in two shapes; both are thread-safe.
[[maybe_unused]] const char* TextOf(int result, const char* buffer) {
  return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* TextOf(const char* result, const char*) { return result; }

}  // namespace

std::string PosixErrorText(int code) {
  char buffer[256] = {};
  std::string text = TextOf(strerror_r(code, buffer, sizeof buffer), buffer);
  if (code == EACCES) text += " (add your user to the device's group, usually dialout)";
  return text;
}

std::unique_ptr<IDevice> TPosixPlatform::Open(const std::string& name) {
  return TPosixDevice::Open(NativeDeviceName(name));
}

std::unique_ptr<IEvent> TPosixPlatform::CreateEvent() {
  return std::make_unique<TManualEvent>(true);
}

std::int32_t TPosixPlatform::GetPriorityClass() {
  const int saved = errno;
  const int nice = ::getpriority(PRIO_PROCESS, 0);
  errno = saved;
  return PriorityClassOfNice(nice);
}

void TPosixPlatform::SetPriorityClass(std::int32_t priorityClass) {
  // Raising the priority needs privileges; like the class change it stands for, the result
  // is not examined.
  const int saved = errno;
  ::setpriority(PRIO_PROCESS, 0, NiceOfPriorityClass(priorityClass));
  errno = saved;
}

std::int32_t TPosixPlatform::GetLastError() { return errno; }

void TPosixPlatform::SetLastError(std::int32_t code) { errno = code; }

std::string TPosixPlatform::ErrorText(std::int32_t code) { return PosixErrorText(code); }

bool PosixDeviceGone(int code) { return code == EIO || code == ENXIO || code == ENODEV; }

bool TPosixPlatform::IsDeviceGone(std::int32_t code) { return PosixDeviceGone(code); }

}  // namespace platform
