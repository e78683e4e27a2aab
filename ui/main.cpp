#include "ui/main.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMetaObject>
#include <QStyledItemDelegate>
#include <algorithm>
#include <climits>
#include <utility>

#include "serial/StoredDescription.h"
#include "toolkit/ErrorReport.h"
#include "toolkit/qt/Guarded.h"
#include "toolkit/qt/MessageDialog.h"
#include "toolkit/qt/Screen.h"
#include "ui/DevicesPresent.h"
#include "ui/LineErrorText.h"
#include "ui/PaneText.h"

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

// Items of the drop-down lists at the layout's row height.
class TRowHeightDelegate : public QStyledItemDelegate {
 public:
  TRowHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), FHeight(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return {QStyledItemDelegate::sizeHint(option, index).width(), FHeight};
  }

 private:
  int FHeight;
};

constexpr int ItemHeight = 13;
// Gaps kept between a label that grows and its neighbours.
constexpr int LabelGap = 4;

}  // namespace

TFormComPort::TFormComPort(QWidget* parent)
    : QWidget(parent),
      Responder(*this, PunchFile),
      FTickFailures([this](const TFailureReport& report) {
        // After the tick: the timer must not be held by a box.
        QMetaObject::invokeMethod(
            this, [this, report] { ShowTickReport(report); }, Qt::QueuedConnection);
      }) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  Ui.setupUi(this);
  setFixedSize(608, 441);
  ApplyFont();
  SizeLabelsToText();
  SetUpPanes();
  SetUpDeviceCombo();
  Ui.ComboBoxDeviceName->setEditText(QStringLiteral("COM1"));
  Ui.SpeedButtonOpenClose->setStyleSheet(QStringLiteral(
      "QToolButton { border: 1px solid palette(mid); border-radius: 2px; }"
      "QToolButton:hover { border-color: palette(shadow); background: palette(light); }"
      "QToolButton:pressed { background: palette(midlight); }"));

  ComPort = std::make_unique<TComPort>(nullptr);
  ComPort->SetName("ComPort");
  ReadStoredDescription(*ComPort, ComPortDescription);

  Timer1.SetInterval(500);
  Timer1.SetEnabled(true);
  TimerCardIn.SetInterval(4000);
  TimerCardIn.SetEnabled(false);
  BindHandlers();
  SetMessageBoxesEndedHook([this] {
    Guarded([this] { CloseGonePort(); });
    CloseWhenDialogsEnd();
  });

  Guarded([this] { FormCreate(this); });
}

TFormComPort::~TFormComPort() {
  SetMessageBoxesEndedHook(nullptr);
  // The port closes while everything its handlers use is still whole.
  ShutDown();
  Guarded([this] { ComPort.reset(); });
}

void TFormComPort::ShutDown() {
  FClosed = true;
  Timer1.SetEnabled(false);
  TimerCardIn.SetEnabled(false);
  FTickFailures.Shutdown();
  FReceivedPaneTimer.stop();
  if (ComPort) Guarded([this] { ComPort->SetActive(false); });
}

void TFormComPort::RequestClose(bool dismissDialogs) {
  if (dismissDialogs) EndMessageBoxes();
  FCloseRequested = true;
  CloseWhenDialogsEnd();
}

void TFormComPort::CloseWhenDialogsEnd() {
  // A dialog's nested loop may run inside a port event: closing the port there would wait
  // for the event that waits for the dialog.
  if (!FCloseRequested || OpenMessageBoxes() > 0) return;
  FCloseRequested = false;
  close();
}

void TFormComPort::SetUpPanes() {
  Ui.Memo->setMaximumBlockCount(ReceivedPaneLines);
  Ui.Memo1->setMaximumBlockCount(LogPaneLines);
  Ui.Memo->setTabChangesFocus(true);
  Ui.Memo1->setTabChangesFocus(true);
  // A flood brings hundreds of chunks a second: the pane is updated a few times a second.
  FReceivedPaneTimer.setSingleShot(true);
  FReceivedPaneTimer.setInterval(50);
  connect(&FReceivedPaneTimer, &QTimer::timeout, this, [this] { FlushReceivedPane(); });
}

