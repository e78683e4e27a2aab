#pragma once
#include <QWidget>

// Moves a top-level widget to the centre of its screen (or of the primary one).
void CentreOnScreen(QWidget& widget);
