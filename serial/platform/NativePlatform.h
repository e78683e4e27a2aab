#pragma once
// The build's own backend, defined by the one backend the build compiles.
#include "serial/platform/Platform.h"

namespace platform {

IPlatform& NativePlatform();

}  // namespace platform
