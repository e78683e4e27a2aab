#pragma once
// The device control block on a termios record and back: plain data, no device.
#include <termios.h>

#include <cstdint>

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

// Writes the block onto a raw termios record. Returns 0 or EINVAL for a block termios cannot
// take. customRate is set to the rate when it has no speed constant (0 otherwise).
int DcbToTermios(const TDeviceControlBlock& dcb, termios& tios, std::uint32_t& customRate);

// The block a device with this record holds; rate is the line speed in bit/s.
TDeviceControlBlock TermiosToDcb(const termios& tios, std::uint32_t rate);

}  // namespace platform