void TFormComPort::SetUpDeviceCombo() {
  for (QComboBox* combo : {static_cast<QComboBox*>(Ui.ComboBoxDeviceName), Ui.ComboBoxBaudRate,
                           Ui.ComboBoxDataBits, Ui.ComboBoxStopBits, Ui.ComboBoxParity}) {
    combo->setItemDelegate(new TRowHeightDelegate(ItemHeight, combo));
  }
  Ui.ComboBoxDeviceName->BeforePopup = [this] { ListDevicesPresent(); };
}

void TFormComPort::ListDevicesPresent() {
  // The stored twenty stay; what follows them is what is present now.
  constexpr int StoredItems = 20;
  QComboBox* combo = Ui.ComboBoxDeviceName;
  const QString text = combo->currentText();
  while (combo->count() > StoredItems) combo->removeItem(combo->count() - 1);
  const int room = combo->width();
  for (const std::string& device : SerialDevicesPresent()) {
    const QString name = QString::fromStdString(device);
    combo->addItem(name);
    if (combo->fontMetrics().horizontalAdvance(name) > room) {
      combo->setItemData(combo->count() - 1, name, Qt::ToolTipRole);
    }
  }
  combo->view()->setMinimumWidth(combo->view()->sizeHintForColumn(0));
  combo->setCurrentIndex(-1);
  combo->setEditText(text);
}


void TFormComPort::ApplyFont() {
  // The font actually matched, not the one asked for: fontconfig answers any family name.
  if (QFontInfo(font()).family() == QStringLiteral("MS Sans Serif")) return;
  // An 8-point sans-serif that fits the layout: the texts' widths there are those of the old
  // bitmap font. The condensed face at 10 pixels is the largest that keeps every caption
  // within its width and the help lines inside their box, in lines of 13 pixels.
  QFont fallback;
  fallback.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Arial"),
                        QStringLiteral("Sans Serif")});
  fallback.setStyleHint(QFont::SansSerif);
  fallback.setPixelSize(10);
  setFont(fallback);
}

void TFormComPort::SizeLabelsToText() {
  // Labels size themselves to their text in whatever font the platform gave them.
  for (QLabel* label : findChildren<QLabel*>()) {
    if (label->parentWidget() == Ui.StatusBar) continue;
    label->resize(label->sizeHint().width(), label->height());
  }
  FitStatusLabel();
}

