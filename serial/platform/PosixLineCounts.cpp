#include "serial/platform/PosixLineCounts.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include "serial/platform/Platform.h"

namespace platform {

bool ReadLineCounts(int fd, TLineCounts& counts) {
  serial_icounter_struct c{};
  if (::ioctl(fd, TIOCGICOUNT, &c) != 0) return false;
  counts = {c.cts, c.dsr, c.rng, c.dcd, c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};
  return true;
}

std::uint32_t LineErrorsBetween(const TLineCounts& before, const TLineCounts& after) {
  std::uint32_t errors = 0;
  if (after.Frame != before.Frame) errors |= CeFrame;
  if (after.Overrun != before.Overrun) errors |= CeOverrun;
  if (after.Parity != before.Parity) errors |= CeRxParity;
  if (after.Break != before.Break) errors |= CeBreak;
  if (after.BufOverrun != before.BufOverrun) errors |= CeRxOver;
  return errors;
}

std::uint32_t LineEventsBetween(const TLineCounts& before, const TLineCounts& after) {
  std::uint32_t events = 0;
  if (after.Cts != before.Cts) events |= EvCts;
  if (after.Dsr != before.Dsr) events |= EvDsr;
  if (after.Ring != before.Ring) events |= EvRing;
  if (after.Rlsd != before.Rlsd) events |= EvRlsd;
  if (after.Break != before.Break) events |= EvBreak;
  if (LineErrorsBetween(before, after) & ~CeBreak) events |= EvErr;
  return events;
}

}  // namespace platform
