// The main window's behaviour: defaults at creation, the open/close toggle on a pty and on a
// missing device, the send line and counters, the error dialogs, closing.
#include <QCheckBox>
#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include <string>

#include "tests/ui/FormFixture.h"
#include "tests/ui/PtyPair.h"

namespace {

class BehaviourTest : public FormTest {
 protected:
  void TypeDevice(const std::string& name) {
    auto* combo = Child<QComboBox>("ComboBoxDeviceName");
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), QString::fromStdString(name));
  }
  void Toggle() { Child<QToolButton>("SpeedButtonOpenClose")->click(); }
  QString Panel(int i) { return Form->StatusPanel(i)->text(); }
  QString Caption() { return Child<QToolButton>("SpeedButtonOpenClose")->text(); }
  // Enabled states of the port-following controls, in toggle order.
  std::vector<bool> PortControls() {
    std::vector<bool> states;
    for (const char* name : {"Memo", "Edit", "Button1", "Button2", "CheckBox1", "CheckBox2",
                             "SpinEdit1", "SpeedButtonSend"}) {
      states.push_back(Child<QWidget>(name)->isEnabled());
    }
    return states;
  }
  std::vector<bool> SettingControls() {
    std::vector<bool> states;
    for (const char* name : {"ComboBoxDeviceName", "ComboBoxBaudRate", "ComboBoxDataBits",
                             "ComboBoxStopBits", "ComboBoxParity"}) {
      states.push_back(Child<QWidget>(name)->isEnabled());
    }
    return states;
  }
};

const std::vector<bool> AllOn(8, true), AllOff(8, false), FiveOn(5, true), FiveOff(5, false);

}  // namespace

TEST_F(BehaviourTest, CreationSelectsDefaultsAndHandsThemToThePort) {
  BuildForm();
  EXPECT_TRUE(ShownBoxes().empty());
  EXPECT_EQ(Child<QComboBox>("ComboBoxBaudRate")->currentText(), "4800");
  EXPECT_EQ(Child<QComboBox>("ComboBoxDataBits")->currentText(), "8");
  EXPECT_EQ(Child<QComboBox>("ComboBoxStopBits")->currentText(), "1");
  EXPECT_EQ(Child<QComboBox>("ComboBoxParity")->currentText(), "None");
  EXPECT_EQ(Form->ComPort->BaudRate(), TBaudRate::br4800);
  EXPECT_EQ(Form->ComPort->DataBits(), TDataBits::db8);
  EXPECT_EQ(Form->ComPort->StopBits(), TStopBits::sb1);
  EXPECT_EQ(Form->ComPort->Parity(), TParity::paNone);
  EXPECT_EQ(Form->CardsSent(), 0);
  EXPECT_TRUE(Form->ReceivedText().empty());
  EXPECT_TRUE(PunchFile.IsOpen());
}

TEST_F(BehaviourTest, MissingPunchFileShowsOneErrorBoxAndWindowStillHasDefaults) {
  BuildForm(/*withPunchFile=*/false);
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].Caption, "Korvex Simulator");
  EXPECT_TRUE(ShownBoxes()[0].Text.endsWith('.')) << ShownBoxes()[0].Text.toStdString();
  EXPECT_EQ(Child<QComboBox>("ComboBoxBaudRate")->currentText(), "4800");
  EXPECT_EQ(Panel(0), "Read bytes: 0");
  EXPECT_EQ(Panel(5), "RLSD:");
  EXPECT_FALSE(PunchFile.IsOpen());
}

TEST_F(BehaviourTest, ClosingWithoutPunchFileStillClosesTheWindow) {
  BuildForm(/*withPunchFile=*/false);
  Form->show();
  EXPECT_TRUE(Form->close());
  EXPECT_FALSE(Form->isVisible());
}

TEST_F(BehaviourTest, ClosingClosesThePunchFile) {
  BuildForm();
  Form->show();
  ASSERT_TRUE(PunchFile.IsOpen());
  EXPECT_TRUE(Form->close());
  EXPECT_FALSE(PunchFile.IsOpen());
}

