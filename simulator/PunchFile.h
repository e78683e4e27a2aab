#pragma once
// The punch file "data.epl": an 8-bit text file read strictly forward, one card per line.
// A line ends at CR (an LF directly after it is dropped); an LF alone is part of the line.
// A byte 0x1A or the physical end ends the file.
#include <cstddef>
#include <string>

#include "toolkit/ByteString.h"

inline constexpr const char* PunchFileName = "data.epl";

class TPunchFile {
 public:
  TPunchFile() = default;
  ~TPunchFile();
  TPunchFile(const TPunchFile&) = delete;
  TPunchFile& operator=(const TPunchFile&) = delete;

  // Opens for reading and takes a shared advisory lock, so cooperating writers see the file
  // is in use. Raises EInOutError ("File not found", "File access denied", ...) on failure.
  void Open(const std::string& path);
  // Releases the lock and the handle; does nothing when the file is not open.
  void Close() noexcept;
  bool IsOpen() const noexcept { return FHandle >= 0; }

  // True at the physical end or before a 0x1A. Raises "I/O error 104" when not open.
  bool Eof();
  // The next line without its end. Raises "I/O error 104" when not open; at the end of the
  // file it returns an empty line.
  ByteString ReadLine();

 private:
  // Next byte without taking it; -1 at the physical end.
  int Peek();
  void CheckOpenForInput() const;

  int FHandle = -1;
  char FBuffer[4096];
  std::size_t FPosition = 0;
  std::size_t FFilled = 0;
};

// Binds the file to "data.epl" in the working directory and opens it.
void OpenPunchFile(TPunchFile& punchFile);
// Closes it; a file that never opened is left alone, so the window can always close.
void ClosePunchFile(TPunchFile& punchFile);
