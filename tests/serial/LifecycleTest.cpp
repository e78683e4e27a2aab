// Opening, configuring and closing the port on a scripted device.
#include <gtest/gtest.h>

#include "RecordingPlatform.h"
#include "serial/ComPort.h"
#include "serial/StoredDescription.h"

namespace {

using Calls = std::vector<std::string>;

class PortLifecycle : public ::testing::Test {
 protected:
  PortLifecycle() { Port.SetDeviceName(Os.DeviceName); }
  fake::Platform Os;
  TComPort Port{nullptr};
};

void ExpectClosed(const TCustomComPort& port, const fake::Platform& os) {
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(port.Handle(), nullptr);
  EXPECT_EQ(port.EventThread(), nullptr);
  EXPECT_EQ(port.SavedPriorityClass(), -1);
  EXPECT_EQ(os.Current, nullptr);
  EXPECT_EQ(os.Priority, platform::NormalPriorityClass);
}

TEST_F(PortLifecycle, OpenAndCloseRunTheirStepsInOrder) {
  Port.SetPriorityClass(TPriorityClass::pcHigh);
  Port.SetActive(true);
  EXPECT_TRUE(Port.Active());
  EXPECT_TRUE(Port.ActiveRequested());
  EXPECT_NE(Port.EventThread(), nullptr);
  EXPECT_EQ(Os.Priority, platform::HighPriorityClass);
  EXPECT_EQ(Os.Calls, (Calls{"SetPriorityClass 128", "CreateEvent", "CreateEvent",
                             "Open ttyFAKE", "PurgeComm 10", "PurgeComm 5", "SetupComm",
                             "GetCommState", "SetCommState", "GetCommTimeouts",
                             "SetCommTimeouts", "SetCommMask 0"}));
  EXPECT_EQ(Os.L.InputSize, 4096);
  EXPECT_EQ(Os.L.OutputSize, 2048);
  Os.Calls.clear();
  Port.SetActive(false);
  EXPECT_EQ(Os.Calls, (Calls{"PurgeComm 10", "PurgeComm 5", "SetCommMask 0", "CloseDevice",
                             "SetPriorityClass 32"}));
  ExpectClosed(Port, Os);
  EXPECT_FALSE(Port.ActiveRequested());
}

TEST_F(PortLifecycle, RepeatedActiveValuesAndCloseOnClosedDoNothing) {
  Port.SetActive(false);
  Port.Close();
  EXPECT_TRUE(Os.Calls.empty());
  Port.SetActive(true);
  Os.Calls.clear();
  Port.SetActive(true);
  Port.Open();
  EXPECT_TRUE(Os.Calls.empty());
}

TEST_F(PortLifecycle, OpenDeviceOnAnOpenPortReopensWithCurrentSettings) {
  Port.SetActive(true);
  Os.Calls.clear();
  Port.OpenDevice();
  ASSERT_GE(Os.Calls.size(), 5u);
  EXPECT_EQ(Os.Calls[3], "CloseDevice");
  EXPECT_EQ(Os.Count("Open ttyFAKE"), 1u);
  EXPECT_TRUE(Port.Active());
}

TEST_F(PortLifecycle, MissingDeviceFailsWithThePlatformErrorAndEndsClosed) {
  Port.SetPriorityClass(TPriorityClass::pcIdle);
  Port.SetDeviceName("\\\\.\\COM10");
  try {
    Port.SetActive(true);
    FAIL();
  } catch (const EComError& e) {
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_EQ(e.Message(), "System text 2");
  }
  EXPECT_EQ(Os.Count("Open \\\\.\\COM10"), 1u);  // the name reaches the platform unchanged
  ExpectClosed(Port, Os);
  EXPECT_FALSE(Port.ActiveRequested());
}

// A failure at any step of the open leaves nothing behind, whatever the step.
TEST_F(PortLifecycle, FailureAtAnyOpenStepLeavesThePortClosed) {
  const char* steps[] = {"CreateEvent",    "Open",         "PurgeComm 10", "PurgeComm 5",
                         "SetupComm",      "GetCommState", "SetCommState", "GetCommTimeouts",
                         "SetCommTimeouts", "SetCommMask 0"};
  Port.SetPriorityClass(TPriorityClass::pcRealTime);
  for (const char* step : steps) {
    Os.Fail(step, 31);
    try {
      Port.SetActive(true);
      ADD_FAILURE() << "open succeeded despite " << step;
    } catch (const EComError& e) {
      EXPECT_EQ(e.ErrorCode(), 31) << step;
    }
    ExpectClosed(Port, Os);
    Os.Heal(step);
  }
  Port.SetActive(true);
  EXPECT_TRUE(Port.Active());
}

TEST_F(PortLifecycle, FailureWithoutAnErrorCodeStillRefusesToOpen) {
  Os.Fail("CreateEvent", 0);
  EXPECT_THROW(Port.SetActive(true), EComError);
  ExpectClosed(Port, Os);
  Os.Heal("CreateEvent");
  Os.Fail("Open", 0);
  EXPECT_THROW(Port.SetActive(true), EComError);
  ExpectClosed(Port, Os);
}

TEST_F(PortLifecycle, RefusedSettingFailsTheOpen) {
  Port.Characters().SetXOff(Port.Characters().XOn());
  Os.Fail("SetCommState", 87);
  EXPECT_THROW(Port.SetActive(true), EComError);
  ExpectClosed(Port, Os);
}

TEST_F(PortLifecycle, FailedCloseLeavesThePortOpenAndALaterCloseRetries) {
  Port.SetActive(true);
  Os.Fail("PurgeComm 10", 5);
  EXPECT_THROW(Port.Close(), EComError);
  EXPECT_TRUE(Port.Active());
  EXPECT_NE(Port.EventThread(), nullptr);
  Os.Heal("PurgeComm 10");
  Port.Close();
  ExpectClosed(Port, Os);
}

TEST_F(PortLifecycle, DestroyingAnOpenPortReleasesEverythingEvenWhenCloseFails) {
  fake::Platform& os = Os;
  {
    TComPort port(nullptr);
    port.SetDeviceName(os.DeviceName);
    port.SetPriorityClass(TPriorityClass::pcHigh);
    port.SetActive(true);
    os.Fail("PurgeComm 10", 5);
    os.Calls.clear();
  }
  EXPECT_EQ(os.Current, nullptr);
  EXPECT_EQ(os.Priority, platform::NormalPriorityClass);
  EXPECT_EQ(os.Count("CloseDevice"), 1u);
}

TEST_F(PortLifecycle, RefusalsWhileOpenKeepTheValue) {
  Port.SetActive(true);
  auto refused = [&](auto&& change) {
    try {
      change();
      ADD_FAILURE() << "change accepted while open";
    } catch (const EComError& e) {
      EXPECT_EQ(e.ErrorCode(), 0);
      EXPECT_EQ(e.Message(), "Can't perform this operation on an open port");
    }
  };
  refused([&] { Port.SetDeviceName("ttyfake"); });  // case counts
  refused([&] { Port.SetPriorityClass(TPriorityClass::pcHigh); });
  refused([&] { Port.SetSynchronizeEvents(false); });
  EXPECT_EQ(Port.DeviceName(), "ttyFAKE");
  EXPECT_EQ(Port.PriorityClass(), TPriorityClass::pcDefault);
  EXPECT_TRUE(Port.SynchronizeEvents());
  Os.Calls.clear();
  Port.SetDeviceName("ttyFAKE");
  Port.SetSynchronizeEvents(true);
  EXPECT_TRUE(Os.Calls.empty());
}

TEST_F(PortLifecycle, EqualValuesMakeNoDeviceCallAndOneChangeResendsTheBlock) {
  Port.SetBaudRate(TBaudRate::br9600);
  Port.SetActive(true);
  Os.Calls.clear();
  Port.SetBaudRate(TBaudRate::br9600);
  Port.Characters().SetXOn(17);
  Port.BufferSizes().SetInput(4096);
  Port.Timeouts().SetReadInterval(0);
  Port.SetOptions({});
  EXPECT_TRUE(Os.Calls.empty());

  Os.L.Dcb.BaudRate = 300;  // changed behind the port's back
  Port.Characters().SetEvent('!');
  EXPECT_EQ(Os.Calls, (Calls{"GetCommState", "SetCommState"}));
  EXPECT_EQ(Os.L.Dcb.BaudRate, 9600u);
  EXPECT_EQ(Os.L.Dcb.EvtChar, '!');

  Os.Calls.clear();
  Port.BufferSizes().SetInput(100);
  EXPECT_EQ(Os.Calls, (Calls{"SetupComm"}));
  EXPECT_EQ(Os.L.InputSize, 100);
  EXPECT_EQ(Os.L.OutputSize, 2048);
}

TEST_F(PortLifecycle, DeviceRefusingAChangeKeepsTheStoredValue) {
  Port.SetActive(true);
  Os.Fail("SetCommState", 87);
  EXPECT_THROW(Port.SetParity(TParity::paMark), EComError);
  EXPECT_EQ(Port.Parity(), TParity::paMark);
  EXPECT_TRUE(Port.Active());
}

TEST_F(PortLifecycle, TimeoutsReachTheDeviceAsUnsigned) {
  Port.Timeouts().SetReadInterval(-1);
  Port.Timeouts().SetReadMultiplier(2);
  Port.Timeouts().SetReadConstant(3);
  Port.Timeouts().SetWriteMultiplier(4);
  Port.Timeouts().SetWriteConstant(5);
  Port.SetActive(true);
  EXPECT_EQ(Os.L.Timeouts, (platform::TCommTimeouts{0xFFFFFFFFu, 2, 3, 4, 5}));
  TTimeouts t;
  Port.SetTimeouts(t);  // a whole-object copy reaches the open device at once
  EXPECT_EQ(Os.L.Timeouts, platform::TCommTimeouts{});
}

struct OverlayCase {
  const char* Name;
  void (*Configure)(TCustomComPort&);
  platform::TDeviceControlBlock Expected;
};

platform::TDeviceControlBlock DeviceBlock() {
  platform::TDeviceControlBlock d;
  d.BaudRate = 9600;
  d.ByteSize = 8;
  d.Parity = platform::NoParity;
  d.StopBits = platform::OneStopBit;
  d.Flags = platform::fBinary | (platform::DtrControlHandshake << 4) |
            (platform::RtsControlEnable << 12) | platform::fOutX | platform::fParity |
            platform::fNull | platform::fAbortOnError;
  d.XonLim = 7;
  d.XoffLim = 9;
  d.XonChar = 1;
  d.XoffChar = 2;
  d.ErrorChar = 3;
  d.EofChar = 4;
  d.EvtChar = 5;
  return d;
}

platform::TDeviceControlBlock InitialOverlay() {
  auto d = DeviceBlock();
  d.Flags = platform::fBinary | (platform::DtrControlHandshake << 4) |
            (platform::RtsControlEnable << 12) | platform::fOutX;
  d.XonLim = d.XoffLim = 0;
  d.XonChar = 17;
  d.XoffChar = 19;
  d.ErrorChar = d.EofChar = d.EvtChar = 0;
  return d;
}

TEST_F(PortLifecycle, CommStateOverlaysTheDeviceBlockFieldByField) {
  const OverlayCase cases[] = {
      {"initial settings keep speed, format and flow selections",
       [](TCustomComPort&) {}, InitialOverlay()},
      {"every field chosen",
       [](TCustomComPort& p) {
         p.SetBaudRate(TBaudRate::br256000);
         p.SetDataBits(TDataBits::db5);
         p.SetParity(TParity::paSpace);
         p.SetStopBits(TStopBits::sb2);
         p.FlowControl().SetDTR(TDTRControl::dcDisable);
         p.FlowControl().SetRTS(TRTSControl::rcToggle);
         p.FlowControl().SetXOnXOff(TXOnXOffControl::xcInput);
         p.FlowControl().SetXOnLimit(100);
         p.FlowControl().SetXOffLimit(200);
         p.SetOptions(TOptions::FromBits(0xFF));
       },
       [] {
         auto d = InitialOverlay();
         d.BaudRate = 256000;
         d.ByteSize = 5;
         d.Parity = platform::SpaceParity;
         d.StopBits = platform::TwoStopBits;
         d.Flags = platform::fBinary | (platform::RtsControlToggle << 12) | platform::fInX |
                   platform::fParity | platform::fOutxCtsFlow | platform::fOutxDsrFlow |
                   platform::fDsrSensitivity | platform::fTXContinueOnXoff |
                   platform::fErrorChar | platform::fNull | platform::fAbortOnError;
         d.XonLim = 100;
         d.XoffLim = 200;
         return d;
       }()},
      {"middle values of each mapping",
       [](TCustomComPort& p) {
         p.SetBaudRate(TBaudRate::br110);
         p.SetDataBits(TDataBits::db4);
         p.SetParity(TParity::paOdd);
         p.SetStopBits(TStopBits::sb1_5);
         p.FlowControl().SetDTR(TDTRControl::dcEnable);
         p.FlowControl().SetRTS(TRTSControl::rcHandshake);
         p.FlowControl().SetXOnXOff(TXOnXOffControl::xcInputOutput);
         p.SetOptions({TOption::opUseErrorChar});
       },
       [] {
         auto d = InitialOverlay();
         d.BaudRate = 110;
         d.ByteSize = 4;
         d.Parity = platform::OddParity;
         d.StopBits = platform::One5StopBits;
         d.Flags = platform::fBinary | (platform::DtrControlEnable << 4) |
                   (platform::RtsControlHandshake << 12) | platform::fInX | platform::fOutX |
                   platform::fErrorChar;
         return d;
       }()},
      {"no software flow control clears both bits",
       [](TCustomComPort& p) {
         p.SetBaudRate(TBaudRate::br14400);
         p.SetDataBits(TDataBits::db7);
         p.SetParity(TParity::paEven);
         p.SetStopBits(TStopBits::sb1);
         p.FlowControl().SetXOnXOff(TXOnXOffControl::xcDisable);
         p.FlowControl().SetRTS(TRTSControl::rcDisable);
       },
       [] {
         auto d = InitialOverlay();
         d.BaudRate = 14400;
         d.ByteSize = 7;
         d.Parity = platform::EvenParity;
         d.Flags = platform::fBinary | (platform::DtrControlHandshake << 4);
         return d;
       }()},
  };
  for (const OverlayCase& c : cases) {
    fake::Platform os;
    os.L.Dcb = DeviceBlock();
    TComPort port(nullptr);
    port.SetDeviceName(os.DeviceName);
    c.Configure(port);
    port.SetActive(true);
    EXPECT_EQ(os.L.Dcb, c.Expected) << c.Name;
  }
}

TEST(PortBaudRates, EveryRateMapsToItsSpeed) {
  const std::uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,   10400, 14400,
                                 19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};
  fake::Platform os;
  TComPort port(nullptr);
  port.SetDeviceName(os.DeviceName);
  port.SetActive(true);
  for (int i = 1; i <= 17; ++i) {
    port.SetBaudRate(static_cast<TBaudRate>(i));
    EXPECT_EQ(os.L.Dcb.BaudRate, rates[i - 1]) << i;
  }
}

