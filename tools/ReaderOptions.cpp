#include "tools/ReaderOptions.h"

#include <array>
#include <charconv>
#include <utility>

#include "toolkit/Exception.h"

const char* const ReaderUsage =
    "usage: korvex-reader DEVICE [options]\n"
    "  Reads cards from a Korvex station (or its simulator) on the serial DEVICE.\n"
    "  --baud N          line speed (default 4800)\n"
    "  --data-bits N     5 to 8 (default 8)\n"
    "  --parity P        none, odd, even, mark or space (default none)\n"
    "  --stop-bits S     1, 1.5 or 2 (default 1)\n"
    "  --version         send the version request and print the reply\n"
    "  --form 1|2        data request form used to answer a card-in (default 1)\n"
    "  --base HH:MM      base time of the card times (default 10:00)\n"
    "  --json            one JSON object per card on standard output\n"
    "  --cards N         stop after N cards (otherwise Ctrl+C stops)\n";

namespace {

int ToInt(const std::string& text, const std::string& option) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    throw Exception("korvex-reader: " + option + " needs a whole number, not '" + text + "'");
  return value;
}

template <class E, std::size_t N>
E Lookup(const std::array<std::pair<const char*, E>, N>& table, const std::string& text,
         const std::string& option) {
  for (const auto& [name, value] : table)
    if (text == name) return value;
  throw Exception("korvex-reader: " + option + " does not accept '" + text + "'");
}

const std::array<std::pair<const char*, TBaudRate>, 17> BaudRates = {{
    {"110", TBaudRate::br110},       {"300", TBaudRate::br300},
    {"600", TBaudRate::br600},       {"1200", TBaudRate::br1200},
    {"2400", TBaudRate::br2400},     {"4800", TBaudRate::br4800},
    {"9600", TBaudRate::br9600},     {"10400", TBaudRate::br10400},
    {"14400", TBaudRate::br14400},   {"19200", TBaudRate::br19200},
    {"28800", TBaudRate::br28800},   {"38400", TBaudRate::br38400},
    {"56000", TBaudRate::br56000},   {"57600", TBaudRate::br57600},
    {"115200", TBaudRate::br115200}, {"128000", TBaudRate::br128000},
    {"256000", TBaudRate::br256000},
}};
const std::array<std::pair<const char*, TDataBits>, 4> DataBits = {{
    {"5", TDataBits::db5}, {"6", TDataBits::db6}, {"7", TDataBits::db7}, {"8", TDataBits::db8}}};
const std::array<std::pair<const char*, TParity>, 5> Parities = {{{"none", TParity::paNone},
                                                                  {"odd", TParity::paOdd},
                                                                  {"even", TParity::paEven},
                                                                  {"mark", TParity::paMark},
                                                                  {"space", TParity::paSpace}}};
const std::array<std::pair<const char*, TStopBits>, 3> StopBits = {
    {{"1", TStopBits::sb1}, {"1.5", TStopBits::sb1_5}, {"2", TStopBits::sb2}}};

int ParseBase(const std::string& text) {
  auto colon = text.find(':');
  if (colon == std::string::npos) throw Exception("korvex-reader: --base needs HH:MM");
  int h = ToInt(text.substr(0, colon), "--base");
  int m = ToInt(text.substr(colon + 1), "--base");
  if (h < 0 || h > 23 || m < 0 || m > 59)
    throw Exception("korvex-reader: --base needs a time from 00:00 to 23:59");
  return h * 3600 + m * 60;
}

}  // namespace

std::optional<TReaderOptions> ParseReaderOptions(int argc, const char* const* argv,
                                                 std::string& helpText) {
  TReaderOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw Exception("korvex-reader: " + arg + " needs a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      helpText = ReaderUsage;
      return std::nullopt;
    } else if (arg == "--baud") {
      o.BaudRate = Lookup(BaudRates, value(), arg);
    } else if (arg == "--data-bits") {
      o.DataBits = Lookup(DataBits, value(), arg);
    } else if (arg == "--parity") {
      o.Parity = Lookup(Parities, value(), arg);
    } else if (arg == "--stop-bits") {
      o.StopBits = Lookup(StopBits, value(), arg);
    } else if (arg == "--version") {
      o.AskVersion = true;
    } else if (arg == "--form") {
      o.RequestForm = ToInt(value(), arg);
      if (o.RequestForm != 1 && o.RequestForm != 2)
        throw Exception("korvex-reader: --form is 1 or 2");
    } else if (arg == "--base") {
      o.BaseSeconds = ParseBase(value());
    } else if (arg == "--json") {
      o.Json = true;
    } else if (arg == "--cards") {
      o.Cards = ToInt(value(), arg);
      if (*o.Cards < 1) throw Exception("korvex-reader: --cards needs a number above 0");
    } else if (!arg.empty() && arg[0] == '-') {
      throw Exception("korvex-reader: unknown option " + arg + "\n" + ReaderUsage);
    } else if (o.DeviceName.empty()) {
      o.DeviceName = arg;
    } else {
      throw Exception("korvex-reader: only one device, not also '" + arg + "'");
    }
  }
  if (o.DeviceName.empty()) throw Exception(std::string("korvex-reader: no device given\n") + ReaderUsage);
  return o;
}
