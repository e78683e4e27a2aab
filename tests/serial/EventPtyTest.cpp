// The event thread on the native backend, over a pseudo terminal whose master plays the peer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

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
