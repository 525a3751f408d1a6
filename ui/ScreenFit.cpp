#include "ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

QRect AvailableArea(const QWidget* window, const QWidget* anchor) {
  QScreen* screen = anchor ? anchor->screen() : window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

void FitOnScreen(QWidget* window, const QWidget* anchor) {
  const QRect area = AvailableArea(window, anchor);
  if (area.isEmpty()) return;
  QMargins frame;
  if (const QWindow* handle = window->windowHandle()) frame = handle->frameMargins();
  const int frameWidth = frame.left() + frame.right();
  const int frameHeight = frame.top() + frame.bottom();
  const QSize fits(std::max(window->minimumWidth(), std::min(window->width(), area.width() - frameWidth)),
                   std::max(window->minimumHeight(), std::min(window->height(), area.height() - frameHeight)));
  if (fits != window->size()) window->resize(fits);

  QRect outer(QPoint(0, 0), window->size().grownBy(frame));
  const QRect around = anchor && anchor->isVisible() ? anchor->window()->frameGeometry() : area;
  outer.moveCenter(around.center());
  outer.moveLeft(std::clamp(outer.left(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
  outer.moveTop(std::clamp(outer.top(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
  window->move(outer.topLeft());  // move() places the frame's top left corner
}
