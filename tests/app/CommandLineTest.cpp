#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "app/CommandLine.h"
#include "toolkit/Version.h"

namespace {

struct TCase {
  std::vector<const char*> args;
  std::optional<int> exitCode;
  const char* out;  // expected at the start of standard output
  const char* err;  // expected somewhere in standard error
};

// Anything but a lone --version or --help must refuse to start, not open the window.
TEST(CommandLine, AnswersOnlyVersionAndHelp) {
  const std::string version = std::string("korvex-simulator ") + KorvexVersion + "\n";
  const std::vector<TCase> cases = {
      {{"korvex-simulator"}, std::nullopt, "", ""},
      {{"korvex-simulator", "--version"}, 0, version.c_str(), ""},
      {{"korvex-simulator", "--help"}, 0, "usage: korvex-simulator", ""},
      {{"korvex-simulator", "/dev/ttyUSB0"}, UsageExitCode, "", "'/dev/ttyUSB0'"},
      {{"korvex-simulator", "-platform", "offscreen"}, UsageExitCode, "", "'-platform'"},
      {{"korvex-simulator", "--version", "--json"}, UsageExitCode, "", "'--json'"},
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    auto code = AnswerCommandLine(static_cast<int>(c.args.size()), c.args.data(), out, err);
    SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : "(none)");
    EXPECT_EQ(code, c.exitCode);
    EXPECT_EQ(out.str().rfind(c.out, 0), 0u) << out.str();
    EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
    if (!c.exitCode || *c.exitCode == 0) {
      EXPECT_EQ(err.str(), "");
    }
  }
}

}  // namespace
