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
#include "serial/platform/PosixTermios.h"

namespace platform {
namespace {

constexpr std::uint32_t MaxDword = 0xFFFFFFFFu;

bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

void DrainEventFd(int fd) {
  std::uint64_t value;
  while (::read(fd, &value, sizeof value) > 0) {
  }
}

}  // namespace

std::unique_ptr<TPosixDevice> TPosixDevice::Open(const std::string& path) {
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

  std::unique_ptr<TPosixDevice> device(new TPosixDevice(std::move(fd)));
  if (!device->FMaskWake.Valid() || !device->FReader->Started() || !device->FWriter->Started())
    return nullptr;  // errno from the failed creation; the destructor releases the rest
  device->FDcb = TermiosToDcb(tios, rate);
  int lines = 0;
  if (::ioctl(device->FFd.Get(), TIOCMGET, &lines) == 0) {
    if (!(lines & TIOCM_DTR)) device->FDcb.Flags &= ~fDtrControlMask;
    if (!(lines & TIOCM_RTS) && !(tios.c_cflag & CRTSCTS)) device->FDcb.Flags &= ~fRtsControlMask;
  }
  if (ReadLineCounts(device->FFd.Get(), device->FErrorCounts)) {
    device->FCountsLines = true;
    device->FEventCounts = device->FErrorCounts;
  }
  errno = 0;
  return device;
}

TPosixDevice::TPosixDevice(TUniqueFd fd)
    : FFd(std::move(fd)), FMaskWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  const int error = errno;
  FReader = std::make_unique<TPosixTransfer>(TDirection::Read, FFd.Get(), FGone);
  // Runs under the writer's lock, so it reads the mask without the device's.
  FWriter = std::make_unique<TPosixTransfer>(TDirection::Write, FFd.Get(), FGone, [this] {
    if (FWatchTxEmpty.load()) Wake();
  });
  if (!FMaskWake.Valid()) errno = error;
}

TPosixDevice::~TPosixDevice() {
  FReader.reset();
  FWriter.reset();
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

  std::lock_guard lock(FLock);
  FDcb = dcb;
  return true;
}

bool TPosixDevice::SetupComm(std::int32_t inputSize, std::int32_t outputSize) {
  // The terminal's queues have fixed sizes; sizes are only checked.
  if (inputSize < 0 || outputSize < 0) return Fail(EINVAL);
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
  int queues = -1;
  if ((flags & PurgeRxClear) && (flags & PurgeTxClear))
    queues = TCIOFLUSH;
  else if (flags & PurgeRxClear)
    queues = TCIFLUSH;
  else if (flags & PurgeTxClear)
    queues = TCOFLUSH;
  // A vanished device has no queues left to empty; failing here would keep it from closing.
  if (queues >= 0 && ::tcflush(FFd.Get(), queues) != 0 && !FGone.load()) return false;
  if (flags & PurgeTxClear) {
    std::lock_guard lock(FLock);
    FTxPending = false;
  }
  return true;
}

bool TPosixDevice::SetCommMask(std::uint32_t mask) {
  std::lock_guard lock(FLock);
  FMask = mask;
  FWatchTxEmpty.store((mask & EvTxEmpty) != 0);
  ++FMaskGeneration;
  Wake();
  return true;
}

std::uint32_t TPosixDevice::PendingEvents(std::uint32_t mask, int& pollTimeout) {
  std::uint32_t events = 0;
  pollTimeout = -1;
  if (mask & EvRxChar) {
    int waiting = 0;
    if (::ioctl(FFd.Get(), FIONREAD, &waiting) == 0 && waiting > 0) events |= EvRxChar;
  }
  if ((mask & EvTxEmpty) && FTxPending && !FWriter->Running()) {
    int queued = 0;
    if (::ioctl(FFd.Get(), TIOCOUTQ, &queued) != 0 || queued == 0) {
      events |= EvTxEmpty;
      FTxPending = false;
    } else {
      // The driver does not signal an empty queue: look again when it should have drained.
      const std::uint32_t rate = FDcb.BaudRate ? FDcb.BaudRate : 9600;
      pollTimeout = static_cast<int>(static_cast<std::uint64_t>(queued) * 10000 / rate) + 1;
    }
  }
  // Line changes and errors are noticed whenever the wait wakes, errors come with the bytes
  // that carried them; a change of a modem line alone does not wake it.
  TLineCounts now;
  if (FCountsLines && (mask & (EvCts | EvDsr | EvRing | EvRlsd | EvBreak | EvErr)) &&
      ReadLineCounts(FFd.Get(), now)) {
    const std::uint32_t lineEvents = LineEventsBetween(FEventCounts, now) & mask;
    if (lineEvents) {
      events |= lineEvents;
      FEventCounts = now;
    }
  }
  return events;
}

