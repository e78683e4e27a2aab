#include "serial/platform/PosixDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/platform/PosixBaudRate.h"
#include "serial/platform/PosixPlatform.h"
#include "serial/platform/PosixTermios.h"

namespace platform {
namespace {

constexpr std::uint32_t MaxDword = 0xFFFFFFFFu;

bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

}  // namespace

std::unique_ptr<TPosixDevice> TPosixDevice::Open(const std::string& path) {
  return Open(path, nullptr);
}

std::unique_ptr<TPosixDevice> TPosixDevice::Open(const std::string& path,
                                                 std::unique_ptr<ILineDriver> driver) {
  TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return nullptr;
  termios tios{};
  if (::tcgetattr(fd.Get(), &tios) != 0) return nullptr;
  // TIOCEXCL keeps other users out, flock() also a second opener running as root.
  if (::ioctl(fd.Get(), TIOCEXCL) != 0) return nullptr;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::ioctl(fd.Get(), TIOCNXCL);
    errno = error;
    return nullptr;
  }
  MakeRaw(tios);
  if (::tcsetattr(fd.Get(), TCSANOW, &tios) != 0) {
    const int error = errno;
    ::ioctl(fd.Get(), TIOCNXCL);
    errno = error;
    return nullptr;
  }
  std::uint32_t rate = 0;
  if (PosixGetBaudRate(fd.Get(), &rate) != 0) rate = RateOfSpeed(cfgetospeed(&tios));

  if (!driver) driver = MakeTerminalDriver(fd.Get());
  std::unique_ptr<TPosixDevice> device(new TPosixDevice(std::move(fd), std::move(driver)));
  if (!device->FMaskWake.Valid() || !device->FReader->Started() || !device->FWriter->Started())
    return nullptr;  // errno from the failed creation; the destructor releases the rest
  // Counters decide which event sources the line has.
  if (device->FDriver->Counts(device->FErrorCounts)) {
    device->FCountsLines = true;
    device->FEventCounts = device->FErrorCounts;
  }
  if (!device->StartEventSources()) return nullptr;
  device->FDcb = TermiosToDcb(tios, rate);
  device->FInput.SetFlag(device->FDcb.EvtChar);
  int lines = 0;
  if (::ioctl(device->FFd.Get(), TIOCMGET, &lines) == 0) {
    if (!(lines & TIOCM_DTR)) device->FDcb.Flags &= ~fDtrControlMask;
    if (!(lines & TIOCM_RTS) && !(tios.c_cflag & CRTSCTS)) device->FDcb.Flags &= ~fRtsControlMask;
  }
  errno = 0;
  return device;
}

TPosixDevice::TPosixDevice(TUniqueFd fd, std::unique_ptr<ILineDriver> driver)
    : FFd(std::move(fd)),
      FMaskWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      FDriver(std::move(driver)),
      FInput(FFd.Get()) {
  const int error = errno;
  FReader = std::make_unique<TPosixTransfer>(TDirection::Read, FFd.Get(), FGone);
  FReader->ReadThrough([this](void* buffer, std::size_t count, bool waited) {
    return FInput.Read(buffer, count, waited);
  });
  FInput.OnArrival([this] { Wake(); });
  FWriter = std::make_unique<TPosixTransfer>(TDirection::Write, FFd.Get(), FGone,
                                             [this] { WriteFinished(); });
  if (!FMaskWake.Valid()) errno = error;
}

TPosixDevice::~TPosixDevice() {
  // The helpers call back into this object: they end before anything else goes, the
  // transfers first, as a finished write arms the drain watcher.
  FReader.reset();
  FWriter.reset();
  FModemWatcher.reset();
  FDrainWatcher.reset();
  // The exclusive flag outlives our descriptor while others hold the terminal open.
  if (FFd.Valid()) ::ioctl(FFd.Get(), TIOCNXCL);
}

bool TPosixDevice::Fail(int error) {
  errno = error;
  return false;
}

void TPosixDevice::Wake() {
  if (!FMaskWake.Valid()) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(FMaskWake.Get(), &one, sizeof one);
}

bool TPosixDevice::GetCommState(TDeviceControlBlock& dcb) {
  std::lock_guard lock(FLock);
  dcb = FDcb;
  return true;
}

bool TPosixDevice::SetCommState(const TDeviceControlBlock& dcb) {
  termios tios{};
  if (::tcgetattr(FFd.Get(), &tios) != 0) return false;
  std::uint32_t customRate = 0;
  // A refused block leaves errno EINVAL, whose text cannot name the field; that is the code
  // the port shows for any parameter the line does not take.
  if (const int error = DcbToTermios(dcb, tios, customRate); error != 0) return Fail(error);
  if (::tcsetattr(FFd.Get(), TCSANOW, &tios) != 0) return false;
  if (customRate != 0)
    if (const int error = PosixSetBaudRate(FFd.Get(), customRate); error != 0) return Fail(error);

  // DTR and RTS levels; terminals without modem lines (ptys) refuse, which is no failure.
  const std::uint32_t dtr = (dcb.Flags & fDtrControlMask) >> 4;
  const std::uint32_t rts = (dcb.Flags & fRtsControlMask) >> 12;
  auto line = [this](int bit, bool on) {
    if (::ioctl(FFd.Get(), on ? TIOCMBIS : TIOCMBIC, &bit) != 0 && !NoModemLines(errno))
      return false;
    return true;
  };
  // DTR handshake has no termios equivalent: the line is left raised.
  if (dtr != DtrControlDisable ? !line(TIOCM_DTR, true) : !line(TIOCM_DTR, false))
    return false;
  // With RTS handshake the driver owns the line; RTS toggle has no equivalent and is raised.
  if (rts != RtsControlHandshake && !line(TIOCM_RTS, rts != RtsControlDisable)) return false;

  FInput.SetFlag(dcb.EvtChar);
  std::lock_guard lock(FLock);
  FDcb = dcb;
  return true;
}

