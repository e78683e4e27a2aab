#include "ui/main.h"

#include <QCloseEvent>
#include <QFontInfo>
#include <QLabel>
#include <QMetaObject>
#include <algorithm>
#include <climits>

#include "serial/StoredDescription.h"
#include "toolkit/ErrorReport.h"
#include "toolkit/qt/Guarded.h"
#include "toolkit/qt/MessageDialog.h"
#include "toolkit/qt/Screen.h"
#include "ui/LineErrorText.h"

TPunchFile PunchFile;

namespace {

// The port's settings as stored with the window.
constexpr const char* ComPortDescription = "DeviceName = 'COM1'\nActive = False\nOptions = []";

std::int32_t AddWrapping(std::int32_t total, std::int32_t count) {
  // Two's-complement wrap instead of signed overflow.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(total) +
                                   static_cast<std::uint32_t>(count));
}

QString ModemText(const char* name, bool on) {
  return QString::fromLatin1(name) + (on ? QStringLiteral(" On") : QStringLiteral(" Off"));
}

}  // namespace

TFormComPort::TFormComPort(QWidget* parent) : QWidget(parent), Responder(*this, PunchFile) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  Ui.setupUi(this);
  setFixedSize(608, 441);
  ApplyFont();
  SizeLabelsToText();
  Ui.ComboBoxDeviceName->setEditText(QStringLiteral("COM1"));

  ComPort = std::make_unique<TComPort>(nullptr);
  ComPort->SetName("ComPort");
  ReadStoredDescription(*ComPort, ComPortDescription);

  Timer1.SetInterval(500);
  Timer1.SetEnabled(true);
  TimerCardIn.SetInterval(4000);
  TimerCardIn.SetEnabled(false);
  BindHandlers();

  Guarded([this] { FormCreate(this); });
}

TFormComPort::~TFormComPort() {
  // The port goes first: closing it may still deliver handed-over events to this window.
  Guarded([this] { ComPort.reset(); });
}

void TFormComPort::ApplyFont() {
  // The font actually matched, not the one asked for: fontconfig answers any family name.
  if (QFontInfo(font()).family() == QStringLiteral("MS Sans Serif")) return;
  // An 8-point sans-serif at the layout's pixel size: 11-pixel characters in 13-pixel lines.
  // A condensed face comes closest to the old bitmap font's widths.
  QFont fallback;
  fallback.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Arial"),
                        QStringLiteral("Sans Serif")});
  fallback.setStyleHint(QFont::SansSerif);
  fallback.setPixelSize(11);
  setFont(fallback);
}

void TFormComPort::SizeLabelsToText() {
  // Labels size themselves to their text in whatever font the platform gave them.
  for (QLabel* label : findChildren<QLabel*>()) {
    if (label->parentWidget() == Ui.StatusBar) continue;
    label->resize(label->sizeHint().width(), label->height());
  }
}

