#pragma once
// One application object for all window tests, on the offscreen platform, with message boxes
// answered by the test hook and recorded.
#include <QString>
#include <functional>
#include <vector>

#include "toolkit/qt/Application.h"

struct TShownBox {
  QString Caption;
  QString Text;
};

// Creates the application on first use. Clears the record of shown boxes.
TApplication& TestApplication();
// Runs inside every box shown from now on (the box is still open, its loop running), until
// the next TestApplication() call.
void WhileBoxOpen(std::function<void()> work);
// Boxes shown since the last TestApplication() call, in order.
const std::vector<TShownBox>& ShownBoxes();
