// The window under load, on the offscreen platform and a pty: how long the event loop is
// held during a flood, the CPU it costs, and whether the resident memory stays flat under a
// long trickle of noise. Prints figures; asserts nothing.
//
// usage: korvex-bench-window [flood MB, default 20] [noise seconds, default 120]
#include <pty.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "toolkit/qt/Application.h"
#include "ui/main.h"

namespace {

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Longest time between two ticks of a 10 ms timer: how long the loop was held; and the main
// thread's own CPU time within that gap, which tells work from waiting for a busy machine.
class TStallProbe {
 public:
  TStallProbe() {
    FTimer.setInterval(10);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const qint64 gap = FClock.restart();
      const double cpu = ThreadCpuMs();
      FLongestBusy = std::max(FLongestBusy, cpu - FLastCpu);
      if (gap > FLongest) FLongest = gap;
      FLastCpu = cpu;
    });
  }
  void Start() {
    FLongest = 0;
    FLongestBusy = 0;
    FLastCpu = ThreadCpuMs();
    FClock.start();
    FTimer.start();
  }
  qint64 LongestMs() const { return FLongest; }
  long long LongestBusyMs() const { return static_cast<long long>(FLongestBusy); }

 private:
  QTimer FTimer;
  QElapsedTimer FClock;
  qint64 FLongest = 0;
  double FLongestBusy = 0;
  double FLastCpu = 0;
};

// Runs the event loop until done() or the time is up. Blocks for events (the stall probe's
// timer wakes it every 10 ms), so the harness itself costs no CPU.
template <class F>
void RunUntil(F&& done, int seconds) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < seconds * 1000LL) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long floodMb = argc > 1 ? std::atol(argv[1]) : 20;
  const int noiseSeconds = argc > 2 ? std::atoi(argv[2]) : 120;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication application(argc, argv);
  application.SetTitle("Korvex Simulator");
  QTemporaryDir folder;
  std::ofstream(folder.filePath("data.epl").toStdString()) << "\r\n";
  QDir::setCurrent(folder.path());

  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  const std::string device = ttyname(slave);
  TFormComPort form;
  form.show();
  form.Ui.ComboBoxDeviceName->lineEdit()->setText(QString::fromStdString(device));
  form.ComboBoxDeviceNameChange(&form);
  form.Ui.SpeedButtonOpenClose->click();
  if (!form.ComPort->Active()) {
    std::fprintf(stderr, "could not open %s\n", device.c_str());
    return 1;
  }
  TStallProbe probe;
  std::printf("resident at start: %ld kB\n", ResidentKb());

  // Floods: letters and line ends, as fast as the line takes them; three in a row.
  const long total = floodMb * 1024 * 1024;
  for (int round = 1; round <= 3 && total > 0; ++round) {
    const long before = form.ReadBytes;
    std::thread flood([&] {
      std::string block(4096, 'A');
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = i % 64 == 63 ? '\r' : 'A' + i % 26;
      for (long sent = 0; sent < total;) {
        const ssize_t n = write(master, block.data(), std::min<long>(block.size(), total - sent));
        if (n <= 0) break;
        sent += n;
      }
    });
    const double cpuBefore = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    probe.Start();
    RunUntil([&] { return form.ReadBytes - before >= total; }, 600);
    const double seconds = clock.elapsed() / 1000.0;
    flood.join();
    std::printf("flood %d of %ld MB: %.1f s, loop held at most %lld ms (busy at most %lld ms), "
                "CPU %.0f %% of a core, received pane %d lines, resident %ld kB\n",
                round, floodMb, seconds, static_cast<long long>(probe.LongestMs()),
                probe.LongestBusyMs(),
                100.0 * (CpuSeconds() - cpuBefore) / seconds, form.Ui.Memo->blockCount(),
                ResidentKb());
  }

  // Noise: one byte every 2 ms, as at 4800 baud on an idle line with interference.
  std::atomic<bool> noisy{true};
  std::thread noise([&] {
    while (noisy) {
      const char byte = 'x';
      if (write(master, &byte, 1) != 1) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  const double noiseCpuBefore = CpuSeconds();
  probe.Start();
  for (int elapsed = 0; elapsed < noiseSeconds;) {
    const int step = std::min(20, noiseSeconds - elapsed);
    RunUntil([] { return false; }, step);
    elapsed += step;
    std::printf("noise %3d s: resident %ld kB, received pane %d lines, read bytes %d\n", elapsed,
                ResidentKb(), form.Ui.Memo->blockCount(), form.ReadBytes);
    std::fflush(stdout);
  }
  noisy = false;
  noise.join();
  std::printf("noise: loop held at most %lld ms (busy at most %lld ms), CPU %.0f %% of a core\n",
              static_cast<long long>(probe.LongestMs()), probe.LongestBusyMs(),
              100.0 * (CpuSeconds() - noiseCpuBefore) / noiseSeconds);
  form.close();
  close(master);
  close(slave);
  return 0;
}
