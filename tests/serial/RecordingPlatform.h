#pragma once
// A scripted OS door for port tests: one line whose state outlives opens, a record of every
// call, and failures injected per call name.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "serial/platform/Platform.h"

namespace fake {

struct Line {
  platform::TDeviceControlBlock Dcb;
  platform::TCommTimeouts Timeouts;
  std::int32_t InputSize = 0, OutputSize = 0;
  std::string Input;     // bytes waiting to be read
  std::string Written;   // bytes the port wrote
  std::uint32_t Errors = 0;
  std::uint32_t Modem = 0;
  std::uint32_t Mask = 0;
  bool PendingReads = false;   // reads and writes stay outstanding until completed
  bool PendingWrites = false;
  std::uint32_t ShortBy = 0;   // immediate reads move this many bytes fewer than asked
};

class Event : public platform::IEvent {
 public:
  void Set() override { FSet = true; }
  bool Reset() override { FSet = false; return true; }
  bool IsSet() override { return FSet; }

 private:
  bool FSet = true;
};

class Platform;

class Device : public platform::IDevice {
 public:
  explicit Device(Platform& os) : FOs(os) {}
  ~Device() override;
  bool GetCommState(platform::TDeviceControlBlock& dcb) override;
  bool SetCommState(const platform::TDeviceControlBlock& dcb) override;
  bool SetupComm(std::int32_t in, std::int32_t out) override;
  bool GetCommTimeouts(platform::TCommTimeouts& t) override;
  bool SetCommTimeouts(const platform::TCommTimeouts& t) override;
  bool PurgeComm(std::uint32_t flags) override;
  bool SetCommMask(std::uint32_t mask) override;
  // Blocks until the mask changes; runs on the event thread, so it touches only FMaskLock state.
  bool WaitCommEvent(std::uint32_t& events) override {
    std::unique_lock lock(FMaskLock);
    const unsigned seen = FMaskChanges;
    // Bounded, so a stop that slipped in before the wait began cannot hang a test.
    FMaskChanged.wait_for(lock, std::chrono::milliseconds(100),
                          [&] { return FMaskChanges != seen; });
    events = 0;
    return true;
  }
  bool StartRead(void* buffer, std::uint32_t count, platform::IEvent& done) override;
  bool StartWrite(const void* buffer, std::uint32_t count, platform::IEvent& done) override;
  bool GetResult(platform::TDirection direction, std::uint32_t& moved) override;
  bool ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) override;
  bool GetCommModemStatus(std::uint32_t& status) override;

  // Ends the outstanding read with the waiting bytes (up to the count asked).
  void CompleteRead();
  void CompleteWrite();

 private:
  bool Call(const std::string& name);
  Platform& FOs;
  std::mutex FMaskLock;
  std::condition_variable FMaskChanged;
  unsigned FMaskChanges = 0;
  void* FReadBuffer = nullptr;
  std::uint32_t FReadAsked = 0, FReadMoved = 0, FWriteMoved = 0;
  platform::IEvent* FReadDone = nullptr;
  platform::IEvent* FWriteDone = nullptr;
  std::string FPendingWrite;
};

class Platform : public platform::IPlatform {
 public:
  Platform() { FPrevious = platform::Install(this); }
  ~Platform() override { platform::Install(FPrevious); }

  std::unique_ptr<platform::IDevice> Open(const std::string& name) override {
    Calls.push_back("Open " + name);
    if (name != DeviceName || Fails("Open")) {
      if (!Fails("Open")) FLastError = 2;
      return nullptr;
    }
    auto d = std::make_unique<Device>(*this);
    Current = d.get();
    return d;
  }
  std::unique_ptr<platform::IEvent> CreateEvent() override {
    Calls.push_back("CreateEvent");
    if (Fails("CreateEvent")) return nullptr;
    return std::make_unique<Event>();
  }
  std::int32_t GetPriorityClass() override { return Priority; }
  void SetPriorityClass(std::int32_t p) override {
    Calls.push_back("SetPriorityClass " + std::to_string(p));
    Priority = p;
  }
  std::int32_t GetLastError() override { return FLastError; }
  void SetLastError(std::int32_t code) override { FLastError = code; }
  std::string ErrorText(std::int32_t code) override {
    return "System text " + std::to_string(code) + ". \r\n";
  }
  bool IsDeviceGone(std::int32_t code) override { return code == 5; }

  // A failure of the named call with the given last error (0 is a failure without a code).
  void Fail(const std::string& call, std::int32_t code) { FFailures[call] = code; }
  void Heal(const std::string& call) { FFailures.erase(call); }
  bool Fails(const std::string& call) {
    auto it = FFailures.find(call);
    if (it == FFailures.end()) return false;
    FLastError = it->second;
    return true;
  }
  std::size_t Count(const std::string& call) const {
    std::size_t n = 0;
    for (const auto& c : Calls) n += c == call;
    return n;
  }

