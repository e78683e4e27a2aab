#include "serial/platform/NativePlatform.h"
#include "serial/platform/Win32Platform.h"

namespace platform {

IPlatform& NativePlatform() {
  static TWin32Platform native;
  return native;
}

}  // namespace platform
