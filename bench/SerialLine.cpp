#include "bench/SerialLine.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace {

constexpr int PeerTimeoutMs = 20000;

void MakeRaw(int fd) {
  termios tios{};
  if (::tcgetattr(fd, &tios) != 0) return;
  ::cfmakeraw(&tios);
  ::tcsetattr(fd, TCSANOW, &tios);
}

int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("open " + path + ": " + std::strerror(errno));
  MakeRaw(fd);
  return fd;
}

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

TSerialLine::TSerialLine(TKind kind) {
  if (kind == TKind::OpenPty) {
    int master = -1, slave = -1;
    char name[256];
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) Fail("openpty");
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFL, ::fcntl(slave, F_GETFL) | O_NONBLOCK);
    MakeRaw(slave);
    FPeer = master;
    FHeld = slave;
    FPath = name;
    return;
  }
  char dir[] = "/tmp/korvex-bench-XXXXXX";
  if (::mkdtemp(dir) == nullptr) Fail("mkdtemp");
  FDir = dir;
  FPath = FDir + "/a";
  const std::string peer = FDir + "/b";
  const std::string a = "pty,raw,echo=0,link=" + FPath;
  const std::string b = "pty,raw,echo=0,link=" + peer;
  FRelay = ::fork();
  if (FRelay < 0) Fail("fork");
  if (FRelay == 0) {
    ::execlp("socat", "socat", a.c_str(), b.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 500; ++i) {
    if (std::filesystem::exists(FPath) && std::filesystem::exists(peer)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FHeld = OpenRaw(FPath);
  FPeer = OpenRaw(peer);
}

TSerialLine::~TSerialLine() {
  if (FPeer >= 0) ::close(FPeer);
  if (FHeld >= 0) ::close(FHeld);
  if (FRelay > 0) {
    ::kill(FRelay, SIGTERM);
    ::waitpid(FRelay, nullptr, 0);
  }
  if (!FDir.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(FDir, ignored);
  }
}

void TSerialLine::PeerWrite(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(FPeer, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) Fail("peer write");
    pollfd p{FPeer, POLLOUT, 0};
    if (::poll(&p, 1, PeerTimeoutMs) == 0) throw std::runtime_error("peer write timed out");
  }
}

void TSerialLine::PeerRead(std::uint64_t size) {
  char buffer[65536];
  while (size > 0) {
    const std::size_t want = size < sizeof buffer ? static_cast<std::size_t>(size) : sizeof buffer;
    const ssize_t n = ::read(FPeer, buffer, want);
    if (n > 0) {
      size -= static_cast<std::uint64_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) Fail("peer read");
    pollfd p{FPeer, POLLIN, 0};
    if (::poll(&p, 1, PeerTimeoutMs) == 0) throw std::runtime_error("peer read timed out");
  }
}

void TSerialLine::Flush() {
  char buffer[65536];
  for (int fd : {FPeer, FHeld}) {
    ::tcflush(fd, TCIOFLUSH);
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
  }
}
