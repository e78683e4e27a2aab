#pragma once
// The serial component's only door to the operating system. Its shape follows what the
// component passes and relies on: a device control block, queue sizes, timeouts, purges, an
// event mask with a blocking wait, asynchronous reads and writes per direction with a
// completion signal, queue count with error bits, modem lines, the process priority class and
// the thread's last error. Backends: PosixPlatform (termios), VirtualPlatform (tests).
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Last-error value of an operation that has started and is still running; never a failure.
inline constexpr std::int32_t ErrorIoPending = 997;

// Device control block: the fields the component reads, overlays and writes back.
struct TDeviceControlBlock {
  std::uint32_t BaudRate = 0;  // bit/s
  std::uint32_t Flags = 0;     // the flag word, bits below
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 8;   // 4..8
  std::uint8_t Parity = 0;     // NoParity..SpaceParity
  std::uint8_t StopBits = 0;   // OneStopBit..TwoStopBits
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  friend bool operator==(const TDeviceControlBlock&, const TDeviceControlBlock&) = default;
};

// Flag word bits.
inline constexpr std::uint32_t fBinary = 0x0001;
inline constexpr std::uint32_t fParity = 0x0002;
inline constexpr std::uint32_t fOutxCtsFlow = 0x0004;
inline constexpr std::uint32_t fOutxDsrFlow = 0x0008;
inline constexpr std::uint32_t fDtrControlMask = 0x0030;  // value << 4
inline constexpr std::uint32_t fDsrSensitivity = 0x0040;
inline constexpr std::uint32_t fTXContinueOnXoff = 0x0080;
inline constexpr std::uint32_t fOutX = 0x0100;
inline constexpr std::uint32_t fInX = 0x0200;
inline constexpr std::uint32_t fErrorChar = 0x0400;
inline constexpr std::uint32_t fNull = 0x0800;
inline constexpr std::uint32_t fRtsControlMask = 0x3000;  // value << 12
inline constexpr std::uint32_t fAbortOnError = 0x4000;

inline constexpr std::uint32_t DtrControlDisable = 0, DtrControlEnable = 1, DtrControlHandshake = 2;
inline constexpr std::uint32_t RtsControlDisable = 0, RtsControlEnable = 1, RtsControlHandshake = 2,
                               RtsControlToggle = 3;
inline constexpr std::uint8_t NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3,
                              SpaceParity = 4;
inline constexpr std::uint8_t OneStopBit = 0, One5StopBits = 1, TwoStopBits = 2;

struct TCommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
  friend bool operator==(const TCommTimeouts&, const TCommTimeouts&) = default;
};

// Purge flags.
inline constexpr std::uint32_t PurgeTxAbort = 0x0001, PurgeRxAbort = 0x0002,
                               PurgeTxClear = 0x0004, PurgeRxClear = 0x0008;

// Line events.
inline constexpr std::uint32_t EvRxChar = 0x0001, EvRxFlag = 0x0002, EvTxEmpty = 0x0004,
                               EvCts = 0x0008, EvDsr = 0x0010, EvRlsd = 0x0020,
                               EvBreak = 0x0040, EvErr = 0x0080, EvRing = 0x0100,
                               EvPErr = 0x0200, EvRx80Full = 0x0400, EvEvent1 = 0x0800,
                               EvEvent2 = 0x1000;

// Accumulated line-error bits (cleared by ClearCommError).
inline constexpr std::uint32_t CeRxOver = 0x0001, CeOverrun = 0x0002, CeRxParity = 0x0004,
                               CeFrame = 0x0008, CeBreak = 0x0010, CeTxFull = 0x0100,
                               CePto = 0x0200, CeIoe = 0x0400, CeDns = 0x0800, CeOop = 0x1000,
                               CeMode = 0x8000;

// Modem-line bits.
inline constexpr std::uint32_t MsCtsOn = 0x10, MsDsrOn = 0x20, MsRingOn = 0x40, MsRlsdOn = 0x80;

// Process priority classes.
inline constexpr std::int32_t IdlePriorityClass = 0x40, NormalPriorityClass = 0x20,
                              HighPriorityClass = 0x80, RealtimePriorityClass = 0x100;

enum class TDirection : std::uint8_t { Read, Write };

