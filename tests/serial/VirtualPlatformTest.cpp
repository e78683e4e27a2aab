// The scriptable virtual line: what tests of the port rely on it to do.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "serial/platform/ManualEvent.h"
#include "serial/platform/VirtualPlatform.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

class VirtualLine : public testing::Test {
 protected:
  void SetUp() override {
    FLine = FPlatform.AddDevice("virtual:A");
    FDevice = FPlatform.Open("virtual:A");
    ASSERT_NE(FDevice, nullptr);
  }

  // Waits on another thread; returns what the wait reported.
  std::uint32_t WaitWhile(const std::function<void()>& action) {
    std::atomic<std::uint32_t> reported{0xFFFFFFFF};
    std::thread waiter([&] {
      std::uint32_t events = 0;
      FDevice->WaitCommEvent(events);
      reported = events;
    });
    EXPECT_TRUE(FLine->WaitUntilWaiting(2000));
    action();
    waiter.join();
    return reported;
  }

  TVirtualPlatform FPlatform;
  std::shared_ptr<TVirtualLine> FLine;
  std::unique_ptr<IDevice> FDevice;
};

}  // namespace

TEST(VirtualPlatform, OpenRefusesUnknownBusyAndInjectedFailures) {
  TVirtualPlatform platform;
  EXPECT_EQ(platform.Open("virtual:none"), nullptr);
  EXPECT_EQ(platform.GetLastError(), ENOENT);
  EXPECT_EQ(platform.ErrorText(ENOENT), "No such file or directory");

  auto line = platform.AddDevice("virtual:B");
  line->FailNext("Open", EACCES);
  EXPECT_EQ(platform.Open("virtual:B"), nullptr);
  EXPECT_EQ(platform.GetLastError(), EACCES);
  auto device = platform.Open("virtual:B");  // only the next one failed
  ASSERT_NE(device, nullptr);
  EXPECT_TRUE(line->IsOpen());
  EXPECT_EQ(platform.Open("virtual:B"), nullptr);
  EXPECT_EQ(platform.GetLastError(), EBUSY);
  device.reset();
  EXPECT_FALSE(line->IsOpen());
  EXPECT_EQ(line->Calls(), (std::vector<std::string>{"Open", "Open", "Open", "Close"}));
}

TEST(VirtualPlatform, EventsArePlainManualResetAndCounted) {
  TVirtualPlatform platform;
  {
    auto event = platform.CreateEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(platform.LiveEvents(), 1);
    EXPECT_TRUE(event->IsSet());  // initially signalled
    EXPECT_TRUE(event->Reset());
    EXPECT_FALSE(event->IsSet());
    event->Set();
    EXPECT_TRUE(event->IsSet());
    platform.FailNextCreateEvent(ENOMEM);
    EXPECT_EQ(platform.CreateEvent(), nullptr);
    EXPECT_EQ(platform.GetLastError(), ENOMEM);
  }
  EXPECT_EQ(platform.LiveEvents(), 0);
}

TEST(VirtualPlatform, PriorityClassIsRecordedOnly) {
  TVirtualPlatform platform;
  EXPECT_EQ(platform.GetPriorityClass(), NormalPriorityClass);
  platform.SetPriorityClass(HighPriorityClass);
  EXPECT_EQ(platform.GetPriorityClass(), HighPriorityClass);
  platform.SetPriorityClass(NormalPriorityClass);
  EXPECT_EQ(platform.PriorityChanges(),
            (std::vector<std::int32_t>{HighPriorityClass, NormalPriorityClass}));
}