TEST_F(BehaviourTest, ListChoicesReachThePortAsOrdinals) {
  BuildForm();
  auto* baud = Child<QComboBox>("ComboBoxBaudRate");
  baud->setCurrentIndex(15);
  emit baud->activated(15);
  EXPECT_EQ(Form->ComPort->BaudRate(), TBaudRate::br115200);
  auto* parity = Child<QComboBox>("ComboBoxParity");
  parity->setCurrentIndex(3);
  emit parity->activated(3);
  EXPECT_EQ(Form->ComPort->Parity(), TParity::paEven);
}

TEST_F(BehaviourTest, TypedDeviceNameReachesThePortAtEveryKey) {
  BuildForm();
  TypeDevice("/dev/x");
  EXPECT_EQ(Form->ComPort->DeviceName(), "/dev/x");
  auto* combo = Child<QComboBox>("ComboBoxDeviceName");
  QTest::keyClick(combo->lineEdit(), Qt::Key_Backspace);
  EXPECT_EQ(Form->ComPort->DeviceName(), "/dev/");
  combo->lineEdit()->selectAll();
  QTest::keyClick(combo->lineEdit(), Qt::Key_Delete);
  EXPECT_EQ(Form->ComPort->DeviceName(), "");
}

TEST_F(BehaviourTest, OpeningMissingDeviceShowsOneDialogAndLeavesWindowAsItWas) {
  BuildForm();
  TypeDevice("/tmp/korvex-no-such-device");
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    TestApplication();  // forget earlier boxes
    Toggle();
    ASSERT_EQ(ShownBoxes().size(), 1u);
    EXPECT_EQ(ShownBoxes()[0].Caption, "Error");
    EXPECT_TRUE(ShownBoxes()[0].Text.startsWith("Error ")) << ShownBoxes()[0].Text.toStdString();
    EXPECT_FALSE(Form->ComPort->Active());
    EXPECT_EQ(Caption(), "&Open port");
    EXPECT_EQ(PortControls(), AllOff);
    EXPECT_EQ(SettingControls(), FiveOn);
    EXPECT_EQ(Panel(2), "CTS:");
  }
}

TEST_F(BehaviourTest, ToggleOnPtyFlipsCaptionControlsAndModemPanels) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm();
  TypeDevice(pty.Name());
  Toggle();
  ASSERT_TRUE(ShownBoxes().empty()) << ShownBoxes()[0].Text.toStdString();
  ASSERT_TRUE(Form->ComPort->Active());
  EXPECT_EQ(Caption(), "&Close port");
  EXPECT_EQ(PortControls(), AllOn);
  EXPECT_EQ(SettingControls(), FiveOff);
  for (int i = 2; i <= 5; ++i) {
    EXPECT_TRUE(Panel(i).endsWith(" On") || Panel(i).endsWith(" Off")) << Panel(i).toStdString();
  }
  EXPECT_TRUE(Panel(2).startsWith("CTS: "));
  EXPECT_TRUE(Panel(5).startsWith("RLSD: "));
  EXPECT_EQ(Panel(6), "");

  Toggle();
  EXPECT_FALSE(Form->ComPort->Active());
  EXPECT_EQ(Caption(), "&Open port");
  EXPECT_EQ(PortControls(), AllOff);
  EXPECT_EQ(SettingControls(), FiveOn);
  EXPECT_EQ(Panel(2), "CTS:");
  EXPECT_EQ(Panel(3), "DSR:");
  EXPECT_EQ(Panel(4), "Ring:");
  EXPECT_EQ(Panel(5), "RLSD:");
  EXPECT_EQ(Panel(6), "");
}

TEST_F(BehaviourTest, DisablingKeepsTheTicks) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm();
  TypeDevice(pty.Name());
  Toggle();
  ASSERT_TRUE(Form->ComPort->Active());
  Child<QCheckBox>("CheckBox1")->setChecked(false);
  Toggle();
  EXPECT_FALSE(Child<QCheckBox>("CheckBox1")->isChecked());
}

