// The POSIX backend on real pseudo-terminals: our device opens the slave side, the test
// plays the far end on the master.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "serial/platform/ManualEvent.h"
#include "serial/platform/PosixDevice.h"
#include "serial/platform/PosixLineDriver.h"
#include "serial/platform/PosixPlatform.h"
#include "toolkit/ByteString.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct TPty {
  int Master = -1;
  std::string SlaveName;
  TPty() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&Master, &slave, name, nullptr, nullptr) != 0) return;
    SlaveName = name;
    ::close(slave);  // only the device under test keeps the slave open
    termios tios{};
    ::tcgetattr(Master, &tios);
    ::cfmakeraw(&tios);
    ::tcsetattr(Master, TCSANOW, &tios);
  }
  ~TPty() { CloseMaster(); }
  void CloseMaster() {
    if (Master >= 0) ::close(Master);
    Master = -1;
  }
  void Send(const ByteString& bytes) const {
    ASSERT_EQ(::write(Master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads exactly n bytes from the master, waiting at most 5 s.
  ByteString Receive(std::size_t n) const {
    ByteString got;
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      pollfd p{Master, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buffer[65536];
      const ssize_t r = ::read(Master, buffer, std::min(sizeof buffer, n - got.size()));
      if (r > 0) got.append(buffer, static_cast<std::size_t>(r));
    }
    return got;
  }
};

ByteString AllBytes() {
  ByteString s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

class PosixPty : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(FPty.SlaveName.empty()) << "no pty available";
    FDevice = FPlatform.Open(FPty.SlaveName);
    ASSERT_NE(FDevice, nullptr) << FPlatform.ErrorText(FPlatform.GetLastError());
    TDeviceControlBlock dcb;
    ASSERT_TRUE(FDevice->GetCommState(dcb));
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NoParity;
    dcb.StopBits = OneStopBit;
    ASSERT_TRUE(FDevice->SetCommState(dcb)) << FPlatform.GetLastError();
  }

  bool ReadAll(ByteString& into, std::uint32_t count, std::uint32_t& moved) {
    into.assign(count, '\0');
    TManualEvent done;
    done.Reset();
    if (!FDevice->StartRead(into.data(), count, done) && errno != ErrorIoPending) return false;
    const bool ok = FDevice->GetResult(TDirection::Read, moved);
    EXPECT_TRUE(done.IsSet());
    into.resize(moved);
    return ok;
  }

  TPosixPlatform FPlatform;
  TPty FPty;
  std::unique_ptr<IDevice> FDevice;
};

std::size_t OpenDescriptors() {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                std::filesystem::directory_iterator()));
}

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

TEST(PosixOpen, MissingDeviceAndSecondOpenerFailWithSystemCodes) {
  TPosixPlatform platform;
  errno = 0;
  EXPECT_EQ(platform.Open("/dev/korvex-no-such-device"), nullptr);
  EXPECT_EQ(platform.GetLastError(), ENOENT);
  EXPECT_EQ(platform.ErrorText(ENOENT), "No such file or directory");

  TPty pty;
  ASSERT_FALSE(pty.SlaveName.empty());
  auto first = platform.Open(pty.SlaveName);
  ASSERT_NE(first, nullptr);
  const std::size_t before = OpenDescriptors();
  EXPECT_EQ(platform.Open(pty.SlaveName), nullptr);
  EXPECT_EQ(platform.GetLastError(), EBUSY);
  EXPECT_EQ(OpenDescriptors(), before) << "a refused open left a descriptor behind";
  EXPECT_EQ(platform.ErrorText(EBUSY), "Device or resource busy");
  // Released on close: the next opener gets it.
  first.reset();
  EXPECT_NE(platform.Open(pty.SlaveName), nullptr) << platform.GetLastError();
}

