// What a user sees of the main window when it has been built.
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <string>
#include <vector>

#include "tests/ui/FormFixture.h"
#include "toolkit/qt/SpinEdit.h"

namespace {

struct Placed {
  const char* Name;
  const char* Kind;
  int L, T, W, H;
  const char* Text;  // null: not checked here
  bool Enabled;
};

const std::vector<Placed> Controls = {
    {"Label16", "QLabel", 8, 0, 70, 13, "Received data", true},
    {"Label19", "QLabel", 168, 0, 302, 13,
     "KX stations version 3 and 4 and KX cards version 5 are supported", true},
    {"Memo", "QPlainTextEdit", 8, 16, 461, 89, "", false},
    {"SpeedButtonSend", "QToolButton", 8, 108, 129, 23, "&Send", false},
    {"Edit", "QLineEdit", 144, 108, 329, 21, "Hello", false},
    {"Button1", "QPushButton", 8, 136, 129, 25, "Send: What version?", false},
    {"Label17", "QLabel", 176, 136, 91, 13, "Sent data (decimal)", true},
    {"lbStatus", "QLabel", 376, 136, 30, 13, "Status", true},
    {"Memo1", "QPlainTextEdit", 168, 152, 305, 105, "", true},
    {"Button2", "QPushButton", 8, 168, 129, 25, "Send: Card inserted.", false},
    {"CheckBox1", "QCheckBox", 8, 200, 145, 17, "Simulator active", false},
    {"CheckBox2", "QCheckBox", 8, 224, 145, 17, "Repeat KX card \"put in\"", false},
    {"Label6", "QLabel", 24, 240, 101, 13, "LOG file: data.epl", true},
    {"SpinEdit1", "TSpinEdit", 96, 256, 41, 22, "4", false},
    {"Label11", "QLabel", 24, 264, 59, 13, "Repeat after", true},
    {"Label7", "QLabel", 144, 264, 23, 13, "[sec]", true},
    {"Label20", "QLabel", 176, 272, 37, 13, "Start 00", true},
    {"seHours", "TSpinEdit", 224, 264, 41, 22, "10", true},
    {"seMinutes", "TSpinEdit", 272, 264, 41, 22, "0", true},
    {"Label1", "QLabel", 484, 4, 37, 13, "Device:", true},
    {"ComboBoxDeviceName", "QComboBox", 484, 20, 117, 21, nullptr, true},
    {"Label2", "QLabel", 484, 48, 49, 13, "Baud rate:", true},
    {"ComboBoxBaudRate", "QComboBox", 484, 64, 117, 21, nullptr, true},
    {"Label3", "QLabel", 484, 92, 45, 13, "Data bits:", true},
    {"ComboBoxDataBits", "QComboBox", 484, 108, 117, 21, nullptr, true},
    {"Label4", "QLabel", 484, 136, 44, 13, "Stop bits:", true},
    {"ComboBoxStopBits", "QComboBox", 484, 152, 117, 21, nullptr, true},
    {"Label5", "QLabel", 484, 180, 29, 13, "Parity:", true},
    {"ComboBoxParity", "QComboBox", 484, 196, 117, 21, nullptr, true},
    {"SpeedButtonOpenClose", "QToolButton", 484, 228, 117, 25, "&Open port", true},
    {"GroupBox1", "QGroupBox", 8, 288, 593, 129, "How to use it", true},
    {"StatusBar", "QFrame", 0, 422, 608, 19, nullptr, true},
};

QString TextOf(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* m = qobject_cast<QPlainTextEdit*>(w)) return m->toPlainText();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  return {};
}

}  // namespace

TEST_F(FormTest, EveryControlHasItsKindPlaceTextAndState) {
  BuildForm();
  for (const Placed& c : Controls) {
    SCOPED_TRACE(c.Name);
    auto* w = Child<QWidget>(c.Name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->inherits(c.Kind)) << w->metaObject()->className();
    EXPECT_EQ(w->parentWidget(), Form.get());
    if (qobject_cast<QLabel*>(w) != nullptr) {
      // Labels fit their text: the stored width holds only in the stored font.
      EXPECT_EQ(w->pos(), QPoint(c.L, c.T));
      EXPECT_EQ(w->height(), c.H);
      EXPECT_EQ(w->width(), w->sizeHint().width());
    } else {
      EXPECT_EQ(w->geometry(), QRect(c.L, c.T, c.W, c.H));
    }
    if (c.Text != nullptr) {
      EXPECT_EQ(TextOf(w), QString::fromUtf8(c.Text));
    }
    EXPECT_EQ(w->isEnabled(), c.Enabled);
  }
}

