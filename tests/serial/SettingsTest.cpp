// Settings model, error path and stored description of the port.
#include <gtest/gtest.h>

#include "RecordingPlatform.h"
#include "serial/ComPort.h"
#include "serial/ErrorText.h"
#include "serial/StoredDescription.h"

namespace {

struct Recorder {
  int Calls = 0;
  std::int32_t Code = -1;
  std::string Message;
  TComAction Choice = TComAction::caRaise;
  bool Throw = false;
  void Handle(TCustomComPort*, EComError& e, TComAction& action) {
    ++Calls;
    Code = e.ErrorCode();
    Message = e.Message();
    EXPECT_EQ(action, TComAction::caRaise);  // preset before the handler runs
    if (Throw) throw std::runtime_error("from handler");
    action = Choice;
  }
  void Rx(TObject*) {}
};

TEST(PortSettings, NewPortHasTheDocumentedDefaults) {
  TComPort port(nullptr);
  EXPECT_FALSE(port.Active());
  EXPECT_EQ(port.BaudRate(), TBaudRate::brDefault);
  EXPECT_EQ(port.DataBits(), TDataBits::dbDefault);
  EXPECT_EQ(port.Parity(), TParity::paDefault);
  EXPECT_EQ(port.StopBits(), TStopBits::sbDefault);
  EXPECT_TRUE(port.Options().Empty());
  EXPECT_EQ(port.DeviceName(), "COM2");
  EXPECT_EQ(port.PriorityClass(), TPriorityClass::pcDefault);
  EXPECT_TRUE(port.SynchronizeEvents());
  EXPECT_EQ(port.FlowControl().DTR(), TDTRControl::dcDefault);
  EXPECT_EQ(port.FlowControl().RTS(), TRTSControl::rcDefault);
  EXPECT_EQ(port.FlowControl().XOnXOff(), TXOnXOffControl::xcDefault);
  EXPECT_EQ(port.FlowControl().XOnLimit(), 0);
  EXPECT_EQ(port.FlowControl().XOffLimit(), 0);
  EXPECT_EQ(port.Characters().XOn(), 17);
  EXPECT_EQ(port.Characters().XOff(), 19);
  EXPECT_EQ(port.Characters().Error(), 0);
  EXPECT_EQ(port.Characters().Eof(), 0);
  EXPECT_EQ(port.Characters().Event(), 0);
  EXPECT_EQ(port.BufferSizes().Input(), 4096);
  EXPECT_EQ(port.BufferSizes().Output(), 2048);
  EXPECT_EQ(port.Timeouts().ReadInterval() | port.Timeouts().ReadMultiplier() |
                port.Timeouts().ReadConstant() | port.Timeouts().WriteMultiplier() |
                port.Timeouts().WriteConstant(),
            0);
  EXPECT_EQ(port.FlowControl().Owner(), &port);
  EXPECT_EQ(port.Timeouts().Owner(), &port);
  EXPECT_FALSE(port.OnRxChar().Assigned());
  EXPECT_EQ(port.EventThread(), nullptr);
  EXPECT_EQ(port.SavedPriorityClass(), -1);
}

TEST(PortSettings, AboutIsFixedAndIgnoresWrites) {
  TComPort port(nullptr);
  const std::string about = port.About();
  EXPECT_EQ(about.rfind("Version 1.5", 0), 0u);
  port.SetAbout("something else");
  EXPECT_EQ(port.About(), about);
}

TEST(PortSettings, EnumerationsAndSetsAreOneByteOrdinals) {
  static_assert(sizeof(TBaudRate) == 1 && sizeof(TPriorityClass) == 1 && sizeof(TOptions) == 1);
  static_assert(sizeof(TModemStatus) == 1 && sizeof(TLineErrors) == 2);
  EXPECT_EQ(static_cast<int>(TBaudRate::br256000), 17);
  EXPECT_EQ(static_cast<int>(TXOnXOffControl::xcInputOutput), 4);
  TOptions o{TOption::opCheckParity, TOption::opAbortOnError};
  EXPECT_EQ(o.RawBits(), 0x81);
  EXPECT_TRUE(o.Contains(TOption::opAbortOnError));
  EXPECT_FALSE(o.Contains(TOption::opUseErrorChar));
  o.Exclude(TOption::opCheckParity);
  EXPECT_EQ(o, TOptions::FromBits(0x80));
}

// List positions arrive as ordinals; one past the enumeration (or -1 as a byte) is refused
// naming the setting, offered to OnError, and the stored value stays.
TEST(PortSettings, OrdinalOutsideItsEnumerationIsRefused) {
  struct TCase {
    const char* Setting;
    void (*Set)(TComPort&, std::uint8_t);
    int (*Get)(const TComPort&);
    std::uint8_t FirstInvalid;
  } cases[] = {
      {"BaudRate", [](TComPort& p, std::uint8_t v) { p.SetBaudRate(static_cast<TBaudRate>(v)); },
       [](const TComPort& p) { return static_cast<int>(p.BaudRate()); }, 18},
      {"DataBits", [](TComPort& p, std::uint8_t v) { p.SetDataBits(static_cast<TDataBits>(v)); },
       [](const TComPort& p) { return static_cast<int>(p.DataBits()); }, 6},
      {"Parity", [](TComPort& p, std::uint8_t v) { p.SetParity(static_cast<TParity>(v)); },
       [](const TComPort& p) { return static_cast<int>(p.Parity()); }, 6},
      {"StopBits", [](TComPort& p, std::uint8_t v) { p.SetStopBits(static_cast<TStopBits>(v)); },
       [](const TComPort& p) { return static_cast<int>(p.StopBits()); }, 4},
      {"PriorityClass",
       [](TComPort& p, std::uint8_t v) { p.SetPriorityClass(static_cast<TPriorityClass>(v)); },
       [](const TComPort& p) { return static_cast<int>(p.PriorityClass()); }, 5},
      {"FlowControl.DTR",
       [](TComPort& p, std::uint8_t v) { p.FlowControl().SetDTR(static_cast<TDTRControl>(v)); },
       [](const TComPort& p) { return static_cast<int>(p.FlowControl().DTR()); }, 4},
      {"FlowControl.RTS",
       [](TComPort& p, std::uint8_t v) { p.FlowControl().SetRTS(static_cast<TRTSControl>(v)); },
       [](const TComPort& p) { return static_cast<int>(p.FlowControl().RTS()); }, 5},
      {"FlowControl.XOnXOff",
       [](TComPort& p, std::uint8_t v) {
         p.FlowControl().SetXOnXOff(static_cast<TXOnXOffControl>(v));
       },
       [](const TComPort& p) { return static_cast<int>(p.FlowControl().XOnXOff()); }, 5},
  };
  for (const TCase& c : cases) {
    for (const std::uint8_t ordinal : {c.FirstInvalid, std::uint8_t{255}}) {
      SCOPED_TRACE(std::string(c.Setting) + " " + std::to_string(ordinal));
      TComPort port(nullptr);
      Recorder recorder;
      port.SetOnError(MakeMethod(&recorder, &Recorder::Handle));
      c.Set(port, static_cast<std::uint8_t>(c.FirstInvalid - 1));  // the last valid one
      EXPECT_THROW(c.Set(port, ordinal), EComError);
      EXPECT_EQ(c.Get(port), c.FirstInvalid - 1);
      EXPECT_EQ(recorder.Calls, 1);
      EXPECT_EQ(recorder.Code, 0);
      EXPECT_EQ(recorder.Message.rfind(std::string(c.Setting) + " " + std::to_string(ordinal) +
                                           " refused",
                                       0),
                0u)
          << recorder.Message;
    }
  }
  // A settings object of no port refuses too.
  TFlowControl loose;
  EXPECT_THROW(loose.SetRTS(static_cast<TRTSControl>(9)), EComError);
  EXPECT_EQ(loose.RTS(), TRTSControl::rcDefault);
}

TEST(PortSettings, ClosedPortOnlyStoresAndTouchesNoDevice) {
  fake::Platform os;
  TComPort port(nullptr);
  port.SetBaudRate(TBaudRate::br9600);
  port.SetOptions({TOption::opCheckParity});
  port.Characters().SetEvent('x');
  port.BufferSizes().SetInput(100);
  port.Timeouts().SetReadConstant(5);
  port.SetDeviceName("other");
  port.SetPriorityClass(TPriorityClass::pcHigh);
  port.SetSynchronizeEvents(false);
  Recorder r;
  port.SetOnRxChar(MakeMethod(&r, &Recorder::Rx));
  EXPECT_TRUE(os.Calls.empty());
  EXPECT_EQ(port.BaudRate(), TBaudRate::br9600);
  EXPECT_EQ(port.Characters().Event(), 'x');
  EXPECT_EQ(port.BufferSizes().Input(), 100);
  EXPECT_EQ(port.DeviceName(), "other");
  EXPECT_FALSE(port.SynchronizeEvents());
  EXPECT_TRUE(port.OnRxChar() == MakeMethod(&r, &Recorder::Rx));
}

TEST(PortSettings, WholeObjectAssignmentCopiesValuesNotTheObject) {
  TComPort port(nullptr);
  TFlowControl flow;
  flow.SetDTR(TDTRControl::dcEnable);
  flow.SetRTS(TRTSControl::rcToggle);
  flow.SetXOnXOff(TXOnXOffControl::xcInput);
  flow.SetXOnLimit(10);
  flow.SetXOffLimit(20);
  port.SetFlowControl(flow);
  EXPECT_NE(&port.FlowControl(), &flow);
  EXPECT_EQ(port.FlowControl().Owner(), &port);
  EXPECT_EQ(port.FlowControl().RTS(), TRTSControl::rcToggle);
  EXPECT_EQ(port.FlowControl().XOffLimit(), 20);

  TCharacters chars;
  chars.SetXOn('a');
  chars.SetEof('z');
  port.SetCharacters(chars);
  EXPECT_EQ(port.Characters().XOn(), 'a');
  EXPECT_EQ(port.Characters().XOff(), 19);
  EXPECT_EQ(port.Characters().Eof(), 'z');

  TBufferSizes sizes;
  sizes.SetOutput(7);
  port.SetBufferSizes(sizes);
  EXPECT_EQ(port.BufferSizes().Output(), 7);
  EXPECT_EQ(port.BufferSizes().Input(), 4096);

  TTimeouts t;
  t.SetWriteConstant(-1);
  t.SetReadInterval(3);
  port.SetTimeouts(t);
  EXPECT_EQ(port.Timeouts().WriteConstant(), -1);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 3);
  // A later change of the caller's object does not reach the port.
  t.SetReadInterval(99);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 3);
}

