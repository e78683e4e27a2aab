#include "serial/platform/PosixDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "serial/platform/LastFailure.h"
#include "serial/platform/PosixBaudRate.h"
#include "serial/platform/PosixTermios.h"

namespace platform {
namespace {

constexpr std::uint32_t MaxDword = 0xFFFFFFFFu;

constexpr unsigned UnixPtySlaveMajor = 136;  // and the seven after it

bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

// A total time limit of up to (2^32-1)^2 + 2^32-1 ms, which fits 64 bits; beyond a century it
// is held at a century, so the clock's arithmetic cannot overflow.
std::optional<TPosixTransfer::TClock::time_point> TotalDeadline(std::uint32_t multiplier,
                                                                 std::uint32_t count,
                                                                 std::uint32_t constant) {
  constexpr std::uint64_t century = 100ull * 365 * 24 * 3600 * 1000;
  const std::uint64_t total = static_cast<std::uint64_t>(multiplier) * count + constant;
  if (total == 0) return std::nullopt;
  return TPosixTransfer::TClock::now() + std::chrono::milliseconds(std::min(total, century));
}

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
  // A flock, not TIOCEXCL: the kernel drops it with the process however that ends, while the
  // exclusive flag stays on the terminal and locks out the next start.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) errno = EBUSY;
    return nullptr;
  }
  MakeRaw(tios);
  if (::tcsetattr(fd.Get(), TCSANOW, &tios) != 0) {
    const int error = errno;
    ::flock(fd.Get(), LOCK_UN);
    errno = error;
    return nullptr;
  }
  std::uint32_t rate = 0;
  if (PosixGetBaudRate(fd.Get(), &rate) != 0) rate = RateOfSpeed(cfgetospeed(&tios));

  struct stat node {};
  const bool pseudo = ::fstat(fd.Get(), &node) == 0 && major(node.st_rdev) >= UnixPtySlaveMajor &&
                      major(node.st_rdev) < UnixPtySlaveMajor + 8;

  std::unique_ptr<TPosixDevice> device(new TPosixDevice(std::move(fd)));
  device->FPseudo = pseudo;
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
  FWriter = std::make_unique<TPosixTransfer>(TDirection::Write, FFd.Get(), FGone,
                                             [this] { Wake(); });
  FReader->SetReader([this](std::uint8_t* buffer, std::size_t count) {
    return ReadInput(buffer, count);
  });
  if (!FMaskWake.Valid()) errno = error;
}

