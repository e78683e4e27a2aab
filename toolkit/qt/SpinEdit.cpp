#include "toolkit/qt/SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QToolButton>
#include <algorithm>
#include <climits>

namespace {

constexpr int ButtonWidth = 15;

QToolButton* MakeArrow(QWidget* parent, Qt::ArrowType arrow) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setFocusPolicy(Qt::NoFocus);
  button->setAutoRepeat(true);
  button->setCursor(Qt::ArrowCursor);
  return button;
}

}  // namespace

TSpinEdit::TSpinEdit(QWidget* parent)
    : QLineEdit(parent),
      FUpButton(MakeArrow(this, Qt::UpArrow)),
      FDownButton(MakeArrow(this, Qt::DownArrow)) {
  setTextMargins(0, 0, ButtonWidth, 0);
  setText(QStringLiteral("0"));
  connect(FUpButton, &QToolButton::clicked, this, [this] { Step(FIncrement); });
  connect(FDownButton, &QToolButton::clicked, this, [this] { Step(-FIncrement); });
  connect(this, &QLineEdit::textChanged, this, &TSpinEdit::OnChange);
}

void TSpinEdit::SetMinValue(int value) { FMinValue = value; }
void TSpinEdit::SetMaxValue(int value) { FMaxValue = value; }

void TSpinEdit::SetMaxLength(int value) {
  FMaxLength = value < 0 ? 0 : value;
  setMaxLength(FMaxLength == 0 ? 32767 : FMaxLength);
}

bool TSpinEdit::IsValidChar(QChar c) {
  if (c == u'\r' || c == u'\n') return false;
  if (c.unicode() < 0x20 || c == QChar(0x7F)) return true;
  if (c.isDigit() && c.unicode() < 0x80) return true;
  if (c == u'+' || c == u'-') return true;
  return QLocale().decimalPoint() == QString(c);
}

int TSpinEdit::Value() const {
  bool ok = false;
  const int value = text().toInt(&ok, 10);
  return ok ? value : FMinValue;
}

int TSpinEdit::CheckValue(int value) const {
  // Equal bounds mean no range at all.
  if (FMaxValue == FMinValue) return value;
  if (value < FMinValue) return FMinValue;
  if (value > FMaxValue) return FMaxValue;
  return value;
}

void TSpinEdit::SetValue(int value) { setText(QString::number(CheckValue(value))); }

void TSpinEdit::Step(int delta) {
  if (isReadOnly() || !isEnabled()) {
    QApplication::beep();
    return;
  }
  // Widened so that a step at the int limits cannot overflow.
  const long long next = static_cast<long long>(Value()) + delta;
  const long long bounded = std::clamp<long long>(next, INT_MIN, INT_MAX);
  SetValue(static_cast<int>(bounded));
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      Step(FIncrement);
      return;
    case Qt::Key_Down:
      Step(-FIncrement);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      QApplication::beep();
      return;
    default:
      break;
  }
  const QString typed = event->text();
  for (QChar c : typed) {
    if (!IsValidChar(c)) {
      QApplication::beep();
      return;
    }
  }
  QLineEdit::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
  const int value = Value();
  if (CheckValue(value) != value) SetValue(value);
  QLineEdit::focusOutEvent(event);
}

void TSpinEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  const int half = height() / 2;
  FUpButton->setGeometry(width() - ButtonWidth, 0, ButtonWidth, half);
  FDownButton->setGeometry(width() - ButtonWidth, half, ButtonWidth, height() - half);
}

void TSpinEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::EnabledChange) {
    FUpButton->setEnabled(isEnabled());
    FDownButton->setEnabled(isEnabled());
  }
}