// The exclusion ends with the process that held it, however it ended, and leaves no mark on
// the terminal.
TEST(PosixOpen, LineHeldByAKilledProcessOpensAgain) {
  TPty pty;
  ASSERT_FALSE(pty.SlaveName.empty());
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TPosixPlatform platform;
    auto device = platform.Open(pty.SlaveName);
    const char held = device ? 'y' : 'n';
    [[maybe_unused]] ssize_t n = ::write(ready[1], &held, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(held, 'y');
  TPosixPlatform platform;
  EXPECT_EQ(platform.Open(pty.SlaveName), nullptr);
  EXPECT_EQ(platform.GetLastError(), EBUSY);
  ::kill(child, SIGKILL);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  auto device = platform.Open(pty.SlaveName);
  EXPECT_NE(device, nullptr) << platform.ErrorText(platform.GetLastError());
  // Nothing left on the terminal that would keep out an unprivileged opener.
  const int fd = ::open(pty.SlaveName.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  int exclusive = 1;
  ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  ::close(fd);
}

TEST(PosixOpen, NonTerminalIsRefusedAndPermissionTextCarriesHint) {
  TPosixPlatform platform;
  EXPECT_EQ(platform.Open("/dev/null"), nullptr);
  EXPECT_EQ(platform.GetLastError(), ENOTTY);
  const std::string text = platform.ErrorText(EACCES);
  EXPECT_EQ(text.rfind("Permission denied", 0), 0u);
  EXPECT_NE(text.find("dialout"), std::string::npos);
}

TEST_F(PosixPty, EveryByteValuePassesUntouchedBothWays) {
  const ByteString all = AllBytes() + MakeBytes({0x0D, 0x0A, 0x11, 0x13, 0x0D, 0x03, 0x7F});
  FPty.Send(all);
  ByteString got;
  std::uint32_t moved = 0;
  ASSERT_TRUE(ReadAll(got, static_cast<std::uint32_t>(all.size()), moved));
  EXPECT_EQ(got, all);

  TManualEvent done;
  done.Reset();
  const bool atOnce = FDevice->StartWrite(all.data(), static_cast<std::uint32_t>(all.size()), done);
  ASSERT_TRUE(atOnce || errno == ErrorIoPending);
  ASSERT_TRUE(FDevice->GetResult(TDirection::Write, moved));
  EXPECT_EQ(moved, all.size());
  EXPECT_EQ(FPty.Receive(all.size()), all);
}

TEST_F(PosixPty, WriteOwnsItsBytesAndReturnsBeforeTheyAreRead) {
  // More than the pty holds, so the write is still running when the buffer goes.
  constexpr std::size_t size = 1 << 20;
  auto source = std::make_unique<ByteString>(size, '\0');
  for (std::size_t i = 0; i < size; ++i) (*source)[i] = static_cast<char>(i * 7 + i / 251);
  const ByteString expected = *source;
  TManualEvent done;
  done.Reset();
  EXPECT_FALSE(FDevice->StartWrite(source->data(), size, done));
  EXPECT_EQ(errno, ErrorIoPending);
  std::fill(source->begin(), source->end(), 'X');
  source.reset();
  EXPECT_FALSE(done.IsSet());
  EXPECT_EQ(FPty.Receive(size), expected);
  std::uint32_t moved = 0;
  ASSERT_TRUE(FDevice->GetResult(TDirection::Write, moved));
  EXPECT_EQ(moved, size);
  EXPECT_TRUE(done.IsSet());
}

TEST_F(PosixPty, ReadTimeoutsCutTheReadShort) {
  struct TCase {
    const char* What;
    TCommTimeouts Timeouts;
    std::uint32_t Count;
    std::size_t Sent;
    std::chrono::milliseconds AtLeast;
  } cases[] = {
      {"total constant", {0, 0, 200}, 10, 3, 150ms},
      {"total multiplier", {0, 20, 0}, 10, 2, 150ms},
      {"interval after first byte", {50, 0, 0}, 10, 4, 30ms},
      {"whatever waits, at once", {0xFFFFFFFF, 0, 0}, 10, 5, 0ms},
      {"waiting bytes at once", {0xFFFFFFFF, 0xFFFFFFFF, 2000}, 10, 3, 0ms},
      {"nothing until the constant", {0xFFFFFFFF, 0xFFFFFFFF, 150}, 10, 0, 120ms},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    ASSERT_TRUE(FDevice->SetCommTimeouts(c.Timeouts));
    FPty.Send(ByteString(c.Sent, 'a'));
    std::this_thread::sleep_for(20ms);  // let the bytes reach the slave
    const auto start = std::chrono::steady_clock::now();
    ByteString got;
    std::uint32_t moved = 0;
    ASSERT_TRUE(ReadAll(got, c.Count, moved));
    EXPECT_EQ(moved, c.Sent);
    EXPECT_EQ(got, ByteString(c.Sent, 'a'));
    EXPECT_GE(std::chrono::steady_clock::now() - start, c.AtLeast);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  }
}

TEST_F(PosixPty, HugeTotalTimeoutWaitsInsteadOfEndingAtOnce) {
  // MAXDWORD ms per byte: the total no longer fits the clock unless held.
  ASSERT_TRUE(FDevice->SetCommTimeouts({0, 0xFFFFFFFF, 0xFFFFFFFF}));
  FPty.Send("abc");
  std::this_thread::sleep_for(20ms);
  ByteString buffer(2200, '\0');
  TManualEvent done;
  done.Reset();
  EXPECT_FALSE(FDevice->StartRead(buffer.data(), 2200, done));
  EXPECT_EQ(errno, ErrorIoPending);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(done.IsSet()) << "the read ended at once";
  ASSERT_TRUE(FDevice->PurgeComm(PurgeRxAbort | PurgeRxClear));
  EXPECT_TRUE(done.IsSet());
}

TEST_F(PosixPty, PurgeEndsPendingReadWhichThenFails) {
  ByteString buffer(16, '\0');
  TManualEvent done;
  done.Reset();
  ASSERT_FALSE(FDevice->StartRead(buffer.data(), 16, done));
  ASSERT_EQ(errno, ErrorIoPending);
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(done.IsSet());
  ASSERT_TRUE(FDevice->PurgeComm(PurgeRxAbort | PurgeRxClear));
  // Ended by the time the purge returns, so nobody finds it outstanding afterwards.
  EXPECT_TRUE(done.IsSet());
  std::uint32_t moved = 99;
  EXPECT_FALSE(FDevice->GetResult(TDirection::Read, moved));
  EXPECT_EQ(errno, ECANCELED);
  EXPECT_EQ(moved, 0u);
  // The direction is usable again.
  FPty.Send("ok");
  ByteString got;
  ASSERT_TRUE(ReadAll(got, 2, moved));
  EXPECT_EQ(got, "ok");
}

TEST_F(PosixPty, WaitEndsOnMaskChangeAndReportsWaitingBytes) {
  // With no mask a wait could never end: it fails at once instead.
  std::uint32_t none = 0xFFFF;
  EXPECT_FALSE(FDevice->WaitCommEvent(none));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(none, 0u);
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar));
  std::atomic<std::uint32_t> reported{0xFFFF};
  std::thread waiter([&] {
    std::uint32_t events = 0xFFFF;
    FDevice->WaitCommEvent(events);
    reported = events;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(reported.load(), 0xFFFFu);  // nothing happened yet
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar | EvTxEmpty));
  waiter.join();
  EXPECT_EQ(reported.load(), 0u);

  // Bytes that arrived while nobody waited are reported by the next wait.
  FPty.Send("x");
  std::this_thread::sleep_for(20ms);
  std::uint32_t events = 0;
  ASSERT_TRUE(FDevice->WaitCommEvent(events));
  EXPECT_EQ(events, EvRxChar);
  std::uint32_t errors = 1, inQueue = 0;
  ASSERT_TRUE(FDevice->ClearCommError(errors, &inQueue));
  EXPECT_EQ(inQueue, 1u);
  EXPECT_EQ(errors, 0u);
}

