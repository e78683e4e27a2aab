#pragma once
// An in-process serial line for tests: the device end is opened through TVirtualPlatform,
// the other end is held by the test, which scripts what a real device would do and sees
// every call the device end was given.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serial/platform/Platform.h"
#include "toolkit/ByteString.h"

namespace platform {

class TVirtualDevice;

class TVirtualLine {
 public:
  using TRefusal = std::function<bool(const TDeviceControlBlock&)>;

  explicit TVirtualLine(std::string name);
  const std::string& Name() const { return FName; }
  bool IsOpen() const;

  // Bytes the device receives; raises EV_RXCHAR (EV_RXFLAG on the event character,
  // EV_RX80FULL once 80 % of the input size given to SetupComm is queued).
  void Send(const ByteString& bytes);
  // What the device wrote so far, taken.
  ByteString TakeWritten();
  // While held, writes stay pending until released; release completes them.
  void HoldWrites(bool hold);
  // MS_* bits; each changed line raises its event (CTS, DSR, RLSD, RING).
  void SetModemLines(std::uint32_t status);
  // CE_* bits accumulate until ClearCommError; raises EV_ERR (EV_BREAK for a break).
  void InjectLineErrors(std::uint32_t errors);
  // Any EV_* bits, as if the device had seen them.
  void RaiseEvents(std::uint32_t events);
  // The device is unplugged: pending transfers, later transfers and the queue count fail
  // with EIO, waits report nothing more until the mask changes; purging and closing work.
  void Vanish();

  // The control block the device holds, as GetCommState reads it.
  void SetDeviceState(const TDeviceControlBlock& dcb);
  TDeviceControlBlock DeviceState() const;
  // SetCommState fails with code while refuse(block) is true; an empty function accepts all.
  void RefuseCommState(TRefusal refuse, std::int32_t code);
  // The next call of that name ("Open", "SetCommState", "StartRead", ...) fails with code.
  void FailNext(const std::string& call, std::int32_t code);

  // Every call the device end was given, by name, oldest first; "Open" and "Close" included.
  std::vector<std::string> Calls() const;
  void ClearCalls();
  std::optional<TDeviceControlBlock> LastCommState() const;  // last block written
  std::optional<TCommTimeouts> LastTimeouts() const;
  std::optional<std::pair<std::int32_t, std::int32_t>> LastBufferSizes() const;
  std::uint32_t LastMask() const;
  std::vector<std::uint32_t> Purges() const;  // flags of each PurgeComm
  // True once a WaitCommEvent is blocked, waiting at most timeoutMs.
  bool WaitUntilWaiting(int timeoutMs) const;

 private:
  friend class TVirtualDevice;
  struct TPending {
    bool Running = false;
    std::uint8_t* Buffer = nullptr;  // read
    ByteString Bytes;                // write: our copy
    std::uint32_t Count = 0;
    std::uint32_t Moved = 0;
    std::int32_t Error = 0;
    IEvent* Done = nullptr;
    std::optional<std::chrono::steady_clock::time_point> Deadline;
  };

  // Under FLock.
  void Record(const char* call);
  bool Injected(const char* call);  // sets errno when the call must fail
  void Raise(std::uint32_t events);
  void FillRead();
  void Complete(TPending& pending, std::int32_t error);
  void CompleteWrite();

  std::string FName;
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  bool FOpen = false;
  bool FGone = false;
  ByteString FInput, FOutput;
  bool FHoldWrites = false;
  std::uint32_t FModem = 0, FErrors = 0, FEvents = 0, FMask = 0;
  std::uint64_t FMaskGeneration = 0;
  int FWaiting = 0;
  TDeviceControlBlock FDeviceDcb;
  TCommTimeouts FTimeouts;
  TRefusal FRefusal;
  std::int32_t FRefusalCode = 0;
  std::map<std::string, std::int32_t> FFailNext;
  std::vector<std::string> FCalls;
  std::optional<TDeviceControlBlock> FLastDcb;
  std::optional<TCommTimeouts> FLastTimeouts;
  std::optional<std::pair<std::int32_t, std::int32_t>> FLastSizes;
  std::vector<std::uint32_t> FPurges;
  TPending FRead, FWrite;
};

}  // namespace platform
