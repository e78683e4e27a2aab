#pragma once
// The editable device list: refreshes its items just before it drops down, keeps them when
// Enter is pressed, and shows a name wider than the field in a tooltip.
#include <QComboBox>
#include <functional>

class TDeviceCombo : public QComboBox {
 public:
  explicit TDeviceCombo(QWidget* parent = nullptr);
  // Runs each time the list is about to drop down.
  std::function<void()> BeforePopup;
  void showPopup() override;

 private:
  void ShowWideTextAsToolTip();
};
