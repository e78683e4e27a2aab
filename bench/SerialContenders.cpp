#include "bench/SerialContenders.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QSerialPort>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "serial/ComPort.h"
#include "toolkit/Thread.h"

TSink::TSink() : FReply(ReplySize, '\0') {
  for (std::size_t i = 0; i < FReply.size(); ++i) FReply[i] = static_cast<char>('A' + i % 26);
}

void TSink::Answer() {
  FMode = TMode::Reply;
  FPending = 0;
  FAnswered.store(0);
}

void TSink::Count(std::uint64_t target) {
  std::lock_guard lock(FLock);
  FMode = TMode::Count;
  FTarget = target;
  FCounted = 0;
  FCountCalls = 0;
  FCountedAt = 0;
}

std::uint64_t TSink::CountCalls() {
  std::lock_guard lock(FLock);
  return FCountCalls;
}

void TSink::Take(const char* /*data*/, std::size_t size, const TReply& reply) {
  if (FMode == TMode::Reply) {
    FPending += size;
    while (FPending >= RequestSize) {
      FPending -= RequestSize;
      FAnsweredAt.store(NowNs());
      FAnswered.fetch_add(1);
      reply(FReply);
    }
    return;
  }
  std::lock_guard lock(FLock);
  if (size > 0) ++FCountCalls;
  FCounted += size;
  if (FCountedAt == 0 && FCounted >= FTarget) {
    FCountedAt = NowNs();
    FChanged.notify_all();
  }
}

std::int64_t TSink::WaitCounted(std::chrono::milliseconds timeout) {
  std::unique_lock lock(FLock);
  FChanged.wait_for(lock, timeout, [this] { return FCountedAt != 0; });
  return FCountedAt;
}

namespace {

void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    throw std::runtime_error(std::string("write: ") + std::strerror(errno));
  }
}

// A thread of its own blocks in poll() on the device and a stop eventfd. With handOver, it
// has the main thread read and answer through the toolkit's hand-over, as the component does
// with its events on the main thread: the cost of the hand-over alone.
class TRawPoll : public TContender {
 public:
  explicit TRawPoll(bool handOver) : FHandOver(handOver) {}
  ~TRawPoll() override { Close(); }
  std::string Name() const override { return FHandOver ? "raw poll + hand-over" : "raw poll"; }

  void Open(const std::string& path, TSink& sink) override {
    FFd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FFd < 0) throw std::runtime_error("raw open " + path + ": " + std::strerror(errno));
    termios tios{};
    ::tcgetattr(FFd, &tios);
    ::cfmakeraw(&tios);
    ::tcsetattr(FFd, TCSANOW, &tios);
    FStop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    FSink = &sink;
    FThread = std::thread([this] { Run(); });
  }

  void Close() override {
    if (FFd < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(FStop, &one, sizeof one);
    FThread.join();
    ::close(FStop);
    ::close(FFd);
    FFd = -1;
  }

  void Send(const std::string& chunk, std::uint64_t size) override {
    for (std::uint64_t sent = 0; sent < size; sent += chunk.size())
      WriteAll(FFd, chunk.data(), chunk.size());
  }

 private:
  void Run() {
    char buffer[65536];
    const TReply reply = [this](const std::string& bytes) {
      WriteAll(FFd, bytes.data(), bytes.size());
    };
    for (;;) {
      pollfd fds[2] = {{FFd, POLLIN, 0}, {FStop, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      auto take = [&] {
        const ssize_t n = ::read(FFd, buffer, sizeof buffer);
        if (n > 0) FSink->Take(buffer, static_cast<std::size_t>(n), reply);
      };
      if (FHandOver) {
        TThread::Synchronize(take);
      } else {
        take();
      }
    }
  }

  bool FHandOver;
  int FFd = -1;
  int FStop = -1;
  TSink* FSink = nullptr;
  std::thread FThread;
};

// Used as its documentation shows: readyRead, readAll, write, on the main thread.
class TQtSerial : public TContender {
 public:
  std::string Name() const override { return "QSerialPort"; }

  void Open(const std::string& path, TSink& sink) override {
    FPort = std::make_unique<QSerialPort>();
    FPort->setPortName(QString::fromStdString(path));
    if (!FPort->open(QIODevice::ReadWrite))
      throw std::runtime_error("QSerialPort open " + path + ": " +
                               FPort->errorString().toStdString());
    QObject::connect(FPort.get(), &QSerialPort::readyRead, [this, &sink] {
      const QByteArray data = FPort->readAll();
      sink.Take(data.constData(), static_cast<std::size_t>(data.size()),
                [this](const std::string& bytes) {
                  FPort->write(bytes.data(), static_cast<qint64>(bytes.size()));
                });
    });
  }

  void Close() override {
    if (FPort) FPort->close();
    FPort.reset();
  }

  void Send(const std::string& chunk, std::uint64_t size) override {
    for (std::uint64_t sent = 0; sent < size; sent += chunk.size())
      FPort->write(chunk.data(), static_cast<qint64>(chunk.size()));
  }

 private:
  std::unique_ptr<QSerialPort> FPort;
};

// The port as the window drives it: OnRxChar reads with ReadText and answers with WriteText.
class TPortContender : public TObject, public TContender {
 public:
  explicit TPortContender(bool synchronizeEvents) : FSynchronize(synchronizeEvents) {}
  ~TPortContender() override { Close(); }
  std::string Name() const override {
    return FSynchronize ? "component, main thread" : "component, event thread";
  }

  void Open(const std::string& path, TSink& sink) override {
    FSink = &sink;
    FPort = std::make_unique<TComPort>(nullptr);
    FPort->SetDeviceName(path);
    FPort->SetSynchronizeEvents(FSynchronize);
    FPort->SetOnRxChar(MakeMethod(this, &TPortContender::RxChar));
    try {
      FPort->SetActive(true);
    } catch (const Exception& e) {
      FPort.reset();
      throw std::runtime_error("component open " + path + ": " + e.Message());
    }
  }

  void Close() override {
    if (FPort) FPort->SetActive(false);
    FPort.reset();
  }

  void Send(const std::string& chunk, std::uint64_t size) override {
    for (std::uint64_t sent = 0; sent < size; sent += chunk.size()) FPort->WriteText(chunk);
    FPort->WaitForWriteCompletion();
  }

 private:
  void RxChar(TObject*) {
    const ByteString text = FPort->ReadText();
    FSink->Take(text.data(), text.size(),
                [this](const std::string& bytes) { FPort->WriteText(bytes); });
  }

  bool FSynchronize;
  TSink* FSink = nullptr;
  std::unique_ptr<TComPort> FPort;
};

}  // namespace

std::unique_ptr<TContender> MakeRawPoll(bool handOver) {
  return std::make_unique<TRawPoll>(handOver);
}
std::unique_ptr<TContender> MakeQSerialPort() { return std::make_unique<TQtSerial>(); }
std::unique_ptr<TContender> MakeComponent(bool synchronizeEvents) {
  return std::make_unique<TPortContender>(synchronizeEvents);
}