TEST_F(BehaviourTest, SendWritesTextAndCarriageReturnAndCountsBytes) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm();
  TypeDevice(pty.Name());
  Toggle();
  ASSERT_TRUE(Form->ComPort->Active());
  auto* send = Child<QToolButton>("SpeedButtonSend");
  send->click();
  EXPECT_EQ(pty.ReadUpTo(6), "Hello\r");
  EXPECT_EQ(Panel(1), "Write bytes: 6");
  Child<QLineEdit>("Edit")->clear();
  send->click();
  EXPECT_EQ(pty.ReadUpTo(1), "\r");
  EXPECT_EQ(Panel(1), "Write bytes: 7");
  EXPECT_EQ(Form->WriteBytes, 7);
  EXPECT_TRUE(Child<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());
  // Counters outlive the port's state.
  Toggle();
  EXPECT_EQ(Panel(1), "Write bytes: 7");
  EXPECT_EQ(Panel(0), "Read bytes: 0");
}

TEST_F(BehaviourTest, CountersAddAndShowTheirTotals) {
  BuildForm();
  Form->AddReadBytes(5);
  Form->AddReadBytes(0);
  Form->AddReadBytes(12);
  Form->AddWriteBytes(-3);
  EXPECT_EQ(Panel(0), "Read bytes: 17");
  EXPECT_EQ(Panel(1), "Write bytes: -3");
  Form->AddWriteBytes(INT32_MAX);
  Form->AddWriteBytes(10);  // wraps instead of overflowing
  EXPECT_EQ(Form->WriteBytes, INT32_MIN + 6);
}

TEST_F(BehaviourTest, EachLineErrorGetsItsDialogInOrdinalOrder) {
  BuildForm();
  TLineErrors errors;
  errors.Include(TLineError::leOverrun).Include(TLineError::leFrame);
  Form->ComPortLineError(Form.get(), errors);
  ASSERT_EQ(ShownBoxes().size(), 2u);
  EXPECT_EQ(ShownBoxes()[0].Text, "Frame error");
  EXPECT_EQ(ShownBoxes()[1].Text, "Overrun error");
  for (const auto& box : ShownBoxes()) EXPECT_EQ(box.Caption, "Error");

  TestApplication();
  TLineErrors all;
  for (int i = 0; i <= 10; ++i) all.Include(static_cast<TLineError>(i));
  Form->ComPortLineError(Form.get(), all);
  const char* expected[] = {"Break detected", "Device not selected", "Frame error",
                            "IO error",       "Mode error",          "Out of paper",
                            "Overrun error",  "Device timeout",      "Receiver overflow",
                            "Parity error",   "Transmitter full"};
  ASSERT_EQ(ShownBoxes().size(), 11u);
  for (int i = 0; i <= 10; ++i) EXPECT_EQ(ShownBoxes()[i].Text, expected[i]);
}

TEST_F(BehaviourTest, PortErrorShowsCodeAndMessageAndAborts) {
  BuildForm();
  EComError timeout(0, "Timeout");
  TComAction action = TComAction::caRaise;
  Form->ComPortError(Form->ComPort.get(), timeout, action);
  EXPECT_EQ(action, TComAction::caAbort);
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].Caption, "Error");
  EXPECT_EQ(ShownBoxes()[0].Text, "Error 0: Timeout");

  TestApplication();
  EComError denied(5, "Access is denied.");
  Form->ComPortError(Form->ComPort.get(), denied, action);
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].Text, "Error 5: Access is denied.");
}

TEST_F(BehaviourTest, WriteOnClosedPortIsReportedOnceAndCountsNothing) {
  BuildForm();
  Child<QLineEdit>("Edit")->setEnabled(true);
  Form->Ui.SpeedButtonSend->setEnabled(true);
  Form->Ui.SpeedButtonSend->click();
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].Caption, "Error");
  EXPECT_EQ(Panel(1), "Write bytes: 0");
}

namespace {

// Descriptors of this process that refer to the named device.
int OpenDescriptorsOf(const std::string& device) {
  int count = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) == device) ++count;
  }
  return count;
}

}  // namespace

TEST_F(BehaviourTest, DestroyingTheWindowWithThePortOpenClosesTheDevice) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  const int held = OpenDescriptorsOf(pty.Name());  // the test's own end
  BuildForm();
  TypeDevice(pty.Name());
  Toggle();
  ASSERT_TRUE(Form->ComPort->Active());
  EXPECT_GT(OpenDescriptorsOf(pty.Name()), held);
  Form.reset();
  EXPECT_EQ(OpenDescriptorsOf(pty.Name()), held);
}