bool TPosixDevice::SetupComm(std::int32_t inputSize, std::int32_t outputSize) {
  // The terminal's queues have fixed sizes; the input size is the base of EV_RX80FULL.
  if (inputSize < 0 || outputSize < 0) return Fail(EINVAL);
  std::lock_guard lock(FLock);
  FInputSize = static_cast<std::uint32_t>(inputSize);
  return true;
}

bool TPosixDevice::GetCommTimeouts(TCommTimeouts& timeouts) {
  std::lock_guard lock(FLock);
  timeouts = FTimeouts;
  return true;
}

bool TPosixDevice::SetCommTimeouts(const TCommTimeouts& timeouts) {
  std::lock_guard lock(FLock);
  FTimeouts = timeouts;
  return true;
}

bool TPosixDevice::PurgeComm(std::uint32_t flags) {
  if (flags & PurgeRxAbort) FReader->Cancel();
  if (flags & PurgeTxAbort) FWriter->Cancel();
  if (flags & PurgeRxClear) FInput.DropHeld();
  int queues = -1;
  if ((flags & PurgeRxClear) && (flags & PurgeTxClear))
    queues = TCIOFLUSH;
  else if (flags & PurgeRxClear)
    queues = TCIFLUSH;
  else if (flags & PurgeTxClear)
    queues = TCOFLUSH;
  if (queues >= 0 && ::tcflush(FFd.Get(), queues) != 0) {
    // A vanished device has no queues left to empty; failing here would keep it from closing.
    if (!FGone.load() && !PosixDeviceGone(errno)) return false;
    FGone.store(true);
  }
  if (flags & PurgeTxClear) {
    std::lock_guard lock(FLock);
    FTxPending = false;
    ++FWrites;  // a drain still under way no longer counts
  }
  return true;
}

bool TPosixDevice::StartRead(void* buffer, std::uint32_t count, IEvent& done) {
  TPosixTransfer::TJob job;
  job.ReadBuffer = static_cast<std::uint8_t*>(buffer);
  job.Count = count;
  const auto now = TPosixTransfer::TClock::now();
  TCommTimeouts t;
  {
    std::lock_guard lock(FLock);
    t = FTimeouts;
  }
  using std::chrono::milliseconds;
  if (t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    job.Deadline = now;  // whatever is waiting, at once
  } else if (t.ReadIntervalTimeout == MaxDword && t.ReadTotalTimeoutMultiplier == MaxDword &&
             t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MaxDword) {
    job.AnyByte = true;
    job.Deadline = now + milliseconds(t.ReadTotalTimeoutConstant);
  } else {
    const std::uint64_t total =
        static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * count +
        t.ReadTotalTimeoutConstant;
    if (total != 0) job.Deadline = now + milliseconds(total);
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MaxDword)
      job.Interval = milliseconds(t.ReadIntervalTimeout);
  }
  return FReader->Start(std::move(job), done);
}

bool TPosixDevice::StartWrite(const void* buffer, std::uint32_t count, IEvent& done) {
  TPosixTransfer::TJob job;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  job.WriteBytes.assign(bytes, bytes + count);
  job.Count = count;
  TCommTimeouts t;
  {
    std::lock_guard lock(FLock);
    t = FTimeouts;
  }
  if (count > 0) WriteIssued();
  const std::uint64_t total =
      static_cast<std::uint64_t>(t.WriteTotalTimeoutMultiplier) * count +
      t.WriteTotalTimeoutConstant;
  if (total != 0) job.Deadline = TPosixTransfer::TClock::now() + std::chrono::milliseconds(total);
  const bool atOnce = FWriter->Start(std::move(job), done);
  const int error = errno;
  if (atOnce && count > 0) WriteFinished();
  errno = error;
  return atOnce;
}

bool TPosixDevice::GetResult(TDirection direction, std::uint32_t& moved) {
  return (direction == TDirection::Read ? FReader : FWriter)->Result(moved);
}

std::uint32_t TPosixDevice::LineErrors() {
  TLineCounts now;
  if (!FCountsLines || !FDriver->Counts(now)) return 0;
  const std::uint32_t errors = LineErrorsBetween(FErrorCounts, now);
  FErrorCounts = now;
  return errors;
}

bool TPosixDevice::ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) {
  errors = 0;
  if (FGone.load()) return Fail(EIO);
  if (inQueue && !FInput.Count(*inQueue)) return false;
  std::lock_guard lock(FLock);
  errors = LineErrors();
  return true;
}

bool TPosixDevice::GetCommModemStatus(std::uint32_t& status) {
  status = 0;
  int lines = 0;
  if (::ioctl(FFd.Get(), TIOCMGET, &lines) != 0) {
    // No modem lines at all (a pty): no line is on.
    if (NoModemLines(errno)) return true;
    return false;
  }
  if (lines & TIOCM_CTS) status |= MsCtsOn;
  if (lines & TIOCM_DSR) status |= MsDsrOn;
  if (lines & TIOCM_RNG) status |= MsRingOn;
  if (lines & TIOCM_CAR) status |= MsRlsdOn;
  return true;
}

}  // namespace platform
