// korvex-simulator: the application object, its title, the main window and the message loop.
#include <QIcon>
#include <iostream>

#include "app/CommandLine.h"
#include "toolkit/qt/Application.h"
#include "toolkit/qt/QuitSignals.h"
#include "ui/main.h"

int main(int argc, char** argv) {
  // Answered before the application object exists, so they need no display.
  if (auto exitCode = AnswerCommandLine(argc, argv, std::cout, std::cerr)) return *exitCode;
  TApplication application(argc, argv);
  application.SetTitle("Korvex Simulator");
  // The installed icon (hicolor theme); none when run from the build folder.
  application.Qt().setWindowIcon(QIcon::fromTheme("korvex-simulator"));
  // Declared after the application, so destroyed before it: the port closes with the window.
  TFormComPort FormComPort;
  FormComPort.show();
  // SIGINT, SIGTERM, SIGHUP end the program as closing the window does.
  TQuitSignals quitSignals([&FormComPort] { FormComPort.RequestClose(/*dismissDialogs=*/true); });
  return application.Run();
}
