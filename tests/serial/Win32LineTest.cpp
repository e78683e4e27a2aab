// The Win32 backend on a live COM port, named by KORVEX_TEST_COM (the Windows stage maps COM5
// to a pty under Wine); skipped without one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>

#include "serial/platform/Win32Api.h"
#include "serial/platform/Win32Platform.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

std::string TestPort() {
  const char* name = std::getenv("KORVEX_TEST_COM");
  return name ? name : "";
}

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class Win32LineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TestPort().empty()) GTEST_SKIP() << "no test COM port (KORVEX_TEST_COM)";
    FDevice = FWindows.Open(TestPort());
    ASSERT_NE(FDevice, nullptr) << "error " << FWindows.GetLastError();
  }

  TWin32Platform FWindows;
  std::unique_ptr<IDevice> FDevice;
};

}  // namespace

TEST_F(Win32LineTest, ASecondOpenIsRefused) {
  auto second = FWindows.Open(TestPort());
  if (second != nullptr && UnderWine()) {
    GTEST_SKIP() << "Wine shares serial devices: a second CreateFileA with share mode 0 "
                    "succeeds, where Windows refuses it with ERROR_ACCESS_DENIED";
  }
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(FWindows.GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Win32LineTest, AMaskChangeEndsAWaitWithNoEvents) {
  ASSERT_TRUE(FDevice->SetCommMask(EV_RXCHAR));
  std::uint32_t events = 0xFFFF;
  auto start = [&] {
    return std::async(std::launch::async, [&] { return FDevice->WaitCommEvent(events); });
  };
  auto wait = start();
  if (wait.wait_for(300ms) == std::future_status::ready) {
    const bool result = wait.get();
    FAIL() << "the wait ended with nothing to report: " << result << ", events " << events
           << ", error " << FWindows.GetLastError();
  }
  FDevice->SetCommMask(0);
  ASSERT_EQ(wait.wait_for(10s), std::future_status::ready) << "the wait did not end";
  EXPECT_TRUE(wait.get());
  EXPECT_EQ(events, 0u);
  // With the mask at 0 a wait fails at once, so a stop can never be missed.
  EXPECT_FALSE(FDevice->WaitCommEvent(events));
  EXPECT_EQ(FWindows.GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Win32LineTest, TheControlBlockTakesTheSettingsAndGivesThemBack) {
  TDeviceControlBlock dcb;
  ASSERT_TRUE(FDevice->GetCommState(dcb));
  dcb.BaudRate = 9600;
  dcb.ByteSize = 7;
  dcb.Parity = EvenParity;
  dcb.StopBits = TwoStopBits;
  ASSERT_TRUE(FDevice->SetCommState(dcb)) << "error " << FWindows.GetLastError();
  TDeviceControlBlock back;
  ASSERT_TRUE(FDevice->GetCommState(back));
  EXPECT_EQ(back.BaudRate, 9600u);
  EXPECT_EQ(back.StopBits, TwoStopBits);
  if (UnderWine()) {
    GTEST_SKIP() << "a Linux pty keeps 8 data bits and no parity whatever it is given";
  }
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, EvenParity);
}

TEST_F(Win32LineTest, ModemLinesAreReadable) {
  std::uint32_t status = 0;
  const bool read = FDevice->GetCommModemStatus(status);
  if (!read && UnderWine()) {
    GTEST_SKIP() << "Wine reads the modem lines with TIOCMGET, which a pty does not have "
                    "(error " << FWindows.GetLastError() << ")";
  }
  EXPECT_TRUE(read);
  EXPECT_EQ(status & ~std::uint32_t{MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON}, 0u);
}