TEST_F(PosixPty, BytesTheWaitSawButDidNotTakeAreStillCounted) {
  // The wait takes "ab" for OnRxChar; "cd" then wakes a wait whose mask does not take bytes.
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar));
  FPty.Send("ab");
  std::uint32_t events = 0;
  ASSERT_TRUE(FDevice->WaitCommEvent(events));
  ASSERT_TRUE(FDevice->SetCommMask(EvCts));
  FPty.Send("cd");
  std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(FDevice->SetCommMask(EvCts));  // looks at the line under the old mask
  std::uint32_t errors = 0, inQueue = 0;
  ASSERT_TRUE(FDevice->ClearCommError(errors, &inQueue));
  EXPECT_EQ(inQueue, 4u) << "bytes left in the terminal without a pending arrival";
  ByteString got;
  std::uint32_t moved = 0;
  ASSERT_TRUE(ReadAll(got, inQueue, moved));
  EXPECT_EQ(got, "abcd");
}

TEST_F(PosixPty, BytesTakenWhileHandlersAreHandedOverAreStillReported) {
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar));
  // The next report within a second, or 0; a wait that does not end is ended by a mask change.
  auto nextEvents = [this] {
    std::atomic<std::uint32_t> events{0};
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
      std::uint32_t e = 0;
      FDevice->WaitCommEvent(e);
      events = e;
      returned = true;
    });
    for (int i = 0; i < 100 && !returned; ++i) std::this_thread::sleep_for(10ms);
    if (!returned) FDevice->SetCommMask(EvRxChar);
    waiter.join();
    return events.load();
  };
  auto readCounted = [this] {
    std::uint32_t errors = 0, inQueue = 0, moved = 0;
    ByteString got;
    EXPECT_TRUE(FDevice->ClearCommError(errors, &inQueue));
    EXPECT_TRUE(ReadAll(got, inQueue, moved));
    return got;
  };
  const ByteString sent = ByteString(8000, 's') + "cd";  // more than the terminal's buffer
  FPty.Send(sent.substr(0, 8000));
  std::this_thread::sleep_for(20ms);
  ASSERT_EQ(nextEvents(), EvRxChar);
  ByteString got = readCounted();
  ASSERT_GE(got.size(), 2048u) << "the take must see a stream";
  // The rest comes after the handler's read and is taken before the next wait looks.
  FPty.Send("cd");
  std::this_thread::sleep_for(20ms);
  FDevice->TakeArrivingBytes();
  EXPECT_EQ(nextEvents(), EvRxChar) << "bytes taken early must still wake the next wait";
  got += readCounted();
  for (int i = 0; i < 10 && got.size() < sent.size() && nextEvents() != 0; ++i)
    got += readCounted();
  EXPECT_EQ(got, sent);
}

