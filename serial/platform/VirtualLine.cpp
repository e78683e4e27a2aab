#include "serial/platform/VirtualLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

TVirtualLine::TVirtualLine(std::string name) : FName(std::move(name)) {
  // A device as it might be found: 9600 8N1, DTR and RTS raised.
  FDeviceDcb.BaudRate = 9600;
  FDeviceDcb.Flags = fBinary | (DtrControlEnable << 4) | (RtsControlEnable << 12);
}

bool TVirtualLine::IsOpen() const {
  std::lock_guard lock(FLock);
  return FOpen;
}

void TVirtualLine::Record(const char* call) { FCalls.emplace_back(call); }

bool TVirtualLine::Injected(const char* call) {
  auto it = FFailNext.find(call);
  if (it == FFailNext.end()) return false;
  errno = it->second;
  FFailNext.erase(it);
  return true;
}

void TVirtualLine::Raise(std::uint32_t events) {
  if (FGone) return;
  // Events outside the mask are not kept, as a driver does not watch for them.
  FEvents |= events & FMask;
  FChanged.notify_all();
}

void TVirtualLine::Complete(TPending& pending, std::int32_t error) {
  pending.Running = false;
  pending.Error = error;
  if (pending.Done) pending.Done->Set();
  pending.Done = nullptr;
  FChanged.notify_all();
}

void TVirtualLine::FillRead() {
  if (!FRead.Running) return;
  const std::size_t n = std::min<std::size_t>(FInput.size(), FRead.Count - FRead.Moved);
  std::memcpy(FRead.Buffer + FRead.Moved, FInput.data(), n);
  FInput.erase(0, n);
  FRead.Moved += static_cast<std::uint32_t>(n);
  if (FRead.Moved == FRead.Count) Complete(FRead, 0);
}

void TVirtualLine::CompleteWrite() {
  FOutput += FWrite.Bytes;
  FWrite.Moved = FWrite.Count;
  FWrite.Bytes.clear();
  Complete(FWrite, 0);
  Raise(EvTxEmpty);
}

void TVirtualLine::Send(const ByteString& bytes) {
  std::lock_guard lock(FLock);
  if (bytes.empty() || FGone) return;
  FInput += bytes;
  std::uint32_t events = EvRxChar;
  if (bytes.find(FDeviceDcb.EvtChar) != ByteString::npos) events |= EvRxFlag;
  // 80 % of the input queue's size as last given to SetupComm.
  if (FLastSizes && FLastSizes->first > 0 &&
      FInput.size() * 5 >= static_cast<std::size_t>(FLastSizes->first) * 4)
    events |= EvRx80Full;
  FillRead();
  Raise(events);
}

ByteString TVirtualLine::TakeWritten() {
  std::lock_guard lock(FLock);
  return std::exchange(FOutput, {});
}

void TVirtualLine::HoldWrites(bool hold) {
  std::lock_guard lock(FLock);
  FHoldWrites = hold;
  if (!hold && FWrite.Running) CompleteWrite();
}

void TVirtualLine::SetModemLines(std::uint32_t status) {
  std::lock_guard lock(FLock);
  const std::uint32_t changed = FModem ^ status;
  FModem = status;
  std::uint32_t events = 0;
  if (changed & MsCtsOn) events |= EvCts;
  if (changed & MsDsrOn) events |= EvDsr;
  if (changed & MsRlsdOn) events |= EvRlsd;
  if (changed & MsRingOn) events |= EvRing;
  Raise(events);
}

void TVirtualLine::InjectLineErrors(std::uint32_t errors) {
  std::lock_guard lock(FLock);
  FErrors |= errors;
  Raise(EvErr | ((errors & CeBreak) ? EvBreak : 0));
}

void TVirtualLine::Vanish() {
  std::lock_guard lock(FLock);
  FGone = true;
  FEvents = 0;
  if (FRead.Running) Complete(FRead, EIO);
  if (FWrite.Running) Complete(FWrite, EIO);
}

void TVirtualLine::RaiseEvents(std::uint32_t events) {
  std::lock_guard lock(FLock);
  Raise(events);
}

void TVirtualLine::SetDeviceState(const TDeviceControlBlock& dcb) {
  std::lock_guard lock(FLock);
  FDeviceDcb = dcb;
}

TDeviceControlBlock TVirtualLine::DeviceState() const {
  std::lock_guard lock(FLock);
  return FDeviceDcb;
}

void TVirtualLine::RefuseCommState(TRefusal refuse, std::int32_t code) {
  std::lock_guard lock(FLock);
  FRefusal = std::move(refuse);
  FRefusalCode = code;
}

void TVirtualLine::FailNext(const std::string& call, std::int32_t code) {
  std::lock_guard lock(FLock);
  FFailNext[call] = code;
}

std::vector<std::string> TVirtualLine::Calls() const {
  std::lock_guard lock(FLock);
  return FCalls;
}

void TVirtualLine::ClearCalls() {
  std::lock_guard lock(FLock);
  FCalls.clear();
}

std::optional<TDeviceControlBlock> TVirtualLine::LastCommState() const {
  std::lock_guard lock(FLock);
  return FLastDcb;
}

std::optional<TCommTimeouts> TVirtualLine::LastTimeouts() const {
  std::lock_guard lock(FLock);
  return FLastTimeouts;
}

std::optional<std::pair<std::int32_t, std::int32_t>> TVirtualLine::LastBufferSizes() const {
  std::lock_guard lock(FLock);
  return FLastSizes;
}

std::uint32_t TVirtualLine::LastMask() const {
  std::lock_guard lock(FLock);
  return FMask;
}

std::vector<std::uint32_t> TVirtualLine::Purges() const {
  std::lock_guard lock(FLock);
  return FPurges;
}

bool TVirtualLine::WaitUntilWaiting(int timeoutMs) const {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return FWaiting > 0; });
}

}  // namespace platform
