#pragma once
// Included first into every test on Windows: the POSIX helpers the tests call.
#include <direct.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

// A fresh directory from a name ending in XXXXXX.
inline char* mkdtemp(char* pattern) {
  if (::_mktemp_s(pattern, ::strlen(pattern) + 1) != 0) return nullptr;
  return ::_mkdir(pattern) == 0 ? pattern : nullptr;
}

// Windows has no read permission to take away from the owner; tests that need one skip as
// they do for root.
inline int geteuid() { return 0; }
