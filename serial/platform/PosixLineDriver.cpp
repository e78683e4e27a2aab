#include "serial/platform/PosixLineDriver.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <mutex>

namespace platform {
namespace {

// A real-time signal nobody else uses here; installed without SA_RESTART so that a blocking
// ioctl returns EINTR.
int InterruptSignal() {
  static const int signal = [] {
    const int number = SIGRTMIN + 6;
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(number, &action, nullptr);
    return number;
  }();
  return signal;
}

class TTerminalDriver : public ILineDriver {
 public:
  explicit TTerminalDriver(int fd) : FFd(fd) { InterruptSignal(); }
  bool Counts(TLineCounts& counts) override { return ReadLineCounts(FFd, counts); }
  bool WaitModemChange() override {
    return ::ioctl(FFd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD) == 0;
  }
  bool Drain() override { return ::tcdrain(FFd) == 0; }
  void Interrupt(pthread_t thread) override { ::pthread_kill(thread, InterruptSignal()); }

 private:
  int FFd;
};

}  // namespace

std::unique_ptr<ILineDriver> MakeTerminalDriver(int fd) {
  return std::make_unique<TTerminalDriver>(fd);
}

}  // namespace platform
