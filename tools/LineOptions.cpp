#include "tools/LineOptions.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "toolkit/Exception.h"

const char* const LineOptionsUsage =
    "  --baud N          default, 110, 300, 600, 1200, 2400, 4800, 9600, 10400, 14400,\n"
    "                    19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000\n"
    "                    (default 4800)\n"
    "  --data-bits N     default, 4, 5, 6, 7 or 8 (default 8)\n"
    "  --stop-bits S     default, 1, 1_5 (or 1.5) or 2 (default 1)\n"
    "  --parity P        default, none, odd, even, mark or space (default none)\n"
    "                    \"default\" leaves the device's present setting.\n";

namespace {

// Rows in the order of the window's lists, so the row is the setting's ordinal.
constexpr std::array BaudNames = {"default", "110",   "300",   "600",   "1200",   "2400",
                                  "4800",    "9600",  "10400", "14400", "19200",  "28800",
                                  "38400",   "56000", "57600", "115200", "128000", "256000"};
constexpr std::array DataBitNames = {"default", "4", "5", "6", "7", "8"};
constexpr std::array StopBitNames = {"default", "1", "1_5", "2"};
constexpr std::array ParityNames = {"default", "none", "odd", "even", "mark", "space"};

template <class E, std::size_t N>
E Row(const std::array<const char*, N>& names, std::string value, const std::string& program,
      const std::string& option) {
  std::transform(value.begin(), value.end(), value.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (std::size_t i = 0; i < N; ++i)
    if (value == names[i]) return static_cast<E>(i);
  throw Exception(program + ": " + option + " does not accept '" + value + "'");
}

}  // namespace

bool IsLineOption(const std::string& option) {
  return option == "--baud" || option == "--data-bits" || option == "--stop-bits" ||
         option == "--parity";
}

bool ParseLineOption(const std::string& program, const std::string& option,
                     const std::string& value, TLineSettings& s) {
  if (option == "--baud") {
    s.BaudRate = Row<TBaudRate>(BaudNames, value, program, option);
  } else if (option == "--data-bits") {
    s.DataBits = Row<TDataBits>(DataBitNames, value, program, option);
  } else if (option == "--stop-bits") {
    s.StopBits = Row<TStopBits>(StopBitNames, value == "1.5" ? "1_5" : value, program, option);
  } else if (option == "--parity") {
    s.Parity = Row<TParity>(ParityNames, value, program, option);
  } else {
    return false;
  }
  return true;
}
