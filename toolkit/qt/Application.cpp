#include "toolkit/qt/Application.h"

#include "toolkit/ErrorReport.h"
#include "toolkit/qt/ErrorText.h"
#include "toolkit/qt/HandOverAdapter.h"
#include "toolkit/qt/MessageDialog.h"

namespace {

TApplication* TheApplication = nullptr;

}  // namespace

TApplication* Application() { return TheApplication; }

TApplication::TApplication(int& argc, char** argv) : FApp(argc, argv) {
  TheApplication = this;
  FHandOver = std::make_unique<THandOverAdapter>();
  SetErrorReportHook([this](const Exception& e) { ShowException(e); });
  SetProcessMessagesHook([this] { ProcessMessages(); });
}

TApplication::~TApplication() {
  SetErrorReportHook(nullptr);
  SetProcessMessagesHook(nullptr);
  FHandOver.reset();
  TheApplication = nullptr;
}

void TApplication::SetTitle(std::string title) {
  FTitle = std::move(title);
  // Not the display name: Qt would append that to every window caption.
  QCoreApplication::setApplicationName(QString::fromStdString(FTitle));
}

void TApplication::ShowException(const Exception& e) {
  if (dynamic_cast<const EAbort*>(&e) != nullptr) return;
  ShowMessageBox(QString::fromStdString(FTitle),
                 QString::fromLocal8Bit(ErrorBoxText(e.Message())), QMessageBox::Critical);
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(); }

int TApplication::Run() { return QApplication::exec(); }