void TFormComPort::BindHandlers() {
  // User actions only: selecting from code fires no change.
  connect(Ui.ComboBoxDeviceName->lineEdit(), &QLineEdit::textEdited, this,
          [this] { Guarded([this] { ComboBoxDeviceNameChange(this); }); });
  connect(Ui.ComboBoxDeviceName, &QComboBox::activated, this,
          [this] { Guarded([this] { ComboBoxDeviceNameChange(this); }); });
  connect(Ui.ComboBoxBaudRate, &QComboBox::activated, this,
          [this] { Guarded([this] { ComboBoxBaudRateChange(this); }); });
  connect(Ui.ComboBoxDataBits, &QComboBox::activated, this,
          [this] { Guarded([this] { ComboBoxDataBitsChange(this); }); });
  connect(Ui.ComboBoxStopBits, &QComboBox::activated, this,
          [this] { Guarded([this] { ComboBoxStopBitsChange(this); }); });
  connect(Ui.ComboBoxParity, &QComboBox::activated, this,
          [this] { Guarded([this] { ComboBoxParityChange(this); }); });
  connect(Ui.SpeedButtonOpenClose, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButtonOpenCloseClick(this); }); });
  connect(Ui.SpeedButtonSend, &QToolButton::clicked, this,
          [this] { Guarded([this] { SpeedButtonSendClick(this); }); });

  connect(Ui.Button1, &QPushButton::clicked, this,
          [this] { Guarded([this] { Button1Click(this); }); });
  connect(Ui.Button2, &QPushButton::clicked, this,
          [this] { Guarded([this] { Button2Click(this); }); });
  // Like the toolkit's check boxes, a change of the tick from code also runs the handler.
  connect(Ui.CheckBox1, &QCheckBox::toggled, this,
          [this] { Guarded([this] { CheckBox1Click(this); }); });
  connect(Ui.CheckBox2, &QCheckBox::toggled, this,
          [this] { Guarded([this] { CheckBox2Click(this); }); });
  connect(Ui.SpinEdit1, &TSpinEdit::OnChange, this,
          [this] { Guarded([this] { SpinEdit1Change(this); }); });
  connect(&Timer1, &TTimer::OnTimer, this, [this] { Timer1Timer(this); });
  connect(&TimerCardIn, &TTimer::OnTimer, this, [this] { TimerCardInTimer(this); });

  ComPort->SetOnRxChar(MakeMethod(this, &TFormComPort::ComPortRxChar));
  ComPort->SetOnCTSChange(MakeMethod(this, &TFormComPort::ComPortCTSChange));
  ComPort->SetOnDSRChange(MakeMethod(this, &TFormComPort::ComPortDSRChange));
  ComPort->SetOnRing(MakeMethod(this, &TFormComPort::ComPortRing));
  ComPort->SetOnRLSDChange(MakeMethod(this, &TFormComPort::ComPortRLSDChange));
  ComPort->SetOnLineError(MakeMethod(this, &TFormComPort::ComPortLineError));
  ComPort->SetOnError(MakeMethod(this, &TFormComPort::ComPortError));
  ComPort->SetAfterWrite(MakeMethod(this, &TFormComPort::ComPortAfterWrite));
}

QLabel* TFormComPort::StatusPanel(int index) const {
  QLabel* panels[] = {Ui.StatusPanel0, Ui.StatusPanel1, Ui.StatusPanel2, Ui.StatusPanel3,
                      Ui.StatusPanel4, Ui.StatusPanel5, Ui.StatusPanel6};
  return panels[index];
}

void TFormComPort::FormCreate(TObject*) {
  Ui.ComboBoxBaudRate->setCurrentIndex(6);
  Ui.ComboBoxDataBits->setCurrentIndex(5);
  Ui.ComboBoxStopBits->setCurrentIndex(1);
  Ui.ComboBoxParity->setCurrentIndex(1);
  ComboBoxBaudRateChange(this);
  ComboBoxDataBitsChange(this);
  ComboBoxStopBitsChange(this);
  ComboBoxParityChange(this);
  AddReadBytes(0);
  AddWriteBytes(0);
  ShowModemStatus();
  OpenPunchFile(PunchFile);
  Responder.Reset();
}

void TFormComPort::FormClose(TObject*, TCloseAction&) { ClosePunchFile(PunchFile); }

void TFormComPort::ComboBoxDeviceNameChange(TObject*) {
  ComPort->SetDeviceName(Ui.ComboBoxDeviceName->currentText().toStdString());
}

void TFormComPort::ComboBoxBaudRateChange(TObject*) {
  ComPort->SetBaudRate(static_cast<TBaudRate>(Ui.ComboBoxBaudRate->currentIndex()));
}

void TFormComPort::ComboBoxDataBitsChange(TObject*) {
  ComPort->SetDataBits(static_cast<TDataBits>(Ui.ComboBoxDataBits->currentIndex()));
}

void TFormComPort::ComboBoxStopBitsChange(TObject*) {
  ComPort->SetStopBits(static_cast<TStopBits>(Ui.ComboBoxStopBits->currentIndex()));
}

