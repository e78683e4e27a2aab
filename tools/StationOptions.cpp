#include "tools/StationOptions.h"

#include <charconv>

#include "toolkit/Exception.h"
#include "toolkit/Version.h"
#include "tools/ReaderOptions.h"

namespace {

const std::string Program = "korvex-station";

const char* const StationUsage =
    "usage: korvex-station DEVICE [options]\n"
    "       korvex-station --check [PATH] [--base HH:MM]\n"
    "  The station without a window: on the serial DEVICE it answers version and data\n"
    "  requests and card-in announcements exactly as the simulator's window does, polling\n"
    "  every 500 ms, and writes each exchange log line to standard output as the window's\n"
    "  log shows it. Status texts and errors go to standard error. Ctrl+C ends it.\n"
    "  As in the window, a punch file that does not open is reported and the station\n"
    "  runs on; each data request then fails.\n"
    "  --punch-file PATH  the punch file (default data.epl in the working folder)\n"
    "  --base HH:MM       base time of the card times (default 10:00)\n"
    "  --repeat SECONDS   announce a card every SECONDS, the first one after SECONDS\n"
    "  --cards N          end after sending N cards\n"
    "  --json             one JSON object per event on standard output: log lines,\n"
    "                     status texts and received chunks\n"
    "  --check [PATH]     check a punch file (default data.epl) line by line, as the\n"
    "                     station reads it; exit status 0 clean, 1 warnings, 2 errors\n"
    "  --version          print the program's version\n"
    "  --help             print this text\n"
    "Line settings (the window's lists):\n";

const char* const StationExit =
    "Exit status: 0 ended by Ctrl+C, SIGTERM or --cards; 1 bad command line or the port\n"
    "did not open; 3 the device hung up or vanished.\n";

int ToInt(const std::string& text, const std::string& option) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw Exception(Program + ": " + option + " needs a whole number, not '" + text + "'");
  return value;
}

}  // namespace

std::optional<TStationOptions> ParseStationOptions(int argc, const char* const* argv,
                                                   std::string& text) {
  TStationOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw Exception(Program + ": " + arg + " needs a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      text = std::string(StationUsage) + LineOptionsUsage + StationExit;
      return std::nullopt;
    } else if (arg == "--version") {
      text = Program + " " + KorvexVersion + "\n";
      return std::nullopt;
    } else if (IsLineOption(arg)) {
      ParseLineOption(Program, arg, value(), o.Line);
    } else if (arg == "--punch-file") {
      o.PunchFile = value();
    } else if (arg == "--check") {
      o.Check = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') {
        o.PunchFile = argv[++i];
        }
    } else if (arg == "--base") {
      const int base = ParseBaseTime(Program, value());
      o.Hours = base / 3600;
      o.Minutes = base / 60 % 60;
    } else if (arg == "--repeat") {
      o.RepeatSeconds = ToInt(value(), arg);
      if (o.RepeatSeconds < 1 || o.RepeatSeconds > 86400)
        throw Exception(Program + ": --repeat needs 1 to 86400 seconds");
    } else if (arg == "--cards") {
      o.Cards = ToInt(value(), arg);
      if (*o.Cards < 1) throw Exception(Program + ": --cards needs a number above 0");
    } else if (arg == "--json") {
      o.Json = true;
    } else if (!arg.empty() && arg[0] == '-') {
      throw Exception(Program + ": unknown option " + arg + " (see --help)");
    } else if (o.DeviceName.empty() && !o.Check) {
      o.DeviceName = arg;
    } else {
      throw Exception(Program + ": unexpected argument '" + arg + "' (see --help)");
    }
  }
  if (!o.Check && o.DeviceName.empty())
    throw Exception(Program + ": no device given (see --help)");
  return o;
}
