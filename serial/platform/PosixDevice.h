#pragma once
// An open terminal device: termios line settings, asynchronous transfers per direction and
// the line-event wait (the wait itself is in PosixDeviceEvents.cpp).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "serial/platform/Platform.h"
#include "serial/platform/PosixInput.h"
#include "serial/platform/PosixLineCounts.h"
#include "serial/platform/PosixLineDriver.h"
#include "serial/platform/PosixTransfer.h"
#include "serial/platform/PosixWatcher.h"
#include "serial/platform/UniqueFd.h"

namespace platform {

class TPosixDevice : public IDevice {
 public:
  // Opens exclusively (a second opener, in this process or another, gets EBUSY until this
  // device is destroyed or its process ends); null with errno set on failure.
  static std::unique_ptr<TPosixDevice> Open(const std::string& path);
  // The same with the driver's modem-line, counter and drain calls made through driver
  // (null: the terminal's own).
  static std::unique_ptr<TPosixDevice> Open(const std::string& path,
                                            std::unique_ptr<ILineDriver> driver);
  ~TPosixDevice() override;

  bool GetCommState(TDeviceControlBlock& dcb) override;
  bool SetCommState(const TDeviceControlBlock& dcb) override;
  bool SetupComm(std::int32_t inputSize, std::int32_t outputSize) override;
  bool GetCommTimeouts(TCommTimeouts& timeouts) override;
  bool SetCommTimeouts(const TCommTimeouts& timeouts) override;
  bool PurgeComm(std::uint32_t flags) override;
  bool SetCommMask(std::uint32_t mask) override;
  bool WaitCommEvent(std::uint32_t& events) override;
  void TakeArrivingBytes() override;
  bool StartRead(void* buffer, std::uint32_t count, IEvent& done) override;
  bool StartWrite(const void* buffer, std::uint32_t count, IEvent& done) override;
  bool GetResult(TDirection direction, std::uint32_t& moved) override;
  bool ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) override;
  bool GetCommModemStatus(std::uint32_t& status) override;

  // How often the line-event wait came back from the system: one per real wake-up.
  std::uint64_t WaitWakeUps() const { return FWakeUps.load(); }

 private:
  explicit TPosixDevice(TUniqueFd fd, std::unique_ptr<ILineDriver> driver);
  bool Fail(int error);  // sets errno, returns false
  void Wake();
  std::uint32_t LineErrors();  // accumulated since the last call, where the driver counts

  // --- the line-event wait (PosixDeviceEvents.cpp) ---
  bool StartEventSources();
  // What the system reported in one look; -1 blocks until something happens.
  struct TActivity {
    bool Arrival = false;  // new bytes reached the input queue
    bool HungUp = false;
  };
  TActivity Look(int timeoutMs);
  // The events of mask that activity and the driver's counters show; under FLock.
  std::uint32_t Collect(std::uint32_t mask, const TActivity& activity);
  // What one take for the line-event wait may hold; under FLock.
  std::size_t TakeLimit(std::uint32_t mask) const;
  void WriteIssued();                       // a write started: the output is not drained
  void WriteFinished();                     // the writer has handed every byte to the driver
  void WatchUnwatchedDrain();               // EV_TXEMPTY joined the mask; under FLock
  void Drained(bool ok, std::uint64_t ticket);  // the drain watcher's report
  void ModemChanged(bool ok);

  TUniqueFd FFd;
  TUniqueFd FMaskWake;
  TUniqueFd FPoll;  // epoll: arrivals (edge-triggered) and hang-up of FFd, and FMaskWake
  std::atomic<bool> FGone{false};
  bool FPseudo = false;  // a pseudo-terminal: no modem lines, no driver below to send XOff
  std::atomic<std::uint64_t> FWakeUps{0};
  std::unique_ptr<ILineDriver> FDriver;
  TPosixInput FInput;
  std::unique_ptr<TPosixTransfer> FReader;
  std::unique_ptr<TPosixTransfer> FWriter;

  std::mutex FLock;  // guards the fields below
  TDeviceControlBlock FDcb;  // the last block set: termios cannot hold all of it
  TCommTimeouts FTimeouts;
  std::uint32_t FInputSize = 0;  // as given to SetupComm: the base of EV_RX80FULL
  std::uint32_t FMask = 0;
  std::uint64_t FMaskGeneration = 0;  // 0 until the first mask: the port is still opening
  std::uint32_t FPending = 0;  // events seen under the mask, not yet reported
  bool FTakenEarly = false;    // TakeArrivingBytes took bytes the wait has not seen
  std::size_t FLastTake = 0;   // bytes the wait's last take moved
  std::uint64_t FWrites = 0;   // writes issued; a drain counts only for the latest
  std::uint64_t FWritesHanded = 0;  // the latest write the writer has handed to the driver
  bool FTxPending = false;     // a write since the last EV_TXEMPTY
  bool FCountsLines = false;   // the driver counts line changes and errors
  TLineCounts FErrorCounts;    // as of the last ClearCommError
  TLineCounts FEventCounts;    // as of the last look at the counters

  // Helpers last: they call back into the fields above and end first.
  std::unique_ptr<TPosixWatcher> FDrainWatcher;
  std::unique_ptr<TPosixWatcher> FModemWatcher;
};

}  // namespace platform
