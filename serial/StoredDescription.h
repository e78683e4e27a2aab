#pragma once
// The port's settings as a stored description: plain text, one "Name = value" per line.
#include <string>

class TCustomComPort;

// Writes the values differing from the defaults; Active and Options always, DeviceName
// whenever it is not empty.
std::string WriteStoredDescription(const TCustomComPort& port);

// BeginLoading, every line through the property setters, then LoadingDone (which applies the
// restored Active). A line that does not parse raises Exception naming its number and text.
void ReadStoredDescription(TCustomComPort& port, const std::string& text);