TEST_F(VirtualLine, ControlBlockAsFoundRefusalsAndCallRecord) {
  TDeviceControlBlock found;
  found.BaudRate = 4800;
  found.ByteSize = 7;
  found.Parity = EvenParity;
  FLine->SetDeviceState(found);
  FLine->ClearCalls();
  TDeviceControlBlock dcb;
  ASSERT_TRUE(FDevice->GetCommState(dcb));
  EXPECT_EQ(dcb, found);
  EXPECT_FALSE(FLine->LastCommState().has_value());  // nothing written yet

  FLine->RefuseCommState([](const TDeviceControlBlock& d) { return d.XonChar == d.XoffChar; },
                         EINVAL);
  dcb.XoffChar = dcb.XonChar;
  EXPECT_FALSE(FDevice->SetCommState(dcb));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(FLine->LastCommState().has_value());
  dcb.XoffChar = 0x13;
  dcb.XonChar = 0x11;
  ASSERT_TRUE(FDevice->SetCommState(dcb));
  EXPECT_EQ(FLine->LastCommState(), dcb);
  EXPECT_EQ(FLine->DeviceState(), dcb);

  FLine->FailNext("SetupComm", EIO);
  EXPECT_FALSE(FDevice->SetupComm(1024, 2048));
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(FLine->LastBufferSizes().has_value());
  ASSERT_TRUE(FDevice->SetupComm(1024, 2048));
  EXPECT_EQ(FLine->LastBufferSizes(), std::pair(1024, 2048));
  const TCommTimeouts t{1, 2, 3, 4, 5};
  ASSERT_TRUE(FDevice->SetCommTimeouts(t));
  EXPECT_EQ(FLine->LastTimeouts(), t);
  ASSERT_TRUE(FDevice->PurgeComm(PurgeRxAbort | PurgeRxClear));
  EXPECT_EQ(FLine->Purges(), (std::vector<std::uint32_t>{0x000A}));
  EXPECT_EQ(FLine->Calls(),
            (std::vector<std::string>{"GetCommState", "SetCommState", "SetCommState", "SetupComm",
                                      "SetupComm", "SetCommTimeouts", "PurgeComm"}));
}

TEST_F(VirtualLine, BytesBothWaysAndPendingTransfers) {
  FLine->Send(MakeBytes({0x02, 0x31, 0x03}));
  std::uint32_t errors = 0, inQueue = 0;
  ASSERT_TRUE(FDevice->ClearCommError(errors, &inQueue));
  EXPECT_EQ(inQueue, 3u);

  // A read for more than is there waits for the rest.
  char buffer[5] = {};
  TManualEvent done;
  done.Reset();
  EXPECT_FALSE(FDevice->StartRead(buffer, 5, done));
  EXPECT_EQ(errno, ErrorIoPending);
  EXPECT_FALSE(done.IsSet());
  FLine->Send("ab");
  EXPECT_TRUE(done.IsSet());
  std::uint32_t moved = 0;
  ASSERT_TRUE(FDevice->GetResult(TDirection::Read, moved));
  EXPECT_EQ(ByteString(buffer, moved), MakeBytes({0x02, 0x31, 0x03, 'a', 'b'}));

  // A held write keeps its own copy of the bytes until released.
  FLine->HoldWrites(true);
  {
    ByteString text = "hello";
    done.Reset();
    EXPECT_FALSE(FDevice->StartWrite(text.data(), 5, done));
    EXPECT_EQ(errno, ErrorIoPending);
    text.assign("XXXXX");
  }
  EXPECT_EQ(FLine->TakeWritten(), "");
  FLine->HoldWrites(false);
  EXPECT_TRUE(done.IsSet());
  ASSERT_TRUE(FDevice->GetResult(TDirection::Write, moved));
  EXPECT_EQ(moved, 5u);
  EXPECT_EQ(FLine->TakeWritten(), "hello");
}

TEST_F(VirtualLine, PurgeAndTimeoutEndPendingReads) {
  char buffer[8];
  TManualEvent done;
  done.Reset();
  ASSERT_FALSE(FDevice->StartRead(buffer, 8, done));
  ASSERT_TRUE(FDevice->PurgeComm(PurgeRxAbort | PurgeRxClear));
  EXPECT_TRUE(done.IsSet());
  std::uint32_t moved = 0;
  EXPECT_FALSE(FDevice->GetResult(TDirection::Read, moved));
  EXPECT_EQ(errno, ECANCELED);

  ASSERT_TRUE(FDevice->SetCommTimeouts({0, 0, 100, 0, 0}));
  FLine->Send("xy");
  done.Reset();
  ASSERT_FALSE(FDevice->StartRead(buffer, 8, done));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(FDevice->GetResult(TDirection::Read, moved));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 80ms);
  EXPECT_EQ(moved, 2u);
  EXPECT_TRUE(done.IsSet());
}

