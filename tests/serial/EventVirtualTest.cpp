// The event thread on the scriptable virtual line: line events raised the way a device raises
// them, with the port's own status reads.
#include <gtest/gtest.h>

#include <functional>

#include "EventTestSupport.h"
#include "serial/ComPort.h"
#include "serial/platform/VirtualPlatform.h"
#include "toolkit/ErrorReport.h"

using namespace platform;
using namespace std::chrono_literals;
using eventtest::ServeUntil;
using eventtest::TSink;
using Strings = std::vector<std::string>;

namespace {

class EventVirtualTest : public ::testing::Test {
 protected:
  EventVirtualTest() : FPrevious(Install(&FPlatform)) {}
  ~EventVirtualTest() override {
    FPort.Close();
    Install(FPrevious == &FPlatform ? nullptr : FPrevious);
  }
  void SetUp() override {
    FLine = FPlatform.AddDevice("VCOM1");
    FPort.SetDeviceName("VCOM1");
  }

  TVirtualPlatform FPlatform;
  IPlatform* FPrevious;
  std::shared_ptr<TVirtualLine> FLine;
  TSink FSink;
  TComPort FPort{nullptr};
};

}  // namespace

TEST_F(EventVirtualTest, DeviceMaskFollowsTheHandlers) {
  FPort.Open();
  EXPECT_EQ(FLine->LastMask(), 0u);
  EXPECT_TRUE(FPort.EventThread()->Parked());
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  EXPECT_EQ(FLine->LastMask(), EvRxChar);
  EXPECT_TRUE(FLine->WaitUntilWaiting(5000));
  FPort.SetOnRing(MakeMethod(&FSink, &TSink::Ring));
  EXPECT_EQ(FLine->LastMask(), EvRxChar | EvRing);
  FPort.SetOnRxChar(nullptr);
  FPort.SetOnRing(nullptr);
  EXPECT_EQ(FLine->LastMask(), 0u);
  EXPECT_TRUE(ServeUntil([this] { return FPort.EventThread()->Parked(); }));
}

TEST_F(EventVirtualTest, LineErrorComesBeforeTheReceivedCharacters) {
  TLineErrors seen;
  ByteString received;
  FSink.FOnRxChar = [&] { received += FPort.ReadText(); };
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.SetOnLineError(MakeMethod(&FSink, &TSink::LineError));
  FPort.Open();
  ASSERT_TRUE(FLine->WaitUntilWaiting(5000));
  FLine->InjectLineErrors(CeFrame | CeRxParity);
  FLine->Send(MakeBytes({0x02, 0xF0, 0x03}));
  ASSERT_TRUE(ServeUntil([&] { return received.size() == 3; }));
  EXPECT_EQ(FSink.Calls(), (Strings{"LineError", "RxChar"}));
  EXPECT_TRUE(FSink.LastLineErrors().Contains(TLineError::leFrame));
  EXPECT_TRUE(FSink.LastLineErrors().Contains(TLineError::leParity));
  EXPECT_EQ(received, MakeBytes({0x02, 0xF0, 0x03}));
}

TEST_F(EventVirtualTest, ModemLineChangesArriveInTableOrder) {
  FPort.SetOnRing(MakeMethod(&FSink, &TSink::Ring));
  FPort.SetOnCTSChange(MakeMethod(&FSink, &TSink::CTSChange));
  FPort.SetOnRLSDChange(MakeMethod(&FSink, &TSink::RLSDChange));
  FPort.Open();
  ASSERT_TRUE(FLine->WaitUntilWaiting(5000));
  FLine->SetModemLines(MsRingOn | MsCtsOn | MsRlsdOn);
  ASSERT_TRUE(ServeUntil([this] { return FSink.Count() == 3; }));
  EXPECT_EQ(FSink.Calls(), (Strings{"CTSChange", "Ring", "RLSDChange"}));
}

TEST_F(EventVirtualTest, FailingMaskChangeIsRaisedWithTheDevicesCode) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.Open();
  FLine->FailNext("SetCommMask", 5);
  try {
    FPort.SetOnCTSChange(MakeMethod(&FSink, &TSink::CTSChange));
    FAIL() << "the failing SetCommMask must raise";
  } catch (const EComError& e) {
    EXPECT_EQ(e.ErrorCode(), 5);
  }
  EXPECT_EQ(FLine->LastMask(), EvRxChar);
}

TEST_F(EventVirtualTest, CloseWhileCharactersArriveAlwaysEnds) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  for (int i = 0; i < 300; ++i) {
    FPort.Open();
    ASSERT_TRUE(FLine->WaitUntilWaiting(5000));
    FLine->Send("x");
    FPort.Close();
    ASSERT_EQ(FPort.EventThread(), nullptr) << "iteration " << i;
  }
}

TEST_F(EventVirtualTest, EveryLineEventReachesItsHandlerWithoutOnRxChar) {
  FPort.Characters().SetEvent('~');
  FPort.BufferSizes().SetInput(10);
  FPort.SetOnRxFlag(MakeMethod(&FSink, &TSink::RxFlag));
  FPort.SetOnRx80PercFull(MakeMethod(&FSink, &TSink::Rx80PercFull));
  FPort.SetOnBreak(MakeMethod(&FSink, &TSink::Break));
  FPort.SetOnLineError(MakeMethod(&FSink, &TSink::LineError));
  FPort.SetOnDSRChange(MakeMethod(&FSink, &TSink::DSRChange));
  FPort.SetOnTxEmpty(MakeMethod(&FSink, &TSink::TxEmpty));
  FPort.Open();
  ASSERT_TRUE(FLine->WaitUntilWaiting(5000));
  const std::pair<std::function<void()>, Strings> cases[] = {
      {[&] { FLine->Send("ab~"); }, {"RxFlag"}},
      {[&] { FLine->Send("cdefg"); }, {"Rx80PercFull"}},  // 8 of 10 queued
      {[&] { FLine->InjectLineErrors(CeBreak); }, {"Break", "LineError"}},
      {[&] { FLine->InjectLineErrors(CeOverrun); }, {"LineError"}},
      {[&] { FLine->SetModemLines(MsDsrOn); }, {"DSRChange"}},
      {[&] { FPort.WriteText("out"); }, {"TxEmpty"}},
  };
  Strings expected;
  for (const auto& [action, calls] : cases) {
    SCOPED_TRACE(calls.front());
    action();
    expected.insert(expected.end(), calls.begin(), calls.end());
    ASSERT_TRUE(ServeUntil([&] { return FSink.Count() >= expected.size(); }));
    EXPECT_EQ(FSink.Calls(), expected);
  }
  EXPECT_FALSE(ServeUntil([&] { return FSink.Count() > expected.size(); }, 200ms));
}
