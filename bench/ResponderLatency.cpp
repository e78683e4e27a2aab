// Responder latency over a pty pair: (a) from a data request's last byte written by the
// administration side to the card data message's last byte read back, which the 500 ms poll
// bounds, and (b) the poll's own work after its tick (build, frame, write, log).
// Prints p50, p99 and max of both; asserts nothing.
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComPort.h"
#include "simulator/PunchFile.h"
#include "simulator/Responder.h"
#include "simulator/StationMessages.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Requests = 40;
constexpr auto PollInterval = std::chrono::milliseconds(500);

// The window's part of the road: the port's receive handler and the poll share the responder.
class TBenchStation : public TObject, public IResponderSink {
 public:
  TBenchStation(const std::string& device, TPunchFile& punchFile)
      : FPort(nullptr), FResponder(*this, punchFile) {
    FPort.SetDeviceName(device);
    FPort.SetSynchronizeEvents(false);  // no window: handlers run on the event thread
    FPort.SetOnRxChar(MakeMethod(this, &TBenchStation::PortRxChar));
    FPort.SetActive(true);
  }
  ~TBenchStation() override { FPort.SetActive(false); }

  // One tick's work, timed.
  double Poll() {
    std::lock_guard lock(FMutex);
    auto start = Clock::now();
    FResponder.Poll(10, 0);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }

  void WriteText(const ByteString& bytes) override { FPort.WriteText(bytes); }
  void AddReceivedLine(const ByteString&) override {}
  void AddLogLine(const ByteString& line) override { FLogBytes += line.size(); }
  void SetStatus(const std::string&) override {}
  void AddReadBytes(int) override {}

 private:
  void PortRxChar(TObject*) {
    ByteString chunk = FPort.ReadText();
    std::lock_guard lock(FMutex);
    FResponder.Receive(chunk);
  }

  TComPort FPort;
  std::mutex FMutex;
  TResponder FResponder;
  std::size_t FLogBytes = 0;
};

// Length of the card data message at the start of data, or 0 while it is incomplete.
std::size_t CardDataLength(const ByteString& data) {
  std::size_t at = CardDataHeader.size();
  for (int taken = 0; taken < 128; ++taken) {
    if (at >= data.size()) return 0;
    at += ByteAt(data, at) < 0x20 ? 2 : 1;
  }
  return data.size() >= at + 2 ? at + 2 : 0;
}

// Reads from the master until one card data message is complete; false on a timeout.
bool ReadCardData(int master, std::chrono::milliseconds timeout) {
  ByteString data;
  auto end = Clock::now() + timeout;
  while (CardDataLength(data) == 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[512];
    ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) return false;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

void Report(const char* what, std::vector<double> samples) {
  if (samples.empty()) {
    std::printf("%-44s no samples\n", what);
    return;
  }
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
  };
  std::printf("%-44s n=%-4zu p50 %9.3f ms  p99 %9.3f ms  max %9.3f ms\n", what, samples.size(),
              at(0.50), at(0.99), samples.back());
}

// data.epl four times over, so most requests build a real card rather than the template.
std::filesystem::path MakePunchFile() {
  std::ifstream in(KORVEX_EXAMPLES_DIR "/data.epl", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto path = std::filesystem::temp_directory_path() /
              ("korvex-bench-" + std::to_string(::getpid()) + ".epl");
  std::ofstream out(path, std::ios::binary);
  for (int i = 0; i < 4; ++i) out << text;
  return path;
}

}  // namespace

int main() {
  try {
    int master = -1, slave = -1;
    char name[256];
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      std::perror("openpty");
      return 1;
    }
    auto punchPath = MakePunchFile();
    TPunchFile punchFile;
    punchFile.Open(punchPath.string());
    TBenchStation station(name, punchFile);
    ::close(slave);  // the port holds its own descriptor now

    std::vector<double> pollWork, roundTrip;
    std::mutex samplesMutex;
    std::atomic<bool> stop{false};
    std::thread poller([&] {
      auto tick = Clock::now() + PollInterval;
      while (!stop) {
        std::this_thread::sleep_until(tick);
        tick += PollInterval;
        double ms = station.Poll();
        std::lock_guard lock(samplesMutex);
        pollWork.push_back(ms);
      }
    });

    int lost = 0;
    for (int i = 0; i < Requests; ++i) {
      // Spread the requests over the poll's phase.
      std::this_thread::sleep_for(std::chrono::milliseconds(37 * (i % 7)));
      if (::write(master, DataRequest1.data(), DataRequest1.size()) !=
          static_cast<ssize_t>(DataRequest1.size())) {
        std::perror("write");
        break;
      }
      auto sent = Clock::now();
      if (ReadCardData(master, std::chrono::milliseconds(2000)))
        roundTrip.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
      else
        ++lost;
    }
    stop = true;
    poller.join();
    ::close(master);
    punchFile.Close();
    std::filesystem::remove(punchPath);

    // Only the ticks that answered something: an empty buffer costs nothing.
    std::vector<double> answering;
    std::copy_if(pollWork.begin(), pollWork.end(), std::back_inserter(answering),
                 [](double ms) { return ms > 0.001; });
    std::printf("responder latency over %s, poll every %lld ms\n", name,
                static_cast<long long>(PollInterval.count()));
    Report("(a) request written -> card data read", roundTrip);
    Report("(b) poll work, ticks that did work", answering);
    Report("(b) poll work, all ticks", pollWork);
    if (lost) std::printf("requests without an answer within 2 s: %d\n", lost);
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message().c_str());
    return 1;
  }
}