TEST_F(PosixPty, WriteDrainedIsReportedOnce) {
  ASSERT_TRUE(FDevice->SetCommMask(EvTxEmpty));
  TManualEvent done;
  done.Reset();
  const ByteString bytes = "abc";
  FDevice->StartWrite(bytes.data(), 3, done);
  std::uint32_t moved = 0;
  ASSERT_TRUE(FDevice->GetResult(TDirection::Write, moved));
  std::uint32_t events = 0;
  ASSERT_TRUE(FDevice->WaitCommEvent(events));
  EXPECT_EQ(events, EvTxEmpty);
  // Not again without a new write: this wait lasts until the mask changes.
  std::thread changer([&] {
    std::this_thread::sleep_for(100ms);
    FDevice->SetCommMask(EvTxEmpty);
  });
  ASSERT_TRUE(FDevice->WaitCommEvent(events));
  changer.join();
  EXPECT_EQ(events, 0u);
}

TEST_F(PosixPty, OutputThatLeftBeforeTxEmptyJoinedTheMaskIsNotReported) {
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar));
  TManualEvent done;
  done.Reset();
  FDevice->StartWrite("abc", 3, done);
  std::uint32_t moved = 0;
  ASSERT_TRUE(FDevice->GetResult(TDirection::Write, moved));
  EXPECT_EQ(FPty.Receive(3), "abc");
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar | EvTxEmpty));
  FPty.Send("x");
  std::uint32_t events = 0;
  ASSERT_TRUE(FDevice->WaitCommEvent(events));
  EXPECT_EQ(events, EvRxChar);
}

