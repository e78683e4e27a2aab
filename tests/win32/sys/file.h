#pragma once
// flock on Windows for the tests: whole-file byte-range locks of the descriptor's handle.
#include <io.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8

inline int flock(int fd, int operation) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  OVERLAPPED whole{};
  if (operation & LOCK_UN) return ::UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole) ? 0 : -1;
  DWORD flags = (operation & LOCK_EX) ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (operation & LOCK_NB) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  return ::LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &whole) ? 0 : -1;
}