// --- Error path ---

TEST(PortErrors, NoHandlerGivesTheComError) {
  TComPort port(nullptr);
  try {
    port.RaiseError(0, "Timeout");
    FAIL();
  } catch (const EComError& e) {
    EXPECT_EQ(e.ErrorCode(), 0);
    EXPECT_EQ(e.Message(), "Timeout");
  }
}

TEST(PortErrors, HandlerSeesTheErrorOnceAndChoosesTheOutcome) {
  struct Case {
    TComAction Choice;
    bool ExpectAbort;
  } cases[] = {{TComAction::caRaise, false}, {TComAction::caAbort, true},
               {static_cast<TComAction>(7), false}};
  for (const Case& c : cases) {
    TComPort port(nullptr);
    Recorder r;
    r.Choice = c.Choice;
    port.SetOnError(MakeMethod(&r, &Recorder::Handle));
    bool aborted = false, raised = false;
    try {
      port.RaiseError(42, "boom");
    } catch (const EComError& e) {
      raised = e.ErrorCode() == 42 && e.Message() == "boom";
    } catch (const EAbort& e) {
      aborted = e.Message() == "Operation aborted";
    }
    EXPECT_EQ(r.Calls, 1);
    EXPECT_EQ(r.Code, 42);
    EXPECT_EQ(aborted, c.ExpectAbort);
    EXPECT_EQ(raised, !c.ExpectAbort);
  }
}

