// Reading, writing and the line status.
#include <array>
#include <utility>

#include "serial/ComPort.h"

void TCustomComPort::Read(void* buffer, std::int32_t count, bool waitOnCompletion) {
  CheckOpen();
  if (const auto handler = Handler(FBeforeRead); handler.Assigned())
    handler(this, buffer, count, waitOnCompletion);
  WaitForReadCompletion();
  FReadCount = static_cast<std::uint32_t>(count);
  if (count != 0) {
    platform::IDevice& device = Device();
    CheckResult(FReadEvent->Reset());
    CheckResult(device.StartRead(buffer, FReadCount, *FReadEvent));
    if (waitOnCompletion) WaitForReadCompletion();
  }
  if (const auto handler = Handler(FAfterRead); handler.Assigned())
    handler(this, buffer, count, waitOnCompletion);
}

void TCustomComPort::Write(const void* buffer, std::int32_t count, bool waitOnCompletion) {
  CheckOpen();
  void* data = const_cast<void*>(buffer);  // the handlers' type is untyped, not writable
  if (const auto handler = Handler(FBeforeWrite); handler.Assigned())
    handler(this, data, count, waitOnCompletion);
  WaitForWriteCompletion();
  FWriteCount = static_cast<std::uint32_t>(count);
  if (count != 0) {
    platform::IDevice& device = Device();
    CheckResult(FWriteEvent->Reset());
    CheckResult(device.StartWrite(buffer, FWriteCount, *FWriteEvent));
    if (waitOnCompletion) WaitForWriteCompletion();
  }
  if (const auto handler = Handler(FAfterWrite); handler.Assigned())
    handler(this, data, count, waitOnCompletion);
}

void TCustomComPort::WaitForCompletion(platform::IEvent* done, platform::TDirection direction,
                                       std::uint32_t expected) {
  if (!done || !FHandle || done->IsSet()) return;
  std::uint32_t moved = 0;
  CheckResult(FHandle->GetResult(direction, moved));
  if (moved != expected) RaiseError(0, "Timeout");
}

void TCustomComPort::WaitForReadCompletion() {
  WaitForCompletion(FReadEvent.get(), platform::TDirection::Read, FReadCount);
}

void TCustomComPort::WaitForWriteCompletion() {
  WaitForCompletion(FWriteEvent.get(), platform::TDirection::Write, FWriteCount);
}

ByteString TCustomComPort::ReadText() {
  WaitForReadCompletion();
  const std::int32_t count = InputCount();
  ByteString text(static_cast<std::size_t>(count), '\0');
  Read(text.data(), count, true);
  if (count != 0) {
    // A read that ended at once may have moved fewer bytes than were counted: keep only those.
    std::uint32_t moved = 0;
    CheckResult(Device().GetResult(platform::TDirection::Read, moved));
    if (moved < text.size()) text.resize(moved);
  }
  return text;
}

void TCustomComPort::WriteText(const ByteString& text) {
  Write(text.data(), static_cast<std::int32_t>(text.size()), false);
}

std::int32_t TCustomComPort::InputCount() {
  std::uint32_t errors = 0;
  std::uint32_t inQueue = 0;
  CheckResult(Device().ClearCommError(errors, &inQueue));
  return static_cast<std::int32_t>(inQueue);
}

TModemStatus TCustomComPort::ModemStatus() {
  CheckOpen();
  std::uint32_t status = 0;
  CheckResult(Device().GetCommModemStatus(status));
  TModemStatus result;
  if (status & platform::MsCtsOn) result.Include(TModemStatusValue::msCTS);
  if (status & platform::MsDsrOn) result.Include(TModemStatusValue::msDSR);
  if (status & platform::MsRingOn) result.Include(TModemStatusValue::msRing);
  if (status & platform::MsRlsdOn) result.Include(TModemStatusValue::msRLSD);
  return result;
}

TLineErrors TCustomComPort::LineErrors() {
  static constexpr std::array<std::pair<TLineError, std::uint32_t>, 11> Bits = {{
      {TLineError::leBreak, platform::CeBreak},
      {TLineError::leDeviceNotSelected, platform::CeDns},
      {TLineError::leFrame, platform::CeFrame},
      {TLineError::leIO, platform::CeIoe},
      {TLineError::leMode, platform::CeMode},
      {TLineError::leOutOfPaper, platform::CeOop},
      {TLineError::leOverrun, platform::CeOverrun},
      {TLineError::leDeviceTimeOut, platform::CePto},
      {TLineError::leRxOverflow, platform::CeRxOver},
      {TLineError::leParity, platform::CeRxParity},
      {TLineError::leTxFull, platform::CeTxFull},
  }};
  std::uint32_t errors = 0;
  CheckResult(Device().ClearCommError(errors, nullptr));
  TLineErrors result;
  for (const auto& [element, bit] : Bits)
    if (errors & bit) result.Include(element);
  return result;
}
