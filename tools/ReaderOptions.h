#pragma once
// Command line of korvex-reader.
#include <optional>
#include <string>

#include "tools/LineOptions.h"

struct TReaderOptions {
  std::string DeviceName;
  TLineSettings Line;
  bool AskVersion = false;     // send the version request once the port is open
  int RequestForm = 1;         // data request answering a card-in: 02 31 03 or 02 32 03
  int BaseSeconds = 10 * 3600; // base time of all card times
  bool Json = false;
  std::optional<int> Cards;    // stop after this many cards
};

// Parses argv; throws Exception with a message naming the bad argument. Returns nothing when
// the user only asked for help or the version (the text to print is then in text).
std::optional<TReaderOptions> ParseReaderOptions(int argc, const char* const* argv,
                                                 std::string& text);

// "HH:MM" as seconds after midnight; throws Exception naming program and option otherwise.
int ParseBaseTime(const std::string& program, const std::string& text);

extern const char* const ReaderUsage;
