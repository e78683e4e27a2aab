#pragma once
// errno codes as the virtual device reports them, on every build: their texts and which of
// them mean the device is gone.
#include <string>

namespace platform {

std::string ErrnoText(int code);
bool ErrnoDeviceGone(int code);

}  // namespace platform
