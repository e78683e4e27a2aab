#pragma once
// Any line speed in bit/s, through the kernel's termios2 record, and the whole record saved and
// put back. Kept apart because the kernel's termios header clashes with the C library's. All
// return 0 or an errno code.
#include <cstdint>

namespace platform {

int PosixSetBaudRate(int fd, std::uint32_t rate);
int PosixGetBaudRate(int fd, std::uint32_t* rate);

// A line's complete settings, speed included, as the kernel holds them.
struct TSavedLine {
  alignas(8) unsigned char Record[64];
};
int PosixSaveLine(int fd, TSavedLine& saved);
int PosixRestoreLine(int fd, const TSavedLine& saved);

}  // namespace platform
