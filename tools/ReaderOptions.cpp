#include "tools/ReaderOptions.h"

#include <charconv>

#include "toolkit/Exception.h"
#include "toolkit/Version.h"

const char* const ReaderUsage =
    "usage: korvex-reader DEVICE [options]\n"
    "  Stands in for event software on the serial DEVICE: answers every card-in\n"
    "  announcement with a data request and prints each card the station sends.\n"
    "  --ask-version     send the version request first; without --cards, end after\n"
    "                    the reply; exit status 1 when none comes within 2 s\n"
    "  --form 1|2        data request form used to answer a card-in (default 1)\n"
    "  --base HH:MM      base time of the card times (default 10:00)\n"
    "  --json            one JSON object per card on standard output, each time as\n"
    "                    \"h:mm:ss\" and as seconds after the base\n"
    "  --cards N         stop after N cards (otherwise Ctrl+C stops)\n"
    "  --version         print the program's version\n"
    "  --help            print this text\n"
    "Line settings (the window's lists):\n";

namespace {

const char* const ReaderExit =
    "Exit status: 0 done; 1 bad command line, failed open, line failure or no version\n"
    "reply; 3 the device hung up or vanished.\n";

int ToInt(const std::string& program, const std::string& text, const std::string& option) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw Exception(program + ": " + option + " needs a whole number, not '" + text + "'");
  return value;
}

}  // namespace

int ParseBaseTime(const std::string& program, const std::string& text) {
  auto colon = text.find(':');
  if (colon == std::string::npos) throw Exception(program + ": --base needs HH:MM");
  int h = ToInt(program, text.substr(0, colon), "--base");
  int m = ToInt(program, text.substr(colon + 1), "--base");
  if (h < 0 || h > 23 || m < 0 || m > 59)
    throw Exception(program + ": --base needs a time from 00:00 to 23:59");
  return h * 3600 + m * 60;
}

std::optional<TReaderOptions> ParseReaderOptions(int argc, const char* const* argv,
                                                 std::string& text) {
  const std::string program = "korvex-reader";
  TReaderOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw Exception(program + ": " + arg + " needs a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      text = std::string(ReaderUsage) + LineOptionsUsage + ReaderExit;
      return std::nullopt;
    } else if (arg == "--version") {
      text = program + " " + KorvexVersion + "\n";
      return std::nullopt;
    } else if (IsLineOption(arg)) {
      ParseLineOption(program, arg, value(), o.Line);
    } else if (arg == "--ask-version") {
      o.AskVersion = true;
    } else if (arg == "--form") {
      o.RequestForm = ToInt(program, value(), arg);
      if (o.RequestForm != 1 && o.RequestForm != 2)
        throw Exception(program + ": --form is 1 or 2");
    } else if (arg == "--base") {
      o.BaseSeconds = ParseBaseTime(program, value());
    } else if (arg == "--json") {
      o.Json = true;
    } else if (arg == "--cards") {
      o.Cards = ToInt(program, value(), arg);
      if (*o.Cards < 1) throw Exception(program + ": --cards needs a number above 0");
    } else if (!arg.empty() && arg[0] == '-') {
      throw Exception(program + ": unknown option " + arg + " (see --help)");
    } else if (o.DeviceName.empty()) {
      o.DeviceName = arg;
    } else {
      throw Exception(program + ": only one device, not also '" + arg + "'");
    }
  }
  if (o.DeviceName.empty()) throw Exception(program + ": no device given (see --help)");
  return o;
}