TEST_F(PosixPty, ModemStatusOfPtyIsNoLineOn) {
  std::uint32_t status = 0xFF;
  ASSERT_TRUE(FDevice->GetCommModemStatus(status));
  EXPECT_EQ(status, 0u);
}

TEST_F(PosixPty, StateKeepsWhatTheDeviceCarriesOutItself) {
  TDeviceControlBlock dcb;
  ASSERT_TRUE(FDevice->GetCommState(dcb));
  dcb.BaudRate = 14400;  // an arbitrary rate
  dcb.Flags |= fParity | fNull | fErrorChar;
  dcb.ErrorChar = '?';
  dcb.EvtChar = 0x7E;
  dcb.EofChar = 0x1A;
  dcb.XonLim = 100;  // no input flow control, so no level is at stake
  dcb.XoffLim = 200;
  ASSERT_TRUE(FDevice->SetCommState(dcb)) << errno;
  TDeviceControlBlock back;
  ASSERT_TRUE(FDevice->GetCommState(back));
  EXPECT_EQ(back, dcb);
}

// A refused block leaves the line as it was, whether refused before the first change or after
// the line turned part of it down.
TEST_F(PosixPty, RefusedBlockLeavesTheLineAsItWas) {
  struct TCase {
    const char* Setting;
    void (*Spoil)(TDeviceControlBlock&);
  } cases[] = {
      {"DTR dcHandshake",
       [](TDeviceControlBlock& d) { d.Flags = (d.Flags & ~fDtrControlMask) | (DtrControlHandshake << 4); }},
      {"Parity", [](TDeviceControlBlock& d) { d.Parity = EvenParity; }},  // no pty has parity
      {"DataBits", [](TDeviceControlBlock& d) { d.ByteSize = 7; }},
      {"opOutputCTSFlow", [](TDeviceControlBlock& d) {  // a pty has no CTS to wait for
         d.Flags = (d.Flags & ~fRtsControlMask) | fOutxCtsFlow | (RtsControlHandshake << 12);
       }},
      {"xcInput", [](TDeviceControlBlock& d) {  // a pty sends no XOff however full it is
         d.Flags |= fInX | fTXContinueOnXoff;
         d.XonLim = 128;
         d.XoffLim = 128;
       }},
  };
  TDeviceControlBlock before;
  ASSERT_TRUE(FDevice->GetCommState(before));
  termios lineBefore{};
  ASSERT_EQ(::tcgetattr(FPty.Master, &lineBefore), 0);  // a pty's ends share one record
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Setting);
    TDeviceControlBlock dcb = before;
    dcb.BaudRate = 57600;
    dcb.Flags |= fOutX;
    dcb.StopBits = TwoStopBits;
    c.Spoil(dcb);
    EXPECT_FALSE(FDevice->SetCommState(dcb));
    ASSERT_EQ(errno, EINVAL);
    EXPECT_EQ(FPlatform.LastErrorText(EINVAL).rfind(std::string(c.Setting) + " refused", 0), 0u)
        << FPlatform.LastErrorText(EINVAL);
    TDeviceControlBlock back;
    ASSERT_TRUE(FDevice->GetCommState(back));
    EXPECT_EQ(back, before);
    termios line{};
    ASSERT_EQ(::tcgetattr(FPty.Master, &line), 0);
    EXPECT_EQ(::cfgetospeed(&line), ::cfgetospeed(&lineBefore));
    EXPECT_EQ(line.c_cflag, lineBefore.c_cflag);
    EXPECT_EQ(line.c_iflag, lineBefore.c_iflag);
  }
}

