#pragma once
// The main window: serial settings, the open/close toggle, the send line, the simulator's
// controls, the two panes, the help text and the status bar; it owns the port and the timers.
#include <QWidget>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "serial/ComPort.h"
#include "simulator/PunchFile.h"
#include "simulator/Responder.h"
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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // What the responder shows and sends.
  void WriteText(const ByteString& bytes) override;
  void AddReceivedLine(const ByteString& chunk) override;
  void AddLogLine(const ByteString& line) override;
  void SetStatus(const std::string& text) override;

  // Runs a timer's work; a failure that repeats unchanged at the following ticks is reported
  // only the first time, so a stuck request cannot bury the window under boxes. The report is
  // shown after the tick has returned: Qt holds a timer whose handler is still running, and
  // the timers must go on ticking while a box waits for "OK".
  template <class F>
  void RunTick(std::string& lastFailure, F&& work);
  void ShowPortErrorLater(const std::string& text);

  void BindHandlers();
  void ApplyFont();
  void SizeLabelsToText();

  bool FShownOnce = false;
  // Port error texts whose dialog is open now: a failure repeating at every timer tick while
  // its dialog waits for "OK" is not stacked a second time.
  std::set<std::string> FOpenErrorTexts;
  std::string FPollFailure;
  std::string FCardInFailure;
  // The running tick's last failure while a timer's work runs, else null.
  std::string* FTickFailure = nullptr;
};
