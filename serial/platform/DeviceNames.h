#pragma once
// Device names as users of the port give them, mapped to the names of this system.
#include <string>

namespace platform {

// "COMn" and "\\.\COMn" (n >= 1) name the n-th serial port, /dev/ttyS(n-1); every other
// name, a path included, is returned unchanged.
std::string NativeDeviceName(const std::string& name);

}  // namespace platform
