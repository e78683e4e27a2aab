#include "serial/platform/Win32Device.h"

#include <cstring>

#include "serial/platform/Win32Dcb.h"
#include "serial/platform/Win32Event.h"

namespace platform {
namespace {

bool Fail(DWORD code) {
  ::SetLastError(code);
  return false;
}

}  // namespace

std::unique_ptr<IDevice> TWin32Device::Open(const std::string& name) {
  TWin32Handle device(::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                    nullptr));
  if (!device.Valid()) return nullptr;
  TWin32Handle waitDone(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!waitDone.Valid()) return nullptr;
  TWin32Handle maskChanged(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!maskChanged.Valid()) return nullptr;
  return std::unique_ptr<IDevice>(
      new TWin32Device(std::move(device), std::move(waitDone), std::move(maskChanged)));
}

TWin32Device::TWin32Device(TWin32Handle device, TWin32Handle waitDone, TWin32Handle maskChanged)
    : FDevice(std::move(device)),
      FWaitDone(std::move(waitDone)),
      FMaskChanged(std::move(maskChanged)) {}

TWin32Device::~TWin32Device() {
  // The OVERLAPPED records die with this object: nothing may still write into them.
  const DWORD saved = ::GetLastError();
  ::CancelIoEx(FDevice.Get(), nullptr);
  DWORD moved = 0;
  for (OVERLAPPED* o : {&FReadOverlapped, &FWriteOverlapped}) {
    if (o->hEvent != nullptr) ::GetOverlappedResult(FDevice.Get(), o, &moved, TRUE);
  }
  ::SetLastError(saved);
}

bool TWin32Device::GetCommState(TDeviceControlBlock& dcb) {
  DCB native = EmptyDcb();
  if (!::GetCommState(FDevice.Get(), &native)) return false;
  dcb = FromWin32(native);
  return true;
}

bool TWin32Device::SetCommState(const TDeviceControlBlock& dcb) {
  DCB native = ToWin32(dcb);
  return ::SetCommState(FDevice.Get(), &native) != 0;
}

bool TWin32Device::SetupComm(std::int32_t inputSize, std::int32_t outputSize) {
  return ::SetupComm(FDevice.Get(), static_cast<DWORD>(inputSize),
                     static_cast<DWORD>(outputSize)) != 0;
}

bool TWin32Device::GetCommTimeouts(TCommTimeouts& timeouts) {
  COMMTIMEOUTS native{};
  if (!::GetCommTimeouts(FDevice.Get(), &native)) return false;
  timeouts = FromWin32(native);
  return true;
}

bool TWin32Device::SetCommTimeouts(const TCommTimeouts& timeouts) {
  COMMTIMEOUTS native = ToWin32(timeouts);
  return ::SetCommTimeouts(FDevice.Get(), &native) != 0;
}

bool TWin32Device::PurgeComm(std::uint32_t flags) {
  return ::PurgeComm(FDevice.Get(), flags) != 0;
}

bool TWin32Device::SetCommMask(std::uint32_t mask) {
  const BOOL done = ::SetCommMask(FDevice.Get(), mask);
  // Recorded whatever the result: a stop's empty mask must reach the waiting thread.
  FMask.store(mask);
  const DWORD saved = ::GetLastError();
  ::SetEvent(FMaskChanged.Get());
  ::SetLastError(saved);
  return done != 0;
}

bool TWin32Device::WaitCommEvent(std::uint32_t& events) {
  events = 0;
  // Reset before the mask is read: a change after the read then sets the event again.
  ::ResetEvent(FMaskChanged.Get());
  if (FMask.load() == 0) return Fail(ERROR_INVALID_PARAMETER);
  for (;;) {
    DWORD error = ERROR_SUCCESS;
    if (!WaitOnce(events, error)) return WaitForMaskChange(error);
    if (events != 0) return true;
    // No events and no mask change: a wake-up of the system's own (Wine ends a wait on a
    // line without modem lines this way); waiting on keeps to what the caller relies on.
    if (::WaitForSingleObject(FMaskChanged.Get(), 0) == WAIT_OBJECT_0) return true;
  }
}

