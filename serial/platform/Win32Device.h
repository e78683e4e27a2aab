#pragma once
// An open serial device through kernel32: overlapped handle, one OVERLAPPED per direction and
// one for the line-event wait.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "serial/platform/Platform.h"
#include "serial/platform/Win32Handle.h"

namespace platform {

class TWin32Device : public IDevice {
 public:
  // The name goes to CreateFileA unchanged; null with the last error set on failure.
  static std::unique_ptr<IDevice> Open(const std::string& name);
  ~TWin32Device() override;

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
  TWin32Device(TWin32Handle device, TWin32Handle waitDone, TWin32Handle maskChanged);
  bool Start(OVERLAPPED& overlapped, bool read, void* buffer, std::uint32_t count, IEvent& done);
  // One system wait: false with error when it failed; events 0 when it ended without any.
  bool WaitOnce(std::uint32_t& events, DWORD& error);
  bool WaitForMaskChange(DWORD error);

  TWin32Handle FDevice;
  OVERLAPPED FReadOverlapped{};
  OVERLAPPED FWriteOverlapped{};
  std::vector<char> FWriteCopy;  // the bytes of the write in flight
  // The line-event wait: its own completion event, and one a mask change sets so that a wait
  // ends even where the system leaves it running.
  OVERLAPPED FWaitOverlapped{};
  DWORD FWaitEvents = 0;
  TWin32Handle FWaitDone;
  TWin32Handle FMaskChanged;
  std::atomic<std::uint32_t> FMask{0};
};

}  // namespace platform
