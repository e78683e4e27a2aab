#pragma once
// Line settings on the command line, named as in the window's lists ("default" leaves the
// device's own setting), shared by the command-line programs.
#include <string>

#include "serial/ComTypes.h"

struct TLineSettings {
  // The window's choices at start: 4800 baud, 8 data bits, 1 stop bit, no parity.
  TBaudRate BaudRate = TBaudRate::br4800;
  TDataBits DataBits = TDataBits::db8;
  TStopBits StopBits = TStopBits::sb1;
  TParity Parity = TParity::paNone;
};

// Takes --baud, --data-bits, --stop-bits or --parity with its value; false for any other
// option. Throws Exception naming program, option and value when the value is not listed.
bool ParseLineOption(const std::string& program, const std::string& option,
                     const std::string& value, TLineSettings& settings);
bool IsLineOption(const std::string& option);

// The --help lines of the four options.
extern const char* const LineOptionsUsage;

// Hands the settings to a closed port.
template <class Port>
void ApplyLineSettings(Port& port, const TLineSettings& s) {
  port.SetBaudRate(s.BaudRate);
  port.SetDataBits(s.DataBits);
  port.SetStopBits(s.StopBits);
  port.SetParity(s.Parity);
}