// Nulls dropped and marked bytes taken out in the read path; the queue count says what reads
// will deliver, so a read of that many never waits.
TEST_F(PosixPty, ReadPathDropsNullsAndUnmarksAndCountsWhatItDelivers) {
  TDeviceControlBlock dcb;
  ASSERT_TRUE(FDevice->GetCommState(dcb));
  dcb.Flags |= fNull | fParity;
  ASSERT_TRUE(FDevice->SetCommState(dcb));
  // The line doubles a true FF while it marks bad bytes.
  FPty.Send(ByteString("\0A\xFF\0B\0\0C", 8));
  std::this_thread::sleep_for(50ms);
  std::uint32_t errors = 0, inQueue = 0;
  ASSERT_TRUE(FDevice->ClearCommError(errors, &inQueue));
  EXPECT_EQ(inQueue, 4u);
  ByteString got;
  std::uint32_t moved = 0;
  ASSERT_TRUE(ReadAll(got, inQueue, moved));
  EXPECT_EQ(got, ByteString("A\xFF" "BC"));
}

TEST_F(PosixPty, VanishedPeerNeitherSpinsNorInventsEvents) {
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar | EvTxEmpty | EvCts | EvErr));
  std::atomic<std::uint32_t> reported{0xFFFF};
  std::atomic<int> wakeups{0};
  std::thread waiter([&] {
    std::uint32_t events = 0xFFFF;
    // Like the event thread: wait again after each wake-up; 0 means the mask changed.
    for (;;) {
      FDevice->WaitCommEvent(events);
      ++wakeups;
      if (events == 0) break;
      reported = events;
    }
  });
  std::this_thread::sleep_for(50ms);
  FPty.CloseMaster();
  const double cpuBefore = CpuSeconds();
  std::this_thread::sleep_for(1s);
  const double cpu = CpuSeconds() - cpuBefore;
  EXPECT_LT(cpu, 0.3) << "the wait spins on a vanished peer";
  EXPECT_EQ(reported.load(), 0xFFFFu) << "an event that did not happen was reported";
  ASSERT_TRUE(FDevice->SetCommMask(0));
  waiter.join();
  EXPECT_EQ(wakeups.load(), 1);

  // Once gone, transfers and the queue count fail rather than report success.
  std::uint32_t errors = 0;
  EXPECT_FALSE(FDevice->ClearCommError(errors, nullptr));
  EXPECT_EQ(errno, EIO);
  ByteString got;
  std::uint32_t moved = 0;
  EXPECT_FALSE(ReadAll(got, 4, moved));
  EXPECT_EQ(errno, EIO);
  // The device can still be purged and closed.
  EXPECT_TRUE(FDevice->PurgeComm(PurgeRxAbort | PurgeRxClear | PurgeTxAbort | PurgeTxClear));
}

TEST_F(PosixPty, WriteToStalledPeerEndsByTimeoutOrPurge) {
  // The far end reads nothing, so a large write cannot finish by itself.
  constexpr std::uint32_t size = 1 << 20;
  const ByteString bytes(size, 'w');
  std::uint32_t moved = 0;

  ASSERT_TRUE(FDevice->SetCommTimeouts({0, 0, 0, 0, 150}));
  TManualEvent done;
  done.Reset();
  EXPECT_FALSE(FDevice->StartWrite(bytes.data(), size, done));
  ASSERT_TRUE(FDevice->GetResult(TDirection::Write, moved));
  EXPECT_LT(moved, size);  // cut short: success with fewer bytes
  EXPECT_TRUE(done.IsSet());

  ASSERT_TRUE(FDevice->SetCommTimeouts({}));
  done.Reset();
  EXPECT_FALSE(FDevice->StartWrite(bytes.data(), size, done));
  // A second transfer of the same direction is refused while one runs.
  TManualEvent other;
  EXPECT_FALSE(FDevice->StartWrite(bytes.data(), 1, other));
  EXPECT_EQ(errno, EBUSY);
  ASSERT_TRUE(FDevice->PurgeComm(PurgeTxAbort | PurgeTxClear));
  EXPECT_TRUE(done.IsSet());
  EXPECT_FALSE(FDevice->GetResult(TDirection::Write, moved));
  EXPECT_EQ(errno, ECANCELED);
}

