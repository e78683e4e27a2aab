// The port's event thread on an in-process line: the mask follows the handlers, dispatch
// order and error guard, the thread handlers run on, and the stop protocol.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include "tests/toolkit/CountingSignal.h"

#include "EventLine.h"
#include "EventTestSupport.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"
#include "toolkit/ErrorReport.h"

using namespace std::chrono_literals;
using namespace platform;
using eventtest::ServeUntil;
using eventtest::TSink;
using Strings = std::vector<std::string>;

namespace {

class EventThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetErrorReportHook([this](const Exception& e) {
      std::lock_guard guard(FReportLock);
      FReports.push_back(e.Message());
    });
    FPort.SetDeviceName("line");
  }
  void TearDown() override {
    FPort.Close();
    MainThread::SetWakeUp(nullptr);
    SetErrorReportHook(nullptr);
  }
  Strings Reports() {
    std::lock_guard guard(FReportLock);
    return FReports;
  }
  // Signals whenever a dispatch was handed to the main thread and is waiting to be served.
  void CountHandOvers() {
    MainThread::SetWakeUp([this] { FHandedOver.release(); });
  }
  bool HandedOver() { return FHandedOver.try_acquire_for(5s); }
  bool WaitParked() {
    return ServeUntil([this] { return FPort.EventThread()->Parked(); });
  }

  eventline::TLine FLine;
  eventline::TPlatform FPlatform{FLine};
  TSink FSink;
  TComPort FPort{nullptr};
  std::mutex FReportLock;
  Strings FReports;
  TCountingSignal FHandedOver{0};
};

}  // namespace

TEST_F(EventThreadTest, ConstructedThreadIsParkedAndStarted) {
  TComThread thread(FPort);
  EXPECT_TRUE(thread.Parked());
  EXPECT_TRUE(thread.Started());
  EXPECT_EQ(&thread.Port(), &FPort);
}

TEST_F(EventThreadTest, MaskFollowsTheAssignedHandlers) {
  FPort.Open();
  ASSERT_NE(FPort.EventThread(), nullptr);
  EXPECT_TRUE(FPort.EventThread()->Parked()) << "no handler: the thread stays parked";
  EXPECT_EQ(FLine.Mask(), 0u);

  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  EXPECT_EQ(FLine.Mask(), EvRxChar);
  EXPECT_TRUE(FLine.WaitUntilWaiting()) << "assigning OnRxChar releases the thread";
  EXPECT_FALSE(FPort.EventThread()->Parked());

  FPort.SetOnRxChar(nullptr);
  EXPECT_EQ(FLine.Mask(), 0u);
  EXPECT_TRUE(WaitParked()) << "removing the last handler parks the thread again";
  FLine.Raise(EvRxChar);
  EXPECT_FALSE(ServeUntil([this] { return FSink.Count() > 0; }, 200ms));
}

TEST_F(EventThreadTest, EachHandlerContributesItsBit) {
  struct Row {
    void (TCustomComPort::*set)(const TNotifyEvent&);
    void (TSink::*handler)(TObject*);
    std::uint32_t bit;
  };
  const Row rows[] = {
      {&TCustomComPort::SetOnBreak, &TSink::Break, EvBreak},
      {&TCustomComPort::SetOnCTSChange, &TSink::CTSChange, EvCts},
      {&TCustomComPort::SetOnDSRChange, &TSink::DSRChange, EvDsr},
      {&TCustomComPort::SetOnEvent1, &TSink::Event1, EvEvent1},
      {&TCustomComPort::SetOnEvent2, &TSink::Event2, EvEvent2},
      {&TCustomComPort::SetOnPrinterError, &TSink::PrinterError, EvPErr},
      {&TCustomComPort::SetOnRing, &TSink::Ring, EvRing},
      {&TCustomComPort::SetOnRLSDChange, &TSink::RLSDChange, EvRlsd},
      {&TCustomComPort::SetOnRx80PercFull, &TSink::Rx80PercFull, EvRx80Full},
      {&TCustomComPort::SetOnRxChar, &TSink::RxChar, EvRxChar},
      {&TCustomComPort::SetOnRxFlag, &TSink::RxFlag, EvRxFlag},
      {&TCustomComPort::SetOnTxEmpty, &TSink::TxEmpty, EvTxEmpty},
  };
  FPort.Open();
  std::uint32_t expected = 0;
  for (const Row& row : rows) {
    (FPort.*row.set)(MakeMethod(&FSink, row.handler));
    expected |= row.bit;
    EXPECT_EQ(FLine.Mask(), expected);
  }
  FPort.SetOnLineError(MakeMethod(&FSink, &TSink::LineError));
  EXPECT_EQ(FLine.Mask(), expected | EvErr);
  EXPECT_EQ(FLine.Mask(), 0x1FFFu);
  for (const Row& row : rows) {
    (FPort.*row.set)(nullptr);
    expected &= ~row.bit;
    EXPECT_EQ(FLine.Mask(), expected | EvErr);
  }
}

