#pragma once
// Any line speed in bit/s, through the kernel's termios2 record. Kept apart because the
// kernel's termios header clashes with the C library's. Both return 0 or an errno code.
#include <cstdint>

namespace platform {

int PosixSetBaudRate(int fd, std::uint32_t rate);
int PosixGetBaudRate(int fd, std::uint32_t* rate);

}  // namespace platform
