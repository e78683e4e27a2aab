#include "serial/platform/PosixBaudRate.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

namespace platform {

int PosixSetBaudRate(int fd, std::uint32_t rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = rate;
  tio.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

int PosixGetBaudRate(int fd, std::uint32_t* rate) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  *rate = tio.c_ospeed;
  return 0;
}

}  // namespace platform

namespace platform {

static_assert(sizeof(termios2) <= sizeof(TSavedLine::Record));

int PosixSaveLine(int fd, TSavedLine& saved) {
  struct termios2 tio {};
  if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
  std::memcpy(saved.Record, &tio, sizeof tio);
  return 0;
}

int PosixRestoreLine(int fd, const TSavedLine& saved) {
  struct termios2 tio {};
  std::memcpy(&tio, saved.Record, sizeof tio);
  if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
  return 0;
}

}  // namespace platform
