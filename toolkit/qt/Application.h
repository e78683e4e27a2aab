#pragma once
// The application object: the Qt application, the title used for the standard error box, and
// the hooks through which the core toolkit reports errors and processes messages.
#include <QApplication>
#include <memory>
#include <string>

#include "toolkit/Exception.h"

class THandOverAdapter;

class TApplication {
 public:
  TApplication(int& argc, char** argv);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  const std::string& Title() const noexcept { return FTitle; }
  void SetTitle(std::string title);

  // The standard error box: message with its full stop, captioned with the title, error icon,
  // OK. Shows nothing for EAbort.
  void ShowException(const Exception& e);
  // Handles the events now waiting, then returns.
  void ProcessMessages();
  // Runs the message loop until the last window closes; returns the exit code.
  int Run();

  QApplication& Qt() noexcept { return FApp; }

 private:
  QApplication FApp;
  std::unique_ptr<THandOverAdapter> FHandOver;
  std::string FTitle;
};

// The one application object, or null before it exists.
TApplication* Application();