TEST_F(FormTest, WindowIsFixedSizeWithoutMaximiseAndCaptioned) {
  BuildForm();
  EXPECT_EQ(Form->size(), QSize(608, 441));
  EXPECT_EQ(Form->minimumSize(), QSize(608, 441));
  EXPECT_EQ(Form->maximumSize(), QSize(608, 441));
  EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(Form->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(Form->windowTitle(), QString::fromUtf8("Simulator of Korvex® equipment 1.03"));
  const QFont font = Form->font();
  if (QFontInfo(font).family() == "MS Sans Serif") {
    EXPECT_EQ(font.pointSize(), 8);
  } else {
    EXPECT_EQ(font.pixelSize(), 10);
  }
}

TEST_F(FormTest, FontsFollowTheLayout) {
  BuildForm();
  EXPECT_TRUE(Child<QLabel>("Label19")->font().underline());
  EXPECT_TRUE(Child<QLabel>("Label6")->font().bold());
  EXPECT_TRUE(Child<QGroupBox>("GroupBox1")->font().bold());
  EXPECT_FALSE(Child<QLabel>("Label16")->font().bold());
}

TEST_F(FormTest, PanesAndChecksStartAsStored) {
  BuildForm();
  auto* memo = Child<QPlainTextEdit>("Memo");
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::NoWrap);
  auto* memo1 = Child<QPlainTextEdit>("Memo1");
  EXPECT_FALSE(memo1->isReadOnly());
  EXPECT_EQ(memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_TRUE(Child<QCheckBox>("CheckBox1")->isChecked());
  EXPECT_FALSE(Child<QCheckBox>("CheckBox2")->isChecked());
}

struct SpinRange {
  const char* Name;
  int Min, Max, MaxLength;
};

TEST_F(FormTest, SpinEditsHoldTheirRangesAndLengths) {
  BuildForm();
  for (const SpinRange& s : {SpinRange{"SpinEdit1", 2, 9, 1}, SpinRange{"seHours", 0, 23, 2},
                             SpinRange{"seMinutes", 0, 59, 2}}) {
    SCOPED_TRACE(s.Name);
    auto* spin = Child<TSpinEdit>(s.Name);
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->MinValue(), s.Min);
    EXPECT_EQ(spin->MaxValue(), s.Max);
    EXPECT_EQ(spin->MaxLength(), s.MaxLength);
  }
}

TEST_F(FormTest, ListsHoldTheirItemsInOrdinalOrder) {
  BuildForm();
  const QStringList bauds = {"Default", "110",   "300",   "600",    "1200",   "2400",
                             "4800",    "9600",  "10400", "14400",  "19200",  "28800",
                             "38400",   "56000", "57600", "115200", "128000", "256000"};
  const std::vector<std::pair<const char*, QStringList>> lists = {
      {"ComboBoxBaudRate", bauds},
      {"ComboBoxDataBits", {"Default", "4", "5", "6", "7", "8"}},
      {"ComboBoxStopBits", {"Default", "1", "1_5", "2"}},
      {"ComboBoxParity", {"Default", "None", "Odd", "Even", "Mark", "Space"}}};
  for (const auto& [name, items] : lists) {
    SCOPED_TRACE(name);
    auto* combo = Child<QComboBox>(name);
    EXPECT_FALSE(combo->isEditable());
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
    EXPECT_EQ(shown, items);
  }
}

TEST_F(FormTest, DeviceComboIsEditableWithTwentyNames) {
  BuildForm();
  auto* combo = Child<QComboBox>("ComboBoxDeviceName");
  EXPECT_TRUE(combo->isEditable());
  EXPECT_EQ(combo->currentText(), "COM1");
  EXPECT_EQ(combo->currentIndex(), -1);
  ASSERT_EQ(combo->count(), 20);
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(combo->itemText(i - 1), QString("COM%1").arg(i));
  for (int i = 10; i <= 20; ++i) {
    // Two backslashes, a full stop, a backslash.
    EXPECT_EQ(combo->itemText(i - 1), QString("\\\\.\\COM%1").arg(i));
  }
}

