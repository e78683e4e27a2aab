#pragma once
// An in-process line for event-thread tests: a thread-safe device whose wait blocks on a
// condition variable like a real driver's, with events raised by the test, and an OS door
// that opens it.
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/Platform.h"

namespace eventline {

class TLine {
 public:
  // Adds line events; they stay pending until a wait with a matching mask collects them.
  void Raise(std::uint32_t events, std::uint32_t errors = 0) {
    {
      std::lock_guard lock(FLock);
      FPending |= events;
      FErrors |= errors;
    }
    FChanged.notify_all();
  }
  // The device goes away: waits fail and block until the mask changes.
  void Vanish() {
    {
      std::lock_guard lock(FLock);
      FVanished = true;
    }
    FChanged.notify_all();
  }
  void FailSetCommMask(bool fail) {
    std::lock_guard lock(FLock);
    FFailSetMask = fail;
  }

  std::uint32_t Mask() {
    std::lock_guard lock(FLock);
    return FMask;
  }
  std::vector<std::uint32_t> MaskHistory() {
    std::lock_guard lock(FLock);
    return FMaskHistory;
  }
  int WaitsStarted() {
    std::lock_guard lock(FLock);
    return FWaitsStarted;
  }
  bool Waiting() {
    std::lock_guard lock(FLock);
    return FWaiting;
  }
  // Blocks until a wait is in progress (at most a few seconds); false when none started.
  bool WaitUntilWaiting() {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, std::chrono::seconds(5), [this] { return FWaiting; });
  }

  // --- device side ---
  bool SetCommMask(std::uint32_t mask) {
    {
      std::lock_guard lock(FLock);
      if (FFailSetMask) return false;
      FMask = mask;
      FMaskHistory.push_back(mask);
      ++FMaskChanges;
    }
    FChanged.notify_all();
    return true;
  }
  bool WaitCommEvent(std::uint32_t& events) {
    std::unique_lock lock(FLock);
    events = 0;
    if (FMask == 0) return false;  // as the Win32 call: nothing to wait for
    ++FWaitsStarted;
    FWaiting = true;
    FChanged.notify_all();
    const long epoch = FMaskChanges;
    FChanged.wait(lock, [&] {
      return FMaskChanges != epoch || (!FVanished && (FPending & FMask) != 0);
    });
    FWaiting = false;
    if (FMaskChanges != epoch) {
      if (!FVanished) return true;
      events = FPending & FMask;  // a failed wait's output is not to be trusted
      return false;
    }
    events = FPending & FMask;
    FPending &= ~events;
    return true;
  }
  std::uint32_t TakeErrors() {
    std::lock_guard lock(FLock);
    const std::uint32_t errors = FErrors;
    FErrors = 0;
    return errors;
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::uint32_t FMask = 0;
  std::uint32_t FPending = 0;
  std::uint32_t FErrors = 0;
  long FMaskChanges = 0;
  int FWaitsStarted = 0;
  bool FWaiting = false;
  bool FVanished = false;
  bool FFailSetMask = false;
  std::vector<std::uint32_t> FMaskHistory;
};

class TDevice : public platform::IDevice {
 public:
  explicit TDevice(TLine& line) : FLine(line) {}
  bool GetCommState(platform::TDeviceControlBlock& dcb) override { return (void)dcb, true; }
  bool SetCommState(const platform::TDeviceControlBlock&) override { return true; }
  bool SetupComm(std::int32_t, std::int32_t) override { return true; }
  bool GetCommTimeouts(platform::TCommTimeouts&) override { return true; }
  bool SetCommTimeouts(const platform::TCommTimeouts&) override { return true; }
  bool PurgeComm(std::uint32_t) override { return true; }
  bool SetCommMask(std::uint32_t mask) override {
    if (FLine.SetCommMask(mask)) return true;
    platform::Current().SetLastError(31);  // a general failure of the device
    return false;
  }
  bool WaitCommEvent(std::uint32_t& events) override { return FLine.WaitCommEvent(events); }
  bool StartRead(void*, std::uint32_t, platform::IEvent& done) override {
    done.Set();
    return true;
  }
  bool StartWrite(const void*, std::uint32_t, platform::IEvent& done) override {
    done.Set();
    return true;
  }
  bool GetResult(platform::TDirection, std::uint32_t& moved) override {
    moved = 0;
    return true;
  }
  bool ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) override {
    errors = FLine.TakeErrors();
    if (inQueue) *inQueue = 0;
    return true;
  }
  bool GetCommModemStatus(std::uint32_t& status) override {
    status = 0;
    return true;
  }

 private:
  TLine& FLine;
};

class TEvent : public platform::IEvent {
 public:
  void Set() override { FSet = true; }
  bool Reset() override { return !(FSet = false); }
  bool IsSet() override { return FSet; }

 private:
  bool FSet = true;
};

// Opens the one line under any name; installed for the life of the object.
class TPlatform : public platform::IPlatform {
 public:
  explicit TPlatform(TLine& line) : FLine(line), FPrevious(platform::Install(this)) {}
  ~TPlatform() override { platform::Install(FPrevious); }
  std::unique_ptr<platform::IDevice> Open(const std::string&) override {
    return std::make_unique<TDevice>(FLine);
  }
  std::unique_ptr<platform::IEvent> CreateEvent() override { return std::make_unique<TEvent>(); }
  std::int32_t GetPriorityClass() override { return platform::NormalPriorityClass; }
  void SetPriorityClass(std::int32_t) override {}
  std::int32_t GetLastError() override { return FLastError; }
  void SetLastError(std::int32_t code) override { FLastError = code; }
  std::string ErrorText(std::int32_t code) override { return "Error " + std::to_string(code); }
  bool IsDeviceGone(std::int32_t code) override { return code == EIO; }

 private:
  TLine& FLine;
  platform::IPlatform* FPrevious;
  // The port's error path runs on both threads in these tests.
  static thread_local std::int32_t FLastError;
};
inline thread_local std::int32_t TPlatform::FLastError = 0;

}  // namespace eventline
