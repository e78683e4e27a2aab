#include "serial/platform/Win32Dcb.h"

#include <cstddef>
#include <cstring>

namespace platform {
namespace {

// The DCB's flag word is a run of bit-fields right after BaudRate; the door's flag bits are
// laid out the same way, so the word is copied whole, reserved bits included.
constexpr std::size_t FlagsOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
static_assert(sizeof(DCB) == 28, "the device control block is 28 bytes on every Windows");
static_assert(offsetof(DCB, wReserved) == FlagsOffset + sizeof(DWORD));

}  // namespace

DCB EmptyDcb() {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  return dcb;
}

TDeviceControlBlock FromWin32(const DCB& dcb) {
  TDeviceControlBlock block;
  block.BaudRate = dcb.BaudRate;
  std::memcpy(&block.Flags, reinterpret_cast<const char*>(&dcb) + FlagsOffset, sizeof block.Flags);
  block.XonLim = dcb.XonLim;
  block.XoffLim = dcb.XoffLim;
  block.ByteSize = dcb.ByteSize;
  block.Parity = dcb.Parity;
  block.StopBits = dcb.StopBits;
  block.XonChar = dcb.XonChar;
  block.XoffChar = dcb.XoffChar;
  block.ErrorChar = dcb.ErrorChar;
  block.EofChar = dcb.EofChar;
  block.EvtChar = dcb.EvtChar;
  return block;
}

DCB ToWin32(const TDeviceControlBlock& block) {
  DCB dcb = EmptyDcb();
  dcb.BaudRate = block.BaudRate;
  std::memcpy(reinterpret_cast<char*>(&dcb) + FlagsOffset, &block.Flags, sizeof block.Flags);
  dcb.XonLim = block.XonLim;
  dcb.XoffLim = block.XoffLim;
  dcb.ByteSize = block.ByteSize;
  dcb.Parity = block.Parity;
  dcb.StopBits = block.StopBits;
  dcb.XonChar = block.XonChar;
  dcb.XoffChar = block.XoffChar;
  dcb.ErrorChar = block.ErrorChar;
  dcb.EofChar = block.EofChar;
  dcb.EvtChar = block.EvtChar;
  return dcb;
}

TCommTimeouts FromWin32(const COMMTIMEOUTS& timeouts) {
  return {timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
          timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
          timeouts.WriteTotalTimeoutConstant};
}

COMMTIMEOUTS ToWin32(const TCommTimeouts& timeouts) {
  return {timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
          timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
          timeouts.WriteTotalTimeoutConstant};
}

}  // namespace platform
