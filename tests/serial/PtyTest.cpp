// The port on real pseudo-terminals through the native backend.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "serial/ComPort.h"

namespace {

using namespace std::chrono_literals;

// One pty: the port opens the slave by name, the test plays the peer on the master.
class PtyPair {
 public:
  PtyPair() {
    char name[256] = {};
    if (::openpty(&FMaster, &FSlave, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    FName = name;
    termios raw{};
    ::tcgetattr(FMaster, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(FMaster, TCSANOW, &raw);
  }
  ~PtyPair() {
    ::close(FMaster);
    ::close(FSlave);
  }
  const std::string& Name() const { return FName; }
  int Slave() const { return FSlave; }
  void Send(const std::string& bytes) {
    ASSERT_EQ(::write(FMaster, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Everything the port sent, until `count` bytes arrived or two seconds passed.
  std::string Receive(std::size_t count) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
      pollfd p{FMaster, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int FMaster = -1, FSlave = -1;
  std::string FName;
};

// Waits, bounded, until the port's input queue holds `count` bytes.
bool WaitForInput(TCustomComPort& port, std::int32_t count) {
  const auto end = std::chrono::steady_clock::now() + 2s;
  while (port.InputCount() < count) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

std::string AllBytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
  return s;
}

TEST(PortOnPty, OpensByNameAndSetsTheLine) {
  PtyPair pty;
  TComPort port(nullptr);
  port.SetDeviceName(pty.Name());
  // The window's settings at start.
  port.SetBaudRate(TBaudRate::br4800);
  port.SetDataBits(TDataBits::db8);
  port.SetParity(TParity::paNone);
  port.SetStopBits(TStopBits::sb1);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.Slave(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B4800);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));  // a raw line: no byte is changed or echoed
  EXPECT_FALSE(t.c_iflag & (ICRNL | IXON));

  port.SetBaudRate(TBaudRate::br115200);  // reaches the open device at once
  port.SetStopBits(TStopBits::sb2);
  ASSERT_EQ(::tcgetattr(pty.Slave(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B115200);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  port.SetActive(false);
  EXPECT_FALSE(port.Active());
}

// A setting the line cannot carry out fails the open with a message that names it, and the
// port ends closed.
TEST(PortOnPty, SettingTheLineCannotTakeFailsTheOpenNamingIt) {
  struct TCase {
    const char* Setting;
    void (*Set)(TComPort&);
  } cases[] = {
      {"Parity", [](TComPort& p) { p.SetParity(TParity::paEven); }},  // no pty has parity
      {"StopBits sb1_5", [](TComPort& p) { p.SetStopBits(TStopBits::sb1_5); }},
      {"RTS rcToggle", [](TComPort& p) { p.FlowControl().SetRTS(TRTSControl::rcToggle); }},
      {"opOutputDSRFlow", [](TComPort& p) { p.SetOptions(TOptions{TOption::opOutputDSRFlow}); }},
      {"opAbortOnError", [](TComPort& p) { p.SetOptions(TOptions{TOption::opAbortOnError}); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Setting);
    PtyPair pty;
    TComPort port(nullptr);
    port.SetDeviceName(pty.Name());
    port.SetBaudRate(TBaudRate::br9600);
    port.SetDataBits(TDataBits::db8);
    c.Set(port);
    try {
      port.SetActive(true);
      ADD_FAILURE() << "opened";
    } catch (const EComError& e) {
      EXPECT_EQ(e.ErrorCode(), EINVAL);
      EXPECT_EQ(std::string(e.Message()).rfind(std::string(c.Setting) + " refused", 0), 0u)
          << e.Message();
    }
    EXPECT_FALSE(port.Active());
  }
}

int NiceOf(pid_t thread) { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread)); }

// The class is the whole process's: every thread takes it, keeping its distance, and each
// has its own value back after Close.
TEST(PortOnPty, PriorityClassReachesEveryThreadAndIsGivenBackExactly) {
  if (::getuid() != 0) GTEST_SKIP() << "raising the priority needs privileges";
  PtyPair pty;
  const pid_t main = ::getpid();
  const int mainBefore = NiceOf(main);
  std::atomic<pid_t> helper{0};
  std::atomic<bool> stop{false};
  std::thread other([&] {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), mainBefore + 3);
    helper = ::gettid();
    while (!stop) std::this_thread::sleep_for(5ms);
  });
  while (helper == 0) std::this_thread::sleep_for(1ms);
  TComPort port(nullptr);
  port.SetDeviceName(pty.Name());
  port.SetPriorityClass(TPriorityClass::pcHigh);
  port.SetActive(true);
  EXPECT_EQ(NiceOf(main), -10);
  EXPECT_EQ(NiceOf(helper), -7);
  port.SetActive(false);
  EXPECT_EQ(NiceOf(main), mainBefore);
  EXPECT_EQ(NiceOf(helper), mainBefore + 3);
  stop = true;
  other.join();
}

// An ordinary user could not raise the priority again after pcIdle: refused at open, and the
// process keeps its priority.
TEST(PortOnPty, PriorityClassThatCouldNotBeGivenBackIsRefusedAtOpen) {
  PtyPair pty;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    ::syscall(SYS_capget, &header, caps);
    caps[0].effective &= ~(1u << CAP_SYS_NICE);
    ::syscall(SYS_capset, &header, caps);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_NICE, &none);
    const int before = NiceOf(::getpid());
    TComPort port(nullptr);
    port.SetDeviceName(pty.Name());
    port.SetPriorityClass(TPriorityClass::pcIdle);
    int result = 1;
    try {
      port.SetActive(true);
    } catch (const EComError& e) {
      result = e.Message().rfind("PriorityClass pcIdle refused", 0) == 0 ? 0 : 2;
    }
    if (port.Active() || NiceOf(::getpid()) != before) result = 3;
    ::_exit(result);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened, 2: other message, 3: process changed";
}

TEST(PortOnPty, SecondOpenerIsRefusedAndEndsClosed) {
  PtyPair pty;
  TComPort first(nullptr), second(nullptr);
  first.SetDeviceName(pty.Name());
  second.SetDeviceName(pty.Name());
  first.SetActive(true);
  try {
    second.SetActive(true);
    ADD_FAILURE() << "second open succeeded";
  } catch (const EComError& e) {
    EXPECT_NE(e.ErrorCode(), 0);
    EXPECT_FALSE(e.Message().empty());
  }
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(second.EventThread(), nullptr);
  EXPECT_TRUE(first.Active());
  first.SetActive(false);
  second.SetActive(true);  // free again once the first has closed
  EXPECT_TRUE(second.Active());
}

TEST(PortOnPty, MissingDeviceGivesThePlatformCodeAndText) {
  TComPort port(nullptr);
  port.SetDeviceName("/dev/korvex-no-such-device");
  try {
    port.SetActive(true);
    ADD_FAILURE() << "opened a missing device";
  } catch (const EComError& e) {
    EXPECT_EQ(e.ErrorCode(), ENOENT);
    EXPECT_FALSE(e.Message().empty());
    const char last = e.Message().back();
    EXPECT_TRUE(last != '.' && last != ' ' && last != '\n') << e.Message();
  }
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(port.EventThread(), nullptr);
}

TEST(PortOnPty, ReadTextTakesExactlyTheWaitingBytes) {
  PtyPair pty;
  TComPort port(nullptr);
  port.SetDeviceName(pty.Name());
  port.SetActive(true);
  const std::string sent = AllBytes();
  pty.Send(sent);
  ASSERT_TRUE(WaitForInput(port, 256));
  EXPECT_EQ(port.ReadText(), sent);
  EXPECT_EQ(port.ReadText(), "");
}

TEST(PortOnPty, WriteTextReturnsBeforeTheBytesLeave) {
  PtyPair pty;
  TComPort port(nullptr);
  port.SetDeviceName(pty.Name());
  port.SetActive(true);
  std::string expected;
  for (int i = 0; i < 256; ++i) expected += AllBytes();  // more than the pty buffers
  {
    auto text = std::make_unique<ByteString>(expected);
    const auto start = std::chrono::steady_clock::now();
    port.WriteText(*text);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  }  // the caller's text is gone while the write is still running
  EXPECT_EQ(pty.Receive(expected.size()), expected);
  EXPECT_NO_THROW(port.WaitForWriteCompletion());
}

TEST(PortOnPty, ReadCutShortByTheTimeoutsRaisesTimeout) {
  PtyPair pty;
  TComPort port(nullptr);
  port.SetDeviceName(pty.Name());
  port.Timeouts().SetReadConstant(100);
  port.SetActive(true);
  pty.Send("abc");
  char buffer[10] = {};
  try {
    port.Read(buffer, 10, true);
    ADD_FAILURE() << "read of 10 bytes completed with 3 sent";
  } catch (const EComError& e) {
    EXPECT_EQ(e.ErrorCode(), 0);
    EXPECT_EQ(e.Message(), "Timeout");
  }
  EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST(PortOnPty, PurgeInputDiscardsWaitingBytes) {
  PtyPair pty;
  TComPort port(nullptr);
  port.SetDeviceName(pty.Name());
  port.SetActive(true);
  pty.Send("discard me");
  ASSERT_TRUE(WaitForInput(port, 10));
  port.PurgeInput();
  EXPECT_EQ(port.InputCount(), 0);
  EXPECT_EQ(port.ReadText(), "");
}

TEST(PortOnSocatPair, BytesWrittenOnOneEndArriveOnTheOther) {
  if (std::system("command -v socat >/dev/null 2>&1") != 0) GTEST_SKIP() << "socat missing";
  const auto dir = std::filesystem::temp_directory_path() /
                   ("korvex-socat-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string a = (dir / "a").string(), b = (dir / "b").string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string ea = "pty,raw,echo=0,link=" + a, eb = "pty,raw,echo=0,link=" + b;
    ::execlp("socat", "socat", ea.c_str(), eb.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!(std::filesystem::exists(a) && std::filesystem::exists(b)) &&
         std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(10ms);
  {
    TComPort left(nullptr), right(nullptr);
    left.SetDeviceName(a);
    right.SetDeviceName(b);
    left.SetActive(true);
    right.SetActive(true);
    const ByteString message = MakeBytes({0x02, 0x31, 0x10, 0x03, 0x00, 0x11, 0x13, 0x0D, 0xFF});
    left.WriteText(message);
    EXPECT_TRUE(WaitForInput(right, static_cast<std::int32_t>(message.size())));
    EXPECT_EQ(right.ReadText(), message);
  }
  ::kill(child, SIGTERM);
  ::waitpid(child, nullptr, 0);
  std::filesystem::remove_all(dir);
}

}  // namespace