TEST(PortErrors, ErrorRaisedInsideTheHandlerPropagates) {
  TComPort port(nullptr);
  Recorder r;
  r.Throw = true;
  port.SetOnError(MakeMethod(&r, &Recorder::Handle));
  EXPECT_THROW(port.RaiseError(1, "x"), std::runtime_error);
}

TEST(PortErrors, CheckResultRaisesOnlyForRealCodesAndResetsTheLastError) {
  fake::Platform os;
  TComPort port(nullptr);
  port.CheckResult(true);
  os.SetLastError(0);
  EXPECT_NO_THROW(port.CheckResult(false));
  os.SetLastError(platform::ErrorIoPending);
  EXPECT_NO_THROW(port.CheckResult(false));

  Recorder r;
  port.SetOnError(MakeMethod(&r, &Recorder::Handle));
  os.SetLastError(5);
  try {
    port.CheckResult(false);
    FAIL();
  } catch (const EComError& e) {
    EXPECT_EQ(e.ErrorCode(), 5);
    EXPECT_EQ(e.Message(), "System text 5");
  }
  EXPECT_EQ(os.GetLastError(), 0);
  EXPECT_EQ(r.Calls, 1);
}

TEST(PortErrors, SystemTextLosesTrailingStopsBlanksAndControls) {
  const std::pair<std::string, std::string> cases[] = {
      {"Access is denied.\r\n", "Access is denied"},
      {"No such file or directory", "No such file or directory"},
      {"v1.5 ok... \t\n", "v1.5 ok"},
      {".. \r\n", ""},
      {"", ""},
      {std::string(300, 'a'), ""},  // does not fit the message buffer
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TrimErrorText(in), out) << in;
}

