#pragma once
// The system side of the punch file: opening for reading with writers kept out, and closing.
#include <string>

// A read-only descriptor for read(); -1 with errno set on failure (EISDIR for a directory).
int OpenPunchFileHandle(const std::string& path);
void ClosePunchFileHandle(int handle) noexcept;
