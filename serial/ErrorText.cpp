#include "serial/ErrorText.h"

namespace {
constexpr std::size_t MessageBufferSize = 256;

bool Trimmed(unsigned char c) { return c <= 0x20 || c == 0x7F || c == '.'; }
}  // namespace

std::string TrimErrorText(std::string text) {
  if (text.size() >= MessageBufferSize) return {};
  while (!text.empty() && Trimmed(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}
