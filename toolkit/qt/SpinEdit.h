#pragma once
// A whole-number edit with up/down arrows. Its value is its text read as a number; what is
// typed is kept as typed until the focus leaves, then held within the range.
#include <QLineEdit>

class QToolButton;

class TSpinEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
  Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
  Q_PROPERTY(int Value READ Value WRITE SetValue)
  Q_PROPERTY(int MaxLength READ MaxLength WRITE SetMaxLength)

 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  int MinValue() const noexcept { return FMinValue; }
  void SetMinValue(int value);
  int MaxValue() const noexcept { return FMaxValue; }
  void SetMaxValue(int value);
  int Increment() const noexcept { return FIncrement; }
  void SetIncrement(int value) { FIncrement = value; }
  // 0 means no limit.
  int MaxLength() const noexcept { return FMaxLength; }
  void SetMaxLength(int value);

  // The text as a whole number; the minimum when the text is not one.
  int Value() const;
  // Writes the value, held within the range, as the text.
  void SetValue(int value);

  // Whether a typed character is taken: digits, signs, the decimal separator and control
  // characters other than Enter.
  static bool IsValidChar(QChar c);

 signals:
  void OnChange();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  int CheckValue(int value) const;
  void Step(int delta);

  int FMinValue = 0;
  int FMaxValue = 0;
  int FIncrement = 1;
  int FMaxLength = 0;
  QToolButton* FUpButton;
  QToolButton* FDownButton;
};
