#include "tests/ui/TestApplication.h"

#include "toolkit/qt/MessageDialog.h"

#include <functional>

namespace {

std::vector<TShownBox> Shown;
std::function<void()> WhileOpen;

}  // namespace

TApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static TApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* created = new TApplication(argc, argv);  // lives until the process ends
    created->SetTitle("Korvex Simulator");
    SetMessageBoxHook([](const QString& caption, const QString& text) {
      Shown.push_back({caption, text});
      if (WhileOpen) WhileOpen();
    });
    return created;
  }();
  Shown.clear();
  WhileOpen = nullptr;
  return *app;
}

void WhileBoxOpen(std::function<void()> work) { WhileOpen = std::move(work); }

const std::vector<TShownBox>& ShownBoxes() { return Shown; }
