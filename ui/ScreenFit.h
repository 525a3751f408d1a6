// Keeps a top-level window on the screen: within the screen's available area (task bars and
// panels excluded) at whatever scale the desktop uses.
#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

// The available area of the screen `window` shows on, or will show on: that of `anchor` when
// given, else the window's own screen.
QRect AvailableArea(const QWidget* window, const QWidget* anchor = nullptr);

// Shrinks `window` to the available area (not below its minimum size) and moves it so that it
// is centred on `anchor` (on the screen when there is none) and wholly inside the area, its frame
// included: the real one once the window is on the screen, else a generous guess, checked again
// (and the window fitted once more) as soon as it shows.
void FitOnScreen(QWidget* window, const QWidget* anchor = nullptr);

// The frame `window` has on the screen, or the guess FitOnScreen makes before it shows.
QMargins ExpectedFrame(const QWidget* window);