bool TPosixDevice::WaitCommEvent(std::uint32_t& events) {
  events = 0;
  std::uint64_t generation;
  {
    std::lock_guard lock(FLock);
    DrainEventFd(FMaskWake.Get());
    generation = FMaskGeneration;
    // Nothing to wait for: a wait started after the mask went to 0 would never end.
    if (FMask == 0) return Fail(EINVAL);
  }
  bool emptyReadable = false;
  for (;;) {
    std::uint32_t mask;
    int timeout = -1;
    std::uint32_t found = 0;
    {
      std::lock_guard lock(FLock);
      if (FMaskGeneration != generation) return true;  // mask changed: no events
      mask = FMask;
      if (!FGone.load()) found = PendingEvents(mask, timeout) & mask;
    }
    if (found) {
      events = found;
      return true;
    }
    // A vanished device is watched no more: only a mask change ends this wait.
    const bool gone = FGone.load();
    pollfd fds[2] = {{FMaskWake.Get(), POLLIN, 0},
                     {FFd.Get(), static_cast<short>((mask & EvRxChar) ? POLLIN : 0), 0}};
    const int r = ::poll(fds, gone ? 1 : 2, gone ? -1 : timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[0].revents & POLLIN) DrainEventFd(FMaskWake.Get());
    if (gone) continue;
    const short device = fds[1].revents;
    if (device & (POLLHUP | POLLERR | POLLNVAL)) {
      FGone.store(true);
      continue;
    }
    if (device & POLLIN) {
      int waiting = 0;
      const bool none = ::ioctl(FFd.Get(), FIONREAD, &waiting) == 0 && waiting == 0;
      // Readable twice in a row with nothing to read: the driver reports an end of file.
      if (none && emptyReadable) FGone.store(true);
      emptyReadable = none;
    } else {
      emptyReadable = false;
    }
  }
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
    if (count > 0) FTxPending = true;
  }
  const bool txEmptyWatched = FWatchTxEmpty.load();
  const std::uint64_t total =
      static_cast<std::uint64_t>(t.WriteTotalTimeoutMultiplier) * count +
      t.WriteTotalTimeoutConstant;
  if (total != 0) job.Deadline = TPosixTransfer::TClock::now() + std::chrono::milliseconds(total);
  const bool atOnce = FWriter->Start(std::move(job), done);
  const int error = errno;
  // Only a wait for EV_TXEMPTY cares that the output may have drained; a mask change that
  // adds it wakes the wait by itself.
  if (atOnce && txEmptyWatched) Wake();
  errno = error;
  return atOnce;
}

bool TPosixDevice::GetResult(TDirection direction, std::uint32_t& moved) {
  return (direction == TDirection::Read ? FReader : FWriter)->Result(moved);
}

std::uint32_t TPosixDevice::LineErrors() {
  TLineCounts now;
  if (!FCountsLines || !ReadLineCounts(FFd.Get(), now)) return 0;
  const std::uint32_t errors = LineErrorsBetween(FErrorCounts, now);
  FErrorCounts = now;
  return errors;
}

bool TPosixDevice::ClearCommError(std::uint32_t& errors, std::uint32_t* inQueue) {
  errors = 0;
  if (FGone.load()) return Fail(EIO);
  int waiting = 0;
  if (::ioctl(FFd.Get(), FIONREAD, &waiting) != 0) return false;
  if (inQueue) *inQueue = static_cast<std::uint32_t>(waiting);
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
