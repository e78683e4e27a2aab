// The simulator's controls on the window: switches, the repeat interval, answering a request
// that arrives on a pty, and what happens to stuck work when the port closes.
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "tests/ui/FormFixture.h"
#include "tests/ui/PtyPair.h"
#include "toolkit/qt/SpinEdit.h"

namespace {

class ResponderTest : public FormTest {
 protected:
  void OpenOn(const PtyPair& pty) {
    Form->Ui.ComboBoxDeviceName->lineEdit()->clear();
    QTest::keyClicks(Form->Ui.ComboBoxDeviceName->lineEdit(), QString::fromStdString(pty.Name()));
    Form->Ui.SpeedButtonOpenClose->click();
    ASSERT_TRUE(Form->ComPort->Active());
  }
  QStringList LogLines() {
    return Form->Ui.Memo1->toPlainText().split('\n', Qt::SkipEmptyParts);
  }
};

}  // namespace

TEST_F(ResponderTest, CheckBoxesSwitchTheTimers) {
  BuildForm();
  Form->Ui.CheckBox1->setChecked(false);
  EXPECT_FALSE(Form->Timer1.Enabled());
  Form->Ui.CheckBox1->setChecked(true);
  EXPECT_TRUE(Form->Timer1.Enabled());
  Form->Ui.CheckBox2->setChecked(true);
  EXPECT_TRUE(Form->TimerCardIn.Enabled());
}

struct IntervalCase {
  const char* Typed;
  int Interval;
};

TEST_F(ResponderTest, RepeatSpinSetsIntervalInSecondsAsTyped) {
  BuildForm();
  for (const IntervalCase& c : {IntervalCase{"9", 9000}, IntervalCase{"2", 2000},
                                IntervalCase{"0", 0}, IntervalCase{"", 2000},
                                IntervalCase{"1", 1000}}) {
    SCOPED_TRACE(c.Typed);
    Form->Ui.SpinEdit1->setText(c.Typed);
    EXPECT_EQ(Form->TimerCardIn.Interval(), c.Interval);
  }
  Form->Ui.CheckBox2->setChecked(true);
  Form->Ui.SpinEdit1->setText("0");
  EXPECT_FALSE(Form->TimerCardIn.Running());
  EXPECT_TRUE(Form->TimerCardIn.Enabled());
}

TEST_F(ResponderTest, VersionRequestOnTheLineIsAnsweredAndCounted) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm();
  OpenOn(pty);
  pty.Write(std::string("\x02\x71\x03", 3));
  // The reply leaves at the first poll after the request arrived.
  const std::string reply = pty.ReadUpTo(6, 3000, [] { QTest::qWait(20); });
  EXPECT_EQ(reply, std::string("\x02\x71\x10\x0C\x53\x03", 6));
  EXPECT_EQ(Form->StatusPanel(0)->text(), "Read bytes: 3");
  EXPECT_EQ(Form->StatusPanel(1)->text(), "Write bytes: 6");
  EXPECT_EQ(Form->Ui.lbStatus->text(), "I sent version");
  EXPECT_EQ(LogLines(), QStringList({"RECEIVED What version?: 2.113.3.",
                                     "SEND version: 2.113.16.12.83.3."}));
}

TEST_F(ResponderTest, ButtonsSendAndLog) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm();
  OpenOn(pty);
  Form->Ui.Button1->click();
  EXPECT_EQ(pty.ReadUpTo(3), std::string("\x02\x71\x03", 3));
  Form->Ui.Button2->click();
  EXPECT_EQ(pty.ReadUpTo(4), std::string("\x02\x46\x49\x03", 4));
  EXPECT_EQ(LogLines(), QStringList({"SEND What version?: 2.113.3.",
                                     "SEND KX card IN: 2.70.73.3."}));
  EXPECT_EQ(Form->WriteBytes, 7);
}

TEST_F(ResponderTest, ClosingThePortDropsStuckWorkAndStopsTheRepeat) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm();
  OpenOn(pty);
  Form->Ui.CheckBox1->setChecked(false);  // hold the request in the buffer
  Form->Ui.CheckBox2->setChecked(true);
  pty.Write(std::string("\x02\x31\x03", 3));
  for (int i = 0; i < 100 && Form->ReceivedText().empty(); ++i) QTest::qWait(20);
  ASSERT_FALSE(Form->ReceivedText().empty());
  Form->Ui.SpeedButtonOpenClose->click();
  EXPECT_FALSE(Form->ComPort->Active());
  EXPECT_TRUE(Form->ReceivedText().empty());
  EXPECT_FALSE(Form->Ui.CheckBox2->isChecked());
  EXPECT_FALSE(Form->TimerCardIn.Enabled());
}

TEST_F(ResponderTest, FailureRepeatingAtEveryPollIsReportedOnce) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm(/*withPunchFile=*/false);
  ASSERT_EQ(ShownBoxes().size(), 1u);  // the missing punch file at creation
  OpenOn(pty);
  TestApplication();
  pty.Write(std::string("\x02\x31\x03", 3));
  // Several polls run into the unopened punch file.
  QTest::qWait(1700);
  EXPECT_EQ(ShownBoxes().size(), 1u);
  EXPECT_FALSE(Form->ReceivedText().empty());  // a failed request stays for the next poll
  EXPECT_EQ(Form->Ui.lbStatus->text(), "Sending data");
}

TEST_F(ResponderTest, TickFailuresAreShownAfterTheTickAndOncePerRun) {
  BuildForm();
  TestApplication();  // forget earlier boxes
  // The port is closed: the repeated announcement cannot be written.
  Form->TimerCardInTimer(Form.get());
  EXPECT_TRUE(ShownBoxes().empty());  // not inside the tick, which would hold the timer
  QTest::qWait(50);
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].Text,
            "Error 0: Can't perform this operation on a closed port");

  for (int i = 0; i < 3; ++i) Form->TimerCardInTimer(Form.get());
  QTest::qWait(50);
  EXPECT_EQ(ShownBoxes().size(), 1u);  // the same failure again is not shown again
  EXPECT_TRUE(LogLines().isEmpty());   // nothing was sent, so nothing is logged

  // The poll keeps its own record: its first failure is still reported.
  Form->Responder.Receive(std::string("\x02\x71\x03", 3));
  Form->Timer1Timer(Form.get());
  QTest::qWait(50);
  EXPECT_EQ(ShownBoxes().size(), 2u);

  // Opening the port starts afresh: the same failure after it is news again.
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  OpenOn(pty);
  Form->Ui.SpeedButtonOpenClose->click();
  Form->TimerCardInTimer(Form.get());
  QTest::qWait(50);
  EXPECT_EQ(ShownBoxes().size(), 3u);
}

TEST_F(ResponderTest, StatusShowsItsWholeTextWithoutCoveringItsNeighbours) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm();
  OpenOn(pty);
  pty.Write(std::string("\x02\x46\x49\x03", 4));  // answered with the longest status
  QLabel* status = Form->Ui.lbStatus;
  for (int i = 0; i < 100 && status->text() == "Status"; ++i) QTest::qWait(20);
  ASSERT_EQ(status->text(), "FI - KX card in, require data");
  EXPECT_GE(status->width(), status->sizeHint().width());
  for (const char* neighbour : {"Label17", "Label4", "Memo1", "Button1"}) {
    EXPECT_FALSE(status->geometry().intersects(
        Form->findChild<QWidget*>(neighbour)->geometry()))
        << neighbour;
  }
}
