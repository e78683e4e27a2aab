#pragma once
// Modal message boxes: the port's error dialog and the application's standard error box.
// Both run the nested event loop, so timers and port events go on being served while open.
#include <QMessageBox>
#include <QString>
#include <functional>

// Called once a box is shown, with its caption and text; the box is then closed as if "OK"
// had been pressed. Lets tests answer boxes without a user, while the nested loop still runs.
using TMessageBoxHook = std::function<void(const QString& caption, const QString& text)>;
void SetMessageBoxHook(TMessageBoxHook hook);

// Shows a modal box with one "OK" button (default and escape), centred on the screen, and
// returns once it was answered.
void ShowMessageBox(const QString& caption, const QString& text, QMessageBox::Icon icon);

// The error dialog: caption "Error", the stop icon, the text and "OK".
void ShowErrorDialog(const QString& text);

// Boxes open now (nested ones count each).
int OpenMessageBoxes();
// Called, from the event loop, whenever the last open box has ended.
void SetMessageBoxesEndedHook(std::function<void()> hook);
// Ends the open boxes as if "OK" had been pressed and lets no new one open: the program quits.
void EndMessageBoxes();
