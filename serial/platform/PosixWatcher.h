#pragma once
// A helper thread that runs one blocking driver call (a modem-line wait, an output drain) and
// reports each return. A stop ends it even inside the call, by the driver's interrupt.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "serial/platform/PosixLineDriver.h"

namespace platform {

class TPosixWatcher {
 public:
  // call: the blocking call; returned(ok, ticket): after each return (not after a stop), with
  // the ticket of the Arm that started it. continuous: call again at once after each return;
  // otherwise only after the next Arm. A call that fails other than by an interrupt is not
  // repeated.
  TPosixWatcher(ILineDriver& driver, std::function<bool()> call,
                std::function<void(bool ok, std::uint64_t ticket)> returned, bool continuous);
  ~TPosixWatcher();  // stops
  TPosixWatcher(const TPosixWatcher&) = delete;
  TPosixWatcher& operator=(const TPosixWatcher&) = delete;

  bool Started() const { return FThread.joinable(); }
  void Arm(std::uint64_t ticket);
  void Stop();

 private:
  void Run();

  ILineDriver& FDriver;
  std::function<bool()> FCall;
  std::function<void(bool, std::uint64_t)> FReturned;
  bool FContinuous;
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FArmed = false;
  bool FStop = false;
  bool FEnded = false;
  std::uint64_t FTicket = 0;
  std::thread FThread;
};

}  // namespace platform