TPosixDevice::~TPosixDevice() {
  FReader.reset();
  FWriter.reset();
  // A copy of the descriptor in a forked child would otherwise keep the line locked.
  if (FFd.Valid()) ::flock(FFd.Get(), LOCK_UN);
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
  std::string reason;
  // Every refusal comes before the first change, so a refused block leaves the line alone.
  if (const int error = DcbToTermios(dcb, tios, customRate, &reason); error != 0)
    return Refuse(error, reason);
  // The line discipline asks the driver to send XOff, and a pty's driver has no way to.
  if (FPseudo && (dcb.Flags & fInX))
    return Refuse(EINVAL, "xcInput refused: a pseudo-terminal never sends XOff");
  if (FPseudo && (dcb.Flags & fOutxCtsFlow))
    return Refuse(EINVAL, "opOutputCTSFlow refused: a pseudo-terminal has no CTS line");

  // The line takes the whole block or stays as it was: a failing step puts back the record
  // and the modem lines found.
  TSavedLine saved;
  if (const int error = PosixSaveLine(FFd.Get(), saved); error != 0) return Fail(error);
  int linesBefore = 0;
  const bool hasLines = ::ioctl(FFd.Get(), TIOCMGET, &linesBefore) == 0;
  auto undo = [&](int error) {
    PosixRestoreLine(FFd.Get(), saved);
    if (hasLines) ::ioctl(FFd.Get(), TIOCMSET, &linesBefore);
    return Fail(error);
  };
  if (::tcsetattr(FFd.Get(), TCSANOW, &tios) != 0) return undo(errno);
  if (customRate != 0)
    if (const int error = PosixSetBaudRate(FFd.Get(), customRate); error != 0) return undo(error);
  termios taken{};
  if (::tcgetattr(FFd.Get(), &taken) != 0) return undo(errno);
  if (std::string missing = SettingNotTaken(tios, taken); !missing.empty()) {
    undo(EINVAL);
    return Refuse(EINVAL, std::move(missing));
  }

  // DTR and RTS levels; terminals without modem lines (ptys) refuse, which is no failure.
  const std::uint32_t dtr = (dcb.Flags & fDtrControlMask) >> 4;
  const std::uint32_t rts = (dcb.Flags & fRtsControlMask) >> 12;
  auto line = [this](int bit, bool on) {
    return ::ioctl(FFd.Get(), on ? TIOCMBIS : TIOCMBIC, &bit) == 0 || NoModemLines(errno);
  };
  if (!line(TIOCM_DTR, dtr == DtrControlEnable)) return undo(errno);
  // With RTS handshake the driver owns the line.
  if (rts != RtsControlHandshake && !line(TIOCM_RTS, rts == RtsControlEnable)) return undo(errno);

  {
    std::lock_guard input(FInputLock);
    TInputFilter::TSettings filter;
    filter.Unmark = dcb.Flags & fParity;
    filter.ReplaceBad = (dcb.Flags & fParity) && (dcb.Flags & fErrorChar);
    filter.ErrorChar = dcb.ErrorChar;
    filter.DropNulls = dcb.Flags & fNull;
    FFilter.Configure(filter);
  }
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
  if (flags & PurgeRxClear) {
    std::lock_guard input(FInputLock);
    FInput.clear();
    FFilter.Reset();
  }
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
    job.Deadline = TotalDeadline(t.ReadTotalTimeoutMultiplier, count, t.ReadTotalTimeoutConstant);
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
  job.Deadline = TotalDeadline(t.WriteTotalTimeoutMultiplier, count, t.WriteTotalTimeoutConstant);
  const bool atOnce = FWriter->Start(std::move(job), done);
  const int error = errno;
  if (atOnce) Wake();  // a waiter may now see the output drained
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
  if (inQueue) {
    std::lock_guard input(FInputLock);
    std::uint32_t count = static_cast<std::uint32_t>(waiting) + FInput.size();
    if (FFilter.Active()) {
      // The line's count has marks and nulls that no read delivers: count what reads will
      // get. A running read takes arriving bytes itself, as a pending read does on Windows.
      if (!FReader->Running()) DrainInput();
      count = FInput.size();
    }
    *inQueue = count;
  }
  std::lock_guard lock(FLock);
  errors = LineErrors();
  return true;
}

ssize_t TPosixDevice::ReadInput(std::uint8_t* buffer, std::size_t count) {
  std::lock_guard input(FInputLock);
  if (FInput.empty() && !FFilter.Active()) return ::read(FFd.Get(), buffer, count);
  ssize_t last = 1;
  // Filtering only shrinks what was read, so reading no more than is missing never over-reads.
  while (FInput.size() < count) {
    std::uint8_t raw[4096];
    last = ::read(FFd.Get(), raw, std::min(sizeof raw, count - FInput.size()));
    if (last <= 0) break;
    FFilter.Filter(raw, static_cast<std::size_t>(last), FInput);
  }
  if (FInput.empty()) return last;  // errno from the read that found nothing
  const std::size_t n = std::min(count, FInput.size());
  std::memcpy(buffer, FInput.data(), n);
  FInput.erase(0, n);
  return static_cast<ssize_t>(n);
}

void TPosixDevice::DrainInput() {
  const int error = errno;
  std::uint8_t raw[4096];
  for (;;) {
    const ssize_t n = ::read(FFd.Get(), raw, sizeof raw);
    if (n <= 0) break;  // empty, or a failure the next transfer reports
    FFilter.Filter(raw, static_cast<std::size_t>(n), FInput);
  }
  errno = error;
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
