#include "serial/platform/PosixTermios.h"

#include <cerrno>
#include <iterator>

namespace platform {
namespace {

struct TSpeed {
  std::uint32_t Rate;
  speed_t Speed;
};

constexpr TSpeed speeds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

}  // namespace

speed_t StandardSpeed(std::uint32_t rate) {
  for (const TSpeed& s : speeds)
    if (s.Rate == rate) return s.Speed;
  return B0;
}

std::uint32_t RateOfSpeed(speed_t speed) {
  for (const TSpeed& s : speeds)
    if (s.Speed == speed) return s.Rate;
  return 0;
}

void MakeRaw(termios& tios) {
  tios.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                    IXON | IXOFF | IXANY | IMAXBEL | IUCLC);
  tios.c_oflag &= ~OPOST;
  tios.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  // Modem lines do not gate reception or opening; the port watches them itself.
  tios.c_cflag |= CREAD | CLOCAL;
  // Reads are driven by poll() on a non-blocking descriptor, so these only keep the record sane.
  tios.c_cc[VMIN] = 1;
  tios.c_cc[VTIME] = 0;
}

int DcbToTermios(const TDeviceControlBlock& dcb, termios& tios, std::uint32_t& customRate) {
  customRate = 0;
  if (dcb.BaudRate == 0) return EINVAL;
  // 4 data bits exist in the block's range but no termios line takes them.
  tcflag_t size;
  switch (dcb.ByteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return EINVAL;
  }
  if (dcb.Parity > SpaceParity || dcb.StopBits > TwoStopBits) return EINVAL;
  // The driver could not tell resume from pause.
  if (dcb.XonChar == dcb.XoffChar) return EINVAL;

  MakeRaw(tios);
  speed_t speed = StandardSpeed(dcb.BaudRate);
  if (speed == B0) {
    // Placeholder; the caller sets the true rate through termios2.
    speed = B38400;
    customRate = dcb.BaudRate;
  }
  cfsetispeed(&tios, speed);
  cfsetospeed(&tios, speed);

  tios.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tios.c_cflag |= size;
  switch (dcb.Parity) {
    case OddParity: tios.c_cflag |= PARENB | PARODD; break;
    case EvenParity: tios.c_cflag |= PARENB; break;
    case MarkParity: tios.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SpaceParity: tios.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  // termios has no 1.5 stop bits; the nearest is 2 (which UARTs send as 1.5 at 5 data bits).
  if (dcb.StopBits != OneStopBit) tios.c_cflag |= CSTOPB;

  const std::uint32_t rts = (dcb.Flags & fRtsControlMask) >> 12;
  if ((dcb.Flags & fOutxCtsFlow) || rts == RtsControlHandshake) tios.c_cflag |= CRTSCTS;
  if (dcb.Flags & fParity) tios.c_iflag |= INPCK;
  if (dcb.Flags & fOutX) tios.c_iflag |= IXON;
  if (dcb.Flags & fInX) tios.c_iflag |= IXOFF;
  tios.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tios.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  // No termios equivalent, kept only in the stored block: DSR flow and sensitivity, continue
  // on XOFF, the error and event characters, null stripping, abort on error, DTR handshake,
  // RTS toggle, the XON/XOFF limits.
  return 0;
}

TDeviceControlBlock TermiosToDcb(const termios& tios, std::uint32_t rate) {
  TDeviceControlBlock dcb;
  dcb.BaudRate = rate;
  switch (tios.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
  }
  if (!(tios.c_cflag & PARENB))
    dcb.Parity = NoParity;
  else if (tios.c_cflag & CMSPAR)
    dcb.Parity = (tios.c_cflag & PARODD) ? MarkParity : SpaceParity;
  else
    dcb.Parity = (tios.c_cflag & PARODD) ? OddParity : EvenParity;
  dcb.StopBits = (tios.c_cflag & CSTOPB) ? TwoStopBits : OneStopBit;
  dcb.Flags = fBinary | (DtrControlEnable << 4) | (RtsControlEnable << 12);
  if (tios.c_cflag & CRTSCTS)
    dcb.Flags = (dcb.Flags & ~fRtsControlMask) | fOutxCtsFlow | (RtsControlHandshake << 12);
  if (tios.c_iflag & INPCK) dcb.Flags |= fParity;
  if (tios.c_iflag & IXON) dcb.Flags |= fOutX;
  if (tios.c_iflag & IXOFF) dcb.Flags |= fInX;
  dcb.XonChar = static_cast<char>(tios.c_cc[VSTART]);
  dcb.XoffChar = static_cast<char>(tios.c_cc[VSTOP]);
  return dcb;
}

}  // namespace platform
