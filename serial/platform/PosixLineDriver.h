#pragma once
// The terminal driver's blocking and counting calls that ptys lack (modem-line waits, line
// counters, output drain), behind one small interface so their use can be tested without a
// UART.
#include <pthread.h>

#include <memory>

#include "serial/platform/PosixLineCounts.h"

namespace platform {

class ILineDriver {
 public:
  virtual ~ILineDriver() = default;
  // The running counts of line changes and errors; false where the driver keeps none.
  virtual bool Counts(TLineCounts& counts) = 0;
  // Blocks until CTS, DSR, RING or DCD changes. False with errno: EINTR when interrupted,
  // anything else when the driver cannot watch (then it is not called again).
  virtual bool WaitModemChange() = 0;
  // Blocks until every byte written has left the line. False with errno as above.
  virtual bool Drain() = 0;
  // Ends a blocking call of this driver that runs on that thread (or is about to start).
  virtual void Interrupt(pthread_t thread) = 0;
};

// The driver of an open terminal descriptor (TIOCGICOUNT, TIOCMIWAIT, tcdrain); interrupts by a
// signal whose handler does nothing.
std::unique_ptr<ILineDriver> MakeTerminalDriver(int fd);

}  // namespace platform
