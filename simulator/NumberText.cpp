#include "simulator/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "toolkit/Exception.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t SkipBlanks(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

// True when text (after the sign) is digits [ "." digits ] [ (E|e) [sign] digits ], with at
// least one mantissa digit on either side of the point.
bool IsUnsignedReal(std::string_view text) {
  std::size_t i = 0;
  std::size_t mantissaDigits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++mantissaDigits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return false;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == text.size();
}

}  // namespace

double TextToReal(std::string_view text) {
  text.remove_prefix(SkipBlanks(text));
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (!IsUnsignedReal(text)) return 0.0;
  // from_chars is locale-independent; the form was checked above, so it parses all of it.
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return 0.0;
  return negative ? -value : value;
}

std::int32_t WrapToInt32(double wholeValue) {
  if (!std::isfinite(wholeValue)) return 0;
  constexpr double TwoTo32 = 4294967296.0;
  double low = std::fmod(wholeValue, TwoTo32);  // exact for whole numbers
  if (low < 0) low += TwoTo32;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(low));
}

std::int32_t RoundHalfEven(double value) {
  double whole = std::floor(value);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return WrapToInt32(whole);
}

std::int32_t TextToRounded(std::string_view text) { return RoundHalfEven(TextToReal(text)); }

std::int32_t TextToInteger(std::string_view text) {
  std::string_view rest = text.substr(SkipBlanks(text));
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  std::int64_t value = 0;
  bool ok = !rest.empty();
  for (char c : rest) {
    if (!IsDigit(c)) {
      ok = false;
      break;
    }
    value = value * 10 + (c - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
      ok = false;
      break;
    }
  }
  if (negative) value = -value;
  if (!ok || value > std::numeric_limits<std::int32_t>::max() ||
      value < std::numeric_limits<std::int32_t>::min())
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  return static_cast<std::int32_t>(value);
}