// Manual-reset completion signal of one direction. Signalled means no operation outstanding.
class IEvent {
 public:
  virtual ~IEvent() = default;
  virtual void Set() = 0;
  virtual bool Reset() = 0;
  virtual bool IsSet() = 0;  // no wait
};

// An open device. Every bool result is true on success; on failure the thread's last error
// (GetLastError) holds the code. Calls other than WaitCommEvent and GetResult never block.
class IDevice {
 public:
  virtual ~IDevice() = default;  // closes the device; ends nothing else
  virtual bool GetCommState(TDeviceControlBlock& dcb) = 0;
  virtual bool SetCommState(const TDeviceControlBlock& dcb) = 0;
  virtual bool SetupComm(std::int32_t inputSize, std::int32_t outputSize) = 0;
  virtual bool GetCommTimeouts(TCommTimeouts& timeouts) = 0;
  virtual bool SetCommTimeouts(const TCommTimeouts& timeouts) = 0;
  virtual bool PurgeComm(std::uint32_t flags) = 0;
  // Sets the event mask; ends a WaitCommEvent in progress, which then reports 0.
  virtual bool SetCommMask(std::uint32_t mask) = 0;
  // Blocks until a masked event occurs or the mask changes. Events that occur while nobody
  // waits are kept for the next wait. On a vanished device it must not return at once again
  // and again with events that did not happen. With the mask at 0 it fails at once (EINVAL),
  // so a stop that cleared the mask just before the wait began cannot be missed.
  virtual bool WaitCommEvent(std::uint32_t& events) = 0;
  // Called after a wait reported EV_RXCHAR, while its handlers are being handed to another
  // thread: a device may take bytes that arrived meanwhile from the system, so the handler
  // finds them waiting. Never blocks, never fails.
  virtual void TakeArrivingBytes() {}
  // Start a transfer. Returns true when done at once; false with last error ErrorIoPending
  // while it runs. The event is reset by the caller beforehand and set on completion.
  // StartWrite keeps its own copy of the bytes.
  virtual bool StartRead(void* buffer, std::uint32_t count, IEvent& done) = 0;
  virtual bool StartWrite(const void* buffer, std::uint32_t count, IEvent& done) = 0;
  // Waits for the direction's last transfer; moved = bytes transferred.
  virtual bool GetResult(TDirection direction, std::uint32_t& moved) = 0;
  // The error bits accumulated since the last call (then cleared) and the input queue count.
  virtual bool ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) = 0;
  virtual bool GetCommModemStatus(std::uint32_t& status) = 0;
};

class IPlatform {
 public:
  virtual ~IPlatform() = default;
  // Opens the named device for exclusive use; null with the last error set on failure.
  virtual std::unique_ptr<IDevice> Open(const std::string& name) = 0;
  // A manual-reset event, initially signalled; null with the last error set on failure.
  virtual std::unique_ptr<IEvent> CreateEvent() = 0;
  virtual std::int32_t GetPriorityClass() = 0;
  virtual void SetPriorityClass(std::int32_t priorityClass) = 0;
  // Gives the process the class only when it can take it and the present class can be given
  // back afterwards (by SetPriorityClass with what GetPriorityClass returned); false with the
  // last error set, and nothing changed, otherwise.
  virtual bool ChangePriorityClass(std::int32_t priorityClass) {
    SetPriorityClass(priorityClass);
    return true;
  }
  virtual std::int32_t GetLastError() = 0;
  virtual void SetLastError(std::int32_t code) = 0;
  // The system's text for an error code, untrimmed.
  virtual std::string ErrorText(std::int32_t code) = 0;
  // The text for the thread's last failure, which has this code: what the failing call said
  // about it (a refused setting and why) where it said more than the code, else ErrorText.
  virtual std::string LastErrorText(std::int32_t code) { return ErrorText(code); }
  // True for the codes by which the system says the device itself is gone (unplugged, hung
  // up), as opposed to one operation failing.
  virtual bool IsDeviceGone(std::int32_t code) = 0;
};

// The backend in use: the build's native one unless a test installed another.
IPlatform& Current();
// Installs a backend (null restores the native one); returns the previous one.
IPlatform* Install(IPlatform* backend);

}  // namespace platform
