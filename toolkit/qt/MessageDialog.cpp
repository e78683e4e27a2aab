#include "toolkit/qt/MessageDialog.h"

#include <QPushButton>
#include <QTimer>

#include "toolkit/qt/Screen.h"

namespace {

TMessageBoxHook BoxHook;

}  // namespace

void SetMessageBoxHook(TMessageBoxHook hook) { BoxHook = std::move(hook); }

void ShowMessageBox(const QString& caption, const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, caption, text, QMessageBox::NoButton);
  QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.setTextFormat(Qt::PlainText);
  box.adjustSize();
  CentreOnScreen(box);
  if (BoxHook) {
    // A copy: the hook may be replaced while this box is open.
    QTimer::singleShot(0, &box, [&box, ok, hook = BoxHook] {
      hook(box.windowTitle(), box.text());
      ok->click();
    });
  }
  box.exec();
}

void ShowErrorDialog(const QString& text) {
  ShowMessageBox(QStringLiteral("Error"), text, QMessageBox::Critical);
}
