#pragma once
// The device end of a virtual line.
#include <memory>

#include "serial/platform/Platform.h"
#include "serial/platform/VirtualLine.h"

namespace platform {

class TVirtualDevice : public IDevice {
 public:
  // Null with errno (EBUSY when already open, or an injected "Open" failure).
  static std::unique_ptr<TVirtualDevice> Open(std::shared_ptr<TVirtualLine> line);
  ~TVirtualDevice() override;

  bool GetCommState(TDeviceControlBlock& dcb) override;
  bool SetCommState(const TDeviceControlBlock& dcb) override;
  bool SetupComm(std::int32_t inputSize, std::int32_t outputSize) override;
  bool GetCommTimeouts(TCommTimeouts& timeouts) override;
  bool SetCommTimeouts(const TCommTimeouts& timeouts) override;
  bool PurgeComm(std::uint32_t flags) override;
  bool SetCommMask(std::uint32_t mask) override;
  bool WaitCommEvent(std::uint32_t& events) override;
  // A read stays pending until its bytes have been sent or, with total timeouts set, until
  // GetResult reaches the deadline; interval timeouts are not modelled.
  bool StartRead(void* buffer, std::uint32_t count, IEvent& done) override;
  bool StartWrite(const void* buffer, std::uint32_t count, IEvent& done) override;
  bool GetResult(TDirection direction, std::uint32_t& moved) override;
  bool ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) override;
  bool GetCommModemStatus(std::uint32_t& status) override;

 private:
  explicit TVirtualDevice(std::shared_ptr<TVirtualLine> line) : FLine(std::move(line)) {}
  std::shared_ptr<TVirtualLine> FLine;
};

}  // namespace platform
