#include "serial/platform/Win32Platform.h"

#include "serial/platform/Win32Api.h"
#include "serial/platform/Win32Device.h"
#include "serial/platform/Win32Event.h"

namespace platform {

std::unique_ptr<IDevice> TWin32Platform::Open(const std::string& name) {
  return TWin32Device::Open(name);
}

std::unique_ptr<IEvent> TWin32Platform::CreateEvent() { return TWin32Event::Create(true); }

std::int32_t TWin32Platform::GetPriorityClass() {
  const DWORD saved = ::GetLastError();
  const DWORD priorityClass = ::GetPriorityClass(::GetCurrentProcess());
  ::SetLastError(saved);
  return static_cast<std::int32_t>(priorityClass);
}

void TWin32Platform::SetPriorityClass(std::int32_t priorityClass) {
  // Without the privilege Windows gives high instead of real-time; the result is not examined.
  const DWORD saved = ::GetLastError();
  ::SetPriorityClass(::GetCurrentProcess(), static_cast<DWORD>(priorityClass));
  ::SetLastError(saved);
}

std::int32_t TWin32Platform::GetLastError() {
  return static_cast<std::int32_t>(::GetLastError());
}

void TWin32Platform::SetLastError(std::int32_t code) {
  ::SetLastError(static_cast<DWORD>(code));
}

std::string TWin32Platform::ErrorText(std::int32_t code) {
  // Inserts are left as they are: there are no arguments to put in, and with an argument
  // array but none given, a text with inserts would be read from a null pointer.
  char buffer[256] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  return std::string(buffer, length);
}

namespace {
constexpr std::int32_t ErrorNoSuchDevice = 433;  // not in every mingw-w64 winerror.h
}  // namespace

bool Win32DeviceGone(std::int32_t code) {
  switch (code) {
    case ERROR_BAD_COMMAND:           // USB serial drivers, once the adapter is pulled
    case ERROR_GEN_FAILURE:           // device not functioning
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ErrorNoSuchDevice:
      return true;
    default:
      return false;
  }
}

bool TWin32Platform::IsDeviceGone(std::int32_t code) { return Win32DeviceGone(code); }

}  // namespace platform