TEST_F(FormTest, TabOrderRunsFromDeviceToMinutes) {
  BuildForm();
  const std::vector<const char*> order = {
      "ComboBoxDeviceName", "ComboBoxBaudRate", "ComboBoxDataBits", "ComboBoxStopBits",
      "ComboBoxParity",     "Edit",             "Button1",          "Button2",
      "CheckBox1",          "CheckBox2",        "SpinEdit1",        "Memo",
      "Memo1",              "seHours",          "seMinutes"};
  // The focus chain holds every widget; keep only the focusable controls, in chain order.
  std::vector<std::string> chain;
  QWidget* w = Child<QWidget>(order.front());
  for (int guard = 0; guard < 500 && chain.size() < order.size(); ++guard) {
    const std::string name = w->objectName().toStdString();
    if (std::find(order.begin(), order.end(), name) != order.end() &&
        w->focusPolicy() & Qt::TabFocus) {
      chain.push_back(name);
    }
    w = w->nextInFocusChain();
  }
  EXPECT_EQ(chain, std::vector<std::string>(order.begin(), order.end()));
  EXPECT_EQ(Child<QWidget>("SpeedButtonOpenClose")->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(Child<QWidget>("SpeedButtonSend")->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(Child<QWidget>("GroupBox1")->focusPolicy(), Qt::NoFocus);
}

TEST_F(FormTest, HelpTextIsEightBlueLinesInTheGroupBox) {
  BuildForm();
  struct Help {
    const char* Name;
    int L, T;
    const char* Text;
  };
  const std::vector<Help> lines = {
      {"Label9", 8, 12, "1. Connect two computers by serial cable"},
      {"Label12", 8, 24,
       "2. Run Korvex simulator on the first computer and Korvex event administration software "
       "on the second computer"},
      {"Label18", 8, 36, "3. Click on \"Open port\" button on this window"},
      {"Label10", 8, 48, "4. Activate \"Read KX card\" function on the second computer"},
      {"Label13", 8, 60,
       "5. Click on \"Send: KX card inserted\" button or tick \"Repeat KX cards \" put in\" \" "
       "on this window"},
      {"Label8", 8, 72,
       "    Data from DATA.EPL file are sending to other computer the same way as a competitor "
       "inserts his KX card into a KX station"},
      {"Label14", 16, 88,
       " DATA.EPL file is a text file. You can modify it - keep columns size!"},
      {"Label15", 16, 100,
       " STRUCTURE: Day, time, KX card number, check time, start time, finish time, 1.control "
       "code, 1. control time, 2. ..."}};
  auto* box = Child<QGroupBox>("GroupBox1");
  for (const Help& h : lines) {
    SCOPED_TRACE(h.Name);
    auto* label = Child<QLabel>(h.Name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), box);
    EXPECT_EQ(label->pos(), QPoint(h.L, h.T));
    EXPECT_EQ(label->height(), 13);
    EXPECT_EQ(label->text(), QString::fromUtf8(h.Text));
    EXPECT_FALSE(label->font().bold());
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::blue));
  }
}

TEST_F(FormTest, StatusBarHasSevenPanelsShowingStartTexts) {
  BuildForm();
  const int widths[] = {150, 150, 70, 70, 70, 70, 50};
  const char* texts[] = {"Read bytes: 0", "Write bytes: 0", "CTS:", "DSR:", "Ring:", "RLSD:",
                         ""};
  int left = 0;
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    QLabel* panel = Form->StatusPanel(i);
    EXPECT_EQ(panel->parentWidget(), Child<QWidget>("StatusBar"));
    EXPECT_EQ(panel->geometry(), QRect(left, 0, widths[i], 19));
    EXPECT_EQ(panel->text(), texts[i]);
    left += widths[i];
  }
}

TEST_F(FormTest, TimersAndPortStartAsStored) {
  BuildForm();
  EXPECT_EQ(Form->Timer1.Interval(), 500);
  EXPECT_TRUE(Form->Timer1.Running());
  EXPECT_EQ(Form->TimerCardIn.Interval(), 4000);
  EXPECT_FALSE(Form->TimerCardIn.Enabled());
  EXPECT_EQ(Form->ComPort->DeviceName(), "COM1");
  EXPECT_FALSE(Form->ComPort->Active());
  EXPECT_TRUE(Form->ComPort->Options().Empty());
}

