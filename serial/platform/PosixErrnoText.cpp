#include "serial/platform/ErrnoText.h"
#include "serial/platform/PosixPlatform.h"

namespace platform {

std::string ErrnoText(int code) { return PosixErrorText(code); }

bool ErrnoDeviceGone(int code) { return PosixDeviceGone(code); }

}  // namespace platform