TEST_F(EventThreadTest, TheWindowsHandlersGiveItsMask) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.SetOnCTSChange(MakeMethod(&FSink, &TSink::CTSChange));
  FPort.SetOnDSRChange(MakeMethod(&FSink, &TSink::DSRChange));
  FPort.SetOnRing(MakeMethod(&FSink, &TSink::Ring));
  FPort.SetOnRLSDChange(MakeMethod(&FSink, &TSink::RLSDChange));
  FPort.SetOnLineError(MakeMethod(&FSink, &TSink::LineError));
  EXPECT_TRUE(FLine.MaskHistory().empty()) << "a closed port leaves the device alone";
  FPort.Open();
  EXPECT_EQ(FLine.Mask(), 0x01B9u) << "the mask is computed at the end of open";
}

TEST_F(EventThreadTest, ErrorAndReadWriteEventsNeverTouchTheMask) {
  struct TOther : TObject {
    void Error(TCustomComPort*, EComError&, TComAction&) {}
    void ReadWrite(TObject*, void*, std::int32_t, bool) {}
  } other;
  FPort.Open();
  const auto before = FLine.MaskHistory();
  FPort.SetOnError(MakeMethod(&other, &TOther::Error));
  FPort.SetBeforeRead(MakeMethod(&other, &TOther::ReadWrite));
  FPort.SetAfterRead(MakeMethod(&other, &TOther::ReadWrite));
  FPort.SetBeforeWrite(MakeMethod(&other, &TOther::ReadWrite));
  FPort.SetAfterWrite(MakeMethod(&other, &TOther::ReadWrite));
  EXPECT_EQ(FLine.MaskHistory(), before);
  EXPECT_TRUE(FPort.EventThread()->Parked());
}

TEST_F(EventThreadTest, DispatchFollowsTheFixedOrder) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.SetOnLineError(MakeMethod(&FSink, &TSink::LineError));
  FPort.SetOnCTSChange(MakeMethod(&FSink, &TSink::CTSChange));
  FPort.SetOnRing(MakeMethod(&FSink, &TSink::Ring));
  FPort.SetOnTxEmpty(MakeMethod(&FSink, &TSink::TxEmpty));
  FPort.SetOnBreak(MakeMethod(&FSink, &TSink::Break));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());

  FLine.Raise(EvRxChar | EvErr, CeFrame);
  ASSERT_TRUE(ServeUntil([this] { return FSink.Count() == 2; }));
  EXPECT_EQ(FSink.Calls(), (Strings{"LineError", "RxChar"}));
  EXPECT_TRUE(FSink.LastLineErrors().Contains(TLineError::leFrame))
      << "LineErrors is read at the moment of dispatch";

  FLine.Raise(EvRing | EvCts);
  ASSERT_TRUE(ServeUntil([this] { return FSink.Count() == 4; }));
  FLine.Raise(EvTxEmpty | EvRxChar | EvBreak);
  ASSERT_TRUE(ServeUntil([this] { return FSink.Count() == 7; }));
  EXPECT_EQ(FSink.Calls(), (Strings{"LineError", "RxChar", "CTSChange", "Ring", "Break",
                                    "RxChar", "TxEmpty"}));
}

TEST_F(EventThreadTest, BitOfARemovedHandlerIsIgnored) {
  CountHandOvers();
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.SetOnRing(MakeMethod(&FSink, &TSink::Ring));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FLine.Raise(EvRxChar | EvRing);
  ASSERT_TRUE(HandedOver());  // the event thread now waits for the main thread
  FPort.SetOnRing(nullptr);
  ASSERT_TRUE(ServeUntil([this] { return FSink.Count() == 1; }));
  EXPECT_EQ(FSink.Calls(), (Strings{"RxChar"}));
  EXPECT_EQ(FLine.Mask(), EvRxChar);
}

