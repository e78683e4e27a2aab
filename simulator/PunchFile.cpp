#include "simulator/PunchFile.h"

#include <unistd.h>

#include <cerrno>

#include "simulator/PunchFileHandle.h"
#include "toolkit/Exception.h"

namespace {

constexpr char EndOfFileMark = 0x1A;
constexpr int FileNotOpenForInput = 104;

EInOutError IoError(int code) { return EInOutError(code, "I/O error " + std::to_string(code)); }

// The runtime's I/O error numbers and texts for the causes the user can act on.
EInOutError OpenError(int error) {
  switch (error) {
    case ENOENT:
      return EInOutError(2, "File not found");
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
      return EInOutError(3, "Invalid filename");
    case EMFILE:
    case ENFILE:
      return EInOutError(4, "Too many open files");
    case EACCES:
    case EPERM:
    case EISDIR:
      return EInOutError(5, "File access denied");
    default:
      return IoError(error);
  }
}

}  // namespace

TPunchFile::~TPunchFile() { Close(); }

void TPunchFile::Open(const std::string& path) {
  Close();
  if (path.empty()) throw OpenError(EINVAL);
  const int handle = OpenPunchFileHandle(path);
  if (handle < 0) throw OpenError(errno);
  FHandle = handle;
  FPosition = FFilled = 0;
}

void TPunchFile::Close() noexcept {
  if (FHandle < 0) return;
  ClosePunchFileHandle(FHandle);
  FHandle = -1;
  FPosition = FFilled = 0;
}

void TPunchFile::CheckOpenForInput() const {
  if (FHandle < 0) throw IoError(FileNotOpenForInput);
}

int TPunchFile::Peek() {
  if (FPosition == FFilled) {
    ssize_t got;
    do got = ::read(FHandle, FBuffer, sizeof FBuffer);
    while (got < 0 && errno == EINTR);
    if (got < 0) throw IoError(errno);
    FPosition = 0;
    FFilled = static_cast<std::size_t>(got);
    if (got == 0) return -1;
  }
  return static_cast<unsigned char>(FBuffer[FPosition]);
}

bool TPunchFile::Eof() {
  CheckOpenForInput();
  const int next = Peek();
  return next < 0 || next == EndOfFileMark;
}

ByteString TPunchFile::ReadLine() {
  CheckOpenForInput();
  ByteString line;
  for (;;) {
    const int next = Peek();
    if (next < 0 || next == EndOfFileMark) return line;
    ++FPosition;
    if (next == '\r') break;
    line.push_back(static_cast<char>(next));
  }
  if (Peek() == '\n') ++FPosition;
  return line;
}

void OpenPunchFile(TPunchFile& punchFile) { punchFile.Open(PunchFileName); }

void ClosePunchFile(TPunchFile& punchFile) { punchFile.Close(); }
