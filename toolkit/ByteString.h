#pragma once
// Counted 8-bit string: any byte value, 0x00 included. Serial data, station messages and
// card images are all held in it.
#include <cstdint>
#include <initializer_list>
#include <string>

using ByteString = std::string;

inline ByteString MakeBytes(std::initializer_list<std::uint8_t> bytes) {
  ByteString s;
  s.reserve(bytes.size());
  for (std::uint8_t b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

inline std::uint8_t ByteAt(const ByteString& s, std::size_t i) {
  return static_cast<std::uint8_t>(s[i]);
}
