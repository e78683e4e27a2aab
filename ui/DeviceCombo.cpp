#include "ui/DeviceCombo.h"

#include <QLineEdit>

TDeviceCombo::TDeviceCombo(QWidget* parent) : QComboBox(parent) {
  setInsertPolicy(QComboBox::NoInsert);
  connect(this, &QComboBox::editTextChanged, this, [this] { ShowWideTextAsToolTip(); });
}

void TDeviceCombo::showPopup() {
  if (BeforePopup) BeforePopup();
  QComboBox::showPopup();
}

void TDeviceCombo::ShowWideTextAsToolTip() {
  const QString text = currentText();
  const int room = lineEdit() ? lineEdit()->width() : width();
  setToolTip(fontMetrics().horizontalAdvance(text) > room ? text : QString());
}
