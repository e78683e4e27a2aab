#pragma once
// The main window: serial settings, the open/close toggle, the send line, the simulator's
// controls, the two panes, the help text and the status bar; it owns the port and the timers.
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "serial/ComPort.h"
#include "simulator/PunchFile.h"
#include "simulator/Responder.h"
#include "simulator/TickFailures.h"
#include "toolkit/ByteString.h"
#include "toolkit/qt/Timer.h"
#include "ui_main.h"

class QLabel;

enum class TCloseAction : std::uint8_t { caNone, caHide, caFree, caMinimize };

// The punch file, global to the window's module.
extern TPunchFile PunchFile;

class TFormComPort : public QWidget, public TObject, private IResponderSink {
  Q_OBJECT

 public:
  // Builds the window from its stored layout, then runs FormCreate; a failure there is shown
  // in the standard error box and the window is still built.
  explicit TFormComPort(QWidget* parent = nullptr);
  ~TFormComPort() override;

  // Controls, reached by their names.
  Ui::TFormComPort Ui;
  // Non-visual parts.
  std::unique_ptr<TComPort> ComPort;
  TTimer Timer1;
  TTimer TimerCardIn;
  // The station's behaviour; shows and sends through this window.
  TResponder Responder;

  // Fields.
  std::int32_t ReadBytes = 0;
  std::int32_t WriteBytes = 0;
  std::int32_t CardsSent() const noexcept { return Responder.CardsSent(); }
  const ByteString& ReceivedText() const noexcept { return Responder.ReceivedText(); }

  // Handlers.
  void FormCreate(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void ComboBoxDeviceNameChange(TObject* Sender);
  void ComboBoxBaudRateChange(TObject* Sender);
  void ComboBoxDataBitsChange(TObject* Sender);
  void ComboBoxStopBitsChange(TObject* Sender);
  void ComboBoxParityChange(TObject* Sender);
  void SpeedButtonOpenCloseClick(TObject* Sender);
  void SpeedButtonSendClick(TObject* Sender);
  void Button1Click(TObject* Sender);
  void Button2Click(TObject* Sender);
  void CheckBox1Click(TObject* Sender);
  void CheckBox2Click(TObject* Sender);
  void SpinEdit1Change(TObject* Sender);
  void Timer1Timer(TObject* Sender);
  void TimerCardInTimer(TObject* Sender);
  void ComPortRxChar(TObject* Sender);
  void ComPortCTSChange(TObject* Sender);
  void ComPortDSRChange(TObject* Sender);
  void ComPortRing(TObject* Sender);
  void ComPortRLSDChange(TObject* Sender);
  void ComPortAfterWrite(TObject* Sender, void* Buffer, std::int32_t Length,
                         bool WaitOnCompletion);
  void ComPortLineError(TObject* Sender, TLineErrors LineErrors);
  void ComPortError(TCustomComPort* Port, EComError& E, TComAction& Action);

  // Operations. AddReadBytes is also how the responder counts what it reads.
  void AddReadBytes(std::int32_t Count) override;
  void AddWriteBytes(std::int32_t Count);
  void ShowModemStatus();

  // Status bar panel 0..6.
  QLabel* StatusPanel(int index) const;

  // Closes the window as its close button does, but only once no dialog is open: a request
  // made while one is open is carried out when the last one has ended. With dismissDialogs
  // the open dialogs are ended first and no new one opens (the program is told to quit).
  void RequestClose(bool dismissDialogs = false);
  // Shows the received chunks that wait for the next pane update.
  void FlushReceivedPane();

  // Panes keep their latest lines only.
  static constexpr int ReceivedPaneLines = 5000;
  static constexpr int LogPaneLines = 10000;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // What the responder shows and sends.
  void WriteText(const ByteString& bytes) override;
  void AddReceivedLine(const ByteString& chunk) override;
  void AddLogLine(const ByteString& line) override;
  void SetStatus(const std::string& text) override;

  // Runs a timer's work; its failures reach the user through FTickFailures. A report is
  // shown after the tick has returned: Qt holds a timer whose handler is still running, and
  // the timers must go on ticking while a box waits for "OK".
  template <class F>
  void RunTick(TTick tick, F&& work);
  void ShowTickReport(const TFailureReport& report);
  // The device vanished: closes the port as the toggle does, so nothing more is taken from
  // the punch file for a line that cannot carry it.
  void CloseGonePort();
  // Stops everything that could still report or touch the port; FormClose has run.
  void ShutDown();
  void CloseWhenDialogsEnd();

  void BindHandlers();
  void ApplyFont();
  void SizeLabelsToText();
  void FitStatusLabel();
  void SetUpPanes();
  void SetUpDeviceCombo();
  void ListDevicesPresent();

  bool FShownOnce = false;
  // Port error texts whose dialog is open now: the same failure is not stacked a second time.
  std::set<std::string> FOpenErrorTexts;
  TTickFailures FTickFailures;
  // The tick whose work is running, if any.
  std::optional<TTick> FCurrentTick;
  // The device of the open port vanished; reported once, until the port opens again.
  bool FDeviceGone = false;
  // The dialog text for the vanished device, until its port has been closed.
  std::string FGoneText;
  bool FClosed = false;
  bool FCloseRequested = false;
  QStringList FPendingReceived;
  QTimer FReceivedPaneTimer;
};
