#include "app/CommandLine.h"

#include <string_view>

#include "toolkit/Version.h"

namespace {

const char* const Usage =
    "usage: korvex-simulator [--version | --help]\n"
    "  Stands in for the readout station of a Korvex punch-card timing system.\n"
    "  Opens its window; the punch file data.epl is read from the working folder.\n"
    "  The device and line settings are chosen in the window; there are no other options.\n"
    "  --version   print the program's version and exit\n"
    "  --help      print this text and exit\n";

bool IsAnswered(std::string_view arg) { return arg == "--version" || arg == "--help"; }

}  // namespace

std::optional<int> AnswerCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& err) {
  if (argc <= 1) return std::nullopt;
  std::string_view first = argv[1];
  if (argc == 2 && first == "--version") {
    out << "korvex-simulator " << KorvexVersion << '\n';
    return 0;
  }
  if (argc == 2 && first == "--help") {
    out << Usage;
    return 0;
  }
  // Qt's own options (-platform, -style, ...) are refused as well: the window takes none.
  std::string_view unexpected = IsAnswered(first) ? argv[2] : first;
  err << "korvex-simulator: unexpected argument '" << unexpected << "'\n"
      << "Try 'korvex-simulator --help'.\n";
  return UsageExitCode;
}
