#include "simulator/PunchFileHandle.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenPunchFileHandle(const std::string& path) {
  const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) return -1;
  // A directory opens on POSIX but cannot be read as a file.
  struct stat status {};
  if (::fstat(handle, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(handle);
    errno = EISDIR;
    return -1;
  }
  // A shared advisory lock, so cooperating writers see the file is in use.
  if (::flock(handle, LOCK_SH | LOCK_NB) != 0) {
    const int error = errno;
    ::close(handle);
    errno = error;
    return -1;
  }
  return handle;
}

void ClosePunchFileHandle(int handle) noexcept {
  ::flock(handle, LOCK_UN);
  ::close(handle);
}
