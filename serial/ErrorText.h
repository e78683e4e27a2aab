#pragma once
// The system's error text as the port reports it.
#include <string>

// Removes trailing control characters, blanks and full stops. A text that does not fit the
// system's 256-character message buffer gives an empty message.
std::string TrimErrorText(std::string text);