namespace {

// A driver with a UART's counters, modem-line wait and drain, moved by the test.
class TFakeDriver : public ILineDriver {
 public:
  bool Counts(TLineCounts& counts) override {
    std::lock_guard lock(FLock);
    counts = FCounts;
    return true;
  }
  bool WaitModemChange() override {
    std::unique_lock lock(FLock);
    const int seen = FModemChanges;
    return Block(lock, [&] { return FModemChanges != seen; });
  }
  bool Drain() override {
    std::unique_lock lock(FLock);
    return Block(lock, [&] { return !FHoldOutput; });
  }
  void Interrupt(pthread_t thread) override {
    std::lock_guard lock(FLock);
    FInterrupted.push_back(thread);
    FChanged.notify_all();
  }
  // A line changes (modem lines wake the modem wait) or an error is counted.
  void Count(int TLineCounts::*field, bool modemLine) {
    std::lock_guard lock(FLock);
    ++(FCounts.*field);
    if (modemLine) ++FModemChanges;
    FChanged.notify_all();
  }
  // The output stays in the UART (flow control holds it) until released.
  void HoldOutput(bool hold) {
    std::lock_guard lock(FLock);
    FHoldOutput = hold;
    FChanged.notify_all();
  }

 private:
  template <typename Done>
  bool Block(std::unique_lock<std::mutex>& lock, Done done) {
    const pthread_t self = ::pthread_self();
    auto interrupted = [&] {
      for (auto it = FInterrupted.begin(); it != FInterrupted.end(); ++it)
        if (::pthread_equal(*it, self)) {
          FInterrupted.erase(it);
          return true;
        }
      return false;
    };
    bool stop = false;
    FChanged.wait(lock, [&] { return (stop = interrupted()) || done(); });
    if (stop) errno = EINTR;
    return !stop;
  }
  std::mutex FLock;
  std::condition_variable FChanged;
  TLineCounts FCounts;
  int FModemChanges = 0;
  bool FHoldOutput = false;
  std::vector<pthread_t> FInterrupted;
};

// Waits like the event thread, one wait after the other, and keeps what each reported.
class TWaiter {
 public:
  explicit TWaiter(IDevice& device) : FDevice(device), FThread([this] { Run(); }) {}
  ~TWaiter() {
    FDevice.SetCommMask(0);
    FThread.join();
  }
  // The next report, or 0 when none came within the time.
  std::uint32_t Next(std::chrono::milliseconds limit = 5s) {
    std::unique_lock lock(FLock);
    if (!FChanged.wait_for(lock, limit, [this] { return !FReports.empty(); })) return 0;
    const std::uint32_t events = FReports.front();
    FReports.erase(FReports.begin());
    return events;
  }

 private:
  void Run() {
    std::uint32_t events = 0;
    while (FDevice.WaitCommEvent(events)) {
      if (events == 0) continue;  // the mask changed
      std::lock_guard lock(FLock);
      FReports.push_back(events);
      FChanged.notify_all();
    }
  }
  IDevice& FDevice;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::uint32_t> FReports;
  std::thread FThread;
};

}  // namespace

