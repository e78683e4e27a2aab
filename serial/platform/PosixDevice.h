#pragma once
// An open terminal device: termios line settings, asynchronous transfers per direction and
// the line-event wait.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "serial/platform/Platform.h"
#include "serial/platform/PosixLineCounts.h"
#include "serial/platform/PosixTransfer.h"
#include "serial/platform/UniqueFd.h"

namespace platform {

class TPosixDevice : public IDevice {
 public:
  // Opens exclusively; null with errno set on failure.
  static std::unique_ptr<TPosixDevice> Open(const std::string& path);
  ~TPosixDevice() override;

  bool GetCommState(TDeviceControlBlock& dcb) override;
  bool SetCommState(const TDeviceControlBlock& dcb) override;
  bool SetupComm(std::int32_t inputSize, std::int32_t outputSize) override;
  bool GetCommTimeouts(TCommTimeouts& timeouts) override;
  bool SetCommTimeouts(const TCommTimeouts& timeouts) override;
  bool PurgeComm(std::uint32_t flags) override;
  bool SetCommMask(std::uint32_t mask) override;
  bool WaitCommEvent(std::uint32_t& events) override;
  bool StartRead(void* buffer, std::uint32_t count, IEvent& done) override;
  bool StartWrite(const void* buffer, std::uint32_t count, IEvent& done) override;
  bool GetResult(TDirection direction, std::uint32_t& moved) override;
  bool ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) override;
  bool GetCommModemStatus(std::uint32_t& status) override;

 private:
  explicit TPosixDevice(TUniqueFd fd);
  bool Fail(int error);  // sets errno, returns false
  void Wake();
  std::uint32_t LineErrors();  // accumulated since the last call, where the driver counts
  std::uint32_t PendingEvents(std::uint32_t mask, int& pollTimeout);

  TUniqueFd FFd;
  TUniqueFd FMaskWake;
  std::atomic<bool> FGone{false};
  std::atomic<bool> FWatchTxEmpty{false};  // the mask holds EV_TXEMPTY
  std::unique_ptr<TPosixTransfer> FReader;
  std::unique_ptr<TPosixTransfer> FWriter;

  std::mutex FLock;  // guards the fields below
  TDeviceControlBlock FDcb;  // the last block set: termios cannot hold all of it
  TCommTimeouts FTimeouts;
  std::uint32_t FMask = 0;
  std::uint64_t FMaskGeneration = 0;
  bool FTxPending = false;  // bytes written since the last EV_TXEMPTY
  bool FCountsLines = false;  // the driver counts line changes and errors
  TLineCounts FErrorCounts;   // as of the last ClearCommError
  TLineCounts FEventCounts;   // as of the last reported wait
};

}  // namespace platform
