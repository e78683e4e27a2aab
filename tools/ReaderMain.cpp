// korvex-reader: opens a serial line to a Korvex station or its simulator, answers every
// card-in announcement with a data request and prints each card it receives.
#include <chrono>
#include <iostream>
#include <optional>

#include "serial/ComPort.h"
#include "simulator/StationMessages.h"
#include "toolkit/MainThread.h"
#include "tools/CardRecord.h"
#include "tools/ReaderOptions.h"
#include "tools/StationDecoder.h"
#include "tools/StopSignals.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto VersionWait = std::chrono::seconds(2);
// How often a quiet line is asked whether its device is still there.
constexpr auto DeviceCheck = std::chrono::milliseconds(500);

constexpr int ExitDone = 0, ExitFailed = 1, ExitGone = 3;

std::string Hex(const ByteString& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (char c : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[static_cast<unsigned char>(c) >> 4];
    text += digits[static_cast<unsigned char>(c) & 15];
  }
  return text;
}

class TCardReader : public TObject {
 public:
  TCardReader(const TReaderOptions& options, const TStopSignals& signals)
      : FOptions(options), FSignals(signals), FPort(nullptr) {
    FPort.SetDeviceName(options.DeviceName);
    ApplyLineSettings(FPort, options.Line);
    FPort.SetOnRxChar(MakeMethod(this, &TCardReader::PortRxChar));
    FPort.SetOnError(MakeMethod(this, &TCardReader::PortError));
  }

  int Run() {
    try {
      FPort.SetActive(true);
    } catch (const EAbort&) {
      return ExitFailed;  // PortError has said why; nothing was read, so no summary
    }
    Note("listening on " + FOptions.DeviceName);
    std::optional<Clock::time_point> versionDeadline;
    if (FOptions.AskVersion) {
      Guarded([&] { FPort.WriteText(VersionRequest); });
      versionDeadline = Clock::now() + VersionWait;
    }
    auto nextCheck = Clock::now() + DeviceCheck;
    while (!Ended()) {
      auto deadline = nextCheck;
      if (versionDeadline && !FVersionSeen) deadline = std::min(deadline, *versionDeadline);
      MainThread::WaitUntil([this] { return Ended(); }, deadline);
      if (Ended()) break;
      const auto now = Clock::now();
      if (versionDeadline && !FVersionSeen && now >= *versionDeadline) {
        Problem("no version reply within 2 s");
        FExit = ExitFailed;
        break;
      }
      if (now >= nextCheck) {
        Guarded([&] { FPort.InputCount(); });  // a vanished device fails here
        nextCheck = now + DeviceCheck;
      }
    }
    Guarded([&] { FPort.SetActive(false); });
    PrintSummary();
    return FExit;
  }

 private:
  bool Ended() const { return FDone || FExit != ExitDone || FSignals.Requested(); }

  void Note(const std::string& text) const { std::cerr << "korvex-reader: " << text << "\n"; }
  void Problem(const std::string& text) const {
    std::cerr << "korvex-reader: " << FOptions.DeviceName << ": " << text << "\n";
  }

  // Port failures end the run; PortError has reported them.
  template <class F>
  void Guarded(F&& work) {
    try {
      work();
    } catch (const EAbort&) {
    }
  }

  void PortError(TCustomComPort*, EComError& e, TComAction& action) {
    action = TComAction::caAbort;
    if (FExit != ExitDone) return;  // one message per run
    const std::string text = "Error " + std::to_string(e.ErrorCode()) + ": " + e.Message();
    if (IsDeviceGone(e)) {
      Problem("the device hung up or vanished (" + text + ")");
      FExit = ExitGone;
    } else {
      Problem(text);
      FExit = ExitFailed;
    }
    MainThread::Notify();
  }

  void PrintSummary() const {
    Note(std::to_string(FCards) + " card(s), " + std::to_string(FAnnouncements) +
         " card-in announcement(s), " + std::to_string(FCorrupt) + " corrupt frame(s)");
  }

  // Runs on the main thread: the port hands every line event over to it.
  void PortRxChar(TObject*) {
    Guarded([this] {
      for (const TStationMessage& m : FDecoder.Feed(FPort.ReadText())) Handle(m);
    });
  }

  void Handle(const TStationMessage& m) {
    switch (m.Kind) {
      case TStationMessageKind::VersionReply:
        if (FOptions.AskVersion && !FVersionSeen) {
          FVersionSeen = true;
          std::cout << (FOptions.Json ? "{\"version_reply\":\"" + Hex(VersionReply) + "\"}"
                                      : "version reply: " + Hex(VersionReply))
                    << std::endl;
          if (!FOptions.Cards) Finish();
        } else {
          Note("version reply received");
        }
        break;
      case TStationMessageKind::CardIn:
        ++FAnnouncements;
        if (Ended()) break;
        FPort.WriteText(FOptions.RequestForm == 2 ? DataRequest2 : DataRequest1);
        break;
      case TStationMessageKind::VersionRequest:
        Note("the other end sent a version request (not answered: this is no station)");
        break;
      case TStationMessageKind::DataRequest:
        Note("the other end sent a data request (not answered: this is no station)");
        break;
      case TStationMessageKind::Noise:
        Note("skipped " + m.Problem);
        break;
      case TStationMessageKind::Corrupt:
        ++FCorrupt;
        Note("skipped a corrupt frame: " + m.Problem);
        break;
      case TStationMessageKind::CardData: {
        if (Ended()) break;
        ++FCards;
        TCardRecord card = DecodeCardImage(m.Image);
        std::cout << (FOptions.Json ? FormatCardJson(card, FOptions.BaseSeconds)
                                    : FormatCardLine(card, FOptions.BaseSeconds))
                  << std::endl;
        if (FOptions.Cards && FCards >= *FOptions.Cards) Finish();
        break;
      }
    }
  }

  void Finish() {
    FDone = true;
    MainThread::Notify();
  }

  TReaderOptions FOptions;
  const TStopSignals& FSignals;
  TComPort FPort;
  TStationDecoder FDecoder;
  bool FDone = false;
  bool FVersionSeen = false;
  int FExit = ExitDone;
  int FCards = 0, FAnnouncements = 0, FCorrupt = 0;
};

}  // namespace

int main(int argc, char** argv) {
  MainThread::Bind();
  TStopSignals signals;
  std::optional<TReaderOptions> options;
  try {
    std::string text;
    options = ParseReaderOptions(argc, argv, text);
    if (!options) {
      std::cout << text;
      return ExitDone;
    }
  } catch (const Exception& e) {
    std::cerr << e.Message() << "\n";
    return ExitFailed;
  }
  TCardReader reader(*options, signals);
  return reader.Run();
}