TEST(PortErrors, GuardsOnAClosedPort) {
  TComPort port(nullptr);
  EXPECT_NO_THROW(port.CheckClosed());
  try {
    port.CheckOpen();
    FAIL();
  } catch (const EComError& e) {
    EXPECT_EQ(e.ErrorCode(), 0);
    EXPECT_EQ(e.Message(), "Can't perform this operation on a closed port");
  }
}

TEST(PortDesignMode, ActiveOnlyRecordsAndNoDeviceOpens) {
  fake::Platform os;
  TComPort port(nullptr);
  port.SetDesigning(true);
  port.SetDeviceName(os.DeviceName);
  port.SetActive(true);
  EXPECT_TRUE(port.Active());
  EXPECT_EQ(port.Handle(), nullptr);
  EXPECT_TRUE(os.Calls.empty());
  EXPECT_NO_THROW(port.CheckOpen());  // the recorded value counts
  EXPECT_NO_THROW(port.SetDeviceName("another"));
  port.SetBaudRate(TBaudRate::br110);
  EXPECT_TRUE(os.Calls.empty());
  port.SetActive(false);
  EXPECT_THROW(port.CheckOpen(), EComError);
}

// --- Stored description ---

TEST(PortStoredDescription, DefaultsWriteOnlyTheAlwaysStoredValues) {
  TComPort port(nullptr);
  EXPECT_EQ(WriteStoredDescription(port),
            "Active = False\nDeviceName = 'COM2'\nOptions = []\n");
  port.SetDeviceName("");
  EXPECT_EQ(WriteStoredDescription(port), "Active = False\nOptions = []\n");
}

