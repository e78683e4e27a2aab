// Pure mappings of the POSIX backend: control block onto termios, device names, priorities.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "serial/platform/DeviceNames.h"
#include "serial/platform/PosixInput.h"
#include "serial/platform/PosixInputFilter.h"
#include "serial/platform/PosixLineCounts.h"
#include "serial/platform/PosixPriority.h"
#include "serial/platform/PosixTermios.h"
#include "toolkit/ByteString.h"

using namespace platform;

namespace {

TDeviceControlBlock Block(std::uint32_t rate = 9600) {
  TDeviceControlBlock dcb;
  dcb.BaudRate = rate;
  dcb.Flags = fBinary | (DtrControlEnable << 4) | (RtsControlEnable << 12);
  return dcb;
}

// A record as a terminal is found: cooked, echoing, translating CR.
termios Cooked() {
  termios tios{};
  tios.c_iflag = ICRNL | IXON | BRKINT | IMAXBEL | PARMRK | INLCR | IGNCR | ISTRIP;
  tios.c_oflag = OPOST | ONLCR;
  tios.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  tios.c_cflag = CS7 | PARENB | CRTSCTS;
  return tios;
}

}  // namespace

struct TRateCase {
  std::uint32_t Rate;
  speed_t Speed;  // B0: needs the arbitrary-rate path
};

class TermiosRate : public testing::TestWithParam<TRateCase> {};

