#pragma once
// The device's input as one queue: bytes the line-event wait has already taken from the
// terminal (for OnRxChar, and to look for the flag character), followed by what the terminal
// still holds.
// Every read goes through here, so the order of the bytes is kept. Bytes are filtered as the
// control block says (TInputFilter) as they leave the terminal.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/PosixInputFilter.h"

namespace platform {

class TPosixInput {
 public:
  explicit TPosixInput(int fd) : FFd(fd) {}

  // The flag character (EV_RXFLAG) looked for among the bytes taken from the terminal.
  void SetFlag(char flag);
  void SetFilter(const TInputFilter::TSettings& settings);
  // Called when a read took bytes straight from the terminal that the line-event wait may not
  // have seen arrive: a read that had been waiting for them, or one that took the flag.
  void OnArrival(std::function<void()> arrival) { FOnArrival = std::move(arrival); }
  // As read(2), held bytes first. waited: the read had been waiting for these bytes.
  ssize_t Read(void* buffer, std::size_t count, bool waited);
  // Held bytes are the owner's unread input; past this the terminal keeps the rest itself.
  static constexpr std::size_t HeldLimit = 1 << 20;
  // Moves what the terminal holds now into the queue, until it holds limit bytes. False with
  // errno when reading failed. Taken until the terminal had no more, the queue is complete:
  // every later arrival is an edge the line-event wait has still to report.
  bool Take(std::size_t& moved, std::size_t limit = HeldLimit);
  // The wait saw an arrival and did not take it: the terminal may hold bytes that no pending
  // edge reports, so counts must ask the terminal again.
  void ArrivalNotTaken();
  // Whether the flag came from the terminal (into the queue or straight to a read) since the
  // last call.
  bool TakeFlagSeen();
  // Whether a waiting read took new bytes since the last call.
  bool TakeArrived();
  // Bytes taken and not yet read.
  std::size_t Held();
  // Bytes in the queue; false with errno when the terminal cannot tell.
  bool Count(std::uint32_t& count);
  // The bytes reads will deliver. While the filter is on, only bytes taken can be counted, so
  // what the terminal holds is taken first (moved). A complete, non-empty queue is counted
  // without asking the terminal: bytes that came since are reported as a new arrival.
  bool Deliverable(std::uint32_t& count, std::size_t& moved);
  // Drops the held bytes (a purge then empties the terminal's own queue).
  void DropHeld();

 private:
  // Under FLock: read(2), delivering filtered bytes; any beyond count wait in FExcess until
  // KeepExcess holds them after the bytes given.
  ssize_t ReadTerminal(std::uint8_t* buffer, std::size_t count);
  void KeepExcess();
  bool CountLocked(std::uint32_t& count);

  int FFd;
  std::mutex FLock;
  std::vector<std::uint8_t> FHeld;
  bool FComplete = false;  // see Take
  std::string FExcess;
  TInputFilter FFilter;
  char FFlag = 0;
  bool FFlagSeen = false;
  bool FArrived = false;
  std::function<void()> FOnArrival;
};

}  // namespace platform
