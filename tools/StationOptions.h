#pragma once
// Command line of korvex-station.
#include <optional>
#include <string>

#include "tools/LineOptions.h"

struct TStationOptions {
  std::string DeviceName;
  TLineSettings Line;
  std::string PunchFile = "data.epl";  // in the working folder, as the window reads it
  int Hours = 10, Minutes = 0;         // base time of the card times
  int RepeatSeconds = 0;               // card-in announcement every so often; 0: none
  bool Json = false;
  std::optional<int> Cards;            // end after this many card data messages
  bool Check = false;                  // only check the punch file
};

// Parses argv; throws Exception naming the bad argument. Returns nothing when the user only
// asked for help or the version (the text to print is then in text).
std::optional<TStationOptions> ParseStationOptions(int argc, const char* const* argv,
                                                   std::string& text);
