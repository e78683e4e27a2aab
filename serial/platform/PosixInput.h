#pragma once
// The device's input as one queue: bytes the line-event wait has already taken from the
// terminal to look at them (the flag character), followed by what the terminal still holds.
// Every read goes through here, so the order of the bytes is kept.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace platform {

class TPosixInput {
 public:
  explicit TPosixInput(int fd) : FFd(fd) {}

  // The flag character (EV_RXFLAG) looked for among the bytes taken from the terminal.
  void SetFlag(char flag);
  // Called when a read took bytes straight from the terminal that the line-event wait may not
  // have seen arrive: a read that had been waiting for them, or one that took the flag.
  void OnArrival(std::function<void()> arrival) { FOnArrival = std::move(arrival); }
  // As read(2), held bytes first. waited: the read had been waiting for these bytes.
  ssize_t Read(void* buffer, std::size_t count, bool waited);
  // Moves what the terminal holds now into the queue (up to a limit). False with errno when
  // reading failed.
  bool Take(std::size_t& moved);
  // Whether the flag came from the terminal (into the queue or straight to a read) since the
  // last call.
  bool TakeFlagSeen();
  // Whether a waiting read took new bytes since the last call.
  bool TakeArrived();
  // Bytes in the queue; false with errno when the terminal cannot tell.
  bool Count(std::uint32_t& count);
  // Drops the held bytes (a purge then empties the terminal's own queue).
  void DropHeld();

 private:
  ssize_t ReadTerminal(std::uint8_t* buffer, std::size_t count);  // under FLock

  int FFd;
  std::mutex FLock;
  std::vector<std::uint8_t> FHeld;
  char FFlag = 0;
  bool FFlagSeen = false;
  bool FArrived = false;
  std::function<void()> FOnArrival;
};

}  // namespace platform