TEST_F(EventThreadTest, SynchronisedHandlersRunOnTheMainThread) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.SetOnCTSChange(MakeMethod(&FSink, &TSink::CTSChange));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  const int waitsBefore = FLine.WaitsStarted();
  FLine.Raise(EvRxChar | EvCts);
  ASSERT_TRUE(FPort.SynchronizeEvents());
  ASSERT_TRUE(ServeUntil([this] { return FSink.Count() == 2; }));
  for (std::thread::id id : FSink.Threads()) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_TRUE(FLine.WaitUntilWaiting());
  EXPECT_EQ(FLine.WaitsStarted(), waitsBefore + 1) << "one wait per wake-up, after the dispatch";
}

TEST_F(EventThreadTest, UnsynchronisedHandlersRunOnTheEventThread) {
  FPort.SetSynchronizeEvents(false);
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.SetOnLineError(MakeMethod(&FSink, &TSink::LineError));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FLine.Raise(EvRxChar | EvErr, CeOverrun);
  // No serving at all: the handlers must not need the main thread.
  MainThread::WaitUntil([this] { return FSink.Count() == 2; });
  EXPECT_EQ(FSink.Calls(), (Strings{"LineError", "RxChar"}));
  EXPECT_TRUE(FSink.LastLineErrors().Contains(TLineError::leOverrun));
  for (std::thread::id id : FSink.Threads()) EXPECT_NE(id, std::this_thread::get_id());
  EXPECT_FALSE(MainThread::ServePending()) << "nothing was handed over";
}

TEST_F(EventThreadTest, RaisingHandlerEndsThatWakeUpAndIsReportedOnce) {
  FPort.SetOnCTSChange(MakeMethod(&FSink, &TSink::Fails));
  FPort.SetOnRing(MakeMethod(&FSink, &TSink::Ring));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FLine.Raise(EvCts | EvRing);
  ASSERT_TRUE(ServeUntil([this] { return Reports().size() == 1; }));
  EXPECT_EQ(Reports(), (Strings{"Handler failed"}));
  ASSERT_TRUE(FLine.WaitUntilWaiting()) << "the thread goes on with its next cycle";
  EXPECT_EQ(FSink.Calls(), (Strings{"Fails"}));

  FLine.Raise(EvRing);
  ASSERT_TRUE(ServeUntil([this] { return FSink.Count() == 2; }));
  EXPECT_EQ(FSink.Calls(), (Strings{"Fails", "Ring"}));
  EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(EventThreadTest, CharactersArrivingDuringADispatchGiveAnotherRxChar) {
  // The handler runs while no wait is in progress; what arrives then is kept for the next wait.
  int raised = 0;
  FSink.FOnRxChar = [&] {
    if (raised++ < 2) FLine.Raise(EvRxChar);
  };
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FLine.Raise(EvRxChar);
  ASSERT_TRUE(ServeUntil([this] { return FSink.Count() == 3; }));
  EXPECT_FALSE(ServeUntil([this] { return FSink.Count() > 3; }, 100ms));
}

TEST_F(EventThreadTest, FailingMaskChangeRaisesAndKeepsTheThreadParked) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FLine.FailSetCommMask(true);
  EXPECT_THROW(FPort.SetOnRxChar(nullptr), EComError);
  EXPECT_TRUE(FPort.EventThread()->ParkRequested());
  FLine.FailSetCommMask(false);
}

TEST_F(EventThreadTest, CloseEndsTheThreadWhileParked) {
  FPort.Open();
  EXPECT_TRUE(FPort.EventThread()->Parked());
  FPort.Close();
  EXPECT_EQ(FPort.EventThread(), nullptr);
  EXPECT_FALSE(FPort.Active());
}

TEST_F(EventThreadTest, CloseEndsTheThreadWhileWaiting) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FPort.Close();
  EXPECT_EQ(FPort.EventThread(), nullptr);
  EXPECT_FALSE(FLine.Waiting());
  EXPECT_EQ(FSink.Count(), 0u) << "ending the wait delivers nothing";
}

TEST_F(EventThreadTest, CloseDeliversADispatchAlreadyHandedOver) {
  CountHandOvers();
  bool openDuringDispatch = false;
  FSink.FOnRxChar = [&] { openDuringDispatch = FPort.Active(); };
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FLine.Raise(EvRxChar);
  ASSERT_TRUE(HandedOver());
  EXPECT_EQ(FSink.Count(), 0u);
  FPort.Close();
  EXPECT_EQ(FSink.Calls(), (Strings{"RxChar"}));
  EXPECT_TRUE(openDuringDispatch) << "the device is still open while the dispatch runs";
  EXPECT_EQ(FPort.EventThread(), nullptr);
}

