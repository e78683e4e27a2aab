// The event thread on the native backend, over a pseudo terminal whose master plays the peer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "EventTestSupport.h"
#include "serial/ComPort.h"
#include "toolkit/ErrorReport.h"

using namespace std::chrono_literals;
using eventtest::ServeUntil;

namespace {

double CpuMicroseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec * 1e6 + usage.ru_utime.tv_usec + usage.ru_stime.tv_sec * 1e6 +
         usage.ru_stime.tv_usec;
}

class TReceiver : public TObject {
 public:
  explicit TReceiver(TCustomComPort& port) : FPort(port) {}
  void RxChar(TObject*) {
    ++FCalls;
    FText += FPort.ReadText();
  }
  TCustomComPort& FPort;
  ByteString FText;
  int FCalls = 0;
};

class EventPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(openpty(&FMaster, &FSlave, name, nullptr, nullptr), 0);
    FPort.SetDeviceName(name);
    FPort.SetOnRxChar(MakeMethod(&FReceiver, &TReceiver::RxChar));
    SetErrorReportHook([this](const Exception& e) { FReports.push_back(e.Message()); });
  }
  void TearDown() override {
    FPort.Close();
    if (FMaster >= 0) ::close(FMaster);
    if (FSlave >= 0) ::close(FSlave);
    SetErrorReportHook(nullptr);
  }
  void PeerWrites(const ByteString& bytes) {
    ASSERT_EQ(::write(FMaster, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  int FMaster = -1;
  int FSlave = -1;
  TComPort FPort{nullptr};
  TReceiver FReceiver{FPort};
  std::vector<std::string> FReports;
};

}  // namespace

TEST_F(EventPtyTest, ReceivedBytesReachOnRxCharOnTheMainThread) {
  FPort.Open();
  PeerWrites(MakeBytes({0x02, 0x31, 0x03}));
  ASSERT_TRUE(ServeUntil([this] { return FReceiver.FText.size() == 3; }));
  EXPECT_EQ(FReceiver.FText, MakeBytes({0x02, 0x31, 0x03}));
  PeerWrites(MakeBytes({0x00, 0x10, 0xFF}));
  ASSERT_TRUE(ServeUntil([this] { return FReceiver.FText.size() == 6; }));
  EXPECT_EQ(FReceiver.FText, MakeBytes({0x02, 0x31, 0x03, 0x00, 0x10, 0xFF}));
  EXPECT_TRUE(FReports.empty());
}

TEST_F(EventPtyTest, IdleOpenPortCostsNoCpu) {
  FPort.Open();
  const double before = CpuMicroseconds();
  std::this_thread::sleep_for(2s);
  EXPECT_LT(CpuMicroseconds() - before, 200000.0) << "microseconds of CPU in two idle seconds";
  EXPECT_EQ(FReceiver.FCalls, 0);
}

TEST_F(EventPtyTest, VanishedPeerNeitherSpinsNorInventsEventsAndCloseStillWorks) {
  FPort.Open();
  PeerWrites("A");
  ASSERT_TRUE(ServeUntil([this] { return FReceiver.FText == "A"; }));
  const int calls = FReceiver.FCalls;
  ::close(FMaster);
  FMaster = -1;
  ::close(FSlave);
  FSlave = -1;
  const double before = CpuMicroseconds();
  EXPECT_FALSE(ServeUntil([&] { return FReceiver.FCalls > calls; }, 1s))
      << "a hung-up line must not keep reporting received characters";
  EXPECT_LT(CpuMicroseconds() - before, 300000.0) << "microseconds of CPU in one second";
  FPort.Close();
  EXPECT_EQ(FPort.EventThread(), nullptr);
  EXPECT_FALSE(FPort.Active());
}

TEST_F(EventPtyTest, CloseWhileBytesArriveAlwaysEndsTheThread) {
  for (int i = 0; i < 20; ++i) {
    FPort.Open();
    PeerWrites("xyz");
    if (i % 2 == 0) ServeUntil([this] { return !FReceiver.FText.empty(); }, 1s);
    FPort.Close();
    ASSERT_EQ(FPort.EventThread(), nullptr) << "iteration " << i;
    tcflush(FMaster, TCIOFLUSH);
  }
}

namespace {

std::size_t Entries(const char* directory) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++n;
  return n;
}

}  // namespace