void TFormComPort::ComboBoxParityChange(TObject*) {
  ComPort->SetParity(static_cast<TParity>(Ui.ComboBoxParity->currentIndex()));
}

void TFormComPort::SpeedButtonOpenCloseClick(TObject*) {
  ComPort->SetActive(!ComPort->Active());
  const bool active = ComPort->Active();
  Ui.SpeedButtonOpenClose->setText(active ? QStringLiteral("&Close port")
                                          : QStringLiteral("&Open port"));
  for (QWidget* control : {static_cast<QWidget*>(Ui.Memo), static_cast<QWidget*>(Ui.Edit),
                           static_cast<QWidget*>(Ui.Button1), static_cast<QWidget*>(Ui.Button2),
                           static_cast<QWidget*>(Ui.CheckBox1),
                           static_cast<QWidget*>(Ui.CheckBox2),
                           static_cast<QWidget*>(Ui.SpinEdit1),
                           static_cast<QWidget*>(Ui.SpeedButtonSend)}) {
    control->setEnabled(active);
  }
  for (QComboBox* control : {Ui.ComboBoxDeviceName, Ui.ComboBoxBaudRate, Ui.ComboBoxDataBits,
                             Ui.ComboBoxStopBits, Ui.ComboBoxParity}) {
    control->setEnabled(!active);
  }
  ShowModemStatus();
  if (!active) {
    // Nothing can be answered or announced on a closed port: a request left behind and the
    // repeated announcement would otherwise fail at every tick.
    Responder.ClearReceivedText();
    Ui.CheckBox2->setChecked(false);
  }
}

void TFormComPort::SpeedButtonSendClick(TObject*) {
  // The line is 8-bit text.
  ByteString text = Ui.Edit->text().toLatin1().toStdString();
  text.push_back('\r');
  ComPort->WriteText(text);
}

void TFormComPort::Button1Click(TObject*) { Responder.SendVersionRequest(); }
void TFormComPort::Button2Click(TObject*) { Responder.SendCardIn(); }
void TFormComPort::CheckBox1Click(TObject*) { Timer1.SetEnabled(Ui.CheckBox1->isChecked()); }
void TFormComPort::CheckBox2Click(TObject*) { TimerCardIn.SetEnabled(Ui.CheckBox2->isChecked()); }

void TFormComPort::SpinEdit1Change(TObject*) {
  // Widened: a typed number is not yet held within the range.
  const long long ms = static_cast<long long>(Ui.SpinEdit1->Value()) * 1000;
  TimerCardIn.SetInterval(static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX)));
}