TEST_P(TermiosRate, MapsToSpeedConstantOrArbitraryRate) {
  const TRateCase c = GetParam();
  termios tios = Cooked();
  std::uint32_t custom = 1;
  ASSERT_EQ(DcbToTermios(Block(c.Rate), tios, custom), 0);
  if (c.Speed == B0) {
    EXPECT_EQ(custom, c.Rate);
  } else {
    EXPECT_EQ(custom, 0u);
    EXPECT_EQ(cfgetospeed(&tios), c.Speed);
    EXPECT_EQ(cfgetispeed(&tios), c.Speed);
    EXPECT_EQ(TermiosToDcb(tios, RateOfSpeed(cfgetospeed(&tios))).BaudRate, c.Rate);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryRate, TermiosRate,
    testing::Values(TRateCase{110, B110}, TRateCase{300, B300}, TRateCase{600, B600},
                    TRateCase{1200, B1200}, TRateCase{2400, B2400}, TRateCase{4800, B4800},
                    TRateCase{9600, B9600}, TRateCase{10400, B0}, TRateCase{14400, B0},
                    TRateCase{19200, B19200}, TRateCase{28800, B0}, TRateCase{38400, B38400},
                    TRateCase{56000, B0}, TRateCase{57600, B57600},
                    TRateCase{115200, B115200}, TRateCase{128000, B0},
                    TRateCase{256000, B0}));

struct TFormatCase {
  const char* Name;
  std::uint8_t ByteSize, Parity, StopBits;
  tcflag_t Size, ParityBits;
  bool TwoStop;
};

class TermiosFormat : public testing::TestWithParam<TFormatCase> {};

TEST_P(TermiosFormat, SetsSizeParityAndStopBitsAndReadsThemBack) {
  const TFormatCase c = GetParam();
  TDeviceControlBlock dcb = Block();
  dcb.ByteSize = c.ByteSize;
  dcb.Parity = c.Parity;
  dcb.StopBits = c.StopBits;
  termios tios = Cooked();
  std::uint32_t custom = 0;
  ASSERT_EQ(DcbToTermios(dcb, tios, custom), 0);
  EXPECT_EQ(tios.c_cflag & CSIZE, c.Size);
  EXPECT_EQ(tios.c_cflag & (PARENB | PARODD | CMSPAR), c.ParityBits);
  EXPECT_EQ((tios.c_cflag & CSTOPB) != 0, c.TwoStop);
  const TDeviceControlBlock back = TermiosToDcb(tios, 9600);
  EXPECT_EQ(back.ByteSize, c.ByteSize);
  EXPECT_EQ(back.Parity, c.Parity);
  EXPECT_EQ(back.StopBits, c.StopBits);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TermiosFormat,
    testing::Values(
        TFormatCase{"db5_none_1", 5, NoParity, OneStopBit, CS5, 0, false},
        TFormatCase{"db6_odd_2", 6, OddParity, TwoStopBits, CS6, PARENB | PARODD, true},
        TFormatCase{"db7_even_1", 7, EvenParity, OneStopBit, CS7, PARENB, false},
        TFormatCase{"db8_mark_1", 8, MarkParity, OneStopBit, CS8, PARENB | CMSPAR | PARODD,
                    false},
        TFormatCase{"db5_space_15", 5, SpaceParity, One5StopBits, CS5, PARENB | CMSPAR, true},
        TFormatCase{"db8_none_2", 8, NoParity, TwoStopBits, CS8, 0, true}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TFlowCase {
  const char* Name;
  std::uint32_t Flags;
  tcflag_t IFlags;  // of IXON | IXOFF | INPCK | PARMRK
  bool RtsCts;
};

class TermiosFlow : public testing::TestWithParam<TFlowCase> {};

TEST_P(TermiosFlow, FlowControlLandsInTheRightFlagWord) {
  const TFlowCase c = GetParam();
  TDeviceControlBlock dcb = Block();
  dcb.Flags = c.Flags;
  dcb.XonLim = LineXonLimit;
  dcb.XoffLim = LineXoffLimit;
  termios tios = Cooked();
  std::uint32_t custom = 0;
  ASSERT_EQ(DcbToTermios(dcb, tios, custom), 0);
  EXPECT_EQ(tios.c_iflag & (IXON | IXOFF | INPCK | PARMRK), c.IFlags);
  // Hardware handshake is a control-mode flag, never an input flag.
  EXPECT_EQ((tios.c_cflag & CRTSCTS) != 0, c.RtsCts);
  EXPECT_EQ(tios.c_iflag & CRTSCTS, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Flow, TermiosFlow,
    testing::Values(TFlowCase{"none", fBinary, 0, false},
                    TFlowCase{"xonxoff_out", fBinary | fOutX, IXON, false},
                    TFlowCase{"xonxoff_in", fBinary | fInX | fTXContinueOnXoff, IXOFF, false},
                    TFlowCase{"xonxoff_both", fBinary | fOutX | fInX | fTXContinueOnXoff,
                              IXON | IXOFF, false},
                    TFlowCase{"cts_with_rts_handshake",
                              fBinary | fOutxCtsFlow | (RtsControlHandshake << 12), 0, true},
                    // Bad bytes arrive marked, for the read path to pass on or replace.
                    TFlowCase{"check_parity", fBinary | fParity, INPCK | PARMRK, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Termios, LineIsFullyRawWhateverItWasBefore) {
  termios tios = Cooked();
  std::uint32_t custom = 0;
  ASSERT_EQ(DcbToTermios(Block(), tios, custom), 0);
  EXPECT_EQ(tios.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | PARMRK | ISTRIP | BRKINT |
                            IMAXBEL),
            0u);
  EXPECT_EQ(tios.c_oflag & OPOST, 0u);
  EXPECT_EQ(tios.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), 0u);
  EXPECT_NE(tios.c_cflag & CREAD, 0u);
  EXPECT_NE(tios.c_cflag & CLOCAL, 0u);
}

TEST(Termios, SpecialCharactersGoToStartAndStop) {
  TDeviceControlBlock dcb = Block();
  dcb.XonChar = 0x05;
  dcb.XoffChar = 0x06;
  termios tios = Cooked();
  std::uint32_t custom = 0;
  ASSERT_EQ(DcbToTermios(dcb, tios, custom), 0);
  EXPECT_EQ(tios.c_cc[VSTART], 0x05);
  EXPECT_EQ(tios.c_cc[VSTOP], 0x06);
}

// Each setting the line cannot carry out as meant is refused, naming the setting.
TEST(Termios, RefusesWhatTheLineCannotDoWithoutTouchingTheRecord) {
  struct TCase {
    const char* Setting;  // the reason begins with it
    void (*Spoil)(TDeviceControlBlock&);
  } cases[] = {
      {"DataBits db4", [](TDeviceControlBlock& d) { d.ByteSize = 4; }},
      {"DataBits", [](TDeviceControlBlock& d) { d.ByteSize = 9; }},
      {"Characters.XOn", [](TDeviceControlBlock& d) { d.XonChar = d.XoffChar = 0x11; }},
      {"Parity", [](TDeviceControlBlock& d) { d.Parity = 5; }},
      {"StopBits", [](TDeviceControlBlock& d) { d.StopBits = 3; }},
      {"BaudRate", [](TDeviceControlBlock& d) { d.BaudRate = 0; }},
      {"StopBits sb1_5", [](TDeviceControlBlock& d) { d.StopBits = One5StopBits; }},
      {"StopBits sb2", [](TDeviceControlBlock& d) { d.ByteSize = 5; d.StopBits = TwoStopBits; }},
      {"fBinary", [](TDeviceControlBlock& d) { d.Flags &= ~fBinary; }},
      {"DTR dcHandshake",
       [](TDeviceControlBlock& d) { d.Flags = (d.Flags & ~fDtrControlMask) | (DtrControlHandshake << 4); }},
      {"RTS rcToggle",
       [](TDeviceControlBlock& d) { d.Flags = (d.Flags & ~fRtsControlMask) | (RtsControlToggle << 12); }},
      {"RTS rcHandshake",
       [](TDeviceControlBlock& d) { d.Flags = (d.Flags & ~fRtsControlMask) | (RtsControlHandshake << 12); }},
      {"opOutputCTSFlow", [](TDeviceControlBlock& d) { d.Flags |= fOutxCtsFlow; }},
      {"opOutputDSRFlow", [](TDeviceControlBlock& d) { d.Flags |= fOutxDsrFlow; }},
      {"opDSRSensitivity", [](TDeviceControlBlock& d) { d.Flags |= fDsrSensitivity; }},
      {"opAbortOnError", [](TDeviceControlBlock& d) { d.Flags |= fAbortOnError; }},
      {"xcInput", [](TDeviceControlBlock& d) {
         d.Flags |= fInX;
         d.XonLim = LineXonLimit;
         d.XoffLim = LineXoffLimit;
       }},
      {"XOnLimit", [](TDeviceControlBlock& d) { d.Flags |= fInX | fTXContinueOnXoff; }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Setting);
    TDeviceControlBlock dcb = Block();
    c.Spoil(dcb);
    termios tios = Cooked();
    const termios before = tios;
    std::uint32_t custom = 0;
    std::string reason;
    EXPECT_EQ(DcbToTermios(dcb, tios, custom, &reason), EINVAL);
    EXPECT_EQ(reason.rfind(std::string(c.Setting) + " ", 0), 0u) << reason;
    EXPECT_NE(reason.find(" refused"), std::string::npos) << reason;
    EXPECT_LT(reason.size(), 200u);
    EXPECT_EQ(tios.c_cflag, before.c_cflag);
    EXPECT_EQ(tios.c_iflag, before.c_iflag);
  }
}

TEST(DeviceNames, ComNamesMapToSerialPortsOthersPassUnchanged) {
  const std::pair<const char*, const char*> cases[] = {
      {"COM1", "/dev/ttyS0"},
      {"COM2", "/dev/ttyS1"},
      {"COM10", "/dev/ttyS9"},
      {"\\\\.\\COM10", "/dev/ttyS9"},
      {"\\\\.\\COM3", "/dev/ttyS2"},
      {"COM0", "COM0"},
      {"COM", "COM"},
      {"COM1a", "COM1a"},
      {"com1", "com1"},
      {"COM01", "COM01"},
      {"\\\\.\\pipe", "\\\\.\\pipe"},
      {"/dev/pts/3", "/dev/pts/3"},
      {"virtual:A", "virtual:A"},
      {"", ""},
  };
  for (const auto& [given, expected] : cases) EXPECT_EQ(NativeDeviceName(given), expected) << given;
}

TEST(Priority, ClassesMapToNiceValuesAndBack) {
  const std::pair<std::int32_t, int> cases[] = {{IdlePriorityClass, 19},
                                                {NormalPriorityClass, 0},
                                                {HighPriorityClass, -10},
                                                {RealtimePriorityClass, -20}};
  for (const auto& [cls, nice] : cases) {
    EXPECT_EQ(NiceOfPriorityClass(cls), nice);
    EXPECT_EQ(PriorityClassOfNice(nice), cls);
  }
  EXPECT_EQ(PriorityClassOfNice(5), NormalPriorityClass);
  EXPECT_EQ(PriorityClassOfNice(12), IdlePriorityClass);
}

TEST(LineCounts, CountedChangesBecomeErrorBitsAndEvents) {
  struct TCase {
    const char* What;
    int TLineCounts::*Field;
    std::uint32_t Errors, Events;
  } cases[] = {
      {"frame", &TLineCounts::Frame, CeFrame, EvErr},
      {"overrun", &TLineCounts::Overrun, CeOverrun, EvErr},
      {"parity", &TLineCounts::Parity, CeRxParity, EvErr},
      {"buffer overrun", &TLineCounts::BufOverrun, CeRxOver, EvErr},
      {"break", &TLineCounts::Break, CeBreak, EvBreak},
      {"cts", &TLineCounts::Cts, 0, EvCts},
      {"dsr", &TLineCounts::Dsr, 0, EvDsr},
      {"ring", &TLineCounts::Ring, 0, EvRing},
      {"carrier", &TLineCounts::Rlsd, 0, EvRlsd},
  };
  const TLineCounts before{3, 1, 4, 1, 5, 9, 2, 6, 5};
  EXPECT_EQ(LineErrorsBetween(before, before), 0u);
  EXPECT_EQ(LineEventsBetween(before, before), 0u);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TLineCounts after = before;
    after.*c.Field += 2;
    EXPECT_EQ(LineErrorsBetween(before, after), c.Errors);
    EXPECT_EQ(LineEventsBetween(before, after), c.Events);
  }
}

// What the line discipline hands over, as the port delivers it; the same whether the bytes come
// at once or one by one (a mark may be cut between two reads).
TEST(InputFilter, UnmarksReplacesAndDropsAlikeInAnyChunking) {
  struct TCase {
    const char* What;
    TInputFilter::TSettings Settings;
    std::string Raw, Delivered;
  } cases[] = {
      {"off: untouched", {}, std::string("\xFF\0B\0", 4), std::string("\xFF\0B\0", 4)},
      {"bad byte as received, true FF once", {true, false, '?', false},
       std::string("A\xFF\0BC\xFF\xFF" "D", 8), "ABC\xFF" "D"},
      {"bad byte replaced", {true, true, '?', false},
       std::string("A\xFF\0BC\xFF\xFF" "D", 8), "A?C\xFF" "D"},
      {"break stays a null byte", {true, true, '?', false}, std::string("\xFF\0\0A", 4),
       std::string("\0A", 2)},
      {"nulls dropped", {false, false, 0, true}, std::string("\0A\0\0B\0", 6), "AB"},
      {"nulls dropped, marks taken out", {true, false, 0, true},
       std::string("\0A\xFF\xFF\xFF\0\0B\xFF\0C", 11), "A\xFF" "BC"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    const auto* raw = reinterpret_cast<const std::uint8_t*>(c.Raw.data());
    TInputFilter whole, bytewise;
    whole.Configure(c.Settings);
    bytewise.Configure(c.Settings);
    std::string a, b;
    whole.Filter(raw, c.Raw.size(), a);
    for (std::size_t i = 0; i < c.Raw.size(); ++i) bytewise.Filter(raw + i, 1, b);
    EXPECT_EQ(a, c.Delivered);
    EXPECT_EQ(b, c.Delivered);
  }
}

TEST(PosixInput, BytesBeyondTheHeldLimitAreCountedAndReadInOrder) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
  ByteString sent;
  for (int i = 0; i < 300; ++i) sent.push_back(static_cast<char>('A' + i % 26));
  ASSERT_EQ(::write(fds[1], sent.data(), sent.size()), 300);
  platform::TPosixInput input(fds[0]);
  std::size_t moved = 0;
  ASSERT_TRUE(input.Take(moved, 100));
  EXPECT_EQ(moved, 100u);
  std::uint32_t count = 0;
  ASSERT_TRUE(input.Deliverable(count, moved));
  EXPECT_EQ(count, 300u) << "the terminal's rest has no arrival left to report it";
  ByteString got(300, '\0');
  EXPECT_EQ(input.Read(got.data(), got.size(), false), 300);
  EXPECT_EQ(got, sent);
  ::close(fds[0]);
  ::close(fds[1]);
}
