#pragma once
// Serial devices present on a Linux machine, for the device list: stable names first
// (/dev/serial/by-id/*), then USB adapters (/dev/ttyUSB*, /dev/ttyACM*), then the test line
// /tmp/korvex/ttyA. The built-in ports /dev/ttyS* are never listed: there one is the console.
// Elsewhere none of these exist and the list is empty.
#include <string>
#include <vector>

// root is prefixed to every path (empty for the real machine).
std::vector<std::string> SerialDevicesPresent(const std::string& root = {});
