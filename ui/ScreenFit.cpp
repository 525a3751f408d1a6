#include "ScreenFit.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// The frame the window manager puts around `window`: known once the window is on the screen;
// before that a generous guess (a title bar and thin borders), so that a window sized before it
// is shown does not end up with its bottom edge under the screen's.
QMargins FrameOf(const QWidget* window, bool* known) {
  const QWindow* handle = window->windowHandle();
  if (handle && handle->isVisible() && !handle->frameMargins().isNull()) {
    *known = true;
    return handle->frameMargins();
  }
  *known = false;
  if (window->windowFlags().testFlag(Qt::FramelessWindowHint) || window->windowType() == Qt::Popup)
    return {};
  constexpr int kBorder = 4;
  const int titleBar = std::max(window->style()->pixelMetric(QStyle::PM_TitleBarHeight), 28);
  return QMargins(kBorder, titleBar + kBorder, kBorder, kBorder);
}

void Fit(QWidget* window, const QWidget* anchor, bool recheck) {
  const QRect area = AvailableArea(window, anchor);
  if (area.isEmpty()) return;
  bool frameKnown = false;
  const QMargins frame = FrameOf(window, &frameKnown);
  const int frameWidth = frame.left() + frame.right();
  const int frameHeight = frame.top() + frame.bottom();
  const QSize fits(
      std::max(window->minimumWidth(), std::min(window->width(), area.width() - frameWidth)),
      std::max(window->minimumHeight(), std::min(window->height(), area.height() - frameHeight)));
  if (fits != window->size()) window->resize(fits);

  QRect outer(QPoint(0, 0), window->size().grownBy(frame));
  const QRect around = anchor && anchor->isVisible() ? anchor->window()->frameGeometry() : area;
  outer.moveCenter(around.center());
  outer.moveLeft(std::clamp(outer.left(), area.left(),
                            std::max(area.left(), area.right() + 1 - outer.width())));
  outer.moveTop(std::clamp(outer.top(), area.top(),
                           std::max(area.top(), area.bottom() + 1 - outer.height())));
  window->move(outer.topLeft());  // move() places the frame's top left corner

  // Once the window is on the screen its real frame is known: fitted again with it, once.
  if (!frameKnown && recheck) {
    QPointer<QWidget> self(window);
    QPointer<const QWidget> near(anchor);
    QTimer::singleShot(0, window, [self, near, anchor] {
      if (!self || !self->isVisible() || (anchor && !near)) return;
      if (!AvailableArea(self, near).contains(self->frameGeometry())) Fit(self, near, false);
    });
  }
}

}  // namespace

QRect AvailableArea(const QWidget* window, const QWidget* anchor) {
  QScreen* screen = anchor ? anchor->screen() : window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

void FitOnScreen(QWidget* window, const QWidget* anchor) { Fit(window, anchor, true); }

QMargins ExpectedFrame(const QWidget* window) {
  bool known = false;
  return FrameOf(window, &known);
}
