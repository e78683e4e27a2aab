#include "serial/platform/NativePlatform.h"
#include "serial/platform/PosixPlatform.h"

namespace platform {

IPlatform& NativePlatform() {
  static TPosixPlatform native;
  return native;
}

}  // namespace platform
