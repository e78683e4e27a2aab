#pragma once
// The window takes no arguments; only --version and --help are answered, without a window.
#include <optional>
#include <ostream>

// Exit status for an argument the program does not take.
inline constexpr int UsageExitCode = 1;

// Answers the command line. Returns the exit status when the program must end here, or
// nothing when the window is to be shown.
std::optional<int> AnswerCommandLine(int argc, const char* const* argv, std::ostream& out,
                                     std::ostream& err);
