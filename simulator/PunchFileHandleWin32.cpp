#include <fcntl.h>
#include <io.h>

#include <cerrno>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "simulator/PunchFileHandle.h"

namespace {

// The system's reasons as the errno values the punch file names its errors by; the C
// runtime's own open would fold a missing folder into a missing file.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return ENOENT;
    case ERROR_PATH_NOT_FOUND:
      return ENOTDIR;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return EINVAL;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    default:
      return EIO;
  }
}

int Fail(int code) {
  errno = code;
  return -1;
}

}  // namespace

int OpenPunchFileHandle(const std::string& path) {
  // Other readers may share the file. A directory does not open as a file (access denied).
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(ErrnoOf(::GetLastError()));
  // A shared lock of the whole file, so cooperating writers see the file is in use.
  OVERLAPPED whole{};
  if (!::LockFileEx(file, LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(file);
    return Fail(ErrnoOf(error));
  }
  // Binary, so that CR, LF and 0x1A reach the reader untouched.
  const int handle = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (handle < 0) {
    ::CloseHandle(file);
    return Fail(EMFILE);
  }
  return handle;
}

void ClosePunchFileHandle(int handle) noexcept {
  OVERLAPPED whole{};
  ::UnlockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(handle)), 0, MAXDWORD, MAXDWORD,
                 &whole);
  ::_close(handle);
}