TEST_F(FormTest, EveryTextFitsItsColumnAndNoLabelCoversAControlOrLeavesItsBox) {
  BuildForm();
  for (const Placed& c : Controls) {
    auto* label = qobject_cast<QLabel*>(Child<QWidget>(c.Name));
    if (label == nullptr) continue;
    // "Status" is replaced at run time; the others are fixed.
    if (std::string(c.Name) != "lbStatus") {
      EXPECT_LE(label->sizeHint().width(), c.W) << c.Name;
    }
  }
  // Every label against every other control with the same parent, and inside that parent.
  for (QLabel* label : Form->findChildren<QLabel*>()) {
    QWidget* parent = label->parentWidget();
    if (parent == Child<QWidget>("StatusBar")) continue;
    SCOPED_TRACE(label->objectName().toStdString());
    EXPECT_TRUE(parent->rect().contains(label->geometry())) << label->geometry().right();
    // Rows in the stored layout are 12 pixels apart for 13-pixel labels: the text, centred,
    // keeps clear of the top and bottom pixel.
    const QRect text = label->geometry().adjusted(0, 1, 0, -1);
    for (QWidget* other : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (other == label || other->isWindow() || other->objectName().isEmpty()) continue;
      EXPECT_FALSE(text.intersects(other->geometry()))
          << other->objectName().toStdString();
    }
  }
  // The help lines clear the box's frame and title.
  auto* box = Child<QGroupBox>("GroupBox1");
  const QRect inside = box->contentsRect();
  for (QLabel* line : box->findChildren<QLabel*>()) {
    EXPECT_LE(line->geometry().right(), inside.right()) << line->objectName().toStdString();
  }
}

TEST_F(FormTest, TabWalksTheWholeOrderFromTheDeviceComboAndPanesPassItOn) {
  BuildForm();
  for (QWidget* w : Form->findChildren<QWidget*>()) w->setEnabled(true);  // as if open
  Form->show();
  QApplication::setActiveWindow(Form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  const QStringList order = {"ComboBoxDeviceName", "ComboBoxBaudRate", "ComboBoxDataBits",
                             "ComboBoxStopBits",   "ComboBoxParity",   "Edit",
                             "Button1",            "Button2",          "CheckBox1",
                             "CheckBox2",          "SpinEdit1",        "Memo",
                             "Memo1",              "seHours",          "seMinutes",
                             "ComboBoxDeviceName"};
  QStringList walked;
  for (int i = 0; i < order.size(); ++i) {
    QWidget* focus = QApplication::focusWidget();
    // The combo's editor and a pane's viewport stand for their control.
    while (focus && !order.contains(focus->objectName())) focus = focus->parentWidget();
    walked << (focus ? focus->objectName() : QString("none"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(walked, order);
  EXPECT_FALSE(Child<QPlainTextEdit>("Memo1")->toPlainText().contains('\t'));
}

TEST_F(FormTest, DropDownsShowThirteenPixelItemsAndEnterAddsNoDevice) {
  BuildForm();
  for (const char* name : {"ComboBoxDeviceName", "ComboBoxBaudRate", "ComboBoxDataBits",
                           "ComboBoxStopBits", "ComboBoxParity"}) {
    EXPECT_EQ(Child<QComboBox>(name)->view()->sizeHintForRow(0), 13) << name;
  }
  auto* combo = Child<QComboBox>("ComboBoxDeviceName");
  combo->lineEdit()->clear();
  QTest::keyClicks(combo->lineEdit(), "/dev/ttyUSB7");
  QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(combo->count(), 20);
  EXPECT_EQ(combo->currentText(), "/dev/ttyUSB7");
  // A name wider than the field is shown whole in the tooltip.
  const QString wide = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
  combo->setEditText(wide);
  EXPECT_EQ(combo->toolTip(), wide);
  combo->setEditText("COM1");
  EXPECT_TRUE(combo->toolTip().isEmpty());
}

TEST_F(FormTest, OpenPortButtonIsFlatButFramed) {
  BuildForm();
  auto* button = Child<QToolButton>("SpeedButtonOpenClose");
  EXPECT_TRUE(button->autoRaise());
  const QImage image = button->grab().toImage();
  const int y = image.height() / 2;
  // A frame line at the edge, unlike the face just inside it.
  EXPECT_NE(image.pixelColor(0, y), image.pixelColor(3, y));
  EXPECT_NE(image.pixelColor(image.width() - 1, y), image.pixelColor(image.width() - 4, y));
}