void TFormComPort::FitStatusLabel() {
  // The status grows to the right up to the log pane's edge, then to the left, but never
  // over "Sent data (decimal)".
  QLabel* status = Ui.lbStatus;
  const int width = status->sizeHint().width();
  const int right = Ui.Memo1->geometry().right() + 1;
  const int leftmost = Ui.Label17->geometry().right() + 1 + LabelGap;
  const int left = std::max(leftmost, std::min(376, right - width));
  status->setGeometry(left, status->y(), std::min(width, right - left), status->height());
  status->setToolTip(width > right - left ? status->text() : QString());
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

void TFormComPort::FormClose(TObject*, TCloseAction&) {
  // From here on nothing ticks and no box opens: the window is going.
  FClosed = true;
  Timer1.SetEnabled(false);
  TimerCardIn.SetEnabled(false);
  FTickFailures.Shutdown();
  ClosePunchFile(PunchFile);
}

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
  for (QComboBox* control : {static_cast<QComboBox*>(Ui.ComboBoxDeviceName), Ui.ComboBoxBaudRate, Ui.ComboBoxDataBits,
                             Ui.ComboBoxStopBits, Ui.ComboBoxParity}) {
    control->setEnabled(!active);
  }
  ShowModemStatus();
  if (active) {
    // A fresh line: what went wrong on the last one is news again.
    FTickFailures.Reset();
    FDeviceGone = false;
  } else {
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
void TFormComPort::RunTick(TTick tick, F&& work) {
  if (FClosed) return;
  FCurrentTick = tick;
  Guarded([&] { FTickFailures.Run(tick, std::forward<F>(work)); });
  FCurrentTick.reset();
}

void TFormComPort::ShowTickReport(const TFailureReport& report) {
  if (FClosed) return;
  Guarded([&] {
    const QString text = QString::fromLocal8Bit(report.Text.c_str());
    if (report.Kind == TFailureKind::Port || report.Kind == TFailureKind::DeviceGone) {
      ShowErrorDialog(text);
    } else {
      ReportException(Exception(report.Text));
    }
  });
  Guarded([this] { FTickFailures.ReportClosed(); });
}

void TFormComPort::Timer1Timer(TObject*) {
  // The device vanished and its port is about to close: no line may go to it.
  if (FDeviceGone && ComPort->Active()) return;
  RunTick(TTick::Poll, [this] { Responder.Poll(Ui.seHours->Value(), Ui.seMinutes->Value()); });
}

void TFormComPort::TimerCardInTimer(TObject*) {
  RunTick(TTick::CardIn, [this] { Responder.SendCardInByTimer(); });
}

void TFormComPort::ComPortRxChar(TObject*) {
  Guarded([this] {
    if (ComPort) Responder.Receive(ComPort->ReadText());
  });
}

void TFormComPort::FlushReceivedPane() {
  if (FPendingReceived.isEmpty()) return;
  Ui.Memo->appendPlainText(FPendingReceived.join(QLatin1Char('\n')));
  FPendingReceived.clear();
}

void TFormComPort::CloseGonePort() {
  if (FClosed || FGoneText.empty() || OpenMessageBoxes() > 0) return;  // the end of the
                                                                        // last box comes back
  const std::string text = std::exchange(FGoneText, {});
  if (ComPort->Active()) SpeedButtonOpenCloseClick(this);
  ShowErrorDialog(QString::fromLocal8Bit(text.c_str()));
}

void TFormComPort::WriteText(const ByteString& bytes) { ComPort->WriteText(bytes); }

void TFormComPort::AddReceivedLine(const ByteString& chunk) {
  FPendingReceived.append(VisibleChunk(chunk));
  // More than the pane keeps would only be trimmed again.
  if (FPendingReceived.size() > ReceivedPaneLines) FPendingReceived.removeFirst();
  if (!FReceivedPaneTimer.isActive()) FReceivedPaneTimer.start();
}

void TFormComPort::AddLogLine(const ByteString& line) {
  Ui.Memo1->appendPlainText(QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
}

void TFormComPort::SetStatus(const std::string& text) {
  Ui.lbStatus->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
  FitStatusLabel();
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
  if (FClosed) return;  // the window is going: nothing more is shown
  const std::string text = "Error " + std::to_string(E.ErrorCode()) + ": " + E.Message();
  // Only an open port can lose its device; an open that fails is reported as it is.
  if (ComPort && ComPort->Active() && IsDeviceGone(E)) {
    // One dialog, after the port has been closed; closing it here, inside the port's own
    // operation or event, could wait for itself.
    if (FDeviceGone) return;
    FDeviceGone = true;
    FGoneText = text + "\nThe device is gone; the port has been closed.";
    QMetaObject::invokeMethod(
        this, [this] { Guarded([this] { CloseGonePort(); }); }, Qt::QueuedConnection);
    return;
  }
  // What else fails on a vanished device until its port is closed adds nothing.
  if (FDeviceGone && ComPort && ComPort->Active()) return;
  if (FCurrentTick) {
    FTickFailures.Failed(*FCurrentTick, TFailureKind::Port, text);
    return;
  }
  if (!FOpenErrorTexts.insert(text).second) return;
  Guarded([&] { ShowErrorDialog(QString::fromLocal8Bit(text.c_str())); });
  FOpenErrorTexts.erase(text);
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
  if (FClosed) {
    event->accept();
    return;
  }
  if (OpenMessageBoxes() > 0) {
    // Carried out once the dialogs have ended.
    FCloseRequested = true;
    event->ignore();
    return;
  }
  TCloseAction action = TCloseAction::caHide;
  Guarded([&] { FormClose(this, action); });
  if (action == TCloseAction::caNone) {
    FClosed = false;
    event->ignore();
    return;
  }
  ShutDown();
  event->accept();
}

void TFormComPort::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FShownOnce) return;
  FShownOnce = true;
  CentreOnScreen(*this);
  Ui.ComboBoxDeviceName->setFocus(Qt::OtherFocusReason);
}
