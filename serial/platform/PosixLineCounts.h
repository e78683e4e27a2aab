#pragma once
// The driver's running counts of modem-line changes and line errors (real UARTs keep them,
// ptys do not), and what changed between two readings.
#include <cstdint>

namespace platform {

struct TLineCounts {
  int Cts = 0, Dsr = 0, Ring = 0, Rlsd = 0;
  int Frame = 0, Overrun = 0, Parity = 0, Break = 0, BufOverrun = 0;
};

// False where the driver keeps no counts.
bool ReadLineCounts(int fd, TLineCounts& counts);
// CE_* bits of the errors counted in between.
std::uint32_t LineErrorsBetween(const TLineCounts& before, const TLineCounts& after);
// EV_* bits of the line changes and errors counted in between.
std::uint32_t LineEventsBetween(const TLineCounts& before, const TLineCounts& after);

}  // namespace platform