template <class F>
void TFormComPort::RunTick(std::string& lastFailure, F&& work) {
  FTickFailure = &lastFailure;
  std::string failure;
  try {
    work();
    lastFailure.clear();
  } catch (const EAbort&) {
    // A port error: ComPortError has dealt with it and recorded it in lastFailure.
  } catch (const Exception& e) {
    failure = e.Message();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  FTickFailure = nullptr;
  if (failure.empty() || failure == lastFailure) return;
  lastFailure = failure;
  QMetaObject::invokeMethod(
      this, [failure] { Guarded([&] { ReportException(Exception(failure)); }); },
      Qt::QueuedConnection);
}

void TFormComPort::Timer1Timer(TObject*) {
  RunTick(FPollFailure, [this] { Responder.Poll(Ui.seHours->Value(), Ui.seMinutes->Value()); });
}

void TFormComPort::TimerCardInTimer(TObject*) {
  RunTick(FCardInFailure, [this] { Responder.SendCardInByTimer(); });
}

void TFormComPort::ComPortRxChar(TObject*) {
  Guarded([this] { Responder.Receive(ComPort->ReadText()); });
}

void TFormComPort::WriteText(const ByteString& bytes) { ComPort->WriteText(bytes); }

void TFormComPort::AddReceivedLine(const ByteString& chunk) {
  Ui.Memo->appendPlainText(QString::fromLatin1(chunk.data(), static_cast<qsizetype>(chunk.size())));
}

void TFormComPort::AddLogLine(const ByteString& line) {
  Ui.Memo1->appendPlainText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
}

void TFormComPort::SetStatus(const std::string& text) {
  Ui.lbStatus->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void TFormComPort::ComPortCTSChange(TObject*) { Guarded([this] { ShowModemStatus(); }); }
void TFormComPort::ComPortDSRChange(TObject*) { Guarded([this] { ShowModemStatus(); }); }
void TFormComPort::ComPortRing(TObject*) { Guarded([this] { ShowModemStatus(); }); }
void TFormComPort::ComPortRLSDChange(TObject*) { Guarded([this] { ShowModemStatus(); }); }

void TFormComPort::ComPortAfterWrite(TObject*, void*, std::int32_t Length, bool) {
  AddWriteBytes(Length);
}

void TFormComPort::ComPortLineError(TObject*, TLineErrors LineErrors) {
  Guarded([&] {
    for (const std::string& text : LineErrorTexts(LineErrors)) {
      ShowErrorDialog(QString::fromStdString(text));
    }
  });
}

void TFormComPort::ComPortError(TCustomComPort*, EComError& E, TComAction& Action) {
  Action = TComAction::caAbort;
  const std::string text = "Error " + std::to_string(E.ErrorCode()) + ": " + E.Message();
  if (FTickFailure) {
    // Inside a timer tick: once per run of identical failures, and only after the tick.
    const bool repeated = *FTickFailure == text;
    *FTickFailure = text;
    if (!repeated) ShowPortErrorLater(text);
    return;
  }
  if (!FOpenErrorTexts.insert(text).second) return;
  Guarded([&] { ShowErrorDialog(QString::fromLocal8Bit(text.c_str())); });
  FOpenErrorTexts.erase(text);
}

void TFormComPort::ShowPortErrorLater(const std::string& text) {
  if (!FOpenErrorTexts.insert(text).second) return;
  QMetaObject::invokeMethod(
      this,
      [this, text] {
        Guarded([&] { ShowErrorDialog(QString::fromLocal8Bit(text.c_str())); });
        FOpenErrorTexts.erase(text);
      },
      Qt::QueuedConnection);
}

void TFormComPort::AddReadBytes(std::int32_t Count) {
  ReadBytes = AddWrapping(ReadBytes, Count);
  StatusPanel(0)->setText(QStringLiteral("Read bytes: ") + QString::number(ReadBytes));
}

void TFormComPort::AddWriteBytes(std::int32_t Count) {
  WriteBytes = AddWrapping(WriteBytes, Count);
  StatusPanel(1)->setText(QStringLiteral("Write bytes: ") + QString::number(WriteBytes));
}

void TFormComPort::ShowModemStatus() {
  if (!ComPort->Active()) {
    StatusPanel(2)->setText(QStringLiteral("CTS:"));
    StatusPanel(3)->setText(QStringLiteral("DSR:"));
    StatusPanel(4)->setText(QStringLiteral("Ring:"));
    StatusPanel(5)->setText(QStringLiteral("RLSD:"));
    return;
  }
  const TModemStatus status = ComPort->ModemStatus();
  StatusPanel(2)->setText(ModemText("CTS:", status.Contains(TModemStatusValue::msCTS)));
  StatusPanel(3)->setText(ModemText("DSR:", status.Contains(TModemStatusValue::msDSR)));
  StatusPanel(4)->setText(ModemText("Ring:", status.Contains(TModemStatusValue::msRing)));
  StatusPanel(5)->setText(ModemText("RLSD:", status.Contains(TModemStatusValue::msRLSD)));
}

void TFormComPort::closeEvent(QCloseEvent* event) {
  TCloseAction action = TCloseAction::caHide;
  Guarded([&] { FormClose(this, action); });
  if (action == TCloseAction::caNone) {
    event->ignore();
  } else {
    event->accept();
  }
}

void TFormComPort::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FShownOnce) return;
  FShownOnce = true;
  CentreOnScreen(*this);
}
