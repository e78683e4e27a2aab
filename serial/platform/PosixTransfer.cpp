#include "serial/platform/PosixTransfer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <cerrno>

namespace platform {
namespace {

void Drain(int fd) {
  std::uint64_t value;
  while (::read(fd, &value, sizeof value) > 0) {
  }
}

void Signal(int fd) {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

}  // namespace

TPosixTransfer::TPosixTransfer(TDirection direction, int fd, std::atomic<bool>& gone,
                               std::function<void()> onFinished)
    : FDirection(direction),
      FFd(fd),
      FGone(gone),
      FOnFinished(std::move(onFinished)),
      FWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!FWake.Valid()) return;
  try {
    FWorker = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    errno = e.code().value();
  }
}

TPosixTransfer::~TPosixTransfer() {
  {
    std::lock_guard lock(FLock);
    FQuit = true;
    FCancel = true;
    FChanged.notify_all();
  }
  if (FWake.Valid()) Signal(FWake.Get());
  if (FWorker.joinable()) FWorker.join();
}

void TPosixTransfer::Finish(std::uint32_t moved, int error, IEvent& done) {
  std::lock_guard lock(FLock);
  FMoved = moved;
  FError = error;
  done.Set();
}

bool TPosixTransfer::Start(TJob job, IEvent& done) {
  {
    std::lock_guard lock(FLock);
    if (FRunning || FJob) {
      errno = EBUSY;
      return false;
    }
    FNudged = false;  // the reads below look at the source anyway
  }
  if (FGone.load()) {
    Finish(0, EIO, done);
    errno = EIO;
    return false;
  }
  // Whatever the device can take or give at once is moved here; only the rest waits.
  while (job.Moved < job.Count) {
    ssize_t n = FDirection == TDirection::Read
                    ? ReadSome(job.ReadBuffer + job.Moved, job.Count - job.Moved, false)
                    : ::write(FFd, job.WriteBytes.data() + job.Moved, job.Count - job.Moved);
    if (n > 0) {
      job.Moved += static_cast<std::uint32_t>(n);
      continue;
    }
    const int error = n == 0 ? EIO : errno;
    if (n < 0 && (error == EAGAIN || error == EINTR)) break;
    if (error == EIO) FGone.store(true);
    Finish(job.Moved, error, done);
    errno = error;
    return false;
  }
  const bool atOnce = job.Moved == job.Count || (job.AnyByte && job.Moved > 0) ||
                      (job.Deadline && *job.Deadline <= TClock::now());
  if (atOnce) {
    Finish(job.Moved, 0, done);
    return true;
  }
  std::lock_guard lock(FLock);
  FJob = std::move(job);
  FDone = &done;
  FRunning = true;
  FCancel = false;
  FChanged.notify_all();
  errno = ErrorIoPending;
  return false;
}

bool TPosixTransfer::Result(std::uint32_t& moved) {
  std::unique_lock lock(FLock);
  FChanged.wait(lock, [this] { return !FRunning; });
  moved = FMoved;
  if (FError != 0) {
    errno = FError;
    return false;
  }
  return true;
}

void TPosixTransfer::Cancel() {
  std::unique_lock lock(FLock);
  if (!FRunning) return;
  FCancel = true;
  Signal(FWake.Get());
  FChanged.wait(lock, [this] { return !FRunning; });
  Drain(FWake.Get());
}

void TPosixTransfer::Run() {
  std::unique_lock lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FQuit || FJob.has_value(); });
    if (FQuit) {
      if (FJob) {
        FJob.reset();
        FError = ECANCELED;
        FRunning = false;
        FDone->Set();
        FChanged.notify_all();
      }
      return;
    }
    TJob job = std::move(*FJob);
    lock.unlock();
    const int error = Transfer(job);
    lock.lock();
    FJob.reset();
    FMoved = job.Moved;
    FError = error;
    FRunning = false;
    FDone->Set();
    FChanged.notify_all();
    if (FOnFinished) FOnFinished();
  }
}

ssize_t TPosixTransfer::ReadSome(std::uint8_t* buffer, std::size_t count, bool waited) {
  return FRead ? FRead(buffer, count, waited) : ::read(FFd, buffer, count);
}

void TPosixTransfer::Nudge() {
  {
    std::lock_guard lock(FLock);
    FNudged = true;
    // Only a waiting worker needs waking; one about to start sees the flag.
    if (!FRunning) return;
  }
  if (FWake.Valid()) Signal(FWake.Get());
}

bool TPosixTransfer::Running() {
  std::lock_guard lock(FLock);
  return FRunning;
}

int TPosixTransfer::Transfer(TJob& job) {
  const bool reading = FDirection == TDirection::Read;
  TClock::time_point lastByte = TClock::now();
  while (job.Moved < job.Count) {
    if (job.AnyByte && job.Moved > 0) break;
    const TClock::time_point now = TClock::now();
    std::optional<TClock::time_point> until = job.Deadline;
    if (reading && job.Interval.count() > 0 && job.Moved > 0) {
      const TClock::time_point gapEnd = lastByte + job.Interval;
      until = until ? std::min(*until, gapEnd) : gapEnd;
    }
    int timeout = -1;
    if (until) {
      if (*until <= now) break;  // cut short by a timeout: success with fewer bytes
      timeout = static_cast<int>(
          std::chrono::ceil<std::chrono::milliseconds>(*until - now).count());
    }
    pollfd fds[2] = {{FFd, static_cast<short>(reading ? POLLIN : POLLOUT), 0},
                     {FWake.Get(), POLLIN, 0}};
    bool nudged = false;
    if (reading) {
      std::lock_guard lock(FLock);
      nudged = std::exchange(FNudged, false);
    }
    // Nudged: the source has bytes the descriptor does not show, so poll() would not end.
    const int r = nudged ? ::poll(fds, 2, 0) : ::poll(fds, 2, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (fds[1].revents & POLLIN) {
      std::lock_guard lock(FLock);
      if (FCancel || FQuit) return ECANCELED;
      Drain(FWake.Get());  // a stale signal must not turn this loop into a spin
      nudged = nudged || reading;
    }
    if (r == 0 && !nudged) continue;  // the deadline check above ends the transfer
    if (nudged || (fds[0].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR))) {
      ssize_t n = reading ? ReadSome(job.ReadBuffer + job.Moved, job.Count - job.Moved, true)
                          : ::write(FFd, job.WriteBytes.data() + job.Moved,
                                    job.Count - job.Moved);
      if (n > 0) {
        job.Moved += static_cast<std::uint32_t>(n);
        lastByte = TClock::now();
        continue;
      }
      const int error = n == 0 ? EIO : errno;
      if (n < 0 && (error == EAGAIN || error == EINTR)) {
        if (!(fds[0].revents & (POLLHUP | POLLERR))) continue;
        FGone.store(true);  // hung up: never loop on it
        return EIO;
      }
      if (error == EIO) FGone.store(true);
      return error;
    }
    if (fds[0].revents & POLLNVAL) return EBADF;
  }
  return 0;
}

}  // namespace platform
