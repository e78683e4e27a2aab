// The Win32 backend's records and system texts, on Windows (or Wine).
#include <gtest/gtest.h>

#include <functional>

#include "serial/platform/Win32Dcb.h"
#include "serial/platform/Win32Platform.h"

using namespace platform;

TEST(Win32Dcb, EveryFlagBitReachesItsNamedField) {
  struct TCase {
    std::uint32_t Bits;
    const char* Field;
    std::function<DWORD(const DCB&)> Read;
    DWORD Expected;
  };
  const TCase cases[] = {
      {fBinary, "fBinary", [](const DCB& d) { return DWORD(d.fBinary); }, 1},
      {fParity, "fParity", [](const DCB& d) { return DWORD(d.fParity); }, 1},
      {fOutxCtsFlow, "fOutxCtsFlow", [](const DCB& d) { return DWORD(d.fOutxCtsFlow); }, 1},
      {fOutxDsrFlow, "fOutxDsrFlow", [](const DCB& d) { return DWORD(d.fOutxDsrFlow); }, 1},
      {DtrControlHandshake << 4, "fDtrControl",
       [](const DCB& d) { return DWORD(d.fDtrControl); }, DTR_CONTROL_HANDSHAKE},
      {fDsrSensitivity, "fDsrSensitivity", [](const DCB& d) { return DWORD(d.fDsrSensitivity); },
       1},
      {fTXContinueOnXoff, "fTXContinueOnXoff",
       [](const DCB& d) { return DWORD(d.fTXContinueOnXoff); }, 1},
      {fOutX, "fOutX", [](const DCB& d) { return DWORD(d.fOutX); }, 1},
      {fInX, "fInX", [](const DCB& d) { return DWORD(d.fInX); }, 1},
      {fErrorChar, "fErrorChar", [](const DCB& d) { return DWORD(d.fErrorChar); }, 1},
      {fNull, "fNull", [](const DCB& d) { return DWORD(d.fNull); }, 1},
      {RtsControlToggle << 12, "fRtsControl", [](const DCB& d) { return DWORD(d.fRtsControl); },
       RTS_CONTROL_TOGGLE},
      {fAbortOnError, "fAbortOnError", [](const DCB& d) { return DWORD(d.fAbortOnError); }, 1},
  };
  for (const TCase& c : cases) {
    TDeviceControlBlock block;
    block.Flags = c.Bits;
    const DCB dcb = ToWin32(block);
    EXPECT_EQ(c.Read(dcb), c.Expected) << c.Field;
    EXPECT_EQ(FromWin32(dcb).Flags, c.Bits) << c.Field;
  }
}

TEST(Win32Dcb, FieldsSurviveTheRoundTripAndTheLengthIsSet) {
  TDeviceControlBlock block;
  block.BaudRate = 256000;
  block.Flags = 0xFFFFFFFFu;  // reserved bits read from the device are written back as read
  block.XonLim = 2048;
  block.XoffLim = 512;
  block.ByteSize = 7;
  block.Parity = MarkParity;
  block.StopBits = One5StopBits;
  block.XonChar = 'a';
  block.XoffChar = 'b';
  block.ErrorChar = '?';
  block.EofChar = 0x1A;
  block.EvtChar = '\n';
  const DCB dcb = ToWin32(block);
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, MARKPARITY);
  EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
  EXPECT_EQ(FromWin32(dcb), block);

  const TCommTimeouts timeouts{0xFFFFFFFFu, 1, 2, 3, 4};
  const COMMTIMEOUTS native = ToWin32(timeouts);
  EXPECT_EQ(native.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(native.WriteTotalTimeoutConstant, 4u);
  EXPECT_EQ(FromWin32(native), timeouts);
}

TEST(Win32Platform, AnAbsentDeviceFailsWithTheSystemsCodeAndText) {
  TWin32Platform windows;
  windows.SetLastError(0);
  EXPECT_EQ(windows.Open("C:\\korvex-no-such-device"), nullptr);
  const std::int32_t code = windows.GetLastError();
  EXPECT_EQ(code, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(windows.ErrorText(code).empty());
  EXPECT_FALSE(windows.IsDeviceGone(code)) << "absent at open is not a device gone away";
  EXPECT_TRUE(windows.IsDeviceGone(ERROR_DEVICE_NOT_CONNECTED));
}
