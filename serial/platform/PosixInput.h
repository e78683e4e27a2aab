#pragma once
// The device's input as one queue: bytes the line-event wait has already taken from the
// terminal to look at them (the flag character), followed by what the terminal still holds.
// Every read goes through here, so the order of the bytes is kept.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace platform {

class TPosixInput {
 public:
  explicit TPosixInput(int fd) : FFd(fd) {}

  // As read(2), held bytes first.
  ssize_t Read(void* buffer, std::size_t count);
  // Moves what the terminal holds now into the queue (up to a limit); returns how many bytes
  // were moved and whether one of them is the flag. False with errno when reading failed.
  bool Take(char flag, std::size_t& moved, bool& flagSeen);
  // Bytes in the queue; false with errno when the terminal cannot tell.
  bool Count(std::uint32_t& count);
  // Drops the held bytes (a purge then empties the terminal's own queue).
  void DropHeld();

 private:
  int FFd;
  std::mutex FLock;
  std::vector<std::uint8_t> FHeld;
};

}  // namespace platform
