// The window under strain: bad punch lines in a row, a line that vanishes, closing with work
// pending, panes under a flood.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <fstream>
#include <string>

#include "tests/ui/FormFixture.h"
#include "tests/ui/PtyPair.h"
#include "toolkit/qt/MessageDialog.h"
#include "ui/PaneText.h"

namespace {

const std::string DataRequest("\x02\x31\x03", 3);
const std::string GoodLine = "Sa 10:15:23          4101    0.00   0.00   0.00";

class RobustnessTest : public FormTest {
 protected:
  void UsePunchFile(const std::string& content) {
    std::ofstream(std::filesystem::path(Folder.path().toStdString()) / PunchFileName,
                  std::ios::binary)
        << content;
    ClosePunchFile(PunchFile);
    OpenPunchFile(PunchFile);
  }
  void OpenOn(const PtyPair& pty) {
    Form->Ui.ComboBoxDeviceName->lineEdit()->clear();
    QTest::keyClicks(Form->Ui.ComboBoxDeviceName->lineEdit(), QString::fromStdString(pty.Name()));
    Form->Ui.SpeedButtonOpenClose->click();
    ASSERT_TRUE(Form->ComPort->Active());
  }
  // A data request waits in the buffer until the poll is switched on again.
  void HoldRequest(PtyPair& pty) {
    Form->Ui.CheckBox1->setChecked(false);
    pty.Write(DataRequest);
    for (int i = 0; i < 100 && Form->ReceivedText().empty(); ++i) QTest::qWait(20);
    ASSERT_FALSE(Form->ReceivedText().empty());
  }
};

}  // namespace

TEST_F(RobustnessTest, BadPunchLinesAreEachReportedButBoxesNeverStack) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm();
  UsePunchFile("\r\n\r\n\r\n\r\n" + GoodLine + "\r\n");  // four lines without a card number
  OpenOn(pty);
  HoldRequest(pty);
  TestApplication();
  // The first box stays open over three polls, which go on under it.
  int mostOpen = 0;
  WhileBoxOpen([&] {
    mostOpen = std::max(mostOpen, OpenMessageBoxes());
    if (ShownBoxes().size() == 1) QTest::qWait(1300);
  });
  Form->Ui.CheckBox1->setChecked(true);
  for (int i = 0; i < 200 && Form->CardsSent() == 0; ++i) QTest::qWait(20);
  QTest::qWait(100);
  EXPECT_EQ(Form->CardsSent(), 1);  // the good line went out after the four bad ones
  EXPECT_EQ(mostOpen, 1);
  // Every bad line reached the user: what came while a box was open is counted in the next.
  ASSERT_GE(ShownBoxes().size(), 2u);
  int reported = 0;
  const QRegularExpression more("\\.\\.\\. and (\\d+) more punch-file error");
  for (const TShownBox& box : ShownBoxes()) {
    EXPECT_EQ(box.Caption, "Korvex Simulator");
    const QRegularExpressionMatch m = more.match(box.Text);
    reported += 1 + (m.hasMatch() ? m.captured(1).toInt() : 0);
  }
  EXPECT_EQ(reported, 4);
  EXPECT_TRUE(more.match(ShownBoxes()[1].Text).hasMatch()) << ShownBoxes()[1].Text.toStdString();
}

TEST_F(RobustnessTest, VanishedDeviceClosesThePortWithOneDialogAndTakesNoMoreLines) {
  auto pty = std::make_unique<PtyPair>();
  ASSERT_TRUE(pty->Valid());
  BuildForm();
  UsePunchFile(GoodLine + "\r\n" + GoodLine + "\r\n" + GoodLine + "\r\n");
  OpenOn(*pty);
  HoldRequest(*pty);
  TestApplication();
  pty.reset();  // the far end goes away with the request still waiting
  Form->Ui.CheckBox1->setChecked(true);
  for (int i = 0; i < 150 && Form->ComPort->Active(); ++i) QTest::qWait(20);
  QTest::qWait(1200);  // two more polls
  EXPECT_FALSE(Form->ComPort->Active());
  EXPECT_EQ(Form->Ui.SpeedButtonOpenClose->text(), "&Open port");
  EXPECT_TRUE(Form->Ui.ComboBoxDeviceName->isEnabled());
  EXPECT_TRUE(Form->ReceivedText().empty());
  ASSERT_EQ(ShownBoxes().size(), 1u);
  EXPECT_EQ(ShownBoxes()[0].Caption, "Error");
  EXPECT_TRUE(ShownBoxes()[0].Text.contains("device is gone")) << ShownBoxes()[0].Text.toStdString();
  // At most the line of the one failed write was taken.
  int left = 0;
  while (!PunchFile.Eof()) {
    PunchFile.ReadLine();
    ++left;
  }
  EXPECT_GE(left, 2);
}

TEST_F(RobustnessTest, AfterTheWindowClosesNothingTicksOrReportsAndThePortIsClosed) {
  PtyPair pty;
  ASSERT_TRUE(pty.Valid());
  BuildForm(/*withPunchFile=*/false);  // every poll would fail
  OpenOn(pty);
  HoldRequest(pty);
  Form->Ui.CheckBox1->setChecked(true);
  TestApplication();
  Form->close();
  EXPECT_FALSE(Form->ComPort->Active());
  EXPECT_FALSE(Form->Timer1.Running());
  Form->Timer1Timer(Form.get());
  Form->TimerCardInTimer(Form.get());
  QTest::qWait(600);
  EXPECT_TRUE(ShownBoxes().empty());
}

TEST_F(RobustnessTest, CloseRequestedWhileADialogIsOpenIsCarriedOutWhenItEnds) {
  BuildForm();
  Form->show();
  TestApplication();
  Form->Ui.ComboBoxDeviceName->lineEdit()->clear();
  QTest::keyClicks(Form->Ui.ComboBoxDeviceName->lineEdit(), "/tmp/korvex-no-such-device");
  WhileBoxOpen([&] { Form->close(); });
  Form->Ui.SpeedButtonOpenClose->click();  // one error dialog
  ASSERT_EQ(ShownBoxes().size(), 1u);
  for (int i = 0; i < 50 && Form->isVisible(); ++i) QTest::qWait(20);
  EXPECT_FALSE(Form->isVisible());
  EXPECT_FALSE(PunchFile.IsOpen());  // FormClose ran
}

TEST_F(RobustnessTest, PanesShowAChunkAsOneVisibleLineAndKeepOnlyTheLatestLines) {
  BuildForm();
  EXPECT_EQ(VisibleChunk(std::string("A\r\nB\x00\x7f\xe9", 7)),
            QString::fromUtf8("A\u240D\u240AB\u2400\u2421\u00E9"));
  for (int i = 0; i <= TFormComPort::ReceivedPaneLines; ++i) {
    Form->Responder.Receive("chunk " + std::to_string(i) + "\r\n");
  }
  for (int i = 0; i <= TFormComPort::LogPaneLines; ++i) {
    Form->Responder.LogExchange("line " + std::to_string(i), "");
  }
  Form->FlushReceivedPane();
  EXPECT_EQ(Form->Ui.Memo->blockCount(), TFormComPort::ReceivedPaneLines);
  EXPECT_EQ(Form->Ui.Memo->document()->lastBlock().text(),
            QString("chunk %1\u240D\u240A").arg(TFormComPort::ReceivedPaneLines));
  EXPECT_EQ(Form->Ui.Memo1->blockCount(), TFormComPort::LogPaneLines);
  EXPECT_EQ(Form->Ui.Memo1->document()->lastBlock().text(),
            QString("line %1: ").arg(TFormComPort::LogPaneLines));
}