bool TWin32Device::WaitOnce(std::uint32_t& events, DWORD& error) {
  std::memset(&FWaitOverlapped, 0, sizeof FWaitOverlapped);
  FWaitOverlapped.hEvent = FWaitDone.Get();
  ::ResetEvent(FWaitDone.Get());
  FWaitEvents = 0;
  if (::WaitCommEvent(FDevice.Get(), &FWaitEvents, &FWaitOverlapped)) {
    events = FWaitEvents;
    return true;
  }
  error = ::GetLastError();
  if (error != ERROR_IO_PENDING) return false;

  HANDLE both[2] = {FWaitDone.Get(), FMaskChanged.Get()};
  const DWORD woken = ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
  const bool changed = woken == WAIT_OBJECT_0 + 1;
  // Windows itself ends the wait on a mask change; where it does not, it is cancelled here.
  if (changed) ::CancelIoEx(FDevice.Get(), &FWaitOverlapped);
  DWORD ignored = 0;
  const BOOL done = ::GetOverlappedResult(FDevice.Get(), &FWaitOverlapped, &ignored, TRUE);
  events = 0;
  if (changed) return true;  // a mask change reports no events
  if (!done) {
    error = ::GetLastError();
    // Ended by a purge or a cancel (Wine's code for a wait ended by a mask change, too).
    return error == ERROR_OPERATION_ABORTED;
  }
  events = FWaitEvents;
  return true;
}

bool TWin32Device::WaitForMaskChange(DWORD error) {
  // A device that refuses to wait (unplugged, say) would fail every wait at once; the thread
  // waits for the next mask change instead, which is how a close reaches it.
  ::WaitForSingleObject(FMaskChanged.Get(), INFINITE);
  return Fail(error);
}

bool TWin32Device::Start(OVERLAPPED& overlapped, bool read, void* buffer, std::uint32_t count,
                         IEvent& done) {
  auto* event = dynamic_cast<TWin32Event*>(&done);
  if (event == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = event->Handle();
  DWORD ignored = 0;
  const BOOL finished = read ? ::ReadFile(FDevice.Get(), buffer, count, &ignored, &overlapped)
                             : ::WriteFile(FDevice.Get(), buffer, count, &ignored, &overlapped);
  return finished != 0;
}

bool TWin32Device::StartRead(void* buffer, std::uint32_t count, IEvent& done) {
  return Start(FReadOverlapped, true, buffer, count, done);
}

bool TWin32Device::StartWrite(const void* buffer, std::uint32_t count, IEvent& done) {
  const char* bytes = static_cast<const char*>(buffer);
  FWriteCopy.assign(bytes, bytes + count);
  return Start(FWriteOverlapped, false, FWriteCopy.data(), count, done);
}

bool TWin32Device::GetResult(TDirection direction, std::uint32_t& moved) {
  OVERLAPPED& overlapped =
      direction == TDirection::Read ? FReadOverlapped : FWriteOverlapped;
  DWORD count = 0;
  const BOOL done = ::GetOverlappedResult(FDevice.Get(), &overlapped, &count, TRUE);
  moved = count;
  return done != 0;
}

bool TWin32Device::ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) {
  DWORD bits = 0;
  COMSTAT status{};
  if (!::ClearCommError(FDevice.Get(), &bits, &status)) return false;
  errors = bits;
  if (inQueue != nullptr) *inQueue = status.cbInQue;
  return true;
}

bool TWin32Device::GetCommModemStatus(std::uint32_t& status) {
  DWORD bits = 0;
  if (!::GetCommModemStatus(FDevice.Get(), &bits)) return false;
  status = bits;
  return true;
}

}  // namespace platform
