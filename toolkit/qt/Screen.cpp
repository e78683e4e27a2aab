#include "toolkit/qt/Screen.h"

#include <QGuiApplication>
#include <QScreen>

void CentreOnScreen(QWidget& widget) {
  QScreen* screen = widget.screen() != nullptr ? widget.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = widget.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  widget.move(frame.topLeft());
}
