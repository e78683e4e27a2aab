#include "tests/ui/TestApplication.h"

#include "toolkit/qt/MessageDialog.h"

namespace {

std::vector<TShownBox> Shown;

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
    });
    return created;
  }();
  Shown.clear();
  return *app;
}

const std::vector<TShownBox>& ShownBoxes() { return Shown; }
