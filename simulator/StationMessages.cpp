#include "simulator/StationMessages.h"

ByteString EscapeControlBytes(const ByteString& source) {
  ByteString result;
  result.reserve(source.size() * 2);
  for (char c : source) {
    if (static_cast<std::uint8_t>(c) < 0x20) result.push_back(static_cast<char>(DLE));
    result.push_back(c);
  }
  return result;
}

std::uint8_t CardChecksum(const ByteString& image) {
  std::int32_t sum = 0;
  for (char c : image) sum += static_cast<std::uint8_t>(c);
  return static_cast<std::uint8_t>((sum + 1) % 256);
}

ByteString FrameCardData(const ByteString& image) {
  const std::uint8_t checksum = CardChecksum(image);
  ByteString message = CardDataHeader;
  message += EscapeControlBytes(image);
  message.push_back(static_cast<char>(checksum));
  message.push_back(static_cast<char>(ETX));
  return message;
}