// Records what was in place when the open ran.
class TRecordingPort : public TComPort {
 public:
  using TComPort::TComPort;
  void OpenDevice() override {
    SeenName = DeviceName();
    SeenRate = BaudRate();
    SeenLoading = Loading();
    TComPort::OpenDevice();
  }
  std::string SeenName;
  TBaudRate SeenRate = TBaudRate::brDefault;
  bool SeenLoading = true;
};

TEST(PortLoading, ActiveRestoredFirstOpensOnlyWhenLoadingIsDone) {
  fake::Platform os;
  TRecordingPort port(nullptr);
  ReadStoredDescription(port,
                        "Active = True\nBaudRate = br9600\nDeviceName = 'ttyFAKE'\nOptions = []\n");
  EXPECT_TRUE(port.Active());
  EXPECT_EQ(port.SeenName, "ttyFAKE");
  EXPECT_EQ(port.SeenRate, TBaudRate::br9600);
  EXPECT_FALSE(port.SeenLoading);
  EXPECT_EQ(os.Count("Open ttyFAKE"), 1u);
  EXPECT_EQ(os.L.Dcb.BaudRate, 9600u);
}

TEST(PortLoading, ManualLoadingDefersTheOpenToLoadingDone) {
  fake::Platform os;
  TComPort port(nullptr);
  port.BeginLoading();
  port.SetActive(true);
  port.SetDeviceName(os.DeviceName);
  EXPECT_FALSE(port.Active());
  EXPECT_TRUE(os.Calls.empty());
  port.LoadingDone();
  EXPECT_TRUE(port.Active());
}

}  // namespace
