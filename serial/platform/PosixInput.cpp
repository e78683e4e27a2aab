#include "serial/platform/PosixInput.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {
// Held bytes are the owner's unread input; past this the terminal keeps the rest itself.
constexpr std::size_t HeldLimit = 1 << 20;
}  // namespace

ssize_t TPosixInput::Read(void* buffer, std::size_t count) {
  std::lock_guard lock(FLock);
  if (FHeld.empty()) return ::read(FFd, buffer, count);
  const std::size_t n = std::min(count, FHeld.size());
  std::memcpy(buffer, FHeld.data(), n);
  FHeld.erase(FHeld.begin(), FHeld.begin() + static_cast<std::ptrdiff_t>(n));
  if (n == count) return static_cast<ssize_t>(n);
  const ssize_t more = ::read(FFd, static_cast<std::uint8_t*>(buffer) + n, count - n);
  return more > 0 ? static_cast<ssize_t>(n) + more : static_cast<ssize_t>(n);
}

bool TPosixInput::Take(char flag, std::size_t& moved, bool& flagSeen) {
  moved = 0;
  flagSeen = false;
  std::lock_guard lock(FLock);
  std::uint8_t chunk[4096];
  while (FHeld.size() < HeldLimit) {
    const ssize_t n = ::read(FFd, chunk, std::min(sizeof chunk, HeldLimit - FHeld.size()));
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
      if (n == 0) errno = EIO;
      return false;
    }
    if (std::memchr(chunk, static_cast<unsigned char>(flag), static_cast<std::size_t>(n)))
      flagSeen = true;
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
