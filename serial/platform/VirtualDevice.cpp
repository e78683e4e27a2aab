#include "serial/platform/VirtualDevice.h"

#include <cerrno>
#include <cstring>

namespace platform {
namespace {
constexpr std::uint32_t MaxDword = 0xFFFFFFFFu;
}

// Each call: record it under the line's lock, then fail if the test asked for that.
#define KORVEX_VIRTUAL_CALL(name)      \
  TVirtualLine& line = *FLine;         \
  std::unique_lock lock(line.FLock);   \
  line.Record(name);                   \
  if (line.Injected(name)) return false

std::unique_ptr<TVirtualDevice> TVirtualDevice::Open(std::shared_ptr<TVirtualLine> line) {
  std::lock_guard lock(line->FLock);
  line->Record("Open");
  if (line->Injected("Open")) return nullptr;
  if (line->FOpen) {
    errno = EBUSY;
    return nullptr;
  }
  line->FOpen = true;
  line->FMask = 0;
  line->FEvents = 0;
  return std::unique_ptr<TVirtualDevice>(new TVirtualDevice(std::move(line)));
}

TVirtualDevice::~TVirtualDevice() {
  TVirtualLine& line = *FLine;
  std::lock_guard lock(line.FLock);
  line.Record("Close");
  if (line.FRead.Running) line.Complete(line.FRead, ECANCELED);
  if (line.FWrite.Running) line.Complete(line.FWrite, ECANCELED);
  line.FOpen = false;
  line.FMask = 0;
  ++line.FMaskGeneration;
  line.FChanged.notify_all();
}

bool TVirtualDevice::GetCommState(TDeviceControlBlock& dcb) {
  KORVEX_VIRTUAL_CALL("GetCommState");
  dcb = line.FDeviceDcb;
  return true;
}

bool TVirtualDevice::SetCommState(const TDeviceControlBlock& dcb) {
  KORVEX_VIRTUAL_CALL("SetCommState");
  if (line.FRefusal && line.FRefusal(dcb)) {
    errno = line.FRefusalCode;
    return false;
  }
  line.FLastDcb = dcb;
  line.FDeviceDcb = dcb;
  return true;
}

bool TVirtualDevice::SetupComm(std::int32_t inputSize, std::int32_t outputSize) {
  KORVEX_VIRTUAL_CALL("SetupComm");
  line.FLastSizes = std::pair(inputSize, outputSize);
  return true;
}

bool TVirtualDevice::GetCommTimeouts(TCommTimeouts& timeouts) {
  KORVEX_VIRTUAL_CALL("GetCommTimeouts");
  timeouts = line.FTimeouts;
  return true;
}

bool TVirtualDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  KORVEX_VIRTUAL_CALL("SetCommTimeouts");
  line.FTimeouts = timeouts;
  line.FLastTimeouts = timeouts;
  return true;
}

bool TVirtualDevice::PurgeComm(std::uint32_t flags) {
  KORVEX_VIRTUAL_CALL("PurgeComm");
  line.FPurges.push_back(flags);
  if ((flags & PurgeRxAbort) && line.FRead.Running) line.Complete(line.FRead, ECANCELED);
  if ((flags & PurgeTxAbort) && line.FWrite.Running) line.Complete(line.FWrite, ECANCELED);
  if (flags & PurgeRxClear) line.FInput.clear();
  return true;
}

bool TVirtualDevice::SetCommMask(std::uint32_t mask) {
  KORVEX_VIRTUAL_CALL("SetCommMask");
  line.FMask = mask;
  ++line.FMaskGeneration;
  line.FChanged.notify_all();
  return true;
}

bool TVirtualDevice::WaitCommEvent(std::uint32_t& events) {
  events = 0;
  KORVEX_VIRTUAL_CALL("WaitCommEvent");
  // Nothing to wait for: a wait started after the mask went to 0 would never end.
  if (line.FMask == 0) {
    errno = EINVAL;
    return false;
  }
  const std::uint64_t generation = line.FMaskGeneration;
  ++line.FWaiting;
  line.FChanged.notify_all();
  line.FChanged.wait(lock, [&] {
    return line.FMaskGeneration != generation || (line.FEvents & line.FMask) != 0;
  });
  --line.FWaiting;
  if (line.FMaskGeneration != generation) return true;  // mask changed: no events
  events = line.FEvents & line.FMask;
  line.FEvents &= ~events;
  return true;
}

bool TVirtualDevice::StartRead(void* buffer, std::uint32_t count, IEvent& done) {
  KORVEX_VIRTUAL_CALL("StartRead");
  if (line.FGone) {
    done.Set();
    errno = EIO;
    return false;
  }
  if (line.FRead.Running) {
    errno = EBUSY;
    return false;
  }
  TVirtualLine::TPending& read = line.FRead;
  read = {};
  read.Running = true;
  read.Buffer = static_cast<std::uint8_t*>(buffer);
  read.Count = count;
  read.Done = &done;
  const TCommTimeouts& t = line.FTimeouts;
  const bool atOnce = t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                      t.ReadTotalTimeoutConstant == 0;
  const std::uint64_t total =
      static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant;
  if (!atOnce && total != 0)
    read.Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(total);
  line.FillRead();
  if (read.Running && atOnce) line.Complete(read, 0);
  if (!read.Running) return true;
  errno = ErrorIoPending;
  return false;
}

bool TVirtualDevice::StartWrite(const void* buffer, std::uint32_t count, IEvent& done) {
  KORVEX_VIRTUAL_CALL("StartWrite");
  if (line.FGone) {
    done.Set();
    errno = EIO;
    return false;
  }
  if (line.FWrite.Running) {
    errno = EBUSY;
    return false;
  }
  TVirtualLine::TPending& write = line.FWrite;
  write = {};
  write.Running = true;
  write.Bytes.assign(static_cast<const char*>(buffer), count);
  write.Count = count;
  write.Done = &done;
  if (!line.FHoldWrites) {
    line.CompleteWrite();
    return true;
  }
  errno = ErrorIoPending;
  return false;
}

bool TVirtualDevice::GetResult(TDirection direction, std::uint32_t& moved) {
  moved = 0;
  KORVEX_VIRTUAL_CALL("GetResult");
  TVirtualLine::TPending& pending = direction == TDirection::Read ? line.FRead : line.FWrite;
  if (pending.Deadline) {
    if (!line.FChanged.wait_until(lock, *pending.Deadline, [&] { return !pending.Running; }))
      line.Complete(pending, 0);  // cut short by the timeout: success with fewer bytes
  } else {
    line.FChanged.wait(lock, [&] { return !pending.Running; });
  }
  moved = pending.Moved;
  if (pending.Error != 0) {
    errno = pending.Error;
    return false;
  }
  return true;
}

bool TVirtualDevice::ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) {
  errors = 0;
  KORVEX_VIRTUAL_CALL("ClearCommError");
  if (line.FGone) {
    errno = EIO;
    return false;
  }
  errors = std::exchange(line.FErrors, 0);
  if (inQueue) *inQueue = static_cast<std::uint32_t>(line.FInput.size());
  return true;
}

bool TVirtualDevice::GetCommModemStatus(std::uint32_t& status) {
  status = 0;
  KORVEX_VIRTUAL_CALL("GetCommModemStatus");
  status = line.FModem;
  return true;
}

#undef KORVEX_VIRTUAL_CALL

}  // namespace platform