TEST_F(VirtualLine, ModemLinesAndLineErrorsRaiseMaskedEvents) {
  ASSERT_TRUE(FDevice->SetCommMask(EvCts | EvDsr | EvErr | EvRing));
  EXPECT_EQ(WaitWhile([&] { FLine->SetModemLines(MsCtsOn); }), EvCts);
  std::uint32_t status = 0;
  ASSERT_TRUE(FDevice->GetCommModemStatus(status));
  EXPECT_EQ(status, MsCtsOn);
  // RLSD is not in the mask: its change is not kept for a later wait.
  FLine->SetModemLines(MsCtsOn | MsRlsdOn | MsDsrOn | MsRingOn);
  std::uint32_t events = 0;
  ASSERT_TRUE(FDevice->WaitCommEvent(events));
  EXPECT_EQ(events, EvDsr | EvRing);

  EXPECT_EQ(WaitWhile([&] { FLine->InjectLineErrors(CeFrame | CeOverrun); }), EvErr);
  std::uint32_t errors = 0;
  ASSERT_TRUE(FDevice->ClearCommError(errors, nullptr));
  EXPECT_EQ(errors, CeFrame | CeOverrun);
  ASSERT_TRUE(FDevice->ClearCommError(errors, nullptr));
  EXPECT_EQ(errors, 0u);  // cleared by the read before
}

TEST_F(VirtualLine, WaitEndsOnMaskChangeAndReportsOnlyMaskedEvents) {
  // With no mask a wait could never end: it fails at once instead.
  std::uint32_t none = 0xFFFF;
  EXPECT_FALSE(FDevice->WaitCommEvent(none));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(none, 0u);
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar));
  EXPECT_EQ(WaitWhile([&] { FDevice->SetCommMask(EvRxChar | EvTxEmpty); }), 0u);
  EXPECT_EQ(WaitWhile([&] { FLine->Send("z"); }), EvRxChar);
  EXPECT_EQ(WaitWhile([&] { FLine->RaiseEvents(EvRxChar | EvBreak); }), EvRxChar);
  EXPECT_EQ(FLine->LastMask(), EvRxChar | EvTxEmpty);
  FLine->FailNext("SetCommMask", EINVAL);
  EXPECT_FALSE(FDevice->SetCommMask(0));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(FLine->LastMask(), EvRxChar | EvTxEmpty);
}

TEST_F(VirtualLine, VanishedDeviceFailsTransfersAndWaitsOnlyForMaskChange) {
  ASSERT_TRUE(FDevice->SetCommMask(EvRxChar | EvCts));
  char buffer[4];
  TManualEvent done;
  done.Reset();
  ASSERT_FALSE(FDevice->StartRead(buffer, 4, done));
  FLine->Send("ab");
  FLine->Vanish();
  EXPECT_TRUE(done.IsSet());
  std::uint32_t moved = 0;
  EXPECT_FALSE(FDevice->GetResult(TDirection::Read, moved));
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(moved, 2u);

  // Nothing happens on a vanished line, whatever the test end does.
  EXPECT_EQ(WaitWhile([&] {
              FLine->Send("x");
              FLine->SetModemLines(MsCtsOn);
              std::this_thread::sleep_for(50ms);
              FDevice->SetCommMask(0);
            }),
            0u);
  std::uint32_t errors = 0;
  EXPECT_FALSE(FDevice->ClearCommError(errors, nullptr));
  EXPECT_EQ(errno, EIO);
  done.Reset();
  EXPECT_FALSE(FDevice->StartWrite("z", 1, done));
  EXPECT_EQ(errno, EIO);
  EXPECT_TRUE(done.IsSet());
  EXPECT_TRUE(FDevice->PurgeComm(PurgeRxAbort | PurgeRxClear | PurgeTxAbort | PurgeTxClear));
}
