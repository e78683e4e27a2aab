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

int DcbToTermios(const TDeviceControlBlock& dcb, termios& tios, std::uint32_t& customRate,
                 std::string* reason) {
  customRate = 0;
  auto refuse = [reason](const char* text) {
    if (reason) *reason = text;
    return EINVAL;
  };
  if (dcb.BaudRate == 0) return refuse("BaudRate 0 refused: the line needs a speed");
  tcflag_t size;
  switch (dcb.ByteSize) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    case 4: return refuse("DataBits db4 refused: the line has no 4-bit characters");
    default: return refuse("DataBits refused: not a character size");
  }
  if (dcb.Parity > SpaceParity) return refuse("Parity refused: not a parity");
  // CSTOPB sends 1.5 stop bits after 5 data bits and 2 after more, so each is only exact there.
  if (dcb.StopBits > TwoStopBits) return refuse("StopBits refused: not a number of stop bits");
  if (dcb.StopBits == One5StopBits && dcb.ByteSize != 5)
    return refuse("StopBits sb1_5 refused: the line sends 1.5 stop bits only after 5 data bits");
  if (dcb.StopBits == TwoStopBits && dcb.ByteSize == 5)
    return refuse("StopBits sb2 refused: after 5 data bits the line sends 1.5 stop bits");
  if (!(dcb.Flags & fBinary)) return refuse("fBinary refused: the line has binary mode only");
  if (dcb.XonChar == dcb.XoffChar)
    return refuse("Characters.XOn equal to XOff refused: resume could not be told from pause");

  const std::uint32_t dtr = (dcb.Flags & fDtrControlMask) >> 4;
  const std::uint32_t rts = (dcb.Flags & fRtsControlMask) >> 12;
  if (dtr > DtrControlHandshake) return refuse("DTR refused: not a DTR control");
  if (dtr == DtrControlHandshake)
    return refuse("DTR dcHandshake refused: the line has no DTR input handshake");
  if (rts == RtsControlToggle)
    return refuse("RTS rcToggle refused: the line cannot raise RTS only while sending");
  // One flag (CRTSCTS) holds output on CTS and drives RTS for input: only both together.
  const bool ctsFlow = dcb.Flags & fOutxCtsFlow;
  if (ctsFlow && rts != RtsControlHandshake)
    return refuse("opOutputCTSFlow refused: the line holds output on CTS only with RTS rcHandshake");
  if (!ctsFlow && rts == RtsControlHandshake)
    return refuse("RTS rcHandshake refused: the line uses RTS for input only with opOutputCTSFlow");
  if (dcb.Flags & fOutxDsrFlow)
    return refuse("opOutputDSRFlow refused: the line cannot hold output while DSR is off");
  if (dcb.Flags & fDsrSensitivity)
    return refuse("opDSRSensitivity refused: the line cannot ignore bytes while DSR is off");
  if (dcb.Flags & fAbortOnError)
    return refuse("opAbortOnError refused: the line cannot stop transfers at a line error");
  if (dcb.Flags & fInX) {
    if (!(dcb.Flags & fTXContinueOnXoff))
      return refuse("xcInput refused without opTXContinueOnXOff: the line sends on after its XOff");
    if (dcb.XonLim != LineXonLimit || dcb.XoffLim != LineXoffLimit)
      return refuse("XOnLimit and XOffLimit refused: the line sends XOn and XOff at 128 bytes");
  }

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
  if (dcb.StopBits != OneStopBit) tios.c_cflag |= CSTOPB;
  if (ctsFlow) tios.c_cflag |= CRTSCTS;
  // Bad bytes come marked, so the read path can hand them on as received or replaced.
  if (dcb.Flags & fParity) tios.c_iflag |= INPCK | PARMRK;
  if (dcb.Flags & fOutX) tios.c_iflag |= IXON;
  if (dcb.Flags & fInX) tios.c_iflag |= IXOFF;
  tios.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  tios.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  // Kept by the device, not the record: the error character and null stripping (read path),
  // the event character (event wait), the Eof character (binary mode reads no end of data).
  return 0;
}

std::string SettingNotTaken(const termios& wanted, const termios& got) {
  auto differ = [&](tcflag_t termios::*word, tcflag_t bits) {
    return ((wanted.*word ^ got.*word) & bits) != 0;
  };
  const tcflag_t parity = (wanted.c_cflag & PARENB) ? PARENB | PARODD | CMSPAR : PARENB;
  if (differ(&termios::c_cflag, CSIZE))
    return "DataBits refused: the line did not take them (pseudo-terminals have 8 only)";
  if (differ(&termios::c_cflag, parity))
    return "Parity refused: the line did not take it (pseudo-terminals have none)";
  if (differ(&termios::c_cflag, CSTOPB)) return "StopBits refused: the line did not take them";
  if (differ(&termios::c_cflag, CRTSCTS))
    return "opOutputCTSFlow refused: the line did not take CTS/RTS handshake";
  if (differ(&termios::c_iflag, INPCK | PARMRK))
    return "opCheckParity refused: the line did not take parity checking";
  if (differ(&termios::c_iflag, IXON | IXOFF))
    return "XOnXOff refused: the line did not take XOn/XOff flow control";
  return {};
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
  if (!(tios.c_cflag & CSTOPB))
    dcb.StopBits = OneStopBit;
  else
    dcb.StopBits = dcb.ByteSize == 5 ? One5StopBits : TwoStopBits;
  // The line goes on sending after its own XOff, at the kernel's fixed levels.
  dcb.Flags = fBinary | fTXContinueOnXoff | (DtrControlEnable << 4) | (RtsControlEnable << 12);
  dcb.XonLim = LineXonLimit;
  dcb.XoffLim = LineXoffLimit;
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
