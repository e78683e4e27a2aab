// Reading, writing and line status of the port on a scripted device.
#include <gtest/gtest.h>

#include <cerrno>

#include "RecordingPlatform.h"
#include "serial/ComPort.h"

namespace {

struct Announced {
  std::string Which;
  void* Buffer;
  std::int32_t Length;
  bool Wait;
};

struct EventLog {
  std::vector<Announced> Seen;
  void BeforeRead(TObject*, void* b, std::int32_t n, bool w) { Seen.push_back({"BR", b, n, w}); }
  void AfterRead(TObject*, void* b, std::int32_t n, bool w) { Seen.push_back({"AR", b, n, w}); }
  void BeforeWrite(TObject*, void* b, std::int32_t n, bool w) { Seen.push_back({"BW", b, n, w}); }
  void AfterWrite(TObject*, void* b, std::int32_t n, bool w) { Seen.push_back({"AW", b, n, w}); }
};

class PortIO : public ::testing::Test {
 protected:
  PortIO() {
    Port.SetDeviceName(Os.DeviceName);
    Port.SetBeforeRead(MakeMethod(&Log, &EventLog::BeforeRead));
    Port.SetAfterRead(MakeMethod(&Log, &EventLog::AfterRead));
    Port.SetBeforeWrite(MakeMethod(&Log, &EventLog::BeforeWrite));
    Port.SetAfterWrite(MakeMethod(&Log, &EventLog::AfterWrite));
  }
  void Open() {
    Port.SetActive(true);
    Os.Calls.clear();
  }
  fake::Platform Os;
  EventLog Log;
  TComPort Port{nullptr};
};

void ExpectComError(const std::function<void()>& op, std::int32_t code, const std::string& text) {
  try {
    op();
    ADD_FAILURE() << "no error";
  } catch (const EComError& e) {
    EXPECT_EQ(e.ErrorCode(), code);
    EXPECT_EQ(e.Message(), text);
  }
}

TEST_F(PortIO, ClosedPortRefusesBeforeAnyEvent) {
  char buffer[4];
  const std::string closed = "Can't perform this operation on a closed port";
  ExpectComError([&] { Port.Read(buffer, 4, true); }, 0, closed);
  ExpectComError([&] { Port.Write(buffer, 4, true); }, 0, closed);
  ExpectComError([&] { Port.WriteText("abc"); }, 0, closed);
  ExpectComError([&] { Port.ModemStatus(); }, 0, closed);
  EXPECT_TRUE(Log.Seen.empty());
  // These have no open check: the platform's invalid-handle failure comes through instead.
  const std::string invalid = "System text " + std::to_string(EBADF);
  ExpectComError([&] { Port.ReadText(); }, EBADF, invalid);
  ExpectComError([&] { Port.InputCount(); }, EBADF, invalid);
  ExpectComError([&] { Port.LineErrors(); }, EBADF, invalid);
}

TEST_F(PortIO, ReadTextTakesExactlyTheWaitingBytes) {
  Open();
  Os.L.Input = std::string("\x02\x00\x31\x03\x10", 5);
  const ByteString text = Port.ReadText();
  EXPECT_EQ(text, std::string("\x02\x00\x31\x03\x10", 5));
  EXPECT_EQ(Os.Count("StartRead 5"), 1u);
  ASSERT_EQ(Log.Seen.size(), 2u);
  EXPECT_EQ(Log.Seen[0].Which, "BR");
  EXPECT_EQ(Log.Seen[0].Length, 5);
  EXPECT_TRUE(Log.Seen[0].Wait);
  EXPECT_EQ(Log.Seen[1].Which, "AR");
  EXPECT_EQ(Log.Seen[1].Length, 5);

  Log.Seen.clear();
  EXPECT_EQ(Port.ReadText(), "");
  ASSERT_EQ(Log.Seen.size(), 2u);
  EXPECT_EQ(Log.Seen[0].Length, 0);
  EXPECT_EQ(Log.Seen[1].Length, 0);
  EXPECT_EQ(Os.Count("StartRead 0"), 0u);
}

TEST_F(PortIO, ReadTextNeverReturnsBytesThatDidNotArrive) {
  Open();
  Os.L.Input = "abcdef";
  Os.L.ShortBy = 2;
  EXPECT_EQ(Port.ReadText(), "abcd");
}

TEST_F(PortIO, ReadTextFirstCollectsAnOutstandingRead) {
  Open();
  Os.L.PendingReads = true;
  Os.L.Input = "abcde";
  char first[3];
  Port.Read(first, 3, false);
  EXPECT_EQ(Os.L.Input, "abcde");  // still outstanding
  Os.L.PendingReads = false;
  const ByteString rest = Port.ReadText();
  EXPECT_EQ(std::string(first, 3), "abc");
  EXPECT_EQ(rest, "de");
}

TEST_F(PortIO, WaitedReadCutShortRaisesTimeoutAndKeepsTheBytes) {
  Open();
  Os.L.PendingReads = true;
  Os.L.Input = "ab";
  char buffer[5] = {};
  ExpectComError([&] { Port.Read(buffer, 5, true); }, 0, "Timeout");
  EXPECT_EQ(std::string(buffer, 2), "ab");
  EXPECT_EQ(Log.Seen.size(), 1u);  // AfterRead is not reached
}

TEST_F(PortIO, ReadAlreadyCompleteWhenTestedRaisesNothing) {
  Open();
  Os.L.Input = "ab";
  char buffer[5] = {};
  Port.Read(buffer, 5, false);  // done at once, short
  EXPECT_NO_THROW(Port.WaitForReadCompletion());
  EXPECT_EQ(Os.Count("GetResultRead"), 0u);
}

TEST_F(PortIO, FailedStartReadSkipsAfterRead) {
  Open();
  Os.Fail("StartRead 4", 23);
  char buffer[4];
  ExpectComError([&] { Port.Read(buffer, 4, true); }, 23, "System text 23");
  ASSERT_EQ(Log.Seen.size(), 1u);
  EXPECT_EQ(Log.Seen[0].Which, "BR");
  EXPECT_EQ(Log.Seen[0].Buffer, buffer);
}

TEST_F(PortIO, WriteTextReturnsAtOnceAndTheCallerMayFreeItsText) {
  Open();
  Os.L.PendingWrites = true;
  {
    auto text = std::make_unique<ByteString>(MakeBytes({0x02, 0xB1, 0x00, 0x03}));
    Port.WriteText(*text);
  }
  EXPECT_TRUE(Os.L.Written.empty());  // issued, not yet sent
  ASSERT_EQ(Log.Seen.size(), 2u);
  EXPECT_EQ(Log.Seen[1].Which, "AW");
  EXPECT_EQ(Log.Seen[1].Length, 4);
  EXPECT_FALSE(Log.Seen[1].Wait);
  // The next write waits for the first before it starts.
  Port.WriteText("z");
  EXPECT_EQ(Os.Count("GetResultWrite"), 1u);
  Port.Close();
  EXPECT_EQ(Os.L.Written, MakeBytes({0x02, 0xB1, 0x00, 0x03}) + "z");
}

TEST_F(PortIO, EmptyWriteTextAnnouncesButWritesNothing) {
  Open();
  Port.WriteText("");
  ASSERT_EQ(Log.Seen.size(), 2u);
  EXPECT_EQ(Log.Seen[0].Which, "BW");
  EXPECT_EQ(Log.Seen[0].Length, 0);
  EXPECT_FALSE(Log.Seen[0].Wait);
  EXPECT_EQ(Log.Seen[1].Length, 0);
  EXPECT_TRUE(Os.Calls.empty());
}

TEST_F(PortIO, FailedCollectionOfAWriteRaisesThePlatformCode) {
  Open();
  Os.L.PendingWrites = true;
  Port.WriteText("abc");
  Os.Fail("GetResultWrite", 995);
  ExpectComError([&] { Port.WaitForWriteCompletion(); }, 995, "System text 995");
}

TEST_F(PortIO, ModemStatusMapsEachLine) {
  Open();
  const std::pair<std::uint32_t, TModemStatus> cases[] = {
      {0, {}},
      {platform::MsCtsOn | platform::MsRlsdOn, {TModemStatusValue::msCTS, TModemStatusValue::msRLSD}},
      {platform::MsDsrOn | platform::MsRingOn | 0x01, {TModemStatusValue::msDSR, TModemStatusValue::msRing}},
      {0xF0, TModemStatus::FromBits(0x0F)},
  };
  for (const auto& [bits, expected] : cases) {
    Os.L.Modem = bits;
    EXPECT_EQ(Port.ModemStatus(), expected) << bits;
  }
}

TEST_F(PortIO, LineErrorsMapEachBitAndClearOnReading) {
  Open();
  const std::pair<std::uint32_t, TLineError> table[] = {
      {platform::CeBreak, TLineError::leBreak},       {platform::CeDns, TLineError::leDeviceNotSelected},
      {platform::CeFrame, TLineError::leFrame},       {platform::CeIoe, TLineError::leIO},
      {platform::CeMode, TLineError::leMode},         {platform::CeOop, TLineError::leOutOfPaper},
      {platform::CeOverrun, TLineError::leOverrun},   {platform::CePto, TLineError::leDeviceTimeOut},
      {platform::CeRxOver, TLineError::leRxOverflow}, {platform::CeRxParity, TLineError::leParity},
      {platform::CeTxFull, TLineError::leTxFull},
  };
  for (const auto& [bit, element] : table) {
    Os.L.Errors = bit;
    EXPECT_EQ(Port.LineErrors(), TLineErrors{element}) << bit;
  }
  Os.L.Errors = platform::CeFrame | platform::CeOverrun | 0x2000;  // unknown bits are ignored
  EXPECT_EQ(Port.LineErrors().RawBits(), 0x0044);
  EXPECT_TRUE(Port.LineErrors().Empty());
}

TEST_F(PortIO, InputCountClearsPendingLineErrors) {
  Open();
  Os.L.Input = "xyz";
  Os.L.Errors = platform::CeFrame;
  EXPECT_EQ(Port.InputCount(), 3);
  EXPECT_TRUE(Port.LineErrors().Empty());
}

TEST_F(PortIO, PurgesUseTheirDirectionsFlags) {
  Open();
  Port.PurgeInput();
  Port.PurgeOutput();
  EXPECT_EQ(Os.Calls, (std::vector<std::string>{"PurgeComm 10", "PurgeComm 5"}));
  Port.Close();
  Os.Calls.clear();
  Port.PurgeInput();
  EXPECT_TRUE(Os.Calls.empty());
}

}  // namespace
