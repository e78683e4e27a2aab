// korvex-station: the station without a window. It drives the window's responder, punch file
// and port component with the window's timings and failure rules, and writes to the terminal
// what the window shows: the exchange log, the status texts and the errors.
#include <chrono>
#include <iostream>
#include <optional>

#include "serial/ComPort.h"
#include "simulator/PunchFile.h"
#include "simulator/Responder.h"
#include "simulator/TickFailures.h"
#include "toolkit/MainThread.h"
#include "ui/LineErrorText.h"
#include "tools/PunchCheck.h"
#include "tools/StationOptions.h"
#include "tools/StopSignals.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto PollInterval = std::chrono::milliseconds(500);  // the window's Timer1
constexpr auto DrainWait = std::chrono::seconds(2);  // a card takes 0.6 s at 4800 baud
constexpr int ExitDone = 0, ExitFailed = 1, ExitGone = 3;

// The next tick one period on; ticks missed while the work ran late are skipped, as a
// window's timer skips them.
Clock::time_point Next(Clock::time_point due, Clock::duration period, Clock::time_point now) {
  due += period;
  return due > now ? due : now + period;
}

std::string JsonString(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string json = "\"";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (b < 0x20 || b >= 0x7F) {
      // 8-bit text: each byte is the code point of the same value.
      json += "\\u00";
      json += digits[b >> 4];
      json += digits[b & 15];
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string JsonBytes(const ByteString& bytes) {
  std::string json = "[";
  for (char c : bytes) {
    if (json.size() > 1) json += ',';
    json += std::to_string(static_cast<unsigned char>(c));
  }
  return json + "]";
}

class TStation : public TObject, private IResponderSink {
 public:
  TStation(const TStationOptions& options, const TStopSignals& signals)
      : FOptions(options),
        FSignals(signals),
        FPort(nullptr),
        FResponder(*this, FPunchFile),
        FFailures([this](const TFailureReport& r) { ShowFailure(r); }) {
    FPort.SetDeviceName(options.DeviceName);
    ApplyLineSettings(FPort, options.Line);
    FPort.SetOnRxChar(MakeMethod(this, &TStation::PortRxChar));
    FPort.SetOnLineError(MakeMethod(this, &TStation::PortLineError));
    FPort.SetOnError(MakeMethod(this, &TStation::PortError));
    FPort.SetAfterWrite(MakeMethod(this, &TStation::PortAfterWrite));
    FPort.SetOnTxEmpty(MakeMethod(this, &TStation::PortTxEmpty));
  }

  int Run() {
    // As the window: a punch file that does not open is reported, and the station runs on.
    try {
      FPunchFile.Open(FOptions.PunchFile);
    } catch (const Exception& e) {
      Problem(FOptions.PunchFile, e.Message());
    }
    FResponder.Reset();
    try {
      FPort.SetActive(true);
    } catch (const EAbort&) {
      return ExitFailed;  // PortError has said why
    }
    FFailures.Reset();
    Note("station on " + FOptions.DeviceName + ", punch file " + FOptions.PunchFile);

    const auto start = Clock::now();
    auto nextPoll = start + PollInterval;
    const auto repeat = std::chrono::seconds(FOptions.RepeatSeconds);
    auto nextCardIn = start + repeat;
    while (!Ended()) {
      const auto deadline = FOptions.RepeatSeconds ? std::min(nextPoll, nextCardIn) : nextPoll;
      MainThread::WaitUntil([this] { return Ended(); }, deadline);
      if (Ended()) break;
      const auto now = Clock::now();
      if (now >= nextPoll) {
        Tick(TTick::Poll, [this] {
          FPort.InputCount();  // a vanished device fails here even on a quiet line
          FResponder.Poll(FOptions.Hours, FOptions.Minutes);
        });
        nextPoll = Next(nextPoll, PollInterval, now);
      }
      if (FOptions.RepeatSeconds && now >= nextCardIn && !Ended()) {
        Tick(TTick::CardIn, [this] { FResponder.SendCardInByTimer(); });
        nextCardIn = Next(nextCardIn, repeat, now);
      }
      if (FOptions.Cards && FResponder.CardsSent() >= *FOptions.Cards) {
        // Closing purges the output: the last card must have left the driver first, and a
        // pty's other end must have had time to take it from the pty (one more poll period).
        MainThread::WaitUntil([this] { return FDrained || Ended(); }, Clock::now() + DrainWait);
        MainThread::WaitUntil([this] { return Ended(); }, Clock::now() + PollInterval);
        break;
      }
    }
    FFailures.Shutdown();
    try {
      FPort.SetActive(false);
    } catch (const EAbort&) {
    }
    ClosePunchFile(FPunchFile);
    Note(std::to_string(FResponder.CardsSent()) + " card(s) sent, " +
         std::to_string(FReadBytes) + " byte(s) read, " + std::to_string(FWriteBytes) +
         " byte(s) written");
    return FExit;
  }

 private:
  bool Ended() const { return FExit != ExitDone || FSignals.Requested(); }

  template <class F>
  void Tick(TTick tick, F&& work) {
    FTick = tick;
    FFailures.Run(tick, std::forward<F>(work));
    FTick.reset();
  }

  void Note(const std::string& text) const { std::cerr << "korvex-station: " << text << "\n"; }
  void Problem(const std::string& what, const std::string& text) const {
    std::cerr << "korvex-station: " << what << ": " << text << "\n";
  }

  void ShowFailure(const TFailureReport& report) {
    // Port errors name the device, the others come from the punch file.
    const bool port = report.Kind == TFailureKind::Port || report.Kind == TFailureKind::DeviceGone;
    const std::string& what = port ? FOptions.DeviceName : FOptions.PunchFile;
    std::size_t at = 0;
    while (at <= report.Text.size()) {
      std::size_t end = report.Text.find('\n', at);
      if (end == std::string::npos) end = report.Text.size();
      Problem(what, report.Text.substr(at, end - at));
      at = end + 1;
    }
    FFailures.ReportClosed();  // no box to wait for
  }

  // The port's error path, as the window's: the failing operation ends silently.
  void PortError(TCustomComPort*, EComError& e, TComAction& action) {
    action = TComAction::caAbort;
    const std::string text = "Error " + std::to_string(e.ErrorCode()) + ": " + e.Message();
    if (IsDeviceGone(e)) {
      if (FExit == ExitDone)
        Problem(FOptions.DeviceName, "the device hung up or vanished (" + text + ")");
      FExit = ExitGone;
      MainThread::Notify();
      return;
    }
    if (FTick) {
      FFailures.Failed(*FTick, TFailureKind::Port, text);
    } else {
      Problem(FOptions.DeviceName, text);
      if (!FPort.Active()) FExit = ExitFailed;  // the open failed
    }
  }

  void PortLineError(TObject*, TLineErrors errors) {
    for (const std::string& text : LineErrorTexts(errors)) Problem(FOptions.DeviceName, text);
  }

  void PortAfterWrite(TObject*, void*, std::int32_t length, bool) {
    FWriteBytes += length;
    FDrained = false;
  }
  void PortTxEmpty(TObject*) { FDrained = true; }

  // Runs on the main thread: the port hands every line event over to it.
  void PortRxChar(TObject*) {
    try {
      FResponder.Receive(FPort.ReadText());
    } catch (const EAbort&) {
    }
  }

  // What the window's panes and status label show.
  void WriteText(const ByteString& bytes) override { FPort.WriteText(bytes); }
  void AddReceivedLine(const ByteString& chunk) override {
    if (FOptions.Json) Emit("{\"event\":\"received\",\"bytes\":" + JsonBytes(chunk) + "}");
  }
  void AddLogLine(const ByteString& line) override {
    Emit(FOptions.Json ? "{\"event\":\"log\",\"line\":" + JsonString(line) + "}" : line);
  }
  void SetStatus(const std::string& text) override {
    // The label shows a text again unchanged, e.g. while a request fails at every poll.
    if (text == FStatus) return;
    FStatus = text;
    if (FOptions.Json)
      Emit("{\"event\":\"status\",\"text\":" + JsonString(text) + "}");
    else
      Note("status: " + text);
  }
  void AddReadBytes(int count) override { FReadBytes += count; }

  static void Emit(const std::string& line) { std::cout << line << std::endl; }

  TStationOptions FOptions;
  const TStopSignals& FSignals;
  TComPort FPort;
  TPunchFile FPunchFile;
  TResponder FResponder;
  TTickFailures FFailures;
  std::optional<TTick> FTick;
  std::string FStatus = "Status";  // the label's caption at start
  long long FReadBytes = 0, FWriteBytes = 0;
  bool FDrained = true;  // the driver's output queue has emptied since the last write
  int FExit = ExitDone;
};

int Check(const TStationOptions& options) {
  try {
    return CheckPunchFile(options.PunchFile, options.Hours, options.Minutes, std::cout)
        .ExitCode();
  } catch (const EInOutError& e) {
    std::cerr << "korvex-station: " << options.PunchFile << ": " << e.Message() << "\n";
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  MainThread::Bind();
  TStopSignals signals;
  std::optional<TStationOptions> options;
  try {
    std::string text;
    options = ParseStationOptions(argc, argv, text);
    if (!options) {
      std::cout << text;
      return ExitDone;
    }
  } catch (const Exception& e) {
    std::cerr << e.Message() << "\n";
    return ExitFailed;
  }
  if (options->Check) return Check(*options);
  TStation station(*options, signals);
  return station.Run();
}
