// The spin edit: which keys it takes, how its text reads as a value, the arrows and the range.
#include <gtest/gtest.h>

#include <QFocusEvent>
#include <QLocale>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "tests/ui/TestApplication.h"
#include "toolkit/qt/SpinEdit.h"

namespace {

// Constructed before the fixture's widget, so the application exists when it is built.
struct WithApplication {
  WithApplication() { TestApplication(); }
};

class SpinEditTest : public testing::Test, private WithApplication {
 protected:
  void SetUp() override {
    Spin.SetMinValue(2);
    Spin.SetMaxValue(9);
    Spin.SetValue(4);
  }
  void LeaveFocus() {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(&Spin, &out);
  }
  TSpinEdit Spin;
};

}  // namespace

struct CharCase {
  char16_t Char;
  bool Taken;
};

class SpinEditCharTest : public testing::TestWithParam<CharCase> {};

TEST_P(SpinEditCharTest, TakesDigitsSignsSeparatorAndControlsButEnter) {
  TestApplication();
  EXPECT_EQ(TSpinEdit::IsValidChar(QChar(GetParam().Char)), GetParam().Taken);
}

INSTANTIATE_TEST_SUITE_P(Chars, SpinEditCharTest,
                         testing::Values(CharCase{u'0', true}, CharCase{u'9', true},
                                         CharCase{u'+', true}, CharCase{u'-', true},
                                         CharCase{u'\b', true}, CharCase{u'\x03', true},
                                         CharCase{u'\r', false}, CharCase{u'\n', false},
                                         CharCase{u'a', false}, CharCase{u' ', false},
                                         CharCase{u'e', false}, CharCase{u'x', false},
                                         CharCase{u'\u0663', false}));

TEST(SpinEditChar, TakesTheLocalesDecimalSeparator) {
  TestApplication();
  const QString separator = QLocale().decimalPoint();
  ASSERT_EQ(separator.size(), 1);
  EXPECT_TRUE(TSpinEdit::IsValidChar(separator[0]));
}

TEST_F(SpinEditTest, RefusesLettersAndEnterWhenTyped) {
  Spin.clear();
  QTest::keyClicks(&Spin, "1a2");
  QTest::keyClick(&Spin, Qt::Key_Return);
  EXPECT_EQ(Spin.text(), "12");
}

struct ValueCase {
  const char* Text;
  int Value;
};

class SpinEditValueTest : public testing::TestWithParam<ValueCase> {};

TEST_P(SpinEditValueTest, ReadsTextAsWholeNumberElseMinimum) {
  TestApplication();
  TSpinEdit spin;
  spin.SetMinValue(2);
  spin.SetMaxValue(9);
  spin.setText(GetParam().Text);
  EXPECT_EQ(spin.Value(), GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(Texts, SpinEditValueTest,
                         testing::Values(ValueCase{"5", 5}, ValueCase{"", 2}, ValueCase{"-", 2},
                                         ValueCase{"+", 2}, ValueCase{"+7", 7},
                                         ValueCase{"0", 0}, ValueCase{"1", 1},
                                         ValueCase{"-3", -3}, ValueCase{"45", 45},
                                         ValueCase{"4.5", 2}, ValueCase{"99999999999", 2}));

TEST_F(SpinEditTest, ArrowKeysStepByOneWithinRange) {
  QTest::keyClick(&Spin, Qt::Key_Up);
  EXPECT_EQ(Spin.text(), "5");
  for (int i = 0; i < 10; ++i) QTest::keyClick(&Spin, Qt::Key_Up);
  EXPECT_EQ(Spin.Value(), 9);
  for (int i = 0; i < 10; ++i) QTest::keyClick(&Spin, Qt::Key_Down);
  EXPECT_EQ(Spin.text(), "2");
}

TEST_F(SpinEditTest, ArrowButtonsStepByOne) {
  auto buttons = Spin.findChildren<QToolButton*>();
  ASSERT_EQ(buttons.size(), 2);
  QToolButton* up = buttons[0]->arrowType() == Qt::UpArrow ? buttons[0] : buttons[1];
  QToolButton* down = up == buttons[0] ? buttons[1] : buttons[0];
  up->click();
  EXPECT_EQ(Spin.Value(), 5);
  down->click();
  down->click();
  EXPECT_EQ(Spin.Value(), 3);
}

TEST_F(SpinEditTest, OutOfRangeTypedValueReadsAsTypedUntilFocusLeaves) {
  Spin.setText("0");
  EXPECT_EQ(Spin.Value(), 0);
  LeaveFocus();
  EXPECT_EQ(Spin.text(), "2");
  Spin.setText("45");
  EXPECT_EQ(Spin.Value(), 45);
  LeaveFocus();
  EXPECT_EQ(Spin.text(), "9");
}

TEST_F(SpinEditTest, FocusLeavingInRangeKeepsTextAsTyped) {
  Spin.setText("+7");
  LeaveFocus();
  EXPECT_EQ(Spin.text(), "+7");
}

TEST_F(SpinEditTest, SetValueClampsAndRewritesText) {
  Spin.SetValue(100);
  EXPECT_EQ(Spin.text(), "9");
  Spin.SetValue(-100);
  EXPECT_EQ(Spin.text(), "2");
}

TEST_F(SpinEditTest, MaxLengthLimitsTyping) {
  Spin.SetMaxLength(1);
  Spin.clear();
  QTest::keyClicks(&Spin, "45");
  EXPECT_EQ(Spin.text(), "4");
}

TEST_F(SpinEditTest, SignalsChangeOnEveryTextChange) {
  QSignalSpy changes(&Spin, &TSpinEdit::OnChange);
  QTest::keyClick(&Spin, Qt::Key_Up);
  Spin.clear();
  QTest::keyClicks(&Spin, "3");
  EXPECT_EQ(changes.count(), 3);
}

TEST_F(SpinEditTest, ArrowsDoNothingWhenDisabled) {
  Spin.setEnabled(false);
  QTest::keyClick(&Spin, Qt::Key_Up);
  EXPECT_EQ(Spin.Value(), 4);
}
