// The port on real pseudo-terminals through the native backend.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

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
  port.SetBaudRate(TBaudRate::br9600);
  port.SetDataBits(TDataBits::db7);
  port.SetParity(TParity::paEven);
  port.SetStopBits(TStopBits::sb2);
  port.SetActive(true);
  ASSERT_TRUE(port.Active());
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.Slave(), &t), 0);
  // Linux ptys force 8 data bits without parity, so speed and stop bits are what shows here.
  EXPECT_EQ(::cfgetospeed(&t), B9600);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));  // a raw line: no byte is changed or echoed
  EXPECT_FALSE(t.c_iflag & (ICRNL | IXON));

  port.SetBaudRate(TBaudRate::br115200);  // reaches the open device at once
  ASSERT_EQ(::tcgetattr(pty.Slave(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B115200);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  port.SetActive(false);
  EXPECT_FALSE(port.Active());
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