TEST(PortStoredDescription, ChangedValuesAreWrittenByName) {
  TComPort port(nullptr);
  port.SetBaudRate(TBaudRate::br4800);
  port.FlowControl().SetDTR(TDTRControl::dcEnable);
  port.SetOptions({TOption::opCheckParity, TOption::opDiscardNullBytes});
  port.Characters().SetXOn(1);
  port.SetSynchronizeEvents(false);
  port.Timeouts().SetReadConstant(-1);
  port.SetDeviceName("COM1");
  EXPECT_EQ(WriteStoredDescription(port),
            "Active = False\n"
            "BaudRate = br4800\n"
            "Characters.XOn = #1\n"
            "DeviceName = 'COM1'\n"
            "FlowControl.DTR = dcEnable\n"
            "Options = [opCheckParity, opDiscardNullBytes]\n"
            "SynchronizeEvents = False\n"
            "Timeouts.ReadConstant = -1\n");
}

TEST(PortStoredDescription, EverySettingRoundTrips) {
  TComPort a(nullptr);
  a.SetBaudRate(TBaudRate::br256000);
  a.SetDataBits(TDataBits::db7);
  a.SetParity(TParity::paSpace);
  a.SetStopBits(TStopBits::sb1_5);
  a.SetOptions(TOptions::FromBits(0xFF));
  a.SetPriorityClass(TPriorityClass::pcRealTime);
  a.SetSynchronizeEvents(false);
  a.SetDeviceName("it's a \"name\" = with\tcontrol\x01 bytes\xE9 ");
  a.FlowControl().SetRTS(TRTSControl::rcHandshake);
  a.FlowControl().SetXOnXOff(TXOnXOffControl::xcInputOutput);
  a.FlowControl().SetXOnLimit(65535);
  a.FlowControl().SetXOffLimit(1);
  a.Characters().SetXOff('\'');
  a.Characters().SetError(static_cast<char>(0xFF));
  a.Characters().SetEvent('=');
  a.BufferSizes().SetInput(1);
  a.BufferSizes().SetOutput(-2147483647 - 1);
  a.Timeouts().SetReadInterval(1);
  a.Timeouts().SetReadMultiplier(2);
  a.Timeouts().SetWriteMultiplier(3);
  a.Timeouts().SetWriteConstant(2147483647);
  const std::string text = WriteStoredDescription(a);

  TComPort b(nullptr);
  ReadStoredDescription(b, text);
  EXPECT_FALSE(b.Loading());
  EXPECT_EQ(WriteStoredDescription(b), text);
  EXPECT_EQ(b.DeviceName(), a.DeviceName());
  EXPECT_EQ(b.Characters().Error(), static_cast<char>(0xFF));
  EXPECT_EQ(b.BufferSizes().Output(), a.BufferSizes().Output());
}

TEST(PortStoredDescription, BadLinesNameTheLineAndLeaveLoading) {
  const std::pair<std::string, std::string> cases[] = {
      {"Active = False\nBaudRate = br12\n", "line 2"},
      {"Nonsense = 1\n", "line 1"},
      {"Active = False\n\nno equals sign\n", "line 3"},
      {"Options = [opCheckParity,]\n", "line 1"},
      {"BufferSizes.Input = 12x\n", "line 1"},
      {"FlowControl.XOnLimit = 65536\n", "line 1"},
      {"DeviceName = 'unterminated\n", "line 1"},
      {"Characters.XOn = 17\n", "line 1"},
      {"Active = true\n", "line 1"},
      {"About = 'x'\n", "line 1"},
  };
  for (const auto& [text, where] : cases) {
    TComPort port(nullptr);
    try {
      ReadStoredDescription(port, text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(where), std::string::npos) << e.Message();
      const std::string bad = text.substr(text.rfind('\n', text.size() - 2) + 1);
      EXPECT_NE(e.Message().find(bad.substr(0, bad.size() - 1)), std::string::npos)
          << e.Message();
    }
    EXPECT_FALSE(port.Loading());
    EXPECT_FALSE(port.Active());
  }
}

}  // namespace
