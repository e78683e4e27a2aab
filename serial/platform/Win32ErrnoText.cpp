#include <cerrno>
#include <cstring>

#include "serial/platform/ErrnoText.h"

namespace platform {

std::string ErrnoText(int code) {
  char buffer[256] = {};
  if (::strerror_s(buffer, sizeof buffer, code) != 0) return "Unknown error";
  return buffer;
}

bool ErrnoDeviceGone(int code) { return code == EIO || code == ENXIO || code == ENODEV; }

}  // namespace platform
