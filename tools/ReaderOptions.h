#pragma once
// Command line of korvex-reader.
#include <optional>
#include <string>

#include "serial/ComTypes.h"

struct TReaderOptions {
  std::string DeviceName;
  TBaudRate BaudRate = TBaudRate::br4800;
  TDataBits DataBits = TDataBits::db8;
  TParity Parity = TParity::paNone;
  TStopBits StopBits = TStopBits::sb1;
  bool AskVersion = false;     // send the version request once the port is open
  int RequestForm = 1;         // data request answering a card-in: 02 31 03 or 02 32 03
  int BaseSeconds = 10 * 3600; // base time of all card times
  bool Json = false;
  std::optional<int> Cards;    // stop after this many cards
};

// Parses argv; throws Exception with a message naming the bad argument. Returns nothing when
// the user only asked for help (the usage text is then in helpText).
std::optional<TReaderOptions> ParseReaderOptions(int argc, const char* const* argv,
                                                 std::string& helpText);

extern const char* const ReaderUsage;
