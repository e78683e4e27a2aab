// korvex-reader: opens a serial line to a Korvex station or its simulator, answers every
// card-in announcement with a data request and prints each card it receives.
#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>

#include "serial/ComPort.h"
#include "simulator/StationMessages.h"
#include "toolkit/ErrorReport.h"
#include "toolkit/MainThread.h"
#include "tools/CardRecord.h"
#include "tools/ReaderOptions.h"
#include "tools/StationDecoder.h"
#include "tools/StopSignal.h"

namespace {

class TCardReader : public TObject {
 public:
  explicit TCardReader(const TReaderOptions& options) : FOptions(options), FPort(nullptr) {
    FPort.SetDeviceName(options.DeviceName);
    FPort.SetBaudRate(options.BaudRate);
    FPort.SetDataBits(options.DataBits);
    FPort.SetParity(options.Parity);
    FPort.SetStopBits(options.StopBits);
    FPort.SetOnRxChar(MakeMethod(this, &TCardReader::PortRxChar));
  }

  void Run() {
    FPort.SetActive(true);
    std::cerr << "korvex-reader: listening on " << FOptions.DeviceName << "\n";
    if (FOptions.AskVersion) FPort.WriteText(VersionRequest);
    MainThread::WaitUntil([this] { return FStop.load(); });
    FPort.SetActive(false);
  }

  void Stop() {
    FStop = true;
    MainThread::Notify();
  }

  void PrintSummary() const {
    std::cerr << "korvex-reader: " << FCards << " card(s), " << FAnnouncements
              << " card-in announcement(s), " << FCorrupt << " corrupt frame(s)\n";
  }

 private:
  // Runs on the main thread: the port hands every line event over to it.
  void PortRxChar(TObject*) {
    for (const TStationMessage& m : FDecoder.Feed(FPort.ReadText())) Handle(m);
  }

  void Handle(const TStationMessage& m) {
    switch (m.Kind) {
      case TStationMessageKind::VersionReply:
        std::cerr << "korvex-reader: version reply received\n";
        break;
      case TStationMessageKind::CardIn:
        ++FAnnouncements;
        if (FStop) break;
        FPort.WriteText(FOptions.RequestForm == 2 ? DataRequest2 : DataRequest1);
        break;
      case TStationMessageKind::DataRequest:
        std::cerr << "korvex-reader: the other end asks for data (ignored)\n";
        break;
      case TStationMessageKind::Corrupt:
        ++FCorrupt;
        std::cerr << "korvex-reader: skipped a corrupt frame: " << m.Problem << "\n";
        break;
      case TStationMessageKind::CardData: {
        if (FStop) break;
        ++FCards;
        TCardRecord card = DecodeCardImage(m.Image);
        std::cout << (FOptions.Json ? FormatCardJson(card, FOptions.BaseSeconds)
                                    : FormatCardLine(card, FOptions.BaseSeconds))
                  << std::endl;
        if (FOptions.Cards && FCards >= *FOptions.Cards) Stop();
        break;
      }
    }
  }

  TReaderOptions FOptions;
  TComPort FPort;
  TStationDecoder FDecoder;
  std::atomic<bool> FStop{false};
  int FCards = 0, FAnnouncements = 0, FCorrupt = 0;
};

}  // namespace

int main(int argc, char** argv) {
  MainThread::Bind();
  TStopSignal stopSignal;

  try {
    std::string help;
    auto options = ParseReaderOptions(argc, argv, help);
    if (!options) {
      std::cout << help;
      return 0;
    }
    TCardReader reader(*options);
    stopSignal.Watch([&reader] { reader.Stop(); });
    int code = 0;
    try {
      reader.Run();
    } catch (const EComError& e) {
      std::cerr << "korvex-reader: Error " << e.ErrorCode() << ": " << e.Message() << "\n";
      code = 1;
    }
    stopSignal.Unwatch();
    reader.PrintSummary();
    return code;
  } catch (const Exception& e) {
    std::cerr << e.Message() << "\n";
    return 2;
  }
}