  Line L;
  std::string DeviceName = "ttyFAKE";
  std::vector<std::string> Calls;
  std::int32_t Priority = platform::NormalPriorityClass;
  Device* Current = nullptr;  // the open device, null once closed

 private:
  platform::IPlatform* FPrevious;
  std::int32_t FLastError = 0;
  std::map<std::string, std::int32_t> FFailures;
};

inline Device::~Device() {
  FOs.Calls.push_back("CloseDevice");
  if (FOs.Current == this) FOs.Current = nullptr;
}
inline bool Device::Call(const std::string& name) {
  FOs.Calls.push_back(name);
  return !FOs.Fails(name);
}
inline bool Device::GetCommState(platform::TDeviceControlBlock& dcb) {
  if (!Call("GetCommState")) return false;
  dcb = FOs.L.Dcb;
  return true;
}
inline bool Device::SetCommState(const platform::TDeviceControlBlock& dcb) {
  if (!Call("SetCommState")) return false;
  FOs.L.Dcb = dcb;
  return true;
}
inline bool Device::SetupComm(std::int32_t in, std::int32_t out) {
  if (!Call("SetupComm")) return false;
  FOs.L.InputSize = in;
  FOs.L.OutputSize = out;
  return true;
}
inline bool Device::GetCommTimeouts(platform::TCommTimeouts& t) {
  if (!Call("GetCommTimeouts")) return false;
  t = FOs.L.Timeouts;
  return true;
}
inline bool Device::SetCommTimeouts(const platform::TCommTimeouts& t) {
  if (!Call("SetCommTimeouts")) return false;
  FOs.L.Timeouts = t;
  return true;
}
inline bool Device::PurgeComm(std::uint32_t flags) {
  if (!Call("PurgeComm " + std::to_string(flags))) return false;
  if (flags & platform::PurgeRxClear) FOs.L.Input.clear();
  return true;
}
inline bool Device::SetCommMask(std::uint32_t mask) {
  if (!Call("SetCommMask " + std::to_string(mask))) return false;
  FOs.L.Mask = mask;
  {
    std::lock_guard lock(FMaskLock);
    ++FMaskChanges;
  }
  FMaskChanged.notify_all();
  return true;
}
inline bool Device::StartRead(void* buffer, std::uint32_t count, platform::IEvent& done) {
  if (!Call("StartRead " + std::to_string(count))) return false;
  FReadBuffer = buffer;
  FReadAsked = count > FOs.L.ShortBy ? count - FOs.L.ShortBy : 0;
  FReadDone = &done;
  if (FOs.L.PendingReads) {
    FOs.SetLastError(platform::ErrorIoPending);
    return false;
  }
  CompleteRead();
  return true;
}
inline void Device::CompleteRead() {
  FReadMoved = std::min<std::uint32_t>(FReadAsked, FOs.L.Input.size());
  std::memcpy(FReadBuffer, FOs.L.Input.data(), FReadMoved);
  FOs.L.Input.erase(0, FReadMoved);
  FReadDone->Set();
}
inline bool Device::StartWrite(const void* buffer, std::uint32_t count, platform::IEvent& done) {
  if (!Call("StartWrite " + std::to_string(count))) return false;
  FPendingWrite.assign(static_cast<const char*>(buffer), count);
  FWriteDone = &done;
  if (FOs.L.PendingWrites) {
    FOs.SetLastError(platform::ErrorIoPending);
    return false;
  }
  CompleteWrite();
  return true;
}
inline void Device::CompleteWrite() {
  FOs.L.Written += FPendingWrite;
  FWriteMoved = FPendingWrite.size();
  FPendingWrite.clear();
  FWriteDone->Set();
}
inline bool Device::GetResult(platform::TDirection direction, std::uint32_t& moved) {
  const bool read = direction == platform::TDirection::Read;
  if (!Call(read ? "GetResultRead" : "GetResultWrite")) return false;
  if (read && FReadDone && !FReadDone->IsSet()) CompleteRead();
  if (!read && FWriteDone && !FWriteDone->IsSet()) CompleteWrite();
  moved = read ? FReadMoved : FWriteMoved;
  return true;
}
inline bool Device::ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) {
  if (!Call("ClearCommError")) return false;
  errors = FOs.L.Errors;
  FOs.L.Errors = 0;
  if (inQueue) *inQueue = FOs.L.Input.size();
  return true;
}
inline bool Device::GetCommModemStatus(std::uint32_t& status) {
  if (!Call("GetCommModemStatus")) return false;
  status = FOs.L.Modem;
  return true;
}

}  // namespace fake
