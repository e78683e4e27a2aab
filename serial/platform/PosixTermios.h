#pragma once
// The device control block on a termios record and back: plain data, no device.
#include <termios.h>

#include <cstdint>
#include <string>

#include "serial/platform/Platform.h"

namespace platform {

// The termios speed constant of a rate, or B0 when the rate has none and must be set
// through the arbitrary-rate call.
speed_t StandardSpeed(std::uint32_t rate);
// The rate of a termios speed constant; 0 for none.
std::uint32_t RateOfSpeed(speed_t speed);

// Fully raw: no line editing, no echo, no signals, no translation of CR/NL, no output
// processing, no parity marking.
void MakeRaw(termios& tios);

// The levels at which the line discipline sends XOff (bytes of its 4096-byte queue still
// free) and XOn (bytes still queued); fixed in the kernel.
inline constexpr std::uint16_t LineXoffLimit = 128;
inline constexpr std::uint16_t LineXonLimit = 128;

// Writes the block onto a raw termios record. Returns 0, or EINVAL with the record untouched
// and reason naming the setting, for a block the line cannot take as it is meant. customRate
// is set to the rate when it has no speed constant (0 otherwise). A set fParity also marks
// bad bytes in the input (PARMRK), which the read path takes out again.
int DcbToTermios(const TDeviceControlBlock& dcb, termios& tios, std::uint32_t& customRate,
                 std::string* reason = nullptr);

// The setting the line left out when it was given wanted and now holds got (tcsetattr succeeds
// when any part was taken): the text of its refusal, or empty when all was taken.
std::string SettingNotTaken(const termios& wanted, const termios& got);

// The block a device with this record holds; rate is the line speed in bit/s.
TDeviceControlBlock TermiosToDcb(const termios& tios, std::uint32_t rate);

}  // namespace platform
