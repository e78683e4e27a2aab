#include "toolkit/qt/MessageDialog.h"

#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <vector>

#include "toolkit/qt/Screen.h"

namespace {

TMessageBoxHook BoxHook;
std::function<void()> EndedHook;
std::vector<QPointer<QMessageBox>> OpenBoxes;
bool Ended = false;

}  // namespace

void SetMessageBoxHook(TMessageBoxHook hook) { BoxHook = std::move(hook); }

void ShowMessageBox(const QString& caption, const QString& text, QMessageBox::Icon icon) {
  if (Ended) return;
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
  OpenBoxes.emplace_back(&box);
  box.exec();
  OpenBoxes.pop_back();
  if (OpenBoxes.empty() && EndedHook) {
    // Queued: whoever opened this box goes on first.
    QTimer::singleShot(0, [hook = EndedHook] {
      if (OpenBoxes.empty()) hook();
    });
  }
}

int OpenMessageBoxes() { return static_cast<int>(OpenBoxes.size()); }

void SetMessageBoxesEndedHook(std::function<void()> hook) { EndedHook = std::move(hook); }

void EndMessageBoxes() {
  Ended = true;
  for (const QPointer<QMessageBox>& box : OpenBoxes) {
    if (box) box->done(0);
  }
}

void ShowErrorDialog(const QString& text) {
  ShowMessageBox(QStringLiteral("Error"), text, QMessageBox::Critical);
}