TEST_F(EventPtyTest, PendingReadsBesideOnRxCharNeverMakeTheLineVanish) {
  // The transfer worker takes the bytes the wait was woken for: that is no hang-up.
  FPort.SetOnRxChar(nullptr);
  eventtest::TSink sink;
  FPort.SetOnRxChar(MakeMethod(&sink, &eventtest::TSink::RxChar));
  FPort.Open();
  for (int i = 0; i < 300; ++i) {
    char buffer[4] = {};
    FPort.Read(buffer, 4, false);
    PeerWrites("abcd");
    FPort.WaitForReadCompletion();
    ASSERT_EQ(ByteString(buffer, 4), "abcd") << "read " << i;
    MainThread::ServePending();
  }
  EXPECT_TRUE(FPort.Active());
  EXPECT_EQ(FPort.InputCount(), 0);
  EXPECT_TRUE(ServeUntil([&] { return sink.Count() > 0; }));
  EXPECT_TRUE(FReports.empty());
}

TEST_F(EventPtyTest, BytesLeftUnreadGiveOneRxCharPerArrival) {
  FPort.SetOnRxChar(nullptr);
  eventtest::TSink sink;  // counts, reads nothing
  FPort.SetOnRxChar(MakeMethod(&sink, &eventtest::TSink::RxChar));
  FPort.Open();
  const double before = CpuMicroseconds();
  for (std::size_t arrival = 1; arrival <= 3; ++arrival) {
    PeerWrites("unread");
    ASSERT_TRUE(ServeUntil([&] { return sink.Count() >= arrival; }));
    EXPECT_FALSE(ServeUntil([&] { return sink.Count() > arrival; }, 300ms))
        << sink.Count() << " calls after " << arrival << " arrivals";
  }
  EXPECT_LT(CpuMicroseconds() - before, 200000.0) << "microseconds of CPU for three arrivals";
  EXPECT_EQ(FPort.InputCount(), 18);
}

TEST_F(EventPtyTest, HandlerAssignedLaterHearsNothingOfEarlierEvents) {
  // Before: no handler (thread parked), or another one (the thread waits for other events).
  eventtest::TSink other;
  for (const bool otherHandler : {false, true}) {
    SCOPED_TRACE(otherHandler ? "another handler before" : "no handler before");
    FPort.SetOnRxChar(nullptr);
    FPort.SetOnTxEmpty(otherHandler ? MakeMethod(&other, &eventtest::TSink::TxEmpty)
                                    : TNotifyEvent());
    FReceiver.FText.clear();
    FReceiver.FCalls = 0;
    FPort.Open();
    PeerWrites("early");
    std::this_thread::sleep_for(100ms);
    FPort.SetOnRxChar(MakeMethod(&FReceiver, &TReceiver::RxChar));
    EXPECT_FALSE(ServeUntil([this] { return FReceiver.FCalls > 0; }, 300ms));
    PeerWrites("late");
    ASSERT_TRUE(ServeUntil([this] { return FReceiver.FText.size() == 9; }));
    EXPECT_EQ(FReceiver.FText, "earlylate");
    FPort.Close();
  }
}

TEST_F(EventPtyTest, HungUpPortWithoutHandlersClosesAndReleasesEverything) {
  FPort.SetOnRxChar(nullptr);
  ::close(FSlave);
  FSlave = -1;
  FPort.Open();  // once before counting: runtimes (sanitizers) start helper threads lazily
  FPort.Close();
  const std::size_t descriptors = Entries("/proc/self/fd");
  const std::size_t threads = Entries("/proc/self/task");
  FPort.Open();
  ::close(FMaster);  // the line hangs up; nothing watches it
  FMaster = -1;
  EXPECT_NO_THROW(FPort.Close());
  EXPECT_FALSE(FPort.Active());
  EXPECT_EQ(FPort.EventThread(), nullptr);
  EXPECT_EQ(Entries("/proc/self/fd"), descriptors - 1);  // less the master
  EXPECT_EQ(Entries("/proc/self/task"), threads);
}
