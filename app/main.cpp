// korvex-simulator: the application object, its title, the main window and the message loop.
#include "toolkit/qt/Application.h"
#include "toolkit/qt/QuitSignals.h"
#include "ui/main.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  application.SetTitle("Korvex Simulator");
  // Declared after the application, so destroyed before it: the port closes with the window.
  TFormComPort FormComPort;
  FormComPort.show();
  // SIGINT, SIGTERM, SIGHUP end the program as closing the window does.
  TQuitSignals quitSignals([&FormComPort] { FormComPort.RequestClose(/*dismissDialogs=*/true); });
  return application.Run();
}
