#pragma once
// The text of the standard error box: a message that does not already end in punctuation
// gets a full stop.
#include <string>

inline std::string ErrorBoxText(std::string message) {
  // Compared as unsigned bytes, so "®" or any other 8-bit last character also gets the stop.
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}
