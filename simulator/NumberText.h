#pragma once
// Text-to-number conversions of the punch file's fields. The decimal separator is always the
// point and the process locale is never consulted.
#include <cstdint>
#include <string_view>

// Leading blanks (0x20), optional sign, digits with an optional "." part, optional exponent;
// nothing after it. Any other text, the empty one included, gives 0. Never fails.
double TextToReal(std::string_view text);

// Nearest integer, halves to the even neighbour, kept to its low 32 bits.
std::int32_t RoundHalfEven(double value);

// TextToReal followed by RoundHalfEven. Never fails.
std::int32_t TextToRounded(std::string_view text);

// Leading blanks, optional sign, decimal digits, nothing after them. Raises EConvertError
// "'<text>' is not a valid integer value" for anything else, including out-of-range values.
std::int32_t TextToInteger(std::string_view text);

// The low 32 bits of a whole-numbered value, as two's complement; defined for any finite value.
std::int32_t WrapToInt32(double wholeValue);
