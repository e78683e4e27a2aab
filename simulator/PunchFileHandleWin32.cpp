#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "simulator/PunchFileHandle.h"

int OpenPunchFileHandle(const std::string& path) {
  // Binary, so that CR, LF and 0x1A reach the reader untouched. A directory fails to open
  // here (EACCES).
  int handle = -1;
  if (::_sopen_s(&handle, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                 _S_IREAD) != 0) {
    return -1;
  }
  // A shared lock of the whole file, so cooperating writers see the file is in use.
  OVERLAPPED whole{};
  if (!::LockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(handle)),
                    LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    ::_close(handle);
    errno = EACCES;
    return -1;
  }
  return handle;
}

void ClosePunchFileHandle(int handle) noexcept {
  OVERLAPPED whole{};
  ::UnlockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(handle)), 0, MAXDWORD, MAXDWORD,
                 &whole);
  ::_close(handle);
}