TEST_F(EventThreadTest, RepeatedOpenAndCloseNeverHangs) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  for (int i = 0; i < 200; ++i) {
    FPort.Open();
    if (i % 2 == 0) FLine.Raise(EvRxChar);
    FPort.Close();
    ASSERT_EQ(FPort.EventThread(), nullptr) << "iteration " << i;
  }
}

TEST_F(EventThreadTest, IdleOpenPortCostsNoCpu) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  auto cpu = [] {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e6 + usage.ru_utime.tv_usec + usage.ru_stime.tv_sec * 1e6 +
           usage.ru_stime.tv_usec;
  };
  const double before = cpu();
  std::this_thread::sleep_for(2s);
  EXPECT_LT(cpu() - before, 200000.0) << "microseconds of CPU in two idle seconds";
  EXPECT_EQ(FLine.WaitsStarted(), 1);
}

TEST_F(EventThreadTest, VanishedDeviceNeitherSpinsNorInventsEvents) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FLine.Vanish();
  FLine.Raise(EvRxChar);
  EXPECT_FALSE(ServeUntil([this] { return FSink.Count() > 0; }, 300ms));
  EXPECT_EQ(FLine.WaitsStarted(), 1);
  // A mask change ends the wait with a failure; whatever it left in its output is ignored.
  FPort.SetOnCTSChange(MakeMethod(&FSink, &TSink::CTSChange));
  EXPECT_TRUE(FLine.WaitUntilWaiting());
  EXPECT_FALSE(ServeUntil([this] { return FSink.Count() > 0; }, 300ms));
  EXPECT_EQ(FLine.WaitsStarted(), 2);
  FPort.Close();
  EXPECT_EQ(FPort.EventThread(), nullptr);
  EXPECT_EQ(FSink.Count(), 0u);
}

TEST_F(EventThreadTest, DestroyingThePortCallsNoHandlerOfItsOwner) {
  // The owner goes first (a window resetting its pointer), then the port: a delivery that the
  // close still serves must not reach the owner's handlers.
  CountHandOvers();
  auto port = std::make_unique<TComPort>(nullptr);
  port->SetDeviceName("line");
  port->SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  port->SetOnLineError(MakeMethod(&FSink, &TSink::LineError));
  port->SetOnTxEmpty(MakeMethod(&FSink, &TSink::TxEmpty));
  port->Open();
  ASSERT_TRUE(FLine.WaitUntilWaiting());
  FLine.Raise(EvRxChar | EvErr | EvTxEmpty);
  ASSERT_TRUE(HandedOver());
  port.reset();
  EXPECT_EQ(FSink.Count(), 0u);
  EXPECT_TRUE(Reports().empty());
}

TEST_F(EventThreadTest, HandlerClosingItsOwnPortIsRefusedOnEitherThread) {
  for (const bool synchronize : {true, false}) {
    SCOPED_TRACE(synchronize ? "synchronised" : "on the event thread");
    std::mutex lock;
    std::string refusal;
    bool openAfterwards = false;
    FSink.FOnRxChar = [&] {
      std::string message;
      try {
        FPort.Close();
        message = "closed";
      } catch (const EComError& e) {
        message = std::to_string(e.ErrorCode()) + " " + e.Message();
      }
      const bool open = FPort.Active();
      {
        std::lock_guard guard(lock);
        refusal = message;
        openAfterwards = open;
      }
      MainThread::Notify();
    };
    FPort.SetSynchronizeEvents(synchronize);
    FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
    FPort.Open();
    ASSERT_TRUE(FLine.WaitUntilWaiting());
    FLine.Raise(EvRxChar);
    ASSERT_TRUE(ServeUntil([&] {
      std::lock_guard guard(lock);
      return !refusal.empty();
    }));
    {
      std::lock_guard guard(lock);
      EXPECT_EQ(refusal, "0 Can't close the port from its own event handler");
      EXPECT_TRUE(openAfterwards);
    }
    // The thread goes on and the owner can still close the port.
    FPort.Close();
    EXPECT_EQ(FPort.EventThread(), nullptr);
    FPort.SetOnRxChar(nullptr);
  }
}

TEST_F(EventThreadTest, EventThreadKeepsNormalSchedulingEvenWhereRealTimeIsAllowed) {
  FPort.SetOnRxChar(MakeMethod(&FSink, &TSink::RxChar));
  FPort.Open();
  int policy = -1;
  sched_param param{};
  ASSERT_EQ(pthread_getschedparam(FPort.EventThread()->NativeHandle(), &policy, &param), 0);
  EXPECT_EQ(policy, SCHED_OTHER) << "a real-time class (this test may run as root)";
  EXPECT_EQ(param.sched_priority, 0);
}
