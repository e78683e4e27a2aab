#include "serial/platform/PosixPlatform.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/platform/DeviceNames.h"
#include "serial/platform/LastFailure.h"
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
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));  // main thread
  errno = saved;
  return PriorityClassOfNice(nice);
}

void TPosixPlatform::SetPriorityClass(std::int32_t priorityClass) {
  const int saved = errno;
  const TProcessNice now = ReadProcessNice();
  TProcessNice to = ShiftedProcessNice(now, NiceOfPriorityClass(priorityClass));
  if (FSaved && FSaved->Class == priorityClass) {
    // Threads found before get their own value back, later ones keep their distance.
    to = ShiftedProcessNice(now, FSaved->Nice.front().Nice);
    for (TThreadNice& t : to)
      for (const TThreadNice& before : FSaved->Nice)
        if (before.Thread == t.Thread) t.Nice = before.Nice;
    FSaved.reset();
  }
  WriteProcessNice(now, to);
  errno = saved;
}

bool TPosixPlatform::ChangePriorityClass(std::int32_t priorityClass) {
  const TProcessNice now = ReadProcessNice();
  const TProcessNice to = ShiftedProcessNice(now, NiceOfPriorityClass(priorityClass));
  // Refused before anything changes: a class that cannot be taken, or not given back.
  if (std::string refusal = PriorityRefusal(priorityClass, now, to); !refusal.empty())
    return Refuse(EPERM, std::move(refusal));
  if (const int error = WriteProcessNice(now, to); error != 0) {
    errno = error;
    return false;
  }
  FSaved = TSaved{PriorityClassOfNice(now.front().Nice), now};
  return true;
}
std::int32_t TPosixPlatform::GetLastError() { return errno; }

void TPosixPlatform::SetLastError(std::int32_t code) {
  ForgetRefusal();
  errno = code;
}

std::string TPosixPlatform::ErrorText(std::int32_t code) { return PosixErrorText(code); }

std::string TPosixPlatform::LastErrorText(std::int32_t code) {
  std::string text = RefusalText(code);
  return text.empty() ? PosixErrorText(code) : text;
}

bool PosixDeviceGone(int code) { return code == EIO || code == ENXIO || code == ENODEV; }

bool TPosixPlatform::IsDeviceGone(std::int32_t code) { return PosixDeviceGone(code); }

}  // namespace platform
