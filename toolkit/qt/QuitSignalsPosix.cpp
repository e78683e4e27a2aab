#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>

#include "toolkit/qt/Guarded.h"
#include "toolkit/qt/QuitSignals.h"

namespace {

constexpr std::array<int, 3> QuitSignalNumbers = {SIGINT, SIGTERM, SIGHUP};
// The write end of the self-pipe; a signal handler may only write to it.
volatile std::sig_atomic_t WakeFd = -1;

extern "C" void OnQuitSignal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  if (WakeFd >= 0) {
    const ssize_t written = write(WakeFd, &byte, 1);  // a full pipe already wakes the loop
    static_cast<void>(written);
  }
  errno = saved;
}

}  // namespace

struct TQuitSignals::TState {
  std::array<int, 2> Pipe{-1, -1};
  std::unique_ptr<QSocketNotifier> Notifier;
  std::array<struct sigaction, QuitSignalNumbers.size()> Previous{};
};

TQuitSignals::TQuitSignals(std::function<void()> onQuit) : FState(std::make_unique<TState>()) {
  if (pipe2(FState->Pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) return;
  WakeFd = FState->Pipe[1];
  FState->Notifier =
      std::make_unique<QSocketNotifier>(FState->Pipe[0], QSocketNotifier::Read);
  QObject::connect(FState->Notifier.get(), &QSocketNotifier::activated, this,
                   [this, onQuit = std::move(onQuit)] {
                     unsigned char bytes[16];
                     while (read(FState->Pipe[0], bytes, sizeof bytes) > 0) {
                     }
                     Guarded(onQuit);
                   });
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < QuitSignalNumbers.size(); ++i) {
    sigaction(QuitSignalNumbers[i], &action, &FState->Previous[i]);
  }
}

TQuitSignals::~TQuitSignals() {
  if (FState->Pipe[0] < 0) return;
  for (std::size_t i = 0; i < QuitSignalNumbers.size(); ++i) {
    sigaction(QuitSignalNumbers[i], &FState->Previous[i], nullptr);
  }
  WakeFd = -1;
  FState->Notifier.reset();
  close(FState->Pipe[0]);
  close(FState->Pipe[1]);
}
