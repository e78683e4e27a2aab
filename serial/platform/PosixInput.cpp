#include "serial/platform/PosixInput.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace platform {
void TPosixInput::SetFlag(char flag) {
  std::lock_guard lock(FLock);
  FFlag = flag;
}

bool TPosixInput::TakeFlagSeen() {
  std::lock_guard lock(FLock);
  return std::exchange(FFlagSeen, false);
}

void TPosixInput::KeepExcess() {
  FHeld.insert(FHeld.end(), FExcess.begin(), FExcess.end());
  FExcess.clear();
}

void TPosixInput::SetFilter(const TInputFilter::TSettings& settings) {
  std::lock_guard lock(FLock);
  if (!settings.Unmark) {
    std::string mark;
    FFilter.TakeHeldMark(mark);
    FHeld.insert(FHeld.end(), mark.begin(), mark.end());
  }
  FFilter.Configure(settings);
}

ssize_t TPosixInput::ReadTerminal(std::uint8_t* buffer, std::size_t count) {
  ssize_t n;
  if (!FFilter.Active()) {
    n = ::read(FFd, buffer, count);
  } else {
    // Filtering only shrinks what was read, so reading no more than is missing never
    // over-reads; a read that delivers nothing (all nulls) reads on.
    std::string out;
    n = 1;
    while (out.size() < count && n > 0) {
      std::uint8_t raw[4096];
      n = ::read(FFd, raw, std::min(sizeof raw, count - out.size()));
      if (n > 0) FFilter.Filter(raw, static_cast<std::size_t>(n), out);
    }
    if (!out.empty()) {
      // A stray mark byte can make one more than was read; it follows the bytes given.
      const std::size_t given = std::min(count, out.size());
      std::memcpy(buffer, out.data(), given);
      FExcess.assign(out.begin() + static_cast<std::ptrdiff_t>(given), out.end());
      n = static_cast<ssize_t>(given);
    }  // else n and errno are those of the read that found nothing
  }
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
  if (n > 0) {
    std::memcpy(bytes, FHeld.data(), n);
    FHeld.erase(FHeld.begin(), FHeld.begin() + static_cast<std::ptrdiff_t>(n));
  }
  if (n == count) return static_cast<ssize_t>(n);
  const bool flagBefore = FFlagSeen;
  const ssize_t more = ReadTerminal(bytes + n, count - n);
  KeepExcess();
  // A flag taken before the wait could look at it must still be reported.
  if (more > 0 && (waited || (FFlagSeen && !flagBefore))) {
    FArrived = true;
    if (FOnArrival) FOnArrival();
  }
  if (n == 0) return more;
  return more > 0 ? static_cast<ssize_t>(n) + more : static_cast<ssize_t>(n);
}

bool TPosixInput::Take(std::size_t& moved, std::size_t limit) {
  moved = 0;
  std::lock_guard lock(FLock);
  FComplete = false;
  limit = std::min(limit, HeldLimit);
  // Larger than the terminal's own read buffer, so one read usually takes all it holds.
  std::uint8_t chunk[16384];
  while (FHeld.size() < limit) {
    const std::size_t asked = std::min(sizeof chunk, limit - FHeld.size());
    const ssize_t n = ReadTerminal(chunk, asked);
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        FComplete = errno == EAGAIN;
        break;
      }
      if (n == 0) errno = EIO;
      return false;
    }
    FHeld.insert(FHeld.end(), chunk, chunk + n);
    KeepExcess();
    moved += static_cast<std::size_t>(n);
    // Fewer than asked: the terminal had no more (what comes meanwhile is a new arrival).
    if (static_cast<std::size_t>(n) < asked) {
      FComplete = true;
      break;
    }
  }
  return true;
}

void TPosixInput::ArrivalNotTaken() {
  std::lock_guard lock(FLock);
  FComplete = false;
}

std::size_t TPosixInput::Held() {
  std::lock_guard lock(FLock);
  return FHeld.size();
}

bool TPosixInput::Count(std::uint32_t& count) {
  std::lock_guard lock(FLock);
  return CountLocked(count);
}

bool TPosixInput::CountLocked(std::uint32_t& count) {
  int waiting = 0;
  if (::ioctl(FFd, FIONREAD, &waiting) != 0) return false;
  count = static_cast<std::uint32_t>(FHeld.size() + static_cast<std::size_t>(waiting));
  return true;
}

bool TPosixInput::Deliverable(std::uint32_t& count, std::size_t& moved) {
  moved = 0;
  {
    std::lock_guard lock(FLock);
    if (!FFilter.Active()) {
      if (!FComplete || FHeld.empty()) return CountLocked(count);
      count = static_cast<std::uint32_t>(FHeld.size());
      return true;
    }
  }
  if (!Take(moved)) return false;
  std::lock_guard lock(FLock);
  count = static_cast<std::uint32_t>(FHeld.size());
  return true;
}

void TPosixInput::DropHeld() {
  std::lock_guard lock(FLock);
  FHeld.clear();
  FFilter.Reset();
}

}  // namespace platform
