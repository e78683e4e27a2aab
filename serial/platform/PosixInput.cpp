#include "serial/platform/PosixInput.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {
namespace {
// Held bytes are the owner's unread input; past this the terminal keeps the rest itself.
constexpr std::size_t HeldLimit = 1 << 20;
}  // namespace

void TPosixInput::SetFlag(char flag) {
  std::lock_guard lock(FLock);
  FFlag = flag;
}

bool TPosixInput::TakeFlagSeen() {
  std::lock_guard lock(FLock);
  return std::exchange(FFlagSeen, false);
}

ssize_t TPosixInput::ReadTerminal(std::uint8_t* buffer, std::size_t count) {
  const ssize_t n = ::read(FFd, buffer, count);
  if (n > 0 && std::memchr(buffer, static_cast<unsigned char>(FFlag), static_cast<std::size_t>(n)))
    FFlagSeen = true;
  return n;
}

bool TPosixInput::TakeArrived() {
  std::lock_guard lock(FLock);
  return std::exchange(FArrived, false);
}

ssize_t TPosixInput::Read(void* buffer, std::size_t count, bool waited) {
  std::lock_guard lock(FLock);
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::size_t n = std::min(count, FHeld.size());
  std::memcpy(bytes, FHeld.data(), n);
  FHeld.erase(FHeld.begin(), FHeld.begin() + static_cast<std::ptrdiff_t>(n));
  if (n == count) return static_cast<ssize_t>(n);
  const bool flagBefore = FFlagSeen;
  const ssize_t more = ReadTerminal(bytes + n, count - n);
  // A flag taken before the wait could look at it must still be reported.
  if (more > 0 && (waited || (FFlagSeen && !flagBefore))) {
    FArrived = true;
    if (FOnArrival) FOnArrival();
  }
  if (n == 0) return more;
  return more > 0 ? static_cast<ssize_t>(n) + more : static_cast<ssize_t>(n);
}

bool TPosixInput::Take(std::size_t& moved) {
  moved = 0;
  std::lock_guard lock(FLock);
  std::uint8_t chunk[4096];
  while (FHeld.size() < HeldLimit) {
    const ssize_t n = ReadTerminal(chunk, std::min(sizeof chunk, HeldLimit - FHeld.size()));
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      if (n == 0) errno = EIO;
      return false;
    }
    FHeld.insert(FHeld.end(), chunk, chunk + n);
    moved += static_cast<std::size_t>(n);
    if (static_cast<std::size_t>(n) < sizeof chunk) break;
  }
  return true;
}

bool TPosixInput::Count(std::uint32_t& count) {
  std::lock_guard lock(FLock);
  int waiting = 0;
  if (::ioctl(FFd, FIONREAD, &waiting) != 0) return false;
  count = static_cast<std::uint32_t>(FHeld.size() + static_cast<std::size_t>(waiting));
  return true;
}

void TPosixInput::DropHeld() {
  std::lock_guard lock(FLock);
  FHeld.clear();
}

}  // namespace platform
