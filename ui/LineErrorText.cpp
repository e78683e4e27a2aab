#include "ui/LineErrorText.h"

#include <array>

namespace {

constexpr std::array<const char*, 11> Texts = {
    "Break detected", "Device not selected", "Frame error",       "IO error",
    "Mode error",     "Out of paper",        "Overrun error",     "Device timeout",
    "Receiver overflow", "Parity error",     "Transmitter full"};

}  // namespace

const char* LineErrorText(TLineError error) { return Texts.at(static_cast<std::size_t>(error)); }

std::vector<std::string> LineErrorTexts(TLineErrors errors) {
  std::vector<std::string> result;
  for (std::size_t i = 0; i < Texts.size(); ++i) {
    const auto error = static_cast<TLineError>(i);
    if (errors.Contains(error)) result.emplace_back(LineErrorText(error));
  }
  return result;
}