TEST(PosixLineDriver, ModemLinesErrorsBreaksAndDrainWakeTheWaitByThemselves) {
  TPty pty;
  ASSERT_FALSE(pty.SlaveName.empty());
  auto owned = std::make_unique<TFakeDriver>();
  TFakeDriver& driver = *owned;
  auto device = TPosixDevice::Open(pty.SlaveName, std::move(owned));
  ASSERT_NE(device, nullptr) << errno;
  // No OnRxChar: errors and breaks are still reported.
  ASSERT_TRUE(device->SetCommMask(EvCts | EvDsr | EvRing | EvRlsd | EvErr | EvBreak | EvTxEmpty));
  {
    TWaiter waiter(*device);
    struct TCase {
      const char* Name;
      int TLineCounts::*Field;
      bool ModemLine;
      const char* Carrier;  // the byte the UART delivers with an error, if any
      std::uint32_t Expected;
    };
    const TCase cases[] = {
        {"CTS", &TLineCounts::Cts, true, nullptr, EvCts},
        {"DSR", &TLineCounts::Dsr, true, nullptr, EvDsr},
        {"RING", &TLineCounts::Ring, true, nullptr, EvRing},
        {"DCD", &TLineCounts::Rlsd, true, nullptr, EvRlsd},
        {"frame error", &TLineCounts::Frame, false, "x", EvErr},
        {"parity error", &TLineCounts::Parity, false, "y", EvErr},
        {"break", &TLineCounts::Break, false, "", EvBreak},
    };
    for (const TCase& c : cases) {
      SCOPED_TRACE(c.Name);
      driver.Count(c.Field, c.ModemLine);
      if (c.Carrier) pty.Send(ByteString(c.Carrier, 1));  // "" carries a NUL
      EXPECT_EQ(waiter.Next(), c.Expected);
    }
    // Output held in the UART: the wait sleeps until the drain says it has left.
    driver.HoldOutput(true);
    TManualEvent done;
    done.Reset();
    const std::uint64_t before = device->WaitWakeUps();
    device->StartWrite("abc", 3, done);
    EXPECT_EQ(waiter.Next(300ms), 0u);
    EXPECT_LE(device->WaitWakeUps() - before, 1u) << "wake-ups while the output was stalled";
    driver.HoldOutput(false);
    EXPECT_EQ(waiter.Next(), EvTxEmpty);
    EXPECT_EQ(pty.Receive(3), "abc");
  }
  // The device ends while its watchers are blocked in the driver.
  device.reset();
}

TEST_F(PosixPty, FlagCharacterAndEightyPercentComeFromArrivingBytesInOrder) {
  TDeviceControlBlock dcb;
  ASSERT_TRUE(FDevice->GetCommState(dcb));
  dcb.EvtChar = '~';
  ASSERT_TRUE(FDevice->SetCommState(dcb));
  ASSERT_TRUE(FDevice->SetupComm(100, 100));
  ASSERT_TRUE(FDevice->SetCommMask(EvRxFlag | EvRx80Full));
  TWaiter waiter(*FDevice);
  FPty.Send("ab");
  EXPECT_EQ(waiter.Next(200ms), 0u);
  FPty.Send("c~");
  EXPECT_EQ(waiter.Next(), EvRxFlag);
  FPty.Send(ByteString(76, '.'));  // 80 of 100 queued
  EXPECT_EQ(waiter.Next(), EvRx80Full);
  // The bytes the wait looked at are read first, in order; so are later ones for a read that
  // was already waiting.
  ByteString got;
  std::uint32_t moved = 0;
  ASSERT_TRUE(ReadAll(got, 80, moved));
  EXPECT_EQ(got, "abc~" + ByteString(76, '.'));
  got.assign(4, '\0');
  TManualEvent done;
  done.Reset();
  EXPECT_FALSE(FDevice->StartRead(got.data(), 4, done));
  FPty.Send("xy~z");
  EXPECT_EQ(waiter.Next(), EvRxFlag);
  ASSERT_TRUE(FDevice->GetResult(TDirection::Read, moved));
  EXPECT_EQ(got, "xy~z");
}
